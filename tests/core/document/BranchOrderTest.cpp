#include "core/document/BranchOrder.h"

#include <gtest/gtest.h>
#include <unicode/ucol.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace ludex;

namespace {

// Each list is in the order people expect; sorting any arrangement of it gives it back.
TEST(BranchOrderTest, TitlesComeInTheOrderPeopleExpect) {
    const std::vector<std::vector<std::string>> orders = {
        {"Step 2", "Step 10", "Step 10a", "Step 100"}, // numbers by value
        {"1.2", "1.10", "2", "10"},
        {"2024-1-5", "2024-01-20", "2024-2-1"},
        {"", " x", "(x)", "1", "a", "B", "c"}, // blanks and punctuation, digits, letters
        {"apple", "Apple", "APPLE", "apples"}, // case only where nothing else differs
        {"cote", "cot\xC3\xA9", "c\xC3\xB4te", "c\xC3\xB4t\xC3\xA9", "d"}, // accents after the plain letter
        {"e", "\xC3\xA9", "f"},
        // Еда, Ёж, ежевика, Жук: Ё among the Е
        {"\xD0\x95\xD0\xB4\xD0\xB0", "\xD0\x81\xD0\xB6",
         "\xD0\xB5\xD0\xB6\xD0\xB5\xD0\xB2\xD0\xB8\xD0\xBA\xD0\xB0", "\xD0\x96\xD1\x83\xD0\xBA"},
        // апельсин, Банан, вишня, Яблоко: every capital next to its small letter
        {"\xD0\xB0\xD0\xBF\xD0\xB5\xD0\xBB\xD1\x8C\xD1\x81\xD0\xB8\xD0\xBD",
         "\xD0\x91\xD0\xB0\xD0\xBD\xD0\xB0\xD0\xBD", "\xD0\xB2\xD0\xB8\xD1\x88\xD0\xBD\xD1\x8F",
         "\xD0\xAF\xD0\xB1\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE"},
        {"z", "\xCE\xB1", "\xD0\xB0"}, // Latin, Greek, Cyrillic
        {"\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0 2", "\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0 11"},
    };
    const auto before = [](const std::string& a, const std::string& b) { return CompareTitles(a, b) < 0; };
    for (const auto& expected : orders) {
        std::vector<std::string> titles(expected.rbegin(), expected.rend());
        std::sort(titles.begin(), titles.end(), before);
        EXPECT_EQ(titles, expected);
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(CompareTitles(expected[i], expected[i]), 0) << expected[i];
        }
    }
    EXPECT_EQ(CompareTitles("\xFF", "\xEF\xBF\xBD"), 0); // a stray byte counts as U+FFFD
}

// CompareTitles decides the most frequent differences itself: it must agree with the collation
// everywhere, numbers, letters, cases and accents mixed.
TEST(BranchOrderTest, AgreesWithTheCollationOnMixedTitles) {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("", &status);
    ucol_setAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    ASSERT_TRUE(U_SUCCESS(status));
    const std::vector<std::string> pieces = {
        "a", "B", "b",        "0",        "1",        "9",        "10",       "00",
        " ", ".", "\xC3\xA9", "\xCC\x81", "\xD0\x81", "\xD0\xB5", "\xD9\xA3", "\xFF"};
    std::mt19937 random(36);
    const auto title = [&] {
        std::string text;
        for (size_t n = random() % 6; n > 0; --n) {
            text += pieces[random() % pieces.size()];
        }
        return text;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string a = title();
        std::string b = a.substr(0, random() % (a.size() + 1)) + title(); // often a shared beginning
        const UCollationResult expected = ucol_strcollUTF8(collator, a.data(), static_cast<int32_t>(a.size()),
                                                           b.data(), static_cast<int32_t>(b.size()), &status);
        const int r = CompareTitles(a, b);
        ASSERT_EQ((r > 0) - (r < 0), static_cast<int>(expected)) << '"' << a << "\" vs \"" << b << '"';
    }
    ucol_close(collator);
}

TEST(BranchOrderTest, BranchesWithChildrenComeFirst) {
    struct Node {
        std::string title;
        bool hasChildren;
    };
    std::vector<Node> nodes = {{"C", false}, {"b", true}, {"a", false}};
    std::sort(nodes.begin(), nodes.end(), [](const Node& x, const Node& y) {
        return CompareBranches(x.hasChildren, x.title, y.hasChildren, y.title) < 0;
    });
    EXPECT_EQ(nodes[0].title, "b");
    EXPECT_EQ(nodes[1].title, "a");
    EXPECT_EQ(nodes[2].title, "C");
}

} // namespace
