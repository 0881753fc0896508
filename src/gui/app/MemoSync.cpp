// The memo shows the selected branch's memo and writes edits back; the branch commands follow
// the selection.
#include "gui/app/LudexUnit.h"

#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/BranchUndo.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/QtText.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QPlainTextEdit>

namespace ludex {

namespace {

// Every CR LF, lone CR and lone LF becomes one LF.
std::string ToStoredLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

} // namespace

void TForm_Ludex::ConnectMemo(TMemoChanges changes) {
    if (memoConnection_) {
        disconnect(memoConnection_);
        memoConnection_ = {};
    }
    if (changes == TMemoChanges::Watched) {
        memoConnection_ = ConnectCommand(Memo, &QPlainTextEdit::textChanged, this, [this] { MemoChanged(); });
    }
}

void TForm_Ludex::TreeViewChanging(TTreeNode* node) {
    CommitMemo();
    memoNode_ = node;
    ShowMemo(ElementOf(node));
    UpdateBranchCommands(node);
}

void TForm_Ludex::CommitMemo() {
    if (memoNode_ == nullptr || !memoModified_) {
        return;
    }
    TDomNode element = ElementOf(memoNode_);
    if (element && !IsBranchLocked(element)) {
        const std::string text = ToStoredLineBreaks(FaithfulPlainText(*Memo->document()).toStdString());
        undo_->RecordStep([&](TUndoRecorder& step) {
            step.Changing(DocumentOf(memoNode_), element, {MemoAccess.Name()});
            MemoAccess.Write(element, text);
        });
    }
    memoModified_ = false;
}

void TForm_Ludex::ShowSelectedBranch() {
    memoNode_ = tree_->Selected();
    ShowMemo(ElementOf(memoNode_));
    UpdateBranchCommands(memoNode_);
}

void TForm_Ludex::ShowMemo(const TDomNode& element) {
    ConnectMemo(TMemoChanges::Ignored);
    const bool locked = element && IsBranchLocked(element);
    Memo->setReadOnly(locked || !element);
    if (locked) {
        Memo->setPlainText(Q(LanguageLocaler().GetMessage("InformationIsLocked")));
    } else {
        // The control keeps line breaks as paragraph separators; stored ones are LF.
        Memo->setPlainText(Q(ToStoredLineBreaks(MemoAccess.Read(element))));
    }
    memoModified_ = false;
    ConnectMemo(TMemoChanges::Watched);
}

void TForm_Ludex::MemoChanged() {
    if (memoModified_) {
        return;
    }
    memoModified_ = true;
    if (TLXDocument* document = DocumentOf(memoNode_)) {
        document->SetModified(true);
    }
}

void TForm_Ludex::TreeViewEdited(TTreeNode* node, const std::string& text) {
    TDomNode element = ElementOf(node);
    if (!element) {
        return;
    }
    if (TitleAccess.Read(element) == text) {
        return; // the editor was closed without a change: nothing to save
    }
    undo_->Record([&](TUndoRecorder& step) {
        step.Changing(DocumentOf(node), element, {TitleAccess.Name()});
        TitleAccess.Write(element, text);
    });
    DocumentOf(node)->SetModified(true);
}

void TForm_Ludex::UpdateBranchCommands(TTreeNode* node) {
    const bool belowTop = node != nullptr && node->Parent() != nullptr;
    Button_Cut->setEnabled(belowTop);
    Button_Copy->setEnabled(belowTop);
    TDomNode element = ElementOf(node);
    Button_LockBranch->setEnabled(element && IsBranchEncrypted(element));
    const bool cipherable = node != nullptr && element && !IsNodeLocked(node);
    Button_CipherBranch->setEnabled(cipherable);
    Button_InsertSubBranch->setEnabled(cipherable);
    MI_Undo->setEnabled(undo_->CanUndo());
    MI_Redo->setEnabled(undo_->CanRedo());
    TLXDocument* document = DocumentOf(node);
    SetStatusText(document ? Q(document->FileName()) : QString());
}

void TForm_Ludex::SetMark(TTreeNode* node) {
    markedNode_ = node;
    Button_Paste->setEnabled(node != nullptr);
}

void TForm_Ludex::ForgetMarkWithin(TTreeNode* node) {
    if (markedNode_ != nullptr && (markedNode_ == node || markedNode_->HasAsAncestor(node))) {
        SetMark(nullptr);
    }
}

void TForm_Ludex::OnNodeAboutToBeDeleted(TTreeNode* node) noexcept {
    if (node->Parent() == nullptr) {
        undo_->ForgetDocument(node->Document());
    }
    // No pointer of the window may outlive its node: the shown memo's edits and the mark go with it.
    if (memoNode_ != nullptr && (memoNode_ == node || memoNode_->HasAsAncestor(node))) {
        memoNode_ = nullptr;
        memoModified_ = false;
    }
    ForgetMarkWithin(node);
}

TLXDocument* TForm_Ludex::SelectedDocument() const {
    return DocumentOf(tree_->Selected());
}

TDomNode TForm_Ludex::SelectedElement() const {
    return ElementOf(tree_->Selected());
}

} // namespace ludex
