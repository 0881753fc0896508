#include "core/xml/VreltSAX.h"

#include "core/text/Utf8.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace ludex {

namespace {

// Whether every byte of an attribute name is ASCII (names are short: a plain loop serves).
bool IsAsciiName(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Byte classes of the scanner.
enum : uint8_t {
    kSpace = 1,         // 0x00..0x20
    kNameEnd = 2,       // ends a tag name: whitespace, "/", ">", "?"
    kBadInName = 4,     // double quote, "<", "=" inside a tag name
    kBadInAttrName = 8, // double quote, "/", "<", ">", "?" before the "=" of an attribute
};

constexpr std::array<uint8_t, 256> MakeClasses() {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b <= 0x20; ++b) {
        t[static_cast<size_t>(b)] = kSpace | kNameEnd;
    }
    t['/'] = kNameEnd | kBadInAttrName;
    t['>'] = kNameEnd | kBadInAttrName;
    t['?'] = kNameEnd | kBadInAttrName;
    t['"'] = kBadInName | kBadInAttrName;
    t['<'] = kBadInName | kBadInAttrName;
    t['='] = kBadInName;
    return t;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

inline uint8_t ClassOf(char c) {
    return kClasses[static_cast<unsigned char>(c)];
}

inline bool IsSpace(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

inline char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// The name upper-cased as the code page upper-cases its characters, put into out. Before a UTF-8
// declaration a name is code-page bytes, each upper-cased on its own; after it the name is UTF-8,
// and each character is upper-cased when the code page holds it. Names are not validated, so a
// byte that starts no well-formed sequence is kept as it is.
void UpperCaseName(std::string_view name, bool utf8, const TCodePage& codePage, std::string& out) {
    out.clear();
    if (!utf8) {
        for (char c : name) {
            out.push_back(static_cast<char>(codePage.UpperCaseByte(static_cast<unsigned char>(c))));
        }
        return;
    }
    const bool asciiCompatible = codePage.IsAsciiCompatible();
    size_t pos = 0;
    while (pos < name.size()) {
        const auto byte = static_cast<unsigned char>(name[pos]);
        char32_t character = 0;
        if (byte < 0x80 && asciiCompatible) {
            out.push_back(static_cast<char>(codePage.UpperCaseByte(byte)));
            ++pos;
        } else if (DecodeUtf8(name, pos, character)) {
            AppendUtf8(out, codePage.UpperCase(character));
        } else {
            out.push_back(name[pos++]);
        }
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Byte classes of text runs and attribute values, gathered in the same pass that finds their end.
enum : uint8_t {
    kSegHigh = 1,      // a byte 0x80..0xFF: the segment needs validating or converting
    kSegAmp = 2,       // "&": the segment needs the entity step
    kSegStopText = 4,  // "<" ends a text run
    kSegStopValue = 8, // a double quote ends an attribute value
};

constexpr std::array<uint8_t, 256> MakeSegmentClasses() {
    std::array<uint8_t, 256> t{};
    for (int b = 0x80; b <= 0xFF; ++b) {
        t[static_cast<size_t>(b)] = kSegHigh;
    }
    t['&'] = kSegAmp;
    t['<'] = kSegStopText;
    t['"'] = kSegStopValue;
    return t;
}

constexpr std::array<uint8_t, 256> kSegmentClasses = MakeSegmentClasses();

// The position of the first byte of class `stop` from `from` on, or n; ORs the classes of the
// bytes passed into flags (it may also OR in classes of bytes just after the stop, which only
// costs a needless check later). Eight bytes are examined at a time.
size_t ScanSegment(const char* d, size_t from, size_t n, uint8_t stop, uint8_t& flags) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    const uint64_t stopPattern = kOnes * static_cast<unsigned char>(stop == kSegStopText ? '<' : '"');
    const uint64_t ampPattern = kOnes * static_cast<unsigned char>('&');
    // Marks the zero bytes of v; the lowest mark is always exact.
    auto zeroBytes = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    uint8_t seen = flags;
    size_t i = from;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, d + i, 8);
        if (word & kHighs) {
            seen |= kSegHigh;
        }
        if (zeroBytes(word ^ ampPattern)) {
            seen |= kSegAmp;
        }
        if (uint64_t hit = zeroBytes(word ^ stopPattern)) {
            flags = seen;
            if constexpr (std::endian::native == std::endian::little) {
                return i + static_cast<size_t>(std::countr_zero(hit)) / 8;
            } else {
                return i + static_cast<size_t>(std::countl_zero(hit)) / 8;
            }
        }
    }
    for (; i < n; ++i) {
        uint8_t cls = kSegmentClasses[static_cast<unsigned char>(d[i])];
        if (cls & stop) {
            break;
        }
        seen |= cls;
    }
    flags = seen;
    return i;
}

// Beyond this many entries a tag's attribute names are looked up through a hash index.
constexpr size_t kLinearLookupLimit = 16;

constexpr size_t kStreamChunkSize = 65536;
constexpr size_t kContextBefore = 1000;

} // namespace

// ---------------------------------------------------------------------------------------------
// TAttributes

TAttributes::TAttributes(const TAttributes& other, allocator_type allocator)
    : bytes_(other.bytes_, allocator), entries_(other.entries_, allocator) {}

TAttributes& TAttributes::operator=(const TAttributes& other) {
    if (this != &other) {
        bytes_.assign(other.bytes_);
        entries_.assign(other.entries_.begin(), other.entries_.end());
    }
    return *this;
}

std::string TAttributes::Strings(int index) const {
    std::string s(Name(index));
    s.push_back('=');
    s.append(Value(index));
    return s;
}

int TAttributes::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        const TEntry& e = entries_[i];
        if (e.nameLength == name.size() &&
            EqualIgnoringAsciiCase(std::string_view(bytes_.data() + e.name, e.nameLength), name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string TAttributes::Values(std::string_view name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : std::string(Value(i));
}

void TAttributes::Add(std::string_view name, std::string_view value) {
    if (bytes_.size() + name.size() + value.size() > UINT32_MAX) {
        throw Exception("The attributes of one tag exceed 4 GiB");
    }
    entries_.push_back(TEntry{static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(name.size()),
                              static_cast<uint32_t>(value.size())});
    bytes_.append(name);
    bytes_.append(value);
}

void TAttributes::Clear() {
    bytes_.clear();
    entries_.clear();
}

// ---------------------------------------------------------------------------------------------
// TStringStack

void TStringStack::Push(std::string_view text) {
    if (count_ < items_.size()) {
        items_[count_].assign(text);
    } else {
        items_.emplace_back(text);
    }
    ++count_;
}

std::string TStringStack::Pop() {
    return std::move(items_[--count_]);
}

bool TStringStack::PopIfEqual(std::string_view text) {
    if (count_ == 0 || items_[count_ - 1] != text) {
        return false;
    }
    --count_;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Entities

void DecodeEntities(std::string_view segment, const TCodePage& codePage, std::string& out) {
    auto fail = [&]() -> void { throw EBadHTMLEncoding("Can not decode HTML: " + std::string(segment)); };
    out.clear();
    out.reserve(segment.size());
    size_t i = 0;
    while (i < segment.size()) {
        size_t amp = segment.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(segment.substr(i));
            break;
        }
        out.append(segment.substr(i, amp - i));
        size_t semi = segment.find(';', amp + 1);
        if (semi == std::string_view::npos || semi == amp + 1) {
            fail();
        }
        std::string_view name = segment.substr(amp + 1, semi - amp - 1);
        if (name == "apos") {
            out.push_back('\'');
        } else if (name == "quot") {
            out.push_back('"');
        } else if (name == "gt") {
            out.push_back('>');
        } else if (name == "lt") {
            out.push_back('<');
        } else if (name == "amp") {
            out.push_back('&');
        } else if (name.size() >= 3 && name.size() <= 4 && name[0] == '#' && name[1] == 'x') {
            int value = 0;
            for (size_t k = 2; k < name.size(); ++k) {
                int digit = HexDigit(name[k]);
                if (digit < 0) {
                    fail();
                }
                value = value * 16 + digit;
            }
            if (!codePage.AppendByteAsUtf8(out, static_cast<unsigned char>(value))) {
                fail();
            }
        } else {
            fail();
        }
        i = semi + 1;
    }
}

std::string DecodeEntities(std::string_view segment, const TCodePage& codePage) {
    std::string out;
    DecodeEntities(segment, codePage, out);
    return out;
}

// ---------------------------------------------------------------------------------------------
// TVreltSAX

TVreltSAX::TVreltSAX(TStartTagHandler onStartTag, TEndTagHandler onEndTag, TTextHandler onText,
                     TCommentHandler onComment, const TCodePage& codePage)
    : onStartTag_(std::move(onStartTag)), onEndTag_(std::move(onEndTag)), onText_(std::move(onText)),
      onComment_(std::move(onComment)), codePage_(&codePage) {
    // ASCII text can pass without conversion when the code page maps ASCII to itself.
    std::string ascii;
    for (int b = 0; b < 0x80; ++b) {
        ascii.push_back(static_cast<char>(b));
    }
    try {
        asciiCompatible_ = codePage.ToUtf8(ascii) == ascii;
    } catch (const ECodePage&) {
        asciiCompatible_ = false;
    }
    tag_.Attributes = &attributes_;
}

bool TVreltSAX::IsRepeatedAttribute(std::string_view name) {
    if (attributes_.Empty()) {
        return false;
    }
    if (attributes_.Count() > static_cast<int>(kLinearLookupLimit)) {
        UpperCaseName(name, utf8Mode_, *codePage_, upperName_);
        return attributeIndex_.count(upperName_) != 0;
    }
    // Code-page bytes, and ASCII in UTF-8 where the code page keeps ASCII, are upper-cased byte
    // by byte, so such names compare in place. Other UTF-8 names are upper-cased whole, since the
    // length may change (a dotless i becomes "I" in windows-1254).
    if (!utf8Mode_ || (asciiCompatible_ && asciiNames_ && IsAsciiName(name))) {
        for (int i = 0; i < attributes_.Count(); ++i) {
            const std::string_view other = attributes_.Name(i);
            if (other.size() == name.size() &&
                std::equal(name.begin(), name.end(), other.begin(), [this](char a, char b) {
                    return codePage_->UpperCaseByte(static_cast<unsigned char>(a)) ==
                           codePage_->UpperCaseByte(static_cast<unsigned char>(b));
                })) {
                return true;
            }
        }
        return false;
    }
    UpperCaseName(name, utf8Mode_, *codePage_, upperName_);
    for (int i = 0; i < attributes_.Count(); ++i) {
        UpperCaseName(attributes_.Name(i), utf8Mode_, *codePage_, upperOther_);
        if (upperOther_ == upperName_) {
            return true;
        }
    }
    return false;
}

void TVreltSAX::AddAttribute(std::string_view name, std::string_view value) {
    if (attributes_.Empty()) {
        asciiNames_ = true;
    }
    asciiNames_ = asciiNames_ && (!utf8Mode_ || IsAsciiName(name));
    attributes_.Add(name, value);
    const int count = attributes_.Count();
    if (count == static_cast<int>(kLinearLookupLimit) + 1) {
        for (int i = 0; i < count; ++i) {
            UpperCaseName(attributes_.Name(i), utf8Mode_, *codePage_, upperOther_);
            attributeIndex_.insert(upperOther_);
        }
    } else if (count > static_cast<int>(kLinearLookupLimit) + 1) {
        UpperCaseName(name, utf8Mode_, *codePage_, upperOther_);
        attributeIndex_.insert(upperOther_);
    }
}

void TVreltSAX::Reset() {
    buffer_.clear();
    tagStack_.Clear();
    attributes_.Clear();
    utf8Mode_ = false;
    state_ = TState::Classify;
    start_ = 0;
    pos_ = 0;
}

void TVreltSAX::Parse(std::string_view text) {
    // Chunking changes neither the events nor the errors, so any text is scanned in place.
    Reset();
    ParseChunk(text);
    Finish();
}

void TVreltSAX::ParseStream(std::istream& stream) {
    // The size of the whole stream decides whether it is left alone.
    std::streampos current = stream.tellg();
    if (current != std::streampos(-1)) {
        stream.seekg(0, std::ios::end);
        std::streampos end = stream.tellg();
        stream.seekg(current);
        if (end == std::streampos(0)) {
            return;
        }
    }
    std::string chunk(kStreamChunkSize, '\0');
    bool first = true;
    for (;;) {
        stream.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (stream.bad()) {
            throw EInOutError("Cannot read the XML stream");
        }
        auto got = static_cast<size_t>(stream.gcount());
        if (first) {
            if (got == 0 && current == std::streampos(-1)) {
                return; // an unsized stream that is empty
            }
            Reset();
            first = false;
        }
        ParseChunk(std::string_view(chunk.data(), got));
        if (got < chunk.size()) {
            break;
        }
    }
    Finish();
}

void TVreltSAX::ParseChunk(std::string_view bytes) {
    if (buffer_.empty()) {
        // Nothing carried over: scan the caller's bytes in place and keep only what is left.
        Drain(bytes, TInput::Partial);
    } else {
        buffer_.append(bytes);
        Drain(buffer_, TInput::Partial);
    }
}

void TVreltSAX::Drain(std::string_view data, TInput input) {
    struct TKeep {
        TVreltSAX* self;
        std::string_view data;
        ~TKeep() { self->KeepUnconsumed(data); }
    } keep{this, data};
    while (Scan(data, input) != tkNone) {
        Dispatch();
    }
}

void TVreltSAX::KeepUnconsumed(std::string_view data) {
    if (data.data() == buffer_.data()) {
        buffer_.erase(0, start_);
    } else {
        buffer_.assign(data.substr(std::min(start_, data.size())));
    }
    pos_ -= start_;
    mark_ -= start_;
    searchFrom_ -= start_;
    attrNameStart_ -= start_;
    attrNameEnd_ -= start_;
    start_ = 0;
}

void TVreltSAX::NextToken(TVreltSAXTag& tag) {
    struct TKeep {
        TVreltSAX* self;
        ~TKeep() { self->KeepUnconsumed(self->buffer_); }
    } keep{this};
    tag.Kind = Scan(buffer_, TInput::Partial);
    tag.Name = tag_.Name;
    tag.Attributes = &attributes_;
}

void TVreltSAX::Dispatch() {
    const std::string& name = tag_.Name;
    switch (tag_.Kind) {
    case tkProcessingInstruction: {
        onStartTag_(name, attributes_);
        int i = attributes_.IndexOfName("encoding");
        if (i >= 0 && EqualIgnoringAsciiCase(attributes_.Value(i), "utf-8")) {
            utf8Mode_ = true;
        }
        onEndTag_(name);
        break;
    }
    case tkStartTag:
        tagStack_.Push(name);
        onStartTag_(name, attributes_);
        break;
    case tkEndTag:
        if (!tagStack_.PopIfEqual(name)) {
            throw EVreltSAX("Bad XML. Mismatched tag end: " + name);
        }
        onEndTag_(name);
        break;
    case tkEmptyTag:
        onStartTag_(name, attributes_);
        onEndTag_(name);
        break;
    case tkComment:
        onComment_(name);
        break;
    case tkText:
        onText_(name);
        break;
    case tkNone:
        break;
    }
}

void TVreltSAX::Finish() {
    // Errors that wait for the byte after the input are raised now, quoting up to its end.
    Drain(buffer_, TInput::Complete);
    for (char c : buffer_) {
        if (!IsSpace(c)) {
            throw EVreltSAX("Bad XML. Unexpected end of document: \r\n" + buffer_);
        }
    }
    if (!tagStack_.Empty()) {
        throw EVreltSAX("Bad XML. No tag end found: " + tagStack_.Pop());
    }
}

void TVreltSAX::FailAt(std::string_view data, size_t pos, const std::string& detail) const {
    size_t rel = pos - start_;
    size_t from = rel > kContextBefore ? rel - kContextBefore : 0;
    size_t available = data.size() - start_;
    size_t to = std::min(rel + 1, available);
    std::string message = "Bad XML: " + detail + "\r\n";
    message.append(data.substr(start_ + from, to - from));
    throw EVreltSAX(message);
}

const char* TVreltSAX::DecodeSegment(std::string_view segment, TReferences references, uint8_t flags,
                                     std::string_view* result) {
    std::string_view text = segment;
    bool mayHaveAmp = (flags & kSegAmp) != 0;
    if (utf8Mode_) {
        if ((flags & kSegHigh) && !IsValidUtf8(segment)) {
            return "Bad UTF-8:";
        }
    } else if ((flags & kSegHigh) || !asciiCompatible_) {
        try {
            scratch_ = codePage_->ToUtf8(segment);
        } catch (const ECodePage&) {
            return "Bad character:";
        }
        text = scratch_;
        mayHaveAmp = true;
    }
    if (references == TReferences::Replace && mayHaveAmp && text.find('&') != std::string_view::npos) {
        DecodeEntities(text, *codePage_, decoded_);
        text = decoded_;
    }
    *result = text;
    return nullptr;
}

TVreltSAXTagKind TVreltSAX::Scan(std::string_view data, TInput input) {
    const bool atEnd = input == TInput::Complete;
    const char* d = data.data();
    const size_t n = data.size();
    size_t p = pos_;

    // Decodes one segment, turning its failures into parse errors at errorPos.
    auto decode = [&](size_t from, size_t to, size_t errorPos, TReferences references, uint8_t flags,
                      std::string_view& out) {
        // Plain ASCII without references passes as it is.
        if ((flags & (kSegHigh | kSegAmp)) == 0 && (utf8Mode_ || asciiCompatible_)) {
            out = data.substr(from, to - from);
            return;
        }
        const char* failure = nullptr;
        std::string_view result;
        try {
            failure = DecodeSegment(data.substr(from, to - from), references, flags, &result);
        } catch (const EBadHTMLEncoding& e) {
            FailAt(data, errorPos, e.Message());
        }
        if (failure != nullptr) {
            FailAt(data, errorPos, failure);
        }
        out = result;
    };
    auto wait = [&]() {
        pos_ = p;
        return tkNone;
    };
    auto complete = [&](TVreltSAXTagKind kind, size_t end) {
        start_ = end;
        pos_ = end;
        state_ = TState::Classify;
        tag_.Kind = kind;
        return kind;
    };

    for (;;) {
        switch (state_) {
        case TState::Classify:
            while (p < n && IsSpace(d[p])) {
                ++p;
            }
            if (p == n) {
                return wait();
            }
            if (d[p] != '<') {
                mark_ = p;
                searchFrom_ = p;
                segmentFlags_ = 0;
                state_ = TState::Text;
                break;
            }
            ++p;
            state_ = TState::AfterLt;
            [[fallthrough]];
        case TState::AfterLt: {
            if (p == n) {
                return wait();
            }
            char c = d[p];
            if (c == '?') {
                opening_ = tkProcessingInstruction;
                ++p;
            } else if (c == '/') {
                opening_ = tkEndTag;
                ++p;
            } else if (c == '!' && (n - p < 2 || (n - p == 2 && d[p + 1] == '-'))) {
                return wait(); // a comment opening may be on its way
            } else if (c == '!' && n - p >= 3 && d[p + 1] == '-' && d[p + 2] == '-') {
                p += 3;
                mark_ = p;
                searchFrom_ = p;
                state_ = TState::Comment;
                break;
            } else {
                opening_ = tkStartTag;
            }
            mark_ = p;
            state_ = TState::Name;
            break;
        }
        case TState::Text: {
            size_t end = ScanSegment(d, searchFrom_, n, kSegStopText, segmentFlags_);
            if (end == n) {
                searchFrom_ = n;
                return wait();
            }
            std::string_view text;
            decode(mark_, end, end, TReferences::Replace, segmentFlags_, text);
            tag_.Name.assign(text);
            return complete(tkText, end);
        }
        case TState::Comment: {
            size_t close = data.find("-->", searchFrom_);
            if (close == std::string_view::npos) {
                searchFrom_ = std::max(mark_, n >= 2 ? n - 2 : 0);
                return wait();
            }
            std::string_view text;
            decode(mark_, close, mark_, TReferences::Keep, kSegHigh | kSegAmp, text);
            tag_.Name.assign(text);
            return complete(tkComment, close + 3);
        }
        case TState::Name:
            while (p < n) {
                uint8_t cls = ClassOf(d[p]);
                if (cls & kNameEnd) {
                    break;
                }
                if (cls & kBadInName) {
                    FailAt(data, p, "");
                }
                ++p;
            }
            if (p == n) {
                return wait();
            }
            if (p == mark_) {
                FailAt(data, p, "");
            }
            if (opening_ == tkProcessingInstruction) {
                tag_.Name.assign(1, '?');
                tag_.Name.append(d + mark_, p - mark_);
            } else {
                tag_.Name.assign(d + mark_, p - mark_);
            }
            attributes_.Clear();
            if (!attributeIndex_.empty()) {
                attributeIndex_.clear();
            }
            state_ = TState::AttrSep;
            [[fallthrough]];
        case TState::AttrSep:
            if (p == n) {
                if (atEnd) {
                    // The input ends after the attributes: an end tag with attributes fails now.
                    state_ = TState::AfterAttrs;
                    break;
                }
                return wait();
            }
            if (!(ClassOf(d[p]) & kNameEnd)) {
                FailAt(data, p, "");
            }
            state_ = TState::AttrSkipWs;
            [[fallthrough]];
        case TState::AttrSkipWs: {
            while (p < n && IsSpace(d[p])) {
                ++p;
            }
            if (p == n) {
                if (atEnd) {
                    state_ = TState::AfterAttrs;
                    break;
                }
                return wait();
            }
            char c = d[p];
            if (c == '/' || c == '>' || c == '?') {
                state_ = TState::AfterAttrs;
                break;
            }
            attrNameStart_ = p;
            state_ = TState::AttrName;
            [[fallthrough]];
        }
        case TState::AttrName: {
            while (p < n) {
                char c = d[p];
                if (c == '=') {
                    attrNameEnd_ = p;
                    ++p;
                    state_ = TState::AttrDup;
                    break;
                }
                if (ClassOf(c) & kBadInAttrName) {
                    FailAt(data, p, "");
                }
                if (IsSpace(c)) {
                    attrNameEnd_ = p;
                    state_ = TState::AttrNameWs;
                    break;
                }
                ++p;
            }
            if (state_ == TState::AttrName) {
                return wait();
            }
            break;
        }
        case TState::AttrNameWs: {
            while (p < n && IsSpace(d[p])) {
                ++p;
            }
            if (p == n) {
                return wait();
            }
            char c = d[p];
            if (c == '=') {
                ++p;
                state_ = TState::AttrDup;
                break;
            }
            // A byte that may not stand in a name, or a second word before the "=".
            FailAt(data, p, "");
        }
        case TState::AttrDup:
            if (attrNameEnd_ == attrNameStart_) {
                // "=" without a name ends the attributes; the close decides.
                state_ = TState::AfterAttrs;
                break;
            }
            if (IsRepeatedAttribute(std::string_view(d + attrNameStart_, attrNameEnd_ - attrNameStart_))) {
                if (p == n && !atEnd) {
                    return wait();
                }
                FailAt(data, p, "Duplicate attribute: ");
            }
            state_ = TState::ValueWs;
            [[fallthrough]];
        case TState::ValueWs:
            while (p < n && IsSpace(d[p])) {
                ++p;
            }
            if (p == n) {
                return wait();
            }
            if (d[p] != '"') {
                FailAt(data, p, "");
            }
            ++p;
            mark_ = p;
            searchFrom_ = p;
            segmentFlags_ = 0;
            state_ = TState::Value;
            [[fallthrough]];
        case TState::Value: {
            size_t end = ScanSegment(d, searchFrom_, n, kSegStopValue, segmentFlags_);
            if (end == n) {
                searchFrom_ = n;
                return wait();
            }
            std::string_view value;
            decode(mark_, end, end, TReferences::Replace, segmentFlags_, value);
            AddAttribute(std::string_view(d + attrNameStart_, attrNameEnd_ - attrNameStart_), value);
            p = end + 1;
            state_ = TState::AttrSep;
            break;
        }
        case TState::AfterAttrs:
            if (opening_ == tkEndTag && !attributes_.Empty()) {
                if (p == n && !atEnd) {
                    return wait();
                }
                FailAt(data, p, "");
            }
            state_ = TState::CloseWs;
            [[fallthrough]];
        case TState::CloseWs:
            while (p < n && IsSpace(d[p])) {
                ++p;
            }
            if (p == n) {
                return wait();
            }
            if (d[p] == '>') {
                if (opening_ == tkProcessingInstruction) {
                    FailAt(data, p, "");
                }
                return complete(opening_, p + 1);
            }
            ++p;
            state_ = TState::Close2;
            [[fallthrough]];
        case TState::Close2: {
            if (p == n) {
                return wait();
            }
            char first = d[p - 1];
            if (d[p] != '>' || (first != '?' && first != '/')) {
                FailAt(data, p, "");
            }
            if (first == '?') {
                if (opening_ != tkProcessingInstruction) {
                    FailAt(data, p, "");
                }
                return complete(tkProcessingInstruction, p + 1);
            }
            if (opening_ != tkStartTag) {
                FailAt(data, p, "");
            }
            return complete(tkEmptyTag, p + 1);
        }
        }
    }
}

} // namespace ludex
