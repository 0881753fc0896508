#pragma once

#include <cstddef>
#include <string_view>

namespace ludex {

// Whether the code point belongs to a word: a letter, a digit, a combining mark or a connector
// punctuation (the underscore and its kin), by its Unicode general category. Every other
// character (blanks, line breaks, tabs, punctuation, symbols) separates words.
bool IsWordCharacter(char32_t codePoint);

// Whether a word may begin at byte `pos` of a UTF-8 text: the text's start, or the character that
// ends just before it is no word character. A byte that belongs to no well-formed character
// separates words.
bool IsWordStart(std::string_view text, size_t pos);

// Whether a word may end just before byte `pos`: the text's end, or the character at `pos` is no
// word character.
bool IsWordEnd(std::string_view text, size_t pos);

} // namespace ludex
