#pragma once

#include "core/settings/Localer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

class TPropertyBailee;

// The interface languages.
enum TLanguage : uint8_t {
    langEnglish = 0,
    langRussian = 1,
};

// "langEnglish", "langRussian"; the empty text for a value outside the enumeration.
std::string LanguageName(TLanguage language);
// The language of that name (ASCII case ignored), or nothing.
std::optional<TLanguage> LanguageFromName(std::string_view name);

// langRussian for the language identifier 0x0419 (Russian as spoken in Russia), otherwise
// langEnglish; other Russian sub-languages count as English.
TLanguage DefaultLanguage(uint16_t languageIdentifier);
// The same for the system's locale (see text/SystemLocale.h).
TLanguage DefaultLanguage();

// The language a settings document asks for: the root's "Locale" value when it names a language,
// else DefaultLanguage(). A "Locale" that names no language is treated as absent. Leaves the
// store's cursor on the root.
TLanguage LanguageFromSettings(TPropertyBailee& settings);

// The program's localiser: its two languages and the rule that names their files.
class TLXLocaler : public TLocaler {
public:
    TLanguage Language = langEnglish;

    // Folder of the language files; empty means the current directory. Start-up sets it to the
    // executable's folder.
    std::string LanguageFolder;

    // "ENG" for langEnglish, "RUS" for langRussian, the empty text for any other value.
    std::string LanguageCode() const;

    // LanguageFolder joined with "Language." + LanguageCode() + ".xml".
    std::string LanguageFileName() const;

    // Loads the current language's file (every client localises itself), then puts the cursor on
    // "/messages".
    void LoadCurrentLanguage();
};

// The program-wide localiser, created on first use and alive until the process ends.
TLXLocaler& LanguageLocaler();

// Message `key` of the language file LanguageLocaler() has loaded, with its placeholders filled;
// `english` filled the same way when no file is loaded or the file lacks the key (the command
// line tool loads none). For messages of the core, which has no window to localise. Leaves the
// localiser's cursor where it is.
std::string LocalizedMessage(const std::string& key, const std::vector<std::string>& arguments,
                             const std::string& english);

} // namespace ludex
