#include "core/base/FileIO.h"
#include "core/base/Exception.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace ludex;

namespace {

class FileIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("ludex_fileio_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    size_t EntriesInFolder() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    fs::path dir_;
};

TEST_F(FileIOTest, WritesNewFileOwnerOnlyAndReadsItBack) {
    std::string bytes("a\0b\r\n", 5);
    WriteFileAtomically(Path("new.ldx"), bytes);
    EXPECT_EQ(ReadFileBytes(Path("new.ldx")), bytes);
    struct stat st {};
    ASSERT_EQ(::stat(Path("new.ldx").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(EntriesInFolder(), 1u) << "no temporary file may be left behind";
}

TEST_F(FileIOTest, ReplacingKeepsPermissions) {
    WriteFileAtomically(Path("f"), "old");
    ASSERT_EQ(::chmod(Path("f").c_str(), 0644), 0);
    WriteFileAtomically(Path("f"), "new text");
    EXPECT_EQ(ReadFileBytes(Path("f")), "new text");
    struct stat st {};
    ASSERT_EQ(::stat(Path("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(FileIOTest, FailedWriteLeavesOldFileAndNamesTarget) {
    WriteFileAtomically(Path("keep"), "precious");
    // A folder in place of the target cannot be replaced by a file.
    fs::create_directories(dir_ / "folder");
    try {
        WriteFileAtomically(Path("folder"), "x");
        FAIL() << "expected an error";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find(Path("folder")), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("directory"), std::string::npos) << e.Message();
    }
    // A path below a regular file cannot be created at all.
    EXPECT_THROW(WriteFileAtomically(Path("keep") + "/child", "x"), EInOutError);
    EXPECT_EQ(ReadFileBytes(Path("keep")), "precious");
    EXPECT_EQ(EntriesInFolder(), 2u);
}

TEST_F(FileIOTest, ReadErrorsNameTheFile) {
    try {
        ReadFileBytes(Path("missing"));
        FAIL() << "expected an error";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find("missing"), std::string::npos);
        EXPECT_NE(e.Message().find("No such file"), std::string::npos) << e.Message();
    }
    EXPECT_THROW(ReadFileBytes(dir_.string()), EInOutError);
    EXPECT_FALSE(FileExists(Path("missing")));
    EXPECT_FALSE(FileExists(dir_.string()));
    EXPECT_FALSE(FileExists(""));
}

} // namespace
