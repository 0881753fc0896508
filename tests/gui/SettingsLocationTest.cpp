// Where the started program keeps its settings when it is not a portable copy, and that
// start-up leaves the current folder alone.
#include "GuiTestSupport.h"

#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace ludex::test {
namespace {

namespace fs = std::filesystem;

// Sets XDG_CONFIG_HOME for one test and restores it after.
class TScopedConfigHome {
public:
    explicit TScopedConfigHome(const std::string& value) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
            previous_ = old;
        }
        ::setenv("XDG_CONFIG_HOME", value.c_str(), 1);
    }
    ~TScopedConfigHome() {
        if (previous_) {
            ::setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }

private:
    std::optional<std::string> previous_;
};

class SettingsLocationTest : public TProgramTest {};

TEST_F(SettingsLocationTest, WithoutTheMarkerSettingsLiveInTheConfigFolderMadeOwnerOnlyAtTheFirstSave) {
    ludex::testing::TempDir config;
    const TScopedConfigHome home(config.File("cfg"));
    fs::remove(PathOf("ludex.portable"));
    const std::string document = WriteFile(
        "doc.ldx", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"Doc\" memo=\"\"/>");
    const fs::path startedIn = fs::current_path();

    Start(document);
    EXPECT_EQ(fs::current_path(), startedIn);
    EXPECT_FALSE(fs::exists(config.File("cfg"))) << "nothing is made before it is needed";
    ASSERT_TRUE(Close());

    const std::string settings = config.File("cfg/ludex/ludex_Settings.xml");
    EXPECT_NE(ReadFile(settings).find("file=\"" + document + "\""), std::string::npos) << ReadFile(settings);
    EXPECT_FALSE(fs::exists(SettingsFile())) << "nothing beside the executable";
    for (const char* folder : {"cfg", "cfg/ludex"}) {
        struct stat st {};
        ASSERT_EQ(::stat(config.File(folder).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }

    // The next start reads them from there: the document comes back without being named.
    Start();
    ASSERT_EQ(Window().Tree().TopLevelCount(), 1);
    EXPECT_EQ(Window().Tree().TopLevel(0)->Document()->FileName(), document);
}

TEST_F(SettingsLocationTest, ASettingsFolderThatCannotBeMadeIsReportedAndTheUserDecides) {
    ludex::testing::TempDir config;
    const std::string blocker = config.Write("cfg", "a file where the folder should be");
    const TScopedConfigHome home(blocker);
    fs::remove(PathOf("ludex.portable"));

    Start();
    Questions().Answers.push_back(TAnswer::No);
    EXPECT_FALSE(Close());
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find(blocker), std::string::npos)
        << Questions().Errors[0].toStdString();
    Questions().Answers.push_back(TAnswer::Yes);
    EXPECT_TRUE(Close());
}

} // namespace
} // namespace ludex::test
