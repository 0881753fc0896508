#include "core/document/WellFormed.h"

#include "core/base/Exception.h"
#include "core/document/CheckFollower.h"
#include "core/document/DomService.h"

#include "support/ErrorText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>

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

// Every character is checked as UTF-8 and as one XML allows wherever it stands in a run of text:
// at each position of a long run of ASCII and two-byte characters (so at every place within and
// between the blocks the check passes at once), in each construct that holds free text. A fault is
// reported at the first byte of the character.
TEST(WellFormedTest, EveryCharacterIsCheckedWhereverItStands) {
    struct Insert {
        const char* name;
        std::string bytes;
        const char* reason; // nullptr: the document is well-formed
    };
    const Insert inserts[] = {
        {"two-byte character", "\xD0\x96", nullptr},
        {"lowest two-byte character", "\xC2\x80", nullptr},
        {"highest two-byte character", "\xDF\xBF", nullptr},
        {"three-byte character", "\xE2\x82\xAC", nullptr},
        {"four-byte character", "\xF0\x9F\x98\x80", nullptr},
        {"tab", "\t", nullptr},
        {"lone continuation byte", "\x80", "invalid UTF-8 byte sequence"},
        {"lead without continuation", "\xD0z", "invalid UTF-8 byte sequence"},
        {"lead before a lead", "\xD0\xD0\x96", "invalid UTF-8 byte sequence"},
        {"overlong form", "\xC0\x80", "invalid UTF-8 byte sequence"},
        {"overlong two-byte lead", "\xC1\xBF", "invalid UTF-8 byte sequence"},
        {"surrogate", "\xED\xA0\x80", "invalid UTF-8 byte sequence"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "invalid UTF-8 byte sequence"},
        {"byte never used", "\xFF", "invalid UTF-8 byte sequence"},
        {"control character", "\x01", "U+0001"},
        {"U+FFFE", "\xEF\xBF\xBE", "U+FFFE"},
    };
    const std::string run = "0123456789abcdef\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0 "
                            "0123456789ABCDEF\xC3\xBC\xC3\xB1xyz";
    const std::pair<std::string, std::string> constructs[] = {
        {"<r a=\"", "\"/>"},    {"<r a='", "'/>"},           {"<r>", "</r>"},
        {"<r><!--", "--></r>"}, {"<r><![CDATA[", "]]></r>"},
    };
    for (const auto& [before, after] : constructs) {
        for (size_t at = 0; at <= run.size(); ++at) {
            if ((static_cast<unsigned char>(run[at]) & 0xC0) == 0x80) {
                continue; // inside a character
            }
            for (const Insert& insert : inserts) {
                const std::string xml = before + run.substr(0, at) + insert.bytes + run.substr(at) + after;
                const std::optional<TMalformation> fault = FindMalformation(xml);
                const std::string where = before + " at " + std::to_string(at) + ": " + insert.name;
                if (insert.reason == nullptr) {
                    EXPECT_FALSE(fault.has_value()) << where << ": " << fault->reason;
                    continue;
                }
                ASSERT_TRUE(fault.has_value()) << where;
                EXPECT_EQ(fault->offset, before.size() + at) << where;
                EXPECT_NE(fault->reason.find(insert.reason), std::string::npos)
                    << where << ": " << fault->reason;
            }
        }
    }
}

// A byte that is not UTF-8 is the fault even where an earlier construct is not well-formed: the
// text is refused for what it is before what it says.
TEST(WellFormedTest, TextThatIsNotUtf8IsRefusedForThatFirst) {
    const std::string xml = "<a>&foo;<b/></a>\n<!--\xC3(-->";
    EXPECT_EQ(ErrorOf(xml), "\"hostile.ldx\", line 2, column 5: invalid UTF-8 byte sequence");
    TDomDocument doc;
    EXPECT_EQ(ludex::testing::ErrorOf<EDomError>([&] { doc.LoadXML(xml); }),
              "\"XML text\", line 2, column 5: invalid UTF-8 byte sequence");
    EXPECT_EQ(ErrorOf("<a>&foo;</a>"), "\"hostile.ldx\", line 1, column 4: undefined entity \"&foo;\"");
}

// Only a character reference in text content can leave white space at an end of a text node
// (the parser trims before it resolves references); the check tells the loader when there is one.
TEST(WellFormedTest, TellsWhetherACharacterReferenceStandsInText) {
    const std::pair<std::string, bool> cases[] = {
        {"<a>&#x20;x</a>", true},
        {"<a><b/>x&#65;</a>", true},
        {"<a t=\"&#xA;\">&lt;&amp;</a>", false},
        {"<a><!-- &#65; --><![CDATA[&#65;]]><?p &#65;?></a>", false},
        {"<a/>", false},
    };
    for (const auto& [xml, expected] : cases) {
        bool referenceInText = !expected;
        EXPECT_FALSE(FindMalformation(xml, &referenceInText).has_value()) << xml;
        EXPECT_EQ(referenceInText, expected) << xml;
    }
}

// The check tells whether an attribute of the watched name stands in the text: only an attribute
// of exactly that name counts, not the name written anywhere else; and the document answers a
// walk's quick test from it, for the watched name as from the text for any other.
TEST(WellFormedTest, TellsWhetherAWatchedAttributeStands) {
    const std::pair<std::string, bool> cases[] = {
        {"<a password=\"\"/>", true},
        {"<a t=\"1\"><b x=\"2\" password='k'/></a>", true},
        {"<a><b/><b/><b password=\"p\"></b></a>", true},
        {"<a passwords=\"1\" passwor=\"2\" Password=\"3\"/>", false},
        {"<password t=\"password\">password<!-- password=\"x\" --><?p password=\"x\"?></password>", false},
        {"<a t=\"pass&#119;ord\"><![CDATA[<b password=\"x\"/>]]></a>", false},
    };
    for (const auto& [xml, expected] : cases) {
        TAttributeWatch watch{.name = "password", .seen = !expected};
        EXPECT_FALSE(FindMalformation(xml, nullptr, &watch).has_value()) << xml;
        EXPECT_EQ(watch.seen, expected) << xml;

        TDomDocument watched;
        watched.WatchAttribute("password");
        watched.LoadXML(xml);
        EXPECT_EQ(watched.MayHoldAttribute("password"), expected) << xml;
        // Another name, and a document that watches none, are answered from the text: a name
        // written anywhere may be an attribute's.
        TDomDocument plain;
        plain.LoadXML(xml);
        const bool written = xml.find("password") != std::string::npos;
        EXPECT_EQ(plain.MayHoldAttribute("password"), written) << xml;
        EXPECT_EQ(watched.MayHoldAttribute("t"), xml.find('t') != std::string::npos) << xml;
    }
    // A later load of the same document is checked afresh.
    TDomDocument document;
    document.WatchAttribute("password");
    document.LoadXML("<a password=\"k\"/>");
    EXPECT_TRUE(document.MayHoldAttribute("password"));
    document.LoadXML("<a/>");
    EXPECT_FALSE(document.MayHoldAttribute("password"));
}

// Texts well-formed and not, with the fault on either side of any split, or across it.
const std::vector<std::string>& SplitTexts() {
    static const std::vector<std::string> texts = {
        // Well-formed: elements closed on either side, a reference and the watched name on either.
        "<?xml version=\"1.0\"?><r><a t=\"1\"><b/>x&#65;</a><c password=\"k\">y</c></r>\r\n<!--e--><?p?> ",
        "<!DOCTYPE r [<!ENTITY e 'x'>]><r a=\"&amp;1\"><!--c </r> --><?p </r>?><![CDATA[</r><s>]]>t<s/></r>",
        "<r><a><b><c></c></b></a><d password='p'/>&#32;</r>",
        // Malformed on either side, or across the split.
        "<r><a></b></a></r>",
        "<r><a><b></b></a></x>",
        "<r><a></a></r><s/>",
        "<r><a></a></r>text",
        "<r><a></a></r></r>",
        "<r><a></a></r><!DOCTYPE r>",
        "<r><a><b></b>",
        "<r><a></a>",
        "<r><a><b></a></b></r>",
        "<r><a>&undefined;</a></r>",
        "<r><a>]]></a></r>",
        "<r><!-- -- --></r>",
        "<r><a x=\"<\"/></r>",
        "<r><a></a>\xC3</r>",
        "<r></x>\xFF<a></a></r>",
        "<r><a b=\"1\" b=\"2\"/></r>",
        "<r><a></a></r>\n<?xml version=\"1.0\"?>",
    };
    return texts;
}

// A large text's second part is checked beside its first, on another thread: wherever the split
// falls (inside a tag, a comment, text, after the document element), the outcome is the whole
// check's, fault and place and reason, and the flags it reports.
TEST(WellFormedTest, ASplitCheckFindsWhatTheWholeCheckFinds) {
    for (const std::string& text : SplitTexts()) {
        bool wholeReference = false;
        TAttributeWatch wholeWatch{.name = "password"};
        const std::optional<TMalformation> whole = FindMalformation(text, &wholeReference, &wholeWatch);
        for (size_t split = 0; split <= text.size(); ++split) {
            SCOPED_TRACE(text.substr(0, split) + " | " + text.substr(split));
            bool reference = !wholeReference;
            TAttributeWatch watch{.name = "password", .seen = !wholeWatch.seen};
            const std::optional<TMalformation> found =
                FindMalformationSplitAt(text, split, &reference, &watch);
            ASSERT_EQ(found.has_value(), whole.has_value());
            if (whole) {
                EXPECT_EQ(found->offset, whole->offset);
                EXPECT_EQ(found->reason, whole->reason);
            } else {
                EXPECT_EQ(reference, wholeReference);
                EXPECT_EQ(watch.seen, wholeWatch.seen);
            }
        }
    }
}

// What the whole check finds, to compare another check with.
struct TWholeCheck {
    std::optional<TMalformation> fault;
    bool reference = false;
    bool watched = false;
};

TWholeCheck WholeCheckOf(std::string_view text) {
    TWholeCheck whole;
    TAttributeWatch watch{.name = "password"};
    whole.fault = FindMalformation(text, &whole.reference, &watch);
    whole.watched = watch.seen;
    return whole;
}

// A check that followed `text` as it arrived in pieces of `step` bytes up to `until`, finished on
// the whole text, against the whole check; how far it had checked before it was finished.
size_t ExpectFollowingCheckAsWhole(const std::string& text, size_t step, size_t until) {
    const TWholeCheck whole = WholeCheckOf(text);
    TGrowingCheck check("password");
    const std::string_view all(text);
    for (size_t k = step; k < until; k += step) {
        check.Advance(all.substr(0, k));
    }
    const size_t checked = check.Checked();
    bool reference = !whole.reference;
    TAttributeWatch watch{.name = "password", .seen = !whole.watched};
    const std::optional<TMalformation> found = check.Finish(all, &reference, &watch);
    EXPECT_EQ(found.has_value(), whole.fault.has_value());
    if (found && whole.fault) {
        EXPECT_EQ(found->offset, whole.fault->offset);
        EXPECT_EQ(found->reason, whole.fault->reason);
    } else if (!found && !whole.fault) {
        EXPECT_EQ(reference, whole.reference);
        EXPECT_EQ(watch.seen, whole.watched);
    }
    return checked;
}

// A text checked as it arrives finds what the whole check finds, whatever pieces it arrives in:
// the check goes as far as the last tag that has arrived, passing tags inside comments and
// character-data sections, and gives up (for the whole check at the end) at a fault.
TEST(WellFormedTest, ACheckThatFollowsTheTextFindsWhatTheWholeCheckFinds) {
    for (const std::string& text : SplitTexts()) {
        for (const size_t step : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{8}, size_t{13}}) {
            SCOPED_TRACE(text + " in pieces of " + std::to_string(step));
            ExpectFollowingCheckAsWhole(text, step, text.size());
        }
    }
}

// Large texts (about 3.5 MB) with faults before, around and after the places where a check
// that follows the text stops: `follows` when it gets past the first megabyte, once it has
// arrived.
struct TLargeCase {
    const char* name;
    std::string text;
    bool follows;
};

const std::vector<TLargeCase>& LargeCases() {
    constexpr size_t kBranches = 150000;
    auto branches = [](size_t from, size_t to) {
        std::string part;
        for (size_t i = from; i < to; ++i) {
            part += "<a t=\"" + std::to_string(i) + "\">x<b/></a>\r\n";
        }
        return part;
    };
    auto document = [&](size_t at, const std::string& inserted) {
        return "<?xml version=\"1.0\"?><r>" + branches(0, at) + inserted + branches(at, kBranches) + "</r>";
    };
    static const std::vector<TLargeCase> cases = {
        {"well-formed", document(kBranches / 2, ""), true},
        {"flags late", document(kBranches - 10, "<c password=\"p\">&#65;</c>"), true},
        {"flags early", document(10, "<c password=\"p\">&#65;</c>"), true},
        {"a fault in the part that arrived", document(kBranches / 10, "</x>"), false},
        {"a fault in the first half of the rest", document(kBranches / 2, "<a>"), true},
        {"a fault in the second half of the rest", document(kBranches - 100, "&bad;"), true},
        {"tags inside a comment where the check stops",
         document(kBranches / 6, "<!--" + branches(0, 30000) + "-->"), false},
        {"text after the document element", document(kBranches, "") + "text", true},
        {"the document element not closed", document(kBranches, "").substr(0, 3000000), true},
    };
    return cases;
}

// The first megabyte arrives and is checked; the rest is checked when the read ends, split over
// two threads.
TEST(WellFormedTest, ALargeTextCheckedAsItArrivesFindsWhatTheWholeCheckFinds) {
    for (const TLargeCase& c : LargeCases()) {
        SCOPED_TRACE(c.name);
        const size_t checked = ExpectFollowingCheckAsWhole(c.text, 256 * 1024, 1024 * 1024);
        if (c.follows) {
            EXPECT_GT(checked, 700u * 1024) << "the check followed the text";
        } else {
            EXPECT_EQ(checked, 0u) << "the check gave up";
        }
    }
}

// The same texts read in pieces as a file is, checked on a thread of their own as they arrive:
// the outcome is the whole check's, also when the follower is told to let go of the bytes before
// any arrive (as a read does when it sets aside room for them), or partway (they move to a
// larger buffer), and a follower left unfinished stops before the bytes go.
TEST(WellFormedTest, AFollowerOnItsOwnThreadFindsWhatTheWholeCheckFinds) {
    constexpr size_t kPiece = 64 * 1024;
    enum class TLetGo { Never, BeforeAnyByte, Partway, Unfinished };
    for (const TLargeCase& c : LargeCases()) {
        for (const TLetGo letGo :
             {TLetGo::Never, TLetGo::BeforeAnyByte, TLetGo::Partway, TLetGo::Unfinished}) {
            SCOPED_TRACE(std::string(c.name) + ", letting go " + std::to_string(static_cast<int>(letGo)));
            std::string bytes;
            bytes.reserve(c.text.size());
            TCheckFollower follower("password");
            if (letGo == TLetGo::BeforeAnyByte) {
                follower.Abandon();
            }
            for (size_t at = 0; at < c.text.size(); at += kPiece) {
                if (letGo == TLetGo::Partway && at == 20 * kPiece) {
                    follower.Abandon();
                    std::string moved;
                    moved.reserve(c.text.size());
                    moved = bytes;
                    bytes.swap(moved); // the old buffer goes at once
                }
                bytes.append(c.text, at, kPiece);
                follower.Received(bytes);
                if (letGo == TLetGo::Unfinished && at >= 30 * kPiece) {
                    break;
                }
            }
            if (letGo == TLetGo::Unfinished) {
                continue; // the follower goes before the bytes
            }
            const TWholeCheck whole = WholeCheckOf(c.text);
            bool reference = !whole.reference;
            TAttributeWatch watch{.name = "password", .seen = !whole.watched};
            const std::optional<TMalformation> found = follower.Finish(bytes, &reference, &watch);
            ASSERT_EQ(found.has_value(), whole.fault.has_value());
            if (found) {
                EXPECT_EQ(found->offset, whole.fault->offset);
                EXPECT_EQ(found->reason, whole.fault->reason);
            } else {
                EXPECT_EQ(reference, whole.reference);
                EXPECT_EQ(watch.seen, whole.watched);
            }
        }
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
