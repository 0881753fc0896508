#pragma once

#include "core/base/Exception.h"
#include "core/text/CodePage.h"
#include "core/text/Utf8.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace ludex {

// A parse error of the tokenizer. Its message is either
// "Bad XML: " + detail + "\r\n" + context (the context being at most 1001 bytes of the unconsumed
// input, ending at the byte in error) or "Bad XML. " + detail.
class EVreltSAX : public Exception {
public:
    using Exception::Exception;
};

// A bad entity or character reference inside one text segment; the tokenizer turns it into an
// EVreltSAX that quotes the position of the segment.
class EBadHTMLEncoding : public Exception {
public:
    using Exception::Exception;
};

// The attributes of one tag as name/value pairs in document order. Lookup by name ignores the
// case of ASCII letters. Copying keeps the order. The storage comes from the allocator given at
// construction (a document keeps its whole tree in one arena); copies take the default one
// unless given another.
class TAttributes {
public:
    using allocator_type = std::pmr::polymorphic_allocator<std::byte>;

    int Count() const { return static_cast<int>(entries_.size()); }
    bool Empty() const { return entries_.empty(); }
    std::string_view Name(int index) const {
        const TEntry& e = entries_[static_cast<size_t>(index)];
        return std::string_view(bytes_.data() + e.name, e.nameLength);
    }
    std::string_view Value(int index) const {
        const TEntry& e = entries_[static_cast<size_t>(index)];
        return std::string_view(bytes_.data() + e.name + e.nameLength, e.valueLength);
    }
    // The entry as the text name "=" value.
    std::string Strings(int index) const;

    // Index of the first entry with this name (ASCII case-insensitive), or -1. A linear search.
    int IndexOfName(std::string_view name) const;
    // The value of the entry with this name (ASCII case-insensitive); empty when there is none.
    std::string Values(std::string_view name) const;

    // Appends an entry. Names are not checked for repetition here; the tokenizer does that.
    void Add(std::string_view name, std::string_view value);
    void Clear();

    TAttributes() = default;
    explicit TAttributes(allocator_type allocator) : bytes_(allocator), entries_(allocator) {}
    TAttributes(const TAttributes& other, allocator_type allocator = {});
    // Keeps this list's allocator.
    TAttributes& operator=(const TAttributes& other);
    ~TAttributes() = default;

private:
    // Where the name and, right after it, the value of an entry lie in bytes_.
    struct TEntry {
        uint32_t name;
        uint32_t nameLength;
        uint32_t valueLength;
    };

    // All names and values, one after the other: one block of memory however many entries.
    std::pmr::string bytes_;
    std::pmr::vector<TEntry> entries_;
};

// The names of the open elements, innermost last.
class TStringStack {
public:
    void Push(std::string_view text);
    // Removes and returns the last string. The stack must not be empty.
    std::string Pop();
    // Removes the last string when it equals the text; false (nothing removed) otherwise or
    // when the stack is empty.
    bool PopIfEqual(std::string_view text);
    int Count() const { return static_cast<int>(count_); }
    bool Empty() const { return count_ == 0; }
    void Clear() { count_ = 0; }

private:
    // Strings beyond count_ are kept only to reuse their storage.
    std::vector<std::string> items_;
    size_t count_ = 0;
};

enum TVreltSAXTagKind : uint8_t {
    tkProcessingInstruction = 0, // "<?" name attributes "?>"
    tkStartTag = 1,              // "<" name attributes ">"
    tkEndTag = 2,                // "</" name ">"
    tkEmptyTag = 3,              // "<" name attributes "/>"
    tkComment = 4,               // "<!--" text "-->"
    tkText = 5,                  // a run of bytes up to the next "<"
    tkNone = 6,                  // no complete token in the input yet
};

// One token as scanned by NextToken. Name holds the tag name (a processing instruction's with a
// leading "?") or the decoded text of a text run or comment; Attributes points to the
// tokenizer's own attribute list, valid until the next token is scanned.
struct TVreltSAXTag {
    TVreltSAXTagKind Kind = tkNone;
    std::string Name;
    const TAttributes* Attributes = nullptr;
};

// Event-driven tokenizer for the XML subset of the settings and language files: elements with
// double-quoted attributes, text with the five predefined entities and "&#xNN;" references,
// comments and processing instructions. It reports every token to four handlers, checks that end
// tags match, and raises EVreltSAX for malformed input. Attribute names repeated within a tag are
// found after upper-casing both in the code page ("\xE9" and "\xC9" in windows-1252, and after a
// UTF-8 declaration the UTF-8 forms of those characters).
//
// Text reaches the handlers as UTF-8. Once a processing instruction declares encoding="utf-8"
// the input is UTF-8 and is validated; before that it is code-page bytes that are converted with
// the tokenizer's code page. A reference "&#xNN;" names a byte of that code page. Element and
// attribute names are reported as their raw bytes.
//
// Input may be split between chunks at any byte: the events and errors are the same as for the
// whole input. Parsing is linear in the size of the input; an unfinished token is resumed where
// its scan stopped, never scanned again from its start.
class TVreltSAX {
public:
    using TStartTagHandler = std::function<void(const std::string& name, const TAttributes& attributes)>;
    using TEndTagHandler = std::function<void(const std::string& name)>;
    using TTextHandler = std::function<void(const std::string& text)>;
    using TCommentHandler = std::function<void(const std::string& text)>;

    TVreltSAX(TStartTagHandler onStartTag, TEndTagHandler onEndTag, TTextHandler onText,
              TCommentHandler onComment, const TCodePage& codePage = CurrentCodePage());
    TVreltSAX(const TVreltSAX&) = delete;
    TVreltSAX& operator=(const TVreltSAX&) = delete;

    // Reset, the whole text, Finish.
    void Parse(std::string_view text);
    // Reset, the stream's bytes from its current position in chunks of 64 KiB, Finish. A stream
    // whose size is 0 is left alone: no reset, no event, no error. Throws EInOutError when the
    // stream fails while reading.
    void ParseStream(std::istream& stream);
    // Forgets buffered input and open elements; UTF-8 mode off.
    void Reset();
    // Appends the bytes to the input and reports every token that is complete.
    void ParseChunk(std::string_view bytes);
    // End of input: raises an error for unfinished input or elements left open.
    void Finish();
    // Scans one complete token from the buffered input and removes it; kind tkNone when the
    // input holds no complete token. Does not dispatch, so the tag stack and UTF-8 mode are left
    // alone.
    void NextToken(TVreltSAXTag& tag);

    bool Utf8Mode() const { return utf8Mode_; }
    const TCodePage& CodePage() const { return *codePage_; }

private:
    enum class TState : uint8_t {
        Classify,
        AfterLt,
        Text,
        Comment,
        Name,
        AttrSep,
        AttrSkipWs,
        AttrName,
        AttrNameWs,
        AttrDup,
        ValueWs,
        Value,
        AfterAttrs,
        CloseWs,
        Close2,
    };

    // Scans from the saved state over data (the current buffer starts at data[start_]).
    // Returns the kind of the token completed, or tkNone. With TInput::Complete, errors whose position
    // lies just past the input are raised instead of waiting for the next byte.
    TVreltSAXTagKind Scan(std::string_view data, TInput input);
    void Dispatch();
    // Whether the current tag already has an attribute of this name, both names upper-cased in
    // the code page.
    bool IsRepeatedAttribute(std::string_view name);
    void AddAttribute(std::string_view name, std::string_view value);
    void Drain(std::string_view data, TInput input);
    void KeepUnconsumed(std::string_view data);
    // Whether a segment's references are replaced (text and attribute values) or kept (comments).
    enum class TReferences { Keep, Replace };
    // The UTF-8 step and, with TReferences::Replace, the entity step for one segment. Returns the
    // detail of a form-A error ("Bad UTF-8:", "Bad character:") or null; a bad reference throws
    // EBadHTMLEncoding.
    // flags tells which byte classes the segment holds (non-ASCII bytes, "&"). The decoded text
    // is put in *result: the segment itself when nothing changes, else scratch_.
    const char* DecodeSegment(std::string_view segment, TReferences references, uint8_t flags,
                              std::string_view* result);
    [[noreturn]] void FailAt(std::string_view data, size_t pos, const std::string& detail) const;

    std::string buffer_; // unconsumed input carried over between chunks
    TAttributes attributes_;
    TStringStack tagStack_;
    bool utf8Mode_ = false;
    TStartTagHandler onStartTag_;
    TEndTagHandler onEndTag_;
    TTextHandler onText_;
    TCommentHandler onComment_;
    const TCodePage* codePage_;
    bool asciiCompatible_ = true;

    // Scanner state; every position is an index into the data being scanned.
    TState state_ = TState::Classify;
    TVreltSAXTagKind opening_ = tkStartTag;
    size_t start_ = 0; // first unconsumed byte: the start of the "current buffer"
    size_t pos_ = 0;
    size_t mark_ = 0;       // start of the name, text, comment text or value being scanned
    size_t searchFrom_ = 0; // where the search for the end of a text, comment or value resumes
    size_t attrNameStart_ = 0;
    size_t attrNameEnd_ = 0;
    uint8_t segmentFlags_ = 0;
    TVreltSAXTag tag_;
    std::string scratch_;
    std::string decoded_;
    // Upper-cased names of the current tag's attributes, kept once the tag has many, so that a
    // tag with a huge number of attributes is still checked for repetitions in linear time.
    std::unordered_set<std::string> attributeIndex_;
    bool asciiNames_ = true; // in UTF-8 mode: whether the current tag's attribute names are ASCII
    std::string upperName_;  // the upper-cased name being checked
    std::string upperOther_; // an upper-cased name it is compared with
};

// Replaces the references of one segment: "&apos;", "&quot;", "&gt;", "&lt;", "&amp;" and
// "&#x" followed by one or two hexadecimal digits, which names a byte of the code page and is
// appended as that character in UTF-8. Anything else raises EBadHTMLEncoding quoting the segment.
std::string DecodeEntities(std::string_view segment, const TCodePage& codePage);
void DecodeEntities(std::string_view segment, const TCodePage& codePage, std::string& out);

} // namespace ludex
