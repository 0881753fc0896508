#include "core/search/TextMatch.h"

#include <algorithm>

namespace ludex {

namespace {

char FoldAsciiCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SeparatesPhrases(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

size_t MatchText(std::string_view text, size_t start, std::string_view pattern, TMatchOptions options) {
    if (pattern.empty()) {
        return 0;
    }
    const size_t from = start < 1 ? 0 : start - 1;
    if (from >= text.size() || text.size() - from < pattern.size()) {
        return 0;
    }
    size_t index = std::string_view::npos;
    if (options.matchCase) {
        index = text.find(pattern, from);
    } else {
        const auto found =
            std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), pattern.begin(),
                        pattern.end(), [](char a, char b) { return FoldAsciiCase(a) == FoldAsciiCase(b); });
        if (found != text.end()) {
            index = static_cast<size_t>(found - text.begin());
        }
    }
    if (index == std::string_view::npos) {
        return 0;
    }
    if (options.wholePhrase) {
        const size_t end = index + pattern.size();
        if ((index > 0 && !SeparatesPhrases(text[index - 1])) ||
            (end < text.size() && !SeparatesPhrases(text[end]))) {
            return 0;
        }
    }
    return index + 1;
}

size_t CountLineFeeds(std::string_view text, size_t n) {
    const std::string_view head = text.substr(0, std::min(n, text.size()));
    return static_cast<size_t>(std::count(head.begin(), head.end(), '\n'));
}

size_t CharacterPosition(std::string_view text, size_t bytePosition) {
    if (bytePosition == 0) {
        return 0;
    }
    const std::string_view before = text.substr(0, std::min(bytePosition - 1, text.size()));
    return 1 + static_cast<size_t>(std::count_if(before.begin(), before.end(),
                                                 [](char c) { return !IsContinuationByte(c); }));
}

size_t Utf16Length(std::string_view text, size_t n) {
    const std::string_view head = text.substr(0, std::min(n, text.size()));
    size_t units = 0;
    for (char c : head) {
        const auto byte = static_cast<unsigned char>(c);
        if (!IsContinuationByte(c)) {
            units += byte >= 0xF0 ? 2 : 1; // a four-byte sequence is a surrogate pair
        }
    }
    return units;
}

} // namespace ludex
