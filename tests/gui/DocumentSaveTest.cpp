// What the window's saves replace and keep: every step of a document save failed in turn, the
// backup count from the settings, and the settings file through a link or read-only.
#include "GuiTestSupport.h"

#include "core/base/Exception.h"
#include "core/base/FileIdentity.h"
#include "core/base/PosixFileSystem.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include "support/SaveFaults.h"

#include <sys/stat.h>

#include <filesystem>

namespace ludex::test {
namespace {

namespace fs = std::filesystem;

const std::string kDocument = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                              "<ludex version=\"2.1.0 \" title=\"Old title\" memo=\"\"/>";

std::string Settings(const std::string& attributes) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<LudexSettings" + attributes + "/>";
}

class DocumentSaveTest : public TProgramTest {};

// The document stays modified after every failure and is clean after every save that succeeds;
// the files are checked by the shared table, with the three backups the window keeps by default.
TEST_F(DocumentSaveTest, EveryStepOfASaveFailedInTurnLosesNothing) {
    const std::string file = WriteFile("notes.ldx", kDocument);
    Start(file);
    TLXDocument* document = Window().Tree().TopLevel(0)->Document();
    TitleAccess.Write(document->RootElement(),
                      "New title, long enough for several writes: " + std::string(80, 'x'));
    int failures = 0;
    ludex::testing::ExpectSaveSurvivesFaults(
        file, kDocument,
        [&] {
            document->SetModified(true);
            {
                // The harness puts the old file back before every save, as another program
                // would; the document takes it for the one it read, so that no question comes.
                const TFileSystemOverride real(PosixFileSystem());
                document->SetDiskIdentity(
                    CheckFileOnDisk(file, std::nullopt, TCheckDepth::Contents).identity);
            }
            try {
                Window().SaveDocument(document, TAskForName::No);
            } catch (const EInOutError&) {
                ++failures;
                EXPECT_TRUE(document->Modified());
                throw;
            }
            EXPECT_FALSE(document->Modified());
        },
        3);
    EXPECT_GT(failures, 20);
}

// A read-only document is not replaced: closing asks to save, the save is refused with the file's
// name, and the window stays with the document still modified.
TEST_F(DocumentSaveTest, ReadOnlyDocumentIsRefusedAndStaysModified) {
    const std::string file = WriteFile("notes.ldx", kDocument);
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    Start(file);
    TLXDocument* document = Window().Tree().TopLevel(0)->Document();
    TitleAccess.Write(document->RootElement(), "New title");
    document->SetModified(true);

    Questions().Answers.push_back(TAnswer::Yes);
    EXPECT_FALSE(Close());
    ASSERT_EQ(Questions().Errors.size(), 1u);
    const std::string shown = Questions().Errors[0].toStdString();
    EXPECT_NE(shown.find("\"" + file + "\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("read-only"), std::string::npos) << shown;
    EXPECT_TRUE(document->Modified());
    EXPECT_EQ(ReadFile(file), kDocument);
    EXPECT_FALSE(fs::exists(file + ".bak1"));

    // Saved under another name, it is written, and the read-only file stays as it was.
    Questions().FileNames.push_back(QString::fromStdString(PathOf("copy.ldx")));
    EXPECT_TRUE(Window().SaveDocument(document, TAskForName::Yes));
    EXPECT_FALSE(document->Modified());
    EXPECT_NE(ReadFile(PathOf("copy.ldx")).find("New title"), std::string::npos);
    EXPECT_EQ(ReadFile(file), kDocument);
}

TEST_F(DocumentSaveTest, TheSettingsSayHowManyBackupsASaveKeeps) {
    const struct {
        const char* attributes; // of the settings file's root
        unsigned kept;
        bool error;
    } cases[] = {
        {"", 3, false},
        {" Backups=\"1\"", 1, false},
        {" Backups=\"0\"", 0, false},
        {" Backups=\"5\"", 5, false},
        {" Backups=\"many\"", 3, true},
        {" Backups=\"100\"", 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attributes);
        const std::string file = WriteFile("notes.ldx", kDocument);
        for (const auto& entry : fs::directory_iterator(fs::path(file).parent_path())) {
            if (entry.path().filename().string().starts_with("notes.ldx.bak")) {
                fs::remove(entry.path());
            }
        }
        WriteFile("ludex_Settings.xml", Settings(c.attributes));
        Questions().Errors.clear();
        Start(file);
        ASSERT_EQ(Questions().Errors.size(), c.error ? 1u : 0u);
        if (c.error) {
            EXPECT_TRUE(Questions().Errors[0].contains("Backups")) << Questions().Errors[0].toStdString();
        }
        TLXDocument* document = Window().Tree().TopLevel(0)->Document();
        for (int version = 1; version <= 6; ++version) {
            TitleAccess.Write(document->RootElement(), "v" + std::to_string(version));
            Window().SaveDocument(document, TAskForName::No);
        }
        // Six saves: the file holds v6, and the backups v5, v4, ... as far as the count goes.
        for (unsigned n = 1; n <= 6; ++n) {
            const std::string backup = ReadFile(file + ".bak" + std::to_string(n));
            if (n <= c.kept) {
                EXPECT_NE(backup.find(n == 6 ? "Old title" : "\"v" + std::to_string(6 - n) + "\""),
                          std::string::npos)
                    << n << ": " << backup;
            } else {
                EXPECT_FALSE(fs::exists(file + ".bak" + std::to_string(n))) << n;
            }
        }
        ASSERT_TRUE(Close());
        EXPECT_NE(ReadFile(SettingsFile()).find("Backups=\"" + std::to_string(c.kept) + "\""),
                  std::string::npos)
            << ReadFile(SettingsFile());
    }
}

// The settings file is saved as documents are, through its link and never over a read-only file,
// but keeps no backups.
TEST_F(DocumentSaveTest, TheSettingsFileFollowsItsLinkAndIsNotReplacedWhenReadOnly) {
    const std::string real = WriteFile("elsewhere.xml", Settings(" Locale=\"langEnglish\""));
    fs::create_symlink("elsewhere.xml", SettingsFile());
    Start();
    ASSERT_TRUE(Close());
    EXPECT_TRUE(fs::is_symlink(SettingsFile()));
    EXPECT_NE(ReadFile(real).find("<documents"), std::string::npos) << ReadFile(real);
    EXPECT_FALSE(fs::exists(real + ".bak1"));
    EXPECT_FALSE(fs::exists(SettingsFile() + ".bak1"));

    ASSERT_EQ(chmod(real.c_str(), 0444), 0);
    const std::string before = ReadFile(real);
    Start();
    Questions().Answers.push_back(TAnswer::No); // do not close without the settings
    EXPECT_FALSE(Close());
    ASSERT_EQ(Questions().Errors.size(), 1u);
    const std::string shown = Questions().Errors[0].toStdString();
    EXPECT_NE(shown.find(SettingsFile()), std::string::npos) << shown;
    EXPECT_NE(shown.find("read-only"), std::string::npos) << shown;
    EXPECT_EQ(ReadFile(real), before);
    Questions().Answers.push_back(TAnswer::Yes);
    EXPECT_TRUE(Close());
    EXPECT_EQ(ReadFile(real), before);
    EXPECT_TRUE(fs::is_symlink(SettingsFile()));
}

} // namespace
} // namespace ludex::test
