// The one path of commands: a failing command is shown and the program goes on, and every command
// of the windows (menu items, tool buttons, keys, tree commands, dialog buttons, closing) comes
// through it.
#include "BranchTestSupport.h"

#include "core/base/Exception.h"
#include "gui/app/CommandConnection.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/dialogs/LX_About.h"
#include "gui/dialogs/PreferencesDialog.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <QWidgetAction>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ludex::test {
namespace {

using CommandConnectionTest = BranchTest;

TEST_F(CommandConnectionTest, AFailingCommandIsShownAsAnErrorAndTheNextCommandWorks) {
    Start();
    struct Case {
        const char* name;
        std::function<void()> fail;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"the program's error", [] { throw Exception("the command failed"); }, "the command failed"},
        {"a standard error", [] { throw std::runtime_error("out of range"); }, "out of range"},
        {"anything else", [] { throw 42; }, "Unknown error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Questions().Errors.clear();
        QAction failing("Fail", &Window());
        ConnectCommand(&failing, &QAction::triggered, &Window(), c.fail);
        // trigger() delivers the signal directly, not through the application's last net: an
        // error the helper let through would leave this call.
        failing.trigger();
        EXPECT_EQ(Questions().Errors, (std::vector<QString>{QString::fromStdString(c.shown)}));
        EXPECT_TRUE(Questions().Informed.empty()) << "an error box, not a plain message";
    }
    Window().MI_New->trigger();
    EXPECT_EQ(Tree().TopLevelCount(), 1) << "the program goes on";
    EXPECT_EQ(Questions().Errors.size(), 1u);
    EXPECT_TRUE(RunCommand(Window(), [] {}));
    EXPECT_FALSE(RunCommand(Window(), [] { throw Exception("again"); }));
}

TEST_F(CommandConnectionTest, ACommandGetsTheSignalsArgumentsWhenItTakesThem) {
    Start();
    QAction checkable("Check", &Window());
    checkable.setCheckable(true);
    std::vector<bool> seen;
    ConnectCommand(&checkable, &QAction::triggered, &Window(),
                   [&seen](bool checked) { seen.push_back(checked); });
    int runs = 0;
    ConnectCommand(&checkable, &QAction::triggered, &Window(), [&runs] { ++runs; });
    checkable.trigger();
    checkable.trigger();
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_EQ(runs, 2);
}

// Once a check that refuses every command is installed, each way a user can give a command must
// reach it: the command fails before it starts, its error is shown, and nothing changes.
class CommandCheckTest : public BranchTest {
protected:
    void TearDown() override {
        SetCommandCheck(std::move(previous_));
        BranchTest::TearDown();
    }

    // From now on every command is refused; the windows are set up before.
    void RefuseCommands() {
        previous_ = SetCommandCheck([this](const QObject& source) {
            sources_.push_back(&source);
            throw Exception("refused");
        });
    }

    // The objects that the commands given by `act` came from.
    std::vector<const QObject*> SourcesOf(const std::function<void()>& act) {
        sources_.clear();
        const size_t errors = Questions().Errors.size();
        act();
        EXPECT_EQ(Questions().Errors.size() - errors, sources_.size()) << "one error shown per command";
        return sources_;
    }

private:
    TCommandCheck previous_;
    std::vector<const QObject*> sources_;
};

TEST_F(CommandCheckTest, EveryActionAndDialogButtonRunsThroughTheHelper) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", "<note title=\"A\" memo=\"1+1\"/>\r\n"));
    Select(Find(root, {"A"}));
    Windows().Find->Edit_FindWhat->setText("A");
    RefuseCommands();
    const std::string before = ReadFile(PathOf("doc.ldx"));

    std::vector<QAction*> actions;
    std::vector<QAction*> others;
    for (QWidget* window :
         std::vector<QWidget*>{&Window(), Windows().CipherDialog.get(), Windows().PasswordDialog.get(),
                               Windows().About.get(), Windows().Find.get(), Windows().Preferences.get()}) {
        for (QAction* action : window->findChildren<QAction*>()) {
            if (action->isSeparator() || action->menu() != nullptr) {
                continue; // a separator or a menu's own action opens nothing
            }
            (action->objectName().isEmpty() ? others : actions).push_back(action);
        }
    }
    // The window's commands are the named actions (the settings and language files address them
    // by name); Qt's own actions (showing a tool bar, holding the menu bar) are the others.
    EXPECT_GE(actions.size(), 31u);
    for (QAction* action : others) {
        EXPECT_TRUE(action->isCheckable() || qobject_cast<QWidgetAction*>(action) != nullptr)
            << "an unnamed action: " << action->text().toStdString();
    }
    for (QAction* action : actions) {
        SCOPED_TRACE(action->objectName().toStdString());
        action->setEnabled(true); // a disabled action ignores trigger() before any handler
        EXPECT_EQ(SourcesOf([action] { action->trigger(); }), (std::vector<const QObject*>{action}));
    }

    for (QDialog* dialog :
         std::vector<QDialog*>{Windows().CipherDialog.get(), Windows().PasswordDialog.get(),
                               Windows().About.get(), Windows().Find.get(), Windows().Preferences.get()}) {
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            SCOPED_TRACE(dialog->objectName().toStdString() + "." + button->objectName().toStdString());
            button->setEnabled(true);
            EXPECT_EQ(SourcesOf([button] { button->click(); }), (std::vector<const QObject*>{button}));
        }
    }
    EXPECT_EQ(Tree().TopLevelCount(), 1) << "no command ran";
    EXPECT_FALSE(root->Document()->Modified());
    EXPECT_EQ(ReadFile(PathOf("doc.ldx")), before);
}

TEST_F(CommandCheckTest, KeysTreeCommandsFieldsAndClosingRunThroughTheHelper) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", "<note title=\"A\" memo=\"1+1\"/>\r\n<note title=\"B\">\r\n"
                                                 "<note title=\"b\"/>\r\n</note>\r\n"));
    TTreeNode* a = Find(root, {"A"});
    Encrypt(Find(root, {"B"}), "pw", TLock::AtOnce);
    Select(a);
    root->Document()->SetModified(false);
    Window().show();
    RefuseCommands();

    TForm_Find& find = *Windows().Find;
    QPlainTextEdit& memo = *Window().Memo;
    TTreeNode* b = Find(root, {"B"});
    struct Case {
        const char* name;
        std::function<void()> act;
        std::vector<const QObject*> sources; // in any order
        std::function<void()> expectUntouched;
    };
    const std::vector<Case> cases = {
        {"the calculator key",
         [&memo] {
             memo.moveCursor(QTextCursor::End);
             // One key press, as a typed key arrives (QTest would press Ctrl as a key of its own).
             QKeyEvent press(QEvent::KeyPress, Qt::Key_Equal, Qt::ControlModifier);
             QCoreApplication::sendEvent(&memo, &press);
         },
         {&memo},
         [&memo] { EXPECT_EQ(memo.toPlainText(), "1+1"); }},
        {"typing into the memo",
         [&memo] { memo.insertPlainText("x"); },
         {&memo},
         [root] { EXPECT_FALSE(root->Document()->Modified()); }},
        {"Enter in the find field",
         [&find] { QTest::keyClick(find.Edit_FindWhat, Qt::Key_Return); },
         {find.Edit_FindWhat},
         [this] { EXPECT_TRUE(Questions().Informed.empty()) << "no search ran"; }},
        {"typing into the find field",
         [&find] { find.Edit_FindWhat->setText("B"); },
         {find.Edit_FindWhat},
         [&find] { EXPECT_FALSE(find.Button_Find->isEnabled()); }},
        {"choosing the scope",
         [&find] { find.Radio_SelectedBranch->click(); },
         {find.Radio_SelectedBranch, find.Radio_Everywhere},
         {}},
        {"selecting a branch",
         [this, root] { Select(root); },
         {Window().TreeView->selectionModel()},
         [&memo] { EXPECT_EQ(memo.toPlainText(), "1+1x") << "the memo was not changed over"; }},
        {"expanding a locked branch",
         [this, b] { Window().TreeView->expand(Tree().IndexOf(b)); },
         {Window().TreeView},
         [b] { EXPECT_TRUE(IsNodeLocked(b)); }},
        {"renaming in place",
         [this, a] { Tree().setData(Tree().IndexOf(a), QString("renamed"), Qt::EditRole); },
         {&Tree()},
         [a] { EXPECT_EQ(TitleAccess.Read(ElementOf(a)), "A"); }},
        {"a link of the About box",
         [this] {
             QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                                 Qt::NoButton, Qt::NoModifier);
             QCoreApplication::sendEvent(Windows().About->Label_URL, &release);
         },
         {Windows().About->Label_URL},
         {}},
        {"closing the window",
         [this] { Window().close(); },
         {&Window()},
         [this] { EXPECT_TRUE(Window().isVisible()); }},
    };
    auto sorted = [](std::vector<const QObject*> objects) {
        std::sort(objects.begin(), objects.end());
        return objects;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sorted(SourcesOf(c.act)), sorted(c.sources));
        if (c.expectUntouched) {
            c.expectUntouched();
        }
    }
    EXPECT_EQ(MemoAccess.Read(ElementOf(a)), "1+1");
    EXPECT_FALSE(root->Document()->Modified()) << "no command ran";
}

} // namespace
} // namespace ludex::test
