#include "gui/app/DocumentRecovery.h"

#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/LongWork.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QApplication>
#include <QFileInfo>
#include <QPlainTextEdit>

#include <chrono>
#include <memory>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace ludex {

TDocumentRecovery::TDocumentRecovery(TForm_Ludex& window, const std::string& folder)
    : window_(window), folder_(folder) {
    connect(&timer_, &QTimer::timeout, this, [this] { WriteSnapshots(); });
}

TDocumentRecovery::~TDocumentRecovery() {
    if (writing_.valid()) {
        writing_.wait();
    }
}

void TDocumentRecovery::SetInterval(int seconds) {
    interval_ = seconds > 0 ? seconds : 0;
    if (interval_ == 0) {
        timer_.stop();
    } else {
        timer_.start(interval_ * 1000);
    }
}

void TDocumentRecovery::Report(const std::string& key, const std::exception& error) noexcept {
    if (failing_) {
        return;
    }
    failing_ = true;
    try {
        ModalQuestions().ShowError(&window_, Q(LanguageLocaler().FormatMessage(key, {error.what()})));
    } catch (...) {
        // The message cannot be shown; the failure stays recorded and is not retried.
    }
}

void TDocumentRecovery::WriteSnapshot(const TLXDocument* document) {
    auto [entry, added] = numbers_.try_emplace(document, nextNumber_);
    if (added) {
        ++nextNumber_;
    }
    folder_.Write(entry->second, SnapshotText(document->RootElement(), document->FileName()));
}

void TDocumentRecovery::WriteSnapshots() noexcept {
    if (busy_ || QApplication::activeModalWidget() != nullptr || LongWorkRunning()) {
        return;
    }
    // The round before is still being written (a large document): this one is skipped, and the
    // next writes the newer state.
    if (writing_.valid() && writing_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return;
    }
    Settle();
    busy_ = true;
    try {
        TBranchTree& tree = window_.Tree();
        std::set<const TLXDocument*> open;
        bool anyModified = false;
        for (int i = 0; i < tree.TopLevelCount(); ++i) {
            const TLXDocument* document = tree.TopLevel(i)->Document();
            open.insert(document);
            anyModified = anyModified || document->Modified() || window_.MemoModified();
        }
        if (anyModified) {
            window_.CommitMemo(); // the memo being typed belongs to the snapshot, as to a save
        }
        TRound round;
        for (auto it = numbers_.begin(); it != numbers_.end();) {
            if (open.count(it->first) == 0 || !it->first->Modified() || it->first->ProgramsOwn()) {
                round.removed.push_back(it->second);
                it = numbers_.erase(it);
            } else {
                ++it;
            }
        }
        for (const TLXDocument* document : open) {
            if (document->Modified() && !document->ProgramsOwn()) {
                try {
                    auto [entry, added] = numbers_.try_emplace(document, nextNumber_);
                    if (added) {
                        ++nextNumber_;
                    }
                    round.written.push_back({entry->second, document->RootElement(), document->FileName()});
                } catch (const std::exception& e) {
                    round.failures.emplace_back(e.what());
                }
            }
        }
        if (!round.removed.empty() || !round.written.empty() || !round.failures.empty()) {
            StartWriting(std::move(round));
        }
    } catch (const std::exception& e) {
        Report("RecoveryWriteFailed", e);
    } catch (...) {
        failing_ = true;
    }
    busy_ = false;
}

void TDocumentRecovery::StartWriting(TRound round) {
    // Shared, so that the round is still there to be written here when no thread can be had.
    auto shared = std::make_shared<TRound>(std::move(round));
    // The documents change no more until the texts are made; the reading ends however the round
    // goes, at the latest with the round.
    shared->reading = std::make_unique<TReadingAside>();
    auto write = [this, shared] {
        struct TText {
            int number;
            std::string text;
        };
        std::vector<TText> texts;
        for (const TSnapshotSource& source : shared->written) {
            try {
                texts.push_back({source.number, SnapshotText(source.root, source.fileName)});
            } catch (const std::exception& e) {
                shared->failures.emplace_back(e.what());
            }
        }
        shared->reading.reset();
        for (const int number : shared->removed) {
            try {
                folder_.Remove(number);
            } catch (const std::exception& e) {
                shared->failures.emplace_back(e.what());
            }
        }
        for (const TText& snapshot : texts) {
            try {
                folder_.Write(snapshot.number, snapshot.text);
            } catch (const std::exception& e) {
                shared->failures.emplace_back(e.what());
            }
        }
        return std::move(shared->failures);
    };
    try {
        writing_ = std::async(std::launch::async, [this, write] {
            std::vector<std::string> failures = write();
            // What went wrong is shown at once, on the window's thread, unless a question or
            // long work holds the window: then the next round shows it.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (QApplication::activeModalWidget() == nullptr && !LongWorkRunning()) {
                        Settle();
                    }
                },
                Qt::QueuedConnection);
            return failures;
        });
    } catch (const std::system_error&) {
        // No thread to be had: written here.
        std::promise<std::vector<std::string>> done;
        done.set_value(write());
        writing_ = done.get_future();
        Settle();
    }
}

void TDocumentRecovery::Settle() noexcept {
    if (!writing_.valid()) {
        return;
    }
    std::vector<std::string> failures;
    try {
        failures = writing_.get();
    } catch (...) {
        failures.emplace_back("");
    }
    if (failures.empty()) {
        failing_ = false;
        return;
    }
    for (const std::string& failure : failures) {
        Report("RecoveryWriteFailed", std::runtime_error(failure));
    }
}

void TDocumentRecovery::Forget(const TLXDocument* document) noexcept {
    Settle(); // a snapshot being written goes only once it is written
    const auto it = numbers_.find(document);
    if (it == numbers_.end()) {
        return;
    }
    try {
        folder_.Remove(it->second);
        numbers_.erase(it);
    } catch (const std::exception& e) {
        Report("RecoveryWriteFailed", e); // removed again by the next round
    }
}

void TDocumentRecovery::ForgetAll() noexcept {
    timer_.stop();
    while (!numbers_.empty()) {
        const size_t before = numbers_.size();
        Forget(numbers_.begin()->first);
        if (numbers_.size() == before) {
            numbers_.erase(numbers_.begin()); // kept on disk; offered at the next start
        }
    }
}

void TDocumentRecovery::OfferLeftSnapshots() {
    Settle();
    try {
        for (const TLeftSnapshot& left : folder_.LeftSnapshots()) {
            try {
                OfferLeftSnapshot(left);
            } catch (const std::exception& e) {
                ModalQuestions().ShowError(&window_, Q(e.what()));
            }
        }
    } catch (const std::exception& e) {
        ModalQuestions().ShowError(&window_, Q(e.what()));
    }
    folder_.ReleaseLeft();
}

void TDocumentRecovery::OfferLeftSnapshot(const TLeftSnapshot& left) {
    TLXLocaler& localer = LanguageLocaler();
    if (!left.error.empty()) {
        const QString text = Q(localer.FormatMessage("RecoveryUnreadable", {left.path, left.error}));
        if (ModalQuestions().Ask(&window_, text, TQuestionButtons::YesNo) == TAnswer::Yes) {
            folder_.RemoveLeft(left.path);
        }
        return;
    }
    const std::string file = left.fileName.empty()
                                 ? localer.GetMessage("RecoveryNeverSaved")
                                 : "(" + QFileInfo(Q(left.fileName)).fileName().toStdString() + ")";
    const QString text = Q(localer.FormatMessage("RecoveryOffer", {left.title, file}));
    switch (ModalQuestions().Ask(&window_, text, TQuestionButtons::YesNoCancel)) {
    case TAnswer::Yes: {
        TLXDocument* document = TLXDocument::Recover(left.path, window_.Tree());
        window_.Memo->setReadOnly(IsNodeLocked(window_.Tree().Selected()));
        // The left snapshot goes only once this program's own snapshot holds the document; until
        // then it stays, so that a crash now loses nothing.
        WriteSnapshot(document);
        folder_.RemoveLeft(left.path);
        break;
    }
    case TAnswer::No:
        folder_.RemoveLeft(left.path);
        break;
    default:
        break;
    }
}

} // namespace ludex
