#include "core/xml/VreltXMLNode.h"

#include "support/ErrorText.h"

#include <gtest/gtest.h>

#include <functional>

using namespace ludex;

namespace {

IXMLNodePtr Load(const std::string& text) {
    TVreltXMLDocument document(TCodePage::Get("windows-1252"));
    document.LoadFromXML(text);
    return MakeVreltXMLNode(document.RootElement());
}

std::string Names(const IXMLNodeListPtr& list) {
    std::string s;
    for (int i = 0; i < list->GetCount(); ++i) {
        IXMLNodePtr node = list->Get(i);
        s += (i == 0 ? "" : ",") + std::to_string(node->GetNodeType()) + ":" + node->GetNodeName() + "=" +
             node->GetNodeValue();
    }
    return s;
}

using ludex::testing::ErrorOf;

TEST(VreltXMLNodeTest, CopiesAnElementWithAttributesAndChildren) {
    IXMLNodePtr r = Load("<r a=\"1\" b=\"2\"><!--note-->text<c/></r>");
    EXPECT_EQ(r->GetNodeType(), ntElement);
    EXPECT_EQ(r->GetNodeName(), "r");
    EXPECT_EQ(Names(r->GetAttributeNodes()), "2:a=1,2:b=2");
    EXPECT_EQ(Names(r->GetChildNodes()), "8:=note,3:=text,1:c=");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r->GetChildNodes()->Get(i)->GetParentNode(), r);
    }
    IXMLNodePtr c = r->GetChildNodes()->Get(2);
    EXPECT_EQ(c->GetAttributeNodes()->GetCount(), 0);
    EXPECT_FALSE(c->GetHasChildNodes());
    EXPECT_TRUE(r->GetHasChildNodes());
    EXPECT_EQ(r->GetParentNode(), nullptr);
    EXPECT_EQ(r->GetAttributeNodes()->First()->GetParentNode(), nullptr);
    // Text and comment nodes have no lists.
    EXPECT_EQ(r->GetChildNodes()->First()->GetChildNodes(), nullptr);
    EXPECT_FALSE(r->GetChildNodes()->First()->GetHasChildNodes());
}

TEST(VreltXMLNodeTest, ConvertsOtherNodeKinds) {
    IXMLNodePtr none = MakeVreltXMLNode(nullptr);
    EXPECT_EQ(none->GetNodeType(), ntReserved);
    EXPECT_EQ(none->GetChildNodes(), nullptr);
    EXPECT_EQ(none->GetAttributeNodes(), nullptr);
    EXPECT_FALSE(none->HasAttribute("x"));
    EXPECT_EQ(none->GetAttribute("x"), "");

    IXMLNodePtr r = Load("<r><?pi a=\"1\"?></r>");
    IXMLNodePtr pi = r->GetChildNodes()->First();
    EXPECT_EQ(pi->GetNodeType(), ntProcessingInstr);
    EXPECT_EQ(pi->GetNodeName(), "");
    EXPECT_EQ(pi->GetNodeValue(), "");
    EXPECT_EQ(ErrorOf([&] { (void)r->GetXML(); }), "IXMLNodeToXML: Unsupported NodeType");
    EXPECT_EQ(ErrorOf([&] { pi->AddChild("x"); }), "TVreltXMLNode.AddChild needs an element node");
}

TEST(VreltXMLNodeTest, AttributeOperationsAreExactAndKeepOrder) {
    IXMLNodePtr r = Load("<r a=\"1\" b=\"2\"/>");
    EXPECT_EQ(r->GetAttribute("missing"), "");
    EXPECT_FALSE(r->HasAttribute("missing"));
    EXPECT_TRUE(r->HasAttribute("a"));
    EXPECT_FALSE(r->HasAttribute("A"));
    EXPECT_EQ(r->GetAttribute("A"), "");
    r->SetAttribute("a", "changed");
    r->SetAttribute("c", "3");
    r->SetAttribute("A", "4");
    EXPECT_EQ(Names(r->GetAttributeNodes()), "2:a=changed,2:b=2,2:c=3,2:A=4");
    EXPECT_EQ(r->GetAttribute("a"), "changed");
}

TEST(VreltXMLNodeTest, AddChildAppendsOrInserts) {
    IXMLNodePtr r = Load("<r><a/></r>");
    IXMLNodePtr last = r->AddChild("x", -1);
    IXMLNodePtr first = r->AddChild("y", 0);
    EXPECT_EQ(Names(r->GetChildNodes()), "1:y=,1:a=,1:x=");
    EXPECT_EQ(last->GetParentNode(), r);
    EXPECT_EQ(first->GetAttributeNodes()->GetCount(), 0);
    EXPECT_FALSE(first->GetHasChildNodes());
    EXPECT_EQ(ErrorOf([&] { r->AddChild("z", 4); }), "List index out of bounds (4)");
    EXPECT_EQ(r->GetChildNodes()->GetCount(), 3);
}

TEST(VreltXMLNodeTest, ListOperations) {
    IXMLNodePtr r = Load("<r><a/><b/><a v=\"2\"/></r>");
    IXMLNodeListPtr list = r->GetChildNodes();
    EXPECT_EQ(list->FindNode("a"), list->Get(0));
    EXPECT_EQ(list->FindNode("zz"), nullptr);
    EXPECT_EQ(list->IndexOf("b"), 1);
    EXPECT_EQ(list->IndexOf("B"), -1);
    EXPECT_EQ(list->IndexOf(list->Get(2).get()), 2);
    EXPECT_EQ(list->Delete("a"), 0);
    EXPECT_EQ(Names(list), "1:b=,1:a=");
    EXPECT_EQ(list->Last()->GetAttribute("v"), "2");
    EXPECT_EQ(list->Delete("nothing"), -1);
    IXMLNodePtr b = list->First();
    EXPECT_EQ(list->Remove(b.get()), 0);
    EXPECT_EQ(list->Remove(b.get()), -1);
    EXPECT_EQ(b->GetNodeName(), "b"); // still alive through our reference
    EXPECT_EQ(list->Add(b), 1);
    list->Insert(0, b);
    EXPECT_EQ(Names(list), "1:b=,1:a=,1:b=");
    EXPECT_EQ(list->Delete(1), 1);
    list->Clear();
    EXPECT_EQ(list->GetCount(), 0);

    struct IndexCase {
        const char* label;
        std::function<void()> action;
        std::string message;
    };
    const IndexCase cases[] = {
        {"Get past end", [&] { list->Get(0); }, "List index out of bounds (0)"},
        {"First of empty", [&] { list->First(); }, "List index out of bounds (0)"},
        {"Last of empty", [&] { list->Last(); }, "List index out of bounds (-1)"},
        {"Delete negative", [&] { list->Delete(-1); }, "List index out of bounds (-1)"},
        {"Insert past count", [&] { list->Insert(1, b); }, "List index out of bounds (1)"},
        {"Insert negative", [&] { list->Insert(-2, b); }, "List index out of bounds (-2)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(c.action), c.message) << c.label;
    }
}

TEST(VreltXMLNodeTest, UnimplementedOperationsSaySoAndChangeNothing) {
    IXMLNodePtr r = Load("<r a=\"1\"><c/></r>");
    IXMLNodeListPtr list = r->GetChildNodes();
    const std::string node = "TVreltXMLNode method is not implemented";
    const std::string nodeList = "TVreltXMLNodeList method is not implemented";
    struct Case {
        const char* label;
        std::function<void()> action;
        std::string message;
    };
    const Case cases[] = {
        {"namespaced AddChild", [&] { r->AddChild("x", "urn:x", true, -1); },
         "TVreltXMLNode.AddChild method is not implemented"},
        {"CloneNode", [&] { r->CloneNode(true); }, "TVreltXMLNode.CloneNode method is not implemented"},
        {"NextSibling", [&] { r->NextSibling(); }, node},
        {"PreviousSibling", [&] { r->PreviousSibling(); }, node},
        {"namespaced HasAttribute", [&] { r->HasAttribute("a", "urn:x"); }, node},
        {"Normalize", [&] { r->Normalize(); }, node},
        {"GetNode by index", [&] { list->GetNode(0); }, nodeList},
        {"GetNode by name", [&] { list->GetNode("c"); }, nodeList},
        {"BeginUpdate", [&] { list->BeginUpdate(); }, nodeList},
        {"EndUpdate", [&] { list->EndUpdate(); }, nodeList},
        {"ReplaceNode", [&] { list->ReplaceNode(list->First(), r); }, nodeList},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(c.action), c.message) << c.label;
    }
    EXPECT_EQ(r->GetXML(), "<r a=\"1\">\r\n  <c/>\r\n</r>");
}

TEST(VreltXMLNodeTest, NodeThatOutlivesItsParentHasNoParent) {
    IXMLNodePtr child;
    {
        IXMLNodePtr r = Load("<r><c><d/></c></r>");
        child = r->GetChildNodes()->First();
        EXPECT_EQ(child->GetParentNode(), r);
    }
    EXPECT_EQ(child->GetParentNode(), nullptr);
    EXPECT_EQ(child->GetChildNodes()->First()->GetParentNode(), child);
}

} // namespace
