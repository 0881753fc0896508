#pragma once

#include <QObject>

class QAction;

namespace ludex {

class TBranchTree;
class TForm_Ludex;
class TTreeNode;

// Where Insert puts the new branch: after the selected branch's siblings, or below it.
enum class TInsertAs { Sibling, Child };
// Whether a pasted or dropped branch leaves its old place.
enum class TPasteAs { Copy, Move };

// The branch-editing commands of the tree's tool bar: rename, insert a branch or a sub-branch,
// remove, cut, copy, paste and resort. Each changes the element and its tree node together and
// marks the document modified. Cut and Copy only mark a branch (the kind of mark is the node's
// picture); Paste copies the marked branch's elements under the selected branch and, for Cut,
// removes the source. The constructor connects the tool-bar actions of the window.
class TBranchCommands : public QObject {
public:
    explicit TBranchCommands(TForm_Ludex& window);

    void Button_RenameClick();
    // A sibling of the selected branch; at the top level (or with no document) the open dialog.
    void Button_InsertBranchClick();
    void Button_InsertSubBranchClick();
    // A new "???" branch as the last child or the last sibling of the selected node; it is
    // selected and its title opened for editing. Nothing happens where no branch may be added
    // (no selection, a locked branch, the placeholder of one).
    void InsertBranch(TInsertAs place);
    // Removes the selected branch without asking and selects its previous sibling or else its
    // parent; on a top-level node closes the document (asking whether to save it).
    void Button_RemoveBranchClick();
    // `sender` is Button_Cut or Button_Copy: marks the selected branch, or takes the same mark off.
    void Button_CutCopyClick(QAction* sender);
    // Copies (Copy mark) or moves (Cut mark) the marked branch to be the last child element of
    // the selected branch. Refuses a locked target with the message "CanNotPastAtLockedNode" and
    // a cut branch pasted into itself or below itself with the error "CanNotPastBranch". A copy
    // into itself copies the branch as it was; a failing copy leaves the target as it was and
    // keeps the mark.
    void Button_PasteClick();
    // A branch dragged onto `target`: moved there, or copied with `copy`, by the rules of Paste.
    void DropBranch(TTreeNode* source, TTreeNode* target, bool copy);
    // Copies `source` to be the last child element of `target`, removing the source for a move.
    // Refuses a locked target (a message; false) and a move into the source itself or below it
    // (an error). One undo step, in both documents when they differ.
    bool PasteBranch(TTreeNode* target, TTreeNode* source, TPasteAs as);
    // Sorts every level of the tree, the documents' top-level nodes included.
    void Button_ResortClick();

private:
    TBranchTree& Tree();
    // UpdateBranchIcon, except that the marked node keeps its Cut or Copy picture.
    void RefreshIcon(TTreeNode* node);

    TForm_Ludex& window_;
};

} // namespace ludex
