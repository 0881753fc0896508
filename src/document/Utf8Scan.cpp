#include "document/Utf8Scan.h"

#include "text/Utf8.h"

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

} // namespace ludex
