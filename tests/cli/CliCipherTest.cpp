// ludex-cli with both cipher schemes, under LANG=C (so the code page is windows-1252). New keys
// are derived at the full cost here, a few tenths of a second each, so the cases are few.
#include "CliRun.h"

#include <gtest/gtest.h>

using namespace ludex::test;

namespace {

const std::string kCyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"; // Привет
const std::string kCjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";                  // 日本語
const std::string kEmoji = "\xF0\x9F\x98\x80\xF0\x9F\x94\x91";                    // two emoji

std::string Document() {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"Doc\">\r\n"
           "<note title=\"cyrillic\" memo=\"" +
           kCyrillic +
           "&#xA;2\">\r\n<note title=\"child\" memo=\"c\"/>\r\n</note>\r\n<note title=\"cjk\" memo=\"" +
           kCjk + "\"/>\r\n<note title=\"emoji\" memo=\"" + kEmoji + " " + kCyrillic + "\"/>\r\n</ludex>";
}

std::string Tool(int status, const std::vector<std::string>& arguments) {
    const TCliResult r = RunCli(arguments);
    EXPECT_EQ(r.status, status) << arguments[0] << " " << arguments[2] << "\n" << r.err;
    return r.status == 0 ? r.out : r.err;
}

TEST(CliCipherTest, AnyTextRoundTripsAndTheCompatibleSchemeNeedsItsCodePage) {
    struct Case {
        std::string branch, memo, password;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"cyrillic", kCyrillic + "\n2", kCyrillic, {}}, // strong by default
        {"cjk", kCjk, kCjk, {"--cipher", "strong"}},
        {"emoji", kEmoji + " " + kCyrillic, kEmoji, {}},
        {"cyrillic", kCyrillic + "\n2", kCyrillic, {"--cipher", "compatible", "--code-page", "windows-1251"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.branch + (c.options.empty() ? "" : " " + c.options[1]));
        TScratchFolder folder;
        const std::string doc = folder.Write("doc.ldx", Document());
        const std::string pw = folder.Write("pw", c.password + "\n");
        std::vector<std::string> encrypt = {"encrypt", doc, c.branch, "--password-file", pw};
        encrypt.insert(encrypt.end(), c.options.begin(), c.options.end());
        Tool(0, encrypt);
        const std::string encrypted = ReadAll(doc);
        std::string stored = c.memo;
        if (const size_t lf = stored.find('\n'); lf != std::string::npos) {
            stored.replace(lf, 1, "&#xA;");
        }
        EXPECT_EQ(encrypted.find("memo=\"" + stored + "\""), std::string::npos) << "the memo is enciphered";
        if (c.branch == "cyrillic") {
            EXPECT_EQ(encrypted.find("\"child\""), std::string::npos) << "and so is its sub-branch";
        }
        EXPECT_NE(Tool(0, {"tree", doc}).find(c.branch + " [locked]"), std::string::npos);
        // Read back without naming the code page: a compatible branch records its own.
        EXPECT_EQ(Tool(0, {"cat", doc, c.branch, "--password-file", pw}), c.memo);
        Tool(0, {"decrypt", doc, c.branch, "--password-file", pw});
        EXPECT_EQ(ReadAll(doc), Document());
    }

    // Refused by the compatible scheme, with the field and the code page named and nothing
    // written: a password (usage) and a memo (the document) that windows-1252 cannot hold.
    TScratchFolder folder;
    const std::string doc = folder.Write("doc.ldx", Document());
    const std::string cjk = folder.Write("cjk", kCjk);
    const std::string latin = folder.Write("latin", "latin");
    const std::string password =
        Tool(2, {"encrypt", doc, "cjk", "--password-file", cjk, "--cipher", "compatible"});
    EXPECT_NE(password.find("The password holds a character that code page windows-1252"), std::string::npos);
    EXPECT_EQ(password.find(kCjk), std::string::npos) << "the password is never quoted";
    const std::string memo =
        Tool(1, {"encrypt", doc, "cjk", "--password-file", latin, "--cipher", "compatible"});
    EXPECT_NE(memo.find("The memo of branch \xE2\x80\x9C"
                        "cjk\xE2\x80\x9D"),
              std::string::npos)
        << memo;
    EXPECT_NE(memo.find("strong scheme"), std::string::npos) << memo;
    EXPECT_EQ(Tool(2, {"encrypt", doc, "cjk", "--password-file", latin, "--cipher", "weak"}),
              "Unknown cipher weak (strong or compatible)\n");
    EXPECT_EQ(ReadAll(doc), Document());
}

TEST(CliCipherTest, DamageIsReportedApartFromAWrongPasswordAndTheFileIsLeftAlone) {
    TScratchFolder folder;
    const std::string doc = folder.Write("doc.ldx", Document());
    const std::string pw = folder.Write("pw", "right");
    const std::string wrong = folder.Write("wrong", "wrong");
    Tool(0, {"encrypt", doc, "cyrillic", "--password-file", pw});
    // Written again as a locked branch, and from then on byte for byte.
    Tool(0, {"resave", doc});
    const std::string locked = ReadAll(doc);
    Tool(0, {"resave", doc});
    ASSERT_EQ(ReadAll(doc), locked);

    // One character of the enciphered memo changed: the memo's Base64 follows `memo="`.
    const size_t at = locked.find("memo=\"", locked.find("title=\"cyrillic\"")) + 6 + 20;
    std::string damaged = locked;
    damaged[at] = damaged[at] == 'A' ? 'B' : 'A';
    folder.Write("doc.ldx", damaged);
    EXPECT_EQ(Tool(4, {"cat", doc, "cyrillic", "--password-file", wrong}), "Incorrect password\n");
    const std::string message = Tool(1, {"decrypt", doc, "cyrillic", "--password-file", pw});
    EXPECT_EQ(message, "The encrypted content of branch \xE2\x80\x9C"
                       "cyrillic\xE2\x80\x9D is damaged and cannot be "
                       "deciphered. Nothing was changed.\n");
    EXPECT_EQ(ReadAll(doc), damaged);
}

// A stored key cost beyond four times the present one (here 9 passes over 8 KiB, cheap to run
// but over the limit) is derived only with --allow-costly-key; without it nothing is derived.
TEST(CliCipherTest, ACostlyKeyIsDerivedOnlyWhenAllowed) {
    TScratchFolder folder;
    const std::string doc = folder.Write(
        "doc.ldx", "<ludex title=\"Doc\"><note title=\"vault\" memo=\"AAAA\" "
                   "encryption=\"$ludex-strong$v=2$argon2id$m=8,t=9,p=1$c2FsdHNhbHRzYWx0c2FsdA==$"
                   "Y2hlY2tjaGVja2NoZWNrIQ==\">AAAA</note></ludex>");
    const std::string pw = folder.Write("pw", "guess");
    const std::string refused =
        "Branch \"vault\" was not opened: its key derivation asks for 8 KiB of memory";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string err;
    } cases[] = {
        {{"cat", doc, "vault", "--password-file", pw}, 3, refused},
        {{"find", doc, "x", "--password-file", pw}, 3, refused},
        {{"export", doc, "--password-file", pw}, 3, refused},
        {{"decrypt", doc, "vault", "--password-file", pw}, 3, refused},
        {{"cat", doc, "vault", "--password-file", pw, "--allow-costly-key"}, 4, "Incorrect password"},
        {{"decrypt", doc, "vault", "--password-file", pw, "--allow-costly-key"}, 4, "Incorrect password"},
    };
    for (const auto& c : cases) {
        const TCliResult r = RunCli(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments[0];
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    }
}

} // namespace
