#include "core/crypto/Cipher.h"

#include "CipherVectors.h"
#include "core/base/Exception.h"
#include "core/crypto/Cryptographer.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace ludex;
using ludex::test::LoadCipherVectors;

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string KeyBytes(const TCryptographer& cryptographer) {
    return std::string(cryptographer.Key().begin(), cryptographer.Key().end());
}

std::string RandomText(std::mt19937& random, size_t size) {
    std::string text(size, '\0');
    for (char& c : text) {
        c = static_cast<char>(random() & 0xFF);
    }
    return text;
}

TEST(CipherTest, MD5StringMatchesKnownDigests) {
    for (const auto& v : LoadCipherVectors("md5")) {
        EXPECT_EQ(Hex(MD5String(v.fields[0])), Hex(v.fields[1])) << "line " << v.line;
    }
}

TEST(CipherTest, PasswordDigestMatchesKnownValues) {
    for (const auto& v : LoadCipherVectors("digest")) {
        const std::string value = PasswordDigest(v.fields[0]);
        EXPECT_EQ(value, v.fields[1]) << "line " << v.line;
        EXPECT_EQ(value.size(), 24u);
        EXPECT_EQ(value.substr(22), "==");
    }
}

TEST(CipherTest, Base64MatchesKnownEncodingsBothWays) {
    for (const auto& v : LoadCipherVectors("base64")) {
        EXPECT_EQ(Base64Encode(v.fields[0]), v.fields[1]) << "line " << v.line;
        EXPECT_EQ(Base64Decode(v.fields[1]), v.fields[0]) << "line " << v.line;
    }
}

TEST(CipherTest, Base64DecodeFollowsTheGroupRules) {
    struct Case {
        std::string text;
        std::string bytes;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"", ""},
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"QUJD", "ABC"},
        // A pad in the third place gives one byte whatever the fourth character is.
        {"QQ=D", "A"},
        // Every group stands alone, also after a padded one.
        {"QQ==QUJD", "AABC"},
        {"QUI=QQ==QUJD", "ABAABC"},
        // Characters outside the alphabet, and "=" where a digit is expected, count as 0.
        {"!!!!", "\0\0\0"s},
        {"=AAA", "\0\0\0"s},
        {"A===", "\0"s},
        {"\xFF\xFF"
         "BB",
         "\0\0\x41"s},
        {"Q\x80==", "\x40"s},
        {"QU\nD", "A\x40\x03"s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(Base64Decode(c.text)), Hex(c.bytes)) << c.text;
    }
}

TEST(CipherTest, Base64DecodeRefusesLengthsThatAreNotMultiplesOfFour) {
    for (const char* text : {"Q", "QQ", "QQ=", "QUJDR", "QUJDRE", "QUJDREU", "QUJD\n"}) {
        try {
            Base64Decode(text);
            FAIL() << "no error for " << text;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Uneven size in DecodeToStream.");
        }
    }
}

TEST(CipherTest, EncryptWithSaltMatchesKnownCipherTexts) {
    for (const auto& v : LoadCipherVectors("encrypt")) {
        const std::string& name = v.fields[0];
        const std::string& password = v.fields[1];
        const std::string& salt = v.fields[2];
        const std::string& plain = v.fields[3];
        const std::string& enciphered = v.fields[4];
        TCryptographer cryptographer;
        EXPECT_EQ(Hex(cryptographer.EncryptWithSalt(plain, password, salt)), Hex(enciphered)) << name;
        EXPECT_EQ(Hex(DecryptBranchText(enciphered, password)), Hex(plain)) << name;
        EXPECT_EQ(Hex(DecryptString(enciphered, password, kBranchSaltLength)), Hex(plain)) << name;
    }
}

TEST(CipherTest, KeyChainCutsAtTheFirstZeroByte) {
    for (const auto& v : LoadCipherVectors("chain")) {
        TCryptographer cryptographer;
        cryptographer.SetKey(v.fields[1]);
        EXPECT_EQ(Hex(KeyBytes(cryptographer)), Hex(v.fields[2])) << v.fields[0];
        for (size_t step = 3; step < v.fields.size(); ++step) {
            cryptographer.NextKey();
            EXPECT_EQ(Hex(KeyBytes(cryptographer)), Hex(v.fields[step]))
                << v.fields[0] << " step " << step - 2;
        }
    }
}

TEST(CipherTest, TransformUsesOneNewKeyPerBlockOfSixteen) {
    struct Case {
        size_t size;
        int keys;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {15, 1}, {16, 1}, {17, 2}, {32, 2}, {33, 3}};
    for (const auto& c : cases) {
        TCryptographer transformer;
        TCryptographer reference;
        transformer.SetKey("key");
        reference.SetKey("key");
        std::string expected;
        for (int k = 0; k < c.keys; ++k) {
            reference.NextKey();
            expected += KeyBytes(reference);
        }
        expected.resize(c.size);
        // Zero bytes plus the key stream are the key stream itself.
        std::string data(c.size, '\0');
        transformer.Transform(data, TCryptographer::TByteOperation::Add);
        EXPECT_EQ(Hex(data), Hex(expected)) << c.size;
        EXPECT_EQ(KeyBytes(transformer), KeyBytes(reference)) << c.size;
    }
}

TEST(CipherTest, SubtractUndoesAdd) {
    std::mt19937 random(7);
    const std::string plain = RandomText(random, 100);
    std::string data = plain;
    TCryptographer a;
    a.SetKey("k");
    a.Transform(data, TCryptographer::TByteOperation::Add);
    EXPECT_NE(data, plain);
    TCryptographer b;
    b.SetKey("k");
    b.Transform(data, TCryptographer::TByteOperation::Subtract);
    EXPECT_EQ(data, plain);
}

TEST(CipherTest, InputShorterThanTheSaltDecryptsToNothing) {
    for (const char* input : {"", "a", "ab", "abc", "abcd"}) {
        EXPECT_EQ(DecryptBranchText(input, "password"), "") << input;
    }
    EXPECT_EQ(DecryptString("abc", "password", 8), "");
}

TEST(CipherTest, EncryptedTextIsSaltThenOneByteForEachPlainByte) {
    for (size_t saltLength : {0u, 1u, 4u, 16u}) {
        for (const std::string plain : {"", "x", "sixteen bytes!!!", "seventeen bytes!!"}) {
            const std::string enciphered = EncryptString(plain, "pw", saltLength);
            EXPECT_EQ(enciphered.size(), saltLength + plain.size());
            EXPECT_EQ(DecryptString(enciphered, "pw", saltLength), plain);
        }
    }
    // An empty memo still has 8 Base64 characters: the salt.
    EXPECT_EQ(Base64Encode(EncryptBranchText("", "pw")).size(), 8u);
}

TEST(CipherTest, RoundTripsEveryLengthUnderAnyPassword) {
    std::mt19937 random(2024);
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 100; ++n) {
        sizes.push_back(n);
    }
    for (size_t n : {127u, 128u, 129u, 1000u, 4095u, 4096u, 65537u}) {
        sizes.push_back(n);
    }
    for (size_t n : sizes) {
        const std::string plain = RandomText(random, n);
        const std::string password = RandomText(random, random() % 20);
        const std::string enciphered = EncryptBranchText(plain, password);
        ASSERT_EQ(enciphered.size(), n + kBranchSaltLength);
        ASSERT_EQ(DecryptBranchText(enciphered, password), plain) << "length " << n;
        ASSERT_EQ(DecryptBranchText(Base64Decode(Base64Encode(enciphered)), password), plain)
            << "length " << n;
    }
}

TEST(CipherTest, EveryEncryptionDrawsANewSalt) {
    const std::string plain = "the same memo";
    const std::string first = EncryptBranchText(plain, "pw");
    const std::string second = EncryptBranchText(plain, "pw");
    EXPECT_NE(first, second);
    EXPECT_NE(first.substr(0, kBranchSaltLength), second.substr(0, kBranchSaltLength));
    EXPECT_EQ(DecryptBranchText(first, "pw"), plain);
    EXPECT_EQ(DecryptBranchText(second, "pw"), plain);
}

TEST(CipherTest, WrongPasswordGivesOtherBytesOfTheSameLength) {
    const std::string plain = "a memo of some length, longer than one block";
    const std::string wrong = DecryptBranchText(EncryptBranchText(plain, "right"), "wrong");
    EXPECT_EQ(wrong.size(), plain.size());
    EXPECT_NE(wrong, plain);
}

TEST(CipherTest, RandomBytesHaveTheRequestedLengthAndVary) {
    for (size_t n : {0u, 1u, 4u, 1000u}) {
        EXPECT_EQ(RandomBytes(n).size(), n);
    }
    const std::string many = RandomBytes(4096);
    const std::set<char> values(many.begin(), many.end());
    EXPECT_GT(values.size(), 200u); // a uniform source misses this with negligible probability
    EXPECT_NE(RandomBytes(16), RandomBytes(16));
}

} // namespace
