// ludex-cli in scripts: its version, standard input and output, ambiguous title paths, the exit
// statuses each command's help lists, and listings of very deep documents.
#include "CliRun.h"

#include <gtest/gtest.h>

using namespace ludex::test;

namespace {

const std::string kNotes = DataFile("notes.ldx");

std::string Shown(const std::vector<std::string>& arguments) {
    std::string shown;
    for (const auto& a : arguments) {
        shown += " '" + a + "'";
    }
    return shown;
}

TEST(CliScriptingTest, PrintsItsVersion) {
    const TCliResult r = RunCli({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ludex-cli 2.1.0\n");
    EXPECT_EQ(r.err, "");
}

TEST(CliScriptingTest, EveryCommandsHelpListsTheExitStatusesItCanEndWith) {
    const struct {
        const char* command;
        std::vector<int> statuses;
    } cases[] = {
        {"calc", {0, 1, 2, 5}},          {"tree", {0, 1, 2, 5}},   {"cat", {0, 1, 2, 3, 4, 5}},
        {"find", {0, 1, 2, 5}},          {"resave", {0, 1, 2, 5}}, {"encrypt", {0, 1, 2, 3, 4, 5}},
        {"decrypt", {0, 1, 2, 3, 4, 5}}, {"export", {0, 1, 2, 5}},
    };
    for (const auto& c : cases) {
        const TCliResult r = RunCli({c.command, "--help"});
        EXPECT_EQ(r.status, 0) << c.command;
        const size_t section = r.out.find("\nExit status:\n");
        ASSERT_NE(section, std::string::npos) << r.out;
        std::string listed;
        for (int status = 0; status <= 5; ++status) {
            if (r.out.find("\n  " + std::to_string(status) + "  ", section) != std::string::npos) {
                listed += std::to_string(status);
            }
        }
        std::string expected;
        for (int status : c.statuses) {
            expected += std::to_string(status);
        }
        EXPECT_EQ(listed, expected) << c.command << "\n" << r.out;
    }
}

TEST(CliScriptingTest, ReadsStandardInputAndWritesStandardOutputForDash) {
    TScratchFolder folder;
    const std::string notes = ReadAll(kNotes);
    const std::string copy = folder.CopyData("notes.ldx");
    const std::string pw = folder.Write("pw", "s3cret\n");
    const std::string treeOfNotes = RunCli({"tree", kNotes}).out;

    struct Case {
        std::vector<std::string> arguments;
        std::string input;
        int status;
        std::string out; // exact standard output
        std::string err; // a part of the one error line
    };
    const Case cases[] = {
        {{"tree", "-"}, notes, 0, treeOfNotes, ""},
        // notes.ldx is in the writer's form: written again it is the same bytes.
        {{"resave", "-"}, notes, 0, notes, ""},
        {{"resave", copy, "-o", "-"}, "", 0, notes, ""},
        {{"resave", "-", "-o", folder.Path("from-stdin.ldx")}, notes, 0, "", ""},
        {{"export", kNotes, "-o", "-"}, "", 0, RunCli({"export", kNotes}).out, ""},
        {{"cat", DataFile("locked.ldx"), "Vault", "--password-file", "-"},
         "s3cret\n",
         0,
         "Secret memo\nline 2 caf\xC3\xA9",
         ""},
        {{"cat", "-", "#0", "--password-file", "-"}, notes, 2, "", "Standard input can be read only once"},
        {{"cat", DataFile("locked.ldx"), "Vault", "--password-file", "-"},
         "\n",
         2,
         "",
         "Standard input holds an empty password"},
        {{"tree", "-"}, "<ludex", 1, "", "standard input"},
        {{"tree", "-"}, "", 1, "", "standard input"},
    };
    for (const Case& c : cases) {
        const TCliResult r = RunCli(c.arguments, "", c.input);
        EXPECT_EQ(r.status, c.status) << Shown(c.arguments) << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << Shown(c.arguments);
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "") << Shown(c.arguments);
        } else {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << Shown(c.arguments) << "\n" << r.err;
        }
    }
    EXPECT_EQ(ReadAll(copy), notes);
    EXPECT_EQ(ReadAll(folder.Path("from-stdin.ldx")), notes);

    // Encrypted through a pipe and decrypted through another, the document comes back unchanged.
    const TCliResult encrypted = RunCli({"encrypt", "-", "#0", "--password-file", pw}, "", notes);
    ASSERT_EQ(encrypted.status, 0) << encrypted.err;
    EXPECT_EQ(encrypted.out.find("Plans for the year"), std::string::npos);
    const TCliResult decrypted = RunCli({"decrypt", "-", "#0", "--password-file", pw}, "", encrypted.out);
    ASSERT_EQ(decrypted.status, 0) << decrypted.err;
    EXPECT_EQ(decrypted.out, notes);
}

TEST(CliScriptingTest, ATitleThatSeveralSiblingsCarryIsAnErrorNamingTheirIndexPaths) {
    TScratchFolder folder;
    const std::string doc = folder.Write(
        "same.ldx",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"Root\" memo=\"\">"
        "<note title=\"Same\" memo=\"one\"/><note title=\"Box\"><note title=\"a/b\" memo=\"slash\"/>"
        "<note title=\"In\" memo=\"first\"/><note title=\"In\" memo=\"second\"/>"
        "<note title=\"In\" memo=\"third\"/></note><note title=\"Same\" memo=\"two\"/></ludex>");
    const struct {
        std::string branch;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"Same", 3, "",
         "Branch \"Same\" is ambiguous below the root: 2 sibling branches carry this title (#0, #2)"},
        {"Box/In", 3, "",
         "Branch \"In\" is ambiguous below \"Box\": 3 sibling branches carry this title (#1.1, #1.2, #1.3)"},
        {"#2", 0, "two", ""},
        {"#1.3", 0, "third", ""},
        {"Box/a\\/b", 0, "slash", ""},
        {"Box/a/b", 3, "", "Branch \"a\" not found below \"Box\""},
    };
    for (const auto& c : cases) {
        const TCliResult r = RunCli({"cat", doc, c.branch});
        EXPECT_EQ(r.status, c.status) << c.branch << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << c.branch;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.branch << "\n" << r.err;
    }
    // Nothing is written when the branch is ambiguous.
    const std::string pw = folder.Write("pw", "pw");
    const std::string before = ReadAll(doc);
    EXPECT_EQ(RunCli({"encrypt", doc, "Same", "--password-file", pw}).status, 3);
    EXPECT_EQ(ReadAll(doc), before);
}

// A document 100 000 levels deep is listed and exported in output about as large as itself:
// indentation stops at level 32 and deeper levels carry their number.
TEST(CliScriptingTest, ListingsOfDeepDocumentsIndentOnlyDownToALimit) {
    constexpr size_t kDepth = 100000;
    TScratchFolder folder;
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"r\" memo=\"\">";
    for (size_t i = 1; i <= kDepth; ++i) {
        text += "<note title=\"n\">";
    }
    text += "<note title=\"bottom\" memo=\"m\"/>";
    for (size_t i = 1; i <= kDepth; ++i) {
        text += "</note>";
    }
    text += "</ludex>";
    const std::string doc = folder.Write("deep.ldx", text);

    const std::string deepest(64, ' ');
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"tree", doc}, std::vector<std::string>{"export", doc}}) {
        const TCliResult r = RunCli(arguments);
        ASSERT_EQ(r.status, 0) << Shown(arguments) << r.err;
        EXPECT_LT(r.out.size(), 100 * kDepth) << Shown(arguments);
        EXPECT_NE(
            r.out.find("\n" + std::string(62, ' ') + "n\n" + deepest + "n\n" + deepest + "(level 33) n\n"),
            std::string::npos)
            << Shown(arguments);
        EXPECT_NE(r.out.find("\n" + deepest + "(level 100001) bottom\n"), std::string::npos)
            << Shown(arguments);
    }
    const TCliResult html = RunCli({"export", doc, "--format", "html"});
    ASSERT_EQ(html.status, 0) << html.err;
    EXPECT_NE(html.out.find("<div class=\"branch\" style=\"margin-left: 64em\">\n<p class=\"level\">(level "
                            "100001)</p>\n<h6>bottom</h6>\n<pre class=\"memo\">\nm</pre>\n"),
              std::string::npos);
    EXPECT_EQ(html.out.find("margin-left: 66em"), std::string::npos);
}

} // namespace
