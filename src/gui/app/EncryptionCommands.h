#pragma once

#include "core/document/DomService.h"

#include <QObject>

#include <string>

class QModelIndex;

namespace ludex {

class TBranchTree;
class TBranchUnlockKey;
class TForm_CipherDialog;
class TForm_Ludex;
class TForm_PasswordDialog;
class TTreeNode;

// The encryption commands of the main window: encrypt or decrypt the selected branch, lock or
// unlock it, and unlock a locked branch when the user expands it. The constructor connects the
// two tool-bar actions and the tree's expansion.
//
// A locked branch's node has no descendants but the placeholder "inaccessible branch" (none when
// the branch has no sub-branches): locking deletes the nodes below it, unlocking builds them anew
// from the deciphered elements. So no tree node ever refers to an element that locking removed,
// and a mark or a memo view below a locked branch goes with its node.
class TEncryptionCommands : public QObject {
public:
    TEncryptionCommands(TForm_Ludex& window, TForm_CipherDialog& cipherDialog,
                        TForm_PasswordDialog& passwordDialog);

    // Puts the selected branch under a password, changes it or takes it off (empty password),
    // through the encrypt dialog; locks it at once when asked to. Marks the document modified and
    // drops a Cut or Copy mark.
    void Button_CipherBranchClick();
    // Locks the selected encrypted branch; or asks for its password, unlocks and expands it.
    void Button_LockBranchClick();
    // The tree expanded a node. A locked one is collapsed again at once; it expands only when the
    // user unlocks it with the right password.
    void TreeViewExpanding(TTreeNode* node);
    // Stores a pending memo edit, collapses the node and, when its branch is encrypted, locks it
    // together with every unlocked encrypted branch inside it.
    void CollapseAndLock(TTreeNode* node);
    // Lock All: stores a pending memo edit, then locks every unlocked encrypted branch of every
    // document and rebuilds the nodes of those that locked. A branch that cannot be locked stays
    // unlocked (and so do the branches around it); the reasons are shown together at the end.
    void MI_LockAllClick();
    // Asks for the password of the node's locked branch and unlocks it; true when unlocked.
    bool AskAndUnlock(TTreeNode* node);
    // Unlocks the node's branch with the key of a verified password, and builds the nodes of the
    // deciphered sub-branches in the branch order. All or nothing: on error the branch and the
    // tree are as before.
    void DecipherBranch(TTreeNode* node, TBranchUnlockKey&& key);

private:
    TBranchTree& Tree();
    // The node of a branch that has just locked: collapsed, its nodes below replaced by the
    // placeholder, its picture updated.
    void RebuildLockedNode(TTreeNode* node, const TDomNode& element);

    TForm_Ludex& window_;
    TForm_CipherDialog& cipherDialog_;
    TForm_PasswordDialog& passwordDialog_;
};

} // namespace ludex
