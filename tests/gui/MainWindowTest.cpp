// The main window: documents in the tree, start-up, settings, language and the file commands.
#include "GuiTestSupport.h"

#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "core/settings/LX_PropertyBailee.h"
#include "core/settings/LX_Utils.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/Pictures.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

#include <filesystem>

namespace ludex::test {
namespace {

namespace fs = std::filesystem;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::string Doc(const std::string& rootTitle, const std::string& content = "") {
    return kDeclaration + "\r\n<ludex version=\"2.1.0 \" title=\"" + rootTitle + "\" memo=\"\"" +
           (content.empty() ? "/>" : ">\r\n" + content + "</ludex>");
}

std::vector<std::string> ChildTitles(TTreeNode* node) {
    std::vector<std::string> titles;
    for (int i = 0; i < node->ChildCount(); ++i) {
        titles.push_back(node->Child(i)->Text());
    }
    return titles;
}

class MainWindowTest : public TProgramTest {
protected:
    TBranchTree& Tree() { return Window().Tree(); }
    TTreeNode* Top(int i) { return Tree().TopLevel(i); }
    std::string Message(const std::string& key) { return LanguageLocaler().GetMessage(key); }
};

TEST_F(MainWindowTest, NewDocumentIsSelectedUnmodifiedAndTitledFromTheLanguage) {
    Start();
    Window().MI_New->trigger();
    ASSERT_EQ(Tree().TopLevelCount(), 1);
    TTreeNode* root = Top(0);
    EXPECT_EQ(root->Text(), Message("NewDocumentTitle"));
    EXPECT_EQ(root->Picture(), picDocument);
    EXPECT_EQ(root->SelectedPicture(), picDocument);
    EXPECT_FALSE(root->Document()->Modified());
    EXPECT_TRUE(root->Document()->FileName().empty());
    EXPECT_EQ(Tree().Selected(), root);
    EXPECT_FALSE(Window().TreeView->findChildren<QLineEdit*>().isEmpty()) << "the title is open for editing";
    EXPECT_FALSE(Window().Memo->isReadOnly());
    EXPECT_EQ(ElementOf(root).Name(), "ludex");
    EXPECT_EQ(ElementOf(root).GetAttribute("version"), ProgramVersion());
}

TEST_F(MainWindowTest, NewDocumentTextEscapesTheTitle) {
    Start();
    // A title with markup characters must not make New fail.
    const std::string text = TLXDocument::NewDocumentText();
    EXPECT_EQ(text.rfind(kDeclaration + "<ludex version=\"", 0), 0u);
    TDomDocument dom;
    dom.LoadXML(text);
    EXPECT_EQ(dom.DocumentElement().GetAttribute("title"), Message("NewDocumentTitle"));
    EXPECT_TRUE(dom.DocumentElement().HasAttribute("memo"));
    const auto attributes = dom.DocumentElement().Attributes();
    ASSERT_EQ(attributes.size(), 3u);
    EXPECT_EQ(attributes[0].first, "version");
    EXPECT_EQ(attributes[1].first, "title");
    EXPECT_EQ(attributes[2].first, "memo");
}

TEST_F(MainWindowTest, OpeningBuildsSortsAndExpandsWithoutModifying) {
    const std::string file =
        WriteFile("a.ldx", Doc("Root", "<note title=\"C\"/>\r\n<note title=\"b\">\r\n<note "
                                       "title=\"inner\"/>\r\n</note>\r\n<note title=\"a\"/>\r\n"
                                       "<note title=\"text only\">payload</note>\r\n"));
    Start(file);
    ASSERT_EQ(Tree().TopLevelCount(), 1);
    TTreeNode* root = Top(0);
    EXPECT_EQ(ChildTitles(root), (std::vector<std::string>{"b", "a", "C", "text only"}));
    EXPECT_TRUE(Tree().IsExpanded(root));
    EXPECT_FALSE(root->Document()->Modified());
    EXPECT_EQ(root->Child(0)->Picture(), picBranchWithSubBranches);
    EXPECT_EQ(root->Child(3)->Picture(), picBranch) << "a text node makes no child node";
    EXPECT_EQ(Window().StatusPanel->text().toStdString(), file);
}

// Opening builds the nodes in the window's order at once; the tree must be the one that building
// in file order and then sorting by TreeViewCompare gives, pictures and placeholders included.
TEST_F(MainWindowTest, OpeningShowsTheTreeThatSortingTheFileOrderGives) {
    const char* const titles[] = {
        "b", "B", "a",   "10", "9", "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0", "\xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0",
        "Z", "z", "same"};
    std::string content;
    for (int i = 0; i < 45; ++i) { // more siblings than are sorted in place
        const std::string open =
            "<note title=\"" + std::string(titles[(i * 7) % 10]) + "\" memo=\"" + std::to_string(i) + "\"";
        switch (i % 5) {
        case 0: // sub-branches, one with its own
            content += open + "><note title=\"y\"/><note title=\"X\"><note title=\"in\"/></note></note>";
            break;
        case 1: // locked with a payload, locked without
            content +=
                open + " encryption=\"0123456789012345678901==\"" + (i % 2 ? ">cGF5bG9hZA==</note>" : "/>");
            break;
        case 2: // only text and a comment: no sub-branch
            content += open + ">text<!-- c --></note>";
            break;
        default:
            content += open + "/>";
        }
    }
    Start(WriteFile("order.ldx", Doc("Root", content)));
    TTreeNode* opened = Top(0);
    TTreeNode* sorted = Tree().BeginTopLevel("Root");
    BuildChildNodes(Tree(), sorted, ElementOf(opened), TBranchOrder::File);
    Tree().SortChildren(sorted, TSortDepth::AllLevels);
    Tree().AttachTopLevel();

    std::vector<std::pair<TTreeNode*, TTreeNode*>> pending{{opened, sorted}};
    size_t compared = 0;
    while (!pending.empty()) {
        const auto [a, b] = pending.back();
        pending.pop_back();
        ++compared;
        ASSERT_EQ(a->ChildCount(), b->ChildCount()) << a->Text();
        for (int i = 0; i < a->ChildCount(); ++i) {
            TTreeNode* x = a->Child(i);
            TTreeNode* y = b->Child(i);
            EXPECT_EQ(x->Text(), y->Text());
            EXPECT_TRUE(x->Element() == y->Element()) << x->Text();
            EXPECT_EQ(x->Picture(), y->Picture()) << x->Text();
            EXPECT_EQ(x->SelectedPicture(), y->SelectedPicture()) << x->Text();
            pending.emplace_back(x, y);
        }
    }
    EXPECT_EQ(compared, Tree().Count() / 2);
}

TEST_F(MainWindowTest, EncryptedRootShowsOnlyThePlaceholder) {
    struct Case {
        std::string content;
        int children;
    };
    for (const Case& c : {Case{"cGF5bG9hZA==", 1}, Case{"", 0}}) {
        const std::string file =
            WriteFile("locked.ldx", kDeclaration +
                                        "<ludex title=\"Secret\" memo=\"AAAAAA==\" "
                                        "encryption=\"0123456789012345678901==\"" +
                                        (c.content.empty() ? "/>" : ">" + c.content + "</ludex>"));
        Start(file);
        TTreeNode* root = Top(0);
        EXPECT_EQ(root->Picture(), picDocumentLocked);
        EXPECT_FALSE(Tree().IsExpanded(root));
        ASSERT_EQ(root->ChildCount(), c.children);
        if (c.children == 1) {
            EXPECT_EQ(root->Child(0)->Text(), kPlaceholderText);
            EXPECT_FALSE(root->Child(0)->Element());
        }
        EXPECT_TRUE(Window().Memo->isReadOnly());
        EXPECT_EQ(Window().Memo->toPlainText().toStdString(), Message("InformationIsLocked"));
        Discard();
    }
}

TEST_F(MainWindowTest, CombinedPicturesAreComposedInOrder) {
    Start();
    const TPictureList& pictures = Window().TreePictures();
    ASSERT_EQ(pictures.Count(), 12);
    struct Case {
        int index, base, mark;
    };
    for (const Case& c : {Case{7, 0, 6}, Case{8, 2, 6}, Case{9, 1, 6}, Case{10, 0, 3}, Case{11, 10, 6}}) {
        EXPECT_EQ(pictures.Image(c.index, 16),
                  Pictures::ComposeImage(pictures.Image(c.base, 16), pictures.Image(c.mark, 16)))
            << c.index;
    }
    // AND: white leaves the base unchanged, black wins.
    QImage white(2, 1, QImage::Format_RGB32), base(2, 1, QImage::Format_RGB32);
    white.fill(Qt::white);
    base.setPixel(0, 0, qRgb(10, 200, 30));
    base.setPixel(1, 0, qRgb(255, 255, 255));
    white.setPixel(1, 0, qRgb(0, 0, 0));
    QImage composed = Pictures::ComposeImage(base, white);
    EXPECT_EQ(composed.pixel(0, 0), qRgb(10, 200, 30));
    EXPECT_EQ(composed.pixel(1, 0), qRgb(0, 0, 0));
}

TEST_F(MainWindowTest, TheModifiedAndLockMarksAreClearlyVisibleAtSixteenPixels) {
    Start();
    const TPictureList& pictures = Window().TreePictures();
    // The pixels a mark changes, and how far they move from the base's colour.
    for (const auto& [marked, base] :
         {std::pair{7, 0}, std::pair{8, 2}, std::pair{9, 1}, std::pair{10, 0}, std::pair{11, 10}}) {
        SCOPED_TRACE(marked);
        const QImage after = pictures.Image(marked, 16);
        const QImage before = pictures.Image(base, 16);
        int strongly = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const QColor a = after.pixelColor(x, y), b = before.pixelColor(x, y);
                const int change = std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                                   std::abs(a.blue() - b.blue());
                strongly += change >= 120 ? 1 : 0;
            }
        }
        EXPECT_GE(strongly, 14); // a mark of a few pixels is lost at this size
    }
}

TEST_F(MainWindowTest, DocumentCommandsNeedADocument) {
    Start();
    auto enabled = [this] {
        std::vector<bool> states;
        for (QAction* a : {Window().MI_Save, Window().MI_SaveAs, Window().MI_SaveAll, Window().MI_Close,
                           Window().MI_CloseAll, Window().Button_RemoveBranch, Window().Button_Rename,
                           Window().Button_Save, Window().Button_SaveAll}) {
            states.push_back(a->isEnabled());
        }
        return states;
    };
    EXPECT_EQ(enabled(), std::vector<bool>(9, false));
    EXPECT_TRUE(Window().MI_New->isEnabled());
    EXPECT_TRUE(Window().MI_Open->isEnabled());
    EXPECT_TRUE(Window().Button_InsertBranch->isEnabled());
    Window().MI_New->trigger();
    EXPECT_EQ(enabled(), std::vector<bool>(9, true));
    Window().MI_Close->trigger();
    EXPECT_EQ(enabled(), std::vector<bool>(9, false));
    EXPECT_TRUE(Window().Memo->isReadOnly());
    EXPECT_TRUE(Window().Memo->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, CaptionFollowsTheLanguage) {
    Start();
    EXPECT_EQ(Window().windowTitle().toStdString(),
              LanguageLocaler().FormatMessage("MainCaption", {ProgramVersion()}));
    const QString englishFile = Window().MI_File->title();
    LanguageLocaler().Language = langRussian;
    LanguageLocaler().LoadCurrentLanguage();
    EXPECT_NE(Window().MI_File->title(), englishFile);
    EXPECT_TRUE(Window().MI_Russian->isChecked());
    EXPECT_FALSE(Window().MI_English->isChecked());
    EXPECT_EQ(Window().windowTitle().toStdString(),
              LanguageLocaler().FormatMessage("MainCaption", {ProgramVersion()}));
    EXPECT_EQ(Window().Button_New->toolTip(), QString(Window().MI_New->text()).remove(u'&'))
        << "the menu item's caption without its mnemonic mark";
    EXPECT_EQ(LanguageLocaler().GetMessage("Find"), LanguageLocaler().Bailee().ReadValue("Find"))
        << "the message cursor is back on messages";
}

TEST_F(MainWindowTest, SavingWritesTheFileAndClearsTheMark) {
    Start();
    Window().MI_New->trigger();
    TLXDocument* document = Top(0)->Document();
    document->SetModified(true);
    EXPECT_EQ(Top(0)->Picture(), picDocumentModified);
    Questions().FileNames.push_back(QString::fromStdString(PathOf("typed")));
    Window().MI_Save->trigger();
    // A new document's dialog starts in the home folder with the title as the name.
    EXPECT_EQ(Questions().SaveDialogNames.back(), QDir::home().filePath("New Document.ldx"));
    // Its "All files" shows names without a dot.
    EXPECT_TRUE(Questions().Filters.back().endsWith("|*")) << Questions().Filters.back().toStdString();
    EXPECT_EQ(document->FileName(), PathOf("typed.ldx")) << "the default extension is ldx";
    EXPECT_FALSE(document->Modified());
    EXPECT_EQ(Top(0)->Picture(), picDocument);
    EXPECT_EQ(Window().StatusPanel->text().toStdString(), PathOf("typed.ldx"));
    EXPECT_EQ(ReadFile(PathOf("typed.ldx")).rfind(kDeclaration + "\r\n<ludex ", 0), 0u);
    // Save As asks again and starts in the document's folder, with its title as the name.
    EditTitle(Top(0), "Plans: 2027/2028");
    Questions().FileNames.push_back(QString::fromStdString(PathOf("other")));
    Window().MI_SaveAs->trigger();
    EXPECT_EQ(Questions().SaveDialogNames.back().toStdString(), PathOf("Plans: 2027_2028.ldx"));
    EXPECT_TRUE(fs::exists(PathOf("other.ldx")));
}

TEST_F(MainWindowTest, FailedSaveReportsAndStaysModified) {
    Start();
    Window().MI_New->trigger();
    TLXDocument* document = Top(0)->Document();
    document->SetModified(true);
    WriteFile("plain", "not a folder");
    // A target below a regular file cannot be written, whoever runs the test.
    Questions().FileNames.push_back(QString::fromStdString(PathOf("plain") + "/doc.ldx"));
    Window().MI_Save->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find(PathOf("plain") + "/doc.ldx"), std::string::npos)
        << "the error names the file: " << Questions().Errors[0].toStdString();
    EXPECT_TRUE(document->Modified());
    EXPECT_EQ(Top(0)->Picture(), picDocumentModified);
    // The program goes on: saving as a file that can be written succeeds.
    Questions().FileNames.push_back(QString::fromStdString(PathOf("doc.ldx")));
    Window().MI_SaveAs->trigger();
    EXPECT_FALSE(document->Modified());
    EXPECT_EQ(Questions().Errors.size(), 1u);
}

TEST_F(MainWindowTest, CloseAsksWithTitleAndFileNameAndCanBeCancelled) {
    const std::string file = WriteFile("named.ldx", Doc("Named"));
    Start(file);
    Window().MI_New->trigger();
    Top(0)->Document()->SetModified(true);
    Top(1)->Document()->SetModified(true);

    // A new document: no file name in the question; Yes shows the save dialog; cancelling it keeps it open.
    Tree().Select(Top(1));
    Questions().Answers.push_back(TAnswer::Yes);
    Questions().FileNames.push_back(std::nullopt);
    Window().MI_Close->trigger();
    EXPECT_EQ(Tree().TopLevelCount(), 2);
    EXPECT_EQ(Questions().Asked.back().toStdString(),
              LanguageLocaler().FormatMessage("SaveQuery", {Message("NewDocumentTitle"), ""}));

    // A named document: "(name)" without the folder; No closes without saving.
    Tree().Select(Top(0));
    Questions().Answers.push_back(TAnswer::No);
    Window().MI_Close->trigger();
    EXPECT_EQ(Questions().Asked.back().toStdString(),
              LanguageLocaler().FormatMessage("SaveQuery", {"Named", "(named.ldx)"}));
    ASSERT_EQ(Tree().TopLevelCount(), 1);
    EXPECT_EQ(ReadFile(file), Doc("Named"));
}

TEST_F(MainWindowTest, CloseAllAsksInTreeOrderAndStopsAtCancel) {
    std::vector<std::string> files;
    for (const char* name : {"one.ldx", "two.ldx", "three.ldx"}) {
        files.push_back(WriteFile(name, Doc(name)));
    }
    Start(files[0]);
    Window().RestoreDocuments(files[1]);
    Window().RestoreDocuments(files[2]);
    for (int i = 0; i < 3; ++i) {
        Top(i)->Document()->SetModified(true);
    }
    Questions().Answers = {TAnswer::Yes, TAnswer::Cancel};
    Window().MI_CloseAll->trigger();
    EXPECT_EQ(Tree().TopLevelCount(), 3);
    EXPECT_EQ(Questions().Asked.size(), 2u);
    EXPECT_FALSE(Top(0)->Document()->Modified()) << "the first was saved";
    EXPECT_TRUE(Top(1)->Document()->Modified());
    EXPECT_FALSE(Window().Button_Cut->isEnabled());
    Questions().Answers = {TAnswer::No, TAnswer::No};
    Window().MI_CloseAll->trigger();
    EXPECT_EQ(Tree().TopLevelCount(), 0);
}

TEST_F(MainWindowTest, SaveAllWritesEveryDocumentAndAsksNamesForNewOnes) {
    const std::string file = WriteFile("kept.ldx", Doc("Kept"));
    Start(file);
    Window().MI_New->trigger();
    fs::remove(file);
    Questions().FileNames = {QString::fromStdString(PathOf("fresh.ldx"))};
    Window().MI_SaveAll->trigger();
    EXPECT_TRUE(fs::exists(file)) << "unmodified documents are written too";
    EXPECT_TRUE(fs::exists(PathOf("fresh.ldx")));
    EXPECT_EQ(Tree().Selected(), Top(1)) << "the selection comes back";
}

TEST_F(MainWindowTest, OpeningTheSameFileTwiceGivesTwoDocuments) {
    const std::string file = WriteFile("twice.ldx", Doc("Twice"));
    Start();
    Questions().FileNames = {QString::fromStdString(file), QString::fromStdString(file)};
    Window().MI_Open->trigger();
    Window().MI_Open->trigger();
    ASSERT_EQ(Tree().TopLevelCount(), 2);
    EXPECT_NE(Top(0)->Document(), Top(1)->Document());
    EXPECT_EQ(Tree().Selected(), Top(1));
    EXPECT_EQ(Questions().OpenDirectories.back().toStdString(), PathOf("").substr(0, PathOf("").size() - 1))
        << "the open dialog starts in the selected document's folder";
}

TEST_F(MainWindowTest, OpenErrorsAreReportedAndAddNothing) {
    const std::string bad = WriteFile("bad.ldx", "<ludex title=\"x\"><note></ludex>");
    Start();
    Questions().FileNames = {QString::fromStdString(bad)};
    Window().MI_Open->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find("bad.ldx"), std::string::npos)
        << Questions().Errors[0].toStdString();
    EXPECT_EQ(Tree().TopLevelCount(), 0);
    EXPECT_FALSE(Window().Memo->isReadOnly()) << "cancelled or failed open still makes the memo editable";
}

TEST_F(MainWindowTest, DocumentsOfTheLastRunComeBackInOrder) {
    const std::string first = WriteFile("first.ldx", Doc("First"));
    const std::string second = WriteFile("second.ldx", Doc("Second"));
    const std::string gone = WriteFile("gone.ldx", Doc("Gone"));
    const std::string broken = WriteFile("broken.ldx", "<ludex");
    Start(second);
    Window().RestoreDocuments(gone);
    Window().RestoreDocuments(first);
    Window().MI_New->trigger(); // never saved: listed with an empty name
    ASSERT_TRUE(Close());
    const std::string settings = ReadFile(SettingsFile());
    EXPECT_NE(settings.find("<document file=\"\"/>"), std::string::npos) << settings;

    fs::remove(gone);
    // A remembered file that exists but cannot be opened is reported and skipped.
    std::string text = ReadFile(SettingsFile());
    const std::string marker = "<document file=\"" + first + "\"/>";
    text.replace(text.find(marker), marker.size(), "<document file=\"" + broken + "\"/>\r\n    " + marker);
    WriteFile(SettingsFile(), text);
    Start();
    ASSERT_EQ(Tree().TopLevelCount(), 2);
    EXPECT_EQ(Top(0)->Text(), "Second");
    EXPECT_EQ(Top(1)->Text(), "First");
    EXPECT_EQ(Tree().Selected(), Top(1)) << "the last one opened is selected";
    EXPECT_EQ(Questions().Errors.size(), 1u);

    // A file on the command line is the only one opened.
    Discard();
    Start(gone + ".missing");
    EXPECT_EQ(Tree().TopLevelCount(), 0);
    Discard();
    Start(first);
    EXPECT_EQ(Tree().TopLevelCount(), 1);
}

TEST_F(MainWindowTest, SettingsAreWrittenAtExitAndReadBack) {
    Start();
    Window().resize(640, 420);
    Window().SetMemoWordWrap(false);
    Window().CommonToolsCoolBand().SetIndex(0);
    QFont treeFont = Window().TreeView->font();
    treeFont.setPixelSize(17);
    treeFont.setBold(true);
    Window().TreeView->setFont(treeFont);
    QFont memoFont = Window().Memo->font();
    memoFont.setPixelSize(19);
    memoFont.setItalic(true);
    Window().Memo->setFont(memoFont);
    LanguageLocaler().Language = langRussian;
    ASSERT_TRUE(Close());

    const std::string settings = ReadFile(SettingsFile());
    EXPECT_NE(settings.find("Locale=\"langRussian\""), std::string::npos) << settings;
    EXPECT_NE(settings.find("Width=\"640\""), std::string::npos) << settings;
    EXPECT_NE(settings.find("WindowState=\"wsNormal\""), std::string::npos) << settings;
    EXPECT_EQ(settings.find("WindowPlacement"), std::string::npos);

    Start();
    EXPECT_FALSE(Window().GetMemoWordWrap());
    EXPECT_FALSE(Window().MI_WordWrapMemo->isChecked());
    EXPECT_EQ(Window().width(), 640);
    EXPECT_EQ(Window().height(), 420);
    EXPECT_EQ(Window().CommonToolsCoolBand().Index(), 0);
    EXPECT_EQ(Window().MainMenuCoolBand().Index(), 1);
    EXPECT_EQ(Window().TreeView->font().pixelSize(), 17);
    EXPECT_TRUE(Window().TreeView->font().bold());
    EXPECT_EQ(Window().Memo->font().pixelSize(), 19);
    EXPECT_TRUE(Window().Memo->font().italic());
    EXPECT_EQ(LanguageLocaler().Language, langRussian);
    EXPECT_TRUE(Window().MI_Russian->isChecked());
}

TEST_F(MainWindowTest, WordWrapShowsTheRightScrollBars) {
    Start();
    EXPECT_TRUE(Window().GetMemoWordWrap());
    EXPECT_EQ(Window().Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(Window().MI_WordWrapMemo->isChecked());
    Window().SetMemoWordWrap(false);
    EXPECT_EQ(Window().Memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(Window().Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(Window().MI_WordWrapMemo->isChecked());
}

TEST_F(MainWindowTest, BrokenSettingsAreReportedAndKeptAside) {
    WriteFile("ludex_Settings.xml", "<LudexSettings><documents>");
    Start();
    EXPECT_EQ(Questions().Errors.size(), 1u);
    EXPECT_TRUE(fs::exists(SettingsFile() + ".broken"));
    EXPECT_EQ(ReadFile(SettingsFile() + ".broken"), "<LudexSettings><documents>");
    ASSERT_TRUE(Close());
    EXPECT_NE(ReadFile(SettingsFile()).find("<LudexSettings"), std::string::npos);
}

TEST_F(MainWindowTest, BrokenInstallationStopsStartUp) {
    fs::remove(PathOf("Language.ENG.xml"));
    EXPECT_THROW(Start(), EStartUp);
    Discard();
    fs::remove(PathOf("ludex_Settings_Stencil.xml"));
    EXPECT_THROW(Start(), EStartUp);
}

TEST_F(MainWindowTest, UnwritableSettingsOfferToCloseWithoutSaving) {
    Start();
    // The settings file's place is taken by a folder, so it cannot be written.
    fs::create_directories(SettingsFile());
    Questions().Answers = {TAnswer::No};
    EXPECT_FALSE(Close());
    EXPECT_EQ(Questions().Errors.size(), 1u);
    Questions().Answers = {TAnswer::Yes};
    EXPECT_TRUE(Close());
}

TEST_F(MainWindowTest, ExitAsksAboutModifiedDocumentsBeforeSavingSettings) {
    Start();
    Window().MI_New->trigger();
    Window().MI_New->trigger();
    Top(0)->Document()->SetModified(true);
    Top(1)->Document()->SetModified(true);
    Questions().Answers = {TAnswer::No, TAnswer::Cancel};
    EXPECT_FALSE(Close());
    EXPECT_FALSE(fs::exists(SettingsFile())) << "a cancelled exit writes no settings";
    Questions().Answers = {TAnswer::No, TAnswer::No};
    EXPECT_TRUE(Close());
    EXPECT_TRUE(fs::exists(SettingsFile()));
}

// Every character the file held or the user typed survives an edit: no-break spaces and line
// separators are not turned into spaces or line feeds.
TEST_F(MainWindowTest, MemoEditsKeepEveryCharacter) {
    const std::string file = WriteFile("nbsp.ldx", Doc("Root", "<note title=\"a\" memo=\"1\xC2\xA0"
                                                               "000&#xA;x\xE2\x80\xA8y\"/>\r\n"
                                                               "<note title=\"b\"/>\r\n"));
    Start(file);
    TTreeNode* a = Top(0)->Child(0);
    Tree().Select(a);
    QTest::keyClicks(Window().Memo, "z\u00A0");
    QTest::keyClick(Window().Memo, Qt::Key_Return, Qt::ShiftModifier); // a line separator
    Tree().Select(Top(0)->Child(1));
    EXPECT_EQ(MemoAccess.Read(a->Element()), "z\xC2\xA0\xE2\x80\xA8"
                                             "1\xC2\xA0"
                                             "000\nx\xE2\x80\xA8y");
    Window().MI_Save->trigger();
    EXPECT_NE(ReadFile(file).find("memo=\"z\xC2\xA0\xE2\x80\xA8"
                                  "1\xC2\xA0"
                                  "000&#xA;x"),
              std::string::npos);
}

TEST_F(MainWindowTest, MemoEditsAreStoredWithLineFeedsWhenTheSelectionMoves) {
    const std::string file = WriteFile(
        "memo.ldx", Doc("Root", "<note title=\"a\" memo=\"one&#xD;&#xA;two&#xD;three&#xA;four\"/>\r\n"
                                "<note title=\"b\"/>\r\n"));
    Start(file);
    TTreeNode* a = Top(0)->Child(0);
    Tree().Select(a);
    EXPECT_EQ(Window().Memo->toPlainText().toStdString(), "one\ntwo\nthree\nfour");
    EXPECT_FALSE(Top(0)->Document()->Modified());
    Window().Memo->appendPlainText("five");
    EXPECT_TRUE(Top(0)->Document()->Modified()) << "the first keystroke marks the document";
    EXPECT_EQ(Top(0)->Picture(), picDocumentModified);
    Tree().Select(Top(0)->Child(1));
    EXPECT_EQ(MemoAccess.Read(a->Element()), "one\ntwo\nthree\nfour\nfive");
    EXPECT_FALSE(MemoAccess.Exists(Top(0)->Child(1)->Element())) << "showing a memo adds nothing";
}

TEST_F(MainWindowTest, RenamingInPlaceWritesTheTitle) {
    const std::string file = WriteFile("rename.ldx", Doc("Root", "<note title=\"old\"/>\r\n"));
    Start(file);
    TTreeNode* node = Top(0)->Child(0);
    EditTitle(node, "new");
    EXPECT_EQ(node->Text(), "new");
    EXPECT_EQ(TitleAccess.Read(node->Element()), "new");
    EXPECT_TRUE(Top(0)->Document()->Modified());
    EditTitle(Top(0), "");
    EXPECT_EQ(TitleAccess.Read(Top(0)->Document()->RootElement()), "") << "an empty title is accepted";
}

} // namespace
} // namespace ludex::test
