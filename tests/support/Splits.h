#pragma once

// The ways a reader that takes its input in pieces is fed a text of `length` bytes in the tests:
// cut once at every position, and byte by byte. Each call of `feed` gets the lengths of the
// growing prefixes that come before the whole text, and a name for the trace.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ludex::testing {

inline void
ForEachSplit(size_t length,
             const std::function<void(const std::vector<size_t>& cuts, const std::string& how)>& feed) {
    for (size_t cut = 0; cut <= length; ++cut) {
        feed({cut}, "cut at " + std::to_string(cut));
    }
    std::vector<size_t> every;
    for (size_t cut = 1; cut <= length; ++cut) {
        every.push_back(cut);
    }
    feed(every, "byte by byte");
}

// A reader of kind TReader that has been fed the prefixes of `text` that `cuts` name, each as a
// partial input, and then the whole text as the complete input.
template <class TReader, class TInputKind>
TReader FedInPieces(std::string_view text, const std::vector<size_t>& cuts) {
    TReader reader;
    for (size_t cut : cuts) {
        reader.Advance(text.substr(0, cut), TInputKind::Partial);
    }
    reader.Advance(text, TInputKind::Complete);
    return reader;
}

} // namespace ludex::testing
