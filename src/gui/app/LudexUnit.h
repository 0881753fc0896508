#pragma once

#include "core/base/FileIO.h"
#include "core/base/FileIdentity.h"
#include "core/document/DomService.h"
#include "core/settings/Localer.h"
#include "core/settings/PropertyBailee.h"
#include "gui/app/MemoEdit.h"
#include "gui/app/OrderOfCoolBand.h"
#include "gui/tree/Pictures.h"

#include <QMainWindow>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QSplitter;
class QTimer;
class QToolBar;
class QTreeView;

namespace ludex {

class TBranchTree;
class TBranchUndo;
class TDocumentRecovery;
class TDocumentWatch;
class TForm_About;
class TLXDocument;
class TQtLocalizedForm;
class TTreeNode;

// Whether a save asks for the file name even when the document has one (Save As).
enum class TAskForName { No, Yes };
// What a save does with a file that another program has changed since the document read or
// wrote it: replaces it anyway, saves the document under another name, or saves nothing.
enum class TReplaceChoice { Replace, SaveAs, Cancel };
// Whether the window follows the memo's edits (off while it fills the memo itself).
enum class TMemoChanges { Ignored, Watched };

// Set by Reset To Default: when the program ends with it set, it starts its executable again.
extern bool RestartOnExit;

// The main window: the tool-bar row with the menu and the common tools, the tree of documents
// with its vertical tool bar on the left, the memo on the right and the status bar below.
// Component names are the object names; the settings and language files address them by name.
class TForm_Ludex : public QMainWindow, public IPropertyBaileeClient, public ILocalerClient {
    Q_OBJECT

public:
    explicit TForm_Ludex(QWidget* parent = nullptr);
    ~TForm_Ludex() override;

    // Start-up after all windows exist: settings, language, the documents of the last run (or the
    // file named on the command line, when `commandLineFile` is not empty). Throws EStartUp
    // (a broken installation) when the stencil or the language file cannot be used.
    // `forms` are the windows to localise, in creation order (this window first).
    void StartUp(const std::string& executablePath, const std::string& commandLineFile,
                 const std::vector<TPublishedObject*>& forms);
    void RestoreDocuments(const std::string& commandLineFile);

    // IPropertyBaileeClient and ILocalerClient.
    void LoadSettings(TPropertyBailee& bailee) override;
    void SaveSettings(TPropertyBailee& bailee) override;
    void Localize(TLocaler& localer) override;

    void UpdateCaption();
    TPublishedObject& Published();
    // The recovery snapshots of the documents; null before start-up.
    TDocumentRecovery* Recovery() { return recovery_.get(); }
    // A setting has changed: the settings file is written once no further change has come for
    // kSettingsWriteDelay milliseconds, so that a crash does not lose it.
    void SettingsChanged();
    static constexpr int kSettingsWriteDelay = 1000;
    TBranchTree& Tree() { return *tree_; }
    TBranchUndo& Undo() { return *undo_; }
    // How many backups a document save keeps (the settings value "Backups").
    unsigned BackupCount() const { return backupCount_; }
    void SetBackupCount(unsigned count) { backupCount_ = std::min(count, kMostBackups); }
    void SetAboutBox(TForm_About* about) { about_ = about; }

    // File commands.
    void MI_NewClick();
    void MI_OpenClick();
    void MI_SaveClick();
    void MI_SaveAsClick();
    void MI_SaveAllClick();
    void MI_CloseClick();
    void MI_CloseAllClick();
    void MI_ExitClick();
    void MI_AboutClick();
    // Opens the file as a document (a second time, when it is open already).
    void OpenFile(const std::string& fileName);
    // Writes the document, asking for a name when asked to or when it has none; false when the
    // user cancelled the save dialog.
    bool SaveDocument(TLXDocument* document, TAskForName askForName);
    QString SuggestedSaveName(const TLXDocument& document) const;
    // Asks whether to save a modified document; true means "go on" (saved or not to be saved).
    bool QuerySave(TLXDocument* document);
    bool QuerySaveAll();
    void CloseDocument(TLXDocument* document);
    // The document's snapshot is of no more use: it has been saved, or is being closed.
    void DocumentSaved(const TLXDocument* document);
    // Locks every branch, empties the memo and the clipboard's secret copy: the window closes.
    void LockBeforeExit() noexcept;
    // Says in the status bar that a save removed backups holding text now only encrypted.
    void TellRemovedBackups(TLXDocument& document);
    void UpdateFileCommands();

    // Files changed by other programs (ExternalChanges.cpp). Each document's file is compared
    // with what the document last read or wrote: an unmodified document whose file changed is
    // reloaded in place, a modified one gets a notice in the status bar (its next save asks), and
    // a file that is gone or cannot be read is reported once.
    void CheckDocumentFiles(TCheckDepth depth);
    // Asked before a save replaces the document's file, given `check`, the file on disk compared
    // with what the document last read or wrote (to the contents): Replace when the file is that
    // one, or gone; otherwise the user's answer to the question. Throws EInOutError, before
    // anything is written, when the file could not be read to compare.
    TReplaceChoice ConfirmReplaceFile(TLXDocument* document, const TDiskCheck& check);
    // Watches the files of the open documents.
    void FollowDocumentFiles() noexcept;

    // Memo and selection.
    void CommitMemo();
    void ShowMemo(const TDomNode& element);
    // The memo and the commands follow the selected node again after its nodes were rebuilt.
    void ShowSelectedBranch();
    void UpdateBranchCommands(TTreeNode* node);
    void SetMark(TTreeNode* node);
    void ForgetMarkWithin(TTreeNode* node);
    TLXDocument* SelectedDocument() const;
    TDomNode SelectedElement() const;
    bool MemoModified() const { return memoModified_; }
    TTreeNode* MarkedNode() const { return markedNode_; }
    // Whether removing a branch with sub-branches asks first (a setting).
    bool AskBeforeRemove() const { return askBeforeRemove_; }

    // Memo word wrap: on shows only the vertical scroll bar, off both; the menu item follows.
    bool GetMemoWordWrap() const;
    void SetMemoWordWrap(bool value);

    TOrderOfCoolBand& MainMenuCoolBand() { return *mainMenuCoolBand_; }
    TOrderOfCoolBand& CommonToolsCoolBand() { return *commonToolsCoolBand_; }

    void SetStatusText(const QString& text);
    const TPictureList& TreePictures() const { return treePictures_; }

    // Components, named as the settings and language files name them.
    QToolBar* ToolBar_Menu = nullptr;
    QMenuBar* MainMenu = nullptr;
    QToolBar* ToolBar_Common = nullptr;
    QWidget* Panel_TreeView = nullptr;
    QToolBar* ToolBar_TreeView = nullptr;
    QTreeView* TreeView = nullptr;
    QSplitter* Splitter1 = nullptr;
    TMemoEdit* Memo = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* StatusPanel = nullptr;

    QMenu* MI_File = nullptr;
    QAction* MI_New = nullptr;
    QAction* MI_Open = nullptr;
    QMenu* MI_Recent = nullptr; // filled by TRecentFilesMenu
    QAction* MI_RecentRemoveMissing = nullptr;
    QAction* MI_Save = nullptr;
    QAction* MI_SaveAs = nullptr;
    QAction* MI_SaveAll = nullptr;
    QAction* MI_Close = nullptr;
    QAction* MI_CloseAll = nullptr;
    QAction* MI_LockAll = nullptr;
    // Export and print: the selected branch with its sub-branches, or the whole document.
    QAction* MI_ExportBranch = nullptr;
    QAction* MI_ExportDocument = nullptr;
    QAction* MI_Print = nullptr;
    QAction* MI_PrintPreview = nullptr;
    QAction* MI_Exit = nullptr;
    QMenu* MI_Edit = nullptr;
    QAction* MI_Find = nullptr;
    QAction* MI_Undo = nullptr;
    QAction* MI_Redo = nullptr;
    QAction* MI_InsertBranch = nullptr;
    QAction* MI_InsertSubBranch = nullptr;
    QAction* MI_Rename = nullptr;
    QAction* MI_RemoveBranch = nullptr;
    QAction* MI_Cut = nullptr;
    QAction* MI_Copy = nullptr;
    QAction* MI_Paste = nullptr;
    QAction* MI_CipherBranch = nullptr;
    QAction* MI_LockBranch = nullptr;
    QAction* MI_Resort = nullptr;
    QAction* MI_AskBeforeRemove = nullptr;
    QAction* MI_MenuBarKey = nullptr; // F10: opens the menu bar
    QMenu* MI_Settings = nullptr;
    QMenu* MI_Language = nullptr;
    QAction* MI_English = nullptr;
    QAction* MI_Russian = nullptr;
    QMenu* MI_Font = nullptr;
    QAction* MI_TreeViewFont = nullptr;
    QAction* MI_MemoFont = nullptr;
    QAction* MI_WordWrapMemo = nullptr;
    // Encryption settings: the code page, the scheme of new encryptions, when to lock everything.
    QMenu* MI_CodePage = nullptr;
    QAction* MI_CompatibleScheme = nullptr;
    QMenu* MI_AutoLock = nullptr; // its items: MI_AutoLock<minutes>, 0 for never
    QAction* MI_LockOnMinimize = nullptr;
    QAction* MI_Preferences = nullptr;
    QAction* MI_ResetToDefault = nullptr;
    QMenu* MI_Help = nullptr;
    QAction* MI_HelpTopics = nullptr;
    QAction* MI_About = nullptr;

    QAction* Button_New = nullptr;
    QAction* Button_Open = nullptr;
    QAction* Button_Save = nullptr;
    QAction* Button_SaveAll = nullptr;
    QAction* Button_InsertBranch = nullptr;
    QAction* Button_InsertSubBranch = nullptr;
    QAction* Button_RemoveBranch = nullptr;
    QAction* Button_Rename = nullptr;
    QAction* Button_Cut = nullptr;
    QAction* Button_Copy = nullptr;
    QAction* Button_Paste = nullptr;
    QAction* Button_CipherBranch = nullptr;
    QAction* Button_LockBranch = nullptr;
    QAction* Button_Resort = nullptr;

    // No menu of bands to hide: the menu and the tools would be lost with no way back.
    QMenu* createPopupMenu() override { return nullptr; }

signals:
    // The user opened a document from this file or saved one to it.
    void DocumentFileNamed(const std::string& file);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The closing question: documents first, then the settings. True when the window may close.
    bool FormCloseQuery();
    void WriteChangedSettings() noexcept;
    void TreeViewChanging(TTreeNode* node);
    void TreeViewEdited(TTreeNode* node, const std::string& text);
    void MemoChanged();
    void ConnectMemo(TMemoChanges changes);
    void ConnectCommands();
    void OnNodeAboutToBeDeleted(TTreeNode* node) noexcept;
    void ReloadDocument(TLXDocument* document, TDiskCheck check);
    // Shows a notice about the document's file in the status bar, unless it was the last one
    // shown for this document.
    void NoticeFile(const TLXDocument* document, TDiskState state, const std::optional<TFileDigest>& digest,
                    const QString& text);
    void OpenDocument(const std::string& fileName);
    void FormCreate();
    void CreateComponents();
    void CreateMenu();
    void CreateToolBars();
    void CreateEditCommands();
    void ConnectEditCommands();
    QAction* NewAction(QObject* parent, const char* name, const QString& caption);
    QAction* NewToolButton(QToolBar* bar, const char* name, const QString& hint, int picture);

    TPictureList treePictures_;
    std::unique_ptr<TCoolBar> coolBar_;
    std::unique_ptr<TOrderOfCoolBand> mainMenuCoolBand_;
    std::unique_ptr<TOrderOfCoolBand> commonToolsCoolBand_;
    QActionGroup* languageGroup_ = nullptr;
    TBranchTree* tree_ = nullptr;
    std::unique_ptr<TBranchUndo> undo_;
    std::unique_ptr<TQtLocalizedForm> published_;
    std::unique_ptr<TPublishedObject> publishedMainMenuBand_;
    std::unique_ptr<TPublishedObject> publishedCommonToolsBand_;
    std::unique_ptr<TPublishedObject> publishedTreePanel_;
    TForm_About* about_ = nullptr;
    std::unique_ptr<TDocumentRecovery> recovery_;
    TDocumentWatch* documentWatch_ = nullptr;
    // The last notice about each document's file: what was found and, for a change, its digest.
    struct TFileNotice {
        TDiskState state;
        std::optional<TFileDigest> digest;
        bool operator==(const TFileNotice&) const = default;
    };
    std::map<const TLXDocument*, TFileNotice> fileNotices_;
    QTimer* settingsTimer_ = nullptr;
    bool startedUp_ = false;
    bool settingsFailing_ = false; // a timed write has failed and been reported
    QMetaObject::Connection memoConnection_;
    bool memoModified_ = false;
    bool askBeforeRemove_ = true;
    TTreeNode* memoNode_ = nullptr; // the node whose memo the memo control shows
    TTreeNode* markedNode_ = nullptr;
    QString openDirectory_;
    unsigned backupCount_ = kDefaultBackupCount; // the settings value "Backups": kept per document save
};

// A broken installation: the stencil or a language file is missing or cannot be read.
class EStartUp : public Exception {
public:
    using Exception::Exception;
};

} // namespace ludex
