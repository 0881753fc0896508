#pragma once

#include "core/text/Utf8.h"

#include <cstddef>
#include <string_view>

namespace ludex {

// A quick look over the markup of a document's text, made piece by piece while each piece is still
// in the processor's cache, which tells whether the parsed tree can need the walk that checks and
// repairs it after parsing. That walk is needed only for an element that repeats an attribute
// name, an XML declaration after the start of the text, or a character reference in text content
// (which may leave white space at the ends of a text node). The scan tokenizes start tags,
// attributes, end tags, comments, character-data sections and processing instructions; anything
// else (a document type declaration, a construct it cannot follow, a tag with very many
// attributes) makes it unsure, and so does ill-formed markup, which the parser reports.
class TMarkupScan {
public:
    // Scans what `text` holds beyond what earlier calls have scanned; `text` is the whole text
    // received so far.
    void Advance(std::string_view text, TInput input);

    // False only when the text certainly holds none of the things the walk is needed for.
    bool NeedsTreeCheck() const { return unsure_; }

private:
    size_t from_ = 0; // outside markup: in text content or at a '<'
    bool unsure_ = false;
};

} // namespace ludex
