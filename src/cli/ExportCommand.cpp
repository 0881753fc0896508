#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/Commands.h"
#include "cli/ExportFormats.h"
#include "core/document/BranchCipher.h"
#include "core/document/BranchWalk.h"
#include "core/document/XMLNodeAccess.h"

#include <optional>
#include <ostream>

namespace ludex::cli {

// The whole document as text, Markdown or HTML. Locked branches that the password opens are
// shown with their content; the others show "(locked)".
int RunExport(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args = TCliArguments::Parse(
        {.name = "export", .positionals = {"FILE"}, .valued = {"--format", "-o", "--password-file"}}, words);
    const TExportFormat format = ParseExportFormat(args.Value("--format").value_or("text"));
    std::optional<TSecret> password;
    if (const auto file = args.Value("--password-file")) {
        password = ReadPasswordFile(*file);
    }
    const TCliDocument document(args.Positional(0));
    const auto exporter = MakeExporter(format, TitleAccess.Read(document.Root()));
    TBranchWalk walk(document.Root(), TBranchOrder::File);
    bool more = true;
    while (more) {
        const TBranch& branch = walk.Current();
        if (branch.locked) {
            // A password a compatible branch's code page cannot hold is not that branch's.
            std::optional<TBranchUnlockKey> key;
            if (password) {
                key = VerifyBranchPassword(branch.element, password->View());
            }
            if (!key) {
                exporter->AddLockedBranch(walk.Depth(), branch.title);
                more = walk.Skip();
                continue;
            }
            DecipherBranchElement(branch.element, std::move(*key)); // the walk then enters its content
        }
        exporter->AddBranch(walk.Depth(), branch.title, MemoAccess.Read(branch.element));
        more = walk.Next();
    }
    const std::string text = exporter->Finish();
    WriteOutput(args.Value("-o").value_or(kStandardStream), text, out);
    return 0;
}

} // namespace ludex::cli
