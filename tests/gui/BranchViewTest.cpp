// The branch tree's view on deep trees: what its style draws, and what a sort tells the view.
#include "GuiTestSupport.h"

#include "gui/tree/BranchTree.h"
#include "gui/tree/BranchView.h"
#include "gui/tree/BranchViewStyle.h"
#include "gui/tree/TreeViewManager.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTreeView>

#include <vector>

namespace ludex::test {
namespace {

// Records every branch indicator that reaches the real style.
class TRecordingStyle : public QProxyStyle {
public:
    TRecordingStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_IndicatorBranch) {
            drawn.push_back(option->rect);
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
    mutable std::vector<QRect> drawn;
};

constexpr int kLevels = 200;

// A chain of kLevels items, each with two leaves before the next level, all open, scrolled to the
// deepest level.
struct TDeepView {
    QStandardItemModel model;
    QTreeView view;

    explicit TDeepView(QStyle* style) {
        QStandardItem* parent = model.invisibleRootItem();
        for (int level = 0; level < kLevels; ++level) {
            parent->appendRow(new QStandardItem("leaf"));
            parent->appendRow(new QStandardItem("leaf"));
            auto* next = new QStandardItem(QString("level %1").arg(level));
            parent->appendRow(next);
            parent = next;
        }
        view.setStyle(style);
        view.setModel(&model);
        view.setHeaderHidden(true);
        view.setIndentation(20);
        view.resize(300, 400);
        view.expandAll();
        view.scrollTo(model.indexFromItem(parent));
        view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
    }
};

TEST(BranchViewStyleTest, DrawsOnlyTheBranchIndicatorsInsideTheView) {
    auto* recorded = new TRecordingStyle; // owned by the style of the view
    TBranchViewStyle style(recorded);
    TDeepView filtered(&style);
    filtered.view.grab();

    TRecordingStyle plain;
    TDeepView unfiltered(&plain);
    unfiltered.view.grab();

    ASSERT_FALSE(recorded->drawn.empty()) << "the rows in sight have their indicators";
    const QRect inSight = filtered.view.viewport()->rect();
    for (const QRect& rect : recorded->drawn) {
        EXPECT_TRUE(rect.intersects(inSight)) << rect.x() << "," << rect.y();
    }
    // The rows in sight are as deep as the chain: every level above each of them has an indicator,
    // of which only the few in sight are drawn.
    EXPECT_GT(plain.drawn.size(), 8 * recorded->drawn.size());
}

// The branch view against the plain tree view, on equal models: rows that go from under a closed
// branch are left out of the view's layout, and what it shows must still be what the tree view
// shows, row for row and pixel for pixel.
struct TViewPair {
    QStandardItemModel models[2];
    TBranchView branchView;
    QTreeView plainView;

    // Top-level "a" holds "a0" (which holds "a00" and was opened before "a" closed), "a1", "a2";
    // "b" holds "b0"; "c" holds "c0" alone; "d" holds "d0" and "d1"; "e" holds "e0" and "e1". Only "b"
    // and "e" are open.
    TViewPair() {
        QTreeView* views[2] = {&branchView, &plainView};
        for (int i = 0; i < 2; ++i) {
            QStandardItem* root = models[i].invisibleRootItem();
            auto add = [](QStandardItem* parent, const QString& text) {
                auto* item = new QStandardItem(text);
                parent->appendRow(item);
                return item;
            };
            QStandardItem* a = add(root, "a");
            add(add(a, "a0"), "a00");
            add(a, "a1");
            add(a, "a2");
            add(add(root, "b"), "b0");
            add(add(root, "c"), "c0");
            QStandardItem* d = add(root, "d");
            add(d, "d0");
            add(d, "d1");
            QStandardItem* e = add(root, "e");
            add(e, "e0");
            add(e, "e1");
            views[i]->setModel(&models[i]);
            views[i]->setHeaderHidden(true);
            views[i]->resize(200, 300);
            views[i]->expand(models[i].index(0, 0, models[i].index(0, 0)));
            views[i]->expand(models[i].index(0, 0));
            views[i]->collapse(models[i].index(0, 0));
            views[i]->expand(models[i].index(1, 0));
            views[i]->expand(models[i].index(4, 0));
        }
    }
    // The rows shown, in order, with their places.
    static std::vector<std::pair<QString, QRect>> Rows(QTreeView& view) {
        std::vector<std::pair<QString, QRect>> rows;
        for (QModelIndex index = view.model()->index(0, 0); index.isValid(); index = view.indexBelow(index)) {
            rows.emplace_back(index.data().toString(), view.visualRect(index));
        }
        return rows;
    }
    // The row of the branch along `path` (row numbers from the top) in model i.
    QModelIndex At(int i, std::vector<int> path) {
        QModelIndex index;
        for (int row : path) {
            index = models[i].index(row, 0, index);
        }
        return index;
    }
};

TEST(BranchViewRemovalTest, RowsGoneFromUnderAClosedBranchLeaveTheViewAsTheTreeViewShowsIt) {
    TViewPair pair;
    pair.branchView.show();
    pair.plainView.show();
    struct TStep {
        const char* what;
        std::vector<int> parent;
        int row;
        int count;
        std::vector<int> expandAfter; // a branch opened once the rows are gone (empty: none)
    };
    const TStep steps[] = {
        {"a leaf from the closed a", {0}, 1, 1, {}},
        {"the once opened a0 from the closed a", {0}, 0, 1, {}},
        {"a opened: a2 alone is left", {0}, 0, 0, {0}},
        {"the last child of the closed c: its expander goes", {2}, 0, 1, {}},
        {"the first of two from the closed d", {3}, 0, 1, {}},
        {"a leaf from the open b, its last", {1}, 0, 1, {}},
        {"the first of two from the open e", {4}, 0, 1, {}},
        {"the closed d itself, from the top", {}, 3, 1, {}},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.what);
        for (int i = 0; i < 2; ++i) {
            if (step.count > 0) {
                QModelIndex parent = pair.At(i, step.parent);
                QStandardItem* item = parent.isValid() ? pair.models[i].itemFromIndex(parent)
                                                       : pair.models[i].invisibleRootItem();
                item->removeRows(step.row, step.count);
            }
            if (!step.expandAfter.empty()) {
                (i == 0 ? static_cast<QTreeView&>(pair.branchView) : pair.plainView)
                    .expand(pair.At(i, step.expandAfter));
            }
        }
        QApplication::processEvents();
        EXPECT_EQ(TViewPair::Rows(pair.branchView), TViewPair::Rows(pair.plainView));
        EXPECT_EQ(pair.branchView.grab().toImage(), pair.plainView.grab().toImage());
    }
    EXPECT_EQ(TViewPair::Rows(pair.branchView).size(), 6u) << "a, a2, b, c, e, e1";
}

class BranchTreeOrderTest : public TProgramTest {
protected:
    TBranchTree& Tree() { return Window().Tree(); }

    // `count` branches "s0", "s1", ..., each holding one leaf.
    static std::string BranchesWithLeaves(int count) {
        std::string content;
        for (int i = 0; i < count; ++i) {
            content += "<note title=\"s" + std::to_string(i) + "\"><note title=\"leaf\"/></note>";
        }
        return content;
    }
    // Starts the program with a document of that content, saved under that name.
    void StartWithDocument(const std::string& name, const std::string& content) {
        Start(WriteFile(name, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                              "<ludex version=\"2.1.0 \" title=\"Root\" memo=\"\">" +
                                  content + "</ludex>"));
    }
};

// A branch below the levels the tree opens has no row: the view gives it no place, and selecting
// it or leaving it repaints the rows in sight as for any branch.
TEST_F(BranchTreeOrderTest, BranchesBelowTheOpenLevelsHaveNoRowAndTheOthersKeepTheirs) {
    const int levels = TBranchTree::kMostOpenLevels + 3;
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"Root\" memo=\"\">";
    for (int i = 0; i < levels; ++i) {
        text += "<note title=\"n" + std::to_string(i) + "\"><note title=\"leaf\"/>";
    }
    for (int i = 0; i < levels; ++i) {
        text += "</note>";
    }
    text += "</ludex>";
    Start(WriteFile("deep.ldx", text));
    Window().show();
    auto* view = dynamic_cast<TBranchView*>(Window().TreeView);
    ASSERT_NE(view, nullptr);
    TTreeNode* top = Tree().TopLevel(Tree().TopLevelCount() - 1);
    std::vector<TTreeNode*> chain{top};
    while (chain.back()->ChildCount() > 0) {
        TTreeNode* next = chain.back()->Child(0); // a branch with sub-branches comes first
        chain.push_back(next);
    }
    TTreeNode* deepest = chain.back();
    ASSERT_GT(deepest->Level(), TBranchTree::kMostOpenLevels);
    for (TTreeNode* selected : {deepest, top->Child(0), deepest, top}) {
        Tree().Select(selected);
        QCoreApplication::processEvents();
        EXPECT_EQ(Tree().Selected(), selected);
    }
    TTreeNode* lastShown = chain[static_cast<size_t>(TBranchTree::kMostOpenLevels)];
    Tree().Select(deepest);
    QCoreApplication::processEvents();
    // A row's place has its height, however narrow the column is at such a depth.
    EXPECT_EQ(view->visualRect(Tree().IndexOf(deepest)), QRect());
    EXPECT_EQ(view->visualRect(Tree().IndexOf(deepest->Parent())), QRect());
    EXPECT_GT(view->visualRect(Tree().IndexOf(lastShown)).height(), 0) << "the deepest row shown";
    EXPECT_GT(view->visualRect(Tree().IndexOf(top)).height(), 0);
}

// Selecting along one line of descent below the open levels, and from one such line to another,
// shows each time the deepest open row of the selected branch's own line.
TEST_F(BranchTreeOrderTest, SelectingBelowTheOpenLevelsShowsTheOpenRowOfTheBranchsOwnLine) {
    const int levels = TBranchTree::kMostOpenLevels + 40;
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"Root\" memo=\"\">";
    for (const char* line : {"a", "b"}) {
        for (int i = 0; i < levels; ++i) {
            text += "<note title=\"" + std::string(line) + std::to_string(i) + "\">";
        }
        for (int i = 0; i < levels; ++i) {
            text += "</note>";
        }
    }
    text += "</ludex>";
    Start(WriteFile("lines.ldx", text));
    Window().show();
    auto* view = dynamic_cast<TBranchView*>(Window().TreeView);
    ASSERT_NE(view, nullptr);
    TTreeNode* top = Tree().TopLevel(Tree().TopLevelCount() - 1);
    ASSERT_EQ(top->ChildCount(), 2);
    std::vector<std::vector<TTreeNode*>> lines(2);
    for (int l = 0; l < 2; ++l) {
        lines[l].push_back(top->Child(l));
        while (lines[l].back()->ChildCount() > 0) {
            lines[l].push_back(lines[l].back()->Child(0));
        }
        ASSERT_EQ(lines[l].size(), static_cast<size_t>(levels));
    }
    const auto at = [&](int line, int level) { return lines[line][static_cast<size_t>(level - 1)]; };
    const int open = TBranchTree::kMostOpenLevels;
    const std::pair<int, int> selections[] = {
        {0, levels},   {0, levels - 2}, {0, levels - 1}, {0, open + 2},   {0, levels}, // along line a
        {1, levels},   {1, open + 1},   {1, open + 5},                                 // over to line b
        {0, open + 3}, {1, levels - 1}, {0, open + 1},   {0, levels - 3},              // back and forth
    };
    for (const auto& [line, level] : selections) {
        TTreeNode* node = at(line, level);
        Tree().Select(node);
        QCoreApplication::processEvents();
        EXPECT_EQ(Tree().Selected(), node) << "line " << line << ", level " << level;
        EXPECT_GT(view->visualRect(Tree().IndexOf(at(line, open))).height(), 0)
            << "the deepest open row of line " << line << ", selected at level " << level;
        EXPECT_EQ(view->visualRect(Tree().IndexOf(at(line, open + 1))), QRect());
    }
}

TEST_F(BranchTreeOrderTest, ASortTellsTheViewOnlyWhenItMovesANode) {
    Start(WriteFile("order.ldx", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                                 "<ludex version=\"2.1.0 \" title=\"Root\" memo=\"\">"
                                 "<note title=\"a\"><note title=\"x\"><note title=\"deep\"/></note></note>"
                                 "<note title=\"b\"/><note title=\"c\"/></ludex>"));
    TTreeNode* top = Tree().TopLevel(0);
    // Every node knows its top-level node and its level without a walk.
    std::vector<TTreeNode*> pending{top};
    int nodes = 0;
    while (!pending.empty()) {
        TTreeNode* node = pending.back();
        pending.pop_back();
        ++nodes;
        int level = 0;
        for (TTreeNode* p = node->Parent(); p != nullptr; p = p->Parent()) {
            ++level;
        }
        EXPECT_EQ(node->Level(), level) << node->Text();
        EXPECT_EQ(node->Root(), top) << node->Text();
        for (int i = 0; i < node->ChildCount(); ++i) {
            pending.push_back(node->Child(i));
        }
    }
    EXPECT_EQ(nodes, 6);
    // Whether one node lies below another, against a walk over all the parents, for every pair,
    // across two documents.
    Window().MI_New->trigger();
    std::vector<TTreeNode*> all;
    for (int t = 0; t < Tree().TopLevelCount(); ++t) {
        std::vector<TTreeNode*> next{Tree().TopLevel(t)};
        while (!next.empty()) {
            TTreeNode* node = next.back();
            next.pop_back();
            all.push_back(node);
            for (int i = 0; i < node->ChildCount(); ++i) {
                next.push_back(node->Child(i));
            }
        }
    }
    ASSERT_EQ(all.size(), 7u);
    for (TTreeNode* a : all) {
        for (TTreeNode* b : all) {
            bool below = false;
            for (TTreeNode* p = a->Parent(); p != nullptr; p = p->Parent()) {
                below = below || p == b;
            }
            EXPECT_EQ(a->HasAsAncestor(b), below) << a->Text() << " below " << b->Text();
        }
    }

    QSignalSpy layouts(&Tree(), &QAbstractItemModel::layoutAboutToBeChanged);
    for (TSortDepth depth : {TSortDepth::OneLevel, TSortDepth::AllLevels}) {
        Tree().SortChildren(top, depth);
    }
    EXPECT_EQ(layouts.count(), 0) << "nothing was out of order";

    TTreeNode* c = top->Child(2);
    Tree().SetText(c, "0");
    Tree().SortChildren(top, TSortDepth::OneLevel);
    EXPECT_EQ(layouts.count(), 1);
    ASSERT_EQ(top->ChildCount(), 3);
    // A branch with sub-branches comes first, then the others by title.
    EXPECT_EQ(top->Child(0)->Text(), "a");
    EXPECT_EQ(top->Child(1), c);
    EXPECT_EQ(c->Row(), 1);
    EXPECT_EQ(Tree().IndexOf(c).row(), 1);
}

// Removed sub-trees are freed beside the window's work; the count of nodes is exact at once, and
// nodes still being freed when the documents close (or the whole window goes) are no matter.
TEST_F(BranchTreeOrderTest, RemovedSubTreesAreCountedAtOnceWhileFreedAside) {
    std::string content;
    for (int b = 0; b < 6; ++b) {
        content += "<note title=\"b" + std::to_string(b) + "\">" + BranchesWithLeaves(300) + "</note>";
    }
    StartWithDocument("many.ldx", content);
    TTreeNode* top = Tree().TopLevel(0);
    for (TTreeNode* node = top; node != nullptr; node = NextInPreOrder(Tree(), node)) {
        // every node made, so that each removal frees a sub-tree of nodes
    }
    const size_t before = Tree().Count();
    ASSERT_EQ(before, 1 + 6 * 601u);
    for (int removed = 1; removed <= 3; ++removed) {
        Tree().Select(top->Child(0));
        Questions().Answers.push_back(TAnswer::Yes); // it has sub-branches
        Window().MI_RemoveBranch->trigger();
        EXPECT_EQ(Tree().Count(), before - static_cast<size_t>(removed) * 601);
    }
    Window().MI_Undo->trigger();
    EXPECT_EQ(Tree().Count(), before - 3 * 601 + 1) << "the branch put back, its sub-branches' nodes unmade";
    // Removed again, and the document closed while its nodes may still be being freed.
    Window().MI_Redo->trigger();
    Tree().Select(top->Child(0));
    Questions().Answers.push_back(TAnswer::Yes);
    Window().MI_RemoveBranch->trigger();
    const int documents = Tree().TopLevelCount();
    size_t nodes = 0; // of the document about to close
    for (TTreeNode* node = top; node != nullptr && node->Root() == top; node = NextInPreOrder(Tree(), node)) {
        ++nodes;
    }
    const size_t all = Tree().Count();
    Questions().Answers.push_back(TAnswer::No); // not saved
    Window().MI_Close->trigger();
    EXPECT_EQ(Tree().TopLevelCount(), documents - 1);
    EXPECT_EQ(Tree().Count(), all - nodes);
    EXPECT_TRUE(Questions().Errors.empty());
}

// A pasted sub-tree reaches the view as the pasted node alone, whatever its size; the nodes below
// are made when first needed, with their pictures, and show the copied elements.
TEST_F(BranchTreeOrderTest, APastedSubTreeReachesTheViewAtOnce) {
    StartWithDocument("paste.ldx",
                      "<note title=\"A\">" + BranchesWithLeaves(40) + "</note><note title=\"B\"/>");
    TTreeNode* top = Tree().TopLevel(0);
    TTreeNode* a = top->Child(0);
    TTreeNode* b = top->Child(1);
    ASSERT_EQ(a->Text(), "A");
    ASSERT_EQ(b->Text(), "B");
    const size_t before = Tree().Count();
    Tree().Select(a);
    Window().MI_Copy->trigger();
    Tree().Select(b);
    QSignalSpy inserted(&Tree(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&Tree(), &QAbstractItemModel::dataChanged);
    Window().MI_Paste->trigger();
    EXPECT_EQ(Tree().Count(), before + 1) << "the nodes below are made when first needed";
    EXPECT_EQ(inserted.count(), 1) << "the pasted node";
    EXPECT_LE(changed.count(), 4) << "no picture change for each node built";
    ASSERT_EQ(b->ChildCount(), 1);
    TTreeNode* copy = b->Child(0);
    EXPECT_TRUE(copy->HasChildren());
    ASSERT_EQ(copy->ChildCount(), 40);
    EXPECT_EQ(Tree().Count(), before + 41);
    EXPECT_EQ(inserted.count(), 1) << "made without a word to the view, which never asked for them";
    for (int i = 0; i < copy->ChildCount(); ++i) {
        TTreeNode* child = copy->Child(i);
        EXPECT_EQ(child->Parent(), copy);
        EXPECT_EQ(child->Row(), i);
        EXPECT_EQ(child->Level(), 3);
        EXPECT_EQ(child->Root(), top);
        EXPECT_EQ(child->Picture(), a->Child(i)->Picture());
        EXPECT_TRUE(child->Element().Parent() == copy->Element());
        ASSERT_EQ(child->ChildCount(), 1);
        EXPECT_EQ(child->Child(0)->Level(), 4);
        EXPECT_EQ(Tree().IndexOf(child->Child(0)).parent(), Tree().IndexOf(child));
    }
}

} // namespace
} // namespace ludex::test
