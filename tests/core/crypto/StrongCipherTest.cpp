#include "core/crypto/StrongCipher.h"

#include "core/crypto/Cipher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace ludex;

namespace {

// The least cost keeps each derivation to a millisecond; the cost is stored with every value.
constexpr TKeyDerivationCost kTestCost{1, 8};

class StrongCipherTest : public ::testing::Test {
protected:
    TStrongKeyCostForTests cost_{kTestCost};
};

const std::string kSalt(kStrongSaltSize, 's');

TSealBinding V1() {
    return {TStrongVersion::V1, {}, false};
}

TEST_F(StrongCipherTest, ValueNamesEverythingButThePasswordAndNeverLooksCompatible) {
    const TNewStrongKey created = CreateStrongKey("p\xC3\xA4ss");
    const TStrongHeader header = ParseStrongHeader(created.encryptionValue);
    EXPECT_EQ(header.cost, kTestCost);
    EXPECT_EQ(header.salt.size(), kStrongSaltSize);
    EXPECT_EQ(header.check, created.key.CheckValue());
    EXPECT_EQ(FormatStrongHeader(header), created.encryptionValue);
    EXPECT_EQ(created.encryptionValue.rfind("$ludex-strong$v=2$argon2id$m=8,t=1,p=1$", 0), 0u);
    // A compatible check value is 24 Base64 characters: never the marker, never this length.
    for (const char* password : {"", "p\xC3\xA4ss", "$ludex-strong$"}) {
        EXPECT_FALSE(IsStrongEncryptionValue(PasswordDigest(password)));
        EXPECT_NE(PasswordDigest(password), created.encryptionValue);
    }
    // A fresh salt every time.
    EXPECT_NE(CreateStrongKey("p\xC3\xA4ss").encryptionValue, created.encryptionValue);
}

TEST_F(StrongCipherTest, OnlyTheExactFormIsRead) {
    const std::string salt = Base64Encode(kSalt);
    const std::string check = Base64Encode(std::string(kStrongCheckSize, 'c'));
    const std::string good = "$ludex-strong$v=1$argon2id$m=8,t=1,p=1$" + salt + "$" + check;
    ASSERT_EQ(ParseStrongHeader(good).version, TStrongVersion::V1);
    const std::string newest = "$ludex-strong$v=2$argon2id$m=8,t=1,p=1$" + salt + "$" + check;
    ASSERT_EQ(ParseStrongHeader(newest).version, TStrongVersion::V2);
    EXPECT_EQ(StrongValueInVersion(good, TStrongVersion::V2), newest);
    EXPECT_EQ(StrongValueInVersion(newest, TStrongVersion::V1), good);
    struct Case {
        std::string value;
        EStrongValue::TReason reason;
        std::string detail;
    };
    const auto malformed = EStrongValue::Malformed;
    const auto unsupported = EStrongValue::Unsupported;
    const Case cases[] = {
        {"$ludex-strong$", malformed, ""},
        {"$ludex-strong$v=1$argon2id$m=8,t=1,p=1$" + salt, malformed, ""},
        {good + "$", malformed, ""},
        {"$ludex-strong$v=1$argon2i$m=8,t=1,p=1$" + salt + "$" + check, malformed, ""},
        {"$ludex-strong$v=01$argon2id$m=8,t=1,p=1$" + salt + "$" + check, malformed, ""},
        {"$ludex-strong$v=1$argon2id$m=08,t=1,p=1$" + salt + "$" + check, malformed, ""},
        {"$ludex-strong$v=1$argon2id$t=1,m=8,p=1$" + salt + "$" + check, malformed, ""},
        {"$ludex-strong$v=1$argon2id$m=8,t=1$" + salt + "$" + check, malformed, ""},
        {"$ludex-strong$v=1$argon2id$m=8,t=,p=1$" + salt + "$" + check, malformed, ""},
        {"$ludex-strong$v=1$argon2id$m=99999999999,t=1,p=1$" + salt + "$" + check, malformed, ""},
        {"$ludex-strong$v=1$argon2id$m=8,t=1,p=1$" + Base64Encode("short") + "$" + check, malformed, ""},
        {"$ludex-strong$v=1$argon2id$m=8,t=1,p=1$" + salt + "$" + check.substr(0, 22) + "A=", malformed, ""},
        {"$ludex-strong$v=1$argon2id$m=8,t=1,p=1$" + salt + "$" + check.substr(1) + "!", malformed, ""},
        {"$ludex-strong$v=3$argon2id$m=8,t=1,p=1$" + salt + "$" + check, unsupported, "v=3"},
        {"$ludex-strong$v=1$argon2id$m=8,t=1,p=4$" + salt + "$" + check, unsupported, "m=8,t=1,p=4"},
        {"$ludex-strong$v=1$argon2id$m=4,t=1,p=1$" + salt + "$" + check, unsupported, "m=4,t=1,p=1"},
        {"$ludex-strong$v=1$argon2id$m=8388608,t=2,p=1$" + salt + "$" + check, unsupported,
         "m=8388608,t=2,p=1"},
        {"$ludex-strong$v=1$argon2id$m=8,t=65,p=1$" + salt + "$" + check, unsupported, "m=8,t=65,p=1"},
    };
    for (const auto& c : cases) {
        try {
            ParseStrongHeader(c.value);
            ADD_FAILURE() << c.value;
        } catch (const EStrongValue& e) {
            EXPECT_EQ(e.Reason(), c.reason) << c.value;
            EXPECT_EQ(e.Detail(), c.detail) << c.value;
        }
    }
}

TEST_F(StrongCipherTest, CheckValueDependsOnPasswordSaltAndCost) {
    const uint64_t before = StrongKeyDerivationCount();
    const std::string check = TStrongKey::Derive("pw", kSalt, kTestCost).CheckValue();
    EXPECT_EQ(StrongKeyDerivationCount(), before + 1);
    EXPECT_EQ(TStrongKey::Derive("pw", kSalt, kTestCost).CheckValue(), check);
    EXPECT_NE(TStrongKey::Derive("pW", kSalt, kTestCost).CheckValue(), check);
    EXPECT_NE(TStrongKey::Derive("pw", std::string(kStrongSaltSize, 't'), kTestCost).CheckValue(), check);
    EXPECT_NE(TStrongKey::Derive("pw", kSalt, {2, 8}).CheckValue(), check);
    EXPECT_NE(TStrongKey::Derive("pw", kSalt, {1, 16}).CheckValue(), check);
    EXPECT_THROW(TStrongKey::Derive("pw", "short", kTestCost), Exception);
    EXPECT_THROW(TStrongKey::Derive("pw", kSalt, {1, 4}), EStrongValue);
}

TEST_F(StrongCipherTest, OpenStrongKeyTellsTheRightPassword) {
    const TNewStrongKey created = CreateStrongKey("\xF0\x9F\x94\x91 key");
    const auto right = OpenStrongKey("\xF0\x9F\x94\x91 key", created.encryptionValue);
    ASSERT_TRUE(right.has_value());
    EXPECT_EQ(*right->Open(created.key.Seal("memo", TSealedPart::Memo, V1()), TSealedPart::Memo, V1()),
              "memo");
    EXPECT_FALSE(OpenStrongKey("\xF0\x9F\x94\x91 Key", created.encryptionValue).has_value());
    EXPECT_FALSE(OpenStrongKey("", created.encryptionValue).has_value());
}

TEST_F(StrongCipherTest, SealedTextsOpenOnlyWhole) {
    const TStrongKey key = TStrongKey::Derive("pw", kSalt, kTestCost);
    const TStrongKey other = TStrongKey::Derive("pw2", kSalt, kTestCost);
    for (const TStrongVersion version : {TStrongVersion::V1, TStrongVersion::V2}) {
        const TSealBinding binding = NewSealBinding(version, false);
        const size_t identity = version == TStrongVersion::V2 ? kStrongIdentitySize : 0;
        for (const std::string& plain : {std::string(), std::string("x"), std::string(100000, 'm')}) {
            const std::string sealed = key.Seal(plain, TSealedPart::Memo, binding);
            EXPECT_EQ(sealed.size(), identity + plain.size() + kStrongNonceSize + kStrongTagSize);
            EXPECT_NE(key.Seal(plain, TSealedPart::Memo, binding), sealed) << "a fresh nonce every time";
            EXPECT_EQ(key.Open(sealed, TSealedPart::Memo, binding), plain);
            EXPECT_FALSE(key.Open(sealed, TSealedPart::Payload, binding)) << "a memo is no payload";
            EXPECT_FALSE(other.Open(sealed, TSealedPart::Memo, binding));
            EXPECT_FALSE(key.Open(sealed.substr(0, sealed.size() - 1), TSealedPart::Memo, binding));
            EXPECT_FALSE(key.Open(sealed + "x", TSealedPart::Memo, binding));
        }
        // Every bit of identity, nonce, cipher text and tag counts.
        const std::string sealed =
            key.Seal("\xD0\x9F\xD1\x80\xD0\xB8 \xE6\x97\xA5 \xF0\x9F\x98\x80", TSealedPart::Memo, binding);
        for (size_t i = 0; i < sealed.size(); ++i) {
            for (const unsigned char flip : {0x01, 0x80}) {
                std::string damaged = sealed;
                damaged[i] = static_cast<char>(damaged[i] ^ flip);
                EXPECT_FALSE(key.Open(damaged, TSealedPart::Memo, binding)) << "byte " << i;
            }
        }
    }
    EXPECT_FALSE(key.Open(std::string(kStrongNonceSize + kStrongTagSize - 1, '\0'), TSealedPart::Memo, V1()));
}

// Version 2: a memo and a payload open only as they were sealed together, and a memo says
// whether a payload goes with it. Version 1 takes any pairing under the key.
TEST_F(StrongCipherTest, Version2OpensAMemoAndAPayloadOnlyTogether) {
    const TStrongKey key = TStrongKey::Derive("pw", kSalt, kTestCost);
    struct TSealing {
        std::string memo;
        std::string payload;
    };
    const auto seal = [&](TStrongVersion version, bool hasPayload) {
        const TSealBinding binding = NewSealBinding(version, hasPayload);
        return TSealing{key.Seal("memo", TSealedPart::Memo, binding),
                        key.Seal("<note/>", TSealedPart::Payload, binding)};
    };
    const auto opens = [&](TStrongVersion version, const std::string& memo, const std::string* payload) {
        TSealBinding binding{version, {}, payload != nullptr};
        if (!key.Open(memo, TSealedPart::Memo, binding)) {
            return false;
        }
        if (payload == nullptr) {
            return true;
        }
        binding.identity = SealedMemoIdentity(memo).value_or("");
        return key.Open(*payload, TSealedPart::Payload, binding).has_value();
    };
    const TSealing one = seal(TStrongVersion::V2, true);
    const TSealing two = seal(TStrongVersion::V2, true);
    const TSealing leaf = seal(TStrongVersion::V2, false);
    const TSealing old = seal(TStrongVersion::V1, true);
    const TSealing older = seal(TStrongVersion::V1, true);
    struct TCase {
        const char* what;
        TStrongVersion version;
        const std::string& memo;
        const std::string* payload;
        bool opens;
    };
    const TCase cases[] = {
        {"as sealed", TStrongVersion::V2, one.memo, &one.payload, true},
        {"a leaf as sealed", TStrongVersion::V2, leaf.memo, nullptr, true},
        {"the memo of another sealing", TStrongVersion::V2, two.memo, &one.payload, false},
        {"the payload of another sealing", TStrongVersion::V2, one.memo, &two.payload, false},
        {"the payload taken away", TStrongVersion::V2, one.memo, nullptr, false},
        {"a payload added to a leaf", TStrongVersion::V2, leaf.memo, &one.payload, false},
        {"a version-1 pair read as version 2", TStrongVersion::V2, old.memo, &old.payload, false},
        {"a version-2 pair read as version 1", TStrongVersion::V1, one.memo, &one.payload, false},
        {"version 1 as sealed", TStrongVersion::V1, old.memo, &old.payload, true},
        {"version 1 mixed: not detected, the reason for version 2", TStrongVersion::V1, older.memo,
         &old.payload, true},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(opens(c.version, c.memo, c.payload), c.opens) << c.what;
    }
    EXPECT_THROW(key.Seal("memo", TSealedPart::Memo, {TStrongVersion::V2, "short", false}), Exception);
    EXPECT_FALSE(SealedMemoIdentity(std::string(kStrongIdentitySize, 'i')).has_value());
}

// Stored costs: above four times the present memory or passes is costly (asked about), below the
// cost of new keys is weak (raised when unlocked).
TEST(StrongCipherCostTest, CostsAreTestedAgainstThePresentCost) {
    struct TCase {
        TKeyDerivationCost cost;
        bool costly;
        bool weak;
        TKeyDerivationCost raised;
    };
    const uint32_t m = kStrongKeyCost.memoryKiB;
    const uint32_t t = kStrongKeyCost.passes;
    const TCase cases[] = {
        {kStrongKeyCost, false, false, kStrongKeyCost},    {{4 * t, 4 * m}, false, false, {4 * t, 4 * m}},
        {{4 * t + 1, m}, true, false, {4 * t + 1, m}},     {{t, 4 * m + 1}, true, false, {t, 4 * m + 1}},
        {kGreatestKeyCost, true, false, kGreatestKeyCost}, {{1, 8}, false, true, kStrongKeyCost},
        {{t, m / 2}, false, true, kStrongKeyCost},         {{t - 1, 2 * m}, false, true, {t, 2 * m}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.cost.passes) + " passes, " + std::to_string(c.cost.memoryKiB) + " KiB");
        EXPECT_EQ(IsCostlyKeyCost(c.cost), c.costly);
        EXPECT_EQ(IsWeakKeyCost(c.cost), c.weak);
        EXPECT_EQ(RaisedKeyCost(c.cost), c.raised);
    }
    // The estimate grows with memory times passes.
    EXPECT_GT(EstimatedDerivationTime(kGreatestKeyCost), 16 * EstimatedDerivationTime(kStrongKeyCost));
    EXPECT_EQ(DerivationMemoryText(kGreatestKeyCost), "4096 MiB");
    EXPECT_EQ(DerivationMemoryText({1, 8}), "8 KiB");
    // Under a test's cost, that cost is the present one.
    const TStrongKeyCostForTests low(kTestCost);
    EXPECT_FALSE(IsWeakKeyCost(kTestCost));
    EXPECT_EQ(RaisedKeyCost({1, 8}), kTestCost);
}

TEST(StrongCipherCostTest, NewKeysUseTheMeasuredCostUnlessATestLowersIt) {
    EXPECT_EQ(NewStrongKeyCost(), kStrongKeyCost);
    {
        const TStrongKeyCostForTests low(kTestCost);
        EXPECT_EQ(NewStrongKeyCost(), kTestCost);
        {
            const TStrongKeyCostForTests lower({1, 16});
            EXPECT_EQ(NewStrongKeyCost(), (TKeyDerivationCost{1, 16}));
        }
        EXPECT_EQ(NewStrongKeyCost(), kTestCost);
    }
    EXPECT_EQ(NewStrongKeyCost(), kStrongKeyCost);
    EXPECT_THROW(TStrongKeyCostForTests({0, 8}), Exception);
    EXPECT_THROW(TStrongKeyCostForTests({1, 4 * 1024 * 1024 + 1}), Exception);
    EXPECT_EQ(NewStrongKeyCost(), kStrongKeyCost);
}

TEST(SecretTest, BuffersAreEmptiedWhenGivenUpOrMovedFrom) {
    std::string typed = "typed password that outgrows the small-string buffer";
    TSecret secret = TSecret::Adopt(typed);
    EXPECT_TRUE(typed.empty());
    EXPECT_EQ(secret.View(), "typed password that outgrows the small-string buffer");
    TSecret moved = std::move(secret);
    EXPECT_TRUE(secret.Empty()); // NOLINT(bugprone-use-after-move): the moved-from state is defined
    EXPECT_EQ(moved.View().size(), 52u);

    TGuardedBytes bytes(4, [](unsigned char* out) { std::copy_n("key!", 4, out); });
    {
        const TGuardedBytes::TReading outer(bytes);
        const TGuardedBytes::TReading inner(bytes);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(inner.Data()), 4), "key!");
    }
    const TGuardedBytes::TReading again(bytes);
    EXPECT_EQ(again.Data()[3], '!');
}

// A key read on several threads at once (a recovery snapshot sealing memos beside a command that
// locks a branch under the same key): every reading finds the bytes readable until it ends.
TEST(SecretTest, KeysAreReadOnSeveralThreadsAtOnce) {
    const TStrongKeyCostForTests cost{kTestCost};
    const TNewStrongKey created = CreateStrongKey("shared");
    std::atomic<int> opened{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                const TSealBinding binding = NewSealBinding(TStrongVersion::V2, false);
                const std::string sealed = created.key.Seal("memo", TSealedPart::Memo, binding);
                opened +=
                    created.key.Open(sealed, TSealedPart::Memo, binding) == std::optional<std::string>("memo")
                        ? 1
                        : 0;
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(opened.load(), 4 * 2000);
}

} // namespace
