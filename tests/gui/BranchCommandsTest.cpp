// Branch editing in the window: insert, remove, rename, cut, copy, paste and resort.
#include "BranchTestSupport.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

namespace ludex::test {
namespace {

const std::string kTwoLevels = "<note title=\"A\" memo=\"a memo\">\r\n<note title=\"A1\"/>\r\n<note "
                               "title=\"A2\"/>\r\n</note>\r\n<note title=\"B\"/>\r\n";

using BranchCommandsTest = BranchTest;

// A document's nodes are built before the view sees them and shown in one insertion; the model
// stays consistent (checked on every change by Qt's model tester, which aborts on a fault) through
// opening, editing, locking, unlocking and closing.
TEST_F(BranchCommandsTest, TheViewLearnsOfAnOpenedDocumentAtOnceAndTheModelStaysConsistent) {
    Start();
    QAbstractItemModelTester tester(&Tree(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&Tree(), &QAbstractItemModel::rowsInserted);
    TTreeNode* first = Open("first.ldx", Doc("First", kTwoLevels));
    TTreeNode* second = Open("second.ldx", Doc("Second", kTwoLevels));
    ASSERT_EQ(inserted.count(), 2) << "one insertion per document";
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(inserted[i][0].value<QModelIndex>().isValid()) << "a top-level insertion";
    }
    EXPECT_EQ(Tree().Count(), 10u);
    const QModelIndex secondIndex = Tree().index(1, 0);
    EXPECT_EQ(Tree().NodeAt(secondIndex), second);
    EXPECT_EQ(Tree().rowCount(secondIndex), 2);
    EXPECT_EQ(Tree().NodeAt(Tree().index(0, 0, Tree().index(0, 0, secondIndex))), Find(second, {"A", "A1"}));
    EXPECT_EQ(Tree().data(Tree().index(0, 0, secondIndex), Qt::DisplayRole).toString(), "A");

    Select(Find(first, {"B"}));
    Window().Button_InsertSubBranch->trigger();
    Encrypt(Find(first, {"A"}), "pw", TLock::AtOnce);
    ASSERT_TRUE(IsNodeLocked(Find(first, {"A"})));
    Select(Find(first, {"A"}));
    AnswerPassword("pw");
    Window().Button_LockBranch->trigger();
    EXPECT_EQ(ChildTitles(Find(first, {"A"})), (std::vector<std::string>{"A1", "A2"}));
    Select(Find(second, {"B"}));
    Window().Button_RemoveBranch->trigger();
    Select(first);
    Questions().Answers.push_back(TAnswer::No);
    Window().MI_Close->trigger();
    EXPECT_EQ(Tree().TopLevelCount(), 1);
    EXPECT_EQ(Tree().Count(), 4u);
}

TEST_F(BranchCommandsTest, InsertSubBranchMakesASelectedUntitledLeafOpenForEditing) {
    struct Case {
        const char* name;
        std::string password; // the leaf is encrypted (and unlocked) under it when not empty
        int parentPicture;
    };
    for (const Case& c : {Case{"plain", "", picBranchWithSubBranches},
                          Case{"encrypted", "pw", picBranchWithSubBranchesLocked}}) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        TTreeNode* leaf = Find(root, {"B"});
        if (!c.password.empty()) {
            Encrypt(leaf, c.password);
        }
        root->Document()->SetModified(false);
        Select(leaf);
        Window().Button_InsertSubBranch->trigger();
        ASSERT_EQ(leaf->ChildCount(), 1);
        TTreeNode* node = leaf->Child(0);
        EXPECT_EQ(node->Text(), "???");
        EXPECT_EQ(node->Picture(), picBranch);
        EXPECT_EQ(leaf->Picture(), c.parentPicture);
        EXPECT_EQ(Tree().Selected(), node);
        EXPECT_FALSE(Window().TreeView->findChildren<QLineEdit*>().isEmpty()) << "open for editing";
        const TDomNode element = ElementOf(node);
        EXPECT_EQ(element.Parent(), ElementOf(leaf));
        EXPECT_EQ(element.Name(), "note");
        EXPECT_EQ(element.Attributes(), (std::vector<std::pair<std::string, std::string>>{{"title", "???"}}))
            << "a title and no memo";
        EXPECT_TRUE(root->Document()->Modified());
        Discard();
    }
}

TEST_F(BranchCommandsTest, InsertBranchAddsASiblingOrOpensAFileAtTheTop) {
    Start();
    // No document: the open dialog.
    Questions().FileNames.push_back(std::nullopt);
    Window().Button_InsertBranch->trigger();
    EXPECT_EQ(Questions().OpenDirectories.size(), 1u);

    TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
    // A top-level node: the open dialog again, nothing inserted.
    Select(root);
    Questions().FileNames.push_back(std::nullopt);
    Window().Button_InsertBranch->trigger();
    EXPECT_EQ(Questions().OpenDirectories.size(), 3u);
    EXPECT_EQ(root->ChildCount(), 2);

    // A branch: a new last sibling, in the element too.
    Select(Find(root, {"A", "A1"}));
    Window().Button_InsertBranch->trigger();
    TTreeNode* a = Find(root, {"A"});
    EXPECT_EQ(ChildTitles(a), (std::vector<std::string>{"A1", "A2", "???"}));
    EXPECT_EQ(ElementTitles(ElementOf(a)), (std::vector<std::string>{"A1", "A2", "???"}));
    EXPECT_EQ(Tree().Selected(), a->Child(2));
}

TEST_F(BranchCommandsTest, NothingIsInsertedIntoALockedBranch) {
    const auto [root, a] = StartWithLockedBranch(kTwoLevels, {"A"}, "pw");
    const std::string payload = std::string(ElementOf(a).FirstChild().Text());
    Select(a);
    EXPECT_FALSE(Window().Button_InsertSubBranch->isEnabled());
    // The command refuses even where its button would be enabled.
    Window().Button_InsertSubBranch->setEnabled(true);
    Window().Button_InsertSubBranch->trigger();
    // Nor as a sibling of its placeholder.
    SelectHidden(a->Child(0));
    Window().Button_InsertBranch->trigger();
    ASSERT_EQ(a->ChildCount(), 1);
    EXPECT_EQ(a->Child(0)->Text(), kPlaceholderText);
    EXPECT_EQ(ElementOf(a).ChildCount(), 1u);
    EXPECT_EQ(ElementOf(a).FirstChild().Text(), payload);
}

TEST_F(BranchCommandsTest, RemoveSelectsThePreviousSiblingOrTheParent) {
    struct Case {
        const char* name;
        std::vector<std::string> removed;
        std::vector<std::string> selectedAfter;
        std::vector<std::string> childrenOfA;
        int pictureOfA;
    };
    for (const Case& c : {
             Case{"first child", {"A", "A1"}, {"A"}, {"A2"}, picBranchWithSubBranches},
             Case{"later child", {"A", "A2"}, {"A", "A1"}, {"A1"}, picBranchWithSubBranches},
         }) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        if (Select(Find(root, c.removed))->HasChildren()) {
            Questions().Answers.push_back(TAnswer::Yes);
        }
        Window().Button_RemoveBranch->trigger();
        TTreeNode* a = Find(root, {"A"});
        EXPECT_EQ(Tree().Selected(), Find(root, c.selectedAfter));
        EXPECT_EQ(ChildTitles(a), c.childrenOfA);
        EXPECT_EQ(ElementTitles(ElementOf(a)), c.childrenOfA);
        EXPECT_EQ(a->Picture(), c.pictureOfA);
        EXPECT_TRUE(root->Document()->Modified());
        EXPECT_TRUE(Questions().Asked.empty()) << "nothing is asked";
        Discard();
    }
    // The last sub-branch gone: the parent becomes a leaf.
    Start();
    TTreeNode* root =
        Open("doc.ldx", Doc("Doc", "<note title=\"P\">\r\n<note title=\"only\"/>\r\n</note>\r\n"));
    Select(Find(root, {"P", "only"}));
    Window().Button_RemoveBranch->trigger();
    EXPECT_EQ(Find(root, {"P"})->Picture(), picBranch);
    EXPECT_FALSE(ElementOf(Find(root, {"P"})).HasChildNodes());
}

TEST_F(BranchCommandsTest, RemoveOnADocumentAsksAndCloses) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
    root->Document()->SetModified(true);
    Select(root);
    Questions().Answers.push_back(TAnswer::No);
    Window().Button_RemoveBranch->trigger();
    EXPECT_EQ(Questions().Asked.size(), 1u);
    EXPECT_EQ(Tree().TopLevelCount(), 0);
}

TEST_F(BranchCommandsTest, RemovingTheMarkedBranchOrAnAncestorDropsTheMark) {
    struct Case {
        const char* name;
        std::vector<std::string> marked, removed;
        bool markStays;
    };
    for (const Case& c :
         {Case{"itself", {"A", "A1"}, {"A", "A1"}, false}, Case{"its parent", {"A", "A1"}, {"A"}, false},
          Case{"another branch", {"B"}, {"A", "A1"}, true},
          Case{"the previous sibling of the removed", {"A", "A1"}, {"A", "A2"}, true}}) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        TTreeNode* marked = Select(Find(root, c.marked));
        Window().Button_Cut->trigger();
        if (Select(Find(root, c.removed))->HasChildren()) {
            Questions().Answers.push_back(TAnswer::Yes);
        }
        Window().Button_RemoveBranch->trigger();
        if (c.markStays) {
            EXPECT_EQ(Window().MarkedNode(), marked);
            EXPECT_EQ(marked->Picture(), picCutMark) << "the node before keeps its Cut picture";
            EXPECT_TRUE(Window().Button_Paste->isEnabled());
        } else {
            EXPECT_EQ(Window().MarkedNode(), nullptr);
            EXPECT_FALSE(Window().Button_Paste->isEnabled());
        }
        Discard();
    }
}

TEST_F(BranchCommandsTest, CutAndCopyMarksToggleAndReplaceEachOther) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
    TTreeNode* a = Find(root, {"A"});
    TTreeNode* b = Find(root, {"B"});
    Select(root);
    EXPECT_FALSE(Window().Button_Cut->isEnabled()) << "a document cannot be marked";

    Select(a);
    Window().Button_Cut->trigger();
    EXPECT_EQ(a->Picture(), picCutMark);
    EXPECT_TRUE(Window().Button_Paste->isEnabled());
    Window().Button_Cut->trigger();
    EXPECT_EQ(a->Picture(), picBranchWithSubBranches);
    EXPECT_EQ(Window().MarkedNode(), nullptr);
    EXPECT_FALSE(Window().Button_Paste->isEnabled());

    Window().Button_Cut->trigger();
    Select(b);
    Window().Button_Copy->trigger();
    EXPECT_EQ(a->Picture(), picBranchWithSubBranches);
    EXPECT_EQ(b->Picture(), picCopyMark);
    EXPECT_EQ(Window().MarkedNode(), b);
    // Cut on a copy-marked branch turns the mark into a Cut mark.
    Window().Button_Cut->trigger();
    EXPECT_EQ(b->Picture(), picCutMark);
    EXPECT_EQ(Window().MarkedNode(), b);
    EXPECT_FALSE(root->Document()->Modified()) << "marking changes nothing";
}

TEST_F(BranchCommandsTest, PasteBetweenDocumentsCopiesOrMoves) {
    struct Case {
        const char* name;
        QAction* TForm_Ludex::*button;
        bool moved;
    };
    for (const Case& c :
         {Case{"copy", &TForm_Ludex::Button_Copy, false}, Case{"cut", &TForm_Ludex::Button_Cut, true}}) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* first = Open("one.ldx", Doc("One", kTwoLevels));
        TTreeNode* second = Open("two.ldx", Doc("Two", "<note title=\"z\"/>\r\n<note title=\"y\"/>\r\n"));
        TTreeNode* a = Select(Find(first, {"A"}));
        (Window().*c.button)->trigger();
        Select(second);
        Window().Button_Paste->trigger();

        TTreeNode* pasted = Find(second, {"A"});
        ASSERT_NE(pasted, nullptr);
        EXPECT_EQ(ChildTitles(second), (std::vector<std::string>{"A", "y", "z"}))
            << "placed by the branch order";
        EXPECT_EQ(ElementTitles(ElementOf(second)), (std::vector<std::string>{"z", "y", "A"}))
            << "appended last among the elements";
        EXPECT_EQ(ChildTitles(pasted), (std::vector<std::string>{"A1", "A2"}));
        EXPECT_EQ(MemoAccess.Read(ElementOf(pasted)), "a memo");
        EXPECT_EQ(Tree().Selected(), pasted);
        EXPECT_EQ(pasted->Picture(), picBranchWithSubBranches);
        EXPECT_EQ(Window().MarkedNode(), nullptr);
        EXPECT_FALSE(Window().Button_Paste->isEnabled());
        EXPECT_TRUE(second->Document()->Modified());
        EXPECT_EQ(second->Picture(), picDocumentModified);
        if (c.moved) {
            EXPECT_EQ(ChildTitles(first), (std::vector<std::string>{"B"}));
            EXPECT_EQ(ElementTitles(ElementOf(first)), (std::vector<std::string>{"B"}));
            EXPECT_TRUE(first->Document()->Modified()) << "both documents are modified";
        } else {
            EXPECT_EQ(a->Picture(), picBranchWithSubBranches) << "the copy mark is gone";
            EXPECT_EQ(ChildTitles(first), (std::vector<std::string>{"A", "B"}));
            EXPECT_FALSE(first->Document()->Modified()) << "the source document is untouched";
        }
        Discard();
    }
}

TEST_F(BranchCommandsTest, CutBranchCannotBePastedIntoItselfOrBelowItself) {
    for (const auto& target : std::vector<std::vector<std::string>>{{"A"}, {"A", "A1"}}) {
        SCOPED_TRACE(target.back());
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        TTreeNode* a = Select(Find(root, {"A"}));
        Window().Button_Cut->trigger();
        Select(Find(root, target));
        Questions().Errors.clear();
        Window().Button_Paste->trigger();
        EXPECT_EQ(Questions().Errors,
                  (std::vector<QString>{QString::fromStdString(Message("CanNotPastBranch"))}));
        EXPECT_EQ(ChildTitles(a), (std::vector<std::string>{"A1", "A2"}));
        EXPECT_EQ(ElementTitles(ElementOf(a)), (std::vector<std::string>{"A1", "A2"}));
        EXPECT_EQ(Window().MarkedNode(), a) << "the mark stays";
        EXPECT_FALSE(root->Document()->Modified());
        Discard();
    }
}

TEST_F(BranchCommandsTest, CopiedBranchPastedIntoItselfIsCopiedOnce) {
    struct Case {
        std::vector<std::string> target;
        std::vector<std::string> copyPath; // where the copy lands
    };
    for (const Case& c : {Case{{"A"}, {"A", "A"}}, Case{{"A", "A2"}, {"A", "A2", "A"}}}) {
        SCOPED_TRACE(c.target.back());
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        Select(Find(root, {"A"}));
        Window().Button_Copy->trigger();
        Select(Find(root, c.target));
        Window().Button_Paste->trigger();
        TTreeNode* copy = Find(root, c.copyPath);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(ChildTitles(copy), (std::vector<std::string>{"A1", "A2"})) << "the branch as it was";
        EXPECT_EQ(ElementTitles(ElementOf(copy)), (std::vector<std::string>{"A1", "A2"}));
        EXPECT_EQ(Find(copy, {"A2"})->ChildCount(), 0);
        EXPECT_EQ(Tree().Count(), 8u) << "the document, A, A1, A2, B and one copy of A, A1, A2";
        Discard();
    }
}

TEST_F(BranchCommandsTest, PasteOntoALockedBranchIsRefused) {
    const auto [root, a] = StartWithLockedBranch(kTwoLevels, {"A"}, "pw");
    Select(Find(root, {"B"}));
    Window().Button_Copy->trigger();
    root->Document()->SetModified(false);
    const std::string payload = std::string(ElementOf(a).FirstChild().Text());
    for (TTreeNode* target : {a, a->Child(0)}) {
        SelectHidden(target);
        Window().Button_Paste->trigger();
        ASSERT_FALSE(Questions().Informed.empty());
        EXPECT_EQ(Questions().Informed.back().toStdString(), Message("CanNotPastAtLockedNode"));
        EXPECT_EQ(ElementOf(a).ChildCount(), 1u);
        EXPECT_EQ(ElementOf(a).FirstChild().Text(), payload);
        EXPECT_EQ(a->ChildCount(), 1);
    }
    EXPECT_EQ(Questions().Informed.size(), 2u);
    EXPECT_FALSE(root->Document()->Modified());
    EXPECT_NE(Window().MarkedNode(), nullptr);
}

TEST_F(BranchCommandsTest, FailingPasteLeavesTheTargetAndTheMark) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", "<note title=\"odd\">\r\n<note title=\"fine\"/>\r\n<!-- a "
                                                 "comment -->\r\n</note>\r\n<note title=\"target\"/>\r\n"));
    TTreeNode* odd = Select(Find(root, {"odd"}));
    Window().Button_Copy->trigger();
    TTreeNode* target = Select(Find(root, {"target"}));
    Window().Button_Paste->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_EQ(Questions().Errors[0].toStdString(), "Unsupported NodeType");
    EXPECT_FALSE(ElementOf(target).HasChildNodes()) << "nothing left behind in the target element";
    EXPECT_EQ(target->ChildCount(), 0);
    EXPECT_EQ(Window().MarkedNode(), odd);
    EXPECT_EQ(odd->Picture(), picCopyMark);
}

TEST_F(BranchCommandsTest, InsertingBelowACutBranchKeepsItsCutMark) {
    Start();
    TTreeNode* first = Open("one.ldx", Doc("One", kTwoLevels));
    TTreeNode* b = Select(Find(first, {"B"}));
    Window().Button_Cut->trigger();
    Window().Button_InsertSubBranch->trigger();
    EXPECT_EQ(b->Picture(), picCutMark) << "the mark's kind is its picture; Paste must still move";
    Select(Find(first, {"A", "A1"}));
    Window().Button_Paste->trigger();
    EXPECT_EQ(Find(first, {"B"}), nullptr) << "moved, not copied";
    EXPECT_NE(Find(first, {"A", "A1", "B", "???"}), nullptr);
}

TEST_F(BranchCommandsTest, ResortOrdersEveryLevelAndTheDocumentsButNotTheElements) {
    Start();
    TTreeNode* second = Open("z.ldx", Doc("z", "<note title=\"b\"/>\r\n<note title=\"a\"/>\r\n"));
    TTreeNode* first = Open("a.ldx", Doc("A", "<note title=\"k\"/>\r\n"));
    Select(second);
    Window().Button_InsertSubBranch->trigger(); // "???" stays last until the next sort
    Select(Find(second, {"b"}));
    Window().Button_InsertSubBranch->trigger();
    TTreeNode* b = Find(second, {"b"});
    Tree().SetText(b->Child(0), "y");
    TitleAccess.Write(ElementOf(b->Child(0)), "y");
    Window().Button_InsertBranch->trigger();
    EXPECT_EQ(ChildTitles(second), (std::vector<std::string>{"a", "b", "???"}));
    Window().Button_Resort->trigger();
    EXPECT_EQ(Tree().TopLevel(0), first);
    EXPECT_EQ(Tree().TopLevel(1), second);
    EXPECT_EQ(ChildTitles(second), (std::vector<std::string>{"b", "???", "a"}));
    EXPECT_EQ(ChildTitles(b), (std::vector<std::string>{"???", "y"}));
    EXPECT_EQ(ElementTitles(ElementOf(second)), (std::vector<std::string>{"b", "a", "???"}));
    EXPECT_EQ(ElementTitles(ElementOf(b)), (std::vector<std::string>{"y", "???"}));
}

TEST_F(BranchCommandsTest, RenameOpensTheTitleAndAnEditRenamesTheBranch) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
    TTreeNode* b = Select(Find(root, {"B"}));
    Window().Button_Rename->trigger();
    auto* editor = Window().TreeView->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("Renamed");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the view commits a finished edit from its event queue
    EXPECT_EQ(b->Text(), "Renamed");
    EXPECT_EQ(TitleAccess.Read(ElementOf(b)), "Renamed");
    EXPECT_TRUE(root->Document()->Modified());
}

} // namespace
} // namespace ludex::test
