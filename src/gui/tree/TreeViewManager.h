#pragma once

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
// A node below the top level gets 8 or 2 when it has child nodes, 9 or 1 otherwise; the first of
// each pair when its element is encrypted.
void UpdateBranchIcon(TBranchTree& tree, TTreeNode* node);
// Whether the element is locked; a locked element with content (its payload) gets the placeholder
// as its node's only child, so that the node shows an expand button.
bool AddLockedPlaceholder(TBranchTree& tree, TTreeNode* node, const TDomNode& element);
// Creates the node's child nodes from the element's child elements, in document order and to any
// depth (without recursion); locked branches get their placeholder and are not descended into.
void BuildChildNodes(TBranchTree& tree, TTreeNode* node, const TDomNode& element);
// The branch order of siblings: a node with child nodes before one without, then the titles
// compared ignoring the case of ASCII letters.
int TreeViewCompare(const TTreeNode& a, const TTreeNode& b);

} // namespace ludex
