#include "core/settings/LX_PropertyBailee.h"

#include "core/base/Exception.h"

#include <filesystem>
#include <system_error>

namespace ludex {

TPropertyBailee& SettingsBailee() {
    static TPropertyBailee bailee;
    return bailee;
}

std::string ReplaceExtension(const std::string& path, const std::string& suffix) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) {
        return path + suffix;
    }
    return path.substr(0, dot) + suffix;
}

std::string SettingsFileNameFor(const std::string& executablePath) {
    return ReplaceExtension(executablePath, "_Settings.xml");
}

std::string StencilFileNameFor(const std::string& executablePath) {
    return ReplaceExtension(executablePath, "_Settings_Stencil.xml");
}

std::string ExecutablePath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw EInOutError("Can not find the executable's path: " + error.message());
    }
    return path.string();
}

} // namespace ludex
