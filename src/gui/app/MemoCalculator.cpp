#include "gui/app/MemoCalculator.h"

#include "gui/app/QtText.h"

#include "core/calc/Parsing.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LudexUnit.h"

#include <QKeyEvent>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTextCursor>

namespace ludex {

TMemoCalculator::TMemoCalculator(TForm_Ludex& window) : memo_(window.Memo) {
    memo_->installEventFilter(this);
}

TMemoCalculator::~TMemoCalculator() = default;

bool TMemoCalculator::IsCalculatorKey(int key, quint32 nativeScanCode, Qt::KeyboardModifiers modifiers) {
    if (!modifiers.testFlag(Qt::ControlModifier)) {
        return false;
    }
    if (nativeScanCode != 0) {
        return nativeScanCode == kEqualsKeyScanCode;
    }
    if (modifiers.testFlag(Qt::KeypadModifier)) {
        return false;
    }
    return key == Qt::Key_Equal || (key == Qt::Key_Plus && modifiers.testFlag(Qt::ShiftModifier));
}

bool TMemoCalculator::eventFilter(QObject* watched, QEvent* event) {
    if (watched == memo_) {
        if (event->type() == QEvent::ShortcutOverride) {
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
    const std::string result = CalculateText(expression.toStdString());
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

char SystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point[0].unicode() > 32 && point[0].unicode() < 127) {
        return static_cast<char>(point[0].unicode());
    }
    return '.';
}

} // namespace ludex
