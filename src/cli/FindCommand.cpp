#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/Commands.h"
#include "core/document/XMLNodeAccess.h"
#include "core/search/TextMatch.h"

#include <ostream>

namespace ludex::cli {

// Every match in file order, as repeated presses of Find Next would show them: a title match
// first, then the matches in the memo, each search starting one character after the previous
// match. Locked branches are searched by title only.
int RunFind(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args =
        TCliArguments::Parse({.name = "find",
                              .positionals = {"FILE", "TEXT"},
                              .flags = {"--match-case", "--whole-phrase", "--no-titles", "--no-memos"}},
                             words);
    const TCliDocument document(args.Positional(0));
    const std::string& pattern = args.Positional(1);
    const TMatchOptions options{.matchCase = args.Flag("--match-case"),
                                .wholePhrase = args.Flag("--whole-phrase")};
    const bool inTitles = !args.Flag("--no-titles");
    const bool inMemos = !args.Flag("--no-memos");

    WalkBranches(document.Root(), TBranchOrder::File, [&](const TBranchVisit& visit) {
        const std::string title = TitleAccess.Read(visit.element);
        const bool locked = IsBranchLocked(visit.element);
        if (inTitles && MatchText(title, 1, pattern, options) > 0) {
            out << IndexPathText(visit.path) << "\ttitle\t" << OneLine(title) << "\n";
        }
        if (inMemos && !locked) {
            const std::string memo = MemoAccess.Read(visit.element);
            for (size_t p = MatchText(memo, 1, pattern, options); p > 0;
                 p = MatchText(memo, p + 1, pattern, options)) {
                out << IndexPathText(visit.path) << "\tmemo:" << CharacterPosition(memo, p) << "\t"
                    << OneLine(title) << "\n";
            }
        }
        return !locked;
    });
    return 0;
}

} // namespace ludex::cli
