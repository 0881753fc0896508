#include "core/base/PosixFileSystem.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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
                  : S_ISLNK(st.st_mode) ? TFileKind::Link
                                        : TFileKind::Other;
    status.permissions = static_cast<uint32_t>(st.st_mode & 07777);
    status.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    status.owner = st.st_uid;
    status.group = st.st_gid;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    status.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return status;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string InFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Six characters of the kind mkstemp chooses, drawn afresh for every name.
std::string RandomNamePart() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    std::string part(6, 'X');
    for (char& c : part) {
        c = kLetters[pick(generator)];
    }
    return part;
}

// How often a name is drawn again when the one drawn is taken.
constexpr int kNameAttempts = 100;

// Owns a descriptor and closes it on every way out.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : fd_(fd) {}
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    ~TDescriptor() { (void)Close(); }

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }

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

// A file open for writing, with a second descriptor of the same open file that holds its lock
// until the object goes, so that closing the first (and hearing its errors) does not unlock it.
class TPosixWritableFile final : public IWritableFile {
public:
    TPosixWritableFile(int fd, int lock, std::string path) : fd_(fd), lock_(lock), path_(std::move(path)) {}

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

    TSystemResult SetOwner(uint32_t owner, uint32_t group) override {
        if (::fchown(fd_.Get(), static_cast<uid_t>(owner), static_cast<gid_t>(group)) != 0) {
            return LastError();
        }
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

    TSystemResult Link(const std::string& folder, const std::string& nameStart,
                       const std::string& nameEnd) override {
        if (!path_.empty() || !fd_.IsOpen()) {
            return TSystemResult(EINVAL);
        }
        // The descriptor's entry in /proc names the open file, which linkat can then link; the
        // direct way (AT_EMPTY_PATH) is for privileged processes only.
        const std::string open = "/proc/self/fd/" + std::to_string(fd_.Get());
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            std::string path = InFolder(folder, nameStart + RandomNamePart() + nameEnd);
            if (::linkat(AT_FDCWD, open.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                path_ = std::move(path);
                return {};
            }
            if (errno != EEXIST) {
                return LastError();
            }
        }
        return TSystemResult(EEXIST);
    }

    TSystemResult Close() override { return fd_.Close(); }

private:
    TDescriptor fd_;
    TDescriptor lock_;
    std::string path_;
};

// Locks the open file for as long as a descriptor of it stays open, and returns that second
// descriptor; -1 with errno when it cannot, EWOULDBLOCK when another holds the lock.
int LockedCopy(int fd) {
    if (Retried([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        return -1;
    }
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

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
                                                const std::string& nameEnd,
                                                std::unique_ptr<IWritableFile>& file) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string path = InFolder(folder, nameStart + "XXXXXX" + nameEnd);
        // mkostemps creates the file exclusively, with permissions 0600 whatever the umask.
        TDescriptor fd(
            Retried([&] { return ::mkostemps(path.data(), static_cast<int>(nameEnd.size()), O_CLOEXEC); }));
        if (!fd.IsOpen()) {
            return LastError();
        }
        // Until the lock is taken, another process's RemoveAbandoned may take the new file for
        // an abandoned one and remove it: then the name no longer leads to it, and a new one is
        // made. A lock held by that remover means the same.
        const int lock = LockedCopy(fd.Get());
        if (lock < 0) {
            if (errno == EWOULDBLOCK) {
                continue;
            }
            const TSystemResult error = LastError();
            (void)::unlink(path.c_str());
            return error;
        }
        TDescriptor lockHolder(lock);
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd.Get(), &opened) != 0 || ::lstat(path.c_str(), &named) != 0 ||
            !SameFile(opened, named)) {
            continue;
        }
        file = std::make_unique<TPosixWritableFile>(fd.Release(), lockHolder.Release(), std::move(path));
        return {};
    }
    return TSystemResult(EEXIST);
}

TSystemResult TPosixFileSystem::CreateUnnamed(const std::string& folder,
                                              std::unique_ptr<IWritableFile>& file) {
    const std::string where = folder.empty() ? "." : folder;
    TDescriptor fd(Retried([&] { return ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); }));
    if (!fd.IsOpen()) {
        return LastError();
    }
    // Without /proc the file could never be named (see Link): a named temporary file serves.
    if (::access(("/proc/self/fd/" + std::to_string(fd.Get())).c_str(), F_OK) != 0) {
        return TSystemResult(EOPNOTSUPP);
    }
    TDescriptor lock(LockedCopy(fd.Get()));
    if (!lock.IsOpen()) {
        return LastError();
    }
    file = std::make_unique<TPosixWritableFile>(fd.Release(), lock.Release(), std::string());
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

TSystemResult TPosixFileSystem::LinkStatus(const std::string& path, TFileStatus& status) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return LastError();
    }
    status = StatusOf(st);
    return {};
}

TSystemResult TPosixFileSystem::ReadLink(const std::string& path, std::string& target) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) {
            return LastError();
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            target = std::move(buffer);
            return {};
        }
        buffer.resize(buffer.size() * 2); // it may have been cut short
    }
}

TSystemResult TPosixFileSystem::CheckWriteAccess(const std::string& path) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        return LastError();
    }
    return {};
}

TSystemResult TPosixFileSystem::HardLink(const std::string& existing, const std::string& link) {
    if (::link(existing.c_str(), link.c_str()) != 0) {
        return LastError();
    }
    return {};
}

TSystemResult TPosixFileSystem::ListFolder(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                                  ::closedir);
    if (!dir) {
        return LastError();
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            return errno != 0 ? LastError() : TSystemResult();
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
}

TSystemResult TPosixFileSystem::RemoveAbandoned(const std::string& path) {
    // Neither a link nor a pipe is opened through: O_NOFOLLOW refuses the one and O_NONBLOCK
    // keeps the other from waiting for a writer.
    TDescriptor fd(
        Retried([&] { return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    if (!fd.IsOpen()) {
        return errno == ELOOP ? TSystemResult(EPERM) : LastError();
    }
    struct stat opened {};
    if (::fstat(fd.Get(), &opened) != 0) {
        return LastError();
    }
    if (!S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) {
        return TSystemResult(EPERM);
    }
    if (Retried([&] { return ::flock(fd.Get(), LOCK_EX | LOCK_NB); }) != 0) {
        return errno == EWOULDBLOCK ? TSystemResult(EBUSY) : LastError();
    }
    // The lock is ours, so no writer holds the file; the name must still lead to it.
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || !SameFile(opened, named)) {
        return TSystemResult(EBUSY);
    }
    if (::unlink(path.c_str()) != 0) {
        return LastError();
    }
    return {};
}

IFileSystem& PosixFileSystem() {
    static TPosixFileSystem fileSystem;
    return fileSystem;
}

} // namespace ludex
