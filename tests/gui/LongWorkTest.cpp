// Commands that take long: their progress in the status bar, Cancel, and a window that takes no
// other input meanwhile.
#include "BranchTestSupport.h"

#include "core/base/FileIO.h"
#include "core/document/BranchCipher.h"
#include "gui/app/LongWork.h"
#include "support/FaultyFileSystem.h"

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace ludex::test {
namespace {

// A document of `count` branches with three sub-branches each, titled so that the window's order
// is not the file's.
std::string LargeContent(int count) {
    std::string content;
    for (int i = count - 1; i >= 0; --i) {
        const std::string n = std::to_string(i);
        content += "<note title=\"b" + n + "\" memo=\"memo of " + n + "\">\r\n<note title=\"z" + n +
                   "\"/>\r\n<note title=\"y" + n + "\"/>\r\n<note title=\"x" + n + "\"/>\r\n</note>\r\n";
    }
    return content;
}

// Every title of the tree in the order shown.
std::vector<std::string> TitlesInOrder(TBranchTree& tree) {
    std::vector<std::string> titles;
    for (TTreeNode* node = tree.FirstTopLevel(); node != nullptr; node = NextInPreOrder(tree, node)) {
        titles.push_back(node->Text());
    }
    return titles;
}

// Puts every list of siblings in reverse, so that a resort has everything to do.
void Reverse(TBranchTree& tree) {
    TBranchTree::TSortPlan plan;
    std::vector<const TTreeNode*> pending{nullptr};
    while (!pending.empty()) {
        const TTreeNode* parent = pending.back();
        pending.pop_back();
        const int count = parent == nullptr ? tree.TopLevelCount() : parent->ChildCount();
        std::vector<uint32_t> rows;
        for (int i = count - 1; i >= 0; --i) {
            rows.push_back(static_cast<uint32_t>(i));
            TTreeNode* child = parent == nullptr ? tree.TopLevel(i) : parent->Child(i);
            if (child->HasChildren()) {
                pending.push_back(child);
            }
        }
        plan.orders.push_back({parent, std::move(rows)});
    }
    tree.ApplySort(nullptr, plan);
}

class LongWorkTest : public BranchTest {
protected:
    void SetUp() override {
        BranchTest::SetUp();
        TLongWork::SetProgressDelay(std::chrono::milliseconds(0));
    }
    void TearDown() override {
        TLongWork::SetWorkerStart({});
        TLongWork::SetProgressDelay(std::chrono::milliseconds(500));
        BranchTest::TearDown();
    }

    // The window is shown, as the status bar shows nothing of a hidden one.
    void StartShown() {
        Start();
        Window().show();
    }

    QWidget* Panel() { return Window().StatusBar->findChild<QWidget*>(TLongWork::kPanelName); }
    QPushButton* CancelButton() {
        return Window().StatusBar->findChild<QPushButton*>(TLongWork::kCancelName);
    }

    // What the status bar showed while the work ran, looked at from the window's events.
    struct TSeen {
        bool panel = false;
        std::string text;
        bool bar = false;
        bool cancel = false;
    };
    // Looks at the status bar as soon as the window handles events during the next command, then
    // does `then` (pressing Cancel, say).
    void DuringTheWork(TSeen& seen, std::function<void()> then = {}) {
        QTimer::singleShot(0, &Window(), [this, &seen, then = std::move(then)] {
            QWidget* panel = Panel();
            seen.panel = panel != nullptr && panel->isVisible();
            if (panel != nullptr) {
                if (auto* label = panel->findChild<QLabel*>()) {
                    seen.text = label->text().toStdString();
                }
                seen.bar = panel->findChild<QProgressBar*>(TLongWork::kBarName) != nullptr;
                seen.cancel = CancelButton() != nullptr;
            }
            if (then) {
                then();
            }
        });
    }
    // The next work waits for its Cancel (bounded), so that it cannot end first on a busy machine.
    static void HoldWorkUntilCancelled() {
        TLongWork::SetWorkerStart([](TWorkProgress& progress) {
            for (int i = 0; i < 10000 && !progress.Cancelled(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    void PressCancel() {
        QPushButton* cancel = CancelButton();
        ASSERT_NE(cancel, nullptr);
        cancel->click();
    }
};

TEST_F(LongWorkTest, EachCommandShowsItsProgressAndCancelChangesNothing) {
    StartShown();
    ludex::testing::TGatedFileSystem files;
    const TFileSystemOverride override(files);

    // The documents the cases work on.
    TTreeNode* saved = Open("saved.ldx", Doc("Saved", LargeContent(300)));
    const std::string savedFile = PathOf("saved.ldx");
    EditTitle(Find(saved, {"b7"}), "renamed");
    TTreeNode* strong =
        Open("strong.ldx", Doc("Strong", "<note title=\"Secret\">" + LargeContent(200) + "</note>"));
    Encrypt(Find(strong, {"Secret"}), "key", TLock::AtOnce, TCipherScheme::Strong);
    TTreeNode* compatible =
        Open("compatible.ldx", Doc("Compatible", "<note title=\"Secret\">" + LargeContent(200) + "</note>"));
    Encrypt(Find(compatible, {"Secret"}), "key", TLock::AtOnce, TCipherScheme::Compatible);
    const std::string largeFile = WriteFile("large.ldx", Doc("Large", LargeContent(500)));

    auto folderNames = [this] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(PathOf(""))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    auto lockedState = [](TTreeNode* document) {
        TTreeNode* secret = Find(document, {"Secret"});
        std::string state = IsNodeLocked(secret) ? "locked " : "unlocked ";
        state += std::to_string(secret->ChildCount()) + " " + ElementOf(secret).XML().substr(0, 200);
        return state;
    };

    struct Case {
        const char* name;
        std::string message;
        std::function<std::string()> state; // what the command changes
        std::function<void()> command;
        std::function<void()> cancel;
    };
    const std::function<void()> pressCancel = [this] { PressCancel(); };
    const Case cases[] = {
        {"open", Message("WorkOpening"),
         [this] { return std::to_string(Tree().TopLevelCount()) + " " + std::to_string(Tree().Count()); },
         [this, &largeFile] {
             Questions().FileNames.push_back(QString::fromStdString(largeFile));
             Window().MI_Open->trigger();
         },
         pressCancel},
        {"save", Message("WorkSaving"),
         [&] {
             std::string state =
                 ReadFile(savedFile) + (saved->Document()->Modified() ? " modified " : " saved ");
             for (const std::string& name : folderNames()) {
                 state += name + " ";
             }
             return state;
         },
         [&] {
             Select(saved);
             Window().MI_Save->trigger();
         },
         [&] {
             PressCancel();
             files.open = true;
         }},
        {"save as", Message("WorkSaving"),
         [&] {
             return saved->Document()->FileName() +
                    (saved->Document()->Modified() ? " modified " : " saved ") +
                    (FileExists(PathOf("copy.ldx")) ? "copy" : "no copy");
         },
         [&] {
             Select(saved);
             Questions().FileNames.push_back(QString::fromStdString(PathOf("copy.ldx")));
             Window().MI_SaveAs->trigger();
         },
         [&] {
             PressCancel();
             files.open = true;
         }},
        {"unlock strong", Message("WorkUnlocking"), [&] { return lockedState(strong); },
         [&] {
             Select(Find(strong, {"Secret"}));
             AnswerPassword("key");
             Window().Button_LockBranch->trigger();
         },
         pressCancel},
        {"unlock compatible", Message("WorkUnlocking"), [&] { return lockedState(compatible); },
         [&] {
             Select(Find(compatible, {"Secret"}));
             AnswerPassword("key");
             Window().Button_LockBranch->trigger();
         },
         pressCancel},
        {"export", Message("WorkExporting"),
         [this] { return FileExists(PathOf("export.txt")) ? ReadFile(PathOf("export.txt")) : "no file"; },
         [&] {
             Select(saved);
             Questions().SaveChoices.push_back(TSaveChoice{QString::fromStdString(PathOf("export.txt")), 0});
             Window().MI_ExportDocument->trigger();
         },
         pressCancel},
        {"resort", Message("WorkSorting"),
         [this] {
             std::string titles;
             for (const std::string& title : TitlesInOrder(Tree())) {
                 titles += title + " ";
             }
             return titles;
         },
         [this] { Window().Button_Resort->trigger(); },
         // Escape presses Cancel wherever the focus is.
         [this] { QTest::keyClick(Window().TreeView, Qt::Key_Escape); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "resort") {
            Reverse(Tree());
        }
        const std::string before = c.state();

        files.open = false;
        TSeen seen;
        DuringTheWork(seen, c.cancel);
        HoldWorkUntilCancelled();
        c.command();
        TLongWork::SetWorkerStart({});
        files.open = true;
        EXPECT_TRUE(seen.panel) << "the progress shows at once with no delay";
        EXPECT_EQ(seen.text, c.message);
        EXPECT_TRUE(seen.bar);
        EXPECT_TRUE(seen.cancel);
        EXPECT_EQ(c.state(), before) << "a cancelled command changes nothing";
        EXPECT_EQ(Panel(), nullptr) << "the progress is gone";
        EXPECT_TRUE(Questions().Errors.empty()) << "a cancel is no error";

        // Left alone, the command does what it always did.
        TSeen alone;
        DuringTheWork(alone);
        c.command();
        EXPECT_TRUE(alone.panel);
        EXPECT_NE(c.state(), before);
        EXPECT_EQ(Panel(), nullptr);
        EXPECT_TRUE(Questions().Errors.empty());
    }
    std::vector<std::string> documents;
    for (int i = 0; i < Tree().TopLevelCount(); ++i) {
        documents.push_back(Tree().TopLevel(i)->Text());
    }
    EXPECT_EQ(documents, (std::vector<std::string>{"Compatible", "Large", "Saved", "Strong"}))
        << "opened once, and in the window's order after the resort";
    EXPECT_FALSE(saved->Document()->Modified());
    EXPECT_EQ(saved->Document()->FileName(), PathOf("copy.ldx"));
    EXPECT_NE(ReadFile(savedFile).find("title=\"renamed\""), std::string::npos);
    EXPECT_FALSE(IsNodeLocked(Find(strong, {"Secret"})));
    EXPECT_EQ(Find(strong, {"Secret", "b0"})->Parent()->ChildCount(), 200);
    EXPECT_FALSE(IsNodeLocked(Find(compatible, {"Secret"})));
    Tree().SortTopLevel(TSortDepth::AllLevels);
    const std::vector<std::string> sorted = TitlesInOrder(Tree());
    Window().Button_Resort->trigger();
    EXPECT_EQ(TitlesInOrder(Tree()), sorted) << "the resort gave the order it always gave";
}

TEST_F(LongWorkTest, CancelStopsSaveAllWhereItIs) {
    StartShown();
    TTreeNode* first = Open("first.ldx", Doc("First", LargeContent(20)));
    TTreeNode* second = Open("second.ldx", Doc("Second", LargeContent(20)));
    EditTitle(Find(first, {"b1"}), "renamed");
    EditTitle(Find(second, {"b1"}), "renamed");
    TTreeNode* selected = Select(Find(second, {"b2"}));
    const std::string firstBytes = ReadFile(PathOf("first.ldx"));
    const std::string secondBytes = ReadFile(PathOf("second.ldx"));

    ludex::testing::TGatedFileSystem files;
    files.open = false;
    const TFileSystemOverride override(files);
    TSeen seen;
    DuringTheWork(seen, [this, &files] {
        PressCancel();
        files.open = true;
    });
    Window().MI_SaveAll->trigger();
    EXPECT_TRUE(seen.cancel);
    EXPECT_EQ(ReadFile(PathOf("first.ldx")), firstBytes);
    EXPECT_EQ(ReadFile(PathOf("second.ldx")), secondBytes) << "no save after the cancelled one";
    EXPECT_TRUE(first->Document()->Modified());
    EXPECT_TRUE(second->Document()->Modified());
    EXPECT_EQ(Tree().Selected(), selected);
    EXPECT_TRUE(Questions().Errors.empty());
}

// Locking a branch, and Lock All (which walks every document and locks what is unlocked).
TEST_F(LongWorkTest, WorkThatMayNotBeStoppedShowsNoCancelAndIgnoresEscape) {
    StartShown();
    TTreeNode* root =
        Open("doc.ldx", Doc("Doc", "<note title=\"Secret\">" + LargeContent(100) +
                                       "</note><note title=\"Other\">" + LargeContent(100) + "</note>"));
    TTreeNode* secret = Find(root, {"Secret"});
    TTreeNode* other = Find(root, {"Other"});
    Encrypt(secret, "key");
    Encrypt(other, "key");
    ASSERT_FALSE(IsNodeLocked(secret));
    ASSERT_FALSE(IsNodeLocked(other));

    struct Case {
        const char* name;
        QAction* command;
        TTreeNode* locks;
    };
    const Case cases[] = {
        {"lock", Window().Button_LockBranch, secret},
        {"lock all", Window().MI_LockAll, other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Select(secret);
        TSeen seen;
        DuringTheWork(seen, [this] { QTest::keyClick(Window().TreeView, Qt::Key_Escape); });
        c.command->trigger();
        EXPECT_TRUE(seen.panel);
        EXPECT_EQ(seen.text, Message("WorkLocking"));
        EXPECT_FALSE(seen.cancel);
        EXPECT_TRUE(IsNodeLocked(c.locks)) << "Escape stops nothing that may not be stopped";
        EXPECT_EQ(Panel(), nullptr);
    }
}

// Printing, to a file or to the preview, lays out and prints on a worker, as work that may not be
// stopped: a print that has begun cannot be taken back.
TEST_F(LongWorkTest, PrintAndItsPreviewRunAsWorkWithoutCancel) {
    StartShown();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", LargeContent(40)));
    Select(root);
    const std::string pdf = PathOf("printed.pdf");
    struct Case {
        const char* name;
        QAction* command;
        std::function<int(QDialog&)> dialog;
    };
    int pages = 0;
    const Case cases[] = {
        {"print", Window().MI_Print,
         [&pdf](QDialog& dialog) {
             QPrinter* printer = dynamic_cast<QPrintDialog&>(dialog).printer();
             printer->setOutputFormat(QPrinter::PdfFormat);
             printer->setOutputFileName(QString::fromStdString(pdf));
             return int(QDialog::Accepted);
         }},
        {"preview", Window().MI_PrintPreview,
         [&pages](QDialog& dialog) {
             auto* preview = dialog.findChild<QPrintPreviewWidget*>();
             preview->updatePreview();
             pages = preview->pageCount();
             return int(QDialog::Rejected);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Questions().Dialogs.push_back(c.dialog);
        // The look for encrypted branches before it is work that may be cancelled; the print's own
        // work is the one without Cancel, where Escape is pressed.
        std::string shown;
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            QWidget* panel = Panel();
            if (!shown.empty() || panel == nullptr || !panel->isVisible() || CancelButton() != nullptr) {
                return;
            }
            shown = panel->findChild<QLabel*>()->text().toStdString();
            QTest::keyClick(Window().TreeView, Qt::Key_Escape);
        });
        watch.start();
        c.command->trigger();
        watch.stop();
        EXPECT_EQ(shown, Message("WorkPrinting"));
        EXPECT_EQ(Panel(), nullptr);
        EXPECT_TRUE(Questions().Dialogs.empty());
        EXPECT_TRUE(Questions().Errors.empty());
    }
    EXPECT_EQ(ReadFile(pdf).substr(0, 5), "%PDF-") << "Escape stops no print";
    EXPECT_GE(pages, 2);
}

TEST_F(LongWorkTest, AnErrorOfTheWorkIsShownAndChangesNothing) {
    StartShown();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", LargeContent(50)));
    EditTitle(Find(root, {"b3"}), "renamed");
    const std::string original = ReadFile(PathOf("doc.ldx"));
    std::filesystem::create_directories(PathOf("folder.ldx"));

    struct Case {
        const char* name;
        std::function<void()> command;
        const char* shown; // part of the error
    };
    const Case cases[] = {
        {"open of a broken file",
         [this] {
             Questions().FileNames.push_back(QString::fromStdString(WriteFile("broken.ldx", "<ludex><note")));
             Window().MI_Open->trigger();
         },
         "broken.ldx"},
        {"save onto a folder",
         [this, root] {
             Select(root);
             Questions().FileNames.push_back(QString::fromStdString(PathOf("folder.ldx")));
             Window().MI_SaveAs->trigger();
         },
         "folder.ldx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Questions().Errors.clear();
        TSeen seen;
        DuringTheWork(seen);
        c.command();
        EXPECT_TRUE(seen.panel);
        ASSERT_EQ(Questions().Errors.size(), 1u);
        EXPECT_NE(Questions().Errors[0].toStdString().find(c.shown), std::string::npos)
            << Questions().Errors[0].toStdString();
        EXPECT_EQ(Panel(), nullptr);
        EXPECT_EQ(Tree().TopLevelCount(), 1);
        EXPECT_TRUE(root->Document()->Modified());
        EXPECT_EQ(ReadFile(PathOf("doc.ldx")), original);
    }
}

TEST_F(LongWorkTest, TheWindowTakesNoOtherInputMeanwhileAndClosesAfterTheWork) {
    StartShown();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", LargeContent(50)));
    Select(root);
    const QString memo = Window().Memo->toPlainText();
    const std::string largeFile = WriteFile("large.ldx", Doc("Large", LargeContent(300)));

    // Typing into the memo and clicking a tool while the file opens: nothing of it arrives.
    TSeen seen;
    DuringTheWork(seen, [this] {
        QTest::keyClicks(Window().Memo, "typed");
        QTest::mouseClick(Window().TreeView->viewport(), Qt::LeftButton);
    });
    Questions().FileNames.push_back(QString::fromStdString(largeFile));
    Window().MI_Open->trigger();
    EXPECT_TRUE(seen.panel);
    EXPECT_EQ(Window().Memo->toPlainText(), memo);
    EXPECT_FALSE(root->Document()->Modified());
    ASSERT_EQ(Tree().TopLevelCount(), 2) << "the work itself went on";

    // Closing the window stops the open; the window closes once it has ended.
    ASSERT_TRUE(Window().isVisible());
    DuringTheWork(seen, [this] { EXPECT_FALSE(Window().close()) << "not while the work runs"; });
    Questions().FileNames.push_back(QString::fromStdString(largeFile));
    HoldWorkUntilCancelled();
    Window().MI_Open->trigger();
    TLongWork::SetWorkerStart({});
    EXPECT_EQ(Tree().TopLevelCount(), 2) << "the open was cancelled";
    QTest::qWait(0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(Window().isVisible());
}

// Expand All ('*') opens every branch below the selected one but the locked ones, which would each
// ask for a password; a stop at either of its stages (the nodes made and counted, the nodes
// opened) closes again whatever it opened.
TEST_F(LongWorkTest, ExpandAllOpensAllButLockedBranchesAndCancelClosesWhatItOpened) {
    StartShown();
    // 40 branches three levels deep, three sub-branches each: 520 branches with sub-branches.
    std::string content;
    for (int i = 0; i < 40; ++i) {
        content += "<note title=\"t" + std::to_string(i) + "\">";
        for (int j = 0; j < 3; ++j) {
            content += "<note title=\"m" + std::to_string(j) + "\">";
            for (int k = 0; k < 3; ++k) {
                content += "<note title=\"l" + std::to_string(k) +
                           "\"><note title=\"a\"/><note title=\"b\"/><note title=\"c\"/></note>";
            }
            content += "</note>";
        }
        content += "</note>";
    }
    content += "<note title=\"Secret\"><note title=\"hidden\"/></note>";
    TTreeNode* root = Open("doc.ldx", Doc("Doc", content));
    TTreeNode* secret = Find(root, {"Secret"});
    Encrypt(secret, "key", TLock::AtOnce);
    ASSERT_TRUE(IsNodeLocked(secret));

    // Which nodes with sub-branches are open, in the order shown.
    auto openState = [this, root] {
        std::string state;
        for (TTreeNode* node = root; node != nullptr && node->Root() == root;
             node = NextInPreOrder(Tree(), node)) {
            if (node->HasChildren()) {
                state += Tree().IsExpanded(node) ? '1' : '0';
            }
        }
        return state;
    };
    Select(root);
    const std::string before = openState();

    // Through the key: the progress shows at once (no delay here), and Cancel stops the work.
    TSeen seen;
    DuringTheWork(seen, [this] { PressCancel(); });
    QTest::keyClick(Window().TreeView, Qt::Key_Asterisk);
    EXPECT_TRUE(seen.panel);
    EXPECT_EQ(seen.text, Message("WorkExpanding"));
    EXPECT_TRUE(seen.cancel);
    EXPECT_EQ(openState(), before) << "a cancelled Expand All leaves every branch as it was";
    EXPECT_EQ(Panel(), nullptr);

    // Stopped at each stage, early and late: the step that says stop is the n-th of its stage;
    // -1 the last while nodes are opened, -2 the one after all are (before the layout).
    struct Case {
        const char* name;
        bool opening; // the stage: nodes opened (a total known) or still counted
        int stopAt;
    };
    const Case cases[] = {{"first step counting", false, 1},
                          {"first step opening", true, 1},
                          {"last step opening", true, -1},
                          {"step before the layout", true, -2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int steps = 0;
        uint64_t lastDone = 0;
        uint64_t total = 0;
        const bool finished = Tree().ExpandAll(root, [&](uint64_t done, uint64_t of) {
            if ((of > 0) != c.opening) {
                return true;
            }
            ++steps;
            EXPECT_GE(done, lastDone) << "the progress goes forward";
            lastDone = done;
            total = of;
            const bool last =
                (c.stopAt == -1 && done + TBranchTree::kExpandSlice > of) || (c.stopAt == -2 && done == of);
            return !(steps == c.stopAt || last);
        });
        EXPECT_FALSE(finished);
        EXPECT_GT(steps, 0);
        if (c.opening) {
            EXPECT_EQ(total, 1u + 520u)
                << "the document's node and every branch with sub-branches but the locked";
        }
        EXPECT_EQ(openState(), before);
        EXPECT_FALSE(Window().TreeView->visualRect(Tree().IndexOf(Find(root, {"t0", "m0"}))).isValid())
            << "no row of a branch closed again is laid out";
    }

    // Left alone.
    QTest::keyClick(Window().TreeView, Qt::Key_Asterisk);
    EXPECT_EQ(Panel(), nullptr);
    const std::string after = openState();
    EXPECT_EQ(std::count(after.begin(), after.end(), '1'), 1 + 520) << after;
    EXPECT_FALSE(Tree().IsExpanded(secret)) << "no password is asked for a locked branch below";
    EXPECT_TRUE(Window().TreeView->visualRect(Tree().IndexOf(Find(root, {"t39", "m2", "l2", "c"}))).isValid())
        << "the rows opened are laid out";

    // A locked branch selected: '*' opens it as a click on its expander does, after its password,
    // asked while no work holds the window's input.
    Select(secret);
    bool askedDuringWork = true;
    Questions().Dialogs.push_back([&askedDuringWork](QDialog& dialog) {
        askedDuringWork = TLongWork::Running() != nullptr;
        dynamic_cast<TForm_PasswordDialog&>(dialog).Edit_Password->setText("key");
        return ClickOk(dialog);
    });
    QTest::keyClick(Window().TreeView, Qt::Key_Asterisk);
    EXPECT_FALSE(askedDuringWork);
    EXPECT_FALSE(IsNodeLocked(secret));
    EXPECT_TRUE(Tree().IsExpanded(secret));
    EXPECT_TRUE(Questions().Dialogs.empty());
}

// Before a stretch that lets no events through, the progress shows at once if the work has run half
// its delay already.
TEST_F(LongWorkTest, ShowAheadShowsTheProgressOnceHalfTheDelayHasPassed) {
    StartShown();
    struct Case {
        const char* name;
        std::chrono::milliseconds delay;
        bool shown;
    };
    const Case cases[] = {{"half the delay passed", std::chrono::milliseconds(40), true},
                          {"early", std::chrono::milliseconds(60000), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            TLongWork work("WorkExpanding", TCancel::Allowed, c.delay);
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            work.ShowAhead();
            EXPECT_EQ(Panel() != nullptr && Panel()->isVisible(), c.shown);
        }
        EXPECT_EQ(Panel(), nullptr);
    }
}

TEST_F(LongWorkTest, ShortWorkShowsNothing) {
    StartShown();
    TLongWork::SetProgressDelay(std::chrono::milliseconds(500));
    TSeen seen;
    DuringTheWork(seen);
    TTreeNode* root = Open("doc.ldx", Doc("Doc", LargeContent(5)));
    EXPECT_FALSE(seen.panel);
    EXPECT_EQ(root->Text(), "Doc");
    EXPECT_EQ(Panel(), nullptr);
}

} // namespace
} // namespace ludex::test
