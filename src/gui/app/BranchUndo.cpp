#include "gui/app/BranchUndo.h"

#include "core/document/XMLNodeAccess.h"
#include "gui/app/LudexUnit.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QUndoCommand>
#include <QUndoStack>

#include <algorithm>
#include <set>
#include <vector>

namespace ludex {

namespace {

// The position of an element below the document's root element: the index among its parent's
// child nodes at every level, outermost first. The same path finds the same element in an equal
// copy of the tree.
using TElementPath = std::vector<size_t>;

TElementPath PathOf(TDomNode element, const TDomNode& root) {
    TElementPath path;
    while (element && !(element == root)) {
        size_t index = 0;
        for (TDomNode sibling = element.PreviousSibling(); sibling; sibling = sibling.PreviousSibling()) {
            ++index;
        }
        path.push_back(index);
        element = element.Parent();
    }
    if (!element) {
        return {};
    }
    return {path.rbegin(), path.rend()};
}

TDomNode ElementAt(const TDomNode& root, const TElementPath& path) {
    TDomNode element = root;
    for (size_t index : path) {
        element = element.Child(index);
        if (!element) {
            return {};
        }
    }
    return element;
}

// Every node of the sub-tree, the top node first, without recursion.
template <typename TVisit>
void VisitNodes(TTreeNode* top, TVisit visit) {
    std::vector<TTreeNode*> pending{top};
    while (!pending.empty()) {
        TTreeNode* node = pending.back();
        pending.pop_back();
        visit(node);
        for (int i = node->ChildCount() - 1; i >= 0; --i) {
            pending.push_back(node->Child(i));
        }
    }
}

TTreeNode* NodeOfElement(TTreeNode* top, const TDomNode& element) {
    TTreeNode* found = nullptr;
    VisitNodes(top, [&](TTreeNode* node) {
        if (found == nullptr && ElementOf(node) == element) {
            found = node;
        }
    });
    return found;
}

// Makes `target` an equal copy of `source`: attributes in order, then every child node.
void CopyElementInto(const TDomNode& target, const TDomNode& source) {
    for (const auto& [name, value] : target.Attributes()) {
        target.RemoveAttribute(name);
    }
    target.RemoveAllChildren();
    for (const auto& [name, value] : source.Attributes()) {
        target.SetAttribute(name, value);
    }
    for (TDomNode child = source.FirstChild(); child; child = child.NextSibling()) {
        target.AppendCopy(child);
    }
}

} // namespace

// A detached copy of a document's element tree with the branch that was selected in it.
class TBranchUndo::TSnapshot {
public:
    TDomDocument copy;
    TElementPath selected;
    bool hasSelection = false;

    TDomNode Root() const { return copy.DocumentElement().FirstChild(); }
};

namespace {

class TSnapshotStep : public QUndoCommand {
public:
    TSnapshotStep(TBranchUndo& owner, TLXDocument* document, unsigned group,
                  std::unique_ptr<TBranchUndo::TSnapshot> before,
                  std::unique_ptr<TBranchUndo::TSnapshot> after)
        : owner_(owner), document_(document), group_(group), before_(std::move(before)),
          after_(std::move(after)) {}

    // Steps recorded by one command share a group: a move between documents is undone and redone
    // in both at once.
    unsigned Group() const { return group_; }

    void undo() override { owner_.Restore(document_, *before_); }

    void redo() override {
        if (done_) {
            done_ = false; // pushed after the change was made: nothing to do the first time
            return;
        }
        owner_.Restore(document_, *after_);
    }

private:
    TBranchUndo& owner_;
    TLXDocument* document_;
    unsigned group_;
    std::unique_ptr<TBranchUndo::TSnapshot> before_;
    std::unique_ptr<TBranchUndo::TSnapshot> after_;
    bool done_ = true;
};

} // namespace

TBranchUndo::TBranchUndo(TForm_Ludex& window) : window_(window) {}

TBranchUndo::~TBranchUndo() = default;

QUndoStack& TBranchUndo::StackOf(TLXDocument* document) {
    auto found = stacks_.find(document);
    if (found != stacks_.end()) {
        return *found->second;
    }
    auto stack = std::make_unique<QUndoStack>();
    // A document changed before its history began (a memo edit not stored yet is no change of
    // its elements) has no state in the history that matches its file.
    const bool pendingMemo = window_.MemoModified() && DocumentOf(window_.Tree().Selected()) == document;
    if (document->Modified() && !pendingMemo) {
        stack->resetClean();
    }
    return *stacks_.emplace(document, std::move(stack)).first->second;
}

QUndoStack* TBranchUndo::FindStack(TLXDocument* document) const {
    auto found = stacks_.find(document);
    return found == stacks_.end() ? nullptr : found->second.get();
}

std::unique_ptr<TBranchUndo::TSnapshot> TBranchUndo::Take(TLXDocument* document) const {
    auto snapshot = std::make_unique<TSnapshot>();
    snapshot->copy.LoadXML("<snapshot/>");
    snapshot->copy.DocumentElement().AppendCopy(document->RootElement());
    TTreeNode* selected = window_.Tree().Selected();
    if (selected != nullptr && DocumentOf(selected) == document) {
        snapshot->hasSelection = true;
        snapshot->selected = PathOf(ElementOf(selected), document->RootElement());
    }
    return snapshot;
}

void TBranchUndo::Record(std::initializer_list<TLXDocument*> documents, const std::function<void()>& change) {
    window_.CommitMemo();
    RecordStep(documents, change);
}

void TBranchUndo::RecordStep(std::initializer_list<TLXDocument*> documents,
                             const std::function<void()>& change) {
    std::vector<TLXDocument*> changed;
    std::vector<std::unique_ptr<TSnapshot>> before;
    for (TLXDocument* document : documents) {
        if (document != nullptr && std::find(changed.begin(), changed.end(), document) == changed.end()) {
            StackOf(document);
            changed.push_back(document);
            before.push_back(Take(document));
        }
    }
    change();
    const unsigned group = ++lastGroup_;
    for (size_t i = 0; i < changed.size(); ++i) {
        // A change may close a document; the step then has nothing to return to.
        if (FindStack(changed[i]) == nullptr) {
            continue;
        }
        std::unique_ptr<TSnapshot> after = Take(changed[i]);
        if (after->Root().XML() == before[i]->Root().XML()) {
            continue; // nothing changed in this document: no step
        }
        StackOf(changed[i])
            .push(new TSnapshotStep(*this, changed[i], group, std::move(before[i]), std::move(after)));
    }
    window_.UpdateBranchCommands(window_.Tree().Selected());
}

void TBranchUndo::Restore(TLXDocument* document, const TSnapshot& snapshot) {
    TBranchTree& tree = window_.Tree();
    TTreeNode* rootNode = document->RootNode();
    const TDomNode root = document->RootElement();

    std::set<TElementPath> expanded;
    VisitNodes(rootNode, [&](TTreeNode* node) {
        if (node->HasChildren() && tree.IsExpanded(node) && ElementOf(node)) {
            expanded.insert(PathOf(ElementOf(node), root));
        }
    });
    // The nodes go before their elements change, so that nothing shown refers to a removed element.
    if (DocumentOf(tree.Selected()) == document) {
        tree.Select(rootNode);
    }
    tree.DeleteChildren(rootNode);
    CopyElementInto(root, snapshot.Root());
    tree.SetText(rootNode, TitleAccess.Read(root));
    if (!AddLockedPlaceholder(tree, rootNode, root)) {
        BuildChildNodes(tree, rootNode, root);
        tree.SortChildren(rootNode, TSortDepth::AllLevels, TreeViewCompare);
    }
    for (const TElementPath& path : expanded) {
        if (TTreeNode* node = NodeOfElement(rootNode, ElementAt(root, path)); node != nullptr) {
            if (!IsNodeLocked(node)) {
                tree.Expand(node);
            }
        }
    }
    TTreeNode* select = rootNode;
    if (snapshot.hasSelection) {
        if (TTreeNode* node = NodeOfElement(rootNode, ElementAt(root, snapshot.selected)); node != nullptr) {
            select = node;
        }
    }
    tree.Select(select);
    window_.ShowSelectedBranch();
}

void TBranchUndo::AfterMove(TLXDocument* document) {
    if (QUndoStack* stack = FindStack(document)) {
        document->SetModified(!stack->isClean());
    }
    window_.UpdateBranchCommands(window_.Tree().Selected());
}

namespace {
unsigned GroupOf(const QUndoStack& stack, int index) {
    if (index < 0 || index >= stack.count()) {
        return 0;
    }
    return static_cast<const TSnapshotStep*>(stack.command(index))->Group();
}
} // namespace

void TBranchUndo::Step(TDirection direction) {
    window_.CommitMemo();
    TLXDocument* document = window_.SelectedDocument();
    QUndoStack* stack = FindStack(document);
    const bool back = direction == TDirection::Back;
    if (stack == nullptr || !(back ? stack->canUndo() : stack->canRedo())) {
        return;
    }
    const unsigned group = GroupOf(*stack, back ? stack->index() - 1 : stack->index());
    // The other documents of the same command first, so that the selection ends in this one.
    for (auto& [other, otherStack] : stacks_) {
        if (other != document &&
            GroupOf(*otherStack, back ? otherStack->index() - 1 : otherStack->index()) == group) {
            back ? otherStack->undo() : otherStack->redo();
            AfterMove(other);
        }
    }
    back ? stack->undo() : stack->redo();
    AfterMove(document);
}

void TBranchUndo::Undo() {
    Step(TDirection::Back);
}

void TBranchUndo::Redo() {
    Step(TDirection::Forward);
}

bool TBranchUndo::CanUndo() const {
    const QUndoStack* stack = FindStack(window_.SelectedDocument());
    return (stack != nullptr && stack->canUndo()) || window_.MemoModified();
}

bool TBranchUndo::CanRedo() const {
    const QUndoStack* stack = FindStack(window_.SelectedDocument());
    return stack != nullptr && stack->canRedo();
}

int TBranchUndo::UndoCount(TLXDocument* document) const {
    const QUndoStack* stack = FindStack(document);
    return stack == nullptr ? 0 : stack->index();
}

void TBranchUndo::MarkSaved(TLXDocument* document) {
    StackOf(document).setClean();
}

void TBranchUndo::ForgetHistory(TLXDocument* document) {
    if (QUndoStack* stack = FindStack(document)) {
        stack->clear();
        if (document->Modified()) {
            stack->resetClean();
        }
    }
    window_.UpdateBranchCommands(window_.Tree().Selected());
}

void TBranchUndo::ForgetDocument(TLXDocument* document) noexcept {
    stacks_.erase(document);
}

} // namespace ludex
