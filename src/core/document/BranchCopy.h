#pragma once

#include "core/document/DomService.h"

#include <string_view>

namespace ludex {

// Creates a text node with the text in the element's document and appends it as the element's
// last child; returns it.
TDomNode AppendTextNode(const TDomNode& element, std::string_view text);

// Appends a deep copy of `source` (an element with its attributes, in order, and descendants, or
// a text node) as the last child of the element `target`, and returns the copy. Source and target
// may lie in different documents.
//
// The source is copied as it was before the call, so copying a branch into itself or into one of
// its own sub-branches terminates with one copy. The copy is checked completely before anything
// is appended: a node that is neither element nor text anywhere in the source throws
// Exception("Unsupported NodeType") and leaves the target unchanged. Works without recursion.
TDomNode CopyBranch(const TDomNode& target, const TDomNode& source);

// Throws Exception("Unsupported NodeType") when the node or any of its descendants is neither an
// element nor a text node. Works without recursion.
void RequireElementsAndText(const TDomNode& node);

} // namespace ludex
