#include "dialogs/PasswordDialog.h"

#include "app/ModalQuestions.h"
#include "dialogs/CipherDialog.h"
#include "document/BranchCipher.h"
#include "settings/LX_Localer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ludex {

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

TForm_PasswordDialog::TForm_PasswordDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("Form_PasswordDialog");
    setWindowTitle("Unlock branch");
    setModal(true);

    Label_InputPassword = new QLabel("Input password", this);
    Label_InputPassword->setObjectName("Label_InputPassword");
    Edit_Password = new QLineEdit(this);
    Edit_Password->setObjectName("Edit_Password");
    ShowPasswordAsStars(*Edit_Password);
    Button_OK = new QPushButton("OK", this);
    Button_OK->setObjectName("Button_OK");
    Button_OK->setDefault(true);
    Button_Cancel = new QPushButton("Cancel", this);
    Button_Cancel->setObjectName("Button_Cancel");
    Button_Cancel->setAutoDefault(false);
    connect(Button_OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button_Cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label_InputPassword);
    layout->addWidget(Edit_Password);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button_OK);
    buttons->addWidget(Button_Cancel);
    layout->addLayout(buttons);
}

bool TForm_PasswordDialog::Execute(const std::string& branchTitle, const TDomNode& element,
                                   const TUnlock& unlock) {
    TLXLocaler& localer = LanguageLocaler();
    setWindowTitle(Q(localer.FormatMessage("UnlockBranch", {branchTitle})));
    Label_InputPassword->setText(Q(localer.GetMessage("InputPassword")));
    Button_OK->setText(Q(localer.GetMessage("Ok")));
    Button_Cancel->setText(Q(localer.GetMessage("Cancel")));
    Edit_Password->clear();
    for (;;) {
        Edit_Password->setFocus();
        if (ModalQuestions().Exec(*this) != QDialog::Accepted) {
            return false;
        }
        const std::string password = Edit_Password->text().toStdString();
        if (CheckBranchPassword(element, password)) {
            unlock(password);
            return true;
        }
        ModalQuestions().Inform(this, Q(localer.GetMessage("IncorrectPassword")));
    }
}

} // namespace ludex
