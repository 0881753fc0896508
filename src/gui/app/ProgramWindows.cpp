#include "gui/app/ProgramWindows.h"

#include "gui/app/BranchCommands.h"
#include "gui/app/EncryptionCommands.h"
#include "gui/app/EncryptionSettings.h"
#include "gui/app/ExportCommands.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/MemoCalculator.h"
#include "gui/app/Preferences.h"
#include "gui/app/RecentFilesMenu.h"
#include "gui/app/ViewCommands.h"
#include "gui/dialogs/CipherDialog.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/dialogs/LX_About.h"
#include "gui/dialogs/PasswordDialog.h"
#include "gui/dialogs/PreferencesDialog.h"

namespace ludex {

TProgramWindows::TProgramWindows() {
    Main = std::make_unique<TForm_Ludex>();
    CipherDialog = std::make_unique<TForm_CipherDialog>(Main.get());
    PasswordDialog = std::make_unique<TForm_PasswordDialog>(Main.get());
    About = std::make_unique<TForm_About>(Main.get());
    Main->SetAboutBox(About.get());
    Find = std::make_unique<TForm_Find>(Main.get());
    Preferences =
        std::make_unique<TForm_Preferences>(Main.get(), [main = Main.get()] { main->SettingsChanged(); });
    ViewCommands = std::make_unique<TViewCommands>(*Main, *Find);
    MemoCalculator = std::make_unique<TMemoCalculator>(*Main);
    BranchCommands = std::make_unique<TBranchCommands>(*Main);
    EncryptionCommands = std::make_unique<TEncryptionCommands>(*Main, *CipherDialog, *PasswordDialog);
    EncryptionSettings = std::make_unique<TEncryptionSettings>(
        *Main, [commands = EncryptionCommands.get()] { commands->MI_LockAllClick(); });
    ExportCommands = std::make_unique<TExportCommands>(*Main);
    RecentFiles = std::make_unique<TRecentFilesMenu>(*Main);
    PreferencesCommands = std::make_unique<TPreferences>(*Main, *EncryptionSettings, *Preferences);
}

TProgramWindows::~TProgramWindows() {
    // Dialogs and command groups go first; the main window, which owns the documents, last.
    PreferencesCommands.reset();
    RecentFiles.reset();
    ExportCommands.reset();
    EncryptionSettings.reset();
    EncryptionCommands.reset();
    BranchCommands.reset();
    MemoCalculator.reset();
    ViewCommands.reset();
    Preferences.reset();
    Find.reset();
    Main->SetAboutBox(nullptr);
    About.reset();
    PasswordDialog.reset();
    CipherDialog.reset();
    Main.reset();
}

std::vector<TPublishedObject*> TProgramWindows::LocalizedForms() const {
    return {&Main->Published(), &CipherDialog->Published(), &About->Published(), &Find->Published(),
            &Preferences->Published()};
}

void TProgramWindows::StartUp(const std::string& executablePath, const std::string& commandLineFile) {
    ViewCommands->SetExecutablePath(executablePath);
    Main->StartUp(executablePath, commandLineFile, LocalizedForms());
}

} // namespace ludex
