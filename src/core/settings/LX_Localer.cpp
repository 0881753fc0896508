#include "core/settings/LX_Localer.h"

#include "core/settings/PropertyBailee.h"
#include "core/text/SystemLocale.h"

namespace ludex {

std::string LanguageName(TLanguage language) {
    switch (language) {
    case langEnglish:
        return "langEnglish";
    case langRussian:
        return "langRussian";
    }
    return {};
}

std::optional<TLanguage> LanguageFromName(std::string_view name) {
    for (TLanguage language : {langEnglish, langRussian}) {
        if (SameTextAscii(LanguageName(language), name)) {
            return language;
        }
    }
    return std::nullopt;
}

TLanguage DefaultLanguage(uint16_t languageIdentifier) {
    return languageIdentifier == kLanguageIdRussian ? langRussian : langEnglish;
}

TLanguage DefaultLanguage() {
    return DefaultLanguage(SystemLanguageIdentifier());
}

TLanguage LanguageFromSettings(TPropertyBailee& settings) {
    settings.OpenPath("/");
    if (settings.HasValue("Locale")) {
        if (const auto language = LanguageFromName(settings.ReadValue("Locale"))) {
            return *language;
        }
    }
    return DefaultLanguage();
}

std::string TLXLocaler::LanguageCode() const {
    switch (Language) {
    case langEnglish:
        return "ENG";
    case langRussian:
        return "RUS";
    }
    return {};
}

std::string TLXLocaler::LanguageFileName() const {
    std::string name = "Language." + LanguageCode() + ".xml";
    if (LanguageFolder.empty()) {
        return name;
    }
    if (LanguageFolder.back() == '/') {
        return LanguageFolder + name;
    }
    return LanguageFolder + "/" + name;
}

void TLXLocaler::LoadCurrentLanguage() {
    LoadLanguage(LanguageFileName());
    OpenPath("/messages");
}

TLXLocaler& LanguageLocaler() {
    static TLXLocaler localer;
    return localer;
}

std::string LocalizedMessage(const std::string& key, const std::vector<std::string>& arguments,
                             const std::string& english) {
    if (const IXMLNodePtr& root = LanguageLocaler().Bailee().Root()) {
        const IXMLNodePtr messages = root->GetChildNodes()->FindNode("messages");
        if (messages && messages->HasAttribute(key)) {
            return FormatPlaceholders(messages->GetAttribute(key), arguments);
        }
    }
    return FormatPlaceholders(english, arguments);
}

} // namespace ludex
