#include "gui/app/Preferences.h"

#include "core/base/FileIO.h"
#include "core/text/CodePage.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/EncryptionSettings.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/dialogs/CipherDialog.h"
#include "gui/dialogs/PreferencesDialog.h"

#include <QAction>

#include <algorithm>

namespace ludex {

namespace {
constexpr int kMostRecoverySeconds = 86400;
constexpr int kMostIdleMinutes = 24 * 60;
} // namespace

TPreferences::TPreferences(TForm_Ludex& window, TEncryptionSettings& encryption, TForm_Preferences& dialog)
    : window_(window), dialog_(dialog) {
    TForm_Ludex* w = &window;
    TEncryptionSettings* e = &encryption;
    dialog.AddNumber(
        "Backups", "Backups kept per document", 0, static_cast<int>(kMostBackups),
        [w] { return static_cast<int>(w->BackupCount()); },
        [w](int count) { w->SetBackupCount(static_cast<unsigned>(count)); });
    dialog.AddNumber(
        "RecoveryInterval", "Seconds between recovery copies (0: none)", 0, kMostRecoverySeconds,
        [w] { return w->Recovery() != nullptr ? w->Recovery()->Interval() : 0; },
        [w](int seconds) {
            if (w->Recovery() != nullptr) {
                w->Recovery()->SetInterval(seconds);
            }
        });
    dialog.AddOptions(
        "CipherScheme", "Encryption of new branches", {"Strong", "Compatible"},
        [] { return NewEncryptionScheme() == TCipherScheme::Compatible ? 1 : 0; },
        [w](int option) {
            SetNewEncryptionScheme(option == 1 ? TCipherScheme::Compatible : TCipherScheme::Strong);
            w->MI_CompatibleScheme->setChecked(option == 1);
        });
    const std::vector<std::string> codePages = encryption.OfferedCodePages();
    dialog.AddChoice(
        "CodePage", "Code page of the compatible encryption", codePages,
        [codePages] {
            const auto found = std::find(codePages.begin(), codePages.end(), CurrentCodePage().Name());
            return found == codePages.end() ? -1 : static_cast<int>(found - codePages.begin());
        },
        [e, codePages](int index) { e->ChooseCodePage(codePages.at(static_cast<std::size_t>(index))); });
    dialog.AddNumber(
        "AutoLock", "Lock all after idle minutes (0: never)", 0, kMostIdleMinutes,
        [e] { return e->AutoLockMinutes(); }, [e](int minutes) { e->SetAutoLockMinutes(minutes); });
    dialog.AddCheck(
        "LockOnMinimize", "Lock all when minimised", [e] { return e->LockOnMinimize(); },
        [e](bool on) { e->SetLockOnMinimize(on); });
    dialog.AddCheck(
        "AskBeforeRemove", "Ask before removing branches", [w] { return w->AskBeforeRemove(); },
        [w](bool on) {
            if (w->MI_AskBeforeRemove->isChecked() != on) {
                w->MI_AskBeforeRemove
                    ->trigger(); // the menu item's own path: checked, stored, settings written
            }
        });

    ConnectCommand(window.MI_Preferences, &QAction::triggered, this, [this] { MI_PreferencesClick(); });
}

void TPreferences::MI_PreferencesClick() {
    window_.CommitMemo();
    ModalQuestions().Exec(dialog_);
}

} // namespace ludex
