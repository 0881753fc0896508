// What a save replaces, and what it keeps: links followed to their file, targets refused, modes
// and owners kept, temporary files that no kill leaves for long, and backups.
#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/base/FileSystem.h"
#include "core/base/PosixFileSystem.h"
#include "support/FaultyFileSystem.h"
#include "support/SaveFaults.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using namespace ludex;
using namespace ludex::testing;

namespace {

std::string Lines(const std::string& word, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += word + " " + std::to_string(i) + "\r\n";
    }
    return text;
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Every entry of a folder and of its sub-folders: kind, permission bits, and bytes or link text.
std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string path = entry.path().string();
        const struct stat st = StatOf(path);
        std::string what = std::to_string(st.st_mode) + " ";
        if (S_ISLNK(st.st_mode)) {
            what += fs::read_symlink(entry.path()).string();
        } else if (S_ISREG(st.st_mode)) {
            what += ReadAll(path);
        }
        tree[entry.path().lexically_relative(folder).string()] = what;
    }
    return tree;
}

std::string ErrorOf(const std::function<void()>& save) {
    try {
        save();
    } catch (const EInOutError& e) {
        return e.Message();
    }
    return "";
}

// ---- Links ----------------------------------------------------------------------------------

TEST(SaveTargetTest, LinksAreFollowedToTheFileTheyLeadTo) {
    const struct {
        const char* name;
        const char* save; // the path given to the save, below the folder
        const char* file; // the file the links lead to
        bool existing;    // the file holds old bytes before
        std::vector<std::pair<const char*, const char*>> links; // link, text
    } cases[] = {
        {"absolute link into another folder",
         "notes.ldx",
         "real/notes.ldx",
         true,
         {{"notes.ldx", "@/real/notes.ldx"}}},
        {"relative link", "notes.ldx", "real/notes.ldx", true, {{"notes.ldx", "real/notes.ldx"}}},
        {"relative link with ..",
         "docs/notes.ldx",
         "real/n.ldx",
         true,
         {{"docs/notes.ldx", "../real/n.ldx"}}},
        {"chain of relative and absolute links",
         "a.ldx",
         "real/c.ldx",
         true,
         {{"a.ldx", "docs/b.ldx"}, {"docs/b.ldx", "@/real/link.ldx"}, {"real/link.ldx", "c.ldx"}}},
        {"link inside a linked folder",
         "via/notes.ldx",
         "real/other.ldx",
         true,
         {{"via", "docs"}, {"docs/notes.ldx", "../real/other.ldx"}}},
        {"dangling link", "notes.ldx", "real/new.ldx", false, {{"notes.ldx", "real/new.ldx"}}},
        {"dangling chain",
         "notes.ldx",
         "real/new.ldx",
         false,
         {{"notes.ldx", "docs/b"}, {"docs/b", "../real/new.ldx"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir folder;
        fs::create_directories(folder.Path() / "real");
        fs::create_directories(folder.Path() / "docs");
        if (c.existing) {
            folder.Write(c.file, "old bytes");
            ASSERT_EQ(::chmod(folder.File(c.file).c_str(), 0640), 0);
        }
        for (const auto& [link, text] : c.links) {
            const std::string target = text[0] == '@' ? folder.Path().string() + (text + 1) : text;
            fs::create_symlink(target, folder.Path() / link);
        }
        auto expected = Tree(folder.Path());
        const std::string bytes = Lines("new", 20);

        WriteFileAtomically(folder.File(c.save), bytes, {.backups = 2});

        EXPECT_EQ(ReadAll(folder.File(c.file)), bytes);
        const struct stat st = StatOf(folder.File(c.file));
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, c.existing ? 0640u : 0600u);
        // The links are as they were; the file has its new bytes and, beside it, the old ones.
        expected[c.file] = std::to_string(st.st_mode) + " " + bytes;
        if (c.existing) {
            expected[std::string(c.file) + ".bak1"] = std::to_string(st.st_mode) + " old bytes";
        }
        EXPECT_EQ(Tree(folder.Path()), expected);
    }
}

// ---- Refused targets ------------------------------------------------------------------------

TEST(SaveTargetTest, RefusedTargetsChangeNothing) {
    const bool root = ::geteuid() == 0;
    const struct {
        const char* name;
        std::function<std::string(const TempDir&)> make; // makes the target, returns the path to save
        const char* why;                                 // in the message
    } cases[] = {
        {"read-only file",
         [](const TempDir& d) {
             const std::string p = d.Write("notes.ldx", "precious");
             ::chmod(p.c_str(), 0444);
             return p;
         },
         "read-only"},
        {"file without any permission",
         [](const TempDir& d) {
             const std::string p = d.Write("notes.ldx", "precious");
             ::chmod(p.c_str(), 0);
             return p;
         },
         "read-only"},
        {"read-only file through a link",
         [](const TempDir& d) {
             const std::string p = d.Write("notes.ldx", "precious");
             ::chmod(p.c_str(), 0400);
             fs::create_symlink("notes.ldx", d.File("link.ldx"));
             return d.File("link.ldx");
         },
         "read-only"},
        {"pipe",
         [](const TempDir& d) {
             ::mkfifo(d.File("pipe").c_str(), 0600);
             return d.File("pipe");
         },
         "not a regular file"},
        {"link to a pipe",
         [](const TempDir& d) {
             ::mkfifo(d.File("pipe").c_str(), 0600);
             fs::create_symlink(d.File("pipe"), d.File("link"));
             return d.File("link");
         },
         "not to a regular file"},
        {"socket",
         [](const TempDir& d) {
             const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             const std::string p = d.File("socket");
             p.copy(address.sun_path, sizeof address.sun_path - 1);
             EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
             ::close(s);
             return p;
         },
         "not a regular file"},
        {"folder",
         [](const TempDir& d) {
             fs::create_directories(d.Path() / "folder");
             d.Write("folder/inside", "x");
             return d.File("folder");
         },
         "Is a directory"},
        {"link to a folder",
         [](const TempDir& d) {
             fs::create_directories(d.Path() / "folder");
             fs::create_symlink("folder", d.File("link"));
             return d.File("link");
         },
         "Is a directory"},
        {"loop of links",
         [](const TempDir& d) {
             fs::create_symlink("b", d.File("a"));
             fs::create_symlink("a", d.File("b"));
             return d.File("a");
         },
         "Too many levels of symbolic links"},
        {"link to a process's open file",
         [](const TempDir& d) {
             // What /dev/stdout is: a link into /proc/self/fd. The stream here is a regular file.
             const std::string p = d.Write("stream", "what the stream holds");
             const int fd = ::open(p.c_str(), O_WRONLY | O_APPEND); // left open for the test's life
             fs::create_symlink("/proc/self/fd/" + std::to_string(fd), d.File("stdout"));
             return d.File("stdout");
         },
         "a process has open"},
        {"file in a missing folder", [](const TempDir& d) { return d.File("missing/notes.ldx"); },
         "No such file or directory"},
        {"file below a file", [](const TempDir& d) { return d.Write("plain", "plain") + "/notes.ldx"; },
         "Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir folder;
        const std::string path = c.make(folder);
        const auto before = Tree(folder.Path());
        for (const unsigned backups : {0u, 3u}) {
            const std::string message =
                ErrorOf([&] { WriteFileAtomically(path, "new bytes", {.backups = backups}); });
            EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
            EXPECT_NE(message.find(c.why), std::string::npos) << message;
            EXPECT_EQ(Tree(folder.Path()), before);
        }
    }

    // A device, made where no harm can come of it.
    const TempDir folder;
    if (root && ::mknod(folder.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        const auto before = Tree(folder.Path());
        const std::string message = ErrorOf([&] { WriteFileAtomically(folder.File("null"), "x"); });
        EXPECT_NE(message.find("not a regular file"), std::string::npos) << message;
        EXPECT_EQ(Tree(folder.Path()), before);
    }
}

// A file with write permission bits that the system still does not let this user write (another
// user's, an access list, a read-only mount) is refused as read-only, with the system's reason.
TEST(SaveTargetTest, FileTheUserMayNotWriteIsRefused) {
    const TempDir folder;
    const std::string path = folder.Write("notes.ldx", "precious");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    TFaultyFileSystem faulty;
    faulty.FailNth(TFileOperation::CheckWriteAccess, 1, EACCES);
    const TFileSystemOverride override(faulty);
    const std::string message = ErrorOf([&] { WriteFileAtomically(path, "new"); });
    EXPECT_NE(message.find("read-only for this user: Permission denied"), std::string::npos) << message;
    EXPECT_EQ(ReadAll(path), "precious");
    EXPECT_EQ(faulty.Count(TFileOperation::CreateUnnamed), 0);
}

// ---- Permissions, owner and group -----------------------------------------------------------

TEST(SaveTargetTest, KeepsPermissionsWithoutSetIdBitsAndTheOwnerWherePermitted) {
    const struct {
        mode_t before;
        mode_t after;
    } cases[] = {
        {0640, 0640},  {0600, 0600},  {0755, 0755},  {0666, 0666},  {0200, 0200},
        {04755, 0755}, {02775, 0775}, {01777, 0777}, {06711, 0711},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.before));
        const TempDir folder;
        const std::string path = folder.Write("notes.ldx", "old");
        ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
        WriteFileAtomically(path, "new", {.backups = 1});
        EXPECT_EQ(ReadAll(path), "new");
        EXPECT_EQ(StatOf(path).st_mode & 07777, c.after);
    }

    // A new file is its owner's alone, whatever the umask says.
    const TempDir folder;
    const mode_t umask = ::umask(0);
    WriteFileAtomically(folder.File("new.ldx"), "new");
    ::umask(umask);
    EXPECT_EQ(StatOf(folder.File("new.ldx")).st_mode & 07777, 0600u);

    // Someone else's file stays theirs when the process may give it to them.
    if (::geteuid() == 0) {
        const std::string path = folder.Write("theirs.ldx", "old");
        ASSERT_EQ(::chown(path.c_str(), 12345, 23456), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
        WriteFileAtomically(path, "new");
        const struct stat st = StatOf(path);
        EXPECT_EQ(st.st_uid, 12345u);
        EXPECT_EQ(st.st_gid, 23456u);
        EXPECT_EQ(st.st_mode & 07777, 0664u);
    }
}

// A process that may not give the file away keeps its group where it can, and saves anyway.
TEST(SaveTargetTest, OwnerThatCannotBeKeptDoesNotStopTheSave) {
    const TempDir folder;
    const std::string path = folder.Write("notes.ldx", "old");
    TFaultyFileSystem faulty;
    faulty.FailNth(TFileOperation::SetOwner, 1, EPERM);
    faulty.FailNth(TFileOperation::SetOwner, 2, EPERM);
    {
        const TFileSystemOverride override(faulty);
        WriteFileAtomically(path, "new");
    }
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_EQ(faulty.Count(TFileOperation::SetOwner), 2); // owner and group, then the group alone
}

// ---- Names and temporary files --------------------------------------------------------------

TEST(SaveTargetTest, NamesAtTheLengthLimitSave) {
    const TempDir folder;
    const long limit = ::pathconf(folder.Path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(limit, 20);
    const size_t longest = static_cast<size_t>(limit);
    for (const size_t length : {longest, longest - 1, longest - 5}) {
        SCOPED_TRACE(length);
        const std::string path = folder.File(std::string(length - 4, 'n') + ".ldx");
        WriteFileAtomically(path, "first", {.backups = 3});
        WriteFileAtomically(path, "second", {.backups = 3});
        WriteFileAtomically(path, "third", {.backups = 3});
        EXPECT_EQ(ReadAll(path), "third");
        // ".bak1" fits a name 5 bytes short of the limit; a longer name keeps no backups.
        const bool backups = length + 5 <= longest;
        EXPECT_EQ(ReadAll(path + ".bak1"), backups ? "second" : "");
        EXPECT_EQ(ReadAll(path + ".bak2"), backups ? "first" : "");
    }
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".ludex-")) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 5u); // three documents and the two backups of the shortest
}

TEST(SaveTargetTest, TemporaryFilesOfEndedSavesGoAndThoseOfLiveOnesStay) {
    const TempDir folder;
    const std::string abandoned = folder.Write(".ludex-Ab12Cd.tmp", "a killed save's start");
    const std::string lookalikes[] = {".ludex-Ab12C.tmp", ".ludex-Ab12Cde.tmp", ".ludex-Ab_2Cd.tmp",
                                      "notes.ldx.Ab12Cd", ".ludex-Ab12Cd.tmp.bak1"};
    for (const std::string& name : lookalikes) {
        folder.Write(name, "the user's");
    }
    fs::create_symlink("notes.ldx", folder.File(".ludex-link00.tmp"));
    fs::create_directories(folder.Path() / ".ludex-fold00.tmp");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(folder.Write(".ludex-other0.tmp", "someone else's").c_str(), 12345, 12345), 0);
    }
    // A save in progress in another process holds its file locked.
    std::unique_ptr<IWritableFile> live;
    ASSERT_FALSE(PosixFileSystem().CreateTemporary(folder.Path().string(), ".ludex-", ".tmp", live).Failed());

    WriteFileAtomically(folder.File("notes.ldx"), "saved");

    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(live->Path()));
    for (const std::string& name : lookalikes) {
        EXPECT_EQ(ReadAll(folder.File(name)), "the user's") << name;
    }
    EXPECT_TRUE(fs::is_symlink(folder.File(".ludex-link00.tmp")));
    EXPECT_TRUE(fs::is_directory(folder.File(".ludex-fold00.tmp")));
    EXPECT_EQ(fs::exists(folder.File(".ludex-other0.tmp")), ::geteuid() == 0);

    // Once its writer has gone, the next save in the folder removes it.
    const std::string livePath = live->Path();
    live.reset();
    WriteFileAtomically(folder.File("other.ldx"), "saved");
    EXPECT_FALSE(fs::exists(livePath));
}

// ---- Backups ---------------------------------------------------------------------------------

TEST(BackupTest, KeepsTheNewestVersionsBesideTheFile) {
    const struct {
        unsigned count;
        std::vector<std::string> backups; // after saving v1 to v5: .bak1, .bak2, ...
    } cases[] = {
        {0, {}}, {1, {"v4"}}, {2, {"v4", "v3"}}, {3, {"v4", "v3", "v2"}}, {5, {"v4", "v3", "v2", "v1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        const TempDir folder;
        const std::string path = folder.File("notes.ldx");
        for (int version = 1; version <= 5; ++version) {
            WriteFileAtomically(path, "v" + std::to_string(version), {.backups = c.count});
        }
        EXPECT_EQ(ReadAll(path), "v5");
        size_t files = 1;
        for (size_t n = 1; n <= c.backups.size(); ++n) {
            EXPECT_EQ(ReadAll(BackupName(path, static_cast<unsigned>(n))), c.backups[n - 1]);
            ++files;
        }
        EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(folder.Path()), {})), files);
    }
    EXPECT_EQ(BackupName("/home/u/notes.ldx", 3), "/home/u/notes.ldx.bak3");
}

// The document's name holds the old or the new bytes at every moment: the backup is a second
// name for the old file, never the old file moved away.
TEST(BackupTest, TheDocumentKeepsItsNameThroughout) {
    for (const bool hardLinks : {true, false}) {
        SCOPED_TRACE(hardLinks ? "with hard links" : "without hard links");
        const TempDir folder;
        const std::string path = folder.Write("notes.ldx", "old");
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
        folder.Write("notes.ldx.bak1", "older");
        const ino_t oldFile = StatOf(path).st_ino;
        TFaultyFileSystem faulty;
        if (!hardLinks) {
            faulty.RefuseHardLinks();
        }
        {
            const TFileSystemOverride override(faulty);
            WriteFileAtomically(path, "new", {.backups = 3});
        }
        for (const TJournalEntry& entry : faulty.Journal()) {
            EXPECT_FALSE(entry.operation == TFileOperation::Remove && entry.path == path);
            EXPECT_FALSE(entry.operation == TFileOperation::Rename && entry.path.starts_with(path + " ->"))
                << entry.path;
        }
        EXPECT_EQ(ReadAll(path), "new");
        EXPECT_EQ(ReadAll(path + ".bak1"), "old");
        EXPECT_EQ(ReadAll(path + ".bak2"), "older");
        EXPECT_EQ(StatOf(path + ".bak1").st_mode & 07777, 0640u);
        EXPECT_EQ(StatOf(path + ".bak1").st_ino == oldFile, hardLinks);
    }
}

TEST(BackupTest, SavesWithBackupsSurviveEveryFault) {
    const std::string bytes = Lines("new", 40);
    for (const unsigned backups : {1u, 3u}) {
        SCOPED_TRACE(backups);
        const TempDir folder;
        const std::string target = folder.File("notes.ldx");
        ExpectSaveSurvivesFaults(
            target, "old bytes\n", [&] { WriteFileAtomically(target, bytes, {.backups = backups}); },
            backups);
    }
    // Through a link, the backups are made beside the file it leads to.
    const TempDir folder;
    fs::create_directories(folder.Path() / "real");
    fs::create_symlink("real/notes.ldx", folder.Path() / "notes.ldx");
    const std::string link = folder.File("notes.ldx");
    ExpectSaveSurvivesFaults(
        link, "old bytes\n", [&] { WriteFileAtomically(link, bytes, {.backups = 2}); }, 2);
    EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(folder.Path()), {})), 2u);
}

TEST(BackupTest, CountsFromText) {
    const struct {
        const char* text;
        std::optional<unsigned> count;
    } cases[] = {
        {"0", 0u},
        {"3", 3u},
        {"03", 3u},
        {"99", 99u},
        {"100", std::nullopt},
        {"", std::nullopt},
        {"-1", std::nullopt},
        {"+3", std::nullopt},
        {" 3", std::nullopt},
        {"3 ", std::nullopt},
        {"three", std::nullopt},
        {"4294967299", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseBackupCount(c.text), c.count) << "\"" << c.text << "\"";
    }
}

// ---- Kills -----------------------------------------------------------------------------------

// Kills the process after `delay` unless it ends before, which it must do well. Returns how long
// it ran, and whether it was killed.
struct TKillRun {
    bool killed = false;
    std::chrono::microseconds ran{0};
};

TKillRun KilledAfter(pid_t child, std::chrono::microseconds delay) {
    const auto started = std::chrono::steady_clock::now();
    const auto ran = [&] {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                     started);
    };
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            return {false, ran()};
        }
        EXPECT_EQ(ended, 0);
        if (ended != 0 || ran() >= delay) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    ::kill(child, SIGKILL);
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return {WIFSIGNALED(status), ran()};
}

// Where the file system has no unnamed files, the temporary file of a killed save has a name. Its
// writer is gone and so is its lock, and the next save into the folder removes it. The saves are
// killed after random delays within the time one takes, until enough kills have come while the
// temporary file was written.
TEST(SaveKillTest, NamedTemporaryFilesOfKilledSavesAreRemovedByTheNextSave) {
    const TempDir folder;
    const std::string path = folder.File("notes.ldx");
    const std::string oldBytes = Lines("old", 20000);
    const std::string newBytes = Lines("new", 200000);
    const auto save = [&](std::chrono::microseconds delay) {
        folder.Write("notes.ldx", oldBytes);
        const pid_t child = ::fork();
        if (child == 0) {
            TFaultyFileSystem faulty;
            faulty.RefuseUnnamedFiles();
            faulty.LimitWriteSize(4096); // many writes, so that kills land among them
            const TFileSystemOverride override(faulty);
            try {
                WriteFileAtomically(path, newBytes);
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        EXPECT_GT(child, 0);
        return KilledAfter(child, delay);
    };
    std::chrono::microseconds shortest = save(std::chrono::seconds(10)).ran;

    constexpr int kKills = 20;
    constexpr int kLeftOver = 8;
    constexpr int kMostTrials = 200;
    std::mt19937 random(20240611);
    int trials = 0;
    int killed = 0;
    int leftOver = 0;
    while ((killed < kKills || leftOver < kLeftOver) && trials < kMostTrials) {
        SCOPED_TRACE(trials);
        ++trials;
        const TKillRun run = save(
            std::chrono::microseconds(std::uniform_int_distribution<int64_t>(0, shortest.count())(random)));
        if (!run.killed) {
            shortest = std::min(shortest, run.ran);
        }
        killed += run.killed ? 1 : 0;
        const std::string now = ReadAll(path);
        EXPECT_TRUE(now == oldBytes || now == newBytes) << now.size() << " bytes";
        std::vector<std::string> temporary;
        for (const auto& entry : fs::directory_iterator(folder.Path())) {
            if (entry.path().filename() != "notes.ldx") {
                EXPECT_TRUE(entry.path().filename().string().starts_with(".ludex-")) << entry.path();
                temporary.push_back(entry.path().string());
            }
        }
        leftOver += temporary.empty() ? 0 : 1;
        WriteFileAtomically(folder.File("other.ldx"), "another save in the folder");
        fs::remove(folder.File("other.ldx"));
        for (const std::string& file : temporary) {
            EXPECT_FALSE(fs::exists(file)) << file;
        }
    }
    std::printf("%d saves, %d killed before they ended, %d of those left a named temporary file\n", trials,
                killed, leftOver);
    EXPECT_GE(killed, kKills);
    EXPECT_GE(leftOver, kLeftOver) << "too few kills came while the temporary file was written";
}

} // namespace
