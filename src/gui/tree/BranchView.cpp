#include "gui/tree/BranchView.h"

#include "gui/tree/BranchTree.h"

#include <QAccessible>

#include <utility>

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

void TBranchView::setModel(QAbstractItemModel* model) {
    QTreeView::setModel(model);
    if (model != nullptr) {
        disconnect(model, &QAbstractItemModel::rowsRemoved, this, nullptr);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &TBranchView::RowsRemoved);
    }
}

void TBranchView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    removingUnshown_ = parent.isValid() && !isExpanded(parent) &&
                       model()->rowCount(parent) > end - start + 1 && !QAccessible::isActive();
    if (removingUnshown_) {
        // The current branch and editors among the rows that go are dealt with as always.
        QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
        return;
    }
    QTreeView::rowsAboutToBeRemoved(parent, start, end);
}

void TBranchView::RowsRemoved(const QModelIndex& parent, int start, int end) {
    if (std::exchange(removingUnshown_, false)) {
        // What the tree view does after a removal besides laying out again. A branch that went
        // open stays in the view's set of open branches, as an index no longer valid, until the
        // next layout after a removal it handles itself; such an index matches no branch.
        if (isVisible()) {
            updateEditorGeometries();
        }
        setState(NoState);
        return;
    }
    QTreeView::rowsRemoved(parent, start, end);
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
