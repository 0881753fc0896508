#pragma once

#include "core/document/BranchCipher.h"
#include "core/document/DomService.h"

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ludex {

// The unlock dialog: asks for a locked branch's password until it is right or the user gives
// up. Its texts come from the messages each time it is shown. Created once and shown again for
// every use.
class TForm_PasswordDialog : public QDialog {
    Q_OBJECT

public:
    // Called with the key a right password opens; it unlocks the branch without deriving again.
    using TUnlock = std::function<void(TBranchUnlockKey&& key)>;

    explicit TForm_PasswordDialog(QWidget* parent = nullptr);

    // Asks for the password of the locked `element`, naming the branch `branchTitle` in the
    // caption and above the field. The field is emptied as soon as its text is read and on
    // Cancel. A wrong password says "IncorrectPassword" and asks again; a right one is verified
    // once (a strong key is derived once) and its key handed to `unlock`, and the result is true.
    // A damaged branch (EDamagedBranch, from the check or from `unlock`) is shown as an error and
    // gives false with the branch still locked. Cancel, Escape or closing the window give false,
    // and so does stopping the work of checking the password (TLongWork): at once, the derivation
    // left to end by itself on its own thread. A stored key cost far above the present one
    // (IsCostlyKeyCost) is asked about first, naming its memory and time; No gives false. Other
    // errors of `unlock` propagate.
    bool Execute(const std::string& branchTitle, const TDomNode& element, const TUnlock& unlock);

    QLabel* Label_BranchName = nullptr;
    QLabel* Label_InputPassword = nullptr;
    QLineEdit* Edit_Password = nullptr;
    QPushButton* Button_OK = nullptr;
    QPushButton* Button_Cancel = nullptr;
};

} // namespace ludex
