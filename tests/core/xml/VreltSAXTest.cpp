#include "core/xml/VreltSAX.h"

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

const std::vector<Case>& ValidCases() {
    static const std::vector<Case> cases = {
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
        {"UTF-8 kept, names raw",
         kUtf8Decl + "<\xE9l a\xFF=\"\xC3\xA9\">\xE2\x82\xAC<!--\xF0\x9F\x98\x80--></\xE9l>",
         WithDecl({"S:\xE9l[a\xFF=\xC3\xA9]", "T:\xE2\x82\xAC", "C:\xF0\x9F\x98\x80", "E:\xE9l"})},
        {"reference names a code-page byte also in UTF-8 mode", kUtf8Decl + "<a>&#xE9;&#x80;</a>",
         WithDecl({"S:a", "T:\xC3\xA9\xE2\x82\xAC", "E:a"})},
        {"code-page text converted",
         "<a v=\"\xE9\">caf\xE9 \x80</a>",
         {"S:a[v=\xC3\xA9]", "T:caf\xC3\xA9 \xE2\x82\xAC", "E:a"}},
        {"any instruction switches to UTF-8",
         "<?pi encoding=\"UTF-8\"?><a>\xC3\xA9</a>",
         {"S:?pi[encoding=UTF-8]", "E:?pi", "S:a", "T:\xC3\xA9", "E:a"}},
        {"switching instruction's own values read before the switch",
         "<?xml encoding=\"utf-8\" v=\"\xE9\"?>",
         {"S:?xml[encoding=utf-8|v=\xC3\xA9]", "E:?xml"}},
        {"names the code page cannot upper-case stay apart",
         "<r \xDF=\"1\" SS=\"2\" \xB5=\"3\"/>", // no capital sharp s; the capital mu is not in windows-1252
         {"S:r[\xDF=1|SS=2|\xB5=3]", "E:r"}},
        {"UTF-8 names are upper-cased by character, not by byte",
         kUtf8Decl + "<r \xC5\x9A=\"1\" \xC5\x8A=\"2\" \xCE\xB1=\"3\" \xCE\x91=\"4\"/>",
         WithDecl({"S:r[\xC5\x9A=1|\xC5\x8A=2|\xCE\xB1=3|\xCE\x91=4]", "E:r"})},
        {"other encodings keep code-page mode",
         "<?xml encoding=\"windows-1252\"?><a>\xE9</a>",
         {"S:?xml[encoding=windows-1252]", "E:?xml", "S:a", "T:\xC3\xA9", "E:a"}},
    };
    return cases;
}

TEST(VreltSAXTest, ReportsTokensOfValidInput) {
    RunCases(ValidCases());
}

// Every error of the tokenizer with its exact message; the context of form-A errors begins at
// the first unconsumed byte and ends with the byte in error.
const std::vector<Case>& ErrorCases() {
    static const std::vector<Case> cases = {
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
        {"E7 duplicate upper-cased in the code page",
         "<r \xE9=\"1\" \xC9=\"2\"/>",
         {"!Bad XML: Duplicate attribute: \r\n<r \xE9=\"1\" \xC9=\""}},
        {"E7 duplicate upper-cased outside Latin-1",
         "<r \xFF=\"1\" \x9F=\"2\"/>",
         {"!Bad XML: Duplicate attribute: \r\n<r \xFF=\"1\" \x9F=\""}},
        {"E7 duplicate upper-cased in the code page after a UTF-8 declaration",
         kUtf8Decl + "<r \xC3\xA9=\"1\" \xC3\x89=\"2\"/>",
         WithDecl({"!Bad XML: Duplicate attribute: \r\n<r \xC3\xA9=\"1\" \xC3\x89=\""})},
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
        // Errors whose position is the byte after the input quote up to its end.
        {"E7 at end of input", "<a x=\"1\" x=", {"!Bad XML: Duplicate attribute: \r\n<a x=\"1\" x="}},
        {"E8 at end of input", "<a></a x=\"1\"  ", {"S:a", "!Bad XML: \r\n</a x=\"1\"  "}},
        {"E8 after bare =", "<a></a x=\"1\" =>", {"S:a", "!Bad XML: \r\n</a x=\"1\" =>"}},
        {"E11 attribute value", kUtf8Decl + " <a v=\"\xC3\xA9\xE9\"/>",
         WithDecl({"!Bad XML: Bad UTF-8:\r\n <a v=\"\xC3\xA9\xE9\""})},
        {"E11 comment", kUtf8Decl + "<!--\xE2\x82-->", WithDecl({"!Bad XML: Bad UTF-8:\r\n<!--\xE2"})},
        {"E11 overlong form", kUtf8Decl + "<a>\xC0\x80</a>",
         WithDecl({"S:a", "!Bad XML: Bad UTF-8:\r\n\xC0\x80<"})},
        {"E12 after UTF-8 step quotes the segment", kUtf8Decl + "<a>\xC3\xA9&x;</a>",
         WithDecl({"S:a", "!Bad XML: Can not decode HTML: \xC3\xA9&x;\r\n\xC3\xA9&x;<"})},
        {"undefined code-page byte", "<a>\x81</a>", {"S:a", "!Bad XML: Bad character:\r\n\x81<"}},
        {"reference to an undefined code-page byte",
         "<a>&#x81;</a>",
         {"S:a", "!Bad XML: Can not decode HTML: &#x81;\r\n&#x81;<"}},
    };
    return cases;
}

TEST(VreltSAXTest, RaisesEveryErrorWithItsMessageAndContext) {
    RunCases(ErrorCases());
}

TEST(VreltSAXTest, ContextIsAtMost1001BytesEndingAtTheError) {
    // A value not opened by a quote at 1-based position 5000.
    const std::string input = "<a x=" + std::string(4994, ' ') + "'";
    ASSERT_EQ(input.size(), 5000u);
    TSaxRecorder recorder;
    EXPECT_EQ(recorder.Parse(input), Events{"!Bad XML: \r\n" + input.substr(3999, 1001)});
    // The context starts after the last complete token, not at the start of the input.
    const std::string afterToken = "<r>" + std::string(10, ' ') + "<a x='";
    EXPECT_EQ(recorder.Parse(afterToken),
              (Events{"S:r", "!Bad XML: \r\n" + std::string(10, ' ') + "<a x='"}));
}

// Feeding the input in pieces cut anywhere gives the same events and the same error.
TEST(VreltSAXTest, ChunkBoundariesChangeNothing) {
    std::vector<Case> all = ValidCases();
    all.insert(all.end(), ErrorCases().begin(), ErrorCases().end());
    all.push_back({"long tokens",
                   kUtf8Decl + "<r a=\"" + std::string(300, 'v') + "\"><!--" + std::string(300, '-') +
                       "x-->" + std::string(200, ' ') + "t&amp;\xC3\xA9</r>",
                   {}});
    std::mt19937 random(12345);
    for (const auto& c : all) {
        TSaxRecorder recorder;
        const Events whole = recorder.Parse(c.input);
        for (size_t cut = 0; cut <= c.input.size(); ++cut) {
            ASSERT_EQ(recorder.ParseSplit(c.input, {cut}), whole) << c.label << " cut at " << cut;
        }
        for (int round = 0; round < 20; ++round) {
            std::vector<size_t> cuts;
            for (size_t i = 1; i < c.input.size(); ++i) {
                if (random() % 4 == 0) {
                    cuts.push_back(i);
                }
            }
            ASSERT_EQ(recorder.ParseSplit(c.input, cuts), whole) << c.label << " round " << round;
        }
        std::vector<size_t> everyByte;
        for (size_t i = 1; i < c.input.size(); ++i) {
            everyByte.push_back(i);
        }
        ASSERT_EQ(recorder.ParseSplit(c.input, everyByte), whole) << c.label << " byte by byte";
    }
}

} // namespace

namespace {

// A settings-like document of at least `size` bytes with every kind of token, UTF-8 sequences
// and references, so that the 64 KiB chunks of a stream cut tokens everywhere.
std::string LargeDocument(size_t size) {
    std::string text = kUtf8Decl + "\r\n<root>\r\n";
    for (int i = 0; text.size() < size; ++i) {
        std::string n = std::to_string(i);
        text += "  <item id=\"" + n + "\" name=\"caf\xC3\xA9 &amp; " + n + "\" v=\"&#x9;&lt;\">\r\n";
        text += "    <!-- comment " + n + " \xE2\x82\xAC -->\r\n";
        text += "    text " + n + " &quot;\xD0\x9F\xD1\x80\xD0\xB8\" \r\n";
        text += "    <empty a=\"" + std::string(static_cast<size_t>(i % 97), 'x') + "\"/>\r\n";
        text += "  </item>\r\n";
    }
    return text + "</root>\r\n";
}

TEST(VreltSAXTest, LargeTextGivesTheSameEventsAsTheSameBytesFromAStream) {
    const std::string valid = LargeDocument(200000);
    ASSERT_GE(valid.size(), 200000u);
    std::string invalid = valid;
    invalid.insert(invalid.find("\r\n", 150000) + 2, "<bad x='1'>"); // an error in the third chunk
    std::string unfinished = valid.substr(0, 199990);

    for (const std::string* text : std::vector<const std::string*>{&valid, &invalid, &unfinished}) {
        TSaxRecorder recorder;
        const Events fromString = recorder.Parse(*text);
        std::istringstream stream(*text);
        const Events streamed = recorder.ParseStream(stream);
        EXPECT_EQ(streamed, fromString);
        EXPECT_GT(fromString.size(), 4000u);
    }
    TSaxRecorder recorder;
    EXPECT_EQ(recorder.Parse(invalid).back(), "!Bad XML: \r\n\r\n<bad x='");
    EXPECT_EQ(recorder.Parse(unfinished).back().rfind("!Bad XML. Unexpected end of document: \r\n", 0), 0u);
}

TEST(VreltSAXTest, StreamStartsAtItsPositionAndAnEmptyStreamIsLeftAlone) {
    TSaxRecorder recorder;
    recorder.Parse(kUtf8Decl + "<a/>");
    EXPECT_TRUE(recorder.Sax().Utf8Mode());
    std::istringstream empty("");
    recorder.Sax().ParseStream(empty);
    EXPECT_TRUE(recorder.Sax().Utf8Mode()); // not even reset

    std::istringstream positioned("<x/>junk<a/>");
    positioned.seekg(8);
    recorder.Sax().ParseStream(positioned);
    EXPECT_FALSE(recorder.Sax().Utf8Mode()); // reset before reading

    std::istringstream atEnd("<a>");
    atEnd.seekg(3);
    recorder.Sax().ParseStream(atEnd); // size 3: reset, no bytes, no error
}

TEST(VreltSAXTest, NextTokenLeavesAnUnfinishedTokenInPlace) {
    TSaxRecorder recorder;
    TVreltSAX& sax = recorder.Sax();
    sax.Reset();
    TVreltSAXTag tag;
    sax.NextToken(tag);
    EXPECT_EQ(tag.Kind, tkNone);
    EXPECT_EQ(recorder.ParseSplit("  <a x=\"1\"", {}).back(),
              "!Bad XML. Unexpected end of document: \r\n  <a x=\"1\"");
    sax.Reset();
    sax.ParseChunk("  <a x=\"1\"");
    sax.NextToken(tag);
    EXPECT_EQ(tag.Kind, tkNone);
    EXPECT_EQ(recorder.ParseSplit("", {}), Events{}); // ParseSplit resets; nothing is left over
}

TEST(VreltSAXTest, HandlerExceptionsPassUnchanged) {
    TVreltSAX sax([](const std::string&, const TAttributes&) { throw std::runtime_error("stop"); },
                  [](const std::string&) {}, [](const std::string&) {}, [](const std::string&) {},
                  TCodePage::Get("windows-1252"));
    EXPECT_THROW(sax.Parse("<a/>"), std::runtime_error);
}

// Which names are the same depends on the code page, before a UTF-8 declaration (code-page
// bytes) and after it (UTF-8); a tag with many attributes is checked through its hash index with
// the same result.
TEST(VreltSAXTest, RepeatedAttributeNamesAreUpperCasedInTheCodePage) {
    std::string many = "<r";
    for (int i = 0; i < 20; ++i) {
        many += " n" + std::to_string(i) + "=\"v\"";
    }
    const struct {
        const char* codePage;
        bool utf8;
        std::string first, second; // the two attribute names
        bool repeated;
    } cases[] = {
        {"windows-1252", false, "\xE9", "\xC9", true},
        {"windows-1252", false, "\xFF", "\xDF", false},
        {"windows-1251", false, "\xFF", "\xDF", true}, // Cyrillic small and capital ya
        {"windows-1251", false, "\xB8", "\xA8", true}, // small and capital io
        {"KOI8-R", false, "\xD1", "\xF1", true},       // ya again
        {"KOI8-R", false, "\xC1", "\xE2", false},      // small a, capital be
        {"ISO-8859-7", false, "\xE1", "\xC1", true},   // Greek alpha
        {"windows-1251", true, "\xD1\x8F", "\xD0\xAF", true},
        {"windows-1252", true, "\xD1\x8F", "\xD0\xAF", false}, // not in the code page
        {"windows-1254", true, "\xC4\xB1", "I", true},         // dotless i: the length changes
        {"windows-1254", true, "I", "\xC4\xB1", true},
        {"windows-1252", true, "\xC4\xB1", "I", false},
    };
    for (const auto& c : cases) {
        for (const std::string& prefix : {std::string("<r"), many}) {
            SCOPED_TRACE(::testing::Message() << c.codePage << (c.utf8 ? " UTF-8 " : " ") << c.first << " "
                                              << c.second << (prefix == many ? " after many" : ""));
            const std::string tag = prefix + " " + c.first + "=\"1\" " + c.second + "=\"2\"/>";
            TSaxRecorder recorder(TCodePage::Get(c.codePage));
            const Events events = recorder.Parse(c.utf8 ? kUtf8Decl + tag : tag);
            ASSERT_FALSE(events.empty());
            if (c.repeated) {
                EXPECT_EQ(events.back(),
                          "!Bad XML: Duplicate attribute: \r\n" + tag.substr(0, tag.size() - 4));
            } else {
                EXPECT_EQ(events.back(), "E:r");
            }
        }
    }
}

TEST(VreltSAXTest, AttributeLookupIgnoresAsciiCaseAndScalesToManyAttributes) {
    TAttributes attributes;
    attributes.Add("Name", "1");
    EXPECT_EQ(attributes.IndexOfName("NAME"), 0);
    EXPECT_EQ(attributes.Values("name"), "1");
    EXPECT_EQ(attributes.Values("other"), "");
    // Duplicates among thousands of attributes are still found (through the hash index).
    std::string tag = "<a";
    for (int i = 0; i < 5000; ++i) {
        tag += " n" + std::to_string(i) + "=\"v\"";
    }
    TSaxRecorder recorder;
    Events ok = recorder.Parse(tag + "/>");
    ASSERT_EQ(ok.size(), 2u);
    Events duplicate = recorder.Parse(tag + " N4321=\"w\"/>");
    ASSERT_EQ(duplicate.size(), 1u);
    EXPECT_EQ(duplicate[0].rfind("!Bad XML: Duplicate attribute: \r\n", 0), 0u);
    TAttributes copy = attributes;
    attributes.Clear();
    EXPECT_EQ(copy.Strings(0), "Name=1");
    EXPECT_EQ(attributes.IndexOfName("Name"), -1);
}

} // namespace
