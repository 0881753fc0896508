#include "core/settings/FileLocations.h"
#include "core/base/Exception.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ludex;

namespace {

namespace fs = std::filesystem;

TEnvironment Environment(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) {
            return std::nullopt;
        }
        return found->second;
    };
}

// An installed tree (prefix/bin and prefix/share/ludex) inside a scratch folder.
class FileLocationsTest : public ::testing::Test {
protected:
    FileLocationsTest() {
        fs::create_directories(Bin());
        fs::create_directories(Share());
    }
    std::string Bin() const { return root_.File("usr/bin"); }
    std::string Share() const { return root_.File("usr/share/ludex"); }
    std::string Executable() const { return Bin() + "/ludex"; }
    static void WriteBytes(const std::string& path) { std::ofstream(path, std::ios::binary) << "<x/>"; }

    ludex::testing::TempDir root_;
};

TEST_F(FileLocationsTest, DataLiesBesideTheExecutableWhenTheStencilIsThereElseUnderShare) {
    WriteBytes(Share() + "/ludex_Settings_Stencil.xml");
    const auto env = Environment({{"HOME", "/home/u"}});
    {
        const TFileLocations installed(Executable(), env);
        EXPECT_EQ(installed.DataFolder(), Share());
        EXPECT_EQ(installed.StencilFile(), Share() + "/ludex_Settings_Stencil.xml");
        EXPECT_EQ(installed.HelpFile("RUS"), Share() + "/ludex_RUS.help");
    }
    // Language files or help documents alone beside it do not make a data folder.
    WriteBytes(Bin() + "/Language.ENG.xml");
    EXPECT_EQ(TFileLocations(Executable(), env).DataFolder(), Share());

    WriteBytes(Bin() + "/ludex_Settings_Stencil.xml");
    const TFileLocations beside(Executable(), env);
    EXPECT_EQ(beside.DataFolder(), Bin());
    EXPECT_EQ(beside.HelpFile("ENG"), Bin() + "/ludex_ENG.help");
}

TEST_F(FileLocationsTest, FileNamesFollowTheExecutablesName) {
    WriteBytes(Bin() + "/notes_Settings_Stencil.xml");
    WriteBytes(Bin() + "/notes.portable"); // not the marker: the marker has one fixed name
    const TFileLocations locations(Bin() + "/notes.bin", Environment({{"HOME", "/home/u"}}));
    EXPECT_EQ(locations.StencilFile(), Bin() + "/notes_Settings_Stencil.xml");
    EXPECT_EQ(locations.SettingsFile(), "/home/u/.config/ludex/notes_Settings.xml");
    EXPECT_EQ(locations.HelpFile("ENG"), Bin() + "/notes_ENG.help");
}

TEST_F(FileLocationsTest, PortableWhenTheMarkerOrASettingsFileIsBesideTheExecutable) {
    const auto env = Environment({{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "/cfg"}});
    EXPECT_FALSE(TFileLocations(Executable(), env).Portable());
    EXPECT_EQ(TFileLocations(Executable(), env).SettingsFile(), "/cfg/ludex/ludex_Settings.xml");

    for (const char* name : {"ludex.portable", "ludex_Settings.xml"}) {
        SCOPED_TRACE(name);
        const std::string file = Bin() + "/" + name;
        WriteBytes(file);
        const TFileLocations locations(Executable(), env);
        EXPECT_TRUE(locations.Portable());
        EXPECT_EQ(locations.SettingsFolder(), Bin());
        EXPECT_EQ(locations.SettingsFile(), Bin() + "/ludex_Settings.xml");
        // Recovery snapshots stay with the user in either mode.
        EXPECT_EQ(locations.RecoveryFolder(), "/home/u/.local/state/ludex/recovery");
        fs::remove(file);
    }
    // A folder with the marker's name is no marker.
    fs::create_directory(Bin() + "/ludex.portable");
    EXPECT_FALSE(TFileLocations(Executable(), env).Portable());
}

TEST_F(FileLocationsTest, XdgVariablesThatAreUnsetEmptyOrRelativeStandForTheirDefaults) {
    struct Case {
        std::map<std::string, std::string> environment;
        std::string settingsFolder;
        std::string recoveryFolder;
    };
    const Case cases[] = {
        {{{"HOME", "/home/u"}}, "/home/u/.config/ludex", "/home/u/.local/state/ludex/recovery"},
        {{{"HOME", "/home/u/"}, {"XDG_CONFIG_HOME", ""}, {"XDG_STATE_HOME", ""}},
         "/home/u/.config/ludex",
         "/home/u/.local/state/ludex/recovery"},
        {{{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "cfg"}, {"XDG_STATE_HOME", "./state"}},
         "/home/u/.config/ludex",
         "/home/u/.local/state/ludex/recovery"},
        {{{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "/x/cfg/"}, {"XDG_STATE_HOME", "/x/st"}},
         "/x/cfg/ludex",
         "/x/st/ludex/recovery"},
        // With both set the home folder is not needed.
        {{{"XDG_CONFIG_HOME", "/x/cfg"}, {"XDG_STATE_HOME", "/x/st"}},
         "/x/cfg/ludex",
         "/x/st/ludex/recovery"},
    };
    for (const Case& c : cases) {
        const TFileLocations locations(Executable(), Environment(c.environment));
        EXPECT_EQ(locations.SettingsFolder(), c.settingsFolder);
        EXPECT_EQ(locations.RecoveryFolder(), c.recoveryFolder);
    }
}

TEST_F(FileLocationsTest, WithoutAUsableHomeVariableTheUserDatabaseNamesTheHome) {
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    const std::string home = fs::path(user->pw_dir).lexically_normal().string();
    for (const auto& env : {Environment({}), Environment({{"HOME", "relative"}})}) {
        const TFileLocations locations(Executable(), env);
        EXPECT_EQ(locations.SettingsFolder(), (fs::path(home) / ".config/ludex").string());
    }
}

TEST(CreateFolderForOwnerTest, CreatesMissingFoldersOwnerOnlyAndLeavesExistingOnesAlone) {
    ludex::testing::TempDir root;
    const std::string existing = root.File("shared");
    fs::create_directory(existing);
    ::chmod(existing.c_str(), 0755);

    const std::string target = existing + "/a/b";
    CreateFolderForOwner(target);
    CreateFolderForOwner(target + "/"); // again: nothing to do
    auto mode = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    };
    EXPECT_EQ(mode(existing), 0755u);
    EXPECT_EQ(mode(existing + "/a"), 0700u);
    EXPECT_EQ(mode(target), 0700u);

    const std::string file = root.Write("file", "x");
    try {
        CreateFolderForOwner(file + "/below");
        FAIL() << "a file cannot hold a folder";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find(file), std::string::npos) << e.Message();
    }
}

} // namespace
