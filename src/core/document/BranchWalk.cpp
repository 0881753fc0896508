#include "core/document/BranchWalk.h"

#include "core/document/BranchOrder.h"
#include "core/document/XMLNodeAccess.h"

#include <algorithm>
#include <utility>

namespace ludex {

bool HasSubBranches(const TDomNode& element) {
    if (IsBranchLocked(element)) {
        return element.HasChildNodes();
    }
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.IsElement()) {
            return true;
        }
    }
    return false;
}

std::vector<TBranch> SubBranches(const TDomNode& element, TBranchOrder order) {
    std::vector<TBranch> branches;
    size_t index = 0;
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.IsElement()) {
            branches.push_back({child, index++, TitleAccess.Read(child), HasSubBranches(child)});
        }
    }
    if (order == TBranchOrder::Window && branches.size() > 1) {
        std::stable_sort(branches.begin(), branches.end(), [](const TBranch& a, const TBranch& b) {
            return CompareBranches(a.hasSubBranches, a.title, b.hasSubBranches, b.title) < 0;
        });
    }
    return branches;
}

TBranchWalk::TBranchWalk(const TDomNode& root, TBranchOrder order)
    : order_(order), root_{root, 0, TitleAccess.Read(root), HasSubBranches(root)} {}

bool TBranchWalk::ToFirstChild() {
    const TBranch& current = Current();
    if (!current.hasSubBranches) {
        return false; // spares reading the children of the many branches without any
    }
    std::vector<TBranch> branches = SubBranches(current.element, order_);
    if (branches.empty()) {
        return false; // a locked branch: its payload is no branch
    }
    path_.push_back(branches.front().index);
    levels_.push_back({std::move(branches), 0});
    return true;
}

bool TBranchWalk::ToNextSibling() {
    if (levels_.empty()) {
        return false;
    }
    TLevel& level = levels_.back();
    if (level.next + 1 == level.branches.size()) {
        return false;
    }
    ++level.next;
    path_.back() = level.branches[level.next].index;
    return true;
}

bool TBranchWalk::ToParent() {
    if (levels_.empty()) {
        return false;
    }
    levels_.pop_back();
    path_.pop_back();
    return true;
}

} // namespace ludex
