// Files of open documents changed by other programs: noticed, reloaded into unmodified documents,
// and never overwritten by a save without the user's word.
#include "gui/app/LudexUnit.h"

#include "core/base/Exception.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/BranchUndo.h"
#include "gui/app/DocumentWatch.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QTreeView>

#include <set>

namespace ludex {

namespace {

// Whether a title is being typed in: the tree's editor is the one widget its viewport holds.
bool EditingTitle(const QTreeView& view) {
    for (const QWidget* child : view.viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isHidden()) {
            return true;
        }
    }
    return false;
}

QString Message(const char* key, const std::vector<std::string>& arguments) {
    return Q(LanguageLocaler().FormatMessage(key, arguments));
}

} // namespace

void TForm_Ludex::CheckDocumentFiles(TCheckDepth depth) {
    std::set<const TLXDocument*> open;
    for (int i = 0; i < tree_->TopLevelCount(); ++i) {
        open.insert(tree_->TopLevel(i)->Document());
    }
    open.erase(nullptr);
    std::erase_if(fileNotices_, [&](const auto& notice) { return open.count(notice.first) == 0; });

    // A reload rebuilds nodes, so the documents are looked up again by position each time.
    for (int i = 0; i < tree_->TopLevelCount(); ++i) {
        TLXDocument* document = tree_->TopLevel(i)->Document();
        if (document == nullptr || document->FileName().empty()) {
            continue;
        }
        const std::string& file = document->FileName();
        TDiskCheck check = CheckFileOnDisk(file, document->DiskIdentity(), depth);
        switch (check.state) {
        case TDiskState::Unchanged:
            document->SetDiskIdentity(check.identity);
            fileNotices_.erase(document);
            break;
        case TDiskState::Missing:
            NoticeFile(document, check.state, std::nullopt, Message("ExternalFileMissing", {file}));
            break;
        case TDiskState::Unreadable:
            NoticeFile(document, check.state, std::nullopt,
                       Message("ExternalFileUnreadable", {file, check.reason}));
            break;
        case TDiskState::Changed:
            // A title being typed in is the user's edit too: the reload waits for it.
            if (!document->Modified() && !EditingTitle(*TreeView)) {
                ReloadDocument(document, std::move(check));
            } else {
                NoticeFile(document, check.state, check.identity->digest,
                           Message("ExternalChangePending", {file}));
            }
            break;
        }
    }
    FollowDocumentFiles();
}

void TForm_Ludex::ReloadDocument(TLXDocument* document, TDiskCheck check) {
    const std::string file = document->FileName();
    const TFileDigest digest = check.identity->digest;
    bool relocked = false;
    try {
        // The history of the old content would change the new one at the same places: it goes
        // (undo here knows no other program's change).
        relocked = document->Reload({std::move(check.bytes), *check.identity},
                                    [&] { undo_->ForgetDocument(document); });
    } catch (const Exception& error) {
        // Half written, perhaps: the document stays as it was, and the next change is looked at.
        NoticeFile(document, TDiskState::Changed, digest,
                   Message("ExternalReloadFailed", {file, error.what()}));
        return;
    }
    fileNotices_.erase(document);
    if (TTreeNode* selected = tree_->Selected(); selected != nullptr && DocumentOf(selected) == document) {
        // The memo may show an element of the replaced content; it shows the branch found again.
        memoNode_ = selected;
        ShowMemo(ElementOf(selected));
        UpdateBranchCommands(selected);
    }
    SetStatusText(Message(relocked ? "ExternalChangeRelocked" : "ExternalChangeReloaded", {file}));
}

void TForm_Ludex::NoticeFile(const TLXDocument* document, TDiskState state,
                             const std::optional<TFileDigest>& digest, const QString& text) {
    const TFileNotice notice{state, digest};
    if (auto known = fileNotices_.find(document); known != fileNotices_.end() && known->second == notice) {
        return;
    }
    fileNotices_[document] = notice;
    SetStatusText(text);
}

TReplaceChoice TForm_Ludex::ConfirmReplaceFile(TLXDocument* document, const TDiskCheck& check) {
    const std::string& file = document->FileName();
    switch (check.state) {
    case TDiskState::Unchanged:
        document->SetDiskIdentity(check.identity);
        return TReplaceChoice::Replace;
    case TDiskState::Missing:
        return TReplaceChoice::Replace; // the save makes it again
    case TDiskState::Unreadable:
        // What cannot be read cannot be compared: nothing is written, and the user can save
        // under another name.
        throw EInOutError("Cannot check \"" + file + "\" for changes by other programs: " + check.reason);
    case TDiskState::Changed:
        break;
    }
    const QString text = Message("ExternalChangeQuery", {TitleAccess.Read(document->RootElement()), file});
    const QStringList choices = {Message("ExternalChangeOverwrite", {}), Message("ExternalChangeSaveAs", {}),
                                 Message("Cancel", {})};
    switch (ModalQuestions().Choose(this, text, choices)) {
    case 0:
        return TReplaceChoice::Replace;
    case 1:
        return TReplaceChoice::SaveAs;
    default:
        return TReplaceChoice::Cancel;
    }
}

void TForm_Ludex::FollowDocumentFiles() noexcept {
    if (documentWatch_ == nullptr) {
        return;
    }
    std::vector<std::string> files;
    for (int i = 0; i < tree_->TopLevelCount(); ++i) {
        if (const TLXDocument* document = tree_->TopLevel(i)->Document();
            document != nullptr && !document->FileName().empty()) {
            files.push_back(document->FileName());
        }
    }
    documentWatch_->Follow(files);
}

} // namespace ludex
