#pragma once

#include "core/settings/PropertyBailee.h"

#include <string>

namespace ludex {

// The program-wide settings store, created on first use and alive until the process ends.
TPropertyBailee& SettingsBailee();

// The path with the extension of its file name (the last "." of the last path component and
// what follows it) replaced by `suffix`; a file name without an extension gets the suffix
// appended: "/opt/ludex/ludex" -> "/opt/ludex/ludex_Settings.xml".
std::string ReplaceExtension(const std::string& path, const std::string& suffix);

// The settings and stencil files beside the executable.
std::string SettingsFileNameFor(const std::string& executablePath);
std::string StencilFileNameFor(const std::string& executablePath);

// The full path of the running executable (from /proc/self/exe). Throws EInOutError when it
// cannot be read.
std::string ExecutablePath();

} // namespace ludex
