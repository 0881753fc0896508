#pragma once

#include "core/document/BranchCipher.h"
#include "core/document/DomService.h"
#include "core/settings/Localer.h"

#include <QDialog>
#include <QString>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ludex {

class TQtLocalizedForm;

// The scheme the encrypt dialog offers for a branch that is not yet encrypted: the settings value
// "CipherScheme" once start-up has read it, kDefaultCipherScheme until then.
TCipherScheme NewEncryptionScheme();
void SetNewEncryptionScheme(TCipherScheme scheme);

// The encrypt/decrypt dialog: the branch's title, a password typed twice and whether to lock the
// branch at once, and the scheme: Check_Compatible chooses the compatible one, which earlier
// versions read but which takes only text of the code page. A non-empty password puts the branch under it (or
// changes it), the empty password takes the branch's encryption off. Created once and shown again for every
// use; the lock check box keeps its state between showings. Follows the language as a localised form.
class TForm_CipherDialog : public QDialog, public ILocalerClient {
    Q_OBJECT

public:
    enum TResult { Cancelled = 0, Accepted = 1, AcceptedAndLock = 2 };

    explicit TForm_CipherDialog(QWidget* parent = nullptr);
    ~TForm_CipherDialog() override;

    // Shows the dialog for the element (a branch that is not locked), its scheme choice set to
    // the branch's scheme, or to NewEncryptionScheme() for a plain branch. Cancelled changes
    // nothing; both fields are emptied when their text is read and on Cancel. On OK with a
    // non-empty password the element is encrypted (or re-keyed) in the chosen scheme; with the
    // empty password the encryption is removed. The result is AcceptedAndLock when
    // Check_Lock is set. A password the code page cannot hold, or a memo of the element that it
    // cannot hold while a password is being set, throws EUnencipherable and changes nothing. The
    // branch records the code page it is encrypted in.
    int Execute(const TDomNode& element);

    void Localize(TLocaler& localer) override;
    TPublishedObject& Published();

    QLabel* Label_Branch = nullptr;
    QLabel* Label_BranchName = nullptr;
    QLabel* Label_InputPassword = nullptr;
    QLineEdit* Edit_Password = nullptr;
    QLabel* Label_ConfirmPassword = nullptr;
    QLineEdit* Edit_ConfirmPassword = nullptr;
    QCheckBox* Check_Compatible = nullptr;
    QCheckBox* Check_Lock = nullptr;
    QPushButton* Button_OK = nullptr;
    QPushButton* Button_Cancel = nullptr;

public slots:
    // OK and Enter: closes only when the two fields agree, otherwise says so, empties both and
    // stays open with the cursor in the first.
    void accept() override;

private:
    bool FieldsAgree() const;
    void AskToRetype();

    std::unique_ptr<TQtLocalizedForm> published_;
    // The password field's caption for a plain branch (the language file's) and for an encrypted
    // one, whose password may be changed or left empty to decrypt it (a message).
    QString newPasswordCaption_ = "Password:";
    QString changePasswordCaption_ = "New password (leave both fields empty to decrypt):";
};

} // namespace ludex
