#pragma once

#include "core/base/FileSystem.h"

namespace ludex {

// The file system of the operating system, through its POSIX calls. Interrupted calls are
// retried; every other error is reported with the system's errno.
class TPosixFileSystem final : public IFileSystem {
public:
    TSystemResult OpenForReading(const std::string& path, std::unique_ptr<IReadableFile>& file) override;
    TSystemResult CreateTemporary(const std::string& folder, const std::string& nameStart,
                                  std::unique_ptr<IWritableFile>& file) override;
    TSystemResult SyncFolder(const std::string& folder) override;
    TSystemResult Rename(const std::string& from, const std::string& to) override;
    TSystemResult Remove(const std::string& path) override;
    TSystemResult Stat(const std::string& path, TFileStatus& status) override;
};

// The one POSIX file system of the process.
IFileSystem& PosixFileSystem();

} // namespace ludex
