// Recovery snapshots on disk: their text, their writes under every fault of the seam, and the
// sessions that keep running programs from taking each other's snapshots.
#include "core/document/Recovery.h"
#include "core/base/Exception.h"
#include "core/document/DocumentWriter.h"
#include "core/document/DomService.h"
#include "core/text/CodePage.h"

#include "support/SaveFaults.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>

using namespace ludex;
using namespace ludex::testing;

namespace {

namespace fs = std::filesystem;

const std::string kDocument =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<ludex version=\"2.1.0 \" title=\"Notes &amp; more\" memo=\"m\">\r\n"
    "<b title=\"\xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0\" memo=\"x\"/>\r\n</ludex>";

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

uint32_t Mode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(RecoveryTest, SnapshotIsTheSavedDocumentPlusItsFileNameWhichReadingTakesBackOut) {
    SetCurrentCodePage("windows-1251");
    const TempDir dir;
    for (const std::string& fileName : {std::string(), std::string("/home/u/a \"quoted\" & <odd>.ldx")}) {
        TDomDocument document;
        document.LoadXML(kDocument);
        const std::string text = SnapshotText(document.DocumentElement(), fileName);

        TRecoveryFolder written(dir.File("recovery"));
        written.Write(1, text);
        const std::string path = written.SnapshotPath(1);
        TDomDocument reread;
        reread.Load(path);
        EXPECT_EQ(reread.DocumentElement().GetAttribute(kRecoveryFileAttribute), fileName);
        reread.DocumentElement().RemoveAttribute(kRecoveryFileAttribute);
        EXPECT_EQ(DocumentToText(reread.DocumentElement()), DocumentToText(document.DocumentElement()))
            << "the snapshot holds the document exactly";
        EXPECT_EQ(Mode(path), 0600u);
        EXPECT_EQ(Mode(dir.File("recovery")), 0700u);
        written.Remove(1);
    }
}

TEST(RecoveryTest, SnapshotWriteSurvivesEveryFaultAndLeavesThePreviousSnapshot) {
    SetCurrentCodePage("windows-1251");
    const TempDir dir;
    TRecoveryFolder folder(dir.File("recovery"));
    TDomDocument document;
    document.LoadXML(kDocument);
    const std::string older = SnapshotText(document.DocumentElement(), "/a.ldx");
    document.DocumentElement().SetAttribute("memo", "newer text");
    const std::string newer = SnapshotText(document.DocumentElement(), "/a.ldx");
    folder.Write(1, older); // the folder and the session's lock exist from the first write on

    ExpectSaveSurvivesFaults(folder.SnapshotPath(1), older, [&] { folder.Write(1, newer); });
}

TEST(RecoveryTest, OnlySnapshotsOfEndedSessionsAreOfferedAndEachToOneProgramOnly) {
    SetCurrentCodePage("windows-1251");
    const TempDir dir;
    const std::string recovery = dir.File("recovery");
    TDomDocument document;
    document.LoadXML(kDocument);

    TRecoveryFolder offerer(recovery);
    EXPECT_TRUE(offerer.LeftSnapshots().empty()) << "a folder that does not exist has none";
    std::string endedPath;
    {
        TRecoveryFolder running(recovery);
        running.Write(3, SnapshotText(document.DocumentElement(), "/docs/a.ldx"));
        endedPath = running.SnapshotPath(3);
        // A write cut short by a kill leaves its temporary file beside the snapshot.
        std::ofstream(endedPath + ".Xy12Ab") << "<?xml";
        EXPECT_TRUE(offerer.LeftSnapshots().empty()) << "a running program's snapshots are its own";
        offerer.ReleaseLeft();
    } // the program ends without removing its snapshot, as a killed one does

    const std::vector<TLeftSnapshot> left = offerer.LeftSnapshots();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].path, endedPath);
    EXPECT_EQ(left[0].fileName, "/docs/a.ldx");
    EXPECT_EQ(left[0].title, "Notes & more");
    EXPECT_EQ(left[0].error, "");
    EXPECT_FALSE(fs::exists(endedPath + ".Xy12Ab")) << "the remains of a cut write go";

    TRecoveryFolder second(recovery);
    EXPECT_TRUE(second.LeftSnapshots().empty()) << "claimed by the first program while it asks";

    offerer.ReleaseLeft(); // kept: the user has not decided
    EXPECT_TRUE(fs::exists(endedPath));
    ASSERT_EQ(second.LeftSnapshots().size(), 1u) << "offered again later";
    second.RemoveLeft(endedPath);
    second.ReleaseLeft();
    EXPECT_TRUE(Names(recovery).empty()) << "no snapshot and no lock file remain";
}

TEST(RecoveryTest, UnreadableSnapshotIsReportedNotDropped) {
    const TempDir dir;
    const std::string recovery = dir.File("recovery");
    {
        TRecoveryFolder ended(recovery);
        ended.Write(1, "<?xml version=\"1.0\"?><broken");
    }
    TRecoveryFolder offerer(recovery);
    const std::vector<TLeftSnapshot> left = offerer.LeftSnapshots();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].error, "");
    offerer.ReleaseLeft();
    EXPECT_TRUE(fs::exists(left[0].path));
}

TEST(RecoveryTest, RootAlreadyCarryingTheSnapshotAttributeIsRefused) {
    TDomDocument document;
    document.LoadXML("<ludex title=\"t\" ludexRecoveryFile=\"x\"/>");
    EXPECT_THROW(SnapshotText(document.DocumentElement(), ""), Exception);
}

} // namespace
