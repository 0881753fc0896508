#pragma once

// Running the built ludex-cli from a test, for the CLI's own tests and for tests that compare the
// window with it.

#include <string>
#include <sys/types.h>
#include <vector>

namespace ludex::testing {

// What one run of the built ludex-cli produced.
struct TCliResult {
    int status = -1; // the exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs LUDEX_BIN_DIR/ludex-cli with the arguments in a clean environment (LANG=C, so the default
// code page is windows-1252) and collects its exit status and both output streams.
// With `stdoutFile` given, standard output goes to that file instead and `out` stays empty.
// Standard input holds `input`, or nothing.
TCliResult RunCli(const std::vector<std::string>& arguments, const std::string& stdoutFile = "",
                  const std::string& input = "");

// Starts LUDEX_BIN_DIR/ludex-cli as RunCli does, with its three streams on /dev/null, and returns
// at once with its process id (-1 when it cannot start), for the caller to wait for or to kill.
pid_t StartCli(const std::vector<std::string>& arguments);

} // namespace ludex::testing
