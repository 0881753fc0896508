#pragma once

#include <string_view>

namespace ludex {

// Titles compared character by character without regard to letter case, in every alphabet: each
// character is case-folded (FoldCase) and the folded code points are compared, except that the
// ASCII letters compare as A-Z (so titles of ASCII characters keep the order they have always
// had). A byte that begins no well-formed character comes after every character, by its value.
// At the first difference the smaller comes first; a prefix comes before the longer text.
// Returns a negative number, zero or a positive number.
int CompareTitles(std::string_view a, std::string_view b);

// The sibling order of branches in the tree: a branch that has sub-branches (a locked branch
// with a payload counts as having them) comes before one that has none; otherwise CompareTitles.
int CompareBranches(bool aHasChildren, std::string_view aTitle, bool bHasChildren, std::string_view bTitle);

} // namespace ludex
