#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// What a document's file was when the program last read or wrote it, and whether the file on
// disk is still that one. Every file access goes through the file-system seam (FileSystem.h).

namespace ludex {

struct TFileStatus;

// The digest of a file's bytes: their 128-bit XXH3 hash, in its canonical byte order. It tells a
// change by another program from none, so it is worked out on every open and before every save
// of a document of any size, at many gigabytes a second; it is no defence against a file made to
// look unchanged (whoever can write the file needs none).
using TFileDigest = std::array<unsigned char, 16>;

TFileDigest DigestOf(std::string_view bytes);

// The digest of bytes given piece by piece.
class TDigestStream {
public:
    TDigestStream();
    ~TDigestStream();
    TDigestStream(const TDigestStream&) = delete;
    TDigestStream& operator=(const TDigestStream&) = delete;

    void Add(std::string_view bytes);
    // The digest of all bytes added so far.
    TFileDigest Result() const;

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

// A file as the program knows it: the status that tells a rewrite or a replacement cheaply, and
// the digest of its bytes, which alone decides whether the content is the same.
struct TFileIdentity {
    uint64_t size = 0;
    int64_t modifiedNs = 0; // modification time, nanoseconds since 1970
    uint64_t device = 0;
    uint64_t inode = 0;
    TFileDigest digest{};

    bool operator==(const TFileIdentity&) const = default;
};

// A file's bytes with the identity of the file they were read from.
struct TIdentifiedBytes {
    std::string bytes;
    TFileIdentity identity;
};

// Reads the whole file (following links). The status is the opened file's once all bytes are
// read, so that a file replaced by another meanwhile is not mistaken for the bytes read. Throws
// EInOutError naming the file and the reason.
// `received`, when given, is called as ReadFileBytes calls it, with all bytes read so far.
TIdentifiedBytes ReadIdentifiedFile(const std::string& path,
                                    const std::function<void(std::string_view)>& received = nullptr);

// The identity of a file the program has just written `bytes` to: their size and digest, with a
// status that no file has, so that the first check reads the file and takes its status from there.
// Nothing more is asked of the file system after a save, so that a save that succeeded is never
// reported as failed.
TFileIdentity IdentityOfWritten(std::string_view bytes);

// The identity of bytes read from a file of that status (taken once they were all read).
TFileIdentity IdentityOfRead(const TFileStatus& status, const TFileDigest& digest);

// How far a check looks. Contents reads the file and compares digests whatever its status says,
// so it also finds a change that kept the size and the modification time; Status trusts an
// unchanged size, modification time, device and inode and reads the file only otherwise.
enum class TCheckDepth { Status, Contents };

enum class TDiskState {
    Unchanged,  // the same bytes (the status may have moved: a touch, a rewrite of equal bytes)
    Changed,    // other bytes, or no identity was known for an existing file
    Missing,    // no file at the path
    Unreadable, // the file is there but cannot be read; `reason` says why
};

struct TDiskCheck {
    TDiskState state = TDiskState::Unchanged;
    // The file's identity now: for Unchanged (where it may differ from the known one in its
    // status) and Changed.
    std::optional<TFileIdentity> identity;
    // The bytes read, for Changed, so that a reload shows exactly what was compared.
    std::string bytes;
    std::string reason; // for Unreadable
};

// Compares the file at `path` with `known` (nothing: the program never saw this file's bytes).
// Never throws for what it finds on disk.
TDiskCheck CheckFileOnDisk(const std::string& path, const std::optional<TFileIdentity>& known,
                           TCheckDepth depth);

} // namespace ludex
