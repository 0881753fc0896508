#pragma once

#include <QObject>

namespace ludex {

class TEncryptionSettings;
class TForm_Ludex;
class TForm_Preferences;

// Settings > Preferences (MI_Preferences): the dialog's rows bound to the program's settings:
// backups kept per save, the recovery interval, the scheme of new encryptions, the code page of the
// compatible scheme, the idle time before everything locks and locking on minimise. A change is
// applied at once and the settings file is written soon after.
class TPreferences : public QObject {
    Q_OBJECT

public:
    TPreferences(TForm_Ludex& window, TEncryptionSettings& encryption, TForm_Preferences& dialog);

    void MI_PreferencesClick();

private:
    TForm_Ludex& window_;
    TForm_Preferences& dialog_;
};

} // namespace ludex
