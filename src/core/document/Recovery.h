#pragma once

#include "core/document/DomService.h"

#include <string>
#include <string_view>
#include <vector>

namespace ludex {

// Recovery snapshots: while a document is modified the program writes its current state into the
// recovery folder, so that a crash or a kill loses at most the last few seconds of work.
//
// A snapshot is a document file in every respect: the bytes a save would write (so every unlocked
// encrypted branch is enciphered and no plain text of one reaches the disk), with one attribute
// added to the root element that names the document's own file ("" for a document never saved).
// Keeping that name inside the snapshot, rather than in a second file, means one atomic write
// carries the document and its name together: a snapshot can never be found without its name or
// with another snapshot's name. Recovering a snapshot removes the attribute again.
//
// Each running program is one session. A session holds an exclusive lock (flock) on its lock file
// "<session>.lock" for as long as it runs; its snapshots are "<session>-<number>.ldx". The system
// releases the lock when the process ends in any way, kill -9 included, so a snapshot is "left"
// exactly when no living process holds its session's lock. Several running programs share the
// folder without ever offering or removing each other's snapshots.

// The attribute on a snapshot's root element that names the document's file.
inline constexpr std::string_view kRecoveryFileAttribute = "ludexRecoveryFile";

// The snapshot text of a document: DocumentToText of the root with kRecoveryFileAttribute (holding
// `fileName`, escaped) added to the root's start tag. Throws what DocumentToText throws.
std::string SnapshotText(const TDomNode& root, const std::string& fileName);

// A snapshot whose program has ended, as the user is offered it.
struct TLeftSnapshot {
    std::string path;     // the snapshot file
    std::string fileName; // the document's own file, "" for a document never saved
    std::string title;    // the root branch's title
    std::string error;    // why the snapshot cannot be read; empty when it can
};

// The recovery folder as one session sees it. Nothing is created on disk until the first snapshot
// is written, so a run without modified documents leaves nothing behind.
class TRecoveryFolder {
public:
    explicit TRecoveryFolder(std::string folder);
    // Releases the session's lock and removes its lock file when none of its snapshots remains;
    // releases the sessions claimed by LeftSnapshots the same way.
    ~TRecoveryFolder();
    TRecoveryFolder(const TRecoveryFolder&) = delete;
    TRecoveryFolder& operator=(const TRecoveryFolder&) = delete;

    const std::string& Folder() const { return folder_; }
    const std::string& Session() const { return session_; }

    // The path of this session's snapshot `number`.
    std::string SnapshotPath(int number) const;

    // Writes this session's snapshot `number` atomically (WriteFileAtomically, owner-only), first
    // making the folder (owner-only) and taking the session's lock when this is the first write.
    // On failure the previous snapshot of that number is intact and no temporary file remains;
    // the error (EInOutError) propagates.
    void Write(int number, std::string_view text);

    // Removes this session's snapshot `number`, if there is one. Throws EInOutError when it
    // exists and cannot be removed.
    void Remove(int number);

    // The snapshots of every session that is not running: each such session is claimed (its lock
    // taken) so that no other program offers the same snapshots meanwhile, its temporary files
    // (the remains of a write cut short) are removed, and its snapshots are read. In the order of
    // their file names. A folder that does not exist has none.
    std::vector<TLeftSnapshot> LeftSnapshots();

    // Removes a snapshot that LeftSnapshots returned. Throws EInOutError when it cannot.
    void RemoveLeft(const std::string& path);

    // Gives up the claimed sessions: the lock file of a session with no snapshot left is removed,
    // and the others are left for a later start.
    void ReleaseLeft();

private:
    struct TClaim {
        std::string session;
        int descriptor = -1;
    };
    void ReleaseClaim(TClaim& claim);

    std::string folder_;
    std::string session_;
    int lockDescriptor_ = -1;
    std::vector<TClaim> claims_;
};

} // namespace ludex
