#include "core/base/FileIdentity.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/base/FileSystem.h"

#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <memory>

namespace ludex {

namespace {

TFileIdentity IdentityOf(const TFileStatus& status, const TFileDigest& digest) {
    return {.size = status.size,
            .modifiedNs = status.modifiedNs,
            .device = status.device,
            .inode = status.inode,
            .digest = digest};
}

bool SameStatus(const TFileStatus& status, const TFileIdentity& identity) {
    return status.size == identity.size && status.modifiedNs == identity.modifiedNs &&
           status.device == identity.device && status.inode == identity.inode;
}

bool IsAbsence(int error) {
    return error == ENOENT || error == ENOTDIR;
}

} // namespace

namespace {

[[noreturn]] void DigestFailed() {
    throw Exception("The digest of the file cannot be computed.");
}

TFileDigest Canonical(XXH128_hash_t hash) {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    TFileDigest digest{};
    static_assert(sizeof canonical.digest == std::tuple_size_v<TFileDigest>);
    std::copy(std::begin(canonical.digest), std::end(canonical.digest), digest.begin());
    return digest;
}

} // namespace

TFileDigest DigestOf(std::string_view bytes) {
    return Canonical(XXH3_128bits(bytes.data(), bytes.size()));
}

struct TDigestStream::TState {
    std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> xxh{XXH3_createState(), XXH3_freeState};
};

TDigestStream::TDigestStream() : state_(std::make_unique<TState>()) {
    if (!state_->xxh || XXH3_128bits_reset(state_->xxh.get()) != XXH_OK) {
        DigestFailed();
    }
}

TDigestStream::~TDigestStream() = default;

void TDigestStream::Add(std::string_view bytes) {
    if (XXH3_128bits_update(state_->xxh.get(), bytes.data(), bytes.size()) != XXH_OK) {
        DigestFailed();
    }
}

TFileDigest TDigestStream::Result() const {
    return Canonical(XXH3_128bits_digest(state_->xxh.get()));
}

TIdentifiedBytes ReadIdentifiedFile(const std::string& path,
                                    const std::function<void(std::string_view)>& received) {
    // The digest follows the bytes as they arrive, while they are still in the processor's cache.
    TDigestStream digest;
    size_t digested = 0;
    TFileStatus status;
    TIdentifiedBytes result;
    result.bytes = ReadFileBytes(
        path,
        [&](std::string_view soFar) {
            digest.Add(soFar.substr(digested));
            digested = soFar.size();
            if (received) {
                received(soFar);
            }
        },
        status);
    result.identity = IdentityOf(status, digest.Result());
    return result;
}

TFileIdentity IdentityOfRead(const TFileStatus& status, const TFileDigest& digest) {
    return IdentityOf(status, digest);
}

TFileIdentity IdentityOfWritten(std::string_view bytes) {
    // Device and inode 0 belong to no file.
    return {.size = bytes.size(), .modifiedNs = 0, .device = 0, .inode = 0, .digest = DigestOf(bytes)};
}

TDiskCheck CheckFileOnDisk(const std::string& path, const std::optional<TFileIdentity>& known,
                           TCheckDepth depth) {
    TDiskCheck check;
    TFileStatus status;
    if (const TSystemResult result = CurrentFileSystem().Stat(path, status); result.Failed()) {
        if (IsAbsence(result.Error())) {
            check.state = TDiskState::Missing;
        } else {
            check.state = TDiskState::Unreadable;
            check.reason = result.Reason();
        }
        return check;
    }
    if (status.kind != TFileKind::Regular) {
        check.state = TDiskState::Unreadable;
        check.reason = "\"" + path + "\" is not a regular file";
        return check;
    }
    if (known && depth == TCheckDepth::Status && SameStatus(status, *known)) {
        check.identity = known;
        return check;
    }
    const auto readFailed = [&path, &check](const EInOutError& error) {
        // Gone between the look and the read: a sync client replacing it, say.
        TFileStatus again;
        const TSystemResult result = CurrentFileSystem().Stat(path, again);
        if (result.Failed() && IsAbsence(result.Error())) {
            check.state = TDiskState::Missing;
        } else {
            check.state = TDiskState::Unreadable;
            check.reason = error.what();
        }
        return check;
    };
    if (known) {
        // Nearly always the file is the one known: its digest alone tells, taken piece by piece
        // without holding the bytes, which at a million branches cost more to hold than to read.
        TDigestStream digest;
        TFileStatus read;
        try {
            ReadFilePieces(
                path, [&digest](std::string_view piece) { digest.Add(piece); }, read);
        } catch (const EInOutError& error) {
            return readFailed(error);
        }
        if (const TFileDigest found = digest.Result(); found == known->digest) {
            check.identity = IdentityOf(read, found);
            return check;
        }
    }
    // Another file: its bytes are read (again) and kept, and are what the check reports.
    TIdentifiedBytes current;
    try {
        current = ReadIdentifiedFile(path);
    } catch (const EInOutError& error) {
        return readFailed(error);
    }
    check.identity = current.identity;
    if (known && current.identity.digest == known->digest) {
        check.state = TDiskState::Unchanged;
    } else {
        check.state = TDiskState::Changed;
        check.bytes = std::move(current.bytes);
    }
    return check;
}

} // namespace ludex
