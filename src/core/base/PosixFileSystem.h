#pragma once

#include "core/base/FileSystem.h"

namespace ludex {

// The file system of the operating system, through its POSIX calls. Interrupted calls are
// retried; every other error is reported with the system's errno. Temporary files are locked with
// flock, which ends with the process, so that a file whose writer was killed is known as such.
// Unnamed files are Linux's O_TMPFILE, named through /proc/self/fd.
class TPosixFileSystem final : public IFileSystem {
public:
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
};

// The one POSIX file system of the process.
IFileSystem& PosixFileSystem();

} // namespace ludex
