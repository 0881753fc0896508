#pragma once

// What the command benchmarks share: the generated documents, the window they run in (offscreen),
// the question seam that gives only the answers a benchmark has scripted, and the table of results
// printed after the run with each command's 1 000 000-to-100 000 ratio.
//
// Two documents are open while the commands run: the large generated one and a small second one
// (kSecondBranches branches), into which the subtree commands paste.
//
// Documents: "broad" has ten top-level branches, each a tree of n / 10 branches with ten
// sub-branches per branch; "deep" is a chain of 10 000 levels, every level holding the next one and
// n / 10 000 - 1 leaves. In both, one branch holds exactly n / 10 branches (itself included): the
// first top-level branch of the broad document, the level 9 000 of the deep one. Titles carry
// zero-padded numbers, so the window's sibling order is the order of the numbers. Every tenth
// branch has the word kTenthWord in its memo; only the branch the window shows last has kNeedle.
#include "gui/app/ModalQuestions.h"

#include "core/document/DomService.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace ludex {

class TForm_Ludex;
class TLXDocument;
class TProgramWindows;
class TTreeNode;

namespace bench {

using Clock = std::chrono::steady_clock;

inline constexpr int kDeepLevels = 10000;
inline constexpr int kSecondBranches = 3;
inline constexpr const char* kNeedle = "needle";
inline constexpr const char* kTenthWord = "tenth";

enum class TShape { Broad, Deep };
const char* ShapeName(TShape shape);

// The text of a generated document of n branches (n a multiple of 10 000).
std::string MakeShapedDocument(TShape shape, int n);
// The 1-based number of the branch the window shows last (the last one in its pre-order).
int LastShownBranch(TShape shape, int n);
// The branches the large subtree holds, itself included.
inline int SubtreeSize(int n) {
    return n / 10;
}

double Milliseconds(Clock::duration d);
template <typename F>
double TimeMs(F&& work) {
    const auto t0 = Clock::now();
    work();
    return Milliseconds(Clock::now() - t0);
}

// Answers only what a benchmark has scripted beforehand: a file to open, a save name, answers to
// confirmation boxes and the program's dialogs (in order). Any other question means the benchmark
// does not measure what it says: it is counted and answered No or Cancel.
class TBenchQuestions : public IModalQuestions {
public:
    int Asked = 0; // questions nobody scripted
    std::optional<QString> FileToOpen;
    std::optional<QString> SaveName;
    std::deque<TAnswer> Answers;
    std::deque<std::function<int(QDialog&)>> Dialogs;

    TAnswer Ask(QWidget*, const QString& text, TQuestionButtons) override;
    int Choose(QWidget*, const QString& text, const QStringList& choices) override;
    void Inform(QWidget*, const QString& text) override;
    void ShowError(QWidget*, const QString& text) override;
    std::optional<QString> OpenFileName(QWidget*, const QString&, const QString&) override;
    std::optional<QString> SaveFileName(QWidget*, const QString&, const QString&, const QString&) override;
    std::optional<TSaveChoice> SaveFileOfType(QWidget*, const QString&, const QString&, const QStringList&,
                                              int) override;
    std::optional<QFont> ChooseFont(QWidget*, const QFont&) override;
    int Exec(QDialog& dialog) override;
    // Whether every scripted answer has been used.
    bool AllUsed() const { return !FileToOpen && !SaveName && Answers.empty() && Dialogs.empty(); }
    void Clear();
};

// The program the benchmarks drive, started once by main.
struct TBenchProgram {
    TProgramWindows* windows = nullptr;
    TForm_Ludex* window = nullptr;
    TBenchQuestions* questions = nullptr;
    std::filesystem::path folder; // the program's own folder; files written by the benchmarks go here
};
extern TBenchProgram program;

TForm_Ludex& Window();
TBenchQuestions& Questions();

// Events handled and an editor the view let go of deleted, as when control returns to the loop.
void Settle();
void SendKey(QWidget* widget, int key);
void Undo();
void Redo();
// Selects the node and lets the window follow (untimed preparation of a command).
void SelectNode(TTreeNode* node);

// Opens the second document once and makes the generated document of the shape and size the
// large one, closing the one open before.
void OpenDocument(TShape shape, int n);
// Closes the large document through File > Close (a question whether to save it is answered No)
// and deletes its generated file.
void CloseLarge();
// Closes the second document as well (end of the run).
void CloseAll();
// Opens the large document again from its generated file, after a benchmark has closed it.
void ReopenLarge();
TShape LargeShape();
int LargeSize();
const std::string& LargeFile();
TLXDocument* LargeDocument();
TTreeNode* LargeRoot();
TTreeNode* SecondRoot();
// The branch that holds SubtreeSize(n) branches, in the large document.
TTreeNode* SubtreeBranch();
// The last node of the large document in the window's pre-order.
TTreeNode* LastShownNode();
// The elements of the sub-tree, the element itself included.
size_t CountElements(const TDomNode& element);

// What the window's documents should hold, checked after every benchmark: both documents shown, and
// both DOMs as they were opened. Empty when so, else what differs.
std::string DocumentsChanged();

// A benchmark's figures: `window` and `dom` are the per-round milliseconds. Sets the counters
// "ms" and "baseline_ms" (medians) and "branches", and keeps the medians for the summary printed
// after the run. Reported as an error instead: `failure` (what the benchmark found the command
// did wrong, when not empty), an unscripted question, a scripted answer never asked for, and
// documents left changed.
// Growth: a command held to no bar but the growth from 100 000 to 1 000 000 branches.
// `leaf`, when given, is the same command's milliseconds on a single branch at the same place: the
// counter "leaf_ms" (median), and in the summary what the command costs beyond it, against the
// baseline.
enum class TBar { Branch, Subtree, Growth };
void Report(benchmark::State& state, const std::string& command, TBar bar, const std::vector<double>& window,
            const std::vector<double>& dom, int askedBefore, const std::string& failure = {},
            const std::vector<double>& leaf = {});
// Prints every command's figures with its bars: a single-branch command within 16 ms at 1 000 000
// branches, a subtree command within three times its baseline, and 1 000 000 branches within
// eleven times 100 000; then, for the commands measured on a single branch as well, the part of the
// time the sub-tree adds.
void PrintSummary();

} // namespace bench
} // namespace ludex
