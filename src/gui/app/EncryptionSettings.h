#pragma once

#include "core/settings/PropertyBailee.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class QTimer;

namespace ludex {

class TForm_Ludex;

// The encryption settings of the main window's Settings menu and the automatic Lock All.
//
// Menu: the code page of the compatible scheme (MI_CodePage, the settings value "CodePage"), the
// scheme of new encryptions (MI_CompatibleScheme, "CipherScheme": "strong" or "compatible"), the
// idle time after which everything is locked (MI_AutoLock, "AutoLockMinutes", default 10, 0 for
// never) and whether minimising the window locks everything (MI_LockOnMinimize, "LockOnMinimize").
//
// Lock All runs, as a command, after the idle time without keyboard or mouse input to the program,
// when the window is minimised (if so set) and when the desktop session locks (the freedesktop
// screen saver's ActiveChanged signal on the session bus; without a session bus this source is
// simply absent). No dialog puts it off: open modal dialogs are cancelled first (their callers
// then return, and the lock follows at once), as is an unlock still deriving its key; other long
// work is waited for and followed by the lock as soon as it ends.
class TEncryptionSettings : public QObject, public IPropertyBaileeClient {
    Q_OBJECT

public:
    static constexpr int kDefaultAutoLockMinutes = 10;

    // `lockAll` is the Lock All command. Registers with the settings store.
    TEncryptionSettings(TForm_Ludex& window, std::function<void()> lockAll);
    ~TEncryptionSettings() override;

    void LoadSettings(TPropertyBailee& bailee) override;
    void SaveSettings(TPropertyBailee& bailee) override;

    int AutoLockMinutes() const { return autoLockMinutes_; }
    // Sets the idle time (0: never; negative counts as 0) and checks its menu item, if any.
    void SetAutoLockMinutes(int minutes);
    // The idle time exactly; zero turns it off. For tests, which cannot wait minutes.
    void SetIdleInterval(std::chrono::milliseconds interval);
    bool LockOnMinimize() const { return lockOnMinimize_; }
    // The code pages this system knows of those offered, the current one always among them.
    std::vector<std::string> OfferedCodePages() const;
    // Makes the code page current (ECodePage for one the system does not know) and checks it in
    // the menu.
    void ChooseCodePage(const std::string& name);
    void SetLockOnMinimize(bool value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // The freedesktop screen saver's signal: true when the session has locked.
    void ScreenSaverActiveChanged(bool active);

private:
    // Runs Lock All as a command from `source`, once no modal dialog is open and no long work runs.
    void RequestLockAll(const QObject& source);
    void FillCodePageMenu();
    void ConnectScreenSaver();

    TForm_Ludex& window_;
    std::function<void()> lockAll_;
    QTimer* idleTimer_ = nullptr;
    QTimer* waitForModal_ = nullptr;
    int autoLockMinutes_ = kDefaultAutoLockMinutes;
    bool lockOnMinimize_ = false;
};

} // namespace ludex
