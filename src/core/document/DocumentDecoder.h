#pragma once

#include "core/base/Exception.h"
#include "core/document/TextCheck.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace ludex {

// A file or text that cannot be decoded or parsed. The message names the source, the line and the
// column (both 1-based; the column counts characters) and what is wrong.
class EDomError : public Exception {
public:
    using Exception::Exception;
};

// Line and column (1-based, the column in characters of UTF-8 text) of a byte offset.
std::pair<size_t, size_t> LineAndColumnOf(std::string_view text, size_t offset);

// `"source", line L, column C: what` for the byte offset in the text.
std::string LocatedMessage(std::string_view source, std::string_view text, size_t offset,
                           std::string_view what);

// The text of a document as UTF-8 without byte-order mark, and whether it holds a character
// reference to a surrogate or beyond U+10FFFF (see HasSuspectReference).
struct TDecodedDocument {
    std::string text;
    bool suspectReference = false;
};

// Decodes the bytes of a document by their byte-order mark and XML declaration: UTF-8 with or
// without byte-order mark, UTF-16 (either byte order) with byte-order mark, and single-byte
// encodings named in the declaration through the system converter. An unknown or multi-byte
// encoding, bytes that are not valid in it, and UTF-16 without byte-order mark are EDomError
// naming the source (with line and column where there is one).
//
// The bytes may be handed over as they arrive: UTF-8, by far the most common, is then checked
// piece by piece while each piece is still in the processor's cache, and only the rest of the
// work is left for Finish.
//
// A caller that checks the whole text itself, UTF-8 included (FindMalformation), passes
// TUtf8Check::ByCaller: UTF-8 text then comes back unchecked, with suspectReference false, and
// Finish refuses only what cannot be decoded.
enum class TUtf8Check { ByDecoder, ByCaller };

class TDocumentDecoder {
public:
    explicit TDocumentDecoder(std::string_view source, TUtf8Check check = TUtf8Check::ByDecoder)
        : source_(source), checkUtf8_(check == TUtf8Check::ByDecoder) {}

    // Called each time more bytes have arrived, with all bytes received so far.
    void Received(std::string_view bytes);

    // All bytes are in: completes the check or decodes them.
    TDecodedDocument Finish(std::string&& bytes);

    // Whether Finish will hand on the bytes received so far as they are, in the same storage:
    // UTF-8 without a byte-order mark, known to be so, and not checked by the decoder.
    bool PassesBytesOn() const { return head_ == THead::Utf8 && start_ == 0 && !checkUtf8_; }

private:
    enum class THead { Undecided, Utf8, Other };
    THead Decide(std::string_view bytes, TInput input);

    std::string source_;
    THead head_ = THead::Undecided;
    size_t start_ = 0;             // bytes of a byte-order mark before the UTF-8 text
    size_t declarationSearch_ = 0; // where to look on for the end of an XML declaration
    bool checkUtf8_ = true;
    TIncrementalTextCheck check_;
};

// Decodes a whole document at once, as TDocumentDecoder does.
std::string DecodeDocument(std::string&& bytes, std::string_view source);

} // namespace ludex
