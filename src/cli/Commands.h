#pragma once

#include "cli/CliError.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace ludex::cli {

// One command of ludex-cli: its name, what it does, its command line, the function that runs it
// on the words after the command name, and the exit statuses it can end with. A command writes
// its result to `out` and reports failure by throwing (ECliError for its own exit status); it
// returns the exit status.
struct TCommand {
    const char* name;
    const char* usage;   // the command line after "ludex-cli"
    const char* summary; // one line
    int (*run)(const std::vector<std::string>& words, std::ostream& out);
    std::vector<TExitCode> exitCodes;
};

int RunCalc(const std::vector<std::string>& words, std::ostream& out);
int RunTree(const std::vector<std::string>& words, std::ostream& out);
int RunCat(const std::vector<std::string>& words, std::ostream& out);
int RunFind(const std::vector<std::string>& words, std::ostream& out);
int RunResave(const std::vector<std::string>& words, std::ostream& out);
int RunEncrypt(const std::vector<std::string>& words, std::ostream& out);
int RunDecrypt(const std::vector<std::string>& words, std::ostream& out);
int RunExport(const std::vector<std::string>& words, std::ostream& out);

// Every command, in the order --help lists them.
const std::vector<TCommand>& AllCommands();

// Runs the tool on its arguments (without the program name); returns the exit status. Results
// go to `out`, one-line error messages to `err`.
int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace ludex::cli
