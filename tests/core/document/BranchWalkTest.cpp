#include "core/document/BranchWalk.h"

#include "core/document/BranchOrder.h"
#include "core/document/DomService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace ludex;

namespace {

// One line per branch visited: indentation by depth, the title and the file-order path.
// Locked branches are not entered, as every caller of the walk does.
std::string Walked(const TDomNode& root, TBranchOrder order) {
    std::string out;
    TBranchWalk walk(root, order);
    for (bool more = true; more;) {
        const TBranch& branch = walk.Current();
        out += std::string(2 * walk.Depth(), ' ') + branch.title + " #";
        for (size_t i = 0; i < walk.Path().size(); ++i) {
            out += (i > 0 ? "." : "") + std::to_string(walk.Path()[i]);
        }
        out += branch.locked ? " [locked]\n" : "\n";
        more = branch.locked ? walk.Skip() : walk.Next();
    }
    return out;
}

TEST(BranchWalkTest, SubBranchesFollowTheWindowRule) {
    struct Case {
        const char* xml;
        bool hasSubBranches;
        size_t elements; // the sub-branches read, in either order
        size_t shown;    // the nodes the window shows for it: itself, a placeholder, the sub-branches
    };
    const Case cases[] = {
        {"<n/>", false, 0, 1},
        {"<n>text only</n>", false, 0, 1},
        {"<n><!-- a comment --></n>", false, 0, 1},
        {"<n>text<m/></n>", true, 1, 2},
        // A locked branch stands for its payload, whatever that holds.
        {"<n encryption=\"x\">payload</n>", true, 0, 2},
        {"<n encryption=\"x\"><!-- odd --></n>", true, 0, 2},
        {"<n encryption=\"x\"/>", false, 0, 1},
        // Unlocked, an encrypted branch is like any other.
        {"<n encryption=\"x\" password=\"p\">text</n>", false, 0, 1},
        {"<n encryption=\"x\" password=\"p\"><m/></n>", true, 1, 2},
        // Levels below, a locked one among them (its payload one placeholder), text between.
        {"<n><m><o/><!-- c --><o2>t</o2></m>text<p encryption=\"x\">pay<x/></p><q/></n>", true, 3, 7},
    };
    for (const Case& c : cases) {
        TDomDocument dom;
        dom.LoadXML(c.xml);
        EXPECT_EQ(HasSubBranches(dom.DocumentElement()), c.hasSubBranches) << c.xml;
        EXPECT_EQ(ReadBranch(dom.DocumentElement()).hasSubBranches, c.hasSubBranches) << c.xml;
        for (TBranchOrder order : {TBranchOrder::File, TBranchOrder::Window}) {
            EXPECT_EQ(SubBranches(dom.DocumentElement(), order).size(), c.elements) << c.xml;
        }
        EXPECT_EQ(CountBranches(dom.DocumentElement()).Nodes(), c.shown) << c.xml;
    }
}

// Branches out of order in the file: mixed case, numbers, Cyrillic, nesting, equal titles, a
// locked branch with a payload (which sorts among those with sub-branches) and one without.
const char* const kUnsorted =
    "<r title=\"Root\">"
    "<n title=\"zeta\"/>"
    "<n title=\"Beta\"><n title=\"b2\"/><n title=\"B1\"/></n>"
    "<n title=\"10\"/>"
    "<n title=\"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0\"/>" // Ёлка
    "<n title=\"\xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0\"/>" // ёлка
    "<n title=\"vault\" encryption=\"x\">payload</n>"
    "<n title=\"alpha\">text<n title=\"same\" memo=\"1\"/><n title=\"Same\" memo=\"2\"/>"
    "<n title=\"deep\"><n title=\"deeper\"/></n></n>"
    "<n title=\"9\"/>"
    "<n title=\"diary\" encryption=\"x\"/>"
    "</r>";

TEST(BranchWalkTest, VisitsInFileOrderOrInTheWindowsOrder) {
    TDomDocument dom;
    dom.LoadXML(kUnsorted);
    const TDomNode root = dom.DocumentElement();
    EXPECT_EQ(Walked(root, TBranchOrder::File), "Root #\n"
                                                "  zeta #0\n"
                                                "  Beta #1\n"
                                                "    b2 #1.0\n"
                                                "    B1 #1.1\n"
                                                "  10 #2\n"
                                                "  \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 #3\n"
                                                "  \xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0 #4\n"
                                                "  vault #5 [locked]\n"
                                                "  alpha #6\n"
                                                "    same #6.0\n"
                                                "    Same #6.1\n"
                                                "    deep #6.2\n"
                                                "      deeper #6.2.0\n"
                                                "  9 #7\n"
                                                "  diary #8 [locked]\n");
    // Sub-branches first (the locked one with a payload among them), then by title as people
    // order them: numbers by value, a small letter before its capital where nothing else differs,
    // in every alphabet.
    EXPECT_EQ(Walked(root, TBranchOrder::Window), "Root #\n"
                                                  "  alpha #6\n"
                                                  "    deep #6.2\n"
                                                  "      deeper #6.2.0\n"
                                                  "    same #6.0\n"
                                                  "    Same #6.1\n"
                                                  "  Beta #1\n"
                                                  "    B1 #1.1\n"
                                                  "    b2 #1.0\n"
                                                  "  vault #5 [locked]\n"
                                                  "  9 #7\n"
                                                  "  10 #2\n"
                                                  "  diary #8 [locked]\n"
                                                  "  zeta #0\n"
                                                  "  \xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0 #4\n"
                                                  "  \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 #3\n");
}

// Short and long sibling lists are sorted by different means; both must give the stable order of
// CompareBranches.
TEST(BranchWalkTest, LongAndShortSiblingListsSortStably) {
    for (int count : {2, 5, 32, 33, 200}) {
        std::string xml = "<r>";
        for (int i = 0; i < count; ++i) {
            const std::string title = std::string(1, static_cast<char>((i * 7) % 5 + (i % 2 ? 'a' : 'A')));
            xml += "<n title=\"" + title + "\" i=\"" + std::to_string(i) + "\">" +
                   (i % 3 == 0 ? "<c/>" : "") + "</n>";
        }
        xml += "</r>";
        TDomDocument dom;
        dom.LoadXML(xml);
        std::vector<TBranch> expected = SubBranches(dom.DocumentElement(), TBranchOrder::File);
        std::stable_sort(expected.begin(), expected.end(), [](const TBranch& a, const TBranch& b) {
            return CompareBranches(a.hasSubBranches, a.title, b.hasSubBranches, b.title) < 0;
        });
        const std::vector<TBranch> got = SubBranches(dom.DocumentElement(), TBranchOrder::Window);
        ASSERT_EQ(got.size(), expected.size()) << count;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].element, expected[i].element) << count << " at " << i;
            EXPECT_EQ(got[i].index, expected[i].index) << count << " at " << i;
        }
    }
}

TEST(BranchWalkTest, WalksAnyDepthWithoutRecursion) {
    constexpr int kDepth = 100000;
    std::string xml;
    for (int i = 0; i < kDepth; ++i) {
        xml += "<n title=\"" + std::to_string(i) + "\">";
    }
    xml += "<n title=\"last\"/><n title=\"first\"/>";
    for (int i = 0; i < kDepth; ++i) {
        xml += "</n>";
    }
    TDomDocument dom;
    dom.LoadXML(xml);
    TBranchWalk walk(dom.DocumentElement(), TBranchOrder::Window);
    size_t visited = 1;
    size_t deepest = 0;
    std::string bottom;
    while (walk.Next()) {
        ++visited;
        if (walk.Depth() > deepest) {
            deepest = walk.Depth();
            bottom = walk.Current().title;
            EXPECT_EQ(walk.Path().size(), deepest);
        }
    }
    EXPECT_EQ(visited, static_cast<size_t>(kDepth) + 2);
    EXPECT_EQ(deepest, static_cast<size_t>(kDepth));
    EXPECT_EQ(bottom, "first");
}

} // namespace
