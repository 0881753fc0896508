#pragma once

#include <QObject>
#include <QString>

#include <string>
#include <string_view>

class QKeyEvent;
class QPlainTextEdit;

namespace ludex {

class TForm_Ludex;

// The calculator inside the memo: Ctrl together with the key that carries "=" and "+" evaluates
// the expression before the caret (or the selected text) and inserts "=" and the result as if
// typed, so the edit marks the document modified like any other. On a read-only memo (a locked
// branch, or no branch at all) the key does nothing.
class TMemoCalculator : public QObject {
    Q_OBJECT

public:
    // Installs itself as an event filter on the window's memo.
    explicit TMemoCalculator(TForm_Ludex& window);
    ~TMemoCalculator() override;

    // The native scan code of the main keyboard's "=+" key (to the left of Backspace) where the
    // window system reports scan codes: X11 and Wayland number keys by the kernel's key code
    // plus 8, and that key's code is 13.
    static constexpr quint32 kEqualsKeyScanCode = 21;

    // Whether a key press is the calculator key: Ctrl held together with the main keyboard's
    // "=+" key, whatever character the keyboard layout puts on it (a dead accent included), or
    // with the key that gives "=" in the layout (German: Shift+0); Shift and Alt make no
    // difference. Where no scan code is reported (0), "+" with Shift counts as the "=+" key too.
    // The keypad's "+" and "=" are never it.
    static bool IsCalculatorKey(int key, quint32 nativeScanCode, Qt::KeyboardModifiers modifiers);

    // Whether Ctrl is held now; while it is, the memo tells the input method that it takes no
    // input, so that a dead key reaches it as a key press.
    static bool ControlHeld();

    // The command. True when the key was the calculator key (and so is used up). An evaluation
    // failure that is not an expression error propagates, and nothing is inserted.
    bool MemoKeyDown(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* memo_;
};

// The text before the caret that forms the expression: back to the nearest line break, space or
// "=" (exclusive) or the start of the text. Tabs and CR do not stop it.
QString ExpressionBeforeCaret(const QString& text, int caret);

// The result text of an expression: the formatted value, or the message "Error" when the
// evaluator rejects the expression. Other failures (overflow) propagate.
std::string CalculateText(std::string_view expression, char decimalSeparator);
// The same with the system's decimal separator.
std::string CalculateText(std::string_view expression);

// CalculateText, where a failure that is no error of the expression (a result too large, an
// expression nested too deep) is told in the interface language.
std::string CalculateInLanguage(std::string_view expression);

// The system's decimal separator when it is one ASCII character, else ".".
char SystemDecimalSeparator();

} // namespace ludex
