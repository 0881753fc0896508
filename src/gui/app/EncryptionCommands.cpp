#include "gui/app/EncryptionCommands.h"

#include "core/document/BranchCipher.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/app/BranchUndo.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LudexUnit.h"
#include "gui/dialogs/CipherDialog.h"
#include "gui/dialogs/PasswordDialog.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QTreeView>

namespace ludex {

TEncryptionCommands::TEncryptionCommands(TForm_Ludex& window, TForm_CipherDialog& cipherDialog,
                                         TForm_PasswordDialog& passwordDialog)
    : window_(window), cipherDialog_(cipherDialog), passwordDialog_(passwordDialog) {
    ConnectCommand(window.Button_CipherBranch, &QAction::triggered, this,
                   [this] { Button_CipherBranchClick(); });
    ConnectCommand(window.Button_LockBranch, &QAction::triggered, this, [this] { Button_LockBranchClick(); });
    ConnectCommand(window.TreeView, &QTreeView::expanded, this,
                   [this](const QModelIndex& index) { TreeViewExpanding(Tree().NodeAt(index)); });
}

TBranchTree& TEncryptionCommands::Tree() {
    return window_.Tree();
}

void TEncryptionCommands::Button_CipherBranchClick() {
    TTreeNode* node = Tree().Selected();
    const TDomNode element = ElementOf(node);
    if (!element || IsBranchLocked(element)) {
        return;
    }
    // The memo as the control shows it is the memo that is enciphered.
    window_.CommitMemo();
    int result = TForm_CipherDialog::Cancelled;
    window_.Undo().Record({DocumentOf(node)}, [&] { result = cipherDialog_.Execute(element); });
    if (result == TForm_CipherDialog::Cancelled) {
        return;
    }
    DocumentOf(node)->SetModified(true);
    if (node->Parent() != nullptr && node != window_.MarkedNode()) {
        UpdateBranchIcon(Tree(), node);
    }
    // The commands and the mark follow the new state even when locking fails.
    auto finish = [this, node] {
        window_.UpdateBranchCommands(node);
        if (TTreeNode* marked = window_.MarkedNode()) {
            UpdateBranchIcon(Tree(), marked);
            window_.SetMark(nullptr);
        }
    };
    try {
        if (result == TForm_CipherDialog::AcceptedAndLock) {
            CollapseAndLock(node);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TEncryptionCommands::Button_LockBranchClick() {
    TTreeNode* node = Tree().Selected();
    const TDomNode element = ElementOf(node);
    if (!element || !IsBranchEncrypted(element)) {
        return;
    }
    if (!IsBranchLocked(element)) {
        CollapseAndLock(node);
    } else if (AskAndUnlock(node)) {
        Tree().Expand(node);
    }
}

void TEncryptionCommands::TreeViewExpanding(TTreeNode* node) {
    if (node == nullptr || !IsNodeLocked(node)) {
        return;
    }
    // The view has expanded already; a locked node must not show its placeholder open.
    Tree().Collapse(node);
    if (AskAndUnlock(node)) {
        Tree().Expand(node);
    }
}

void TEncryptionCommands::CollapseAndLock(TTreeNode* node) {
    if (node == nullptr) {
        return;
    }
    window_.CommitMemo();
    Tree().Collapse(node);
    const TDomNode element = ElementOf(node);
    if (element && IsBranchEncrypted(element)) {
        EncipherBranch(element); // all or nothing
        // The history holds the plain text that has just been enciphered.
        window_.Undo().ForgetHistory(DocumentOf(node));
        // The elements below are gone into the payload: so are their nodes.
        Tree().DeleteChildren(node);
        AddLockedPlaceholder(Tree(), node, element);
        if (node->Parent() != nullptr && node != window_.MarkedNode()) {
            UpdateBranchIcon(Tree(), node);
        }
        window_.ShowMemo(element);
    }
    window_.UpdateBranchCommands(Tree().Selected());
}

bool TEncryptionCommands::AskAndUnlock(TTreeNode* node) {
    const TDomNode element = ElementOf(node);
    if (!element) {
        return false;
    }
    const bool unlocked = passwordDialog_.Execute(
        node->Text(), element, [this, node](const std::string& password) { DecipherBranch(node, password); });
    if (unlocked && node == Tree().Selected()) {
        window_.ShowMemo(element);
    }
    window_.UpdateBranchCommands(Tree().Selected());
    return unlocked;
}

void TEncryptionCommands::DecipherBranch(TTreeNode* node, const std::string& password) {
    const TDomNode element = ElementOf(node);
    if (!DecipherBranchElement(element, password)) {
        return; // no sub-branches: only the memo was enciphered
    }
    // The placeholder (and anything else below) goes; a mark inside goes with it.
    for (int i = 0; i < node->ChildCount(); ++i) {
        window_.ForgetMarkWithin(node->Child(i));
    }
    Tree().DeleteChildren(node);
    BuildChildNodes(Tree(), node, element);
    Tree().SortChildren(node, TSortDepth::AllLevels, TreeViewCompare);
    if (node->Parent() != nullptr && node != window_.MarkedNode()) {
        UpdateBranchIcon(Tree(), node);
    }
}

} // namespace ludex
