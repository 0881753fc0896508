#include "cli/CliArguments.h"

#include "cli/CliError.h"

namespace ludex::cli {

namespace {

ECliError Usage(const std::string& command, const std::string& what) {
    return ECliError(exitUsage, what + " (see ludex-cli " + command + " --help)");
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether a word that starts with "-" and is none of the command's options is meant as an option
// (and so is an unknown one) rather than as a positional argument. "--" followed by a letter is
// always an option name. Where positionals may carry a sign, every other word is positional:
// "-SIN(1)", and "--3", whose first minus is the sign of the expression. Otherwise only "-"
// followed by a non-letter ("-2", "-(1)") is positional.
bool NamesAnOption(const std::string& word, bool signedPositionals) {
    if (word[1] == '-') {
        return !signedPositionals || word.size() < 3 || IsLetter(word[2]);
    }
    return IsLetter(word[1]) && !signedPositionals;
}

} // namespace

TCliArguments TCliArguments::Parse(const TCommandSyntax& syntax, const std::vector<std::string>& words) {
    TCliArguments result;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            result.positionals_.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> attached;
        const size_t equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = word.substr(0, equals);
            attached = word.substr(equals + 1);
        }
        if (syntax.flags.count(name) != 0 && !attached) {
            if (!result.flags_.insert(name).second) {
                throw Usage(syntax.name, "Option " + name + " is given twice");
            }
        } else if (syntax.valued.count(name) != 0) {
            if (!attached) {
                if (i + 1 >= words.size()) {
                    throw Usage(syntax.name, "Option " + name + " needs a value");
                }
                attached = words[++i];
            }
            if (!result.values_.emplace(name, *attached).second) {
                throw Usage(syntax.name, "Option " + name + " is given twice");
            }
        } else if (NamesAnOption(word, syntax.signedPositionals)) {
            throw Usage(syntax.name, "Unknown option " + name + " for " + syntax.name);
        } else {
            result.positionals_.push_back(word); // "-2", "-(1)", and "-SIN(1)" or "--3" where allowed
        }
    }
    if (result.positionals_.size() != syntax.positionals.size()) {
        std::string expected;
        for (const auto& p : syntax.positionals) {
            expected += " " + p;
        }
        throw Usage(syntax.name, "Expected ludex-cli " + syntax.name + expected);
    }
    return result;
}

std::optional<std::string> TCliArguments::Value(const std::string& name) const {
    const auto found = values_.find(name);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace ludex::cli
