#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The program's file operations, built on the file system seam (FileSystem.h): whatever file
// system is current when they run is the one they use.

namespace ludex {

struct TFileStatus;

// Reads the whole file as bytes. Throws EInOutError naming the file and the system's reason.
std::string ReadFileBytes(const std::string& path);

// The same, calling `received` with all bytes read so far each time more have arrived, so that
// they can be looked at while the newest are still in the processor's cache.
std::string ReadFileBytes(const std::string& path, const std::function<void(std::string_view)>& received);

// The same, and sets `status` to the status of the file the bytes came from, taken once they are
// all read: the file that was opened, even when its name has since been given to another.
std::string ReadFileBytes(const std::string& path, TFileStatus& status);
std::string ReadFileBytes(const std::string& path, const std::function<void(std::string_view)>& received,
                          TFileStatus& status);

// The same, into `bytes`, which the caller holds, also when an error is thrown. The bytes stay in
// one place while the file is no longer than when it was opened; before they move to a larger
// buffer (the file grew while it was read), `moving` is called, so that whoever reads them on
// another thread can stop first.
void ReadFileInto(const std::string& path, std::string& bytes,
                  const std::function<void(std::string_view)>& received, const std::function<void()>& moving,
                  TFileStatus& status);

// Reads the whole file a piece at a time, giving each piece to `piece` and keeping none, and sets
// `status` as ReadFileBytes does. Throws EInOutError naming the file and the system's reason.
void ReadFilePieces(const std::string& path, const std::function<void(std::string_view)>& piece,
                    TFileStatus& status);

// Whether a regular file (or a link to one) exists at the path.
bool FileExists(const std::string& path);

// How many earlier versions of a document its saves keep, unless the user says otherwise, and
// the most they keep.
inline constexpr unsigned kDefaultBackupCount = 3;
inline constexpr unsigned kMostBackups = 99;

// What a save does besides replacing the file.
struct TSaveOptions {
    // How many earlier versions to keep beside the file: the name followed by ".bak1" for the
    // newest up to ".bakN". None when 0.
    unsigned backups = 0;
    // Told how many bytes of how many have gone to the temporary file, after each piece of at
    // most kSaveProgressStep bytes and once more just before the old file is touched. It may
    // throw (ECancelled when the user stops the save) to give the save up: the old file then
    // stays as it was and no temporary file remains. It is not called once backups are made.
    std::function<void(size_t written, size_t total)> progress = {};
};

// The largest piece a save writes between two calls of its progress.
inline constexpr size_t kSaveProgressStep = size_t{1} << 20;

// The backup count that a settings value or a command-line word gives: decimal digits for a
// number from 0 to kMostBackups. Nothing for any other text.
std::optional<unsigned> ParseBackupCount(std::string_view text);

// The name of the `n`th backup of the file at `path` (1 for the newest): "notes.ldx.bak1".
std::string BackupName(const std::string& path, unsigned n);

// Replaces the file at `path` by `bytes` so that its name holds, at every moment and after a
// crash or a kill, either the old bytes or the new ones. What it replaces, and how:
//
// - A symbolic link, or a chain of them, absolute or relative, is followed to the file it leads
//   to, and that file is replaced in its own folder; the links stay as they are. A link that
//   does not lead to a file yet (a dangling one) makes that file. A link into the open files of
//   a process ("/dev/stdout") is refused, as the replaced file would not be the one written to.
// - A target that is not a regular file (a folder, a pipe, a device) is refused, and so is one
//   that is read-only: without any write permission bit, or one this process may not write.
// - The new file keeps the old one's permission bits, without the set-user-id, set-group-id and
//   sticky bits, and its owner and group where the process may give them. A new file is readable
//   and writable by its owner only.
// - With options.backups > 0, an existing target's bytes are kept beside it first, as its
//   backup 1, while older backups move up by one and the one beyond the count is dropped. The
//   backup is a second name for the old file (a hard link), or a copy where the file system has
//   none; the target's own name is never moved away. A target whose name is too long to take
//   the backup suffix is saved without backups.
// - The bytes go to a temporary file in the target's folder, which is synced to disk, closed and
//   renamed over the target, and then the folder is synced so that the new name lasts. The
//   temporary file has no name while it is written where the file system allows it, so that a
//   process killed before the rename leaves nothing; otherwise it is named ".ludex-XXXXXX.tmp"
//   and locked while its writer lives, and every save into the folder removes such files whose
//   writer is gone. A name at the file system's length limit therefore saves.
//
// Every failure is EInOutError naming `path` (and the file a link leads to) and the reason. A
// failure before the rename leaves the old file as it was (or no file) and no temporary file;
// backups moved up by then stay moved up, so none is lost. When only the folder cannot be synced
// after the rename, the target already holds exactly the new bytes, and the error still tells
// the caller that the save may not survive a crash of the system.
void WriteFileAtomically(const std::string& path, std::string_view bytes, const TSaveOptions& options = {});

// The file a save to `path` replaces, beside which its backups lie: `path`, or the file its
// symbolic links lead to. Throws EInOutError as WriteFileAtomically does for a link it cannot read.
std::string SavedFilePath(const std::string& path);

// Gives the file `from` the name `to`, replacing a file of that name. Throws EInOutError naming
// both files and the system's reason.
void RenameFile(const std::string& from, const std::string& to);

} // namespace ludex
