#include "core/document/BranchOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace ludex;

namespace {

TEST(BranchOrderTest, TitlesIgnoreAsciiCaseOnly) {
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
        {"[", "a", 1},                // '[' > 'A'
        {"\xD0\x90", "\xD0\xB0", -1}, // Cyrillic A before a: letters outside ASCII keep their case
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

} // namespace
