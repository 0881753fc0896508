// Undo and redo of branch commands, the modified mark, the question before removing a branch with
// sub-branches, and the keys of the Edit menu in the tree and in the memo.
#include "BranchTestSupport.h"

#include "core/document/BranchCipher.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/app/BranchUndo.h"
#include "gui/tree/BranchView.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDropEvent>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace ludex::test {
namespace {

const std::string kTwoLevels = "<note title=\"A\" memo=\"a memo\">\r\n<note title=\"A1\"/>\r\n<note "
                               "title=\"A2\"/>\r\n</note>\r\n<note title=\"B\"/>\r\n";

class UndoTest : public BranchTest {
protected:
    static std::string State(TTreeNode* root) { return root->Document()->RootElement().XML(); }

    // The titles of the nodes as the tree shows them, every made level, in their rows.
    static std::string Shown(const TTreeNode* node) {
        std::string shown = node->Text();
        if (node->ChildCount() > 0) {
            shown += "(";
            for (int i = 0; i < node->ChildCount(); ++i) {
                shown += (i > 0 ? " " : "") + Shown(node->Child(i));
            }
            shown += ")";
        }
        return shown;
    }

    // Every node shows its element, to any depth.
    void ExpectNodesMatchElements(TTreeNode* node) {
        std::vector<TTreeNode*> pending{node};
        while (!pending.empty()) {
            TTreeNode* current = pending.back();
            pending.pop_back();
            const TDomNode element = ElementOf(current);
            if (!element || IsBranchLocked(element)) {
                continue;
            }
            std::vector<std::string> shown = ChildTitles(current);
            std::vector<std::string> stored = ElementTitles(element);
            std::sort(shown.begin(), shown.end());
            std::sort(stored.begin(), stored.end());
            EXPECT_EQ(shown, stored) << current->Text();
            for (int i = 0; i < current->ChildCount(); ++i) {
                EXPECT_EQ(current->Child(i)->Element().Parent(), element);
                pending.push_back(current->Child(i));
            }
        }
    }

    // Drops `source` on `target` as the view receives a drop from a drag of its own.
    void Drop(TTreeNode* source, TTreeNode* target, bool copy) {
        Window().show();
        QTreeView* view = Window().TreeView;
        const QModelIndex at = Tree().IndexOf(target);
        view->scrollTo(at);
        QCoreApplication::processEvents();
        std::unique_ptr<QMimeData> data(Tree().mimeData({Tree().IndexOf(source)}));
        ASSERT_NE(data, nullptr);
        const QPoint point = view->visualRect(at).center();
        const Qt::KeyboardModifiers keys = copy ? Qt::ControlModifier : Qt::NoModifier;
        QDragEnterEvent enter(point, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, keys);
        QApplication::sendEvent(view->viewport(), &enter);
        QDragMoveEvent move(point, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, keys);
        QApplication::sendEvent(view->viewport(), &move);
        QDropEvent drop(QPointF(point), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, keys);
        // The drag chooses copying when Ctrl is held, moving otherwise.
        drop.setDropAction(copy ? Qt::CopyAction : Qt::MoveAction);
        drop.setAccepted(false); // as the window system delivers it
        QApplication::sendEvent(view->viewport(), &drop);
    }

    void FocusTree() {
        Window().show();
        Window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
        Window().TreeView->setFocus();
        QCoreApplication::processEvents();
        ASSERT_TRUE(Window().TreeView->hasFocus());
    }
};

TEST_F(UndoTest, EveryChangeIsUndoneAndRedoneAndTheMarkFollowsTheSavedState) {
    struct Case {
        const char* name;
        std::function<void(TTreeNode* root)> change;
    };
    const std::vector<Case> cases = {
        {"insert branch",
         [this](TTreeNode* root) {
             Select(Find(root, {"B"}));
             Window().MI_InsertBranch->trigger();
         }},
        {"insert sub-branch",
         [this](TTreeNode* root) {
             Select(Find(root, {"B"}));
             Window().MI_InsertSubBranch->trigger();
         }},
        {"rename",
         [this](TTreeNode* root) {
             EditTitle(Find(root, {"A", "A2"}), "Renamed");
         }},
        {"remove a leaf",
         [this](TTreeNode* root) {
             Select(Find(root, {"B"}));
             Window().MI_RemoveBranch->trigger();
         }},
        {"remove a branch with sub-branches",
         [this](TTreeNode* root) {
             Select(Find(root, {"A"}));
             Questions().Answers.push_back(TAnswer::Yes);
             Window().MI_RemoveBranch->trigger();
         }},
        {"cut and paste",
         [this](TTreeNode* root) {
             Select(Find(root, {"A", "A1"}));
             Window().MI_Cut->trigger();
             Select(Find(root, {"B"}));
             Window().MI_Paste->trigger();
         }},
        {"copy and paste into itself",
         [this](TTreeNode* root) {
             Select(Find(root, {"A"}));
             Window().MI_Copy->trigger();
             Window().MI_Paste->trigger();
         }},
        {"encrypt",
         [this](TTreeNode* root) {
             Select(Find(root, {"A"}));
             AnswerCipher("pw", TLock::Later);
             Window().MI_CipherBranch->trigger();
         }},
        {"memo edit stored by moving the selection",
         [this](TTreeNode* root) {
             Select(Find(root, {"A"}));
             Window().Memo->setPlainText("changed\nmemo");
             Select(Find(root, {"B"}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        const std::string before = State(root);
        EXPECT_FALSE(Window().MI_Undo->isEnabled());
        c.change(root);
        const std::string after = State(root);
        ASSERT_NE(after, before);
        ASSERT_TRUE(root->Document()->Modified());

        Window().MI_Undo->trigger();
        EXPECT_EQ(State(root), before);
        EXPECT_FALSE(root->Document()->Modified()) << "back at the state of the file";
        EXPECT_FALSE(Window().MI_Undo->isEnabled());
        ExpectNodesMatchElements(root);

        Window().MI_Redo->trigger();
        EXPECT_EQ(State(root), after);
        EXPECT_TRUE(root->Document()->Modified());
        ExpectNodesMatchElements(root);

        // Saved after the change: undoing leaves the saved state and sets the mark again.
        Window().MI_Save->trigger();
        EXPECT_FALSE(root->Document()->Modified());
        Window().MI_Undo->trigger();
        EXPECT_TRUE(root->Document()->Modified());
        Window().MI_Redo->trigger();
        EXPECT_FALSE(root->Document()->Modified());
        EXPECT_TRUE(Questions().Errors.empty());
        Discard();
    }
}

// A step finds its branch again from the nearer end of the siblings; every place among many,
// the first, the middle and the last, and two removals undone in turn, must come back exactly.
// At the top of a document and 1 100 levels deep, where the history's walk up runs beside the
// command on a thread of its own; removed, or cut and pasted on the document, which moves them.
TEST_F(UndoTest, RemovedBranchesComeBackToTheirPlacesAmongManySiblings) {
    constexpr int kSiblings = 7;
    for (const bool cut : {false, true}) {
        for (const int depth : {0, 1100}) {
            std::string content;
            std::vector<std::string> chain;
            for (int level = 0; level < depth; ++level) {
                chain.push_back("c" + std::to_string(level));
                content += "<note title=\"" + chain.back() + "\">";
            }
            for (int i = 0; i < kSiblings; ++i) {
                content +=
                    "<note title=\"n" + std::to_string(i) + "\" memo=\"" + std::to_string(i) + "\"/>\r\n";
            }
            for (int level = 0; level < depth; ++level) {
                content += "</note>";
            }
            auto path = [&chain](int sibling) {
                std::vector<std::string> titles = chain;
                titles.push_back("n" + std::to_string(sibling));
                return titles;
            };
            for (int first = 0; first < kSiblings; first += depth == 0 ? 1 : 3) {
                const int second = (first + 3) % kSiblings;
                SCOPED_TRACE(std::to_string(depth) + " levels deep, " + (cut ? "moving" : "removing") + " n" +
                             std::to_string(first) + " and n" + std::to_string(second));
                Start();
                TTreeNode* root = Open("doc.ldx", Doc("Doc", content));
                const std::string before = State(root);
                std::string afterFirst;
                for (int removed : {first, second}) {
                    Select(Find(root, path(removed)));
                    if (cut) {
                        Window().MI_Cut->trigger();
                        Select(root);
                        Window().MI_Paste->trigger();
                    } else {
                        Window().MI_RemoveBranch->trigger();
                    }
                    if (afterFirst.empty()) {
                        afterFirst = State(root);
                    }
                }
                const std::string afterBoth = State(root);
                Window().MI_Undo->trigger();
                EXPECT_EQ(State(root), afterFirst);
                Window().MI_Undo->trigger();
                EXPECT_EQ(State(root), before);
                ExpectNodesMatchElements(root);
                Window().MI_Redo->trigger();
                Window().MI_Redo->trigger();
                EXPECT_EQ(State(root), afterBoth);
                ExpectNodesMatchElements(root);
                EXPECT_TRUE(Questions().Errors.empty());
                Discard();
            }
        }
    }
}

// Undo finds a changed branch from wherever the selection stands: on it, above it, beside it, on a
// branch of the same title elsewhere, or on the document.
TEST_F(UndoTest, StepsAreUndoneAndRedoneWhereverTheSelectionStands) {
    const std::string content =
        "<note title=\"A\">\r\n<note title=\"A1\">\r\n<note title=\"a\" memo=\"1\"/>\r\n<note "
        "title=\"a\" memo=\"2\"/>\r\n</note>\r\n<note title=\"A2\">\r\n<note title=\"a\"/>\r\n</note>\r\n"
        "</note>\r\n<note title=\"B\"/>\r\n";
    const std::vector<std::vector<std::string>> selections{
        {}, {"A"}, {"A", "A1"}, {"A", "A1", "a"}, {"A", "A2"}, {"A", "A2", "a"}, {"B"}};
    for (const auto& selection : selections) {
        std::string where;
        for (const std::string& title : selection) {
            where += "/" + title;
        }
        SCOPED_TRACE("selected: " + where);
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", content));
        const std::string before = State(root);
        TTreeNode* removed = Find(root, {"A", "A1", "a"});
        Select(removed);
        Window().MI_RemoveBranch->trigger();
        const std::string after = State(root);
        ASSERT_NE(after, before);

        Select(Find(root, selection));
        Window().MI_Undo->trigger();
        EXPECT_EQ(State(root), before);
        ExpectNodesMatchElements(root);
        ASSERT_NE(Tree().Selected(), nullptr);
        EXPECT_EQ(Tree().Selected()->Parent(), Find(root, {"A", "A1"})) << "the branch is back under A1";

        Select(Find(root, selection));
        Window().MI_Redo->trigger();
        EXPECT_EQ(State(root), after);
        ExpectNodesMatchElements(root);
        EXPECT_EQ(Find(root, {"A", "A1"})->ChildCount(), 1);
        EXPECT_EQ(Find(root, {"A", "A2"})->ChildCount(), 1);
        EXPECT_TRUE(Questions().Errors.empty());
        Discard();
    }
}

// The history keeps removed branches in memory only: no save writes them, and undo brings back the
// very branch, memo and sub-branches and all, for the next save to write.
TEST_F(UndoTest, RemovedBranchesKeptForUndoAreNeverSaved) {
    Start();
    TTreeNode* first = Open("first.ldx", Doc("First", kTwoLevels));
    TTreeNode* second = Open("second.ldx", Doc("Second", "<note title=\"C\"/>\r\n"));
    const std::string before = ReadFile(PathOf("first.ldx"));
    Select(Find(first, {"A"}));
    Questions().Answers.push_back(TAnswer::Yes); // A has sub-branches: the removal asks first
    Window().MI_RemoveBranch->trigger();
    Select(Find(first, {"B"}));
    Window().MI_Cut->trigger();
    Select(Find(second, {"C"}));
    Window().MI_Paste->trigger();
    Window().MI_SaveAll->trigger();
    const std::string saved = ReadFile(PathOf("first.ldx"));
    EXPECT_EQ(saved.find("a memo"), std::string::npos);
    EXPECT_EQ(saved.find("A1"), std::string::npos);
    EXPECT_EQ(saved.find("\"B\""), std::string::npos);
    EXPECT_NE(ReadFile(PathOf("second.ldx")).find("\"B\""), std::string::npos);

    Select(first);
    Window().MI_Undo->trigger(); // the move, in both documents
    Window().MI_Undo->trigger(); // the removal
    ExpectNodesMatchElements(first);
    Window().MI_SaveAll->trigger();
    EXPECT_EQ(ReadFile(PathOf("first.ldx")), before);
    EXPECT_EQ(ReadFile(PathOf("second.ldx")).find("\"B\""), std::string::npos);
    EXPECT_TRUE(Questions().Errors.empty());
}

TEST_F(UndoTest, AMoveBetweenDocumentsIsOneStepInBoth) {
    Start();
    TTreeNode* first = Open("firsldx", Doc("First", kTwoLevels));
    TTreeNode* second = Open("second.ldx", Doc("Second", "<note title=\"C\"/>\r\n"));
    const std::string firstBefore = State(first), secondBefore = State(second);
    Select(Find(first, {"A"}));
    Window().MI_Cut->trigger();
    Select(Find(second, {"C"}));
    Window().MI_Paste->trigger();
    const std::string firstAfter = State(first), secondAfter = State(second);
    ASSERT_NE(firstAfter, firstBefore);
    ASSERT_NE(secondAfter, secondBefore);

    Window().MI_Undo->trigger();
    EXPECT_EQ(State(first), firstBefore);
    EXPECT_EQ(State(second), secondBefore);
    EXPECT_FALSE(first->Document()->Modified());
    EXPECT_FALSE(second->Document()->Modified());
    ExpectNodesMatchElements(first);
    ExpectNodesMatchElements(second);

    Window().MI_Redo->trigger();
    EXPECT_EQ(State(first), firstAfter);
    EXPECT_EQ(State(second), secondAfter);
    EXPECT_TRUE(first->Document()->Modified());
    EXPECT_TRUE(second->Document()->Modified());
    Discard();
}

// Locking takes plain text out of memory; no step may bring it back, whichever way the lock
// comes, while steps that hold nothing of an encrypted branch stay.
TEST_F(UndoTest, AfterLockingNoStepBringsBackPlainText) {
    struct Case {
        const char* name;
        std::function<void(TTreeNode* root)> change; // leaves "secret" text only inside A
        bool lockAll;
        int undoLeft, redoLeft; // the steps left after the lock
    };
    const std::vector<Case> cases = {
        {"memo inside, then a plain rename; Lock",
         [this](TTreeNode* root) {
             Select(Find(root, {"A", "A1"}));
             Window().Memo->setPlainText("secret memo");
             EditTitle(Find(root, {"B"}), "B renamed");
         },
         false, 1, 0},
        {"title inside; Lock All",
         [this](TTreeNode* root) {
             EditTitle(Find(root, {"A", "A2"}), "secret title");
         },
         true, 0, 0},
        {"the encrypted branch removed; Lock All",
         [this](TTreeNode* root) {
             Select(Find(root, {"A", "A1"}));
             Window().Memo->setPlainText("secret memo");
             Select(Find(root, {"A"}));
             Questions().Answers.push_back(TAnswer::Yes);
             Window().MI_RemoveBranch->trigger();
         },
         true, 0, 0},
        {"a secret step undone waits for redo; Lock All",
         [this](TTreeNode* root) {
             EditTitle(Find(root, {"A", "A2"}), "secret title");
             Window().MI_Undo->trigger();
         },
         true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        Encrypt(Find(root, {"A"}), "pw", TLock::Later, TCipherScheme::Compatible);
        c.change(root);
        if (c.lockAll) {
            Window().MI_LockAll->trigger();
        } else {
            Select(Find(root, {"A"}));
            Window().MI_LockBranch->trigger();
        }
        if (TTreeNode* a = Find(root, {"A"})) {
            ASSERT_TRUE(IsBranchLocked(ElementOf(a)));
        }
        EXPECT_EQ(Window().Undo().UndoCount(root->Document()), c.undoLeft);
        EXPECT_EQ(Window().Undo().RedoCount(root->Document()), c.redoLeft);
        // Whatever the keys still do, no state they reach shows the secret or a password.
        for (QAction* key : {Window().MI_Undo, Window().MI_Undo, Window().MI_Redo, Window().MI_Redo}) {
            key->trigger();
            const std::string state = State(root);
            EXPECT_EQ(state.find("secret"), std::string::npos) << state;
            EXPECT_EQ(state.find("password"), std::string::npos) << state;
            ExpectNodesMatchElements(root);
        }
        EXPECT_TRUE(root->Document()->Modified()) << "the encryption is not saved";

        // Unlocking is no change of the document: it adds no step.
        if (TTreeNode* a = Find(root, {"A"})) {
            const int steps = Window().Undo().UndoCount(root->Document());
            Select(a);
            AnswerPassword("pw");
            Window().MI_LockBranch->trigger();
            EXPECT_EQ(Window().Undo().UndoCount(root->Document()), steps);
        }
        Discard();
    }
}

// Delete on a document's top-level branch closes the document, asking first when it has changes
// that are not saved (a typed memo included), as closing does.
TEST_F(UndoTest, DeletingADocumentsTopBranchAsksWhenItIsModified) {
    for (const bool typed : {false, true}) {
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        FocusTree();
        if (typed) {
            Select(Find(root, {"B"}));
            Window().Memo->setFocus();
            QTest::keyClicks(Window().Memo, "typed");
            Questions().Answers.push_back(TAnswer::Cancel);
        }
        Select(root);
        Window().TreeView->setFocus();
        QTest::keyClick(Window().TreeView, Qt::Key_Delete);
        EXPECT_TRUE(Questions().Answers.empty()) << "asked exactly when modified";
        EXPECT_EQ(Tree().TopLevelCount(), typed ? 1 : 0);
        Discard();
    }
}

TEST_F(UndoTest, RemovingABranchWithSubBranchesAsksFirst) {
    struct Case {
        const char* name;
        bool ask;
        TAnswer answer;
        bool removed;
    };
    for (const Case& c : {Case{"yes", true, TAnswer::Yes, true}, Case{"no", true, TAnswer::No, false},
                          Case{"question turned off", false, TAnswer::No, true}}) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
        if (!c.ask) {
            Window().MI_AskBeforeRemove->trigger();
        }
        EXPECT_EQ(Window().MI_AskBeforeRemove->isChecked(), c.ask);
        Select(Find(root, {"A"}));
        const size_t asked = Questions().Asked.size();
        if (c.ask) {
            Questions().Answers.push_back(c.answer);
        }
        Window().MI_RemoveBranch->trigger();
        EXPECT_TRUE(Questions().Answers.empty());
        if (!c.ask) {
            EXPECT_EQ(Questions().Asked.size(), asked);
        } else {
            ASSERT_EQ(Questions().Asked.size(), asked + 1);
            const std::string question = Questions().Asked.back().toStdString();
            EXPECT_NE(question.find("A"), std::string::npos);
            EXPECT_EQ(question, LanguageLocaler().FormatMessage("RemoveBranchQuery", {"A", "2"}));
        }
        EXPECT_EQ(Find(root, {"A"}) == nullptr, c.removed);
        EXPECT_EQ(root->Document()->Modified(), c.removed);
        Discard();
    }
}

TEST_F(UndoTest, DraggingABranchMovesItOrCopiesItWithCtrlAsOneStep) {
    struct Case {
        const char* name;
        std::vector<std::string> source;
        bool toSecond; // the target lies in the second document
        std::vector<std::string> target;
        bool copy;
    };
    for (const Case& c :
         {Case{"move within", {"A", "A1"}, false, {"B"}, false},
          Case{"move to a sibling", {"A", "A1"}, false, {"A", "A2"}, false},
          Case{"copy within", {"A", "A1"}, false, {"B"}, true},
          Case{"move between", {"A"}, true, {"C"}, false}, Case{"copy between", {"A"}, true, {"C"}, true}}) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* first = Open("first.ldx", Doc("First", kTwoLevels));
        TTreeNode* second = Open("second.ldx", Doc("Second", "<note title=\"C\"/>\r\n"));
        const std::string firstBefore = State(first), secondBefore = State(second);
        Tree().Expand(Find(first, {"A"}));
        const std::string shownBefore = Shown(first) + Shown(second);
        TTreeNode* source = Find(first, c.source);
        TTreeNode* target = Find(c.toSecond ? second : first, c.target);
        const std::string title = source->Text();
        Drop(source, target, c.copy);
        TTreeNode* dropped = Find(target, {title});
        ASSERT_NE(dropped, nullptr);
        EXPECT_EQ(Tree().Selected(), dropped);
        EXPECT_EQ(Find(first, c.source) != nullptr, c.copy) << "a move leaves its old place";
        ExpectNodesMatchElements(first);
        ExpectNodesMatchElements(second);

        Window().MI_Undo->trigger();
        EXPECT_EQ(State(first), firstBefore);
        EXPECT_EQ(State(second), secondBefore);
        EXPECT_EQ(Shown(first) + Shown(second), shownBefore) << "the order the tree showed";
        EXPECT_FALSE(first->Document()->Modified());
        EXPECT_FALSE(second->Document()->Modified());
        EXPECT_TRUE(Questions().Errors.empty());
        Discard();
    }
}

// While a branch is dragged over the tree, the row under the pointer is marked as the one to
// receive it; hovering opens a closed branch and never closes an open one, so that the row aimed
// at stays under the pointer.
TEST_F(UndoTest, HoveringADragOpensClosedBranchesOnlyAndMarksTheTarget) {
    Start();
    TTreeNode* root =
        Open("doc.ldx", Doc("Doc", kTwoLevels + "<note title=\"C\"><note title=\"C1\"/></note>\r\n"));
    Window().resize(600, 400);
    Window().show();
    auto& view = dynamic_cast<TBranchView&>(*Window().TreeView);
    view.SetHoverOpenDelay(std::chrono::milliseconds(1));
    TTreeNode* a = Find(root, {"A"});
    TTreeNode* c = Find(root, {"C"});
    Tree().Expand(a);
    QCoreApplication::processEvents();
    ASSERT_FALSE(Tree().IsExpanded(c));
    std::unique_ptr<QMimeData> data(Tree().mimeData({Tree().IndexOf(Find(root, {"B"}))}));
    const auto hover = [&](TTreeNode* over) {
        const QPoint point = view.visualRect(Tree().IndexOf(over)).center();
        QDragEnterEvent enter(point, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &enter);
        QDragMoveEvent move(point, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                            Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &move);
        EXPECT_EQ(view.DropTarget(), Tree().IndexOf(over)) << over->Text();
    };
    const int aTop = view.visualRect(Tree().IndexOf(a)).top();
    hover(a);
    QTest::qWait(50); // the hover delay passes over the open branch
    EXPECT_TRUE(Tree().IsExpanded(a)) << "an open branch stays open";
    EXPECT_EQ(view.visualRect(Tree().IndexOf(a)).top(), aTop) << "and stays where it was";
    // The target's row is framed in the selection's colour, from the view's left edge.
    const QRect row = view.visualRect(Tree().IndexOf(a));
    const QImage shown = view.viewport()->grab().toImage();
    EXPECT_EQ(shown.pixelColor(1, row.center().y()), view.palette().color(QPalette::Highlight));

    hover(c);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Tree().IsExpanded(c); }, 5000)) << "a closed branch opens";
    QDragLeaveEvent leave;
    QApplication::sendEvent(view.viewport(), &leave);
    EXPECT_FALSE(view.DropTarget().isValid()) << "nothing is marked once the drag has left";
    Discard();
}

TEST_F(UndoTest, DropsFollowTheRefusalsOfPasteAndDocumentsAreNotDragged) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
    EXPECT_FALSE(Tree().flags(Tree().IndexOf(root)) & Qt::ItemIsDragEnabled);
    EXPECT_TRUE(Tree().flags(Tree().IndexOf(Find(root, {"A"}))) & Qt::ItemIsDragEnabled);
    const std::string before = State(root);

    Drop(Find(root, {"A"}), Find(root, {"A", "A2"}), false);
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_EQ(Questions().Errors[0].toStdString(), Message("CanNotPastBranch"));
    EXPECT_EQ(State(root), before);

    TTreeNode* b = Find(root, {"B"});
    Encrypt(b, "pw", TLock::AtOnce);
    ASSERT_TRUE(IsNodeLocked(b));
    const std::string locked = State(root);
    Drop(Find(root, {"A", "A1"}), b, false);
    ASSERT_FALSE(Questions().Informed.empty());
    EXPECT_EQ(Questions().Informed.back().toStdString(), Message("CanNotPastAtLockedNode"));
    EXPECT_EQ(State(root), locked);
    Questions().Errors.clear();
    Discard();
}

// The branch keys act in the tree; in the memo the same keys edit the tex
TEST_F(UndoTest, KeysActOnTheTreeInTheTreeAndOnTheTextInTheMemo) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kTwoLevels));
    Select(Find(root, {"B"}));
    FocusTree();
    QTest::keyClick(Window().TreeView, Qt::Key_Delete);
    ASSERT_EQ(Find(root, {"B"}), nullptr);
    QTest::keyClick(Window().TreeView, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_NE(Find(root, {"B"}), nullptr);
    QTest::keyClick(Window().TreeView, Qt::Key_Y, Qt::ControlModifier);
    ASSERT_EQ(Find(root, {"B"}), nullptr);
    QTest::keyClick(Window().TreeView, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Find(root, {"B"}), nullptr) << "nothing left to redo";
    QTest::keyClick(Window().TreeView, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_NE(Find(root, {"B"}), nullptr);

    Select(Find(root, {"A"}));
    Window().Memo->setFocus();
    Window().Memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(Window().Memo, "xy");
    QTest::keyClick(Window().Memo, Qt::Key_Backspace);
    QTest::keyClick(Window().Memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Window().Memo->toPlainText().toStdString(), "a memoxy") << "the memo's own undo";
    QTest::keyClick(Window().Memo, Qt::Key_Home);
    QTest::keyClick(Window().Memo, Qt::Key_Delete);
    EXPECT_EQ(Window().Memo->toPlainText().toStdString(), " memoxy");
    EXPECT_NE(Find(root, {"A"}), nullptr) << "Delete in the memo removes no branch";
    EXPECT_NE(Find(root, {"B"}), nullptr);
    QTest::keyClick(Window().Memo, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Window().MarkedNode(), nullptr) << "Ctrl+C in the memo copies text, not the branch";

    // The branch keys that edit no text act on the selected branch from the memo too.
    TTreeNode* b = Select(Find(root, {"B"}));
    Window().Memo->setFocus();
    AnswerCipher("pw", TLock::Later, "\x01", TCipherScheme::Compatible);
    QTest::keyClick(Window().Memo, Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(IsBranchEncrypted(ElementOf(b)));
    QTest::keyClick(Window().Memo, Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(IsNodeLocked(b));
    AnswerPassword("pw");
    QTest::keyClick(Window().Memo, Qt::Key_L, Qt::ControlModifier);
    EXPECT_FALSE(IsNodeLocked(b));
    EXPECT_TRUE(Questions().Dialogs.empty());

    // Shift+F10 in the tree opens its context menu, as the Menu key does.
    Window().TreeView->setFocus();
    QStringList offered;
    QTimer::singleShot(0, [&offered] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (const QAction* item : menu->actions()) {
                offered << item->text();
            }
            menu->close();
        }
    });
    QTest::keyClick(Window().TreeView, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(offered.contains(Window().MI_InsertBranch->text())) << offered.join(", ").toStdString();
    EXPECT_EQ(Window().MainMenu->activeAction(), nullptr) << "F10 with Shift is not the menu bar's key";
    Discard();
}

// A whole session with the keyboard alone: a new document, branches, titles, a memo, cut and
// paste, encrypting, locking, unlocking, undo and saving.
TEST_F(UndoTest, AWholeSessionRunsFromTheKeyboard) {
    Start();
    FocusTree();
    auto key = [](int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, static_cast<Qt::Key>(code), modifiers);
        QCoreApplication::processEvents();
    };
    auto type = [&](const char* text) {
        QTest::keyClicks(QApplication::focusWidget(), text);
        key(Qt::Key_Return);
    };
    key(Qt::Key_N, Qt::ControlModifier); // a new document, its title open for editing
    type("Notes");
    ASSERT_EQ(Tree().TopLevelCount(), 1);
    TTreeNode* root = Top(0);
    EXPECT_EQ(root->Text(), "Notes");
    Window().TreeView->setFocus();
    key(Qt::Key_Insert, Qt::ControlModifier);
    type("Alpha");
    key(Qt::Key_Insert);
    type("Beta");
    ASSERT_NE(Find(root, {"Alpha"}), nullptr);
    ASSERT_NE(Find(root, {"Beta"}), nullptr);
    key(Qt::Key_F2);
    type("Gamma");
    ASSERT_NE(Find(root, {"Gamma"}), nullptr);

    key(Qt::Key_X, Qt::ControlModifier); // Gamma is selected
    key(Qt::Key_Up);
    ASSERT_EQ(Tree().Selected(), Find(root, {"Alpha"}));
    key(Qt::Key_V, Qt::ControlModifier);
    ASSERT_NE(Find(root, {"Alpha", "Gamma"}), nullptr);

    key(Qt::Key_Tab); // to the memo
    ASSERT_EQ(QApplication::focusWidget(), Window().Memo);
    QTest::keyClicks(Window().Memo, "a memo");
    for (int i = 0; i < 10 && QApplication::focusWidget() != Window().TreeView; ++i) {
        key(Qt::Key_Backtab, Qt::ShiftModifier); // back across the tree's tool bar
    }
    ASSERT_EQ(QApplication::focusWidget(), Window().TreeView);

    Select(Find(root, {"Alpha"}));
    AnswerCipher("pw", TLock::Later);
    key(Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(IsBranchEncrypted(ElementOf(Find(root, {"Alpha"}))));
    key(Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(IsNodeLocked(Find(root, {"Alpha"})));
    AnswerPassword("pw");
    key(Qt::Key_L, Qt::ControlModifier);
    ASSERT_FALSE(IsNodeLocked(Find(root, {"Alpha"})));
    EXPECT_EQ(MemoAccess.Read(ElementOf(Find(root, {"Alpha", "Gamma"}))), "a memo");

    key(Qt::Key_Insert, Qt::ControlModifier);
    type("Delta");
    ASSERT_NE(Find(root, {"Alpha", "Delta"}), nullptr);
    key(Qt::Key_Z, Qt::ControlModifier); // the title
    key(Qt::Key_Z, Qt::ControlModifier); // the insertion
    EXPECT_EQ(Find(root, {"Alpha", "Delta"}), nullptr);
    EXPECT_EQ(Find(root, {"Alpha", "???"}), nullptr);

    const std::string file = PathOf("session.ldx");
    Questions().FileNames.push_back(QString::fromStdString(file));
    key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(root->Document()->Modified());
    const std::string saved = ReadFile(root->Document()->FileName());
    EXPECT_FALSE(saved.empty()) << root->Document()->FileName();
    EXPECT_NE(saved.find("Alpha"), std::string::npos);
    EXPECT_EQ(saved.find("Gamma"), std::string::npos)
        << "Gamma (Beta renamed) lies inside the encrypted branch";
    EXPECT_EQ(saved.find("a memo"), std::string::npos) << "the memo lies inside the encrypted branch";

    // A mnemonic opens its menu and types nothing into the memo.
    Select(Find(root, {"Beta"}) != nullptr ? Find(root, {"Beta"}) : root);
    Window().Memo->setFocus();
    const QString memo = Window().Memo->toPlainText();
    QTest::keyClick(Window().Memo, Qt::Key_E, Qt::AltModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(Window().MainMenu->activeAction(), Window().MI_Edit->menuAction());
    EXPECT_EQ(Window().Memo->toPlainText(), memo);
    QTest::keyClick(Window().MI_Edit, Qt::Key_Escape); // closes the open menu
    QTest::keyClick(Window().MainMenu, Qt::Key_Escape);
    Window().TreeView->setFocus();
    key(Qt::Key_F10);
    EXPECT_EQ(Window().MainMenu->activeAction(), Window().MI_File->menuAction());

    EXPECT_TRUE(Questions().Errors.empty());
    Discard();
}

} // namespace
} // namespace ludex::test
