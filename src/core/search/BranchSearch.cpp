#include "core/search/BranchSearch.h"

#include "core/document/XMLNodeAccess.h"

#include <string>
#include <vector>

namespace ludex {

TSearchSummary SearchBranches(const TDomNode& root, const TTextMatcher& matcher, TSearchPlaces places,
                              const TMatchVisitor& visit, const TLockedVisitor& unlock) {
    TSearchSummary summary;
    std::vector<TTextMatch> matches;
    std::string memo;
    TBranchWalk walk(root, TBranchOrder::Window);
    bool more = true;
    while (more) {
        TBranch& branch = walk.Current();
        if (places.titles) {
            if (const TTextMatch match = matcher.Find(branch.title, 1)) {
                ++summary.matches;
                visit(walk, TMatchPlace::Title, match, branch.title);
            }
        }
        if (branch.locked) {
            if (!unlock || !unlock(branch)) {
                ++summary.lockedNotSearched;
                more = walk.Skip();
                continue;
            }
            branch.locked = false;
        }
        if (places.memos) {
            memo = MemoAccess.Read(branch.element);
            matches.clear();
            matcher.FindAll(memo, matches);
            for (const TTextMatch& match : matches) {
                ++summary.matches;
                visit(walk, TMatchPlace::Memo, match, memo);
            }
        }
        more = walk.Next();
    }
    return summary;
}

} // namespace ludex
