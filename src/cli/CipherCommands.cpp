#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/CliError.h"
#include "cli/Commands.h"
#include "core/document/BranchCipher.h"
#include "core/document/XMLNodeAccess.h"

namespace ludex::cli {

namespace {

const TCommandSyntax& CipherSyntax(const char* name) {
    static const TCommandSyntax encrypt{.name = "encrypt",
                                        .positionals = {"FILE", "BRANCH"},
                                        .flags = {kNoBackupOption, kAllowCostlyKeyOption},
                                        .valued = {"--password-file", "-o", "--cipher", kBackupsOption}};
    static const TCommandSyntax decrypt{.name = "decrypt",
                                        .positionals = {"FILE", "BRANCH"},
                                        .flags = {kNoBackupOption, kAllowCostlyKeyOption},
                                        .valued = {"--password-file", "-o", kBackupsOption}};
    return std::string_view(name) == "encrypt" ? encrypt : decrypt;
}

TSecret RequiredPassword(const TCliArguments& args, const char* command) {
    const auto file = args.Value("--password-file");
    if (!file) {
        throw ECliError(exitUsage, std::string("ludex-cli ") + command + " needs --password-file");
    }
    return ReadPasswordFile(*file);
}

TCipherScheme SchemeOption(const TCliArguments& args) {
    const auto name = args.Value("--cipher");
    if (!name) {
        return kDefaultCipherScheme;
    }
    const auto scheme = CipherSchemeFromName(*name);
    if (!scheme) {
        throw ECliError(exitUsage, "Unknown cipher " + *name + " (strong or compatible)");
    }
    return *scheme;
}

} // namespace

// Puts a plain or unlocked branch under the password, in the strong scheme unless --cipher
// compatible asks for the one earlier versions read. The branch becomes unlocked encrypted in
// memory, which the document writer stores enciphered. Locked branches above it are opened with
// the same password and are enciphered again, each in its own scheme, when written.
int RunEncrypt(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args = TCliArguments::Parse(CipherSyntax("encrypt"), words);
    const TSaveOptions options = SaveOptionsOf(args);
    const TCipherScheme scheme = SchemeOption(args);
    const TSecret password = RequiredPassword(args, "encrypt");
    if (scheme == TCipherScheme::Compatible && !CurrentCodePage().CanRepresent(password.View())) {
        // Refused before the document is read: the password is at fault, not the document.
        throw ECliError(exitUsage,
                        EUnencipherable(TCipherField::Password, CurrentCodePage().Name(), {}).Message());
    }
    const TCliDocument document(args.Positional(0));
    const TDomNode branch =
        ResolveBranch(document.Root(), args.Positional(1), &password, TLockedTarget::Keep, CostlyKeyOf(args));
    if (IsBranchLocked(branch)) {
        throw ECliError(exitBranchUnavailable, DescribeBranch(args.Positional(1)) +
                                                   " is encrypted and locked already; decrypt it first");
    }
    SetBranchPassword(branch, password.View(), scheme);
    document.Save(args.Value("-o"), out, options);
    return 0;
}

// Unlocks a locked branch with the password and makes it plain.
int RunDecrypt(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args = TCliArguments::Parse(CipherSyntax("decrypt"), words);
    const TSaveOptions options = SaveOptionsOf(args);
    const TSecret password = RequiredPassword(args, "decrypt");
    const TCliDocument document(args.Positional(0));
    const TDomNode branch =
        ResolveBranch(document.Root(), args.Positional(1), &password, TLockedTarget::Keep, CostlyKeyOf(args));
    if (!IsBranchEncrypted(branch)) {
        throw ECliError(exitBranchUnavailable, DescribeBranch(args.Positional(1)) + " is not encrypted");
    }
    std::optional<TBranchUnlockKey> key = VerifyPassword(branch, password, CostlyKeyOf(args));
    if (!key) {
        throw ECliError(exitIncorrectPassword, "Incorrect password");
    }
    if (IsBranchLocked(branch)) {
        DecipherBranchElement(branch, std::move(*key));
    }
    SetBranchPassword(branch, "", kDefaultCipherScheme); // plain from now on
    document.Save(args.Value("-o"), out, options);
    return 0;
}

} // namespace ludex::cli
