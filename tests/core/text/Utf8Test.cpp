#include "core/text/Utf8.h"
#include "core/text/SystemLocale.h"

#include <gtest/gtest.h>

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
