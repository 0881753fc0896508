#pragma once

#include <functional>
#include <optional>
#include <string>

namespace ludex {

// Reads one environment variable; no value when it is not set.
using TEnvironment = std::function<std::optional<std::string>(const std::string& name)>;

// The process's environment.
TEnvironment ProcessEnvironment();

// Where the program's files are, worked out from the executable's path and the environment:
//
// - Read-only data (language files, stencil, help documents) lies beside the executable when the
//   stencil is there (a build folder, a portable copy), else in ../share/ludex relative to the
//   executable's folder (an installed program).
// - The settings file lies beside the executable in portable mode, that is when a settings file
//   or a file named "ludex.portable" is there already; else in $XDG_CONFIG_HOME/ludex.
// - Recovery snapshots go to $XDG_STATE_HOME/ludex/recovery.
//
// An XDG variable that is unset, empty or not an absolute path stands for its default,
// ~/.config and ~/.local/state. The file names keep the executable's name:
// /usr/bin/ludex has its stencil in /usr/share/ludex/ludex_Settings_Stencil.xml and its settings
// in ~/.config/ludex/ludex_Settings.xml.
class TFileLocations {
public:
    // Looks at the executable's folder once, now. Throws Exception when the settings or the
    // recovery snapshots belong in the home folder and neither HOME nor the user database names
    // one.
    TFileLocations(const std::string& executablePath, const TEnvironment& environment);

    bool Portable() const { return portable_; }
    const std::string& DataFolder() const { return dataFolder_; }
    const std::string& SettingsFolder() const { return settingsFolder_; }
    const std::string& RecoveryFolder() const { return recoveryFolder_; }

    std::string SettingsFile() const;
    std::string StencilFile() const;
    // The help document of a language, by its code ("ENG", "RUS").
    std::string HelpFile(const std::string& languageCode) const;

private:
    std::string executableName_;
    bool portable_ = false;
    std::string dataFolder_;
    std::string settingsFolder_;
    std::string recoveryFolder_;
};

// The name of the marker file that keeps a copy's settings beside its executable.
inline constexpr const char* kPortableMarker = "ludex.portable";

// Creates the folder and any missing folders above it, each readable, writable and searchable
// by its owner only; folders that exist already are left as they are. Throws EInOutError naming
// the folder that cannot be created, or a path that exists and is no folder.
void CreateFolderForOwner(const std::string& folder);

} // namespace ludex
