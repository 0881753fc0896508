#include "core/document/DocumentWriter.h"

#include "core/crypto/Cipher.h"
#include "core/document/BranchCipher.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace ludex;

namespace {

const std::string kDataDir = std::string(LUDEX_TEST_DATA_DIR) + "/document/";
const std::string kDecl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

class DocumentWriterTest : public ::testing::Test {
protected:
    void SetUp() override { SetCurrentCodePage("windows-1251"); }
};

std::string Written(const std::string& xml) {
    TDomDocument doc;
    doc.LoadXML(xml);
    return DocumentToText(doc.DocumentElement());
}

// Element name, attributes and descendants, as a comparable text.
// The element's attribute names in order.
std::vector<std::string> AttributeNames(const TDomNode& element) {
    std::vector<std::string> names;
    for (TDomAttribute a = element.FirstAttribute(); a; a = a.Next()) {
        names.emplace_back(a.Name());
    }
    return names;
}

std::string Snapshot(const TDomNode& node) {
    return node.XML();
}

TEST_F(DocumentWriterTest, EscapeText) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"\"<>&'", "&quot;&lt;&gt;&amp;&apos;"},
        {"\t\n\r", "&#x9;&#xA;&#xD;"},
        {"\x7F \xD0\x96", "\x7F \xD0\x96"}, // DEL and UTF-8 bytes unchanged
        {"x&&y", "x&amp;&amp;y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeText(c.in), c.out) << c.in;
    }
}

TEST_F(DocumentWriterTest, ToUTF8ValidatesAndNamesTheText) {
    EXPECT_EQ(ToUTF8(""), "");
    EXPECT_EQ(ToUTF8("\xD0\x96x"), "\xD0\x96x");
    try {
        ToUTF8("ab\xFF");
        FAIL() << "invalid UTF-8 accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Can not convert ab\\xFF to UTF-8");
    }
}

// Long values go through the block-wise path of the writer: every special byte must be found
// wherever it stands in a block, and an invalid byte anywhere must fail the write.
TEST_F(DocumentWriterTest, LongValuesAreEscapedAndCheckedAtEveryPosition) {
    const std::string specials[] = {
        "<", "&", "\"", "'", ">", "\t", "\r", "\n", "\xD0\x96", "\xE2\x9C\x93", "\xF0\x9F\x98\x80"};
    const std::string invalids[] = {"\xFF", "\xC3", "\xC0\xAF", "\xED\xA0\x80",
                                    "\x80", "\x01", "\x1F",     "\xEF\xBF\xBF"};
    for (size_t at = 0; at < 40; ++at) {
        for (const std::string& special : specials) {
            std::string value = std::string(at, 'a') + special + std::string(40 - at, 'b') + special;
            TDomDocument doc;
            doc.LoadXML("<n/>");
            doc.DocumentElement().SetAttribute("v", value);
            EXPECT_EQ(ElementToText(doc.DocumentElement()), "<n v=\"" + EscapeText(value) + "\"/>")
                << "at " << at << " special " << special;
        }
        for (const std::string& invalid : invalids) {
            std::string value = std::string(at, 'a') + invalid + std::string(40 - at, 'b');
            TDomDocument doc;
            doc.LoadXML("<n/>");
            doc.DocumentElement().AddChildText(value);
            EXPECT_THROW(ElementToText(doc.DocumentElement()), Exception) << "at " << at;
        }
    }
}

// Text of two-byte characters goes through the writer sixteen bytes at a time: a markup character,
// a longer character or a byte that is not UTF-8 must be found at every place among them (a lead
// byte at the end of a block included), and the bytes around it written unchanged.
TEST_F(DocumentWriterTest, TwoByteTextIsEscapedAndCheckedAtEveryPosition) {
    const std::string run =
        "\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0 x\xC3\xBC\xC3\xB1\xC3\xAF\xC3\xA7\xC3\xB8"
        "\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xB0\xD1\x8F yz";
    const std::string written[] = {"<",
                                   "&",
                                   "\"",
                                   "'",
                                   ">",
                                   "\t",
                                   "\r",
                                   "\n",
                                   "a",
                                   "\xC2\x80",
                                   "\xDF\xBF",
                                   "\xE2\x9C\x93",
                                   "\xF0\x9F\x98\x80"};
    const std::string refused[] = {"\x80",         "\xD0", "\xD0z", "\xC1\xBF",    "\xE2\x9C",
                                   "\xED\xA0\x80", "\xFF", "\x01",  "\xEF\xBF\xBE"};
    for (const size_t shift : {0u, 1u}) {
        for (size_t at = 0; at <= run.size(); ++at) {
            if ((static_cast<unsigned char>(run[at]) & 0xC0) == 0x80) {
                continue; // inside a character
            }
            auto value = [&](const std::string& insert) {
                return std::string(shift, 's') + run.substr(0, at) + insert + run.substr(at) + run;
            };
            for (const std::string& insert : written) {
                TDomDocument doc;
                doc.LoadXML("<n/>");
                doc.DocumentElement().SetAttribute("v", value(insert));
                EXPECT_EQ(ElementToText(doc.DocumentElement()),
                          "<n v=\"" + EscapeText(value(insert)) + "\"/>")
                    << "shift " << shift << " at " << at << " insert " << insert;
            }
            for (const std::string& insert : refused) {
                TDomDocument doc;
                doc.LoadXML("<n/>");
                doc.DocumentElement().SetAttribute("v", value(insert));
                EXPECT_THROW(ElementToText(doc.DocumentElement()), Exception)
                    << "shift " << shift << " at " << at << " insert " << insert;
            }
        }
    }
}

// Characters XML cannot hold, not even as a reference, are refused before anything is written,
// naming the character; every other character, NBSP included, comes back from the file exactly.
TEST_F(DocumentWriterTest, RefusesWhatXmlCannotHoldAndKeepsTheRest) {
    const std::pair<std::string, std::string> refused[] = {
        {std::string(1, '\0'), "U+0000"},
        {"\x01", "U+0001"},
        {"\x08", "U+0008"},
        {"\x0B", "U+000B"},
        {"\x0C", "U+000C"},
        {"\x1F", "U+001F"},
        {"\xEF\xBF\xBE", "U+FFFE"},
        {"\xEF\xBF\xBF", "U+FFFF"},
    };
    for (const auto& [character, name] : refused) {
        const std::string value = "memo \xD0\x96" + character + "tail";
        for (const bool asText : {false, true}) {
            TDomDocument doc;
            doc.LoadXML("<ludex><n/></ludex>");
            TDomNode n = doc.DocumentElement().FirstChild();
            try {
                // NUL is refused as soon as it would enter the document, where it would cut the value.
                asText ? static_cast<void>(n.AddChildText(value)) : n.SetAttribute("memo", value);
                DocumentToText(doc.DocumentElement());
                ADD_FAILURE() << name << " written";
            } catch (const Exception& e) {
                EXPECT_NE(e.Message().find(name), std::string::npos) << e.Message();
                EXPECT_NE(e.Message().find("memo \xD0\x96"), std::string::npos) << e.Message();
            }
        }
        EXPECT_THROW(EscapeText(value), Exception) << name;
    }
    const std::string kept = "nbsp\xC2\xA0x\t\r\n&#0;\xEF\xBF\xBD\xEE\x80\x80\xF4\x8F\xBF\xBF\xE2\x80\xA8";
    TDomDocument doc;
    doc.LoadXML("<ludex/>");
    doc.DocumentElement().SetAttribute("memo", kept);
    TDomDocument again;
    again.LoadBytes(DocumentToText(doc.DocumentElement()), "kept.ldx");
    EXPECT_EQ(again.DocumentElement().GetAttribute("memo"), kept);
}

TEST_F(DocumentWriterTest, ExactByteForm) {
    struct Case {
        std::string name, xml, text;
    };
    const Case cases[] = {
        {"empty root", "<ludex version=\"2.1.0 \" title=\"New\" memo=\"\"/>",
         kDecl + "<ludex version=\"2.1.0 \" title=\"New\" memo=\"\"/>"},
        {"layout", "<R><A/><B><D/></B></R>", kDecl + "<R>\r\n<A/>\r\n<B>\r\n<D/>\r\n</B>\r\n</R>"},
        {"markup in title", "<n title=\"&quot;&lt;&gt;&amp;&apos;\"/>",
         kDecl + "<n title=\"&quot;&lt;&gt;&amp;&apos;\"/>"},
        {"memo lines and tab", "<n memo=\"one&#xA;two&#9;x\"/>", kDecl + "<n memo=\"one&#xA;two&#x9;x\"/>"},
        {"apostrophes become quotes", "<n a='1' b = \"2\"/>", kDecl + "<n a=\"1\" b=\"2\"/>"},
        {"non-ASCII as UTF-8", "<n title=\"\xD0\x96\xE2\x9C\x93\"/>",
         kDecl + "<n title=\"\xD0\x96\xE2\x9C\x93\"/>"},
        {"locked payload between line breaks", "<n encryption=\"c\">\r\n  QUJD  \r\n</n>",
         kDecl + "<n encryption=\"c\">\r\nQUJD\r\n</n>"},
        {"names as they are", "<a:b x.y=\"1\"><c-d/></a:b>", kDecl + "<a:b x.y=\"1\">\r\n<c-d/>\r\n</a:b>"},
        {"mixed text", "<a>x<b/>y</a>", kDecl + "<a>\r\nx\r\n<b/>\r\ny\r\n</a>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Written(c.xml), c.text) << c.name;
    }
}

TEST_F(DocumentWriterTest, SavedTextReadsBackToTheSameBytes) {
    for (const char* file : {"cp1251.ldx", "utf16le.ldx", "encrypted.ldx"}) {
        TDomDocument first;
        first.Load(kDataDir + file);
        std::string text = DocumentToText(first.DocumentElement());
        TDomDocument second;
        second.LoadBytes(text, "written");
        EXPECT_EQ(DocumentToText(second.DocumentElement()), text) << file;
    }
    TDomDocument doc;
    doc.Load(kDataDir + "cp1251.ldx");
    EXPECT_EQ(
        DocumentToText(doc.DocumentElement()),
        kDecl +
            "<ludex version=\"2.1.0 \" title=\"\xD0\x97\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB8\" "
            "memo=\"\xD0\x9F\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB0\xD1\x8F "
            "\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0&#xA;"
            "\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xB0\xD1\x8F\">"
            "\r\n<note title=\"\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0 \xE2\x84\x96"
            "1\" "
            "memo=\"\xD1\x82\xD0\xB5\xD1\x81\xD1\x82\"/>\r\n</ludex>");
}

TEST_F(DocumentWriterTest, UnsupportedNodesFailTheSave) {
    struct Case {
        std::string xml;
    };
    const Case cases[] = {{"<a><!-- c --></a>"}, {"<a><b><?pi x?></b></a>"}, {"<a><![CDATA[x]]></a>"}};
    for (const auto& c : cases) {
        TDomDocument doc;
        doc.LoadXML(c.xml);
        try {
            DocumentToText(doc.DocumentElement());
            FAIL() << c.xml;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Unsupported NodeType") << c.xml;
        }
    }
    TDomDocument doc;
    doc.Load(kDataDir + "comment.ldx");
    EXPECT_THROW(DocumentToText(doc.DocumentElement()), Exception);
}

TEST_F(DocumentWriterTest, UnlockedEncryptedBranchIsWrittenEnciphered) {
    TDomDocument doc;
    doc.LoadXML("<ludex title=\"r\"><note title=\"s\" "
                "memo=\"\xD1\x82\xD0\xB0\xD0\xB9\xD0\xBD\xD0\xB0&#xA;2\" x=\"1\">"
                "<note title=\"child\" memo=\"m\"/><note title=\"c2\"/></note></ludex>");
    TDomNode branch = doc.DocumentElement().FirstChild();
    SetBranchPassword(branch, "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C");
    PasswordAccess.Delete(branch); // "password" last, where unlocking puts it
    PasswordAccess.Write(branch, "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C");
    const std::string before = Snapshot(doc.DocumentElement());

    const std::string first = DocumentToText(doc.DocumentElement());
    const std::string second = DocumentToText(doc.DocumentElement());
    EXPECT_EQ(Snapshot(doc.DocumentElement()), before) << "the writer changes nothing";
    EXPECT_NE(first, second) << "every save draws new salts";
    EXPECT_EQ(first.find("password"), std::string::npos);
    EXPECT_EQ(first.find("child"), std::string::npos);
    EXPECT_EQ(first.find("\xD1\x82\xD0\xB0\xD0\xB9"), std::string::npos);

    for (const std::string& text : {first, second}) {
        TDomDocument saved;
        saved.LoadBytes(text, "saved");
        TDomNode s = saved.DocumentElement().FirstChild();
        // Attribute order: memo in place, encryption kept, password gone.
        EXPECT_EQ(AttributeNames(s), (std::vector<std::string>{"title", "memo", "x", "encryption"}));
        // The payload stands with no line break around it.
        EXPECT_NE(text.find("\">" + std::string(s.FirstChild().Text()) + "</note>"), std::string::npos);
        ASSERT_TRUE(DecipherBranchElement(s, "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C"));
        EXPECT_EQ(Snapshot(saved.DocumentElement()), before);
    }
}

TEST_F(DocumentWriterTest, MemoIsEncipheredAsCodePageBytesAndPayloadAsWriterText) {
    TDomDocument doc;
    doc.LoadXML("<r><n memo=\"\xD0\x96\"><c/></n></r>");
    TDomNode n = doc.DocumentElement().FirstChild();
    SetBranchPassword(n, "\xD0\x96");
    TDomDocument saved;
    saved.LoadBytes(DocumentToText(doc.DocumentElement()), "saved");
    TDomNode s = saved.DocumentElement().FirstChild();
    EXPECT_EQ(DecryptBranchText(Base64Decode(MemoAccess.Read(s)), "\xC6"), "\xC6"); // windows-1251 Zhe
    EXPECT_EQ(DecryptBranchText(Base64Decode(s.FirstChild().Text()), "\xC6"), "<c/>\r\n");
}

TEST_F(DocumentWriterTest, BranchWithoutMemoGetsItsEncipheredMemoLast) {
    TDomDocument doc;
    doc.LoadXML("<r><n title=\"t\" password=\"p\" encryption=\"e\" z=\"1\"/></r>");
    const std::string before = Snapshot(doc.DocumentElement());
    std::string text = DocumentToText(doc.DocumentElement());
    EXPECT_EQ(Snapshot(doc.DocumentElement()), before);
    TDomDocument saved;
    saved.LoadBytes(text, "saved");
    TDomNode s = saved.DocumentElement().FirstChild();
    EXPECT_EQ(AttributeNames(s), (std::vector<std::string>{"title", "encryption", "z", "memo"}));
    EXPECT_EQ(MemoAccess.Read(s).size(), 8u); // salt alone
    EXPECT_NE(text.find("z=\"1\" memo=\""), std::string::npos);
    EXPECT_NE(text.find("\"/>\r\n</r>"), std::string::npos);
}

TEST_F(DocumentWriterTest, NestedEncryptedBranchUsesItsOwnPassword) {
    TDomDocument doc;
    doc.LoadXML(
        "<r><o title=\"outer\" memo=\"om\"><i title=\"inner\" memo=\"im\"><leaf title=\"l\"/></i></o></r>");
    TDomNode outer = doc.DocumentElement().FirstChild();
    SetBranchPassword(outer, "out");
    SetBranchPassword(outer.FirstChild(), "in");
    TDomDocument saved;
    saved.LoadBytes(DocumentToText(doc.DocumentElement()), "saved");
    TDomNode o = saved.DocumentElement().FirstChild();
    EXPECT_THROW(DecipherBranchElement(o, "in"), Exception);
    ASSERT_TRUE(DecipherBranchElement(o, "out"));
    TDomNode i = o.FirstChild();
    EXPECT_TRUE(IsBranchLocked(i));
    EXPECT_EQ(TitleAccess.Read(i), "inner");
    ASSERT_TRUE(DecipherBranchElement(i, "in"));
    EXPECT_EQ(MemoAccess.Read(i), "im");
    EXPECT_EQ(TitleAccess.Read(i.FirstChild()), "l");
}

TEST_F(DocumentWriterTest, FailureWhileEncipheringChangesNothing) {
    struct Case {
        std::string name, xml;
        std::string messagePart;
    };
    const Case cases[] = {
        {"memo outside the code page",
         "<r><n password=\"p\" encryption=\"e\" memo=\"\xE6\x97\xA5\"><c/></n></r>", "windows-1251"},
        {"password outside the code page",
         "<r><n password=\"\xE6\x97\xA5\" encryption=\"e\" memo=\"m\"/></r>", "windows-1251"},
        {"nested memo outside the code page",
         "<r><n password=\"p\" encryption=\"e\"><c password=\"q\" encryption=\"e\" "
         "memo=\"\xE2\x9C\x93\"/></n></r>",
         "windows-1251"},
        {"comment inside an encrypted branch", "<r><n password=\"p\" encryption=\"e\"><!-- c --></n></r>",
         "Unsupported NodeType"},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        doc.LoadXML(c.xml);
        const std::string before = Snapshot(doc.DocumentElement());
        try {
            DocumentToText(doc.DocumentElement());
            ADD_FAILURE() << c.name;
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find(c.messagePart), std::string::npos) << c.name << ": " << e.Message();
        }
        EXPECT_EQ(Snapshot(doc.DocumentElement()), before) << c.name;
    }
    // Bytes that are not UTF-8 can only come in through the API.
    TDomDocument doc;
    doc.LoadXML("<r><n password=\"p\" encryption=\"e\"/></r>");
    TDomNode n = doc.DocumentElement().FirstChild();
    n.SetAttribute("x", "bad\xC3");
    const std::string before = Snapshot(doc.DocumentElement());
    try {
        DocumentToText(doc.DocumentElement());
        ADD_FAILURE() << "invalid UTF-8 written";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Can not convert bad\\xC3 to UTF-8");
    }
    EXPECT_EQ(Snapshot(doc.DocumentElement()), before);
}

TEST_F(DocumentWriterTest, DeepNestingIsWritten) {
    constexpr int kDepth = 100000;
    std::string xml;
    for (int i = 0; i < kDepth; ++i) {
        xml += "<n t=\"" + std::to_string(i % 10) + "\">";
    }
    for (int i = 0; i < kDepth; ++i) {
        xml += "</n>";
    }
    TDomDocument doc;
    doc.LoadXML(xml);
    // Encrypt one branch near the top and one near the bottom.
    TDomNode n = doc.DocumentElement();
    for (int i = 0; i < kDepth - 2; ++i) {
        if (i == 3 || i == kDepth - 5) {
            SetBranchPassword(n, "p" + std::to_string(i));
        }
        n = n.FirstChild();
    }
    std::string text;
    ASSERT_NO_THROW(text = DocumentToText(doc.DocumentElement()));
    // Saved, the encrypted branches are locked; a locked payload is written between line breaks.
    std::string saved;
    {
        TDomDocument again;
        ASSERT_NO_THROW(again.LoadBytes(text, "deep"));
        saved = DocumentToText(again.DocumentElement());
    }
    TDomDocument third;
    third.LoadBytes(saved, "deep");
    EXPECT_TRUE(DocumentToText(third.DocumentElement()) == saved);
    EXPECT_TRUE(IsBranchLocked(third.DocumentElement().FirstChild().FirstChild().FirstChild()));
}

// A text beyond 32 MB is written into room sized by a first pass; the bytes must not change.
TEST_F(DocumentWriterTest, LargeDocumentIsWrittenExactly) {
    std::string expected = kDecl + "<ludex>\r\n";
    const std::string memo(200, 'm');
    for (int i = 0; expected.size() < (40u << 20); ++i) {
        expected += "<note title=\"" + std::to_string(i) + " \xD0\x96\" memo=\"" + memo + "&#xA;&lt;\"/>\r\n";
    }
    expected += "</ludex>";
    TDomDocument doc;
    doc.LoadBytes(expected, "large");
    EXPECT_TRUE(DocumentToText(doc.DocumentElement()) == expected);
}

// The writer collects output in a stage of 64 KiB; values that fill it exactly, overflow it by a
// byte or are many times its size (escapes growing them six-fold) must come out whole and in order.
TEST_F(DocumentWriterTest, ValuesAroundAndBeyondTheStageAreWrittenExactly) {
    for (size_t size : {65535u, 65536u, 65537u, 65536u * 5 + 3}) {
        const std::string plain(size, 'p');
        const std::string escaped(size / 2, '<');
        std::string expected = kDecl + "<ludex>\r\n";
        expected += "<note title=\"a\" memo=\"" + plain + "\"/>\r\n";
        expected += "<note title=\"b\" memo=\"" + EscapeText(escaped) + "\">\r\n";
        expected += "<note title=\"" + plain.substr(0, size - 40) + "\"/>\r\n</note>\r\n";
        expected += "</ludex>";
        TDomDocument doc;
        doc.LoadBytes(expected, "stage");
        EXPECT_TRUE(DocumentToText(doc.DocumentElement()) == expected) << size;
    }
}

using ludex::testing::ReadAll;
using ludex::testing::TempDir;

TEST_F(DocumentWriterTest, WriteTextFileReplacesAtomicallyAndKeepsPermissions) {
    TempDir dir;
    const std::string file = dir.File("doc.ldx");
    WriteTextFile(file, "first");
    EXPECT_EQ(ReadAll(file), "first");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    WriteTextFile(file, std::string("second\0x", 8));
    EXPECT_EQ(ReadAll(file), std::string("second\0x", 8));
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    const std::string missing = dir.File("no-such-folder/doc.ldx");
    try {
        WriteTextFile(missing, "x");
        FAIL() << "wrote into a missing folder";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
    }
    if (geteuid() != 0) { // root may write anywhere
        ASSERT_EQ(chmod(dir.File("").c_str(), 0500), 0);
        EXPECT_THROW(WriteTextFile(file, "third"), EInOutError);
        ASSERT_EQ(chmod(dir.File("").c_str(), 0700), 0);
        EXPECT_EQ(ReadAll(file), std::string("second\0x", 8));
    }
}

} // namespace
