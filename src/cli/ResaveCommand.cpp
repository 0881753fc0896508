#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/Commands.h"

namespace ludex::cli {

// Reads the document and writes it again with the document writer.
int RunResave(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args = TCliArguments::Parse({.name = "resave",
                                                     .positionals = {"FILE"},
                                                     .flags = {kNoBackupOption},
                                                     .valued = {"-o", kBackupsOption}},
                                                    words);
    const TSaveOptions options = SaveOptionsOf(args);
    const TCliDocument document(args.Positional(0));
    document.Save(args.Value("-o"), out, options);
    return 0;
}

} // namespace ludex::cli
