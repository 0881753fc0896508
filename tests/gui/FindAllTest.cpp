// Find All: the list against repeated Find Next, its counts, activating rows, and the list after
// the documents change under it.
#include "BranchTestSupport.h"
#include "FindTestSupport.h"

#include "core/settings/LX_Localer.h"
#include "gui/app/LongWork.h"
#include "gui/dialogs/FindResults.h"
#include "gui/dialogs/PasswordDialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace ludex::test {
namespace {

class FindAllTest : public FindTest {
protected:
    QTreeView& List() { return *Find().List_FindAll; }
    int Rows() { return List().model()->rowCount(); }
    std::string Cell(int row, int column) {
        return List().model()->index(row, column).data().toString().toStdString();
    }

    void FindAll(const std::string& pattern) {
        Find().Edit_FindWhat->setText(QString::fromStdString(pattern));
        QTest::mouseClick(Find().Button_FindAll, Qt::LeftButton);
    }

    // Activates a row with Enter, as a user does with the keyboard.
    void Activate(int row) {
        List().setCurrentIndex(List().model()->index(row, 0));
        QTest::keyClick(&List(), Qt::Key_Return);
    }

    // Every row activated in turn, each as the line of what the window then selects.
    std::string ActivateEveryRow() {
        std::string lines;
        for (int row = 0; row < Rows(); ++row) {
            Activate(row);
            lines += SelectionLine();
        }
        return lines;
    }

    std::string CountText(size_t matches, size_t locked) {
        return LanguageLocaler().FormatMessage("FindAllCount",
                                               {std::to_string(matches), std::to_string(locked)});
    }
    std::string Message(const char* key) { return LanguageLocaler().GetMessage(key); }
    void UnlockWith(const std::string& password) {
        Questions().Dialogs.push_back([password](QDialog& dialog) {
            dynamic_cast<TForm_PasswordDialog&>(dialog).Edit_Password->setText(
                QString::fromStdString(password));
            return ClickOk(dialog);
        });
    }
};

TEST_F(FindAllTest, RowsAreTheMatchesOfRepeatedFindNext) {
    Start(WriteFile("order.ldx", DocumentText(kOrderContent, kOrderLocked)));
    Window().MI_Find->trigger();
    struct Case {
        std::string pattern;
        bool matchCase, wholePhrase, regex;
        int atLeast; // rows, so that an empty or cut short list cannot pass
    };
    const Case cases[] = {
        {"a", false, false, false, 20},
        {"A", true, false, false, 4},
        {"a", false, true, false, 8},
        {"\xD0\x81\xD0\x9B\xD0\x9A\xD0\x90", false, false, false, 3}, // "ЁЛКА" finds "Ёлка" and "ёлка"
        {"[\xD0\xB0"
         "a]\\s+a$|^b",
         false, false, true, 4}, // Cyrillic or Latin a, anchors
        {"(an){2}", true, false, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        Find().CheckBox_MatchCase->setChecked(c.matchCase);
        Find().CheckBox_WholePhrase->setChecked(c.wholePhrase);
        Find().CheckBox_Regex->setChecked(c.regex);
        Find().Edit_FindWhat->setText(QString::fromStdString(c.pattern));
        const std::string findNext = ClickFindUntilTheEnd();

        FindAll(c.pattern);
        ASSERT_TRUE(Find().Panel_FindAll->isVisible());
        EXPECT_GE(Rows(), c.atLeast);
        EXPECT_EQ(Find().Label_FindAllCount->text().toStdString(), CountText(static_cast<size_t>(Rows()), 2));
        EXPECT_EQ(ActivateEveryRow(), findNext);
        EXPECT_FALSE(Find().ResultsOutOfDate()) << "activating rows changes no document";
    }
}

// Branches whose nodes are not made yet are searched in the document: only the nodes down to the
// matches are made, and each row still leads to its branch.
TEST_F(FindAllTest, OnlyTheNodesDownToTheMatchesAreMade) {
    std::string content = "<note title=\"Big\" memo=\"\">";
    for (int i = 0; i < 100; ++i) {
        const std::string n = std::to_string(i);
        content += "<note title=\"b" + n + "\" memo=\"plain\"><note title=\"c" + n + "\" memo=\"" +
                   (i % 40 == 3 ? "the needle, a needle" : "hay") + "\"/></note>";
    }
    content += "</note>";
    Start(WriteFile("big.ldx", DocumentText(content, {})));
    Window().MI_Find->trigger();
    ASSERT_TRUE(Tree().FirstTopLevel()->Child(0)->ChildrenUnmade());
    const size_t made = Tree().Count();

    FindAll("needle");
    EXPECT_EQ(Rows(), 6) << "two in each of c3, c43 and c83";
    EXPECT_EQ(Tree().Count(), made + 100 + 3) << "Big's sub-branches and the three that match";
    EXPECT_EQ(ActivateEveryRow(), ClickFindUntilTheEnd());
}

TEST_F(FindAllTest, RowsShowTheDocumentPathPlaceAndMarkedExcerpt) {
    Start(WriteFile("cats.ldx", DocumentText(kCatContent, {"Zlocked cat", "Locked cat"})));
    Window().MI_Find->trigger();
    FindAll("CAT");
    ASSERT_EQ(Rows(), 5);
    EXPECT_EQ(Find().Label_FindAllCount->text().toStdString(), CountText(5, 2));
    const std::vector<std::vector<std::string>> expected = {
        {"cats.ldx", "Doc / Alpha", "memo", "cat in memo"},
        {"cats.ldx", "Doc / Alpha / Zlocked cat", "title", "Zlocked cat"},
        {"cats.ldx", "Doc / Locked cat", "title", "Locked cat"},
        {"cats.ldx", "Doc / Beta cat", "title", "Beta cat"},
        {"cats.ldx", "Doc / Zeta", "memo", "cat"}, // only the line of the match
    };
    for (int row = 0; row < Rows(); ++row) {
        for (int column = 0; column < TFindResults::colCount; ++column) {
            EXPECT_EQ(Cell(row, column), expected[static_cast<size_t>(row)][static_cast<size_t>(column)])
                << row << "," << column;
        }
    }
    EXPECT_EQ(
        List().model()->index(1, TFindResults::colExcerpt).data(TFindResults::ExcerptHtmlRole).toString(),
        "Zlocked <b>cat</b>");

    // The selected branch's scope: Alpha and its sub-tree, where one locked branch stops the search.
    Tree().Select(NodeTitled("Alpha"));
    Find().SetScope(TForm_Find::scopeSelectedBranch);
    FindAll("cat");
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Find().Label_FindAllCount->text().toStdString(), CountText(2, 1));
    Tree().Select(nullptr);
    FindAll("cat");
    EXPECT_EQ(Rows(), 0) << "no branch selected, nothing searched";
}

// A deep branch's row names its document and its nearest levels, however deep it lies.
TEST_F(FindAllTest, RowsOfDeepBranchesShowTheDocumentAndTheNearestLevels) {
    struct Case {
        int levels;
        std::string path;
    };
    const std::vector<Case> cases = {
        {5, "Doc / L1 / L2 / L3 / L4 / L5"},
        {6, "Doc / L1 / L2 / L3 / L4 / L5 / L6"},
        {7, "Doc / \u2026 / L2 / L3 / L4 / L5 / L6 / L7"},
        {3000, "Doc / \u2026 / L2995 / L2996 / L2997 / L2998 / L2999 / L3000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.levels);
        std::string content;
        for (int level = 1; level <= c.levels; ++level) {
            content += "<note title=\"L" + std::to_string(level) + "\" memo=\"" +
                       (level == c.levels ? "needle" : "") + "\">";
        }
        for (int level = 1; level <= c.levels; ++level) {
            content += "</note>";
        }
        Start(WriteFile("deep.ldx", DocumentText(content)));
        Window().MI_Find->trigger();
        FindAll("needle");
        ASSERT_EQ(Rows(), 1);
        EXPECT_EQ(Cell(0, TFindResults::colBranch), c.path);
        Activate(0);
        EXPECT_EQ(Tree().Selected()->Level(), c.levels);
        Discard();
    }
}

TEST_F(FindAllTest, ActivatingARowSelectsItsTitleOrItsMemoMatch) {
    Start(WriteFile("cats.ldx", DocumentText(kCatContent, {"Zlocked cat", "Locked cat"})));
    Window().MI_Find->trigger();
    FindAll("cat");
    ASSERT_EQ(Rows(), 5);
    Activate(3);
    EXPECT_EQ(Tree().Selected(), NodeTitled("Beta cat"));
    EXPECT_FALSE(Window().Memo->textCursor().hasSelection());
    // The last row: "cat" after one line break, at control position 3.
    Activate(4);
    EXPECT_EQ(Tree().Selected(), NodeTitled("Zeta"));
    const QTextCursor cursor = Window().Memo->textCursor();
    EXPECT_EQ(cursor.selectionStart(), 3);
    EXPECT_EQ(cursor.selectionEnd(), 6);
    EXPECT_TRUE(Questions().Informed.empty());
}

TEST_F(FindAllTest, ChangedDocumentsPutTheListOutOfDateAndRowsOfDeletedBranchesAreSafe) {
    Start(WriteFile("cats.ldx", DocumentText(kCatContent, {"Locked cat"})));
    Window().MI_Find->trigger();
    // Unlocked, so that locking it again later takes its sub-branch away.
    Tree().Select(NodeTitled("Locked cat"));
    UnlockWith("pw");
    Window().Button_LockBranch->trigger();
    ASSERT_FALSE(IsNodeLocked(NodeTitled("Locked cat")));

    FindAll("cat");
    // Alpha memo, Zlocked title + memo, Locked title + memo, Hidden title + memo, Beta title, Zeta memo.
    ASSERT_EQ(Rows(), 9);
    ASSERT_EQ(Cell(5, TFindResults::colBranch), "Doc / Locked cat / Hidden cat");
    EXPECT_FALSE(Find().Label_OutOfDate->isVisible());

    // Deleting a listed branch.
    Tree().Select(NodeTitled("Zlocked cat"));
    Window().Button_RemoveBranch->trigger();
    ASSERT_EQ(NodeTitled("Zlocked cat"), nullptr);
    EXPECT_TRUE(Find().ResultsOutOfDate());
    EXPECT_TRUE(Find().Label_OutOfDate->isVisible());
    EXPECT_TRUE(Find().Button_Refresh->isVisible());
    TTreeNode* before = Tree().Selected();
    for (int row : {1, 2}) {
        Activate(row);
        ASSERT_EQ(Questions().Informed.size(), static_cast<size_t>(row));
        EXPECT_EQ(Questions().Informed.back().toStdString(), Message("FindAllBranchGone"));
        EXPECT_EQ(Tree().Selected(), before) << "nothing selected for a deleted branch";
    }

    // Renaming a listed branch: its title row still selects it.
    QTest::mouseClick(Find().Button_Refresh, Qt::LeftButton);
    EXPECT_FALSE(Find().ResultsOutOfDate());
    ASSERT_EQ(Rows(), 7);
    TTreeNode* beta = NodeTitled("Beta cat");
    Tree().SetText(beta, "Beta dog");
    EXPECT_TRUE(Find().ResultsOutOfDate());
    Activate(5);
    EXPECT_EQ(Tree().Selected(), beta);

    // Locking a listed branch: its sub-branch's rows are gone, its memo row no longer matches.
    QTest::mouseClick(Find().Button_Refresh, Qt::LeftButton);
    ASSERT_EQ(Rows(), 6);
    ASSERT_EQ(Cell(2, TFindResults::colBranch), "Doc / Locked cat");
    Tree().Select(NodeTitled("Locked cat"));
    Window().Button_LockBranch->trigger();
    ASSERT_TRUE(IsNodeLocked(NodeTitled("Locked cat")));
    EXPECT_TRUE(Find().ResultsOutOfDate());
    const size_t informed = Questions().Informed.size();
    Activate(4); // Hidden cat's memo
    Activate(2); // Locked cat's memo
    ASSERT_EQ(Questions().Informed.size(), informed + 2);
    EXPECT_EQ(Questions().Informed[informed].toStdString(), Message("FindAllBranchGone"));
    EXPECT_EQ(Questions().Informed[informed + 1].toStdString(), Message("FindAllMatchGone"));
    EXPECT_EQ(Tree().Selected(), NodeTitled("Locked cat"));
    EXPECT_FALSE(Window().Memo->textCursor().hasSelection());

    // Closing the document: every row is safe.
    Questions().Answers.push_back(TAnswer::No);
    Window().MI_Close->trigger();
    ASSERT_EQ(Tree().TopLevelCount(), 0);
    for (int row = 0; row < Rows(); ++row) {
        Activate(row);
    }
    EXPECT_EQ(Questions().Informed.back().toStdString(), Message("FindAllBranchGone"));
    QTest::mouseClick(Find().Button_Refresh, Qt::LeftButton);
    EXPECT_EQ(Rows(), 0);
}

TEST_F(FindAllTest, AMemoEditedSinceTheSearchIsNotSelectedBlindly) {
    Start(WriteFile("cats.ldx", DocumentText(kCatContent)));
    Window().MI_Find->trigger();
    FindAll("cat");
    ASSERT_EQ(Cell(0, TFindResults::colBranch), "Doc / Alpha");
    Activate(0);
    ASSERT_EQ(Window().Memo->textCursor().selectedText(), "cat");
    EXPECT_FALSE(Find().ResultsOutOfDate());

    // The user types before the match in the memo shown: the stored memo still has it, the memo
    // control no longer shows it there.
    QTextCursor cursor = Window().Memo->textCursor();
    cursor.setPosition(0);
    Window().Memo->setTextCursor(cursor);
    QTest::keyClicks(Window().Memo, "a ");
    EXPECT_TRUE(Find().ResultsOutOfDate());
    Activate(0);
    ASSERT_EQ(Questions().Informed.size(), 1u);
    EXPECT_EQ(Questions().Informed[0].toStdString(), Message("FindAllMatchGone"));

    // Refreshed after the edit is stored, the row selects the match where it now is.
    Tree().Select(NodeTitled("Zeta"));
    QTest::mouseClick(Find().Button_Refresh, Qt::LeftButton);
    Activate(0);
    EXPECT_EQ(Window().Memo->textCursor().selectionStart(), 2);
    EXPECT_EQ(Window().Memo->textCursor().selectedText(), "cat");
}

// A document large enough to be searched in several slices.
std::string ManyBranches(int count) {
    std::string content;
    for (int i = 0; i < count; ++i) {
        content += "<note title=\"b" + std::to_string(i) + "\" memo=\"cat " + std::to_string(i) + "\"/>";
    }
    return content;
}

TEST_F(FindAllTest, ACancelledOrDisturbedSearchLeavesTheListAsItWas) {
    Start(WriteFile("many.ldx", DocumentText(ManyBranches(300))));
    Window().show(); // the progress shows in its status bar
    Window().MI_Find->trigger();
    FindAll("cat 1");
    const int rows = Rows();
    ASSERT_EQ(rows, 111); // 1, 10-19, 100-199
    const std::string first = Cell(0, TFindResults::colBranch);

    Find().SetProgressDelay(std::chrono::milliseconds(0));
    struct Case {
        const char* name;
        std::function<void()> duringTheSearch;
        bool outOfDate;
    };
    const Case cases[] = {
        {"cancel",
         [this] {
             auto* panel = Window().StatusBar->findChild<QWidget*>(TLongWork::kPanelName);
             ASSERT_NE(panel, nullptr) << "the progress shows at once with no delay";
             EXPECT_TRUE(panel->isVisible());
             auto* cancel = panel->findChild<QPushButton*>(TLongWork::kCancelName);
             ASSERT_NE(cancel, nullptr);
             cancel->click();
         },
         false},
        {"a branch deleted meanwhile", [this] { Tree().Delete(NodeTitled("b250")); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTimer::singleShot(0, &Find(), c.duringTheSearch);
        FindAll("cat 1"); // the same search again: a new text would empty the list
        EXPECT_EQ(Rows(), rows);
        EXPECT_EQ(Cell(0, TFindResults::colBranch), first);
        EXPECT_EQ(Find().ResultsOutOfDate(), c.outOfDate);
        EXPECT_EQ(Window().StatusBar->findChild<QWidget*>(TLongWork::kPanelName), nullptr)
            << "the progress is gone";
    }

    // Left alone, the same search with its progress shown lists everything.
    FindAll("cat");
    EXPECT_EQ(Rows(), 299);
    EXPECT_FALSE(Find().ResultsOutOfDate());
}

// The list shows the matches of the search as it is set now: a new text, option or scope, or a
// regular expression that cannot be searched, leaves it empty.
TEST_F(FindAllTest, TheListHoldsOnlyTheCurrentSearch) {
    Start(WriteFile("cats.ldx", DocumentText(kCatContent)));
    Window().MI_Find->trigger();
    const struct {
        const char* name;
        std::function<void()> change;
    } cases[] = {
        {"a new text", [this] { Find().Edit_FindWhat->setText("dog"); }},
        {"an option", [this] { Find().CheckBox_WholePhrase->toggle(); }},
        {"the scope", [this] { Find().SetScope(TForm_Find::scopeSelectedBranch); }},
        {"a bad regular expression",
         [this] {
             Find().CheckBox_Regex->setChecked(true);
             FindAll("(cat");
             EXPECT_EQ(Questions().Errors.size(), 1u) << "the error is shown";
             Questions().Errors.clear();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Find().CheckBox_Regex->setChecked(false);
        Find().CheckBox_WholePhrase->setChecked(false);
        Find().SetScope(TForm_Find::scopeEverywhere);
        FindAll("cat");
        ASSERT_GT(Rows(), 0);
        Window().MI_Find->trigger();
        ASSERT_GT(Rows(), 0) << "showing the dialog again is no new search";
        c.change();
        EXPECT_EQ(Rows(), 0);
        EXPECT_TRUE(Find().Label_FindAllCount->text().isEmpty());
    }
}

TEST_F(FindAllTest, TheListSpeaksTheInterfaceLanguage) {
    Start(WriteFile("cats.ldx", DocumentText(kCatContent)));
    Window().MI_Find->trigger();
    FindAll("cat");
    struct Case {
        QAction* item;
        const char* findAll;
    };
    const Case cases[] = {
        {Window().MI_Russian, "\xD0\x9D\xD0\xB0\xD0\xB9\xD1\x82\xD0\xB8 \xD0\xB2\xD1\x81\xD0\xB5"},
        {Window().MI_English, "Find All"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.findAll);
        c.item->trigger();
        EXPECT_EQ(Find().Button_FindAll->text().toStdString(), c.findAll);
        EXPECT_EQ(List().model()->headerData(0, Qt::Horizontal).toString().toStdString(),
                  Message("FindAllDocument"));
        EXPECT_EQ(Cell(0, TFindResults::colPlace), Message("FindAllMemo"));
        EXPECT_EQ(Find().Label_FindAllCount->text().toStdString(), CountText(9, 0));
    }
}

} // namespace
} // namespace ludex::test
