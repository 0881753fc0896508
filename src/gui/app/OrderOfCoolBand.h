#pragma once

#include <QPointer>
#include <QToolBar>

#include <vector>

class QMainWindow;

namespace ludex {

// The row of movable tool bars ("bands") at the top of the main window. It knows the bands'
// order: while the window is on screen the order is read from where the bands stand, so that it
// follows the user's drags; before the window is shown it is the order last set.
class TCoolBar {
public:
    explicit TCoolBar(QMainWindow& window) : window_(&window) {}

    // Appends a band at the end of the row.
    void AddBand(QToolBar& band);
    std::vector<QToolBar*> Bands() const;
    int IndexOf(const QToolBar* band) const;
    // Moves the band to the position, the others shifting.
    void Move(QToolBar* band, int index);

private:
    QMainWindow* window_;
    mutable std::vector<QPointer<QToolBar>> order_;
};

// Wraps one band. `Index` is the band's present position in the row counting from 0, so it
// follows the band when the user drags it; writing it moves the band there.
class TOrderOfCoolBand {
public:
    TOrderOfCoolBand(TCoolBar& coolBar, QToolBar& band) : coolBar_(&coolBar), band_(&band) {}

    QToolBar* CoolBand() const { return band_; }
    int Index() const { return coolBar_->IndexOf(band_); }
    void SetIndex(int index) { coolBar_->Move(band_, index); }

private:
    TCoolBar* coolBar_;
    QPointer<QToolBar> band_;
};

} // namespace ludex
