#pragma once

#include "support/CliProcess.h"
#include "support/TestFiles.h"

#include <filesystem>
#include <string>
#include <vector>

namespace ludex::test {

using ludex::testing::RunCli;
using ludex::testing::StartCli;
using ludex::testing::TCliResult;

// A fresh folder for the files one test writes; removed with everything in it at the end.
class TScratchFolder : public ludex::testing::TempDir {
public:
    std::string Path(const std::string& name) const { return File(name); }
    // Copies a file of tests/data/cli into the folder and returns the copy's path.
    std::string CopyData(const std::string& name) const;
};

// Path of a file in tests/data/cli.
std::string DataFile(const std::string& name);

using ludex::testing::ReadAll;

} // namespace ludex::test
