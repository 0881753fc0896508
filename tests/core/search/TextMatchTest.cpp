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

TEST(TextMatchTest, FoldsLetterCaseInEveryAlphabet) {
    const MatchCase cases[] = {
        {"xaBCx", 1, "Abc", kPlain, 2},
        {"xaBCx", 1, "Abc", kCase, 0},
        {"xAbcx", 1, "Abc", kCase, 2},
        {"ZEBRA", 1, "zebra", kPlain, 1},
        {"a[b", 1, "A{B", kPlain, 0}, // "[" and "{" are not letters
        // Cyrillic: "ОТПУСК" / "отпуск", and Ё / ё outside the run of А-я
        {"\xD0\xBC\xD0\xBE\xD0\xB9 \xD0\xBE\xD1\x82\xD0\xBF\xD1\x83\xD1\x81\xD0\xBA", 1,
         "\xD0\x9E\xD0\xA2\xD0\x9F\xD0\xA3\xD0\xA1\xD0\x9A", kPlain, 8},
        {"\xD0\xBE\xD1\x82\xD0\xBF\xD1\x83\xD1\x81\xD0\xBA", 1,
         "\xD0\x9E\xD0\xA2\xD0\x9F\xD0\xA3\xD0\xA1\xD0\x9A", kCase, 0},
        {"\xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0", 1, "\xD0\x81\xD0\x9B\xD0\x9A\xD0\x90", kPlain, 1}, // ёлка / ЁЛКА
        // Greek, final sigma included: "ΟΔΟΣ" finds "οδος" and "οδός"-free "οδοσ"
        {"\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82", 1, "\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", kPlain, 1},
        {"\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1", 1, "\xCE\xB1\xCE\xB8\xCE\x89\xCE\xBD\xCE\xB1", kPlain,
         1},
        // Latin with diacritics: \xC9 / \xE9, Ł / ł, Ş / ş
        {"\xC3\x89t\xC3\xA9", 1, "\xC3\xA9", kPlain, 1},
        {"\xC3\x89t\xC3\xA9", 1, "\xC3\xA9", kCase, 4},
        {"caf\xC3\xA9 CAF\xC3\xA9", 2, "caf\xC3\xA9", kPlain, 7},
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         1,
         "\xC5\x82\xC3\x93"
         "D\xC5\xB9",
         kPlain, 1},
        {"\xC5\x9E"
         "ehir",
         1,
         "\xC5\x9F"
         "EH",
         kPlain, 1},
        // letters that only look alike stay apart: Latin "a" is not Cyrillic "а"
        {"\xD0\xB0", 1, "a", kPlain, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchText(c.text, c.start, c.pattern, c.options), c.expected)
            << c.text << " / " << c.pattern;
    }
}

TEST(TextMatchTest, MatchLengthIsThatOfTheText) {
    // The Kelvin sign (three bytes) folds to "k"; a match over it spans the sign, and positions
    // after it stay those of the text.
    const std::string text = "5 \xE2\x84\xAA and 7 k";
    const TTextMatcher matcher("k", kPlain);
    std::vector<TTextMatch> all;
    matcher.FindAll(text, all);
    EXPECT_EQ(all, (std::vector<TTextMatch>{{3, 3}, {13, 1}}));
    EXPECT_EQ(TTextMatcher("5 K A", kPlain).Find(text, 1), (TTextMatch{1, 7}));
    EXPECT_EQ(TTextMatcher("7 K", kPhrase).Find(text, 1), (TTextMatch{11, 3}));
}

TEST(TextMatchTest, WholePhraseStandsBetweenWordBoundaries) {
    const MatchCase cases[] = {
        {"a cat sat", 1, "cat", kPhrase, 3},
        {"cat sat", 1, "cat", kPhrase, 1}, // at the start
        {"a cat", 1, "cat", kPhrase, 3},   // at the end
        {"cat", 1, "cat", kPhrase, 1},
        {"a\ncat\nb", 1, "cat", kPhrase, 3}, // next to line breaks
        {"a\r\ncat\r\nb", 1, "cat", kPhrase, 4},
        {"cat.", 1, "cat", kPhrase, 1}, // punctuation, a tab and brackets separate words
        {"a,cat;", 1, "cat", kPhrase, 3},
        {"a\tcat", 1, "cat", kPhrase, 3},
        {"(cat)", 1, "cat", kPhrase, 2},
        {"\xC2\xAB"
         "cat\xC2\xBB",
         1, "cat", kPhrase, 3},                     // guillemets
        {"concatenate cat", 1, "cat", kPhrase, 13}, // every occurrence counts
        {"concatenate cat", 14, "cat", kPhrase, 0},
        {"cats cat_s cat2 2cat", 1, "cat", kPhrase, 0}, // letters, "_" and digits join words
        {"a CAT b", 1, "cat", kPhrase, 3},
        {"a CAT b", 1, "cat", kCasePhrase, 0},
        {"a cat b", 1, "a cat", kPhrase, 1}, // a phrase may hold blanks
        {"x\xC3\xA9 cat", 1, "cat", kPhrase, 5},
        {"\xC3\xA9"
         "cat",
         1, "cat", kPhrase, 0},                       // a letter outside ASCII joins the word
        {"cafe\xCC\x81 cafe", 1, "cafe", kPhrase, 8}, // so does a combining accent
        {"\xE2\x84\xAA"
         " x",
         1, "k", kPhrase, 1},
        {"\xFF"
         "cat",
         1, "cat", kPhrase, 2}, // a stray byte separates
        // "пробежками и пробежка." finds "пробежка" after the longer word
        {"\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB1\xD0\xB5\xD0\xB6\xD0\xBA\xD0\xB0\xD0\xBC\xD0\xB8 "
         "\xD0\xB8 \xD0\xBF\xD1\x80\xD0\xBE\xD0\xB1\xD0\xB5\xD0\xB6\xD0\xBA\xD0\xB0.",
         1, "\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB1\xD0\xB5\xD0\xB6\xD0\xBA\xD0\xB0", kPhrase, 25},
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
    EXPECT_EQ(AllMatches("cat cat. concat cat", "cat", kPhrase), (std::vector<size_t>{1, 5, 17}));
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

constexpr TMatchOptions kRegex{.matchCase = false, .wholePhrase = false, .regex = true};
constexpr TMatchOptions kCaseRegex{.matchCase = true, .wholePhrase = false, .regex = true};

TEST(TextMatchTest, RegularExpressions) {
    const struct {
        std::string text;
        size_t start;
        std::string pattern;
        TMatchOptions options;
        TTextMatch expected;
    } cases[] = {
        {"order 42 and 7", 1, "\\d+", kRegex, {7, 2}},
        {"order 42 and 7", 8, "\\d+", kRegex, {8, 1}},
        {"order 42 and 7", 9, "\\d+", kRegex, {14, 1}},
        {"ab-ab", 1, "(a)(b)-\\1\\2", kRegex, {1, 5}},       // groups and back references
        {"one\ntwo\r\nthree", 1, "^t\\w+$", kRegex, {5, 3}}, // anchors at every line
        {"one\ntwo\r\nthree", 6, "^t\\w+$", kRegex, {10, 5}},
        {"one two", 1, "^two", kRegex, {}},
        {"\xD0\x9E\xD0\xA2\xD0\x9F\xD0\xA3\xD0\xA1\xD0\x9A 2024",
         1,
         "\\w+",
         kRegex,
         {1, 12}}, // \w knows Cyrillic
        {"x \xD0\xBE\xD1\x82\xD0\xBF", 1, "\\p{Cyrillic}+", kRegex, {3, 6}},
        {"x \xCE\xB1\xCE\xB2", 1, "[[:alpha:]]{2}", kRegex, {3, 4}},
        {"\xD0\xBE\xD1\x82\xD0\xBF",
         1,
         "\xD0\x9E\xD0\xA2\xD0\x9F",
         kRegex,
         {1, 6}}, // caseless in every alphabet
        {"\xD0\xBE\xD1\x82\xD0\xBF", 1, "\xD0\x9E\xD0\xA2\xD0\x9F", kCaseRegex, {}},
        {"ABC", 1, "b", kCaseRegex, {}},
        {"aaa", 1, "x*", kRegex, {}},                 // an empty match is none
        {"\xD0\x96\xD0\x96", 2, ".", kRegex, {3, 2}}, // a start inside a character
        {"a.c abc", 1, "a.c", {.matchCase = false, .wholePhrase = true, .regex = true}, {1, 3}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TTextMatcher(c.pattern, c.options).Find(c.text, c.start), c.expected)
            << c.text << " / " << c.pattern << " from " << c.start;
    }
    std::vector<TTextMatch> all;
    TTextMatcher("a+", kRegex).FindAll("aaa b aa", all);
    EXPECT_EQ(all, (std::vector<TTextMatch>{{1, 3}, {2, 2}, {3, 1}, {7, 2}, {8, 1}})); // as Find Next steps
}

TEST(TextMatchTest, BadRegularExpressionsNameProblemAndPosition) {
    const struct {
        std::string pattern;
        size_t position;
        std::string problem;
    } cases[] = {
        {"(ab", 4, "missing closing parenthesis"},
        {"a)b", 2, "unmatched closing parenthesis"},
        {"\xD0\x96\xD0\x96[z", 5, "missing terminating ]"},
        {"x{2,1}", 6, "out of order"},
        {"*a", 1, "quantifier does not follow a repeatable item"},
        {"\\p{NoSuchScript}", 17, "unknown property"},
    };
    for (const auto& c : cases) {
        try {
            TTextMatcher matcher(c.pattern, kRegex);
            ADD_FAILURE() << c.pattern << " compiled";
        } catch (const ERegexError& e) {
            EXPECT_EQ(e.CharacterPosition(), c.position) << c.pattern;
            EXPECT_NE(e.Problem().find(c.problem), std::string::npos) << e.Problem();
            EXPECT_NE(e.Message().find("character " + std::to_string(c.position)), std::string::npos)
                << e.Message();
        }
    }
}

TEST(TextMatchTest, RegexRefusesTextThatIsNotUtf8) {
    EXPECT_THROW(TTextMatcher("a", kRegex).Find("a\xFF", 1), Exception);
}

} // namespace
