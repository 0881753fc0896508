#include "core/text/Utf8.h"

namespace ludex {

bool DecodeUtf8(std::string_view text, size_t& pos, char32_t& codePoint) {
    const size_t n = text.size();
    if (pos >= n) {
        return false;
    }
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        codePoint = b0;
        ++pos;
        return true;
    }
    size_t length;
    char32_t value;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        value = b0 & 0x0F;
        if (b0 == 0xE0) {
            low = 0xA0; // no overlong forms
        } else if (b0 == 0xED) {
            high = 0x9F; // no surrogates
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        value = b0 & 0x07;
        if (b0 == 0xF0) {
            low = 0x90;
        } else if (b0 == 0xF4) {
            high = 0x8F; // nothing above U+10FFFF
        }
    } else {
        return false;
    }
    if (pos + length > n) {
        return false;
    }
    for (size_t i = 1; i < length; ++i) {
        unsigned char b = byte(pos + i);
        unsigned char lo = i == 1 ? low : 0x80;
        unsigned char hi = i == 1 ? high : 0xBF;
        if (b < lo || b > hi) {
            return false;
        }
        value = (value << 6) | (b & 0x3F);
    }
    codePoint = value;
    pos += length;
    return true;
}

bool IsValidUtf8(std::string_view text, size_t* badOffset) {
    size_t pos = 0;
    const size_t n = text.size();
    while (pos < n) {
        // Runs of ASCII are by far the common case.
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        char32_t cp;
        if (!DecodeUtf8(text, pos, cp)) {
            if (badOffset) {
                *badOffset = pos;
            }
            return false;
        }
    }
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

} // namespace ludex
