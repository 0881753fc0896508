#pragma once

#include "core/base/NonCopyable.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

// The outcome of one operation on the file system: success, or the operating system's error
// number (an errno value). The seam hands errors up as the system gives them, so that its one
// caller, FileIO, can say which file and which step failed; FileIO turns them into EInOutError.
class [[nodiscard]] TSystemResult {
public:
    TSystemResult() = default;
    explicit TSystemResult(int error) : error_(error) {}

    bool Failed() const { return error_ != 0; }
    int Error() const { return error_; }
    // The system's text for the error, as strerror gives it.
    std::string Reason() const;

private:
    int error_ = 0;
};

enum class TFileKind {
    Regular,
    Folder,
    Link,  // a symbolic link, as only LinkStatus sees one
    Other, // devices, pipes, sockets
};

// What the file system knows of a file.
struct TFileStatus {
    TFileKind kind = TFileKind::Other;
    uint32_t permissions = 0; // the permission bits with the set-id and sticky bits (mask 07777)
    uint64_t size = 0;
    uint32_t owner = 0;  // user id
    uint32_t group = 0;  // group id
    uint64_t device = 0; // the device and the inode together tell one file from another
    uint64_t inode = 0;
    int64_t modifiedNs = 0; // the last change of the content, in nanoseconds since 1970 (UTC)
};

// A user or group id that SetOwner leaves as it is.
inline constexpr uint32_t kKeepId = UINT32_MAX;

// A file open for reading. Destroying it closes the file.
class IReadableFile {
public:
    virtual ~IReadableFile() = default;

    // Reads up to `capacity` bytes into `buffer` and sets `received` to their number, which is 0
    // only at the end of the file. An interrupted read is retried, never reported.
    virtual TSystemResult Read(char* buffer, size_t capacity, size_t& received) = 0;
    // The status of the open file, whatever has become of its name since it was opened.
    virtual TSystemResult Status(TFileStatus& status) = 0;
};

// A file open for writing. Destroying it closes the file if Close has not; an error of that late
// close goes unreported, so a writer that cares about its bytes calls Close itself.
class IWritableFile {
public:
    virtual ~IWritableFile() = default;

    // The file's name, as the file system that created it gave it.
    virtual const std::string& Path() const = 0;
    // Writes a first part of `bytes` (which must not be empty) and sets `written` to its length:
    // at least one byte unless the write fails. A write may be cut short, as the system's can, so
    // a caller writes the rest again. An interrupted write is retried, never reported.
    virtual TSystemResult Write(std::string_view bytes, size_t& written) = 0;
    // Gives the file the owner and the group (user and group ids). Only a privileged process may
    // give a file away; others may choose among their own groups. EPERM says it is not allowed.
    virtual TSystemResult SetOwner(uint32_t owner, uint32_t group) = 0;
    // Gives the file the permission bits (mask 07777).
    virtual TSystemResult SetPermissions(uint32_t permissions) = 0;
    // Returns once the file's bytes are on the disk.
    virtual TSystemResult Sync() = 0;
    // Gives a file made by CreateUnnamed (and only such a file) its first name in `folder`: `nameStart`,
    // characters the file system chooses so that no existing file is met, then `nameEnd`. Path() is that name
    // from then on. Comes before Close, which the file needs open.
    virtual TSystemResult Link(const std::string& folder, const std::string& nameStart,
                               const std::string& nameEnd) = 0;
    // Closes the file for writing. The file is closed even when it fails: the error is one the
    // system kept back until now, a write that did not reach the disk, and the file's content is
    // in doubt. The file stays locked (see CreateTemporary) until the object is destroyed.
    virtual TSystemResult Close() = 0;
};

// Every operation the program performs on files. The program reaches the file system through
// CurrentFileSystem() only, so that a test can put in place of the real one a file system that
// fails any step. Each member stands for one POSIX call, or for a few that only make sense
// together, and further needs add further members.
class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    virtual TSystemResult OpenForReading(const std::string& path, std::unique_ptr<IReadableFile>& file) = 0;
    // Creates a new, empty file in `folder` whose name is `nameStart`, characters the file system
    // chooses so that no existing file is met, then `nameEnd`. The file is readable and writable
    // by its owner only and is not passed on to programs this one starts. It is locked against
    // RemoveAbandoned for as long as the object lives, from before anyone can see its name.
    virtual TSystemResult CreateTemporary(const std::string& folder, const std::string& nameStart,
                                          const std::string& nameEnd,
                                          std::unique_ptr<IWritableFile>& file) = 0;
    // Creates a new file in `folder` that has no name yet, so that it vanishes with everything
    // written to it if the process ends before Link names it. Otherwise as CreateTemporary; its
    // Path() is empty until Link. EOPNOTSUPP (or EISDIR, EINVAL) says the file system cannot.
    virtual TSystemResult CreateUnnamed(const std::string& folder, std::unique_ptr<IWritableFile>& file) = 0;
    // Returns once the folder's entries (the names in it) are on the disk.
    virtual TSystemResult SyncFolder(const std::string& folder) = 0;
    // Gives the file `from` the name `to` in one step; a file named `to` is replaced.
    virtual TSystemResult Rename(const std::string& from, const std::string& to) = 0;
    // Removes a file's name (not a folder).
    virtual TSystemResult Remove(const std::string& path) = 0;
    // The status of the file the path names, following symbolic links.
    virtual TSystemResult Stat(const std::string& path, TFileStatus& status) = 0;
    // The status of the path's last part itself: a symbolic link is TFileKind::Link.
    virtual TSystemResult LinkStatus(const std::string& path, TFileStatus& status) = 0;
    // The text a symbolic link holds: the path it leads to, relative to the link's folder unless
    // it starts with "/".
    virtual TSystemResult ReadLink(const std::string& path, std::string& target) = 0;
    // Whether this process may open the file for writing (EACCES, EROFS, ... if not).
    virtual TSystemResult CheckWriteAccess(const std::string& path) = 0;
    // Gives the file `existing` the further name `link` (a hard link); a file named `link` is
    // not replaced (EEXIST).
    virtual TSystemResult HardLink(const std::string& existing, const std::string& link) = 0;
    // The names in the folder, without "." and "..".
    virtual TSystemResult ListFolder(const std::string& folder, std::vector<std::string>& names) = 0;
    // Removes the file when it is a regular file of this process's user that nobody holds
    // locked: a temporary file whose writer ended before it could finish or remove it. A file
    // still in use is left alone with EBUSY, someone else's with EPERM.
    virtual TSystemResult RemoveAbandoned(const std::string& path) = 0;
};

// The file system every file operation of the program goes through: the POSIX one, unless a
// TFileSystemOverride has put another in its place.
IFileSystem& CurrentFileSystem();

// Makes `fileSystem` the current file system for the override's lifetime, then restores the one
// before it. Overrides nest; each must end before the file system it installs is destroyed.
class TFileSystemOverride : private TNonCopyable {
public:
    explicit TFileSystemOverride(IFileSystem& fileSystem);
    ~TFileSystemOverride();

private:
    IFileSystem* previous_;
};

} // namespace ludex
