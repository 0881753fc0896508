#include "core/settings/ExeFileVersion.h"

#include "core/settings/BuildVersion.h"

#include <array>
#include <cstdio>

namespace ludex {

namespace {

constexpr std::array<const char*, 10> kVersionKeys = {
    "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTrademarks", "OriginalFilename", "ProductName", "ProductVersion", "VersionComment",
};

std::string Hex4(uint16_t value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", static_cast<unsigned>(value));
    return buffer;
}

TVersionRecord MakeExecutableRecord() {
    TVersionRecord record;
    record.FileVersionMS = (uint32_t{build::kVersionMajor} << 16) | build::kVersionMinor;
    record.FileVersionLS = (uint32_t{build::kVersionRelease} << 16) | build::kVersionBuild;
    record.Translations = {{0x0419, 0x04E3}};
    const std::string prefix = "\\StringFileInfo\\041904E3\\";
    const std::string version =
        std::to_string(build::kVersionMajor) + "." + std::to_string(build::kVersionMinor) + "." +
        std::to_string(build::kVersionRelease) + "." + std::to_string(build::kVersionBuild);
    record.Strings[prefix + "FileDescription"] = "Ludex notebook";
    record.Strings[prefix + "FileVersion"] = version;
    record.Strings[prefix + "InternalName"] = "ludex";
    record.Strings[prefix + "OriginalFilename"] = "ludex";
    record.Strings[prefix + "ProductName"] = "Ludex";
    record.Strings[prefix + "ProductVersion"] = version;
    return record;
}

} // namespace

const TVersionRecord* ExecutableVersionRecord() {
    static const TVersionRecord record = MakeExecutableRecord();
    return &record;
}

void GetFileVersion(uint16_t& Major, uint16_t& Minor, uint16_t& Release, uint16_t& Build,
                    const TVersionRecord* record) {
    Major = Minor = Release = Build = 0;
    if (record == nullptr) {
        return;
    }
    Major = static_cast<uint16_t>(record->FileVersionMS >> 16);
    Minor = static_cast<uint16_t>(record->FileVersionMS & 0xFFFFu);
    Release = static_cast<uint16_t>(record->FileVersionLS >> 16);
    Build = static_cast<uint16_t>(record->FileVersionLS & 0xFFFFu);
}

std::string GetVersionInfoString(int keyIndex, const TVersionRecord* record) {
    if (record == nullptr || record->Translations.empty() || keyIndex < 0 ||
        keyIndex >= static_cast<int>(kVersionKeys.size())) {
        return {};
    }
    const auto& [language, codePage] = record->Translations.front();
    const std::string key = "\\StringFileInfo\\" + Hex4(language) + Hex4(codePage) + "\\" +
                            kVersionKeys[static_cast<size_t>(keyIndex)];
    const auto found = record->Strings.find(key);
    return found == record->Strings.end() ? std::string() : found->second;
}

std::string GetFileVersionString(const TVersionRecord* record) {
    uint16_t major = 0, minor = 0, release = 0, build = 0;
    GetFileVersion(major, minor, release, build, record);
    char buffer[32];
    if (build != 0) {
        std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", major, minor, release, build);
    } else {
        std::snprintf(buffer, sizeof buffer, "%d.%d.%d", major, minor, release);
    }
    return std::string(buffer) + " " + GetVersionInfoString(9, record);
}

} // namespace ludex
