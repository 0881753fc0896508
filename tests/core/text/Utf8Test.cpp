#include "core/text/Utf8.h"
#include "core/text/SystemLocale.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace ludex;

namespace {

struct Utf8Case {
    std::string bytes;
    bool valid;
    size_t badOffset;
};

TEST(Utf8Test, ValidatesStrictly) {
    const Utf8Case cases[] = {
        {"", true, 0},
        {"plain ascii", true, 0},
        {"\xD0\x9F\xD1\x80\xD0\xB8", true, 0}, // Cyrillic
        {"\xE2\x82\xAC", true, 0},             // euro sign
        {"\xF0\x9F\x98\x80", true, 0},         // outside the BMP
        {"ab\x80", false, 2},                  // lone continuation byte
        {"\xC0\xAF", false, 0},                // overlong "/"
        {"\xE0\x80\xAF", false, 0},            // overlong, 3 bytes
        {"\xED\xA0\x80", false, 0},            // surrogate
        {"\xF4\x90\x80\x80", false, 0},        // above U+10FFFF
        {"x\xD0", false, 1},                   // cut short at the end
        {"x\xE2\x82", false, 1},               // cut short at the end
        {"\xE2(\xAC", false, 0},               // bad continuation
        {"ok\xFF", false, 2},
    };
    for (const auto& c : cases) {
        size_t bad = 999;
        EXPECT_EQ(IsValidUtf8(c.bytes, &bad), c.valid) << c.bytes;
        if (!c.valid) {
            EXPECT_EQ(bad, c.badOffset) << c.bytes;
        }
    }
}

// Wherever a character stands relative to the 16-byte blocks the scan passes whole, the verdict
// and the offset of the first bad byte are the same.
TEST(Utf8Test, FindsTheFirstBadByteAtEveryPositionInABlock) {
    const std::pair<std::string, bool> pieces[] = {
        {"", true},
        {"a", true},
        {"\xD0\x96", true},
        {"\xE2\x9C\x93", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xFF", false},
        {"\xC3", false},
        {"\xC0\xAF", false},
        {"\xED\xA0\x80", false},
        {"\xF4\x90\x80\x80", false},
        {"\x80", false},
        {"\xE2\x9C", false},
        {"\xF0\x9F\x98", false},
        {"\xC2\xA0", true},
        {"\xEF\xBF\xBF", true},
    };
    for (size_t prefix = 0; prefix < 20; ++prefix) {
        for (const auto& [piece, valid] : pieces) {
            for (size_t suffix : {0u, 1u, 9u}) {
                const std::string text = std::string(prefix, 'x') + piece + std::string(suffix, 'y');
                size_t offset = 999;
                EXPECT_EQ(IsValidUtf8(text, &offset), valid) << prefix << " " << piece.size();
                if (!valid) {
                    EXPECT_EQ(offset, prefix)
                        << prefix << " " << piece.size(); // every bad piece fails at its lead
                }
            }
        }
    }
}

// Fed in pieces cut at every point (and byte by byte), the scanner gives the verdict and offset of
// the whole-text check.
TEST(Utf8Test, ScannerInPiecesAgreesAtEveryCut) {
    const std::string texts[] = {
        "plain ascii text that is long enough to fill a block or two",
        "\xD0\x9F\xD1\x80\xD0\xB8 \xF0\x9F\x98\x80 \xE2\x9C\x93 end",
        "bad \xC3( here",
        "cut at the end \xE2\x9C",
        "a four-byte character cut at the end \xF0\x9F\x98",
        "\xEF\xBB\xBF bom inside, then a stray \x80 and more text after it",
        "never a lead \xF5\x80\x80\x80",
    };
    for (const std::string& text : texts) {
        size_t expectedOffset = 0;
        const bool expectedValid = IsValidUtf8(text, &expectedOffset);
        auto check = [&](const std::vector<size_t>& cuts, const std::string& how) {
            TUtf8Scanner scanner;
            for (size_t cut : cuts) {
                scanner.Advance(std::string_view(text).substr(0, cut), TInput::Partial);
            }
            scanner.Advance(text, TInput::Complete);
            EXPECT_EQ(!scanner.Failed(), expectedValid) << text << " " << how;
            if (!expectedValid && scanner.Failed()) {
                EXPECT_EQ(scanner.BadOffset(), expectedOffset) << text << " " << how;
            }
        };
        for (size_t cut = 0; cut <= text.size(); ++cut) {
            check({cut}, "cut at " + std::to_string(cut));
        }
        std::vector<size_t> every;
        for (size_t cut = 1; cut <= text.size(); ++cut) {
            every.push_back(cut);
        }
        check(every, "byte by byte");
    }
}

TEST(Utf8Test, EncodesEveryLength) {
    for (char32_t cp : {U'\0', U'A', U'\u00E9', U'\u0416', U'\u20AC', U'\U0001F600'}) {
        std::string s;
        AppendUtf8(s, cp);
        size_t pos = 0;
        char32_t back = 0;
        ASSERT_TRUE(DecodeUtf8(s, pos, back));
        EXPECT_EQ(back, cp);
        EXPECT_EQ(pos, s.size());
    }
}

TEST(SystemLocaleTest, MapsLocaleNamesToLanguageIdentifiers) {
    const std::pair<const char*, uint16_t> cases[] = {
        {"ru_RU.UTF-8", 0x0419}, {"ru_RU", 0x0419},       {"ru", 0x0419}, {"ru_RU@euro", 0x0419},
        {"ru_UA.UTF-8", 0x0409}, {"en_US.UTF-8", 0x0409}, {"C", 0x0409},  {"de_DE", 0x0409},
    };
    for (auto [name, id] : cases) {
        EXPECT_EQ(LanguageIdentifierFromLocaleName(name), id) << name;
    }
}

} // namespace
