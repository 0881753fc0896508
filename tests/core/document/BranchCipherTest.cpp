#include "core/document/BranchCipher.h"

#include "core/crypto/Cipher.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"

#include "support/ErrorText.h"

#include <gtest/gtest.h>

#include <functional>

using namespace ludex;

namespace {

const std::string kDataDir = std::string(LUDEX_TEST_DATA_DIR) + "/document/";
const std::string kOuterPassword = "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C"
                                   "1"; // "parol'1" in Cyrillic

class BranchCipherTest : public ::testing::Test {
protected:
    void SetUp() override { SetCurrentCodePage("windows-1251"); }
};

TEST_F(BranchCipherTest, CheckBranchPassword) {
    TDomDocument doc;
    doc.LoadXML("<r><plain/><n/></r>");
    TDomNode plain = doc.DocumentElement().FirstChild();
    TDomNode n = plain.NextSibling();
    SetBranchPassword(n, "secret");
    EXPECT_EQ(ludex::testing::ErrorOf([&] { CheckBranchPassword(plain, "x"); }), "The node is not encrypted");
    struct Case {
        std::string password;
        bool right;
    };
    const Case cases[] = {
        {"secret", true}, {"Secret", false}, {"", false}, {"secret ", false}, {"\xE6\x97\xA5", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(CheckBranchPassword(n, c.password), c.right) << c.password;
    }
    EXPECT_EQ(EncryptionAccess.Read(n), PasswordDigest("secret"));
    EXPECT_EQ(BranchPasswordDigest("\xD0\x96"), PasswordDigest("\xC6")); // code-page bytes are digested
}

TEST_F(BranchCipherTest, SetBranchPassword) {
    TDomDocument doc;
    doc.LoadXML("<r><n title=\"t\"/><locked encryption=\"e\"/></r>");
    TDomNode n = doc.DocumentElement().FirstChild();
    SetBranchPassword(n, "a");
    EXPECT_TRUE(IsBranchEncrypted(n));
    EXPECT_FALSE(IsBranchLocked(n));
    SetBranchPassword(n, "b");
    EXPECT_TRUE(CheckBranchPassword(n, "b"));
    EXPECT_EQ(PasswordAccess.Read(n), "b");
    SetBranchPassword(n, "");
    EXPECT_EQ(n.XML(), "<n title=\"t\"/>");
    EXPECT_THROW(SetBranchPassword(n, "\xE6\x97\xA5"), ECodePage);
    EXPECT_FALSE(IsBranchEncrypted(n));
    EXPECT_THROW(SetBranchPassword(n.NextSibling(), "x"), Exception);
}

// The data file was enciphered by an implementation written independently from the cipher's definition.
TEST_F(BranchCipherTest, UnlocksTheBranchesOfAStoredFile) {
    TDomDocument doc;
    doc.Load(kDataDir + "encrypted.ldx");
    TDomNode secret = doc.DocumentElement().FirstChild();
    ASSERT_TRUE(IsBranchLocked(secret));
    ASSERT_TRUE(CheckBranchPassword(secret, kOuterPassword));
    ASSERT_TRUE(DecipherBranchElement(secret, kOuterPassword));
    EXPECT_EQ(MemoAccess.Read(secret), "\xD0\xA2\xD0\xB0\xD0\xB9\xD0\xBD\xD0\xB0: 17 < 42\n2-\xD1\x8F "
                                       "\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0");
    EXPECT_EQ(PasswordAccess.Read(secret), kOuterPassword);
    ASSERT_EQ(secret.ChildCount(), 2u);
    TDomNode plain = secret.FirstChild();
    EXPECT_EQ(plain.XML(), "<note title=\"Plain child\" memo=\"tab&#09;here\"/>");
    TDomNode inner = plain.NextSibling();
    EXPECT_TRUE(IsBranchLocked(inner));
    ASSERT_TRUE(DecipherBranchElement(inner, "inner"));
    EXPECT_EQ(MemoAccess.Read(inner), "\xD0\x92\xD0\xBD\xD1\x83\xD1\x82\xD1\x80\xD0\xB8");
    EXPECT_EQ(inner.FirstChild().XML(), "<note title=\"Leaf \xE2\x9C\x93\" memo=\"deep&#10;text\"/>");
}

TEST_F(BranchCipherTest, LockAndUnlockRoundTrip) {
    TDomDocument doc;
    doc.LoadXML(
        "<r><o title=\"outer\" memo=\"line1&#xA;\xD0\x96&#x9;\"><a title=\"&lt;&amp;&quot;\" memo=\"x\"/>"
        "<i title=\"inner\" memo=\"\"><leaf title=\"l\" memo=\"m&#xD;\"/></i><b/></o><after/></r>");
    TDomNode o = doc.DocumentElement().FirstChild();
    TDomNode i = o.FirstChild().NextSibling();
    for (const auto& [branch, password] : {std::pair{i, "in"}, std::pair{o, "out"}}) {
        SetBranchPassword(branch, password);
        PasswordAccess.Delete(branch); // unlocking appends "password" last
        PasswordAccess.Write(branch, password);
    }
    const std::string unlocked = doc.DocumentElement().XML();

    EncipherBranch(o);
    EXPECT_TRUE(IsBranchLocked(o));
    ASSERT_EQ(o.ChildCount(), 1u);
    EXPECT_TRUE(o.FirstChild().IsText());
    EXPECT_EQ(o.XML().find("inner"), std::string::npos);
    EXPECT_EQ(doc.DocumentElement().LastChild().Name(), "after");

    ASSERT_TRUE(DecipherBranchElement(o, "out"));
    i = o.FirstChild().NextSibling();
    EXPECT_TRUE(IsBranchLocked(i)) << "the inner branch was locked first and comes back locked";
    ASSERT_TRUE(DecipherBranchElement(i, "in"));
    EXPECT_EQ(doc.DocumentElement().XML(), unlocked);
}

TEST_F(BranchCipherTest, LockedLeafAndPlainBranches) {
    TDomDocument doc;
    doc.LoadXML("<r><leaf title=\"t\"/><plain><c/></plain></r>");
    TDomNode leaf = doc.DocumentElement().FirstChild();
    SetBranchPassword(leaf, "p");
    EncipherBranch(doc.DocumentElement()); // locks the encrypted branches below, leaves the rest
    EXPECT_TRUE(IsBranchLocked(leaf));
    EXPECT_FALSE(leaf.HasChildNodes());
    EXPECT_EQ(MemoAccess.Read(leaf).size(), 8u);
    EXPECT_EQ(leaf.NextSibling().XML(), "<plain><c/></plain>");
    EXPECT_FALSE(DecipherBranchElement(leaf, "p"));
    EXPECT_EQ(MemoAccess.Read(leaf), "");
    EXPECT_FALSE(IsBranchLocked(leaf));
}

// A locked branch "n" under the password "p", with its stored form replaced piece by piece.
TEST_F(BranchCipherTest, FailedUnlockLeavesTheBranchLocked) {
    auto enc = [](const std::string& plain) { return Base64Encode(EncryptBranchText(plain, "p")); };
    const std::string check = PasswordDigest("p");
    struct Case {
        std::string name;
        std::string memo;    // stored "memo"
        std::string content; // stored content, as XML
        std::string password;
        std::string messagePart;
    };
    const Case cases[] = {
        {"uneven payload", enc("m"), "QUJDRA=", "p", "Uneven size in DecodeToStream."},
        {"uneven memo", "abc", enc("<c/>"), "p", "Uneven size in DecodeToStream."},
        {"fragment that does not parse", enc("m"), enc("<c>"), "p", "XML text"},
        {"fragment that is not UTF-8", enc("m"), enc("<c t=\"\xFF\"/>"), "p", "UTF-8"},
        {"fragment with a comment", enc("m"), enc("<c/><!-- x -->"), "p", "Unsupported NodeType"},
        {"fragment with a nested CDATA", enc("m"), enc("<c><d><![CDATA[x]]></d></c>"), "p",
         "Unsupported NodeType"},
        {"memo byte undefined in the code page", enc("\x98"), enc("<c/>"), "p", "0x98"},
        {"content of two nodes", enc("m"), enc("<c/>") + "<extra/>", "p", "damaged"},
        {"content that is an element", enc("m"), "<c/>", "p", "damaged"},
        {"wrong password", enc("m"), enc("<c/>"), "q", "password"},
        {"memo holding NUL", enc(std::string("a\0b", 3)), enc("<c/>"), "p", "NUL"},
        {"fragment holding a control character", enc("m"), enc("<c t=\"\x01\"/>"), "p", "U+0001"},
        {"fragment holding a NUL reference", enc("m"), enc("<c t=\"a&#0;b\"/>"), "p", "U+0000"},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        doc.LoadXML("<r><n title=\"t\" memo=\"" + c.memo + "\" encryption=\"" + check + "\">" + c.content +
                    "</n></r>");
        TDomNode n = doc.DocumentElement().FirstChild();
        const std::string before = doc.DocumentElement().XML();
        std::string message = ludex::testing::ErrorOf([&] { DecipherBranchElement(n, c.password); });
        EXPECT_NE(message.find(c.messagePart), std::string::npos) << c.name << ": " << message;
        EXPECT_EQ(doc.DocumentElement().XML(), before) << c.name;
        EXPECT_TRUE(IsBranchLocked(n)) << c.name;
    }
    TDomDocument doc;
    doc.LoadXML("<r><plain/><open encryption=\"e\" password=\"p\"/></r>");
    EXPECT_EQ(
        ludex::testing::ErrorOf([&] { DecipherBranchElement(doc.DocumentElement().FirstChild(), "p"); }),
        "The node is not encrypted");
    EXPECT_NE(ludex::testing::ErrorOf([&] {
                  DecipherBranchElement(doc.DocumentElement().LastChild(), "p");
              }).find("not locked"),
              std::string::npos);
}

// "password" lives only in memory: one that arrives from a file, beside "encryption" or alone,
// is dropped on load, so the branch is locked and the writer never enciphers a plain memo.
TEST_F(BranchCipherTest, StoredPasswordsAreForgottenOnLoad) {
    const std::string check = PasswordDigest("p");
    const std::string cipherMemo = Base64Encode(EncryptBranchText("secret", "p"));
    TDomDocument doc;
    doc.LoadXML(
        "<r><a memo=\"" + cipherMemo + "\" encryption=\"" + check +
        "\" password=\"p\"/><b memo=\"plain\" password=\"x\"><c password=\"y\" password2=\"z\"/></b></r>");
    EXPECT_EQ(ForgetStoredPasswords(doc, doc.DocumentElement()), 3u);
    TDomNode a = doc.DocumentElement().FirstChild();
    EXPECT_TRUE(IsBranchLocked(a));
    EXPECT_EQ(DocumentToText(doc.DocumentElement()),
              std::string(kDocumentDeclaration) + "\r\n<r>\r\n<a memo=\"" + cipherMemo + "\" encryption=\"" +
                  check + "\"/>\r\n<b memo=\"plain\">\r\n<c password2=\"z\"/>\r\n</b>\r\n</r>");
    DecipherBranchElement(a, "p");
    EXPECT_EQ(MemoAccess.Read(a), "secret");

    // A payload is the writer's own text, which never holds "password"; one that does arrives locked.
    const std::string inner = "<d memo=\"" + cipherMemo + "\" encryption=\"" + check + "\" password=\"p\"/>";
    TDomDocument outer;
    outer.LoadXML("<r><n memo=\"" + Base64Encode(EncryptBranchText("m", "p")) + "\" encryption=\"" + check +
                  "\">" + Base64Encode(EncryptBranchText(inner, "p")) + "</n></r>");
    TDomNode n = outer.DocumentElement().FirstChild();
    ASSERT_TRUE(DecipherBranchElement(n, "p"));
    EXPECT_TRUE(IsBranchLocked(n.FirstChild()));
}

TEST_F(BranchCipherTest, FailedLockChangesNothing) {
    struct Case {
        std::string name, xml, messagePart;
    };
    const Case cases[] = {
        {"comment inside", "<o password=\"p\" encryption=\"e\"><c/><!-- x --></o>", "Unsupported NodeType"},
        {"processing instruction deep inside", "<o password=\"p\" encryption=\"e\"><c><d><?pi?></d></c></o>",
         "Unsupported NodeType"},
        {"inner memo outside the code page",
         "<o password=\"p\" encryption=\"e\"><i password=\"q\" encryption=\"e\" memo=\"\xE6\x97\xA5\"/></o>",
         "windows-1251"},
        {"outer password outside the code page",
         "<o password=\"\xE6\x97\xA5\" encryption=\"e\"><i password=\"q\" encryption=\"e\"/></o>",
         "windows-1251"},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        doc.LoadXML("<r>" + c.xml + "</r>");
        const std::string before = doc.DocumentElement().XML();
        std::string message = ludex::testing::ErrorOf([&] { EncipherBranch(doc.DocumentElement()); });
        EXPECT_NE(message.find(c.messagePart), std::string::npos) << c.name << ": " << message;
        EXPECT_EQ(doc.DocumentElement().XML(), before) << c.name;
    }
    // A comment inside a plain branch does not stop other branches from locking.
    TDomDocument doc;
    doc.LoadXML("<r><plain><!-- x --></plain><o password=\"p\" encryption=\"e\"><c/></o></r>");
    EncipherBranch(doc.DocumentElement());
    EXPECT_TRUE(IsBranchLocked(doc.DocumentElement().LastChild()));
}

TEST_F(BranchCipherTest, DeepNestingLocksAndUnlocks) {
    constexpr int kDepth = 100000;
    std::string xml = "<r><o>";
    for (int i = 0; i < kDepth; ++i) {
        xml += "<n>";
    }
    for (int i = 0; i < kDepth; ++i) {
        xml += "</n>";
    }
    xml += "</o></r>";
    TDomDocument doc;
    doc.LoadXML(xml);
    TDomNode o = doc.DocumentElement().FirstChild();
    SetBranchPassword(o, "p");
    const std::string before = o.FirstChild().XML();
    ASSERT_NO_THROW(EncipherBranch(o));
    ASSERT_TRUE(IsBranchLocked(o));
    ASSERT_NO_THROW(DecipherBranchElement(o, "p"));
    EXPECT_TRUE(o.FirstChild().XML() == before);
}

} // namespace
