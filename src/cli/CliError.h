#pragma once

#include "core/base/Exception.h"

#include <string>

namespace ludex::cli {

// The exit status of ludex-cli, the same for every command.
enum TExitCode : int {
    exitSuccess = 0,
    exitBadInput = 1,          // a document that cannot be read or written, a bad expression
    exitUsage = 2,             // wrong command line, unusable option value or password file
    exitBranchUnavailable = 3, // a branch that is not there, is locked, or cannot take the command
    exitIncorrectPassword = 4,
    exitInOut = 5, // a file that cannot be read or written
};

// An error of the command line tool that carries its own exit status.
class ECliError : public Exception {
public:
    ECliError(TExitCode code, std::string message) : Exception(std::move(message)), code_(code) {}
    TExitCode Code() const noexcept { return code_; }

private:
    TExitCode code_;
};

} // namespace ludex::cli
