#include "gui/app/EncryptionCommands.h"

#include "core/document/BranchCipher.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/app/BranchUndo.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LongWork.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/CipherDialog.h"
#include "gui/dialogs/PasswordDialog.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QTreeView>

#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

namespace ludex {

TEncryptionCommands::TEncryptionCommands(TForm_Ludex& window, TForm_CipherDialog& cipherDialog,
                                         TForm_PasswordDialog& passwordDialog)
    : window_(window), cipherDialog_(cipherDialog), passwordDialog_(passwordDialog) {
    ConnectCommand(window.Button_CipherBranch, &QAction::triggered, this,
                   [this] { Button_CipherBranchClick(); });
    ConnectCommand(window.Button_LockBranch, &QAction::triggered, this, [this] { Button_LockBranchClick(); });
    ConnectCommand(window.MI_LockAll, &QAction::triggered, this, [this] { MI_LockAllClick(); });
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
    window_.Undo().Record([&](TUndoRecorder& step) {
        step.Changing(DocumentOf(node), element,
                      {EncryptionAccess.Name(), PasswordAccess.Name(), CodePageAccess.Name()});
        result = cipherDialog_.Execute(element);
    });
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
        // All or nothing. The nodes shown do not look at the elements, so the window may paint
        // while they change; what the view has put off is laid out first, so that it makes no
        // node from them meanwhile (the branch's own are closed by now).
        Tree().SettleView();
        RunLongWork("WorkLocking", TCancel::NotAllowed,
                    [&element](TWorkProgress&) { EncipherBranch(element); });
        // The history must not bring back the plain text that has just been enciphered.
        window_.Undo().ForgetSecrets(DocumentOf(node));
        // A copy of its memo, or of one below, leaves the clipboard.
        window_.Memo->ForgetCopiesFrom(element.Id());
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

void TEncryptionCommands::MI_LockAllClick() {
    // Pending memo edits are stored first, so that they are enciphered with their branch.
    window_.CommitMemo();
    std::string failures;
    // The walks of the documents and the locking run as long work, all of it: a document of a
    // million branches takes a while to walk, a large branch to encipher. The window paints
    // meanwhile; its nodes do not look at the elements, and what the view has put off is laid out
    // first, so that it makes no node from them while they change.
    Tree().SettleView();
    std::optional<TLongWork> work;
    work.emplace("WorkLocking", TCancel::NotAllowed);
    for (int i = 0; i < Tree().TopLevelCount(); ++i) {
        TTreeNode* top = Tree().TopLevel(i);
        const TDomNode root = top->Document()->RootElement();
        // Whether anything is to be locked is asked of the document: a branch unlocked may lie
        // below nodes not made yet.
        bool holdsUnlocked = false;
        work->RunOnWorker(
            [&holdsUnlocked, &root](TWorkProgress&) { holdsUnlocked = HoldsUnlockedBranch(root); });
        if (!holdsUnlocked) {
            continue;
        }
        // The nodes of the branches that are unlocked now; of these, the ones found locked
        // afterwards get their nodes rebuilt. Only nodes made so far are looked at, and none is
        // made: nodes made later come from the locked elements.
        std::unordered_set<const TTreeNode*> unlocked;
        std::vector<TTreeNode*> pending{top};
        while (!pending.empty()) {
            TTreeNode* node = pending.back();
            pending.pop_back();
            const TDomNode element = ElementOf(node);
            if (element && IsBranchEncrypted(element) && !IsBranchLocked(element)) {
                unlocked.insert(node);
            }
            for (int c = 0; !node->ChildrenUnmade() && c < node->ChildCount(); ++c) {
                pending.push_back(node->Child(c));
            }
        }
        std::vector<TLockFailure> notLocked;
        work->RunOnWorker([&notLocked, &root](TWorkProgress&) { notLocked = LockAllBranches(root); });
        for (const TLockFailure& failure : notLocked) {
            failures += (failures.empty() ? "" : "\n") + failure.message;
        }
        // Outermost first: a rebuilt node's old descendants are gone and never visited.
        pending.push_back(top);
        while (!pending.empty()) {
            TTreeNode* node = pending.back();
            pending.pop_back();
            const TDomNode element = ElementOf(node);
            if (unlocked.count(node) != 0 && IsBranchLocked(element)) {
                RebuildLockedNode(node, element);
                continue;
            }
            for (int c = 0; !node->ChildrenUnmade() && c < node->ChildCount(); ++c) {
                pending.push_back(node->Child(c));
            }
        }
    }
    // The window takes input again, for the error below.
    work.reset();
    // Nor may the history of any document bring it back, nor hold a password, nor the clipboard
    // keep a copy.
    window_.Undo().ForgetSecrets(nullptr);
    window_.Memo->ForgetAllCopies();
    if (TTreeNode* selected = Tree().Selected()) {
        if (const TDomNode element = ElementOf(selected)) {
            window_.ShowMemo(element);
        }
    }
    window_.UpdateBranchCommands(Tree().Selected());
    if (!failures.empty()) {
        ModalQuestions().ShowError(&window_, Q(failures));
    }
}

void TEncryptionCommands::RebuildLockedNode(TTreeNode* node, const TDomNode& element) {
    Tree().Collapse(node);
    for (int i = 0; i < node->ChildCount(); ++i) {
        window_.ForgetMarkWithin(node->Child(i));
    }
    Tree().DeleteChildren(node);
    AddLockedPlaceholder(Tree(), node, element);
    if (node->Parent() != nullptr && node != window_.MarkedNode()) {
        UpdateBranchIcon(Tree(), node);
    }
}

bool TEncryptionCommands::AskAndUnlock(TTreeNode* node) {
    const TDomNode element = ElementOf(node);
    if (!element) {
        return false;
    }
    const bool unlocked =
        passwordDialog_.Execute(node->Text(), element, [this, node](TBranchUnlockKey&& key) {
            DecipherBranch(node, std::move(key));
        });
    if (unlocked && node == Tree().Selected()) {
        window_.ShowMemo(element);
    }
    window_.UpdateBranchCommands(Tree().Selected());
    return unlocked;
}

void TEncryptionCommands::DecipherBranch(TTreeNode* node, TBranchUnlockKey&& key) {
    const TDomNode element = ElementOf(node);
    // Deciphered and parsed off the GUI thread; the nodes shown do not look at the elements, so
    // the window may paint while they change (the locked branch has only its placeholder). Cancel
    // counts until the element changes.
    Tree().SettleView();
    bool replaced = false;
    const bool upgrades = key.Upgrades();
    RunLongWork("WorkUnlocking", TCancel::Allowed, [&replaced, &element, &key](TWorkProgress& progress) {
        replaced =
            DecipherBranchElement(element, std::move(key), [&progress] { progress.ThrowIfCancelled(); });
    });
    if (upgrades) {
        // Its "encryption" value was raised to the present version or cost: the file is to follow.
        DocumentOf(node)->SetModified(true);
    }
    if (!replaced) {
        return; // no sub-branches: only the memo was enciphered
    }
    // The placeholder (and anything else below) goes; a mark inside goes with it.
    for (int i = 0; i < node->ChildCount(); ++i) {
        window_.ForgetMarkWithin(node->Child(i));
    }
    Tree().DeleteChildren(node);
    BuildChildNodes(Tree(), node, element, TBranchOrder::Window);
    if (node->Parent() != nullptr && node != window_.MarkedNode()) {
        UpdateBranchIcon(Tree(), node);
    }
}

} // namespace ludex
