#pragma once

#include <string>
#include <vector>

namespace ludex {

class TTreeNode;

// Where a node stands below its top-level node, step by step: at each level its row among its
// siblings and its title. It outlives the nodes, so that the same branch can be found again in
// a tree built anew from the file.
struct TNodeStep {
    int row = 0;
    std::string title;
};
using TNodePath = std::vector<TNodeStep>;

// The path from the node's top-level node down to the node (empty for a top-level node).
TNodePath PathOfNode(const TTreeNode* node);

// What FindByPath found: the node the path leads to, or the deepest one on the way that still
// exists (the top-level node at least).
struct TFoundNode {
    TTreeNode* node = nullptr;
    bool exact = false; // the whole path was found
};

// Follows the path down from `top`. At each level the child with the step's title is taken: the
// one in the step's row if its title is the same, else the first with that title, so that a
// branch is found after siblings were added or removed before it.
TFoundNode FindByPath(TTreeNode* top, const TNodePath& path);

} // namespace ludex
