#include "core/search/BranchSearch.h"

#include "core/document/XMLNodeAccess.h"

#include <vector>

namespace ludex {

TSearchSummary SearchBranches(const TDomNode& root, const TTextMatcher& matcher, TSearchPlaces places,
                              const TMatchVisitor& visit, const TLockedVisitor& unlock) {
    TSearchSummary summary;
    std::vector<TTextMatch> matches;
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
            // A view: nothing below changes the element while its matches are reported.
            const std::string_view memo = branch.element.AttributeView(MemoAccess.Name());
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
