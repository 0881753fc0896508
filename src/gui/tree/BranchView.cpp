#include "gui/tree/BranchView.h"

#include "gui/tree/BranchTree.h"
#include "gui/tree/TreeViewManager.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragMoveEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QTimerEvent>

#include <utility>

namespace ludex {

TBranchView::TBranchView(QWidget* parent) : QTreeView(parent) {
    // A drop always lands on the row under the pointer, never between rows: the branch goes into
    // that branch, among its sub-branches in their order. The view's own opening on hover, which
    // closes an open branch as well, is replaced by this view's.
    setDragDropOverwriteMode(true);
    setAutoExpandDelay(-1);
}

void TBranchView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        // What the Menu key does: the context menu of the current row, at that row.
        const QRect row = visualRect(currentIndex());
        const QPoint at =
            row.isValid() ? QPoint(row.left() + row.height(), row.center().y()) : viewport()->rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, viewport()->mapTo(this, at),
                               viewport()->mapToGlobal(at), event->modifiers());
        QCoreApplication::sendEvent(this, &menu);
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TBranchView::startDrag(Qt::DropActions supportedActions) {
    const QModelIndex index = currentIndex();
    QMimeData* dragged = index.isValid() && (model()->flags(index) & Qt::ItemIsDragEnabled)
                             ? model()->mimeData({index})
                             : nullptr;
    if (dragged == nullptr) {
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(dragged);
    // The dragged row, a little transparent, beside the pointer.
    const QRect row = visualRect(index);
    if (row.isValid()) {
        const QPixmap picture = viewport()->grab(row.intersected(viewport()->rect()));
        QPixmap faded(picture.size() * picture.devicePixelRatio());
        faded.setDevicePixelRatio(picture.devicePixelRatio());
        faded.fill(Qt::transparent);
        QPainter painter(&faded);
        painter.setOpacity(0.75);
        painter.drawPixmap(0, 0, picture);
        painter.end();
        drag->setPixmap(faded);
        constexpr int kBesidePointer = 12;
        drag->setHotSpot(QPoint(-kBesidePointer, -kBesidePointer));
    }
    // The branch is moved or copied by the command the drop runs; nothing is removed here.
    drag->exec(supportedActions, defaultDropAction());
    EndDragOver();
}

void TBranchView::dragMoveEvent(QDragMoveEvent* event) {
    QTreeView::dragMoveEvent(event);
    const QModelIndex under = indexAt(event->position().toPoint());
    const QModelIndex target = event->isAccepted() ? under : QModelIndex();
    if (target != dropTarget_) {
        if (dropTarget_.isValid()) {
            viewport()->update(visualRect(dropTarget_));
        }
        dropTarget_ = target;
        hoverTimer_.stop();
        if (target.isValid()) {
            viewport()->update(visualRect(target));
            hoverTimer_.start(static_cast<int>(hoverOpenDelay_.count()), this);
        }
    }
}

void TBranchView::dragLeaveEvent(QDragLeaveEvent* event) {
    EndDragOver();
    QTreeView::dragLeaveEvent(event);
}

void TBranchView::dropEvent(QDropEvent* event) {
    EndDragOver();
    QTreeView::dropEvent(event);
}

void TBranchView::EndDragOver() {
    hoverTimer_.stop();
    if (dropTarget_.isValid()) {
        viewport()->update(visualRect(dropTarget_));
    }
    dropTarget_ = QPersistentModelIndex();
}

void TBranchView::timerEvent(QTimerEvent* event) {
    if (event->timerId() != hoverTimer_.timerId()) {
        QTreeView::timerEvent(event);
        return;
    }
    hoverTimer_.stop();
    const auto* tree = qobject_cast<const TBranchTree*>(model());
    TTreeNode* node = tree != nullptr ? tree->NodeAt(dropTarget_) : nullptr;
    // Only opened, never closed; a locked branch would ask for its password in mid-drag.
    if (node != nullptr && node->HasChildren() && !isExpanded(dropTarget_) && !IsNodeLocked(node)) {
        expand(dropTarget_);
    }
}

void TBranchView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    QTreeView::drawRow(painter, option, index);
    if (!dropTarget_.isValid() || index != dropTarget_) {
        return;
    }
    // The row that receives the drop: framed and tinted in the selection's colour.
    const QColor colour = palette().color(QPalette::Highlight);
    QColor tint = colour;
    tint.setAlpha(70);
    painter->save();
    painter->fillRect(option.rect, tint);
    painter->setPen(QPen(colour, 2));
    painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
    painter->restore();
}

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
