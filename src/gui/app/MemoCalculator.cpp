#include "gui/app/MemoCalculator.h"

#include "gui/app/QtText.h"

#include "core/base/Exception.h"
#include "core/calc/Parsing.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LudexUnit.h"

#include <QGuiApplication>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <vector>

namespace ludex {

TMemoCalculator::TMemoCalculator(TForm_Ludex& window) : memo_(window.Memo) {
    memo_->installEventFilter(this);
}

TMemoCalculator::~TMemoCalculator() = default;

bool TMemoCalculator::IsCalculatorKey(int key, quint32 nativeScanCode, Qt::KeyboardModifiers modifiers) {
    if (!modifiers.testFlag(Qt::ControlModifier)) {
        return false;
    }
    if (nativeScanCode == kEqualsKeyScanCode) {
        return true; // the position, whatever the layout puts there (a dead accent in German)
    }
    if (modifiers.testFlag(Qt::KeypadModifier)) {
        return false;
    }
    // "=" wherever the layout has it (German: Shift+0); the "=+" key with Shift where no
    // position is reported.
    return key == Qt::Key_Equal ||
           (nativeScanCode == 0 && key == Qt::Key_Plus && modifiers.testFlag(Qt::ShiftModifier));
}

bool TMemoCalculator::ControlHeld() {
    // The state of the keys now, not as of the last event handled: Ctrl may have gone down just
    // before the key whose input method is being asked about, or have come up in another window.
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

bool TMemoCalculator::eventFilter(QObject* watched, QEvent* event) {
    if (watched == memo_) {
        if (event->type() == QEvent::InputMethodQuery) {
            // While Ctrl is held the memo takes no input method: a composing input method would
            // keep a dead key (the German "=" position) for the next character, and the key would
            // never reach the memo. Typing with Ctrl composes nothing anyway.
            auto* query = static_cast<QInputMethodQueryEvent*>(event);
            if (query->queries().testFlag(Qt::ImEnabled) && ControlHeld()) {
                for (int bit = 0; bit < 32; ++bit) {
                    const auto asked = static_cast<Qt::InputMethodQuery>(1u << bit);
                    if (query->queries().testFlag(asked)) {
                        query->setValue(asked, asked == Qt::ImEnabled ? QVariant(false)
                                                                      : memo_->inputMethodQuery(asked));
                    }
                }
                return true;
            }
        } else if (event->type() == QEvent::ShortcutOverride) {
            // The key reaches the memo as a key press even where a shortcut would claim it.
            auto* key = static_cast<QKeyEvent*>(event);
            if (IsCalculatorKey(key->key(), key->nativeScanCode(), key->modifiers())) {
                event->accept();
                return true;
            }
        } else if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            bool used = false;
            // A calculation that failed has used its key all the same.
            return !RunCommand(*memo_, [&] { used = MemoKeyDown(*key); }) || used;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool TMemoCalculator::MemoKeyDown(const QKeyEvent& event) {
    if (!IsCalculatorKey(event.key(), event.nativeScanCode(), event.modifiers())) {
        return false;
    }
    // A locked branch's memo shows a notice, not the memo: nothing may be written into it.
    if (memo_->isReadOnly()) {
        return true;
    }
    QTextCursor cursor = memo_->textCursor();
    QString expression;
    if (cursor.hasSelection()) {
        expression = cursor.selectedText();
        expression.replace(QChar::ParagraphSeparator, u'\n');
        expression.replace(QChar::LineSeparator, u'\n');
        cursor.setPosition(cursor.selectionEnd());
    } else {
        expression = ExpressionBeforeCaret(FaithfulPlainText(*memo_->document()), cursor.position());
    }
    const std::string result = CalculateInLanguage(expression.toStdString());
    cursor.insertText(u'=' + QString::fromStdString(result));
    memo_->setTextCursor(cursor);
    return true;
}

QString ExpressionBeforeCaret(const QString& text, int caret) {
    caret = std::clamp(caret, 0, static_cast<int>(text.size()));
    int start = caret;
    while (start > 0) {
        const QChar c = text[start - 1];
        if (c == u'\n' || c == u' ' || c == u'=' || c == QChar::ParagraphSeparator) {
            break;
        }
        --start;
    }
    return text.mid(start, caret - start);
}

std::string CalculateText(std::string_view expression, char decimalSeparator) {
    try {
        return FormatCalcResult(EvaluateExpression(expression, decimalSeparator), decimalSeparator);
    } catch (const ERxParserError&) {
        return LanguageLocaler().GetMessage("Error");
    }
}

std::string CalculateText(std::string_view expression) {
    return CalculateText(expression, SystemDecimalSeparator());
}

std::string CalculateInLanguage(std::string_view expression) {
    const auto say = [](const char* key, const std::vector<std::string>& arguments = {}) {
        return Exception(LanguageLocaler().FormatMessage(key, arguments));
    };
    try {
        return CalculateText(expression);
    } catch (const EArithmeticFault& e) {
        switch (e.Fault()) {
        case TArithmeticFault::Overflow:
            throw say("CalcOverflow");
        case TArithmeticFault::ZeroDivide:
            throw say("CalcZeroDivide");
        case TArithmeticFault::InvalidOperation:
            break;
        }
        throw say("CalcInvalidOperation");
    } catch (const ERxNestingTooDeep&) {
        throw say("CalcNestingTooDeep", {std::to_string(TRxMathParser::kMaxNesting)});
    }
}

char SystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point[0].unicode() > 32 && point[0].unicode() < 127) {
        return static_cast<char>(point[0].unicode());
    }
    return '.';
}

} // namespace ludex
