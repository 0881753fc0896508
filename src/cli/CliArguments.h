#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ludex::cli {

// What a command accepts on its command line.
struct TCommandSyntax {
    std::string name{};
    std::vector<std::string> positionals{}; // names, for messages; all are required
    std::set<std::string> flags{};          // options without a value, e.g. "--sorted"
    std::set<std::string> valued{};         // options followed by a value, e.g. "-o"
    // Every word that starts with "-" and is not an option above is a positional argument
    // ("-SIN(1)" or "--3" for an expression), except "--" followed by a letter, which is an
    // unknown option. Otherwise only "-" followed by a non-letter is.
    bool signedPositionals = false;
};

// A parsed command line: the command, its positional arguments in order, and its options.
// Options may come in any order after the command. A long option's value may also be attached
// ("--format=html"). "--" ends the options; "-" alone and words such as "-2+3" are positional.
class TCliArguments {
public:
    // Throws ECliError(exitUsage) for an unknown option, a missing value, an option given twice
    // or a wrong number of positional arguments.
    static TCliArguments Parse(const TCommandSyntax& syntax, const std::vector<std::string>& words);

    const std::string& Positional(size_t index) const { return positionals_.at(index); }
    bool Flag(const std::string& name) const { return flags_.count(name) != 0; }
    std::optional<std::string> Value(const std::string& name) const;

private:
    std::vector<std::string> positionals_;
    std::set<std::string> flags_;
    std::map<std::string, std::string> values_;
};

} // namespace ludex::cli
