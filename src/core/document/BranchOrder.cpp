#include "core/document/BranchOrder.h"

#include "core/text/CaseFold.h"
#include "core/text/Utf8.h"

namespace ludex {

namespace {

// Keys above every code point for bytes that begin no well-formed character, in byte order.
constexpr char32_t kStrayByteKey = 0x110000;

// The key of a case-folded code point: ASCII letters count as A-Z, as they always have, so that
// titles of ASCII characters keep their order ('_' after the letters); every other folded code
// point is its own key. Equal keys mean equal characters regardless of case.
char32_t OrderKey(char32_t folded) {
    return (folded >= 'a' && folded <= 'z') ? folded - 'a' + 'A' : folded;
}

// The key of the character at text[pos], advancing pos past it.
char32_t NextKey(std::string_view text, size_t& pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {
        ++pos;
        return OrderKey(byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte);
    }
    char32_t c = 0;
    if (!DecodeUtf8(text, pos, c)) {
        ++pos;
        return kStrayByteKey + byte;
    }
    return OrderKey(FoldCase(c));
}

} // namespace

int CompareTitles(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = NextKey(a, i);
        const char32_t y = NextKey(b, j);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    if (aLeft == bLeft) {
        return 0;
    }
    return bLeft ? -1 : 1;
}

int CompareBranches(bool aHasChildren, std::string_view aTitle, bool bHasChildren, std::string_view bTitle) {
    if (aHasChildren != bHasChildren) {
        return aHasChildren ? -1 : 1;
    }
    return CompareTitles(aTitle, bTitle);
}

} // namespace ludex
