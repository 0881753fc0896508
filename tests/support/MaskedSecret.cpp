#include "support/MaskedSecret.h"

#include "core/text/CodePage.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace ludex::testing {

std::vector<unsigned char> Masked(std::string_view plain) {
    std::vector<unsigned char> masked;
    for (const char c : plain) {
        masked.push_back(static_cast<unsigned char>(c) ^ kMask);
    }
    return masked;
}

TSecret Unmasked(const std::vector<unsigned char>& masked) {
    TSecret plain;
    for (const unsigned char m : masked) {
        const char c = static_cast<char>(m ^ kMask);
        plain.Append(std::string_view(&c, 1));
    }
    return plain;
}

std::vector<unsigned char> MaskedCodePageBytes(const std::vector<unsigned char>& masked) {
    const TSecret plain = Unmasked(masked);
    std::string bytes = CurrentCodePage().FromUtf8(plain.View());
    std::vector<unsigned char> result = Masked(bytes);
    WipeString(bytes);
    return result;
}

size_t CopiesInMemory(const std::vector<unsigned char>& masked) {
    std::ifstream maps("/proc/self/maps");
    const int mem = open("/proc/self/mem", O_RDONLY);
    EXPECT_GE(mem, 0);
    std::vector<unsigned char> chunk(1 << 20);
    size_t copies = 0;
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, permissions, offset, device, inode, path;
        fields >> range >> permissions >> offset >> device >> inode >> path;
        const size_t dash = range.find('-');
        const uint64_t begin = std::stoull(range.substr(0, dash), nullptr, 16);
        const uint64_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
        // The sanitizers' shadow memory spans terabytes and holds no text.
        if (permissions[0] != 'r' || path == "[vvar]" || path == "[vsyscall]" || end - begin > (1ull << 32)) {
            continue;
        }
        // Pieces overlap by the text's length less one, so that no copy is cut in two.
        for (uint64_t at = begin; at < end;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), end - at));
            const ssize_t got = pread(mem, chunk.data(), want, static_cast<off_t>(at));
            if (got <= 0) {
                break; // a guard page: nothing readable beyond it in this range
            }
            const size_t n = static_cast<size_t>(got);
            for (size_t i = 0; i + masked.size() <= n; ++i) {
                size_t j = 0;
                while (j < masked.size() && (chunk[i + j] ^ kMask) == masked[j]) {
                    ++j;
                }
                copies += j == masked.size();
            }
            if (at + n >= end || n < masked.size()) {
                break;
            }
            at += n - (masked.size() - 1);
        }
    }
    close(mem);
    return copies;
}

} // namespace ludex::testing
