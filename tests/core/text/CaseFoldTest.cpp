#include "core/text/CaseFold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ludex;

namespace {

TEST(CaseFoldTest, FoldsCodePoints) {
    const struct {
        char32_t c;
        char32_t folded;
    } cases[] = {
        {U'A', U'a'},
        {U'z', U'z'},
        {U'@', U'@'},
        {U'[', U'['},
        {U'\u0410', U'\u0430'},
        {U'\u042F', U'\u044F'},
        {U'\u0401', U'\u0451'},
        {U'\u0404', U'\u0454'}, // А Я Ё Є
        {U'\u0430', U'\u0430'},
        {U'\u0391', U'\u03B1'},
        {U'\u03A3', U'\u03C3'},
        {U'\u03C2', U'\u03C3'},
        {U'\u0386', U'\u03AC'}, // Α Σ ς Ά
        {U'\u00C9', U'\u00E9'},
        {U'\u00DE', U'\u00FE'},
        {U'\u0141', U'\u0142'},
        {U'\u0178', U'\u00FF'}, // É Þ Ł Ÿ
        {U'\u00D7', U'\u00D7'}, // × is no letter
        {U'\u1E9E', U'\u00DF'},
        {U'\u212A', U'k'},
        {U'\u2126', U'\u03C9'},         // ẞ, Kelvin, Ohm
        {U'\u0130', U'\u0130'},         // İ has only a full (two-character) folding
        {U'\u017F', U's'},              // long s
        {U'\U00010400', U'\U00010428'}, // Deseret, outside the basic plane
        {U'\U0001E900', U'\U0001E922'}, // Adlam, the last block with a folding
        {U'\U0001F600', U'\U0001F600'},
        {0x10FFFF, 0x10FFFF},
        {0x110000, 0x110000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FoldCase(c.c), c.folded) << std::hex << static_cast<unsigned>(c.c);
    }
}

TEST(CaseFoldTest, FoldsTexts) {
    std::string folded;
    std::vector<size_t> origins;
    EXPECT_TRUE(FoldText("\xD0\x9E\xD0\xA2\xD0\x9F\xD0\xA3\xD0\xA1\xD0\x9A Ok", folded, origins));
    EXPECT_EQ(folded, "\xD0\xBE\xD1\x82\xD0\xBF\xD1\x83\xD1\x81\xD0\xBA ok");
    EXPECT_TRUE(origins.empty());

    // A stray byte is kept; nothing of the text is lost.
    EXPECT_TRUE(FoldText("A\xFF\xD0", folded, origins));
    EXPECT_EQ(folded, "a\xFF\xD0");

    // The Kelvin sign shrinks from three bytes to one: every folded byte knows where it came from.
    EXPECT_FALSE(FoldText("\xC3\x89\xE2\x84\xAA\xCE\xA3", folded, origins));
    EXPECT_EQ(folded, "\xC3\xA9k\xCF\x83");
    EXPECT_EQ(origins, (std::vector<size_t>{0, 1, 2, 5, 6, 7}));
}

} // namespace
