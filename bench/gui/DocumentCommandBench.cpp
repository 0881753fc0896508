#include "DocumentCommandBench.h"

#include "../common/BenchMedian.h"

#include "core/base/FileIO.h"
#include "core/base/FileIdentity.h"
#include "core/document/BranchWalk.h"
#include "core/document/DocumentWriter.h"
#include "core/document/Recovery.h"
#include "core/document/XMLNodeAccess.h"
#include "core/search/BranchSearch.h"
#include "gui/app/DocumentRecovery.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ProgramWindows.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/dialogs/FindResults.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <QAction>

#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <unistd.h>

#include <pugixml.hpp>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ludex::bench {

namespace {

// Each round walks or writes the whole document: a few tell enough.
constexpr int kDocumentRounds = 3;

// The branches a walk in the window's order visits: every sibling list read and sorted as the
// window sorts it.
size_t WalkInWindowOrder(const TDomNode& root) {
    TBranchWalk walk(root, TBranchOrder::Window);
    size_t count = 1;
    while (walk.Next()) {
        ++count;
    }
    return count;
}

// The core's search of both documents in the order the window shows them; returns the matches.
size_t SearchDocuments(const std::string& text) {
    const TTextMatcher matcher(text, TMatchOptions{});
    size_t matches = 0;
    for (int i = 0; i < Window().Tree().TopLevelCount(); ++i) {
        const TDomNode root = Window().Tree().TopLevel(i)->Document()->RootElement();
        matches += SearchBranches(root, matcher, TSearchPlaces{},
                                  [](TBranchWalk&, TMatchPlace, const TTextMatch&, std::string_view) {})
                       .matches;
    }
    return matches;
}

void BM_Resort(benchmark::State& state, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    std::vector<double> windowMs;
    std::vector<double> domMs;
    bool done = true;
    for (auto _ : state) {
        size_t walked = 0;
        domMs.push_back(TimeMs([&] {
            walked = WalkInWindowOrder(LargeDocument()->RootElement()) +
                     WalkInWindowOrder(SecondRoot()->Document()->RootElement());
        }));
        SelectNode(LargeRoot());
        done = done && Window().MI_Resort->isEnabled() &&
               walked == static_cast<size_t>(n) + 1 + kSecondBranches + 1;
        windowMs.push_back(TimeMs([] {
            Window().MI_Resort->trigger();
            Settle();
        }));
        state.SetIterationTime(windowMs.back() / 1000.0);
    }
    Report(state, "Resort", TBar::Subtree, windowMs, domMs, askedBefore,
           done ? "" : "the command was not offered or the walk missed branches");
}

TForm_Find& FindDialog() {
    return *program.windows->Find;
}

// The find dialog opened from the menu with the text typed, a new search.
void TypeSearchText(const char* text) {
    Window().MI_Find->trigger();
    Settle();
    FindDialog().Edit_FindWhat->clear();
    FindDialog().Edit_FindWhat->setText(text);
}

// Find from the top: the first press finds the only match, in the branch the window shows last.
void BM_FindNext(benchmark::State& state, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    TTreeNode* last = LastShownNode();
    bool done = MemoAccess.Read(last->Element()).find(kNeedle) != std::string::npos;
    std::vector<double> windowMs;
    std::vector<double> domMs;
    for (auto _ : state) {
        size_t matches = 0;
        domMs.push_back(TimeMs([&] { matches = SearchDocuments(kNeedle); }));
        SelectNode(Window().Tree().FirstTopLevel());
        TypeSearchText(kNeedle);
        windowMs.push_back(TimeMs([] {
            FindDialog().Button_Find->click();
            Settle();
        }));
        done = done && matches == 1 && Window().Tree().Selected() == last;
        state.SetIterationTime(windowMs.back() / 1000.0);
    }
    FindDialog().close();
    Settle();
    Report(state, "FindNext", TBar::Subtree, windowMs, domMs, askedBefore,
           done ? "" : "Find did not reach the one branch that holds the text");
}

// A Find All that runs longer than this is cancelled through its progress dialog, as a user who
// gives up would; its figure is then only a lower bound, reported as an error.
constexpr int kFindAllLimitMs = 30000;

// Presses Find All; gives the milliseconds until it finished or was cancelled at the limit.
double PressFindAll(bool& cancelled) {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&cancelled] {
        if (auto* progress = FindDialog().findChild<QProgressDialog*>("Progress_FindAll")) {
            cancelled = true;
            progress->cancel();
        }
    });
    watchdog.start(kFindAllLimitMs);
    return TimeMs([] {
        FindDialog().Button_FindAll->click();
        Settle();
    });
}

// Find All of a word every tenth branch holds.
void BM_FindAll(benchmark::State& state, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    const size_t expected = static_cast<size_t>(n) / 10;
    std::string failure;
    std::vector<double> windowMs;
    std::vector<double> domMs;
    for (auto _ : state) {
        size_t matches = 0;
        domMs.push_back(TimeMs([&] { matches = SearchDocuments(kTenthWord); }));
        TypeSearchText(kTenthWord);
        bool cancelled = false;
        windowMs.push_back(PressFindAll(cancelled));
        state.SetIterationTime(windowMs.back() / 1000.0);
        if (cancelled) {
            failure = "Find All was cancelled after " + std::to_string(static_cast<long>(windowMs.back())) +
                      " ms (the core's search took " + std::to_string(domMs.back()) + " ms)";
            state.SkipWithError(failure.c_str()); // a round left early must be reported before the loop ends
            break;
        }
        if (matches != expected || FindDialog().Results().MatchCount() != expected) {
            failure = "Find All did not list every tenth branch";
        }
    }
    FindDialog().close();
    Settle();
    Report(state, "FindAll", TBar::Subtree, windowMs, domMs, askedBefore, failure);
}

// File > Save of the large document under a name given once through Save As. The baseline is the
// core's writer writing the same DOM to a file of its own with as many backups; the parser's own
// save of the same document is shown beside it as "pugixml_ms", and the window's first check of
// the file after the save as "check_after_ms". Each write starts with nothing of
// the others still waiting to reach the disk (untimed): a save ends by flushing its file to the
// disk, and that flush also waits for what was written just before it, hundreds of megabytes at a
// million branches, on whichever write came after.
void BM_Save(benchmark::State& state, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    const std::string saved = (program.folder / "saved.ldx").string();
    const std::string written = (program.folder / "written.ldx").string();
    const std::string parserWritten = (program.folder / "parser.xml").string();
    SelectNode(LargeRoot());
    if (LargeDocument()->FileName() != saved) {
        Questions().SaveName = QString::fromStdString(saved);
        Window().MI_SaveAs->trigger();
        Settle();
    }
    bool done = LargeDocument()->FileName() == saved;
    pugi::xml_document parsed;
    done = done && parsed.load_file(LargeFile().c_str());
    std::vector<double> windowMs;
    std::vector<double> domMs;
    std::vector<double> parserMs;
    std::vector<double> checkMs;
    std::vector<double> readMs;
    for (auto _ : state) {
        const TDomNode root = LargeDocument()->RootElement();
        ::sync();
        domMs.push_back(TimeMs(
            [&] { WriteTextFile(written, DocumentToText(root), {.backups = Window().BackupCount()}); }));
        ::sync();
        parserMs.push_back(
            TimeMs([&] { done = parsed.save_file(parserWritten.c_str(), "", pugi::format_raw) && done; }));
        SelectNode(LargeRoot());
        // Marked modified as an edit would, so that the cleared mark afterwards shows the save ran.
        LargeDocument()->SetModified(true);
        ::sync();
        windowMs.push_back(TimeMs([] {
            Window().MI_Save->trigger();
            Settle();
        }));
        done = done && !LargeDocument()->Modified();
        state.SetIterationTime(windowMs.back() / 1000.0);
        // The window's next look at its files (the watch's, after the save's rename) reads the
        // saved file, whose status a save does not take; beside it, the file read whole and
        // digested.
        checkMs.push_back(TimeMs([] { Window().CheckDocumentFiles(TCheckDepth::Status); }));
        readMs.push_back(TimeMs([&] { benchmark::DoNotOptimize(DigestOf(ReadFileBytes(saved))); }));
    }
    Report(state, "Save", TBar::Subtree, windowMs, domMs, askedBefore,
           done ? "" : "the document was not saved");
    state.counters["pugixml_ms"] = Median(parserMs);
    state.counters["check_after_ms"] = Median(checkMs);
    state.counters["read_whole_ms"] = Median(readMs);
}

// File > Close of the unmodified large document, opened again untimed after each round. The
// baseline destroys a DOM of the same file.
void BM_Close(benchmark::State& state, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    bool done = true;
    std::vector<double> windowMs;
    std::vector<double> domMs;
    for (auto _ : state) {
        SelectNode(LargeRoot());
        if (LargeDocument()->Modified()) {
            Window().MI_Save->trigger();
            Settle();
        }
        auto bare = std::make_unique<TDomDocument>();
        bare->Load(LargeFile());
        domMs.push_back(TimeMs([&] { bare.reset(); }));
        const int documents = Window().Tree().TopLevelCount();
        windowMs.push_back(TimeMs([] {
            Window().MI_Close->trigger();
            Settle();
        }));
        done = done && Window().Tree().TopLevelCount() == documents - 1;
        state.SetIterationTime(windowMs.back() / 1000.0);
        ReopenLarge();
    }
    Report(state, "Close", TBar::Subtree, windowMs, domMs, askedBefore,
           done ? "" : "the document did not close");
}

// One round of recovery snapshots with the large document modified: how long the window's thread
// is held by it (the texts are made and written on a thread of their own). The baseline makes the
// same snapshot text; the whole round, until its file is written, is "round_ms".
void BM_RecoveryRound(benchmark::State& state, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    TDocumentRecovery* recovery = Window().Recovery();
    if (recovery == nullptr) {
        state.SkipWithError("the window writes no recovery snapshots");
        return;
    }
    std::vector<double> windowMs;
    std::vector<double> domMs;
    std::vector<double> roundMs;
    for (auto _ : state) {
        domMs.push_back(TimeMs(
            [] { benchmark::DoNotOptimize(SnapshotText(LargeDocument()->RootElement(), LargeFile())); }));
        LargeDocument()->SetModified(true);
        const auto start = Clock::now();
        windowMs.push_back(TimeMs([recovery] { recovery->WriteSnapshots(); }));
        recovery->Settle();
        roundMs.push_back(Milliseconds(Clock::now() - start));
        state.SetIterationTime(windowMs.back() / 1000.0);
    }
    // The rounds wrote one snapshot, which goes with the next round once the document is unmodified.
    const auto snapshots = [recovery] {
        size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(recovery->Folder().Folder())) {
            count += entry.path().extension() == ".ldx" ? 1 : 0;
        }
        return count;
    };
    const size_t written = snapshots();
    LargeDocument()->SetModified(false);
    recovery->WriteSnapshots();
    recovery->Settle();
    Report(state, "RecoveryRound", TBar::Growth, windowMs, domMs, askedBefore,
           written == 1 && snapshots() == 0 ? "" : "the rounds did not write the one snapshot and remove it");
    state.counters["round_ms"] = Median(roundMs);
}

// The stretches of a command during which the window handled no event: a timer due every
// millisecond notes when it is served.
class TEventTurns {
public:
    TEventTurns() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { turns_.push_back(Clock::now()); });
    }
    void Start() {
        turns_.assign(1, Clock::now());
        timer_.start();
    }
    void Stop() { timer_.stop(); }
    // The milliseconds from the command's start to the first event handled.
    double First() const { return turns_.size() > 1 ? Milliseconds(turns_[1] - turns_[0]) : 0; }
    // The longest stretch between two events handled after the first.
    double LongestAfterFirst() const {
        double longest = 0;
        for (size_t i = 2; i < turns_.size(); ++i) {
            longest = std::max(longest, Milliseconds(turns_[i] - turns_[i - 1]));
        }
        return longest;
    }

private:
    QTimer timer_;
    std::vector<Clock::time_point> turns_;
};

// The '*' key on the large document's root, just opened: every branch opened, down to the level
// limit. The baseline walks the document in the window's order. Besides the time, the counters tell how long
// the window went without handling events: "first_turn_ms" until its progress shows (the progress
// delay, or the whole command when it is shorter), "longest_pause_ms" the longest stretch after;
// both from the worst round.
void BM_ExpandAll(benchmark::State& state, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    std::vector<double> windowMs;
    std::vector<double> domMs;
    std::vector<double> firstTurnMs;
    std::vector<double> pauseMs;
    bool done = true;
    TEventTurns turns;
    for (auto _ : state) {
        size_t walked = 0;
        domMs.push_back(TimeMs([&] { walked = WalkInWindowOrder(LargeDocument()->RootElement()); }));
        SelectNode(LargeRoot());
        turns.Start();
        windowMs.push_back(TimeMs([] {
            SendKey(Window().TreeView, Qt::Key_Asterisk);
            Settle();
        }));
        turns.Stop();
        firstTurnMs.push_back(turns.First());
        pauseMs.push_back(turns.LongestAfterFirst());
        TTreeNode* last = LastShownNode();
        done = done && walked == static_cast<size_t>(n) + 1 &&
               (last->Level() > TBranchTree::kMostOpenLevels || Window().Tree().IsExpanded(last->Parent()));
        state.SetIterationTime(windowMs.back() / 1000.0);
        // Opened again, so that each round makes the nodes as the first Expand All after an open does.
        SelectNode(LargeRoot());
        Window().MI_Close->trigger();
        Settle();
        ReopenLarge();
    }
    Report(state, "ExpandAll", TBar::Growth, windowMs, domMs, askedBefore,
           done ? "" : "the last branch's parent was not opened");
    // The worst round: what the user may meet.
    auto worst = [](const std::vector<double>& ms) {
        return ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end());
    };
    state.counters["first_turn_ms"] = worst(firstTurnMs);
    state.counters["longest_pause_ms"] = worst(pauseMs);
}

} // namespace

void RegisterDocumentCommands(TShape shape, int n) {
    const std::string suffix = std::string("/") + ShapeName(shape) + "/" + std::to_string(n);
    using TBench = void (*)(benchmark::State&, TShape, int);
    struct TInfo {
        TBench bench;
        const char* name;
    };
    for (const TInfo& info :
         {TInfo{BM_Resort, "BM_Resort"}, TInfo{BM_FindNext, "BM_FindNext"}, TInfo{BM_FindAll, "BM_FindAll"},
          TInfo{BM_Save, "BM_Save"}, TInfo{BM_Close, "BM_Close"}, TInfo{BM_RecoveryRound, "BM_RecoveryRound"},
          TInfo{BM_ExpandAll, "BM_ExpandAll"}}) {
        const TBench bench = info.bench;
        benchmark::RegisterBenchmark((info.name + suffix).c_str(),
                                     [bench, shape, n](benchmark::State& state) { bench(state, shape, n); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kDocumentRounds);
    }
}

} // namespace ludex::bench
