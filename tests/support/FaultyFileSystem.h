#pragma once

// A file system for tests that passes every operation on to a real one, except those it has
// been told to fail.

#include "core/base/FileSystem.h"
#include "core/base/PosixFileSystem.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ludex::testing {

// The kinds of operation the double counts, one for each member of the seam's interfaces.
enum class TFileOperation {
    OpenForReading,
    Read,
    ReadStatus, // the status of a file open for reading
    CreateTemporary,
    CreateUnnamed,
    Write,
    SetOwner,
    SetPermissions,
    SyncFile,
    Link, // naming a file made by CreateUnnamed
    Close,
    SyncFolder,
    Rename,
    Remove,
    Stat,
    LinkStatus,
    ReadLink,
    CheckWriteAccess,
    HardLink,
    ListFolder,
    RemoveAbandoned,
};

// The operation's name, for messages.
const char* OperationName(TFileOperation operation);

// One operation as the double saw it, with the file or folder it was about: the path given, or
// for operations on an open file the file's path ("" for a file open for reading, and for an
// unnamed file until it is named); "from -> to" for a rename or a hard link.
struct TJournalEntry {
    TFileOperation operation;
    std::string path;
    bool operator==(const TJournalEntry&) const = default;
};

class TFaultyFileSystem : public IFileSystem {
public:
    explicit TFaultyFileSystem(IFileSystem& real = PosixFileSystem());

    // The `n`th operation of the kind from now on (1 for the next) fails with `error` and does
    // nothing, except that a failing Close still closes the file, as the system's close does.
    void FailNth(TFileOperation operation, int n, int error);
    // Once `bytes` bytes have been written in all, writes fail with ENOSPC; the write that
    // reaches the limit is cut short at it, as the system cuts it short on a full disk.
    void NoSpaceAfter(uint64_t bytes);
    // Every write passes at most `bytes` bytes on, so that a writer has to write several times.
    void LimitWriteSize(size_t bytes);
    // Every read gives at most `bytes` bytes.
    void LimitReadSize(size_t bytes);
    // From now on CreateUnnamed fails with EOPNOTSUPP, as on a file system that has no unnamed
    // files, and HardLink with EPERM, as on one that has no hard links. The refusals are
    // operations like any other: journaled, counted and, if told, failed otherwise.
    void RefuseUnnamedFiles() { refuseUnnamed_ = true; }
    void RefuseHardLinks() { refuseHardLinks_ = true; }

    // How many operations of the kind have been asked for, failed ones included.
    int Count(TFileOperation operation) const;
    // Every operation asked for, in order, failed ones included.
    const std::vector<TJournalEntry>& Journal() const { return journal_; }

    TSystemResult OpenForReading(const std::string& path, std::unique_ptr<IReadableFile>& file) override;
    TSystemResult CreateTemporary(const std::string& folder, const std::string& nameStart,
                                  const std::string& nameEnd, std::unique_ptr<IWritableFile>& file) override;
    TSystemResult CreateUnnamed(const std::string& folder, std::unique_ptr<IWritableFile>& file) override;
    TSystemResult SyncFolder(const std::string& folder) override;
    TSystemResult Rename(const std::string& from, const std::string& to) override;
    TSystemResult Remove(const std::string& path) override;
    TSystemResult Stat(const std::string& path, TFileStatus& status) override;
    TSystemResult LinkStatus(const std::string& path, TFileStatus& status) override;
    TSystemResult ReadLink(const std::string& path, std::string& target) override;
    TSystemResult CheckWriteAccess(const std::string& path) override;
    TSystemResult HardLink(const std::string& existing, const std::string& link) override;
    TSystemResult ListFolder(const std::string& folder, std::vector<std::string>& names) override;
    TSystemResult RemoveAbandoned(const std::string& path) override;

private:
    class TReadable;
    class TWritable;

    // Records the operation, then fails it if it is to fail, else makes the `call` to the real
    // file system.
    template <typename TCall>
    TSystemResult Pass(TFileOperation operation, const std::string& path, TCall call);

    IFileSystem& real_;
    std::map<std::pair<TFileOperation, int>, int> faults_; // (kind, n) -> errno
    std::map<TFileOperation, int> counts_;
    std::vector<TJournalEntry> journal_;
    uint64_t spaceLeft_ = UINT64_MAX;
    size_t largestWrite_ = SIZE_MAX;
    size_t largestRead_ = SIZE_MAX;
    bool refuseUnnamed_ = false;
    bool refuseHardLinks_ = false;
};

// Passes everything on to the real file system, but holds every new file back (for a
// bounded time) until the test lets it go: what the test does meanwhile comes before the write.
class TGatedFileSystem : public TFaultyFileSystem {
public:
    std::atomic<bool> open{true};

    TSystemResult CreateUnnamed(const std::string& folder, std::unique_ptr<IWritableFile>& file) override {
        Wait();
        return TFaultyFileSystem::CreateUnnamed(folder, file);
    }
    TSystemResult CreateTemporary(const std::string& folder, const std::string& nameStart,
                                  const std::string& nameEnd, std::unique_ptr<IWritableFile>& file) override {
        Wait();
        return TFaultyFileSystem::CreateTemporary(folder, nameStart, nameEnd, file);
    }

private:
    void Wait() const {
        // Bounded, so that a test that forgets the gate fails instead of hanging.
        for (int i = 0; i < 10000 && !open.load(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

} // namespace ludex::testing
