#include "core/text/WordCharacter.h"

#include "core/text/Utf8.h"

#include <unicode/uchar.h>

namespace ludex {

namespace {

constexpr uint32_t kWordCategories = U_GC_L_MASK | U_GC_ND_MASK | U_GC_M_MASK | U_GC_PC_MASK;

bool IsAsciiWordCharacter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

bool IsWordCharacter(char32_t codePoint) {
    if (codePoint < 0x80) {
        return IsAsciiWordCharacter(static_cast<unsigned char>(codePoint));
    }
    return (U_GET_GC_MASK(static_cast<UChar32>(codePoint)) & kWordCategories) != 0;
}

bool IsWordStart(std::string_view text, size_t pos) {
    if (pos == 0 || pos > text.size()) {
        return true;
    }
    // The character before: its lead byte is at most three continuation bytes back.
    size_t lead = pos - 1;
    while (lead > 0 && pos - lead < 4 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) {
        --lead;
    }
    size_t end = lead;
    char32_t c = 0;
    if (!DecodeUtf8(text, end, c) || end != pos) {
        return true;
    }
    return !IsWordCharacter(c);
}

bool IsWordEnd(std::string_view text, size_t pos) {
    if (pos >= text.size()) {
        return true;
    }
    char32_t c = 0;
    return !DecodeUtf8(text, pos, c) || !IsWordCharacter(c);
}

} // namespace ludex
