#pragma once

#include "core/base/Exception.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

// How a search compares.
struct TMatchOptions {
    // Off: letters match regardless of case, in every alphabet (Unicode simple case folding).
    bool matchCase = false;
    // On: an occurrence counts only when it stands between word boundaries: the ends of the text,
    // or characters that are no word characters (IsWordCharacter: blanks, tabs, line breaks,
    // punctuation, symbols). Every occurrence is examined. Plain text only.
    bool wholePhrase = false;
    // On: the pattern is a regular expression (Perl syntax, Unicode aware: \w, \d and the POSIX
    // classes know every alphabet, \p{...} names Unicode properties; ^ and $ match at the start
    // and end of each line). A match is never empty.
    bool regex = false;
};

// A regular expression that cannot be compiled. Nothing has been searched.
class ERegexError : public Exception {
public:
    ERegexError(std::string problem, size_t characterPosition);
    // What is wrong, in the words of the regular expression library (English).
    const std::string& Problem() const { return problem_; }
    // The 1-based character position in the pattern where the problem was found.
    size_t CharacterPosition() const { return position_; }

private:
    std::string problem_;
    size_t position_;
};

// One match: a 1-based byte position in the UTF-8 text (0: none) and its length in bytes. The
// length is that of the matched text, which may differ from the pattern's (a regular expression,
// or a letter whose other case is longer in UTF-8).
struct TTextMatch {
    size_t position = 0;
    size_t length = 0;
    explicit operator bool() const { return position != 0; }
    bool operator==(const TTextMatch&) const = default;
};

// A search pattern prepared once and used on many texts. Matching is by bytes of UTF-8 text and
// can only begin at the start of a character. Not for use by two threads at once (it keeps
// working buffers).
class TTextMatcher {
public:
    // An empty pattern matches nowhere. A regular expression that does not compile throws
    // ERegexError.
    TTextMatcher(std::string_view pattern, TMatchOptions options);
    ~TTextMatcher();
    TTextMatcher(const TTextMatcher&) = delete;
    TTextMatcher& operator=(const TTextMatcher&) = delete;

    // The first match that begins at or after the 1-based byte position `start` (values below 1
    // count as 1; a position inside a character counts as the start of the next one). With
    // wholePhrase, occurrences that are not whole phrases are passed over. A regular expression
    // that fails while matching (one that needs more backtracking than allowed, or a text that is
    // not UTF-8) throws Exception naming the problem: a failure is never reported as "no match".
    TTextMatch Find(std::string_view text, size_t start) const;

    // Every match in the order repeated Find Next presses select them: from the start, then each
    // time from one byte after the previous match's start, so overlapping occurrences count. The
    // text is prepared (folded) once for all of them. Appends to `matches`.
    void FindAll(std::string_view text, std::vector<TTextMatch>& matches) const;

private:
    class TRegex;
    struct TPrepared; // a text in the form the pattern is searched in
    TTextMatch FindPrepared(const TPrepared& text, size_t start) const;
    void Prepare(std::string_view text, TPrepared& prepared) const;

    TMatchOptions options_;
    std::string pattern_; // folded unless matchCase
    std::unique_ptr<TRegex> regex_;
    mutable std::string folded_;
    mutable std::vector<size_t> origins_;
};

// Returns the position of the first occurrence of the pattern that begins at or after `start`,
// or 0 (TTextMatcher::Find).
size_t MatchText(std::string_view text, size_t start, std::string_view pattern, TMatchOptions options);

// The number of LF bytes among the first n bytes of the text (all of it when n is larger).
size_t CountLineFeeds(std::string_view text, size_t n);

// The 1-based character (code point) position of the 1-based byte position in a UTF-8 text:
// one more than the number of characters that start before it. 0 stays 0.
size_t CharacterPosition(std::string_view text, size_t bytePosition);

// The number of UTF-16 code units that the first n bytes of a UTF-8 text make: the unit in
// which text widgets count positions (characters outside the basic plane count two).
size_t Utf16Length(std::string_view text, size_t n);

} // namespace ludex
