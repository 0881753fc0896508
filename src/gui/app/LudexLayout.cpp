// The main window's components and their layout, as designed: everything the settings and the
// language files can address is created here with its object name.
#include "gui/app/LudexUnit.h"

#include "core/document/XMLNodeAccess.h"
#include "gui/tree/BranchView.h"
#include "gui/tree/BranchViewStyle.h"

#include "gui/app/BranchUndo.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/LongWork.h"

#include "gui/properties/QtPublished.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QActionGroup>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>

namespace ludex {

namespace {
constexpr int kDesignedWidth = 535;
constexpr int kDesignedHeight = 338;
constexpr int kTreePanelWidth = 249;
constexpr int kStatusPanelWidth = 50;
constexpr int kTreeIndentation = 23;
constexpr int kContentFontPixels = 13;
} // namespace

TForm_Ludex::TForm_Ludex(QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form_Ludex");
    FillTreePictures(treePictures_);
    CreateComponents();
    resize(kDesignedWidth, kDesignedHeight);
    FormCreate();
    TLongWork::SetWindow(this);
}

QAction* TForm_Ludex::NewAction(QObject* parent, const char* name, const QString& caption) {
    auto* action = new QAction(caption, parent);
    action->setObjectName(name);
    return action;
}

QAction* TForm_Ludex::NewToolButton(QToolBar* bar, const char* name, const QString& hint, int picture) {
    QAction* action = NewAction(bar, name, hint);
    action->setToolTip(hint);
    action->setIcon(
        Pictures::IconFromPictures([picture](int size) { return Pictures::ToolPicture(picture, size); }));
    bar->addAction(action);
    return action;
}

void TForm_Ludex::CreateMenu() {
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName("MainMenu");
    // The menu lives in the first tool-bar band, so that it can be moved like the tools.
    MainMenu->setNativeMenuBar(false);

    MI_File = MainMenu->addMenu("File");
    MI_File->setObjectName("MI_File");
    MI_New = NewAction(MI_File, "MI_New", "New");
    MI_Open = NewAction(MI_File, "MI_Open", "Open");
    MI_Save = NewAction(MI_File, "MI_Save", "Save");
    MI_SaveAs = NewAction(MI_File, "MI_SaveAs", "Save As");
    MI_SaveAll = NewAction(MI_File, "MI_SaveAll", "Save All");
    MI_Close = NewAction(MI_File, "MI_Close", "Close");
    MI_CloseAll = NewAction(MI_File, "MI_CloseAll", "Close All");
    MI_Exit = NewAction(MI_File, "MI_Exit", "Exit");
    MI_LockAll = NewAction(MI_File, "MI_LockAll", "Lock All");
    MI_ExportBranch = NewAction(MI_File, "MI_ExportBranch", "Export Branch");
    MI_ExportDocument = NewAction(MI_File, "MI_ExportDocument", "Export Document");
    MI_Print = NewAction(MI_File, "MI_Print", "Print");
    MI_PrintPreview = NewAction(MI_File, "MI_PrintPreview", "Print Preview");
    MI_Print->setShortcut(QKeySequence::Print);
    MI_LockAll->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    MI_Close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    MI_Exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    MI_New->setShortcut(QKeySequence::New);
    MI_Open->setShortcut(QKeySequence::Open);
    MI_Save->setShortcut(QKeySequence::Save);
    MI_File->addActions({MI_New, MI_Open});
    MI_Recent = MI_File->addMenu("Recent");
    MI_Recent->setObjectName("MI_Recent");
    MI_Recent->addSeparator();
    MI_RecentRemoveMissing = NewAction(MI_Recent, "MI_RecentRemoveMissing", "Remove Missing Files");
    MI_Recent->addAction(MI_RecentRemoveMissing);
    MI_File->addSeparator();
    MI_File->addActions({MI_Save, MI_SaveAs, MI_SaveAll});
    MI_File->addSeparator();
    MI_File->addActions({MI_ExportBranch, MI_ExportDocument});
    MI_File->addSeparator();
    MI_File->addActions({MI_Print, MI_PrintPreview});
    MI_File->addSeparator();
    MI_File->addActions({MI_Close, MI_CloseAll, MI_LockAll});
    MI_File->addSeparator();
    MI_File->addAction(MI_Exit);

    MI_MenuBarKey = NewAction(this, "MI_MenuBarKey", QString());
    MI_MenuBarKey->setShortcut(QKeySequence(Qt::Key_F10));
    MI_MenuBarKey->setShortcutContext(Qt::WindowShortcut);
    addAction(MI_MenuBarKey);

    MI_Edit = MainMenu->addMenu("Edit");
    MI_Edit->setObjectName("MI_Edit");
    MI_Find = NewAction(MI_Edit, "MI_Find", "Find");
    MI_Find->setShortcut(QKeySequence::Find);
    MI_Edit->addAction(MI_Find);

    MI_Settings = MainMenu->addMenu("Settings");
    MI_Settings->setObjectName("MI_Settings");
    MI_Language = MI_Settings->addMenu("Language");
    MI_Language->setObjectName("MI_Language");
    MI_English = NewAction(MI_Language, "MI_English", "English");
    MI_Russian = NewAction(MI_Language, "MI_Russian", "Russian");
    languageGroup_ = new QActionGroup(this);
    for (QAction* item : {MI_English, MI_Russian}) {
        item->setCheckable(true);
        languageGroup_->addAction(item);
        MI_Language->addAction(item);
    }
    MI_English->setChecked(true);
    MI_Font = MI_Settings->addMenu("Font");
    MI_Font->setObjectName("MI_Font");
    MI_TreeViewFont = NewAction(MI_Font, "MI_TreeViewFont", "Tree");
    MI_MemoFont = NewAction(MI_Font, "MI_MemoFont", "Memo");
    MI_Font->addActions({MI_TreeViewFont, MI_MemoFont});
    MI_WordWrapMemo = NewAction(MI_Settings, "MI_WordWrapMemo", "Word Wrap Memo");
    MI_WordWrapMemo->setCheckable(true);
    MI_Settings->addAction(MI_WordWrapMemo);
    MI_AskBeforeRemove = NewAction(MI_Settings, "MI_AskBeforeRemove", "Ask Before Removing Branches");
    MI_AskBeforeRemove->setCheckable(true);
    MI_AskBeforeRemove->setChecked(true);
    MI_Settings->addAction(MI_AskBeforeRemove);
    MI_Settings->addSeparator();
    MI_CodePage = MI_Settings->addMenu("Code Page");
    MI_CodePage->setObjectName("MI_CodePage");
    MI_CompatibleScheme =
        NewAction(MI_Settings, "MI_CompatibleScheme", "Compatible Encryption for New Branches");
    MI_CompatibleScheme->setCheckable(true);
    MI_Settings->addAction(MI_CompatibleScheme);
    MI_AutoLock = MI_Settings->addMenu("Lock All When Idle");
    MI_AutoLock->setObjectName("MI_AutoLock");
    auto* autoLockGroup = new QActionGroup(MI_AutoLock);
    for (const int minutes : {0, 1, 5, 10, 30, 60}) {
        const QString name = QString("MI_AutoLock%1").arg(minutes);
        QAction* item = NewAction(MI_AutoLock, name.toLatin1().constData(), QString::number(minutes));
        item->setCheckable(true);
        item->setData(minutes);
        autoLockGroup->addAction(item);
        MI_AutoLock->addAction(item);
    }
    MI_LockOnMinimize = NewAction(MI_Settings, "MI_LockOnMinimize", "Lock All When Minimised");
    MI_LockOnMinimize->setCheckable(true);
    MI_Settings->addAction(MI_LockOnMinimize);
    MI_Settings->addSeparator();
    MI_Preferences = NewAction(MI_Settings, "MI_Preferences", "Preferences");
    MI_Settings->addAction(MI_Preferences);
    MI_ResetToDefault = NewAction(MI_Settings, "MI_ResetToDefault", "Reset To Default");
    MI_Settings->addAction(MI_ResetToDefault);

    MI_Help = MainMenu->addMenu("Help");
    MI_Help->setObjectName("MI_Help");
    MI_HelpTopics = NewAction(MI_Help, "MI_HelpTopics", "Help Topics");
    MI_HelpTopics->setShortcut(QKeySequence::HelpContents);
    MI_About = NewAction(MI_Help, "MI_About", "About");
    MI_Help->addAction(MI_HelpTopics);
    MI_Help->addSeparator();
    MI_Help->addAction(MI_About);
}

void TForm_Ludex::CreateEditCommands() {
    struct TEditItem {
        QAction*& action;
        const char* name;
        const char* caption;
        QList<QKeySequence> keys;
    };
    const TEditItem items[] = {
        {MI_Undo, "MI_Undo", "Undo", {QKeySequence(Qt::CTRL | Qt::Key_Z)}},
        {MI_Redo,
         "MI_Redo",
         "Redo",
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)}},
        {MI_InsertBranch, "MI_InsertBranch", "Insert Branch", {QKeySequence(Qt::Key_Insert)}},
        {MI_InsertSubBranch,
         "MI_InsertSubBranch",
         "Insert Sub-branch",
         {QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
        {MI_Rename, "MI_Rename", "Rename", {QKeySequence(Qt::Key_F2)}},
        {MI_RemoveBranch, "MI_RemoveBranch", "Remove", {QKeySequence(Qt::Key_Delete)}},
        {MI_Cut, "MI_Cut", "Cut", {QKeySequence(Qt::CTRL | Qt::Key_X)}},
        {MI_Copy, "MI_Copy", "Copy", {QKeySequence(Qt::CTRL | Qt::Key_C)}},
        {MI_Paste, "MI_Paste", "Paste", {QKeySequence(Qt::CTRL | Qt::Key_V)}},
        {MI_CipherBranch, "MI_CipherBranch", "Encrypt/Decrypt...", {QKeySequence(Qt::CTRL | Qt::Key_E)}},
        {MI_LockBranch, "MI_LockBranch", "Lock/Unlock", {QKeySequence(Qt::CTRL | Qt::Key_L)}},
        {MI_Resort, "MI_Resort", "Sort", {}},
    };
    // The branch keys belong to the tree: in the memo the keys that edit text keep their text
    // meaning (the others are given to the memo as well), and in a title being edited they edit
    // the title.
    TreeView->setContextMenuPolicy(Qt::ActionsContextMenu);
    MI_Edit->setToolTipsVisible(true); // the hints of the language files
    MI_Settings->setToolTipsVisible(true);
    MI_Edit->addSeparator();
    for (const TEditItem& item : items) {
        item.action = NewAction(MI_Edit, item.name, item.caption);
        item.action->setShortcuts(item.keys);
        item.action->setShortcutContext(Qt::WidgetShortcut);
        MI_Edit->addAction(item.action);
        TreeView->addAction(item.action);
        if (item.action == MI_Redo || item.action == MI_Rename || item.action == MI_Paste ||
            item.action == MI_LockBranch) {
            MI_Edit->addSeparator();
            auto* separator = new QAction(TreeView);
            separator->setSeparator(true);
            TreeView->addAction(separator);
        }
    }
}

void TForm_Ludex::CreateToolBars() {
    coolBar_ = std::make_unique<TCoolBar>(*this);

    ToolBar_Menu = new QToolBar(this);
    ToolBar_Menu->setObjectName("ToolBar_Menu");
    ToolBar_Menu->setWindowTitle("Menu");
    ToolBar_Menu->addWidget(MainMenu);
    coolBar_->AddBand(*ToolBar_Menu);

    ToolBar_Common = new QToolBar(this);
    ToolBar_Common->setObjectName("ToolBar_Common");
    ToolBar_Common->setWindowTitle("Tools");
    ToolBar_Common->setIconSize(QSize(16, 16));
    Button_New = NewToolButton(ToolBar_Common, "Button_New", "New", 7);
    Button_Open = NewToolButton(ToolBar_Common, "Button_Open", "Open", 8);
    Button_Save = NewToolButton(ToolBar_Common, "Button_Save", "Save", 9);
    Button_SaveAll = NewToolButton(ToolBar_Common, "Button_SaveAll", "Save All", 10);
    coolBar_->AddBand(*ToolBar_Common);

    // The wrappers are made for the bands as designed: the menu's band first.
    mainMenuCoolBand_ = std::make_unique<TOrderOfCoolBand>(*coolBar_, *ToolBar_Menu);
    commonToolsCoolBand_ = std::make_unique<TOrderOfCoolBand>(*coolBar_, *ToolBar_Common);

    ToolBar_TreeView = new QToolBar(Panel_TreeView);
    ToolBar_TreeView->setObjectName("ToolBar_TreeView");
    ToolBar_TreeView->setOrientation(Qt::Vertical);
    ToolBar_TreeView->setIconSize(QSize(16, 16));
    ToolBar_TreeView->setMovable(false);
    Button_InsertBranch =
        NewToolButton(ToolBar_TreeView, "Button_InsertBranch", "Insert Branch (Open File)", 0);
    Button_InsertSubBranch = NewToolButton(ToolBar_TreeView, "Button_InsertSubBranch", "Insert SubBranch", 1);
    Button_RemoveBranch =
        NewToolButton(ToolBar_TreeView, "Button_RemoveBranch", "Remove Branch (Close File)", 2);
    Button_Rename = NewToolButton(ToolBar_TreeView, "Button_Rename", "Rename Branch", 13);
    ToolBar_TreeView->addSeparator();
    Button_Cut = NewToolButton(ToolBar_TreeView, "Button_Cut", "Cut Branch", 3);
    Button_Copy = NewToolButton(ToolBar_TreeView, "Button_Copy", "Copy Branch", 4);
    Button_Paste = NewToolButton(ToolBar_TreeView, "Button_Paste", "Paste Branch", 5);
    ToolBar_TreeView->addSeparator();
    Button_CipherBranch =
        NewToolButton(ToolBar_TreeView, "Button_CipherBranch", "Encrypt/Decrypt Branch", 11);
    Button_LockBranch =
        NewToolButton(ToolBar_TreeView, "Button_LockBranch", "Lock/Unlock Encrypted Branch", 12);
    ToolBar_TreeView->addSeparator();
    Button_Resort = NewToolButton(ToolBar_TreeView, "Button_Resort", "Resort", 6);
}

void TForm_Ludex::CreateComponents() {
    CreateMenu();

    QFont contentFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    contentFont.setPixelSize(kContentFontPixels);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setChildrenCollapsible(false);

    Panel_TreeView = new QWidget(Splitter1);
    Panel_TreeView->setObjectName("Panel_TreeView");
    auto* panelLayout = new QHBoxLayout(Panel_TreeView);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);

    CreateToolBars();

    auto* branchView = new TBranchView(Panel_TreeView);
    TreeView = branchView;
    TreeView->setObjectName("TreeView");
    TreeView->setHeaderHidden(true);
    TreeView->setIndentation(kTreeIndentation);
    TreeView->setFont(contentFont);
    TreeView->setUniformRowHeights(true);
    auto* treeStyle = new TBranchViewStyle;
    treeStyle->setParent(TreeView);
    TreeView->setStyle(treeStyle);
    TreeView->setIconSize(QSize(16, 16));
    // A branch dragged onto another moves there (copied with Ctrl); the view scrolls and opens
    // closed branches while dragging.
    TreeView->setDragDropMode(QAbstractItemView::DragDrop);
    TreeView->setDefaultDropAction(Qt::MoveAction);
    branchView->SetHoverOpenDelay(std::chrono::milliseconds(700));
    TreeView->setAutoScroll(true);
    CreateEditCommands();
    panelLayout->addWidget(ToolBar_TreeView);
    panelLayout->addWidget(TreeView, 1);

    Memo = new TMemoEdit(Splitter1);
    // The memo of a branch that is saved enciphered is secret on the clipboard too.
    Memo->SetSecretSource([this] {
        std::vector<uintptr_t> encrypted;
        for (TDomNode element = ElementOf(memoNode_); element; element = element.Parent()) {
            if (element.IsElement() && IsBranchEncrypted(element)) {
                encrypted.push_back(element.Id());
            }
        }
        return encrypted;
    });
    Memo->setObjectName("Memo");
    Memo->setFont(contentFont);
    Memo->setReadOnly(true);
    // The branch commands whose keys mean nothing to text reach the selected branch from the
    // memo too (Insert, F2, Ctrl+E, Ctrl+L); the others keep their meaning for the text.
    for (QAction* command : {MI_InsertBranch, MI_Rename, MI_CipherBranch, MI_LockBranch}) {
        Memo->addAction(command);
    }

    Splitter1->addWidget(Panel_TreeView);
    Splitter1->addWidget(Memo);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Panel_TreeView->resize(kTreePanelWidth, Panel_TreeView->height());
    Splitter1->setSizes({kTreePanelWidth, kDesignedWidth - kTreePanelWidth});
    setCentralWidget(Splitter1);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusPanel = new QLabel(StatusBar);
    StatusPanel->setMinimumWidth(kStatusPanelWidth);
    StatusBar->addWidget(StatusPanel, 1);
    setStatusBar(StatusBar);

    SetMemoWordWrap(true);
}

bool TForm_Ludex::GetMemoWordWrap() const {
    return Memo->lineWrapMode() != QPlainTextEdit::NoWrap;
}

void TForm_Ludex::SetMemoWordWrap(bool value) {
    Memo->setLineWrapMode(value ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setHorizontalScrollBarPolicy(value ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    MI_WordWrapMemo->setChecked(value);
}

void TForm_Ludex::SetStatusText(const QString& text) {
    StatusPanel->setText(text);
}

} // namespace ludex
