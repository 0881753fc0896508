#include "support/SaveFaults.h"

#include "core/base/Exception.h"
#include "support/FaultyFileSystem.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <vector>

namespace ludex::testing {

namespace {

namespace fs = std::filesystem;

struct TSaveFault {
    std::string name;
    TFileOperation operation; // the operation that fails
    int n;                    // the how-manieth of its kind
    int error;
    uint64_t spaceLeft = UINT64_MAX; // with ENOSPC: the bytes written before the disk is full
};

// A disk that is full after `spaceLeft` bytes: the write after the ones that fill it fails.
TSaveFault NoSpace(std::string name, uint64_t spaceLeft, size_t writeSize) {
    const int filling = static_cast<int>((spaceLeft + writeSize - 1) / writeSize);
    return {std::move(name), TFileOperation::Write, filling + 1, ENOSPC, spaceLeft};
}

std::set<std::string> NamesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

void PutBack(const std::string& target, const std::string* bytes) {
    std::error_code ignored;
    fs::remove(target, ignored);
    if (bytes != nullptr) {
        std::ofstream out(target, std::ios::binary);
        out << *bytes;
        ASSERT_TRUE(out.flush()) << "cannot restore " << target;
    }
}

} // namespace

void ExpectSaveSurvivesFaults(const std::string& target, const std::string& oldBytes,
                              const std::function<void()>& save) {
    PutBack(target, &oldBytes);
    save();
    const std::string newBytes = ReadAll(target);
    ASSERT_NE(newBytes, oldBytes) << "the save must change the file for the test to see anything";
    ASSERT_GE(newBytes.size(), 64u) << "too few bytes to fail the save at several places";

    // Four writes at least, so that the first, a middle and the last write are different ones.
    const size_t writeSize = (newBytes.size() + 3) / 4;
    const int writes = static_cast<int>((newBytes.size() + writeSize - 1) / writeSize);
    const uint64_t size = newBytes.size();
    using enum TFileOperation;
    const std::vector<TSaveFault> faults = {
        {"status of the target", Stat, 1, EACCES},
        {"creating the temporary file", CreateTemporary, 1, EACCES},
        {"setting its permissions", SetPermissions, 1, EPERM},
        {"first write", Write, 1, EIO},
        {"second write", Write, 2, EFBIG},
        {"last write", Write, writes, EIO},
        {"syncing the file", SyncFile, 1, EIO},
        {"closing the file", Close, 1, EDQUOT},
        {"renaming it over the target", Rename, 1, EBUSY},
        {"syncing the folder", SyncFolder, 1, EIO},
        NoSpace("no space from the start", 0, writeSize),
        NoSpace("no space after one byte", 1, writeSize),
        NoSpace("no space within the first write", writeSize - 1, writeSize),
        NoSpace("no space right after the first write", writeSize, writeSize),
        NoSpace("no space just after the first write", writeSize + 1, writeSize),
        NoSpace("no space before the last byte", size - 1, writeSize),
    };

    const fs::path folder = fs::path(target).parent_path();
    for (const TSaveFault& fault : faults) {
        for (const bool existing : {true, false}) {
            SCOPED_TRACE(fault.name + (existing ? ", replacing a file" : ", creating a file"));
            PutBack(target, existing ? &oldBytes : nullptr);
            const std::set<std::string> before = NamesIn(folder);

            TFaultyFileSystem faulty;
            faulty.LimitWriteSize(writeSize);
            if (fault.error == ENOSPC) {
                faulty.NoSpaceAfter(fault.spaceLeft);
            } else {
                faulty.FailNth(fault.operation, fault.n, fault.error);
            }
            std::string message;
            {
                const TFileSystemOverride override(faulty);
                try {
                    save();
                    ADD_FAILURE() << "the save succeeded";
                } catch (const EInOutError& e) {
                    message = e.Message();
                } catch (const std::exception& e) {
                    ADD_FAILURE() << "not an input/output error: " << e.what();
                }
            }
            EXPECT_EQ(faulty.Count(fault.operation), fault.n)
                << "the fault was not met where it was meant to be";
            EXPECT_NE(message.find(target), std::string::npos) << message;
            EXPECT_NE(message.find(std::generic_category().message(fault.error)), std::string::npos)
                << message;

            const bool replaced = fault.operation == SyncFolder;
            std::set<std::string> expected = before;
            if (replaced) {
                expected.insert(fs::path(target).filename().string());
                EXPECT_EQ(ReadAll(target), newBytes);
            } else if (existing) {
                EXPECT_EQ(ReadAll(target), oldBytes);
            } else {
                EXPECT_FALSE(fs::exists(target));
            }
            EXPECT_EQ(NamesIn(folder), expected) << "a temporary file was left behind";
        }
    }
    PutBack(target, &oldBytes);
}

} // namespace ludex::testing
