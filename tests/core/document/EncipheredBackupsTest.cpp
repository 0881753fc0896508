// The backups of a document after a branch's plain text came to exist only enciphered: which
// changes remove them at the next save, and which keep them.
#include "core/document/EncipheredBackups.h"
#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/base/FileSystem.h"
#include "core/document/BranchCipher.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"

#include "support/FaultyFileSystem.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

using namespace ludex;
using ludex::testing::ReadAll;
using ludex::testing::TempDir;

namespace {

namespace fs = std::filesystem;

// Saves as the program does: the file with its backups, then the backups of plain text removed.
size_t Save(TDomDocument& doc, const std::string& path) {
    WriteTextFile(path, DocumentToText(doc.DocumentElement()), {.backups = 3});
    return RemoveBackupsOfPlainText(doc, path);
}

TEST(EncipheredBackupsTest, BackupsGoOnlyOnceAPlainBranchIsEnciphered) {
    const TStrongKeyCostForTests cheap({1, 8});
    struct TCase {
        const char* what;
        std::function<void(const TDomNode& branch)> change;
        size_t removed; // by the save after the change
    };
    const TCase cases[] = {
        {"a plain branch encrypted",
         [](const TDomNode& b) { SetBranchPassword(b, "pw", TCipherScheme::Strong); }, 4},
        {"a plain branch encrypted as earlier versions do",
         [](const TDomNode& b) { SetBranchPassword(b, "pw"); }, 4},
        {"an encrypted branch given another password",
         [](const TDomNode& b) { SetBranchPassword(b.NextSibling(), "other", TCipherScheme::Strong); }, 0},
        {"an encrypted branch decrypted", [](const TDomNode& b) { SetBranchPassword(b.NextSibling(), ""); },
         0},
        {"a memo edited", [](const TDomNode& b) { MemoAccess.Write(b, "edited"); }, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir folder;
        const std::string path = folder.File("notes.ldx");
        TDomDocument doc;
        doc.LoadXML(
            "<ludex><note title=\"plain\" memo=\"plain text\"/><note title=\"secret\" memo=\"s\"/></ludex>");
        SetBranchPassword(doc.DocumentElement().LastChild(), "pw", TCipherScheme::Strong);
        doc.ClearPlainTextEnciphered(); // as if opened so
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(Save(doc, path), 0u);
        }
        folder.Write("notes.ldx.bak9", "a backup kept when more were kept");
        c.change(doc.DocumentElement().FirstChild());
        EXPECT_EQ(Save(doc, path), c.removed);
        EXPECT_EQ(fs::exists(path + ".bak1"), c.removed == 0);
        EXPECT_EQ(fs::exists(path + ".bak9"), c.removed == 0);
        EXPECT_FALSE(doc.PlainTextEnciphered());
        EXPECT_EQ(Save(doc, path), 0u) << "said once";
        EXPECT_TRUE(fs::exists(path + ".bak1"));
        if (c.removed != 0) {
            for (const auto& file : fs::directory_iterator(folder.Path())) {
                EXPECT_EQ(ReadAll(file.path().string()).find("plain text"), std::string::npos) << file.path();
            }
        }
    }
}

// The backups lie beside the file a link leads to; one that cannot be removed is an error that
// keeps the mark, so that the next save tries again.
TEST(EncipheredBackupsTest, BackupsBesideALinksFileAndFailuresTryAgain) {
    TempDir folder;
    const std::string target = folder.Write("real.ldx", "<ludex/>");
    folder.Write("real.ldx.bak1", "plain");
    const std::string link = folder.File("link.ldx");
    fs::create_symlink(target, link);
    TDomDocument doc;
    doc.MarkPlainTextEnciphered();
    {
        ludex::testing::TFaultyFileSystem faulty;
        faulty.FailNth(ludex::testing::TFileOperation::Remove, 1, EACCES);
        const TFileSystemOverride override(faulty);
        EXPECT_THROW(RemoveBackupsOfPlainText(doc, link), EInOutError);
    }
    EXPECT_TRUE(doc.PlainTextEnciphered());
    EXPECT_TRUE(fs::exists(target + ".bak1"));
    EXPECT_EQ(RemoveBackupsOfPlainText(doc, link), 1u);
    EXPECT_FALSE(fs::exists(target + ".bak1"));
    EXPECT_TRUE(fs::exists(target));
}

} // namespace
