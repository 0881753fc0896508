#pragma once

#include "core/settings/Localer.h"

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;

namespace ludex {

class TQtLocalizedForm;

// The About box: the program name and icon, the version text from the message "AboutInfo", a web
// link and a mail link. Created once at start-up and shown again for every use.
class TForm_About : public QDialog, public ILocalerClient {
    Q_OBJECT

public:
    explicit TForm_About(QWidget* parent = nullptr);
    ~TForm_About() override;

    void Localize(TLocaler& localer) override;
    TPublishedObject& Published();

    // Opens the web address; the mail link starts a message to the address.
    void Label_URLClick();
    void Label_MailToClick();

    QWidget* Panel_About = nullptr;
    QLabel* Panel_Title = nullptr;
    QLabel* Image = nullptr;
    QLabel* Label_Info = nullptr;
    QWidget* Panel_Contacts = nullptr;
    QLabel* Label_URL = nullptr;
    QLabel* Label_MailTo = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<TQtLocalizedForm> published_;
};

// Opens a web address in the user's browser; throws Exception "Can not open " + address + CR LF +
// "Error code " + code when that fails.
void OpenURL(const std::string& address);
// Starts a mail message; throws Exception "Can not open email client. Error code " + code.
void SendMail(const std::string& address, const std::string& subject, const std::string& body);

} // namespace ludex
