#include "gui/app/EncryptionSettings.h"

#include "core/document/BranchCipher.h"
#include "core/settings/LX_PropertyBailee.h"
#include "core/text/CodePage.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LongWork.h"
#include "gui/app/LudexUnit.h"
#include "gui/dialogs/CipherDialog.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDBusConnection>
#include <QDialog>
#include <QEvent>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <charconv>
#include <string>
#include <utility>

namespace ludex {

namespace {

// How soon a lock that had to close dialogs, or wait for work, tries again.
constexpr std::chrono::milliseconds kLockRetry{20};

// The code pages offered in the menu (those the system knows); the current one is always among them.
constexpr const char* kCodePages[] = {"windows-1250", "windows-1251", "windows-1252", "windows-1253",
                                      "windows-1254", "windows-1255", "windows-1256", "windows-1257",
                                      "windows-1258", "KOI8-R",       "KOI8-U",       "CP866",
                                      "ISO-8859-1",   "ISO-8859-2",   "ISO-8859-5",   "ISO-8859-15"};

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        return true;
    default:
        return false;
    }
}

} // namespace

TEncryptionSettings::TEncryptionSettings(TForm_Ludex& window, std::function<void()> lockAll)
    : window_(window), lockAll_(std::move(lockAll)) {
    idleTimer_ = new QTimer(this);
    idleTimer_->setObjectName("IdleLockTimer");
    idleTimer_->setSingleShot(true);
    ConnectCommand(idleTimer_, &QTimer::timeout, this, [this] { RequestLockAll(*idleTimer_); });
    waitForModal_ = new QTimer(this);
    waitForModal_->setSingleShot(true);
    waitForModal_->setInterval(kLockRetry);
    ConnectCommand(waitForModal_, &QTimer::timeout, this, [this] { RequestLockAll(*waitForModal_); });

    // A choice made in the menu is written to the settings file soon after, as every setting is,
    // so that a crash does not take it back.
    ConnectCommand(window.MI_CompatibleScheme, &QAction::triggered, this, [&window](bool checked) {
        SetNewEncryptionScheme(checked ? TCipherScheme::Compatible : TCipherScheme::Strong);
        window.SettingsChanged();
    });
    for (QAction* item : window.MI_AutoLock->actions()) {
        ConnectCommand(item, &QAction::triggered, this, [this, item, &window] {
            SetAutoLockMinutes(item->data().toInt());
            window.SettingsChanged();
        });
    }
    ConnectCommand(window.MI_LockOnMinimize, &QAction::triggered, this, [this, &window](bool checked) {
        SetLockOnMinimize(checked);
        window.SettingsChanged();
    });
    ConnectCommand(window.MI_Settings, &QMenu::aboutToShow, this, [this, &window] {
        window.MI_CompatibleScheme->setChecked(NewEncryptionScheme() == TCipherScheme::Compatible);
        FillCodePageMenu();
    });
    FillCodePageMenu();

    SetAutoLockMinutes(kDefaultAutoLockMinutes);
    SetLockOnMinimize(false);
    qApp->installEventFilter(this);
    ConnectScreenSaver();
    SettingsBailee().AddClient(*this);
}

TEncryptionSettings::~TEncryptionSettings() {
    SettingsBailee().RemoveClient(*this);
    qApp->removeEventFilter(this);
}

void TEncryptionSettings::LoadSettings(TPropertyBailee& bailee) {
    bailee.OpenPath("/");
    SetNewEncryptionScheme(
        CipherSchemeFromName(bailee.ReadValue("CipherScheme")).value_or(kDefaultCipherScheme));
    window_.MI_CompatibleScheme->setChecked(NewEncryptionScheme() == TCipherScheme::Compatible);
    const std::string minutesText = bailee.ReadValue("AutoLockMinutes");
    int minutes = kDefaultAutoLockMinutes;
    const auto [end, error] =
        std::from_chars(minutesText.data(), minutesText.data() + minutesText.size(), minutes);
    if (error != std::errc() || end != minutesText.data() + minutesText.size()) {
        minutes = kDefaultAutoLockMinutes; // absent or not a number
    }
    SetAutoLockMinutes(minutes);
    SetLockOnMinimize(bailee.ReadValue("LockOnMinimize") == "True");
}

void TEncryptionSettings::SaveSettings(TPropertyBailee& bailee) {
    if (RestartOnExit) {
        return; // Reset To Default: the next run starts from the defaults
    }
    bailee.OpenPath("/");
    bailee.WriteValue("CipherScheme", std::string(CipherSchemeName(NewEncryptionScheme())));
    bailee.WriteValue("AutoLockMinutes", std::to_string(autoLockMinutes_));
    bailee.WriteValue("LockOnMinimize", lockOnMinimize_ ? "True" : "False");
}

void TEncryptionSettings::SetAutoLockMinutes(int minutes) {
    autoLockMinutes_ = minutes < 0 ? 0 : minutes;
    for (QAction* item : window_.MI_AutoLock->actions()) {
        item->setChecked(item->data().toInt() == autoLockMinutes_);
    }
    SetIdleInterval(std::chrono::minutes(autoLockMinutes_));
}

void TEncryptionSettings::SetIdleInterval(std::chrono::milliseconds interval) {
    idleTimer_->stop();
    idleTimer_->setInterval(interval.count() > 0 ? interval : std::chrono::milliseconds(0));
    if (interval.count() > 0) {
        idleTimer_->start();
    }
}

void TEncryptionSettings::SetLockOnMinimize(bool value) {
    lockOnMinimize_ = value;
    window_.MI_LockOnMinimize->setChecked(value);
}

bool TEncryptionSettings::eventFilter(QObject* watched, QEvent* event) {
    if (IsUserInput(event->type())) {
        if (idleTimer_->interval() > 0) {
            idleTimer_->start(); // the idle time counts from the last input
        }
    } else if (event->type() == QEvent::WindowStateChange && watched == &window_ && lockOnMinimize_ &&
               window_.isMinimized()) {
        RequestLockAll(window_);
    }
    return QObject::eventFilter(watched, event);
}

void TEncryptionSettings::ScreenSaverActiveChanged(bool active) {
    if (active) {
        RequestLockAll(*this);
    }
}

namespace {

// Closes every modal dialog as its Cancel does: a password field is emptied, a question is
// answered as cancelled, nothing is saved. Returns whether any was open. The code that opened one
// goes on once the lock's caller returns to the event loop.
bool CancelModalDialogs() {
    bool any = false;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->isModal()) {
            any = true;
            if (auto* dialog = qobject_cast<QDialog*>(widget)) {
                dialog->reject();
            } else {
                widget->close();
            }
        }
    }
    return any;
}

} // namespace

void TEncryptionSettings::RequestLockAll(const QObject& source) {
    // No dialog puts the lock off: open ones are cancelled, an unlock that is still deriving its
    // key is given up (the branch stays locked), and other long work, which must finish, is
    // followed by the lock as soon as it ends. The lock runs once the dialogs' callers have
    // returned to the event loop.
    if (CancelModalDialogs() || LongWorkRunning()) {
        if (TLongWork* work = TLongWork::Running();
            work != nullptr && work->MessageKey() == "WorkUnlocking") {
            work->Cancel();
        }
        waitForModal_->start();
        return;
    }
    waitForModal_->stop();
    RunCommand(source, lockAll_);
}

std::vector<std::string> TEncryptionSettings::OfferedCodePages() const {
    std::vector<std::string> names;
    const std::string current = CurrentCodePage().Name();
    for (const char* name : kCodePages) {
        try {
            TCodePage::Get(name);
        } catch (const ECodePage&) {
            continue; // this system does not know it
        }
        names.emplace_back(name);
    }
    if (std::find(names.begin(), names.end(), current) == names.end()) {
        names.push_back(current);
    }
    return names;
}

void TEncryptionSettings::ChooseCodePage(const std::string& name) {
    SetCurrentCodePage(name);
    FillCodePageMenu();
}

void TEncryptionSettings::FillCodePageMenu() {
    QMenu& menu = *window_.MI_CodePage;
    const std::string current = CurrentCodePage().Name();
    const std::vector<std::string> offered = OfferedCodePages();
    // The menu is made once, and again when the current page is one it does not offer yet.
    if (menu.actions().size() != static_cast<qsizetype>(offered.size())) {
        for (QAction* item : menu.actions()) {
            menu.removeAction(item);
            item->deleteLater();
        }
        for (QActionGroup* old : menu.findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly)) {
            old->deleteLater();
        }
        auto* group = new QActionGroup(&menu);
        for (const std::string& name : offered) {
            auto* item = new QAction(QString::fromStdString(name), &menu);
            item->setCheckable(true);
            item->setData(QString::fromStdString(name));
            group->addAction(item);
            menu.addAction(item);
            ConnectCommand(item, &QAction::triggered, this, [this, item] {
                ChooseCodePage(item->data().toString().toStdString());
                window_.SettingsChanged();
            });
        }
    }
    for (QAction* item : menu.actions()) {
        item->setChecked(item->data().toString().toStdString() == current);
    }
}

void TEncryptionSettings::ConnectScreenSaver() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return; // no session bus: idle time and minimising still lock
    }
    // The handler runs Lock All through RunCommand (RequestLockAll).
    bus.connect(QString(), "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged",
                this, SLOT(ScreenSaverActiveChanged(bool)));
}

} // namespace ludex
