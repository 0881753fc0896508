#include "core/document/TextCheck.h"

#include <cstdint>

namespace ludex {

namespace {

// Scans the character references that begin at or after `from` and sets `suspect` at the first
// one to a surrogate or beyond U+10FFFF. Returns where a later call must begin: the end of the
// text, or (for TInput::Partial) a reference or '&' whose digits may go on in bytes still to come.
size_t ScanReferences(std::string_view text, size_t from, TInput input, bool& suspect) {
    const bool final = input == TInput::Complete;
    for (size_t at = text.find('&', from); at != std::string_view::npos; at = text.find('&', at + 1)) {
        if (at + 1 >= text.size()) {
            return final ? text.size() : at;
        }
        if (text[at + 1] != '#') {
            continue;
        }
        size_t pos = at + 2;
        const bool hex = pos < text.size() && text[pos] == 'x';
        pos += hex ? 1 : 0;
        uint64_t value = 0;
        size_t digits = 0;
        while (pos < text.size() && AddReferenceDigit(text[pos], hex, value)) {
            ++pos;
            ++digits;
        }
        if (pos == text.size() && !final) {
            return at;
        }
        if (digits > 0 && (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))) {
            suspect = true;
            return text.size();
        }
    }
    return text.size();
}

} // namespace

bool HasSuspectReference(std::string_view text) {
    bool suspect = false;
    ScanReferences(text, 0, TInput::Complete, suspect);
    return suspect;
}

void TIncrementalTextCheck::Advance(std::string_view text, TInput input) {
    utf8_.Advance(text, input);
    if (!suspectReference_ && (referencesFrom_ < text.size() || input == TInput::Complete)) {
        referencesFrom_ = ScanReferences(text, referencesFrom_, input, suspectReference_);
    }
}

} // namespace ludex
