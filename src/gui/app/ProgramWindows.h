#pragma once

#include "core/base/NonCopyable.h"

#include <memory>
#include <string>
#include <vector>

namespace ludex {

class TBranchCommands;
class TEncryptionCommands;
class TEncryptionSettings;
class TExportCommands;
class TForm_About;
class TForm_CipherDialog;
class TForm_Find;
class TForm_Ludex;
class TForm_PasswordDialog;
class TForm_Preferences;
class TPreferences;
class TMemoCalculator;
class TPublishedObject;
class TRecentFilesMenu;
class TViewCommands;

// The program's windows and the command groups of the main window, created once in their fixed
// order (the main window first) and destroyed together. The program and the GUI tests both build
// the program through this, so they run the same windows.
class TProgramWindows : private TNonCopyable {
public:
    TProgramWindows();
    ~TProgramWindows();

    // Runs the main window's start-up with every localised window. Throws EStartUp for a broken
    // installation.
    void StartUp(const std::string& executablePath, const std::string& commandLineFile);

    // The windows that follow the language, in creation order.
    std::vector<TPublishedObject*> LocalizedForms() const;

    std::unique_ptr<TForm_Ludex> Main;
    std::unique_ptr<TForm_CipherDialog> CipherDialog;
    std::unique_ptr<TForm_PasswordDialog> PasswordDialog;
    std::unique_ptr<TForm_About> About;
    std::unique_ptr<TForm_Find> Find;
    std::unique_ptr<TForm_Preferences> Preferences;
    std::unique_ptr<TViewCommands> ViewCommands;
    std::unique_ptr<TMemoCalculator> MemoCalculator;
    std::unique_ptr<TBranchCommands> BranchCommands;
    std::unique_ptr<TEncryptionCommands> EncryptionCommands;
    std::unique_ptr<TEncryptionSettings> EncryptionSettings;
    std::unique_ptr<TExportCommands> ExportCommands;
    std::unique_ptr<TRecentFilesMenu> RecentFiles;
    std::unique_ptr<TPreferences> PreferencesCommands;
};

} // namespace ludex
