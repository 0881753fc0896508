#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/Commands.h"
#include "cli/ExportFormats.h"
#include "core/document/BranchWalk.h"

#include <ostream>

namespace ludex::cli {

// One line per branch, indented two blanks per level down to kDeepestIndentedLevel (deeper ones
// say their level); a locked branch is marked and not entered. With --sorted the branches come in
// the order the window shows them.
int RunTree(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args =
        TCliArguments::Parse({.name = "tree", .positionals = {"FILE"}, .flags = {"--sorted"}}, words);
    const TCliDocument document(args.Positional(0));
    TBranchWalk walk(document.Root(), args.Flag("--sorted") ? TBranchOrder::Window : TBranchOrder::File);
    std::string line;
    bool more = true;
    while (more) {
        const TBranch& branch = walk.Current();
        const bool locked = branch.locked;
        line = DepthIndent(walk.Depth()) + DepthMark(walk.Depth());
        line += OneLine(branch.title);
        if (locked) {
            line += " [locked]";
        }
        line += '\n';
        out << line;
        more = locked ? walk.Skip() : walk.Next();
    }
    return 0;
}

} // namespace ludex::cli
