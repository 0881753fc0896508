#include "gui/app/BranchCommands.h"

#include "core/document/BranchCopy.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/BranchUndo.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LongWork.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>

namespace ludex {

namespace {
// The title of every branch the program inserts.
const char* const kNewBranchTitle = "???";
} // namespace

TBranchCommands::TBranchCommands(TForm_Ludex& window) : window_(window) {
    ConnectCommand(window.Button_Rename, &QAction::triggered, this, [this] { Button_RenameClick(); });
    ConnectCommand(window.Button_InsertBranch, &QAction::triggered, this,
                   [this] { Button_InsertBranchClick(); });
    ConnectCommand(window.Button_InsertSubBranch, &QAction::triggered, this,
                   [this] { Button_InsertSubBranchClick(); });
    ConnectCommand(window.Button_RemoveBranch, &QAction::triggered, this,
                   [this] { Button_RemoveBranchClick(); });
    ConnectCommand(window.Button_Cut, &QAction::triggered, this,
                   [this] { Button_CutCopyClick(window_.Button_Cut); });
    ConnectCommand(window.Button_Copy, &QAction::triggered, this,
                   [this] { Button_CutCopyClick(window_.Button_Copy); });
    ConnectCommand(window.Button_Paste, &QAction::triggered, this, [this] { Button_PasteClick(); });
    ConnectCommand(window.Button_Resort, &QAction::triggered, this, [this] { Button_ResortClick(); });
    ConnectCommand(
        &window.Tree(), &TBranchTree::NodeDropped, this,
        [this](TTreeNode* source, TTreeNode* target, bool copy) { DropBranch(source, target, copy); });
}

TBranchTree& TBranchCommands::Tree() {
    return window_.Tree();
}

void TBranchCommands::RefreshIcon(TTreeNode* node) {
    if (node == nullptr || node->Parent() == nullptr) {
        return;
    }
    if (node == window_.MarkedNode() && (node->Picture() == picCutMark || node->Picture() == picCopyMark)) {
        return; // the mark's picture says what Paste will do; it stays until the mark goes
    }
    UpdateBranchIcon(Tree(), node);
}

void TBranchCommands::Button_RenameClick() {
    if (TTreeNode* node = Tree().Selected()) {
        Tree().StartEditing(node);
    }
}

void TBranchCommands::Button_InsertBranchClick() {
    TTreeNode* selected = Tree().Selected();
    if (Tree().TopLevelCount() > 0 && selected != nullptr && selected->Parent() != nullptr) {
        InsertBranch(TInsertAs::Sibling);
    } else {
        window_.MI_OpenClick();
    }
}

void TBranchCommands::Button_InsertSubBranchClick() {
    InsertBranch(TInsertAs::Child);
}

void TBranchCommands::InsertBranch(TInsertAs place) {
    TTreeNode* selected = Tree().Selected();
    if (selected == nullptr) {
        return;
    }
    TTreeNode* parent = place == TInsertAs::Child ? selected : selected->Parent();
    if (parent == nullptr) {
        return; // a sibling of a document is a document: that is Open's business
    }
    const TDomNode parentElement = ElementOf(parent);
    // A locked branch holds cipher text; the placeholder has no element.
    if (!parentElement || IsBranchLocked(parentElement)) {
        return;
    }
    TLXDocument* document = DocumentOf(parent);
    TTreeNode* node = nullptr;
    window_.Undo().Record([&](TUndoRecorder& step) {
        const TDomNode element = AddBranchElement(parentElement);
        TitleAccess.Write(element, kNewBranchTitle);
        step.Inserted(document, element);
        node = Tree().AddBranch(parent, element, TBranchOrder::File);
        RefreshIcon(parent);
        Tree().Select(node);
        document->SetModified(true);
    });
    Tree().StartEditing(node);
}

void TBranchCommands::Button_RemoveBranchClick() {
    TTreeNode* selected = Tree().Selected();
    if (selected == nullptr) {
        return;
    }
    if (selected->Parent() == nullptr) {
        window_.MI_CloseClick();
        return;
    }
    const TDomNode element = ElementOf(selected);
    const TDomNode parentElement = ElementOf(selected->Parent());
    if (!element || !parentElement || IsBranchLocked(parentElement)) {
        return; // the placeholder of a locked branch is not a branch
    }
    if (selected->HasChildren() && window_.AskBeforeRemove()) {
        // Counted in the document: the nodes below may not be made yet.
        const size_t count = CountBranches(element).branches - 1;
        const QString question = Q(
            LanguageLocaler().FormatMessage("RemoveBranchQuery", {selected->Text(), std::to_string(count)}));
        if (count > 0 && ModalQuestions().Ask(&window_, question, TQuestionButtons::YesNo) != TAnswer::Yes) {
            return;
        }
    }
    TLXDocument* document = DocumentOf(selected);
    window_.Undo().Record([&](TUndoRecorder& step) {
        // The history's walk up from a deep branch runs beside the view's letting go of its node,
        // which reads no element.
        step.FindRemoved(document, element, selected->Level(), selected->Row());
        window_.ForgetMarkWithin(selected);
        TTreeNode* next = selected->PreviousSibling();
        if (next == nullptr) {
            next = selected->Parent();
        }
        // The node goes before its element, so that nothing shown refers to a removed element.
        // The element is kept aside for the history, which discards it when the step goes.
        Tree().Delete(selected);
        step.Removing(document, element);
        element.SetAside();
        document->SetModified(true);
        RefreshIcon(next);
        Tree().Select(next);
    });
}

void TBranchCommands::Button_CutCopyClick(QAction* sender) {
    TTreeNode* selected = Tree().Selected();
    if (selected == nullptr || selected->Parent() == nullptr || !ElementOf(selected)) {
        return; // documents and placeholders cannot be marked
    }
    const int picture = sender == window_.Button_Cut ? picCutMark : picCopyMark;
    if (selected->Picture() == picture && window_.MarkedNode() == selected) {
        UpdateBranchIcon(Tree(), selected);
        window_.SetMark(nullptr);
        return;
    }
    if (TTreeNode* marked = window_.MarkedNode()) {
        UpdateBranchIcon(Tree(), marked);
    }
    SetNodePicture(Tree(), selected, picture);
    window_.SetMark(selected);
}

void TBranchCommands::Button_PasteClick() {
    TTreeNode* target = Tree().Selected();
    TTreeNode* marked = window_.MarkedNode();
    if (target == nullptr || marked == nullptr) {
        return;
    }
    const bool move = marked->Picture() == picCutMark;
    if (PasteBranch(target, marked, move ? TPasteAs::Move : TPasteAs::Copy) && !move) {
        UpdateBranchIcon(Tree(), marked);
        window_.SetMark(nullptr);
    }
}

void TBranchCommands::DropBranch(TTreeNode* source, TTreeNode* target, bool copy) {
    if (source == nullptr || target == nullptr || source->Parent() == nullptr || !ElementOf(source)) {
        return; // documents and placeholders are not dragged
    }
    if (!copy && source->Parent() == target) {
        return; // dropped where it lies already
    }
    PasteBranch(target, source, copy ? TPasteAs::Copy : TPasteAs::Move);
}

bool TBranchCommands::PasteBranch(TTreeNode* target, TTreeNode* source, TPasteAs as) {
    const TDomNode targetElement = ElementOf(target);
    if (!targetElement || IsBranchLocked(targetElement)) {
        ModalQuestions().Inform(&window_, Q(LanguageLocaler().GetMessage("CanNotPastAtLockedNode")));
        return false;
    }
    const bool move = as == TPasteAs::Move;
    if (move && (target == source || target->HasAsAncestor(source))) {
        throw Exception(LanguageLocaler().GetMessage("CanNotPastBranch"));
    }
    TTreeNode* node = nullptr;
    // A pending memo edit of the source belongs to what is copied; Record stores it first.
    window_.Undo().Record([&](TUndoRecorder& step) {
        const TDomNode sourceElement = ElementOf(source);
        // Checked completely before anything is appended; a failure leaves the target as it was.
        const TDomNode copy = CopyBranch(targetElement, sourceElement);
        try {
            step.Inserted(DocumentOf(target), copy);
            node = Tree().AddBranch(target, copy, TBranchOrder::File);
        } catch (...) {
            if (node != nullptr) {
                Tree().Delete(node);
            }
            targetElement.RemoveChild(copy);
            throw;
        }
        Tree().SortChildren(target, TSortDepth::OneLevel);
        UpdateBranchIcon(Tree(), node);
        RefreshIcon(target);

        if (move) {
            TTreeNode* oldParent = source->Parent();
            TLXDocument* sourceDocument = DocumentOf(source);
            // As in a removal, the history's walk up from a deep branch runs beside the view's
            // letting go of its node; nothing changes in the documents meanwhile.
            step.FindRemoved(sourceDocument, sourceElement, source->Level(), source->Row());
            window_.ForgetMarkWithin(source);
            Tree().Delete(source);
            step.Removing(sourceDocument, sourceElement);
            sourceElement.SetAside(); // kept for the history, as a removal's element is
            sourceDocument->SetModified(true);
            RefreshIcon(oldParent);
        }
        Tree().Select(node);
        DocumentOf(node)->SetModified(true);
    });
    return true;
}

void TBranchCommands::Button_ResortClick() {
    // The order is worked out off the GUI thread while the tree cannot change, and put in place
    // only when the user has not cancelled.
    TBranchTree& tree = Tree();
    tree.SettleView();
    const size_t total = tree.Count();
    TBranchTree::TSortPlan plan;
    RunLongWork("WorkSorting", TCancel::Allowed, [&plan, &tree, total](TWorkProgress& progress) {
        plan = tree.PlanSort(nullptr, TSortDepth::AllLevels, [&progress, total](size_t sorted) {
            progress.Report(sorted, total);
            progress.ThrowIfCancelled();
        });
        progress.ThrowIfCancelled();
    });
    tree.ApplySort(nullptr, plan);
}

} // namespace ludex
