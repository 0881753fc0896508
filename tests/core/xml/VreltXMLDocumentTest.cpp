#include "core/xml/VreltXMLDocument.h"
#include "core/xml/VreltXMLNode.h"

#include "core/base/FileIO.h"

#include "ErrorText.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

using namespace ludex;

namespace {

const TCodePage& Cp1252() {
    return TCodePage::Get("windows-1252");
}

// The writer's encoding for a table's "utf8" column.
TXMLEncoding EncodingOf(bool utf8) {
    return utf8 ? TXMLEncoding::Utf8 : TXMLEncoding::CodePage;
}

// A compact picture of a tree: E(name[attrs]{children}), T(text), C(text), P(name[attrs]).
std::string Describe(const TXMLElementList& list);

std::string Str(std::string_view s) {
    return std::string(s);
}

std::string DescribeAttributes(const TAttributes& attributes) {
    std::string s;
    for (int i = 0; i < attributes.Count(); ++i) {
        s += (i == 0 ? "[" : "|") + attributes.Strings(i);
    }
    return attributes.Empty() ? s : s + "]";
}

std::string Describe(const TXMLTagBasic* node) {
    if (auto* e = dynamic_cast<const TXMLTagElement*>(node)) {
        std::string s = "E(" + Str(e->Name()) + DescribeAttributes(e->Attributes());
        if (e->Children().Count() > 0) {
            s += "{" + Describe(e->Children()) + "}";
        }
        return s + ")";
    }
    if (auto* t = dynamic_cast<const TXMLTagText*>(node)) {
        return "T(" + Str(t->Text()) + ")";
    }
    if (auto* c = dynamic_cast<const TXMLTagComment*>(node)) {
        return "C(" + Str(c->Text()) + ")";
    }
    if (auto* p = dynamic_cast<const TXMLTagPI*>(node)) {
        return "P(" + Str(p->Name()) + DescribeAttributes(p->Attributes()) + ")";
    }
    return "?";
}

std::string Describe(const TXMLElementList& list) {
    std::string s;
    for (int i = 0; i < list.Count(); ++i) {
        s += (i == 0 ? "" : ",") + Describe(list.Items(i));
    }
    return s;
}

using ludex::testing::TempDir;

TEST(VreltXMLDocumentTest, BuildsATreeThatMirrorsTheInput) {
    struct Case {
        const char* label;
        std::string input;
        std::string tree;
        std::string root; // name of RootElement, "-" for none
    };
    const Case cases[] = {
        {"declaration and content", "<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"1\"><!--c--><x/>t</r>",
         "P(xml[version=1.0|encoding=utf-8]),E(r[a=1]{C(c),E(x),T(t)})", "r"},
        {"instruction inside an element keeps what follows inside", "<r><?pi a=\"1\"?><x/></r>",
         "E(r{P(pi[a=1]),E(x)})", "r"},
        {"no element at the top level", "<!--c-->text<?pi?>", "C(c),T(text),P(pi)", "-"},
        {"first element is the root", "x<a/><b/>", "T(x),E(a),E(b)", "a"},
        {"empty input", "", "", "-"},
        {"code-page bytes arrive as UTF-8", "<r v=\"\xE9\">\xE9&#xE9;</r>",
         "E(r[v=\xC3\xA9]{T(\xC3\xA9\xC3\xA9)})", "r"},
        {"byte-order mark is top-level text", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><r/>",
         "T(\xC3\xAF\xC2\xBB\xC2\xBF),P(xml[version=1.0|encoding=utf-8]),E(r)", "r"},
    };
    for (const auto& c : cases) {
        TVreltXMLDocument document(Cp1252());
        document.LoadFromXML(c.input);
        EXPECT_EQ(Describe(document.TopLevel()), c.tree) << c.label;
        TXMLTagElement* root = document.RootElement();
        EXPECT_EQ(root ? Str(root->Name()) : "-", c.root) << c.label;
        EXPECT_EQ(document.FindFirst<TXMLTagBasic>() == nullptr, c.tree.empty()) << c.label;
    }
}

TEST(VreltXMLDocumentTest, ReloadReplacesAndFailedLoadKeepsThePartialTree) {
    TVreltXMLDocument document(Cp1252());
    document.LoadFromXML("<a><b/></a>");
    document.LoadFromXML("<c/>");
    EXPECT_EQ(Describe(document.TopLevel()), "E(c)");
    EXPECT_THROW(document.LoadFromXML("<r><x/><y></r>"), EVreltSAX);
    EXPECT_EQ(Describe(document.TopLevel()), "E(r{E(x),E(y)})");
    ASSERT_NE(document.RootElement(), nullptr);
    EXPECT_EQ(document.RootElement()->Name(), "r");
}

TEST(VreltXMLDocumentTest, StreamAndFileGiveTheSameTreeAsText) {
    const std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"\xC3\xA9\"><x>y</x></r>";
    TempDir dir;
    {
        std::string path = dir.File("in.xml");
        WriteFileAtomically(path, text);
        TVreltXMLDocument fromText(Cp1252()), fromStream(Cp1252()), fromFile(Cp1252());
        fromText.LoadFromXML(text);
        std::istringstream stream(text);
        fromStream.LoadFromStream(stream);
        fromFile.LoadFromFile(path);
        EXPECT_EQ(Describe(fromStream.TopLevel()), Describe(fromText.TopLevel()));
        EXPECT_EQ(Describe(fromFile.TopLevel()), Describe(fromText.TopLevel()));
    }
    TVreltXMLDocument document(Cp1252());
    try {
        document.LoadFromFile(dir.File("missing.xml"));
        FAIL() << "expected an error";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find("missing.xml"), std::string::npos) << e.Message();
    }
}

} // namespace

namespace {

using ludex::testing::ErrorOf;

TEST(XMLWriterTest, EscapesBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text", "plain text"},
        {"&<>\"'", "&amp;&lt;&gt;&quot;&apos;"},
        {std::string("\t\r\n\x1F\x01\0", 6), "&#x9;&#xD;&#xA;&#x1F;&#x1;&#x0;"},
        {"\x7F\x80\xC3\xA9 ", "\x7F\x80\xC3\xA9 "},
        {"", ""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(EscapeXMLText(input), expected) << input;
    }
}

TEST(XMLWriterTest, ConvertsForTheFileOrRefuses) {
    const TCodePage& cp = Cp1252();
    struct Case {
        const char* label;
        std::string text;
        bool utf8;
        std::string expected; // "!" + message for an error
    };
    const Case cases[] = {
        {"UTF-8 kept", "caf\xC3\xA9", true, "caf\xC3\xA9"},
        {"empty", "", true, ""},
        {"malformed refused", "caf\xE9", true, "!Can not convert caf\xE9 to UTF-8"},
        {"code-page bytes", "caf\xC3\xA9 \xE2\x82\xAC", false, "caf\xE9 \x80"},
        {"character the code page lacks", "\xD0\x9F", false,
         "!Can not convert \xD0\x9F to code page windows-1252: The character \"\xD0\x9F\" (U+041F) cannot be "
         "represented in code page windows-1252"},
    };
    for (const auto& c : cases) {
        std::string got;
        try {
            got = ConvertToUTF8(c.text, c.utf8, cp);
        } catch (const Exception& e) {
            got = "!" + e.Message();
        }
        EXPECT_EQ(got, c.expected) << c.label;
    }
    EXPECT_EQ(IndentString(0), "");
    EXPECT_EQ(IndentString(3), "      ");
}

TEST(XMLWriterTest, WritesNodesWithTheFixedLayout) {
    const TCodePage& cp = Cp1252();
    struct Case {
        const char* label;
        std::string xml;
        bool utf8;
        int level;
        std::string expected;
    };
    const Case cases[] = {
        {"short form with attributes", "<e a=\"1\" b=\"x&amp;y\"/>", true, 0, "<e a=\"1\" b=\"x&amp;y\"/>"},
        {"children on their own lines", "<r><x/>t<!--c--><y><z/></y></r>", true, 0,
         "<r>\r\n  <x/>\r\n  t\r\n<!--c-->\r\n  <y>\r\n    <z/>\r\n  </y>\r\n</r>"},
        {"level indents", "<r>t</r>", true, 2, "    <r>\r\n      t\r\n    </r>"},
        {"line break in a value", "<r v=\"a&#xD;&#xA;b\"/>", true, 0, "<r v=\"a&#xD;&#xA;b\"/>"},
        {"UTF-8 file", "<r v=\"\xE9\">\xE9</r>", true, 0, "<r v=\"\xC3\xA9\">\r\n  \xC3\xA9\r\n</r>"},
        {"code-page file", "<r v=\"\xE9\">\xE9</r>", false, 0, "<r v=\"\xE9\">\r\n  \xE9\r\n</r>"},
        {"comment not escaped", "<r><!--a<b--></r>", true, 0, "<r>\r\n<!--a<b-->\r\n</r>"},
    };
    for (const auto& c : cases) {
        TVreltXMLDocument document(cp);
        document.LoadFromXML(c.xml);
        IXMLNodePtr root = MakeVreltXMLNode(document.RootElement());
        EXPECT_EQ(IXMLNodeToXML(*root, EncodingOf(c.utf8), c.level, cp), c.expected) << c.label;
    }
}

TEST(XMLWriterTest, SavesTheExactBytes) {
    TempDir dir;
    auto root = TVreltXMLNode::CreateElement("r");
    root->SetAttribute("v", "a<\"b");
    root->AddChild("c");
    const std::string path = dir.File("settings.xml");
    SaveXMLToFile(path, root, TXMLEncoding::Utf8, Cp1252());
    EXPECT_EQ(ReadFileBytes(path),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r v=\"a&lt;&quot;b\">\r\n  <c/>\r\n</r>");
    SaveXMLToFile(path, root, TXMLEncoding::CodePage, Cp1252());
    EXPECT_EQ(ReadFileBytes(path), "<?xml version=\"1.0\"?>\r\n<r v=\"a&lt;&quot;b\">\r\n  <c/>\r\n</r>");
}

TEST(XMLWriterTest, FailedSaveKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("settings.xml");
    WriteFileAtomically(path, "old");
    auto root = TVreltXMLNode::CreateElement("r");
    root->AddChild("x");

    // A node that cannot be written: nothing is written.
    TVreltXMLDocument document(Cp1252());
    document.LoadFromXML("<r><?pi?></r>");
    IXMLNodePtr withPI = MakeVreltXMLNode(document.RootElement());
    EXPECT_EQ(ErrorOf([&] { SaveXMLToFile(path, withPI, TXMLEncoding::Utf8, Cp1252()); }),
              "IXMLNodeToXML: Unsupported NodeType");
    EXPECT_EQ(ReadFileBytes(path), "old");

    // A text the code page cannot hold: nothing is written either.
    root->SetAttribute("v", "\xD0\x9F");
    EXPECT_NE(
        ErrorOf([&] { SaveXMLToFile(path, root, TXMLEncoding::CodePage, Cp1252()); }).find("windows-1252"),
        std::string::npos);
    EXPECT_EQ(ReadFileBytes(path), "old");

    // A file that cannot be created: the error names it.
    const std::string below = path + "/inner.xml";
    try {
        SaveXMLToFile(below, root, TXMLEncoding::Utf8, Cp1252());
        FAIL() << "expected an error";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find(below), std::string::npos) << e.Message();
    }
    EXPECT_EQ(ReadFileBytes(path), "old");
}

std::string DescribeRoot(const TVreltXMLDocument& document) {
    return document.RootElement() ? Describe(document.RootElement()) : "-";
}

// Load, save and load again: the same tree, except that a text child gains the line break and
// indentation that follow it in the file.
TEST(XMLWriterTest, RoundTripGivesTheSameTree) {
    struct Case {
        const char* label;
        std::string xml;
        bool utf8;
        std::string reloaded; // empty: the same as the first load
    };
    const Case cases[] = {
        {"settings-like",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings Locale=\"ENG\"><!-- kept -->"
         "<Form_Ludex Left=\"10\" Caption=\"a&amp;b &lt;&gt; &quot;&apos; \xD0\x9F\"/>"
         "<Documents><Document File=\"/home/n/a&#x9;b&#xD;&#xA;c.ldx\"/></Documents></Settings>",
         true, ""},
        {"code-page file", "<r v=\"caf\xE9\"><x w=\"\x80\"/></r>", false, ""},
        {"text child gains trailing whitespace", "<r>t<x/></r>", true, "E(r{T(t\r\n  ),E(x)})"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        TVreltXMLDocument first(Cp1252());
        first.LoadFromXML(c.xml);
        const std::string path = dir.File("roundtrip.xml");
        SaveXMLToFile(path, MakeVreltXMLNode(first.RootElement()), EncodingOf(c.utf8), Cp1252());
        TVreltXMLDocument second(Cp1252());
        second.LoadFromFile(path);
        EXPECT_EQ(DescribeRoot(second), c.reloaded.empty() ? DescribeRoot(first) : c.reloaded) << c.label;
        // Saved again, the file does not change any more for trees without text.
        if (c.reloaded.empty()) {
            std::string before = ReadFileBytes(path);
            SaveXMLToFile(path, MakeVreltXMLNode(second.RootElement()), EncodingOf(c.utf8), Cp1252());
            EXPECT_EQ(ReadFileBytes(path), before) << c.label;
        }
    }
}

TEST(XMLWriterTest, TreeWriterFollowsTheLayout) {
    TVreltXMLDocument document(Cp1252());
    document.LoadFromXML("<r a=\"1\" b=\"&lt;\"><x/>t<!--c--><?p q=\"1\"?></r>");
    const TXMLTagElement* root = document.RootElement();
    EXPECT_EQ(root->AsXML(0),
              "<r a=\"1\" b=\"&lt;\">\r\n  <x/>\r\n  t\r\n  <!--c-->\r\n  <?p q=\"1\"?>\r\n</r>");
    TXMLOutputFormat& layout = document.TopLevel().Format();
    layout.AttributesOnSeparateLines = true;
    layout.IndentWidth = 4;
    layout.LineBreaks = 2;
    EXPECT_EQ(root->AsXML(1),
              "    <r\r\n        a=\"1\"\r\n        b=\"&lt;\">\r\n\r\n        <x/>\r\n\r\n        t"
              "\r\n\r\n        <!--c-->\r\n\r\n        <?p q=\"1\"?>\r\n\r\n    </r>");
    // A node outside any list uses its own layout.
    TXMLTagText loose("a\tb");
    EXPECT_EQ(loose.AsXML(1), "  a&#x9;b");
    EXPECT_EQ(DefaultXMLOutputFormat().IndentWidth, 2);
    EXPECT_EQ(DefaultXMLOutputFormat().LineBreaks, 1);
    EXPECT_FALSE(DefaultXMLOutputFormat().AttributesOnSeparateLines);
}

// Deep nesting neither overflows the stack when loading, converting and freeing, nor makes the
// writers produce text that grows with the square of the depth: they refuse.
TEST(XMLWriterTest, DeepTreesAreHandledWithoutRecursion) {
    const int depth = 100000;
    std::string xml;
    for (int i = 0; i < depth; ++i) {
        xml += "<a>";
    }
    xml += "x";
    for (int i = 0; i < depth; ++i) {
        xml += "</a>";
    }
    auto document = std::make_unique<TVreltXMLDocument>(Cp1252());
    document->LoadFromXML(xml);
    IXMLNodePtr root = MakeVreltXMLNode(document->RootElement());
    const std::string refusal = "XML nested deeper than 1000 levels cannot be written";
    EXPECT_EQ(ErrorOf([&] { (void)root->GetXML(); }), refusal);
    EXPECT_EQ(ErrorOf([&] { (void)document->RootElement()->AsXML(0); }), refusal);
    // The deepest node still knows its parent.
    IXMLNodePtr node = root;
    for (int i = 1; i < depth; ++i) {
        node = node->GetChildNodes()->First();
    }
    EXPECT_EQ(node->GetChildNodes()->First()->GetText(), "x");
    EXPECT_EQ(node->GetParentNode()->GetParentNode()->GetNodeName(), "a");
    node.reset();
    root.reset();
    document.reset();

    // 1000 levels are still written.
    std::string shallow;
    for (int i = 0; i < kMaxXMLWriteDepth; ++i) {
        shallow += "<a>";
    }
    for (int i = 0; i < kMaxXMLWriteDepth; ++i) {
        shallow += "</a>";
    }
    TVreltXMLDocument ok(Cp1252());
    ok.LoadFromXML(shallow);
    EXPECT_NO_THROW((void)MakeVreltXMLNode(ok.RootElement())->GetXML());
}

} // namespace

namespace {

// Nodes made by the caller and put into a loaded tree are destroyed with it (the leak checker of
// the sanitizer build would report them otherwise), and edits of loaded nodes survive until the
// next load.
TEST(VreltXMLDocumentTest, CallerNodesInALoadedTreeAreFreedOnReload) {
    TVreltXMLDocument document(Cp1252());
    for (int round = 0; round < 3; ++round) {
        document.LoadFromXML("<r a=\"1\"><x/></r>");
        TXMLTagElement* root = document.RootElement();
        ASSERT_NE(root, nullptr);
        auto& extra = root->Children().Append<TXMLTagElement>(std::string(100, 'e'));
        extra.Children().Append<TXMLTagText>(std::string(200, 't'));
        extra.Attributes().Add("long", std::string(300, 'v'));
        root->SetName(std::string(50, 'n'));
        root->Attributes().Add("b", std::string(64, 'w'));
        document.TopLevel().Append<TXMLTagComment>(std::string(80, 'c'));
        EXPECT_EQ(Describe(root).substr(0, 61), "E(" + std::string(50, 'n') + "[a=1|b=ww");
        EXPECT_EQ(root->Children().Count(), 2);
        EXPECT_EQ(ErrorOf([&] { root->Children().Items(2); }), "List index out of bounds (2)");
        EXPECT_EQ(ErrorOf([&] { root->Children().Items(-1); }), "List index out of bounds (-1)");
    }
    document.LoadFromXML("<s/>");
    EXPECT_EQ(Describe(document.TopLevel()), "E(s)");
}

} // namespace
