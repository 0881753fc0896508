#include "support/CliProcess.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace ludex::testing {

namespace {

// Starts LUDEX_BIN_DIR/ludex-cli with the arguments and the three streams opened on the files;
// returns its process id, or -1.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& in, const std::string& out,
            const std::string& err) {
    const std::string program = std::string(LUDEX_BIN_DIR) + "/ludex-cli";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // A fixed language; sanitizer settings pass through.
    std::vector<std::string> environment = {"LANG=C"};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    std::vector<char*> envp;
    for (std::string& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return -1;
    }
    return pid;
}

} // namespace

pid_t StartCli(const std::vector<std::string>& arguments) {
    return Spawn(arguments, "/dev/null", "/dev/null", "/dev/null");
}

TCliResult RunCli(const std::vector<std::string>& arguments, const std::string& stdoutFile,
                  const std::string& input) {
    TempDir streams;
    const std::string outPath = stdoutFile.empty() ? streams.File("stdout") : stdoutFile;
    const std::string inPath = streams.Write("stdin", input);
    const std::string errPath = streams.File("stderr");
    const pid_t pid = Spawn(arguments, inPath, outPath, errPath);

    TCliResult result;
    if (pid < 0) {
        return result;
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = stdoutFile.empty() ? ReadAll(outPath) : "";
    result.err = ReadAll(errPath);
    return result;
}

} // namespace ludex::testing
