#include "core/document/BranchCopy.h"

namespace ludex {

TDomNode AppendTextNode(const TDomNode& element, std::string_view text) {
    return element.AddChildText(text);
}

void RequireElementsAndText(const TDomNode& node) {
    // Depth first in document order; climbing back stops at the starting node.
    TDomNode current = node;
    while (current) {
        TDomNodeKind kind = current.Kind();
        if (kind != TDomNodeKind::Element && kind != TDomNodeKind::Text) {
            throw Exception("Unsupported NodeType");
        }
        if (TDomNode child = current.FirstChild()) {
            current = child;
            continue;
        }
        while (current != node && !current.NextSibling()) {
            current = current.Parent();
        }
        current = current == node ? TDomNode() : current.NextSibling();
    }
}

TDomNode CopyBranch(const TDomNode& target, const TDomNode& source) {
    if (!source) {
        throw Exception("Unsupported NodeType");
    }
    RequireElementsAndText(source);
    // The DOM copies without recursion and skips the copy under construction, so a source that
    // contains the target is copied as it was before the call.
    return target.AppendCopy(source);
}

} // namespace ludex
