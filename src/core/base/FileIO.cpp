#include "core/base/FileIO.h"

#include "core/base/Exception.h"
#include "core/base/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

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

std::string InFolder(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// The system follows at most this many links in one path, and so does a save.
constexpr int kMostLinks = 40;

// Temporary files that have a name are named so: short, whatever the target's name, and told
// apart from the user's files by the dot, the program's name and the six chosen characters.
constexpr std::string_view kTemporaryStart = ".ludex-";
constexpr std::string_view kTemporaryEnd = ".tmp";

bool IsTemporaryName(std::string_view name) {
    if (name.size() != kTemporaryStart.size() + 6 + kTemporaryEnd.size() ||
        !name.starts_with(kTemporaryStart) || !name.ends_with(kTemporaryEnd)) {
        return false;
    }
    for (const char c : name.substr(kTemporaryStart.size(), 6)) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit) {
            return false;
        }
    }
    return true;
}

// The file a save replaces, found by following links from the path the caller gave.
struct TSaveTarget {
    std::string given; // the path as the caller gave it
    std::string path;  // the file to replace: `given`, or the file its links lead to
    bool exists = false;
    TFileStatus status; // of the existing file

    // The file for messages: "notes.ldx", or "link" (which leads to "notes.ldx"), quoted.
    std::string Described() const {
        std::string text = "\"" + given + "\"";
        if (path != given) {
            text += " (which leads to \"" + path + "\")";
        }
        return text;
    }
};

[[noreturn]] void Fail(const char* what, const TSaveTarget& target, TSystemResult result) {
    throw EInOutError(std::string(what) + " " + target.Described() + ": " + result.Reason());
}

[[noreturn]] void Refuse(const TSaveTarget& target, const std::string& why) {
    throw EInOutError("Cannot write " + target.Described() + ": " + why);
}

// Follows the links at `path` to the file to replace and refuses a file that must not be
// replaced. Only a file that exists is looked at further.
TSaveTarget ResolveTarget(IFileSystem& fileSystem, const std::string& path) {
    TSaveTarget target;
    target.given = path;
    target.path = path;
    TFileStatus status;
    if (const TSystemResult result = fileSystem.LinkStatus(path, status); result.Failed()) {
        if (result.Error() != ENOENT) {
            Fail("Cannot write", target, result);
        }
        return target;
    }
    if (status.kind == TFileKind::Link) {
        // The file the system reaches through the links, and then their texts one by one, so that
        // the file is replaced under its own name in its own folder. The two must agree: a link
        // whose text is no path to its file (a process's open file, a removed one) is not followed.
        TFileStatus reached;
        bool reachedExists = true;
        if (const TSystemResult result = fileSystem.Stat(path, reached); result.Failed()) {
            if (result.Error() != ENOENT) {
                Fail("Cannot write", target, result);
            }
            reachedExists = false;
        }
        if (reachedExists && reached.kind != TFileKind::Regular && reached.kind != TFileKind::Folder) {
            Refuse(target, "it leads to a pipe, a device or a socket, not to a regular file");
        }
        for (int links = 0; status.kind == TFileKind::Link; ++links) {
            if (target.path.starts_with("/proc/")) {
                Refuse(target, "it leads to a file that a process has open (such as its standard output), "
                               "not to a file that can be replaced");
            }
            if (links == kMostLinks) {
                Fail("Cannot write", target, TSystemResult(ELOOP));
            }
            std::string text;
            if (const TSystemResult result = fileSystem.ReadLink(target.path, text); result.Failed()) {
                Fail("Cannot write", target, result);
            }
            target.path = text.starts_with('/') ? text : InFolder(FolderOf(target.path), text);
            if (const TSystemResult result = fileSystem.LinkStatus(target.path, status); result.Failed()) {
                if (result.Error() != ENOENT) {
                    Fail("Cannot write", target, result);
                }
                if (reachedExists) {
                    Refuse(target, "its links cannot be followed to the file they lead to");
                }
                return target; // the links lead nowhere yet: the save makes the file they name
            }
        }
        if (!reachedExists || status.device != reached.device || status.inode != reached.inode) {
            Refuse(target, "its links cannot be followed to the file they lead to");
        }
    }
    target.exists = true;
    target.status = status;
    if (status.kind == TFileKind::Folder) {
        Fail("Cannot write", target, TSystemResult(EISDIR));
    }
    if (status.kind != TFileKind::Regular) {
        Refuse(target, "it is a pipe, a device or a socket, not a regular file");
    }
    // A file without any write permission bit has been made read-only on purpose, and stays so
    // also for a process that the system would let write it.
    if ((status.permissions & 0222) == 0) {
        Refuse(target, "the file is read-only");
    }
    if (const TSystemResult result = fileSystem.CheckWriteAccess(target.path); result.Failed()) {
        Refuse(target, "the file is read-only for this user: " + result.Reason());
    }
    return target;
}

// Removes the named temporary files in the folder that were left by saves that did not end (a
// killed process, a lost power supply). A file whose writer still lives is locked, and the lock
// keeps it. Tidying up is no part of the save: what cannot be removed stays for the next one.
void RemoveAbandonedTemporaries(IFileSystem& fileSystem, const std::string& folder, const std::string& keep) {
    std::vector<std::string> names;
    if (fileSystem.ListFolder(folder, names).Failed()) {
        return;
    }
    for (const std::string& name : names) {
        if (IsTemporaryName(name) && name != keep) {
            (void)fileSystem.RemoveAbandoned(InFolder(folder, name));
        }
    }
}

// The temporary file of one save, from its creation in the target's folder until it has taken
// a name there. Leaving its scope in any other way, or abandoning it, closes it, which is the end
// of a file that has no name yet, and removes its name otherwise. Errors name the target, not the
// temporary file, since the target is what the user asked to write.
class TTemporaryFile {
public:
    TTemporaryFile(IFileSystem& fileSystem, const std::string& folder, const TSaveTarget& target)
        : fileSystem_(fileSystem), folder_(folder), target_(target) {
        TSystemResult result = fileSystem_.CreateUnnamed(folder_, file_);
        const int error = result.Error();
        if (error == EOPNOTSUPP || error == EISDIR || error == EINVAL) { // a file system without them
            result = fileSystem_.CreateTemporary(folder_, std::string(kTemporaryStart),
                                                 std::string(kTemporaryEnd), file_);
        }
        if (result.Failed()) {
            Fail("Cannot write", target_, result);
        }
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    ~TTemporaryFile() {
        if (file_ != nullptr) {
            const std::string path = file_->Path();
            file_.reset();
            if (!path.empty()) {
                (void)fileSystem_.Remove(path);
            }
        }
    }

    // Gives the file the bytes and the permissions, and the owner and group of `replaced` where
    // allowed, and syncs it.
    void Fill(std::string_view bytes, const TFileStatus* replaced, const TSaveOptions& options = {}) {
        if (replaced != nullptr) {
            // The owner goes first, as a change of owner may clear permission bits. Someone else's
            // file becomes this user's; its group stays where the user belongs to it.
            TSystemResult result = file_->SetOwner(replaced->owner, replaced->group);
            if (result.Error() == EPERM) {
                result = file_->SetOwner(kKeepId, replaced->group);
            }
            if (result.Failed() && result.Error() != EPERM) {
                Abandon("Cannot write", result);
            }
        }
        // Set-id and sticky bits are not passed on: a document is no program.
        const uint32_t permissions = replaced != nullptr ? replaced->permissions & 0777 : 0600;
        if (const TSystemResult result = file_->SetPermissions(permissions); result.Failed()) {
            Abandon("Cannot write", result);
        }
        WriteAll(bytes, options);
        if (const TSystemResult result = file_->Sync(); result.Failed()) {
            Abandon("Cannot write", result);
        }
    }

    // Closes the complete file and renames it to `path`, replacing the file of that name. A file
    // without a name gets one first, for as short a time as the rename takes to follow.
    void MoveTo(const std::string& path) {
        if (file_->Path().empty()) {
            if (const TSystemResult result =
                    file_->Link(folder_, std::string(kTemporaryStart), std::string(kTemporaryEnd));
                result.Failed()) {
                Abandon("Cannot write", result);
            }
        }
        if (const TSystemResult result = file_->Close(); result.Failed()) {
            Abandon("Cannot write", result);
        }
        if (const TSystemResult result = fileSystem_.Rename(file_->Path(), path); result.Failed()) {
            Abandon("Cannot replace", result);
        }
        file_.reset(); // its name is taken: nothing is left to remove, and the lock goes
    }

private:
    [[noreturn]] void Abandon(const char* what, TSystemResult result) {
        const std::string path = file_->Path();
        file_.reset();
        std::string message = std::string(what) + " " + target_.Described() + ": " + result.Reason();
        if (!path.empty()) {
            if (const TSystemResult removed = fileSystem_.Remove(path); removed.Failed()) {
                message += "\nThe temporary file \"" + path + "\" cannot be removed: " + removed.Reason();
            }
        }
        throw EInOutError(message);
    }

    // Writes all the bytes, in as many writes as the file system needs and in pieces of at most
    // kSaveProgressStep bytes when someone follows the progress. What the progress throws leaves
    // the file to the destructor, which removes it.
    void WriteAll(std::string_view bytes, const TSaveOptions& options) {
        const size_t total = bytes.size();
        while (!bytes.empty()) {
            const std::string_view piece = options.progress ? bytes.substr(0, kSaveProgressStep) : bytes;
            size_t written = 0;
            if (const TSystemResult result = file_->Write(piece, written); result.Failed()) {
                Abandon("Cannot write", result);
            }
            if (written == 0 || written > piece.size()) {
                Abandon("Cannot write", TSystemResult(EIO));
            }
            bytes.remove_prefix(written);
            if (options.progress) {
                options.progress(total - bytes.size(), total);
            }
        }
    }

    IFileSystem& fileSystem_;
    std::string folder_;
    const TSaveTarget& target_;
    std::unique_ptr<IWritableFile> file_;
};

// Whether a hard link fails only because the file system or the file allows no further one.
bool HasNoHardLinks(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == EMLINK || error == ENOSYS;
}

// Keeps the target's present bytes as its backup 1, while the older backups move up by one and
// the one beyond `count` is replaced. The target keeps its name throughout: the backup is a second
// name for the same file, or a copy of it where the file system has no second names.
void KeepBackups(IFileSystem& fileSystem, const TSaveTarget& target, unsigned count) {
    const auto failure = [&](const std::string& what, TSystemResult result) {
        return EInOutError("Cannot keep a backup of " + target.Described() + ": " + what + ": " +
                           result.Reason());
    };
    for (unsigned n = count - 1; n >= 1; --n) {
        const std::string from = BackupName(target.path, n);
        const std::string to = BackupName(target.path, n + 1);
        if (const TSystemResult result = fileSystem.Rename(from, to); result.Failed()) {
            // A backup that is not there leaves a gap; one whose name would be too long cannot be.
            if (result.Error() != ENOENT && result.Error() != ENAMETOOLONG) {
                throw failure("cannot rename \"" + from + "\" to \"" + to + "\"", result);
            }
        }
    }
    const std::string newest = BackupName(target.path, 1);
    TSystemResult result = fileSystem.HardLink(target.path, newest);
    if (result.Error() == EEXIST) { // a count of 1 keeps the one backup in place
        if (const TSystemResult removed = fileSystem.Remove(newest); removed.Failed()) {
            throw failure("cannot remove \"" + newest + "\"", removed);
        }
        result = fileSystem.HardLink(target.path, newest);
    }
    if (!result.Failed() || result.Error() == ENAMETOOLONG) {
        return;
    }
    if (!HasNoHardLinks(result.Error())) {
        throw failure("cannot link \"" + newest + "\"", result);
    }
    std::string bytes;
    try {
        bytes = ReadFileBytes(target.path);
    } catch (const EInOutError& e) {
        throw EInOutError("Cannot keep a backup of " + target.Described() + ": " + e.Message());
    }
    TTemporaryFile copy(fileSystem, FolderOf(target.path), target);
    copy.Fill(bytes, &target.status);
    copy.MoveTo(newest);
}

} // namespace

namespace {

// Opens the file for reading; `size` is its size when opened. Throws for a folder.
std::unique_ptr<IReadableFile> OpenToRead(const std::string& path, uint64_t& size) {
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
    size = status.size;
    return file;
}

// Reads the open file to its end, a buffer at a time, then takes its status if asked. The
// buffer is wiped when done: a file read may be a password file.
void ReadToEnd(const std::string& path, IReadableFile& file,
               const std::function<void(std::string_view)>& piece, TFileStatus* finalStatus) {
    char buffer[65536];
    size_t used = 0;
    struct TWipe {
        char* data;
        const size_t& size;
        ~TWipe() { explicit_bzero(data, size); }
    } wipe{buffer, used};
    for (;;) {
        size_t n = 0;
        if (const TSystemResult result = file.Read(buffer, sizeof buffer, n); result.Failed()) {
            Fail("Cannot read", path, result);
        }
        if (n == 0) {
            break;
        }
        used = std::max(used, n);
        piece(std::string_view(buffer, n));
    }
    if (finalStatus != nullptr) {
        if (const TSystemResult result = file.Status(*finalStatus); result.Failed()) {
            Fail("Cannot read", path, result);
        }
    }
}

void ReadInto(const std::string& path, std::string& bytes,
              const std::function<void(std::string_view)>& received, const std::function<void()>& moving,
              TFileStatus* finalStatus) {
    bytes.clear();
    uint64_t size = 0;
    const std::unique_ptr<IReadableFile> file = OpenToRead(path, size);
    if (moving && bytes.capacity() < static_cast<size_t>(size)) {
        moving();
    }
    bytes.reserve(static_cast<size_t>(size));
    ReadToEnd(
        path, *file,
        [&](std::string_view piece) {
            if (moving && bytes.size() + piece.size() > bytes.capacity()) {
                moving();
            }
            bytes.append(piece);
            if (received) {
                received(bytes);
            }
        },
        finalStatus);
}

std::string ReadBytes(const std::string& path, const std::function<void(std::string_view)>& received,
                      TFileStatus* finalStatus) {
    std::string bytes;
    ReadInto(path, bytes, received, nullptr, finalStatus);
    return bytes;
}

} // namespace

std::string ReadFileBytes(const std::string& path) {
    return ReadBytes(path, nullptr, nullptr);
}

std::string ReadFileBytes(const std::string& path, const std::function<void(std::string_view)>& received) {
    return ReadBytes(path, received, nullptr);
}

std::string ReadFileBytes(const std::string& path, TFileStatus& status) {
    return ReadBytes(path, nullptr, &status);
}

std::string ReadFileBytes(const std::string& path, const std::function<void(std::string_view)>& received,
                          TFileStatus& status) {
    return ReadBytes(path, received, &status);
}

void ReadFileInto(const std::string& path, std::string& bytes,
                  const std::function<void(std::string_view)>& received, const std::function<void()>& moving,
                  TFileStatus& status) {
    ReadInto(path, bytes, received, moving, &status);
}

void ReadFilePieces(const std::string& path, const std::function<void(std::string_view)>& piece,
                    TFileStatus& status) {
    uint64_t size = 0;
    const std::unique_ptr<IReadableFile> file = OpenToRead(path, size);
    ReadToEnd(path, *file, piece, &status);
}

bool FileExists(const std::string& path) {
    TFileStatus status;
    return !path.empty() && !CurrentFileSystem().Stat(path, status).Failed() &&
           status.kind == TFileKind::Regular;
}

std::optional<unsigned> ParseBackupCount(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    unsigned count = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        count = count * 10 + static_cast<unsigned>(c - '0');
    }
    if (count > kMostBackups) {
        return std::nullopt;
    }
    return count;
}

std::string BackupName(const std::string& path, unsigned n) {
    return path + ".bak" + std::to_string(n);
}

void WriteFileAtomically(const std::string& path, std::string_view bytes, const TSaveOptions& options) {
    if (path.empty()) {
        throw EInOutError("Cannot write a file without a name");
    }
    IFileSystem& fileSystem = CurrentFileSystem();
    const TSaveTarget target = ResolveTarget(fileSystem, path);
    const std::string folder = FolderOf(target.path);
    RemoveAbandonedTemporaries(fileSystem, folder, NameOf(target.path));

    // The new bytes go to a file of their own in the target's folder, so that the rename below,
    // within one file system, replaces the target in one step.
    TTemporaryFile temporary(fileSystem, folder, target);
    temporary.Fill(bytes, target.exists ? &target.status : nullptr, options);
    // The last moment the save may be given up with nothing changed.
    if (options.progress) {
        options.progress(bytes.size(), bytes.size());
    }
    // The backups come once the new bytes are on the disk, so that a save that cannot be written
    // (a full disk) does not move the older backups up for nothing; and before the temporary file
    // is named, so that the name lasts as short a time as possible.
    if (target.exists && options.backups > 0) {
        KeepBackups(fileSystem, target, std::min(options.backups, kMostBackups));
    }
    temporary.MoveTo(target.path);

    // The target holds all the new bytes now. Until its folder is synced, a crash of the system
    // may still bring back the old file; the caller hears of it, so that it does not take the
    // save for done (a document stays marked modified and is saved again).
    if (const TSystemResult result = fileSystem.SyncFolder(folder); result.Failed()) {
        throw EInOutError(
            target.Described() + " has been written, but its folder \"" + folder +
            "\" cannot be synced to disk, so a system crash may undo the change: " + result.Reason());
    }
}

std::string SavedFilePath(const std::string& path) {
    return ResolveTarget(CurrentFileSystem(), path).path;
}

void RenameFile(const std::string& from, const std::string& to) {
    if (const TSystemResult result = CurrentFileSystem().Rename(from, to); result.Failed()) {
        throw EInOutError("Cannot rename \"" + from + "\" to \"" + to + "\": " + result.Reason());
    }
}

} // namespace ludex
