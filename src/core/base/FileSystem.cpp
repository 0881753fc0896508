#include "core/base/FileSystem.h"

#include "core/base/PosixFileSystem.h"

#include <atomic>
#include <system_error>

namespace ludex {

namespace {

// Null stands for the POSIX file system, so that nothing needs setting up before first use.
std::atomic<IFileSystem*> currentFileSystem{nullptr};

} // namespace

std::string TSystemResult::Reason() const {
    // The generic category gives strerror's text without strerror's shared buffer.
    return std::generic_category().message(error_);
}

IFileSystem& CurrentFileSystem() {
    IFileSystem* current = currentFileSystem.load();
    return current != nullptr ? *current : PosixFileSystem();
}

TFileSystemOverride::TFileSystemOverride(IFileSystem& fileSystem)
    : previous_(currentFileSystem.exchange(&fileSystem)) {}

TFileSystemOverride::~TFileSystemOverride() {
    currentFileSystem.store(previous_);
}

} // namespace ludex
