#include "support/MaskedSecret.h"

#include "core/text/CodePage.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
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

std::vector<size_t> CopiesInMemory(const std::vector<std::vector<unsigned char>>& patterns) {
    std::vector<size_t> copies(patterns.size(), 0);
    size_t longest = 1;
    for (const auto& masked : patterns) {
        EXPECT_FALSE(masked.empty());
        longest = std::max(longest, masked.size());
    }
    std::ifstream maps("/proc/self/maps");
    const int mem = open("/proc/self/mem", O_RDONLY);
    EXPECT_GE(mem, 0);
    std::vector<unsigned char> chunk(1 << 20);
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
        // Pieces overlap by the longest text's length less one, so that no copy is cut in two and
        // none is counted twice.
        for (uint64_t at = begin; at < end;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), end - at));
            const ssize_t got = pread(mem, chunk.data(), want, static_cast<off_t>(at));
            if (got <= 0) {
                break; // a guard page: nothing readable beyond it in this range
            }
            const size_t n = static_cast<size_t>(got);
            const bool last = at + n >= end || n < longest;
            // Copies that start in the overlap are counted with the next piece.
            const size_t starts = last ? n : n - (longest - 1);
            for (size_t p = 0; p < patterns.size(); ++p) {
                const std::vector<unsigned char>& masked = patterns[p];
                // Candidates by their first byte (a single byte of the text is no copy of it).
                const unsigned char first = masked[0] ^ kMask;
                const unsigned char* from = chunk.data();
                const unsigned char* stop = chunk.data() + starts;
                while (from < stop) {
                    const auto* hit =
                        static_cast<const unsigned char*>(std::memchr(from, first, stop - from));
                    if (hit == nullptr) {
                        break;
                    }
                    const size_t i = static_cast<size_t>(hit - chunk.data());
                    if (i + masked.size() <= n) {
                        size_t j = 1;
                        while (j < masked.size() && (chunk[i + j] ^ kMask) == masked[j]) {
                            ++j;
                        }
                        copies[p] += j == masked.size();
                    }
                    from = hit + 1;
                }
            }
            if (last) {
                break;
            }
            at += n - (longest - 1);
        }
    }
    close(mem);
    return copies;
}

size_t CopiesInMemory(const std::vector<unsigned char>& masked) {
    return CopiesInMemory(std::vector<std::vector<unsigned char>>{masked}).front();
}

} // namespace ludex::testing
