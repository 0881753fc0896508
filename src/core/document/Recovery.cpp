#include "core/document/Recovery.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/base/FileSystem.h"
#include "core/document/DocumentWriter.h"
#include "core/settings/FileLocations.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <set>
#include <sys/file.h>
#include <unistd.h>

namespace ludex {

namespace {

namespace fs = std::filesystem;

const char* const kSnapshotExtension = ".ldx";
const char* const kLockExtension = ".lock";

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A name no other session has: the process id, which no living process shares, and a random part,
// so that a later process given the same id by the system starts a session of its own.
std::string NewSessionName() {
    std::random_device random;
    char name[64];
    std::snprintf(name, sizeof name, "%ld.%08x", static_cast<long>(::getpid()), random());
    return name;
}

// The session a file of the folder belongs to: "<session>.lock", "<session>-<n>.ldx" and the
// temporary files of a snapshot write, "<session>-<n>.ldx.<chars>". Empty for any other file.
std::string SessionOf(const std::string& name) {
    if (EndsWith(name, kLockExtension)) {
        return name.substr(0, name.size() - std::string_view(kLockExtension).size());
    }
    if (name.find(kSnapshotExtension) == std::string::npos) {
        return {};
    }
    const auto dash = name.rfind('-', name.find(kSnapshotExtension));
    return dash == std::string::npos || dash == 0 ? std::string() : name.substr(0, dash);
}

// Opens (creating it if needed) and locks a session's lock file without waiting: the descriptor,
// or -1 when another process holds the lock. Throws EInOutError when the file cannot be opened.
int LockSession(const std::string& lockPath) {
    const int descriptor = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        throw EInOutError("Cannot open \"" + lockPath + "\": " + TSystemResult(errno).Reason());
    }
    int result;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(descriptor);
        if (error == EWOULDBLOCK) {
            return -1;
        }
        throw EInOutError("Cannot lock \"" + lockPath + "\": " + TSystemResult(error).Reason());
    }
    return descriptor;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::string SnapshotText(const TDomNode& root, const std::string& fileName) {
    if (root.HasAttribute(kRecoveryFileAttribute)) {
        throw Exception("The document's root element carries the attribute " +
                        std::string(kRecoveryFileAttribute) + ", which recovery snapshots use");
    }
    std::string text = DocumentToText(root);
    // The writer puts the root's start tag right after the declaration and CR LF.
    const size_t nameEnd = kDocumentDeclaration.size() + 2 + 1 + root.Name().size();
    text.insert(nameEnd,
                " " + std::string(kRecoveryFileAttribute) + "=\"" + EscapeText(ToUTF8(fileName)) + "\"");
    return text;
}

TRecoveryFolder::TRecoveryFolder(std::string folder)
    : folder_(std::move(folder)), session_(NewSessionName()) {}

TRecoveryFolder::~TRecoveryFolder() {
    ReleaseLeft();
    if (lockDescriptor_ >= 0) {
        TClaim own{session_, lockDescriptor_};
        lockDescriptor_ = -1;
        ReleaseClaim(own);
    }
}

std::string TRecoveryFolder::SnapshotPath(int number) const {
    return (fs::path(folder_) / (session_ + "-" + std::to_string(number) + kSnapshotExtension)).string();
}

void TRecoveryFolder::Write(int number, std::string_view text) {
    if (lockDescriptor_ < 0) {
        CreateFolderForOwner(folder_);
        lockDescriptor_ = LockSession((fs::path(folder_) / (session_ + kLockExtension)).string());
        if (lockDescriptor_ < 0) {
            throw EInOutError("The recovery session " + session_ + " is held by another program");
        }
    }
    WriteFileAtomically(SnapshotPath(number), text);
}

void TRecoveryFolder::Remove(int number) {
    const std::string path = SnapshotPath(number);
    if (const TSystemResult result = CurrentFileSystem().Remove(path);
        result.Failed() && result.Error() != ENOENT) {
        throw EInOutError("Cannot remove \"" + path + "\": " + result.Reason());
    }
}

std::vector<TLeftSnapshot> TRecoveryFolder::LeftSnapshots() {
    std::vector<TLeftSnapshot> left;
    const std::vector<std::string> names = FolderNames(folder_);
    std::set<std::string> sessions;
    for (const std::string& name : names) {
        if (std::string session = SessionOf(name); !session.empty() && session != session_) {
            sessions.insert(std::move(session));
        }
    }
    for (const std::string& session : sessions) {
        if (std::any_of(claims_.begin(), claims_.end(),
                        [&](const TClaim& c) { return c.session == session; })) {
            continue;
        }
        const int descriptor = LockSession((fs::path(folder_) / (session + kLockExtension)).string());
        if (descriptor < 0) {
            continue; // a running program's
        }
        claims_.push_back({session, descriptor});
        const std::string prefix = session + "-";
        for (const std::string& name : names) {
            if (name.rfind(prefix, 0) != 0 || SessionOf(name) != session) {
                continue;
            }
            const std::string path = (fs::path(folder_) / name).string();
            if (!EndsWith(name, kSnapshotExtension)) {
                (void)CurrentFileSystem().Remove(path); // a write cut short: never a whole snapshot
                continue;
            }
            TLeftSnapshot snapshot{path, {}, {}, {}};
            try {
                TDomDocument document;
                document.Load(path);
                const TDomNode root = document.DocumentElement();
                if (!root) {
                    throw Exception("The snapshot " + path + " has no root element");
                }
                snapshot.fileName = root.GetAttribute(kRecoveryFileAttribute);
                snapshot.title = root.GetAttribute("title");
            } catch (const std::exception& e) {
                snapshot.error = e.what();
            }
            left.push_back(std::move(snapshot));
        }
    }
    return left;
}

void TRecoveryFolder::RemoveLeft(const std::string& path) {
    if (const TSystemResult result = CurrentFileSystem().Remove(path); result.Failed()) {
        throw EInOutError("Cannot remove \"" + path + "\": " + result.Reason());
    }
}

void TRecoveryFolder::ReleaseLeft() {
    for (TClaim& claim : claims_) {
        ReleaseClaim(claim);
    }
    claims_.clear();
}

void TRecoveryFolder::ReleaseClaim(TClaim& claim) {
    // The lock file goes while the lock is still held, and only when no snapshot of the session
    // is left, so that a session with snapshots is always found again.
    const std::string prefix = claim.session + "-";
    bool snapshotsLeft = false;
    for (const std::string& name : FolderNames(folder_)) {
        if (name.rfind(prefix, 0) == 0 && SessionOf(name) == claim.session) {
            snapshotsLeft = true;
        }
    }
    if (!snapshotsLeft) {
        (void)CurrentFileSystem().Remove((fs::path(folder_) / (claim.session + kLockExtension)).string());
    }
    ::close(claim.descriptor);
    claim.descriptor = -1;
}

} // namespace ludex
