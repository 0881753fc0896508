#include "gui/tree/TreeViewManager.h"

#include "core/document/BranchOrder.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <utility>
#include <vector>

namespace ludex {

TTreeNode* RootNodeOf(TTreeNode* node) {
    if (node == nullptr) {
        return nullptr;
    }
    while (node->Parent() != nullptr) {
        node = node->Parent();
    }
    return node;
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

void UpdateBranchIcon(TBranchTree& tree, TTreeNode* node) {
    if (node == nullptr || node->Parent() == nullptr) {
        return;
    }
    const bool encrypted = IsBranchEncrypted(node->Element());
    if (node->HasChildren()) {
        SetNodePicture(tree, node, encrypted ? picBranchWithSubBranchesLocked : picBranchWithSubBranches);
    } else {
        SetNodePicture(tree, node, encrypted ? picBranchLocked : picBranch);
    }
}

bool AddLockedPlaceholder(TBranchTree& tree, TTreeNode* node, const TDomNode& element) {
    const bool locked = IsBranchLocked(element);
    if (locked && element.HasChildNodes()) {
        tree.AddChild(node, kPlaceholderText);
    }
    return locked;
}

void BuildChildNodes(TBranchTree& tree, TTreeNode* node, const TDomNode& element) {
    // Depth first in document order, with an explicit stack so that any depth can be built.
    // Each frame is a node whose element's children are still being visited.
    struct TFrame {
        TTreeNode* node;
        TDomNode next; // the next child of the node's element to look at
    };
    std::vector<TFrame> stack{{node, element.FirstChild()}};
    while (!stack.empty()) {
        TFrame& frame = stack.back();
        if (!frame.next) {
            TTreeNode* finished = frame.node;
            stack.pop_back();
            if (!stack.empty()) {
                UpdateBranchIcon(tree, finished);
            }
            continue;
        }
        TDomNode childElement = frame.next;
        frame.next = childElement.NextSibling();
        if (!childElement.IsElement()) {
            continue;
        }
        TTreeNode* child = tree.AddChild(frame.node, TitleAccess.Read(childElement));
        child->SetData(childElement);
        const bool locked = AddLockedPlaceholder(tree, child, childElement);
        if (!locked && childElement.HasChildNodes()) {
            stack.push_back({child, childElement.FirstChild()});
        } else {
            UpdateBranchIcon(tree, child);
        }
    }
}

int TreeViewCompare(const TTreeNode& a, const TTreeNode& b) {
    return CompareBranches(a.HasChildren(), a.Text(), b.HasChildren(), b.Text());
}

} // namespace ludex
