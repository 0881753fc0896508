#pragma once

#include <QBasicTimer>
#include <QPersistentModelIndex>
#include <QTreeView>

#include <chrono>

namespace ludex {

// The view of the branch tree. A branch deeper than the levels the tree opens
// (TBranchTree::kMostOpenLevels) can be the current one, but it has no row: the view's own way of
// finding an index's row looks through every row shown before it gives up, several times for each
// change of the current branch. This view knows such a branch is never shown and skips the search.
// It can also hold its layout back while many branches are opened (HoldLayout), and it lays out
// nothing again when rows go from under a closed branch that keeps others (the tree view itself
// skips the layout only when rows come).
//
// A branch dragged over the tree lands on the row under the pointer, which is marked; a closed
// branch hovered for a while opens (a locked one does not: opening asks for its password), an
// open one never closes, so that the row aimed at stays where it is. The drag's picture follows
// the pointer below and to the right, never over the row aimed at. Shift+F10 opens the context
// menu of the current branch, as the Menu key does. Everything else is the tree view's.
class TBranchView : public QTreeView {
public:
    explicit TBranchView(QWidget* parent = nullptr);

    QRect visualRect(const QModelIndex& index) const override;
    // Lays out now what the view has put off until it is next shown or asked.
    void LayOutNow() { executeDelayedItemsLayout(); }

    // Puts the layout of the rows off: until ReleaseLayout, nodes opened or closed are only
    // recorded, however many, and the window paints the rows as they were laid out last. Called
    // again after the events have run, since a layout falling due meanwhile (it is skipped) ends
    // the recording.
    void HoldLayout();
    // Lays out once everything opened or closed while the layout was held.
    void ReleaseLayout();
    void doItemsLayout() override;
    void setModel(QAbstractItemModel* model) override;

    // How long a closed branch is hovered with a dragged branch before it opens.
    void SetHoverOpenDelay(std::chrono::milliseconds delay) { hoverOpenDelay_ = delay; }
    // The row a drag in progress would drop onto; invalid when there is none.
    QModelIndex DropTarget() const { return dropTarget_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    // The tree view forgets every row it has laid out when any row goes, and lays them all out again:
    // at 500 open levels of 100 branches, 50 000 rows for each branch removed anywhere. Rows that go
    // from under a closed branch were never laid out, and the branch's own row stays as it is while
    // it keeps a child: then the rows shown are left alone. Otherwise, or while assistive
    // technology follows the view, the tree view's own handling runs.
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

private:
    // Whether the index names a branch below the levels the view opens (never in a row).
    bool BeyondOpenLevels(const QModelIndex& index) const;
    // The ranges of the selection that can be shown.
    QItemSelection Shown(const QItemSelection& selection) const;
    // Connected to the model's rowsRemoved in place of the tree view's own slot, which it calls
    // unless the removal was from under a closed branch.
    void RowsRemoved(const QModelIndex& parent, int start, int end);

    // The drag has left or ended: nothing is marked or waits to open.
    void EndDragOver();

    bool held_ = false;
    std::chrono::milliseconds hoverOpenDelay_{700};
    QPersistentModelIndex dropTarget_; // the row the drag would drop onto
    QBasicTimer hoverTimer_;           // runs while dropTarget_ is hovered, to open it
    bool removingUnshown_ = false;     // between rowsAboutToBeRemoved and RowsRemoved
};

} // namespace ludex
