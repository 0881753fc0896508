#include "core/document/BranchOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace ludex;

namespace {

TEST(BranchOrderTest, TitlesIgnoreLetterCase) {
    struct Case {
        std::string a, b;
        int sign;
    };
    const Case cases[] = {
        {"apple", "APPLE", 0},
        {"app", "apple", -1},
        {"apple", "app", 1},
        {"", "", 0},
        {"", "a", -1},
        {"a", "C", -1},
        {"b", "a", 1},
        {"[", "a", 1}, // '[' > 'A'
        {"_", "a", 1}, // ASCII letters compare as capitals, as they always have
        {"`", "A", 1},
        {"\xD0\x90", "\xD0\xB0", 0},                 // Cyrillic А and а
        {"\xD0\xAF\xD0\xB1", "\xD0\xB0\xD0\xBF", 1}, // Яб after ап
        {"\xD0\x81\xD0\xB6", "\xD1\x91\xD0\x96", 0}, // Ёж and ёЖ
        {"\xCE\xA3", "\xCF\x82", 0},                 // Σ and final ς
        {"\xCE\xA9\xCE\xB1", "\xCE\xB1\xCF\x89", 1}, // Ωα after αω
        {"\xC3\x89"
         "cole",
         "\xC3\xA9"
         "COLE",
         0},                             // École and éCOLE
        {"\xC3\x89", "z", 1},            // é after z (code point order)
        {"z", "\xD0\xB0", -1},           // Latin before Cyrillic
        {"\xFF", "\xF4\x8F\xBF\xBF", 1}, // a stray byte after every character
    };
    for (const auto& c : cases) {
        int r = CompareTitles(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    }
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

TEST(BranchOrderTest, SortsCyrillicTitlesAlphabetically) {
    // Яблоко, апельсин, Банан, ёж, вишня: every capital next to its small letter.
    std::vector<std::string> titles = {"\xD0\xAF\xD0\xB1\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE",
                                       "\xD0\xB0\xD0\xBF\xD0\xB5\xD0\xBB\xD1\x8C\xD1\x81\xD0\xB8\xD0\xBD",
                                       "\xD0\x91\xD0\xB0\xD0\xBD\xD0\xB0\xD0\xBD",
                                       "\xD0\xB2\xD0\xB8\xD1\x88\xD0\xBD\xD1\x8F"};
    std::sort(titles.begin(), titles.end(),
              [](const std::string& a, const std::string& b) { return CompareTitles(a, b) < 0; });
    EXPECT_EQ(titles[0].substr(0, 2), "\xD0\xB0"); // апельсин
    EXPECT_EQ(titles[1].substr(0, 2), "\xD0\x91"); // Банан
    EXPECT_EQ(titles[2].substr(0, 2), "\xD0\xB2"); // вишня
    EXPECT_EQ(titles[3].substr(0, 2), "\xD0\xAF"); // Яблоко
}

} // namespace
