#pragma once

#include "core/text/Utf8.h"

#include <cstddef>
#include <string_view>

namespace ludex {

// Whether the text holds a character reference to a surrogate or beyond U+10FFFF, which the
// parser would turn into bytes that are not UTF-8 (possibly inside a comment or character-data
// section, where it means nothing: the caller then checks the parsed values themselves).
bool HasSuspectReference(std::string_view text);

// Checks a text that arrives piece by piece: that it is UTF-8 (see TUtf8Scanner), whether it holds
// a suspect character reference (see HasSuspectReference), with the same answers as the whole-text
// functions. Each piece is looked at right after it has arrived, while it is still in the processor's cache;
// a character or reference cut by the end of a piece is taken up again with the next one.
class TIncrementalTextCheck {
public:
    // Checks what `text` holds beyond what earlier calls have checked; `text` is the whole text
    // received so far and begins as it began before.
    void Advance(std::string_view text, TInput input);

    bool Utf8Failed() const { return utf8_.Failed(); }
    // The offset of the first byte that does not belong to a UTF-8 character, once Utf8Failed().
    size_t BadOffset() const { return utf8_.BadOffset(); }
    bool SuspectReference() const { return suspectReference_; }

private:
    TUtf8Scanner utf8_;
    size_t referencesFrom_ = 0;
    bool suspectReference_ = false;
};

// Adds `c` to the value of a character reference's digits ("&#65;", "&#x41;") when it is a digit
// of the reference's base, and says whether it was one. A value beyond the last code point stays
// beyond it, so that no number of digits overflows.
template <class TValue>
bool AddReferenceDigit(char c, bool hex, TValue& value) {
    const int d = c >= '0' && c <= '9'          ? c - '0'
                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
    if (d < 0) {
        return false;
    }
    value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + static_cast<TValue>(d);
    return true;
}

} // namespace ludex
