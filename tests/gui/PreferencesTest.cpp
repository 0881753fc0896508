// Settings > Preferences: every row applies at once, is written to the settings file and comes
// back at the next start; the dialog follows the language.
#include "GuiTestSupport.h"

#include "core/settings/LX_Localer.h"
#include "core/text/CodePage.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/EncryptionSettings.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ProgramWindows.h"
#include "gui/dialogs/CipherDialog.h"
#include "gui/dialogs/PreferencesDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace ludex::test {
namespace {

class PreferencesTest : public TProgramTest {
protected:
    void TearDown() override {
        SetNewEncryptionScheme(TCipherScheme::Strong);
        TProgramTest::TearDown();
    }

    // The values the dialog shows when it opens.
    struct TShown {
        int backups, recovery, scheme, autoLock;
        QString codePage;
        bool lockOnMinimize;
        bool operator==(const TShown&) const = default;
    };

    // Opens Preferences; `edit` changes the rows; returns what the rows showed on opening.
    TShown Open(const std::function<void(QDialog&)>& edit = {}) {
        TShown shown{};
        Questions().Dialogs.push_back([&](QDialog& dialog) {
            dialog.show(); // as exec would: the rows read the settings
            auto radios =
                dialog.findChild<QGroupBox*>("RadioGroup_CipherScheme")->findChildren<QRadioButton*>();
            shown = {dialog.findChild<QSpinBox*>("SpinBox_Backups")->value(),
                     dialog.findChild<QSpinBox*>("SpinBox_RecoveryInterval")->value(),
                     radios.at(1)->isChecked() ? 1 : 0,
                     dialog.findChild<QSpinBox*>("SpinBox_AutoLock")->value(),
                     dialog.findChild<QComboBox*>("ComboBox_CodePage")->currentText(),
                     dialog.findChild<QCheckBox*>("CheckBox_LockOnMinimize")->isChecked()};
            if (edit) {
                edit(dialog);
            }
            dialog.hide();
            return QDialog::Accepted;
        });
        Window().MI_Preferences->trigger();
        return shown;
    }
};

TEST_F(PreferencesTest, ChangesApplyAtOnceAndComeBackAtTheNextStart) {
    Start();
    EXPECT_EQ(Open(), (TShown{3, 30, 0, 10, "windows-1251", false}));
    Open([&](QDialog& dialog) {
        dialog.findChild<QSpinBox*>("SpinBox_Backups")->setValue(7);
        dialog.findChild<QSpinBox*>("SpinBox_RecoveryInterval")->setValue(45);
        dialog.findChild<QGroupBox*>("RadioGroup_CipherScheme")->findChildren<QRadioButton*>().at(1)->click();
        dialog.findChild<QComboBox*>("ComboBox_CodePage")->setCurrentText("KOI8-R");
        dialog.findChild<QSpinBox*>("SpinBox_AutoLock")->setValue(15);
        dialog.findChild<QCheckBox*>("CheckBox_LockOnMinimize")->click();
        // Applied while the dialog is still open.
        EXPECT_EQ(Window().BackupCount(), 7u);
        EXPECT_EQ(Window().Recovery()->Interval(), 45);
        EXPECT_EQ(NewEncryptionScheme(), TCipherScheme::Compatible);
        EXPECT_TRUE(Window().MI_CompatibleScheme->isChecked());
        EXPECT_EQ(CurrentCodePage().Name(), "KOI8-R");
        EXPECT_EQ(Windows().EncryptionSettings->AutoLockMinutes(), 15);
        EXPECT_TRUE(Windows().EncryptionSettings->LockOnMinimize());
        EXPECT_TRUE(Window().MI_LockOnMinimize->isChecked());
        auto* ask = dialog.findChild<QCheckBox*>("CheckBox_AskBeforeRemove");
        EXPECT_TRUE(ask->isChecked());
        ask->click();
        EXPECT_FALSE(Window().AskBeforeRemove());
        EXPECT_FALSE(Window().MI_AskBeforeRemove->isChecked());
    });
    ASSERT_TRUE(Close());
    const std::string settings = ReadFile(SettingsFile());
    for (const char* value :
         {"Backups=\"7\"", "RecoveryInterval=\"45\"", "CipherScheme=\"compatible\"", "CodePage=\"KOI8-R\"",
          "AutoLockMinutes=\"15\"", "LockOnMinimize=\"True\"", "AskBeforeRemove=\"False\""}) {
        EXPECT_NE(settings.find(value), std::string::npos) << value << "\n" << settings;
    }

    SetNewEncryptionScheme(TCipherScheme::Strong);
    SetCurrentCodePage("windows-1251");
    Start();
    EXPECT_EQ(Open(), (TShown{7, 45, 1, 15, "KOI8-R", true}));
    EXPECT_FALSE(Window().AskBeforeRemove());
}

TEST_F(PreferencesTest, ChangesMadeInTheMenuShowWhenTheDialogOpens) {
    Start();
    Window().MI_LockOnMinimize->trigger();
    Window().MI_CompatibleScheme->trigger();
    const TShown shown = Open();
    EXPECT_TRUE(shown.lockOnMinimize);
    EXPECT_EQ(shown.scheme, 1);
}

TEST_F(PreferencesTest, TheDialogSpeaksTheInterfaceLanguage) {
    Start();
    Window().MI_Russian->trigger();
    TForm_Preferences& dialog = *Windows().Preferences;
    EXPECT_EQ(dialog.windowTitle().toStdString(),
              "\xD0\x9F\xD0\xB0\xD1\x80\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x82\xD1\x80\xD1\x8B");
    EXPECT_EQ(dialog.Button_Close->text().toStdString(),
              "\xD0\x97\xD0\xB0\xD0\xBA\xD1\x80\xD1\x8B\xD1\x82\xD1\x8C");
    // Qt's own texts follow: its standard buttons are Russian too.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(),
              "\xD0\x9E\xD1\x82\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xB0");
    Window().MI_English->trigger();
    EXPECT_EQ(dialog.Button_Close->text(), "Close");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
}

} // namespace
} // namespace ludex::test
