#pragma once

#include <string_view>

namespace ludex {

// Titles in the order a person reading their alphabet expects (the collation of the Unicode root
// locale): letters by the alphabet, each alphabet in its own run (Latin, Greek, Cyrillic, ...);
// a run of digits by its value ("Step 2" before "Step 10"); a letter with an accent after the
// plain letter ("Ё" with "Е"), and letter case only where nothing else differs (small first).
// Blanks and punctuation come before digits, digits before letters. A byte that begins no
// well-formed character counts as U+FFFD. The same in the window, Sort Branches and the command
// line, on any thread. Returns a negative number, zero or a positive number.
int CompareTitles(std::string_view a, std::string_view b);

// The sibling order of branches in the tree: a branch that has sub-branches (a locked branch
// with a payload counts as having them) comes before one that has none; otherwise CompareTitles.
int CompareBranches(bool aHasChildren, std::string_view aTitle, bool bHasChildren, std::string_view bTitle);

} // namespace ludex
