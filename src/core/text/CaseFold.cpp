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

// Writes the UTF-8 form of a scalar value of the given length.
void PutUtf8(char* out, char32_t c, size_t length) {
    if (length == 1) {
        out[0] = static_cast<char>(c);
        return;
    }
    static constexpr unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (size_t k = length - 1; k > 0; --k) {
        out[k] = static_cast<char>(0x80 | (c & 0x3F));
        c >>= 6;
    }
    out[0] = static_cast<char>(kLead[length] | c);
}

char32_t FoldCodePoint(char32_t c) {
    if (c >= kCaseFoldLimit) {
        return c;
    }
    const unsigned row = kCaseFoldStage1[c >> kCaseFoldBlockBits];
    const int delta = kCaseFoldStage2[row][c & ((1u << kCaseFoldBlockBits) - 1)];
    return static_cast<char32_t>(static_cast<int>(c) + delta);
}

// Folds a text in which every character keeps its length, as nearly every text does: writes in
// place and keeps no positions. False (with `folded` unspecified) at the first character whose
// folded form has another length.
bool FoldSameLayout(std::string_view text, std::string& folded) {
    folded.resize(text.size());
    char* out = folded.data();
    const size_t n = text.size();
    size_t pos = 0;
    while (pos < n) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            out[pos] = kAsciiFold[byte];
            ++pos;
            continue;
        }
        const size_t start = pos;
        char32_t c = 0;
        if (IsTwoByteSequence(text, pos)) {
            c = ((byte & 0x1Fu) << 6) | (static_cast<unsigned char>(text[pos + 1]) & 0x3Fu);
            pos += 2;
        } else if (!DecodeUtf8(text, pos, c)) {
            out[pos] = text[pos]; // not part of a character: kept as it is
            ++pos;
            continue;
        }
        const char32_t f = FoldCodePoint(c);
        if (Utf8Length(f) != pos - start) {
            return false;
        }
        PutUtf8(out + start, f, pos - start);
    }
    return true;
}

// Folds any text, keeping track of positions once a folded character has another length.
void FoldTracked(std::string_view text, std::string& folded, std::vector<size_t>& origins) {
    folded.clear();
    origins.clear();
    origins.reserve(text.size() + 1);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = pos;
        char32_t c = 0;
        if (!DecodeUtf8(text, pos, c)) {
            folded.push_back(text[pos]); // not part of a character: kept as it is
            origins.push_back(pos);
            ++pos;
            continue;
        }
        const char32_t f = FoldCodePoint(c);
        const size_t length = Utf8Length(f);
        AppendUtf8(folded, f);
        for (size_t k = 0; k < length; ++k) {
            // Bytes of a character that keeps its length stand for themselves.
            origins.push_back(length == pos - start ? start + k : start);
        }
    }
    origins.push_back(text.size());
}

} // namespace

char32_t FoldCase(char32_t c) {
    return FoldCodePoint(c);
}

bool FoldText(std::string_view text, std::string& folded, std::vector<size_t>& origins) {
    origins.clear();
    if (FoldSameLayout(text, folded)) {
        return true;
    }
    FoldTracked(text, folded, origins);
    return false;
}

} // namespace ludex
