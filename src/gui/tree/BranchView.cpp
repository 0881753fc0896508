#include "gui/tree/BranchView.h"

#include "gui/tree/BranchTree.h"

namespace ludex {

TBranchView::TBranchView(QWidget* parent) : QTreeView(parent) {}

bool TBranchView::BeyondOpenLevels(const QModelIndex& index) const {
    const auto* tree = qobject_cast<const TBranchTree*>(model());
    const TTreeNode* node = tree != nullptr ? tree->NodeAt(index) : nullptr;
    return node != nullptr && node->Level() > TBranchTree::kMostOpenLevels;
}

QRect TBranchView::visualRect(const QModelIndex& index) const {
    return BeyondOpenLevels(index) ? QRect() : QTreeView::visualRect(index);
}

void TBranchView::HoldLayout() {
    held_ = true;
    // A layout put off is what makes the view record an opened node instead of laying it out.
    scheduleDelayedItemsLayout();
}

void TBranchView::ReleaseLayout() {
    held_ = false;
    scheduleDelayedItemsLayout();
    executeDelayedItemsLayout();
}

void TBranchView::doItemsLayout() {
    if (!held_) {
        QTreeView::doItemsLayout();
    }
}

QItemSelection TBranchView::Shown(const QItemSelection& selection) const {
    QItemSelection shown;
    for (const QItemSelectionRange& range : selection) {
        // A range lies within one parent: its rows share their level.
        if (!BeyondOpenLevels(range.topLeft())) {
            shown.append(range);
        }
    }
    return shown;
}

void TBranchView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTreeView::selectionChanged(Shown(selected), Shown(deselected));
}

} // namespace ludex
