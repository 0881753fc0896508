#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ludex {

// Reads the whole file as bytes. Throws EInOutError naming the file and the system's reason.
std::string ReadFileBytes(const std::string& path);

// The same, calling `received` with all bytes read so far each time more have arrived, so that
// they can be looked at while the newest are still in the processor's cache.
std::string ReadFileBytes(const std::string& path, const std::function<void(std::string_view)>& received);

// Whether a regular file (or a link to one) exists at the path.
bool FileExists(const std::string& path);

// Replaces the file at `path` by `bytes` so that the file is never seen half-written:
// the bytes go to a temporary file in the same folder, which is flushed to disk and then
// renamed over the target. An existing target keeps its permission bits; a new file is
// readable and writable by its owner only. On any failure the old file is left as it was,
// the temporary file is removed, and EInOutError names the file and the system's reason.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

} // namespace ludex
