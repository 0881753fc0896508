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

#include <memory>
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
    // A stored cost far above the present one (a crafted file can ask for gigabytes and minutes
    // for each attempt) is paid only when the user agrees to it.
    TCostlyKey costly = TCostlyKey::Refuse;
    try {
        if (const std::optional<TKeyDerivationCost> cost = BranchKeyCost(element);
            cost && IsCostlyKeyCost(*cost)) {
            if (ModalQuestions().Ask(this, Q(CostlyKeyQuestion(*cost)), TQuestionButtons::YesNo) !=
                TAnswer::Yes) {
                return false;
            }
            costly = TCostlyKey::Allow;
        }
    } catch (const EDamagedBranch& e) {
        ModalQuestions().ShowError(this, Q(e.what()));
        return false;
    }
    for (;;) {
        Edit_Password->setFocus();
        if (ModalQuestions().Exec(*this) != QDialog::Accepted) {
            ClearPasswordField(*Edit_Password);
            return false;
        }
        try {
            // Deriving the key takes its time on purpose, and cannot be interrupted: it runs on a
            // thread of its own, which Cancel leaves to end by itself (the password and the key
            // it holds are wiped and freed then), so that the dialog's caller goes on at once.
            // What it needs of the branch is read here, before it starts.
            struct TDerivation {
                TBranchUnlockRequest request;
                TSecret password;
                std::optional<TBranchUnlockKey> key;
            };
            const auto derivation = std::make_shared<TDerivation>(TDerivation{
                PrepareBranchUnlock(element, costly), TakePassword(*Edit_Password), std::nullopt});
            TLongWork work("WorkUnlocking", TCancel::Allowed);
            if (!work.RunAbandonable([derivation] {
                    derivation->key = VerifyBranchPassword(derivation->request, derivation->password.View());
                    derivation->password = TSecret();
                })) {
                return false; // the branch stays locked
            }
            if (derivation->key) {
                unlock(std::move(*derivation->key));
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
