#include "core/document/MarkupScan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ludex;

namespace {

bool NeedsCheck(const std::string& text, const std::vector<size_t>& cuts) {
    TMarkupScan scan;
    for (size_t cut : cuts) {
        scan.Advance(std::string_view(text).substr(0, cut), TInput::Partial);
    }
    scan.Advance(text, TInput::Complete);
    return scan.NeedsTreeCheck();
}

// The scan may call a text clean only when its tree certainly has no repeated attribute name, no
// declaration after the start and no character reference in text content; and its verdict must
// not depend on how the text is cut into pieces.
TEST(MarkupScanTest, VerdictsAtEveryCut) {
    struct Case {
        std::string text;
        bool needsCheck;
    };
    std::string manyAttributes = "<a";
    for (int i = 0; i < 33; ++i) {
        manyAttributes += " a" + std::to_string(i) + "=\"\"";
    }
    manyAttributes += "/>";
    const Case cases[] = {
        {"<a/>", false},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"t\" memo=\"m&#xA;x\">\r\n"
         "<note title=\"a\"/>\r\n</ludex>",
         false},
        {"<a x=\"1\" y='2'><b x=\"1\"/></a>", false},
        {"<a x=\">/<\" y=\"'\" z='\"'/>", false},
        {"<a><!-- <b x=\"1\" x=\"1\"> --><![CDATA[ <c y=\"1\" y=\"2\"> &#32; ]]><?pi <d z='' z=''/> ?></a>",
         false},
        {"<a>text &amp; more &lt;</a>", false},
        {"<a\r\n  x = \"1\"\r\n  y\t=\t'2'  />", false},
        {"<a xml:lang=\"en\" lang=\"en\"/>", false},
        {"<a x=\"1\" x=\"2\"/>", true},
        {"<a x=\"1\" y=\"2\" x='3'></a>", true},
        {"<a>&#32;</a>", true},
        {"<a>x &#xA;</a>", true},
        {"<a>x</a>\n<?xml version=\"1.0\"?>", true},
        {"<a><?xml version=\"1.0\"?></a>", true},
        {"<a><?XmL version=\"1.0\"?></a>", true},
        {"<!DOCTYPE a><a/>", true},
        {"<a x=1/>", true},
        {"<a x=\"1\"", true},
        {"<a><!-- open", true},
        {"<a/ >", true},
        {manyAttributes, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NeedsCheck(c.text, {}), c.needsCheck) << c.text;
        for (size_t cut = 0; cut <= c.text.size(); ++cut) {
            EXPECT_EQ(NeedsCheck(c.text, {cut}), c.needsCheck) << c.text << ", cut at " << cut;
        }
        std::vector<size_t> every;
        for (size_t cut = 1; cut <= c.text.size(); ++cut) {
            every.push_back(cut);
        }
        EXPECT_EQ(NeedsCheck(c.text, every), c.needsCheck) << c.text << ", byte by byte";
    }
}

} // namespace
