// ludex-cli commands that write documents: resave, encrypt, decrypt.
#include "CliRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace ludex::test;

namespace {

// Runs the tool and expects the status; returns standard output.
std::string Expect(int status, const std::vector<std::string>& arguments) {
    const TCliResult r = RunCli(arguments);
    std::string shown;
    for (const auto& a : arguments) {
        shown += " '" + a + "'";
    }
    EXPECT_EQ(r.status, status) << shown << "\n" << r.err;
    return r.out;
}

TEST(CliWriteTest, ResavesInTheWritersForm) {
    TScratchFolder folder;
    const std::string original = ReadAll(DataFile("notes.ldx"));
    const std::string copy = folder.CopyData("notes.ldx");
    chmod(copy.c_str(), 0640);

    // A file already in the writer's form comes back byte for byte, to -o or in place.
    Expect(0, {"resave", copy, "-o", folder.Path("out.ldx")});
    EXPECT_EQ(ReadAll(folder.Path("out.ldx")), original);
    Expect(0, {"resave", copy});
    EXPECT_EQ(ReadAll(copy), original);
    struct stat info {};
    ASSERT_EQ(stat(copy.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u); // rewriting keeps the permissions

    // Other spellings of the same document are normalised.
    const std::string loose =
        folder.Write("loose.ldx", "<?xml version='1.0'?>\n<ludex   title='T'\n"
                                  "memo='a&#10;b'>  <note title=\"x\"></note>\n</ludex>\n");
    Expect(0, {"resave", loose});
    EXPECT_EQ(ReadAll(loose),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"T\" memo=\"a&#xA;b\">\r\n"
              "<note title=\"x\"/>\r\n</ludex>");

    // A locked branch is written as it is.
    const std::string locked = folder.CopyData("locked.ldx");
    Expect(0, {"resave", locked});
    EXPECT_EQ(ReadAll(locked), ReadAll(DataFile("locked.ldx")));
}

TEST(CliWriteTest, FailuresLeaveTheFileAlone) {
    TScratchFolder folder;
    const std::string comment = folder.CopyData("comment.ldx");
    const std::string malformed = folder.CopyData("malformed.ldx");
    const std::string notes = folder.CopyData("notes.ldx");
    const std::string pw = folder.Write("pw", "s3cret");
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string file;
        std::string err;
    } cases[] = {
        {{"resave", comment}, 1, comment, "Unsupported NodeType"},
        {{"resave", malformed}, 1, malformed, "malformed.ldx"},
        {{"encrypt", comment, "first", "--password-file", pw}, 1, comment, "Unsupported NodeType"},
        {{"encrypt", notes, "Nowhere", "--password-file", pw}, 3, notes, "Branch \"Nowhere\" not found"},
        {{"decrypt", notes, "#0", "--password-file", pw}, 3, notes, "is not encrypted"},
        {{"resave", notes, "-o", folder.Path("missing/out.ldx")}, 5, notes, "missing/out.ldx"},
    };
    for (const auto& c : cases) {
        const std::string before = ReadAll(c.file);
        const TCliResult r = RunCli(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments[0] << " " << c.file << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(c.file), before) << c.arguments[0] << " " << c.file;
    }
}

TEST(CliWriteTest, EncryptsAndDecryptsBranches) {
    TScratchFolder folder;
    const std::string original = ReadAll(DataFile("notes.ldx"));
    const std::string doc = folder.CopyData("notes.ldx");
    const std::string pw = folder.Write("pw", "p\xC3\xA4ss word\n"); // "päss word", windows-1252 holds it
    const std::string wrong = folder.Write("wrong", "pass word\n");

    Expect(0, {"encrypt", doc, "#0", "--password-file", pw});
    const std::string encrypted = ReadAll(doc);
    EXPECT_EQ(encrypted.find("Plans for the year"), std::string::npos); // the memo is enciphered
    EXPECT_EQ(encrypted.find("Alpha"), std::string::npos);              // and so are the sub-branches
    EXPECT_EQ(encrypted.find("password="), std::string::npos);
    EXPECT_NE(encrypted.find("encryption=\""), std::string::npos);
    EXPECT_EQ(Expect(0, {"tree", doc}),
              "Notebook\n  Projects [locked]\n  Projects\n  \xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80 "
              "\xE2\x9C\x93\n  Mixed\n    Under text\n  aardvark\n");
    EXPECT_EQ(Expect(3, {"cat", doc, "#0.0"}), "");
    EXPECT_EQ(Expect(4, {"cat", doc, "#0.0", "--password-file", wrong}), "");
    EXPECT_EQ(Expect(0, {"cat", doc, "#0.0", "--password-file", pw}), "a cat sat\nCat. CAT concatenate cat");
    EXPECT_EQ(Expect(0, {"cat", doc, "#0", "--password-file", pw}), "Plans for the year\nBudget: 12*3.5");
    Expect(3, {"encrypt", doc, "#0", "--password-file", pw}); // locked already

    // A wrong password changes nothing.
    Expect(4, {"decrypt", doc, "#0", "--password-file", wrong});
    EXPECT_EQ(ReadAll(doc), encrypted);

    // Decrypting to another file leaves the source as it is; the result is the original document.
    Expect(0, {"decrypt", doc, "#0", "--password-file", pw, "-o", folder.Path("plain.ldx")});
    EXPECT_EQ(ReadAll(doc), encrypted);
    EXPECT_EQ(ReadAll(folder.Path("plain.ldx")), original);
    Expect(0, {"decrypt", "--password-file", pw, doc, "#0"});
    EXPECT_EQ(ReadAll(doc), original);
}

TEST(CliWriteTest, NestsEncryptedBranches) {
    TScratchFolder folder;
    const std::string original = ReadAll(DataFile("notes.ldx"));
    const std::string doc = folder.CopyData("notes.ldx");
    const std::string outer = folder.Write("outer", "outer");
    const std::string inner = folder.Write("inner", "inner");

    Expect(0, {"encrypt", doc, "#0.0", "--password-file", inner});
    Expect(0, {"encrypt", doc, "#0", "--password-file", outer});
    EXPECT_EQ(Expect(0, {"export", doc, "--password-file", outer}),
              "Notebook\n  | Root memo\n  Projects\n    | Plans for the year\n    | Budget: 12*3.5\n"
              "    Alpha (locked)\n    Beta/Gamma\n      | slash & <title>\n  Projects\n    | second with "
              "the same title\n"
              "  \xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80 \xE2\x9C\x93\n    | "
              "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0: cat\n"
              "    | \xD1\x91\xD0\xB6 cat\n  Mixed\n    Under text\n      | # not a heading\n      |\n"
              "      | 1. not a list\ttab\n  aardvark\n");
    EXPECT_EQ(Expect(4, {"cat", doc, "#0.0", "--password-file", outer}), "");

    // Decrypting the inner branch needs the outer one opened with the same password: refused.
    Expect(4, {"decrypt", doc, "#0.0", "--password-file", inner});
    // Outer first, then inner: the original again.
    Expect(0, {"decrypt", doc, "#0", "--password-file", outer});
    EXPECT_NE(Expect(0, {"tree", doc}).find("\n    Alpha [locked]\n"), std::string::npos);
    Expect(0, {"decrypt", doc, "#0.0", "--password-file", inner});
    EXPECT_EQ(ReadAll(doc), original);
}

TEST(CliWriteTest, EncryptsUnderLockedBranchesWithTheirPassword) {
    TScratchFolder folder;
    const std::string doc = folder.CopyData("locked.ldx");
    const std::string s3 = folder.Write("s3", "s3cret");
    const std::string other = folder.Write("other", "other");

    // Vault opens with the same password; Inside gets it too, and Vault is enciphered again.
    Expect(0, {"encrypt", doc, "Vault/Inside", "--password-file", s3});
    EXPECT_EQ(Expect(0, {"tree", doc}), "Safe\n  Vault [locked]\n  Diary [locked]\n  Public\n");
    EXPECT_EQ(Expect(0, {"cat", doc, "Vault/Inside", "--password-file", s3}), "inner cat");
    EXPECT_EQ(Expect(0, {"export", doc, "--password-file", s3}),
              "Safe\n  Vault\n    | Secret memo\n    | line 2 caf\xC3\xA9\n    Inside\n      | inner cat\n"
              "    Nested (locked)\n  Diary\n    | dear diary\n  Public\n    | hello cat\n");
    // Under another password Vault stays closed.
    Expect(4, {"encrypt", doc, "Vault/Inside", "--password-file", other});

    // The whole document, root included, and back.
    const std::string plain = folder.CopyData("notes.ldx");
    Expect(0, {"encrypt", plain, "", "--password-file", other});
    EXPECT_EQ(Expect(0, {"tree", plain}), "Notebook [locked]\n");
    EXPECT_EQ(Expect(0, {"cat", plain, "Mixed/Under text", "--password-file", other}),
              "# not a heading\n\n1. not a list\ttab");
    Expect(0, {"decrypt", plain, "#", "--password-file", other});
    EXPECT_EQ(ReadAll(plain), ReadAll(DataFile("notes.ldx")));
}

TEST(CliWriteTest, UsesTheCodePageForMemosAndPasswords) {
    TScratchFolder folder;
    const std::string doc = folder.CopyData("notes.ldx");
    const std::string russian =
        folder.Write("pw", "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C"); // пароль
    const std::string latin = folder.Write("latin", "plain");

    // The compatible scheme. The memo is Cyrillic: windows-1252 cannot encipher it, nothing is written.
    const std::string before = ReadAll(doc);
    const TCliResult refused =
        RunCli({"encrypt", doc, "#2", "--password-file", latin, "--cipher", "compatible"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("windows-1252"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadAll(doc), before);

    Expect(2, {"encrypt", doc, "#2", "--password-file", russian, "--cipher",
               "compatible"}); // the password either
    Expect(0, {"encrypt", doc, "#2", "--password-file", russian, "--code-page", "windows-1251", "--cipher",
               "compatible"});
    EXPECT_EQ(Expect(0, {"cat", doc, "#2", "--password-file", russian, "--code-page", "windows-1251"}),
              "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0: cat\n\xD1\x91\xD0\xB6 cat");
    Expect(0, {"decrypt", doc, "#2", "--password-file", russian, "--code-page", "windows-1251"});
    EXPECT_EQ(ReadAll(doc), before);
}

} // namespace

// Nothing walks a document by recursion: a branch 50000 levels deep is listed, found, exported,
// rewritten and encrypted like any other.
TEST(CliWriteTest, HandlesDeepNesting) {
    constexpr size_t kDepth = 50000;
    TScratchFolder folder;
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"deep\" memo=\"\">";
    for (size_t i = 0; i < kDepth; ++i) {
        text += "<note title=\"n\">";
    }
    text += "<note title=\"bottom\" memo=\"found me\"/>";
    for (size_t i = 0; i < kDepth; ++i) {
        text += "</note>";
    }
    text += "</ludex>";
    const std::string doc = folder.Write("deep.ldx", text);
    const std::string pw = folder.Write("pw", "deep");

    std::string bottomPath = "#";
    for (size_t i = 0; i <= kDepth; ++i) {
        bottomPath += i == 0 ? "0" : ".0";
    }
    EXPECT_EQ(Expect(0, {"find", doc, "bottom", "--no-memos"}), bottomPath + "\ttitle\tbottom\n");
    EXPECT_NE(Expect(0, {"export", doc, "--format", "html"})
                  .find("<h6>bottom</h6>\n<pre class=\"memo\">\nfound me</pre>"),
              std::string::npos);

    Expect(0, {"resave", doc});
    const std::string rewritten = ReadAll(doc);
    EXPECT_NE(rewritten.find("<note title=\"n\">\r\n<note title=\"bottom\" memo=\"found me\"/>\r\n</note>"),
              std::string::npos);
    Expect(0, {"resave", doc});
    EXPECT_EQ(ReadAll(doc), rewritten);

    Expect(0, {"encrypt", doc, "#", "--password-file", pw});
    EXPECT_EQ(ReadAll(doc).find("bottom"), std::string::npos);
    EXPECT_NE(Expect(0, {"export", doc, "--format", "html", "--password-file", pw})
                  .find("<pre class=\"memo\">\nfound me</pre>"),
              std::string::npos);
    Expect(0, {"decrypt", doc, "", "--password-file", pw});
    EXPECT_EQ(ReadAll(doc), rewritten);
}
