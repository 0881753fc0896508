#include "gui/tree/NodePath.h"

#include "gui/tree/BranchTree.h"

#include <algorithm>

namespace ludex {

TNodePath PathOfNode(const TTreeNode* node) {
    TNodePath path;
    for (; node != nullptr && node->Parent() != nullptr; node = node->Parent()) {
        path.push_back({node->Row(), node->Text()});
    }
    std::reverse(path.begin(), path.end());
    return path;
}

TFoundNode FindByPath(TTreeNode* top, const TNodePath& path) {
    TFoundNode found{top, top != nullptr};
    for (const TNodeStep& step : path) {
        TTreeNode* parent = found.node;
        TTreeNode* next = nullptr;
        if (step.row >= 0 && step.row < parent->ChildCount() &&
            parent->Child(step.row)->Text() == step.title) {
            next = parent->Child(step.row);
        } else {
            for (int i = 0; i < parent->ChildCount() && next == nullptr; ++i) {
                if (parent->Child(i)->Text() == step.title) {
                    next = parent->Child(i);
                }
            }
        }
        if (next == nullptr) {
            found.exact = false;
            return found;
        }
        found.node = next;
    }
    return found;
}

} // namespace ludex
