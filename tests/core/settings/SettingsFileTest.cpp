// The settings file through the file-system seam: a save that fails at any step, and a load that
// fails without costing the settings in memory.
#include "core/base/Exception.h"
#include "core/base/FileSystem.h"
#include "core/settings/PropertyBailee.h"

#include "support/FaultyFileSystem.h"
#include "support/SaveFaults.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

using namespace ludex;
using namespace ludex::testing;

namespace {

const char* const kStencil =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><LudexSettings><documents/></LudexSettings>";

TEST(SettingsFileTest, SaveSurvivesEveryFault) {
    const TempDir folder;
    const std::string stencil = folder.Write("ludex_Settings_Stencil.xml", kStencil);
    const std::string target =
        folder.Write("ludex_Settings.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                                           "<LudexSettings Locale=\"langEnglish\"/>");
    const std::string oldBytes = ReadAll(target);
    TPropertyBailee bailee;
    bailee.Open(target, stencil);
    bailee.ForcePath("/documents");
    for (int i = 0; i < 30; ++i) {
        bailee.Current()
            ->AddChild("document")
            ->SetAttribute("file", "/home/user/notes " + std::to_string(i) + ".ldx");
    }

    ExpectSaveSurvivesFaults(target, oldBytes, [&] { bailee.Save(); });

    // What failed to be written is still in memory.
    bailee.OpenPath("/");
    EXPECT_EQ(bailee.ReadValue("Locale"), "langEnglish");
    bailee.OpenPath("/documents");
    EXPECT_EQ(bailee.Current()->GetChildNodes()->GetCount(), 30);
}

TEST(SettingsFileTest, FailedLoadKeepsTheSettingsInMemory) {
    const TempDir folder;
    const std::string first = folder.Write("first.xml", "<s><a v=\"first\"/></s>");
    std::string longer = "<s><a v=\"second\"/>";
    for (int i = 0; i < 50; ++i) {
        longer += "<b n=\"" + std::to_string(i) + "\"/>";
    }
    const std::string second = folder.Write("second.xml", longer + "</s>");
    TPropertyBailee bailee;
    ExpectReadFaultsReported(second,
                             {
                                 {"open", TFileOperation::OpenForReading, 1, ENOENT},
                                 {"a read in the middle", TFileOperation::Read, 3, EIO},
                             },
                             {.prepare = [&] { bailee.LoadFromFile(first); },
                              .load = [&] { bailee.LoadFromFile(second); },
                              .check =
                                  [&] {
                                      // The store goes on with the file it had, and a save would write that
                                      // file.
                                      EXPECT_EQ(bailee.FileName(), first);
                                      bailee.OpenPath("/a");
                                      EXPECT_EQ(bailee.ReadValue("v"), "first");
                                  },
                              .readSize = 32});
}

} // namespace
