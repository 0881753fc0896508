#include "gui/dialogs/PasswordDialog.h"

#include "core/document/BranchCipher.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/LongWork.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/DialogFrame.h"
#include "gui/dialogs/NamedWidget.h"
#include "gui/dialogs/PasswordFields.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>
#include <utility>

namespace ludex {

TForm_PasswordDialog::TForm_PasswordDialog(QWidget* parent) : QDialog(parent, kDialogFrame) {
    setObjectName("Form_PasswordDialog");
    setWindowTitle("Unlock branch");
    setModal(true);

    Label_BranchName = NewNamed<QLabel>("Label_BranchName", this);
    Label_BranchName->setTextFormat(Qt::PlainText);
    Label_InputPassword = NewNamed<QLabel>("Label_InputPassword", "Input password", this);
    Edit_Password = NewPasswordEdit(this, "Edit_Password");
    Label_InputPassword->setBuddy(Edit_Password); // a screen reader names the field by it

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label_BranchName);
    layout->addWidget(Label_InputPassword);
    layout->addWidget(Edit_Password);
    AddOkCancelButtons(*this, *layout, Button_OK, Button_Cancel);
}

bool TForm_PasswordDialog::Execute(const std::string& branchTitle, const TDomNode& element,
                                   const TUnlock& unlock) {
    TLXLocaler& localer = LanguageLocaler();
    const QString shown = ShownBranchTitle(branchTitle);
    setWindowTitle(Q(localer.FormatMessage("UnlockBranch", {shown.toStdString()})));
    Label_BranchName->setText(shown);
    Label_BranchName->setToolTip(shown == Q(branchTitle) ? QString() : Q(branchTitle));
    Label_InputPassword->setText(Q(localer.GetMessage("InputPassword")));
    Button_OK->setText(Q(localer.GetMessage("Ok")));
    Button_Cancel->setText(Q(localer.GetMessage("Cancel")));
    FitWidthToCaption(*this);
    ClearPasswordField(*Edit_Password);
    for (;;) {
        Edit_Password->setFocus();
        if (ModalQuestions().Exec(*this) != QDialog::Accepted) {
            ClearPasswordField(*Edit_Password);
            return false;
        }
        try {
            std::optional<TBranchUnlockKey> key;
            // Deriving the key takes its time on purpose; the window keeps painting meanwhile, and
            // the deciphering that `unlock` does is part of the same work.
            TLongWork work("WorkUnlocking", TCancel::Allowed);
            {
                const TSecret password = TakePassword(*Edit_Password);
                work.RunOnWorker([&key, &element, &password](TWorkProgress&) {
                    key = VerifyBranchPassword(element, password.View());
                });
            }
            if (work.Cancelled()) {
                return false; // the branch stays locked
            }
            if (key) {
                unlock(std::move(*key));
                return true;
            }
        } catch (const EDamagedBranch& e) {
            // Another try cannot mend the branch; it stays locked as it was.
            ModalQuestions().ShowError(this, Q(e.what()));
            return false;
        }
        ModalQuestions().Inform(this, Q(localer.GetMessage("IncorrectPassword")));
    }
}

} // namespace ludex
