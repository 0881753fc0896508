#include "core/document/MarkupScan.h"

#include <array>

namespace ludex {

namespace {

// A construct longer than this that is still incomplete at the end of a piece ends the scan
// (unsure), so that a huge comment or tag is not scanned again with every piece.
constexpr size_t kLongestConstruct = 1 << 20;
// More attribute names than this in one tag end the scan, so that comparing them stays cheap.
constexpr size_t kMostAttributes = 32;

enum class TConstruct { Clean, Unsure, Incomplete };

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) {
            return false;
        }
    }
    return true;
}

// Finds `terminator` from `from` and sets `end` past it; Incomplete when it is not there yet.
TConstruct SkipTo(std::string_view text, size_t from, std::string_view terminator, size_t& end) {
    const size_t at = text.find(terminator, from);
    if (at == std::string_view::npos) {
        return TConstruct::Incomplete;
    }
    end = at + terminator.size();
    return TConstruct::Clean;
}

// The start tag at `lt`: its attribute names must all differ.
TConstruct ScanStartTag(std::string_view text, size_t lt, size_t& end) {
    const size_t n = text.size();
    size_t p = lt + 1;
    while (p < n && !IsXmlSpace(text[p]) && text[p] != '/' && text[p] != '>') {
        ++p;
    }
    std::array<std::string_view, kMostAttributes> names;
    size_t count = 0;
    for (;;) {
        while (p < n && IsXmlSpace(text[p])) {
            ++p;
        }
        if (p >= n) {
            return TConstruct::Incomplete;
        }
        if (text[p] == '>') {
            end = p + 1;
            return TConstruct::Clean;
        }
        if (text[p] == '/') {
            if (p + 1 >= n) {
                return TConstruct::Incomplete;
            }
            if (text[p + 1] != '>') {
                return TConstruct::Unsure;
            }
            end = p + 2;
            return TConstruct::Clean;
        }
        const size_t nameStart = p;
        while (p < n && text[p] != '=' && !IsXmlSpace(text[p]) && text[p] != '/' && text[p] != '>') {
            ++p;
        }
        const std::string_view name = text.substr(nameStart, p - nameStart);
        while (p < n && IsXmlSpace(text[p])) {
            ++p;
        }
        if (p >= n) {
            return TConstruct::Incomplete;
        }
        if (text[p] != '=') {
            return TConstruct::Unsure;
        }
        ++p;
        while (p < n && IsXmlSpace(text[p])) {
            ++p;
        }
        if (p >= n) {
            return TConstruct::Incomplete;
        }
        const char quote = text[p];
        if (quote != '"' && quote != '\'') {
            return TConstruct::Unsure;
        }
        const size_t close = text.find(quote, p + 1);
        if (close == std::string_view::npos) {
            return TConstruct::Incomplete;
        }
        p = close + 1;
        if (count == names.size()) {
            return TConstruct::Unsure;
        }
        for (size_t i = 0; i < count; ++i) {
            if (names[i] == name) {
                return TConstruct::Unsure; // a repeated name: the walk reports it
            }
        }
        names[count++] = name;
    }
}

// The construct that begins with the '<' at `lt`.
TConstruct ScanConstruct(std::string_view text, size_t lt, size_t& end) {
    const std::string_view rest = text.substr(lt);
    if (rest.size() < 2) {
        return TConstruct::Incomplete;
    }
    switch (rest[1]) {
    case '/':
        return SkipTo(text, lt + 2, ">", end);
    case '?': {
        // A processing instruction; one whose target is "xml" is a declaration, which may only
        // stand at the very start.
        size_t p = lt + 2;
        while (p < text.size() && !IsXmlSpace(text[p]) && text[p] != '?') {
            ++p;
        }
        if (p >= text.size()) {
            return TConstruct::Incomplete;
        }
        if (lt != 0 && EqualsIgnoringAsciiCase(text.substr(lt + 2, p - lt - 2), "xml")) {
            return TConstruct::Unsure;
        }
        return SkipTo(text, p, "?>", end);
    }
    case '!': {
        constexpr std::string_view kComment = "<!--";
        constexpr std::string_view kData = "<![CDATA[";
        if (rest.substr(0, kComment.size()) == kComment) {
            return SkipTo(text, lt + kComment.size(), "-->", end);
        }
        if (rest.substr(0, kData.size()) == kData) {
            return SkipTo(text, lt + kData.size(), "]]>", end);
        }
        if (rest.size() < kData.size() &&
            (kComment.substr(0, rest.size()) == rest || kData.substr(0, rest.size()) == rest)) {
            return TConstruct::Incomplete;
        }
        return TConstruct::Unsure; // a document type declaration, or not XML
    }
    default:
        return ScanStartTag(text, lt, end);
    }
}

} // namespace

void TMarkupScan::Advance(std::string_view text, TInput input) {
    const bool final = input == TInput::Complete;
    size_t pos = from_;
    while (!unsure_) {
        const size_t lt = text.find('<', pos);
        const size_t contentEnd = lt == std::string_view::npos ? text.size() : lt;
        // A character reference in text content; an '&' at the very end may be one.
        const std::string_view content = text.substr(pos, contentEnd - pos);
        if (content.find("&#") != std::string_view::npos) {
            unsure_ = true;
            break;
        }
        if (lt == std::string_view::npos) {
            from_ = !final && !content.empty() && content.back() == '&' ? text.size() - 1 : text.size();
            break;
        }
        size_t end = 0;
        const TConstruct construct = ScanConstruct(text, lt, end);
        if (construct == TConstruct::Unsure ||
            (construct == TConstruct::Incomplete && (final || text.size() - lt > kLongestConstruct))) {
            unsure_ = true;
            break;
        }
        if (construct == TConstruct::Incomplete) {
            from_ = lt;
            break;
        }
        pos = end;
    }
}

} // namespace ludex
