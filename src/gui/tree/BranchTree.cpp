#include "gui/tree/BranchTree.h"

#include "gui/tree/BranchView.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/Pictures.h"
#include "gui/tree/TreeViewManager.h"

#include <QMimeData>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <future>
#include <stdexcept>
#include <utility>

namespace ludex {

TTreeNode::~TTreeNode() {
    std::vector<std::unique_ptr<TTreeNode>> pending = std::move(children_);
    while (!pending.empty()) {
        std::unique_ptr<TTreeNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children_) {
            pending.push_back(std::move(child));
        }
        node->children_.clear();
    }
}

void TTreeNode::MakeChildren() const {
    if (unmade_) {
        root_->tree_->MakeChildren(*this);
    }
}

void TTreeNode::SetDocument(std::unique_ptr<TLXDocument> document) {
    document_ = std::move(document);
}

TTreeNode* TTreeNode::NextSibling() const {
    if (parent_ == nullptr) {
        return nullptr; // top-level siblings are known to the tree only
    }
    return row_ + 1 < parent_->ChildCount() ? parent_->Child(row_ + 1) : nullptr;
}

TTreeNode* TTreeNode::PreviousSibling() const {
    if (parent_ == nullptr) {
        return nullptr;
    }
    return row_ > 0 ? parent_->Child(row_ - 1) : nullptr;
}

bool TTreeNode::HasAsAncestor(const TTreeNode* ancestor) const {
    // Only the node as many levels up as the ancestor's level can be it: the walk goes no further.
    if (ancestor == nullptr || ancestor->level_ >= level_) {
        return false;
    }
    const TTreeNode* p = parent_;
    for (int up = level_ - ancestor->level_ - 1; up > 0 && p != nullptr; --up) {
        p = p->parent_;
    }
    return p == ancestor;
}

TBranchTree::TBranchTree(const TPictureList& pictures, QObject* parent)
    : QAbstractItemModel(parent), pictures_(pictures) {}

TBranchTree::~TBranchTree() {
    SettleReclaims();
}

void TBranchTree::Reclaim(std::unique_ptr<TTreeNode> top) {
    if (top->children_.empty()) {
        count_ -= FreeSubtree(std::move(top));
        return;
    }
    if (top->document_) {
        // A top-level node and its document go here, on this thread. The nodes below it, which
        // hold handles to the document's elements but never read them as they go, are freed
        // aside under a stand-in that takes the top node's place in the count.
        std::unique_ptr<TTreeNode> standIn;
        try {
            standIn = std::make_unique<TTreeNode>();
        } catch (...) {
            count_ -= FreeSubtree(std::move(top));
            return;
        }
        standIn->children_ = std::move(top->children_);
        top->children_.clear();
        top.reset();
        top = std::move(standIn);
    }
    // Finished ones are counted as they are found, so that the list stays short.
    std::erase_if(reclaiming_, [this](std::future<size_t>& freed) {
        if (freed.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            return false;
        }
        count_ -= freed.get();
        return true;
    });
    // The room is made first, so that nothing can fail once the thread owns the nodes; when no
    // thread can be had, they are freed here.
    TTreeNode* const nodes = top.release();
    try {
        reclaiming_.reserve(reclaiming_.size() + 1);
        reclaiming_.push_back(std::async(std::launch::async,
                                         [nodes] { return FreeSubtree(std::unique_ptr<TTreeNode>(nodes)); }));
    } catch (...) {
        count_ -= FreeSubtree(std::unique_ptr<TTreeNode>(nodes));
    }
}

void TBranchTree::SettleReclaims() const {
    for (std::future<size_t>& freed : reclaiming_) {
        count_ -= freed.get();
    }
    reclaiming_.clear();
}

size_t TBranchTree::Count() const {
    SettleReclaims();
    return count_;
}

void TBranchTree::SetView(QTreeView* view) {
    view_ = view;
    view->setModel(this);
}

std::vector<std::unique_ptr<TTreeNode>>& TBranchTree::SiblingsOf(TTreeNode* parent) {
    if (parent != nullptr) {
        parent->MakeChildren();
    }
    return MadeSiblingsOf(parent);
}

const std::vector<std::unique_ptr<TTreeNode>>& TBranchTree::SiblingsOf(const TTreeNode* parent) const {
    if (parent != nullptr) {
        parent->MakeChildren();
    }
    return MadeSiblingsOf(parent);
}

void TBranchTree::Link(const TTreeNode* parent, TTreeNode& node, int row) const {
    node.parent_ = const_cast<TTreeNode*>(parent);
    if (parent != nullptr) {
        node.root_ = parent->root_;
        node.level_ = parent->level_ + 1;
    } else {
        node.tree_ = this;
    }
    node.row_ = row;
    node.buildId_ = IsHidden(parent) ? buildId_ : 0;
}

std::unique_ptr<TTreeNode> TBranchTree::NewBranchNode(const TTreeNode* parent, TBranch&& branch,
                                                      TBranchOrder order, size_t& made) const {
    auto node = std::make_unique<TTreeNode>();
    node->text_ = std::move(branch.title);
    node->element_ = branch.element;
    Link(parent, *node, 0); // the row is the caller's to set
    const int picture = BranchPicture(branch.encrypted, branch.hasSubBranches);
    node->picture_ = static_cast<std::int16_t>(picture);
    node->selectedPicture_ = static_cast<std::int16_t>(picture);
    node->childOrder_ = order;
    ++made;
    if (branch.locked) {
        // A locked branch's content is its payload, which the placeholder stands for; it is made
        // at once, as it costs one node and its picture tells the lock.
        if (branch.hasSubBranches) {
            auto placeholder = std::make_unique<TTreeNode>();
            placeholder->text_ = kPlaceholderText;
            Link(node.get(), *placeholder, 0);
            node->children_.push_back(std::move(placeholder));
            ++made;
        }
    } else {
        node->unmade_ = branch.hasSubBranches;
    }
    return node;
}

void TBranchTree::MakeChildren(const TTreeNode& node) const {
    // Made from the element as it is now and in the order kept for them; nothing changes if a
    // node cannot be made.
    std::vector<TBranch> branches = SubBranches(node.element_, node.childOrder_);
    std::vector<std::unique_ptr<TTreeNode>> made;
    made.reserve(branches.size());
    size_t count = 0;
    for (TBranch& branch : branches) {
        made.push_back(NewBranchNode(&node, std::move(branch), node.childOrder_, count));
        made.back()->row_ = static_cast<int>(made.size()) - 1;
    }
    node.children_ = std::move(made);
    node.unmade_ = false;
    count_ += count;
}

TTreeNode* TBranchTree::Insert(TTreeNode* parent, std::unique_ptr<TTreeNode> node, size_t made) {
    // The parent's own children first: the new node follows them.
    auto& siblings = SiblingsOf(parent);
    const int row = static_cast<int>(siblings.size());
    const bool hidden = IsHidden(parent);
    siblings.reserve(siblings.size() + 1);
    if (!hidden) {
        beginInsertRows(IndexOf(parent), row, row);
    }
    node->row_ = row;
    TTreeNode* result = node.get();
    siblings.push_back(std::move(node));
    count_ += made;
    if (!hidden) {
        endInsertRows();
    }
    return result;
}

TTreeNode* TBranchTree::AddTopLevel(const std::string& text) {
    auto node = std::make_unique<TTreeNode>();
    node->text_ = text;
    Link(nullptr, *node, 0);
    return Insert(nullptr, std::move(node), 1);
}

void TBranchTree::StartBuild() {
    // Both kinds of build mark their nodes with the same id, so only one may run at a time.
    if (IsBuilding()) {
        throw Exception("Nodes are already being built");
    }
    buildId_ = ++lastBuildId_ == 0 ? ++lastBuildId_ : lastBuildId_;
}

TTreeNode* TBranchTree::BeginTopLevel(const std::string& text) {
    StartBuild();
    hiddenTop_ = std::make_unique<TTreeNode>();
    hiddenTop_->text_ = text;
    hiddenTop_->tree_ = this;
    hiddenTop_->buildId_ = buildId_;
    ++count_;
    return hiddenTop_.get();
}

void TBranchTree::AttachTopLevel() {
    const int row = static_cast<int>(roots_.size());
    beginInsertRows(QModelIndex(), row, row);
    hiddenTop_->row_ = row;
    roots_.push_back(std::move(hiddenTop_));
    buildId_ = 0; // every node of the build is shown from now on
    endInsertRows();
}

void TBranchTree::DiscardTopLevel() {
    shownFor_ = nullptr;
    if (hiddenTop_) {
        count_ -= FreeSubtree(std::move(hiddenTop_));
    }
    buildId_ = 0;
}

TTreeNode* TBranchTree::BeginChildren(TTreeNode* parent) {
    parent->MakeChildren(); // the new children follow those it has
    StartBuild();
    staging_ = std::make_unique<TTreeNode>();
    staging_->buildId_ = buildId_;
    // The children made below the stand-in get their level and top-level node from it.
    staging_->level_ = parent->level_;
    staging_->root_ = parent->root_;
    stagingFor_ = parent;
    return staging_.get();
}

void TBranchTree::AttachChildren() {
    TTreeNode* parent = stagingFor_;
    std::vector<std::unique_ptr<TTreeNode>> children = std::move(staging_->children_);
    staging_.reset();
    stagingFor_ = nullptr;
    if (children.empty()) {
        buildId_ = 0;
        return;
    }
    const int first = parent->ChildCount();
    beginInsertRows(IndexOf(parent), first, first + static_cast<int>(children.size()) - 1);
    parent->children_.reserve(parent->children_.size() + children.size());
    for (auto& child : children) {
        child->parent_ = parent;
        child->row_ = parent->ChildCount();
        parent->children_.push_back(std::move(child));
    }
    buildId_ = 0; // every node of the build is shown from now on
    endInsertRows();
}

void TBranchTree::DiscardChildren() {
    if (staging_) {
        for (auto& child : staging_->children_) {
            count_ -= FreeSubtree(std::move(child));
        }
        staging_.reset();
    }
    stagingFor_ = nullptr;
    buildId_ = 0;
}

TTreeNode* TBranchTree::AddChild(TTreeNode* parent, std::string text) {
    auto node = std::make_unique<TTreeNode>();
    node->text_ = std::move(text);
    Link(parent, *node, 0);
    return Insert(parent, std::move(node), 1);
}

TTreeNode* TBranchTree::AddBranch(TTreeNode* parent, const TDomNode& element, TBranchOrder order) {
    if (parent->unmade_) {
        // Made from the element, which holds the new branch already.
        if (TTreeNode* made = ChildNodeOf(parent, element)) {
            return made;
        }
        throw std::logic_error("The branch is not below its parent's element");
    }
    return AddBranch(parent, ReadBranch(element), order);
}

TTreeNode* TBranchTree::AddBranch(TTreeNode* parent, TBranch&& branch, TBranchOrder order) {
    size_t made = 0;
    std::unique_ptr<TTreeNode> node = NewBranchNode(parent, std::move(branch), order, made);
    return Insert(parent, std::move(node), made);
}

size_t TBranchTree::FreeSubtree(std::unique_ptr<TTreeNode> top) {
    // Counted as freed, in one walk, without recursion; the top node goes last, so that a
    // document it owns outlives every node that refers to its elements.
    size_t count = 1;
    std::vector<std::unique_ptr<TTreeNode>> pending = std::move(top->children_);
    top->children_.clear();
    while (!pending.empty()) {
        std::unique_ptr<TTreeNode> node = std::move(pending.back());
        pending.pop_back();
        ++count;
        for (auto& child : node->children_) {
            pending.push_back(std::move(child));
        }
        node->children_.clear();
    }
    return count;
}

void TBranchTree::Delete(TTreeNode* node) {
    if (shownFor_ == node || (shownFor_ != nullptr && shownFor_->HasAsAncestor(node))) {
        shownFor_ = nullptr;
    }
    if (node == hiddenTop_.get()) {
        DiscardTopLevel();
        return;
    }
    const bool hidden = IsHidden(node);
    if (!hidden) {
        emit NodeAboutToBeDeleted(node);
    }
    TTreeNode* parent = node->parent_;
    auto& siblings = SiblingsOf(parent);
    const int row = node->row_;
    if (!hidden) {
        beginRemoveRows(IndexOf(parent), row, row);
    }
    std::unique_ptr<TTreeNode> removed = std::move(siblings[static_cast<size_t>(row)]);
    siblings.erase(siblings.begin() + row);
    for (size_t i = static_cast<size_t>(row); i < siblings.size(); ++i) {
        siblings[i]->row_ = static_cast<int>(i);
    }
    Reclaim(std::move(removed));
    if (!hidden) {
        endRemoveRows();
    }
}

void TBranchTree::DeleteChildren(TTreeNode* node) {
    if (shownFor_ != nullptr && shownFor_->HasAsAncestor(node)) {
        shownFor_ = nullptr;
    }
    // Children still to be made are made first, from the element as it is now: the view counts
    // the rows that go.
    node->MakeChildren();
    if (node->children_.empty()) {
        return;
    }
    const bool hidden = IsHidden(node);
    if (!hidden) {
        for (const auto& child : node->children_) {
            emit NodeAboutToBeDeleted(child.get());
        }
        beginRemoveRows(IndexOf(node), 0, node->ChildCount() - 1);
    }
    std::vector<std::unique_ptr<TTreeNode>> removed = std::move(node->children_);
    node->children_.clear();
    for (auto& child : removed) {
        Reclaim(std::move(child));
    }
    if (!hidden) {
        endRemoveRows();
    }
}

TTreeNode* TBranchTree::PreviousInDisplayOrder(TTreeNode* node) const {
    const auto& siblings = SiblingsOf(node->parent_);
    if (node->row_ == 0) {
        return node->parent_;
    }
    TTreeNode* previous = siblings[static_cast<size_t>(node->row_ - 1)].get();
    while (previous->HasChildren() && IsExpanded(previous)) {
        previous = previous->Child(previous->ChildCount() - 1);
    }
    return previous;
}

void TBranchTree::SetText(TTreeNode* node, const std::string& text) {
    node->text_ = text;
    if (IsHidden(node)) {
        return;
    }
    QModelIndex index = IndexOf(node);
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
}

void TBranchTree::SetPictures(TTreeNode* node, int picture, int selectedPicture) {
    if (node->picture_ == picture && node->selectedPicture_ == selectedPicture) {
        return;
    }
    node->picture_ = static_cast<std::int16_t>(picture);
    node->selectedPicture_ = static_cast<std::int16_t>(selectedPicture);
    if (IsHidden(node)) {
        return;
    }
    QModelIndex index = IndexOf(node);
    emit dataChanged(index, index, {Qt::DecorationRole});
}

TBranchTree::TSortPlan TBranchTree::PlanSort(const TTreeNode* node, TSortDepth depth,
                                             const std::function<void(size_t sorted)>& sorted) const {
    // Level by level without recursion, so that any depth can be sorted. Only nodes made so far
    // are read, never made here: this may run on another thread.
    TSortPlan plan;
    if (node != nullptr && node->unmade_) {
        plan.unmade.push_back(node);
        return plan;
    }
    size_t placed = 0;
    std::vector<const TTreeNode*> pending{node};
    while (!pending.empty()) {
        const TTreeNode* parent = pending.back();
        pending.pop_back();
        const auto& siblings = MadeSiblingsOf(parent);
        std::vector<uint32_t> rows(siblings.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            rows[i] = static_cast<uint32_t>(i);
        }
        std::stable_sort(rows.begin(), rows.end(), [&siblings](uint32_t a, uint32_t b) {
            return TreeViewCompare(*siblings[a], *siblings[b]) < 0;
        });
        if (depth == TSortDepth::AllLevels) {
            for (const auto& sibling : siblings) {
                if (sibling->unmade_) {
                    plan.unmade.push_back(sibling.get());
                } else if (!sibling->children_.empty()) {
                    pending.push_back(sibling.get());
                }
            }
        }
        placed += siblings.size();
        plan.orders.push_back({parent, std::move(rows)});
        if (sorted) {
            sorted(placed);
        }
    }
    return plan;
}

void TBranchTree::Reorder(const TSortPlan& plan) {
    for (const TSiblingOrder& order : plan.orders) {
        auto& siblings = MadeSiblingsOf(order.parent);
        std::vector<std::unique_ptr<TTreeNode>> reordered;
        reordered.reserve(siblings.size());
        for (const uint32_t row : order.rows) {
            reordered.push_back(std::move(siblings[row]));
        }
        siblings = std::move(reordered);
        for (size_t i = 0; i < siblings.size(); ++i) {
            siblings[i]->row_ = static_cast<int>(i);
        }
    }
}

bool TBranchTree::InOrder(const std::vector<std::unique_ptr<TTreeNode>>& siblings, TSortDepth depth,
                          std::vector<const TTreeNode*>& unmade) {
    std::vector<const std::vector<std::unique_ptr<TTreeNode>>*> pending{&siblings};
    while (!pending.empty()) {
        const auto* list = pending.back();
        pending.pop_back();
        for (size_t i = 0; i < list->size(); ++i) {
            const TTreeNode& node = *(*list)[i];
            if (i > 0 && TreeViewCompare(*(*list)[i - 1], node) > 0) {
                return false;
            }
            if (depth == TSortDepth::AllLevels) {
                if (node.unmade_) {
                    unmade.push_back(&node);
                } else if (!node.children_.empty()) {
                    pending.push_back(&node.children_);
                }
            }
        }
    }
    return true;
}

void TBranchTree::SortChildren(TTreeNode* node, TSortDepth depth) {
    // A stable sort of what is in order moves nothing; the view is spared a new layout of every
    // row it shows, which is what keeps a rename or an insertion quick in a large tree.
    std::vector<const TTreeNode*> unmade;
    if (InOrder(SiblingsOf(node), depth, unmade)) {
        for (const TTreeNode* n : unmade) {
            const_cast<TTreeNode*>(n)->childOrder_ = TBranchOrder::Window;
        }
        return;
    }
    ApplySort(node, PlanSort(node, depth));
}

void TBranchTree::ApplySort(TTreeNode* node, const TSortPlan& plan) {
    // Checked before anything moves, so that the view never sees half a sort.
    bool moves = false;
    for (const TSiblingOrder& order : plan.orders) {
        const auto& siblings = MadeSiblingsOf(order.parent);
        if (order.rows.size() != siblings.size()) {
            throw std::logic_error("A sort was planned on another tree");
        }
        for (size_t i = 0; i < order.rows.size() && !moves; ++i) {
            moves = order.rows[i] != i;
        }
    }
    // Children still to be made will be made in the window's order; those made since the plan
    // was made are sorted once the rest is in place.
    std::vector<TTreeNode*> madeSince;
    for (const TTreeNode* n : plan.unmade) {
        auto* unmade = const_cast<TTreeNode*>(n);
        unmade->childOrder_ = TBranchOrder::Window;
        if (!unmade->unmade_) {
            madeSince.push_back(unmade);
        }
    }
    if (moves) {
        if (IsHidden(node)) {
            Reorder(plan);
        } else {
            emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
            const QModelIndexList before = persistentIndexList();
            std::vector<TTreeNode*> nodes;
            nodes.reserve(static_cast<size_t>(before.size()));
            for (const QModelIndex& index : before) {
                nodes.push_back(NodeAt(index));
            }
            Reorder(plan);
            QModelIndexList after;
            after.reserve(before.size());
            for (TTreeNode* n : nodes) {
                after.push_back(IndexOf(n));
            }
            changePersistentIndexList(before, after);
            emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        }
    }
    for (TTreeNode* n : madeSince) {
        SortChildren(n, TSortDepth::AllLevels);
    }
}

void TBranchTree::SettleView() {
    if (auto* view = dynamic_cast<TBranchView*>(view_.data())) {
        view->LayOutNow();
    }
}

void TBranchTree::MoveToRow(TTreeNode* node, int row) {
    TTreeNode* parent = node->parent_;
    auto& siblings = SiblingsOf(parent);
    const int from = node->row_;
    const int to = std::clamp(row, 0, static_cast<int>(siblings.size()) - 1);
    if (from == to) {
        return;
    }
    const bool hidden = IsHidden(node);
    if (!hidden) {
        const QModelIndex at = IndexOf(parent);
        // The view counts the destination before the move: one past the row when moving down.
        beginMoveRows(at, from, from, at, to > from ? to + 1 : to);
    }
    std::unique_ptr<TTreeNode> moving = std::move(siblings[static_cast<size_t>(from)]);
    siblings.erase(siblings.begin() + from);
    siblings.insert(siblings.begin() + to, std::move(moving));
    for (int i = std::min(from, to); i <= std::max(from, to); ++i) {
        siblings[static_cast<size_t>(i)]->row_ = i;
    }
    if (!hidden) {
        endMoveRows();
    }
}

void TBranchTree::SortTopLevel(TSortDepth depth) {
    SortChildren(nullptr, depth);
}

void TBranchTree::Expand(TTreeNode* node) {
    if (!view_ || !node) {
        return;
    }
    if (const int level = node->Level(); level >= kMostOpenLevels) {
        emit LevelLimitReached(level + 1);
        return;
    }
    view_->expand(IndexOf(node));
}

namespace {

// Holds the view's layout while nodes are opened in slices, and lays out once when it ends.
class TLayoutHold {
public:
    explicit TLayoutHold(QTreeView* view) : view_(dynamic_cast<TBranchView*>(view)) { Renew(); }
    ~TLayoutHold() {
        if (view_ != nullptr) {
            view_->ReleaseLayout();
        }
    }
    TLayoutHold(const TLayoutHold&) = delete;
    TLayoutHold& operator=(const TLayoutHold&) = delete;
    // After the events have run: a layout that fell due meanwhile ended the hold.
    void Renew() {
        if (view_ != nullptr) {
            view_->HoldLayout();
        }
    }

private:
    TBranchView* view_;
};

} // namespace

bool TBranchTree::ExpandAll(TTreeNode* node, const TExpandStep& step) {
    if (!view_ || !node) {
        return true;
    }
    const int level = node->Level();
    if (level >= kMostOpenLevels) {
        emit LevelLimitReached(level + 1);
        return true;
    }
    // The nodes to open, in pre-order, and whether anything lies below the levels the view may
    // open; found without recursion. Making the nodes is most of the work.
    const int depth = kMostOpenLevels - level; // levels below `node` that may open
    int deepest = 0;
    std::vector<TTreeNode*> toOpen;
    std::vector<std::pair<TTreeNode*, int>> pending{{node, 0}};
    uint64_t visited = 0;
    while (!pending.empty()) {
        auto [n, below] = pending.back();
        pending.pop_back();
        if (below == depth) {
            if (n->HasChildren()) {
                deepest = level + below + 1;
            }
            continue;
        }
        n->MakeChildren();
        if (IsPlaceholderParent(*n)) {
            continue; // a locked branch stays closed
        }
        toOpen.push_back(n);
        for (auto child = n->children_.rbegin(); child != n->children_.rend(); ++child) {
            if ((*child)->HasChildren() || below + 1 == depth) {
                pending.emplace_back(child->get(), below + 1);
            }
        }
        if (++visited % kExpandSlice == 0 && !step(0, 0)) {
            return false;
        }
    }
    // Opened while the layout is held: the view records each node instead of laying out every
    // row after it, and lays out once when the hold ends.
    std::vector<TTreeNode*> opened;
    TLayoutHold hold(view_);
    // Steps on: false, with every node opened closed again, once the step says stop.
    auto goOn = [&](uint64_t done) {
        const bool on = step(done, toOpen.size());
        hold.Renew();
        if (!on) {
            for (auto n = opened.rbegin(); n != opened.rend(); ++n) {
                view_->collapse(IndexOf(*n));
            }
        }
        return on;
    };
    for (size_t i = 0; i < toOpen.size(); ++i) {
        const QModelIndex index = IndexOf(toOpen[i]);
        if (!view_->isExpanded(index)) {
            view_->expand(index);
            opened.push_back(toOpen[i]);
        }
        if ((i + 1) % kExpandSlice == 0 && !goOn(i + 1)) {
            return false;
        }
    }
    // The last step comes before the rows are laid out, in one stretch.
    if (!goOn(toOpen.size())) {
        return false;
    }
    if (deepest != 0) {
        emit LevelLimitReached(deepest);
    }
    return true;
}

void TBranchTree::Collapse(TTreeNode* node) {
    if (view_ && node) {
        view_->collapse(IndexOf(node));
    }
}

bool TBranchTree::IsExpanded(TTreeNode* node) const {
    return view_ && node && view_->isExpanded(IndexOf(node));
}

void TBranchTree::Select(TTreeNode* node) {
    if (!view_) {
        return;
    }
    if (node == nullptr) {
        view_->setCurrentIndex(QModelIndex());
        return;
    }
    // Scrolling to a node opens all its ancestors: only those the level limit allows open.
    const int nodeLevel = node->Level();
    TTreeNode* shown = nodeLevel > kMostOpenLevels ? ShownAncestorOf(node) : node;
    if (shown == node) {
        view_->setCurrentIndex(IndexOf(node));
        view_->scrollTo(IndexOf(node));
        return;
    }
    view_->scrollTo(IndexOf(shown));
    // The view scrolls to a new current item at once, or when it is next shown: either would
    // open every ancestor.
    const bool autoScroll = view_->hasAutoScroll();
    view_->setAutoScroll(false);
    view_->setCurrentIndex(IndexOf(node));
    view_->setAutoScroll(autoScroll);
    emit LevelLimitReached(nodeLevel);
}

TTreeNode* TBranchTree::ShownAncestorOf(TTreeNode* node) {
    // Siblings share the ancestor; the walk up from a node thousands of levels deep is made once
    // for all of them. A node on the same line of descent as the last one asked about (its parent
    // or a child of it, where a removal or an insertion moves the selection) shares it too: then
    // the walk goes only as far as their levels differ.
    TTreeNode* parent = node->Parent();
    if (parent == shownFor_) {
        return shownAncestor_;
    }
    TTreeNode* shown = nullptr;
    if (shownFor_ != nullptr && parent->Level() > kMostOpenLevels && shownFor_->Level() > kMostOpenLevels) {
        const bool parentDeeper = parent->Level() > shownFor_->Level();
        const TTreeNode* deeper = parentDeeper ? parent : shownFor_;
        const TTreeNode* other = parentDeeper ? shownFor_ : parent;
        while (deeper->Level() > other->Level()) {
            deeper = deeper->Parent();
        }
        if (deeper == other) {
            shown = shownAncestor_;
        }
    }
    if (shown == nullptr) {
        shown = parent;
        while (shown->Level() > kMostOpenLevels) {
            shown = shown->Parent();
        }
    }
    shownFor_ = parent;
    shownAncestor_ = shown;
    return shown;
}

TTreeNode* TBranchTree::Selected() const {
    return view_ ? NodeAt(view_->currentIndex()) : nullptr;
}

void TBranchTree::StartEditing(TTreeNode* node) {
    if (view_ && node) {
        view_->edit(IndexOf(node));
    }
}

void TBranchTree::Repaint() {
    if (view_) {
        view_->viewport()->update();
    }
}

QModelIndex TBranchTree::IndexOf(const TTreeNode* node) const {
    if (node == nullptr) {
        return {};
    }
    return createIndex(node->row_, 0, const_cast<TTreeNode*>(node));
}

TTreeNode* TBranchTree::NodeAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    return static_cast<TTreeNode*>(index.internalPointer());
}

QModelIndex TBranchTree::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) {
        return {};
    }
    const auto& siblings = SiblingsOf(NodeAt(parent));
    if (static_cast<size_t>(row) >= siblings.size()) {
        return {};
    }
    return createIndex(row, 0, siblings[static_cast<size_t>(row)].get());
}

QModelIndex TBranchTree::parent(const QModelIndex& child) const {
    TTreeNode* node = NodeAt(child);
    return node ? IndexOf(node->parent_) : QModelIndex();
}

int TBranchTree::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) {
        return 0;
    }
    return static_cast<int>(SiblingsOf(NodeAt(parent)).size());
}

int TBranchTree::columnCount(const QModelIndex&) const {
    return 1;
}

bool TBranchTree::hasChildren(const QModelIndex& parent) const {
    // Asked for every row shown: answered without making the children.
    if (parent.isValid() && parent.column() != 0) {
        return false;
    }
    const TTreeNode* node = NodeAt(parent);
    return node != nullptr ? node->HasChildren() : !roots_.empty();
}

QVariant TBranchTree::data(const QModelIndex& index, int role) const {
    const TTreeNode* node = NodeAt(index);
    if (node == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return QString::fromUtf8(node->text_.data(), static_cast<qsizetype>(node->text_.size()));
    case Qt::DecorationRole:
        if (node->picture_ >= 0 && node->picture_ < pictures_.Count()) {
            return pictures_.Icon(node->picture_);
        }
        return {};
    default:
        return {};
    }
}

bool TBranchTree::setData(const QModelIndex& index, const QVariant& value, int role) {
    TTreeNode* node = NodeAt(index);
    if (node == nullptr || role != Qt::EditRole) {
        return false;
    }
    const std::string text = value.toString().toStdString();
    SetText(node, text);
    emit NodeEdited(node, text);
    return true;
}

Qt::ItemFlags TBranchTree::flags(const QModelIndex& index) const {
    const TTreeNode* node = NodeAt(index);
    if (node == nullptr) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // Every node's title can be edited in place, except the placeholder of a locked branch.
    const bool placeholder = node->parent_ != nullptr && !node->element_;
    if (!placeholder) {
        result |= Qt::ItemIsEditable | Qt::ItemIsDropEnabled;
        // A document is not dragged: it is no branch of another document.
        if (node->parent_ != nullptr) {
            result |= Qt::ItemIsDragEnabled;
        }
    }
    return result;
}

namespace {
// A dragged branch travels as the address of its node; a drop accepts only an address that is
// still a node of this tree.
const char* const kBranchMimeType = "application/x-ludex-branch";
} // namespace

Qt::DropActions TBranchTree::supportedDropActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

Qt::DropActions TBranchTree::supportedDragActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

QStringList TBranchTree::mimeTypes() const {
    return {kBranchMimeType};
}

QMimeData* TBranchTree::mimeData(const QModelIndexList& indexes) const {
    if (indexes.size() != 1 || NodeAt(indexes.front()) == nullptr) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setData(kBranchMimeType, QByteArray::number(reinterpret_cast<quintptr>(NodeAt(indexes.front()))));
    return data;
}

TTreeNode* TBranchTree::DraggedNode(const QMimeData* data) const {
    if (data == nullptr || !data->hasFormat(kBranchMimeType)) {
        return nullptr;
    }
    const quintptr address = data->data(kBranchMimeType).toULongLong();
    std::vector<const TTreeNode*> pending;
    for (const auto& root : roots_) {
        pending.push_back(root.get());
    }
    while (!pending.empty()) {
        const TTreeNode* node = pending.back();
        pending.pop_back();
        if (reinterpret_cast<quintptr>(node) == address) {
            return const_cast<TTreeNode*>(node);
        }
        for (const auto& child : node->children_) {
            pending.push_back(child.get());
        }
    }
    return nullptr;
}

bool TBranchTree::dropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                               const QModelIndex& parent) {
    TTreeNode* source = DraggedNode(data);
    TTreeNode* target = NodeAt(parent);
    if (source == nullptr || target == nullptr || (action != Qt::MoveAction && action != Qt::CopyAction)) {
        return false;
    }
    emit NodeDropped(source, target, action == Qt::CopyAction);
    // The command has moved or copied the branch itself; the view must not remove anything.
    return false;
}

} // namespace ludex
