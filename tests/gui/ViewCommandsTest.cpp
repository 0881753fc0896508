// The Settings and Help menus: language switch of every window, fonts, word wrap, reset, help
// documents; and the shipped help documents themselves.
#include "GuiTestSupport.h"

#include "core/document/BranchCipher.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "core/settings/LX_Utils.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/ViewCommands.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>

#include <filesystem>

namespace ludex::test {
namespace {

namespace fs = std::filesystem;

class ViewCommandsTest : public TProgramTest {
protected:
    void CopyHelp() {
        for (const char* name : {"ludex_ENG.help", "ludex_RUS.help"}) {
            fs::copy_file(fs::path(LUDEX_BIN_DIR) / name, PathOf(name), fs::copy_options::overwrite_existing);
        }
    }
    TViewCommands& Commands() { return *Windows().ViewCommands; }
    TBranchTree& Tree() { return Window().Tree(); }
};

TEST_F(ViewCommandsTest, LanguageSwitchReachesEveryWindow) {
    Start();
    struct Case {
        QAction* (*item)(TForm_Ludex&);
        TLanguage language;
        const char* fileMenu;
        const char* findLabel;
        const char* scopeItem;
        const char* findButton;
        const char* aboutWord;
    };
    const std::vector<Case> cases = {
        {[](TForm_Ludex& w) { return w.MI_Russian; }, langRussian, "&\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB",
         "\xD0\xA7\xD1\x82\xD0\xBE \xD0\xB8\xD1\x81\xD0\xBA\xD0\xB0\xD1\x82\xD1\x8C:",
         "\xD0\x92\xD0\xB5\xD0\xB7\xD0\xB4\xD0\xB5", "\xD0\x9D\xD0\xB0\xD0\xB9\xD1\x82\xD0\xB8",
         "\xD0\x92\xD0\xB5\xD1\x80\xD1\x81\xD0\xB8\xD1\x8F"},
        // The language already active: the same file again.
        {[](TForm_Ludex& w) { return w.MI_Russian; }, langRussian, "&\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB",
         "\xD0\xA7\xD1\x82\xD0\xBE \xD0\xB8\xD1\x81\xD0\xBA\xD0\xB0\xD1\x82\xD1\x8C:",
         "\xD0\x92\xD0\xB5\xD0\xB7\xD0\xB4\xD0\xB5", "\xD0\x9D\xD0\xB0\xD0\xB9\xD1\x82\xD0\xB8",
         "\xD0\x92\xD0\xB5\xD1\x80\xD1\x81\xD0\xB8\xD1\x8F"},
        {[](TForm_Ludex& w) { return w.MI_English; }, langEnglish, "&File", "Find what:", "Everywhere",
         "Find", "Version"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileMenu);
        // Texts changed by hand must be put right again by the reload.
        Windows().Find->Label_FindWhat->setText("stale");
        c.item(Window())->trigger();
        EXPECT_EQ(LanguageLocaler().Language, c.language);
        EXPECT_EQ(c.item(Window())->isChecked(), true);
        EXPECT_NE(Window().MI_English->isChecked(), Window().MI_Russian->isChecked());
        EXPECT_EQ(Window().MI_File->title().toStdString(), c.fileMenu);
        EXPECT_EQ(Windows().Find->Label_FindWhat->text().toStdString(), c.findLabel);
        EXPECT_EQ(Windows().Find->Radio_Everywhere->text().toStdString(), c.scopeItem);
        EXPECT_EQ(Windows().Find->Button_Find->text().toStdString(), c.findButton);
        EXPECT_NE(Windows().About->Label_Info->text().toStdString().find(c.aboutWord), std::string::npos);
        EXPECT_EQ(Window().windowTitle().toStdString(),
                  LanguageLocaler().FormatMessage("MainCaption", {ProgramVersion()}));
        // The messages are there for everybody after the switch.
        EXPECT_EQ(LanguageLocaler().GetMessage("Find"), c.findButton);
    }
}

TEST_F(ViewCommandsTest, NoCheckedLanguageIsAnErrorAndReloadsNothing) {
    Start();
    Window().MI_English->setChecked(false);
    Window().MI_Russian->setChecked(false);
    ASSERT_FALSE(Window().MI_English->isChecked() || Window().MI_Russian->isChecked());
    // No menu item reaches this state (triggering one checks it): the command runs without a sender.
    RunCommand(*Window().MI_Language, [this] { Commands().OnChangeLanguageClick(nullptr); });
    EXPECT_EQ(Questions().Errors, (std::vector<QString>{"Language is not defined"}));
    EXPECT_EQ(LanguageLocaler().Language, langEnglish);
}

TEST_F(ViewCommandsTest, MissingLanguageFileKeepsTheOldTexts) {
    Start();
    fs::remove(PathOf("Language.RUS.xml"));
    Window().MI_Russian->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find("Language.RUS.xml"), std::string::npos)
        << Questions().Errors[0].toStdString();
    EXPECT_EQ(Window().MI_File->title(), "&File");
    EXPECT_EQ(LanguageLocaler().GetMessage("Find"), "Find");
}

TEST_F(ViewCommandsTest, WordWrapTogglesWithItsScrollBars) {
    Start();
    struct State {
        bool wrap;
        Qt::ScrollBarPolicy horizontal;
    };
    for (const State& s : {State{false, Qt::ScrollBarAlwaysOn}, State{true, Qt::ScrollBarAlwaysOff}}) {
        Window().MI_WordWrapMemo->trigger();
        EXPECT_EQ(Window().GetMemoWordWrap(), s.wrap);
        EXPECT_EQ(Window().MI_WordWrapMemo->isChecked(), s.wrap);
        EXPECT_EQ(Window().Memo->horizontalScrollBarPolicy(), s.horizontal);
        EXPECT_EQ(Window().Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }
}

TEST_F(ViewCommandsTest, FontDialogsChangeOnlyWhenConfirmed) {
    Start();
    struct Case {
        QAction* (*item)(TForm_Ludex&);
        QWidget* (*control)(TForm_Ludex&);
    };
    const std::vector<Case> cases = {
        {[](TForm_Ludex& w) { return w.MI_TreeViewFont; },
         [](TForm_Ludex& w) -> QWidget* { return w.TreeView; }},
        {[](TForm_Ludex& w) { return w.MI_MemoFont; }, [](TForm_Ludex& w) -> QWidget* { return w.Memo; }},
    };
    for (const Case& c : cases) {
        const QFont before = c.control(Window())->font();
        Questions().Fonts.push_back(std::nullopt);
        c.item(Window())->trigger();
        EXPECT_EQ(c.control(Window())->font(), before) << "cancelled";
        QFont chosen("Serif");
        chosen.setPointSize(before.pointSize() + 7);
        chosen.setItalic(true);
        Questions().Fonts.push_back(chosen);
        c.item(Window())->trigger();
        EXPECT_EQ(c.control(Window())->font().pointSize(), before.pointSize() + 7);
        EXPECT_TRUE(c.control(Window())->font().italic());
    }
    EXPECT_TRUE(Questions().Fonts.empty());
}

TEST_F(ViewCommandsTest, ResetNoChangesNothing) {
    Start();
    Window().show();
    Questions().Answers.push_back(TAnswer::No);
    Window().MI_ResetToDefault->trigger();
    EXPECT_FALSE(RestartOnExit);
    EXPECT_TRUE(Window().isVisible());
    ASSERT_EQ(Questions().Asked.size(), 1u);
    EXPECT_EQ(Questions().Asked[0].toStdString(), LanguageLocaler().GetMessage("ResetSettings"));
}

TEST_F(ViewCommandsTest, ResetWritesOnlyTheDocumentListAndRestarts) {
    const std::string file = WriteFile("kept.ldx", "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                                   "<ludex version=\"2.1.0 \" title=\"Kept\" memo=\"\"/>");
    // Every setting away from its default: the values of the settings' root, the encryption
    // settings and the find dialog's place.
    WriteFile("ludex_Settings.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
              "<LudexSettings CodePage=\"koi8-r\" Backups=\"7\" RecoveryInterval=\"95\" "
              "CipherScheme=\"compatible\" AutoLockMinutes=\"5\" LockOnMinimize=\"True\">"
              "<Form_Find Left=\"10\" Top=\"20\" Width=\"400\" Height=\"300\"/></LudexSettings>");
    Start(file);
    Window().MI_Russian->trigger();
    Window().MI_Find->trigger();
    Window().show();
    Questions().Answers.push_back(TAnswer::Yes);
    Window().MI_ResetToDefault->trigger();
    EXPECT_TRUE(RestartOnExit);
    EXPECT_FALSE(Window().isVisible()) << "the window closed";
    const std::string settings = ReadFile(SettingsFile());
    EXPECT_NE(settings.find("<documents>"), std::string::npos) << settings;
    EXPECT_NE(settings.find("kept.ldx"), std::string::npos) << settings;
    // Nothing else: no value on the root, no other group.
    EXPECT_NE(settings.find("<LudexSettings>"), std::string::npos) << settings;
    for (const char* gone : {"Locale", "Form_Ludex", "MemoWordWrap", "Form_Find", "koi8-r", "Backups",
                             "RecoveryInterval", "CipherScheme", "AutoLock", "LockOnMinimize"}) {
        EXPECT_EQ(settings.find(gone), std::string::npos) << gone << " in " << settings;
    }
}

TEST_F(ViewCommandsTest, HelpOpensOncePerLanguage) {
    CopyHelp();
    Start();
    EXPECT_EQ(Commands().HelpFileName(), PathOf("ludex_ENG.help"));
    Window().MI_HelpTopics->trigger();
    ASSERT_EQ(Tree().TopLevelCount(), 1);
    TTreeNode* english = Tree().TopLevel(0);
    EXPECT_EQ(english->Document()->FileName(), PathOf("ludex_ENG.help"));
    EXPECT_FALSE(english->Document()->Modified());
    EXPECT_TRUE(Window().MI_Close->isEnabled()) << "the file commands follow";

    // Again: no second copy; the help is selected and expanded.
    Tree().Collapse(english);
    Tree().Select(english->Child(0));
    Window().MI_HelpTopics->trigger();
    EXPECT_EQ(Tree().TopLevelCount(), 1);
    EXPECT_EQ(Tree().Selected(), english);
    EXPECT_TRUE(Tree().IsExpanded(english));

    // Another language opens the other help as a further document.
    Window().MI_Russian->trigger();
    Window().MI_HelpTopics->trigger();
    ASSERT_EQ(Tree().TopLevelCount(), 2);
    EXPECT_EQ(Tree().TopLevel(1)->Document()->FileName(), PathOf("ludex_RUS.help"));
    Window().MI_HelpTopics->trigger();
    EXPECT_EQ(Tree().TopLevelCount(), 2);
}

// The help is the program's: Save All does not write it, closing it asks nothing, and the next
// start does not open it again; saved under a name of the user's it becomes the user's document.
TEST_F(ViewCommandsTest, TheHelpIsTheProgramsOwn) {
    CopyHelp();
    const std::string help = PathOf("ludex_ENG.help");
    const std::string helpBytes = ReadFile(help);
    const std::string mine = WriteFile("mine.ldx", "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                                   "<ludex version=\"2.1.0 \" title=\"Mine\" memo=\"\"/>");
    Start(mine);
    Window().MI_HelpTopics->trigger();
    ASSERT_EQ(Tree().TopLevelCount(), 2);
    TLXDocument* helpDocument = Tree().TopLevel(1)->Document();
    for (int i = 0; i < 2; ++i) {
        Tree().TopLevel(i)->Document()->SetModified(true); // as an edit does
    }
    Window().MI_SaveAll->trigger();
    EXPECT_EQ(ReadFile(help), helpBytes);
    EXPECT_FALSE(fs::exists(help + ".bak1"));
    EXPECT_FALSE(Tree().TopLevel(0)->Document()->Modified()) << "the user's document is saved";
    EXPECT_TRUE(helpDocument->Modified());
    ASSERT_TRUE(Close()) << "closing asks nothing about the help";
    EXPECT_TRUE(Questions().Asked.empty());
    EXPECT_EQ(ReadFile(SettingsFile()).find("ludex_ENG.help"), std::string::npos);
    Start();
    EXPECT_EQ(Tree().TopLevelCount(), 1) << "only the user's document is opened again";

    // Saved as the user's own file, it is theirs from then on.
    Window().MI_HelpTopics->trigger();
    Tree().Select(Tree().TopLevel(1));
    Questions().FileNames.push_back(QString::fromStdString(PathOf("my help.ldx")));
    Window().MI_Save->trigger();
    EXPECT_EQ(Tree().TopLevel(1)->Document()->FileName(), PathOf("my help.ldx"));
    EXPECT_EQ(ReadFile(help), helpBytes);
    EXPECT_FALSE(Tree().TopLevel(1)->Document()->ProgramsOwn());
}

TEST_F(ViewCommandsTest, MissingHelpAddsNoBranch) {
    Start();
    Window().MI_HelpTopics->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find(Commands().HelpFileName()), std::string::npos)
        << Questions().Errors[0].toStdString();
    EXPECT_EQ(Tree().TopLevelCount(), 0);
}

// The shipped help documents: they open, list their topics in reading order, and the branch the
// text offers for practice unlocks with the password the text gives.
TEST_F(ViewCommandsTest, HelpDocumentsReadInOrderAndTheirPracticeBranchUnlocks) {
    CopyHelp();
    for (const char* name : {"ludex_ENG.help", "ludex_RUS.help"}) {
        SCOPED_TRACE(name);
        Start(PathOf(name));
        ASSERT_EQ(Tree().TopLevelCount(), 1);
        TTreeNode* root = Tree().TopLevel(0);
        EXPECT_FALSE(root->Document()->Modified());
        EXPECT_FALSE(MemoAccess.Read(root->Document()->RootElement()).empty());

        // Topics are numbered; the tree's own order must keep them in reading order.
        ASSERT_GE(root->ChildCount(), 5);
        for (int i = 0; i < root->ChildCount(); ++i) {
            EXPECT_EQ(root->Child(i)->Text().rfind(std::to_string(i + 1) + " ", 0), 0u)
                << root->Child(i)->Text();
            TTreeNode* part = root->Child(i);
            for (int j = 0; j < part->ChildCount(); ++j) {
                const std::string prefix = std::to_string(i + 1) + "." + std::to_string(j + 1) + " ";
                EXPECT_EQ(part->Child(j)->Text().rfind(prefix, 0), 0u) << part->Child(j)->Text();
                if (!IsNodeLocked(part->Child(j))) {
                    EXPECT_GT(MemoAccess.Read(part->Child(j)->Element()).size(), 100u)
                        << part->Child(j)->Text();
                }
            }
        }

        // Exactly one locked branch; its parent's memo states the password on a line of its own.
        std::vector<TTreeNode*> locked;
        std::vector<TTreeNode*> pending{root};
        while (!pending.empty()) {
            TTreeNode* n = pending.back();
            pending.pop_back();
            if (IsNodeLocked(n)) {
                locked.push_back(n);
                continue;
            }
            for (int i = 0; i < n->ChildCount(); ++i) {
                pending.push_back(n->Child(i));
            }
        }
        ASSERT_EQ(locked.size(), 1u);
        const std::string parentMemo = MemoAccess.Read(locked[0]->Parent()->Element());
        const std::string stated = "\n\n    open sesame\n\n";
        EXPECT_NE(parentMemo.find(stated), std::string::npos);
        const TDomNode element = locked[0]->Element();
        EXPECT_FALSE(CheckBranchPassword(element, "Open sesame"));
        ASSERT_TRUE(CheckBranchPassword(element, "open sesame"));
        ASSERT_TRUE(DecipherBranchElement(element, "open sesame"));
        EXPECT_FALSE(MemoAccess.Read(element).empty());
        size_t subBranches = 0;
        for (TDomNode c = element.FirstChild(); c; c = c.NextSibling()) {
            if (c.IsElement()) {
                ++subBranches;
                EXPECT_GT(MemoAccess.Read(c).size(), 100u);
            }
        }
        EXPECT_EQ(subBranches, 2u);
        Discard();
    }
}

// A document a million levels deep: the view opens at most TBranchTree::kMostOpenLevels of them, so
// its recursive layout stays within the stack; the deepest branch can still be found, selected,
// edited and saved.
TEST_F(ViewCommandsTest, MillionLevelDocumentOpensExpandsSelectsEditsAndSaves) {
    constexpr int kLevels = 1000000;
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"Root\" memo=\"\">\r\n";
    for (int i = 1; i < kLevels; ++i) {
        text += "<n title=\"b\">\r\n";
    }
    text += "<n title=\"deep\" memo=\"bottom\"/>\r\n";
    for (int i = 1; i < kLevels; ++i) {
        text += "</n>\r\n";
    }
    text += "</ludex>";
    const std::string file = WriteFile("deep.ldx", text);
    Start(file);
    TTreeNode* top = Tree().TopLevel(Tree().TopLevelCount() - 1);
    Tree().Select(top);
    QTest::keyClick(Window().TreeView, Qt::Key_Asterisk);
    TTreeNode* node = top;
    while (node->Level() < TBranchTree::kMostOpenLevels - 1) {
        node = node->FirstChild();
    }
    EXPECT_TRUE(Tree().IsExpanded(node)) << "every level up to the limit is open";
    EXPECT_FALSE(Tree().IsExpanded(node->FirstChild())) << "the level at the limit stays closed";
    EXPECT_NE(Window().StatusPanel->text().indexOf(QString::number(TBranchTree::kMostOpenLevels)), -1)
        << Window().StatusPanel->text().toStdString();

    TTreeNode* deepest = node;
    while (deepest->HasChildren()) {
        deepest = deepest->FirstChild();
    }
    Tree().Select(deepest);
    EXPECT_EQ(Tree().Selected(), deepest);
    EXPECT_EQ(Window().Memo->toPlainText(), "bottom");
    Window().TreeView->doItemsLayout(); // a full layout of everything open must not overflow the stack
    Window().Memo->appendPlainText("more");
    Window().MI_Save->trigger();
    EXPECT_FALSE(top->Document()->Modified());
    const std::string saved = ReadFile(file);
    EXPECT_NE(saved.find("<n title=\"deep\" memo=\"bottom&#xA;more\"/>"), std::string::npos);
    EXPECT_EQ(saved.size(), text.size() + std::string("&#xA;more").size());
    EXPECT_TRUE(Close());
}

} // namespace
} // namespace ludex::test
