#include "gui/tree/TreeViewManager.h"

#include "core/document/BranchOrder.h"
#include "core/document/BranchWalk.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <utility>
#include <vector>

namespace ludex {

TTreeNode* RootNodeOf(TTreeNode* node) {
    return node == nullptr ? nullptr : node->Root();
}

TLXDocument* DocumentOf(TTreeNode* node) {
    TTreeNode* root = RootNodeOf(node);
    return root ? root->Document() : nullptr;
}

TDomNode ElementOf(TTreeNode* node) {
    if (node == nullptr) {
        return {};
    }
    if (node->Parent() == nullptr) {
        TLXDocument* document = node->Document();
        return document ? document->RootElement() : TDomNode();
    }
    return node->Element();
}

void SetNodePicture(TBranchTree& tree, TTreeNode* node, int index) {
    tree.SetPictures(node, index, index);
}

bool IsNodeLocked(TTreeNode* node) {
    TDomNode element = ElementOf(node);
    return element && IsBranchLocked(element);
}

int BranchPicture(bool encrypted, bool hasChildNodes) {
    if (hasChildNodes) {
        return encrypted ? picBranchWithSubBranchesLocked : picBranchWithSubBranches;
    }
    return encrypted ? picBranchLocked : picBranch;
}

void UpdateBranchIcon(TBranchTree& tree, TTreeNode* node) {
    if (node == nullptr || node->Parent() == nullptr) {
        return;
    }
    SetNodePicture(tree, node, BranchPicture(IsBranchEncrypted(node->Element()), node->HasChildren()));
}

bool AddLockedPlaceholder(TBranchTree& tree, TTreeNode* node, const TDomNode& element) {
    const bool locked = IsBranchLocked(element);
    if (locked && element.HasChildNodes()) {
        tree.AddChild(node, kPlaceholderText);
    }
    return locked;
}

void BuildChildNodes(TBranchTree& tree, TTreeNode* node, const TDomNode& element, TBranchOrder order) {
    // One level: the nodes below the sub-branches are made when they are first needed. Below a
    // node the view shows, the nodes are made out of its sight and shown at once.
    std::vector<TBranch> branches = SubBranches(element, order);
    const bool staged = !tree.IsBuilding();
    TTreeNode* parent = staged ? tree.BeginChildren(node) : node;
    try {
        tree.ReserveChildren(parent, branches.size());
        for (TBranch& branch : branches) {
            tree.AddBranch(parent, std::move(branch), order);
        }
    } catch (...) {
        if (staged) {
            tree.DiscardChildren();
        }
        throw;
    }
    if (staged) {
        tree.AttachChildren();
    }
}

TTreeNode* ChildNodeOf(TTreeNode* node, const TDomNode& element) {
    for (int i = 0; i < node->ChildCount(); ++i) {
        if (node->Child(i)->Element() == element) {
            return node->Child(i);
        }
    }
    return nullptr;
}

TTreeNode* NodeOfBranch(TTreeNode* above, const TDomNode& element) {
    const TDomNode top = ElementOf(above);
    std::vector<TDomNode> down; // the elements from the one below `top` down to `element`
    for (TDomNode e = element; e != top; e = e.Parent()) {
        if (!e) {
            return nullptr;
        }
        down.push_back(e);
    }
    TTreeNode* node = above;
    for (auto e = down.rbegin(); e != down.rend() && node != nullptr; ++e) {
        node = ChildNodeOf(node, *e);
    }
    return node;
}

int TreeViewCompare(const TTreeNode& a, const TTreeNode& b) {
    return CompareBranches(a.HasChildren(), a.Text(), b.HasChildren(), b.Text());
}

namespace {

// The cursor of the core's pre-order step over the tree's nodes.
class TNodeCursor {
public:
    TNodeCursor(const TBranchTree& tree, TTreeNode* node) : tree_(tree), node_(node) {}

    TTreeNode* Node() const { return node_; }

    bool ToFirstChild() { return MoveTo(node_->FirstChild()); }
    bool ToNextSibling() {
        if (node_->Parent() != nullptr) {
            return MoveTo(node_->NextSibling());
        }
        const int row = node_->Row() + 1; // top-level siblings are known to the tree only
        return row < tree_.TopLevelCount() && MoveTo(tree_.TopLevel(row));
    }
    bool ToParent() { return MoveTo(node_->Parent()); }

private:
    bool MoveTo(TTreeNode* node) {
        if (node == nullptr) {
            return false;
        }
        node_ = node;
        return true;
    }

    const TBranchTree& tree_;
    TTreeNode* node_;
};

} // namespace

TTreeNode* NextInPreOrder(const TBranchTree& tree, TTreeNode* node) {
    TNodeCursor cursor(tree, node);
    return StepInPreOrder(cursor) ? cursor.Node() : nullptr;
}

TTreeNode* NodeAfterSubtree(const TBranchTree& tree, TTreeNode* node) {
    TNodeCursor cursor(tree, node);
    return StepPastSubtree(cursor) ? cursor.Node() : nullptr;
}

} // namespace ludex
