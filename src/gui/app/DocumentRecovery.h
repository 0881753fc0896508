#pragma once

#include "core/document/Recovery.h"

#include <QObject>
#include <QTimer>

#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ludex {

class TForm_Ludex;
class TLXDocument;

// The main window's recovery snapshots (core/document/Recovery.h): while a document is modified,
// a timer writes its snapshot, pending memo text included, as a save would write the document;
// a saved or closed document's snapshot is removed; at start-up the snapshots of programs that
// ended without closing are offered. The timer's work is no user command: it never lets an
// error out, and a failure is shown once, not again until a snapshot has been written since.
class TDocumentRecovery : public QObject {
public:
    // Snapshots of the window's documents go to `folder`; none are written until SetInterval.
    TDocumentRecovery(TForm_Ludex& window, const std::string& folder);
    ~TDocumentRecovery() override;

    // Seconds between two rounds of snapshots; 0 writes none.
    void SetInterval(int seconds);
    int Interval() const { return interval_; }

    // One round: the pending memo is stored into its branch, then every modified document's
    // snapshot text is made and written, and those of documents saved or closed since removed, on
    // a thread of their own, so that a large document does not hold the window up. While the texts
    // are made, a change of any document waits for them (TReadingAside), so that each text is
    // the document as the round found it. Skipped while a modal window is open, since a command
    // may be half-way through its work then, and while the round before is still being written.
    void WriteSnapshots() noexcept;
    // Waits for the round being written, and shows what failed in it.
    void Settle() noexcept;

    // Removes the document's snapshot: it has been saved, or closed without saving.
    void Forget(const TLXDocument* document) noexcept;

    // Removes every snapshot of this program: it is closing and the user has decided about every
    // modified document.
    void ForgetAll() noexcept;

    // Offers each snapshot left by a program that did not close: Yes restores it as a modified
    // document bound to its file, No removes the snapshot, Cancel keeps it for the next start.
    void OfferLeftSnapshots();

    const TRecoveryFolder& Folder() const { return folder_; }

private:
    // A document whose snapshot a round writes.
    struct TSnapshotSource {
        int number = 0;
        TDomNode root;
        std::string fileName;
    };
    // What a round writes and removes, and what failed; the folder is touched only by the thread
    // that writes a round, or by this one once the round is written (Settle).
    struct TRound {
        std::vector<int> removed;
        std::vector<TSnapshotSource> written;
        std::vector<std::string> failures;
        // Held until the texts are made, wherever they are made.
        std::unique_ptr<TReadingAside> reading;
    };
    void StartWriting(TRound round);
    void Report(const std::string& key, const std::exception& error) noexcept;
    void WriteSnapshot(const TLXDocument* document);
    void OfferLeftSnapshot(const TLeftSnapshot& left);

    TForm_Ludex& window_;
    TRecoveryFolder folder_;
    QTimer timer_;
    int interval_ = 0;
    std::map<const TLXDocument*, int> numbers_;
    int nextNumber_ = 1;
    bool failing_ = false;
    bool busy_ = false;
    std::future<std::vector<std::string>> writing_; // the round being written: what failed in it
};

} // namespace ludex
