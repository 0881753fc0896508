#pragma once

#include "core/document/BranchWalk.h"
#include "core/document/DomService.h"

#include <QAbstractItemModel>
#include <QPointer>
#include <QTreeView>

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

class QTreeView;

namespace ludex {

class TBranchTree;
class TLXDocument;
class TPictureList;

// How far a sort reaches below the node whose children it orders.
enum class TSortDepth { OneLevel, AllLevels };

// One node of the tree of documents. A top-level node shows a document and refers to it; a node
// below shows a branch and refers to the branch's element (the document owns the element, the
// node only refers to it); the placeholder under a locked branch refers to nothing.
//
// The nodes of a branch's sub-branches are made when they are first needed (counted, looked at,
// shown), from the branch's element as it is then, in the order the branch keeps for them. A
// document of a million branches thus costs nodes only for what the window shows and the commands
// reach. A node waiting for its children still has them as far as anyone can tell: HasChildren is
// true, and every look at them makes them first.
class TTreeNode {
public:
    TTreeNode() = default;
    TTreeNode(const TTreeNode&) = delete;
    TTreeNode& operator=(const TTreeNode&) = delete;
    // Frees the descendants without recursion, so that any depth can be deleted.
    ~TTreeNode();

    const std::string& Text() const { return text_; }
    TLXDocument* Document() const { return document_.get(); }
    const TDomNode& Element() const { return element_; }
    void SetData(TDomNode element) { element_ = element; }
    // A top-level node owns its document; it is destroyed after the nodes below are gone.
    void SetDocument(std::unique_ptr<TLXDocument> document);
    int Picture() const { return picture_; }
    int SelectedPicture() const { return selectedPicture_; }

    TTreeNode* Parent() const { return parent_; }
    // The top-level node this node belongs to (itself for a top-level node). A node never moves
    // to another parent, so both are fixed when it is made and cost no walk at any depth.
    TTreeNode* Root() { return root_; }
    int Row() const { return row_; }
    int Level() const { return level_; }
    int ChildCount() const {
        MakeChildren();
        return static_cast<int>(children_.size());
    }
    bool HasChildren() const { return unmade_ || !children_.empty(); }
    TTreeNode* Child(int row) const {
        MakeChildren();
        return children_[static_cast<size_t>(row)].get();
    }
    TTreeNode* FirstChild() const {
        MakeChildren();
        return children_.empty() ? nullptr : children_.front().get();
    }
    // Whether the nodes of the sub-branches are still to be made, and the order they will be made
    // in (the nodes below them in the same order). A walk of the element in that order meets the
    // branches in the order of their nodes to be.
    bool ChildrenUnmade() const { return unmade_; }
    TBranchOrder ChildOrder() const { return childOrder_; }
    TTreeNode* NextSibling() const;
    TTreeNode* PreviousSibling() const;
    // Whether `ancestor` is this node's parent, grandparent, ...
    bool HasAsAncestor(const TTreeNode* ancestor) const;

private:
    friend class TBranchTree;
    // Makes the nodes of the sub-branches when they are still to be made.
    void MakeChildren() const;

    // Pointers first and the small fields packed after them.
    std::string text_;
    TDomNode element_;
    TTreeNode* parent_ = nullptr;
    TTreeNode* root_ = this;
    const TBranchTree* tree_ = nullptr; // on a top-level node: the tree that makes the nodes below
    mutable std::vector<std::unique_ptr<TTreeNode>> children_;
    int level_ = 0;
    int row_ = 0;
    unsigned buildId_ = 0; // the build of a not yet shown top-level node this node belongs to
    std::int16_t picture_ = 0;
    std::int16_t selectedPicture_ = 0;
    mutable bool unmade_ = false;                  // the children are still to be made
    TBranchOrder childOrder_ = TBranchOrder::File; // the order they will be made in
    std::unique_ptr<TLXDocument> document_;        // last: destroyed after the children
};

// The tree of all open documents: owns its nodes and shows them in a QTreeView as an item model.
// Every structural change goes through here, so the view is told before and after it and no
// model index outlives its node. Texts are UTF-8.
//
// Nodes made when first needed are made silently: the model has had them all along, the view has
// only never asked for them. So that they match the document, a command that adds an element
// which a node is to show adds the node through AddBranch, which finds it among nodes made from
// the document by then instead of adding a second one.
class TBranchTree : public QAbstractItemModel {
    Q_OBJECT

public:
    explicit TBranchTree(const TPictureList& pictures, QObject* parent = nullptr);
    ~TBranchTree() override;

    // The view that shows this tree; expansion, selection and editing act on it.
    void SetView(QTreeView* view);
    QTreeView* View() const { return view_; }

    // Structure.
    TTreeNode* AddTopLevel(const std::string& text);
    // Begins a top-level node that the view does not see yet: it and everything added below it
    // stay out of the model and cost no signal, until AttachTopLevel shows the whole sub-tree at
    // once. Only one such node at a time.
    TTreeNode* BeginTopLevel(const std::string& text);
    // Shows the node begun by BeginTopLevel, with everything below it, as the last top-level node.
    void AttachTopLevel();
    // Drops the node begun by BeginTopLevel with everything below it.
    void DiscardTopLevel();
    // Begins new children of a shown node that the view does not see yet: the nodes added below
    // the returned stand-in (and below them) cost no signal, until AttachChildren makes them the
    // node's last children at once. A large sub-tree thus reaches the view as one insertion, not
    // as one for each node. One build at a time, of either kind.
    TTreeNode* BeginChildren(TTreeNode* parent);
    void AttachChildren();
    // Drops the children begun by BeginChildren with everything below them.
    void DiscardChildren();
    // Whether a build begun by BeginTopLevel or BeginChildren is under way.
    bool IsBuilding() const { return buildId_ != 0; }
    // Adds a node that shows no element (the placeholder of a locked branch).
    TTreeNode* AddChild(TTreeNode* parent, std::string text);
    // The node of a branch just added to the parent's element, made if it is not yet: with its
    // picture, the placeholder if it is locked with a payload, and its own sub-branches left to be
    // made in the order.
    TTreeNode* AddBranch(TTreeNode* parent, const TDomNode& element, TBranchOrder order);
    // Adds a node for a branch read by a walk, as the parent's last child.
    TTreeNode* AddBranch(TTreeNode* parent, TBranch&& branch, TBranchOrder order);
    // Makes room for that many children of the node, so that adding them moves nothing.
    void ReserveChildren(TTreeNode* parent, size_t count) { parent->children_.reserve(count); }
    // Deletes the node with all its descendants.
    void Delete(TTreeNode* node);
    void DeleteChildren(TTreeNode* node);
    int TopLevelCount() const { return static_cast<int>(roots_.size()); }
    TTreeNode* TopLevel(int row) const { return roots_[static_cast<size_t>(row)].get(); }
    TTreeNode* FirstTopLevel() const { return roots_.empty() ? nullptr : roots_.front().get(); }
    // The count of the nodes made so far (waits for the sub-trees still being freed to be counted).
    size_t Count() const;
    // The node before this one in display order (previous sibling's last visible descendant, else the
    // parent).
    TTreeNode* PreviousInDisplayOrder(TTreeNode* node) const;

    // Node attributes.
    void SetText(TTreeNode* node, const std::string& text);
    void SetPictures(TTreeNode* node, int picture, int selectedPicture);

    // Sorting into the window's order (TreeViewCompare). Equal nodes keep their order. Nodes whose
    // children are still to be made are given the window's order to make them in.
    void SortChildren(TTreeNode* node, TSortDepth depth);
    void SortTopLevel(TSortDepth depth);
    // Moves the node among its siblings to the row (clamped to the last one), the others keeping
    // their order: where undo puts back a branch that the tree showed there.
    void MoveToRow(TTreeNode* node, int row);

    // A sort in two steps, for a sort that takes long: the new order of every list of siblings to
    // sort, worked out without changing anything, and then put in place.
    struct TSiblingOrder {
        const TTreeNode* parent;    // null for the top-level nodes
        std::vector<uint32_t> rows; // the old rows in their new order
    };
    struct TSortPlan {
        std::vector<TSiblingOrder> orders;
        std::vector<const TTreeNode*> unmade; // to make their children in the window's order
    };
    // The order SortChildren would give. Reads the nodes' texts and children only and makes no
    // node, so that it may run on another thread while nothing changes the tree. `sorted`, when
    // given, is told how many nodes have their place so far after each list of siblings; what it
    // throws ends the plan.
    TSortPlan PlanSort(const TTreeNode* node, TSortDepth depth,
                       const std::function<void(size_t sorted)>& sorted = {}) const;
    // Puts a plan made on the tree as it is now in place.
    void ApplySort(TTreeNode* node, const TSortPlan& plan);
    // Lets the view lay out what it has put off, so that it makes the nodes it is about to need
    // now, before work on another thread reads the tree or changes the documents.
    void SettleView();

    // View operations.
    //
    // The view lays out expanded levels by recursion, so a document thousands of levels deep would
    // overflow the stack if all of them were open. The view therefore opens at most
    // kMostOpenLevels levels (top-level nodes are level 0): a node at a deeper level is never
    // expanded and never scrolled to. It can still be selected; its memo is shown and edited as
    // any other, and the tree shows the deepest ancestor it may open. Each time the limit keeps a
    // level closed, LevelLimitReached is sent.
    //
    // The limit also bounds what a change below it costs: each open level is a persistent index
    // the view's model walks up from on every removal (the levels squared), and the view lays out
    // every row of every open level again. At 500 levels of 100 branches a removal 10 000 levels
    // down stays within a frame; at 1000 levels it took about twice as long, more than a frame.
    static constexpr int kMostOpenLevels = 500;

    void Expand(TTreeNode* node);
    // Expands the node and every node below it down to the level limit (the '*' key). Locked
    // branches, the node itself included, stay closed: opening one asks for its password, which
    // is the caller's to ask (Expand).
    //
    // A million branches take a while to open: `step` is called every kExpandSlice nodes with how
    // far the work has come (a total of 0 while the nodes are still being counted) and lets the
    // window's events run; when it returns false the work stops, every node it opened closes again
    // and false is returned. The rows are laid out once, at the end, right after a step whose
    // `done` is its `total`.
    using TExpandStep = std::function<bool(uint64_t done, uint64_t total)>;
    static constexpr uint64_t kExpandSlice = 128; // nodes made or opened between two steps
    bool ExpandAll(TTreeNode* node, const TExpandStep& step);
    void Collapse(TTreeNode* node);
    bool IsExpanded(TTreeNode* node) const;
    void Select(TTreeNode* node);
    TTreeNode* Selected() const;
    void StartEditing(TTreeNode* node);
    void Repaint();

    // Model indexes and nodes.
    QModelIndex IndexOf(const TTreeNode* node) const;
    TTreeNode* NodeAt(const QModelIndex& index) const;

    // QAbstractItemModel.
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    // The node a drag of this tree carries, when it still exists.
    TTreeNode* DraggedNode(const QMimeData* data) const;

signals:
    // In-place editing of the node's text ended with this text (UTF-8). The node shows it already.
    void NodeEdited(ludex::TTreeNode* node, const std::string& text);
    // A node is about to be deleted (sent for the top node of every deleted sub-tree).
    void NodeAboutToBeDeleted(ludex::TTreeNode* node);
    // A dragged node was dropped on `target`: to be copied (Ctrl held) or moved there.
    void NodeDropped(ludex::TTreeNode* source, ludex::TTreeNode* target, bool copy);
    // The level limit kept a node closed: `level` is the level of the deepest node concerned.
    void LevelLimitReached(int level);

private:
    // The children of the parent (the top-level nodes for null), made first where they are not yet.
    std::vector<std::unique_ptr<TTreeNode>>& SiblingsOf(TTreeNode* parent);
    const std::vector<std::unique_ptr<TTreeNode>>& SiblingsOf(const TTreeNode* parent) const;
    // The same as made so far, making none: what a sort plan reads, perhaps on another thread.
    std::vector<std::unique_ptr<TTreeNode>>& MadeSiblingsOf(const TTreeNode* parent) {
        return parent == nullptr ? roots_ : parent->children_;
    }
    const std::vector<std::unique_ptr<TTreeNode>>& MadeSiblingsOf(const TTreeNode* parent) const {
        return parent == nullptr ? roots_ : parent->children_;
    }
    void Reorder(const TSortPlan& plan);
    // Makes the nodes of the node's sub-branches from its element, without telling the view: it
    // has never asked for them.
    void MakeChildren(const TTreeNode& node) const;
    friend class TTreeNode;
    // A node for the branch, below `parent`, without telling anyone; counted in `made`.
    std::unique_ptr<TTreeNode> NewBranchNode(const TTreeNode* parent, TBranch&& branch, TBranchOrder order,
                                             size_t& made) const;
    // Sets the node's place below the parent: its parent, top-level node, level, row and build.
    void Link(const TTreeNode* parent, TTreeNode& node, int row) const;
    // Adds a node made beforehand, with `made` nodes in all, as the parent's last child.
    TTreeNode* Insert(TTreeNode* parent, std::unique_ptr<TTreeNode> node, size_t made);
    // Gives the build about to begin its id; refuses a second build while one is under way.
    void StartBuild();
    // Frees the node with everything below it; returns how many nodes that was.
    static size_t FreeSubtree(std::unique_ptr<TTreeNode> top);
    // Frees a sub-tree taken out of the tree. One with descendants is freed on a thread of its own:
    // nothing refers to its nodes any more, and destroying them touches only their own memory. A
    // top-level node itself, whose document must go on this thread, is freed here.
    void Reclaim(std::unique_ptr<TTreeNode> top);
    // Waits for the sub-trees being freed and takes them off the count.
    void SettleReclaims() const;
    // The deepest ancestor of a node below the level limit that the view may open.
    TTreeNode* ShownAncestorOf(TTreeNode* node);
    // Whether the siblings (and, for all levels, their descendants made so far) are in the
    // window's order; for all levels, the nodes whose children are still to be made are gathered.
    static bool InOrder(const std::vector<std::unique_ptr<TTreeNode>>& siblings, TSortDepth depth,
                        std::vector<const TTreeNode*>& unmade);
    // Whether the node's child is the placeholder of a locked branch's content.
    static bool IsPlaceholderParent(const TTreeNode& node) {
        return node.children_.size() == 1 && !node.children_.front()->element_;
    }
    // Whether the node belongs to the top-level node being built, which the view does not see.
    bool IsHidden(const TTreeNode* node) const {
        return node != nullptr && node->buildId_ != 0 && node->buildId_ == buildId_;
    }

    const TPictureList& pictures_;
    QPointer<QTreeView> view_;
    std::vector<std::unique_ptr<TTreeNode>> roots_;
    mutable size_t count_ = 0;
    mutable std::vector<std::future<size_t>> reclaiming_; // sub-trees being freed: their counts
    std::unique_ptr<TTreeNode> hiddenTop_;                // begun by BeginTopLevel, not yet attached
    std::unique_ptr<TTreeNode> staging_;                  // holds the children begun by BeginChildren
    TTreeNode* stagingFor_ = nullptr;                     // the node they are for
    unsigned buildId_ = 0;                                // of hiddenTop_; 0 when there is none
    unsigned lastBuildId_ = 0;
    // The parent whose children's shown ancestor was found last, and that ancestor; forgotten when
    // any node is deleted.
    const TTreeNode* shownFor_ = nullptr;
    TTreeNode* shownAncestor_ = nullptr;
};

} // namespace ludex
