#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ludex {

// A version record: the fixed file version as two 32-bit words, a list of (language, code page)
// translations, and named texts. A text is stored under "\StringFileInfo\" + the language and
// code page as four upper-case hexadecimal digits each + "\" + the key, for example
// "\StringFileInfo\041904E3\VersionComment".
struct TVersionRecord {
    uint32_t FileVersionMS = 0; // Major in the high 16 bits, Minor in the low 16 bits
    uint32_t FileVersionLS = 0; // Release in the high 16 bits, Build in the low 16 bits
    std::vector<std::pair<uint16_t, uint16_t>> Translations;
    std::map<std::string, std::string> Strings;
};

// The record compiled into this build: the project version (2.1.0.0), the single translation
// 0x0419 / 0x04E3, and no "VersionComment". Never null; lives as long as the process.
const TVersionRecord* ExecutableVersionRecord();

// The four numbers of the fixed part; all 0 when `record` is null (no version record).
void GetFileVersion(uint16_t& Major, uint16_t& Minor, uint16_t& Release, uint16_t& Build,
                    const TVersionRecord* record = ExecutableVersionRecord());

// The text named by the key index (0 "CompanyName", 1 "FileDescription", 2 "FileVersion",
// 3 "InternalName", 4 "LegalCopyright", 5 "LegalTrademarks", 6 "OriginalFilename",
// 7 "ProductName", 8 "ProductVersion", 9 "VersionComment") under the record's first
// translation. Empty when there is no record, no translation, no such text or the index is not
// one of 0 to 9.
std::string GetVersionInfoString(int keyIndex, const TVersionRecord* record = ExecutableVersionRecord());

// "Major.Minor.Release" (or "Major.Minor.Release.Build" when Build is not 0), a space, and the
// "VersionComment" text: "2.1.0 " for this build, "0.0.0 " without a record.
std::string GetFileVersionString(const TVersionRecord* record = ExecutableVersionRecord());

} // namespace ludex
