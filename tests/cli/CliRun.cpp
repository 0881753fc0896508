#include "CliRun.h"

namespace ludex::test {

namespace fs = std::filesystem;

std::string DataFile(const std::string& name) {
    return std::string(LUDEX_TEST_DATA_DIR) + "/cli/" + name;
}

std::string TScratchFolder::CopyData(const std::string& name) const {
    return Write(name, ReadAll(DataFile(name)));
}

} // namespace ludex::test
