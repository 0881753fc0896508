#include "gui/dialogs/PasswordFields.h"

#include "gui/app/CommandConnection.h"

#include <QBoxLayout>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace ludex {

QLineEdit* NewPasswordEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setEchoMode(QLineEdit::Password);
    // The style decides the mask character; the style sheet property fixes it to '*' (42).
    edit->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
    return edit;
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

} // namespace ludex
