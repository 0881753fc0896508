// Recovery snapshots and settings written as they change: what a crash or a kill leaves behind,
// and what the next start makes of it.
#include "BranchTestSupport.h"

#include "core/base/FileSystem.h"
#include "gui/app/DocumentRecovery.h"
#include "support/FaultyFileSystem.h"

#include <QAction>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace ludex::test {
namespace {

namespace fs = std::filesystem;
using ludex::testing::TFaultyFileSystem;
using ludex::testing::TFileOperation;

const std::string kOneSecretBranch = "<note title=\"Secret\" memo=\"hidden words\">\r\n"
                                     "<note title=\"s1\" memo=\"first secret\"/>\r\n</note>\r\n"
                                     "<note title=\"Plain\" memo=\"\"/>\r\n";

// Texts that must never stand in a file while their branch is encrypted, quoted as attribute
// values stand there (short texts turn up by chance inside Base64, which holds no quotes).
const std::vector<std::string> kSecretTexts = {"\"hidden words\"", "\"first secret\"", "\"s1\""};

class RecoveryTest : public BranchTest {
protected:
    // The files of the recovery folder, by name.
    std::vector<std::string> RecoveryFiles() const {
        std::vector<std::string> names;
        std::error_code error;
        for (fs::directory_iterator it(RecoveryFolder(), error), end; !error && it != end;
             it.increment(error)) {
            names.push_back(it->path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Snapshots() const {
        std::vector<std::string> snapshots;
        for (const std::string& name : RecoveryFiles()) {
            if (name.size() > 4 && name.substr(name.size() - 4) == ".ldx") {
                snapshots.push_back((fs::path(RecoveryFolder()) / name).string());
            }
        }
        return snapshots;
    }
    // Types into the memo as the user does, on the branch.
    void Type(TTreeNode* node, const QString& text) {
        Select(node);
        QTest::keyClicks(Window().Memo, text);
    }
    // One round of the timer, and the wait for its files.
    void WriteSnapshots() {
        Window().Recovery()->WriteSnapshots();
        Window().Recovery()->Settle();
    }
};

TEST_F(RecoveryTest, SnapshotHoldsTheTypedMemoEnciphersOpenSecretsAndRestoresAfterACrash) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kOneSecretBranch));
    Encrypt(Find(root, {"Secret"}), "key");
    Type(Find(root, {"Plain"}), "typed, not yet stored");
    WriteSnapshots();

    ASSERT_EQ(Snapshots().size(), 1u);
    const std::string snapshot = ReadFile(Snapshots()[0]);
    EXPECT_NE(snapshot.find("typed, not yet stored"), std::string::npos) << snapshot;
    for (const std::string& secret : kSecretTexts) {
        EXPECT_EQ(snapshot.find(secret), std::string::npos) << secret << " readable in " << snapshot;
    }
    struct stat st {};
    ASSERT_EQ(::stat(Snapshots()[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(RecoveryFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(Questions().Errors.empty());

    Discard(); // the window goes without closing, as in a crash
    Questions().Answers.push_back(TAnswer::Yes);
    Start();
    ASSERT_EQ(Questions().Asked.size(), 1u);
    EXPECT_TRUE(Questions().Asked[0].contains("Doc")) << Questions().Asked[0].toStdString();
    EXPECT_TRUE(Questions().Asked[0].contains("doc.ldx")) << Questions().Asked[0].toStdString();
    ASSERT_EQ(Tree().TopLevelCount(), 1) << "the document of the last run is not opened twice";
    root = Top(0);
    EXPECT_TRUE(root->Document()->Modified());
    EXPECT_EQ(root->Document()->FileName(), PathOf("doc.ldx"));
    EXPECT_FALSE(root->Document()->RootElement().HasAttribute(kRecoveryFileAttribute));
    EXPECT_EQ(MemoAccess.Read(ElementOf(Find(root, {"Plain"}))), "typed, not yet stored");
    TTreeNode* secret = Find(root, {"Secret"});
    ASSERT_TRUE(IsNodeLocked(secret));
    Select(secret);
    AnswerPassword("key");
    Window().Button_LockBranch->trigger();
    EXPECT_EQ(MemoAccess.Read(ElementOf(Find(secret, {"s1"}))), "first secret");

    ASSERT_EQ(Snapshots().size(), 1u) << "the program's own snapshot replaces the left one";
    Window().MI_Save->trigger();
    EXPECT_TRUE(Snapshots().empty()) << "saving removes the snapshot";
    EXPECT_NE(ReadFile(PathOf("doc.ldx")).find("typed, not yet stored"), std::string::npos);
    ASSERT_TRUE(Close());
    EXPECT_TRUE(RecoveryFiles().empty()) << "a clean exit leaves nothing behind";
}

TEST_F(RecoveryTest, NewDocumentIsCoveredAndNothingIsRestoredOrDroppedWithoutTheUsersWord) {
    Start();
    Window().MI_New->trigger();
    EditTitle(Top(0), "Fresh");
    WriteSnapshots();
    ASSERT_EQ(Snapshots().size(), 1u);
    Discard();

    Questions().Answers.push_back(TAnswer::Cancel); // keep it for later
    Start();
    EXPECT_EQ(Tree().TopLevelCount(), 0);
    EXPECT_EQ(Snapshots().size(), 1u);
    ASSERT_EQ(Questions().Asked.size(), 1u);
    EXPECT_TRUE(Questions().Asked[0].contains("Fresh"));
    EXPECT_TRUE(Questions().Asked[0].contains(QString::fromStdString(Message("RecoveryNeverSaved"))));
    Discard();

    Questions().Answers.push_back(TAnswer::Yes);
    Start();
    ASSERT_EQ(Tree().TopLevelCount(), 1);
    EXPECT_EQ(Top(0)->Text(), "Fresh");
    EXPECT_EQ(Top(0)->Document()->FileName(), "");
    EXPECT_TRUE(Top(0)->Document()->Modified());
    Discard();

    Questions().Answers.push_back(TAnswer::No); // discard
    Start();
    EXPECT_EQ(Tree().TopLevelCount(), 0);
    EXPECT_TRUE(RecoveryFiles().empty());
    Discard();
    Start();
    EXPECT_EQ(Questions().Asked.size(), 3u) << "nothing left to offer";
}

TEST_F(RecoveryTest, SnapshotsFollowTheDocumentsStateAndClosingWithoutSavingRemovesThem) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kOneSecretBranch));
    Open("other.ldx", Doc("Other"));
    WriteSnapshots();
    EXPECT_TRUE(Snapshots().empty()) << "an unmodified document has none";

    Type(Find(root, {"Plain"}), "a");
    EditTitle(Top(1), "Other2");
    WriteSnapshots();
    EXPECT_EQ(Snapshots().size(), 2u);
    Select(root);
    Window().MI_Save->trigger();
    EXPECT_EQ(Snapshots().size(), 1u);
    Questions().Answers.push_back(TAnswer::No); // close without saving
    Select(Top(1));
    Window().MI_Close->trigger();
    EXPECT_TRUE(Snapshots().empty());
    EXPECT_TRUE(Questions().Errors.empty());
}

// Every step of a snapshot write fails in turn, again and again: the previous snapshot stays whole,
// no temporary file remains, the failure is shown once, and the next write after the fault
// catches up.
TEST_F(RecoveryTest, FailingSnapshotWritesKeepThePreviousSnapshotAndAreReportedOnce) {
    const std::vector<std::pair<TFileOperation, int>> faults = {
        {TFileOperation::LinkStatus, EACCES},
        {TFileOperation::CheckWriteAccess, EROFS},
        {TFileOperation::CreateUnnamed, ENOSPC},
        {TFileOperation::SetOwner, EIO},
        {TFileOperation::SetPermissions, EPERM},
        {TFileOperation::Write, ENOSPC},
        {TFileOperation::SyncFile, EIO},
        {TFileOperation::Link, EIO},
        {TFileOperation::Close, EIO},
        {TFileOperation::Rename, EXDEV},
    };
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kOneSecretBranch));
    int round = 0;
    for (const auto& [operation, error] : faults) {
        SCOPED_TRACE(static_cast<int>(operation));
        const std::string before = "before " + std::to_string(round++) + ";";
        Type(Find(root, {"Plain"}), QString::fromStdString(before));
        WriteSnapshots();
        ASSERT_EQ(Snapshots().size(), 1u);
        const std::string path = Snapshots()[0];
        const std::string previous = ReadFile(path);
        Type(Find(root, {"Plain"}), "lost for now;");
        const size_t errorsBefore = Questions().Errors.size();
        {
            TFaultyFileSystem faulty;
            for (int n = 1; n <= 3; ++n) {
                faulty.FailNth(operation, n, error);
            }
            const TFileSystemOverride override(faulty);
            for (int tick = 0; tick < 3; ++tick) {
                WriteSnapshots();
            }
        }
        EXPECT_EQ(Questions().Errors.size(), errorsBefore + 1) << "reported once, not on every round";
        EXPECT_EQ(ReadFile(path), previous);
        EXPECT_EQ(RecoveryFiles().size(), 2u) << "the snapshot and the lock file, no temporary file";
        WriteSnapshots();
        EXPECT_NE(ReadFile(path).find("lost for now;"), std::string::npos) << "caught up";
    }
    EXPECT_TRUE(Window().isEnabled());
}

// A round's files are written on a thread of their own: the window takes input meanwhile, a round
// due while the last is still being written is skipped, and a document saved or closed meanwhile
// loses its snapshot only once it is written, so that none is left behind.
TEST_F(RecoveryTest, SnapshotsAreWrittenWhileTheWindowGoesOn) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kOneSecretBranch));
    ludex::testing::TGatedFileSystem gated;
    const TFileSystemOverride override(gated);
    auto snapshotText = [this] {
        const std::vector<std::string> snapshots = Snapshots();
        return snapshots.size() == 1 ? ReadFile(snapshots[0])
                                     : std::to_string(snapshots.size()) + " snapshots";
    };

    Type(Find(root, {"Plain"}), "first;");
    gated.open = false;
    Window().Recovery()->WriteSnapshots();
    EXPECT_TRUE(Snapshots().empty()) << "held back, and the window goes on";
    Type(Find(root, {"Plain"}), "second;");
    Window().Recovery()->WriteSnapshots();
    gated.open = true;
    Window().Recovery()->Settle();
    EXPECT_NE(snapshotText().find("first;"), std::string::npos);
    EXPECT_EQ(snapshotText().find("second;"), std::string::npos) << "that round was skipped";
    WriteSnapshots();
    EXPECT_NE(snapshotText().find("first;second;"), std::string::npos) << "the next round caught up";

    // The document is saved or closed (Forget) while its snapshot is being written.
    Type(Find(root, {"Plain"}), "third;");
    gated.open = false;
    Window().Recovery()->WriteSnapshots();
    std::thread opener([&gated] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        gated.open = true;
    });
    Window().Recovery()->Forget(root->Document());
    opener.join();
    Window().Recovery()->Settle();
    EXPECT_TRUE(Questions().Errors.empty());
    EXPECT_TRUE(Snapshots().empty()) << "the snapshot goes once it is written, not before";
}

// A round's texts are made on a thread of their own while the window goes on; a change made at
// once (a title typed in) waits for them, so that the snapshot is the document as the round found
// it, wherever the thread has got to. The document is large enough that its text takes a while.
TEST_F(RecoveryTest, ASnapshotIsTheDocumentAsItsRoundFoundIt) {
    std::string content = kOneSecretBranch + "<note title=\"Many\">\r\n";
    for (int i = 0; i < 50000; ++i) {
        content += "<note title=\"m" + std::to_string(i) + "\" memo=\"some words\"/>\r\n";
    }
    content += "</note>\r\n";
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", content));
    Type(Find(root, {"Plain"}), "typed;");
    Window().Recovery()->WriteSnapshots();
    EditTitle(Find(root, {"Plain"}), "Renamed");
    EXPECT_EQ(Find(root, {"Plain"}), nullptr);
    Window().Recovery()->Settle();
    ASSERT_EQ(Snapshots().size(), 1u);
    std::string snapshot = ReadFile(Snapshots()[0]);
    EXPECT_NE(snapshot.find("title=\"Plain\" memo=\"typed;\""), std::string::npos);
    EXPECT_EQ(snapshot.find("Renamed"), std::string::npos);
    EXPECT_NE(snapshot.find("title=\"m49999\""), std::string::npos);

    WriteSnapshots();
    snapshot = ReadFile(Snapshots()[0]);
    EXPECT_NE(snapshot.find("title=\"Renamed\" memo=\"typed;\""), std::string::npos);
    EXPECT_TRUE(Questions().Errors.empty());
}

TEST_F(RecoveryTest, IntervalComesFromTheSettingsAndTheTimerWritesOnItsOwn) {
    const std::vector<std::pair<std::string, int>> cases = {{"", 30},
                                                            {"RecoveryInterval=\"0\"", 0},
                                                            {"RecoveryInterval=\"7\"", 7},
                                                            {"RecoveryInterval=\"-3\"", 30},
                                                            {"RecoveryInterval=\"1\"", 1}};
    for (const auto& [attribute, seconds] : cases) {
        WriteFile("ludex_Settings.xml",
                  "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<LudexSettings " + attribute + "/>");
        Start();
        EXPECT_EQ(Window().Recovery()->Interval(), seconds) << attribute;
    }
    // The last start runs with one second.
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kOneSecretBranch));
    Type(Find(root, {"Plain"}), "by the timer");
    QTRY_VERIFY_WITH_TIMEOUT(Snapshots().size() == 1u, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(ReadFile(Snapshots()[0]).find("by the timer") != std::string::npos, 5000);
    Questions().Answers.push_back(TAnswer::No);
    ASSERT_TRUE(Close());
    EXPECT_NE(ReadFile(SettingsFile()).find("RecoveryInterval=\"1\""), std::string::npos);
}

TEST_F(RecoveryTest, ChangedSettingsAreWrittenSoonWithoutWaitingForTheExit) {
    Start();
    EXPECT_FALSE(fs::exists(SettingsFile())) << "nothing is written before something changes";
    Window().MI_Russian->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(SettingsFile()), 5000);
    EXPECT_NE(ReadFile(SettingsFile()).find("Locale=\"langRussian\""), std::string::npos)
        << ReadFile(SettingsFile());
    Discard(); // no exit
    Start();
    EXPECT_EQ(LanguageLocaler().Language, langRussian);
    EXPECT_TRUE(Window().MI_Russian->isChecked());

    // A settings file that cannot be written is reported once and the program goes on.
    fs::remove(SettingsFile());
    fs::create_directory(SettingsFile());
    Window().MI_WordWrapMemo->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Questions().Errors.size() == 1u, 5000);
    Window().MI_WordWrapMemo->trigger();
    QTest::qWait(2 * TForm_Ludex::kSettingsWriteDelay);
    EXPECT_EQ(Questions().Errors.size(), 1u);
    fs::remove(SettingsFile());
    Window().MI_English->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(SettingsFile()), 5000);
}

// Every choice of the Settings menu reaches the settings file without waiting for the exit.
TEST_F(RecoveryTest, EverySettingsMenuChoiceIsWrittenSoon) {
    const struct {
        const char* item;
        const char* written;
    } cases[] = {
        {"MI_CompatibleScheme", "CipherScheme=\"compatible\""},
        {"MI_LockOnMinimize", "LockOnMinimize=\"True\""},
        {"MI_AutoLock5", "AutoLockMinutes=\"5\""},
        {"MI_AskBeforeRemove", "AskBeforeRemove=\"False\""},
        {"MI_WordWrapMemo", "MemoWordWrap=\"False\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        Start();
        auto* item = Window().findChild<QAction*>(c.item);
        ASSERT_NE(item, nullptr);
        item->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(SettingsFile()) &&
                                     ReadFile(SettingsFile()).find(c.written) != std::string::npos,
                                 5000);
        Discard(); // no exit
        fs::remove(SettingsFile());
        SetNewEncryptionScheme(TCipherScheme::Strong);
    }
}

// ---- A real process killed ----
//
// The child is this test program started again, running only DISABLED_KillTrialChild (disabled
// so that it runs only when asked for by name): it runs the
// program's windows (the same TProgramWindows the executable runs) on a document the parent
// prepared, encrypts a branch, then types one edit after another, each followed by the timer's
// snapshot (interval one second), and records each edit in a progress file once its snapshot
// is on disk. The parent kills it with SIGKILL at a random moment, starts the program in its own
// process, restores the snapshot and checks that every recorded edit came back.

const char* const kTrialVariable = "LUDEX_KILL_TRIAL";

TEST_F(RecoveryTest, DISABLED_KillTrialChild) {
    const char* trial = std::getenv(kTrialVariable);
    if (trial == nullptr) {
        GTEST_SKIP() << "runs only as the child of KilledProgramLosesNoRecordedEdit";
    }
    const fs::path dir(trial);
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    WriteFile("ludex_Settings.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<LudexSettings RecoveryInterval=\"1\"/>");
    Start();
    Questions().FileNames.push_back(QString::fromStdString((dir / "doc.ldx").string()));
    Window().MI_Open->trigger();
    TTreeNode* root = Top(0);
    Encrypt(Find(root, {"Secret"}), "key");
    const std::string recovery = (dir / "state/ludex/recovery").string();
    for (int i = 0;; ++i) {
        const std::string edit = "edit" + std::to_string(i) + ";";
        Type(Find(root, {"Plain"}), QString::fromStdString(edit));
        // Waits for the timer's snapshot that holds the edit.
        for (bool written = false; !written;) {
            QTest::qWait(50);
            std::error_code error;
            for (fs::directory_iterator it(recovery, error), end; !error && it != end; it.increment(error)) {
                if (it->path().extension() == ".ldx" &&
                    ReadFile(it->path().string()).find(edit) != std::string::npos) {
                    written = true;
                }
            }
        }
        std::ofstream(dir / "progress", std::ios::app) << edit << "\n";
    }
}

TEST_F(RecoveryTest, KilledProgramLosesNoRecordedEdit) {
    const int kTrials = 4;
    std::mt19937 random(std::random_device{}());
    for (int trial = 0; trial < kTrials; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const fs::path dir = PathOf("trial" + std::to_string(trial));
        fs::create_directories(dir);
        std::ofstream(dir / "doc.ldx", std::ios::binary) << Doc("Doc", kOneSecretBranch);
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);

        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kTrialVariable, QString::fromStdString(dir.string()));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(environment);
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments(
            {"--gtest_also_run_disabled_tests", "--gtest_filter=RecoveryTest.DISABLED_KillTrialChild"});
        child.start();
        ASSERT_TRUE(child.waitForStarted(10000));
        const qint64 childId = child.processId();
        // Killed after one to three recorded edits, plus up to a second: sometimes between two
        // snapshots, sometimes in the middle of one.
        const size_t wanted = 1 + random() % 3;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::vector<std::string> progress;
        while (progress.size() < wanted && std::chrono::steady_clock::now() < deadline &&
               child.state() == QProcess::Running) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            progress.clear();
            std::ifstream in(dir / "progress");
            for (std::string line; std::getline(in, line);) {
                progress.push_back(line);
            }
        }
        ASSERT_GE(progress.size(), wanted) << child.readAllStandardOutput().toStdString();
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1000));
        child.kill(); // SIGKILL
        ASSERT_TRUE(child.waitForFinished(10000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
        fs::remove_all(fs::temp_directory_path() /
                       ("ludex_gui_" + std::to_string(childId) + "_RecoveryTest_DISABLED_KillTrialChild"));
        // Every edit recorded so far, read after the kill: those recorded later are in it too.
        std::string recorded;
        {
            std::ifstream in(dir / "progress");
            for (std::string line; std::getline(in, line);) {
                recorded += line;
            }
        }

        const fs::path recovery = dir / "state/ludex/recovery";
        std::vector<std::string> snapshots;
        for (const auto& entry : fs::directory_iterator(recovery)) {
            if (entry.path().extension() == ".ldx") {
                snapshots.push_back(entry.path().string());
            }
        }
        ASSERT_EQ(snapshots.size(), 1u);
        const std::string snapshot = ReadFile(snapshots[0]);
        for (const std::string& secret : kSecretTexts) {
            EXPECT_EQ(snapshot.find(secret), std::string::npos) << secret;
        }

        const size_t asked = Questions().Asked.size();
        Questions().Answers.push_back(TAnswer::Yes);
        Start();
        ASSERT_EQ(Questions().Asked.size(), asked + 1);
        ASSERT_EQ(Tree().TopLevelCount(), 1);
        TTreeNode* root = Top(0);
        EXPECT_TRUE(root->Document()->Modified());
        EXPECT_EQ(root->Document()->FileName(), (dir / "doc.ldx").string());
        const std::string memo = MemoAccess.Read(ElementOf(Find(root, {"Plain"})));
        EXPECT_EQ(memo.substr(0, recorded.size()), recorded) << "every recorded edit is back";
        Select(Find(root, {"Secret"}));
        AnswerPassword("key");
        Window().Button_LockBranch->trigger();
        EXPECT_EQ(MemoAccess.Read(ElementOf(Find(root, {"Secret"}))), "hidden words");
        for (const auto& entry : fs::directory_iterator(recovery)) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find(".ldx."), std::string::npos) << "a temporary file remains: " << name;
        }
        Questions().Answers.push_back(TAnswer::No); // close without saving
        ASSERT_TRUE(Close());
        EXPECT_TRUE(fs::is_empty(recovery));
        fs::remove(SettingsFile()); // the next trial starts without this one's document
    }
}

} // namespace
} // namespace ludex::test
