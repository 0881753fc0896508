#include "core/search/TextMatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ludex;

namespace {

constexpr TMatchOptions kPlain{};
constexpr TMatchOptions kCase{.matchCase = true, .wholePhrase = false};
constexpr TMatchOptions kPhrase{.matchCase = false, .wholePhrase = true};
constexpr TMatchOptions kCasePhrase{.matchCase = true, .wholePhrase = true};

struct MatchCase {
    std::string text;
    size_t start;
    std::string pattern;
    TMatchOptions options;
    size_t expected;
};

TEST(TextMatchTest, FindsTheFirstOccurrenceFromStart) {
    const MatchCase cases[] = {
        {"hello world", 1, "world", kPlain, 7},
        {"hello world", 1, "hello world", kPlain, 1},
        {"hello world", 1, "hello world!", kPlain, 0}, // longer than the text
        {"hello world", 1, "", kPlain, 0},             // an empty pattern matches nowhere
        {"", 1, "a", kPlain, 0},
        {"aaa", 1, "aa", kPlain, 1},
        {"aaa", 2, "aa", kPlain, 2}, // overlapping occurrences
        {"aaa", 3, "aa", kPlain, 0},
        {"abcabc", 0, "abc", kPlain, 1}, // start below 1 counts as 1
        {"abcabc", 2, "abc", kPlain, 4},
        {"abcabc", 7, "abc", kPlain, 0}, // start beyond the end
        {"abcabc", 100, "c", kPlain, 0},
        {"abcabc", 6, "c", kPlain, 6},
        {std::string("a\0b", 3), 1, "b", kPlain, 3}, // NUL bytes are ordinary bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchText(c.text, c.start, c.pattern, c.options), c.expected)
            << c.text << " / " << c.pattern << " from " << c.start;
    }
}

TEST(TextMatchTest, FoldsOnlyAsciiLetters) {
    const MatchCase cases[] = {
        {"xaBCx", 1, "Abc", kPlain, 2},
        {"xaBCx", 1, "Abc", kCase, 0},
        {"xAbcx", 1, "Abc", kCase, 2},
        {"ZEBRA", 1, "zebra", kPlain, 1},
        {"a[b", 1, "A{B", kPlain, 0},                           // "[" and "{" are not letters
        {"\xD0\x9F\xD1\x80\xD0\xB8", 1, "\xD0\xBF", kPlain, 0}, // Cyrillic П vs п: own case only
        {"\xD0\x9F\xD1\x80\xD0\xB8", 1, "\xD0\x9F", kPlain, 1},
        {"\xC3\x89t\xC3\xA9", 1, "\xC3\xA9", kPlain, 4}, // É does not match é
        {"caf\xC3\xA9 CAF\xC3\xA9", 2, "caf\xC3\xA9", kPlain, 7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchText(c.text, c.start, c.pattern, c.options), c.expected)
            << c.text << " / " << c.pattern;
    }
}

TEST(TextMatchTest, WholePhraseNeedsSpaceOrLineBreaksAround) {
    const MatchCase cases[] = {
        {"a cat sat", 1, "cat", kPhrase, 3},
        {"cat sat", 1, "cat", kPhrase, 1}, // at the start
        {"a cat", 1, "cat", kPhrase, 3},   // at the end
        {"cat", 1, "cat", kPhrase, 1},
        {"a\ncat\nb", 1, "cat", kPhrase, 3}, // next to line breaks
        {"a\r\ncat\r\nb", 1, "cat", kPhrase, 4},
        {"cat.", 1, "cat", kPhrase, 0},
        {"a\tcat", 1, "cat", kPhrase, 0}, // a tab does not separate
        {"(cat)", 1, "cat", kPhrase, 0},
        {"concatenate cat", 1, "cat", kPhrase, 0}, // only the first occurrence is examined
        {"concatenate cat", 4, "cat", kPhrase, 0},
        {"concatenate cat", 5, "cat", kPhrase, 13},
        {"a CAT b", 1, "cat", kPhrase, 3},
        {"a CAT b", 1, "cat", kCasePhrase, 0},
        {"a cat b", 1, "a cat", kPhrase, 1}, // a phrase may hold blanks
        {"x\xC3\xA9 cat", 1, "cat", kPhrase, 5},
        {"\xC3\xA9"
         "cat",
         1, "cat", kPhrase, 0}, // a letter outside ASCII is no separator
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchText(c.text, c.start, c.pattern, c.options), c.expected)
            << c.text << " / " << c.pattern << " from " << c.start;
    }
}

// Repeated searches one byte after each match, as Find Next goes through a memo.
std::vector<size_t> AllMatches(const std::string& text, const std::string& pattern, TMatchOptions options) {
    std::vector<size_t> found;
    for (size_t p = MatchText(text, 1, pattern, options); p > 0;
         p = MatchText(text, p + 1, pattern, options)) {
        found.push_back(p);
    }
    return found;
}

TEST(TextMatchTest, StepsThroughEveryOccurrence) {
    EXPECT_EQ(AllMatches("aaa", "aa", kPlain), (std::vector<size_t>{1, 2}));
    EXPECT_EQ(AllMatches("Ab ab AB", "ab", kPlain), (std::vector<size_t>{1, 4, 7}));
    EXPECT_EQ(AllMatches("Ab ab AB", "ab", kCase), (std::vector<size_t>{4}));
    // Stepping one byte into a two-byte character cannot produce a false match inside it.
    EXPECT_EQ(AllMatches("\xD0\x96\xD0\x96\xD0\x96", "\xD0\x96\xD0\x96", kPlain),
              (std::vector<size_t>{1, 3}));
    EXPECT_EQ(AllMatches("cat cat.", "cat", kPhrase), (std::vector<size_t>{1}));
}

TEST(TextMatchTest, ConvertsPositions) {
    const std::string memo = "ab\ncd";
    const size_t p = MatchText(memo, 1, "cd", kPlain);
    ASSERT_EQ(p, 4u);
    EXPECT_EQ(p - 1 + CountLineFeeds(memo, p), 4u); // the control shows CR LF for each LF
    EXPECT_EQ(CountLineFeeds("a\nb\nc", 100), 2u);
    EXPECT_EQ(CountLineFeeds("a\nb\nc", 2), 1u);
    EXPECT_EQ(CountLineFeeds("a\nb\nc", 0), 0u);

    const std::string mixed = "\xD0\x96x\xE2\x82\xAC"
                              "y\xF0\x9F\x98\x80z"; // Жx€y😀z
    const struct {
        size_t byte;
        size_t character;
        size_t utf16Before;
    } cases[] = {
        {0, 0, 0}, {1, 1, 0}, {3, 2, 1}, {4, 3, 2}, {7, 4, 3}, {8, 5, 4}, {12, 6, 6}, {13, 7, 7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CharacterPosition(mixed, c.byte), c.character) << c.byte;
        if (c.byte > 0) {
            EXPECT_EQ(Utf16Length(mixed, c.byte - 1), c.utf16Before) << c.byte;
        }
    }
    EXPECT_EQ(CharacterPosition(mixed, MatchText(mixed, 1, "y", kPlain)), 4u);
    EXPECT_EQ(CharacterPosition(mixed, MatchText(mixed, 1, "z", kPlain)), 6u);
}

} // namespace
