#include "core/base/FileIdentity.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/base/FileSystem.h"

#include <openssl/evp.h>

#include <cerrno>
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

TFileDigest DigestOf(std::string_view bytes) {
    TFileDigest digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size()) {
        throw Exception("The SHA-256 digest cannot be computed.");
    }
    return digest;
}

TIdentifiedBytes ReadIdentifiedFile(const std::string& path,
                                    const std::function<void(std::string_view)>& received) {
    // The digest follows the bytes as they arrive, while they are still in the processor's cache.
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        throw Exception("The SHA-256 digest cannot be computed.");
    }
    size_t digested = 0;
    bool failed = false;
    TFileStatus status;
    TIdentifiedBytes result;
    result.bytes = ReadFileBytes(
        path,
        [&](std::string_view soFar) {
            failed = failed ||
                     EVP_DigestUpdate(context.get(), soFar.data() + digested, soFar.size() - digested) != 1;
            digested = soFar.size();
            if (received) {
                received(soFar);
            }
        },
        status);
    TFileDigest digest{};
    unsigned int length = 0;
    if (failed || EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        throw Exception("The SHA-256 digest cannot be computed.");
    }
    result.identity = IdentityOf(status, digest);
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
    TIdentifiedBytes current;
    try {
        current = ReadIdentifiedFile(path);
    } catch (const EInOutError& error) {
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
