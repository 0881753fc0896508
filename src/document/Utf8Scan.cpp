#include "document/Utf8Scan.h"

#include "text/Utf8.h"

#include <cstdint>
#include <cstring>

namespace ludex {

bool IsValidUtf8Scan(std::string_view text, size_t* badOffset) {
    constexpr uint64_t kHighBits = 0x8080808080808080ull;
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        while (i + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, text.data() + i, sizeof word);
            if (word & kHighBits) {
                break;
            }
            i += 8;
        }
        while (i < n && static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
        }
        if (i == n) {
            break;
        }
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
    return true;
}

} // namespace ludex
