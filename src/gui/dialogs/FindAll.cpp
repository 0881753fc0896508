// The find dialog's Find All: every match of the scope in one list; and the pace of every long search.
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/LongWork.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/dialogs/FindResults.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/TreeViewManager.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTreeView>

#include <algorithm>
#include <optional>

namespace ludex {

namespace {

// How many nodes a search visits between two looks at the clock and at the user.
constexpr size_t kNodesPerSlice = 64;

bool InSubtree(const TTreeNode* node, const TTreeNode* root) {
    return node != nullptr && (root == nullptr || node == root || node->HasAsAncestor(root));
}

// The nodes a search of the scope can visit at most, counted in the documents: the nodes of
// branches not reached yet may still be unmade.
size_t NodesInScope(const TBranchTree& tree, TTreeNode* root) {
    const auto nodesOf = [](TTreeNode* top) {
        const TDomNode element = ElementOf(top);
        return element ? CountBranches(element).Nodes() : size_t{1};
    };
    if (root != nullptr) {
        return nodesOf(root);
    }
    size_t count = 0;
    for (int i = 0; i < tree.TopLevelCount(); ++i) {
        count += nodesOf(tree.TopLevel(i));
    }
    return count;
}

} // namespace

bool TForm_Find::Visit(TLongWork& work, TSearchPace& pace, TTreeNode* root) {
    if (++pace.visited % kNodesPerSlice != 0) {
        return true;
    }
    // The scope is counted once the search is seen to take long.
    if (pace.countScope && !pace.total && work.Shown()) {
        pace.total = NodesInScope(*tree_, root);
    }
    return work.Step(pace.visited, pace.total.value_or(0)) && !disturbed_;
}

void TForm_Find::Button_FindAllClick() {
    if (!tree_ || searching_) {
        return;
    }
    const std::unique_ptr<TTextMatcher> matcher = PrepareMatcher();
    if (!matcher) {
        ClearResults(); // the error was shown; no rows of an earlier search stand for this one
        return;
    }
    const bool inTree = CheckBox_FindInTree->isChecked();
    const bool inMemos = CheckBox_FindInMemos->isChecked();
    TTreeNode* const root = Scope() == scopeSelectedBranch ? tree_->Selected() : nullptr;
    TTreeNode* node = Scope() == scopeSelectedBranch ? root : tree_->FirstTopLevel();

    searching_ = true;
    disturbed_ = false;
    const auto finished = qScopeGuard([this] { searching_ = false; });
    // Nothing else is done to the documents while their nodes are being visited: the window
    // takes no input but Cancel meanwhile.
    TLongWork work("FindAllSearching", TCancel::Allowed, progressDelay_);
    TSearchPace pace;

    // The same walk as the find button's presses, gathering every match instead of stopping at
    // the first one.
    TFindResultsData found;
    std::vector<TTextMatch> matches;
    const auto visit = [&] { return Visit(work, pace, root); };
    // Looks at one branch, its node made by `nodeOf` only if it matches; false when it is locked
    // (its memo not searched, nor anything below it).
    const auto search = [&](const std::string& title, const TDomNode& element, bool locked, auto&& nodeOf) {
        if (inTree) {
            if (const TTextMatch match = matcher->Find(title, 1)) {
                found.Add(nodeOf(), TMatchPlace::Title, title, match);
            }
        }
        if (locked) {
            ++found.lockedNotSearched;
            return false;
        }
        if (inMemos) {
            const std::string memo = element ? MemoAccess.Read(element) : std::string();
            matches.clear();
            matcher->FindAll(memo, matches);
            for (const TTextMatch& match : matches) {
                found.Add(nodeOf(), TMatchPlace::Memo, memo, match);
            }
        }
        return true;
    };
    while (InSubtree(node, root)) {
        if (!visit()) {
            return;
        }
        TTreeNode* const current = node;
        if (!search(current->Text(), ElementOf(current), IsNodeLocked(current),
                    [current] { return current; })) {
            node = NodeAfterSubtree(*tree_, current);
            continue;
        }
        if (!current->ChildrenUnmade()) {
            node = NextInPreOrder(*tree_, current);
            continue;
        }
        // The branches below have no nodes yet: they are searched in the document, in the order
        // of their nodes to be, and only the nodes down to a match are made.
        TBranchWalk walk(ElementOf(current), current->ChildOrder());
        for (bool more = walk.Next(); more;) {
            if (!visit()) {
                return;
            }
            const TBranch& branch = walk.Current();
            TTreeNode* made = nullptr;
            const auto nodeOf = [&made, current, &branch] {
                return made != nullptr ? made : (made = NodeOfBranch(current, branch.element));
            };
            more = search(branch.title, branch.element, branch.locked, nodeOf) ? walk.Next() : walk.Skip();
        }
        node = NodeAfterSubtree(*tree_, current);
    }

    results_->Take(std::move(found));
    resultsOutOfDate_ = false;
    Label_OutOfDate->hide();
    Button_Refresh->hide();
    if (Panel_FindAll->isHidden()) {
        // The dialog grows to give the list room for a dozen rows and a readable excerpt; the
        // user may make it smaller again, and later searches keep the size chosen.
        Panel_FindAll->show();
        const int rows = List_FindAll->fontMetrics().height() * 14;
        resize(std::max(width(), 640), height() + rows);
        if (screen() != nullptr) {
            // It stays on the screen: beside the main window it may have grown past the edge.
            const QRect room = screen()->availableGeometry();
            const QRect frame = frameGeometry();
            move(std::max(room.left(), x() - std::max(0, frame.right() - room.right())),
                 std::max(room.top(), y() - std::max(0, frame.bottom() - room.bottom())));
        }
    }
    ShowResultCount();
    if (results_->MatchCount() > 0) {
        List_FindAll->setCurrentIndex(results_->index(0, 0));
    }
}

void TForm_Find::List_FindAllActivate(int row) {
    const TFoundMatch* found = results_->Match(row);
    if (found == nullptr || !tree_) {
        return;
    }
    TTreeNode* node = results_->NodeOf(*found);
    if (node == nullptr) {
        ModalQuestions().Inform(this, Q(LanguageLocaler().GetMessage("FindAllBranchGone")));
        return;
    }
    const TMatchPlace place = found->place;
    const TTextMatch match = found->match;
    const std::string matched = found->matched;

    SetFindMode(TFindMode::Restart);
    SelectNode(node);
    if (place == TMatchPlace::Title) {
        return;
    }
    // The memo may have been edited, or the branch locked, since the list was made: only the
    // very characters that were found are selected.
    if (!IsNodeLocked(node)) {
        const std::string memo = MemoOf(node);
        if (match.position - 1 + match.length <= memo.size() &&
            memo.compare(match.position - 1, match.length, matched) == 0 && MemoShowsMatch(memo, match)) {
            SelectMemoMatch(memo, match);
            return;
        }
    }
    ModalQuestions().Inform(this, Q(LanguageLocaler().GetMessage("FindAllMatchGone")));
}

void TForm_Find::ClearResults() {
    if (results_->MatchCount() == 0 && results_->LockedNotSearched() == 0 && !resultsOutOfDate_) {
        return;
    }
    results_->Take({});
    resultsOutOfDate_ = false;
    Label_OutOfDate->hide();
    Button_Refresh->hide();
    Label_FindAllCount->clear();
}

void TForm_Find::MarkResultsOutOfDate() noexcept {
    if (searching_) {
        disturbed_ = true;
    }
    if (Panel_FindAll->isHidden() || resultsOutOfDate_) {
        return;
    }
    resultsOutOfDate_ = true;
    Label_OutOfDate->show();
    Button_Refresh->show();
}

void TForm_Find::ShowResultCount() {
    Label_FindAllCount->setText(
        Q(LanguageLocaler().FormatMessage("FindAllCount", {std::to_string(results_->MatchCount()),
                                                           std::to_string(results_->LockedNotSearched())})));
}

void TForm_Find::LocalizeResults() {
    TLXLocaler& localer = LanguageLocaler();
    results_->SetCaptions({Q(localer.GetMessage("FindAllDocument")), Q(localer.GetMessage("FindAllBranch")),
                           Q(localer.GetMessage("FindAllPlace")), Q(localer.GetMessage("FindAllExcerpt"))},
                          Q(localer.GetMessage("FindAllTitle")), Q(localer.GetMessage("FindAllMemo")));
    Label_OutOfDate->setText(Q(localer.GetMessage("FindAllOutOfDate")));
    ShowResultCount();
}

} // namespace ludex
