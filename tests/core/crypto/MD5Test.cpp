#include "core/crypto/MD5.h"

#include "CipherVectors.h"
#include "core/crypto/Cipher.h"

#include <gtest/gtest.h>

#include <random>

using namespace ludex;
using ludex::test::LoadCipherVectors;

namespace {

std::string AsString(const TMD5::TDigest& digest) {
    return std::string(digest.begin(), digest.end());
}

TEST(MD5Test, MatchesKnownDigestsWholeAndInPieces) {
    for (const auto& v : LoadCipherVectors("md5")) {
        const std::string& message = v.fields[0];
        EXPECT_EQ(AsString(TMD5::Digest(message)), v.fields[1]) << "line " << v.line;
        for (size_t piece : {1u, 3u, 55u, 63u, 64u, 65u}) {
            TMD5 md5;
            for (size_t i = 0; i < message.size(); i += piece) {
                md5.Update(std::string_view(message).substr(i, piece));
            }
            EXPECT_EQ(AsString(md5.Final()), v.fields[1]) << "line " << v.line << " piece " << piece;
        }
    }
}

TEST(MD5Test, AgreesWithLibcryptoOnRandomMessages) {
    std::mt19937 random(1321);
    TMD5 reused;
    for (int round = 0; round < 600; ++round) {
        const size_t size = round < 300 ? static_cast<size_t>(round) : random() % 5000;
        std::string message(size, '\0');
        for (char& c : message) {
            c = static_cast<char>(random() & 0xFF);
        }
        const std::string expected = MD5String(message);
        ASSERT_EQ(AsString(TMD5::Digest(message)), expected) << "size " << size;
        // The same engine again and again: Final starts a new message.
        reused.Update(message);
        ASSERT_EQ(AsString(reused.Final()), expected) << "size " << size;
    }
}

TEST(MD5Test, DigestPrefixHashesTheFirstBytesOnly) {
    std::mt19937 random(5);
    for (int round = 0; round < 20; ++round) {
        TMD5::TDigest block;
        for (auto& b : block) {
            b = static_cast<unsigned char>(random() & 0xFF);
        }
        for (size_t size = 0; size <= 16; ++size) {
            EXPECT_EQ(TMD5::DigestPrefix(block, size), TMD5::Digest(block.data(), size)) << size;
        }
        // More than the block holds is the whole block.
        EXPECT_EQ(TMD5::DigestPrefix(block, 40), TMD5::Digest(block.data(), 16));
    }
}

} // namespace
