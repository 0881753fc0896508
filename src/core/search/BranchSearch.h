#pragma once

#include "core/document/BranchWalk.h"
#include "core/search/TextMatch.h"

#include <cstddef>
#include <functional>
#include <string_view>

namespace ludex {

// Where a match was found.
enum class TMatchPlace { Title, Memo };

// What is searched.
struct TSearchPlaces {
    bool titles = true;
    bool memos = true;
};

// One match: the walk stands on its branch (Path() leads to it); `text` is the title or memo
// searched, valid during the call.
using TMatchVisitor =
    std::function<void(TBranchWalk& walk, TMatchPlace place, const TTextMatch& match, std::string_view text)>;

// A locked branch reached, after its title has been searched: returns true when it has unlocked
// the branch in memory, which is then searched like any other (its memo and its sub-branches).
using TLockedVisitor = std::function<bool(const TBranch& branch)>;

struct TSearchSummary {
    size_t matches = 0;
    size_t lockedNotSearched = 0; // locked branches whose memo and sub-branches were not searched
};

// Every match under the root (itself included) in the order repeated Find Next presses visit them
// in the window: the branches in pre-order with siblings in the window's order, in each branch a
// title match first, then the memo's matches in order of position. A locked branch is searched by
// its title only unless `unlock` opens it. Throws what the matcher throws.
TSearchSummary SearchBranches(const TDomNode& root, const TTextMatcher& matcher, TSearchPlaces places,
                              const TMatchVisitor& visit, const TLockedVisitor& unlock = {});

} // namespace ludex
