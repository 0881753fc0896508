#include "core/text/Utf8.h"

#include <cstdint>
#include <cstdio>
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

// Whether the 8 bytes at p are all ASCII.
inline bool AsciiWord8(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return (word & 0x8080808080808080ull) == 0;
}

} // namespace

size_t Utf8LongSequenceLength(std::string_view text, size_t pos) {
    const auto* b = reinterpret_cast<const unsigned char*>(text.data()) + pos;
    const size_t available = text.size() - pos;
    auto continues = [b](size_t k) { return (b[k] & 0xC0) == 0x80; };
    auto within = [b](size_t k, unsigned low, unsigned high) { return b[k] >= low && b[k] <= high; };
    const unsigned lead = b[0];
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        const unsigned high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
        return available >= 3 && within(1, low, high) && continues(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;  // no overlong forms
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
        return available >= 4 && within(1, low, high) && continues(2) && continues(3) ? 4 : 0;
    }
    return 0; // a continuation byte, an overlong lead (0xC0, 0xC1) or a byte never used (0xF5 up)
}

bool IsValidUtf8(std::string_view text, size_t* badOffset) {
    const char* data = text.data();
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        while (i + 16 <= n && AsciiBlock16(data + i)) {
            i += 16;
        }
        if (i + 16 > n && i + 8 <= n && AsciiWord8(data + i)) {
            i += 8; // the tail of a text, or a short one
        }
        // What follows holds a byte from 0x80 up, or is the last few bytes: take it character by
        // character.
        const size_t end = i + 16 < n ? i + 16 : n;
        while (i < end) {
            if (static_cast<unsigned char>(data[i]) < 0x80) {
                ++i;
            } else if (IsTwoByteSequence(text, i)) {
                i += 2;
            } else if (const size_t length = Utf8LongSequenceLength(text, i); length != 0) {
                i += length;
            } else {
                if (badOffset) {
                    *badOffset = i;
                }
                return false;
            }
        }
    }
    return true;
}

bool DecodeUtf8(std::string_view text, size_t& pos, char32_t& codePoint) {
    if (pos >= text.size()) {
        return false;
    }
    const size_t length = Utf8SequenceLength(text, pos);
    if (length == 0) {
        return false;
    }
    // The bits the lead byte contributes, by the length of the sequence.
    static constexpr unsigned char kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t value = static_cast<unsigned char>(text[pos]) & kLeadBits[length];
    for (size_t k = 1; k < length; ++k) {
        value = (value << 6) | (static_cast<unsigned char>(text[pos + k]) & 0x3F);
    }
    codePoint = value;
    pos += length;
    return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void TUtf8Scanner::Advance(std::string_view text, TInput input) {
    if (failed_ || (from_ >= text.size() && input == TInput::Partial)) {
        return;
    }
    size_t bad = 0;
    if (IsValidUtf8(text.substr(from_), &bad)) {
        from_ = text.size();
        return;
    }
    const size_t at = from_ + bad;
    if (input == TInput::Partial && text.size() - at < 4) {
        from_ = at; // a character the next piece may complete
        return;
    }
    failed_ = true;
    badOffset_ = at;
}

std::string CodePointText(char32_t codePoint) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(codePoint));
    return text;
}

} // namespace ludex
