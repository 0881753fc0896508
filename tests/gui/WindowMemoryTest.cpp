// The window as it is remembered from one run to the next: layout, fonts and colours, a settings
// file applied whole or not at all, the language that loaded last.
#include "GuiTestSupport.h"

#include "core/settings/LX_Localer.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ProgramWindows.h"
#include "gui/app/RecentFilesMenu.h"
#include "gui/properties/QtPublished.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <QApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QToolBar>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>

namespace ludex::test {
namespace {

namespace fs = std::filesystem;

class WindowMemoryTest : public TProgramTest {};

struct TLayout {
    QPoint position;
    QSize size;
    QList<int> splitter;
    QFont treeFont;
    QFont memoFont;
    bool operator==(const TLayout&) const = default;
};

TLayout LayoutOf(TForm_Ludex& window) {
    return {window.pos(), window.size(), window.Splitter1->sizes(), window.TreeView->font(),
            window.Memo->font()};
}

TEST_F(WindowMemoryTest, TenRestartsKeepPositionSizeSplitterAndFonts) {
    Start();
    Window().show();
    Window().move(140, 90);
    Window().resize(760, 520);
    Window().Splitter1->setSizes({310, 440});
    QFont tree("Serif");
    tree.setPixelSize(17);
    tree.setItalic(true);
    Window().TreeView->setFont(tree);
    QFont memo("Monospace");
    memo.setPixelSize(15);
    memo.setBold(true);
    Window().Memo->setFont(memo);
    QCoreApplication::processEvents();
    const TLayout expected = LayoutOf(Window());
    ASSERT_EQ(expected.splitter.at(0), 310);
    ASSERT_TRUE(Close());
    for (int run = 1; run <= 10; ++run) {
        SCOPED_TRACE(run);
        Start();
        Window().show();
        QCoreApplication::processEvents();
        const TLayout restored = LayoutOf(Window());
        EXPECT_EQ(restored.position, expected.position);
        EXPECT_EQ(restored.size, expected.size);
        EXPECT_EQ(restored.splitter, expected.splitter);
        EXPECT_EQ(restored.treeFont, expected.treeFont);
        EXPECT_EQ(restored.memoFont, expected.memoFont);
        ASSERT_TRUE(Close());
    }
}

// Minimised at the next start, the window could not be found without a task bar: it comes back
// as it was before it was minimised, also from a settings file that says it was minimised.
TEST_F(WindowMemoryTest, TheWindowNeverStartsMinimised) {
    const struct {
        const char* name;
        Qt::WindowStates atClose;
        bool maximised;
    } cases[] = {
        {"minimised", Qt::WindowMinimized, false},
        {"minimised from maximised", Qt::WindowMinimized | Qt::WindowMaximized, true},
        {"an earlier version's file", Qt::WindowNoState, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        Window().show();
        Window().setWindowState(c.atClose);
        QCoreApplication::processEvents();
        ASSERT_TRUE(Close());
        std::string settings = ReadFile(SettingsFile());
        EXPECT_EQ(settings.find("wsMinimized"), std::string::npos) << settings;
        if (c.atClose == Qt::WindowNoState) {
            const size_t at = settings.find("WindowState=\"wsNormal\"");
            ASSERT_NE(at, std::string::npos) << settings;
            WriteFile("ludex_Settings.xml", settings.replace(at, 22, "WindowState=\"wsMinimized\""));
        }
        Start();
        Window().show();
        EXPECT_FALSE(Window().windowState().testFlag(Qt::WindowMinimized));
        EXPECT_EQ(Window().windowState().testFlag(Qt::WindowMaximized), c.maximised);
        Discard();
    }
}

TEST_F(WindowMemoryTest, ATextColourIsSavedOnlyWhenChosen) {
    const QPalette original = QApplication::palette();
    QPalette dark = original;
    dark.setColor(QPalette::Text, QColor(220, 220, 220));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    QApplication::setPalette(dark);
    Start();
    ASSERT_TRUE(Close());
    QApplication::setPalette(original);
    const std::string settings = ReadFile(SettingsFile());
    EXPECT_EQ(settings.find("Color=\"14474460\""), std::string::npos) << settings;
    EXPECT_NE(settings.find("Color=\"" + std::to_string(kThemeTextColor) + "\""), std::string::npos);

    // The next run under a light theme follows it.
    Start();
    EXPECT_EQ(Window().Memo->palette().color(QPalette::Text), original.color(QPalette::Text));
    EXPECT_EQ(Window().TreeView->palette().color(QPalette::Text), original.color(QPalette::Text));
    // A colour that was chosen stays chosen, across a run.
    TPublishedObject* memoFont =
        Window().Published().FindComponent("Memo")->FindProperty("Font")->GetObject();
    memoFont->FindProperty("Color")->SetOrdinal(0x0000FF); // red, as 0x00BBGGRR
    ASSERT_TRUE(Close());
    Start();
    EXPECT_EQ(Window().Memo->palette().color(QPalette::Text), QColor(255, 0, 0));
}

TEST_F(WindowMemoryTest, ASettingsFileIsAppliedWholeOrNotAtAll) {
    const QFont designedFont = [this] {
        Start();
        const QFont font = Window().TreeView->font();
        Discard();
        return font;
    }();
    // The window's size and the tree's font come before the bad value and must not stay.
    WriteFile("ludex_Settings.xml", R"(<?xml version="1.0" encoding="utf-8"?>
<LudexSettings><Form_Ludex>
  <Form_Ludex Left="5" Top="6" Width="901" Height="702" MemoWordWrap="False"/>
  <Panel_TreeView Width="333"/>
  <TreeView><Font Name="Serif" Height="21"/></TreeView>
  <Memo><Font Height="not a number"/></Memo>
</Form_Ludex></LudexSettings>)");
    Start();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_TRUE(Questions().Errors[0].contains("not a number")) << Questions().Errors[0].toStdString();
    EXPECT_EQ(Window().size(), QSize(535, 338));
    EXPECT_TRUE(Window().GetMemoWordWrap());
    EXPECT_EQ(Window().TreeView->font(), designedFont);
    EXPECT_FALSE(Window().testAttribute(Qt::WA_Moved));
    EXPECT_TRUE(fs::exists(SettingsFile() + ".broken"));
}

TEST_F(WindowMemoryTest, AMissingLanguageFileFallsBackToEnglishAtStartUp) {
    WriteFile("ludex_Settings.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?><LudexSettings Locale=\"langRussian\"/>");
    fs::remove(PathOf("Language.RUS.xml"));
    Start();
    EXPECT_EQ(LanguageLocaler().Language, langEnglish);
    EXPECT_TRUE(Window().MI_English->isChecked());
    EXPECT_EQ(Window().MI_File->title(), "&File");
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_TRUE(Questions().Errors[0].contains("Language.RUS.xml")) << Questions().Errors[0].toStdString();
    ASSERT_TRUE(Close());
    EXPECT_NE(ReadFile(SettingsFile()).find("Locale=\"langEnglish\""), std::string::npos);
}

TEST_F(WindowMemoryTest, TheTreePanelWidthIsRestored) {
    WriteFile("ludex_Settings.xml", R"(<?xml version="1.0" encoding="utf-8"?>
<LudexSettings><Form_Ludex><Form_Ludex Width="800" Height="500"/><Panel_TreeView Width="377"/></Form_Ludex></LudexSettings>)");
    Start();
    Window().show();
    QCoreApplication::processEvents();
    EXPECT_EQ(Window().Panel_TreeView->width(), 377);
    Window().resize(900, 500); // a wider window widens the memo, not the tree
    QCoreApplication::processEvents();
    EXPECT_EQ(Window().Panel_TreeView->width(), 377);
}

TEST_F(WindowMemoryTest, EnterWithoutAChangeLeavesTheDocumentUnmodified) {
    Start();
    Window().MI_New->trigger();
    TTreeNode* top = Window().Tree().TopLevel(0);
    top->Document()->SetModified(false);
    const QString title = Window().Tree().IndexOf(top).data().toString();
    EditTitle(top, title);
    EXPECT_FALSE(top->Document()->Modified());
    EditTitle(top, title + " 2");
    EXPECT_TRUE(top->Document()->Modified());
}

TEST_F(WindowMemoryTest, TheBandsStayDockedAndVisible) {
    Start();
    Window().show();
    for (QToolBar* band : {Window().ToolBar_Menu, Window().ToolBar_Common}) {
        SCOPED_TRACE(band->objectName().toStdString());
        EXPECT_FALSE(band->isFloatable());
        EXPECT_TRUE(band->isMovable()); // the order of the bands can still change
        EXPECT_EQ(band->allowedAreas(), Qt::TopToolBarArea);
        EXPECT_FALSE(band->toggleViewAction()->isEnabled());
    }
    EXPECT_EQ(Window().createPopupMenu(), nullptr);
    EXPECT_EQ(QApplication::applicationDisplayName(), QApplication::applicationName());
}

// The entries of File > Recent: file name and whether it can be chosen.
std::vector<std::pair<std::string, bool>> RecentEntries(TForm_Ludex& window) {
    std::vector<std::pair<std::string, bool>> entries;
    for (QAction* item : window.MI_Recent->actions()) {
        if (item->property("recentFile").isValid()) {
            entries.emplace_back(item->property("recentFile").toString().toStdString(), item->isEnabled());
        }
    }
    return entries;
}

TEST_F(WindowMemoryTest, RecentFilesAreKeptAndMissingOnesCanBeRemoved) {
    Start();
    EXPECT_FALSE(Window().MI_Recent->isEnabled()); // nothing yet
    for (const char* name : {"first", "second", "third"}) {
        Window().MI_New->trigger();
        Questions().FileNames.push_back(QString::fromStdString(PathOf(name)));
        Window().MI_Save->trigger();
    }
    Window().MI_CloseAll->trigger();
    Questions().FileNames.push_back(QString::fromStdString(PathOf("first.ldx")));
    Window().MI_Open->trigger();
    using Entries = std::vector<std::pair<std::string, bool>>;
    EXPECT_EQ(
        RecentEntries(Window()),
        (Entries{{PathOf("first.ldx"), true}, {PathOf("third.ldx"), true}, {PathOf("second.ldx"), true}}));
    ASSERT_TRUE(Close());

    fs::remove(PathOf("third.ldx"));
    Start();
    Windows().RecentFiles->Fill(); // as when the menu opens
    EXPECT_EQ(
        RecentEntries(Window()),
        (Entries{{PathOf("first.ldx"), true}, {PathOf("third.ldx"), false}, {PathOf("second.ldx"), true}}));
    EXPECT_TRUE(Window().MI_RecentRemoveMissing->isEnabled());
    Window().MI_RecentRemoveMissing->trigger();
    EXPECT_EQ(RecentEntries(Window()), (Entries{{PathOf("first.ldx"), true}, {PathOf("second.ldx"), true}}));
    EXPECT_FALSE(Window().MI_RecentRemoveMissing->isEnabled());

    // Choosing an open document selects it; a closed one is opened and moves first.
    ASSERT_EQ(Window().Tree().TopLevelCount(), 1);
    Window().MI_Recent->actions().at(0)->trigger();
    EXPECT_EQ(Window().Tree().TopLevelCount(), 1);
    Window().MI_Recent->actions().at(1)->trigger();
    ASSERT_EQ(Window().Tree().TopLevelCount(), 2);
    EXPECT_EQ(Window().SelectedDocument()->FileName(), PathOf("second.ldx"));
    EXPECT_EQ(Windows().RecentFiles->Files().Files().front(), PathOf("second.ldx"));
    ASSERT_TRUE(Close());

    // A document named on the command line (as a file manager opens it) joins them too.
    const std::string outside =
        WriteFile("outside.ldx", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex version=\"2.1.0 \" "
                                 "title=\"Outside\" memo=\"\"/>");
    Start(outside);
    EXPECT_EQ(Windows().RecentFiles->Files().Files().front(), outside);
}

} // namespace
} // namespace ludex::test
