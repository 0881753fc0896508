// The find dialog: order of matches, options, locked branches, scope, memo selections, and a
// search state that survives deleted nodes and selections made elsewhere.
#include "GuiTestSupport.h"

#include "core/document/BranchCipher.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/LongWork.h"
#include "gui/app/ViewCommands.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/TreeViewManager.h"
#include "support/CliProcess.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "FindTestSupport.h"

namespace ludex::test {
namespace {

using FindDialogTest = FindTest;

TEST_F(FindDialogTest, InitialStateOfTheControls) {
    Start();
    TForm_Find& f = Find();
    EXPECT_EQ(f.objectName(), "Form_Find");
    EXPECT_FALSE(f.isModal());
    EXPECT_TRUE(f.Edit_FindWhat->text().isEmpty());
    EXPECT_FALSE(f.Button_Find->isEnabled());
    EXPECT_TRUE(f.CheckBox_FindInTree->isChecked());
    EXPECT_TRUE(f.CheckBox_FindInMemos->isChecked());
    EXPECT_FALSE(f.CheckBox_MatchCase->isChecked());
    EXPECT_FALSE(f.CheckBox_WholePhrase->isChecked());
    EXPECT_EQ(f.Scope(), TForm_Find::scopeEverywhere);
    EXPECT_EQ(f.Button_Find->text().toStdString(), LanguageLocaler().GetMessage("Find"));
    EXPECT_EQ(f.Radio_SelectedBranch->text(), "Selected branch") << "the items come from the language file";
    EXPECT_EQ(f.Radio_Everywhere->text(), "Everywhere");
    f.Edit_FindWhat->setText("x");
    EXPECT_TRUE(f.Button_Find->isEnabled());
    f.Edit_FindWhat->clear();
    EXPECT_FALSE(f.Button_Find->isEnabled());
}

// The dialog opens beside the main window, not over it; moved and resized by the user, it comes
// back where it was left, also at the next start.
TEST_F(FindDialogTest, TheDialogOpensBesideTheWindowAndWhereItWasLeft) {
    Start();
    Window().move(0, 0);
    Window().resize(320, 240);
    Window().show();
    Window().MI_Find->trigger();
    ASSERT_TRUE(Find().isVisible());
    EXPECT_FALSE(Window().frameGeometry().intersects(Find().frameGeometry()))
        << "main " << Window().frameGeometry().x() << "," << Window().frameGeometry().width() << "; find "
        << Find().frameGeometry().x() << "," << Find().frameGeometry().width();
    const QPoint place(40, 250);
    const QSize size(430, 310);
    Find().move(place);
    Find().resize(size);
    Find().close();
    Window().MI_Find->trigger();
    EXPECT_EQ(Find().pos(), place);
    EXPECT_EQ(Find().size(), size);
    Find().close();
    ASSERT_TRUE(Close());
    Start();
    Window().show();
    Window().MI_Find->trigger();
    EXPECT_EQ(Find().pos(), place) << "at the next start";
    EXPECT_EQ(Find().size(), size);
}

TEST_F(FindDialogTest, MatchesComeInTreeOrderAndLockedBranchesShowOnlyTheirTitle) {
    Open(kCatContent, {"Zlocked cat", "Locked cat"});
    ASSERT_TRUE(IsNodeLocked(NodeTitled("Locked cat")));
    Find().Edit_FindWhat->setText("cat");
    ExpectSteps({{"Alpha", 0, 3},
                 // The locked last child of Alpha: its title only; then the node after Alpha's sub-tree.
                 {"Zlocked cat", -1, 0},
                 {"Locked cat", -1, 0},
                 {"Beta cat", -1, 0},
                 // The line break counts one character in the memo control.
                 {"Zeta", 3, 3},
                 {"", -1, 0},
                 // The search then starts again from the top.
                 {"Alpha", 0, 3}});
    ASSERT_FALSE(Questions().Informed.empty());
    EXPECT_EQ(Questions().Informed[0].toStdString(),
              LanguageLocaler().FormatMessage("FinishedFinding", {"cat"}));
}

TEST_F(FindDialogTest, LockedBranchesWithoutATitleMatchAreSkippedWhole) {
    Open(kCatContent, {"Zlocked cat", "Locked cat"});
    // Neither the placeholder below a locked branch nor its enciphered memo is searched.
    Find().Edit_FindWhat->setText("inaccessible");
    ExpectSteps({{"", -1, 0}});
    Find().CheckBox_FindInTree->setChecked(false);
    Find().Edit_FindWhat->setText("cat");
    ExpectSteps({{"Alpha", 0, 3}, {"Zeta", 3, 3}, {"", -1, 0}});
}

TEST_F(FindDialogTest, ButtonCaptionFollowsTheSearchMode) {
    Open(kCatContent);
    Find().Edit_FindWhat->setText("Beta");
    Find().Button_Find->click();
    EXPECT_FALSE(Find().Restarting());
    EXPECT_EQ(Find().Button_Find->text().toStdString(), LanguageLocaler().GetMessage("FindNext"));
    // Changing the options keeps the search going; the text or the scope restarts it.
    Find().CheckBox_MatchCase->setChecked(true);
    EXPECT_FALSE(Find().Restarting());
    Find().SetScope(TForm_Find::scopeSelectedBranch);
    EXPECT_TRUE(Find().Restarting());
    EXPECT_EQ(Find().Button_Find->text().toStdString(), LanguageLocaler().GetMessage("Find"));
}

TEST_F(FindDialogTest, OptionsOfTheDialogDecideWhatMatches) {
    struct Case {
        std::string memo;
        std::string pattern;
        bool matchCase;
        bool wholePhrase;
        bool inTree;
        bool inMemos;
        std::vector<std::string> found; // titles, in order
    };
    const std::vector<Case> cases = {
        {"aBC", "Abc", false, false, true, true, {"Note"}},
        {"aBC", "Abc", true, false, true, true, {}},
        {"\xD0\x96\xD1\x83\xD0\xBA", "\xD0\xB6\xD1\x83\xD0\xBA", false, false, true, true, {"Note"}}, // Жук
        {"\xD0\x96\xD1\x83\xD0\xBA", "\xD0\xB6\xD1\x83\xD0\xBA", true, false, true, true, {}},
        {"a cat sat", "cat", false, true, true, true, {"Note"}},
        {"cat.", "cat", false, true, true, true, {"Note"}},
        {"a&#x9;cat", "cat", false, true, true, true, {"Note"}}, // a tab separates words
        {"concatenate cat", "cat", false, true, true, true, {"Note"}},
        {"concatenate", "cat", false, true, true, true, {}},
        {"Note", "Note", false, false, false, true, {"Note"}}, // the memo only
        {"Note", "Note", false, false, true, false, {"Note"}}, // the title only
        {"Note", "Note", false, false, true, true, {"Note", "Note"}},
        {"Note", "Note", false, false, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memo + " / " + c.pattern);
        Open("<note title=\"Note\" memo=\"" + c.memo + "\"/>");
        Find().CheckBox_MatchCase->setChecked(c.matchCase);
        Find().CheckBox_WholePhrase->setChecked(c.wholePhrase);
        Find().CheckBox_FindInTree->setChecked(c.inTree);
        Find().CheckBox_FindInMemos->setChecked(c.inMemos);
        Find().Edit_FindWhat->setText(QString::fromStdString(c.pattern));
        std::vector<std::string> found;
        for (TStep s = Press(); !s.title.empty() && found.size() < 5; s = Press()) {
            found.push_back(s.title);
        }
        EXPECT_EQ(found, c.found);
        Discard();
    }
}

TEST_F(FindDialogTest, MemoSelectionsCountCharactersAsTheControlDoes) {
    struct Case {
        std::string memo; // attribute text as written in the file
        std::string pattern;
        std::vector<std::pair<int, int>> selections;
    };
    const std::vector<Case> cases = {
        {"ab&#xA;cd", "cd", {{3, 2}}},
        {"ab&#xD;&#xA;cd", "cd", {{3, 2}}}, // a stored CR LF is one line break in the control
        {"aaa", "aa", {{0, 2}, {1, 2}}},    // overlapping occurrences, one per press
        {"\xD0\xB6\xD1\x83\xD0\xBA cat", "cat", {{4, 3}}},
        {"\xF0\x9F\x98\x80 cat", "cat", {{3, 3}}}, // outside the basic plane: two units
        {"x \xD0\xB6\xD1\x83\xD0\xBA", "\xD0\xB6\xD1\x83\xD0\xBA", {{2, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memo);
        Open("<note title=\"Note\" memo=\"" + c.memo + "\"/>");
        Find().CheckBox_FindInTree->setChecked(false);
        Find().Edit_FindWhat->setText(QString::fromStdString(c.pattern));
        ExpectNoteSelections(c.selections);
    }
}

TEST_F(FindDialogTest, RegularExpressionsSelectWhatTheyMatch) {
    struct Case {
        std::string memo;
        std::string pattern;
        bool matchCase;
        std::vector<std::pair<int, int>> selections;
    };
    const std::vector<Case> cases = {
        {"order 42 and 7", "\\d+", false, {{6, 2}, {7, 1}, {13, 1}}},
        {"one&#xA;two&#xA;three", "^t\\w+$", false, {{4, 3}, {8, 5}}},
        {"x \xD0\x9E\xD0\xA2\xD0\x9F", "\xD0\xBE\xD1\x82\xD0\xBF", false, {{2, 3}}},
        {"x \xD0\x9E\xD0\xA2\xD0\x9F", "\xD0\xBE\xD1\x82\xD0\xBF", true, {}},
        {"\xE2\x84\xAA!", "k.", false, {{0, 2}}}, // the Kelvin sign matches k; both characters selected
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memo + " / " + c.pattern);
        Open("<note title=\"Note\" memo=\"" + c.memo + "\"/>");
        Find().CheckBox_FindInTree->setChecked(false);
        Find().CheckBox_Regex->setChecked(true);
        Find().CheckBox_MatchCase->setChecked(c.matchCase);
        Find().Edit_FindWhat->setText(QString::fromStdString(c.pattern));
        ExpectNoteSelections(c.selections);
    }
}

TEST_F(FindDialogTest, BadRegularExpressionIsShownAndNothingIsSearched) {
    Open(kCatContent);
    Find().CheckBox_Regex->setChecked(true);
    Find().Edit_FindWhat->setText("(cat");
    const size_t informed = Questions().Informed.size();
    Find().Button_Find->click();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_EQ(Questions().Errors[0].toStdString(),
              LanguageLocaler().FormatMessage("RegexError", {"5", "missing closing parenthesis"}));
    EXPECT_EQ(Questions().Informed.size(), informed); // no "finished" either: nothing was searched
    EXPECT_TRUE(Find().Restarting());
    // The same text as plain text is searched as usual.
    Find().CheckBox_Regex->setChecked(false);
    Find().Edit_FindWhat->setText("cat");
    Find().Button_Find->click();
    EXPECT_FALSE(Find().Restarting());
}

TEST_F(FindDialogTest, SelectedBranchScopeCoversItsSubtreeOnly) {
    Open(kCatContent, {"Zlocked cat", "Locked cat"});
    Find().SetScope(TForm_Find::scopeSelectedBranch);
    Find().Edit_FindWhat->setText("cat");
    Tree().Select(NodeTitled("Alpha"));
    ExpectSteps({{"Alpha", 0, 3}, {"Zlocked cat", -1, 0}, {"", -1, 0}});

    // Its own title comes first.
    Find().Edit_FindWhat->setText("Beta");
    Tree().Select(NodeTitled("Beta cat"));
    ExpectSteps({{"Beta cat", -1, 0}, {"", -1, 0}});

    // Without a selection the search ends at once.
    Tree().Select(nullptr);
    const size_t informed = Questions().Informed.size();
    Find().Button_Find->click();
    EXPECT_EQ(Questions().Informed.size(), informed + 1);
}

TEST_F(FindDialogTest, EnterInTheFieldRunsAStepEvenWhenItIsEmpty) {
    Open(kCatContent);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(Find().Edit_FindWhat, &enter);
    ASSERT_EQ(Questions().Informed.size(), 1u) << "an empty text matches nowhere";
    Find().Edit_FindWhat->setText("Beta");
    QCoreApplication::sendEvent(Find().Edit_FindWhat, &enter);
    EXPECT_EQ(Tree().Selected(), NodeTitled("Beta cat"));
    EXPECT_EQ(Questions().Informed.size(), 1u);
}

TEST_F(FindDialogTest, RemovedNodesAndForeignSelectionsRestartTheSearch) {
    Open(kCatContent);
    Find().Edit_FindWhat->setText("cat");
    ASSERT_EQ(Press().title, "Alpha");
    // The node the search stands on goes away: the next press starts again, never touching it.
    Tree().Delete(NodeTitled("Alpha"));
    EXPECT_TRUE(Find().Restarting());
    EXPECT_EQ(Press().title, "Locked cat");

    // The user selects another node: the next press starts from the top again, with the title
    // of "Locked cat" rather than going on into its memo.
    Tree().Select(NodeTitled("Zeta"));
    EXPECT_TRUE(Find().Restarting());
    const TStep again = Press();
    EXPECT_EQ(again.title, "Locked cat");
    EXPECT_EQ(again.start, -1);

    // Closing the document while a search goes on.
    Window().MI_CloseAll->trigger();
    EXPECT_TRUE(Find().Restarting());
    EXPECT_TRUE(Press().title.empty());
}

TEST_F(FindDialogTest, FindCommandStoresTheEditedMemoFirst) {
    Open("<note title=\"Note\" memo=\"old\"/>");
    Tree().Select(NodeTitled("Note"));
    Window().Memo->setPlainText("fresh words");
    Window().MI_Find->trigger();
    EXPECT_EQ(MemoAccess.Read(NodeTitled("Note")->Element()), "fresh words");
    Find().Edit_FindWhat->setText("fresh");
    EXPECT_EQ(Press().start, 0);
}

// ludex-cli find promises the matches in the order in which repeated presses of Find Next visit
// them; both walk the branches with the core's walk in the window's order. Shown on a document
// whose branches the file holds out of that order.
// Branches whose nodes are not made yet are searched in the document: a press makes the nodes
// down to the match it selects and no others, and the whole search makes no node without a match.
TEST_F(FindDialogTest, FindNextMakesOnlyTheNodesDownToWhatItFinds) {
    std::string content = "<note title=\"Big\" memo=\"\">";
    for (int i = 0; i < 100; ++i) {
        const std::string n = std::to_string(i);
        content += "<note title=\"b" + n + "\" memo=\"plain\"><note title=\"c" + n + "\" memo=\"" +
                   (i == 70 ? "the needle" : "hay") + "\"/></note>";
    }
    content += "</note><note title=\"After\" memo=\"\"/>";
    Open(content);
    TTreeNode* big = Tree().FirstTopLevel()->Child(0);
    ASSERT_TRUE(big->ChildrenUnmade());
    const size_t made = Tree().Count();

    Find().Edit_FindWhat->setText("needle");
    const TStep found = Press();
    EXPECT_EQ(found.title, "c70");
    EXPECT_EQ(Tree().Count(), made + 100 + 1) << "Big's sub-branches and the one below b70";
    EXPECT_EQ(Press().title, "") << "no other match";

    Find().Edit_FindWhat->setText("nowhere");
    const size_t before = Tree().Count();
    EXPECT_EQ(Press().title, "");
    EXPECT_EQ(Tree().Count(), before) << "nothing matched, nothing made";
}

// 300 branches "b000" to "b299" whose memos hold "needle" only in b150 and b299, and one more
// branch "Zother" after them. Nested below one branch, their nodes are not made when the search
// reaches them.
std::string HaystackOf300(bool nested) {
    std::string content = nested ? "<note title=\"Big\" memo=\"\">" : "";
    for (int i = 0; i < 300; ++i) {
        char title[8];
        std::snprintf(title, sizeof title, "b%03d", i);
        content += std::string("<note title=\"") + title + "\" memo=\"" +
                   (i == 150 || i == 299 ? "needle" : "hay") + "\"/>";
    }
    return content + (nested ? "</note>" : "") + "<note title=\"Zother\" memo=\"\"/>";
}

// A step that runs long shows its progress; cancelled, it leaves the selection, the nodes and the
// place of the next step as they were; one during which the documents change stops, and the
// next press starts a new search.
TEST_F(FindDialogTest, AStoppedStepChangesNothing) {
    for (const bool nested : {false, true}) {
        SCOPED_TRACE(nested ? "nodes not made yet" : "nodes made");
        Open(HaystackOf300(nested));
        Window().show(); // the progress shows in its status bar
        Find().Edit_FindWhat->setText("needle");
        Find().SetProgressDelay(std::chrono::milliseconds(0));
        TTreeNode* const selected = Tree().Selected();
        const size_t nodes = Tree().Count();

        bool panelShown = false;
        QTimer::singleShot(0, &Find(), [&] {
            auto* panel = Window().StatusBar->findChild<QWidget*>(TLongWork::kPanelName);
            ASSERT_NE(panel, nullptr) << "the progress shows at once with no delay";
            panelShown = panel->isVisible();
            panel->findChild<QPushButton*>(TLongWork::kCancelName)->click();
        });
        Find().Button_Find->click();
        EXPECT_TRUE(panelShown);
        EXPECT_EQ(Tree().Selected(), selected);
        EXPECT_EQ(Tree().Count(), nodes) << "no node made";
        EXPECT_TRUE(Find().Restarting());
        EXPECT_TRUE(Questions().Informed.empty()) << "no end of the search told";
        EXPECT_EQ(Window().StatusBar->findChild<QWidget*>(TLongWork::kPanelName), nullptr)
            << "the progress is gone";

        // Left alone, the steps find every match, their progress shown.
        EXPECT_EQ(Press().title, "b150");
        EXPECT_EQ(Press().title, "b299");
        EXPECT_EQ(Press().title, "") << "the end of the search";

        // A branch goes while a step runs.
        TTreeNode* const last = Tree().Selected();
        QTimer::singleShot(0, &Find(), [this] {
            TTreeNode* top = Tree().FirstTopLevel();
            Tree().Delete(top->Child(top->ChildCount() - 1));
        });
        Find().Button_Find->click();
        EXPECT_TRUE(Find().Restarting());
        EXPECT_EQ(Tree().Selected(), last) << "the step stopped before it found b150";
        EXPECT_TRUE(Questions().Informed.size() == 1) << "only the end of the search before was told";
        EXPECT_EQ(Press().title, "b150") << "a new search";

        Find().SetProgressDelay(TLongWork::ProgressDelay());
        Questions().Informed.clear();
        Window().MI_CloseAll->trigger();
    }
}

TEST_F(FindDialogTest, FindNextVisitsMatchesInTheOrderLudexCliFindPrints) {
    const std::string file = WriteFile("order.ldx", DocumentText(kOrderContent, kOrderLocked));
    ASSERT_NE(ludex::testing::RunCli({"tree", file}).out,
              ludex::testing::RunCli({"tree", file, "--sorted"}).out)
        << "the file must hold its branches out of the window's order";
    Start(file);
    Window().MI_Find->trigger();
    ASSERT_TRUE(Find().isVisible());

    struct Case {
        std::string pattern;
        bool matchCase;
        bool wholePhrase;
        size_t atLeast; // matches, so that an empty or cut short sequence cannot pass
    };
    const Case cases[] = {
        {"a", false, false, 20},
        {"A", true, false, 4},
        {"a", false, true, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern + (c.matchCase ? " match case" : "") + (c.wholePhrase ? " whole phrase" : ""));
        Find().CheckBox_MatchCase->setChecked(c.matchCase);
        Find().CheckBox_WholePhrase->setChecked(c.wholePhrase);
        Find().Edit_FindWhat->setText(QString::fromStdString(c.pattern));
        ASSERT_TRUE(Find().Restarting());
        const std::string window = ClickFindUntilTheEnd();

        std::vector<std::string> arguments = {"find", file, c.pattern};
        if (c.matchCase) {
            arguments.push_back("--match-case");
        }
        if (c.wholePhrase) {
            arguments.push_back("--whole-phrase");
        }
        const ludex::testing::TCliResult cli = ludex::testing::RunCli(arguments);
        ASSERT_EQ(cli.status, 0) << cli.err;
        EXPECT_EQ(window, cli.out);
        EXPECT_GE(static_cast<size_t>(std::count(window.begin(), window.end(), '\n')), c.atLeast) << window;
    }
}

} // namespace
} // namespace ludex::test
