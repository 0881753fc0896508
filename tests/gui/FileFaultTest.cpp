// The window when the disk fails: a document that cannot be saved stays modified and the user
// hears why; settings that cannot be written keep the program open unless the user says otherwise.
#include "GuiTestSupport.h"

#include "core/base/FileSystem.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include "support/FaultyFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace ludex::test {
namespace {

namespace fs = std::filesystem;
using ludex::testing::TFaultyFileSystem;
using ludex::testing::TFileOperation;

const std::string kDocument = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                              "<ludex version=\"2.1.0 \" title=\"Old title\" memo=\"\"/>";

class FileFaultTest : public TProgramTest {
protected:
    std::vector<std::string> FolderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(SettingsFile()).parent_path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(FileFaultTest, FailedSaveShowsTheErrorAndKeepsTheDocumentModified) {
    const std::string file = WriteFile("notes.ldx", kDocument);
    Start(file);
    TTreeNode* root = Window().Tree().TopLevel(0);
    TLXDocument* document = root->Document();
    TitleAccess.Write(document->RootElement(), "New title");
    document->SetModified(true);

    const struct {
        const char* name;
        TFileOperation operation;
        int error;
        bool replaced; // the file holds the new document when the error comes
    } cases[] = {
        {"a write", TFileOperation::Write, ENOSPC, false},
        {"the file sync", TFileOperation::SyncFile, EIO, false},
        {"the folder sync", TFileOperation::SyncFolder, EIO, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile("notes.ldx", kDocument);
        // Put back as the document read it: no change by another program to ask about.
        document->SetDiskIdentity(ReadIdentifiedFile(file).identity);
        const std::vector<std::string> before = FolderNames();
        TFaultyFileSystem faulty;
        faulty.FailNth(c.operation, 1, c.error);
        const TFileSystemOverride override(faulty);

        // Closing asks to save; the save fails, the error is shown and the window stays.
        Questions().Answers.push_back(TAnswer::Yes);
        EXPECT_FALSE(Close());
        ASSERT_FALSE(Questions().Errors.empty());
        const std::string shown = Questions().Errors.back().toStdString();
        EXPECT_NE(shown.find(file), std::string::npos) << shown;
        EXPECT_NE(shown.find(std::generic_category().message(c.error)), std::string::npos) << shown;

        EXPECT_TRUE(document->Modified());
        EXPECT_EQ(root->Picture(), picDocumentModified);
        const std::string bytes = ReadFile(file);
        EXPECT_NE(bytes.find(c.replaced ? "New title" : "Old title"), std::string::npos) << bytes;
        // A document that has been replaced keeps its old bytes as its backup.
        std::vector<std::string> expected = before;
        if (c.replaced) {
            expected.push_back("notes.ldx.bak1");
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(ReadFile(file + ".bak1"), kDocument);
        }
        EXPECT_EQ(FolderNames(), expected);
    }
    Questions().Errors.clear();

    // Once the disk works again, Save clears the mark.
    Window().MI_SaveClick();
    EXPECT_FALSE(document->Modified());
    EXPECT_NE(ReadFile(file).find("New title"), std::string::npos);
}

TEST_F(FileFaultTest, SettingsThatCannotBeWrittenKeepTheProgramOpenUnlessTheUserSaysSo) {
    Start();
    const std::vector<std::string> before = FolderNames();
    TFaultyFileSystem faulty;
    faulty.FailNth(TFileOperation::Write, 1, EDQUOT);
    faulty.FailNth(TFileOperation::Write, 2, EDQUOT);
    const TFileSystemOverride override(faulty);

    Questions().Answers.push_back(TAnswer::No); // do not close without the settings
    EXPECT_FALSE(Close());
    ASSERT_EQ(Questions().Errors.size(), 1u);
    const std::string shown = Questions().Errors.back().toStdString();
    EXPECT_NE(shown.find(SettingsFile()), std::string::npos) << shown;
    EXPECT_NE(shown.find(std::generic_category().message(EDQUOT)), std::string::npos) << shown;
    EXPECT_EQ(FolderNames(), before); // neither a settings file nor a temporary one

    Questions().Answers.push_back(TAnswer::Yes); // close all the same
    EXPECT_TRUE(Close());
    EXPECT_EQ(FolderNames(), before);
}

} // namespace
} // namespace ludex::test
