#include "core/settings/FileLocations.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/settings/LX_PropertyBailee.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ludex {

namespace {

namespace fs = std::filesystem;

const char* const kFolderName = "ludex";

std::string Join(const std::string& folder, const std::string& name) {
    return (fs::path(folder) / name).lexically_normal().string();
}

// An XDG base folder from its variable, when that names an absolute path.
std::optional<std::string> AbsoluteValue(const TEnvironment& environment, const std::string& name) {
    std::optional<std::string> value = environment(name);
    if (!value || value->empty() || (*value)[0] != '/') {
        return std::nullopt;
    }
    return value;
}

std::string HomeFolder(const TEnvironment& environment) {
    if (auto home = AbsoluteValue(environment, "HOME")) {
        return *home;
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    throw Exception("Ludex cannot find the home folder: HOME is not set and the user database names none");
}

std::string XdgFolder(const TEnvironment& environment, const std::string& variable, const char* fallback) {
    if (auto value = AbsoluteValue(environment, variable)) {
        return *value;
    }
    return Join(HomeFolder(environment), fallback);
}

} // namespace

TEnvironment ProcessEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str())) {
            return std::string(value);
        }
        return std::nullopt;
    };
}

TFileLocations::TFileLocations(const std::string& executablePath, const TEnvironment& environment) {
    const fs::path executable(executablePath);
    const std::string folder = executable.parent_path().lexically_normal().string();
    executableName_ = executable.filename().string();

    dataFolder_ = FileExists(Join(folder, ReplaceExtension(executableName_, "_Settings_Stencil.xml")))
                      ? folder
                      : Join(folder, "../share/ludex");

    portable_ = FileExists(Join(folder, kPortableMarker)) ||
                FileExists(Join(folder, ReplaceExtension(executableName_, "_Settings.xml")));
    settingsFolder_ =
        portable_ ? folder : Join(XdgFolder(environment, "XDG_CONFIG_HOME", ".config"), kFolderName);
    recoveryFolder_ =
        Join(Join(XdgFolder(environment, "XDG_STATE_HOME", ".local/state"), kFolderName), "recovery");
}

std::string TFileLocations::SettingsFile() const {
    return Join(settingsFolder_, ReplaceExtension(executableName_, "_Settings.xml"));
}

std::string TFileLocations::StencilFile() const {
    return Join(dataFolder_, ReplaceExtension(executableName_, "_Settings_Stencil.xml"));
}

std::string TFileLocations::HelpFile(const std::string& languageCode) const {
    return Join(dataFolder_, ReplaceExtension(executableName_, "_" + languageCode + ".help"));
}

void CreateFolderForOwner(const std::string& folder) {
    if (folder.empty()) {
        throw EInOutError("Cannot create a folder without a name");
    }
    // Walks down from the top, so each missing folder is made by us with our mode; a folder that
    // appears meanwhile (another instance) is as good as one we made.
    fs::path reached;
    for (const fs::path& part : fs::path(folder).lexically_normal()) {
        reached /= part;
        if (part.empty() || part == "/") {
            continue;
        }
        const std::string path = reached.string();
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                throw EInOutError("Cannot create the folder \"" + path + "\": " + std::strerror(ENOTDIR));
            }
            continue;
        }
        if (::mkdir(path.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
            throw EInOutError("Cannot create the folder \"" + path + "\": " + std::strerror(errno));
        }
    }
}

} // namespace ludex
