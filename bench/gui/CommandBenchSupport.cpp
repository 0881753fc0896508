#include "CommandBenchSupport.h"

#include "../common/BenchMedian.h"

#include "core/document/DocumentWriter.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ProgramWindows.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <tuple>
#include <utility>

namespace ludex::bench {

TBenchProgram program;

namespace {

void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

std::string Padded(int i) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%07d", i);
    return digits;
}

// One branch's start tag: a title with non-ASCII letters and a memo of three lines, every letter
// of which the windows-1251 code page holds (so that either encryption scheme can encipher it).
void AppendBranch(std::string& text, int i, bool leaf, int needle) {
    text += "<note title=\"Branch " + Padded(i) + " \xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0\" memo=\"";
    text += "First line of memo " + Padded(i) +
            "&#xA;\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xB0\xD1\x8F "
            "\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0 with some text&#xA;third line: 2 &lt; 3 "
            "&amp;&amp; 4";
    if (i % 10 == 0) {
        text += std::string(" ") + kTenthWord;
    }
    if (i == needle) {
        text += std::string(" ") + kNeedle;
    }
    text += leaf ? "\"/>\r\n" : "\">\r\n";
}

void AppendHeader(std::string& text, const char* title) {
    text += kDocumentDeclaration;
    text += "\r\n<ludex version=\"2.1.0 \" title=\"";
    text += title;
    text += "\" memo=\"\">\r\n";
}

// The sub-branches of branch j of a ten-way tree of m branches are 10 (j - 1) + 2 ...
// 10 (j - 1) + 11, as far as they exist.
int FirstChildOf(int j) {
    return 10 * (j - 1) + 2;
}

// Ten top-level branches, each a ten-way tree of n / 10 branches written depth first.
std::string MakeBroadDocument(int n) {
    const int m = n / 10;
    const int needle = LastShownBranch(TShape::Broad, n);
    std::string text;
    AppendHeader(text, "Broad");
    struct TFrame {
        int j;
        int nextChild;
    };
    std::vector<TFrame> stack;
    for (int top = 0; top < 10; ++top) {
        const int base = top * m;
        auto open = [&](int j) {
            const bool leaf = FirstChildOf(j) > m;
            AppendBranch(text, base + j, leaf, needle);
            if (!leaf) {
                stack.push_back({j, FirstChildOf(j)});
            }
        };
        open(1);
        while (!stack.empty()) {
            TFrame& f = stack.back();
            if (f.nextChild <= m && f.nextChild < FirstChildOf(f.j) + 10) {
                open(f.nextChild++);
            } else {
                stack.pop_back();
                text += "</note>\r\n";
            }
        }
    }
    text += "</ludex>";
    return text;
}

// A chain of kDeepLevels branches; each holds n / kDeepLevels - 1 leaves before the next level.
std::string MakeDeepDocument(int n) {
    const int leaves = n / kDeepLevels - 1;
    const int needle = LastShownBranch(TShape::Deep, n);
    std::string text;
    AppendHeader(text, "Deep");
    int index = 0;
    for (int level = 0; level < kDeepLevels; ++level) {
        AppendBranch(text, ++index, false, needle);
        for (int leaf = 0; leaf < leaves; ++leaf) {
            AppendBranch(text, ++index, true, needle);
        }
    }
    for (int level = 0; level < kDeepLevels; ++level) {
        text += "</note>\r\n";
    }
    text += "</ludex>";
    return text;
}

std::string MakeSecondDocument() {
    std::string text;
    AppendHeader(text, "Second");
    for (int i = 1; i <= kSecondBranches; ++i) {
        text += "<note title=\"Second " + std::to_string(i) + "\" memo=\"A short memo\"/>\r\n";
    }
    text += "</ludex>";
    return text;
}

std::string WriteDocument(const std::string& name, const std::string& text) {
    const std::string path = (program.folder / name).string();
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) {
        Fail("cannot write " + path);
    }
    return path;
}

struct TOpened {
    TShape shape = TShape::Broad;
    int n = 0;
    std::string file;
    TLXDocument* large = nullptr;
    TLXDocument* second = nullptr;
} opened;

TLXDocument* OpenThroughWindow(const std::string& file) {
    TBranchTree& tree = Window().Tree();
    const int before = tree.TopLevelCount();
    Questions().FileToOpen = QString::fromStdString(file);
    Window().MI_Open->trigger();
    Settle();
    if (tree.TopLevelCount() != before + 1 || Questions().FileToOpen) {
        Fail(file + " did not open");
    }
    for (int i = 0; i < tree.TopLevelCount(); ++i) {
        TLXDocument* document = tree.TopLevel(i)->Document();
        if (document != opened.large && document != opened.second) {
            return document;
        }
    }
    Fail(file + " opened as no new document");
    return nullptr;
}

void CloseThroughWindow(TLXDocument* document) {
    Window().Tree().Select(document->RootNode());
    if (document->Modified()) {
        Questions().Answers.push_back(TAnswer::No);
    }
    Window().MI_Close->trigger();
    Settle();
    Questions().Answers.clear();
}

struct TResult {
    std::string command;
    TShape shape;
    int n;
    TBar bar;
    double ms;
    double baseline;
    std::optional<double> leaf;
};
std::vector<TResult> results;

} // namespace

const char* ShapeName(TShape shape) {
    return shape == TShape::Broad ? "broad" : "deep";
}

std::string MakeShapedDocument(TShape shape, int n) {
    return shape == TShape::Broad ? MakeBroadDocument(n) : MakeDeepDocument(n);
}

int LastShownBranch(TShape shape, int n) {
    if (shape == TShape::Deep) {
        return n / kDeepLevels; // the last leaf of the first level: deeper levels come before leaves
    }
    // The last top-level branch, then each time the last sub-branch.
    const int m = n / 10;
    int j = 1;
    while (FirstChildOf(j) <= m) {
        j = std::min(FirstChildOf(j) + 9, m);
    }
    return 9 * m + j;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

TAnswer TBenchQuestions::Ask(QWidget*, const QString& text, TQuestionButtons) {
    if (Answers.empty()) {
        ++Asked;
        std::fprintf(stderr, "unexpected question: %s\n", text.toStdString().c_str());
        return TAnswer::No;
    }
    const TAnswer answer = Answers.front();
    Answers.pop_front();
    return answer;
}

int TBenchQuestions::Choose(QWidget*, const QString& text, const QStringList& choices) {
    ++Asked;
    std::fprintf(stderr, "unexpected choice: %s\n", text.toStdString().c_str());
    return static_cast<int>(choices.size()) - 1;
}

void TBenchQuestions::Inform(QWidget*, const QString& text) {
    ++Asked;
    std::fprintf(stderr, "unexpected message: %s\n", text.toStdString().c_str());
}

void TBenchQuestions::ShowError(QWidget*, const QString& text) {
    ++Asked;
    std::fprintf(stderr, "error shown: %s\n", text.toStdString().c_str());
}

std::optional<QString> TBenchQuestions::OpenFileName(QWidget*, const QString&, const QString&) {
    if (!FileToOpen) {
        ++Asked;
    }
    return std::exchange(FileToOpen, std::nullopt);
}

std::optional<QString> TBenchQuestions::SaveFileName(QWidget*, const QString&, const QString&,
                                                     const QString&) {
    if (!SaveName) {
        ++Asked;
    }
    return std::exchange(SaveName, std::nullopt);
}

std::optional<TSaveChoice> TBenchQuestions::SaveFileOfType(QWidget*, const QString&, const QString&,
                                                           const QStringList&, int) {
    return ++Asked, std::nullopt;
}

std::optional<QFont> TBenchQuestions::ChooseFont(QWidget*, const QFont&) {
    return ++Asked, std::nullopt;
}

int TBenchQuestions::Exec(QDialog& dialog) {
    if (Dialogs.empty()) {
        ++Asked;
        std::fprintf(stderr, "unexpected dialog: %s\n", dialog.objectName().toStdString().c_str());
        return QDialog::Rejected;
    }
    auto answer = std::move(Dialogs.front());
    Dialogs.pop_front();
    return answer(dialog);
}

void TBenchQuestions::Clear() {
    FileToOpen.reset();
    SaveName.reset();
    Answers.clear();
    Dialogs.clear();
}

TForm_Ludex& Window() {
    return *program.window;
}

TBenchQuestions& Questions() {
    return *program.questions;
}

void Settle() {
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void SendKey(QWidget* widget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void Undo() {
    Window().MI_Undo->trigger();
    Settle();
}

void Redo() {
    Window().MI_Redo->trigger();
    Settle();
}

void SelectNode(TTreeNode* node) {
    Window().Tree().Select(node);
    Settle();
}

void OpenDocument(TShape shape, int n) {
    if (opened.second == nullptr) {
        opened.second = OpenThroughWindow(WriteDocument("second.ldx", MakeSecondDocument()));
    }
    if (opened.large != nullptr && opened.shape == shape && opened.n == n) {
        return;
    }
    CloseLarge();
    opened.shape = shape;
    opened.n = n;
    opened.file = WriteDocument(std::string("large_") + ShapeName(shape) + "_" + std::to_string(n) + ".ldx",
                                MakeShapedDocument(shape, n));
    ReopenLarge();
}

void CloseLarge() {
    if (opened.large != nullptr) {
        CloseThroughWindow(std::exchange(opened.large, nullptr));
        std::error_code ignored;
        std::filesystem::remove(opened.file, ignored);
    }
}

void CloseAll() {
    CloseLarge();
    if (opened.second != nullptr) {
        CloseThroughWindow(std::exchange(opened.second, nullptr));
    }
}

void ReopenLarge() {
    opened.large = nullptr;
    opened.large = OpenThroughWindow(opened.file);
    const size_t branches = CountElements(opened.large->RootElement());
    if (branches != static_cast<size_t>(opened.n + 1) || !opened.large->RootNode()->HasChildren()) {
        Fail(opened.file + " opened with " + std::to_string(branches) + " branches");
    }
}

TShape LargeShape() {
    return opened.shape;
}

int LargeSize() {
    return opened.n;
}

const std::string& LargeFile() {
    return opened.file;
}

TLXDocument* LargeDocument() {
    return opened.large;
}

TTreeNode* LargeRoot() {
    return opened.large->RootNode();
}

TTreeNode* SecondRoot() {
    return opened.second->RootNode();
}

TTreeNode* SubtreeBranch() {
    TTreeNode* node = LargeRoot()->FirstChild();
    if (opened.shape == TShape::Deep) {
        // The deeper level sorts before the leaves of each level.
        for (int level = 0; level < kDeepLevels - kDeepLevels / 10 && node != nullptr; ++level) {
            node = node->FirstChild();
        }
    }
    if (node == nullptr) {
        Fail("the document has no branch at the subtree's place");
    }
    return node;
}

TTreeNode* LastShownNode() {
    TTreeNode* node = LargeRoot();
    while (node->HasChildren()) {
        node = node->Child(node->ChildCount() - 1);
    }
    return node;
}

size_t CountElements(const TDomNode& element) {
    size_t count = 0;
    TDomNode node = element;
    for (;;) {
        if (node.IsElement()) {
            ++count;
        }
        if (TDomNode child = node.FirstChild()) {
            node = child;
            continue;
        }
        for (;;) {
            if (node == element) {
                return count;
            }
            if (TDomNode next = node.NextSibling()) {
                node = next;
                break;
            }
            node = node.Parent();
        }
    }
}

std::string DocumentsChanged() {
    std::string changes;
    if (Window().Tree().TopLevelCount() != 2 || !opened.large->RootNode()->HasChildren()) {
        changes += "the tree no longer shows both documents; ";
    }
    if (const size_t large = CountElements(opened.large->RootElement()); large != size_t(opened.n) + 1) {
        changes += "the large document holds " + std::to_string(large) + " elements; ";
    }
    if (const size_t second = CountElements(opened.second->RootElement()); second != kSecondBranches + 1) {
        changes += "the second document holds " + std::to_string(second) + " elements; ";
    }
    return changes;
}

void Report(benchmark::State& state, const std::string& command, TBar bar, const std::vector<double>& window,
            const std::vector<double>& dom, int askedBefore, const std::string& failure,
            const std::vector<double>& leaf) {
    std::string error = failure;
    if (!error.empty()) {
        // What the command did wrong says most.
    } else if (Questions().Asked != askedBefore) {
        error = "the command asked a question nobody scripted";
    } else if (!Questions().AllUsed()) {
        error = "a scripted answer was not asked for: the command did not run as a user runs it";
    } else if (const std::string changes = DocumentsChanged(); !changes.empty()) {
        error = "the rounds did not leave the documents as they found them: " + changes;
    }
    Questions().Clear();
    const double ms = bench::Median(window);
    const double baseline = bench::Median(dom);
    state.counters["ms"] = ms;
    state.counters["baseline_ms"] = baseline;
    state.counters["branches"] = opened.n;
    std::optional<double> leafMs;
    if (!leaf.empty()) {
        leafMs = bench::Median(leaf);
        state.counters["leaf_ms"] = *leafMs;
    }
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    results.push_back({command, opened.shape, opened.n, bar, ms, baseline, leafMs});
}

void PrintSummary() {
    // "base 1M/100k" is the same ratio for the baseline: how much of the growth the bare work shares.
    std::printf("\n%-20s %-6s %8s %10s %12s %9s %9s %12s  %s\n", "command", "shape", "n", "ms", "baseline_ms",
                "ms/base", "1M/100k", "base 1M/100k", "bars");
    for (const TResult& r : results) {
        const auto smaller = std::find_if(results.begin(), results.end(), [&r](const TResult& s) {
            return s.command == r.command && s.shape == r.shape && s.n * 10 == r.n;
        });
        std::string bars;
        char growth[32] = "";
        char baseGrowth[32] = "";
        if (smaller != results.end() && smaller->ms > 0) {
            const double ratio = r.ms / smaller->ms;
            std::snprintf(growth, sizeof growth, "%.2f", ratio);
            if (smaller->baseline > 0) {
                std::snprintf(baseGrowth, sizeof baseGrowth, "%.2f", r.baseline / smaller->baseline);
            }
            bars += ratio <= 11 ? "11x:ok " : "11x:FAIL ";
        }
        if (r.bar == TBar::Branch && r.n >= 1000000) {
            bars += r.ms <= 16 ? "16ms:ok" : "16ms:FAIL";
        }
        if (r.bar == TBar::Subtree) {
            bars += r.ms <= 3 * r.baseline ? "3xbase:ok" : "3xbase:FAIL";
        }
        std::printf("%-20s %-6s %8d %10.3f %12.3f %9.2f %9s %12s  %s\n", r.command.c_str(),
                    ShapeName(r.shape), r.n, r.ms, r.baseline, r.baseline > 0 ? r.ms / r.baseline : 0.0,
                    growth, baseGrowth, bars.c_str());
    }
    // What a command costs on a single branch at the same place (the window's part: the view, the
    // history, the memo shown, painting) is paid whatever the branch holds; what the sub-tree adds
    // beyond it is set against the bare work.
    std::printf("\n%-20s %-6s %8s %10s %10s %12s %16s\n", "command", "shape", "n", "ms", "leaf_ms",
                "baseline_ms", "(ms-leaf)/base");
    for (const TResult& r : results) {
        if (r.leaf) {
            std::printf("%-20s %-6s %8d %10.3f %10.3f %12.3f %16.2f\n", r.command.c_str(), ShapeName(r.shape),
                        r.n, r.ms, *r.leaf, r.baseline, r.baseline > 0 ? (r.ms - *r.leaf) / r.baseline : 0.0);
        }
    }
    std::fflush(stdout);
}

} // namespace ludex::bench
