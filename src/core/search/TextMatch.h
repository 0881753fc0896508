#pragma once

#include <cstddef>
#include <string_view>

namespace ludex {

// How MatchText compares.
struct TMatchOptions {
    // Off: the letters A-Z and a-z match each other; every other byte, letters of other
    // alphabets included, matches only itself.
    bool matchCase = false;
    // On: an occurrence counts only when it stands between phrase separators (space, CR, LF) or
    // the ends of the text. A tab or punctuation does not separate phrases.
    bool wholePhrase = false;
};

// Positions are 1-based BYTE positions in the UTF-8 text; 0 means "no match". Byte positions
// keep matching linear and exact: a well-formed UTF-8 pattern can only match at the start of a
// character, so stepping one byte past a match start skips to the next possible match just as
// stepping one character would. CharacterPosition turns a result into what a reader counts.
//
// Returns the position of the first occurrence of the pattern that begins at or after `start`
// (values below 1 count as 1), or 0. With wholePhrase only that first occurrence is examined:
// when it is not a whole phrase the result is 0, even if a later occurrence would be. An empty
// pattern matches nowhere.
size_t MatchText(std::string_view text, size_t start, std::string_view pattern, TMatchOptions options);

// The number of LF bytes among the first n bytes of the text (all of it when n is larger).
size_t CountLineFeeds(std::string_view text, size_t n);

// The 1-based character (code point) position of the 1-based byte position in a UTF-8 text:
// one more than the number of characters that start before it. 0 stays 0.
size_t CharacterPosition(std::string_view text, size_t bytePosition);

// The number of UTF-16 code units that the first n bytes of a UTF-8 text make: the unit in
// which text widgets count positions (characters outside the basic plane count two).
size_t Utf16Length(std::string_view text, size_t n);

} // namespace ludex
