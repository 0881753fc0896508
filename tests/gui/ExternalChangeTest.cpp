// Documents whose files another program changes, with real files: reloaded when unmodified,
// never overwritten by a save without the user's answer, deletion and replacement by rename.
#include "BranchTestSupport.h"

#include "gui/app/BranchUndo.h"
#include "gui/app/DocumentWatch.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

namespace ludex::test {
namespace {

namespace fs = std::filesystem;

// Long enough for the watcher, its settling delay and a busy machine; met in well under a second.
constexpr int kWait = 5000;

const std::string kBranches = "<note title=\"A\" memo=\"a memo\">\r\n<note title=\"a1\"/>\r\n"
                              "<note title=\"a2\" memo=\"old\"/>\r\n</note>\r\n<note title=\"B\"/>\r\n";

enum TChoice { kOverwrite = 0, kSaveAs = 1, kCancel = 2 };

class ExternalChangeTest : public BranchTest {
protected:
    QString Status() { return Window().StatusPanel->text(); }
    QString Notice(const char* key, const std::vector<std::string>& arguments) {
        return QString::fromStdString(LanguageLocaler().FormatMessage(key, arguments));
    }
    // Waits until the status bar shows the text; true when it did.
    bool WaitForStatus(const QString& text) {
        return QTest::qWaitFor([&] { return Status() == text; }, kWait);
    }
    // Another program's write in place, as an editor or a copy tool writes.
    void Rewrite(const std::string& file, const std::string& bytes) { WriteFile(file, bytes); }
    // A sync client's write: a new file renamed over the document.
    void ReplaceByRename(const std::string& file, const std::string& bytes) {
        fs::rename(WriteFile("incoming.tmp", bytes), file);
    }
    // Makes the document modified as the user does, by a new root title.
    void EditRootTitle(TTreeNode* root, const std::string& title) {
        EditTitle(root, QString::fromStdString(title));
        ASSERT_TRUE(root->Document()->Modified());
    }
};

TEST_F(ExternalChangeTest, UnmodifiedDocumentIsReloadedKeepingSelectionAndExpansion) {
    Start();
    TTreeNode* root = Open("notes.ldx", Doc("Notes", kBranches));
    const std::string file = PathOf("notes.ldx");
    Tree().Expand(Find(root, {"A"}));
    Select(Find(root, {"A", "a2"}));

    // A branch added before the selected one, its memo changed, another branch gone.
    Rewrite(file, Doc("Notes",
                      "<note title=\"A\" memo=\"a memo\">\r\n<note title=\"a0\"/>\r\n<note title=\"a1\"/>\r\n"
                      "<note title=\"a2\" memo=\"new\"/>\r\n</note>\r\n"));
    ASSERT_TRUE(WaitForStatus(Notice("ExternalChangeReloaded", {file})));

    EXPECT_EQ(ChildTitles(root), (std::vector<std::string>{"A"}));
    EXPECT_EQ(ChildTitles(Find(root, {"A"})), (std::vector<std::string>{"a0", "a1", "a2"}));
    EXPECT_EQ(Tree().Selected(), Find(root, {"A", "a2"}));
    EXPECT_TRUE(Tree().IsExpanded(Find(root, {"A"})));
    EXPECT_EQ(Window().Memo->toPlainText(), "new");
    EXPECT_FALSE(root->Document()->Modified());

    // The selected branch gone: the nearest branch above it is selected.
    Window().SetStatusText("");
    Rewrite(file, Doc("Renamed", "<note title=\"A\"/>\r\n"));
    ASSERT_TRUE(WaitForStatus(Notice("ExternalChangeReloaded", {file})));
    EXPECT_EQ(root->Text(), "Renamed");
    EXPECT_EQ(Tree().Selected(), Find(root, {"A"}));
    EXPECT_TRUE(Questions().Asked.empty());
}

// A sync client replaces the file by renaming another over it, more than once: every time the
// watch follows the new file.
TEST_F(ExternalChangeTest, ReplacementByRenameIsFollowedEveryTime) {
    Start();
    TTreeNode* root = Open("notes.ldx", Doc("Notes", kBranches));
    const std::string file = PathOf("notes.ldx");
    for (const std::string title : {"First", "Second", "Third"}) {
        SCOPED_TRACE(title);
        ReplaceByRename(file, Doc(title));
        ASSERT_TRUE(QTest::qWaitFor([&] { return root->Text() == title; }, kWait));
        EXPECT_FALSE(root->Document()->Modified());
        EXPECT_EQ(root->ChildCount(), 0);
    }
}

// The save question for a modified document whose file changed, each answer checked on disk.
TEST_F(ExternalChangeTest, SaveOfAModifiedDocumentAsksAndEachAnswerHolds) {
    Start();
    const std::string theirs = Doc("Theirs");
    int n = 0;
    for (const TChoice choice : {kOverwrite, kSaveAs, kCancel}) {
        SCOPED_TRACE(choice);
        const std::string file = PathOf("case" + std::to_string(++n) + ".ldx");
        const std::string other = PathOf("mine" + std::to_string(n) + ".ldx");
        TTreeNode* root = Open(file, Doc("Original"));
        EditRootTitle(root, "Mine");
        Rewrite(file, theirs);
        // The document is not reloaded under the user's changes; a notice says what happened.
        ASSERT_TRUE(WaitForStatus(Notice("ExternalChangePending", {file})));
        EXPECT_EQ(root->Text(), "Mine");

        Questions().Asked.clear();
        Questions().Choices.push_back(choice);
        if (choice == kSaveAs) {
            Questions().FileNames.push_back(QString::fromStdString(other));
        }
        Window().MI_Save->trigger();
        ASSERT_EQ(Questions().Asked.size(), 1u);
        EXPECT_EQ(Questions().Asked[0], Notice("ExternalChangeQuery", {"Mine", file}));
        EXPECT_EQ(Questions().ChoicesOffered.back().size(), 3);

        const std::string onDisk = ReadFile(file);
        switch (choice) {
        case kOverwrite:
            EXPECT_NE(onDisk.find("title=\"Mine\""), std::string::npos);
            EXPECT_EQ(ReadFile(file + ".bak1"), theirs) << "their version is the newest backup";
            EXPECT_FALSE(root->Document()->Modified());
            break;
        case kSaveAs:
            EXPECT_EQ(onDisk, theirs);
            EXPECT_NE(ReadFile(other).find("title=\"Mine\""), std::string::npos);
            EXPECT_EQ(root->Document()->FileName(), other);
            EXPECT_FALSE(root->Document()->Modified());
            break;
        case kCancel:
            EXPECT_EQ(onDisk, theirs);
            EXPECT_FALSE(fs::exists(file + ".bak1"));
            EXPECT_TRUE(root->Document()->Modified());
            break;
        }
        Questions().Answers.push_back(TAnswer::No); // closing a cancelled one: do not save
        Window().MI_CloseAll->trigger();
    }
}

// A change that keeps the size and the modification time is found by the digest.
TEST_F(ExternalChangeTest, ChangeKeepingSizeAndTimeIsCaughtAtSave) {
    Start();
    const std::string file = PathOf("notes.ldx");
    TTreeNode* root = Open(file, Doc("AAAA"));
    EditRootTitle(root, "Mine");
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    Rewrite(file, Doc("BBBB"));
    const struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    ASSERT_EQ(after.st_size, before.st_size);

    Questions().Choices.push_back(kCancel);
    Window().MI_Save->trigger();
    EXPECT_EQ(Questions().Asked.size(), 1u);
    EXPECT_EQ(ReadFile(file), Doc("BBBB"));
    EXPECT_TRUE(root->Document()->Modified());
}

// Save All and the save at closing ask too; a cancel there leaves the file and keeps the window.
TEST_F(ExternalChangeTest, SaveAllAndClosingAskBeforeReplacing) {
    Start();
    const std::string changed = PathOf("changed.ldx");
    const std::string quiet = PathOf("quiet.ldx");
    TTreeNode* first = Open(changed, Doc("One"));
    TTreeNode* second = Open(quiet, Doc("Two"));
    EditRootTitle(first, "Mine");
    EditRootTitle(second, "Also mine");
    Rewrite(changed, Doc("Theirs"));

    Questions().Choices.push_back(kCancel);
    Window().MI_SaveAll->trigger();
    EXPECT_EQ(Questions().Asked.size(), 1u);
    EXPECT_EQ(ReadFile(changed), Doc("Theirs"));
    EXPECT_NE(ReadFile(quiet).find("Also mine"), std::string::npos) << "the next document is saved";

    Questions().Answers.push_back(TAnswer::Yes); // save "Mine"? yes
    Questions().Choices.push_back(kCancel);      // the file changed: cancel
    EXPECT_FALSE(Close());
    EXPECT_EQ(ReadFile(changed), Doc("Theirs"));
    EXPECT_TRUE(first->Document()->Modified());
}

TEST_F(ExternalChangeTest, DeletedFileIsReportedOnceAndTheNextSaveRecreatesIt) {
    Start();
    const std::string file = PathOf("notes.ldx");
    TTreeNode* root = Open(file, Doc("Notes", kBranches));
    fs::remove(file);
    ASSERT_TRUE(WaitForStatus(Notice("ExternalFileMissing", {file})));
    EXPECT_EQ(root->Text(), "Notes") << "the document stays as it was";

    Window().SetStatusText("elsewhere");
    Window().CheckDocumentFiles(TCheckDepth::Contents);
    EXPECT_EQ(Status(), "elsewhere") << "reported once";

    Window().MI_Save->trigger();
    EXPECT_TRUE(Questions().Asked.empty());
    EXPECT_NE(ReadFile(file).find("title=\"a2\""), std::string::npos);
}

// A file caught half written is not loaded: the document stays, with a notice, and the finished
// file is loaded when it comes.
TEST_F(ExternalChangeTest, UnparsableChangeLeavesTheDocument) {
    Start();
    const std::string file = PathOf("notes.ldx");
    TTreeNode* root = Open(file, Doc("Notes", kBranches));
    const std::string half = Doc("Next", kBranches).substr(0, 80);
    Rewrite(file, half);
    Window().CheckDocumentFiles(TCheckDepth::Contents);
    EXPECT_TRUE(Status().startsWith(Notice("ExternalReloadFailed", {file, ""})));
    EXPECT_EQ(ChildTitles(root), (std::vector<std::string>{"A", "B"}));

    Rewrite(file, Doc("Next"));
    Window().CheckDocumentFiles(TCheckDepth::Contents);
    EXPECT_EQ(root->Text(), "Next");
}

// Undo steps belong to the content they were made on: after a reload they would change other
// branches at the same places, so a reload ends them.
TEST_F(ExternalChangeTest, AReloadEndsTheHistoryOfTheOldContent) {
    Start();
    const std::string file = PathOf("notes.ldx");
    TTreeNode* root = Open(file, Doc("Notes", kBranches));
    Select(Find(root, {"B"}));
    Window().MI_RemoveBranch->trigger();
    Window().MI_Save->trigger();
    ASSERT_EQ(Window().Undo().UndoCount(root->Document()), 1);

    Rewrite(file, Doc("Notes", "<note title=\"X\"/>\r\n<note title=\"Y\"/>\r\n"));
    Window().CheckDocumentFiles(TCheckDepth::Contents);
    ASSERT_EQ(ChildTitles(root), (std::vector<std::string>{"X", "Y"}));
    EXPECT_EQ(Window().Undo().UndoCount(root->Document()), 0);
    Select(Find(root, {"Y"}));
    Window().MI_Undo->trigger();
    EXPECT_EQ(ChildTitles(root), (std::vector<std::string>{"X", "Y"}));
    EXPECT_FALSE(root->Document()->Modified());
    EXPECT_TRUE(Questions().Errors.empty());
}

// A reload brings encrypted branches back locked, asks for no password and says so.
TEST_F(ExternalChangeTest, ReloadLocksUnlockedBranchesWithANote) {
    Start();
    const std::string file = PathOf("secret.ldx");
    TTreeNode* root =
        Open(file, Doc("Doc", "<note title=\"Secret\" memo=\"hidden\">\r\n<note title=\"s1\"/>\r\n"
                              "</note>\r\n"));
    Encrypt(Find(root, {"Secret"}), "key");
    Window().MI_Save->trigger();
    ASSERT_FALSE(IsNodeLocked(Find(root, {"Secret"})));
    std::string saved = ReadFile(file);
    saved.replace(saved.find("title=\"Doc\""), 11, "title=\"Dox\"");

    Rewrite(file, saved);
    ASSERT_TRUE(WaitForStatus(Notice("ExternalChangeRelocked", {file})));
    EXPECT_EQ(root->Text(), "Dox");
    EXPECT_TRUE(IsNodeLocked(Find(root, {"Secret"})));
    EXPECT_TRUE(Questions().Dialogs.empty());
    EXPECT_FALSE(root->Document()->Modified());
}

// Another program's file that stores a password beside an encrypted branch: the reload forgets it,
// as an open does, so the branch stays locked and its cipher text is never taken for its memo.
TEST_F(ExternalChangeTest, ReloadForgetsAPasswordStoredInTheFile) {
    Start();
    const std::string file = PathOf("stored.ldx");
    TTreeNode* root =
        Open(file, Doc("Doc", "<note title=\"Secret\" memo=\"hidden\"><note title=\"s1\"/></note>"));
    Encrypt(Find(root, {"Secret"}), "key");
    Window().MI_Save->trigger();
    Window().MI_LockAll->trigger();
    ASSERT_TRUE(IsNodeLocked(Find(root, {"Secret"})));
    std::string saved = ReadFile(file);
    const size_t secret = saved.find("title=\"Secret\"");
    ASSERT_NE(secret, std::string::npos);
    saved.insert(secret, "password=\"key\" ");

    Rewrite(file, saved);
    ASSERT_TRUE(WaitForStatus(Notice("ExternalChangeReloaded", {file})));
    TTreeNode* reloaded = Find(root, {"Secret"});
    EXPECT_TRUE(IsNodeLocked(reloaded));
    EXPECT_FALSE(reloaded->Element().HasAttribute("password"));
}

// The branches unlocked are found in the document, also below a branch whose nodes are not made:
// the reload neither misses them nor makes every node to look for them.
TEST_F(ExternalChangeTest, ReloadFindsUnlockedBranchesBelowUnmadeNodes) {
    Start();
    const std::string file = PathOf("secret.ldx");
    TTreeNode* root = Open(file, Doc("Doc", "<note title=\"Outer\"><note title=\"Secret\" memo=\"hidden\">"
                                            "<note title=\"s1\"/></note></note><note title=\"Other\"/>"));
    Encrypt(Find(root, {"Outer", "Secret"}), "key");
    Window().MI_Save->trigger();
    Select(Find(root, {"Outer"}));
    Questions().Answers.push_back(TAnswer::Yes);
    Window().MI_RemoveBranch->trigger();
    Window().MI_Undo->trigger(); // the branch is back, the nodes below it unmade
    ASSERT_TRUE(Find(root, {"Outer"})->ChildrenUnmade());
    ASSERT_FALSE(IsBranchLocked(Find(root, {"Outer"})->Element().FirstChild()));
    std::string saved = ReadFile(file);
    saved.replace(saved.find("title=\"Other\""), 13, "title=\"Otter\"");

    Rewrite(file, saved);
    ASSERT_TRUE(WaitForStatus(Notice("ExternalChangeRelocked", {file})));
    EXPECT_TRUE(Find(root, {"Outer"})->ChildrenUnmade());
    EXPECT_TRUE(IsNodeLocked(Find(root, {"Outer", "Secret"})));
}

} // namespace
} // namespace ludex::test
