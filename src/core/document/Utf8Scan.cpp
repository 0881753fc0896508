#include "core/document/Utf8Scan.h"

#include "core/text/Utf8.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ludex {

namespace {

// Whether the 16 bytes at p are all ASCII.
inline bool AsciiBlock16(const char* p) {
#if defined(__SSE2__)
    return _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0;
#else
    uint64_t a, b;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    return ((a | b) & 0x8080808080808080ull) == 0;
#endif
}

} // namespace

bool IsValidUtf8Scan(std::string_view text, size_t* badOffset) {
    const char* data = text.data();
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        while (i + 16 <= n && AsciiBlock16(data + i)) {
            i += 16;
        }
        // The next block holds a byte from 0x80 up: take it character by character.
        const size_t end = i + 16 < n ? i + 16 : n;
        while (i < end) {
            auto b = static_cast<unsigned char>(data[i]);
            if (b < 0x80) {
                ++i;
            } else if (b >= 0xC2 && b <= 0xDF && i + 1 < n &&
                       (static_cast<unsigned char>(data[i + 1]) & 0xC0) == 0x80) {
                i += 2; // the common two-byte sequence
            } else {
                size_t pos = i;
                char32_t codePoint;
                if (!DecodeUtf8(text, pos, codePoint)) {
                    if (badOffset) {
                        *badOffset = i;
                    }
                    return false;
                }
                i = pos;
            }
        }
    }
    return true;
}

namespace {

// Scans the character references that begin at or after `from` and sets `suspect` at the first
// one to a surrogate or beyond U+10FFFF. Returns where a later call must begin: the end of the
// text, or (unless `final`) a reference or '&' whose digits may go on in bytes still to come.
size_t ScanReferences(std::string_view text, size_t from, bool final, bool& suspect) {
    for (size_t at = text.find('&', from); at != std::string_view::npos; at = text.find('&', at + 1)) {
        if (at + 1 >= text.size()) {
            return final ? text.size() : at;
        }
        if (text[at + 1] != '#') {
            continue;
        }
        size_t pos = at + 2;
        const bool hex = pos < text.size() && text[pos] == 'x';
        pos += hex ? 1 : 0;
        uint64_t value = 0;
        size_t digits = 0;
        for (; pos < text.size(); ++pos, ++digits) {
            const char c = text[pos];
            const int d = c >= '0' && c <= '9'          ? c - '0'
                          : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                        : -1;
            if (d < 0) {
                break;
            }
            value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        }
        if (pos == text.size() && !final) {
            return at;
        }
        if (digits > 0 && (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))) {
            suspect = true;
            return text.size();
        }
    }
    return text.size();
}

} // namespace

bool HasSuspectReference(std::string_view text) {
    bool suspect = false;
    ScanReferences(text, 0, true, suspect);
    return suspect;
}

void TIncrementalTextCheck::Advance(std::string_view text, bool final) {
    if (!utf8Failed_ && (utf8From_ < text.size() || final)) {
        size_t bad = 0;
        if (IsValidUtf8Scan(text.substr(utf8From_), &bad)) {
            utf8From_ = text.size();
        } else if (const size_t at = utf8From_ + bad; !final && text.size() - at < 4) {
            utf8From_ = at; // a character the next piece may complete
        } else {
            utf8Failed_ = true;
            badOffset_ = at;
        }
    }
    if (!suspectReference_ && (referencesFrom_ < text.size() || final)) {
        referencesFrom_ = ScanReferences(text, referencesFrom_, final, suspectReference_);
    }
    markup_.Advance(text, final);
}

} // namespace ludex
