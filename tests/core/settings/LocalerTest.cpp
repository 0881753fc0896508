#include "core/settings/LX_Localer.h"
#include "core/text/SystemLocale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ludex;

namespace {

TEST(LocalerTest, FillsPlaceholders) {
    struct Case {
        std::string templateText;
        std::vector<std::string> arguments;
        std::string result;
    };
    const Case cases[] = {
        {"{0} of {1}", {"A", "B"}, "A of B"},
        {"{{0}} is {0}", {"X"}, "{0} is X"},
        {"{0}{0}", {"Y"}, "YY"},
        {"{0}{0}", {""}, ""},
        {"{2}", {"A", "B"}, "{2}"},
        {"{0}", {"a{{b"}, "a{b"},
        {"{0}", {"{1}"}, "{1}"},          // no second argument: stays
        {"{0} {1}", {"{1}", "Z"}, "Z Z"}, // an argument is filled by later passes
        {"{1} {0}", {"{1}", "Z"}, "Z Z"},
        {"{0}", {"{0}"}, "{0}"}, // inserted text is not scanned again by its own pass
        {"{0}", {}, "{0}"},
        {"a}}b{{c", {}, "a}b{c"},
        {"{{{0}}}", {"q"}, "{{0}}"}, // the tag stands in doubled braces: left, then undoubled
        {"{{0}", {"q"}, "{q"},
        {"{0}}", {"q"}, "q}"},
        {"{10}{1}", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "K"}, "Kb"},
        {"Ludex {0}", {"2.1.0 "}, "Ludex 2.1.0 "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatPlaceholders(c.templateText, c.arguments), c.result) << c.templateText;
    }
}

TEST(LocalerTest, LanguagesByNameCodeAndSystemIdentifier) {
    EXPECT_EQ(LanguageName(langEnglish), "langEnglish");
    EXPECT_EQ(LanguageName(langRussian), "langRussian");
    EXPECT_EQ(LanguageName(static_cast<TLanguage>(7)), "");
    struct Case {
        std::string name;
        std::optional<TLanguage> language;
    };
    const Case cases[] = {
        {"langEnglish", langEnglish}, {"langRussian", langRussian}, {"LANGRUSSIAN", langRussian},
        {"langGerman", std::nullopt}, {"", std::nullopt},           {"langRussian ", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LanguageFromName(c.name), c.language) << c.name;
    }

    EXPECT_EQ(DefaultLanguage(0x0419), langRussian);
    EXPECT_EQ(DefaultLanguage(0x0409), langEnglish);
    EXPECT_EQ(DefaultLanguage(0x0819), langEnglish); // Russian of another territory
    EXPECT_EQ(DefaultLanguage(LanguageIdentifierFromLocaleName("ru_RU.UTF-8")), langRussian);
    EXPECT_EQ(DefaultLanguage(LanguageIdentifierFromLocaleName("ru_UA.UTF-8")), langEnglish);

    TLXLocaler localer;
    EXPECT_EQ(localer.LanguageCode(), "ENG");
    EXPECT_EQ(localer.LanguageFileName(), "Language.ENG.xml");
    localer.Language = langRussian;
    localer.LanguageFolder = "/opt/ludex";
    EXPECT_EQ(localer.LanguageCode(), "RUS");
    EXPECT_EQ(localer.LanguageFileName(), "/opt/ludex/Language.RUS.xml");
    localer.LanguageFolder = "/opt/ludex/";
    EXPECT_EQ(localer.LanguageFileName(), "/opt/ludex/Language.RUS.xml");
    localer.Language = static_cast<TLanguage>(2);
    EXPECT_EQ(localer.LanguageCode(), "");
}

TEST(LocalerTest, MessagesBeforeAnyFileAreUnknownNotACrash) {
    TLXLocaler localer;
    EXPECT_EQ(localer.GetMessage("MainCaption"), "Unknown: MainCaption");
    EXPECT_EQ(localer.FormatMessage("MainCaption", {"1"}), "Unknown: MainCaption");
}

} // namespace
