#pragma once

#include "core/document/BranchWalk.h"
#include "core/document/DomService.h"

namespace ludex {

class TBranchTree;
class TLXDocument;
class TTreeNode;

// Indices of the tree's pictures.
enum TTreePicture : int {
    picDocument = 0,
    picBranch = 1,
    picBranchWithSubBranches = 2,
    picModifiedMark = 3,
    picCutMark = 4,
    picCopyMark = 5,
    picLockMark = 6,
    picDocumentLocked = 7,
    picBranchWithSubBranchesLocked = 8,
    picBranchLocked = 9,
    picDocumentModified = 10,
    picDocumentModifiedLocked = 11,
};

// The text of the placeholder node under a locked branch that has a payload.
inline constexpr const char* kPlaceholderText = "inaccessible branch";

// The top-level ancestor of the node (the node itself when it is top-level).
TTreeNode* RootNodeOf(TTreeNode* node);
// The document of the node's top-level ancestor; null for null.
TLXDocument* DocumentOf(TTreeNode* node);
// A top-level node's document root element; otherwise the node's element (empty for the placeholder).
TDomNode ElementOf(TTreeNode* node);
// Sets the picture and the selected-state picture to the index.
void SetNodePicture(TBranchTree& tree, TTreeNode* node, int index);
// Whether the node's element is a locked branch; false for the placeholder.
bool IsNodeLocked(TTreeNode* node);
// The picture of a node below the top level: 8 or 2 when it has child nodes, 9 or 1 otherwise; the
// first of each pair when its element is encrypted.
int BranchPicture(bool encrypted, bool hasChildNodes);
// Gives a node below the top level its BranchPicture.
void UpdateBranchIcon(TBranchTree& tree, TTreeNode* node);
// Whether the element is locked; a locked element with content (its payload) gets the placeholder
// as its node's only child, so that the node shows an expand button.
bool AddLockedPlaceholder(TBranchTree& tree, TTreeNode* node, const TDomNode& element);
// Creates the node's child nodes from the element's child elements: in document order, or in the
// window's order, which gives the nodes as sorting them by TreeViewCompare would. The nodes below
// them are made in the same order when first needed. Locked branches get their placeholder.
void BuildChildNodes(TBranchTree& tree, TTreeNode* node, const TDomNode& element,
                     TBranchOrder order = TBranchOrder::File);
// The branch order of siblings: a node with child nodes before one without, then the titles
// compared ignoring the case of ASCII letters (CompareBranches).
int TreeViewCompare(const TTreeNode& a, const TTreeNode& b);

// The child node of the node that shows the element (the children are made first where they are
// not yet); null when none does.
TTreeNode* ChildNodeOf(TTreeNode* node, const TDomNode& element);
// The node of a branch below the node's element, made with the nodes on the way down to it where
// they are not yet; null when the element is not below the node's.
TTreeNode* NodeOfBranch(TTreeNode* above, const TDomNode& element);

// Steps over the whole tree, the top-level nodes in their order, by the core's pre-order step.
// The node after `node` in pre-order, or null at the end of the tree.
TTreeNode* NextInPreOrder(const TBranchTree& tree, TTreeNode* node);
// The node that follows the sub-tree of `node` in pre-order, or null at the end of the tree.
TTreeNode* NodeAfterSubtree(const TBranchTree& tree, TTreeNode* node);

} // namespace ludex
