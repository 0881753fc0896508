#pragma once

#include <QProxyStyle>

namespace ludex {

// The style of the branch tree's view: the application's style, except that the branch lines
// and arrows of a row are drawn only where they can be seen. The view draws them for every level
// above a row, so a row a thousand levels deep would cost a thousand drawings each time it is
// painted, nearly all of them left or right of the view when it is scrolled to that depth.
class TBranchViewStyle : public QProxyStyle {
public:
    // The base is a new instance of the application's current style, owned by this one.
    TBranchViewStyle();
    // Over the given base style, which this one owns.
    explicit TBranchViewStyle(QStyle* base);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

} // namespace ludex
