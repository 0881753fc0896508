#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/CliError.h"
#include "cli/Commands.h"
#include "core/document/BranchCipher.h"
#include "core/search/BranchSearch.h"
#include "core/search/TextMatch.h"

#include <optional>
#include <ostream>

namespace ludex::cli {

// Every match in the order in which repeated presses of Find Next visit them in the window: the
// branches in the window's order (the same walk builds the window's tree), in each a title match
// first, then the matches in the memo, each search starting one character after the previous
// match. Locked branches are searched by title only, and nothing below them, unless the password
// of --password-file opens them: they are then deciphered in memory (the file is never written)
// and searched whole. A bad regular expression is bad input; nothing is searched.
int RunFind(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args =
        TCliArguments::Parse({.name = "find",
                              .positionals = {"FILE", "TEXT"},
                              .flags = {"--match-case", "--whole-phrase", "--regex", "--no-titles",
                                        "--no-memos", kAllowCostlyKeyOption},
                              .valued = {"--password-file"}},
                             words);
    const std::string& pattern = args.Positional(1);
    const TMatchOptions options{.matchCase = args.Flag("--match-case"),
                                .wholePhrase = args.Flag("--whole-phrase"),
                                .regex = args.Flag("--regex")};
    std::optional<TTextMatcher> matcher;
    try {
        matcher.emplace(pattern, options);
    } catch (const ERegexError& e) {
        throw ECliError(exitBadInput, e.Message());
    }
    std::optional<TSecret> password;
    if (const auto file = args.Value("--password-file")) {
        password = ReadPasswordFile(*file);
    }
    const TCliDocument document(args.Positional(0));

    const TMatchVisitor report = [&out](TBranchWalk& walk, TMatchPlace place, const TTextMatch& match,
                                        std::string_view text) {
        out << IndexPathText(walk.Path());
        if (place == TMatchPlace::Title) {
            out << "\ttitle\t";
        } else {
            out << "\tmemo:" << CharacterPosition(text, match.position) << "\t";
        }
        out << OneLine(walk.Current().title) << "\n";
    };
    const TLockedVisitor unlock = LockedBranchOpener(password, CostlyKeyOf(args));
    SearchBranches(document.Root(), *matcher,
                   TSearchPlaces{.titles = !args.Flag("--no-titles"), .memos = !args.Flag("--no-memos")},
                   report, unlock);
    return 0;
}

} // namespace ludex::cli
