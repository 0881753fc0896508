#include "cli/Commands.h"
#include "core/crypto/Secret.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    ludex::DisableCoreDumps(); // passwords and keys pass through this process's memory
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return ludex::cli::RunCli(arguments, std::cout, std::cerr);
}
