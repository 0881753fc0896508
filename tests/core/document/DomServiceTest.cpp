#include "core/document/DomService.h"

#include "core/base/Exception.h"
#include "core/document/DocumentWriter.h"

#include "support/ErrorText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace ludex;

namespace {

const std::string kDataDir = std::string(LUDEX_TEST_DATA_DIR) + "/document/";

std::string ErrorOf(const std::string& bytes) {
    return ludex::testing::LoadErrorOf(bytes, "test.ldx");
}

TEST(DomServiceTest, DecodesByMarkAndDeclaration) {
    struct Case {
        std::string name;
        std::string bytes;
        std::string title;
    };
    const std::string body = "<a title=\"\xC3\x9C-\xD0\x96\"/>"; // U-umlaut, Cyrillic Zhe
    const Case cases[] = {
        {"plain utf-8", body, "\xC3\x9C-\xD0\x96"},
        {"utf-8 with BOM", "\xEF\xBB\xBF" + body, "\xC3\x9C-\xD0\x96"},
        {"declared utf-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body, "\xC3\x9C-\xD0\x96"},
        {"windows-1251", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a title=\"\xC6\xE6\"/>",
         "\xD0\x96\xD0\xB6"},
        {"windows-1252 in apostrophes",
         "<?xml version='1.0' encoding='Windows-1252'?><a title=\"\x80\xDC\"/>", "\xE2\x82\xAC\xC3\x9C"},
        {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a title=\"\xDC\"/>", "\xC3\x9C"},
        {"KOI8-R", "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><a title=\"\xF6\"/>", "\xD0\x96"},
        {"utf-16le with BOM", std::string("\xFF\xFE<\0a\0 \0t\0i\0t\0l\0e\0=\0\"\0\x16\x04\"\0/\0>\0", 30),
         "\xD0\x96"},
        {"utf-16be with BOM", std::string("\xFE\xFF\0<\0a\0 \0t\0i\0t\0l\0e\0=\0\"\x04\x16\0\"\0/\0>", 30),
         "\xD0\x96"},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        ASSERT_NO_THROW(doc.LoadBytes(c.bytes, "test.ldx")) << c.name;
        EXPECT_EQ(doc.DocumentElement().GetAttribute("title"), c.title) << c.name;
    }
}

TEST(DomServiceTest, LoadsTheDataFiles) {
    struct Case {
        std::string file;
        std::string title;
        std::string firstChildTitle;
    };
    const Case cases[] = {
        {"cp1251.ldx", "\xD0\x97\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB8",
         "\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0 \xE2\x84\x96"
         "1"},
        {"utf16le.ldx",
         "\xC3\x9Cn\xC3\xAF"
         "code \xE2\x9C\x93 16",
         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"utf16be.ldx",
         "\xC3\x9Cn\xC3\xAF"
         "code \xE2\x9C\x93 16",
         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"comment.ldx", "With comment", "first"},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        ASSERT_NO_THROW(doc.Load(kDataDir + c.file)) << c.file;
        TDomNode root = doc.DocumentElement();
        EXPECT_EQ(root.GetAttribute("title"), c.title) << c.file;
        EXPECT_EQ(root.FirstChild().GetAttribute("title"), c.firstChildTitle) << c.file;
    }
    TDomDocument doc;
    doc.Load(kDataDir + "cp1251.ldx");
    EXPECT_EQ(
        doc.DocumentElement().GetAttribute("memo"),
        "\xD0\x9F\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB0\xD1\x8F \xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0\n"
        "\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xB0\xD1\x8F");
}

TEST(DomServiceTest, ReportsErrorsWithPosition) {
    struct Case {
        std::string name;
        std::string bytes;
        std::vector<std::string> parts; // all must appear in the message
    };
    const Case cases[] = {
        {"mismatched tags", "<a>\n<b></c></a>", {"\"test.ldx\"", "line 2, column"}},
        {"no element", "", {"\"test.ldx\""}},
        {"unclosed", "<a><b/>", {"\"test.ldx\""}},
        {"bad utf-8", "<a title=\"ok\"/>\n<!-- \xC3\x28 -->", {"line 2, column 6", "UTF-8"}},
        {"overlong utf-8", "<a t=\"\xC0\xAF\"/>", {"line 1, column 7", "UTF-8"}},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"no-such-code\"?><a/>", {"no-such-code"}},
        {"multi-byte encoding", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><a/>", {"Shift_JIS"}},
        {"utf-16 declared without BOM",
         "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>",
         {"byte-order mark"}},
        {"utf-16 without BOM", std::string("<\0a\0/\0>\0", 8), {"byte-order mark"}},
        {"undefined windows-1252 byte",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<a t=\"\x81\"/>",
         {"line 2, column 7", "0x81"}},
        {"odd utf-16", std::string("\xFF\xFE<\0a\0/\0>\0\0\xD8", 12), {"UTF-16LE"}},
        {"two roots", "<a/>\n<b/>", {"line 2, column", "one top-level element"}},
        {"surrogate reference", "<a>\n&#xD800;</a>", {"invalid character"}},
        {"reference beyond Unicode", "<a t=\"&#x110000;\"/>", {"invalid character"}},
        {"declaration inside the element", "<a>x<?xml version=\"1.0\"?>y</a>", {"declaration"}},
        {"duplicate attribute", "<a>\n<b x=\"1\" x=\"2\"/></a>", {"line 2", "duplicate attribute \"x\""}},
    };
    for (const auto& c : cases) {
        std::string message = ErrorOf(c.bytes);
        for (const auto& part : c.parts) {
            EXPECT_NE(message.find(part), std::string::npos) << c.name << ": " << message;
        }
    }
}

// The parser rewrites the text in place (ends of names, references, line ends, white space in
// attribute values) before it meets an error; the position must still be that of the original.
TEST(DomServiceTest, ErrorPositionsSurviveParsingInPlace) {
    struct Case {
        std::string name;
        std::string bytes;
        std::string position;
    };
    const Case cases[] = {
        {"after rewritten text", "<a t=\"1\n2\n3\">text &amp;\r\n more  \n</a>\n<b/>", "line 6, column"},
        {"duplicate after trimmed text", "<a>\n x \n<b\nx=\"1\"\nx=\"&lt;\"/></a>", "line 3"},
        {"mismatch after references", "<a>&#xA;&#10;\r\n<b t=\"&quot;\r\n\"></c></a>", "line 3, column"},
    };
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("ludex-dom-" + std::to_string(::getpid()) + ".ldx");
    for (const auto& c : cases) {
        const std::string fromBytes = ErrorOf(c.bytes);
        EXPECT_NE(fromBytes.find(c.position), std::string::npos) << c.name << ": " << fromBytes;
        std::ofstream(file, std::ios::binary) << c.bytes;
        TDomDocument doc;
        try {
            doc.Load(file.string());
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const EDomError& e) {
            const std::string fromFile = e.Message();
            EXPECT_EQ(fromFile.substr(fromFile.find("\", ")), fromBytes.substr(fromBytes.find("\", ")))
                << c.name;
        }
        try {
            doc.LoadXML(c.bytes);
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const EDomError& e) {
            const std::string fromText = e.Message();
            EXPECT_EQ(fromText.substr(fromText.find("\", ")), fromBytes.substr(fromBytes.find("\", ")))
                << c.name;
        }
    }
    std::filesystem::remove(file);
}

TEST(DomServiceTest, MissingFileIsAnInputOutputError) {
    TDomDocument doc;
    EXPECT_THROW(doc.Load(kDataDir + "no-such-file.ldx"), EInOutError);
}

TEST(DomServiceTest, TextNodesAreTrimmedAndBlankTextDropped) {
    struct Case {
        std::string xml;
        std::vector<std::string> children; // "<name>" for elements, the text for text nodes
    };
    const Case cases[] = {
        {"<a>\r\n<b/>\r\n<c/>\r\n</a>", {"<b>", "<c>"}},
        {"<a>\r\n  payload  \r\n</a>", {"payload"}},
        {"<a>\t x y \t</a>", {"x y"}},
        {"<a>&#32;</a>", {}},
        {"<a>&#xA;&#x9;</a>", {}},
        {"<a>x&#xA;</a>", {"x"}},
        {"<a>&#x20;y&#9;&#xD;</a>", {"y"}}, // white space from references is trimmed too
        {"<a>&lt;&amp;&gt;&quot;&apos;</a>", {"<&>\"'"}},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        doc.LoadXML(c.xml);
        std::vector<std::string> got;
        for (TDomNode n : doc.DocumentElement().ChildNodes()) {
            got.push_back(n.IsElement() ? "<" + std::string(n.Name()) + ">" : std::string(n.Text()));
        }
        EXPECT_EQ(got, c.children) << c.xml;
    }
}

TEST(DomServiceTest, NodeKinds) {
    TDomDocument doc;
    doc.LoadXML("<?xml version=\"1.0\"?><!-- outside --><a>text<!-- c --><?pi x?><![CDATA[ d ]]><b/></a>");
    std::vector<TDomNodeKind> kinds;
    for (TDomNode n : doc.DocumentElement().ChildNodes()) {
        kinds.push_back(n.Kind());
    }
    EXPECT_EQ(kinds, (std::vector<TDomNodeKind>{TDomNodeKind::Text, TDomNodeKind::Other, TDomNodeKind::Other,
                                                TDomNodeKind::Other, TDomNodeKind::Element}));
    EXPECT_EQ(TDomNode().Kind(), TDomNodeKind::Null);
    EXPECT_FALSE(doc.DocumentElement().Parent());
    EXPECT_EQ(doc.DocumentElement().Child(4).Parent(), doc.DocumentElement());
}

TEST(DomServiceTest, AttributeOperations) {
    TDomDocument doc;
    doc.LoadXML("<a one=\"1\" empty=\"\" three=\"3\"/>");
    TDomNode a = doc.DocumentElement();
    EXPECT_EQ(a.GetAttribute("one"), "1");
    EXPECT_EQ(a.GetAttribute("absent"), "");
    EXPECT_TRUE(a.HasAttribute("empty"));
    EXPECT_FALSE(a.HasAttribute("absent"));
    a.SetAttribute("one", "uno"); // keeps its place
    a.SetAttribute("four", "4");  // appended
    a.RemoveAttribute("empty");   // removed
    a.RemoveAttribute("absent");  // no effect
    using Attrs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(a.Attributes(), (Attrs{{"one", "uno"}, {"three", "3"}, {"four", "4"}}));
    std::vector<std::string> names;
    for (TDomAttribute at = a.FirstAttribute(); at; at = at.Next()) {
        names.emplace_back(at.Name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"one", "three", "four"}));
}

// A name matches only itself: never a longer or shorter name that shares its start.
TEST(DomServiceTest, AttributeNamesMatchExactly) {
    TDomDocument doc;
    doc.LoadXML("<a title=\"t\" titles=\"ts\" tit=\"x\"/>");
    const TDomNode a = doc.DocumentElement();
    const struct {
        std::string_view name;
        bool present;
        std::string_view value;
    } cases[] = {{"title", true, "t"},   {"titles", true, "ts"},
                 {"tit", true, "x"},     {"ti", false, ""},
                 {"titlesx", false, ""}, {"", false, ""},
                 {"Title", false, ""},   {std::string_view("tit\0e", 5), false, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_EQ(a.HasAttribute(c.name), c.present);
        EXPECT_EQ(a.GetAttribute(c.name), c.value);
        int matches = 0;
        for (TDomAttribute at = a.FirstAttribute(); at; at = at.Next()) {
            matches += at.NameIs(c.name) ? 1 : 0;
            EXPECT_EQ(at.NameIs(c.name), at.Name() == c.name);
        }
        EXPECT_EQ(matches, c.present ? 1 : 0);
    }
}

// Any of a chain of elements given one by one: the answer of asking each one, wherever in the
// chain (before, within and beyond the distance it looks behind) the one that carries it stands,
// among elements with and without attributes.
TEST(DomServiceTest, ASeekerTellsWhetherAnyElementGivenCarriesAnAttribute) {
    TDomDocument doc;
    std::string text = "<list>";
    for (int i = 0; i < 40; ++i) {
        text += i % 3 == 0 ? "<e/>" : "<e title=\"t\" kind=\"k\"/>";
    }
    text += "</list>";
    doc.LoadXML(text);
    std::vector<TDomNode> elements;
    for (TDomNode e = doc.DocumentElement().FirstChild(); e; e = e.NextSibling()) {
        elements.push_back(e);
    }
    ASSERT_EQ(elements.size(), 40u);
    auto seek = [&elements](size_t length, std::string_view name) {
        TAttributeSeeker seeker(name);
        for (size_t i = 0; i < length; ++i) {
            seeker.Add(elements[i]);
        }
        return seeker.Found();
    };
    for (const size_t length : {0, 1, 2, 7, 17, 40}) {
        EXPECT_FALSE(seek(length, "mark")) << length;
        EXPECT_EQ(seek(length, "kind"), length > 1) << length;
        for (size_t carrier = 0; carrier < length; ++carrier) {
            elements[carrier].SetAttribute("mark", "");
            EXPECT_TRUE(seek(length, "mark")) << length << ", at " << carrier;
            EXPECT_FALSE(seek(carrier, "mark")) << length << ", at " << carrier;
            elements[carrier].RemoveAttribute("mark");
        }
    }
}

// A large text is checked where it stands while the copy the parser works on is made: the outcome
// is the one a small text gets, well-formed or not, with or without a byte-order mark, whether
// given as bytes or as UTF-8 text.
TEST(DomServiceTest, ALargeTextLoadsAsASmallOneDoes) {
    std::string memo;
    for (int i = 0; memo.size() < (size_t{3} << 20) / 2; ++i) {
        memo += "line " + std::to_string(i) + "&#xD;&#xA;";
    }
    const std::string element = "<ludex title=\"t\" memo=\"" + memo + "\">";
    struct Case {
        const char* name;
        std::string text;
        const char* fault; // the reason the load gives, or null for a load
        bool password;
    };
    const Case cases[] = {
        {"well-formed", element + "<note title=\"n\"/></ludex>", nullptr, false},
        {"stored password", element + "<note password=\"k\"/></ludex>", nullptr, true},
        {"byte-order mark", "\xEF\xBB\xBF" + element + "</ludex>", nullptr, false},
        {"not closed", element + "<note>", "element <note> is not closed", false},
        {"undefined entity", element + "<note title=\"&nbsp;\"/></ludex>", "undefined entity \"&nbsp;\"",
         false},
        {"bad byte", element + "<note title=\"\xC3\"/></ludex>", "invalid UTF-8 byte sequence", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GE(c.text.size(), size_t{1} << 20);
        for (const bool asBytes : {true, false}) {
            if (!asBytes && c.text.starts_with("\xEF")) {
                continue; // a byte-order mark is not part of UTF-8 text
            }
            TDomDocument doc;
            doc.WatchAttribute("password");
            const auto load = [&] { asBytes ? doc.LoadBytes(c.text, "big") : doc.LoadXML(c.text); };
            if (c.fault != nullptr) {
                const std::string error = ludex::testing::ErrorOf<EDomError>(load);
                EXPECT_TRUE(error.ends_with(c.fault)) << error;
                EXPECT_FALSE(doc.DocumentElement());
                continue;
            }
            load();
            EXPECT_EQ(doc.DocumentElement().GetAttribute("title"), "t");
            EXPECT_TRUE(doc.DocumentElement().GetAttribute("memo").starts_with("line 0\r\nline 1\r\n"));
            EXPECT_EQ(doc.MayHoldAttribute("password"), c.password);
        }
    }
}

TEST(DomServiceTest, ChildListOperations) {
    TDomDocument doc;
    doc.LoadXML("<a><b/><c/></a>");
    TDomNode a = doc.DocumentElement();
    TDomNode d = a.AddChildElement("d");
    TDomNode t = a.AddChildText("tail");
    EXPECT_EQ(a.ChildCount(), 4u);
    EXPECT_EQ(a.Child(2), d);
    EXPECT_EQ(a.Child(3), t);
    EXPECT_FALSE(a.Child(4));
    EXPECT_EQ(a.LastChild(), t);
    EXPECT_EQ(t.PreviousSibling(), d);
    a.RemoveChild(a.Child(0));
    EXPECT_EQ(a.FirstChild().Name(), "c");
    EXPECT_THROW(a.RemoveChild(TDomNode()), Exception);
    EXPECT_THROW(d.RemoveChild(a.FirstChild()), Exception);
    EXPECT_THROW(t.AddChildElement("x"), Exception);
    EXPECT_THROW(t.SetAttribute("x", "y"), Exception);
    d.AddChildElement("e");
    EXPECT_EQ(a.XML(), "<a><c/><d><e/></d>tail</a>");
    a.RemoveAllChildren();
    EXPECT_FALSE(a.HasChildNodes());
}

TEST(DomServiceTest, CopiesBetweenDocumentsAndIntoItself) {
    TDomDocument source;
    source.LoadXML("<s k=\"v\"><b t=\"1\">x<c/></b></s>");
    TDomDocument target;
    target.LoadXML("<t/>");
    TDomNode copy = target.DocumentElement().AppendCopy(source.DocumentElement().FirstChild());
    EXPECT_EQ(target.DocumentElement().XML(), "<t><b t=\"1\">x<c/></b></t>");
    EXPECT_EQ(copy.Parent(), target.DocumentElement());
    // Into its own descendant: the copy is of the tree as it was before the call.
    TDomNode s = source.DocumentElement();
    s.FirstChild().LastChild().AppendCopy(s);
    EXPECT_EQ(s.XML(), "<s k=\"v\"><b t=\"1\">x<c><s k=\"v\"><b t=\"1\">x<c/></b></s></c></b></s>");
}

TEST(DomServiceTest, InsertCopyBeforePlacesTheCopyAmongTheChildren) {
    TDomDocument source;
    source.LoadXML("<s><n/></s>");
    const TDomNode n = source.DocumentElement().FirstChild();
    TDomDocument target;
    target.LoadXML("<t><a/><b/></t>");
    const TDomNode t = target.DocumentElement();
    t.InsertCopyBefore(n, t.FirstChild());
    t.InsertCopyBefore(n, t.LastChild());
    t.InsertCopyBefore(n, TDomNode());
    EXPECT_EQ(t.XML(), "<t><n/><a/><n/><b/><n/></t>");
    // Before a node that is not a child: refused, nothing changed.
    EXPECT_THROW(t.InsertCopyBefore(n, n), Exception);
    EXPECT_THROW(t.FirstChild().InsertCopyBefore(n, t.LastChild()), Exception);
    EXPECT_EQ(t.XML(), "<t><n/><a/><n/><b/><n/></t>");
}

TEST(DomServiceTest, ReloadingReplacesTheTree) {
    TDomDocument doc;
    doc.LoadXML("<a/>");
    EXPECT_THROW(doc.LoadXML("<b>"), EDomError);
    EXPECT_FALSE(doc.DocumentElement());
    doc.LoadXML("<c/>");
    EXPECT_EQ(doc.DocumentElement().Name(), "c");
}

// The size a document was loaded at is that of its decoded text; a node of a document never
// loaded, or whose last load failed, has none.
TEST(DomServiceTest, LoadedTextSizeIsThatOfTheDecodedText) {
    TDomDocument doc;
    EXPECT_EQ(doc.DocumentElement().LoadedTextSize(), 0u);
    doc.LoadBytes("\xEF\xBB\xBF<a><b/></a>", "bom.ldx");
    EXPECT_EQ(doc.DocumentElement().LoadedTextSize(), 11u);
    EXPECT_EQ(doc.DocumentElement().FirstChild().LoadedTextSize(), 11u);
    doc.LoadBytes("<?xml version=\"1.0\" encoding=\"windows-1251\"?><a t=\"\xC6\"/>", "cp.ldx");
    EXPECT_EQ(doc.DocumentElement().LoadedTextSize(), 56u); // the letter takes two bytes in UTF-8
    TDomDocument other;
    other.LoadXML("<c/>");
    EXPECT_EQ(other.DocumentElement().AddChildElement("d").LoadedTextSize(), 4u);
    EXPECT_THROW(other.LoadXML("<c>"), EDomError);
    EXPECT_EQ(other.DocumentElement().LoadedTextSize(), 0u);
}

TEST(DomServiceTest, LineAndColumnCountCharacters) {
    struct Case {
        std::string text;
        size_t offset, line, column;
    };
    const Case cases[] = {
        {"abc", 0, 1, 1}, {"abc", 2, 1, 3}, {"a\nbc", 3, 2, 2}, {"\xD0\x96\xD0\x96x", 4, 1, 3},
        {"ab", 99, 1, 3},
    };
    for (const auto& c : cases) {
        auto [line, column] = LineAndColumnOf(c.text, c.offset);
        EXPECT_EQ(line, c.line) << c.text;
        EXPECT_EQ(column, c.column) << c.text;
    }
}

TEST(DomServiceTest, DeepNestingLoads) {
    constexpr int kDepth = 100000;
    std::string xml;
    for (int i = 0; i < kDepth; ++i) {
        xml += "<n>";
    }
    xml += "&#32;";
    for (int i = 0; i < kDepth; ++i) {
        xml += "</n>";
    }
    TDomDocument doc;
    ASSERT_NO_THROW(doc.LoadXML(xml));
    int depth = 0;
    for (TDomNode n = doc.DocumentElement(); n; n = n.FirstChild()) {
        ++depth;
    }
    EXPECT_EQ(depth, kDepth); // the blank text at the bottom is dropped
}

// Removing wipes what a node held, but never what a copy still holds: within one document the
// parser lets copies share the strings of the parsed text.
TEST(DomServiceTest, RemovingWipesTheRemovedValuesButLeavesCopiesWhole) {
    TDomDocument doc;
    doc.LoadXML("<r><a title=\"parsed\" memo=\"m\">text</a></r>");
    const TDomNode a = doc.DocumentElement().FirstChild();
    a.SetAttribute("password", "set later");
    const std::string_view password = a.AttributeView("password");
    const char* const stored = password.data();
    const size_t size = password.size();
    const TDomNode copy = doc.DocumentElement().AppendCopy(a);
    a.RemoveAttribute("password");
    EXPECT_EQ(std::string(stored, size), std::string(size, '\0')) << "the removed value is wiped";
    doc.DocumentElement().RemoveChild(a);
    EXPECT_EQ(copy.XML(), "<a title=\"parsed\" memo=\"m\" password=\"set later\">text</a>");
    doc.DocumentElement().AppendCopy(copy);
    doc.DocumentElement().RemoveAllChildren();
    EXPECT_EQ(doc.DocumentElement().XML(), "<r/>");
}

// An element set aside leaves the document's tree and its written form, keeps its identity and
// content, and comes back in place or goes for good, wiped.
TEST(DomServiceTest, SetAsideElementsLeaveTheDocumentUntilPutBackOrDiscarded) {
    TDomDocument doc;
    doc.LoadXML("<r><a title=\"1\"><x/></a><b/></r>");
    const TDomNode r = doc.DocumentElement();
    const TDomNode a = r.FirstChild();
    const TDomNode b = r.LastChild();
    a.SetAttribute("password", "set later");
    const std::string withPassword = r.XML();

    a.SetAside();
    EXPECT_TRUE(a.IsSetAside());
    EXPECT_FALSE(b.IsSetAside());
    EXPECT_FALSE(r.IsSetAside());
    EXPECT_EQ(doc.DocumentElement(), r);
    EXPECT_EQ(r.XML(), "<r><b/></r>");
    EXPECT_EQ(DocumentToText(r).find("title=\"1\""), std::string::npos) << "never written";
    EXPECT_FALSE(a.Parent());
    EXPECT_EQ(doc.SetAsideElements(), std::vector<TDomNode>{a});

    // Refusals change nothing.
    TDomDocument other;
    other.LoadXML("<o><p/></o>");
    const TDomNode p = other.DocumentElement().FirstChild();
    p.SetAside();
    const struct {
        const char* what;
        std::function<void()> action;
    } refusals[] = {
        {"the document element", [&] { r.SetAside(); }},
        {"an element already aside", [&] { a.SetAside(); }},
        {"putting back an element that is not aside", [&] { r.PutBackBefore(b, TDomNode()); }},
        {"before a node that is no child", [&] { b.PutBackBefore(a, r); }},
        {"discarding an element that is not aside", [&] { b.DiscardSetAside(); }},
        {"putting back an element of another document", [&] { r.PutBackBefore(p, b); }},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        EXPECT_THROW(refusal.action(), Exception);
        EXPECT_EQ(r.XML(), "<r><b/></r>");
        EXPECT_TRUE(a.IsSetAside());
    }

    r.PutBackBefore(a, b);
    EXPECT_FALSE(a.IsSetAside());
    EXPECT_EQ(r.XML(), withPassword);
    EXPECT_TRUE(doc.SetAsideElements().empty());

    const std::string_view password = a.AttributeView("password");
    const char* const stored = password.data();
    const size_t size = password.size();
    a.SetAside();
    a.DiscardSetAside();
    EXPECT_EQ(std::string(stored, size), std::string(size, '\0')) << "the discarded value is wiped";
    EXPECT_TRUE(doc.SetAsideElements().empty());
    EXPECT_EQ(r.XML(), "<r><b/></r>");

    b.SetAside();
    r.AddChildElement("c");
    r.PutBackBefore(b, TDomNode()); // appended
    EXPECT_EQ(r.XML(), "<r><c/><b/></r>");
}

// While documents are read aside, every change of a document, and every document made or
// destroyed, waits on its own thread until the reading ends, then happens as asked.
TEST(DomServiceTest, ChangesWaitWhileDocumentsAreReadAside) {
    struct TChange {
        const char* what;
        std::function<void(TDomDocument&)> change;
        std::string after; // the document's XML afterwards
    };
    const std::vector<TChange> changes = {
        {"set an attribute", [](TDomDocument& d) { d.DocumentElement().SetAttribute("t", "2"); },
         "<r t=\"2\"><a/><b/></r>"},
        {"remove an attribute", [](TDomDocument& d) { d.DocumentElement().RemoveAttribute("t"); },
         "<r><a/><b/></r>"},
        {"remove a child",
         [](TDomDocument& d) { d.DocumentElement().RemoveChild(d.DocumentElement().FirstChild()); },
         "<r t=\"1\"><b/></r>"},
        {"append a copy",
         [](TDomDocument& d) { d.DocumentElement().AppendCopy(d.DocumentElement().FirstChild()); },
         "<r t=\"1\"><a/><b/><a/></r>"},
        {"set aside", [](TDomDocument& d) { d.DocumentElement().LastChild().SetAside(); },
         "<r t=\"1\"><a/></r>"},
        {"add an element", [](TDomDocument& d) { d.DocumentElement().AddChildElement("c"); },
         "<r t=\"1\"><a/><b/><c/></r>"},
        {"load anew", [](TDomDocument& d) { d.LoadXML("<s/>"); }, "<s/>"},
        {"make and destroy another", [](TDomDocument&) { TDomDocument other; }, "<r t=\"1\"><a/><b/></r>"},
    };
    for (const TChange& c : changes) {
        SCOPED_TRACE(c.what);
        TDomDocument document;
        document.LoadXML("<r t=\"1\"><a/><b/></r>");
        std::optional<TReadingAside> reading;
        reading.emplace();
        std::atomic<bool> done{false};
        std::thread changer([&] {
            c.change(document);
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // The reading sees the document as it was, however long it takes.
        EXPECT_FALSE(done.load());
        EXPECT_EQ(document.DocumentElement().XML(), "<r t=\"1\"><a/><b/></r>");
        reading.reset();
        changer.join();
        EXPECT_TRUE(done.load());
        EXPECT_EQ(document.DocumentElement().XML(), c.after);
    }
    // With no reading aside, a change does not wait.
    TDomDocument document;
    document.LoadXML("<r/>");
    document.DocumentElement().SetAttribute("t", "3");
    EXPECT_EQ(document.DocumentElement().XML(), "<r t=\"3\"/>");
}

} // namespace
