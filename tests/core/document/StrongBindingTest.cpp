// Version 2 of the strong scheme in documents: a memo and a payload open only as they were sealed
// together, version 1 stays readable and is upgraded, weak stored costs are raised and costly ones
// refused, and a decryptor written from the stored form alone (libsodium's primitives, none of the
// program's cipher code) reads what the program writes.
#include "core/crypto/StrongCipher.h"
#include "core/document/BranchCipher.h"
#include "core/document/BranchCopy.h"
#include "core/document/BranchKeys.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"

#include "support/ErrorText.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace ludex;

namespace {

const std::string kDataDir = std::string(LUDEX_TEST_DATA_DIR) + "/document/";
constexpr TKeyDerivationCost kTestCost{1, 8};

class StrongBindingTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(HeldBranchKeyCount(), 0u); }
    TStrongKeyCostForTests cost_{kTestCost};
};

std::unique_ptr<TDomDocument> Load(const std::string& text) {
    auto doc = std::make_unique<TDomDocument>();
    doc->LoadXML(text);
    return doc;
}

// The stored parts of the branch titled `title` below the root of a saved text.
struct TStored {
    std::string memo;
    std::string payload;
    std::string value;
};

TStored StoredBranch(const std::string& text, const std::string& title) {
    const auto doc = Load(text);
    for (TDomNode b = doc->DocumentElement().FirstChild(); b; b = b.NextSibling()) {
        if (TitleAccess.Read(b) == title) {
            return {MemoAccess.Read(b), b.FirstChild() ? std::string(b.FirstChild().Text()) : std::string(),
                    EncryptionAccess.Read(b)};
        }
    }
    ADD_FAILURE() << title;
    return {};
}

// Unlocks a branch made of stored parts; the error, or "no error" when it opened.
std::string Unlock(const TStored& parts) {
    const auto doc = Load("<r><note title=\"b\" memo=\"" + parts.memo + "\" encryption=\"" + parts.value +
                          "\">" + parts.payload + "</note></r>");
    return ludex::testing::ErrorOf([&] { DecipherBranchElement(doc->DocumentElement().FirstChild(), "pw"); });
}

// Swapping, mixing or rolling back one part between saves, copies and twins is damage; only a
// whole branch taken back as it was saved opens (the limit written in docs/ENCRYPTION.md).
TEST_F(StrongBindingTest, PartsOfOtherSealingsAreReportedAsDamage) {
    const auto doc = Load("<r><note title=\"b\" memo=\"first\"><note title=\"c\"/></note>"
                          "<note title=\"leaf\" memo=\"leaf memo\"/></r>");
    const TDomNode b = doc->DocumentElement().FirstChild();
    const TDomNode leaf = b.NextSibling();
    SetBranchPassword(b, "pw", TCipherScheme::Strong);
    SetBranchPassword(leaf, "pw", TCipherScheme::Strong);
    const std::string older = DocumentToText(doc->DocumentElement());
    MemoAccess.Write(b, "second");
    MemoAccess.Write(leaf, "leaf, edited");
    CopyBranch(doc->DocumentElement(), b); // a twin: same value and key
    TitleAccess.Write(doc->DocumentElement().LastChild(), "twin");
    const std::string newer = DocumentToText(doc->DocumentElement());
    const TStored now = StoredBranch(newer, "b");
    const TStored before = StoredBranch(older, "b");
    const TStored twin = StoredBranch(newer, "twin");
    ASSERT_EQ(now.value, before.value);
    ASSERT_EQ(now.value, twin.value);
    const std::string damaged = "is damaged";
    struct TCase {
        const char* what;
        TStored parts;
        std::string error; // a part of the error; "no error" when the branch opens
    };
    const TCase cases[] = {
        {"as saved", now, "no error"},
        {"the older memo rolled back alone", {before.memo, now.payload, now.value}, damaged},
        {"the older payload rolled back alone", {now.memo, before.payload, now.value}, damaged},
        {"the twin's memo swapped in", {twin.memo, now.payload, now.value}, damaged},
        {"the twin's payload swapped in", {now.memo, twin.payload, now.value}, damaged},
        {"the payload taken away", {now.memo, "", now.value}, damaged},
        {"a leaf's memo given a payload",
         {StoredBranch(newer, "leaf").memo, now.payload, now.value},
         damaged},
        {"memo and payload exchanged", {now.payload, now.memo, now.value}, damaged},
        {"read as version 1",
         {now.memo, now.payload, StrongValueInVersion(now.value, TStrongVersion::V1)},
         damaged},
        {"the whole older branch", before, "no error"},
        {"the whole twin", twin, "no error"},
        {"a leaf's older memo", StoredBranch(older, "leaf"), "no error"},
    };
    for (const TCase& c : cases) {
        const std::string error = Unlock(c.parts);
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    }
}

// strong.ldx was written in version 1 at the least cost. It still opens; unlocking gives the
// branch the version-2 value of the same key, which the next save writes.
TEST_F(StrongBindingTest, Version1OpensAndIsWrittenAsVersion2) {
    TDomDocument doc;
    doc.Load(kDataDir + "strong.ldx");
    const TDomNode vault = doc.DocumentElement().FirstChild();
    const std::string old = EncryptionAccess.Read(vault);
    ASSERT_EQ(ParseStrongHeader(old).version, TStrongVersion::V1);
    const uint64_t derivations = StrongKeyDerivationCount();
    std::optional<TBranchUnlockKey> key =
        VerifyBranchPassword(vault, "\xF0\x9F\x94\x91 \xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C");
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->Upgrades());
    EXPECT_EQ(StrongKeyDerivationCount(), derivations + 1) << "the same key: nothing derived again";
    ASSERT_TRUE(DecipherBranchElement(vault, std::move(*key)));
    EXPECT_EQ(EncryptionAccess.Read(vault), StrongValueInVersion(old, TStrongVersion::V2));
    const std::string saved = DocumentToText(doc.DocumentElement());
    EXPECT_EQ(saved.find("$ludex-strong$v=1$"), std::string::npos);
    auto again = Load(saved);
    const TDomNode reopened = again->DocumentElement().FirstChild();
    ASSERT_TRUE(
        DecipherBranchElement(reopened, "\xF0\x9F\x94\x91 \xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C"));
    EXPECT_EQ(MemoAccess.Read(reopened), MemoAccess.Read(vault));
}

// A stored cost below the present one is raised when the branch is unlocked (a new key with a
// new salt); a cost above four times the present one is refused before anything is derived.
TEST_F(StrongBindingTest, WeakCostsAreRaisedAtUnlockAndCostlyOnesRefused) {
    const std::string password = "\xF0\x9F\x94\x91 \xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C";
    {
        const TStrongKeyCostForTests present({2, 16});
        TDomDocument doc;
        doc.Load(kDataDir + "strong.ldx");
        const TDomNode vault = doc.DocumentElement().FirstChild();
        const uint64_t derivations = StrongKeyDerivationCount();
        ASSERT_TRUE(DecipherBranchElement(vault, password));
        EXPECT_EQ(StrongKeyDerivationCount(), derivations + 2) << "the stored key, then the raised one";
        const TStrongHeader raised = ParseStrongHeader(EncryptionAccess.Read(vault));
        EXPECT_EQ(raised.cost, (TKeyDerivationCost{2, 16}));
        EXPECT_EQ(raised.version, TStrongVersion::V2);
        auto again = Load(DocumentToText(doc.DocumentElement()));
        EXPECT_TRUE(DecipherBranchElement(again->DocumentElement().FirstChild(), password));
        EXPECT_EQ(EncryptionAccess.Read(again->DocumentElement().FirstChild()), EncryptionAccess.Read(vault));
    }
    TStrongHeader header =
        ParseStrongHeader(StoredBranch(ludex::testing::ReadAll(kDataDir + "strong.ldx"), "Vault").value);
    for (const TKeyDerivationCost costly :
         {TKeyDerivationCost{9, 8}, TKeyDerivationCost{1, 4 * 1024 * 1024}}) {
        header.cost = costly;
        const auto doc = Load("<r><note title=\"b\" memo=\"AAAA\" encryption=\"" +
                              FormatStrongHeader(header) + "\"/></r>");
        const TDomNode b = doc->DocumentElement().FirstChild();
        EXPECT_EQ(BranchKeyCost(b), costly);
        const uint64_t derivations = StrongKeyDerivationCount();
        try {
            VerifyBranchPassword(b, password);
            ADD_FAILURE() << "a costly key was derived";
        } catch (const ECostlyKey& e) {
            EXPECT_EQ(e.Cost(), costly);
            EXPECT_NE(e.Message().find(DerivationMemoryText(costly)), std::string::npos) << e.Message();
        }
        EXPECT_EQ(StrongKeyDerivationCount(), derivations);
    }
    header.cost = {9, 8}; // costly in passes, cheap to run: allowed, it is derived
    const auto doc =
        Load("<r><note title=\"b\" memo=\"AAAA\" encryption=\"" + FormatStrongHeader(header) + "\"/></r>");
    EXPECT_FALSE(VerifyBranchPassword(doc->DocumentElement().FirstChild(), password, TCostlyKey::Allow));
}

// The stored form, read with libsodium alone: Argon2id of the password under the value's salt and
// cost; from it (BLAKE2b key derivation, context "LudexKey") the cipher key (id 1) and the check
// (id 2); the memo is identity || nonce || XChaCha20-Poly1305 cipher text with associated data
// "ludex-strong-v2 memo" || identity || 1 when a payload follows; the payload is nonce || cipher
// text with "ludex-strong-v2 payload" || identity.
std::vector<unsigned char> Decoded(const std::string& base64) {
    std::vector<unsigned char> bytes(base64.size());
    size_t length = 0;
    EXPECT_EQ(sodium_base642bin(bytes.data(), bytes.size(), base64.data(), base64.size(), nullptr, &length,
                                nullptr, sodium_base64_VARIANT_ORIGINAL),
              0);
    bytes.resize(length);
    return bytes;
}

std::optional<std::string> Opened(const std::vector<unsigned char>& nonceAndCipher, const std::string& data,
                                  const unsigned char* key) {
    const size_t nonce = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
    std::string plain(nonceAndCipher.size() - nonce - crypto_aead_xchacha20poly1305_ietf_ABYTES, '\0');
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            reinterpret_cast<unsigned char*>(plain.data()), nullptr, nullptr, nonceAndCipher.data() + nonce,
            nonceAndCipher.size() - nonce, reinterpret_cast<const unsigned char*>(data.data()), data.size(),
            nonceAndCipher.data(), key) != 0) {
        return std::nullopt;
    }
    return plain;
}

TEST_F(StrongBindingTest, AnIndependentDecryptorReadsVersion2) {
    ASSERT_GE(sodium_init(), 0);
    const auto doc = Load(
        "<r><note title=\"b\" memo=\"\xD0\xA1\xD0\xB5\xD0\xBA\xD1\x80\xD0\xB5\xD1\x82 \xF0\x9F\x94\x91\">"
        "<note title=\"child\" memo=\"inner\"/></note></r>");
    SetBranchPassword(doc->DocumentElement().FirstChild(), "pass phrase", TCipherScheme::Strong);
    const TStored stored = StoredBranch(DocumentToText(doc->DocumentElement()), "b");

    // $ludex-strong$v=2$argon2id$m=8,t=1,p=1$<salt>$<check>
    std::vector<std::string> fields;
    for (size_t from = 1, to; from <= stored.value.size(); from = to + 1) {
        to = std::min(stored.value.find('$', from), stored.value.size());
        fields.push_back(stored.value.substr(from, to - from));
    }
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(fields[0], "ludex-strong");
    EXPECT_EQ(fields[1], "v=2");
    EXPECT_EQ(fields[3], "m=8,t=1,p=1");
    const std::vector<unsigned char> salt = Decoded(fields[4]);
    const std::string password = "pass phrase";
    unsigned char master[crypto_kdf_KEYBYTES];
    ASSERT_EQ(crypto_pwhash(master, sizeof master, password.data(), password.size(), salt.data(), 1, 8 * 1024,
                            crypto_pwhash_ALG_ARGON2ID13),
              0);
    const char context[crypto_kdf_CONTEXTBYTES] = {'L', 'u', 'd', 'e', 'x', 'K', 'e', 'y'};
    unsigned char key[crypto_aead_xchacha20poly1305_ietf_KEYBYTES];
    unsigned char check[16];
    crypto_kdf_derive_from_key(key, sizeof key, 1, context, master);
    crypto_kdf_derive_from_key(check, sizeof check, 2, context, master);
    EXPECT_EQ(Decoded(fields[5]), std::vector<unsigned char>(check, check + sizeof check));

    const std::vector<unsigned char> memo = Decoded(stored.memo);
    const std::string identity(memo.begin(), memo.begin() + 16);
    const std::optional<std::string> plainMemo =
        Opened(std::vector<unsigned char>(memo.begin() + 16, memo.end()),
               "ludex-strong-v2 memo" + identity + '\1', key);
    ASSERT_TRUE(plainMemo);
    EXPECT_EQ(*plainMemo, "\xD0\xA1\xD0\xB5\xD0\xBA\xD1\x80\xD0\xB5\xD1\x82 \xF0\x9F\x94\x91");
    const std::optional<std::string> payload =
        Opened(Decoded(stored.payload), "ludex-strong-v2 payload" + identity, key);
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, "<note title=\"child\" memo=\"inner\"/>\r\n");
}

} // namespace
