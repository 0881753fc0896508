#include "cli/CliDocument.h"
#include "cli/CliError.h"
#include "cli/Commands.h"
#include "core/base/Exception.h"
#include "core/calc/Parsing.h"
#include "core/document/DomService.h"
#include "core/export/ExportFormats.h"
#include "core/settings/LX_Utils.h"
#include "core/text/CodePage.h"

#include <algorithm>
#include <iomanip>
#include <ostream>

namespace ludex::cli {

namespace {

const char* ExitCodeText(TExitCode code) {
    switch (code) {
    case exitSuccess:
        return "success";
    case exitBadInput:
        return "a document that cannot be parsed or written, an expression that cannot be evaluated";
    case exitUsage:
        return "wrong command line, unusable option value or password file";
    case exitBranchUnavailable:
        return "the branch is not there, is ambiguous, is locked or cannot take the command";
    case exitIncorrectPassword:
        return "incorrect password";
    case exitInOut:
        return "a file that cannot be read or written";
    }
    return "";
}

void PrintExitCodes(std::ostream& out, const std::vector<TExitCode>& codes) {
    out << "\nExit status:\n";
    for (const TExitCode code : codes) {
        out << "  " << static_cast<int>(code) << "  " << ExitCodeText(code) << "\n";
    }
}

// The version without the blank that separates an empty version comment.
std::string VersionText() {
    std::string version = ProgramVersion();
    while (!version.empty() && version.back() == ' ') {
        version.pop_back();
    }
    return version;
}

void PrintHelp(std::ostream& out) {
    out << "ludex-cli: read, search, export and check Ludex documents from a terminal\n\n"
           "Usage: ludex-cli COMMAND ARGUMENTS [OPTIONS]\n"
           "       ludex-cli COMMAND --help\n"
           "       ludex-cli --version\n\n"
           "Commands:\n";
    for (const TCommand& command : AllCommands()) {
        out << "  " << command.usage << "\n      " << command.summary << "\n";
    }
    out << "\nBRANCH is a path of titles below the root separated by \"/\" (\"\\/\" stands for a \"/\"\n"
           "inside a title; \"\" is the root), or \"#\" followed by 0-based element indices joined\n"
           "by \".\" (\"#\" is the root, \"#0.2\" the third child of the first child).\n"
           "A title that several sibling branches carry is an error (exit status 3): name the\n"
           "branch by its index path then.\n"
           "A password file holds the password on its first line, as UTF-8 text.\n"
           "Encryption is strong (any text, damage detected) unless --cipher compatible asks for the\n"
           "scheme earlier versions read, whose passwords and memos must fit the code page.\n"
           "\"-\" as FILE or as the password file reads standard input (one of them at most);\n"
           "\"-o -\" writes standard output, as does a command that writes a document read from\n"
           "standard input without -o.\n"
           "A document is written through a symbolic link to its file; a read-only file, a folder,\n"
           "a pipe or a device is not replaced. The file a command replaces is kept beside it as\n"
           "FILE.bak1, older copies moving up to FILE.bak3: --backups N keeps N (0 to 99),\n"
           "--no-backup none. Once a plain branch is encrypted, every backup of the file\n"
           "written, which may hold its plain text, is removed (a line on standard error says so).\n"
           "A locked branch whose stored key cost asks for more than four times the memory or\n"
           "passes of new keys is not opened unless --allow-costly-key is given (exit status 3).\n"
           "Deep branches are indented down to level "
        << kDeepestIndentedLevel
        << "; deeper ones show their level as\n"
           "\"(level N)\".\n\n"
           "Options of every command:\n"
           "  --code-page NAME   code page of the compatible scheme (e.g. windows-1251) for branches\n"
           "                     that do not record their own\n"
           "  --help             the command's own help, with its exit statuses\n";
    PrintExitCodes(
        out, {exitSuccess, exitBadInput, exitUsage, exitBranchUnavailable, exitIncorrectPassword, exitInOut});
}

// The message on one line.
std::string OneLineMessage(std::string message) {
    std::replace_if(
        message.begin(), message.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return message;
}

// Takes --code-page (a global option) out of the words and applies it.
std::vector<std::string> ApplyCodePage(const std::vector<std::string>& words) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--") {
            rest.insert(rest.end(), words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
            break;
        }
        std::string name;
        if (words[i] == "--code-page") {
            if (i + 1 >= words.size()) {
                throw ECliError(exitUsage, "Option --code-page needs a value");
            }
            name = words[++i];
        } else if (words[i].rfind("--code-page=", 0) == 0) {
            name = words[i].substr(12);
        } else {
            rest.push_back(words[i]);
            continue;
        }
        try {
            SetCurrentCodePage(name);
        } catch (const ECodePage& e) {
            throw ECliError(exitUsage, e.Message());
        }
    }
    return rest;
}

int Dispatch(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.empty()) {
        err << "No command given (see ludex-cli --help)\n";
        return exitUsage;
    }
    const std::string& name = arguments[0];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp(out);
        return exitSuccess;
    }
    if (name == "--version") {
        out << "ludex-cli " << VersionText() << "\n";
        return exitSuccess;
    }
    const auto& commands = AllCommands();
    const auto command =
        std::find_if(commands.begin(), commands.end(), [&](const TCommand& c) { return name == c.name; });
    if (command == commands.end()) {
        err << "Unknown command " << name << " (see ludex-cli --help)\n";
        return exitUsage;
    }
    std::vector<std::string> words(arguments.begin() + 1, arguments.end());
    const auto optionsEnd = std::find(words.begin(), words.end(), "--");
    if (std::find(words.begin(), optionsEnd, "--help") != optionsEnd) {
        out << "Usage: ludex-cli " << command->usage << "\n" << command->summary << "\n";
        PrintExitCodes(out, command->exitCodes);
        return exitSuccess;
    }
    return command->run(ApplyCodePage(words), out);
}

} // namespace

const std::vector<TCommand>& AllCommands() {
    static const std::vector<TExitCode> kAllExitCodes = {
        exitSuccess, exitBadInput, exitUsage, exitBranchUnavailable, exitIncorrectPassword, exitInOut};
    static const std::vector<TCommand> commands = {
        {"calc",
         "calc EXPRESSION",
         "Evaluates an expression as the memo calculator does; \".\" is the decimal point.",
         RunCalc,
         {exitSuccess, exitBadInput, exitUsage, exitInOut}},
        {"tree",
         "tree FILE [--sorted]",
         "Lists the branches, indented by level; --sorted in the order the window shows.",
         RunTree,
         {exitSuccess, exitBadInput, exitUsage, exitInOut}},
        {"cat", "cat FILE BRANCH [--password-file P [--allow-costly-key]]",
         "Prints the memo of the branch exactly as stored.", RunCat, kAllExitCodes},
        {"find",
         "find FILE TEXT [--match-case] [--whole-phrase] [--regex] [--no-titles] [--no-memos] "
         "[--password-file P]",
         "Lists every match: index path, \"title\" or \"memo:\" and character position, branch title. "
         "--regex: TEXT is a regular expression; --password-file: locked branches it opens are searched too.",
         RunFind,
         {exitSuccess, exitBadInput, exitUsage, exitInOut}},
        {"resave",
         "resave FILE [-o OUT] [--backups N | --no-backup]",
         "Writes the document again with the document writer.",
         RunResave,
         {exitSuccess, exitBadInput, exitUsage, exitInOut}},
        {"encrypt",
         "encrypt FILE BRANCH --password-file P [--cipher strong|compatible] [-o OUT] [--backups N | "
         "--no-backup] [--allow-costly-key]",
         "Encrypts a plain branch under the password (strong cipher by default) and writes the document.",
         RunEncrypt, kAllExitCodes},
        {"decrypt",
         "decrypt FILE BRANCH --password-file P [-o OUT] [--backups N | --no-backup] [--allow-costly-key]",
         "Unlocks an encrypted branch with the password, makes it plain and writes the document.", RunDecrypt,
         kAllExitCodes},
        {"export",
         "export FILE [--format text|markdown|html] [-o OUT] [--password-file P [--allow-costly-key]]",
         "Writes the whole document as text, Markdown or a standalone HTML page.",
         RunExport,
         {exitSuccess, exitBadInput, exitUsage, exitInOut}},
    };
    return commands;
}

int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const TCliNotices notices(err);
    int status = exitSuccess;
    try {
        status = Dispatch(arguments, out, err);
    } catch (const ECliError& e) {
        err << OneLineMessage(e.Message()) << "\n";
        status = e.Code();
    } catch (const EInOutError& e) {
        err << OneLineMessage(e.Message()) << "\n";
        status = exitInOut;
    } catch (const Exception& e) {
        // A document that cannot be parsed, enciphered or written; an expression's error.
        err << OneLineMessage(e.Message()) << "\n";
        status = exitBadInput;
    } catch (const std::exception& e) {
        err << OneLineMessage(e.what()) << "\n";
        status = exitBadInput;
    }
    out.flush();
    if (!out) {
        err << "Cannot write to standard output\n";
        return exitInOut;
    }
    return status;
}

} // namespace ludex::cli
