#include "core/document/BranchWalk.h"

#include "core/document/BranchOrder.h"
#include "core/document/XMLNodeAccess.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace ludex {

namespace {

// Whether the element has a child element.
bool HasChildElement(const TDomNode& element) {
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.IsElement()) {
            return true;
        }
    }
    return false;
}

bool InWindowOrder(const TBranch& a, const TBranch& b) {
    return CompareBranches(a.hasSubBranches, a.title, b.hasSubBranches, b.title) < 0;
}

// Sorts the branches into the window's order, keeping the file order of equal ones. Most
// branches have few sub-branches: those are sorted in place, without the buffer std::stable_sort
// takes for every call.
void SortInWindowOrder(std::vector<TBranch>& branches) {
    constexpr size_t kInPlaceLimit = 32;
    if (branches.size() < 2) {
        return; // in order; and an empty list has no second branch to start from
    }
    if (branches.size() > kInPlaceLimit) {
        std::stable_sort(branches.begin(), branches.end(), InWindowOrder);
        return;
    }
    for (auto it = std::next(branches.begin()); it < branches.end(); ++it) {
        if (!InWindowOrder(*it, *std::prev(it))) {
            continue;
        }
        TBranch moving = std::move(*it);
        auto hole = it;
        do {
            *hole = std::move(*std::prev(hole));
            --hole;
        } while (hole != branches.begin() && InWindowOrder(moving, *std::prev(hole)));
        *hole = std::move(moving);
    }
}

// Replaces the content of `out` by the sub-branches of the element in the order.
void ReadSubBranches(const TDomNode& element, TBranchOrder order, std::vector<TBranch>& out) {
    out.clear();
    size_t index = 0;
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.IsElement()) {
            out.push_back(ReadBranch(child));
            out.back().index = index++;
        }
    }
    if (order == TBranchOrder::Window) {
        SortInWindowOrder(out);
    }
}

} // namespace

bool HasSubBranches(const TDomNode& element) {
    return IsBranchLocked(element) ? element.HasChildNodes() : HasChildElement(element);
}

namespace {

// The first element among the node and its next siblings.
TDomNode ElementFrom(TDomNode node) {
    while (node && !node.IsElement()) {
        node = node.NextSibling();
    }
    return node;
}

// Visits the element and every branch below it in file order, leaving out the content of locked
// branches; stops when `visit` returns false. `visit` is given the branch and whether it holds a
// payload: whether it is locked is asked only of a branch with content (most are leaves), which
// is what keeps a count of a large sub-tree quick.
template <class TVisit>
void VisitShownBranches(const TDomNode& element, TVisit&& visit) {
    TDomNode branch = element;
    for (;;) {
        const TDomNode content = branch.FirstChild();
        const bool payload = content && IsBranchLocked(branch);
        if (!visit(branch, payload)) {
            return;
        }
        TDomNode next = payload ? TDomNode() : ElementFrom(content);
        while (!next) {
            if (branch == element) {
                return;
            }
            next = ElementFrom(branch.NextSibling());
            if (!next) {
                branch = branch.Parent();
            }
        }
        branch = next;
    }
}

} // namespace

TBranchCount CountBranches(const TDomNode& element) {
    TBranchCount count;
    VisitShownBranches(element, [&count](const TDomNode&, bool payload) {
        ++count.branches;
        count.placeholders += payload ? 1 : 0;
        return true;
    });
    return count;
}

bool HoldsUnlockedBranch(const TDomNode& element) {
    bool found = false;
    VisitShownBranches(element, [&found](const TDomNode& branch, bool) {
        found = IsBranchEncrypted(branch) && !IsBranchLocked(branch);
        return !found;
    });
    return found;
}

TBranch ReadBranch(const TDomNode& element) {
    // One pass over the attributes instead of a look-up for each: walks read every branch.
    TBranch branch;
    branch.element = element;
    bool hasEncryption = false;
    bool hasPassword = false;
    bool hasTitle = false;
    for (TDomAttribute a = element.FirstAttribute(); a; a = a.Next()) {
        if (a.NameIs(TitleAccess.Name())) {
            if (!hasTitle) { // the first of equal names, as every look-up finds it
                branch.title = a.Value();
                hasTitle = true;
            }
        } else if (a.NameIs(EncryptionAccess.Name())) {
            hasEncryption = true;
        } else if (a.NameIs(PasswordAccess.Name())) {
            hasPassword = true;
        }
    }
    branch.locked = hasEncryption && !hasPassword; // IsBranchLocked
    branch.encrypted = hasEncryption;              // IsBranchEncrypted
    branch.hasSubBranches =
        branch.locked ? element.HasChildNodes() : HasChildElement(element); // HasSubBranches
    return branch;
}

std::vector<TBranch> SubBranches(const TDomNode& element, TBranchOrder order) {
    std::vector<TBranch> branches;
    ReadSubBranches(element, order, branches);
    return branches;
}

TBranchWalk::TBranchWalk(const TDomNode& root, TBranchOrder order) : order_(order), root_(ReadBranch(root)) {}

bool TBranchWalk::ToFirstChild() {
    const TBranch& current = Current();
    if (!current.hasSubBranches) {
        return false; // spares reading the children of the many branches without any
    }
    const TDomNode element = current.element;
    if (depth_ == levels_.size()) {
        levels_.emplace_back(); // may move the levels, and `current` with them
    }
    TLevel& level = levels_[depth_];
    ReadSubBranches(element, order_, level.branches);
    if (level.branches.empty()) {
        return false; // a locked branch: its payload is no branch
    }
    level.next = 0;
    ++depth_;
    path_.push_back(level.branches.front().index);
    return true;
}

bool TBranchWalk::ToNextSibling() {
    if (depth_ == 0) {
        return false;
    }
    TLevel& level = levels_[depth_ - 1];
    if (level.next + 1 == level.branches.size()) {
        return false;
    }
    ++level.next;
    path_.back() = level.branches[level.next].index;
    return true;
}

bool TBranchWalk::ToParent() {
    if (depth_ == 0) {
        return false;
    }
    --depth_;
    path_.pop_back();
    return true;
}

} // namespace ludex
