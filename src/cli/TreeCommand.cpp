#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/Commands.h"
#include "cli/ExportFormats.h"
#include "core/document/XMLNodeAccess.h"

#include <ostream>

namespace ludex::cli {

// One line per branch, indented two blanks per level down to kDeepestIndentedLevel (deeper ones
// say their level); a locked branch is marked and not entered.
int RunTree(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args =
        TCliArguments::Parse({.name = "tree", .positionals = {"FILE"}, .flags = {"--sorted"}}, words);
    const TCliDocument document(args.Positional(0));
    const TBranchOrder order = args.Flag("--sorted") ? TBranchOrder::Window : TBranchOrder::File;
    std::string line;
    WalkBranches(document.Root(), order, [&](const TBranchVisit& visit) {
        const bool locked = IsBranchLocked(visit.element);
        line = DepthIndent(visit.depth) + DepthMark(visit.depth);
        line += OneLine(TitleAccess.Read(visit.element));
        if (locked) {
            line += " [locked]";
        }
        line += '\n';
        out << line;
        return !locked;
    });
    return 0;
}

} // namespace ludex::cli
