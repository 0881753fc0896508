#include "xml/VreltSAX.h"

#include "SaxRecorder.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

using namespace ludex;
using ludex::testing::TSaxRecorder;
using Events = std::vector<std::string>;

namespace {

const std::string kUtf8Decl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
const std::string kDeclEvents[] = {"S:?xml[version=1.0|encoding=utf-8]", "E:?xml"};

Events WithDecl(Events tail) {
    Events all(std::begin(kDeclEvents), std::end(kDeclEvents));
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

struct Case {
    const char* label;
    std::string input;
    Events expected;
};

void RunCases(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        TSaxRecorder recorder;
        EXPECT_EQ(recorder.Parse(c.input), c.expected) << c.label;
    }
}

TEST(VreltSAXTest, ReportsTokensOfValidInput) {
    RunCases({
        {"empty", "", {}},
        {"whitespace only", " \r\n\t ", {}},
        {"declaration, entities, trailing space kept",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a x=\"&lt;&#x41;\">b &amp; c </a>",
         {"S:?xml[version=1.0|encoding=UTF-8]", "E:?xml", "S:a[x=<A]", "T:b & c ", "E:a"}},
        {"whitespace-only run dropped", "<a>  </a>", {"S:a", "E:a"}},
        {"leading whitespace dropped", "<a> x </a>", {"S:a", "T:x ", "E:a"}},
        {"empty element", "<a b=\"1\"/>", {"S:a[b=1]", "E:a"}},
        {"several roots and text first", "x<a/><b/>", {"T:x", "S:a", "E:a", "S:b", "E:b"}},
        {"comment untrimmed, no entities", "<!-- a &amp; -->", {"C: a &amp; "}},
        {"empty comment", "<!---->", {"C:"}},
        {"all five entities", "<a>&apos;&quot;&gt;&lt;&amp;</a>", {"S:a", "T:'\"><&", "E:a"}},
        {"tab and zero references",
         std::string("<a v=\"&#x9;&#x0;\"/>"),
         {std::string("S:a[v=\t\0]", 9), "E:a"}},
        {"hex digits in either case", "<a>&#x4a;&#x4A;</a>", {"S:a", "T:JJ", "E:a"}},
        {"value keeps line breaks and angle brackets", "<a v=\"x\r\n<>\"/>", {"S:a[v=x\r\n<>]", "E:a"}},
        {"name without value ends attributes", "<a =></a>", {"S:a", "E:a"}},
        {"whitespace around =", "<a x = \"1\" ></a >", {"S:a[x=1]", "E:a"}},
        {"processing instruction inside element",
         "<a><?pi x=\"1\"?></a>",
         {"S:a", "S:?pi[x=1]", "E:?pi", "E:a"}},
        {"CDATA read as a start tag",
         "<![CDATA[x]]>",
         {"S:![CDATA[x]]", "!Bad XML. No tag end found: ![CDATA[x]]"}},
        {"trailing whitespace after last tag", "<a/> \r\n", {"S:a", "E:a"}},
    });
}

// Every error of the tokenizer with its exact message; the context of form-A errors begins at
// the first unconsumed byte and ends with the byte in error.
TEST(VreltSAXTest, RaisesEveryErrorWithItsMessageAndContext) {
    RunCases({
        {"E1 quote in name", "<a\"b/>", {"!Bad XML: \r\n<a\""}},
        {"E1 = in name", "<x><a=b/>", {"S:x", "!Bad XML: \r\n<a="}},
        {"E2 empty name", "<>", {"!Bad XML: \r\n<>"}},
        {"E2 space after <", "< a>", {"!Bad XML: \r\n< "}},
        {"E2 empty end tag", "</>", {"!Bad XML: \r\n</>"}},
        {"E2 empty instruction", "<?>", {"!Bad XML: \r\n<?>"}},
        {"E3 no separation", "<a x=\"1\"y=\"2\"/>", {"!Bad XML: \r\n<a x=\"1\"y"}},
        {"E4 name then />", "<a x/>", {"!Bad XML: \r\n<a x/"}},
        {"E4 beats E5", "<a x >", {"!Bad XML: \r\n<a x >"}},
        {"E4 DOCTYPE", "<!DOCTYPE x>", {"!Bad XML: \r\n<!DOCTYPE x>"}},
        {"E5 second word", "<a x y=\"1\"/>", {"!Bad XML: \r\n<a x y"}},
        {"E6 single quotes", "<a x='1'/>", {"!Bad XML: \r\n<a x='"}},
        {"E7 duplicate ignoring case",
         "<a x=\"1\" X=\"2\"/>",
         {"!Bad XML: Duplicate attribute: \r\n<a x=\"1\" X=\""}},
        {"E8 end tag with attribute", "<a>\r\n</a x=\"1\">", {"S:a", "!Bad XML: \r\n\r\n</a x=\"1\">"}},
        {"E9 slash then space", "<a/ >", {"!Bad XML: \r\n<a/ "}},
        {"E9 value after bare =", "<a =\"v\">", {"!Bad XML: \r\n<a =\"v"}},
        {"E10 instruction closed by >", "<?xml version=\"1.0\">", {"!Bad XML: \r\n<?xml version=\"1.0\">"}},
        {"E10 start tag closed by ?>", "<a?>", {"!Bad XML: \r\n<a?>"}},
        {"E10 end tag closed by />", "<a></a/>", {"S:a", "!Bad XML: \r\n</a/>"}},
        {"E11 text", kUtf8Decl + "<a>x\xC3</a>", WithDecl({"S:a", "!Bad XML: Bad UTF-8:\r\nx\xC3<"})},
        {"E12 decimal reference", "<a>&#65;</a>", {"S:a", "!Bad XML: Can not decode HTML: &#65;\r\n&#65;<"}},
        {"E12 three digits", "<a>&#x100;</a>", {"S:a", "!Bad XML: Can not decode HTML: &#x100;\r\n&#x100;<"}},
        {"E12 upper-case name", "<a>&AMP;</a>", {"S:a", "!Bad XML: Can not decode HTML: &AMP;\r\n&AMP;<"}},
        {"E12 no semicolon", "<a>& b</a>", {"S:a", "!Bad XML: Can not decode HTML: & b\r\n& b<"}},
        {"E12 empty name", "<a v=\"&;\"/>", {"!Bad XML: Can not decode HTML: &;\r\n<a v=\"&;\""}},
        {"E12 not hexadecimal", "<a>&#xZZ;</a>", {"S:a", "!Bad XML: Can not decode HTML: &#xZZ;\r\n&#xZZ;<"}},
        {"E12 #X", "<a>&#X41;</a>", {"S:a", "!Bad XML: Can not decode HTML: &#X41;\r\n&#X41;<"}},
        {"E13 mismatch", "<a></b>", {"S:a", "!Bad XML. Mismatched tag end: b"}},
        {"E13 case-sensitive", "<a></A>", {"S:a", "!Bad XML. Mismatched tag end: A"}},
        {"E13 nothing open", "</a>", {"!Bad XML. Mismatched tag end: a"}},
        {"E14 tail text", "<a/>tail", {"S:a", "E:a", "!Bad XML. Unexpected end of document: \r\ntail"}},
        {"E14 unfinished tag", "<a/> <b", {"S:a", "E:a", "!Bad XML. Unexpected end of document: \r\n <b"}},
        {"E15 open element", "<a>", {"S:a", "!Bad XML. No tag end found: a"}},
        {"E15 innermost", "<a><b>", {"S:a", "S:b", "!Bad XML. No tag end found: b"}},
    });
}

} // namespace
