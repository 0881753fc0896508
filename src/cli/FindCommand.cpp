#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/Commands.h"
#include "core/document/BranchWalk.h"
#include "core/document/XMLNodeAccess.h"
#include "core/search/TextMatch.h"

#include <ostream>

namespace ludex::cli {

// Every match in the order in which repeated presses of Find Next visit them in the window: the
// branches in the window's order (the same walk builds the window's tree), in each a title match
// first, then the matches in the memo, each search starting one character after the previous
// match. Locked branches are searched by title only, and nothing below them.
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

    TBranchWalk walk(document.Root(), TBranchOrder::Window);
    bool more = true;
    while (more) {
        const TBranch& branch = walk.Current();
        const bool locked = branch.locked;
        if (inTitles && MatchText(branch.title, 1, pattern, options) > 0) {
            out << IndexPathText(walk.Path()) << "\ttitle\t" << OneLine(branch.title) << "\n";
        }
        if (inMemos && !locked) {
            const std::string memo = MemoAccess.Read(branch.element);
            for (size_t p = MatchText(memo, 1, pattern, options); p > 0;
                 p = MatchText(memo, p + 1, pattern, options)) {
                out << IndexPathText(walk.Path()) << "\tmemo:" << CharacterPosition(memo, p) << "\t"
                    << OneLine(branch.title) << "\n";
            }
        }
        more = locked ? walk.Skip() : walk.Next();
    }
    return 0;
}

} // namespace ludex::cli
