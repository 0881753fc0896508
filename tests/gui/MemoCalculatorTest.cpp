// The calculator key in the memo: which text is evaluated, what is inserted, and where nothing may be.
#include "GuiTestSupport.h"

#include "core/document/BranchCipher.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/MemoCalculator.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QCoreApplication>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>

namespace ludex::test {
namespace {

class MemoCalculatorTest : public TProgramTest {
protected:
    // Opens a document with a plain branch "a" and a locked branch "z", and selects "a".
    void OpenAndSelect() {
        TDomDocument dom;
        dom.LoadXML("<?xml version=\"1.0\" encoding=\"utf-8\"?><ludex version=\"2.1.0 \" title=\"Doc\" "
                    "memo=\"\"><note title=\"a\" memo=\"7*6\"/><note title=\"z\" memo=\"2+2\"/></ludex>");
        SetBranchPassword(dom.DocumentElement().Child(1), "pw");
        Start(WriteFile("calc.ldx", DocumentToText(dom.DocumentElement())));
        Window().Tree().Select(Node("a"));
    }
    TTreeNode* Node(const std::string& title) {
        TTreeNode* root = Window().Tree().FirstTopLevel();
        for (int i = 0; i < root->ChildCount(); ++i) {
            if (root->Child(i)->Text() == title) {
                return root->Child(i);
            }
        }
        return nullptr;
    }
    QPlainTextEdit& Memo() { return *Window().Memo; }
    // Puts the text into the memo with the caret at `caret` (or the selection [caret, end)).
    void SetMemo(const QString& text, int caret, int selectionEnd = -1) {
        Memo().setPlainText(text);
        QTextCursor cursor = Memo().textCursor();
        cursor.setPosition(caret);
        if (selectionEnd >= 0) {
            cursor.setPosition(selectionEnd, QTextCursor::KeepAnchor);
        }
        Memo().setTextCursor(cursor);
    }
    // Presses a key in the memo as a typed key arrives; true when the memo used it up, so that it
    // did not go on to the memo's parent.
    bool Press(int key, Qt::KeyboardModifiers modifiers, quint32 scanCode = 0) {
        struct TKeysSeen : QObject {
            int count = 0;
            bool eventFilter(QObject*, QEvent* event) override {
                count += event->type() == QEvent::KeyPress ? 1 : 0;
                return false;
            }
        } parentSaw;
        Memo().parentWidget()->installEventFilter(&parentSaw);
        QKeyEvent press(QEvent::KeyPress, key, modifiers, scanCode, 0, 0);
        QCoreApplication::sendEvent(&Memo(), &press);
        Memo().parentWidget()->removeEventFilter(&parentSaw);
        return parentSaw.count == 0;
    }
    bool PressCtrlEquals() { return Press(Qt::Key_Equal, Qt::ControlModifier); }
};

TEST_F(MemoCalculatorTest, InsertsTheResultOfTheExpressionBeforeTheCaret) {
    OpenAndSelect();
    const std::string error = LanguageLocaler().GetMessage("Error");
    struct Case {
        QString text;
        int caret;        // -1: the end of the text
        int selectionEnd; // -1: no selection
        QString expected;
        int expectedCaret; // -1: the end of the text
    };
    const QString e = QString::fromStdString(error);
    const std::vector<Case> cases = {
        {"2+3", -1, -1, "2+3=5", -1},
        {"2+3=5", -1, -1, "2+3=5=5", -1}, // only what follows the last "="
        {"x 2*3", -1, -1, "x 2*3=6", -1}, // a space ends the expression
        {"line\n12*3.5", -1, -1, "line\n12*3.5=42", -1},
        {"line\n", -1, -1, "line\n=" + e, -1}, // at the start of a line: nothing to evaluate
        {"a b", 2, -1, "a =" + e + "b", 3 + static_cast<int>(e.size())}, // right after a space
        {"x\t2+3", -1, -1, "x\t2+3=" + e, -1},                           // a tab does not end the expression
        {"4*5 tail", 3, -1, "4*5=20 tail", 6},
        {"2 * (3 + 4) and", 0, 11, "2 * (3 + 4)=14 and", 14}, // a selection may hold blanks
        {"-(2+3)", -1, -1, "-(2+3)=-5", -1},
        {"2*-(3)", -1, -1, "2*-(3)=" + e, -1},
        {"1/0", -1, -1, "1/0=" + e, -1},
        {"TAN(0)", -1, -1, "TAN(0)=0", -1},
        {"$FFFFFFFF", -1, -1, "$FFFFFFFF=-1", -1},
        {"2^3^2", -1, -1, "2^3^2=64", -1},
        {"sqrt(16)", -1, -1, "sqrt(16)=4", -1},
        {"PI", -1, -1, "PI=3.14159265358979", -1},
        {"\xD1\x8E 1e3", -1, -1, "\xD1\x8E 1e3=1000", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        SetMemo(c.text, c.caret < 0 ? static_cast<int>(c.text.size()) : c.caret, c.selectionEnd);
        EXPECT_TRUE(PressCtrlEquals());
        EXPECT_EQ(Memo().toPlainText(), c.expected);
        EXPECT_FALSE(Memo().textCursor().hasSelection());
        EXPECT_EQ(Memo().textCursor().position(),
                  c.expectedCaret < 0 ? static_cast<int>(c.expected.size()) : c.expectedCaret);
    }
}

// Where the window system reports scan codes the key is the one at the "=+" position, whatever
// the layout puts on it; without scan codes (0) it is the key that produces "=".
TEST_F(MemoCalculatorTest, OnlyTheEqualsKeyWithCtrlIsTheCommand) {
    OpenAndSelect();
    const quint32 equalsKey = TMemoCalculator::kEqualsKeyScanCode;
    const quint32 digit0Key = 19;  // "0" on the main keyboard
    const quint32 bracketKey = 35; // "]" in the US layout, "+*~" in the German one
    const quint32 keypadPlus = 86;
    const quint32 minusKey = 20;
    struct Case {
        int key;
        quint32 scanCode;
        Qt::KeyboardModifiers modifiers;
        bool command;
    };
    const std::vector<Case> cases = {
        // No scan codes: the character decides.
        {Qt::Key_Equal, 0, Qt::ControlModifier, true},
        {Qt::Key_Equal, 0, Qt::ControlModifier | Qt::AltModifier, true},
        {Qt::Key_Plus, 0, Qt::ControlModifier | Qt::ShiftModifier, true}, // the same key with Shift
        {Qt::Key_Equal, 0, Qt::NoModifier, false},
        {Qt::Key_Plus, 0, Qt::ControlModifier | Qt::KeypadModifier, false}, // the keypad's "+"
        {Qt::Key_Minus, 0, Qt::ControlModifier, false},
        // US layout with scan codes.
        {Qt::Key_Equal, equalsKey, Qt::ControlModifier, true},
        {Qt::Key_Plus, equalsKey, Qt::ControlModifier | Qt::ShiftModifier, true},
        {Qt::Key_Equal, equalsKey, Qt::ControlModifier | Qt::AltModifier, true},
        {Qt::Key_Equal, equalsKey, Qt::NoModifier, false},
        {Qt::Key_Plus, keypadPlus, Qt::ControlModifier | Qt::KeypadModifier, false},
        {Qt::Key_Minus, minusKey, Qt::ControlModifier, false},
        // German layout: the "=+" position carries a dead acute (grave with Shift); "=" is Shift+0,
        // which is the command as well; "+" has a key of its own, which is not.
        {Qt::Key_Dead_Acute, equalsKey, Qt::ControlModifier, true},
        {Qt::Key_Dead_Grave, equalsKey, Qt::ControlModifier | Qt::ShiftModifier, true},
        {Qt::Key_Equal, digit0Key, Qt::ControlModifier | Qt::ShiftModifier, true},
        {Qt::Key_Plus, bracketKey, Qt::ControlModifier, false},
        {Qt::Key_Plus, bracketKey, Qt::ControlModifier | Qt::ShiftModifier, false},
        {Qt::Key_Equal, keypadPlus, Qt::ControlModifier | Qt::KeypadModifier, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "key " << c.key << ", scan code " << c.scanCode);
        EXPECT_EQ(TMemoCalculator::IsCalculatorKey(c.key, c.scanCode, c.modifiers), c.command);
        SetMemo("6*7", 3);
        EXPECT_EQ(Press(c.key, c.modifiers, c.scanCode), c.command) << "only the command's key is used up";
        if (c.command) {
            EXPECT_EQ(Memo().toPlainText(), "6*7=42");
        } else {
            EXPECT_FALSE(Memo().toPlainText().startsWith("6*7="));
        }
    }
}

// A composing input method would keep a dead key for the next character, so that the key never
// arrives (the German "=" position): while Ctrl is held the memo takes no input method.
TEST_F(MemoCalculatorTest, WhileCtrlIsHeldTheMemoTakesNoInputMethod) {
    OpenAndSelect();
    const auto enabled = [this] {
        QInputMethodQueryEvent query(Qt::ImEnabled | Qt::ImCursorPosition);
        QCoreApplication::sendEvent(&Memo(), &query);
        EXPECT_TRUE(query.value(Qt::ImCursorPosition).isValid()) << "the other answers are given";
        return query.value(Qt::ImEnabled).toBool();
    };
    SetMemo("6*7", 3);
    QTest::keyRelease(&Memo(), Qt::Key_Control, Qt::NoModifier); // no key is held
    EXPECT_TRUE(enabled());
    QTest::keyPress(&Memo(), Qt::Key_Control, Qt::ControlModifier);
    EXPECT_FALSE(enabled());
    // The dead key arrives with its position and runs the command.
    EXPECT_TRUE(Press(Qt::Key_Dead_Acute, Qt::ControlModifier, TMemoCalculator::kEqualsKeyScanCode));
    EXPECT_EQ(Memo().toPlainText(), "6*7=42");
    QTest::keyRelease(&Memo(), Qt::Key_Control, Qt::NoModifier);
    EXPECT_TRUE(enabled());
}

TEST_F(MemoCalculatorTest, TheInsertionIsAnEditOfTheBranch) {
    OpenAndSelect();
    TLXDocument* document = Window().Tree().FirstTopLevel()->Document();
    ASSERT_EQ(Memo().toPlainText(), "7*6");
    ASSERT_FALSE(document->Modified());
    Memo().moveCursor(QTextCursor::End);
    ASSERT_TRUE(PressCtrlEquals());
    EXPECT_TRUE(document->Modified());
    Window().Tree().Select(Window().Tree().FirstTopLevel());
    EXPECT_EQ(MemoAccess.Read(Node("a")->Element()), "7*6=42");
}

TEST_F(MemoCalculatorTest, LockedMemoStaysUntouched) {
    OpenAndSelect();
    TTreeNode* locked = Node("z");
    ASSERT_TRUE(IsNodeLocked(locked));
    Window().Tree().Select(locked);
    const QString shown = Memo().toPlainText();
    const std::string stored = MemoAccess.Read(locked->Element());
    Memo().moveCursor(QTextCursor::End);
    EXPECT_TRUE(PressCtrlEquals()) << "the key is used up";
    EXPECT_EQ(Memo().toPlainText(), shown);
    Window().Tree().Select(Node("a"));
    EXPECT_EQ(MemoAccess.Read(locked->Element()), stored);
    EXPECT_FALSE(Window().Tree().FirstTopLevel()->Document()->Modified());
}

TEST_F(MemoCalculatorTest, OverflowIsAnErrorOfTheCommandAndInsertsNothing) {
    OpenAndSelect();
    SetMemo("1E4000*1E4000", 13);
    EXPECT_TRUE(PressCtrlEquals()) << "a failed command uses its key up too";
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_EQ(Questions().Errors.front().toStdString(), LanguageLocaler().GetMessage("CalcOverflow"));
    EXPECT_EQ(Memo().toPlainText(), "1E4000*1E4000");
    // The program goes on: the next calculation works.
    SetMemo("1+2", 3);
    EXPECT_TRUE(PressCtrlEquals());
    EXPECT_EQ(Memo().toPlainText(), "1+2=3");
    EXPECT_EQ(Questions().Errors.size(), 1u);
}

TEST_F(MemoCalculatorTest, CalculateTextUsesTheDecimalSeparatorAndTheErrorMessage) {
    Start();
    const std::string error = LanguageLocaler().GetMessage("Error");
    struct Case {
        std::string expression;
        char separator;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"1/4", '.', "0.25"}, {"1/4", ',', "0,25"}, {"2,5*2", ',', "5"},
        {"2.5*2", ',', "5"},  {"2,5", '.', error},  {"1/3", '.', "0.333333333333333"},
        {"", '.', error},     {"(2", '.', error},   {"1E-5", ',', "1E-5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CalculateText(c.expression, c.separator), c.expected) << c.expression;
    }
    // The error text follows the language.
    Window().MI_Russian->trigger();
    EXPECT_EQ(CalculateText("(2", '.'), "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0");
}

TEST(ExpressionBeforeCaret, StopsAtLineBreakSpaceAndEquals) {
    struct Case {
        QString text;
        int caret;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"", 0, ""},         {"abc", 3, "abc"}, {"a=b", 3, "b"},  {"a\nb", 3, "b"},      {"a b", 3, "b"},
        {"a\tb", 3, "a\tb"}, {"a b", 1, "a"},   {"a b", 99, "b"}, {"ab\r\ncd", 6, "cd"}, {"ab=", 3, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExpressionBeforeCaret(c.text, c.caret), c.expected) << c.text.toStdString();
    }
}

} // namespace
} // namespace ludex::test
