#include "core/text/CaseFold.h"

#include "core/text/Utf8.h"

#include <array>

namespace ludex {

namespace {

#include "core/text/CaseFoldTable.inc"

constexpr std::array<char, 256> MakeAsciiFold() {
    std::array<char, 256> table{};
    for (int b = 0; b < 256; ++b) {
        table[static_cast<size_t>(b)] = static_cast<char>(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
    }
    return table;
}

constexpr std::array<char, 256> kAsciiFold = MakeAsciiFold();

// The byte length of the UTF-8 form of a scalar value.
size_t Utf8Length(char32_t c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

} // namespace

char32_t FoldCase(char32_t c) {
    if (c >= kCaseFoldLimit) {
        return c;
    }
    const unsigned row = kCaseFoldStage1[c >> kCaseFoldBlockBits];
    const int delta = kCaseFoldStage2[row][c & ((1u << kCaseFoldBlockBits) - 1)];
    return static_cast<char32_t>(static_cast<int>(c) + delta);
}

bool FoldText(std::string_view text, std::string& folded, std::vector<size_t>& origins) {
    origins.clear();
    folded.clear();
    folded.reserve(text.size());
    bool sameLayout = true;
    size_t pos = 0;
    while (pos < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            folded.push_back(kAsciiFold[byte]);
            if (!sameLayout) {
                origins.push_back(pos);
            }
            ++pos;
            continue;
        }
        const size_t start = pos;
        char32_t c = 0;
        if (!DecodeUtf8(text, pos, c)) {
            folded.push_back(text[pos]); // not part of a character: kept as it is
            if (!sameLayout) {
                origins.push_back(pos);
            }
            ++pos;
            continue;
        }
        const char32_t f = FoldCase(c);
        const size_t before = folded.size();
        if (f == c) {
            folded.append(text.substr(start, pos - start));
        } else {
            AppendUtf8(folded, f);
        }
        if (sameLayout && Utf8Length(f) != pos - start) {
            // From here on positions differ: everything folded so far maps one to one.
            sameLayout = false;
            origins.reserve(text.size() + 1);
            for (size_t i = 0; i < before; ++i) {
                origins.push_back(i);
            }
        }
        if (!sameLayout) {
            if (folded.size() - before == pos - start) {
                for (size_t i = start; i < pos; ++i) {
                    origins.push_back(i);
                }
            } else {
                origins.insert(origins.end(), folded.size() - before, start);
            }
        }
    }
    if (!sameLayout) {
        origins.push_back(text.size());
    }
    return sameLayout;
}

} // namespace ludex
