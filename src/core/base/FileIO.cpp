#include "core/base/FileIO.h"

#include "core/base/Exception.h"
#include "core/base/FileSystem.h"

#include <cerrno>

namespace ludex {

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, TSystemResult result) {
    throw EInOutError(std::string(what) + " \"" + path + "\": " + result.Reason());
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary file of one save, from its creation until it has taken the target's name.
// Abandoning it, or leaving its scope in any other way before Renamed, closes and removes it.
// Errors name the target, not the temporary file, since the target is what the user asked to
// write.
class TTemporaryFile {
public:
    TTemporaryFile(IFileSystem& fileSystem, std::unique_ptr<IWritableFile> file, std::string target)
        : fileSystem_(fileSystem), file_(std::move(file)), path_(file_->Path()), target_(std::move(target)) {}
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    ~TTemporaryFile() {
        if (!gone_) {
            file_.reset();
            (void)fileSystem_.Remove(path_);
        }
    }

    IWritableFile& File() { return *file_; }
    const std::string& Path() const { return path_; }

    // The file now has the target's name: there is nothing left to remove.
    void Renamed() { gone_ = true; }

    [[noreturn]] void Abandon(const char* what, TSystemResult result) {
        file_.reset();
        gone_ = true;
        std::string message = std::string(what) + " \"" + target_ + "\": " + result.Reason();
        if (const TSystemResult removed = fileSystem_.Remove(path_); removed.Failed()) {
            message += "\nThe temporary file \"" + path_ + "\" cannot be removed: " + removed.Reason();
        }
        throw EInOutError(message);
    }

    // Writes all the bytes, in as many writes as the file system needs.
    void WriteAll(std::string_view bytes) {
        while (!bytes.empty()) {
            size_t written = 0;
            if (const TSystemResult result = file_->Write(bytes, written); result.Failed()) {
                Abandon("Cannot write", result);
            }
            if (written == 0 || written > bytes.size()) {
                Abandon("Cannot write", TSystemResult(EIO));
            }
            bytes.remove_prefix(written);
        }
    }

private:
    IFileSystem& fileSystem_;
    std::unique_ptr<IWritableFile> file_;
    std::string path_;
    std::string target_;
    bool gone_ = false;
};

} // namespace

std::string ReadFileBytes(const std::string& path) {
    return ReadFileBytes(path, nullptr);
}

std::string ReadFileBytes(const std::string& path, const std::function<void(std::string_view)>& received) {
    std::unique_ptr<IReadableFile> file;
    if (const TSystemResult result = CurrentFileSystem().OpenForReading(path, file); result.Failed()) {
        Fail("Cannot open", path, result);
    }
    TFileStatus status;
    if (const TSystemResult result = file->Status(status); result.Failed()) {
        Fail("Cannot read", path, result);
    }
    if (status.kind == TFileKind::Folder) {
        Fail("Cannot read", path, TSystemResult(EISDIR));
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(status.size));
    char buffer[65536];
    for (;;) {
        size_t n = 0;
        if (const TSystemResult result = file->Read(buffer, sizeof buffer, n); result.Failed()) {
            Fail("Cannot read", path, result);
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, n);
        if (received) {
            received(bytes);
        }
    }
    return bytes;
}

bool FileExists(const std::string& path) {
    TFileStatus status;
    return !path.empty() && !CurrentFileSystem().Stat(path, status).Failed() &&
           status.kind == TFileKind::Regular;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    if (path.empty()) {
        throw EInOutError("Cannot write a file without a name");
    }
    IFileSystem& fileSystem = CurrentFileSystem();
    uint32_t permissions = 0600;
    TFileStatus existing;
    if (const TSystemResult result = fileSystem.Stat(path, existing); result.Failed()) {
        if (result.Error() != ENOENT) {
            Fail("Cannot write", path, result);
        }
    } else if (existing.kind == TFileKind::Folder) {
        Fail("Cannot write", path, TSystemResult(EISDIR));
    } else {
        permissions = existing.permissions;
    }

    // The new bytes go to a file of their own in the target's folder, so that the rename below,
    // within one file system, replaces the target in one step.
    const std::string folder = FolderOf(path);
    std::unique_ptr<IWritableFile> created;
    if (const TSystemResult result = fileSystem.CreateTemporary(folder, NameOf(path) + ".", created);
        result.Failed()) {
        Fail("Cannot write", path, result);
    }
    TTemporaryFile temporary(fileSystem, std::move(created), path);
    if (const TSystemResult result = temporary.File().SetPermissions(permissions); result.Failed()) {
        temporary.Abandon("Cannot write", result);
    }
    temporary.WriteAll(bytes);
    if (const TSystemResult result = temporary.File().Sync(); result.Failed()) {
        temporary.Abandon("Cannot write", result);
    }
    if (const TSystemResult result = temporary.File().Close(); result.Failed()) {
        temporary.Abandon("Cannot write", result);
    }
    if (const TSystemResult result = fileSystem.Rename(temporary.Path(), path); result.Failed()) {
        temporary.Abandon("Cannot replace", result);
    }
    temporary.Renamed();

    // The target holds all the new bytes now. Until its folder is synced, a crash of the system
    // may still bring back the old file; the caller hears of it, so that it does not take the
    // save for done (a document stays marked modified and is saved again).
    if (const TSystemResult result = fileSystem.SyncFolder(folder); result.Failed()) {
        throw EInOutError(
            "\"" + path + "\" has been written, but its folder \"" + folder +
            "\" cannot be synced to disk, so a system crash may undo the change: " + result.Reason());
    }
}

void RenameFile(const std::string& from, const std::string& to) {
    if (const TSystemResult result = CurrentFileSystem().Rename(from, to); result.Failed()) {
        throw EInOutError("Cannot rename \"" + from + "\" to \"" + to + "\": " + result.Reason());
    }
}

} // namespace ludex
