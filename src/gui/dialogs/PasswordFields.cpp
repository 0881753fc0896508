#include "gui/dialogs/PasswordFields.h"

#include "gui/app/CommandConnection.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QString>

namespace ludex {

QLineEdit* NewPasswordEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setEchoMode(QLineEdit::Password);
    // The style decides the mask character; the style sheet property fixes it to '*' (42).
    edit->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
    return edit;
}

namespace {

// The field's text shares its buffer with the field until the field lets go of it. The field is
// emptied by setting an empty text, which drops its buffer whole (clearing would copy the text
// into a buffer of its own first) and its undo history; then `text` owns the buffer alone and
// wiping it wipes the characters the field held.
void WipeDetached(QString& text) {
    if (!text.isEmpty() && !text.isDetached()) {
        return; // still shared with someone else: wiping would change their copy
    }
    WipeMemory(const_cast<QChar*>(text.constData()), static_cast<size_t>(text.size()) * sizeof(QChar));
    text.clear();
}

} // namespace

TSecret TakePassword(QLineEdit& edit) {
    QString text = edit.text();
    edit.setText(QString());
    QByteArray utf8 = text.toUtf8();
    TSecret secret(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
    WipeMemory(utf8.data(), static_cast<size_t>(utf8.size()));
    WipeDetached(text);
    return secret;
}

void ClearPasswordField(QLineEdit& edit) {
    QString text = edit.text();
    edit.setText(QString());
    WipeDetached(text);
}

void AddOkCancelButtons(QDialog& dialog, QBoxLayout& layout, QPushButton*& ok, QPushButton*& cancel) {
    ok = new QPushButton("OK", &dialog);
    ok->setObjectName("Button_OK");
    ok->setDefault(true);
    cancel = new QPushButton("Cancel", &dialog);
    cancel->setObjectName("Button_Cancel");
    cancel->setAutoDefault(false);
    ConnectCommand(ok, &QPushButton::clicked, &dialog, [&dialog] { dialog.accept(); });
    ConnectCommand(cancel, &QPushButton::clicked, &dialog, [&dialog] { dialog.reject(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout.addLayout(buttons);
}

QString ShownBranchTitle(const std::string& title) {
    QString shown = QString::fromStdString(title);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(u'\r', u' ').replace(u'\n', u' ');
    if (shown.size() <= kLongestShownTitle) {
        return shown;
    }
    // Cut between whole characters: a surrogate pair stays together.
    int head = kLongestShownTitle / 2;
    int tail = static_cast<int>(shown.size()) - (kLongestShownTitle - head - 1);
    if (shown[head - 1].isHighSurrogate()) {
        --head;
    }
    if (shown[tail].isLowSurrogate()) {
        ++tail;
    }
    return shown.left(head) + QChar(0x2026) + shown.mid(tail);
}

void FitWidthToCaption(QDialog& dialog) {
    // The frame draws the title in the title bar's font, which the window system chooses; the
    // application's font with a margin is a close measure. The frame's buttons and borders take
    // about a hundred pixels more.
    constexpr int kFrameAround = 120;
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    int wanted = metrics.horizontalAdvance(dialog.windowTitle()) * 11 / 10 + kFrameAround;
    if (const QScreen* screen = dialog.screen()) {
        wanted = std::min(wanted, screen->availableGeometry().width() * 9 / 10);
    }
    dialog.setMinimumWidth(std::max(wanted, dialog.minimumSizeHint().width()));
}

} // namespace ludex
