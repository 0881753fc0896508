#pragma once

#include <cstdint>
#include <string_view>

namespace ludex {

constexpr uint16_t kLanguageIdRussian = 0x0419;
constexpr uint16_t kLanguageIdEnglishUS = 0x0409;

// The language identifier of a POSIX locale name such as "ru_RU.UTF-8": Russian as spoken in
// Russia (also the bare "ru") gives 0x0419; every other locale, other Russian territories
// included, gives 0x0409.
uint16_t LanguageIdentifierFromLocaleName(std::string_view localeName);

// The system's default language identifier, from the first non-empty of the environment
// variables LC_ALL, LC_MESSAGES and LANG.
uint16_t SystemLanguageIdentifier();

} // namespace ludex
