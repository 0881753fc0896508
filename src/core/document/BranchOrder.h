#pragma once

#include <string_view>

namespace ludex {

// Titles compared without regard to the case of the ASCII letters a-z; every other byte by its
// value (UTF-8 bytes, so letters outside ASCII keep their case and compare by code point).
// At the first difference the smaller byte comes first; a prefix comes before the longer text.
// Returns a negative number, zero or a positive number.
int CompareTitles(std::string_view a, std::string_view b);

// The sibling order of branches in the tree: a branch that has sub-branches (a locked branch
// with a payload counts as having them) comes before one that has none; otherwise CompareTitles.
int CompareBranches(bool aHasChildren, std::string_view aTitle, bool bHasChildren, std::string_view bTitle);

} // namespace ludex
