#pragma once

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
    // Called with a password that matches the branch's check value; it unlocks the branch.
    using TUnlock = std::function<void(const std::string& password)>;

    explicit TForm_PasswordDialog(QWidget* parent = nullptr);

    // Asks for the password of the locked `element`, titled with `branchTitle`. A wrong password
    // says "IncorrectPassword" and asks again with the typed text kept; a right one is handed to
    // `unlock` and the result is true. Cancel, Escape or closing the window give false. An error
    // of `unlock` propagates.
    bool Execute(const std::string& branchTitle, const TDomNode& element, const TUnlock& unlock);

    QLabel* Label_InputPassword = nullptr;
    QLineEdit* Edit_Password = nullptr;
    QPushButton* Button_OK = nullptr;
    QPushButton* Button_Cancel = nullptr;
};

} // namespace ludex
