#include "document/Utf8Scan.h"

#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <string>

using namespace ludex;

namespace {

// The fast scan must agree with the reference check, offset included, wherever the fault stands
// relative to the 8-byte words it skips.
TEST(Utf8ScanTest, AgreesWithTheReferenceCheck) {
    const std::string pieces[] = {"",     "a",        "\xD0\x96",     "\xE2\x9C\x93", "\xF0\x9F\x98\x80",
                                  "\xFF", "\xC3",     "\xC0\xAF",     "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                  "\x80", "\xE2\x9C", "\xF0\x9F\x98", "\xC2\xA0",     "\xEF\xBF\xBF"};
    for (size_t prefix = 0; prefix < 20; ++prefix) {
        for (const std::string& piece : pieces) {
            for (size_t suffix : {0u, 1u, 9u}) {
                std::string text = std::string(prefix, 'x') + piece + std::string(suffix, 'y');
                size_t expectedOffset = 0, offset = 0;
                bool expected = IsValidUtf8(text, &expectedOffset);
                EXPECT_EQ(IsValidUtf8Scan(text, &offset), expected) << prefix << " " << piece.size();
                if (!expected) {
                    EXPECT_EQ(offset, expectedOffset) << prefix << " " << piece.size();
                }
            }
        }
    }
}

} // namespace
