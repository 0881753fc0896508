#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/Commands.h"
#include "core/document/XMLNodeAccess.h"

#include <optional>
#include <ostream>

namespace ludex::cli {

// The memo exactly as stored, with nothing added; locked branches on the way need the password.
int RunCat(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args = TCliArguments::Parse({.name = "cat",
                                                     .positionals = {"FILE", "BRANCH"},
                                                     .flags = {kAllowCostlyKeyOption},
                                                     .valued = {"--password-file"}},
                                                    words);
    std::optional<TSecret> password;
    if (const auto file = args.Value("--password-file")) {
        password = ReadPasswordFile(*file);
    }
    const TCliDocument document(args.Positional(0));
    const TDomNode branch =
        ResolveBranch(document.Root(), args.Positional(1), password ? &*password : nullptr,
                      TLockedTarget::Unlock, CostlyKeyOf(args));
    const std::string memo = MemoAccess.Read(branch);
    out.write(memo.data(), static_cast<std::streamsize>(memo.size()));
    return 0;
}

} // namespace ludex::cli
