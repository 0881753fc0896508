#include "core/document/WellFormed.h"

#include "core/document/TextCheck.h"
#include "core/settings/LX_Localer.h"
#include "core/settings/PublishedObject.h"
#include "core/text/Utf8.h"
#include "core/text/Utf8Block.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace ludex {

namespace {

// Thrown inside the checker only; FindMalformation turns it into its result.
struct TFault {
    size_t offset;
    std::string reason;
};

// Byte classes for the fast scans of text content and attribute values: which bytes end a run
// of plain characters. A lead byte of a two-byte sequence continues the run when a continuation
// byte follows it (every such character is one XML allows); every other byte from 0x80 up ends
// it, so that the sequence it begins is checked as UTF-8 and as a character XML allows.
enum : uint8_t {
    kPlain = 0,
    kStop = 1,
    kTwoByteLead = 2,
};

constexpr std::array<uint8_t, 256> MakeStops(std::string_view extra) {
    std::array<uint8_t, 256> table{};
    for (unsigned b = 0; b < 0x20; ++b) {
        table[b] = (b == '\t' || b == '\n' || b == '\r') ? kPlain : kStop;
    }
    for (unsigned b = 0x80; b < 0x100; ++b) {
        table[b] = b >= 0xC2 && b <= 0xDF ? kTwoByteLead : kStop;
    }
    for (char c : extra) {
        table[static_cast<unsigned char>(c)] = kStop;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kContentStops = MakeStops("<&]");
constexpr std::array<uint8_t, 256> kQuotedStops = MakeStops("<&\"");
constexpr std::array<uint8_t, 256> kApostrophedStops = MakeStops("<&'");
constexpr std::array<uint8_t, 256> kCharStops = MakeStops("");

// FNV-1a: attribute names are short, and this is quicker on them than the library's hash.
uint64_t NameHash(std::string_view name) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    // The low bits pick the slot: mix the high bits down into them.
    return hash ^ (hash >> 29);
}

// The ASCII characters a name may hold after its first one.
constexpr std::array<bool, 128> MakeAsciiNameChars() {
    std::array<bool, 128> table{};
    for (unsigned b = 0; b < 128; ++b) {
        table[b] = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' ||
                   b == '.' || b == '_' || b == ':';
    }
    return table;
}

constexpr std::array<bool, 128> kAsciiNameChars = MakeAsciiNameChars();

#if defined(__SSE2__)
// How many of the 16 bytes at `p` SkipPlain may pass at once (see PlainPrefix16): control bytes
// other than tab, LF and CR, `A`, `B` and `C` end a run.
template <char A, char B, char C>
inline size_t PlainBlock(const char* p) {
    const __m128i v = LoadBlock16(p);
    __m128i blanks = _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'));
    blanks = _mm_or_si128(blanks, _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
    blanks = _mm_or_si128(blanks, _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
    __m128i stops = _mm_andnot_si128(blanks, AsciiControls16(v));
    stops = _mm_or_si128(stops, _mm_cmpeq_epi8(v, _mm_set1_epi8(A)));
    stops = _mm_or_si128(stops, _mm_cmpeq_epi8(v, _mm_set1_epi8(B)));
    stops = _mm_or_si128(stops, _mm_cmpeq_epi8(v, _mm_set1_epi8(C)));
    return PlainPrefix16(v, stops);
}
#endif

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameStartChar(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' || c == '_' ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
    return IsNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

class TChecker {
public:
    TChecker(std::string_view text, std::string_view watched) : text_(text), watched_(watched) {}

    // Where a character reference first stood in text content, and where an attribute of the
    // watched name first stood; npos for never.
    size_t ReferenceInTextAt() const { return referenceAt_; }
    size_t WatchedAt() const { return watchedAt_; }

    // Checks the text from its start. Stops where a run of an element's content ends at `stopAt`
    // (a markup's '<'), and returns true there; Resume goes on from it. Otherwise checks to the end
    // and returns false. Throws TFault at the first fault.
    bool Run(size_t stopAt = std::string_view::npos) {
        if (StartsWithAt(pos_, "<?xml") && pos_ + 5 < text_.size() &&
            (IsSpace(text_[pos_ + 5]) || text_[pos_ + 5] == '?')) {
            XmlDeclaration();
        }
        return Resume(stopAt);
    }

    // Goes on from where Run stopped (or RunAfterDocumentElement starts) to the end.
    bool Resume(size_t stopAt = std::string_view::npos) {
        while (true) {
            if (open_.empty()) {
                SkipSpace();
                if (pos_ >= text_.size()) {
                    break;
                }
                if (text_[pos_] != '<') {
                    Fail(pos_,
                         rootDone_ ? "text after the document element" : "text before the document element");
                }
                if (StartsWithAt(pos_, "<?")) {
                    ProcessingInstruction();
                } else if (StartsWithAt(pos_, "<!--")) {
                    Comment();
                } else if (StartsWithAt(pos_, "<!DOCTYPE")) {
                    if (doctypeSeen_ || rootDone_) {
                        Fail(pos_, "document type declaration out of place");
                    }
                    doctypeSeen_ = true;
                    DocumentType();
                } else if (StartsWithAt(pos_, "<!")) {
                    Fail(pos_, "markup that is not allowed outside the document element");
                } else if (StartsWithAt(pos_, "</")) {
                    Fail(pos_, "end tag without a start tag");
                } else if (rootDone_) {
                    Fail(pos_, "only one top-level element is allowed");
                } else {
                    StartTag();
                    rootDone_ = true;
                }
                continue;
            }
            Content();
            if (pos_ == stopAt) {
                return true;
            }
            if (pos_ >= text_.size()) {
                break;
            }
            Markup();
        }
        if (!open_.empty()) {
            Fail(text_.size(), "element <" + std::string(open_.back()) + "> is not closed");
        }
        if (!rootDone_) {
            Fail(text_.size(), "no document element");
        }
        return false;
    }

    // The text grew: `longer` begins with the text checked so far, at the same place in memory,
    // so that what the check holds of it (the names of the open elements) stays valid.
    void Extend(std::string_view longer) { text_ = longer; }

    // Checks from `from` after the document element's end tag to the end of the text.
    void RunAfterDocumentElement(size_t from) {
        pos_ = from;
        rootDone_ = true;
        Resume();
    }

    // Checks from `from` (a markup's '<') to the end of the text as the content of elements
    // opened before it, which it does not know: an end tag with no start tag of its own is put
    // down among the pending ends, to be matched with those elements later, and the content goes
    // on. Stops at the end of the text, whatever is still open, or throws TFault.
    void RunBelow(size_t from) {
        pos_ = from;
        rootDone_ = true;
        below_ = true;
        while (true) {
            Content();
            if (pos_ >= text_.size()) {
                return;
            }
            Markup();
        }
    }

    // An end tag RunBelow met without a start tag of its own: where it began, and where it ended.
    struct TPendingEnd {
        std::string_view name;
        size_t start;
        size_t end;
    };
    const std::vector<TPendingEnd>& PendingEnds() const { return pending_; }
    // The elements open, outermost first.
    const std::vector<std::string_view>& Open() const { return open_; }

private:
    [[noreturn]] static void Fail(size_t offset, std::string reason) {
        throw TFault{offset, std::move(reason)};
    }

    bool StartsWithAt(size_t at, std::string_view prefix) const {
        return text_.size() - std::min(at, text_.size()) >= prefix.size() &&
               text_.compare(at, prefix.size(), prefix) == 0;
    }

    char At(size_t at) const { return at < text_.size() ? text_[at] : '\0'; }

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) {
            ++pos_;
        }
    }

    void RequireSpace(const char* where) {
        if (!IsSpace(At(pos_))) {
            Fail(pos_, std::string("white space expected ") + where);
        }
        SkipSpace();
    }

    void Expect(std::string_view what) {
        if (!StartsWithAt(pos_, what)) {
            Fail(pos_, "\"" + std::string(what) + "\" expected");
        }
        pos_ += what.size();
    }

    // The character at `at`, which must be allowed in XML; `at` moves past it.
    char32_t CharAt(size_t& at) const {
        const size_t start = at;
        char32_t c = 0;
        if (!DecodeUtf8(text_, at, c)) {
            Fail(start, "invalid UTF-8 byte sequence");
        }
        if (!IsXmlChar(c)) {
            Fail(start, "the character " + CodePointText(c) + " is not allowed in XML");
        }
        return c;
    }

    // The first byte in [at, end) that ends a run of plain characters by `stops`, or `end`. `A`,
    // `B` and `C` are the ASCII characters besides control bytes that `stops` stops at. Sixteen
    // bytes are passed at a time while they hold none of them and nothing outside ASCII but whole
    // two-byte sequences; anything else goes on byte by byte.
    template <char A, char B, char C>
    size_t SkipPlain(const std::array<uint8_t, 256>& stops, size_t at, size_t end) const {
        const char* p = text_.data();
        while (true) {
#if defined(__SSE2__)
            while (at + 16 <= end) {
                const size_t passed = PlainBlock<A, B, C>(p + at);
                at += passed;
                if (passed < 15) {
                    return at; // a byte within the block ends the run
                }
                if (passed == 15) {
                    break; // the last byte may begin a two-byte sequence
                }
            }
#endif
            // At least sixteen bytes one by one before the next block is tried.
            const size_t stop = std::min(at + 16, end);
            while (at < stop) {
                const uint8_t c = stops[static_cast<unsigned char>(p[at])];
                if (c == kPlain) {
                    ++at;
                } else if (c == kTwoByteLead && at + 1 < end &&
                           (static_cast<unsigned char>(p[at + 1]) & 0xC0) == 0x80) {
                    at += 2;
                } else {
                    return at;
                }
            }
            if (at >= end) {
                return end;
            }
        }
    }

    // Checks every character in [from, to).
    void CheckChars(size_t from, size_t to) const {
        size_t at = from;
        while (true) {
            at = SkipPlain<'\0', '\0', '\0'>(kCharStops, at, to);
            if (at >= to) {
                return;
            }
            CharAt(at);
        }
    }

    // Finds `terminator` from pos_, checks the characters before it and moves past it.
    void SkipTo(std::string_view terminator, const char* construct) {
        const size_t end = text_.find(terminator, pos_);
        if (end == std::string_view::npos) {
            Fail(text_.size(), std::string(construct) + " is not closed");
        }
        CheckChars(pos_, end);
        pos_ = end + terminator.size();
    }

    bool NameStartsAt(size_t at) const {
        char32_t c = 0;
        return at < text_.size() && DecodeUtf8(text_, at, c) && IsNameStartChar(c);
    }

    std::string_view Name(const char* what) {
        const size_t start = pos_;
        size_t at = pos_;
        char32_t c = 0;
        const auto first = at < text_.size() ? static_cast<unsigned char>(text_[at]) : 0u;
        if (first != 0 && first < 0x80) {
            // ASCII, as nearly every name is: no decoding needed.
            if (!kAsciiNameChars[first] || first == '-' || first == '.' || (first >= '0' && first <= '9')) {
                Fail(start, std::string(what) + " expected");
            }
            ++at;
        } else if (at >= text_.size() || !DecodeUtf8(text_, at, c) || !IsNameStartChar(c)) {
            Fail(start, std::string(what) + " expected");
        }
        pos_ = at;
        const size_t n = text_.size();
        const char* p = text_.data();
        while (pos_ < n) {
            const auto b = static_cast<unsigned char>(p[pos_]);
            if (b < 0x80) {
                if (kAsciiNameChars[b]) {
                    ++pos_;
                    continue;
                }
                break;
            }
            at = pos_;
            if (!DecodeUtf8(text_, at, c) || !IsNameChar(c)) {
                break;
            }
            pos_ = at;
        }
        return text_.substr(start, pos_ - start);
    }

    // The length of "lt;", "gt;", "amp;", "quot;" or "apos;" when one stands at `at`, else 0.
    size_t PredefinedEntityLength(size_t at) const {
        const auto is = [&](size_t offset, char c) { return At(at + offset) == c; };
        switch (At(at)) {
        case 'l':
            return is(1, 't') && is(2, ';') ? 3 : 0;
        case 'g':
            return is(1, 't') && is(2, ';') ? 3 : 0;
        case 'a':
            if (is(1, 'm')) {
                return is(2, 'p') && is(3, ';') ? 4 : 0;
            }
            return is(1, 'p') && is(2, 'o') && is(3, 's') && is(4, ';') ? 5 : 0;
        case 'q':
            return is(1, 'u') && is(2, 'o') && is(3, 't') && is(4, ';') ? 5 : 0;
        default:
            return 0;
        }
    }

    // A reference at the '&' at pos_: a character reference to an allowed character or one of
    // the five predefined entities.
    void Reference() {
        const size_t start = pos_;
        ++pos_;
        if (At(pos_) == '#') {
            ++pos_;
            const bool hex = At(pos_) == 'x';
            pos_ += hex ? 1 : 0;
            uint32_t value = 0;
            size_t digits = 0;
            while (AddReferenceDigit(At(pos_), hex, value)) {
                ++pos_;
                ++digits;
            }
            if (digits == 0 || At(pos_) != ';') {
                Fail(start, "character reference without digits or without \";\"");
            }
            ++pos_;
            if (!IsXmlChar(value)) {
                Fail(start, "character reference to an invalid character" +
                                (value <= 0x10FFFF ? " (" + CodePointText(value) + ")" : std::string()));
            }
            return;
        }
        // The five predefined entities, nearly every entity reference there is, need no name scan.
        if (const size_t length = PredefinedEntityLength(pos_); length != 0) {
            pos_ += length;
            return;
        }
        if (!NameStartsAt(pos_)) {
            Fail(start, "\"&\" that does not begin a reference (write \"&amp;\")");
        }
        const std::string_view name = Name("an entity name");
        if (At(pos_) != ';') {
            Fail(start, "entity reference without \";\"");
        }
        ++pos_;
        if (name != "amp" && name != "lt" && name != "gt" && name != "quot" && name != "apos") {
            Fail(start, "undefined entity \"&" + std::string(name) + ";\"");
        }
    }

    // Text content up to the next '<' or the end.
    void Content() {
        const size_t n = text_.size();
        const char* p = text_.data();
        while (pos_ < n) {
            pos_ = SkipPlain<'<', '&', ']'>(kContentStops, pos_, n);
            if (pos_ >= n) {
                return;
            }
            switch (p[pos_]) {
            case '<':
                return;
            case '&':
                // A character reference may stand for white space at an end of the text node,
                // which the parser's trimming does not see.
                if (referenceAt_ == std::string_view::npos && At(pos_ + 1) == '#') {
                    referenceAt_ = pos_;
                }
                Reference();
                break;
            case ']':
                if (StartsWithAt(pos_, "]]>")) {
                    Fail(pos_, "\"]]>\" in text");
                }
                ++pos_;
                break;
            default:
                CharAt(pos_);
                break;
            }
        }
    }

    // The markup at a '<' inside an element.
    void Markup() {
        if (StartsWithAt(pos_, "</")) {
            EndTag();
        } else if (StartsWithAt(pos_, "<!--")) {
            Comment();
        } else if (StartsWithAt(pos_, "<![CDATA[")) {
            CharacterData();
        } else if (StartsWithAt(pos_, "<?")) {
            ProcessingInstruction();
        } else if (StartsWithAt(pos_, "<!")) {
            Fail(pos_, "markup that is not allowed inside an element");
        } else {
            StartTag();
        }
    }

    void XmlDeclaration() {
        pos_ += 5;
        auto pseudoAttribute = [&](std::string_view name) -> std::string_view {
            Expect(name);
            SkipSpace();
            Expect("=");
            SkipSpace();
            const char quote = At(pos_);
            if (quote != '"' && quote != '\'') {
                Fail(pos_, "quoted value expected");
            }
            const size_t close = text_.find(quote, pos_ + 1);
            if (close == std::string_view::npos) {
                Fail(pos_, "value is not closed");
            }
            const std::string_view value = text_.substr(pos_ + 1, close - pos_ - 1);
            CheckChars(pos_ + 1, close);
            pos_ = close + 1;
            return value;
        };
        auto nextIs = [&](std::string_view name) {
            size_t at = pos_;
            while (at < text_.size() && IsSpace(text_[at])) {
                ++at;
            }
            return at != pos_ && StartsWithAt(at, name);
        };
        RequireSpace("in the XML declaration");
        const size_t versionAt = pos_;
        const std::string_view version = pseudoAttribute("version");
        if (version.size() < 3 || version.substr(0, 2) != "1." ||
            !std::all_of(version.begin() + 2, version.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            Fail(versionAt, "unsupported XML version");
        }
        if (nextIs("encoding")) {
            SkipSpace();
            const size_t at = pos_;
            const std::string_view encoding = pseudoAttribute("encoding");
            if (encoding.empty() || !std::isalpha(static_cast<unsigned char>(encoding.front())) ||
                !std::all_of(encoding.begin(), encoding.end(), [](char c) {
                    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
                })) {
                Fail(at, "invalid encoding name");
            }
        }
        if (nextIs("standalone")) {
            SkipSpace();
            const size_t at = pos_;
            const std::string_view standalone = pseudoAttribute("standalone");
            if (standalone != "yes" && standalone != "no") {
                Fail(at, "standalone must be \"yes\" or \"no\"");
            }
        }
        SkipSpace();
        Expect("?>");
    }

    void ProcessingInstruction() {
        const size_t start = pos_;
        pos_ += 2;
        const std::string_view target = Name("a processing instruction target");
        if (SameTextAscii(target, "xml")) {
            Fail(start, "XML declaration not at the start of the document");
        }
        if (StartsWithAt(pos_, "?>")) {
            pos_ += 2;
            return;
        }
        RequireSpace("after the processing instruction target");
        SkipTo("?>", "processing instruction");
    }

    void Comment() {
        const size_t start = pos_;
        pos_ += 4;
        const size_t end = text_.find("--", pos_);
        if (end == std::string_view::npos) {
            Fail(start, "comment is not closed");
        }
        if (At(end + 2) != '>') {
            Fail(end, "\"--\" inside a comment");
        }
        CheckChars(pos_, end);
        pos_ = end + 3;
    }

    void CharacterData() {
        pos_ += 9;
        SkipTo("]]>", "character-data section");
    }

    // Skips a document type declaration, its internal subset included, checking its characters;
    // what it declares is never used.
    void DocumentType() {
        const size_t start = pos_;
        pos_ += 9;
        RequireSpace("after DOCTYPE");
        Name("the document type name");
        bool inSubset = false;
        while (true) {
            if (pos_ >= text_.size()) {
                Fail(start, "document type declaration is not closed");
            }
            const char c = text_[pos_];
            if (c == '"' || c == '\'') {
                const size_t close = text_.find(c, pos_ + 1);
                if (close == std::string_view::npos) {
                    Fail(pos_, "quoted text is not closed");
                }
                CheckChars(pos_ + 1, close);
                pos_ = close + 1;
            } else if (inSubset && StartsWithAt(pos_, "<!--")) {
                Comment();
            } else if (inSubset && StartsWithAt(pos_, "<?")) {
                ProcessingInstruction();
            } else if (c == '[' && !inSubset) {
                inSubset = true;
                ++pos_;
            } else if (c == ']' && inSubset) {
                inSubset = false;
                ++pos_;
            } else if (c == '>' && !inSubset) {
                ++pos_;
                return;
            } else {
                CharAt(pos_);
            }
        }
    }

    void StartTag() {
        const size_t start = pos_;
        ++pos_;
        const std::string_view name = Name("an element name");
        names_.clear();
        while (true) {
            const bool spaced = IsSpace(At(pos_));
            SkipSpace();
            if (pos_ >= text_.size()) {
                Fail(start, "start tag <" + std::string(name) + "> is not closed");
            }
            if (text_[pos_] == '>') {
                ++pos_;
                CheckDuplicates(start);
                open_.push_back(name);
                return;
            }
            if (StartsWithAt(pos_, "/>")) {
                pos_ += 2;
                CheckDuplicates(start);
                return;
            }
            if (!spaced) {
                Fail(pos_, "white space expected before an attribute");
            }
            const size_t nameAt = pos_;
            names_.push_back(Name("an attribute name"));
            if (watchedAt_ == std::string_view::npos && !watched_.empty() && names_.back() == watched_) {
                watchedAt_ = nameAt;
            }
            SkipSpace();
            Expect("=");
            SkipSpace();
            AttributeValue();
        }
    }

    void AttributeValue() {
        const char quote = At(pos_);
        if (quote != '"' && quote != '\'') {
            Fail(pos_, "quoted attribute value expected");
        }
        const size_t start = pos_;
        ++pos_;
        const size_t n = text_.size();
        const char* p = text_.data();
        while (true) {
            pos_ = quote == '"' ? SkipPlain<'<', '&', '"'>(kQuotedStops, pos_, n)
                                : SkipPlain<'<', '&', '\''>(kApostrophedStops, pos_, n);
            if (pos_ >= n) {
                Fail(start, "attribute value is not closed");
            }
            const char c = p[pos_];
            if (c == quote) {
                ++pos_;
                return;
            }
            if (c == '<') {
                Fail(pos_, "\"<\" in an attribute value");
            }
            if (c == '&') {
                Reference();
            } else {
                CharAt(pos_);
            }
        }
    }

    // Attribute names of one start tag must all differ: compared in pairs when few, else through a
    // hash table, so that an element with very many attributes is checked in linear time.
    void CheckDuplicates(size_t element) {
        constexpr size_t kFew = 16;
        auto fail = [&](std::string_view name) {
            Fail(element, "duplicate attribute \"" + std::string(name) + "\"");
        };
        if (names_.size() <= kFew) {
            for (size_t i = 0; i < names_.size(); ++i) {
                for (size_t j = i + 1; j < names_.size(); ++j) {
                    if (names_[i] == names_[j]) {
                        fail(names_[i]);
                    }
                }
            }
            return;
        }
        // Few probes meet an occupied slot at this load, so a slot holds only the index plus one:
        // the table stays small, and its zeroing and page faults are most of its cost.
        const size_t mask = std::bit_ceil(names_.size() * 2) - 1;
        slots_.assign(mask + 1, 0);
        for (size_t i = 0; i < names_.size(); ++i) {
            size_t slot = static_cast<size_t>(NameHash(names_[i])) & mask;
            while (slots_[slot] != 0) {
                if (names_[slots_[slot] - 1] == names_[i]) {
                    fail(names_[i]);
                }
                slot = (slot + 1) & mask;
            }
            slots_[slot] = static_cast<uint32_t>(i + 1);
        }
    }

    void EndTag() {
        const size_t start = pos_;
        pos_ += 2;
        const std::string_view name = Name("an element name");
        SkipSpace();
        Expect(">");
        if (below_ && open_.empty()) {
            pending_.push_back({name, start, pos_});
            return;
        }
        if (name != open_.back()) {
            Fail(start, "end tag </" + std::string(name) + "> does not match start tag <" +
                            std::string(open_.back()) + ">");
        }
        open_.pop_back();
    }

    std::string_view text_;
    size_t pos_ = 0;
    size_t referenceAt_ = std::string_view::npos;
    std::string_view watched_; // an attribute name to look out for; empty for none
    size_t watchedAt_ = std::string_view::npos;
    bool rootDone_ = false;
    bool doctypeSeen_ = false;
    bool below_ = false;                  // RunBelow: elements opened before pos_ are not known
    std::vector<TPendingEnd> pending_;    // RunBelow's end tags of those elements, in order
    std::vector<std::string_view> open_;  // the elements open around pos_, outermost first
    std::vector<std::string_view> names_; // of the start tag being checked
    std::vector<uint32_t> slots_;         // the hash table of many names: index + 1, 0 when free
};

constexpr std::string_view kUnstorableKey = "CharacterNotStorable";
constexpr std::string_view kUnstorableEnglish =
    "The text \xE2\x80\x9C{0}\xE2\x80\x9D holds the character {1}, which a document file cannot store. "
    "Remove the character and save again. Nothing was written.";

} // namespace

std::string UnstorableCharacterMessage(std::string_view text, size_t pos) {
    char32_t cp = 0;
    size_t at = pos;
    if (!DecodeUtf8(text, at, cp)) {
        cp = static_cast<unsigned char>(text[pos]);
    }
    const std::string name = CodePointText(cp);
    // Up to 40 characters before the fault, its control characters shown as their numbers.
    size_t from = pos;
    for (int n = 0; n < 40 && from > 0; ++n) {
        --from;
        while (from > 0 && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) {
            --from;
        }
    }
    std::string shown;
    for (size_t i = from; i <= pos && i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            shown += hex;
        } else {
            shown.push_back(static_cast<char>(b));
        }
    }
    if (cp > 0x7F) {
        shown.append(text.substr(pos + 1, at - pos - 1));
    }
    return LocalizedMessage(std::string(kUnstorableKey), {shown, name}, std::string(kUnstorableEnglish));
}

namespace {

// What a check found: its first fault, or where the flags it reports were first set.
struct TOutcome {
    std::optional<TFault> fault;
    size_t referenceAt = std::string_view::npos;
    size_t watchedAt = std::string_view::npos;
};

TOutcome OutcomeOf(const TChecker& checker) {
    return {
        .fault = std::nullopt, .referenceAt = checker.ReferenceInTextAt(), .watchedAt = checker.WatchedAt()};
}

// The check taken on to the end of the text: from its start (`begin`), or from where it stopped.
TOutcome CheckToEnd(TChecker& checker, bool begin) {
    try {
        if (begin) {
            checker.Run();
        } else {
            checker.Resume();
        }
    } catch (TFault& fault) {
        return {.fault = std::move(fault)};
    }
    return OutcomeOf(checker);
}

TOutcome CheckWhole(std::string_view text, std::string_view watched) {
    TChecker checker(text, watched);
    return CheckToEnd(checker, true);
}

// The text before `split` is checked here and the rest beside it on a thread of its own, as the
// content of elements not known there. Where the check from the start comes to `split` between
// two runs of content, it takes over what the other found: the ends of elements it met without
// their start tags must close the elements open at `split`, innermost first, and once they have
// closed the document element what follows is checked again as what follows it. Where the check
// from the start passes `split` inside something else (a comment, a character-data section),
// it goes on to the end itself, and the other's work is dropped. Either way the outcome is the
// whole text's.
//
// `started`, when given, is a check of the same text that has stopped where a run of content
// ended before `split` (Run or Resume returned true); it goes on from there instead of a check
// from the start.
TOutcome CheckSplit(std::string_view text, std::string_view watched, size_t split,
                    TChecker* started = nullptr) {
    TChecker below(text, watched);
    std::optional<TFault> belowFault;
    bool belowFailed = false;
    std::thread beside;
    try {
        beside = std::thread([&] {
            try {
                below.RunBelow(split);
            } catch (TFault& fault) {
                belowFault = std::move(fault);
            } catch (...) {
                belowFailed = true; // out of memory, say: the check from the start does its part
            }
        });
    } catch (const std::system_error&) {
        return started == nullptr ? CheckWhole(text, watched) : CheckToEnd(*started, false);
    }
    // Whatever happens here, the thread is done before what it reads goes.
    struct TJoin {
        std::thread& thread;
        ~TJoin() {
            if (thread.joinable()) {
                thread.join();
            }
        }
    } join{beside};

    std::optional<TChecker> fresh;
    if (started == nullptr) {
        fresh.emplace(text, watched);
    }
    TChecker& first = started != nullptr ? *started : *fresh;
    try {
        if (!(started != nullptr ? first.Resume(split) : first.Run(split))) {
            return OutcomeOf(first);
        }
        beside.join();
        if (belowFailed) {
            first.Resume();
            return OutcomeOf(first);
        }
    } catch (TFault& fault) {
        return {.fault = std::move(fault)};
    }
    // Run stops only inside an element: `open` holds one at least.
    const std::vector<std::string_view>& open = first.Open();
    const std::vector<TChecker::TPendingEnd>& ends = below.PendingEnds();
    for (size_t k = 0; k < ends.size() && k < open.size(); ++k) {
        const std::string_view opened = open[open.size() - 1 - k];
        if (ends[k].name != opened) {
            return {.fault = TFault{ends[k].start, "end tag </" + std::string(ends[k].name) +
                                                       "> does not match start tag <" + std::string(opened) +
                                                       ">"}};
        }
    }
    TOutcome outcome = OutcomeOf(first);
    if (ends.size() >= open.size()) {
        // The document element ended there: what follows is checked as what follows it.
        const size_t after = ends[open.size() - 1].end;
        TChecker rest(text, watched);
        try {
            rest.RunAfterDocumentElement(after);
        } catch (TFault& fault) {
            return {.fault = std::move(fault)};
        }
        // The first place of each flag: before `split`, below it before the document element
        // ended, or after that.
        const auto earliest = [after](size_t& at, size_t belowAt, size_t restAt) {
            if (at == std::string_view::npos && belowAt < after) {
                at = belowAt;
            }
            if (at == std::string_view::npos) {
                at = restAt;
            }
        };
        earliest(outcome.referenceAt, below.ReferenceInTextAt(), rest.ReferenceInTextAt());
        earliest(outcome.watchedAt, below.WatchedAt(), rest.WatchedAt());
        return outcome;
    }
    if (belowFault) {
        return {.fault = std::move(belowFault)};
    }
    // The end of the text, with elements still open.
    const std::string_view innermost =
        below.Open().empty() ? open[open.size() - 1 - ends.size()] : below.Open().back();
    return {.fault = TFault{text.size(), "element <" + std::string(innermost) + "> is not closed"}};
}

// Whether the '<' at `at` begins a tag (a start or an end tag), judged by the byte after it.
bool BeginsTag(std::string_view text, size_t at) {
    if (at + 1 >= text.size()) {
        return false;
    }
    const auto next = static_cast<unsigned char>(text[at + 1]);
    return next == '/' || next == '_' || next == ':' || std::isalpha(next) != 0;
}

// Where the text from `from` on (checked so far up to `from`) is split for CheckSplit: a '<'
// from the middle of that part on that begins a tag, which nearly always stands between two runs
// of an element's content. None for a small part.
size_t SplitPointOf(std::string_view text, size_t from = 0) {
    constexpr size_t kSplitFrom = size_t{1} << 20;
    if (text.size() - from < kSplitFrom) {
        return std::string_view::npos;
    }
    for (size_t at = text.find('<', from + (text.size() - from) / 2); at != std::string_view::npos;
         at = text.find('<', at + 1)) {
        if (BeginsTag(text, at)) {
            return at;
        }
    }
    return std::string_view::npos;
}

std::optional<TMalformation> MalformationOf(std::string_view text, TOutcome outcome, bool* referenceInText,
                                            TAttributeWatch* watch) {
    if (outcome.fault) {
        // Text that is not UTF-8 is refused for that, wherever its first bad byte stands.
        size_t bad = 0;
        if (!IsValidUtf8(text, &bad)) {
            return TMalformation{bad, "invalid UTF-8 byte sequence"};
        }
        return TMalformation{outcome.fault->offset, std::move(outcome.fault->reason)};
    }
    if (referenceInText != nullptr) {
        *referenceInText = outcome.referenceAt != std::string_view::npos;
    }
    if (watch != nullptr) {
        watch->seen = outcome.watchedAt != std::string_view::npos;
    }
    return std::nullopt;
}

} // namespace

std::optional<TMalformation> FindMalformation(std::string_view text, bool* referenceInText,
                                              TAttributeWatch* watch) {
    const std::string_view watched = watch != nullptr ? watch->name : std::string_view();
    const size_t split = SplitPointOf(text);
    return MalformationOf(
        text, split == std::string_view::npos ? CheckWhole(text, watched) : CheckSplit(text, watched, split),
        referenceInText, watch);
}

struct TGrowingCheck::TState {
    explicit TState(std::string_view watched) : checker(std::string_view(), watched) {}
    TChecker checker;
};

TGrowingCheck::TGrowingCheck(std::string_view watched) : watched_(watched) {}

TGrowingCheck::~TGrowingCheck() = default;

bool TGrowingCheck::Advance(std::string_view arrived) {
    if (!following_) {
        return false;
    }
    // The last tag that has arrived whole enough to be judged, past what is checked.
    size_t stop = arrived.size() >= 2 ? arrived.rfind('<', arrived.size() - 2) : std::string_view::npos;
    while (stop != std::string_view::npos && stop > checked_ && !BeginsTag(arrived, stop)) {
        stop = stop == 0 ? std::string_view::npos : arrived.rfind('<', stop - 1);
    }
    if (stop == std::string_view::npos || stop <= checked_) {
        return true; // nothing more to take yet
    }
    try {
        if (!state_) {
            state_ = std::make_unique<TState>(watched_);
        }
        state_->checker.Extend(arrived);
        // A tag inside a comment or a character-data section is passed, and the check runs on to
        // the end of what has arrived: its outcome there says nothing of the whole text.
        const bool stopped = checked_ == 0 ? state_->checker.Run(stop) : state_->checker.Resume(stop);
        if (!stopped) {
            Drop();
            return false;
        }
        checked_ = stop;
    } catch (...) {
        // A fault, or no memory: Finish checks the whole text and finds what there is to find.
        Drop();
        return false;
    }
    return true;
}

void TGrowingCheck::Drop() noexcept {
    following_ = false;
    checked_ = 0;
}

std::optional<TMalformation> TGrowingCheck::Finish(std::string_view text, bool* referenceInText,
                                                   TAttributeWatch* watch) {
    if (!following_ || checked_ == 0 || !state_) {
        return FindMalformation(text, referenceInText, watch);
    }
    following_ = false;
    TChecker& checker = state_->checker;
    checker.Extend(text);
    const size_t split = SplitPointOf(text, checked_);
    TOutcome outcome = split != std::string_view::npos ? CheckSplit(text, watched_, split, &checker)
                                                       : CheckToEnd(checker, false);
    return MalformationOf(text, std::move(outcome), referenceInText, watch);
}

std::optional<TMalformation> FindMalformationSplitAt(std::string_view text, size_t split,
                                                     bool* referenceInText, TAttributeWatch* watch) {
    const std::string_view watched = watch != nullptr ? watch->name : std::string_view();
    return MalformationOf(text, CheckSplit(text, watched, std::min(split, text.size())), referenceInText,
                          watch);
}

} // namespace ludex
