#include "core/document/WellFormed.h"

#include "core/base/Exception.h"
#include "core/document/DomService.h"

#include "support/ErrorText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace ludex;

namespace {

std::string ErrorOf(const std::string& bytes) {
    return ludex::testing::LoadErrorOf(bytes, "hostile.ldx");
}

// Text a lenient parser accepts and then changes on save, or cuts: each must be refused with
// the file, the position and the reason.
TEST(WellFormedTest, RefusesWhatIsNotXml) {
    struct Case {
        const char* name;
        std::string xml;
        std::string position;
        std::string reason;
    };
    const Case cases[] = {
        {"NUL reference cuts a value", "<a>\n<b title=\"a&#0;b\"/></a>", "line 2, column 12", "U+0000"},
        {"control reference", "<a t=\"&#x1;\"/>", "line 1, column 7", "invalid character (U+0001)"},
        {"U+FFFE reference", "<a>&#xFFFE;</a>", "column 4", "invalid character"},
        {"literal control character", "<a>x\x01y</a>", "column 5", "U+0001"},
        {"literal U+FFFF", "<a t=\"\xEF\xBF\xBF\"/>", "column 7", "U+FFFF"},
        {"undefined entity", "<a>&foo;</a>", "column 4", "undefined entity \"&foo;\""},
        {"entity declared in a document type", "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", "column 34",
         "undefined entity"},
        {"reference without semicolon", "<a>&#65 b</a>", "column 4", "\";\""},
        {"bare ampersand", "<a t=\"x & y\"/>", "column 9", "&amp;"},
        {"less-than in a value", "<a t=\"x<y\"/>", "column 8", "\"<\" in an attribute value"},
        {"CDATA end in text", "<a>x]]>y</a>", "column 5", "\"]]>\" in text"},
        {"double hyphen in a comment", "<a><!-- x -- y --></a>", "column 11", "\"--\" inside a comment"},
        {"comment ending in three hyphens", "<a><!-- x ---></a>", "column 11", "\"--\""},
        {"text before the root", "x<a/>", "column 1", "text before"},
        {"text after the root", "<a/>\ny", "line 2, column 1", "text after"},
        {"character data outside the root", "<a/><![CDATA[x]]>", "column 5", "outside the document element"},
        {"attributes without space", "<a x=\"1\"y=\"2\"/>", "column 9", "white space"},
        {"unquoted value", "<a x=1/>", "column 6", "quoted"},
        {"declaration not first", " <?xml version=\"1.0\"?><a/>", "column 2", "XML declaration"},
        {"bad version", "<?xml version=\"2.0\"?><a/>", "column 7", "version"},
        {"reserved target", "<a><?XmL x?></a>", "column 4", "declaration"},
        {"two document types", "<!DOCTYPE a><!DOCTYPE a><a/>", "column 13", "document type"},
        {"name starting with a digit", "<1a/>", "column 2", "element name"},
        {"mismatched end", "<a>\n<b></c></a>", "line 2, column 4", "does not match"},
        {"unclosed", "<a><b/>", "line 1, column 8", "<a> is not closed"},
        {"duplicate among many",
         "<a a0=\"\" a1=\"\" a2=\"\" a3=\"\" a4=\"\" a5=\"\" a6=\"\" a7=\"\" a8=\"\" a9=\"\" "
         "b0=\"\" b1=\"\" b2=\"\" b3=\"\" b4=\"\" b5=\"\" b6=\"\" b7=\"\" a5=\"\"/>",
         "column 1", "duplicate attribute \"a5\""},
    };
    for (const auto& c : cases) {
        const std::string message = ErrorOf(c.xml);
        EXPECT_EQ(message.rfind("\"hostile.ldx\", line ", 0), 0u) << c.name << ": " << message;
        EXPECT_NE(message.find(c.position + ":"), std::string::npos) << c.name << ": " << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.name << ": " << message;
    }
}

TEST(WellFormedTest, AcceptsEveryConstructOfXml) {
    const std::string cases[] = {
        "<?xml version=\"1.0\" encoding='utf-8' standalone=\"yes\" ?>\r\n<a/>",
        "<?xml version=\"1.1\"?><a/>",
        "<!-- before --><?pi data?><!DOCTYPE a SYSTEM \"a>.dtd\" [<!ELEMENT a ANY><!-- ] > --><?p ]?>]>\n<a/>"
        "<!-- after -->\n<?pi?>\n",
        "<a x='\"' y=\"'\" z = \"&lt;&gt;&amp;&quot;&apos;&#xA;&#9;&#65;&#x10FFFF;\"></a >",
        "<a><![CDATA[<&]]]]><!--x-y--><?t  ?>]></a>",
        "<\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0 \xC3\xA9:n-1.x_\xC2\xB7=\"\xC2\xA0\"/>",
        "<a>\xEF\xBF\xBD\xEF\xBF\xBC \xF0\x9F\x98\x80 &#xA0;</a>",
    };
    for (const auto& xml : cases) {
        EXPECT_EQ(ErrorOf(xml), "(loaded)") << xml;
    }
}

// Every proper prefix of a document cuts some construct, so every one must be refused.
TEST(WellFormedTest, EveryTruncationIsRefused) {
    const std::string xml =
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e 'x'>]><r a=\"&amp;1\"><!--c--><?p q?>"
        "<![CDATA[d]]>t&#65;<s/></r>";
    ASSERT_EQ(ErrorOf(xml), "(loaded)");
    for (size_t n = 0; n < xml.size(); ++n) {
        EXPECT_TRUE(FindMalformation(xml.substr(0, n)).has_value()) << xml.substr(0, n);
    }
}

// Hostile documents: each must load in time linear in its size, without recursion.
TEST(WellFormedTest, HostileDocumentsLoadWhole) {
    using Clock = std::chrono::steady_clock;
    {
        constexpr int kAttributes = 200000;
        std::string xml = "<a";
        for (int i = 0; i < kAttributes; ++i) {
            xml += " n" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
        }
        xml += "/>";
        const auto start = Clock::now();
        TDomDocument doc;
        ASSERT_NO_THROW(doc.LoadBytes(xml, "many.ldx"));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the check must not compare every pair";
        EXPECT_EQ(doc.DocumentElement().Attributes().size(), size_t{kAttributes});
        EXPECT_EQ(doc.DocumentElement().GetAttribute("n199999"), "v199999");
        xml.insert(xml.size() - 2, " n123456=\"again\"");
        EXPECT_NE(ErrorOf(xml).find("duplicate attribute \"n123456\""), std::string::npos);
    }
    {
        constexpr int kDepth = 1000000;
        std::string xml;
        for (int i = 0; i < kDepth; ++i) {
            xml += "<b>";
        }
        std::string closed = xml;
        for (int i = 0; i < kDepth; ++i) {
            closed += "</b>";
        }
        TDomDocument doc;
        ASSERT_NO_THROW(doc.LoadBytes(closed, "deep.ldx"));
        EXPECT_NE(ErrorOf(xml).find("<b> is not closed"), std::string::npos);
    }
}

} // namespace
