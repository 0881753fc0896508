// The latency of the single-branch editing commands in the main window (offscreen) on large
// documents, each triggered through its action as the user does it and followed by the event
// processing that shows its result. Beside each figure stands the bare DOM work of the same
// operation on the same document, measured in the same iterations.
//
// Documents: "broad" has ten sub-branches per branch (few levels, wide ones); "deep" is a chain of
// 10 000 levels, every level holding the next one and n / 10 000 - 1 leaves. The commands act on
// the last leaf of the deepest branch. 100 000 branches by default; pass --million to measure
// 1 000 000 branches as well.
#include "../common/BenchAllocator.h"
#include "../common/BenchDocuments.h"
#include "../common/BenchMedian.h"

#include "core/document/XMLNodeAccess.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/ProgramWindows.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace ludex;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kDeepLevels = 10000;

enum class TShape { Broad, Deep };

const char* ShapeName(TShape shape) {
    return shape == TShape::Broad ? "broad" : "deep";
}

void AppendBranchStart(std::string& text, int i) {
    text +=
        "<note title=\"Branch " + std::to_string(i) + " \xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0\" memo=\"";
    text += "First line of memo " + std::to_string(i) +
            "&#xA;\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xB0\xD1\x8F with some text&#xA;third line\"";
}

// A chain of kDeepLevels branches; each holds n / kDeepLevels - 1 leaves before the next level.
std::string MakeDeepDocument(int n) {
    const int leaves = n / kDeepLevels - 1;
    std::string text(kDocumentDeclaration);
    text += "\r\n<ludex version=\"2.1.0 \" title=\"Deep\" memo=\"\">\r\n";
    int index = 0;
    for (int level = 0; level < kDeepLevels; ++level) {
        AppendBranchStart(text, ++index);
        text += ">\r\n";
        for (int leaf = 0; leaf < leaves; ++leaf) {
            AppendBranchStart(text, ++index);
            text += "/>\r\n";
        }
    }
    for (int level = 0; level < kDeepLevels; ++level) {
        text += "</note>\r\n";
    }
    text += "</ludex>";
    return text;
}

std::string DocumentFile(TShape shape, int n) {
    const std::string path = "/tmp/ludex_bench_commands_" + std::to_string(::getpid()) + "_" +
                             ShapeName(shape) + "_" + std::to_string(n) + ".ldx";
    std::ofstream(path, std::ios::binary)
        << (shape == TShape::Broad ? bench::MakeDocument(n) : MakeDeepDocument(n));
    return path;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

template <typename F>
double TimeMs(F&& work) {
    const auto t0 = Clock::now();
    work();
    return Milliseconds(Clock::now() - t0);
}

// No command measured here asks anything; a question would mean the benchmark does not measure
// what it says, so it is counted and reported, and answered No or Cancel.
// The open dialog answers with the file named beforehand.
class TNoQuestions : public IModalQuestions {
public:
    int Asked = 0;
    std::optional<QString> FileToOpen;
    TAnswer Ask(QWidget*, const QString&, TQuestionButtons) override { return ++Asked, TAnswer::No; }
    int Choose(QWidget*, const QString&, const QStringList& choices) override {
        ++Asked;
        return static_cast<int>(choices.size()) - 1;
    }
    void Inform(QWidget*, const QString&) override { ++Asked; }
    void ShowError(QWidget*, const QString& text) override {
        ++Asked;
        std::fprintf(stderr, "error shown: %s\n", text.toStdString().c_str());
    }
    std::optional<QString> OpenFileName(QWidget*, const QString&, const QString&) override {
        if (!FileToOpen) {
            ++Asked;
        }
        return std::exchange(FileToOpen, std::nullopt);
    }
    std::optional<QString> SaveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return ++Asked, std::nullopt;
    }
    std::optional<TSaveChoice> SaveFileOfType(QWidget*, const QString&, const QString&, const QStringList&,
                                              int) override {
        return ++Asked, std::nullopt;
    }
    std::optional<QFont> ChooseFont(QWidget*, const QFont&) override { return ++Asked, std::nullopt; }
    int Exec(QDialog&) override { return ++Asked, 0; }
};

TNoQuestions* questions = nullptr;
TForm_Ludex* window = nullptr;

// The document open in the window; one at a time, replaced when a benchmark needs another.
struct TOpenDocument {
    TShape shape = TShape::Broad;
    int n = 0;
    std::string file;
    bool open = false;
} opened;

// Closes the document through File > Close; the question whether to save it is answered No.
void CloseOpened() {
    if (opened.open) {
        window->Tree().Select(window->Tree().TopLevel(0));
        const int asked = questions->Asked;
        window->MI_Close->trigger();
        questions->Asked = asked;
        QApplication::processEvents();
        std::remove(opened.file.c_str());
        opened = {};
    }
}

void OpenDocument(TShape shape, int n) {
    if (opened.open && opened.shape == shape && opened.n == n) {
        return;
    }
    CloseOpened();
    opened.shape = shape;
    opened.n = n;
    opened.file = DocumentFile(shape, n);
    questions->FileToOpen = QString::fromStdString(opened.file);
    window->MI_Open->trigger();
    QApplication::processEvents();
    opened.open = window->Tree().TopLevelCount() == 1;
    if (!opened.open) {
        std::fprintf(stderr, "%s did not open\n", opened.file.c_str());
        std::abort();
    }
}

// The last leaf of the deepest branch: the branch a user reaches last.
TTreeNode* Target() {
    TTreeNode* node = window->Tree().TopLevel(window->Tree().TopLevelCount() - 1);
    for (;;) {
        TTreeNode* next = nullptr;
        for (int i = node->ChildCount() - 1; i >= 0 && next == nullptr; --i) {
            if (node->Child(i)->HasChildren()) {
                next = node->Child(i);
            }
        }
        if (next == nullptr) {
            return node->ChildCount() > 0 ? node->Child(node->ChildCount() - 1) : node;
        }
        node = next;
    }
}

void SendKey(QWidget* widget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// Events handled and an editor the view let go of deleted, as when control returns to the loop.
void Settle() {
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QLineEdit* OpenEditor() {
    return window->TreeView->findChild<QLineEdit*>();
}

// Leaves the title editor a new branch opens with, as Escape does.
void DismissEditor() {
    if (QLineEdit* editor = OpenEditor()) {
        SendKey(editor, Qt::Key_Escape);
    }
    Settle();
}

// Rename through the action: the editor opens, the new title is typed and Enter commits it.
void RenameThroughWindow(TTreeNode* node, const QString& title) {
    window->Tree().Select(node);
    window->Button_Rename->trigger();
    QLineEdit* editor = OpenEditor();
    if (editor == nullptr) {
        std::fprintf(stderr, "Rename opened no editor\n");
        std::abort();
    }
    editor->setText(title);
    SendKey(editor, Qt::Key_Return);
    Settle();
}

void InsertThroughWindow(TTreeNode* leaf) {
    window->Tree().Select(leaf);
    window->Button_InsertBranch->trigger();
    Settle();
}

void Undo() {
    window->MI_Undo->trigger();
    Settle();
}

void Redo() {
    window->MI_Redo->trigger();
    Settle();
}

void RemoveThroughWindow(TTreeNode* node) {
    window->Tree().Select(node);
    window->Button_RemoveBranch->trigger();
    Settle();
}

// One measured round: the window's command and, on the same document, the bare DOM work it rests
// on. Each leaves the document as it found it (undoing what it did outside the measurement).
struct TRound {
    double window = 0;
    double dom = 0;
};

enum class TCommand {
    Select,
    Insert,
    UndoInsert,
    RedoInsert,
    Rename,
    UndoRename,
    RedoRename,
    RemoveLeaf,
    UndoRemoveLeaf,
    RedoRemoveLeaf
};

struct TCommandInfo {
    TCommand command;
    const char* name;
};

constexpr TCommandInfo kCommands[] = {
    {TCommand::Select, "Select"},
    {TCommand::Insert, "Insert"},
    {TCommand::UndoInsert, "UndoInsert"},
    {TCommand::RedoInsert, "RedoInsert"},
    {TCommand::Rename, "Rename"},
    {TCommand::UndoRename, "UndoRename"},
    {TCommand::RedoRename, "RedoRename"},
    {TCommand::RemoveLeaf, "RemoveLeaf"},
    {TCommand::UndoRemoveLeaf, "UndoRemoveLeaf"},
    {TCommand::RedoRemoveLeaf, "RedoRemoveLeaf"},
};

// The DOM work of inserting a branch: a new element with its title, appended to the parent.
double DomInsert(const TDomNode& parent, TDomNode& inserted) {
    return TimeMs([&] {
        inserted = parent.AddChildElement("note");
        TitleAccess.Write(inserted, "???");
    });
}

double DomRemove(const TDomNode& parent, const TDomNode& element) {
    return TimeMs([&] { parent.RemoveChild(element); });
}

// The DOM work of putting a removed leaf back: a copy of it in its place.
double DomRestore(const TDomNode& parent, const TDomNode& source, TDomNode& restored) {
    return TimeMs([&] { restored = parent.InsertCopyBefore(source, TDomNode()); });
}

double DomRename(const TDomNode& element, const std::string& title) {
    return TimeMs([&] { TitleAccess.Write(element, title); });
}

// Which of the three measurements of an undoable command a round takes.
enum class TPhase { Command, Undo, Redo };

TPhase PhaseOf(TCommand command, TCommand itself, TCommand undo) {
    return command == itself ? TPhase::Command : command == undo ? TPhase::Undo : TPhase::Redo;
}

// One round of an undoable command: `apply` gives it through the window and `tidy` closes what it
// leaves open, untimed. The command, its undo or its redo is timed beside the DOM work it stands
// for (`forwardDom` for the command and its redo, `backDom` for the undo), and the document is left
// as it was.
TRound UndoableRound(TPhase phase, const std::function<void()>& apply, const std::function<void()>& tidy,
                     double forwardDom, double backDom) {
    TRound r;
    if (phase == TPhase::Command) {
        r.window = TimeMs(apply);
        tidy();
        r.dom = forwardDom;
        Undo();
        return r;
    }
    apply();
    tidy();
    if (phase == TPhase::Undo) {
        r.window = TimeMs(Undo);
        r.dom = backDom;
        return r;
    }
    Undo();
    r.window = TimeMs(Redo);
    r.dom = forwardDom;
    Undo();
    return r;
}

TRound RunOnce(TCommand command, int round) {
    TTreeNode* target = Target();
    TTreeNode* parent = target->Parent();
    const TDomNode element = target->Element();
    const TDomNode parentElement = parent->Element();
    const std::string title = target->Text();
    const QString newTitle = QStringLiteral("Renamed %1 \u0432\u0435\u0442\u043A\u0430").arg(round);
    TRound r;
    switch (command) {
    case TCommand::Select: {
        window->Tree().Select(parent);
        Settle();
        r.window = TimeMs([&] {
            window->Tree().Select(target);
            Settle();
        });
        r.dom = TimeMs([&] {
            benchmark::DoNotOptimize(MemoAccess.Read(element));
            benchmark::DoNotOptimize(TitleAccess.Read(element));
        });
        break;
    }
    case TCommand::Insert:
    case TCommand::UndoInsert:
    case TCommand::RedoInsert: {
        TDomNode inserted;
        const double insertDom = DomInsert(parentElement, inserted);
        const double removeDom = DomRemove(parentElement, inserted);
        r = UndoableRound(
            PhaseOf(command, TCommand::Insert, TCommand::UndoInsert), [&] { InsertThroughWindow(target); },
            DismissEditor, insertDom, removeDom);
        break;
    }
    case TCommand::Rename:
    case TCommand::UndoRename:
    case TCommand::RedoRename: {
        const std::string renamed = newTitle.toStdString();
        const double renameDom = DomRename(element, renamed);
        const double backDom = DomRename(element, title);
        r = UndoableRound(
            PhaseOf(command, TCommand::Rename, TCommand::UndoRename),
            [&] { RenameThroughWindow(target, newTitle); }, [] {}, renameDom, backDom);
        break;
    }
    case TCommand::RemoveLeaf:
    case TCommand::UndoRemoveLeaf:
    case TCommand::RedoRemoveLeaf: {
        // The DOM work on an equal leaf beside the target: putting it in place from a copy, as
        // undo does, and removing it.
        TDomNode copy;
        const double restoreDom = DomRestore(parentElement, element, copy);
        const double removeDom = DomRemove(parentElement, copy);
        r = UndoableRound(
            PhaseOf(command, TCommand::RemoveLeaf, TCommand::UndoRemoveLeaf),
            [&] { RemoveThroughWindow(target); }, [] {}, removeDom, restoreDom);
        break;
    }
    }
    return r;
}

void BM_Command(benchmark::State& state, TCommand command, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = questions->Asked;
    std::vector<double> windowMs;
    std::vector<double> domMs;
    int round = 0;
    for (auto _ : state) {
        const TRound r = RunOnce(command, ++round);
        windowMs.push_back(r.window);
        domMs.push_back(r.dom);
        state.SetIterationTime(r.window / 1000.0);
    }
    if (questions->Asked != askedBefore) {
        state.SkipWithError("the command asked a question");
    }
    if (window->Tree().Count() != static_cast<size_t>(n) + 1) {
        state.SkipWithError("the rounds did not leave the document as they found it");
    }
    state.counters["ms"] = bench::Median(windowMs);
    state.counters["baseline_ms"] = bench::Median(domMs);
    state.counters["branches"] = n;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    bench::FixAllocatorThresholds();
    bool million = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--million") == 0) {
            million = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    QApplication application(argc, argv);
    auto owned = std::make_unique<TNoQuestions>();
    questions = owned.get();
    SetModalQuestions(std::move(owned));
    // A program in a folder of its own (portable), so that its settings and recovery snapshots
    // stay there and no earlier session's documents are reopened.
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("ludex_bench_commands_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    for (const char* name :
         {"Language.ENG.xml", "Language.RUS.xml", "ludex_Settings_Stencil.xml", "ludex.portable"}) {
        fs::copy_file(fs::path(LUDEX_BIN_DIR) / name, folder / name, fs::copy_options::overwrite_existing);
    }
    ::setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
    auto windows = std::make_unique<TProgramWindows>();
    windows->StartUp((folder / "ludex").string(), {});
    window = windows->Main.get();
    window->show();
    QApplication::processEvents();

    std::vector<int> sizes{100000};
    if (million) {
        sizes.push_back(1000000);
    }
    // Grouped by document, so that each is opened once.
    for (int n : sizes) {
        for (TShape shape : {TShape::Broad, TShape::Deep}) {
            for (const TCommandInfo& info : kCommands) {
                const std::string name =
                    std::string("BM_") + info.name + "/" + ShapeName(shape) + "/" + std::to_string(n);
                const TCommand command = info.command;
                benchmark::RegisterBenchmark(
                    name.c_str(),
                    [command, shape, n](benchmark::State& state) { BM_Command(state, command, shape, n); })
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond)
                    ->Iterations(20);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseOpened();
    windows.reset();
    fs::remove_all(folder);
    return 0;
}
