#include "core/search/TextMatch.h"

#include "core/text/CaseFold.h"
#include "core/text/Utf8.h"
#include "core/text/WordCharacter.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>

namespace ludex {

namespace {

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string Pcre2Message(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    return length < 0 ? "error " + std::to_string(code)
                      : std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
}

} // namespace

ERegexError::ERegexError(std::string problem, size_t characterPosition)
    : Exception("The regular expression is not valid at character " + std::to_string(characterPosition) +
                ": " + problem),
      problem_(std::move(problem)), position_(characterPosition) {}

// A compiled regular expression with its match data.
class TTextMatcher::TRegex {
public:
    TRegex(std::string_view pattern, bool matchCase) {
        std::unique_ptr<pcre2_compile_context, decltype(&pcre2_compile_context_free)> context(
            pcre2_compile_context_create(nullptr), &pcre2_compile_context_free);
        // A memo keeps the line breaks it was given: CR LF, CR or LF all end a line for ^ and $.
        pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
        const uint32_t flags = PCRE2_UTF | PCRE2_UCP | PCRE2_MULTILINE | PCRE2_NEVER_BACKSLASH_C |
                               (matchCase ? 0 : PCRE2_CASELESS);
        int error = 0;
        PCRE2_SIZE offset = 0;
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags, &error,
                              &offset, context.get());
        if (code_ == nullptr) {
            throw ERegexError(Pcre2Message(error),
                              CharacterPosition(pattern, std::min(offset, pattern.size()) + 1));
        }
        pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE); // where JIT is not available, the interpreter runs
        data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
        if (data_ == nullptr) {
            pcre2_code_free(code_);
            throw std::bad_alloc();
        }
    }
    ~TRegex() {
        pcre2_match_data_free(data_);
        pcre2_code_free(code_);
    }
    TRegex(const TRegex&) = delete;
    TRegex& operator=(const TRegex&) = delete;

    // The first non-empty match at or after the byte offset (a character start) of a text that
    // has been checked to be UTF-8.
    TTextMatch Find(std::string_view text, size_t from) const {
        const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), from,
                                   PCRE2_NOTEMPTY | PCRE2_NO_UTF_CHECK, data_, nullptr);
        if (rc == PCRE2_ERROR_NOMATCH) {
            return {};
        }
        if (rc < 0) {
            throw Exception("The regular expression could not be matched: " + Pcre2Message(rc));
        }
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data_);
        return {.position = ovector[0] + 1, .length = ovector[1] - ovector[0]};
    }

private:
    pcre2_code* code_ = nullptr;
    pcre2_match_data* data_ = nullptr;
};

struct TTextMatcher::TPrepared {
    std::string_view text;                        // as given
    std::string_view searched;                    // the form the pattern is looked for in
    const std::vector<size_t>* origins = nullptr; // searched byte -> text byte, when they differ
};

TTextMatcher::TTextMatcher(std::string_view pattern, TMatchOptions options) : options_(options) {
    if (pattern.empty()) {
        return;
    }
    if (options.regex) {
        regex_ = std::make_unique<TRegex>(pattern, options.matchCase);
    } else if (options.matchCase) {
        pattern_ = pattern;
    } else {
        std::vector<size_t> unused;
        FoldText(pattern, pattern_, unused);
    }
}

TTextMatcher::~TTextMatcher() = default;

void TTextMatcher::Prepare(std::string_view text, TPrepared& prepared) const {
    prepared.text = text;
    prepared.searched = text;
    prepared.origins = nullptr;
    if (regex_) {
        size_t bad = 0;
        if (!IsValidUtf8(text, &bad)) {
            throw Exception("The text to search is not valid UTF-8 at byte " + std::to_string(bad + 1));
        }
    } else if (!options_.matchCase && !pattern_.empty()) {
        if (!FoldText(text, folded_, origins_)) {
            prepared.origins = &origins_;
        }
        prepared.searched = folded_;
    }
}

TTextMatch TTextMatcher::FindPrepared(const TPrepared& prepared, size_t start) const {
    const std::string_view text = prepared.text;
    size_t from = start < 1 ? 0 : start - 1;
    while (from < text.size() && IsContinuationByte(text[from])) {
        ++from;
    }
    if (from >= text.size()) {
        return {};
    }
    if (regex_) {
        return regex_->Find(text, from);
    }
    if (pattern_.empty()) {
        return {};
    }
    const std::vector<size_t>* origins = prepared.origins;
    const size_t searchFrom =
        origins
            ? static_cast<size_t>(std::lower_bound(origins->begin(), origins->end(), from) - origins->begin())
            : from;
    // Each occurrence in turn, until one stands between word boundaries when whole phrases are
    // asked for. The pattern begins with a whole character, so no occurrence is found inside one.
    for (size_t index = prepared.searched.find(pattern_, searchFrom); index != std::string_view::npos;
         index = prepared.searched.find(pattern_, index + 1)) {
        const size_t begin = origins ? (*origins)[index] : index;
        const size_t end = origins ? (*origins)[index + pattern_.size()] : index + pattern_.size();
        if (!options_.wholePhrase || (IsWordStart(text, begin) && IsWordEnd(text, end))) {
            return {.position = begin + 1, .length = end - begin};
        }
    }
    return {};
}

TTextMatch TTextMatcher::Find(std::string_view text, size_t start) const {
    TPrepared prepared;
    Prepare(text, prepared);
    return FindPrepared(prepared, start);
}

void TTextMatcher::FindAll(std::string_view text, std::vector<TTextMatch>& matches) const {
    if (text.empty() || (pattern_.empty() && !regex_)) {
        return;
    }
    TPrepared prepared;
    Prepare(text, prepared);
    for (TTextMatch match = FindPrepared(prepared, 1); match;
         match = FindPrepared(prepared, match.position + 1)) {
        matches.push_back(match);
    }
}

size_t MatchText(std::string_view text, size_t start, std::string_view pattern, TMatchOptions options) {
    return TTextMatcher(pattern, options).Find(text, start).position;
}

size_t CountLineFeeds(std::string_view text, size_t n) {
    const std::string_view head = text.substr(0, std::min(n, text.size()));
    return static_cast<size_t>(std::count(head.begin(), head.end(), '\n'));
}

size_t CharacterPosition(std::string_view text, size_t bytePosition) {
    if (bytePosition == 0) {
        return 0;
    }
    const std::string_view before = text.substr(0, std::min(bytePosition - 1, text.size()));
    return 1 + static_cast<size_t>(std::count_if(before.begin(), before.end(),
                                                 [](char c) { return !IsContinuationByte(c); }));
}

size_t Utf16Length(std::string_view text, size_t n) {
    const std::string_view head = text.substr(0, std::min(n, text.size()));
    size_t units = 0;
    for (char c : head) {
        const auto byte = static_cast<unsigned char>(c);
        if (!IsContinuationByte(c)) {
            units += byte >= 0xF0 ? 2 : 1; // a four-byte sequence is a surrogate pair
        }
    }
    return units;
}

} // namespace ludex
