#include "core/base/PosixFileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ludex {

namespace {

TSystemResult LastError() {
    return TSystemResult(errno);
}

// Calls `call` again for as long as it is interrupted by a signal; returns its last result.
template <typename TCall>
auto Retried(TCall call) {
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR) {
            return result;
        }
    }
}

TFileStatus StatusOf(const struct stat& st) {
    TFileStatus status;
    status.kind = S_ISREG(st.st_mode)   ? TFileKind::Regular
                  : S_ISDIR(st.st_mode) ? TFileKind::Folder
                                        : TFileKind::Other;
    status.permissions = static_cast<uint32_t>(st.st_mode & 07777);
    status.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return status;
}

// Owns a descriptor and closes it on every way out.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : fd_(fd) {}
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    ~TDescriptor() { (void)Close(); }

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }

    TSystemResult Close() {
        if (fd_ < 0) {
            return {};
        }
        const int result = ::close(fd_);
        fd_ = -1;
        // Linux has released the descriptor even when close is interrupted, and retrying could
        // close a descriptor opened since; an interruption says nothing about the bytes either.
        return result == 0 || errno == EINTR ? TSystemResult() : LastError();
    }

private:
    int fd_;
};

class TPosixReadableFile final : public IReadableFile {
public:
    explicit TPosixReadableFile(int fd) : fd_(fd) {}

    TSystemResult Read(char* buffer, size_t capacity, size_t& received) override {
        received = 0;
        const ssize_t n = Retried([&] { return ::read(fd_.Get(), buffer, capacity); });
        if (n < 0) {
            return LastError();
        }
        received = static_cast<size_t>(n);
        return {};
    }

    TSystemResult Status(TFileStatus& status) override {
        struct stat st {};
        if (::fstat(fd_.Get(), &st) != 0) {
            return LastError();
        }
        status = StatusOf(st);
        return {};
    }

private:
    TDescriptor fd_;
};

class TPosixWritableFile final : public IWritableFile {
public:
    TPosixWritableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    const std::string& Path() const override { return path_; }

    TSystemResult Write(std::string_view bytes, size_t& written) override {
        written = 0;
        if (bytes.empty()) {
            return {};
        }
        const ssize_t n = Retried([&] { return ::write(fd_.Get(), bytes.data(), bytes.size()); });
        if (n < 0) {
            return LastError();
        }
        if (n == 0) {
            return TSystemResult(EIO); // a regular file never takes nothing without saying why
        }
        written = static_cast<size_t>(n);
        return {};
    }

    TSystemResult SetPermissions(uint32_t permissions) override {
        if (::fchmod(fd_.Get(), static_cast<mode_t>(permissions & 07777)) != 0) {
            return LastError();
        }
        return {};
    }

    TSystemResult Sync() override {
        if (Retried([&] { return ::fsync(fd_.Get()); }) != 0) {
            return LastError();
        }
        return {};
    }

    TSystemResult Close() override { return fd_.Close(); }

private:
    TDescriptor fd_;
    std::string path_;
};

} // namespace

TSystemResult TPosixFileSystem::OpenForReading(const std::string& path,
                                               std::unique_ptr<IReadableFile>& file) {
    const int fd = Retried([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
        return LastError();
    }
    file = std::make_unique<TPosixReadableFile>(fd);
    return {};
}

TSystemResult TPosixFileSystem::CreateTemporary(const std::string& folder, const std::string& nameStart,
                                                std::unique_ptr<IWritableFile>& file) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += nameStart;
    path += "XXXXXX";
    // mkostemp creates the file exclusively, with permissions 0600 whatever the umask.
    const int fd = Retried([&] { return ::mkostemp(path.data(), O_CLOEXEC); });
    if (fd < 0) {
        return LastError();
    }
    file = std::make_unique<TPosixWritableFile>(fd, std::move(path));
    return {};
}

TSystemResult TPosixFileSystem::SyncFolder(const std::string& folder) {
    TDescriptor fd(Retried([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!fd.IsOpen()) {
        return LastError();
    }
    if (Retried([&] { return ::fsync(fd.Get()); }) != 0) {
        // A file system that cannot sync a folder says so with EINVAL: it keeps its names as
        // durably as it can without being asked, so there is nothing to report.
        if (errno != EINVAL) {
            return LastError();
        }
    }
    return fd.Close();
}

TSystemResult TPosixFileSystem::Rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return LastError();
    }
    return {};
}

TSystemResult TPosixFileSystem::Remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        return LastError();
    }
    return {};
}

TSystemResult TPosixFileSystem::Stat(const std::string& path, TFileStatus& status) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return LastError();
    }
    status = StatusOf(st);
    return {};
}

IFileSystem& PosixFileSystem() {
    static TPosixFileSystem fileSystem;
    return fileSystem;
}

} // namespace ludex
