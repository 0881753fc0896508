// Whether a document's file on disk is still the one the program read or wrote: every way another
// program changes a file, looked at cheaply (status) and thoroughly (contents).
#include "core/base/FileIdentity.h"
#include "core/base/FileIO.h"
#include "core/document/DomService.h"
#include "support/FaultyFileSystem.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace ludex;

namespace {

const std::string kOriginal = "<ludex title=\"one\"/>";

// Gives the file back the modification time it had, as a careless copy tool might.
void SetModified(const std::string& path, const struct timespec& time) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, time};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

struct timespec ModifiedOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mtim;
}

struct TChangeCase {
    const char* name;
    std::function<void(const ludex::testing::TempDir&, const std::string&)> change;
    TDiskState byStatus;
    TDiskState byContents;
    std::string bytesOnDisk; // what a Changed check hands back
};

TEST(FileIdentityTest, EveryKindOfChangeIsToldApart) {
    const std::vector<TChangeCase> cases = {
        {"nothing", [](auto&, auto&) {}, TDiskState::Unchanged, TDiskState::Unchanged, ""},
        {"touched only",
         [](auto&, const std::string& file) {
             struct timespec later = ModifiedOf(file);
             later.tv_sec += 10;
             SetModified(file, later);
         },
         TDiskState::Unchanged, TDiskState::Unchanged, ""},
        {"same size and time, other bytes",
         [](auto& dir, const std::string& file) {
             const struct timespec before = ModifiedOf(file);
             dir.Write("notes.ldx", "<ludex title=\"two\"/>");
             SetModified(file, before);
         },
         TDiskState::Unchanged, TDiskState::Changed, "<ludex title=\"two\"/>"},
        {"appended", [](auto& dir, auto&) { dir.Write("notes.ldx", kOriginal + "\n<!-- -->"); },
         TDiskState::Changed, TDiskState::Changed, kOriginal + "\n<!-- -->"},
        {"replaced by rename",
         [](auto& dir, const std::string& file) { fs::rename(dir.Write("sync.tmp", "<ludex/>"), file); },
         TDiskState::Changed, TDiskState::Changed, "<ludex/>"},
        {"replaced by rename with the same bytes",
         [](auto& dir, const std::string& file) { fs::rename(dir.Write("sync.tmp", kOriginal), file); },
         TDiskState::Unchanged, TDiskState::Unchanged, ""},
        {"deleted", [](auto&, const std::string& file) { fs::remove(file); }, TDiskState::Missing,
         TDiskState::Missing, ""},
        {"replaced by a folder",
         [](auto&, const std::string& file) {
             fs::remove(file);
             fs::create_directory(file);
         },
         TDiskState::Unreadable, TDiskState::Unreadable, ""},
    };
    for (const TCheckDepth depth : {TCheckDepth::Status, TCheckDepth::Contents}) {
        for (const TChangeCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (depth == TCheckDepth::Status ? " (status)" : " (contents)"));
            ludex::testing::TempDir dir;
            const std::string file = dir.Write("notes.ldx", kOriginal);
            const TIdentifiedBytes read = ReadIdentifiedFile(file);
            EXPECT_EQ(read.bytes, kOriginal);
            c.change(dir, file);

            const TDiskCheck check = CheckFileOnDisk(file, read.identity, depth);
            const TDiskState expected = depth == TCheckDepth::Status ? c.byStatus : c.byContents;
            EXPECT_EQ(check.state, expected);
            if (expected == TDiskState::Changed) {
                EXPECT_EQ(check.bytes, c.bytesOnDisk);
                ASSERT_TRUE(check.identity);
                EXPECT_EQ(check.identity->digest, DigestOf(c.bytesOnDisk));
                // The identity handed back is what the next check compares with.
                EXPECT_EQ(CheckFileOnDisk(file, check.identity, TCheckDepth::Contents).state,
                          TDiskState::Unchanged);
            }
            if (expected == TDiskState::Unchanged) {
                ASSERT_TRUE(check.identity);
                EXPECT_EQ(check.identity->digest, read.identity.digest);
            }
            if (expected == TDiskState::Unreadable) {
                EXPECT_FALSE(check.reason.empty());
            }
        }
    }
}

TEST(FileIdentityTest, AFileNeverReadCountsAsChanged) {
    ludex::testing::TempDir dir;
    const std::string file = dir.Write("notes.ldx", kOriginal);
    const TDiskCheck check = CheckFileOnDisk(file, std::nullopt, TCheckDepth::Status);
    EXPECT_EQ(check.state, TDiskState::Changed);
    EXPECT_EQ(check.bytes, kOriginal);
    EXPECT_EQ(CheckFileOnDisk(dir.File("absent.ldx"), std::nullopt, TCheckDepth::Status).state,
              TDiskState::Missing);
}

// What a save records is never mistaken for another program's change: the first check reads the
// file and takes its status, which later cheap checks trust.
TEST(FileIdentityTest, IdentityOfWrittenBytesMatchesTheFileWritten) {
    ludex::testing::TempDir dir;
    const std::string file = dir.Write("notes.ldx", kOriginal);
    WriteFileAtomically(file, "<ludex title=\"saved\"/>");
    const TFileIdentity saved = IdentityOfWritten("<ludex title=\"saved\"/>");
    const TDiskCheck first = CheckFileOnDisk(file, saved, TCheckDepth::Status);
    EXPECT_EQ(first.state, TDiskState::Unchanged);
    ASSERT_TRUE(first.identity);
    EXPECT_EQ(*first.identity, ReadIdentifiedFile(file).identity);

    dir.Write("notes.ldx", "<ludex title=\"other\"/>");
    EXPECT_EQ(CheckFileOnDisk(file, saved, TCheckDepth::Status).state, TDiskState::Changed);
}

TEST(FileIdentityTest, AFailedReadIsReportedNotTakenForAChange) {
    ludex::testing::TempDir dir;
    const std::string file = dir.Write("notes.ldx", kOriginal);
    const TFileIdentity known = ReadIdentifiedFile(file).identity;
    ludex::testing::TFaultyFileSystem faulty;
    TFileSystemOverride override(faulty);
    faulty.FailNth(ludex::testing::TFileOperation::Read, 1, EIO);
    const TDiskCheck check = CheckFileOnDisk(file, known, TCheckDepth::Contents);
    EXPECT_EQ(check.state, TDiskState::Unreadable);
    EXPECT_NE(check.reason.find(file), std::string::npos) << check.reason;
}

// A file longer than the pieces it is read in: compared by its digest alone, and when another
// program has changed it, read again whole for what the check hands back; a failure of that
// second read is reported, not taken for a change.
TEST(FileIdentityTest, ALargeFileIsComparedPieceByPieceAndReadAgainWhenChanged) {
    ludex::testing::TempDir dir;
    std::string original(300001, 'a');
    for (size_t i = 0; i < original.size(); i += 97) {
        original[i] = static_cast<char>('0' + i % 10);
    }
    const std::string file = dir.Write("notes.ldx", original);
    const TFileIdentity known = ReadIdentifiedFile(file).identity;
    const TDiskCheck same = CheckFileOnDisk(file, known, TCheckDepth::Contents);
    EXPECT_EQ(same.state, TDiskState::Unchanged);
    ASSERT_TRUE(same.identity);
    EXPECT_EQ(*same.identity, known);
    EXPECT_TRUE(same.bytes.empty());

    std::string changed = original;
    changed[200000] = '#'; // one byte, well past the first pieces, with the size and time kept
    const struct timespec before = ModifiedOf(file);
    dir.Write("notes.ldx", changed);
    SetModified(file, before);
    const TDiskCheck other = CheckFileOnDisk(file, known, TCheckDepth::Contents);
    EXPECT_EQ(other.state, TDiskState::Changed);
    EXPECT_TRUE(other.bytes == changed);
    ASSERT_TRUE(other.identity);
    EXPECT_EQ(other.identity->digest, DigestOf(changed));

    ludex::testing::TFaultyFileSystem faulty;
    TFileSystemOverride override(faulty);
    faulty.FailNth(ludex::testing::TFileOperation::OpenForReading, 2, EIO);
    const TDiskCheck unread = CheckFileOnDisk(file, known, TCheckDepth::Contents);
    EXPECT_EQ(faulty.Count(ludex::testing::TFileOperation::OpenForReading), 2);
    EXPECT_EQ(unread.state, TDiskState::Unreadable);
    EXPECT_NE(unread.reason.find(file), std::string::npos) << unread.reason;
}

// The digest is XXH3's 128-bit hash in its canonical byte order, whole or piece by piece.
TEST(FileIdentityTest, DigestIsTheCanonical128BitXxh3Hash) {
    const auto hex = [](const TFileDigest& digest) {
        std::string text;
        for (const unsigned char b : digest) {
            text += "0123456789abcdef"[b >> 4];
            text += "0123456789abcdef"[b & 15];
        }
        return text;
    };
    EXPECT_EQ(hex(DigestOf("")), "99aa06d3014798d86001c324468d497f");
    EXPECT_EQ(hex(DigestOf("abc")), "06b05ab6733a618578af5f94892f3950");
    std::string bytes;
    for (int i = 0; bytes.size() < 5000; ++i) {
        bytes += std::to_string(i * 7919);
    }
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{240}, size_t{4096}}) {
        TDigestStream stream;
        for (size_t at = 0; at < bytes.size(); at += piece) {
            stream.Add(std::string_view(bytes).substr(at, piece));
        }
        EXPECT_EQ(stream.Result(), DigestOf(bytes)) << piece;
    }
}

// The digest taken piece by piece while a large file arrives, as opening a document takes it, is
// the digest of the whole; the document parsed is the file identified.
TEST(FileIdentityTest, DigestOfAFileReadInPiecesIsTheWholeFilesDigest) {
    ludex::testing::TempDir dir;
    std::string big = "<ludex title=\"big\" memo=\"";
    for (int i = 0; big.size() < 300000; ++i) {
        big += std::to_string(i * 7919 % 1000) + ' ';
    }
    big += "\"/>";
    const std::string file = dir.Write("big.ldx", big);
    size_t calls = 0;
    const TIdentifiedBytes read = ReadIdentifiedFile(file, [&](std::string_view) { ++calls; });
    EXPECT_GT(calls, 1u);
    EXPECT_EQ(read.identity.digest, DigestOf(big));
    EXPECT_EQ(read.identity.size, big.size());

    TDomDocument document;
    EXPECT_EQ(document.LoadIdentified(file), read.identity);
    EXPECT_EQ(document.DocumentElement().GetAttribute("title"), "big");
}

} // namespace

// Opening digests a large file's bytes beside the well-formedness check; the identity is the
// file's whatever the decoder does with the bytes, and a file that cannot be parsed is refused
// with nothing kept.
TEST(FileIdentityTest, AnOpenedDocumentsIdentityIsItsFilesWhateverItsSizeAndEncoding) {
    const auto content = [](size_t size) {
        std::string memo;
        for (size_t i = 0; memo.size() < size; ++i) {
            memo += std::to_string(i * 7919 % 1000) + ' ';
        }
        return memo;
    };
    struct Case {
        const char* name;
        std::string bytes;
        bool parses;
    };
    const std::string large = content(1 << 21);
    const std::vector<Case> cases = {
        {"small", "<ludex title=\"t\" memo=\"" + content(200) + "\"/>", true},
        {"large", "<ludex title=\"t\" memo=\"" + large + "\"/>", true},
        {"large, byte-order mark", "\xEF\xBB\xBF<ludex title=\"t\" memo=\"" + large + "\"/>", true},
        {"large, code page",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><ludex title=\"t\xE0\" memo=\"" + large + "\"/>",
         true},
        {"large, malformed at the end", "<ludex title=\"t\" memo=\"" + large + "\"/><", false},
        {"large, parser's error", "<ludex title=\"t\" memo=\"" + large + "\"></lud>", false},
    };
    ludex::testing::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.Write("doc.ldx", c.bytes);
        TDomDocument document;
        if (!c.parses) {
            EXPECT_THROW(document.LoadIdentified(file), EDomError);
            EXPECT_FALSE(document.DocumentElement());
            continue;
        }
        const TFileIdentity identity = document.LoadIdentified(file);
        EXPECT_EQ(identity.digest, DigestOf(c.bytes));
        EXPECT_EQ(identity, ReadIdentifiedFile(file).identity);
        EXPECT_EQ(document.DocumentElement().GetAttribute("title").substr(0, 1), "t");
    }
}
