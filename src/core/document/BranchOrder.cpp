#include "core/document/BranchOrder.h"

#include "core/base/Exception.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <optional>
#include <string>

namespace ludex {

namespace {

// The collation of the Unicode root locale, which orders every alphabet as its readers do, with
// numbers compared by their value. Made once; comparing does not change it, so any thread may
// compare at once.
class TTitleCollator {
public:
    TTitleCollator() {
        UErrorCode status = U_ZERO_ERROR;
        collator_ = ucol_open("", &status);
        if (U_SUCCESS(status)) {
            ucol_setAttribute(collator_, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
        }
        if (U_FAILURE(status)) {
            ucol_close(collator_);
            throw Exception(std::string("The order of titles is not available: ") + u_errorName(status));
        }
    }
    ~TTitleCollator() { ucol_close(collator_); }
    TTitleCollator(const TTitleCollator&) = delete;
    TTitleCollator& operator=(const TTitleCollator&) = delete;

    int Compare(std::string_view a, std::string_view b) const {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result = ucol_strcollUTF8(collator_, a.data(), static_cast<int32_t>(a.size()),
                                                         b.data(), static_cast<int32_t>(b.size()), &status);
        if (U_FAILURE(status)) {
            throw Exception(std::string("Two titles could not be compared: ") + u_errorName(status));
        }
        return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
    }

private:
    UCollator* collator_ = nullptr;
};

const TTitleCollator& TitleCollator() {
    static const TTitleCollator collator;
    return collator;
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The order of two titles that agree on their first `same` bytes, where the collation is known
// without asking it: most titles that differ differ in a Latin letter or a number. Nothing when
// the collation must decide.
//
// The bytes they share weigh the same in both, at every level, unless they are tied to what
// follows: the end of a number goes on into what follows, so the numbers around the first
// difference are read whole. A difference in ASCII letters (other than their case) or in the
// values of two ASCII numbers is then a difference at the first level, which decides.
std::optional<int> KnownOrder(std::string_view a, std::string_view b, size_t same) {
    if (same >= a.size() || same >= b.size()) {
        return std::nullopt;
    }
    const char x = AsciiLower(a[same]);
    const char y = AsciiLower(b[same]);
    if (x != y && x >= 'a' && x <= 'z' && y >= 'a' && y <= 'z') {
        return x < y ? -1 : 1;
    }
    size_t start = same;
    while (start > 0 && IsAsciiDigit(a[start - 1])) {
        --start;
    }
    // A character outside ASCII next to the numbers may be a digit of another script that
    // continues them.
    if (start > 0 && static_cast<unsigned char>(a[start - 1]) >= 0x80) {
        return std::nullopt;
    }
    const auto number = [start](std::string_view text) -> std::optional<std::string_view> {
        size_t end = start;
        while (end < text.size() && IsAsciiDigit(text[end])) {
            ++end;
        }
        if (end == start || (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x80)) {
            return std::nullopt;
        }
        std::string_view digits = text.substr(start, end - start);
        digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
        // The collation reads very long numbers in pieces.
        constexpr size_t kLongestWholeNumber = 200;
        if (digits.size() > kLongestWholeNumber) {
            return std::nullopt;
        }
        return digits;
    };
    const std::optional<std::string_view> m = number(a);
    const std::optional<std::string_view> n = number(b);
    if (!m || !n || *m == *n) {
        return std::nullopt;
    }
    if (m->size() != n->size()) {
        return m->size() < n->size() ? -1 : 1;
    }
    return *m < *n ? -1 : 1;
}

} // namespace

int CompareTitles(std::string_view a, std::string_view b) {
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (ia == a.end() && ib == b.end()) {
        return 0;
    }
    if (const std::optional<int> known = KnownOrder(a, b, static_cast<size_t>(ia - a.begin()))) {
        return *known;
    }
    return TitleCollator().Compare(a, b);
}

int CompareBranches(bool aHasChildren, std::string_view aTitle, bool bHasChildren, std::string_view bTitle) {
    if (aHasChildren != bHasChildren) {
        return aHasChildren ? -1 : 1;
    }
    return CompareTitles(aTitle, bTitle);
}

} // namespace ludex
