#pragma once

#include "core/document/DomService.h"

#include <cstddef>
#include <string>
#include <vector>

namespace ludex {

// Whether a branch has sub-branches as the window shows them: a locked branch when it holds a
// payload (its enciphered content, which the window stands for by one placeholder node), any other
// branch when it has a child element.
bool HasSubBranches(const TDomNode& element);

// The order in which the sub-branches of a branch are visited.
enum class TBranchOrder {
    File,   // the order of the elements in the document
    Window, // the order the window shows: CompareBranches over HasSubBranches and the titles
};

// One branch as a walk reaches it.
struct TBranch {
    TDomNode element;
    size_t index = 0; // among the child elements of its parent, in file order; 0 for the root
    std::string title;
    bool encrypted = false;      // IsBranchEncrypted(element)
    bool locked = false;         // IsBranchLocked(element)
    bool hasSubBranches = false; // HasSubBranches(element)
};

// What the window shows for a branch and everything below it: the branch itself and each branch
// below it, and a placeholder for each locked branch with a payload, whose content is not read.
struct TBranchCount {
    size_t branches = 0;
    size_t placeholders = 0;
    size_t Nodes() const { return branches + placeholders; }
};
TBranchCount CountBranches(const TDomNode& element);

// Whether the element or a branch below it is encrypted and unlocked (its plain text in memory).
bool HoldsUnlockedBranch(const TDomNode& element);

// The branch as a walk reports it, at index 0.
TBranch ReadBranch(const TDomNode& element);

// The child elements of a branch, in the order. Branches that compare equal keep their file order,
// as the window's stable sort keeps them.
std::vector<TBranch> SubBranches(const TDomNode& element, TBranchOrder order);

// The pre-order step over any tree, through a cursor that moves to the first child of its node, to
// its next sibling or to its parent; each move returns false and leaves the cursor where it was
// when there is no such node. The tree of documents in the window and TBranchWalk both step this
// way, so their orders agree wherever their sibling orders do.

// Moves to the node that follows the cursor's sub-tree: its next sibling, else the next sibling of
// the nearest ancestor that has one. False at the end of the tree.
template <class TCursor>
bool StepPastSubtree(TCursor& cursor) {
    do {
        if (cursor.ToNextSibling()) {
            return true;
        }
    } while (cursor.ToParent());
    return false;
}

// Moves to the next node in pre-order: the first child, else the node after the sub-tree.
template <class TCursor>
bool StepInPreOrder(TCursor& cursor) {
    return cursor.ToFirstChild() || StepPastSubtree(cursor);
}

// Walks a branch and every branch below it in pre-order, with the siblings of each level in the
// given order, without recursion, so that any depth can be walked. The sub-branches of a branch
// are read when the walk enters them, so a locked branch unlocked before that is walked with its
// deciphered sub-branches. The document must not change otherwise while it is walked.
class TBranchWalk {
public:
    TBranchWalk(const TDomNode& root, TBranchOrder order);

    // The branch reached: the root at first. Its title may be taken (moved from).
    TBranch& Current() {
        if (depth_ == 0) {
            return root_;
        }
        TLevel& level = levels_[depth_ - 1];
        return level.branches[level.next];
    }
    // 0 for the root, 1 for its sub-branches, ...
    size_t Depth() const { return depth_; }
    // How many branches share the current one's parent, the current one included; 1 at the root.
    size_t SiblingCount() const { return depth_ == 0 ? 1 : levels_[depth_ - 1].branches.size(); }
    // The file-order indices of the branches from the root down to the current one; empty at the root.
    const std::vector<size_t>& Path() const { return path_; }

    // Moves to the next branch in pre-order, into the current branch's sub-branches first.
    // False at the end of the walk.
    bool Next() { return StepInPreOrder(*this); }
    // Moves to the branch after the current one's sub-tree, leaving its sub-branches out (the walk
    // does not read them). False at the end of the walk.
    bool Skip() { return StepPastSubtree(*this); }

    // The cursor moves of the pre-order step; the root has neither siblings nor parent.
    bool ToFirstChild();
    bool ToNextSibling();
    bool ToParent();

private:
    struct TLevel {
        std::vector<TBranch> branches; // never empty while the level is in use
        size_t next = 0;               // the current one among them
    };

    TBranchOrder order_;
    TBranch root_;
    // The levels from the root's sub-branches down to the current branch's: the first depth_ of
    // them. Levels left are kept with their storage, for the next sub-branches at that depth.
    std::vector<TLevel> levels_;
    size_t depth_ = 0;
    std::vector<size_t> path_;
};

} // namespace ludex
