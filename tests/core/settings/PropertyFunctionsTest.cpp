#include "core/settings/PropertyFunctions.h"

#include "FakePublished.h"

#include <gtest/gtest.h>

#include <string>

using namespace ludex;
using namespace ludex::testing;

namespace {

TEST(PropertyFunctionsTest, ReadsEveryConvertibleKindInItsTextForm) {
    FakeControl control("Button_Find");
    control.caption = "Find <next> & \"more\"";
    control.width = -12;
    control.visible = false;
    control.font.style = fsBold | fsItalic;
    FakeMainWindow window;
    window.windowState = 2;

    struct Case {
        const TPublishedObject* object;
        std::string property;
        std::string expected;
    };
    const Case cases[] = {
        {&control, "Caption", "Find <next> & \"more\""},
        {&control, "Width", "-12"},
        {&control, "wIDTH", "-12"}, // names ignore ASCII case
        {&control, "Visible", "False"},
        {&control, "Tag", "7"},
        {&control.font, "Style", "fsBold,fsItalic"},
        {&control.font, "Charset", "1"},
        {&window, "WindowState", "wsMaximized"},
        {&window, "MemoWordWrap", "True"},
        {&window, "Width", "600"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetPropertyAsString(*c.object, c.property), c.expected) << c.property;
    }
    control.font.style = 0;
    EXPECT_EQ(GetPropertyAsString(control.font, "Style"), "");
}

TEST(PropertyFunctionsTest, FloatsUseUpToFifteenSignificantDigits) {
    struct Case {
        double value;
        std::string text;
    };
    const Case cases[] = {
        {0.5, "0.5"},     {0.1, "0.1"},    {1.0 / 3.0, "0.333333333333333"}, {2.0 / 3.0, "0.666666666666667"},
        {-0.25, "-0.25"}, {1e20, "1e+20"}, {1234567.0, "1234567"},           {0.0, "0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FloatToText(c.value), c.text);
        EXPECT_DOUBLE_EQ(TextToFloat(FloatToText(c.value), "Ratio"), std::stod(c.text));
    }
}

TEST(PropertyFunctionsTest, WritesFromTextAndReadsBackTheCanonicalForm) {
    struct Case {
        std::string property;
        std::string text;
        std::string readBack;
    };
    const Case cases[] = {
        {"Width", "42", "42"},
        {"Width", " -5 ", "-5"},
        {"Width", "+7", "7"},
        {"Width", "$FF", "255"},
        {"Width", "0x10", "16"},
        {"Width", "$FFFFFFFF", "-1"}, // hexadecimal spells the 32 bits, as colours are written
        {"Width", "2147483647", "2147483647"},
        {"Width", "-2147483648", "-2147483648"},
        {"Visible", "false", "False"},
        {"Visible", "TRUE", "True"},
        {"Ratio", "1e3", "1000"},
        {"Ratio", " -0.125", "-0.125"},
        {"Caption", "  spaces stay  ", "  spaces stay  "},
        {"Caption", "", ""},
        {"Hint", "Вставить ветвь", "Вставить ветвь"},
    };
    for (const Case& c : cases) {
        FakeControl control("Control");
        SetPropertyFromString(control, c.property, c.text);
        EXPECT_EQ(GetPropertyAsString(control, c.property), c.readBack)
            << c.property << " = '" << c.text << "'";
    }
}

TEST(PropertyFunctionsTest, SetsAcceptBracketsSpacesAndAnyOrder) {
    struct Case {
        std::string text;
        uint64_t members;
        std::string readBack;
    };
    const Case cases[] = {
        {"fsBold,fsItalic", fsBold | fsItalic, "fsBold,fsItalic"},
        {"[fsBold,fsItalic]", fsBold | fsItalic, "fsBold,fsItalic"},
        {"[ fsStrikeOut , fsBold ]", fsBold | fsStrikeOut, "fsBold,fsStrikeOut"},
        {"fsunderline", fsUnderline, "fsUnderline"},
        {"fsBold,fsBold", fsBold, "fsBold"},
        {"", 0, ""},
        {"[]", 0, ""},
    };
    for (const Case& c : cases) {
        FakeFont font;
        font.style = fsItalic;
        SetPropertyFromString(font, "Style", c.text);
        EXPECT_EQ(font.style, c.members) << c.text;
        EXPECT_EQ(GetPropertyAsString(font, "Style"), c.readBack) << c.text;
    }
}

TEST(PropertyFunctionsTest, TextThatDoesNotConvertIsAConversionErrorAndChangesNothing) {
    struct Case {
        std::string property;
        std::string text;
    };
    const Case cases[] = {
        {"Width", "abc"}, {"Width", ""},           {"Width", "12x"},
        {"Width", "1.5"}, {"Width", "2147483648"}, {"Width", "-2147483649"},
        {"Width", "--1"}, {"Width", "+-1"},        {"Width", "$"},
        {"Width", "0x"},  {"Width", "$1FFFFFFFF"}, {"Visible", "Yes"},
        {"Visible", ""},  {"Visible", "1"},        {"Ratio", "x"},
        {"Ratio", ""},    {"Ratio", "1.2.3"},      {"Ratio", "1,5"},
    };
    for (const Case& c : cases) {
        FakeControl control("Control");
        const std::string before = GetPropertyAsString(control, c.property);
        try {
            SetPropertyFromString(control, c.property, c.text);
            ADD_FAILURE() << c.property << " accepted '" << c.text << "'";
        } catch (const EInvalidProperty& e) {
            ADD_FAILURE() << "conversion failure reported as an invalid property: " << e.what();
        } catch (const EConvertError& e) {
            EXPECT_NE(std::string(e.what()).find(c.property), std::string::npos) << e.what();
        }
        EXPECT_EQ(GetPropertyAsString(control, c.property), before) << c.property;
    }
    const std::string badSets[] = {"fsBold,fsHeavy", "[fsBold", "fsBold,", ",fsBold", "fsBold fsItalic"};
    for (const std::string& text : badSets) {
        FakeFont font;
        font.style = fsUnderline;
        EXPECT_THROW(SetPropertyFromString(font, "Style", text), EConvertError) << text;
        EXPECT_EQ(font.style, fsUnderline) << text;
    }
}

TEST(PropertyFunctionsTest, InvalidPropertiesHaveTheirOwnError) {
    FakeControl control("Control");
    struct Case {
        std::string property;
        std::string message; // empty: the read succeeds
        std::string writeMessage;
    };
    const Case cases[] = {
        {"Nope", "Bad property: Nope", "Bad property: Nope"},
        {"", "Bad property: ", "Bad property: "},
        {"Font", "Unsupported property: Font", "Unsupported property: Font"},
        {"Items", "Unsupported property: Items", "Unsupported property: Items"},
        {"OnClick", "Unsupported property: OnClick", "Unsupported property: OnClick"},
        {"Tag", "", "Read-only property: Tag"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HasProperty(control, c.property), c.property != "Nope" && !c.property.empty());
        if (c.message.empty()) {
            EXPECT_NO_THROW(GetPropertyAsString(control, c.property));
        } else {
            try {
                GetPropertyAsString(control, c.property);
                ADD_FAILURE() << "read of " << c.property;
            } catch (const EInvalidProperty& e) {
                EXPECT_EQ(std::string(e.what()), c.message);
            }
        }
        try {
            SetPropertyFromString(control, c.property, "1");
            ADD_FAILURE() << "write of " << c.property;
        } catch (const EInvalidProperty& e) {
            EXPECT_EQ(std::string(e.what()), c.writeMessage);
        }
    }
    // Both error classes are general exceptions, so the top level shows either.
    EXPECT_THROW(GetPropertyAsString(control, "Nope"), Exception);
    EXPECT_THROW(SetPropertyFromString(control, "Width", "x"), Exception);
}

TEST(PropertyFunctionsTest, ObjectValuedPropertiesGiveTheirObject) {
    FakeControl control("Control");
    EXPECT_EQ(GetObjectProperty(control, "font"), &control.font);
    EXPECT_EQ(GetObjectProperty(control, "PopupMenu"), nullptr);
    EXPECT_THROW(GetObjectProperty(control, "Caption"), EInvalidProperty);
    EXPECT_THROW(GetObjectProperty(control, "Items"), EInvalidProperty);
    EXPECT_THROW(GetObjectProperty(control, "Missing"), EInvalidProperty);
}

TEST(PropertyFunctionsTest, ComponentsAndPropertiesAreFoundIgnoringAsciiCaseOnly) {
    FakeMainWindow window;
    FakeControl& item = window.Add("MI_Файл");
    struct Case {
        std::string name;
        const TPublishedObject* expected;
    };
    const Case cases[] = {
        {"TreeView", &window.treeView},
        {"treeview", &window.treeView},
        {"PANEL_TREEVIEW", &window.panelTreeView},
        {"mi_Файл", &item},
        {"MI_ФАЙЛ", nullptr}, // letters outside ASCII keep their case
        {"TreeView ", nullptr},
        {"Form_Ludex", nullptr}, // the window is not its own component
        {"", nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(window.FindComponent(c.name), c.expected) << c.name;
    }
    // A renamed component is found under its new name.
    window.memo.SetName("Memo2");
    EXPECT_EQ(window.FindComponent("memo2"), &window.memo);
    EXPECT_EQ(window.FindComponent("Memo"), nullptr);

    EXPECT_TRUE(window.RestoredBounds().has_value());
    EXPECT_FALSE(window.memo.RestoredBounds().has_value());
}

TEST(PropertyFunctionsTest, EnumerationOutsideItsNamesReadsAsItsNumber) {
    TPublishedBase object("Odd");
    int value = 5;
    object.AddEnumeration(
        "State", {"stA", "stB"}, [&] { return value; }, [&](int v) { value = v; });
    EXPECT_EQ(GetPropertyAsString(object, "State"), "5");
    SetPropertyFromString(object, "State", "stb");
    EXPECT_EQ(value, 1);
}

TEST(PropertyFunctionsTest, TableEntriesNeedTheGetterOfTheirKind) {
    TPublishedBase object("Odd");
    EXPECT_THROW(object.AddInteger("A", nullptr, nullptr), Exception);
    EXPECT_THROW(object.AddText("B", nullptr, [](const std::string&) {}), Exception);
    EXPECT_THROW(object.AddObject("C", nullptr), Exception);
    TPublishedProperty raw;
    raw.Name = "D";
    raw.Kind = TPropertyKind::Float;
    EXPECT_THROW(object.AddProperty(raw), Exception);
    EXPECT_FALSE(HasProperty(object, "A"));
    EXPECT_FALSE(HasProperty(object, "D"));
}

TEST(PropertyFunctionsTest, StringListChecksItsIndex) {
    TPublishedStringList list({"a", "b"});
    EXPECT_EQ(list.Get(1), "b");
    list.Put(0, "c");
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"c", "b"}));
    EXPECT_THROW(list.Get(2), Exception);
    EXPECT_THROW(list.Put(-1, "x"), Exception);
}

} // namespace
