// Documents on disk through the file-system seam: a save that fails at any step, and loads whose
// bytes arrive in pieces or not at all.
#include "core/base/Exception.h"
#include "core/base/FileSystem.h"
#include "core/document/DocumentWriter.h"
#include "core/document/DomService.h"
#include "core/text/CodePage.h"

#include "support/FaultyFileSystem.h"
#include "support/SaveFaults.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

using namespace ludex;
using namespace ludex::testing;

namespace {

const std::string kDataDir = std::string(LUDEX_TEST_DATA_DIR) + "/document/";

std::string DocumentWithBranches(int count) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ludex title=\"Notes\" memo=\"\">";
    for (int i = 0; i < count; ++i) {
        xml += "<b title=\"\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0 " + std::to_string(i) +
               "\" memo=\"line&#xA;" + std::to_string(i) + "\"/>";
    }
    return xml + "</ludex>";
}

// What the window's Save and the command-line tool's writes do: the whole text first, then
// the file.
void SaveDocument(const TDomDocument& document, const std::string& fileName) {
    const std::string text = DocumentToText(document.DocumentElement());
    WriteTextFile(fileName, text);
}

TEST(DocumentFileTest, SaveSurvivesEveryFault) {
    SetCurrentCodePage("windows-1251");
    const TempDir folder;
    const std::string target = folder.File("notes.ldx");
    TDomDocument document;
    document.LoadXML(DocumentWithBranches(40));
    TDomDocument old;
    old.LoadXML(DocumentWithBranches(3));
    const std::string oldBytes = DocumentToText(old.DocumentElement());

    ExpectSaveSurvivesFaults(target, oldBytes, [&] { SaveDocument(document, target); });

    // The document in memory is what it was, and a save without faults still writes it whole.
    SaveDocument(document, target);
    TDomDocument reloaded;
    reloaded.Load(target);
    EXPECT_EQ(reloaded.DocumentElement().XML(), document.DocumentElement().XML());
}

// The bytes of a file arrive in pieces of any size, splitting characters and byte-order marks;
// the document is the same as when they arrive at once.
TEST(DocumentFileTest, LoadInSmallReadsGivesTheSameDocument) {
    for (const char* file : {"cp1251.ldx", "utf16le.ldx", "utf16be.ldx", "comment.ldx", "encrypted.ldx"}) {
        TDomDocument whole;
        whole.Load(kDataDir + file);
        for (const size_t readSize : {1u, 2u, 3u, 7u, 64u}) {
            SCOPED_TRACE(std::string(file) + " in reads of " + std::to_string(readSize));
            TFaultyFileSystem faulty;
            faulty.LimitReadSize(readSize);
            const TFileSystemOverride override(faulty);
            TDomDocument pieces;
            pieces.Load(kDataDir + file);
            EXPECT_EQ(pieces.DocumentElement().XML(), whole.DocumentElement().XML());
            EXPECT_GT(faulty.Count(TFileOperation::Read), 1);
        }
    }
}

TEST(DocumentFileTest, LoadFailuresNameTheFileAndLeaveTheDocumentEmpty) {
    const std::string file = kDataDir + "cp1251.ldx";
    TDomDocument document;
    ExpectReadFaultsReported(file,
                             {
                                 {"open", TFileOperation::OpenForReading, 1, EACCES},
                                 {"first read", TFileOperation::Read, 1, EIO},
                                 {"a read in the middle", TFileOperation::Read, 4, EIO},
                             },
                             {.prepare = [&] { document.LoadXML("<ludex title=\"before\"/>"); },
                              .load = [&] { document.Load(file); },
                              .check = [&] { EXPECT_FALSE(document.DocumentElement()); },
                              .readSize = 16});
}

} // namespace
