#pragma once

#include <functional>
#include <string>
#include <string_view>

// The program's file operations, built on the file system seam (FileSystem.h): whatever file
// system is current when they run is the one they use.

namespace ludex {

// Reads the whole file as bytes. Throws EInOutError naming the file and the system's reason.
std::string ReadFileBytes(const std::string& path);

// The same, calling `received` with all bytes read so far each time more have arrived, so that
// they can be looked at while the newest are still in the processor's cache.
std::string ReadFileBytes(const std::string& path, const std::function<void(std::string_view)>& received);

// Whether a regular file (or a link to one) exists at the path.
bool FileExists(const std::string& path);

// Replaces the file at `path` by `bytes` so that the file is never seen half-written:
// the bytes go to a temporary file in the same folder, which is synced to disk, closed and
// renamed over the target, and then the folder is synced so that the new name lasts. An existing
// target keeps its permission bits; a new file is readable and writable by its owner only.
// Every failure is EInOutError naming the target and the system's reason. A failure before the
// rename leaves the old file as it was (or no file) and removes the temporary file. When only the
// folder cannot be synced, the target already holds exactly the new bytes, and the error still
// tells the caller that the save may not survive a crash of the system.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// Gives the file `from` the name `to`, replacing a file of that name. Throws EInOutError naming
// both files and the system's reason.
void RenameFile(const std::string& from, const std::string& to);

} // namespace ludex
