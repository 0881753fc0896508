#include "core/base/FileIO.h"
#include "core/base/Exception.h"
#include "core/base/FileSystem.h"
#include "support/FaultyFileSystem.h"
#include "support/SaveFaults.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using namespace ludex;
using ludex::testing::ReadAll;

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

TEST_F(FileIOTest, ProgressFollowsTheWriteAndMayGiveTheSaveUp) {
    const std::string bytes(kSaveProgressStep * 2 + 7, 'x');
    WriteFileAtomically(Path("doc"), "old");
    WriteFileAtomically(Path("doc"), "old", {.backups = 2});
    const std::vector<std::string> before = {ReadFileBytes(Path("doc")),
                                             ReadFileBytes(BackupName(Path("doc"), 1))};

    // Each call that may give up, the last one being the one just before the old file is touched.
    const size_t calls = 4;
    for (size_t stopAt = 0; stopAt < calls; ++stopAt) {
        SCOPED_TRACE(stopAt);
        size_t seen = 0;
        TSaveOptions options{.backups = 2};
        options.progress = [&](size_t written, size_t total) {
            EXPECT_EQ(total, bytes.size());
            EXPECT_LE(written, total);
            if (seen++ == stopAt) {
                throw ECancelled();
            }
        };
        EXPECT_THROW(WriteFileAtomically(Path("doc"), bytes, options), ECancelled);
        EXPECT_EQ(ReadFileBytes(Path("doc")), before[0]);
        EXPECT_EQ(ReadFileBytes(BackupName(Path("doc"), 1)), before[1]) << "no backup moved";
        EXPECT_FALSE(FileExists(BackupName(Path("doc"), 2)));
        EXPECT_EQ(EntriesInFolder(), 2u) << "no temporary file may be left behind";
    }

    std::vector<size_t> reported;
    TSaveOptions options{.backups = 2};
    options.progress = [&](size_t written, size_t) { reported.push_back(written); };
    WriteFileAtomically(Path("doc"), bytes, options);
    EXPECT_EQ(ReadFileBytes(Path("doc")), bytes);
    EXPECT_EQ(reported,
              (std::vector<size_t>{kSaveProgressStep, kSaveProgressStep * 2, bytes.size(), bytes.size()}));
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

namespace {

using ludex::testing::ExpectReadFaultsReported;
using ludex::testing::ExpectSaveSurvivesFaults;
using ludex::testing::TempDir;
using ludex::testing::TFaultyFileSystem;
using ludex::testing::TFileOperation;
using ludex::testing::TJournalEntry;

std::string Lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "line " + std::to_string(i) + "\r\n";
    }
    return text;
}

TEST(FileIOSeamTest, AtomicWriteSurvivesEveryFault) {
    const TempDir folder;
    const std::string target = folder.File("notes.ldx");
    folder.Write("neighbour", "not to be touched");
    const std::string bytes = Lines(200);
    ExpectSaveSurvivesFaults(target, "old bytes", [&] { WriteFileAtomically(target, bytes); });
    EXPECT_EQ(ReadAll(folder.File("neighbour")), "not to be touched");
}

// The order is what makes the save safe, and no fault can show it: the bytes are on the disk
// before the temporary file gets a name and before that name moves, and the folder is synced
// after it. The temporary file has no name while it is written, and then a short one of its own.
TEST(FileIOSeamTest, AtomicWriteStepsInOrder) {
    const TempDir folder;
    const std::string target = folder.Write("notes.ldx", "old");
    const std::string bytes = Lines(30);
    TFaultyFileSystem faulty;
    faulty.LimitWriteSize(bytes.size() / 2 + 1);
    {
        const TFileSystemOverride override(faulty);
        WriteFileAtomically(target, bytes);
    }
    EXPECT_EQ(ReadAll(target), bytes);

    const std::vector<TJournalEntry>& journal = faulty.Journal();
    ASSERT_EQ(journal.size(), 13u);
    const std::string temporary = journal[10].path;
    EXPECT_EQ(fs::path(temporary).parent_path(), folder.Path());
    const std::string name = fs::path(temporary).filename().string();
    EXPECT_TRUE(name.starts_with(".ludex-") && name.ends_with(".tmp") && name.size() == 17) << temporary;
    using enum TFileOperation;
    const std::string in = folder.Path().string();
    const std::vector<TJournalEntry> expected = {
        {LinkStatus, target}, {CheckWriteAccess, target},
        {ListFolder, in},     {CreateUnnamed, in},
        {SetOwner, ""},       {SetPermissions, ""},
        {Write, ""},          {Write, ""},
        {SyncFile, ""},       {Link, in},
        {Close, temporary},   {Rename, temporary + " -> " + target},
        {SyncFolder, in},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(journal[i], expected[i]) << "step " << i << ": " << journal[i].path;
    }
}

TEST(FileIOSeamTest, FileNamedWithoutFolderIsWrittenInTheCurrentOne) {
    const TempDir folder;
    const fs::path before = fs::current_path();
    fs::current_path(folder.Path());
    TFaultyFileSystem faulty;
    {
        const TFileSystemOverride override(faulty);
        WriteFileAtomically("bare.ldx", "text");
    }
    fs::current_path(before);
    EXPECT_EQ(ReadAll(folder.File("bare.ldx")), "text");
    ASSERT_FALSE(faulty.Journal().empty());
    const auto created =
        std::find_if(faulty.Journal().begin(), faulty.Journal().end(),
                     [](const auto& entry) { return entry.operation == TFileOperation::CreateUnnamed; });
    ASSERT_NE(created, faulty.Journal().end());
    EXPECT_EQ(created->path, ".");
    EXPECT_EQ(faulty.Journal().back(), (TJournalEntry{TFileOperation::SyncFolder, "."}));
}

TEST(FileIOSeamTest, ReadFailuresReachTheCaller) {
    const TempDir folder;
    const std::string path = folder.Write("notes.ldx", Lines(100));
    ExpectReadFaultsReported(path,
                             {
                                 {"open", TFileOperation::OpenForReading, 1, EACCES},
                                 {"status", TFileOperation::ReadStatus, 1, EIO},
                                 {"first read", TFileOperation::Read, 1, EIO},
                                 {"a later read", TFileOperation::Read, 3, EIO},
                             },
                             {.prepare = {},
                              .load = [&] { ReadFileBytes(path); },
                              .check = {},
                              .readSize = 100}); // several reads for the file

    // Read in small pieces, the bytes come whole, and the watcher sees every piece arrive.
    TFaultyFileSystem faulty;
    faulty.LimitReadSize(7);
    const TFileSystemOverride override(faulty);
    size_t calls = 0;
    size_t seen = 0;
    EXPECT_EQ(ReadFileBytes(path,
                            [&](std::string_view soFar) {
                                ++calls;
                                EXPECT_GT(soFar.size(), seen);
                                seen = soFar.size();
                            }),
              Lines(100));
    EXPECT_EQ(seen, Lines(100).size());
    EXPECT_EQ(calls, (seen + 6) / 7);
}

TEST(FileIOSeamTest, ExistenceAndRenamingGoThroughTheSeam) {
    const TempDir folder;
    const std::string from = folder.Write("settings.xml", "broken");
    const std::string to = folder.Write("settings.xml.broken", "older");
    TFaultyFileSystem faulty;
    const TFileSystemOverride override(faulty);

    faulty.FailNth(TFileOperation::Stat, 1, EACCES);
    EXPECT_FALSE(FileExists(from)); // a file that cannot be looked at is not there for the program
    EXPECT_TRUE(FileExists(from));

    faulty.FailNth(TFileOperation::Rename, 1, EXDEV);
    try {
        RenameFile(from, to);
        ADD_FAILURE() << "the rename succeeded";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find(from), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find(to), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find(std::generic_category().message(EXDEV)), std::string::npos) << e.Message();
    }
    EXPECT_EQ(ReadAll(from), "broken");
    EXPECT_EQ(ReadAll(to), "older");

    RenameFile(from, to); // replaces the older copy
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(ReadAll(to), "broken");
}

} // namespace
