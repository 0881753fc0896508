// Both cipher schemes through the branch operations and the document writer: round trips of
// any text, damage, nested and copied branches, held keys, recorded code pages.
#include "core/base/Exception.h"
#include "core/crypto/Cipher.h"
#include "core/document/BranchCipher.h"
#include "core/document/BranchCopy.h"
#include "core/document/BranchKeys.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"

#include "support/ErrorText.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

using namespace ludex;

namespace {

const std::string kDataDir = std::string(LUDEX_TEST_DATA_DIR) + "/document/";

const std::string kCyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"; // Привет
const std::string kCjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";                  // 日本語
const std::string kEmoji = "\xF0\x9F\x98\x80\xF0\x9F\x94\x91";                    // two emoji

class BranchSchemesTest : public ::testing::Test {
protected:
    void SetUp() override { SetCurrentCodePage("windows-1252"); }
    void TearDown() override {
        // Every document of a test is gone: so must be every key it held.
        EXPECT_EQ(HeldBranchKeyCount(), 0u);
    }
    TStrongKeyCostForTests cost_{{1, 8}};
};

std::unique_ptr<TDomDocument> Parse(const std::string& text) {
    auto doc = std::make_unique<TDomDocument>();
    doc->LoadBytes(text, "test");
    return doc;
}

// A document with one branch "b" (memo, two children) below the root.
std::unique_ptr<TDomDocument> BranchDocument(const std::string& memo) {
    auto doc = std::make_unique<TDomDocument>();
    doc->LoadXML("<ludex title=\"root\"><note title=\"b\"><note title=\"c1\" memo=\"one\"/>"
                 "<note title=\"c2\"/></note></ludex>");
    MemoAccess.Write(doc->DocumentElement().FirstChild(), memo);
    return doc;
}

TEST_F(BranchSchemesTest, AnyTextRoundTripsInTheStrongSchemeAndTheCodePageLimitsTheCompatibleOne) {
    struct Case {
        TCipherScheme scheme;
        std::string memo, password;
        bool refused;
        TCipherField field; // when refused
    };
    const auto strong = TCipherScheme::Strong;
    const auto compatible = TCipherScheme::Compatible;
    const Case cases[] = {
        {strong, kCyrillic, kCyrillic, false, {}},
        {strong, kCjk + "\n" + kEmoji, kCjk, false, {}},
        {strong, "plain", kEmoji, false, {}},
        {strong, "", "p", false, {}},
        {compatible, "caf\xC3\xA9 & <tags>", "p\xC3\xA4ss", false, {}},
        {compatible, "plain", kCyrillic, true, TCipherField::Password},
        {compatible, kEmoji, "plain", true, TCipherField::Memo},
        {compatible, kCjk, kEmoji, true, TCipherField::Password}, // the password is looked at first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(CipherSchemeName(c.scheme)) + " " + c.memo + " / " + c.password);
        auto doc = BranchDocument(c.memo);
        const TDomNode b = doc->DocumentElement().FirstChild();
        const std::string before = doc->DocumentElement().XML();
        if (c.refused) {
            try {
                SetBranchPassword(b, c.password, c.scheme);
                ADD_FAILURE() << "accepted";
            } catch (const EUnencipherable& e) {
                EXPECT_EQ(e.Field(), c.field);
                EXPECT_EQ(e.CodePageName(), "windows-1252");
                EXPECT_NE(e.Message().find("windows-1252"), std::string::npos) << e.Message();
                EXPECT_NE(e.Message().find("strong"), std::string::npos) << e.Message();
                EXPECT_EQ(e.Message().find(c.password), std::string::npos) << "quotes the password";
            }
            EXPECT_EQ(doc->DocumentElement().XML(), before);
            continue;
        }
        SetBranchPassword(b, c.password, c.scheme);
        EXPECT_EQ(BranchCipherScheme(b), c.scheme);
        EXPECT_EQ(CodePageAccess.Exists(b), c.scheme == compatible);

        // Saved, reopened, locked: the right password opens it to the same branch.
        const std::string saved = DocumentToText(doc->DocumentElement());
        // Quoted, as values stand in the file: short texts turn up by chance inside Base64.
        EXPECT_EQ(saved.find("\"c1\""), std::string::npos);
        if (!c.memo.empty()) {
            EXPECT_EQ(saved.find('"' + c.memo + '"'), std::string::npos);
        }
        auto reopened = Parse(saved);
        const TDomNode r = reopened->DocumentElement().FirstChild();
        ASSERT_TRUE(IsBranchLocked(r));
        EXPECT_FALSE(CheckBranchPassword(r, c.password + "x"));
        std::optional<TBranchUnlockKey> key = VerifyBranchPassword(r, c.password);
        ASSERT_TRUE(key.has_value());
        EXPECT_TRUE(DecipherBranchElement(r, std::move(*key)));
        EXPECT_EQ(MemoAccess.Read(r), c.memo);
        EXPECT_EQ(r.FirstChild().XML(), "<note title=\"c1\" memo=\"one\"/>");

        // Locked and unlocked in memory: the same again.
        EncipherBranch(b);
        EXPECT_TRUE(IsBranchLocked(b));
        EXPECT_EQ(b.XML().find("\"c1\""), std::string::npos);
        ASSERT_TRUE(DecipherBranchElement(b, c.password));
        EXPECT_EQ(MemoAccess.Read(b), c.memo);
        EXPECT_EQ(TitleAccess.Read(b.LastChild()), "c2");
    }
}

// strong.ldx was written by this version (at the least key cost, which it records): a strong
// branch holding a compatible one that records windows-1251. Every later version must open it.
TEST_F(BranchSchemesTest, AFileWrittenByThisVersionKeepsOpening) {
    TDomDocument doc;
    doc.Load(kDataDir + "strong.ldx");
    const TDomNode vault = doc.DocumentElement().FirstChild();
    ASSERT_EQ(BranchCipherScheme(vault), TCipherScheme::Strong);
    EXPECT_FALSE(CheckBranchPassword(vault, "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C"));
    ASSERT_TRUE(
        DecipherBranchElement(vault, "\xF0\x9F\x94\x91 \xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C"));
    EXPECT_EQ(MemoAccess.Read(vault),
              "\xD0\xA1\xD0\xB5\xD0\xBA\xD1\x80\xD0\xB5\xD1\x82 \xE6\x97\xA5\xE6\x9C\xAC "
              "\xF0\x9F\x94\x91\nline 2");
    EXPECT_EQ(vault.FirstChild().XML(), "<note title=\"Plain child\" memo=\"tab&#09;here\"/>");
    const TDomNode old = vault.LastChild();
    ASSERT_EQ(BranchCipherScheme(old), TCipherScheme::Compatible);
    EXPECT_EQ(CodePageAccess.Read(old), "windows-1251");
    ASSERT_TRUE(DecipherBranchElement(old, "\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87")); // under windows-1252
    EXPECT_EQ(MemoAccess.Read(old), "\xD0\x92\xD0\xBD\xD1\x83\xD1\x82\xD1\x80\xD0\xB8");
    EXPECT_EQ(old.FirstChild().XML(), "<note title=\"Leaf\" memo=\"deep\"/>");
}

// What a program that knows only the compatible scheme does with a strong branch: its check
// value matches no password, and it writes the locked branch back as it found it.
TEST_F(BranchSchemesTest, StrongBranchIsAWrongPasswordToTheCompatibleCheckAndSurvivesItsSaves) {
    auto doc = BranchDocument("secret memo");
    SetBranchPassword(doc->DocumentElement().FirstChild(), "pw", TCipherScheme::Strong);
    const std::string file = DocumentToText(doc->DocumentElement());

    auto opened = Parse(file);
    const TDomNode b = opened->DocumentElement().FirstChild();
    for (const char* password : {"pw", "", "secret memo"}) {
        EXPECT_NE(PasswordDigest(password), EncryptionAccess.Read(b)) << password;
    }
    // Saved as a locked branch (its payload now between line breaks) and reopened: the branch is
    // the same, and so is every later save.
    const std::string resaved = DocumentToText(opened->DocumentElement());
    auto reopened = Parse(resaved);
    const TDomNode r = reopened->DocumentElement().FirstChild();
    EXPECT_EQ(r.Attributes(), b.Attributes());
    EXPECT_EQ(r.FirstChild().Text(), b.FirstChild().Text());
    EXPECT_EQ(DocumentToText(reopened->DocumentElement()), resaved);
    ASSERT_TRUE(DecipherBranchElement(r, "pw"));
    EXPECT_EQ(MemoAccess.Read(r), "secret memo");
}

// A locked strong branch whose stored form was changed after it was written.
TEST_F(BranchSchemesTest, DamageIsReportedApartFromAWrongPasswordAndChangesNothing) {
    auto doc = BranchDocument("memo");
    SetBranchPassword(doc->DocumentElement().FirstChild(), "pw", TCipherScheme::Strong);
    EncipherBranch(doc->DocumentElement().FirstChild());
    const TDomNode b = doc->DocumentElement().FirstChild();
    const std::string memo = MemoAccess.Read(b);
    const std::string payload(b.FirstChild().Text());
    const std::string value = EncryptionAccess.Read(b);
    const TStrongHeader header = ParseStrongHeader(value);

    auto flipped = [](const std::string& base64, size_t byte) {
        std::string bytes = Base64Decode(base64);
        bytes[byte] = static_cast<char>(bytes[byte] ^ 0x20);
        return Base64Encode(bytes);
    };
    auto withHeader = [&](auto change) {
        TStrongHeader h = header;
        change(h);
        return FormatStrongHeader(h);
    };
    const std::string damaged = "The encrypted content of branch \xE2\x80\x9C"
                                "b\xE2\x80\x9D is damaged";
    const std::string wrong = "The password is not the branch's password";
    struct Case {
        std::string name, memo, content, value, messagePart;
    };
    const Case cases[] = {
        {"memo nonce", flipped(memo, 0), payload, value, damaged},
        {"memo cipher text", flipped(memo, kStrongNonceSize), payload, value, damaged},
        {"memo tag", flipped(memo, Base64Decode(memo).size() - 1), payload, value, damaged},
        {"payload cipher text", memo, flipped(payload, kStrongNonceSize + 3), value, damaged},
        {"payload tag", memo, flipped(payload, Base64Decode(payload).size() - 1), value, damaged},
        {"memo and payload swapped", payload, memo, value, damaged},
        {"payload cut short", memo, payload.substr(0, payload.size() - 4), value, damaged},
        {"payload of uneven length", memo, payload.substr(1), value, damaged},
        {"memo missing its last character", memo.substr(0, memo.size() - 1), payload, value, damaged},
        {"content that is an element", memo, "<note/>", value, damaged},
        {"malformed value", memo, payload, value + "$", damaged},
        {"check changed", memo, payload, withHeader([](TStrongHeader& h) { h.check[0] ^= 1; }), wrong},
        {"salt changed", memo, payload, withHeader([](TStrongHeader& h) { h.salt[5] ^= 1; }), wrong},
        {"cost changed", memo, payload, withHeader([](TStrongHeader& h) { h.cost.passes = 2; }), wrong},
        {"cost beyond the limits", memo, payload,
         withHeader([](TStrongHeader& h) { h.cost.memoryKiB = 8 * 1024 * 1024; }),
         "cannot read (m=8388608,t=1,p=1)"},
    };
    for (const auto& c : cases) {
        auto copy = Parse("<r><note title=\"b\" memo=\"" + c.memo + "\" encryption=\"" + c.value + "\">" +
                          c.content + "</note></r>");
        const TDomNode n = copy->DocumentElement().FirstChild();
        const std::string before = copy->DocumentElement().XML();
        EXPECT_NE(ludex::testing::ErrorOf([&] { DecipherBranchElement(n, "pw"); }).find(c.messagePart),
                  std::string::npos)
            << c.name << ": " << ludex::testing::ErrorOf([&] { DecipherBranchElement(n, "pw"); });
        EXPECT_EQ(copy->DocumentElement().XML(), before) << c.name;
    }
    // The damage error is its own kind, so that a caller can tell it from a wrong password.
    auto copy =
        Parse("<r><note title=\"b\" memo=\"" + flipped(memo, 30) + "\" encryption=\"" + value + "\"/></r>");
    EXPECT_THROW(DecipherBranchElement(copy->DocumentElement().FirstChild(), "pw"), EDamagedBranch);
    EXPECT_TRUE(DecipherBranchElement(b, "pw")) << "the undamaged original still opens";
}

TEST_F(BranchSchemesTest, AnUnlockGivenUpBeforeItsFirstChangeLeavesTheBranchLocked) {
    for (const TCipherScheme scheme : {TCipherScheme::Strong, TCipherScheme::Compatible}) {
        SCOPED_TRACE(std::string(CipherSchemeName(scheme)));
        auto doc = BranchDocument("memo");
        const TDomNode b = doc->DocumentElement().FirstChild();
        SetBranchPassword(b, "pw", scheme);
        EncipherBranch(b);
        const std::string before = doc->DocumentElement().XML();

        std::optional<TBranchUnlockKey> key = VerifyBranchPassword(b, "pw");
        ASSERT_TRUE(key);
        bool asked = false;
        EXPECT_THROW(DecipherBranchElement(b, std::move(*key),
                                           [&asked] {
                                               asked = true;
                                               throw ECancelled();
                                           }),
                     ECancelled);
        EXPECT_TRUE(asked);
        EXPECT_EQ(doc->DocumentElement().XML(), before);
        EXPECT_TRUE(IsBranchLocked(b));

        // Let through, the same hook sees the unlock done.
        key = VerifyBranchPassword(b, "pw");
        ASSERT_TRUE(key);
        EXPECT_TRUE(DecipherBranchElement(b, std::move(*key), [] {}));
        EXPECT_FALSE(IsBranchLocked(b));
        EXPECT_EQ(MemoAccess.Read(b), "memo");
        EXPECT_EQ(b.ChildCount(), 2u);
    }
}

TEST_F(BranchSchemesTest, NestedBranchesKeepTheirOwnSchemesAndPasswords) {
    auto doc = Parse("<r><o title=\"outer\" memo=\"om\"><m title=\"middle\" memo=\"mm\"><i title=\"inner\" "
                     "memo=\"im\"><leaf title=\"l\"/></i></m></o></r>");
    const TDomNode o = doc->DocumentElement().FirstChild();
    SetBranchPassword(o, "out", TCipherScheme::Strong);
    SetBranchPassword(o.FirstChild(), "mid", TCipherScheme::Compatible);
    SetBranchPassword(o.FirstChild().FirstChild(), "in", TCipherScheme::Strong);
    const std::string unlocked = doc->DocumentElement().XML();

    for (const bool inMemory : {true, false}) {
        SCOPED_TRACE(inMemory ? "locked in memory" : "saved and reopened");
        auto saved = Parse(DocumentToText(doc->DocumentElement()));
        TDomNode top = saved->DocumentElement().FirstChild();
        if (inMemory) {
            EncipherBranch(o);
            top = o;
        }
        ASSERT_TRUE(IsBranchLocked(top));
        EXPECT_FALSE(CheckBranchPassword(top, "mid"));
        ASSERT_TRUE(DecipherBranchElement(top, "out"));
        const TDomNode middle = top.FirstChild();
        ASSERT_TRUE(IsBranchLocked(middle));
        ASSERT_TRUE(DecipherBranchElement(middle, "mid"));
        ASSERT_TRUE(IsBranchLocked(middle.FirstChild()));
        ASSERT_TRUE(DecipherBranchElement(middle.FirstChild(), "in"));
        EXPECT_EQ(TitleAccess.Read(middle.FirstChild().FirstChild()), "l");
        EXPECT_EQ(MemoAccess.Read(middle), "mm");
    }
    // Apart from the key tokens, which are new at every unlock, the tree is as it was.
    EXPECT_EQ(doc->DocumentElement().XML().size(), unlocked.size());
    EXPECT_EQ(HeldBranchKeyCount(), 2u); // outer and inner of the unlocked tree in memory
    LockAllBranches(doc->DocumentElement());
}

TEST_F(BranchSchemesTest, SavingLockingAndCopyingNeverDeriveAKeyAgain) {
    auto first = Parse("<r><a title=\"a\"><c title=\"child\"/></a><b title=\"b\"/></r>");
    auto second = Parse("<r title=\"second\"/>");
    const TDomNode a = first->DocumentElement().FirstChild();
    SetBranchPassword(a, "pa", TCipherScheme::Strong);
    SetBranchPassword(a.NextSibling(), "pb", TCipherScheme::Strong);
    const uint64_t derived = StrongKeyDerivationCount();

    // Copied (as paste does) into another document, the branch shares its key.
    const TDomNode copy = CopyBranch(second->DocumentElement(), a);
    MemoAccess.Write(copy, "edited in the copy");
    const std::string firstFile = DocumentToText(first->DocumentElement());
    const std::string secondFile = DocumentToText(second->DocumentElement());
    DocumentToText(first->DocumentElement());
    // Cut: the original goes; the copy keeps the key.
    first->DocumentElement().RemoveChild(a);
    ForgetUnusedBranchKeys();
    EXPECT_NE(HeldBranchKey(copy), nullptr);
    EncipherBranch(first->DocumentElement());
    EXPECT_EQ(HeldBranchKeyCount(), 1u) << "b's key went with b's lock";
    EncipherBranch(copy);
    EXPECT_EQ(HeldBranchKeyCount(), 0u);
    EXPECT_EQ(StrongKeyDerivationCount(), derived);

    for (const auto& [file, memo] : {std::pair{firstFile, ""}, std::pair{secondFile, "edited in the copy"}}) {
        auto reopened = Parse(file);
        const TDomNode branch = reopened->DocumentElement().FirstChild();
        ASSERT_TRUE(DecipherBranchElement(branch, "pa"));
        EXPECT_EQ(MemoAccess.Read(branch), memo);
        EXPECT_EQ(TitleAccess.Read(branch.FirstChild()), "child");
    }
}

TEST_F(BranchSchemesTest, KeysLeaveMemoryWithTheirLastUnlockedBranch) {
    auto doc = BranchDocument("m");
    const TDomNode b = doc->DocumentElement().FirstChild();
    SetBranchPassword(b, "one", TCipherScheme::Strong);
    EXPECT_EQ(HeldBranchKeyCount(), 1u);
    SetBranchPassword(b, "two", TCipherScheme::Strong); // a new password: the old key goes
    EXPECT_EQ(HeldBranchKeyCount(), 1u);
    SetBranchPassword(b, "three", TCipherScheme::Compatible);
    EXPECT_EQ(HeldBranchKeyCount(), 0u);
    EXPECT_EQ(PasswordAccess.Read(b), "three");
    SetBranchPassword(b, "four", TCipherScheme::Strong);
    SetBranchPassword(b, "", TCipherScheme::Strong); // decrypted
    EXPECT_EQ(HeldBranchKeyCount(), 0u);
    EXPECT_EQ(b.XML().find("password"), std::string::npos);
    EXPECT_EQ(b.XML().find("encryption"), std::string::npos);

    SetBranchPassword(b, "five", TCipherScheme::Strong);
    EXPECT_EQ(HeldBranchKeyCount(), 1u);
    doc.reset(); // closing the document
    EXPECT_EQ(HeldBranchKeyCount(), 0u);
}

// A branch kept aside (by the history) may come back: its key stays until it is discarded.
TEST_F(BranchSchemesTest, KeysStayWhileTheirBranchIsKeptAside) {
    auto doc = BranchDocument("m");
    const TDomNode b = doc->DocumentElement().FirstChild();
    SetBranchPassword(b, "one", TCipherScheme::Strong);
    b.SetAside();
    ForgetUnusedBranchKeys();
    EXPECT_EQ(HeldBranchKeyCount(), 1u);
    doc->DocumentElement().PutBackBefore(b, TDomNode());
    b.SetAside();
    b.DiscardSetAside();
    ForgetUnusedBranchKeys();
    EXPECT_EQ(HeldBranchKeyCount(), 0u);
}

// A "password" attribute that came with a file names no key this process holds, or the key of
// another branch: neither is used.
TEST_F(BranchSchemesTest, ATokenFromAFileBorrowsNoKey) {
    auto doc = BranchDocument("mine");
    const TDomNode b = doc->DocumentElement().FirstChild();
    SetBranchPassword(b, "pw", TCipherScheme::Strong);
    const std::string token = PasswordAccess.Read(b);
    const std::string other = CreateStrongKey("x").encryptionValue;
    for (const std::string& smuggled : {token, std::string("strong-key:") + std::string(32, '0')}) {
        auto crafted = Parse("<r><note title=\"crafted\" memo=\"theirs\" encryption=\"" + other +
                             "\" password=\"" + smuggled + "\"/></r>");
        const std::string before = crafted->DocumentElement().XML();
        const std::string expected = "The key of branch \xE2\x80\x9C"
                                     "crafted\xE2\x80\x9D is not in memory";
        EXPECT_NE(ludex::testing::ErrorOf([&] { DocumentToText(crafted->DocumentElement()); }).find(expected),
                  std::string::npos);
        EXPECT_NE(ludex::testing::ErrorOf([&] { EncipherBranch(crafted->DocumentElement()); }).find(expected),
                  std::string::npos);
        EXPECT_EQ(crafted->DocumentElement().XML(), before);
    }
    EncipherBranch(b);
}

TEST_F(BranchSchemesTest, LockAllLocksWhatItCanAndReportsTheRest) {
    auto doc = Parse("<r><s title=\"strong\"><c title=\"compatible\"/></s><t title=\"sibling\"><x/></t>"
                     "<plain><u title=\"under plain\"/></plain></r>");
    const TDomNode s = doc->DocumentElement().FirstChild();
    const TDomNode c = s.FirstChild();
    const TDomNode t = s.NextSibling();
    const TDomNode u = t.NextSibling().FirstChild();
    SetBranchPassword(s, "ps", TCipherScheme::Strong);
    SetBranchPassword(c, "pc", TCipherScheme::Compatible);
    SetBranchPassword(t, "pt", TCipherScheme::Strong);
    SetBranchPassword(u, "pu", TCipherScheme::Compatible);
    MemoAccess.Write(c, "typed after encrypting: " + kEmoji); // the code page cannot hold it

    const std::vector<TLockFailure> failures = LockAllBranches(doc->DocumentElement());
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].element, c);
    EXPECT_EQ(failures[1].element, s) << "its payload would hold the unlocked branch";
    for (const auto& failure : failures) {
        EXPECT_NE(failure.message.find("The memo of branch \xE2\x80\x9C"
                                       "compatible\xE2\x80\x9D"),
                  std::string::npos)
            << failure.message;
    }
    EXPECT_FALSE(IsBranchLocked(s));
    EXPECT_FALSE(IsBranchLocked(c));
    EXPECT_TRUE(IsBranchLocked(t));
    EXPECT_TRUE(IsBranchLocked(u));
    EXPECT_EQ(HeldBranchKeyCount(), 1u) << "the sibling's key is gone, the unlocked branch's stays";

    MemoAccess.Write(c, "fixed");
    EXPECT_TRUE(LockAllBranches(doc->DocumentElement()).empty());
    EXPECT_TRUE(IsBranchLocked(s));
}

TEST_F(BranchSchemesTest, CompatibleBranchesRecordTheirCodePageAndUnlockUnderAnotherSetting) {
    const std::string password = "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C";      // пароль
    const std::string memo = "\xD0\xA1\xD0\xB5\xD0\xBA\xD1\x80\xD0\xB5\xD1\x82 \xD0\x83"; // Секрет Ѓ
    SetCurrentCodePage("windows-1251");
    auto doc = BranchDocument(memo);
    const TDomNode recorded = doc->DocumentElement().FirstChild();
    SetBranchPassword(recorded, password, TCipherScheme::Compatible);
    EXPECT_EQ(CodePageAccess.Read(recorded), "windows-1251");
    // A branch as earlier versions wrote it: no record.
    const TDomNode legacy = AddBranchElement(doc->DocumentElement());
    TitleAccess.Write(legacy, "legacy");
    MemoAccess.Write(legacy, memo);
    SetBranchPassword(legacy, "ascii");
    EXPECT_FALSE(CodePageAccess.Exists(legacy));
    const std::string file = DocumentToText(doc->DocumentElement());

    SetCurrentCodePage("windows-1252");
    auto reopened = Parse(file);
    const TDomNode r = reopened->DocumentElement().FirstChild();
    ASSERT_TRUE(DecipherBranchElement(r, password));
    EXPECT_EQ(MemoAccess.Read(r), memo);
    // Saved again under the other setting, it stays in its own code page.
    auto again = Parse(DocumentToText(reopened->DocumentElement()));
    SetCurrentCodePage("KOI8-R");
    ASSERT_TRUE(DecipherBranchElement(again->DocumentElement().FirstChild(), password));
    EXPECT_EQ(MemoAccess.Read(again->DocumentElement().FirstChild()), memo);

    // The legacy branch follows the setting: "Ѓ" is 0x81 in windows-1251, which windows-1252
    // leaves undefined: an error naming byte and code page, never a substitution.
    SetCurrentCodePage("windows-1252");
    const TDomNode l = reopened->DocumentElement().LastChild();
    const std::string before = l.XML();
    const std::string message = ludex::testing::ErrorOf([&] { DecipherBranchElement(l, "ascii"); });
    EXPECT_NE(message.find("0x81"), std::string::npos) << message;
    EXPECT_NE(message.find("windows-1252"), std::string::npos) << message;
    EXPECT_EQ(l.XML(), before);
    SetCurrentCodePage("windows-1251");
    EXPECT_FALSE(DecipherBranchElement(l, "ascii")) << "a leaf";
    EXPECT_EQ(MemoAccess.Read(l), memo);

    // Taking the password off takes the record too.
    SetBranchPassword(r, "", TCipherScheme::Compatible);
    EXPECT_FALSE(CodePageAccess.Exists(r));
    // A record naming a code page the system does not know is an error, not a guess.
    auto unknown = Parse("<r><n memo=\"AAAAAA==\" encryption=\"" + PasswordDigest("p") +
                         "\" codepage=\"no-such\"/></r>");
    EXPECT_THROW(DecipherBranchElement(unknown->DocumentElement().FirstChild(), "p"), ECodePage);
}

// Errors of the core come from the loaded language file; without one (the command line tool)
// they read as in the English file.
TEST_F(BranchSchemesTest, MessagesComeFromTheLanguageFiles) {
    auto doc = BranchDocument(kEmoji);
    const TDomNode b = doc->DocumentElement().FirstChild();
    auto refusal = [&] {
        return ludex::testing::ErrorOf([&] { SetBranchPassword(b, kCjk, TCipherScheme::Compatible); });
    };
    const std::string builtIn = refusal();
    TLXLocaler& localer = LanguageLocaler();
    localer.LanguageFolder = LUDEX_BIN_DIR;
    localer.Language = langEnglish;
    localer.LoadCurrentLanguage();
    EXPECT_EQ(refusal(), builtIn);
    EXPECT_EQ(refusal(), localer.FormatMessage("PasswordOutsideCodePage", {"windows-1252"}));
    localer.OpenPath("/"); // wherever the cursor stands
    localer.Language = langRussian;
    localer.LoadCurrentLanguage();
    localer.OpenPath("/");
    EXPECT_EQ(refusal().rfind("\xD0\x9F\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", 0), 0u)
        << refusal(); // Пароль
    EXPECT_NE(refusal().find("windows-1252"), std::string::npos);
    localer.Bailee().Clear(); // no language file again, for whatever runs next in this process
    EXPECT_EQ(refusal(), builtIn);
}

} // namespace
