#include "gui/app/OrderOfCoolBand.h"

#include <QAction>
#include <QMainWindow>

#include <algorithm>

namespace ludex {

void TCoolBar::AddBand(QToolBar& band) {
    // A band stays in the row: it can be dragged to another place in it, never torn off, moved
    // to another side or hidden (its toggle is not offered, see TForm_Ludex::createPopupMenu).
    band.setFloatable(false);
    band.setAllowedAreas(Qt::TopToolBarArea);
    band.toggleViewAction()->setEnabled(false);
    window_->addToolBar(Qt::TopToolBarArea, &band);
    order_.emplace_back(&band);
}

std::vector<QToolBar*> TCoolBar::Bands() const {
    std::vector<QToolBar*> bands;
    for (const auto& band : order_) {
        if (band && window_->toolBarArea(band) == Qt::TopToolBarArea) {
            bands.push_back(band);
        }
    }
    if (window_->isVisible()) {
        // On screen the bands stand where the user put them: by row, then left to right.
        std::stable_sort(bands.begin(), bands.end(), [](QToolBar* a, QToolBar* b) {
            if (a->y() != b->y()) {
                return a->y() < b->y();
            }
            return a->x() < b->x();
        });
        order_.assign(bands.begin(), bands.end());
    }
    return bands;
}

int TCoolBar::IndexOf(const QToolBar* band) const {
    auto bands = Bands();
    auto it = std::find(bands.begin(), bands.end(), band);
    return it == bands.end() ? -1 : static_cast<int>(it - bands.begin());
}

void TCoolBar::Move(QToolBar* band, int index) {
    auto bands = Bands();
    auto it = std::find(bands.begin(), bands.end(), band);
    if (it == bands.end()) {
        return;
    }
    bands.erase(it);
    index = std::clamp(index, 0, static_cast<int>(bands.size()));
    bands.insert(bands.begin() + index, band);
    // Adding the bands again in the wanted order lays them out left to right in one row.
    for (QToolBar* bar : bands) {
        window_->removeToolBar(bar);
    }
    for (QToolBar* bar : bands) {
        window_->addToolBar(Qt::TopToolBarArea, bar);
        bar->show();
    }
    order_.assign(bands.begin(), bands.end());
}

} // namespace ludex
