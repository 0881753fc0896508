#include "SubtreeCommandBench.h"

#include "core/document/BranchCipher.h"
#include "core/document/BranchCopy.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/app/LudexUnit.h"
#include "gui/dialogs/CipherDialog.h"
#include "gui/dialogs/PasswordDialog.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <optional>
#include <string>
#include <vector>

namespace ludex::bench {

namespace {

// A subtree command moves a tenth of the document: a few rounds tell enough.
constexpr int kSubtreeRounds = 3;
constexpr const char* kPassword = "bench password 7";

struct TRound {
    double window = 0;
    double dom = 0;
    bool done = true; // the command did what it is for
};

TDomNode SecondRootElement() {
    return SecondRoot()->Document()->RootElement();
}

// The branches of the large document, as opened, less `removed`.
bool LargeHolds(size_t removed) {
    return CountElements(LargeDocument()->RootElement()) == static_cast<size_t>(LargeSize()) + 1 - removed;
}

// Clicks a dialog's OK button as the user would, and returns what exec would have returned.
int ClickOk(QDialog& dialog) {
    dialog.setResult(QDialog::Rejected);
    dialog.findChild<QPushButton*>("Button_OK")->click();
    return dialog.result();
}

// The bare work of removing the branch: an equal sub-tree in the same document (a copy, which
// shares the parsed strings as the branch does) is removed.
double DomRemove(const TDomNode& element) {
    const TDomNode parent = LargeDocument()->RootElement();
    const TDomNode copy = parent.AppendCopy(element);
    return TimeMs([&] { parent.RemoveChild(copy); });
}

// The bare work of bringing a removed branch's elements back into the document: a copy of it, kept
// in a document of its own, is copied in. (The window's history puts back the very element it
// kept aside, at no cost in the DOM; the figure stays the same measure as before, so that runs
// can be compared.)
double DomPutBack(const TDomNode& element) {
    TDomDocument held;
    held.LoadXML("<held/>");
    const TDomNode kept = held.DocumentElement().AppendCopy(element);
    const TDomNode parent = LargeDocument()->RootElement();
    TDomNode back;
    const double ms = TimeMs([&] { back = parent.InsertCopyBefore(kept, TDomNode()); });
    parent.RemoveChild(back);
    return ms;
}

// The bare work of pasting a copy of the branch into the second document.
double DomCopyAcross(const TDomNode& element) {
    const TDomNode target = SecondRootElement();
    TDomNode copy;
    const double ms = TimeMs([&] { copy = CopyBranch(target, element); });
    target.RemoveChild(copy);
    return ms;
}

enum class TSubtreeCommand { Remove, UndoRemove, CopyPaste, CutPaste };

// The branch a round works on: the large sub-tree, or a leaf at the same place in the view (the
// last one below it), on which the same command shows what it costs whatever the branch holds.
enum class TTarget { Subtree, Leaf };

TTreeNode* TargetNode(TTarget target) {
    TTreeNode* node = SubtreeBranch();
    while (target == TTarget::Leaf && node->HasChildren()) {
        node = node->Child(node->ChildCount() - 1);
    }
    return node;
}

size_t TargetSize(TTarget target) {
    return target == TTarget::Leaf ? 1 : static_cast<size_t>(SubtreeSize(LargeSize()));
}

TRound RemoveRound(TSubtreeCommand command, TTarget target) {
    TTreeNode* node = TargetNode(target);
    const TDomNode element = node->Element();
    const double removeDom = DomRemove(element);
    const double putBackDom = DomPutBack(element);
    SelectNode(node);
    if (node->HasChildren()) {
        // Removing a branch with sub-branches asks first; the user says Yes.
        Questions().Answers.push_back(TAnswer::Yes);
    }
    TRound r;
    const double removeMs = TimeMs([] {
        Window().MI_RemoveBranch->trigger();
        Settle();
    });
    r.done = LargeHolds(TargetSize(target));
    const double undoMs = TimeMs(Undo);
    if (command == TSubtreeCommand::Remove) {
        r.window = removeMs;
        r.dom = removeDom;
    } else {
        r.window = undoMs;
        r.dom = putBackDom;
    }
    return r;
}

// Copy (or Cut) on the branch, then Paste on the second document; the history takes it back
// afterwards, untimed.
TRound PasteRound(TSubtreeCommand command, TTarget target) {
    const bool cut = command == TSubtreeCommand::CutPaste;
    TTreeNode* node = TargetNode(target);
    const TDomNode element = node->Element();
    TRound r;
    r.dom = DomCopyAcross(element) + (cut ? DomRemove(element) : 0.0);
    SelectNode(node);
    const double markMs = TimeMs([cut] {
        (cut ? Window().MI_Cut : Window().MI_Copy)->trigger();
        Settle();
    });
    SelectNode(SecondRoot());
    const double pasteMs = TimeMs([] {
        Window().MI_Paste->trigger();
        Settle();
    });
    r.window = markMs + pasteMs;
    const size_t moved = TargetSize(target);
    r.done = SecondRoot()->ChildCount() == kSecondBranches + 1 &&
             CountElements(SecondRootElement()) == kSecondBranches + 1 + moved && LargeHolds(cut ? moved : 0);
    Undo();
    return r;
}

TRound SubtreeRound(TSubtreeCommand command, TTarget target) {
    return command == TSubtreeCommand::Remove || command == TSubtreeCommand::UndoRemove
               ? RemoveRound(command, target)
               : PasteRound(command, target);
}

void BM_SubtreeCommand(benchmark::State& state, const char* name, TSubtreeCommand command, TShape shape,
                       int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    if (CountElements(SubtreeBranch()->Element()) != static_cast<size_t>(SubtreeSize(n))) {
        state.SkipWithError("the document has no branch of the subtree's size at its place");
        return;
    }
    std::vector<double> windowMs;
    std::vector<double> domMs;
    bool done = true;
    for (auto _ : state) {
        const TRound r = SubtreeRound(command, TTarget::Subtree);
        done = done && r.done;
        windowMs.push_back(r.window);
        domMs.push_back(r.dom);
        state.SetIterationTime(r.window / 1000.0);
    }
    std::vector<double> leafMs;
    for (int round = 0; round < kSubtreeRounds; ++round) {
        const TRound r = SubtreeRound(command, TTarget::Leaf);
        done = done && r.done;
        leafMs.push_back(r.window);
    }
    Report(state, name, TBar::Subtree, windowMs, domMs, askedBefore,
           done ? "" : "the command did not change the documents as it should", leafMs);
}

// The encrypt dialog's next showing: the password typed twice, the scheme chosen (unless none is
// given) and the branch not to be locked at once. The empty password takes the encryption off.
void EncryptThroughWindow(TTreeNode* node, const std::string& password, std::optional<TCipherScheme> scheme) {
    SelectNode(node);
    Questions().Dialogs.push_back([password, scheme](QDialog& dialog) {
        auto& cipher = dynamic_cast<TForm_CipherDialog&>(dialog);
        if (scheme) {
            cipher.Check_Compatible->setChecked(*scheme == TCipherScheme::Compatible);
        }
        cipher.Edit_Password->setText(QString::fromStdString(password));
        cipher.Edit_ConfirmPassword->setText(QString::fromStdString(password));
        cipher.Check_Lock->setChecked(false);
        return ClickOk(dialog);
    });
    Window().MI_CipherBranch->trigger();
    Settle();
}

// The core's halves of locking and unlocking the same sub-tree, on a copy of it in the second
// document, put under the password in the scheme beforehand. Unlocking verifies the password
// (deriving the strong key) as the password dialog does.
TRound DomLockRound(const TDomNode& element, TCipherScheme scheme, bool unlock) {
    const TDomNode target = SecondRootElement();
    const TDomNode copy = CopyBranch(target, element);
    SetBranchPassword(copy, kPassword, scheme);
    TRound r;
    const double lockMs = TimeMs([&] { EncipherBranch(copy); });
    const double unlockMs = TimeMs([&] { r.done = DecipherBranchElement(copy, kPassword); });
    target.RemoveChild(copy);
    r.dom = unlock ? unlockMs : lockMs;
    return r;
}

void BM_Lock(benchmark::State& state, const char* name, TCipherScheme scheme, bool unlock, TShape shape,
             int n) {
    OpenDocument(shape, n);
    const int askedBefore = Questions().Asked;
    TTreeNode* node = SubtreeBranch();
    const TDomNode element = node->Element();
    if (CountElements(element) != static_cast<size_t>(SubtreeSize(n))) {
        state.SkipWithError("the document has no branch of the subtree's size at its place");
        return;
    }
    EncryptThroughWindow(node, kPassword, scheme);
    bool done = IsBranchEncrypted(element) && BranchCipherScheme(element) == scheme;
    std::vector<double> windowMs;
    std::vector<double> domMs;
    for (auto _ : state) {
        const TRound bare = DomLockRound(element, scheme, unlock);
        SelectNode(node);
        const double lockMs = TimeMs([] {
            Window().MI_LockBranch->trigger();
            Settle();
        });
        const bool locked = IsBranchLocked(element) && node->ChildCount() == 1;
        // The password dialog: the password typed and OK clicked.
        Questions().Dialogs.push_back([](QDialog& dialog) {
            dynamic_cast<TForm_PasswordDialog&>(dialog).Edit_Password->setText(kPassword);
            return ClickOk(dialog);
        });
        const double unlockMs = TimeMs([] {
            Window().MI_LockBranch->trigger();
            Settle();
        });
        done = done && bare.done && locked && !IsBranchLocked(element) && node->ChildCount() > 0 &&
               CountElements(element) == static_cast<size_t>(SubtreeSize(n));
        windowMs.push_back(unlock ? unlockMs : lockMs);
        domMs.push_back(bare.dom);
        state.SetIterationTime(windowMs.back() / 1000.0);
    }
    EncryptThroughWindow(node, "", std::nullopt);
    done = done && !IsBranchEncrypted(element);
    Report(state, name, TBar::Subtree, windowMs, domMs, askedBefore,
           done ? "" : "the branch did not lock and unlock as it should");
}

} // namespace

void RegisterSubtreeCommands(TShape shape, int n) {
    auto suffix = std::string("/") + ShapeName(shape) + "/" + std::to_string(n);
    struct TInfo {
        TSubtreeCommand command;
        const char* name;
    };
    for (const TInfo& info : {TInfo{TSubtreeCommand::Remove, "RemoveSubtree"},
                              TInfo{TSubtreeCommand::UndoRemove, "UndoRemoveSubtree"},
                              TInfo{TSubtreeCommand::CopyPaste, "CopyPasteSubtree"},
                              TInfo{TSubtreeCommand::CutPaste, "CutPasteSubtree"}}) {
        const TSubtreeCommand command = info.command;
        const char* name = info.name;
        benchmark::RegisterBenchmark((std::string("BM_") + name + suffix).c_str(),
                                     [name, command, shape, n](benchmark::State& state) {
                                         BM_SubtreeCommand(state, name, command, shape, n);
                                     })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kSubtreeRounds);
    }
    struct TLockInfo {
        TCipherScheme scheme;
        bool unlock;
        const char* name;
    };
    for (const TLockInfo& info : {TLockInfo{TCipherScheme::Compatible, false, "LockCompatible"},
                                  TLockInfo{TCipherScheme::Compatible, true, "UnlockCompatible"},
                                  TLockInfo{TCipherScheme::Strong, false, "LockStrong"},
                                  TLockInfo{TCipherScheme::Strong, true, "UnlockStrong"}}) {
        const TCipherScheme scheme = info.scheme;
        const bool unlock = info.unlock;
        const char* name = info.name;
        benchmark::RegisterBenchmark((std::string("BM_") + name + suffix).c_str(),
                                     [name, scheme, unlock, shape, n](benchmark::State& state) {
                                         BM_Lock(state, name, scheme, unlock, shape, n);
                                     })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kSubtreeRounds);
    }
}

} // namespace ludex::bench
