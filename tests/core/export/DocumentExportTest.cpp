// The export of branches shared by the window and ludex-cli: what each format makes of markup,
// locked and unlocked encrypted branches, and when an export would reveal plain text.

#include "core/export/DocumentExport.h"

#include "core/document/BranchCipher.h"
#include "core/document/DomService.h"
#include "core/document/XMLNodeAccess.h"

#include <gtest/gtest.h>

#include <string>

using namespace ludex;

namespace {

TDomNode FindTitled(const TDomNode& root, std::string_view title) {
    TBranchWalk walk(root, TBranchOrder::File);
    for (bool more = true; more; more = walk.Next()) {
        if (walk.Current().title == title) {
            return walk.Current().element;
        }
    }
    return {};
}

// Markup in titles and memos comes out as text in every format, never as markup of the format.
TEST(DocumentExportTest, FormatsShowMarkupLiterally) {
    TDomDocument doc;
    doc.LoadXML(
        "<ludex title=\"A &lt;b&gt; &amp; &quot;q&quot;\" memo=\"&lt;script&gt;x='1'&lt;/script&gt;\">"
        "<note title=\"# not a heading *\" memo=\"1. no list&#xA;&#xA;- no item &amp;amp;\"/></ludex>");
    struct Case {
        TExportFormat format;
        std::string expected;
    };
    const Case cases[] = {
        {TExportFormat::Text, "A <b> & \"q\"\n  | <script>x='1'</script>\n  # not a heading *\n    | 1. no "
                              "list\n    |\n    | - no "
                              "item &amp;\n"},
        {TExportFormat::Markdown, "# A \\<b> & \"q\"\n\n\\<script>x='1'\\</script>\n\n## \\# not a heading "
                                  "*\n\n1\\. no list\n\n\\- no item \\&amp;\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExportText(doc.DocumentElement(), c.format, "page"), c.expected);
    }
    const std::string html = ExportText(doc.DocumentElement(), TExportFormat::Html, "<page> & 'x'");
    EXPECT_NE(html.find("<title>&lt;page&gt; &amp; &#39;x&#39;</title>"), std::string::npos) << html;
    EXPECT_NE(html.find("<h1>A &lt;b&gt; &amp; &quot;q&quot;</h1>"), std::string::npos) << html;
    EXPECT_NE(html.find("<pre class=\"memo\">\n&lt;script&gt;x=&#39;1&#39;&lt;/script&gt;</pre>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("<pre class=\"memo\">\n1. no list\n\n- no item &amp;amp;</pre>"), std::string::npos)
        << html;
    EXPECT_EQ(html.find("<script>"), std::string::npos) << html;
    EXPECT_EQ(html.find("<b>"), std::string::npos) << html;
}

// Markdown escapes what would be read as markup, and nothing else.
TEST(DocumentExportTest, MarkdownEscapesOnlyWhatWouldBeMarkup) {
    struct Case {
        std::string line, expected;
    };
    const Case cases[] = {
        {"a * b, 2 - 1 = 1, 50% & more, snake_case_name, C# and F#, x > y, a < 3, 1.5 kg, don't!",
         "a * b, 2 - 1 = 1, 50% & more, snake_case_name, C# and F#, x > y, a < 3, 1.5 kg, don't!"},
        {"2*3*4 and *it* and **b** and _u_ and ~~s~~",
         "2\\*3\\*4 and \\*it\\* and \\*\\*b\\*\\* and \\_u\\_ and \\~\\~s\\~\\~"},
        {"[a](b) `c` | d", "\\[a](b) \\`c\\` \\| d"},
        {"<b> </i> <!-- <?x &amp; &#38; &#x26; &T", "\\<b> \\</i> \\<!-- \\<?x \\&amp; \\&#38; \\&#x26; &T"},
        {"C:\\dir\\*.txt \\", "C:\\dir\\\\\\*.txt \\\\"}, // before punctuation and at the end only
        // the first character, where it opens a block
        {"# h", "\\# h"},
        {"#tag", "#tag"},
        {"####### seven", "####### seven"},
        {"> q", "\\> q"},
        {"- i", "\\- i"},
        {"-i", "-i"},
        {"+ i", "\\+ i"},
        {"* i", "\\* i"},
        {"---", "\\---"},
        {"===", "\\==="},
        {"***", "\\*\\*\\*"},
        {"_ _ _", "\\_ _ _"},
        {"~~~", "\\~\\~\\~"},
        {"1. i", "1\\. i"},
        {"12) i", "12\\) i"},
        {"2024.", "2024\\."},
        {"1234567890. no list", "1234567890. no list"},
        {"  - indented", "&#32;&#32;- indented"},
        {"\tcode", "&#9;code"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeMarkdown(c.line), c.expected) << c.line;
    }
    EXPECT_EQ(EscapeMarkdownHeading("Issue #"), "Issue \\#");
    EXPECT_EQ(EscapeMarkdownHeading("C#"), "C#");
}

// HTML keeps every blank and line break of a memo, so that columns stay lined up.
TEST(DocumentExportTest, HtmlKeepsBlanksAndLineBreaks) {
    TDomDocument doc;
    doc.LoadXML("<ludex title=\"T\" memo=\"&#xA;name   qty&#xD;&#xA;apple    3&#xA;&#xA;&#xA;&#x9;end  \"/>");
    const std::string html = ExportText(doc.DocumentElement(), TExportFormat::Html, "T");
    EXPECT_NE(html.find("<pre class=\"memo\">\n\nname   qty\napple    3\n\n\n\tend  </pre>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("white-space: pre-wrap"), std::string::npos) << html;
}

// A locked branch shows its title and the note, never its enciphered memo or payload, unless the
// opener unlocks it; then its deciphered sub-branches follow at their depths.
TEST(DocumentExportTest, LockedBranchesStayClosedUnlessOpened) {
    TDomDocument doc;
    doc.LoadXML("<ludex title=\"Root\"><note title=\"Vault\" memo=\"secret memo\"><note title=\"Inner\" "
                "memo=\"inner memo\"/></note><note title=\"After\"/></ludex>");
    const TDomNode vault = FindTitled(doc.DocumentElement(), "Vault");
    SetBranchPassword(vault, "pw");
    EncipherBranch(vault);
    ASSERT_TRUE(IsBranchLocked(vault));
    const std::string cipherMemo = MemoAccess.Read(vault);
    const std::string payload(vault.FirstChild().Text());

    const std::string closed = ExportText(doc.DocumentElement(), TExportFormat::Text, "");
    EXPECT_EQ(closed, "Root\n  Vault (locked)\n  After\n");
    int offered = 0;
    const std::string refused =
        ExportText(doc.DocumentElement(), TExportFormat::Html, "", [&](const TBranch& b) {
            ++offered;
            EXPECT_EQ(b.title, "Vault");
            return false;
        });
    EXPECT_EQ(offered, 1);
    EXPECT_NE(refused.find("<p class=\"locked\">(locked)</p>"), std::string::npos);
    for (const std::string& secret : {cipherMemo, payload}) {
        EXPECT_EQ(refused.find(secret), std::string::npos);
    }

    const std::string opened =
        ExportText(doc.DocumentElement(), TExportFormat::Text, "", [](const TBranch& b) {
            DecipherBranchElement(b.element, "pw");
            return true;
        });
    EXPECT_EQ(opened, "Root\n  Vault\n    | secret memo\n    Inner\n      | inner memo\n  After\n");
}

// A branch exported on its own starts at depth 0 and leaves its siblings and parent out.
TEST(DocumentExportTest, ExportOfOneBranch) {
    TDomDocument doc;
    doc.LoadXML("<ludex title=\"Root\"><note title=\"A\" memo=\"a\"><note title=\"A1\"/></note><note "
                "title=\"B\"/></ludex>");
    EXPECT_EQ(ExportText(FindTitled(doc.DocumentElement(), "A"), TExportFormat::Markdown, "A"),
              "# A\n\na\n\n## A1\n");
}

TEST(DocumentExportTest, RevealsEncryptedTextOnlyForUnlockedEncryptedBranches) {
    struct Case {
        const char* xml;
        const char* top; // the title of the exported branch
        bool reveals;
    };
    const Case cases[] = {
        {"<r title=\"r\"><n title=\"a\"/></r>", "r", false},
        // Locked: only its title is exported; what it holds is not looked at.
        {"<r title=\"r\"><n title=\"a\" encryption=\"x\">payload</n></r>", "r", false},
        {"<r title=\"r\"><n title=\"a\" encryption=\"x\" password=\"p\"/></r>", "r", true},
        {"<r title=\"r\"><n title=\"a\"><n title=\"b\" encryption=\"x\" password=\"p\"/></n></r>", "r", true},
        // Below the exported branch only.
        {"<r title=\"r\"><n title=\"a\"/><n title=\"b\" encryption=\"x\" password=\"p\"/></r>", "a", false},
        // Inside an unlocked encrypted branch, a plain branch is plain text of it.
        {"<r title=\"r\"><n title=\"a\" encryption=\"x\" password=\"p\"><n title=\"c\"/></n></r>", "c", true},
        {"<r title=\"r\" encryption=\"x\" password=\"p\"><n title=\"c\"/></r>", "c", true},
    };
    for (const Case& c : cases) {
        TDomDocument doc;
        doc.LoadXML(c.xml);
        const TDomNode top = FindTitled(doc.DocumentElement(), c.top);
        ASSERT_TRUE(top) << c.xml;
        EXPECT_EQ(ExportRevealsEncryptedText(top), c.reveals) << c.xml << " at " << c.top;
    }
}

} // namespace
