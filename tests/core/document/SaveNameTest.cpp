#include "core/document/SaveName.h"

#include <gtest/gtest.h>

#include <string>

namespace ludex {
namespace {

TEST(SaveName, TitlesBecomeSafeFileNames) {
    struct Case {
        std::string title;
        std::string name;
    };
    const Case cases[] = {
        {"Notes", "Notes.ldx"},
        {"v1.2 plans", "v1.2 plans.ldx"},
        {"a/b", "a_b.ldx"},
        {"../../etc/passwd", "_.._etc_passwd.ldx"},
        {std::string("tab\there\nline\0nul", 17), "tab_here_line_nul.ldx"},
        {"  .hidden  ", "hidden.ldx"},
        {"\xD0\x97\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB8",
         "\xD0\x97\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB8.ldx"},
        {"", "New Document.ldx"},
        {" . .", "New Document.ldx"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileNameForTitle(c.title, "New Document"), c.name) << c.title;
    }
    EXPECT_EQ(FileNameForTitle("", ""), "document.ldx");
}

TEST(SaveName, LongTitlesAreCutBetweenCharacters) {
    std::string title;
    for (int i = 0; i < 150; ++i) {
        title += "\xD0\x96"; // two bytes each: 300 bytes
    }
    const std::string name = FileNameForTitle("x" + title, "");
    ASSERT_TRUE(name.ends_with(".ldx"));
    const std::string stem = name.substr(0, name.size() - 4);
    EXPECT_LE(stem.size(), 200U);
    EXPECT_EQ(stem.size() % 2, 1U); // "x" and whole letters
}

} // namespace
} // namespace ludex
