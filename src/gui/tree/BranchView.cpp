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
