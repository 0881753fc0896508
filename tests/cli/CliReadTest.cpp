// ludex-cli commands that only read: usage, calc, tree, cat, find, export.
#include "CliRun.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace ludex::test;

namespace {

struct RunCase {
    std::vector<std::string> arguments;
    int status;
    std::string out; // the exact standard output
    std::string err; // a text the standard error must contain ("" when it must be empty)
};

void Check(const std::vector<RunCase>& cases) {
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.arguments) {
            shown += " '" + a + "'";
        }
        const TCliResult r = RunCli(c.arguments);
        EXPECT_EQ(r.status, c.status) << shown << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << shown;
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "") << shown;
        } else {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << shown << "\n" << r.err;
            // One line only.
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << shown << "\n" << r.err;
        }
    }
}

const std::string kNotes = DataFile("notes.ldx");
const std::string kLocked = DataFile("locked.ldx");

TEST(CliReadTest, RefusesWrongUsage) {
    Check({
        {{}, 2, "", "No command"},
        {{"frobnicate"}, 2, "", "Unknown command frobnicate"},
        {{"tree"}, 2, "", "Expected ludex-cli tree FILE"},
        {{"tree", kNotes, "extra"}, 2, "", "Expected ludex-cli tree FILE"},
        {{"tree", kNotes, "--sorted", "--sorted"}, 2, "", "--sorted is given twice"},
        {{"tree", kNotes, "--bogus"}, 2, "", "Unknown option --bogus"},
        {{"tree", kNotes, "-x"}, 2, "", "Unknown option -x"},
        {{"tree", kNotes, "--3"}, 2, "", "Unknown option --3"}, // only an expression takes a sign
        {{"cat", kNotes, "Projects", "--password-file"}, 2, "", "--password-file needs a value"},
        {{"calc"}, 2, "", "Expected ludex-cli calc EXPRESSION"},
        {{"calc", "2", "+", "3"}, 2, "", "Expected ludex-cli calc EXPRESSION"},
        {{"export", kNotes, "--format", "pdf"}, 2, "", "Unknown export format pdf"},
        {{"tree", kNotes, "--code-page", "no-such-page"}, 2, "", "no-such-page"},
        {{"tree", kNotes, "--code-page", "IBM037"}, 2, "", "Code page IBM037 cannot be used"},
        {{"cat", kNotes, "#0.x"}, 2, "", "Malformed branch index path #0.x"},
        {{"cat", kNotes, "#0..1"}, 2, "", "Malformed branch index path"},
        {{"cat", kNotes, "#-1"}, 2, "", "Malformed branch index path"},
        {{"encrypt", kNotes, "Projects"}, 2, "", "needs --password-file"},
    });
}

TEST(CliReadTest, PrintsHelp) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"--help"}, {"help"}, {"-h"}}) {
        const TCliResult r = RunCli(arguments);
        EXPECT_EQ(r.status, 0);
        for (const char* command :
             {"calc", "tree", "cat", "find", "resave", "encrypt", "decrypt", "export"}) {
            EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
        }
    }
    const TCliResult r = RunCli({"find", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: ludex-cli find FILE TEXT", 0), 0u) << r.out;
}

TEST(CliReadTest, Calculates) {
    Check({
        {{"calc", "12*3.5"}, 0, "42\n", ""},
        {{"calc", "2 * (3 + 4)"}, 0, "14\n", ""},
        {{"calc", "-(2+3)"}, 0, "-5\n", ""}, // a leading sign is no option
        {{"calc", "-SIN(1)"}, 0, "-0.841470984807897\n", ""},
        {{"calc", "--", "-2"}, 0, "-2\n", ""},
        {{"calc", "--3"}, 0, "3\n", ""}, // the first minus is the expression's sign
        {{"calc", "--.5"}, 0, "0.5\n", ""},
        {{"calc", "--(1+2)"}, 1, "", "Syntax error"}, // the evaluator's answer: no sign before "("
        {{"calc", "--x"}, 2, "", "Unknown option --x for calc"},
        {{"calc", "1/3"}, 0, "0.333333333333333\n", ""},
        {{"calc", "PI"}, 0, "3.14159265358979\n", ""},
        {{"calc", "1.5E-7"}, 0, "1.5E-7\n", ""},
        {{"calc", "$FFFFFFFF"}, 0, "-1\n", ""},
        {{"calc", "2,5"}, 1, "", "Syntax error"}, // "." is the decimal point here
        {{"calc", "1/0"}, 1, "", "Divide by zero"},
        {{"calc", "(2"}, 1, "", "Invalid condition (no cramp)"},
        {{"calc", "LN(0)"}, 1, "", "Invalid floating operation"},
        {{"calc", ""}, 1, "", "Syntax error"},
        {{"calc", "1E4000*1E4000"}, 1, "", "Floating point overflow"},
        {{"calc", "0^(0-1)"}, 1, "", "Floating point division by zero"},
        {{"calc", "10^-5000"}, 1, "", "Floating point overflow"},
        {{"calc", "1/" + std::string(300, '(') + "1" + std::string(300, ')')},
         1,
         "",
         "The expression is nested more than 256 levels deep"},
    });
}

TEST(CliReadTest, ListsTheTree) {
    Check({
        {{"tree", kNotes},
         0,
         "Notebook\n  Projects\n    Alpha\n    Beta/Gamma\n  Projects\n  "
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5"
         "\xD1\x80 \xE2\x9C\x93\n  Mixed\n    Under text\n  aardvark\n",
         ""},
        // Branches with sub-branches first, then titles without regard to ASCII case.
        {{"--sorted", "tree", kNotes}, 2, "", "Unknown command --sorted"},
        {{"tree", "--sorted", kNotes},
         0,
         "Notebook\n  Mixed\n    Under text\n  Projects\n    Alpha\n    Beta/Gamma\n  aardvark\n  Projects\n"
         "  \xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80 \xE2\x9C\x93\n",
         ""},
        {{"tree", kLocked}, 0, "Safe\n  Vault [locked]\n  Diary [locked]\n  Public\n", ""},
        // A locked branch with a payload counts as having sub-branches.
        {{"tree", kLocked, "--sorted"}, 0, "Safe\n  Vault [locked]\n  Diary [locked]\n  Public\n", ""},
        {{"tree", DataFile("locked1251.ldx")},
         0,
         "\xD0\x9A\xD0\xBE\xD1\x80\xD0\xB5\xD0\xBD\xD1\x8C [locked]\n",
         ""},
        {{"tree", DataFile("comment.ldx")}, 0, "With comment\n  first\n  second\n", ""},
        {{"tree", DataFile("malformed.ldx")}, 1, "", "malformed.ldx"},
        {{"tree", DataFile("no-such-file.ldx")}, 5, "", "no-such-file.ldx"},
    });
}

TEST(CliReadTest, PrintsMemosExactly) {
    TScratchFolder folder;
    const std::string right = folder.Write("right", "s3cret\r\nsecond line ignored\n");
    const std::string wrong = folder.Write("wrong", "guess\n");
    const std::string other = folder.Write("other", "other");
    Check({
        {{"cat", kNotes, ""}, 0, "Root memo", ""},
        {{"cat", kNotes, "#"}, 0, "Root memo", ""},
        // Two sibling branches carry the title "Projects": a title path cannot choose between them.
        {{"cat", kNotes, "Projects"},
         3,
         "",
         "Branch \"Projects\" is ambiguous below the root: 2 sibling branches carry this title (#0, #1)"},
        {{"cat", kNotes, "#0"}, 0, "Plans for the year\nBudget: 12*3.5", ""},
        {{"cat", kNotes, "#1"}, 0, "second with the same title", ""},
        {{"cat", kNotes, "Projects/Alpha"}, 3, "", "Branch \"Projects\" is ambiguous below the root"},
        {{"cat", kNotes, "#0.0"}, 0, "a cat sat\nCat. CAT concatenate cat", ""},
        {{"cat", kNotes, "#3.0"}, 0, "# not a heading\n\n1. not a list\ttab", ""}, // text nodes do not count
        {{"cat", kNotes, "Mixed/Under text"}, 0, "# not a heading\n\n1. not a list\ttab", ""},
        {{"cat", kNotes, "aardvark"}, 0, "", ""}, // no memo attribute
        {{"cat", kNotes, "Pr\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80"}, 3, "", "not found"},
        {{"cat", kNotes, "projects"}, 3, "", "Branch \"projects\" not found below the root"},
        {{"cat", kNotes, "#9"}, 3, "", "Branch #9 not found"},
        {{"cat", kNotes, "#0.0.0"}, 3, "", "Branch #0.0.0 not found"},
        {{"cat", kLocked, "Public"}, 0, "hello cat", ""},
        {{"cat", kLocked, "Vault"}, 3, "", "Branch \"Vault\" is locked"},
        {{"cat", kLocked, "Vault/Inside"}, 3, "", "Branch \"Vault\" is locked"},
        {{"cat", kLocked, "#0.0"}, 3, "", "Branch #0 is locked"},
        {{"cat", kLocked, "Vault", "--password-file", wrong}, 4, "", "Incorrect password"},
        {{"cat", kLocked, "Vault", "--password-file", right}, 0, "Secret memo\nline 2 caf\xC3\xA9", ""},
        {{"cat", "--password-file", right, kLocked, "Diary"}, 0, "dear diary", ""}, // a locked leaf
        {{"cat", kLocked, "Vault/Inside", "--password-file", right}, 0, "inner cat", ""},
        {{"cat", kLocked, "#0.0", "--password-file", right}, 0, "inner cat", ""},
        // The inner branch has a password of its own.
        {{"cat", kLocked, "Vault/Nested", "--password-file", right}, 4, "", "Incorrect password"},
        {{"cat", kLocked, "Vault/Nested", "--password-file", other}, 4, "", "Incorrect password"},
        {{"cat", kLocked, "Public", "--password-file", folder.Path("missing")}, 5, "", "missing"},
        {{"cat", DataFile("damaged.ldx"), "Broken", "--password-file", right},
         1,
         "",
         "Uneven size in DecodeToStream."},
    });
}

// Text that is not XML is refused with its position, never read in part; a "password" stored in
// a file never unlocks its branch.
TEST(CliReadTest, RefusesMalformedDocumentsAndStoredPasswords) {
    TScratchFolder folder;
    const std::string nul =
        folder.Write("nul.ldx", "<?xml version=\"1.0\"?>\r\n<ludex title=\"a&#0;b\" memo=\"\"/>");
    const std::string entity = folder.Write("entity.ldx", "<ludex title=\"t\" memo=\"&foo;\"/>");
    const std::string stored =
        folder.Write("stored.ldx", "<ludex title=\"t\" memo=\"\"><n title=\"V\" memo=\"QUJD\" "
                                   "encryption=\"x\" password=\"p\"/></ludex>");
    Check({
        {{"cat", nul, ""},
         1,
         "",
         "nul.ldx\", line 2, column 16: character reference to an invalid character (U+0000)"},
        {{"cat", entity, ""}, 1, "", "entity.ldx\", line 1, column 24: undefined entity \"&foo;\""},
        {{"cat", stored, "V"}, 3, "", "Branch \"V\" is locked"},
    });
}

TEST(CliReadTest, ConvertsPasswordsToTheCodePage) {
    TScratchFolder folder;
    const std::string russian =
        folder.Write("pw", "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C\n"); // пароль
    const std::string invalid = folder.Write("bad", "\xFF\xFE\n");
    const std::string empty = folder.Write("empty", "\nsecond");
    const std::string marked =
        folder.Write("marked", "\xEF\xBB\xBF\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C\r\n");
    const std::string file = DataFile("locked1251.ldx");
    Check({
        {{"cat", file, "", "--password-file", russian, "--code-page", "windows-1251"},
         0,
         "\xD0\xA1\xD0\xB5\xD0\xBA\xD1\x80\xD0\xB5\xD1\x82",
         ""}, // Секрет
        {{"cat", file, "\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82", "--code-page=windows-1251", "--password-file",
          russian},
         0,
         "\xD1\x82\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82",
         ""}, // Лист: текст
        {{"cat", file, "", "--password-file", marked, "--code-page", "windows-1251"},
         0,
         "\xD0\xA1\xD0\xB5\xD0\xBA\xD1\x80\xD0\xB5\xD1\x82",
         ""}, // a byte-order mark is skipped
        {{"cat", file, "", "--password-file", russian}, 2, "", "windows-1252"}, // cannot hold Cyrillic
        {{"cat", file, "", "--password-file", russian, "--code-page", "koi8-r"}, 4, "", "Incorrect password"},
        {{"cat", file, "", "--password-file", invalid}, 2, "", "UTF-8"},
        {{"cat", file, "", "--password-file", empty}, 2, "", "empty password"},
        {{"cat", file, ""}, 3, "", "The root branch is locked"},
    });
}

TEST(CliReadTest, ReportsOutputThatCannotBeWritten) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    const TCliResult r = RunCli({"cat", kNotes, ""}, "/dev/full");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "Cannot write to standard output\n");
}

TEST(CliReadTest, FindsInWindowOrder) {
    const std::string alpha = "\tAlpha\n";
    const std::string example = "\t\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80 \xE2\x9C\x93\n";
    Check({
        {{"find", kNotes, "cat"},
         0,
         "#0.0\tmemo:3" + alpha + "#0.0\tmemo:11" + alpha + "#0.0\tmemo:16" + alpha + "#0.0\tmemo:23" +
             alpha + "#0.0\tmemo:32" + alpha + "#2\tmemo:7" + example + "#2\tmemo:14" + example,
         ""},
        {{"find", kNotes, "cat", "--match-case"},
         0,
         "#0.0\tmemo:3" + alpha + "#0.0\tmemo:23" + alpha + "#0.0\tmemo:32" + alpha + "#2\tmemo:7" + example +
             "#2\tmemo:14" + example,
         ""},
        // Whole phrase: every occurrence between word boundaries ("Cat." too), none inside a word.
        {{"find", kNotes, "cat", "--whole-phrase"},
         0,
         "#0.0\tmemo:3" + alpha + "#0.0\tmemo:11" + alpha + "#0.0\tmemo:16" + alpha + "#0.0\tmemo:32" +
             alpha + "#2\tmemo:7" + example + "#2\tmemo:14" + example,
         ""},
        {{"find", kNotes, "projects"}, 0, "#0\ttitle\tProjects\n#1\ttitle\tProjects\n", ""},
        // In the window's order "Mixed" (#3, with "Under text") comes before "Projects" (#0), both
        // having sub-branches, although the file has them the other way round.
        {{"find", kNotes, "t", "--no-memos", "--match-case"},
         0,
         "#\ttitle\tNotebook\n#3.0\ttitle\tUnder text\n#0\ttitle\tProjects\n#0.1\ttitle\tBeta/Gamma\n"
         "#1\ttitle\tProjects\n",
         ""},
        {{"find", kNotes, "projects", "--no-titles"}, 0, "", ""},
        {{"find", kNotes, "PROJ", "--match-case"}, 0, "", ""},
        {{"find", kNotes, "a", "--no-memos", "--match-case"},
         0,
         "#0.0\ttitle\tAlpha\n#0.1\ttitle\tBeta/Gamma\n#4\ttitle\taardvark\n",
         ""},
        {{"find", kNotes, "root"}, 0, "#\tmemo:1\tNotebook\n", ""},
        {{"find", kNotes, "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0"}, 0, "#2\tmemo:1" + example, ""}, // Ёлка
        {{"find", kNotes, "\xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0"}, 0, "#2\tmemo:1" + example, ""}, // ёлка
        {{"find", kNotes, "\xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0", "--match-case"}, 0, "", ""},
        // Regular expressions: the same matches as the plain text where they mean the same.
        {{"find", kNotes, "c.t", "--regex", "--match-case"},
         0,
         "#0.0\tmemo:3" + alpha + "#0.0\tmemo:23" + alpha + "#0.0\tmemo:32" + alpha + "#2\tmemo:7" + example +
             "#2\tmemo:14" + example,
         ""},
        {{"find", kNotes, "^proj\\w+$", "--regex", "--no-memos"},
         0,
         "#0\ttitle\tProjects\n#1\ttitle\tProjects\n",
         ""},
        {{"find", kNotes, "(ab", "--regex"}, 1, "", "not valid at character 4: missing closing parenthesis"},
        {{"find", kNotes, "aa"}, 0, "#4\ttitle\taardvark\n", ""},
        {{"find", kNotes, ""}, 0, "", ""}, // an empty text matches nowhere
        // A locked branch is searched by its title only, and nothing below it.
        {{"find", kLocked, "cat"}, 0, "#2\tmemo:7\tPublic\n", ""},
        {{"find", kLocked, "a"},
         0,
         "#\ttitle\tSafe\n#0\ttitle\tVault\n#1\ttitle\tDiary\n#2\tmemo:8\tPublic\n",
         ""},
    });
}

TEST(CliReadTest, FindsInsideLockedBranchesThePasswordOpens) {
    TScratchFolder folder;
    const std::string right = folder.Write("right", "s3cret");
    const std::string wrong = folder.Write("wrong", "nope");
    Check({
        // "Nested" comes first in "Vault" (it has a payload) but has a password of its own.
        {{"find", kLocked, "cat", "--password-file", right},
         0,
         "#0.0\tmemo:7\tInside\n#2\tmemo:7\tPublic\n",
         ""},
        {{"find", kLocked, "a", "--password-file", right},
         0,
         "#\ttitle\tSafe\n#0\ttitle\tVault\n#0\tmemo:21\tVault\n#0.0\tmemo:8\tInside\n#1\ttitle\tDiary\n"
         "#1\tmemo:3\tDiary\n#1\tmemo:8\tDiary\n#2\tmemo:8\tPublic\n",
         ""},
        {{"find", kLocked, "cat", "--password-file", wrong}, 0, "#2\tmemo:7\tPublic\n", ""},
        {{"find", kLocked, "cat", "--password-file", folder.Path("missing")}, 5, "", "missing"},
    });
    // The file itself is left as it was: nothing deciphered is ever written.
    EXPECT_EQ(RunCli({"find", kLocked, "cat"}).out, "#2\tmemo:7\tPublic\n");
}

TEST(CliReadTest, Exports) {
    TScratchFolder folder;
    const std::string right = folder.Write("right", "s3cret");
    const std::string doc = folder.Write(
        "doc.ldx", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                   "<ludex title=\"A &lt;b&gt; &amp; *c*\" memo=\"one&#xA;two&#xA;&#xA;- three\">\r\n"
                   "<note title=\"# x\" memo=\"  indented\"/>\r\n"
                   "<note title=\"L1\"><note title=\"L2\"><note title=\"L3\"><note title=\"L4\">"
                   "<note title=\"L5\"><note title=\"L6\" memo=\"deep\"/></note></note></note>"
                   "</note></note>\r\n"
                   "</ludex>");
    Check({
        {{"export", doc},
         0,
         "A <b> & *c*\n  | one\n  | two\n  |\n  | - three\n  # x\n    |   indented\n  L1\n    L2\n      L3\n "
         "       L4\n"
         "          L5\n            L6\n              | deep\n",
         ""},
        {{"export", doc, "--format", "markdown"},
         0,
         "# A \\<b> & \\*c\\*\n\none\\\ntwo\n\n\\- three\n\n## \\# x\n\n&#32;&#32;indented\n\n## "
         "L1\n\n### L2\n\n"
         "#### L3\n\n##### L4\n\n###### L5\n\n###### L6\n\ndeep\n",
         ""},
        {{"export", kLocked}, 0, "Safe\n  Vault (locked)\n  Diary (locked)\n  Public\n    | hello cat\n", ""},
        {{"export", kLocked, "--password-file", right},
         0,
         "Safe\n  Vault\n    | Secret memo\n    | line 2 caf\xC3\xA9\n    Inside\n      | inner cat\n    "
         "Nested (locked)\n"
         "  Diary\n    | dear diary\n  Public\n    | hello cat\n",
         ""},
        {{"export", kLocked, "--format=markdown"},
         0,
         "# Safe\n\n## Vault\n\n(locked)\n\n## Diary\n\n(locked)\n\n## Public\n\nhello cat\n",
         ""},
        {{"export", DataFile("damaged.ldx"), "--password-file", right}, 1, "", "Uneven size"},
    });

    const TCliResult html = RunCli({"export", doc, "--format", "html"});
    EXPECT_EQ(html.status, 0);
    EXPECT_EQ(html.out.rfind("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                             "<title>A &lt;b&gt; &amp; *c*</title>\n",
                             0),
              0u)
        << html.out;
    for (const char* part :
         {"<h1>A &lt;b&gt; &amp; *c*</h1>\n<pre class=\"memo\">\none\ntwo\n\n- three</pre>\n",
          "<h2># x</h2>\n<pre class=\"memo\">\n  indented</pre>\n", "<h6>L5</h6>",
          "<h6>L6</h6>\n<pre class=\"memo\">\ndeep</pre>\n"}) {
        EXPECT_NE(html.out.find(part), std::string::npos) << part << "\n" << html.out;
    }
    EXPECT_EQ(html.out.substr(html.out.size() - 16), "</body>\n</html>\n");

    const TCliResult locked = RunCli({"export", kLocked, "--format", "html"});
    EXPECT_NE(locked.out.find("<h2>Vault</h2>\n<p class=\"locked\">(locked)</p>"), std::string::npos)
        << locked.out;

    // -o writes the file instead of standard output.
    const TCliResult toFile =
        RunCli({"export", kNotes, "-o", folder.Path("notes.md"), "--format", "markdown"});
    EXPECT_EQ(toFile.status, 0);
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadAll(folder.Path("notes.md")).rfind("# Notebook\n\nRoot memo\n\n## Projects\n", 0), 0u);
    EXPECT_EQ(RunCli({"export", kNotes, "-o", folder.Path("no/such/folder/x.txt")}).status, 5);
}

} // namespace
