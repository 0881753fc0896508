#include "gui/dialogs/LX_About.h"

#include "core/base/Exception.h"
#include "core/settings/LX_Localer.h"
#include "core/settings/LX_Utils.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/DialogFrame.h"
#include "gui/dialogs/NamedWidget.h"
#include "gui/properties/QtPublished.h"
#include "gui/tree/Pictures.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

namespace ludex {

namespace {
constexpr int kClientWidth = 298;
constexpr int kClientHeight = 236;
constexpr int kPanelHeight = 38;
const char* const kWebAddress = "https://ludex.example.org";
const char* const kMailAddress = "support@ludex.example.org";
// Opening failed; the platform gives no error number, so the code is that of "not found".
constexpr int kOpenFailedCode = 2;

QLabel* LinkLabel(QWidget* parent, const char* name, const char* text) {
    auto* label = new QLabel(Q(text), parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setCursor(Qt::PointingHandCursor);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
    label->setPalette(palette);
    return label;
}
} // namespace

void OpenURL(const std::string& address) {
    if (!QDesktopServices::openUrl(QUrl(Q(address)))) {
        throw Exception(OpenURLErrorText(address, kOpenFailedCode));
    }
}

void SendMail(const std::string& address, const std::string& subject, const std::string& body) {
    if (!QDesktopServices::openUrl(QUrl(Q(MailLink(address, subject, body))))) {
        throw Exception(SendMailErrorText(kOpenFailedCode));
    }
}

TForm_About::TForm_About(QWidget* parent) : QDialog(parent, kDialogFrame) {
    setObjectName("Form_About");
    setWindowTitle("About");
    setFixedSize(kClientWidth, kClientHeight);

    auto* outer = new QVBoxLayout(this);
    auto* frame = new QFrame(this);
    frame->setObjectName("Panel_About");
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel_About = frame;
    auto* frameLayout = new QVBoxLayout(frame);

    auto* title = new QWidget(frame);
    title->setFixedHeight(kPanelHeight);
    auto* titleLayout = new QHBoxLayout(title);
    titleLayout->setContentsMargins(4, 0, 4, 0);
    Image = NewNamed<QLabel>("Image", title);
    Image->setPixmap(
        Pictures::IconFromPictures([](int size) { return Pictures::TreePicture(0, size); }).pixmap(32, 32));
    Panel_Title = NewNamed<QLabel>("Panel_Title", "Ludex", title);
    QFont titleFont = Panel_Title->font();
    titleFont.setBold(true);
    titleFont.setPixelSize(16);
    Panel_Title->setFont(titleFont);
    Panel_Title->setStyleSheet("color: #1e7d32;");
    titleLayout->addWidget(Image);
    titleLayout->addWidget(Panel_Title, 1, Qt::AlignCenter);
    titleLayout->addSpacing(32);

    Label_Info = NewNamed<QLabel>("Label_Info", frame);
    Label_Info->setAlignment(Qt::AlignCenter);
    Label_Info->setWordWrap(true);

    Panel_Contacts = NewNamed<QWidget>("Panel_Contacts", frame);
    Panel_Contacts->setMinimumHeight(kPanelHeight);
    auto* contacts = new QVBoxLayout(Panel_Contacts);
    contacts->setContentsMargins(0, 0, 0, 0);
    contacts->setSpacing(0);
    Label_URL = LinkLabel(Panel_Contacts, "Label_URL", kWebAddress);
    Label_MailTo = LinkLabel(Panel_Contacts, "Label_MailTo", kMailAddress);
    contacts->addWidget(Label_URL);
    contacts->addWidget(Label_MailTo);

    frameLayout->addWidget(title);
    frameLayout->addWidget(Label_Info, 1);
    frameLayout->addWidget(Panel_Contacts);

    OKButton = NewNamed<QPushButton>("OKButton", "OK", this);
    OKButton->setDefault(true);
    ConnectCommand(OKButton, &QPushButton::clicked, this, [this] { accept(); });

    outer->addWidget(frame, 1);
    outer->addWidget(OKButton, 0, Qt::AlignCenter);

    // Clicks on the links: a label has no click signal, so a mouse release on it counts.
    Label_URL->installEventFilter(this);
    Label_MailTo->installEventFilter(this);

    published_ = std::make_unique<TQtLocalizedForm>(*this, *this);
}

TForm_About::~TForm_About() {
    LanguageLocaler().RemoveClient(*published_);
}

TPublishedObject& TForm_About::Published() {
    return *published_;
}

void TForm_About::showEvent(QShowEvent* event) {
    // On the centre of the screen that holds the main window, not on the main window itself.
    QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen() : this->screen();
    if (screen != nullptr) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}

bool TForm_About::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == Label_URL) {
            RunCommand(*Label_URL, [this] { Label_URLClick(); });
            return true;
        }
        if (watched == Label_MailTo) {
            RunCommand(*Label_MailTo, [this] { Label_MailToClick(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm_About::Localize(TLocaler& localer) {
    localer.LocalizeForm(*published_);
    localer.OpenPath("/messages");
    Label_Info->setText(Q(localer.FormatMessage("AboutInfo", {ProgramVersion()})));
}

void TForm_About::Label_URLClick() {
    OpenURL(Label_URL->text().toStdString());
}

void TForm_About::Label_MailToClick() {
    SendMail(Label_MailTo->text().toStdString(), "", "");
}

} // namespace ludex
