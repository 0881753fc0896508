#include "core/document/BranchCopy.h"

#include <gtest/gtest.h>

using namespace ludex;

namespace {

TEST(BranchCopyTest, CopiesBetweenDocuments) {
    TDomDocument source;
    source.LoadXML("<ludex><item z=\"1\" a=\"2\" title=\"\xD0\x96\"><sub>text</sub><note/></item></ludex>");
    TDomDocument target;
    target.LoadXML("<root><first/></root>");
    TDomNode copy = CopyBranch(target.DocumentElement(), source.DocumentElement().FirstChild());
    EXPECT_EQ(target.DocumentElement().LastChild(), copy);
    EXPECT_EQ(copy.XML(), source.DocumentElement().FirstChild().XML());
    // The copy is independent of its source.
    source.DocumentElement().RemoveAllChildren();
    EXPECT_EQ(copy.XML(), "<item z=\"1\" a=\"2\" title=\"\xD0\x96\"><sub>text</sub><note/></item>");

    TDomNode text = CopyBranch(target.DocumentElement().FirstChild(), copy.FirstChild().FirstChild());
    EXPECT_TRUE(text.IsText());
    EXPECT_EQ(text.Text(), "text");
    TDomNode appended = AppendTextNode(target.DocumentElement().FirstChild(), " spaced ");
    EXPECT_EQ(appended.Text(), " spaced ");
    EXPECT_EQ(target.DocumentElement().FirstChild().ChildCount(), 2u);
}

TEST(BranchCopyTest, CopyingIntoItselfTerminatesWithOneCopy) {
    struct Case {
        std::string name;
        int targetDepth; // 0: the source itself, 1: its child, 2: its grandchild
        std::string result;
    };
    const Case cases[] = {
        {"into itself", 0, "<a t=\"1\"><b><c/></b><a t=\"1\"><b><c/></b></a></a>"},
        {"into its child", 1, "<a t=\"1\"><b><c/><a t=\"1\"><b><c/></b></a></b></a>"},
        {"into its grandchild", 2, "<a t=\"1\"><b><c><a t=\"1\"><b><c/></b></a></c></b></a>"},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        doc.LoadXML("<r><a t=\"1\"><b><c/></b></a></r>");
        TDomNode a = doc.DocumentElement().FirstChild();
        TDomNode target = a;
        for (int i = 0; i < c.targetDepth; ++i) {
            target = target.FirstChild();
        }
        CopyBranch(target, a);
        EXPECT_EQ(a.XML(), c.result) << c.name;
    }
}

TEST(BranchCopyTest, UnsupportedNodeLeavesTheTargetUnchanged) {
    struct Case {
        std::string source;
    };
    const Case cases[] = {
        {"<s><!-- c --></s>"},
        {"<s><a/><b><c><?pi x?></c></b></s>"},
        {"<s><a>x</a><![CDATA[y]]></s>"},
    };
    for (const auto& c : cases) {
        TDomDocument source;
        source.LoadXML(c.source);
        TDomDocument target;
        target.LoadXML("<t><x/></t>");
        try {
            CopyBranch(target.DocumentElement(), source.DocumentElement());
            ADD_FAILURE() << c.source;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Unsupported NodeType");
        }
        EXPECT_EQ(target.DocumentElement().XML(), "<t><x/></t>") << c.source;
    }
    TDomDocument doc;
    doc.LoadXML("<t><!-- c --></t>");
    EXPECT_THROW(CopyBranch(doc.DocumentElement(), doc.DocumentElement().FirstChild()), Exception);
    EXPECT_THROW(CopyBranch(doc.DocumentElement(), TDomNode()), Exception);
    EXPECT_NO_THROW(RequireElementsAndText(doc.DocumentElement().FirstChild().NextSibling()));
}

TEST(BranchCopyTest, DeepBranchCopiesAndIsDestroyed) {
    constexpr int kDepth = 100000;
    std::string xml;
    for (int i = 0; i < kDepth; ++i) {
        xml += "<n>";
    }
    xml += "bottom";
    for (int i = 0; i < kDepth; ++i) {
        xml += "</n>";
    }
    TDomDocument target;
    {
        TDomDocument source;
        source.LoadXML(xml);
        target.LoadXML("<t/>");
        CopyBranch(target.DocumentElement(), source.DocumentElement());
        CopyBranch(source.DocumentElement().FirstChild(), source.DocumentElement());
    }
    int depth = 0;
    TDomNode n = target.DocumentElement().FirstChild();
    for (; n.IsElement(); n = n.FirstChild()) {
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(n.Text(), "bottom");
}

} // namespace
