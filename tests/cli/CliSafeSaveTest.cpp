// What the commands that write documents replace and keep: backups, links, refused targets, and
// saves killed at random moments.
#include "CliRun.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

using namespace ludex::test;
namespace fs = std::filesystem;

namespace {

const fs::path& Root(const TScratchFolder& folder) {
    return static_cast<const ludex::testing::TempDir&>(folder).Path();
}

std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CliSafeSaveTest, WritingCommandsKeepBackups) {
    TScratchFolder folder;
    const std::string doc = folder.CopyData("notes.ldx");
    const std::string original = ReadAll(doc);
    const std::string pw = folder.Write("pw", "s3cret");

    // Each command that replaces the file keeps what it held; the oldest of three goes. Encrypting
    // a plain branch removes the backups, which held it in plain, and says so once.
    EXPECT_EQ(RunCli({"resave", doc}).status, 0);
    ASSERT_EQ(ReadAll(doc + ".bak1"), original);
    const TCliResult encrypting = RunCli({"encrypt", doc, "#0", "--password-file", pw});
    EXPECT_EQ(encrypting.status, 0);
    EXPECT_EQ(encrypting.err,
              "Removed 2 backups of " + doc + " that may have held text which is now only encrypted\n");
    const std::string encrypted = ReadAll(doc);
    for (const auto& file : fs::directory_iterator(Root(folder))) {
        EXPECT_EQ(ReadAll(file.path().string()).find("Plans for the year"), std::string::npos) << file.path();
    }
    EXPECT_FALSE(fs::exists(doc + ".bak1"));
    EXPECT_EQ(RunCli({"decrypt", doc, "#0", "--password-file", pw}).status, 0);
    EXPECT_EQ(ReadAll(doc + ".bak1"), encrypted); // a backup of an encrypted document stays enciphered
    EXPECT_EQ(ReadAll(doc + ".bak1").find("Plans for the year"), std::string::npos);
    const std::string decrypted = ReadAll(doc);
    EXPECT_EQ(RunCli({"resave", doc}).status, 0);
    const TCliResult resaving = RunCli({"resave", doc});
    EXPECT_EQ(resaving.status, 0);
    EXPECT_EQ(resaving.err, "");
    EXPECT_EQ(ReadAll(doc + ".bak1"), decrypted);
    EXPECT_EQ(ReadAll(doc + ".bak3"), encrypted);
    EXPECT_EQ(NamesIn(Root(folder)), (std::vector<std::string>{"notes.ldx", "notes.ldx.bak1",
                                                               "notes.ldx.bak2", "notes.ldx.bak3", "pw"}));

    // -o replaces another file, which keeps its backup as well.
    const std::string out = folder.Write("out.ldx", "the earlier output");
    EXPECT_EQ(RunCli({"resave", doc, "-o", out, "--backups", "1"}).status, 0);
    EXPECT_EQ(ReadAll(out + ".bak1"), "the earlier output");
    EXPECT_EQ(RunCli({"resave", doc, "-o", out, "--backups=1"}).status, 0);
    EXPECT_EQ(ReadAll(out + ".bak1"), ReadAll(doc));
    EXPECT_FALSE(fs::exists(out + ".bak2"));

    // None at all, and counts that are no counts.
    const std::string plain = folder.Write("plain.ldx", original);
    EXPECT_EQ(RunCli({"resave", plain, "--no-backup"}).status, 0);
    EXPECT_EQ(RunCli({"encrypt", plain, "#0", "--password-file", pw, "--backups", "0"}).status, 0);
    EXPECT_FALSE(fs::exists(plain + ".bak1"));
    const std::string before = ReadAll(plain);
    const struct {
        std::vector<std::string> arguments;
        const char* err;
    } wrong[] = {
        {{"resave", plain, "--backups", "100"}, "from 0 to 99"},
        {{"resave", plain, "--backups", "-1"}, "from 0 to 99"},
        {{"resave", plain, "--backups", "three"}, "\"three\""},
        {{"resave", plain, "--backups"}, "needs a value"},
        {{"resave", plain, "--backups", "2", "--no-backup"}, "exclude each other"},
        {{"decrypt", plain, "#0", "--password-file", pw, "--backups", "x"}, "from 0 to 99"},
        {{"export", plain, "--no-backup"}, "Unknown option"},
    };
    for (const auto& w : wrong) {
        const TCliResult r = RunCli(w.arguments);
        EXPECT_EQ(r.status, 2) << w.err;
        EXPECT_NE(r.err.find(w.err), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(plain), before);
        EXPECT_FALSE(fs::exists(plain + ".bak1"));
    }
}

TEST(CliSafeSaveTest, WritesThroughLinksAndRefusesWhatItMustNotReplace) {
    TScratchFolder folder;
    fs::create_directories(Root(folder) / "real");
    const std::string real = folder.Path("real/notes.ldx");
    const std::string loose = "<?xml version='1.0'?>\n<ludex title='T' memo='a&#10;b'/>\n";
    folder.Write("real/notes.ldx", loose);
    fs::create_symlink("real/notes.ldx", Root(folder) / "notes.ldx");

    EXPECT_EQ(RunCli({"resave", folder.Path("notes.ldx")}).status, 0);
    EXPECT_TRUE(fs::is_symlink(Root(folder) / "notes.ldx"));
    EXPECT_EQ(ReadAll(real),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ludex title=\"T\" memo=\"a&#xA;b\"/>");
    EXPECT_EQ(ReadAll(real + ".bak1"), loose);
    EXPECT_EQ(NamesIn(Root(folder)), (std::vector<std::string>{"notes.ldx", "real"}));

    // Targets that are not replaced: the error names them, and nothing changes.
    const std::string readOnly = folder.Write("read-only.ldx", loose);
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(mkfifo(folder.Path("pipe").c_str(), 0600), 0);
    // What /dev/stdout is, a link to the process's open stream; the test makes its own, so that a
    // save that went wrong could not replace the system's.
    fs::create_symlink("/proc/self/fd/1", Root(folder) / "stdout");
    fs::create_directories(Root(folder) / "folder.ldx");
    const struct {
        std::vector<std::string> arguments;
        std::string named;
        const char* why;
    } refused[] = {
        {{"resave", readOnly}, readOnly, "read-only"},
        {{"resave", real, "-o", readOnly}, readOnly, "read-only"},
        {{"resave", real, "-o", folder.Path("pipe")}, folder.Path("pipe"), "not a regular file"},
        {{"resave", real, "-o", folder.Path("stdout")}, folder.Path("stdout"), "a process has open"},
        {{"export", real, "-o", folder.Path("stdout")}, folder.Path("stdout"), "a process has open"},
        {{"resave", real, "-o", folder.Path("folder.ldx")}, folder.Path("folder.ldx"), "Is a directory"},
    };
    const std::string realBytes = ReadAll(real);
    const std::vector<std::string> names = NamesIn(Root(folder));
    for (const auto& r : refused) {
        SCOPED_TRACE(r.named);
        const TCliResult result = RunCli(r.arguments, folder.Path("captured"));
        EXPECT_EQ(result.status, 5) << result.err;
        EXPECT_NE(result.err.find("\"" + r.named + "\""), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(r.why), std::string::npos) << result.err;
        EXPECT_EQ(ReadAll(readOnly), loose);
        EXPECT_EQ(ReadAll(real), realBytes);
        fs::remove(folder.Path("captured"));
        EXPECT_EQ(NamesIn(Root(folder)), names);
    }
    struct stat info {};
    ASSERT_EQ(stat(folder.Path("pipe").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(fs::is_symlink(Root(folder) / "stdout"));
}

// A document of several megabytes in a form the writer changes, so that the old and the new file
// differ all through.
std::string LargeLooseDocument() {
    std::string text = "<?xml version='1.0'?>\n<ludex title='Large' memo=''>\n";
    for (int i = 0; i < 30000; ++i) {
        const std::string n = std::to_string(i);
        text += "<note title='Branch " + n + "' memo='line one&#10;line two, " + n +
                "'>\n<note title='Child " + n + "' memo='x'/>\n</note>\n";
    }
    return text + "</ludex>\n";
}

// Whether the process has a file open in the folder that has no name there: an unnamed temporary
// file, which the system shows as "#" and a number, marked deleted.
bool WritesUnnamedFile(pid_t process, const fs::path& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
        const std::string open = fs::read_symlink(entry.path(), error).string();
        if (open.starts_with((folder / "#").string()) && open.ends_with(" (deleted)")) {
            return true;
        }
    }
    return false;
}

using std::chrono::microseconds;

// What became of one process that was watched until it ended or was killed.
struct TWatchedRun {
    bool killed = false;
    bool writing = false;   // it had an unnamed file open in the folder when it was killed
    microseconds ran{0};    // until it ended or was killed
    microseconds wrote{-1}; // when it was first seen with an unnamed file open in the folder
    microseconds named{-1}; // when that file was first seen no longer unnamed
};

// Where the delay before a kill counts from, and how closely the process's open files are watched.
enum class TKillClock {
    FromStart,              // its files are looked at when it is killed
    FromStartWatchingFiles, // all along, to learn when it starts writing
    FromWriting,            // from the moment it was first seen writing an unnamed file
};

// Watches the process, and kills it `delay` after the moment `clock` says unless it ends before,
// which it must do well.
TWatchedRun KilledAfter(pid_t child, microseconds delay, const fs::path& folder, TKillClock clock) {
    const bool fromWriting = clock == TKillClock::FromWriting;
    TWatchedRun run;
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - started);
    };
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            run.ran = elapsed();
            return run;
        }
        const bool watched = clock != TKillClock::FromStart;
        const bool writing = watched && WritesUnnamedFile(child, folder);
        if (writing && run.wrote < microseconds(0)) {
            run.wrote = elapsed();
        }
        if (watched && !writing && run.wrote >= microseconds(0) && run.named < microseconds(0)) {
            run.named = elapsed();
        }
        const microseconds since =
            fromWriting ? (run.wrote < microseconds(0) ? microseconds(0) : elapsed() - run.wrote) : elapsed();
        if (ended != 0 || (since >= delay && (!fromWriting || run.wrote >= microseconds(0)))) {
            run.writing = watched ? writing : WritesUnnamedFile(child, folder);
            break;
        }
        std::this_thread::sleep_for(microseconds(100));
    }
    kill(child, SIGKILL);
    EXPECT_EQ(waitpid(child, &status, 0), child);
    run.ran = elapsed();
    run.killed = WIFSIGNALED(status);
    return run;
}

// `ludex-cli resave` of a large document, killed at random moments: the document is always the
// old file or the new one, byte for byte, its backup is the old one, and no temporary file remains
// (one that a kill between naming it and renaming it could leave is removed by the next save).
// Half the kills come at any moment of the run, half once the new file is being written; the
// trials go on until enough kills have come, and enough of them while the file was written.
TEST(CliSafeSaveTest, KilledResavesLeaveTheOldOrTheNewFileAndNoTemporaryOne) {
    TScratchFolder folder;
    const std::string doc = folder.Path("large.ldx");
    const std::string oldBytes = LargeLooseDocument();
    folder.Write("large.ldx", oldBytes);
    ASSERT_EQ(RunCli({"resave", doc, "-o", folder.Path("expected.ldx"), "--no-backup"}).status, 0);
    const std::string newBytes = ReadAll(folder.Path("expected.ldx"));
    fs::remove(folder.Path("expected.ldx"));
    ASSERT_NE(newBytes, oldBytes);
    ASSERT_GT(newBytes.size(), 3'000'000u);

    const auto reset = [&] {
        for (const std::string& name : NamesIn(Root(folder))) {
            fs::remove(folder.Path(name));
        }
        folder.Write("large.ldx", oldBytes);
    };
    // A run to its end shows when the writing starts and how long a run takes; a busy machine may
    // hide the short writing from the watcher, and then another run is watched.
    TWatchedRun whole;
    for (int watched = 0; watched < 10 && whole.wrote < microseconds(0); ++watched) {
        reset();
        whole = KilledAfter(StartCli({"resave", doc}), std::chrono::seconds(60), Root(folder),
                            TKillClock::FromStartWatchingFiles);
        ASSERT_FALSE(whole.killed);
        EXPECT_EQ(ReadAll(doc), newBytes);
    }
    ASSERT_GE(whole.wrote, microseconds(0)) << "the new file was never seen being written";
    if (whole.named < whole.wrote) {
        whole.named = whole.ran; // it ended before it was seen again
    }
    // The shortest run, and how long the unnamed file was seen, so that most delays fall within.
    microseconds shortest = whole.ran;
    const microseconds writing = whole.named - whole.wrote;

    constexpr int kKills = 24;
    constexpr int kKillsWhileWriting = 8;
    constexpr int kMostTrials = 240; // a busy machine kills fewer runs while they write
    std::mt19937 random(5318008);
    int trials = 0;
    int killed = 0;
    int whileWriting = 0;
    int replaced = 0;
    int leftOver = 0;
    while ((killed < kKills || whileWriting < kKillsWhileWriting) && trials < kMostTrials) {
        SCOPED_TRACE("trial " + std::to_string(trials));
        const bool fromWriting = trials % 2 == 1;
        ++trials;
        reset();
        const microseconds delay(
            std::uniform_int_distribution<int64_t>(0, (fromWriting ? writing : shortest).count())(random));
        const TWatchedRun run = KilledAfter(StartCli({"resave", doc}), delay, Root(folder),
                                            fromWriting ? TKillClock::FromWriting : TKillClock::FromStart);
        if (!run.killed) {
            shortest = std::min(shortest, run.ran);
            continue;
        }
        ++killed;
        whileWriting += run.writing ? 1 : 0;
        const std::string now = ReadAll(doc);
        EXPECT_TRUE(now == oldBytes || now == newBytes) << now.size() << " bytes";
        replaced += now == newBytes ? 1 : 0;
        for (const std::string& name : NamesIn(Root(folder))) {
            if (name == "large.ldx.bak1") {
                EXPECT_EQ(ReadAll(folder.Path(name)), oldBytes);
            } else if (name != "large.ldx") {
                // Only the moment between naming the complete file and renaming it leaves one.
                EXPECT_TRUE(name.starts_with(".ludex-") && name.ends_with(".tmp")) << name;
                ++leftOver;
                EXPECT_EQ(RunCli({"resave", doc, "--no-backup"}).status, 0);
                EXPECT_FALSE(fs::exists(folder.Path(name))) << "the next save did not remove " << name;
            }
        }
    }
    std::printf(
        "%d resaves of %zu bytes, %d killed: %d while writing the unnamed temporary file, %d after the "
        "rename; %d named temporary files left\n",
        trials, oldBytes.size(), killed, whileWriting, replaced, leftOver);
    EXPECT_GE(killed, kKills) << "too few resaves were killed before they ended";
    EXPECT_GE(whileWriting, kKillsWhileWriting) << "too few kills came while the new file was written";
}

} // namespace
