#include "cli/CliArguments.h"
#include "cli/Commands.h"
#include "core/calc/Parsing.h"

#include <ostream>

namespace ludex::cli {

// Evaluates the whole argument as the memo calculator evaluates a selected text. An
// ERxParserError and an arithmetic fault both leave with their message (exit status 1).
int RunCalc(const std::vector<std::string>& words, std::ostream& out) {
    const TCliArguments args = TCliArguments::Parse(
        {.name = "calc", .positionals = {"EXPRESSION"}, .signedPositionals = true}, words);
    out << FormatCalcResult(EvaluateExpression(args.Positional(0), '.'), '.') << "\n";
    return 0;
}

} // namespace ludex::cli
