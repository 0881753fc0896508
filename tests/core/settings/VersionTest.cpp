#include "core/settings/ExeFileVersion.h"
#include "core/settings/LX_PropertyBailee.h"
#include "core/settings/LX_Utils.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace ludex;

namespace {

TVersionRecord Record(uint16_t major, uint16_t minor, uint16_t release, uint16_t build,
                      std::optional<std::string> comment = std::nullopt) {
    TVersionRecord record;
    record.FileVersionMS = (uint32_t{major} << 16) | minor;
    record.FileVersionLS = (uint32_t{release} << 16) | build;
    record.Translations = {{0x0419, 0x04E3}};
    if (comment) {
        record.Strings["\\StringFileInfo\\041904E3\\VersionComment"] = *comment;
    }
    return record;
}

TEST(VersionTest, VersionTextFollowsBuildNumberAndComment) {
    struct Case {
        std::optional<TVersionRecord> record;
        std::string text;
    };
    const Case cases[] = {
        {Record(2, 1, 0, 0), "2.1.0 "},
        {Record(2, 1, 0, 5), "2.1.0.5 "},
        {Record(2, 1, 0, 0, "Beta"), "2.1.0 Beta"},
        {Record(2, 1, 3, 7, "rc"), "2.1.3.7 rc"},
        {Record(65535, 65535, 65535, 65535), "65535.65535.65535.65535 "},
        {std::nullopt, "0.0.0 "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetFileVersionString(c.record ? &*c.record : nullptr), c.text);
    }
}

TEST(VersionTest, StringsComeFromTheFirstTranslationOnly) {
    TVersionRecord record = Record(1, 0, 0, 0);
    record.Translations = {{0x0409, 0x04B0}, {0x0419, 0x04E3}};
    record.Strings["\\StringFileInfo\\041904E3\\VersionComment"] = "second";
    record.Strings["\\StringFileInfo\\040904B0\\ProductName"] = "first";
    EXPECT_EQ(GetVersionInfoString(9, &record), "");
    EXPECT_EQ(GetVersionInfoString(7, &record), "first");
    // Hex digits are upper case: a lower-case key is another key.
    record.Strings["\\StringFileInfo\\040904b0\\CompanyName"] = "lower";
    EXPECT_EQ(GetVersionInfoString(0, &record), "");
    EXPECT_EQ(GetVersionInfoString(10, &record), "");
    EXPECT_EQ(GetVersionInfoString(-1, &record), "");
    record.Translations.clear();
    EXPECT_EQ(GetVersionInfoString(7, &record), "");
    EXPECT_EQ(GetVersionInfoString(7, nullptr), "");
}

TEST(VersionTest, FixedPartSplitsTheTwoWords) {
    const TVersionRecord record = Record(3, 4, 5, 6);
    uint16_t major = 9, minor = 9, release = 9, build = 9;
    GetFileVersion(major, minor, release, build, &record);
    EXPECT_EQ(major, 3);
    EXPECT_EQ(minor, 4);
    EXPECT_EQ(release, 5);
    EXPECT_EQ(build, 6);
    GetFileVersion(major, minor, release, build, nullptr);
    EXPECT_EQ(major + minor + release + build, 0);
}

TEST(VersionTest, TheBuildCarriesVersion210WithoutComment) {
    EXPECT_EQ(ProgramVersion(), "2.1.0 ");
    const TVersionRecord* record = ExecutableVersionRecord();
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->Translations.size(), 1u);
    EXPECT_EQ(record->Translations[0].first, 0x0419);
    EXPECT_EQ(record->Translations[0].second, 0x04E3);
    EXPECT_EQ(GetVersionInfoString(9), "");
    EXPECT_EQ(GetVersionInfoString(7), "Ludex");
}

TEST(VersionTest, MailLinkAlwaysCarriesSubjectAndBody) {
    EXPECT_EQ(MailLink("me@example.org", "", ""), "mailto:me@example.org?subject=&body=");
    EXPECT_EQ(MailLink("a@b", "Hi there", "x&y"), "mailto:a@b?subject=Hi there&body=x&y");
    EXPECT_EQ(OpenURLErrorText("http://x", 2), "Can not open http://x\r\nError code 2");
    EXPECT_EQ(SendMailErrorText(31), "Can not open email client. Error code 31");
}

TEST(VersionTest, SettingsFilesSitBesideTheExecutable) {
    struct Case {
        std::string executable, settings, stencil;
    };
    const Case cases[] = {
        {"/opt/ludex/ludex", "/opt/ludex/ludex_Settings.xml", "/opt/ludex/ludex_Settings_Stencil.xml"},
        {"/opt/ludex/Notes.exe", "/opt/ludex/Notes_Settings.xml", "/opt/ludex/Notes_Settings_Stencil.xml"},
        {"/opt/my.apps/ludex", "/opt/my.apps/ludex_Settings.xml", "/opt/my.apps/ludex_Settings_Stencil.xml"},
        {"/a/b.c.d", "/a/b.c_Settings.xml", "/a/b.c_Settings_Stencil.xml"},
        {"ludex", "ludex_Settings.xml", "ludex_Settings_Stencil.xml"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SettingsFileNameFor(c.executable), c.settings);
        EXPECT_EQ(StencilFileNameFor(c.executable), c.stencil);
    }
    EXPECT_FALSE(ExecutablePath().empty());
    EXPECT_EQ(ExecutablePath().front(), '/');
}

} // namespace
