#include "core/text/SystemLocale.h"

#include <cstdlib>

namespace ludex {

uint16_t LanguageIdentifierFromLocaleName(std::string_view name) {
    // Strip ".codeset" and "@modifier".
    auto cut = name.find_first_of(".@");
    if (cut != std::string_view::npos) {
        name = name.substr(0, cut);
    }
    if (name == "ru" || name == "ru_RU") {
        return kLanguageIdRussian;
    }
    return kLanguageIdEnglishUS;
}

uint16_t SystemLanguageIdentifier() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return LanguageIdentifierFromLocaleName(value);
        }
    }
    return kLanguageIdEnglishUS;
}

} // namespace ludex
