#include "core/text/CodePage.h"

#include <gtest/gtest.h>

using namespace ludex;

namespace {

TEST(CodePageTest, ConvertsBothWaysForCommonCodePages) {
    struct Case {
        const char* codePage;
        std::string bytes;
        std::string utf8;
    };
    const Case cases[] = {
        {"windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"windows-1252", "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"KOI8-R", "\xF0\xD2\xC9", "\xD0\x9F\xD1\x80\xD0\xB8"},
        {"ISO-8859-1", "\xE9\xFF", "\xC3\xA9\xC3\xBF"},
        {"windows-1251", std::string("a\0\t\r\n", 5), std::string("a\0\t\r\n", 5)},
    };
    for (const auto& c : cases) {
        const TCodePage& cp = TCodePage::Get(c.codePage);
        EXPECT_EQ(cp.ToUtf8(c.bytes), c.utf8) << c.codePage;
        EXPECT_EQ(cp.FromUtf8(c.utf8), c.bytes) << c.codePage;
        EXPECT_TRUE(cp.CanRepresent(c.utf8));
    }
}

TEST(CodePageTest, RefusesWhatItCannotRepresent) {
    const TCodePage& cp1252 = TCodePage::Get("windows-1252");
    try {
        cp1252.FromUtf8("\xD0\x9F"); // Cyrillic capital Pe
        FAIL() << "expected an error";
    } catch (const ECodePage& e) {
        EXPECT_NE(e.Message().find("windows-1252"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("U+041F"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(cp1252.CanRepresent("\xD0\x9F"));
    EXPECT_THROW(cp1252.FromUtf8("bad \xFF"), ECodePage);
    // 0x98 is undefined in windows-1251.
    EXPECT_THROW(TCodePage::Get("windows-1251").ToUtf8("\x98"), ECodePage);
    EXPECT_THROW(TCodePage::Get("no-such-code-page"), ECodePage);
    EXPECT_THROW(TCodePage::Get("UTF-8"), ECodePage);
}

TEST(CodePageTest, CurrentCodePageCanBeChanged) {
    SetCurrentCodePage("windows-1251");
    EXPECT_EQ(CurrentCodePage().Name(), "windows-1251");
    SetCurrentCodePage("windows-1252");
    EXPECT_EQ(CurrentCodePage().Name(), "windows-1252");
    EXPECT_THROW(SetCurrentCodePage("nonsense"), ECodePage);
    EXPECT_EQ(CurrentCodePage().Name(), "windows-1252");
}

// A code page that does not keep the ASCII characters at their bytes would hide a file's UTF-8
// declaration: it is refused as the current one, naming it, and the current one stays.
TEST(CodePageTest, OnlyAsciiCompatibleCodePagesCanBeCurrent) {
    const struct {
        const char* codePage;
        bool compatible;
    } cases[] = {
        {"windows-1252", true}, {"windows-1251", true}, {"KOI8-R", true},  {"ISO-8859-7", true},
        {"IBM037", false},      {"IBM500", false},      {"VISCII", false}, // letters on control bytes
    };
    SetCurrentCodePage("windows-1252");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        EXPECT_EQ(TCodePage::Get(c.codePage).IsAsciiCompatible(), c.compatible);
        if (c.compatible) {
            SetCurrentCodePage(c.codePage);
            EXPECT_EQ(CurrentCodePage().Name(), c.codePage);
            SetCurrentCodePage("windows-1252");
            continue;
        }
        try {
            SetCurrentCodePage(c.codePage);
            ADD_FAILURE() << "accepted";
        } catch (const ECodePage& e) {
            EXPECT_NE(e.Message().find(std::string("Code page ") + c.codePage + " cannot be used"),
                      std::string::npos)
                << e.Message();
        }
        EXPECT_EQ(CurrentCodePage().Name(), "windows-1252");
    }
}

TEST(CodePageTest, UpperCasesAsTheCodePageHoldsTheCharacters) {
    const struct {
        const char* codePage;
        unsigned char byte;
        unsigned char upper;
    } cases[] = {
        {"windows-1252", 'a', 'A'},   {"windows-1252", 'Z', 'Z'},
        {"windows-1252", '1', '1'},   {"windows-1252", 0xE9, 0xC9}, // e acute
        {"windows-1252", 0xFF, 0x9F}, // y diaeresis, whose capital lies outside Latin-1
        {"windows-1252", 0x9A, 0x8A}, // s caron
        {"windows-1252", 0xDF, 0xDF}, // sharp s has no single capital
        {"windows-1252", 0xB5, 0xB5}, // micro sign: its capital (Greek Mu) is not in the code page
        {"windows-1251", 0xFF, 0xDF}, // Cyrillic ya
        {"windows-1251", 0xB8, 0xA8}, // Cyrillic io
        {"windows-1251", 0x98, 0x98}, // undefined byte
        {"KOI8-R", 0xD1, 0xF1},       {"IBM037", 0x81, 0xC1}, // "a" in EBCDIC
    };
    for (const auto& c : cases) {
        const TCodePage& cp = TCodePage::Get(c.codePage);
        EXPECT_EQ(cp.UpperCaseByte(c.byte), c.upper) << c.codePage << " " << int(c.byte);
    }
    const TCodePage& cp1252 = TCodePage::Get("windows-1252");
    EXPECT_EQ(cp1252.UpperCase(U'\u00E9'), U'\u00C9');
    EXPECT_EQ(cp1252.UpperCase(U'\u00FF'), U'\u0178');
    EXPECT_EQ(cp1252.UpperCase(U'q'), U'Q');
    EXPECT_EQ(cp1252.UpperCase(U'\u044F'), U'\u044F'); // Cyrillic ya is not in windows-1252
    EXPECT_EQ(TCodePage::Get("windows-1251").UpperCase(U'\u044F'), U'\u042F');
}

} // namespace
