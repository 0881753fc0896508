// Nodes made when first needed: every command that reaches a branch whose nodes are not made yet
// leaves exactly one node for each branch, in the order its branch keeps.
#include "BranchTestSupport.h"

#include <QSignalSpy>

#include <functional>
#include <string>
#include <vector>

namespace ludex::test {
namespace {

class NodeMakingTest : public BranchTest {
protected:
    // Makes every node below `top` and checks each against its element: one node for each child
    // element (a placeholder alone below a locked branch with a payload), every row, level and
    // parent right.
    void ExpectNodesMatchTheDocument(TTreeNode* top) {
        std::vector<TTreeNode*> pending{top};
        while (!pending.empty()) {
            TTreeNode* node = pending.back();
            pending.pop_back();
            const TDomNode element = ElementOf(node);
            if (!element) {
                EXPECT_EQ(node->ChildCount(), 0) << "a placeholder";
                continue;
            }
            std::vector<std::string> expected;
            if (IsBranchLocked(element)) {
                if (element.HasChildNodes()) {
                    expected.push_back(kPlaceholderText);
                }
            } else {
                expected = ElementTitles(element);
            }
            std::vector<std::string> made = ChildTitles(node);
            std::sort(expected.begin(), expected.end());
            std::sort(made.begin(), made.end());
            EXPECT_EQ(made, expected) << node->Text();
            for (int i = 0; i < node->ChildCount(); ++i) {
                TTreeNode* child = node->Child(i);
                EXPECT_EQ(child->Parent(), node);
                EXPECT_EQ(child->Row(), i);
                EXPECT_EQ(child->Level(), node->Level() + 1);
                EXPECT_EQ(Tree().IndexOf(child).parent(), Tree().IndexOf(node));
                if (ElementOf(child)) {
                    EXPECT_TRUE(ElementOf(child).Parent() == element) << child->Text();
                }
                pending.push_back(child);
            }
        }
    }
};

TEST_F(NodeMakingTest, ACommandOnABranchWhoseNodesAreUnmadeLeavesOneNodePerBranch) {
    const std::string content = "<note title=\"P\"><note title=\"c\"><note title=\"c1\"/></note>"
                                "<note title=\"b\"/><note title=\"a\"><note title=\"a1\"/></note></note>"
                                "<note title=\"Q\"><note title=\"q1\"/></note>";
    struct Case {
        const char* name;
        std::function<void(TTreeNode* doc, TTreeNode* p)> act;
    };
    const std::vector<Case> cases = {
        {"insert a sub-branch",
         [this](TTreeNode*, TTreeNode* p) {
             Select(p);
             Window().MI_InsertSubBranch->trigger();
         }},
        {"paste a copy into it",
         [this](TTreeNode* doc, TTreeNode* p) {
             Select(Find(doc, {"Q"}));
             Window().MI_Copy->trigger();
             Select(p);
             Window().MI_Paste->trigger();
         }},
        {"move a branch into it",
         [this](TTreeNode* doc, TTreeNode* p) {
             Select(Find(doc, {"Q"}));
             Window().MI_Cut->trigger();
             Select(p);
             Window().MI_Paste->trigger();
         }},
        {"undo a removal inside it after its own removal is undone",
         [this](TTreeNode* doc, TTreeNode*) {
             Select(Find(doc, {"P", "b"}));
             Window().MI_RemoveBranch->trigger();
             Select(Find(doc, {"P"}));
             Questions().Answers.push_back(TAnswer::Yes);
             Window().MI_RemoveBranch->trigger();
             Window().MI_Undo->trigger(); // P is back, its sub-branches' nodes unmade
             EXPECT_TRUE(Find(doc, {"P"})->ChildrenUnmade());
             Window().MI_Undo->trigger(); // b goes back into P
         }},
        {"lock and unlock it",
         [this](TTreeNode*, TTreeNode* p) {
             Encrypt(p, "key", TLock::AtOnce);
             EXPECT_TRUE(IsNodeLocked(p));
             Select(p);
             AnswerPassword("key");
             Window().Button_LockBranch->trigger();
             EXPECT_FALSE(IsNodeLocked(p));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* doc = Open("doc.ldx", Doc("Doc", content));
        TTreeNode* p = Find(doc, {"P"});
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(p->ChildrenUnmade());
        ASSERT_TRUE(p->HasChildren());
        c.act(doc, p);
        EXPECT_TRUE(Questions().Errors.empty());
        ExpectNodesMatchTheDocument(doc);
    }
}

// Nodes keep the order their branch was given: the file's order for a pasted copy, until a
// resort gives every level the window's order, made or not.
TEST_F(NodeMakingTest, NodesMadeLaterTakeTheOrderTheirBranchKeeps) {
    Start();
    TTreeNode* doc = Open("doc.ldx", Doc("Doc", "<note title=\"S\"><note title=\"L\"><note title=\"z\"/>"
                                                "<note title=\"y\"/><note title=\"X\"><note title=\"x\"/>"
                                                "</note></note></note><note title=\"T\"/>"));
    Select(Find(doc, {"S"}));
    Window().MI_Copy->trigger();
    Select(Find(doc, {"T"}));
    Window().MI_Paste->trigger();
    Select(Find(doc, {"S"}));
    Window().MI_Copy->trigger();
    Select(Find(doc, {"T"}));
    Window().MI_Paste->trigger();
    TTreeNode* t = Find(doc, {"T"});
    ASSERT_EQ(t->ChildCount(), 2);
    TTreeNode* seen = t->Child(0);
    TTreeNode* unseen = t->Child(1);
    ASSERT_TRUE(seen->ChildrenUnmade());
    ASSERT_TRUE(unseen->ChildrenUnmade());
    EXPECT_EQ(ChildTitles(Find(seen, {"L"})), (std::vector<std::string>{"z", "y", "X"}))
        << "the file's order";
    ASSERT_TRUE(unseen->ChildrenUnmade());

    QSignalSpy inserted(&Tree(), &QAbstractItemModel::rowsInserted);
    Window().Button_Resort->trigger();
    ASSERT_TRUE(unseen->ChildrenUnmade());
    EXPECT_EQ(ChildTitles(Find(seen, {"L"})), (std::vector<std::string>{"X", "y", "z"}))
        << "made, and sorted";
    EXPECT_EQ(ChildTitles(Find(unseen, {"L"})), (std::vector<std::string>{"X", "y", "z"})) << "made in order";
    // The original was opened in the window's order.
    EXPECT_EQ(ChildTitles(Find(doc, {"S", "L"})), (std::vector<std::string>{"X", "y", "z"}));
    EXPECT_EQ(inserted.count(), 0) << "nodes made from the document are no insertion";
    ExpectNodesMatchTheDocument(doc);
}

// The whole-tree and branch counts that commands show come from the documents, so that they
// count branches whose nodes are not made yet.
TEST_F(NodeMakingTest, CountsOfBranchesIncludeThoseWhoseNodesAreUnmade) {
    Start();
    TTreeNode* doc = Open("doc.ldx", Doc("Doc", "<note title=\"P\"><note title=\"a\"><note title=\"a1\"/>"
                                                "<note title=\"a2\"/></note><note title=\"b\"/></note>"));
    TTreeNode* p = Find(doc, {"P"});
    ASSERT_TRUE(p->ChildrenUnmade());
    const size_t made = Tree().Count();
    EXPECT_EQ(made, 2u) << "the document and P";
    EXPECT_EQ(CountBranches(ElementOf(doc)).Nodes(), 6u);

    Window().MI_AskBeforeRemove->setChecked(true);
    Select(p);
    Questions().Answers.push_back(TAnswer::No);
    Window().MI_RemoveBranch->trigger();
    ASSERT_EQ(Questions().Asked.size(), 1u);
    EXPECT_EQ(Questions().Asked.back(),
              QString::fromStdString(LanguageLocaler().FormatMessage("RemoveBranchQuery", {"P", "4"})));
    EXPECT_EQ(Tree().Count(), made) << "asking made no node";
}

} // namespace
} // namespace ludex::test
