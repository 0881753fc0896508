#include "gui/dialogs/CipherDialog.h"

#include "core/document/BranchCipher.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/DialogFrame.h"
#include "gui/dialogs/NamedWidget.h"
#include "gui/dialogs/PasswordFields.h"
#include "gui/properties/QtPublished.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ludex {

namespace {
TCipherScheme newEncryptionScheme = kDefaultCipherScheme;
} // namespace

TCipherScheme NewEncryptionScheme() {
    return newEncryptionScheme;
}

void SetNewEncryptionScheme(TCipherScheme scheme) {
    newEncryptionScheme = scheme;
}

TForm_CipherDialog::TForm_CipherDialog(QWidget* parent) : QDialog(parent, kDialogFrame) {
    setObjectName("Form_CipherDialog");
    setWindowTitle("Encrypt branch");
    setModal(true);

    Label_Branch = NewNamed<QLabel>("Label_Branch", "Branch:", this);
    Label_BranchName = NewNamed<QLabel>("Label_BranchName", this);
    Label_BranchName->setTextFormat(Qt::PlainText);
    Label_InputPassword =
        NewNamed<QLabel>("Label_InputPassword", "Input password (Empty for decryption)", this);
    Edit_Password = NewPasswordEdit(this, "Edit_Password");
    Label_ConfirmPassword = NewNamed<QLabel>("Label_ConfirmPassword", "Confirm password", this);
    Edit_ConfirmPassword = NewPasswordEdit(this, "Edit_ConfirmPassword");
    Check_Compatible =
        NewNamed<QCheckBox>("Check_Compatible", "Compatible encryption (readable by earlier versions)", this);
    Check_Lock = NewNamed<QCheckBox>("Check_Lock", "Collapse and lock encrypting branch", this);
    // A screen reader names each field by its label.
    Label_InputPassword->setBuddy(Edit_Password);
    Label_ConfirmPassword->setBuddy(Edit_ConfirmPassword);
    auto* layout = new QVBoxLayout(this);
    auto* branchRow = new QHBoxLayout;
    branchRow->addWidget(Label_Branch);
    branchRow->addWidget(Label_BranchName, 1);
    layout->addLayout(branchRow);
    layout->addWidget(Label_InputPassword);
    layout->addWidget(Edit_Password);
    layout->addWidget(Label_ConfirmPassword);
    layout->addWidget(Edit_ConfirmPassword);
    layout->addWidget(Check_Compatible);
    layout->addWidget(Check_Lock);
    AddOkCancelButtons(*this, *layout, Button_OK, Button_Cancel);

    published_ = std::make_unique<TQtLocalizedForm>(*this, *this);
}

TForm_CipherDialog::~TForm_CipherDialog() {
    LanguageLocaler().RemoveClient(*published_);
}

TPublishedObject& TForm_CipherDialog::Published() {
    return *published_;
}

void TForm_CipherDialog::Localize(TLocaler& localer) {
    localer.LocalizeForm(*published_);
    newPasswordCaption_ = Label_InputPassword->text();
    localer.OpenPath("/messages");
    changePasswordCaption_ = Q(localer.GetMessage("InputPasswordOrDecrypt"));
    Button_OK->setText(Q(localer.GetMessage("Ok")));
    Button_Cancel->setText(Q(localer.GetMessage("Cancel")));
}

bool TForm_CipherDialog::FieldsAgree() const {
    return Edit_Password->text() == Edit_ConfirmPassword->text();
}

void TForm_CipherDialog::AskToRetype() {
    ModalQuestions().Inform(this, Q(LanguageLocaler().GetMessage("RetypePassword")));
    // Both are typed again from the start; which of them was mistyped cannot be told.
    ClearPasswordField(*Edit_Password);
    ClearPasswordField(*Edit_ConfirmPassword);
    Edit_Password->setFocus();
}

void TForm_CipherDialog::accept() {
    if (!FieldsAgree()) {
        AskToRetype();
        return; // the dialog stays open for the password to be typed again
    }
    QDialog::accept();
}

int TForm_CipherDialog::Execute(const TDomNode& element) {
    const std::string title = TitleAccess.Read(element);
    const QString shown = ShownBranchTitle(title);
    Label_BranchName->setText(shown);
    Label_BranchName->setToolTip(shown == Q(title) ? QString() : Q(title));
    // Only an encrypted branch can be decrypted: the empty password is offered for it alone.
    const bool encrypted = IsBranchEncrypted(element);
    Label_InputPassword->setText(encrypted ? changePasswordCaption_ : newPasswordCaption_);
    FitWidthToCaption(*this);
    const TCipherScheme offered = encrypted ? BranchCipherScheme(element) : NewEncryptionScheme();
    Check_Compatible->setChecked(offered == TCipherScheme::Compatible);
    ClearPasswordField(*Edit_Password);
    ClearPasswordField(*Edit_ConfirmPassword);
    Edit_Password->setFocus();
    for (;;) {
        if (ModalQuestions().Exec(*this) != QDialog::Accepted) {
            ClearPasswordField(*Edit_Password);
            ClearPasswordField(*Edit_ConfirmPassword);
            return Cancelled;
        }
        // accept() lets only agreeing fields through; a dialog closed as accepted by other means
        // is held to the same rule.
        if (FieldsAgree()) {
            break;
        }
        AskToRetype();
    }
    const TSecret password = TakePassword(*Edit_Password);
    ClearPasswordField(*Edit_ConfirmPassword);
    const TCipherScheme scheme =
        Check_Compatible->isChecked() ? TCipherScheme::Compatible : TCipherScheme::Strong;
    // The compatible scheme refuses, naming the field and the code page, a password or memo the
    // code page cannot hold, rather than failing at the next save or lock.
    SetBranchPassword(element, password.View(), scheme);
    return Check_Lock->isChecked() ? AcceptedAndLock : Accepted;
}

} // namespace ludex
