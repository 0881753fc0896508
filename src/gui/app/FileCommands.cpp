// The File menu and the common tool bar: new, open, save, save as, save all, close, close all.
#include "gui/app/LudexUnit.h"

#include "gui/app/DocumentRecovery.h"

#include "core/document/SaveName.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/BranchUndo.h"
#include "gui/app/LongWork.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>

#include <future>
#include <optional>
#include <string>

namespace ludex {

namespace {

// The filter of the open and save dialogs; "All files" shows names without a dot too.
QString FileFilter() {
    return Q(LocalizedMessage("FilterDocuments", {}, "Ludex documents") + "|*.ldx|" +
             LocalizedMessage("FilterAllFiles", {}, "All files") + "|*");
}

// Loads a document on a worker thread; Cancel then discards what was read.
void OpenOffThread(const std::function<void()>& load) {
    RunLongWork("WorkOpening", TCancel::Allowed, [&load](TWorkProgress& progress) {
        load();
        progress.ThrowIfCancelled();
    });
}

// Saves on a worker thread as part of `work`, while the window takes no input, so that the
// document cannot change; Cancel stops the save before the old file is replaced, and the document
// stays modified. `madeText`: as TLXDocument::Save takes it.
void SaveOffThread(TLongWork& work, TLXDocument& document, const std::string& newFileName, unsigned backups,
                   std::optional<std::string> madeText = std::nullopt) {
    TSaveOptions options{.backups = backups};
    options.progress = [&work](size_t written, size_t total) {
        work.Progress().Report(written, total);
        work.Progress().ThrowIfCancelled();
    };
    document.Save(
        newFileName, options,
        [&work](const std::function<void()>& write) {
            work.RunOnWorker([&write](TWorkProgress& progress) {
                progress.ThrowIfCancelled();
                write();
            });
        },
        std::move(madeText));
}

void SaveDocumentOffThread(TLXDocument& document, const std::string& newFileName, unsigned backups) {
    TLongWork work("WorkSaving", TCancel::Allowed);
    SaveOffThread(work, document, newFileName, backups);
}

// Saves the document over its own file unless another program has changed that file: the file is
// read whole and compared with what the document last read or wrote, on one worker, while the
// text to write is made on another; both are as long as the document. Returns the comparison.
// When it found the file unchanged or gone, the document has been saved; otherwise nothing was
// written, and the user is to be asked.
TDiskCheck SaveOverOwnFile(TLXDocument& document, unsigned backups) {
    TLongWork work("WorkSaving", TCancel::Allowed);
    const std::string& file = document.FileName();
    const std::optional<TFileIdentity> known = document.DiskIdentity();
    TDiskCheck check;
    std::string text;
    work.RunOnWorker([&](TWorkProgress& progress) {
        progress.ThrowIfCancelled();
        // Without a thread to be had, the comparison runs when its answer is asked for.
        std::future<TDiskCheck> checking =
            std::async(std::launch::async | std::launch::deferred,
                       [&file, &known] { return CheckFileOnDisk(file, known, TCheckDepth::Contents); });
        text = document.DocumentText();
        check = checking.get();
        progress.ThrowIfCancelled();
    });
    if (check.state == TDiskState::Unchanged || check.state == TDiskState::Missing) {
        if (check.state == TDiskState::Unchanged) {
            document.SetDiskIdentity(check.identity);
        }
        SaveOffThread(work, document, "", backups, std::move(text));
    }
    return check;
}

} // namespace

void TForm_Ludex::MI_NewClick() {
    TLXDocument::Create("", *tree_);
    Memo->setReadOnly(false);
    UpdateFileCommands();
}

void TForm_Ludex::MI_OpenClick() {
    if (TLXDocument* selected = SelectedDocument()) {
        openDirectory_ = QFileInfo(Q(selected->FileName())).absolutePath();
        if (selected->FileName().empty()) {
            openDirectory_.clear();
        }
    }
    if (auto name = ModalQuestions().OpenFileName(this, openDirectory_, FileFilter())) {
        openDirectory_ = QFileInfo(*name).absolutePath();
        OpenFile(name->toStdString());
    }
}

void TForm_Ludex::OpenFile(const std::string& fileName) {
    try {
        TLXDocument::Create(fileName, *tree_, OpenOffThread);
        SettingsChanged();
        emit DocumentFileNamed(fileName);
    } catch (...) {
        Memo->setReadOnly(IsNodeLocked(tree_->Selected()));
        UpdateFileCommands();
        throw;
    }
    Memo->setReadOnly(IsNodeLocked(tree_->Selected()));
    UpdateFileCommands();
}

void TForm_Ludex::MI_SaveClick() {
    SaveDocument(SelectedDocument(), TAskForName::No);
}

void TForm_Ludex::MI_SaveAsClick() {
    SaveDocument(SelectedDocument(), TAskForName::Yes);
}

void TForm_Ludex::MI_SaveAllClick() {
    CommitMemo();
    TTreeNode* remembered = tree_->Selected();
    try {
        for (int i = 0; i < tree_->TopLevelCount(); ++i) {
            TTreeNode* root = tree_->TopLevel(i);
            if (root->Document()->ProgramsOwn()) {
                continue; // the help is the program's, not one of the user's documents
            }
            tree_->Select(root);
            SaveDocument(root->Document(), TAskForName::No);
        }
    } catch (...) {
        // A save that failed or was cancelled ends the command; the selection is the user's.
        tree_->Select(remembered);
        throw;
    }
    tree_->Select(remembered);
}

// The save dialog starts in the document's folder (the home folder for a new document) with the
// title as the file name.
QString TForm_Ludex::SuggestedSaveName(const TLXDocument& document) const {
    const QFileInfo file(Q(document.FileName()));
    const QString folder = document.FileName().empty() ? QDir::homePath() : file.absolutePath();
    const std::string fallback = document.FileName().empty()
                                     ? LanguageLocaler().GetMessage("NewDocumentTitle")
                                     : file.completeBaseName().toStdString();
    const std::string name = FileNameForTitle(TitleAccess.Read(document.RootElement()), fallback);
    return QDir(folder).filePath(Q(name));
}

bool TForm_Ludex::SaveDocument(TLXDocument* document, TAskForName askForName) {
    if (document == nullptr) {
        return false;
    }
    CommitMemo();
    // The program's own files are never written over: a changed help is saved under a new name.
    if (askForName == TAskForName::Yes || document->FileName().empty() || document->ProgramsOwn()) {
        auto name = ModalQuestions().SaveFileName(this, SuggestedSaveName(*document), FileFilter(),
                                                  Q(kDocumentExtension));
        if (!name) {
            return false;
        }
        SaveDocumentOffThread(*document, name->toStdString(), backupCount_);
        document->SetProgramsOwn(false);
        undo_->MarkSaved(document);
        SetStatusText(Q(document->FileName()));
        DocumentSaved(document);
        TellRemovedBackups(*document);
        SettingsChanged(); // the list of documents names the new file
        emit DocumentFileNamed(document->FileName());
        return true;
    }
    // Nothing is written before the user has answered for a file another program has changed.
    if (const TDiskCheck check = SaveOverOwnFile(*document, backupCount_);
        check.state != TDiskState::Unchanged && check.state != TDiskState::Missing) {
        switch (ConfirmReplaceFile(document, check)) {
        case TReplaceChoice::Replace:
            break;
        case TReplaceChoice::SaveAs:
            return SaveDocument(document, TAskForName::Yes);
        case TReplaceChoice::Cancel:
            return false;
        }
        SaveDocumentOffThread(*document, "", backupCount_);
    }
    undo_->MarkSaved(document);
    DocumentSaved(document);
    TellRemovedBackups(*document);
    return true;
}

void TForm_Ludex::TellRemovedBackups(TLXDocument& document) {
    if (const size_t removed = document.TakeRemovedBackups(); removed > 0) {
        SetStatusText(
            Q(LocalizedMessage("BackupsOfPlainTextRemoved", {std::to_string(removed), document.FileName()},
                               "{0} backup(s) of \xE2\x80\x9C{1}\xE2\x80\x9D removed: they may have held "
                               "text that is now only encrypted.")));
    }
}

bool TForm_Ludex::QuerySave(TLXDocument* document) {
    if (document == nullptr || !document->Modified() || document->ProgramsOwn()) {
        return true;
    }
    const std::string title = TitleAccess.Read(document->RootElement());
    const std::string file = document->FileName().empty()
                                 ? ""
                                 : "(" + QFileInfo(Q(document->FileName())).fileName().toStdString() + ")";
    const QString text = Q(LanguageLocaler().FormatMessage("SaveQuery", {title, file}));
    switch (ModalQuestions().Ask(this, text, TQuestionButtons::YesNoCancel)) {
    case TAnswer::Yes:
        return SaveDocument(document, TAskForName::No);
    case TAnswer::No:
        return true;
    default:
        return false;
    }
}

bool TForm_Ludex::QuerySaveAll() {
    for (int i = 0; i < tree_->TopLevelCount(); ++i) {
        if (!QuerySave(tree_->TopLevel(i)->Document())) {
            return false;
        }
    }
    return true;
}

void TForm_Ludex::MI_CloseClick() {
    if (TLXDocument* document = SelectedDocument(); document != nullptr && QuerySave(document)) {
        CloseDocument(document);
    }
    UpdateFileCommands();
}

void TForm_Ludex::MI_CloseAllClick() {
    if (QuerySaveAll()) {
        while (tree_->TopLevelCount() > 0) {
            CloseDocument(tree_->TopLevel(0)->Document());
        }
    }
    UpdateFileCommands();
    Button_Cut->setEnabled(false);
    Button_Copy->setEnabled(false);
}

void TForm_Ludex::DocumentSaved(const TLXDocument* document) {
    if (recovery_) {
        recovery_->Forget(document);
    }
    fileNotices_.erase(document);
    FollowDocumentFiles(); // a new file, or one under a new name
}

void TForm_Ludex::CloseDocument(TLXDocument* document) {
    DocumentSaved(document); // closed without saving, or saved: its snapshot is of no more use
    Memo->ForgetAllCopies(); // its branches are locked for good
    SettingsChanged();
    ForgetMarkWithin(document->RootNode());
    DestroyDocument(document);
    if (tree_->TopLevelCount() == 0) {
        ConnectMemo(TMemoChanges::Ignored);
        Memo->clear();
        Memo->setReadOnly(true);
        memoModified_ = false;
    }
}

void TForm_Ludex::UpdateFileCommands() {
    const bool any = tree_->TopLevelCount() > 0;
    for (QAction* command :
         {MI_Close, MI_CloseAll, MI_Save, MI_SaveAs, MI_SaveAll, MI_ExportBranch, MI_ExportDocument, MI_Print,
          MI_PrintPreview, Button_Save, Button_SaveAll, Button_RemoveBranch, Button_Rename}) {
        command->setEnabled(any);
    }
    UpdateBranchCommands(tree_->Selected());
}

} // namespace ludex
