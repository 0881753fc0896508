// Encrypting, decrypting, locking and unlocking branches in the window, and the two dialogs.
#include "BranchTestSupport.h"

#include "core/document/BranchCipher.h"
#include "core/text/CodePage.h"
#include "gui/dialogs/PasswordFields.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeView>

#include <sys/stat.h>

#include <filesystem>

namespace ludex::test {
namespace {

using EncryptionCommandsTest = BranchTest;

TEST_F(EncryptionCommandsTest, EncryptedBranchSurvivesSaveCloseReopenAndUnlock) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    Encrypt(Find(root, {"Secret"}), "key");
    EXPECT_TRUE(root->Document()->Modified());
    Window().MI_Save->trigger();

    const std::string saved = ReadFile(PathOf("doc.ldx"));
    EXPECT_EQ(saved.find("password"), std::string::npos);
    // Quoted, as attribute values stand in the file: short texts like "s1" also turn up by chance
    // inside the Base64 of the enciphered payload, which holds no quotation marks.
    for (const char* plain : {"hidden words", "second", "first", "s1", "s2"}) {
        EXPECT_EQ(saved.find('"' + std::string(plain) + '"'), std::string::npos)
            << plain << " is readable in the file";
    }
    EXPECT_NE(saved.find("title=\"Secret\""), std::string::npos) << "the title is never enciphered";
    // Saving did not lock it.
    TTreeNode* secret = Find(root, {"Secret"});
    EXPECT_FALSE(IsNodeLocked(secret));
    EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{"s1", "s2"}));

    Window().MI_Close->trigger();
    root = Open("doc.ldx", saved);
    secret = Find(root, {"Secret"});
    ASSERT_TRUE(IsNodeLocked(secret));
    EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{kPlaceholderText}));
    EXPECT_EQ(secret->Picture(), picBranchWithSubBranchesLocked);

    Select(secret);
    EXPECT_TRUE(Window().Memo->isReadOnly());
    EXPECT_EQ(Window().Memo->toPlainText().toStdString(), Message("InformationIsLocked"));
    EXPECT_FALSE(Window().Button_CipherBranch->isEnabled());
    EXPECT_FALSE(Window().Button_InsertSubBranch->isEnabled());
    EXPECT_TRUE(Window().Button_LockBranch->isEnabled());

    AnswerPassword("key");
    Window().Button_LockBranch->trigger();
    EXPECT_FALSE(IsNodeLocked(secret));
    EXPECT_TRUE(Tree().IsExpanded(secret));
    EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{"s1", "s2"})) << "sorted after unlocking";
    EXPECT_EQ(MemoAccess.Read(ElementOf(Find(secret, {"s1"}))), "first");
    EXPECT_EQ(Window().Memo->toPlainText().toStdString(), "hidden words");
    EXPECT_FALSE(Window().Memo->isReadOnly());
    EXPECT_FALSE(root->Document()->Modified()) << "unlocking does not modify";
}

// The save that first writes a plain branch enciphered removes the backups, which hold it in
// plain, and says so in the status bar; backups made afterwards have the document's own mode.
TEST_F(EncryptionCommandsTest, EncryptingRemovesTheBackupsThatHeldThePlainText) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    ASSERT_EQ(::chmod(PathOf("doc.ldx").c_str(), 0640), 0);
    for (int i = 0; i < 2; ++i) {
        root->Document()->SetModified(true);
        Window().MI_Save->trigger();
    }
    ASSERT_TRUE(std::filesystem::exists(PathOf("doc.ldx.bak2"))); // the save below makes the third
    Encrypt(Find(root, {"Secret"}), "key");
    Window().MI_Save->trigger();
    EXPECT_EQ(Window().StatusPanel->text().toStdString(),
              "3 backup(s) of \xE2\x80\x9C" + PathOf("doc.ldx") +
                  "\xE2\x80\x9D removed: they may have held text that is now only encrypted.");
    for (const auto& entry : std::filesystem::directory_iterator(PathOf(""))) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(ReadFile(entry.path().string()).find("hidden words"), std::string::npos)
                << entry.path();
        }
    }
    Select(Find(root, {"Open"})); // the status bar names the file again
    root->Document()->SetModified(true);
    Window().MI_Save->trigger();
    EXPECT_EQ(Window().StatusPanel->text().toStdString(), PathOf("doc.ldx")) << "said once";
    struct stat backup {};
    ASSERT_EQ(::stat(PathOf("doc.ldx.bak1").c_str(), &backup), 0);
    EXPECT_EQ(backup.st_mode & 0777, 0640u);
}

TEST_F(EncryptionCommandsTest, WrongPasswordKeepsTheBranchLockedAndAsksAgain) {
    const auto [root, secret] = StartWithLockedBranch(kSecretBranch, {"Secret"}, "key");
    const auto before = ElementOf(secret).Attributes();

    // Wrong twice, then cancelled: the field is emptied as soon as it is read, so each try
    // starts empty and the dialog stays open for it.
    QString seenOnSecondTry;
    AnswerPassword("nope");
    Questions().Dialogs.push_back([&seenOnSecondTry](QDialog& dialog) {
        auto& unlock = dynamic_cast<TForm_PasswordDialog&>(dialog);
        seenOnSecondTry = unlock.Edit_Password->text();
        unlock.Edit_Password->setText("Key");
        return ClickOk(dialog);
    });
    AnswerCancel();
    Select(secret);
    Window().Button_LockBranch->trigger();
    EXPECT_EQ(seenOnSecondTry, "");
    EXPECT_TRUE(Window().findChild<TForm_PasswordDialog*>()->Edit_Password->text().isEmpty())
        << "Cancel empties the field";
    EXPECT_EQ(Questions().Informed,
              (std::vector<QString>(2, QString::fromStdString(Message("IncorrectPassword")))));
    EXPECT_TRUE(IsNodeLocked(secret));
    EXPECT_EQ(ElementOf(secret).Attributes(), before);
    EXPECT_FALSE(Tree().IsExpanded(secret));
    EXPECT_TRUE(Questions().Dialogs.empty());
}

TEST_F(EncryptionCommandsTest, ExpandingALockedNodeAsksAndExpandsOnlyWhenUnlocked) {
    const auto [root, secret] = StartWithLockedBranch(kSecretBranch, {"Secret"}, "key");
    Select(Find(root, {"Open"}));

    AnswerCancel();
    Window().TreeView->expand(Tree().IndexOf(secret));
    EXPECT_FALSE(Tree().IsExpanded(secret)) << "cancelled: the node does not expand";
    EXPECT_TRUE(IsNodeLocked(secret));

    AnswerPassword("key");
    Window().TreeView->expand(Tree().IndexOf(secret));
    EXPECT_TRUE(Tree().IsExpanded(secret));
    EXPECT_FALSE(IsNodeLocked(secret));
    EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{"s1", "s2"}));
    EXPECT_EQ(Tree().Selected(), Find(root, {"Open"})) << "the selection and its memo stay";
    EXPECT_TRUE(Questions().Dialogs.empty());
}

TEST_F(EncryptionCommandsTest, PasswordDialogTextsComeFromTheMessages) {
    const auto [root, secret] = StartWithLockedBranch(kSecretBranch, {"Secret"}, "key");
    Questions().Dialogs.push_back([this](QDialog& dialog) {
        auto& unlock = dynamic_cast<TForm_PasswordDialog&>(dialog);
        EXPECT_EQ(unlock.windowTitle().toStdString(),
                  LanguageLocaler().FormatMessage("UnlockBranch", {"Secret"}));
        // Wide enough for the caption, whatever the frame's buttons take.
        EXPECT_GT(unlock.minimumWidth(), unlock.fontMetrics().horizontalAdvance(unlock.windowTitle()) + 60);
        EXPECT_EQ(unlock.Label_InputPassword->text().toStdString(), Message("InputPassword"));
        EXPECT_EQ(unlock.Button_OK->text().toStdString(), Message("Ok"));
        EXPECT_EQ(unlock.Button_Cancel->text().toStdString(), Message("Cancel"));
        EXPECT_TRUE(unlock.Edit_Password->text().isEmpty());
        unlock.Edit_Password->setText("ab");
        EXPECT_EQ(unlock.Edit_Password->displayText(), "**");
        return int(QDialog::Rejected);
    });
    Select(secret);
    Window().Button_LockBranch->trigger();
    EXPECT_TRUE(IsNodeLocked(secret));
}

TEST_F(EncryptionCommandsTest, CipherDialogRefusesMismatchAndCancelChangesNothing) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    TTreeNode* open = Select(Find(root, {"Open"}));
    const auto before = ElementOf(open).Attributes();
    Questions().Dialogs.push_back([this](QDialog& dialog) {
        auto& cipher = dynamic_cast<TForm_CipherDialog&>(dialog);
        EXPECT_EQ(cipher.Label_BranchName->text(), "Open");
        EXPECT_EQ(cipher.Button_OK->text().toStdString(), Message("Ok"));
        cipher.Edit_Password->setText("one");
        cipher.Edit_ConfirmPassword->setText("two");
        EXPECT_EQ(ClickOk(dialog), QDialog::Rejected) << "stays open";
        EXPECT_FALSE(dialog.isHidden() && dialog.result() == QDialog::Accepted);
        EXPECT_EQ(Questions().Informed.back().toStdString(), Message("RetypePassword"));
        EXPECT_TRUE(cipher.Edit_Password->text().isEmpty()) << "both are typed again";
        EXPECT_TRUE(cipher.Edit_ConfirmPassword->text().isEmpty());
        EXPECT_EQ(cipher.focusWidget(), cipher.Edit_Password);
        return int(QDialog::Rejected); // then Cancel
    });
    Window().Button_CipherBranch->trigger();
    EXPECT_EQ(ElementOf(open).Attributes(), before);
    EXPECT_FALSE(root->Document()->Modified());
    EXPECT_EQ(open->Picture(), picBranch);
}

// The empty password decrypts: the dialog says so for an encrypted branch only.
TEST_F(EncryptionCommandsTest, CipherDialogSaysOnlyWhatApplies) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    Encrypt(Find(root, {"Secret"}), "pw");
    TPropertyBailee& texts = LanguageLocaler().Bailee();
    texts.OpenPath("/Form_CipherDialog/Label_InputPassword");
    const std::string plainCaption = texts.ReadValue("Caption");
    texts.OpenPath("/messages");
    const struct {
        const char* branch;
        std::string caption;
    } cases[] = {{"Open", plainCaption}, {"Secret", Message("InputPasswordOrDecrypt")}};
    for (const auto& c : cases) {
        Select(Find(root, {c.branch}));
        Questions().Dialogs.push_back([&c](QDialog& dialog) {
            EXPECT_EQ(dynamic_cast<TForm_CipherDialog&>(dialog).Label_InputPassword->text().toStdString(),
                      c.caption)
                << c.branch;
            return int(QDialog::Rejected);
        });
        Window().Button_CipherBranch->trigger();
    }
    EXPECT_EQ(plainCaption.find("decrypt"), std::string::npos) << plainCaption;
}

TEST_F(EncryptionCommandsTest, CipherDialogEnterAcceptsEscapeCancelsAndTheCheckBoxKeepsItsState) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    TTreeNode* open = Select(Find(root, {"Open"}));
    auto key = [](QWidget* to, int code) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
        QApplication::sendEvent(to, &press);
    };
    Questions().Dialogs.push_back([&key](QDialog& dialog) {
        auto& cipher = dynamic_cast<TForm_CipherDialog&>(dialog);
        dialog.setResult(QDialog::Accepted);
        cipher.Edit_Password->setText("x");
        key(cipher.Edit_Password, Qt::Key_Escape);
        return dialog.result();
    });
    Window().Button_CipherBranch->trigger();
    EXPECT_FALSE(IsBranchEncrypted(ElementOf(open)));

    Questions().Dialogs.push_back([&key](QDialog& dialog) {
        auto& cipher = dynamic_cast<TForm_CipherDialog&>(dialog);
        EXPECT_TRUE(cipher.Edit_Password->text().isEmpty()) << "emptied for every use";
        cipher.Edit_Password->setText("x");
        cipher.Edit_ConfirmPassword->setText("x");
        cipher.Check_Lock->setChecked(true);
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        key(cipher.Edit_ConfirmPassword, Qt::Key_Return);
        return dialog.result();
    });
    Window().Button_CipherBranch->trigger();
    EXPECT_TRUE(IsBranchLocked(ElementOf(open))) << "Enter accepted, and the lock was asked for";

    Select(Find(root, {"Secret"}));
    Questions().Dialogs.push_back([](QDialog& dialog) {
        EXPECT_TRUE(dynamic_cast<TForm_CipherDialog&>(dialog).Check_Lock->isChecked());
        return int(QDialog::Rejected);
    });
    Window().Button_CipherBranch->trigger();
}

TEST_F(EncryptionCommandsTest, CipherDialogIsLocalised) {
    Start();
    TForm_CipherDialog& dialog = *Windows().CipherDialog;
    struct Case {
        TLanguage language;
    };
    for (const Case& c : {Case{langRussian}, Case{langEnglish}}) {
        LanguageLocaler().Language = c.language;
        LanguageLocaler().LoadCurrentLanguage();
        TPropertyBailee& texts = LanguageLocaler().Bailee();
        texts.OpenPath("/Form_CipherDialog/Check_Lock");
        const std::string lockCaption = texts.ReadValue("Caption");
        texts.OpenPath("/Form_CipherDialog/Form_CipherDialog");
        const std::string caption = texts.ReadValue("Caption");
        texts.OpenPath("/messages");
        EXPECT_EQ(dialog.Check_Lock->text().toStdString(), lockCaption);
        EXPECT_EQ(dialog.windowTitle().toStdString(), caption);
        EXPECT_EQ(dialog.Button_Cancel->text().toStdString(), Message("Cancel"));
    }
}

TEST_F(EncryptionCommandsTest, EncryptingAndDecryptingModifyLockingAndUnlockingDoNot) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    TTreeNode* secret = Find(root, {"Secret"});
    struct Step {
        const char* name;
        std::function<void()> act;
        bool modified, encrypted, locked;
        int picture;
    };
    const std::vector<Step> steps = {
        {"encrypt", [&] { Encrypt(secret, "key"); }, true, true, false, picBranchWithSubBranchesLocked},
        {"lock", [&] { Window().Button_LockBranch->trigger(); }, false, true, true,
         picBranchWithSubBranchesLocked},
        {"unlock",
         [&] {
             AnswerPassword("key");
             Window().Button_LockBranch->trigger();
         },
         false, true, false, picBranchWithSubBranchesLocked},
        {"decrypt and lock", [&] { Encrypt(secret, "", TLock::AtOnce); }, true, false, false,
         picBranchWithSubBranches},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        root->Document()->SetModified(false);
        step.act();
        EXPECT_EQ(root->Document()->Modified(), step.modified);
        EXPECT_EQ(IsBranchEncrypted(ElementOf(secret)), step.encrypted);
        EXPECT_EQ(IsBranchLocked(ElementOf(secret)), step.locked);
        EXPECT_EQ(Window().Button_LockBranch->isEnabled(), step.encrypted);
        EXPECT_EQ(Window().Button_CipherBranch->isEnabled(), !step.locked);
        EXPECT_EQ(secret->Picture(), step.picture);
    }
    EXPECT_FALSE(Tree().IsExpanded(secret)) << "decrypting with the lock box set collapses";
    EXPECT_FALSE(ElementOf(secret).HasAttribute("password"));
    Window().MI_Save->trigger();
    EXPECT_NE(ReadFile(PathOf("doc.ldx")).find("hidden words"), std::string::npos) << "plain again";
}

TEST_F(EncryptionCommandsTest, NestedBranchesLockInnermostFirstAndUnlockOneLevelAtATime) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    TTreeNode* secret = Find(root, {"Secret"});
    Encrypt(Find(secret, {"s1"}), "inner");
    Encrypt(secret, "outer");
    Select(secret);
    Window().Button_LockBranch->trigger();
    ASSERT_TRUE(IsNodeLocked(secret));
    EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{kPlaceholderText}));
    EXPECT_EQ(Tree().Count(), 4u) << "the nodes of the locked content are gone";

    AnswerPassword("outer");
    Window().Button_LockBranch->trigger();
    TTreeNode* s1 = Find(secret, {"s1"});
    ASSERT_NE(s1, nullptr);
    EXPECT_TRUE(IsNodeLocked(s1)) << "the inner branch comes back locked";
    EXPECT_EQ(s1->Picture(), picBranchLocked) << "a locked leaf has no placeholder";
    EXPECT_NE(MemoAccess.Read(ElementOf(s1)), "first");

    // The outer password does not open the inner branch.
    AnswerPassword("outer");
    AnswerPassword("inner");
    Select(s1);
    Window().Button_LockBranch->trigger();
    EXPECT_FALSE(IsNodeLocked(s1));
    EXPECT_EQ(Questions().Informed.size(), 1u);
    EXPECT_EQ(MemoAccess.Read(ElementOf(s1)), "first");
    EXPECT_EQ(Window().Memo->toPlainText().toStdString(), "first");
    EXPECT_EQ(s1->ChildCount(), 0) << "unlocking a leaf expands nothing";
}

TEST_F(EncryptionCommandsTest, TheMarkNeverOutlivesItsNode) {
    struct Case {
        const char* name;
        std::vector<std::string> marked;
        std::function<void(TTreeNode* root)> act;
        bool markStays;
    };
    const std::vector<Case> cases = {
        {"encrypting drops any mark",
         {"Open"},
         [this](TTreeNode* root) { Encrypt(Find(root, {"Secret"}), "key"); },
         false},
        {"decrypting drops any mark",
         {"Secret", "s1"},
         [this](TTreeNode* root) { Encrypt(Find(root, {"Open"}), ""); },
         false},
        {"closing its document",
         {"Secret", "s2"},
         [this](TTreeNode*) { Window().MI_Close->trigger(); },
         false},
        {"closing another document",
         {"Secret", "s2"},
         [this](TTreeNode*) {
             Window().MI_New->trigger();
             Window().MI_Close->trigger();
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
        Select(Find(root, c.marked));
        Window().Button_Copy->trigger();
        c.act(root);
        EXPECT_EQ(Window().MarkedNode() != nullptr, c.markStays);
        EXPECT_EQ(Window().Button_Paste->isEnabled(), c.markStays);
        Discard();
    }
    // Locking through the lock command (which alone keeps marks) drops a mark inside the branch.
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    TTreeNode* secret = Find(root, {"Secret"});
    Encrypt(secret, "key");
    Select(Find(secret, {"s1"}));
    Window().Button_Cut->trigger();
    Select(secret);
    Window().Button_LockBranch->trigger();
    EXPECT_EQ(Window().MarkedNode(), nullptr);
    EXPECT_FALSE(Window().Button_Paste->isEnabled());
    // ... and unlocking rebuilds the nodes; a mark on the branch itself stays.
    Window().Button_Copy->trigger();
    AnswerPassword("key");
    Window().Button_LockBranch->trigger();
    EXPECT_EQ(Window().MarkedNode(), secret);
    EXPECT_EQ(secret->Picture(), picCopyMark);
}

TEST_F(EncryptionCommandsTest, TextTheCodePageCannotHoldIsRefusedAndNothingChanges) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    const std::string chinese = "\xe5\xaf\x86"; // outside windows-1251
    // A password the code page cannot hold.
    TTreeNode* open = Find(root, {"Open"});
    const auto before = ElementOf(open).Attributes();
    Select(open);
    AnswerCipher("pw" + chinese, TLock::Later, "\x01", TCipherScheme::Compatible);
    Window().Button_CipherBranch->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find("windows-1251"), std::string::npos)
        << Questions().Errors[0].toStdString();
    EXPECT_EQ(ElementOf(open).Attributes(), before);
    EXPECT_FALSE(root->Document()->Modified());

    // A memo typed but not yet stored that the code page cannot hold.
    TTreeNode* secret = Select(Find(root, {"Secret"}));
    Window().Memo->setPlainText(QString::fromStdString("memo " + chinese));
    root->Document()->SetModified(false);
    AnswerCipher("pw", TLock::AtOnce, "\x01", TCipherScheme::Compatible);
    Window().Button_CipherBranch->trigger();
    ASSERT_EQ(Questions().Errors.size(), 2u);
    EXPECT_FALSE(IsBranchEncrypted(ElementOf(secret)));
    EXPECT_EQ(MemoAccess.Read(ElementOf(secret)), "memo " + chinese) << "the memo is kept";
    EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{"s1", "s2"}));

    // Such a memo typed after encrypting: locking is refused and the branch stays unlocked and whole.
    Window().Memo->setPlainText("plain");
    Encrypt(secret, "pw", TLock::Later, TCipherScheme::Compatible);
    ASSERT_TRUE(IsBranchEncrypted(ElementOf(secret)));
    Window().Memo->setPlainText(QString::fromStdString("again " + chinese));
    Window().Button_LockBranch->trigger();
    ASSERT_EQ(Questions().Errors.size(), 3u);
    EXPECT_FALSE(IsBranchLocked(ElementOf(secret)));
    EXPECT_EQ(MemoAccess.Read(ElementOf(secret)), "again " + chinese);
    EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{"s1", "s2"}));
    EXPECT_EQ(ElementTitles(ElementOf(secret)), (std::vector<std::string>{"s2", "s1"}));
}

TEST_F(EncryptionCommandsTest, DamagedPayloadIsReportedAndTheBranchStaysLocked) {
    // A payload whose Base64 length is not a multiple of 4.
    Start();
    const std::string digest = BranchPasswordDigest("key");
    TTreeNode* root = Open("doc.ldx", Doc("Doc", "<note title=\"Broken\" memo=\"AAAAAA==\" encryption=\"" +
                                                     digest + "\">\r\nAAAAAAA\r\n</note>\r\n"));
    TTreeNode* broken = Select(Find(root, {"Broken"}));
    AnswerPassword("key");
    Window().Button_LockBranch->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_EQ(Questions().Errors[0].toStdString(), "Uneven size in DecodeToStream.");
    EXPECT_TRUE(IsNodeLocked(broken));
    EXPECT_FALSE(ElementOf(broken).HasAttribute("password"));
    EXPECT_EQ(ChildTitles(broken), (std::vector<std::string>{kPlaceholderText}));
    EXPECT_FALSE(Tree().IsExpanded(broken));
}

TEST_F(EncryptionCommandsTest, EncryptedDocumentRootLocksAndUnlocksAsAWhole) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    Encrypt(root, "all", TLock::AtOnce);
    EXPECT_EQ(root->Picture(), picDocumentModifiedLocked);
    EXPECT_EQ(ChildTitles(root), (std::vector<std::string>{kPlaceholderText}));
    Window().MI_Save->trigger();
    Window().MI_Close->trigger();
    root = Open("doc.ldx", ReadFile(PathOf("doc.ldx")));
    EXPECT_EQ(root->Picture(), picDocumentLocked);
    EXPECT_FALSE(Tree().IsExpanded(root));
    AnswerPassword("all");
    Window().TreeView->expand(Tree().IndexOf(root));
    EXPECT_EQ(ChildTitles(root), (std::vector<std::string>{"Secret", "Open"}));
    EXPECT_TRUE(Tree().IsExpanded(root));
}

// A long title is cut in the middle, between whole characters, so that no dialog grows without end.
TEST(ShownBranchTitleTest, LongTitlesAreCutInTheMiddle) {
    const QString a29(29, u'a'), c30(30, u'c'), ellipsis(QChar(0x2026));
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two units
    EXPECT_EQ(ShownBranchTitle(QString(60, u'x').toStdString()), QString(60, u'x'));
    EXPECT_EQ(ShownBranchTitle((a29 + "ab" + c30).toStdString()), a29 + "a" + ellipsis + c30.left(29));
    EXPECT_EQ(ShownBranchTitle((a29 + smile + c30).toStdString()), a29 + ellipsis + c30.left(29));
    EXPECT_EQ(ShownBranchTitle("two\r\nlines\nhere"), "two lines here");
}

} // namespace
} // namespace ludex::test
