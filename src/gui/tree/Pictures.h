#pragma once

#include <QIcon>
#include <QImage>
#include <QList>

#include <functional>
#include <vector>

namespace ludex {

// The pictures of the tree and of the tool buttons, drawn in code so that they stay sharp at any
// device pixel ratio. Every picture is designed on a 16 x 16 grid.
namespace Pictures {

// Tree pictures 0 to 6: document, sheet, stack of sheets, modified mark, Cut mark, Copy mark,
// lock mark. The marks (3 and 6) are drawn on white, which the AND composition leaves unchanged.
constexpr int kTreePictureCount = 7;
// Tool-button pictures 0 to 13: insert branch, insert sub-branch, remove branch, cut, copy,
// paste, resort, new, open, save, save all, encrypt/decrypt, lock/unlock, rename.
constexpr int kToolPictureCount = 14;

// One picture as an RGB32 image of size x size pixels on a white background.
QImage TreePicture(int index, int size);
QImage ToolPicture(int index, int size);

// The base picture with the mark drawn over it by a bitwise AND of the pixel values: the mark's
// white area leaves the base unchanged, its dark strokes appear on it. Both images must have the
// same size; the result is RGB32.
QImage ComposeImage(const QImage& base, const QImage& mark);

// An icon from a white-background picture at 16, 32 and 48 pixels; white becomes transparent so
// that the picture sits on any selection colour.
QIcon IconFromPictures(const std::function<QImage(int)>& draw);

} // namespace Pictures

// The tree's picture list: pictures 0 to 6 and the combined pictures 7 to 11 appended by
// ComposeTreeImages in the order 0+6, 2+6, 1+6, 0+3, 10+6.
class TPictureList {
public:
    // Appends a picture drawn at every size by draw(size); returns its index.
    int Add(std::function<QImage(int)> draw);
    // Appends base with mark composed over it; returns the new index.
    int ComposeImage(int baseIndex, int markIndex);
    int Count() const { return static_cast<int>(draws_.size()); }
    QImage Image(int index, int size) const;
    const QIcon& Icon(int index) const;

private:
    std::vector<std::function<QImage(int)>> draws_;
    std::vector<QIcon> icons_;
};

// The tree's picture list with 0 to 6 and, composed, 7 to 11.
void FillTreePictures(TPictureList& list);
void ComposeTreeImages(TPictureList& list);

} // namespace ludex
