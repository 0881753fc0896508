#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/CliError.h"
#include "cli/Commands.h"
#include "core/document/BranchCipher.h"
#include "core/document/XMLNodeAccess.h"
#include "core/export/DocumentExport.h"

#include <optional>
#include <ostream>

namespace ludex::cli {

// The whole document as text, Markdown or HTML, in the same bytes as the window's export. Locked
// branches that the password opens are shown with their content; the others show "(locked)".
int RunExport(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args = TCliArguments::Parse({.name = "export",
                                                     .positionals = {"FILE"},
                                                     .flags = {kAllowCostlyKeyOption},
                                                     .valued = {"--format", "-o", "--password-file"}},
                                                    words);
    const std::string formatName = args.Value("--format").value_or("text");
    const std::optional<TExportFormat> format = ExportFormatNamed(formatName);
    if (!format) {
        throw ECliError(exitUsage, "Unknown export format " + formatName + " (text, markdown or html)");
    }
    std::optional<TSecret> password;
    if (const auto file = args.Value("--password-file")) {
        password = ReadPasswordFile(*file);
    }
    const TCliDocument document(args.Positional(0));
    const auto open = LockedBranchOpener(password, CostlyKeyOf(args));
    const std::string text = ExportText(document.Root(), *format, TitleAccess.Read(document.Root()), open);
    WriteOutput(args.Value("-o").value_or(kStandardStream), text, out);
    return 0;
}

} // namespace ludex::cli
