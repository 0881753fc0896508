// Both schemes through the window, Lock All (by menu, by idle time, on minimising), the unlock
// dialog's retry and damage report, the encryption settings, and what Lock All leaves in memory.
#include "BranchTestSupport.h"

#include "core/crypto/Secret.h"
#include "core/crypto/StrongCipher.h"
#include "core/document/BranchCipher.h"
#include "core/document/DocumentWriter.h"
#include "core/text/CodePage.h"
#include "gui/app/EncryptionSettings.h"
#include "gui/app/LongWork.h"
#include "gui/app/MemoEdit.h"
#include "gui/app/WipingHeap.h"
#include "gui/dialogs/PreferencesDialog.h"
#include "support/MaskedSecret.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

namespace ludex::test {
namespace {

using testing::CopiesInMemory;
using testing::Masked;
using testing::MaskedCodePageBytes;
using testing::Unmasked;

using LockAllTest = BranchTest;

TEST_F(LockAllTest, BothSchemesRoundTripThroughTheWindowAndTheUnlockDialogRetries) {
    struct TCase {
        TCipherScheme scheme;
        std::string password;
        bool accepted;
    };
    const TCase cases[] = {
        {TCipherScheme::Strong, "\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87", true},     // Cyrillic
        {TCipherScheme::Strong, "\xe5\xaf\x86\xe7\xa0\x81", true},             // CJK
        {TCipherScheme::Strong, "key \xf0\x9f\x94\x91", true},                 // emoji
        {TCipherScheme::Compatible, "\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87", true}, // in windows-1251
        {TCipherScheme::Compatible, "\xe5\xaf\x86\xe7\xa0\x81", false},        // not in it
        {TCipherScheme::Compatible, "key \xf0\x9f\x94\x91", false},            // nor this
    };
    Start();
    SetCurrentCodePage("windows-1251");
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.password + (c.scheme == TCipherScheme::Strong ? " strong" : " compatible"));
        const std::string name = "doc" + std::to_string(n++) + ".ldx";
        TTreeNode* root = Open(name, Doc("Doc", kSecretBranch));
        const size_t errors = Questions().Errors.size();
        Encrypt(Find(root, {"Secret"}), c.password, TLock::Later, c.scheme);
        if (!c.accepted) {
            EXPECT_EQ(Questions().Errors.size(), errors + 1);
            EXPECT_FALSE(IsBranchEncrypted(ElementOf(Find(root, {"Secret"}))));
            EXPECT_FALSE(root->Document()->Modified());
            Window().MI_Close->trigger();
            continue;
        }
        EXPECT_EQ(BranchCipherScheme(ElementOf(Find(root, {"Secret"}))), c.scheme);
        Window().MI_Save->trigger();
        Window().MI_Close->trigger();

        root = Open(name, ReadFile(PathOf(name)));
        TTreeNode* secret = Select(Find(root, {"Secret"}));
        ASSERT_TRUE(IsNodeLocked(secret));
        // A wrong password first: the same showing of the dialog takes the right one next.
        QString nameShown;
        QString fieldOnRetry = "not read";
        Questions().Dialogs.push_back([&nameShown, &c](QDialog& dialog) {
            auto& unlock = dynamic_cast<TForm_PasswordDialog&>(dialog);
            nameShown = unlock.Label_BranchName->text();
            unlock.Edit_Password->setText(QString::fromStdString(c.password + "x"));
            return ClickOk(dialog);
        });
        Questions().Dialogs.push_back([&fieldOnRetry, &c](QDialog& dialog) {
            auto& unlock = dynamic_cast<TForm_PasswordDialog&>(dialog);
            fieldOnRetry = unlock.Edit_Password->text();
            unlock.Edit_Password->setText(QString::fromStdString(c.password));
            return ClickOk(dialog);
        });
        const size_t informed = Questions().Informed.size();
        const uint64_t derivations = StrongKeyDerivationCount();
        Window().Button_LockBranch->trigger();
        EXPECT_EQ(nameShown, "Secret");
        EXPECT_EQ(fieldOnRetry, "") << "the field is emptied once read";
        EXPECT_EQ(Questions().Informed.size(), informed + 1);
        // One derivation per try: the right password is not derived a second time to unlock.
        EXPECT_EQ(StrongKeyDerivationCount() - derivations, c.scheme == TCipherScheme::Strong ? 2u : 0u);
        ASSERT_FALSE(IsNodeLocked(secret));
        EXPECT_EQ(Window().Memo->toPlainText().toStdString(), "hidden words");
        EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{"s1", "s2"}));
        Window().MI_Close->trigger();
    }
    EXPECT_TRUE(Questions().Dialogs.empty());
}

TEST_F(LockAllTest, DamagedStrongBranchIsReportedAndStaysLocked) {
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    Encrypt(Find(root, {"Secret"}), "key", TLock::Later, TCipherScheme::Strong);
    Window().MI_Save->trigger();
    Window().MI_Close->trigger();
    // One character of the payload (the content right after the start tag) changed:
    // authentication fails.
    std::string saved = ReadFile(PathOf("doc.ldx"));
    const size_t payload = saved.find('>', saved.find("title=\"Secret\"")) + 1 + 10;
    ASSERT_LT(payload, saved.find("</note>"));
    saved[payload] = saved[payload] == 'A' ? 'B' : 'A';
    root = Open("doc.ldx", saved);
    TTreeNode* secret = Select(Find(root, {"Secret"}));
    AnswerPassword("key");
    Window().Button_LockBranch->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find("damaged"), std::string::npos)
        << Questions().Errors[0].toStdString();
    EXPECT_TRUE(IsNodeLocked(secret));
    EXPECT_EQ(ChildTitles(secret), (std::vector<std::string>{kPlaceholderText}));
    EXPECT_TRUE(Questions().Dialogs.empty()) << "a damaged branch is not asked for again";
}

TEST_F(LockAllTest, LockAllLocksEveryUnlockedBranchOfEveryDocumentWithPendingEdits) {
    Start();
    EXPECT_EQ(Window().MI_LockAll->shortcut(), QKeySequence("Ctrl+Shift+L"));
    TTreeNode* first = Open("a.ldx", Doc("A", kSecretBranch));
    TTreeNode* second = Open("b.ldx", Doc("B", "<note title=\"Outer\" memo=\"o\"><note title=\"Inner\" "
                                               "memo=\"i\"><note title=\"deep\"/></note></note>\r\n"));
    Encrypt(Find(first, {"Secret"}), "one", TLock::Later, TCipherScheme::Strong);
    Encrypt(Find(second, {"Outer", "Inner"}), "two", TLock::Later, TCipherScheme::Compatible);
    Encrypt(Find(second, {"Outer"}), "three", TLock::Later, TCipherScheme::Strong);
    Tree().Expand(Find(second, {"Outer"}));
    // A memo edit not yet stored, in a branch inside an encrypted one.
    Select(Find(second, {"Outer", "Inner"}));
    Window().Memo->setPlainText("typed, not yet stored");

    Window().MI_LockAll->trigger();
    EXPECT_TRUE(Questions().Errors.empty());
    TTreeNode* secret = Find(first, {"Secret"});
    TTreeNode* outer = Find(second, {"Outer"});
    for (TTreeNode* node : {secret, outer}) {
        EXPECT_TRUE(IsNodeLocked(node)) << node->Text();
        EXPECT_EQ(ChildTitles(node), (std::vector<std::string>{kPlaceholderText})) << node->Text();
        EXPECT_FALSE(Tree().IsExpanded(node)) << node->Text();
    }
    EXPECT_EQ(ChildTitles(first), (std::vector<std::string>{"Secret", "Open"}));
    EXPECT_FALSE(Window().Button_CipherBranch->isEnabled() && IsNodeLocked(Tree().Selected()));

    // The pending edit was stored and enciphered with its branch.
    Select(outer);
    AnswerPassword("three");
    Window().Button_LockBranch->trigger();
    TTreeNode* inner = Find(outer, {"Inner"});
    ASSERT_NE(inner, nullptr);
    EXPECT_TRUE(IsNodeLocked(inner)) << "the inner branch was locked too, under its own password";
    Select(inner);
    AnswerPassword("two");
    Window().Button_LockBranch->trigger();
    EXPECT_EQ(MemoAccess.Read(ElementOf(inner)), "typed, not yet stored");
    EXPECT_EQ(ChildTitles(inner), (std::vector<std::string>{"deep"}));
}

// A branch unlocked below a branch whose nodes are not made (put back by undo, say) is found in
// the document and locked; no node is made for it.
TEST_F(LockAllTest, LockAllReachesBranchesBelowUnmadeNodes) {
    Start();
    TTreeNode* root =
        Open("a.ldx", Doc("A", "<note title=\"Outer\"><note title=\"Secret\" memo=\"s\"/></note>"
                               "<note title=\"Other\"/>"));
    Encrypt(Find(root, {"Outer", "Secret"}), "key", TLock::Later, TCipherScheme::Strong);
    Select(Find(root, {"Outer"}));
    Questions().Answers.push_back(TAnswer::Yes);
    Window().MI_RemoveBranch->trigger();
    Window().MI_Undo->trigger();
    TTreeNode* outer = Find(root, {"Outer"});
    ASSERT_TRUE(outer->ChildrenUnmade());
    const TDomNode secret = ElementOf(outer).FirstChild();
    ASSERT_TRUE(IsBranchEncrypted(secret) && !IsBranchLocked(secret));
    const size_t made = Tree().Count();

    Window().MI_LockAll->trigger();
    EXPECT_TRUE(Questions().Errors.empty());
    EXPECT_TRUE(IsBranchLocked(secret));
    EXPECT_EQ(Tree().Count(), made) << "no node made";
    EXPECT_TRUE(IsNodeLocked(Find(root, {"Outer", "Secret"})));
}

TEST_F(LockAllTest, IdleTimeAndMinimisingLockEverything) {
    Start();
    TEncryptionSettings& settings = *Windows().EncryptionSettings;
    EXPECT_EQ(settings.AutoLockMinutes(), TEncryptionSettings::kDefaultAutoLockMinutes);
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    TTreeNode* secret = Find(root, {"Secret"});
    Encrypt(secret, "key");

    // Input keeps it unlocked; the idle time after the last input locks it.
    settings.SetIdleInterval(std::chrono::milliseconds(800));
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(Window().TreeView, Qt::Key_Shift);
        QTest::qWait(100);
    }
    EXPECT_FALSE(IsNodeLocked(secret)) << "input within the idle time";
    QTRY_VERIFY_WITH_TIMEOUT(IsNodeLocked(secret), 5000);

    // Off (minutes 0, from the menu): nothing locks by time.
    settings.SetIdleInterval(std::chrono::milliseconds(50));
    Window().findChild<QAction*>("MI_AutoLock0")->trigger();
    EXPECT_EQ(settings.AutoLockMinutes(), 0);
    Select(secret);
    AnswerPassword("key");
    Window().Button_LockBranch->trigger();
    ASSERT_FALSE(IsNodeLocked(secret));
    QTest::qWait(200);
    EXPECT_FALSE(IsNodeLocked(secret));

    // The desktop session locking (the screen saver's signal) locks; its unlocking does not.
    QMetaObject::invokeMethod(&settings, "ScreenSaverActiveChanged", Q_ARG(bool, false));
    EXPECT_FALSE(IsNodeLocked(secret));
    QMetaObject::invokeMethod(&settings, "ScreenSaverActiveChanged", Q_ARG(bool, true));
    EXPECT_TRUE(IsNodeLocked(secret));
    AnswerPassword("key");
    Window().Button_LockBranch->trigger();
    ASSERT_FALSE(IsNodeLocked(secret));

    // Minimising locks only when so set.
    Window().showMinimized();
    QApplication::processEvents();
    EXPECT_FALSE(IsNodeLocked(secret));
    Window().showNormal();
    Window().MI_LockOnMinimize->trigger();
    ASSERT_TRUE(settings.LockOnMinimize());
    Window().showMinimized();
    QApplication::processEvents();
    EXPECT_TRUE(IsNodeLocked(secret));
}

TEST_F(LockAllTest, EncryptionSettingsAreKeptAndGovernTheDialog) {
    Start();
    // New encryptions are strong unless the setting says otherwise.
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    Encrypt(Find(root, {"Open"}), "a");
    EXPECT_EQ(BranchCipherScheme(ElementOf(Find(root, {"Open"}))), TCipherScheme::Strong);
    Window().MI_CompatibleScheme->trigger();
    QMenu* codePages = Window().MI_CodePage;
    emit Window().MI_Settings->aboutToShow();
    QAction* cp1252 = nullptr;
    for (QAction* item : codePages->actions()) {
        EXPECT_EQ(item->isChecked(), item->text().toStdString() == CurrentCodePage().Name());
        cp1252 = item->text() == "windows-1252" ? item : cp1252;
    }
    ASSERT_NE(cp1252, nullptr);
    cp1252->trigger();
    EXPECT_EQ(CurrentCodePage().Name(), "windows-1252");
    Window().findChild<QAction*>("MI_AutoLock30")->trigger();
    Window().MI_LockOnMinimize->trigger();
    Window().MI_Save->trigger();
    ASSERT_TRUE(Close());

    SetCurrentCodePage("windows-1251");
    Start();
    EXPECT_EQ(CurrentCodePage().Name(), "windows-1252");
    EXPECT_EQ(Windows().EncryptionSettings->AutoLockMinutes(), 30);
    EXPECT_TRUE(Window().findChild<QAction*>("MI_AutoLock30")->isChecked());
    EXPECT_TRUE(Windows().EncryptionSettings->LockOnMinimize());
    EXPECT_TRUE(Window().MI_CompatibleScheme->isChecked());
    root = Top(0);
    // The dialog offers the setting for a plain branch and the branch's own scheme otherwise.
    bool offeredForPlain = false;
    bool offeredForStrong = true;
    Select(Find(root, {"Secret"}));
    Questions().Dialogs.push_back([&offeredForPlain](QDialog& dialog) {
        offeredForPlain = dynamic_cast<TForm_CipherDialog&>(dialog).Check_Compatible->isChecked();
        return int(QDialog::Rejected);
    });
    Window().Button_CipherBranch->trigger();
    AnswerPassword("a");
    Select(Find(root, {"Open"}));
    Window().Button_LockBranch->trigger();
    Questions().Dialogs.push_back([&offeredForStrong](QDialog& dialog) {
        auto& cipher = dynamic_cast<TForm_CipherDialog&>(dialog);
        offeredForStrong = cipher.Check_Compatible->isChecked();
        cipher.Edit_Password->setText("typed");
        return int(QDialog::Rejected);
    });
    Window().Button_CipherBranch->trigger();
    EXPECT_TRUE(offeredForPlain);
    EXPECT_FALSE(offeredForStrong);
    EXPECT_TRUE(Windows().CipherDialog->Edit_Password->text().isEmpty()) << "Cancel empties the fields";
    EXPECT_TRUE(Questions().Dialogs.empty());
}

// ---- What Lock All leaves in memory ----

// The masked UTF-16 form (as the line edit holds it) of a masked UTF-8 password.
std::vector<unsigned char> MaskedUtf16(const std::vector<unsigned char>& masked) {
    const TSecret plain = Unmasked(masked);
    QString text = QString::fromUtf8(plain.View().data(), static_cast<qsizetype>(plain.Size()));
    const auto* bytes = reinterpret_cast<const char*>(text.constData());
    std::vector<unsigned char> result =
        Masked(std::string_view(bytes, static_cast<size_t>(text.size()) * sizeof(QChar)));
    WipeMemory(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
    return result;
}

// Types the masked password into the dialog's field(s), keeping no copy of its own, and clicks OK.
std::function<int(QDialog&)> TypeMasked(std::vector<unsigned char> masked, TCipherScheme scheme) {
    return [masked = std::move(masked), scheme](QDialog& dialog) {
        auto put = [&masked](QLineEdit* edit) {
            const TSecret plain = Unmasked(masked);
            // The field is the only owner of the text's buffer once this copy is dropped.
            edit->setText(QString::fromUtf8(plain.View().data(), static_cast<qsizetype>(plain.Size())));
        };
        if (auto* cipher = dynamic_cast<TForm_CipherDialog*>(&dialog)) {
            cipher->Check_Compatible->setChecked(scheme == TCipherScheme::Compatible);
            put(cipher->Edit_Password);
            put(cipher->Edit_ConfirmPassword);
        } else {
            put(dynamic_cast<TForm_PasswordDialog&>(dialog).Edit_Password);
        }
        return ClickOk(dialog);
    };
}

TEST_F(LockAllTest, NoPasswordIsLeftInMemoryAfterLockAll) {
    Start();
    SetCurrentCodePage("windows-1251");
    // "Ёлка-strong-🔑-4c2d": the strong one; "Пароль-window-9e1f": the compatible one.
    const std::vector<unsigned char> strong = {0x8a, 0xdb, 0x8a, 0xe1, 0x8a, 0xe0, 0x8a, 0xea, 0x77,
                                               0x29, 0x2e, 0x28, 0x35, 0x34, 0x3d, 0x77, 0xaa, 0xc5,
                                               0xce, 0xcb, 0x77, 0x6e, 0x39, 0x68, 0x3e};
    const std::vector<unsigned char> compatible = {0x8a, 0xc5, 0x8a, 0xea, 0x8b, 0xda, 0x8a, 0xe4,
                                                   0x8a, 0xe1, 0x8b, 0xd6, 0x77, 0x2d, 0x33, 0x34,
                                                   0x3e, 0x35, 0x2d, 0x77, 0x63, 0x3f, 0x6b, 0x3c};
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    for (const auto& [title, masked, scheme] : {std::tuple{"Secret", &strong, TCipherScheme::Strong},
                                                std::tuple{"Open", &compatible, TCipherScheme::Compatible}}) {
        Select(Find(root, {title}));
        Questions().Dialogs.push_back(TypeMasked(*masked, scheme));
        Window().Button_CipherBranch->trigger();
        ASSERT_TRUE(IsBranchEncrypted(ElementOf(Find(root, {title}))));
    }
    Window().MI_Save->trigger();
    // Locked and unlocked again through the dialog, so that the unlock path is searched too.
    Window().MI_LockAll->trigger();
    for (const auto& [title, masked] : {std::pair{"Secret", &strong}, std::pair{"Open", &compatible}}) {
        Select(Find(root, {title}));
        Questions().Dialogs.push_back(TypeMasked(*masked, TCipherScheme::Strong));
        Window().Button_LockBranch->trigger();
        ASSERT_FALSE(IsNodeLocked(Find(root, {title})));
    }
    // The search finds what is there: an unlocked compatible branch holds its password.
    ASSERT_GE(CopiesInMemory(compatible), 1u);

    Window().MI_LockAll->trigger();
    ASSERT_TRUE(IsNodeLocked(Find(root, {"Secret"})));
    ASSERT_TRUE(IsNodeLocked(Find(root, {"Open"})));
    EXPECT_EQ(CopiesInMemory(strong), 0u);
    EXPECT_EQ(CopiesInMemory(compatible), 0u);
    EXPECT_EQ(CopiesInMemory(MaskedUtf16(strong)), 0u);
    EXPECT_EQ(CopiesInMemory(MaskedUtf16(compatible)), 0u);
    EXPECT_EQ(CopiesInMemory(MaskedCodePageBytes(compatible)), 0u);
}

// ---- What every lock path leaves in memory, on the clipboard and in dialogs ----

// "Memo-7d1c-Тайна-🗝" and "Child-memo-4b8e-Ёжик": the memos of an encrypted branch and of its
// sub-branch; "Ключ-gui-5f0a": its password. All held masked.
const std::vector<unsigned char> kMemo = {0x17, 0x3f, 0x37, 0x35, 0x77, 0x6d, 0x3e, 0x6b, 0x39,
                                          0x77, 0x8a, 0xf8, 0x8a, 0xea, 0x8a, 0xe3, 0x8a, 0xe7,
                                          0x8a, 0xea, 0x77, 0xaa, 0xc5, 0xcd, 0xc7};
const std::vector<unsigned char> kChildMemo = {0x19, 0x32, 0x33, 0x36, 0x3e, 0x77, 0x37, 0x3f,
                                               0x37, 0x35, 0x77, 0x6e, 0x38, 0x62, 0x3f, 0x77,
                                               0x8a, 0xdb, 0x8a, 0xec, 0x8a, 0xe2, 0x8a, 0xe0};
const std::vector<unsigned char> kKey = Masked("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87-gui-5f0a");

// A document whose branch "Secret" (memo kMemo) with its sub-branch "Child" (memo kChildMemo) is
// locked under kKey: the file holds the memos only enciphered.
std::string LockedDocument() {
    TDomDocument doc;
    doc.LoadXML("<ludex title=\"Doc\"><note title=\"Secret\"><note title=\"Child\"/></note>"
                "<note title=\"Open\"/></ludex>");
    const TDomNode secret = doc.DocumentElement().FirstChild();
    MemoAccess.Write(secret, Unmasked(kMemo).View());
    MemoAccess.Write(secret.FirstChild(), Unmasked(kChildMemo).View());
    SetBranchPassword(secret, Unmasked(kKey).View(), TCipherScheme::Strong);
    EncipherBranch(secret);
    return DocumentToText(doc.DocumentElement());
}

// Every way a branch gets locked leaves no copy of what was deciphered, in UTF-8 or UTF-16 (the
// memo control's form): not the memo, not its sub-branch's, not after the memo was shown, edited,
// copied to the clipboard and saved. While unlocked the search finds them.
TEST_F(LockAllTest, EveryLockPathLeavesNoDecipheredMemoInMemory) {
    if (!HeapWipesFreedMemory()) {
        GTEST_SKIP() << "freed memory is not wiped in this build (thread sanitizer)";
    }
    const TStrongKeyCostForTests cheap({1, 8});
    Start();
    TEncryptionSettings& settings = *Windows().EncryptionSettings;
    const std::string file = LockedDocument();
    const std::vector<std::vector<unsigned char>> searched = {kMemo, kChildMemo, MaskedUtf16(kMemo),
                                                              MaskedUtf16(kChildMemo)};
    const auto copies = [&searched] { return CopiesInMemory(searched); };
    const auto closeDocument = [this] {
        Select(Top(0));
        Questions().Answers.push_back(TAnswer::No); // the edited memo is not saved
        Window().MI_Close->trigger();
    };
    struct TPath {
        const char* what;
        std::function<void(TTreeNode* secret)> lock;
        bool closes = false;
    };
    const TPath paths[] = {
        {"Lock/Unlock",
         [this](TTreeNode* secret) {
             Select(secret);
             Window().Button_LockBranch->trigger();
         }},
        {"Lock All", [this](TTreeNode*) { Window().MI_LockAll->trigger(); }},
        {"idle",
         [this, &settings](TTreeNode*) {
             settings.SetIdleInterval(std::chrono::milliseconds(30));
             QTRY_VERIFY(IsBranchLocked(ElementOf(Find(Top(0), {"Secret"}))));
             settings.SetIdleInterval(std::chrono::milliseconds(0));
         }},
        {"screen lock",
         [&settings](TTreeNode*) {
             QMetaObject::invokeMethod(&settings, "ScreenSaverActiveChanged", Q_ARG(bool, true));
         }},
        {"minimise",
         [this, &settings](TTreeNode*) {
             settings.SetLockOnMinimize(true);
             Window().showMinimized();
             QApplication::processEvents();
             Window().showNormal();
             settings.SetLockOnMinimize(false);
         }},
        {"close document", [&closeDocument](TTreeNode*) { closeDocument(); }, true},
        {"quit",
         [this](TTreeNode*) {
             Questions().Answers.push_back(TAnswer::No);
             ASSERT_TRUE(Close());
         },
         true},
    };
    int n = 0;
    for (const TPath& path : paths) {
        SCOPED_TRACE(path.what);
        TTreeNode* root = Open("doc" + std::to_string(n++) + ".ldx", file);
        TTreeNode* secret = Find(root, {"Secret"});
        Select(secret);
        Questions().Dialogs.push_back(TypeMasked(kKey, TCipherScheme::Strong));
        Window().Button_LockBranch->trigger();
        ASSERT_FALSE(IsNodeLocked(secret));
        // The sub-branch's memo shown, then the branch's: shown, copied, edited and saved.
        Select(Find(secret, {"Child"}));
        std::vector<size_t> unlocked = copies();
        Select(secret);
        Window().Memo->selectAll();
        Window().Memo->copy();
        ASSERT_TRUE(QApplication::clipboard()->mimeData()->hasFormat(TMemoEdit::kSecretHintFormat));
        Window().Memo->moveCursor(QTextCursor::End);
        QTest::keyClicks(Window().Memo, "!");
        Window().MI_Save->trigger();
        const std::vector<size_t> shown = copies();
        unlocked[0] = shown[0];
        unlocked[2] = shown[2];
        for (const size_t count : unlocked) {
            EXPECT_GE(count, 1u) << "the search finds what is there";
        }
        path.lock(secret);
        const std::vector<size_t> locked = copies();
        EXPECT_EQ(locked, std::vector<size_t>(4, 0));
        const QMimeData* clipboard = QApplication::clipboard()->mimeData();
        EXPECT_TRUE(clipboard == nullptr || !clipboard->hasFormat(TMemoEdit::kSecretHintFormat));
        std::cout << "memory search, " << path.what << ": memo UTF-8 " << unlocked[0] << " -> " << locked[0]
                  << ", sub-branch memo UTF-8 " << unlocked[1] << " -> " << locked[1] << ", memo UTF-16 "
                  << unlocked[2] << " -> " << locked[2] << ", sub-branch memo UTF-16 " << unlocked[3]
                  << " -> " << locked[3] << "\n";
        if (!path.closes) {
            closeDocument();
        }
    }
}

// The idle lock does not wait for a dialog left open: the dialog is cancelled (nothing it held is
// taken) and the branch is locked while the user is away.
TEST_F(LockAllTest, AnIdleLockCancelsAnOpenDialogFirst) {
    const TStrongKeyCostForTests cheap({1, 8});
    Start();
    TTreeNode* root = Open("doc.ldx", Doc("Doc", kSecretBranch));
    TTreeNode* secret = Find(root, {"Secret"});
    Encrypt(secret, "key");
    ASSERT_FALSE(IsNodeLocked(secret));
    TEncryptionSettings& settings = *Windows().EncryptionSettings;
    const int minutes = settings.AutoLockMinutes();
    bool shown = false;
    Questions().Dialogs.push_back([&](QDialog& dialog) {
        shown = true;
        // The user changes a setting and leaves the dialog open.
        settings.SetIdleInterval(std::chrono::milliseconds(50));
        return dialog.exec();
    });
    Window().MI_Preferences->trigger(); // returns once the idle lock has cancelled the dialog
    EXPECT_TRUE(shown);
    QTRY_VERIFY_WITH_TIMEOUT(IsNodeLocked(Find(root, {"Secret"})), 5000);
    EXPECT_EQ(settings.AutoLockMinutes(), minutes) << "nothing of the cancelled dialog was taken";
    settings.SetIdleInterval(std::chrono::milliseconds(0));
}

// A stored key cost far above the present one is asked about, naming its memory; when agreed to,
// the derivation runs, and Cancel returns at once, the derivation ending by itself afterwards.
TEST_F(LockAllTest, ACostlyKeyIsAskedAboutAndCancelDoesNotWaitForIt) {
    Start();
    TStrongHeader header;
    header.cost = {9, 64 * 1024}; // nine passes: beyond four times the present two
    header.salt = std::string(kStrongSaltSize, 's');
    header.check = std::string(kStrongCheckSize, 'c');
    TTreeNode* root = Open("doc.ldx", Doc("Doc", "<note title=\"Vault\" memo=\"AAAA\" encryption=\"" +
                                                     FormatStrongHeader(header) + "\"/>"));
    TTreeNode* vault = Find(root, {"Vault"});
    Select(vault);
    const uint64_t derivations = StrongKeyDerivationCount();
    Questions().Answers.push_back(TAnswer::No);
    Window().Button_LockBranch->trigger();
    ASSERT_EQ(Questions().Asked.size(), 1u);
    EXPECT_NE(Questions().Asked.back().toStdString().find("64 MiB"), std::string::npos);
    EXPECT_TRUE(IsNodeLocked(vault));

    Questions().Answers.push_back(TAnswer::Yes);
    AnswerPassword("guess");
    QTimer::singleShot(0, [] {
        if (TLongWork* work = TLongWork::Running()) {
            work->Cancel();
        }
    });
    Window().Button_LockBranch->trigger();
    EXPECT_EQ(StrongKeyDerivationCount(), derivations) << "returned before the derivation ended";
    EXPECT_TRUE(IsNodeLocked(vault));
    EXPECT_TRUE(Questions().Informed.empty()) << "no answer about the password";
    QTRY_VERIFY_WITH_TIMEOUT(StrongKeyDerivationCount() == derivations + 1, 60000);
}

} // namespace
} // namespace ludex::test
