// The main window's life: creation, start-up, settings, language, caption and closing.
#include "gui/app/LudexUnit.h"

#include "core/document/BranchCipher.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/settings/FileLocations.h"
#include "core/settings/LX_Localer.h"
#include "core/settings/LX_PropertyBailee.h"
#include "core/settings/LX_Utils.h"
#include "core/text/CodePage.h"
#include "gui/app/BranchUndo.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/DocumentWatch.h"
#include "gui/app/LongWork.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/app/QtTranslations.h"
#include "gui/dialogs/LX_About.h"
#include "gui/properties/QtPublished.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAccessible>
#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include <algorithm>
#include <filesystem>
#include <iterator>

namespace ludex {

bool RestartOnExit = false;

namespace {

// Seconds between two rounds of recovery snapshots when the settings do not say.
const int kDefaultRecoveryInterval = 30;
const char* const kRecoveryIntervalValue = "RecoveryInterval";

// The settings value of the snapshot interval: whole seconds from 0 (no snapshots) to a day.
int RecoveryIntervalFromSettings(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return kDefaultRecoveryInterval;
    }
    const int seconds = std::stoi(text);
    return seconds <= 86400 ? seconds : kDefaultRecoveryInterval;
}

// A tool-bar band as a published object: its Index (writing it moves the band) and the band itself.
class TPublishedCoolBand : public TPublishedBase {
public:
    explicit TPublishedCoolBand(TOrderOfCoolBand& band)
        : band_(std::make_unique<TQtPublishedComponent>(*band.CoolBand())) {
        AddInteger(
            "Index", [&band] { return band.Index(); }, [&band](int32_t index) { band.SetIndex(index); });
        TPublishedObject* coolBand = band_.get();
        AddObject("CoolBand", [coolBand] { return coolBand; });
    }

private:
    std::unique_ptr<TQtPublishedComponent> band_;
};

// The tree panel: its width is the splitter's first size (a panel inside a splitter ignores a
// plain resize), its other properties those of any widget.
class TPublishedSplitPanel : public TPublishedBase {
public:
    TPublishedSplitPanel(QSplitter& splitter, QWidget& panel)
        : TPublishedBase(panel.objectName().toStdString()) {
        QPointer<QSplitter> s(&splitter);
        QPointer<QWidget> p(&panel);
        AddInteger(
            "Width", [p] { return p ? p->width() : 0; },
            [s](int32_t width) {
                if (!s || width <= 0 || s->count() < 2) {
                    return;
                }
                const int total = std::max(s->width(), width + s->handleWidth() + 1);
                s->setSizes({width, total - width - s->handleWidth()});
            });
        AddQtProperties(*this, panel, font_, nullptr);
    }

private:
    std::unique_ptr<TQtPublishedFont> font_;
};

} // namespace

void TForm_Ludex::FormCreate() {
    tree_ = new TBranchTree(treePictures_, this);
    tree_->SetView(TreeView);
    undo_ = std::make_unique<TBranchUndo>(*this);
    ComposeTreeImages(treePictures_);

    published_ = std::make_unique<TQtLocalizedForm>(*this, *this);
    published_->AddBoolean(
        "MemoWordWrap", [this] { return GetMemoWordWrap(); }, [this](bool value) { SetMemoWordWrap(value); });
    published_->AddBoolean(
        "AskBeforeRemove", [this] { return askBeforeRemove_; },
        [this](bool value) {
            askBeforeRemove_ = value;
            MI_AskBeforeRemove->setChecked(value);
        });
    publishedMainMenuBand_ = std::make_unique<TPublishedCoolBand>(MainMenuCoolBand());
    publishedCommonToolsBand_ = std::make_unique<TPublishedCoolBand>(CommonToolsCoolBand());
    TPublishedObject* menuBand = publishedMainMenuBand_.get();
    TPublishedObject* toolsBand = publishedCommonToolsBand_.get();
    published_->AddObject("MainMenuCoolBand", [menuBand] { return menuBand; });
    published_->AddObject("CommonToolsCoolBand", [toolsBand] { return toolsBand; });
    publishedTreePanel_ = std::make_unique<TPublishedSplitPanel>(*Splitter1, *Panel_TreeView);
    published_->AddComponent(*publishedTreePanel_);

    ConnectCommand(
        TreeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& current, const QModelIndex&) { TreeViewChanging(tree_->NodeAt(current)); });
    ConnectCommand(tree_, &TBranchTree::NodeEdited, this,
                   [this](TTreeNode* node, const std::string& text) { TreeViewEdited(node, text); });
    ConnectNotice(tree_, &TBranchTree::NodeAboutToBeDeleted, this,
                  [this](TTreeNode* node) noexcept { OnNodeAboutToBeDeleted(node); });
    TreeView->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);

    // The files to watch change with the documents at the top level.
    connect(tree_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int, int) noexcept {
                if (!parent.isValid()) {
                    FollowDocumentFiles();
                }
            });
    connect(tree_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex& parent, int, int) noexcept {
                if (!parent.isValid()) {
                    FollowDocumentFiles();
                }
            });
    documentWatch_ = new TDocumentWatch(*this, [this](TCheckDepth depth) { CheckDocumentFiles(depth); });
    documentWatch_->setParent(this);

    ConnectCommands();
    ConnectEditCommands();
    settingsTimer_ = new QTimer(this);
    settingsTimer_->setSingleShot(true);
    settingsTimer_->setInterval(kSettingsWriteDelay);
    connect(settingsTimer_, &QTimer::timeout, this, [this] { WriteChangedSettings(); });
    SettingsBailee().AddClient(*this);
    SetMark(nullptr);
}

TForm_Ludex::~TForm_Ludex() {
    SettingsBailee().RemoveClient(*this);
    LanguageLocaler().RemoveClient(*published_);
    recovery_.reset();
    delete documentWatch_;
    documentWatch_ = nullptr;
    ConnectMemo(TMemoChanges::Ignored);
    memoNode_ = nullptr;
    markedNode_ = nullptr;
    // The tree goes before the window's widgets, so that no document outlives its view.
    TreeView->setModel(nullptr);
    delete tree_;
    tree_ = nullptr;
}

TPublishedObject& TForm_Ludex::Published() {
    return *published_;
}

namespace {

// A start-up report, shown once the interface language is known.
struct TStartUpReport {
    std::string key;
    std::vector<std::string> arguments;
    std::string english;
};

} // namespace

void TForm_Ludex::StartUp(const std::string& executablePath, const std::string& commandLineFile,
                          const std::vector<TPublishedObject*>& forms) {
    // The current folder stays where the program was started; every file is found by its rule.
    const TFileLocations locations(executablePath, ProcessEnvironment());
    const std::string settingsFile = locations.SettingsFile();
    const std::string stencilFile = locations.StencilFile();
    std::vector<TStartUpReport> reports;

    // A missing or broken stencil is a broken installation. The window's designed state is kept
    // aside, so that a settings file is applied whole or not at all.
    TPropertyBailee designed;
    try {
        designed.LoadStencil(stencilFile);
    } catch (const std::exception& e) {
        throw EStartUp(std::string("The settings stencil cannot be read, Ludex cannot start.\n") + e.what());
    }
    designed.CreateEmpty(designed.StencilRoot()->GetNodeName());
    designed.SaveComponentProperties(*published_);

    // Settings that cannot be used are reported and kept aside; the program starts with defaults.
    TPropertyBailee& settings = SettingsBailee();
    try {
        settings.Open(settingsFile, stencilFile);
    } catch (const std::exception& e) {
        // What the file set before its bad value goes back as designed.
        designed.OpenPath("/" + objectName().toStdString());
        designed.LoadComponentProperties(*published_);
        setAttribute(Qt::WA_Moved, false); // the system places the window, as at a first start
        if (FileExists(settingsFile)) {
            try {
                RenameFile(settingsFile, settingsFile + ".broken"); // replaces an older broken copy
                reports.push_back(
                    {"SettingsUnusableKept",
                     {e.what(), settingsFile + ".broken"},
                     "The settings file cannot be used; Ludex starts with its default settings.\n{0}\n"
                     "The file has been kept as {1}"});
            } catch (const EInOutError&) {
                // The file stays, and opening it again below stops start-up with its error rather
                // than let the program write over it at exit.
            }
        }
        if (reports.empty()) {
            reports.push_back(
                {"SettingsUnusable",
                 {e.what()},
                 "The settings file cannot be used; Ludex starts with its default settings.\n{0}"});
        }
        settings.Open(settingsFile, stencilFile);
    }

    settings.OpenPath("/");
    const std::string codePage = settings.ReadValue("CodePage");
    if (!codePage.empty()) {
        try {
            SetCurrentCodePage(codePage);
        } catch (const std::exception& e) {
            reports.push_back({"CodePageUnusable",
                               {e.what(), CurrentCodePage().Name()},
                               "{0}\nThe code page {1} is used instead."});
        }
    }

    // How many backups a document save keeps (the settings file keeps none of its own).
    if (const std::string backups = settings.ReadValue("Backups"); !backups.empty()) {
        if (const std::optional<unsigned> count = ParseBackupCount(backups)) {
            backupCount_ = *count;
        } else {
            reports.push_back(
                {"BackupsUnusable",
                 {backups, std::to_string(kMostBackups), std::to_string(backupCount_)},
                 "The settings value Backups=\"{0}\" is no number from 0 to {1}; {2} backups are kept."});
        }
    }

    // The language of the last run; when its file is missing or broken, English, and only a
    // broken English file is a broken installation.
    TLXLocaler& localer = LanguageLocaler();
    localer.LanguageFolder = locations.DataFolder();
    localer.Language = LanguageFromSettings(settings);
    localer.RegisterForms(forms);
    try {
        localer.LoadCurrentLanguage();
    } catch (const std::exception& e) {
        if (localer.Language == langEnglish) {
            throw EStartUp("The language file " + localer.LanguageFileName() +
                           " cannot be read, Ludex cannot start.\n" + e.what());
        }
        reports.push_back({"LanguageFallback",
                           {localer.LanguageFileName(), e.what()},
                           "The language file {0} cannot be read; Ludex shows its English texts.\n{1}"});
        localer.Language = langEnglish;
        try {
            localer.LoadCurrentLanguage();
        } catch (const std::exception& english) {
            throw EStartUp("The language file " + localer.LanguageFileName() +
                           " cannot be read, Ludex cannot start.\n" + english.what());
        }
    }
    localer.OpenPath("/messages");
    for (const TStartUpReport& report : reports) {
        ModalQuestions().ShowError(this, Q(LocalizedMessage(report.key, report.arguments, report.english)));
    }

    // Snapshots left by a run that did not close come first, so that a restored document is not
    // opened a second time from its file below.
    settings.OpenPath("/");
    recovery_ = std::make_unique<TDocumentRecovery>(*this, locations.RecoveryFolder());
    recovery_->OfferLeftSnapshots();
    recovery_->SetInterval(RecoveryIntervalFromSettings(settings.ReadValue(kRecoveryIntervalValue)));

    RestoreDocuments(commandLineFile);
    // A help remembered by an earlier version is the program's own all the same.
    const std::string helps[] = {locations.HelpFile("ENG"), locations.HelpFile("RUS")};
    for (int i = 0; i < tree_->TopLevelCount(); ++i) {
        TLXDocument* document = tree_->TopLevel(i)->Document();
        if (std::find(std::begin(helps), std::end(helps), document->FileName()) != std::end(helps)) {
            document->SetProgramsOwn(true);
        }
    }
    UpdateFileCommands();
    startedUp_ = true;
}

void TForm_Ludex::OpenDocument(const std::string& fileName) {
    TLXDocument::Create(fileName, *tree_);
    Memo->setReadOnly(IsNodeLocked(tree_->Selected()));
}

void TForm_Ludex::RestoreDocuments(const std::string& commandLineFile) {
    auto openReporting = [this](const std::string& fileName) {
        try {
            OpenDocument(fileName);
            return true;
        } catch (const std::exception& e) {
            ModalQuestions().ShowError(this, Q(e.what()));
            return false;
        }
    };
    auto isOpen = [this](const std::string& fileName) {
        for (int i = 0; i < tree_->TopLevelCount(); ++i) {
            if (tree_->TopLevel(i)->Document()->FileName() == fileName) {
                return true;
            }
        }
        return false;
    };
    if (!commandLineFile.empty()) {
        // A document the user opened from outside (a file manager, a terminal) is one they opened:
        // it joins the recent files as File > Open's do.
        if (!isOpen(commandLineFile) && openReporting(commandLineFile)) {
            emit DocumentFileNamed(commandLineFile);
        }
        return;
    }
    TPropertyBailee& settings = SettingsBailee();
    settings.ForcePath("/documents");
    IXMLNodeListPtr children = settings.Current()->GetChildNodes();
    std::vector<std::string> files;
    for (int i = 0; children && i < children->GetCount(); ++i) {
        IXMLNodePtr child = children->Get(i);
        if (child->GetNodeType() == ntElement) {
            files.push_back(child->GetAttribute("file"));
        }
    }
    for (const std::string& file : files) {
        if (!file.empty() && FileExists(file) && !isOpen(file)) {
            openReporting(file);
        }
    }
}

void TForm_Ludex::LoadSettings(TPropertyBailee& bailee) {
    bailee.ForcePath("/" + objectName().toStdString());
    bailee.LoadComponentProperties(*published_);
}

void TForm_Ludex::SaveSettings(TPropertyBailee& bailee) {
    bailee.ForcePath("/documents");
    IXMLNodePtr documents = bailee.Current();
    documents->GetChildNodes()->Clear();
    for (int i = 0; i < tree_->TopLevelCount(); ++i) {
        const TLXDocument* open = tree_->TopLevel(i)->Document();
        if (!open->ProgramsOwn()) {
            IXMLNodePtr document = documents->AddChild("document");
            document->SetAttribute("file", open->FileName());
        }
    }
    // Reset To Default keeps the open documents (and the recent files, their own client) only.
    if (RestartOnExit) {
        return;
    }
    bailee.OpenPath("/");
    bailee.WriteValue("CodePage", CurrentCodePage().Name());
    bailee.WriteValue("Backups", std::to_string(backupCount_));
    if (recovery_) {
        bailee.WriteValue(kRecoveryIntervalValue, std::to_string(recovery_->Interval()));
    }
    bailee.WriteValue("Locale", LanguageName(LanguageLocaler().Language));
    bailee.SaveComponentProperties(*published_);
}

void TForm_Ludex::Localize(TLocaler& localer) {
    InstallQtTranslations(LanguageLocaler().Language);
    localer.LocalizeForm(*published_);
    // The band takes the size of the menu with its new captions.
    MainMenu->setMinimumWidth(MainMenu->sizeHint().width());
    MainMenu->adjustSize();
    ToolBar_Menu->adjustSize();
    // The tools say what their menu items say, without the items' mnemonic marks.
    const std::pair<QAction*, QAction*> tools[] = {
        {Button_New, MI_New}, {Button_Open, MI_Open}, {Button_Save, MI_Save}, {Button_SaveAll, MI_SaveAll}};
    for (const auto& [tool, item] : tools) {
        tool->setToolTip(WithoutMnemonic(item->text()));
    }
    // A tool bar is named by its title, which the window's context menu shows too. A screen
    // reader's view of a tool bar keeps the name it was made with: it is made anew.
    for (QToolBar* bar : {ToolBar_Menu, ToolBar_Common}) {
        bar->setAccessibleName(bar->windowTitle());
        if (QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(bar)) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(reader));
        }
    }
    // A tool shows only its picture; its text, which a screen reader says, is its hint.
    for (const QToolBar* bar : {ToolBar_Common, ToolBar_TreeView}) {
        for (QAction* tool : bar->actions()) {
            if (!tool->isSeparator() && !tool->toolTip().isEmpty()) {
                tool->setText(tool->toolTip());
            }
        }
    }
    const TLanguage language = LanguageLocaler().Language;
    MI_English->setChecked(language == langEnglish);
    MI_Russian->setChecked(language == langRussian);
    localer.OpenPath("/messages");
    UpdateCaption();
    SettingsChanged(); // a language switch is kept even if the program does not end normally
    if (TTreeNode* selected = tree_->Selected(); selected != nullptr && IsNodeLocked(selected)) {
        ShowMemo(ElementOf(selected)); // the locked text follows the language
    }
}

void TForm_Ludex::UpdateCaption() {
    setWindowTitle(Q(LanguageLocaler().FormatMessage("MainCaption", {ProgramVersion()})));
}

void TForm_Ludex::SettingsChanged() {
    if (startedUp_ && settingsTimer_ != nullptr) {
        settingsTimer_->start();
    }
}

void TForm_Ludex::WriteChangedSettings() noexcept {
    if (RestartOnExit) {
        return; // the settings are being reset; closing writes what is left of them
    }
    if (LongWorkRunning()) {
        settingsTimer_->start(); // the files are the work's until it ends
        return;
    }
    try {
        CreateFolderForOwner(std::filesystem::path(SettingsBailee().FileName()).parent_path().string());
        SettingsBailee().Save();
        settingsFailing_ = false;
    } catch (const std::exception& e) {
        // Reported once; the next change or the exit tries again.
        if (!settingsFailing_) {
            settingsFailing_ = true;
            try {
                ModalQuestions().ShowError(
                    this, Q(LanguageLocaler().FormatMessage("SettingsWriteFailed", {e.what()})));
            } catch (...) {
                // Nothing more can be done from a timer; the failure stays recorded.
            }
        }
    }
}

bool TForm_Ludex::FormCloseQuery() {
    if (!QuerySaveAll()) {
        return false;
    }
    settingsTimer_->stop();
    try {
        // The settings folder is made on the first save, so that a run that ends without saving
        // leaves nothing behind.
        CreateFolderForOwner(std::filesystem::path(SettingsBailee().FileName()).parent_path().string());
        SettingsBailee().Save();
    } catch (const std::exception& e) {
        // Without this way out a settings file that cannot be written would keep the program open.
        ModalQuestions().ShowError(this, Q(e.what()));
        return ModalQuestions().Ask(this,
                                    Q(LocalizedMessage("CloseWithoutSettingsQuery", {},
                                                       "The settings cannot be saved. Close Ludex without "
                                                       "saving them?")),
                                    TQuestionButtons::YesNo) == TAnswer::Yes;
    }
    return true;
}

void TForm_Ludex::closeEvent(QCloseEvent* event) {
    // Work under way ends first, stopped where it may be; the window closes after it.
    if (TLongWork* work = TLongWork::Running()) {
        work->RequestClose();
        event->ignore();
        return;
    }
    bool close = false;
    RunCommand(*this, [&] { close = FormCloseQuery(); });
    if (close) {
        // Every modified document has been saved or given up by the user: no snapshot is wanted.
        if (recovery_) {
            recovery_->ForgetAll();
        }
        LockBeforeExit();
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm_Ludex::LockBeforeExit() noexcept {
    // What remains of the process until it ends holds no deciphered text: every branch is locked
    // in memory (what cannot be locked is given up with its document when the windows go), the
    // memo shows nothing, and no secret copy stays on the clipboard.
    ConnectMemo(TMemoChanges::Ignored);
    memoNode_ = nullptr;
    memoModified_ = false;
    Memo->clear();
    Memo->ForgetAllCopies();
    try {
        for (int i = 0; i < tree_->TopLevelCount(); ++i) {
            LockAllBranches(tree_->TopLevel(i)->Document()->RootElement());
        }
        undo_->ForgetSecrets(nullptr);
    } catch (...) {
        // Out of memory: the documents go with the windows all the same.
    }
}

void TForm_Ludex::MI_ExitClick() {
    close();
}

void TForm_Ludex::MI_AboutClick() {
    if (about_ != nullptr) {
        ModalQuestions().Exec(*about_);
    }
}

} // namespace ludex

namespace ludex {

void TForm_Ludex::ConnectCommands() {
    auto on = [this](QAction* action, void (TForm_Ludex::*handler)()) {
        ConnectCommand(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    on(MI_New, &TForm_Ludex::MI_NewClick);
    on(Button_New, &TForm_Ludex::MI_NewClick);
    on(MI_Open, &TForm_Ludex::MI_OpenClick);
    on(Button_Open, &TForm_Ludex::MI_OpenClick);
    on(MI_Save, &TForm_Ludex::MI_SaveClick);
    on(Button_Save, &TForm_Ludex::MI_SaveClick);
    on(MI_SaveAs, &TForm_Ludex::MI_SaveAsClick);
    on(MI_SaveAll, &TForm_Ludex::MI_SaveAllClick);
    on(Button_SaveAll, &TForm_Ludex::MI_SaveAllClick);
    on(MI_Close, &TForm_Ludex::MI_CloseClick);
    on(MI_CloseAll, &TForm_Ludex::MI_CloseAllClick);
    on(MI_Exit, &TForm_Ludex::MI_ExitClick);
    on(MI_About, &TForm_Ludex::MI_AboutClick);
}

void TForm_Ludex::ConnectEditCommands() {
    ConnectCommand(MI_Undo, &QAction::triggered, this, [this] { undo_->Undo(); });
    ConnectCommand(MI_MenuBarKey, &QAction::triggered, this,
                   [this] { MainMenu->setActiveAction(MI_File->menuAction()); });
    ConnectCommand(MI_AskBeforeRemove, &QAction::triggered, this, [this](bool checked) {
        askBeforeRemove_ = checked;
        SettingsChanged();
    });
    ConnectCommand(MI_Redo, &QAction::triggered, this, [this] { undo_->Redo(); });
    // Each menu item gives its tool button's command and is enabled exactly when the button is.
    const std::pair<QAction*, QAction*> mirrors[] = {
        {MI_InsertBranch, Button_InsertBranch},
        {MI_InsertSubBranch, Button_InsertSubBranch},
        {MI_Rename, Button_Rename},
        {MI_RemoveBranch, Button_RemoveBranch},
        {MI_Cut, Button_Cut},
        {MI_Copy, Button_Copy},
        {MI_Paste, Button_Paste},
        {MI_CipherBranch, Button_CipherBranch},
        {MI_LockBranch, Button_LockBranch},
        {MI_Resort, Button_Resort},
    };
    for (const auto& mirror : mirrors) {
        QAction* item = mirror.first;
        QAction* button = mirror.second;
        ConnectCommand(item, &QAction::triggered, this, [button] { button->trigger(); });
        ConnectNotice(button, &QAction::changed, this,
                      [item, button]() noexcept { item->setEnabled(button->isEnabled()); });
        item->setEnabled(button->isEnabled());
    }
}

} // namespace ludex
