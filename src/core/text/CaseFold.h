#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

// Unicode simple case folding (one code point to one code point; the mappings of status C and S
// of the Unicode case folding data): the form in which text is compared without regard to letter
// case, in every alphabet. ASCII letters fold to a-z. Code points without a mapping, and values
// that are no code point, are returned unchanged.
char32_t FoldCase(char32_t c);

// Replaces the content of `folded` by the case-folded form of a UTF-8 text. A byte that does not belong to a
// well-formed sequence is copied as it is, so nothing of the text is lost.
//
// Returns true when every character folds to a form of the same byte length, so that byte i of
// the folded text stands for byte i of the text; this is so for every ASCII, Latin, Cyrillic and
// Greek letter but not for a few others (the Kelvin sign folds to "k"). When it returns false,
// `origins` holds, for each byte of the folded text and one past its end, the byte of the text it
// stands for (every byte of a character whose folded form has another length stands for the
// character's first byte), in ascending order; it is left empty otherwise.
bool FoldText(std::string_view text, std::string& folded, std::vector<size_t>& origins);

} // namespace ludex
