#include "core/base/FileIO.h"

#include "core/base/Exception.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ludex {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
    throw EInOutError(std::string(what) + " \"" + path + "\": " + std::strerror(error));
}

// Closes a descriptor on every path out of a scope.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : fd_(fd) {}
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }
    // Closes now and reports the error close gives, since a deferred write error may surface here.
    int Close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

} // namespace

std::string ReadFileBytes(const std::string& path) {
    return ReadFileBytes(path, nullptr);
}

std::string ReadFileBytes(const std::string& path, const std::function<void(std::string_view)>& received) {
    TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        Fail("Cannot open", path, errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        Fail("Cannot read", path, errno);
    }
    if (S_ISDIR(st.st_mode)) {
        Fail("Cannot read", path, EISDIR);
    }
    std::string bytes;
    if (st.st_size > 0) {
        bytes.reserve(static_cast<size_t>(st.st_size));
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("Cannot read", path, errno);
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(n));
        if (received) {
            received(bytes);
        }
    }
    return bytes;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    if (path.empty()) {
        throw EInOutError("Cannot write a file without a name");
    }
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            Fail("Cannot write", path, EISDIR);
        }
        mode = existing.st_mode & 07777;
    }

    std::string temporary = path + ".XXXXXX";
    TFileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.Get() < 0) {
        Fail("Cannot write", path, errno);
    }
    auto failAndRemove = [&](int error) {
        ::unlink(temporary.c_str());
        Fail("Cannot write", path, error);
    };
    if (::fchmod(fd.Get(), mode) != 0) {
        failAndRemove(errno);
    }
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd.Get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            failAndRemove(errno);
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(fd.Get()) != 0) {
        failAndRemove(errno);
    }
    if (int error = fd.Close(); error != 0) {
        failAndRemove(error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        failAndRemove(errno);
    }
    // Make the rename itself durable; a folder that cannot be synced does not undo the write.
    TFileDescriptor folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0) {
        ::fsync(folder.Get());
    }
}

} // namespace ludex
