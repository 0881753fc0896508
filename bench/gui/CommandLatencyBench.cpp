// The latency of the editing commands in the main window (offscreen) on large documents, each
// triggered through its action as the user does it and followed by the event processing that shows
// its result. Beside each figure stands the bare DOM work of the same operation on the same
// document, measured in the same iterations.
//
// This file holds the single-branch commands (select, insert, rename, remove a leaf, undo and redo
// each), which act on the last leaf of the deepest branch, and the program's start; the subtree
// commands and the whole-document commands have files of their own. The documents are described
// in CommandBenchSupport.h. 100 000 branches by default; pass --million to measure 1 000 000
// branches as well. A table of every command's figures and bars follows the run.
#include "../common/BenchAllocator.h"
#include "CommandBenchSupport.h"
#include "DocumentCommandBench.h"
#include "SubtreeCommandBench.h"

#include "core/document/XMLNodeAccess.h"
#include "gui/app/EncryptionSettings.h"
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
using namespace ludex::bench;

namespace {

// The last leaf of the deepest branch: the branch a user reaches last.
TTreeNode* Target() {
    TTreeNode* node = LargeRoot();
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

QLineEdit* OpenEditor() {
    return Window().TreeView->findChild<QLineEdit*>();
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
    Window().Tree().Select(node);
    Window().Button_Rename->trigger();
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
    Window().Tree().Select(leaf);
    Window().Button_InsertBranch->trigger();
    Settle();
}

void RemoveThroughWindow(TTreeNode* node) {
    Window().Tree().Select(node);
    Window().Button_RemoveBranch->trigger();
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
        Window().Tree().Select(parent);
        Settle();
        r.window = TimeMs([&] {
            Window().Tree().Select(target);
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

void BM_Command(benchmark::State& state, const char* name, TCommand command, TShape shape, int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    std::vector<double> windowMs;
    std::vector<double> domMs;
    int round = 0;
    for (auto _ : state) {
        const TRound r = RunOnce(command, ++round);
        windowMs.push_back(r.window);
        domMs.push_back(r.dom);
        state.SetIterationTime(r.window / 1000.0);
    }
    Report(state, name, TBar::Branch, windowMs, domMs, askedBefore);
}

void RegisterBranchCommands(TShape shape, int n) {
    for (const TCommandInfo& info : kCommands) {
        const std::string name =
            std::string("BM_") + info.name + "/" + ShapeName(shape) + "/" + std::to_string(n);
        const TCommand command = info.command;
        const char* commandName = info.name;
        benchmark::RegisterBenchmark(name.c_str(),
                                     [commandName, command, shape, n](benchmark::State& state) {
                                         BM_Command(state, commandName, command, shape, n);
                                     })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(20);
    }
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
    auto owned = std::make_unique<TBenchQuestions>();
    program.questions = owned.get();
    SetModalQuestions(std::move(owned));
    // A program in a folder of its own (portable), so that its settings and recovery snapshots
    // stay there and no earlier session's documents are reopened.
    namespace fs = std::filesystem;
    program.folder = fs::temp_directory_path() / ("ludex_bench_commands_" + std::to_string(::getpid()));
    fs::create_directories(program.folder);
    for (const char* name :
         {"Language.ENG.xml", "Language.RUS.xml", "ludex_Settings_Stencil.xml", "ludex.portable"}) {
        fs::copy_file(fs::path(LUDEX_BIN_DIR) / name, program.folder / name,
                      fs::copy_options::overwrite_existing);
    }
    ::setenv("XDG_STATE_HOME", (program.folder / "state").c_str(), 1);
    auto windows = std::make_unique<TProgramWindows>();
    windows->StartUp((program.folder / "ludex").string(), {});
    program.windows = windows.get();
    program.window = windows->Main.get();
    // The compatible scheme enciphers memos in the code page; the generated memos are Cyrillic.
    windows->EncryptionSettings->ChooseCodePage("windows-1251");
    Window().show();
    QApplication::processEvents();

    std::vector<int> sizes{100000};
    if (million) {
        sizes.push_back(1000000);
    }
    // Grouped by document, so that each is opened once; the commands that close it come last.
    for (int n : sizes) {
        for (TShape shape : {TShape::Broad, TShape::Deep}) {
            RegisterBranchCommands(shape, n);
            RegisterSubtreeCommands(shape, n);
            RegisterDocumentCommands(shape, n);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    CloseAll();
    windows.reset();
    fs::remove_all(program.folder);
    return 0;
}
