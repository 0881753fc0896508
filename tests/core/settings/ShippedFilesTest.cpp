// The language files and the stencil that ship beside the program, read as the program reads them.

#include "core/settings/LX_Localer.h"
#include "core/settings/PropertyBailee.h"

#include "FakePublished.h"
#include "core/base/Exception.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace ludex;
using namespace ludex::testing;

namespace {

// A window that localises itself as the program's windows do.
struct LocalizedForm : TPublishedBase, ILocalerClient {
    std::string caption;
    std::vector<std::unique_ptr<FakeControl>> controls;
    std::vector<std::string>* log;

    LocalizedForm(std::string name, std::vector<std::string>* l) : TPublishedBase(std::move(name)), log(l) {
        AddText(
            "Caption", [this] { return caption; }, [this](const std::string& v) { caption = v; });
    }
    FakeControl& Add(const std::string& name) {
        controls.push_back(std::make_unique<FakeControl>(name));
        AddComponent(*controls.back());
        return *controls.back();
    }
    FakeControl& Control(const std::string& name) { return *static_cast<FakeControl*>(FindComponent(name)); }
    void Localize(TLocaler& localer) override {
        log->push_back(GetName());
        localer.LocalizeForm(*this);
        localer.OpenPath("/messages");
    }
};

const std::vector<std::string> kMainCaptions = {
    "MI_File", "MI_New", "MI_Open", "MI_Save", "MI_SaveAs", "MI_SaveAll", "MI_Close", "MI_CloseAll",
    "MI_Exit", "MI_Edit", "MI_Find", "MI_Settings", "MI_Language", "MI_English", "MI_Russian", "MI_Font",
    "MI_TreeViewFont", "MI_MemoFont", "MI_WordWrapMemo", "MI_ResetToDefault", "MI_Help", "MI_HelpTopics",
    "MI_About",
    // Lock All and the encryption settings.
    "MI_LockAll", "MI_CodePage", "MI_CompatibleScheme", "MI_AutoLock", "MI_AutoLock0", "MI_AutoLock1",
    "MI_AutoLock5", "MI_AutoLock10", "MI_AutoLock30", "MI_AutoLock60", "MI_LockOnMinimize",
    // Export and print.
    "MI_ExportBranch", "MI_ExportDocument", "MI_Print", "MI_PrintPreview",
    // The Edit menu's branch commands.
    "MI_Undo", "MI_Redo", "MI_InsertBranch", "MI_InsertSubBranch", "MI_Rename", "MI_RemoveBranch", "MI_Cut",
    "MI_Copy", "MI_Paste", "MI_CipherBranch", "MI_LockBranch", "MI_Resort", "MI_AskBeforeRemove",
    // Recent files.
    "MI_Recent", "MI_RecentRemoveMissing", "MI_Preferences",
    // The tool bars' names, which the window's context menu shows.
    "ToolBar_Menu", "ToolBar_Common"};
const std::vector<std::string> kMainHints = {"Button_InsertBranch", "Button_InsertSubBranch",
                                             "Button_RemoveBranch", "Button_Rename",
                                             "Button_Cut",          "Button_Copy",
                                             "Button_Paste",        "Button_CipherBranch",
                                             "Button_LockBranch",   "Button_Resort"};
// Controls without a caption of their own, named for screen readers.
const std::vector<std::string> kMainAccessibleNames = {"TreeView", "Memo"};
const std::vector<std::string> kFindAccessibleNames = {"List_FindAll"};
// Menu items that carry a hint as well as a caption.
const std::vector<std::string> kMenuHints = {
    "MI_Undo",         "MI_Redo",   "MI_InsertBranch",   "MI_InsertSubBranch", "MI_Rename",
    "MI_RemoveBranch", "MI_Cut",    "MI_Copy",           "MI_Paste",           "MI_CipherBranch",
    "MI_LockBranch",   "MI_Resort", "MI_AskBeforeRemove"};
const std::vector<std::string> kCipherCaptions = {"Label_InputPassword", "Label_ConfirmPassword",
                                                  "Label_Branch", "Check_Lock", "Check_Compatible"};
const std::vector<std::string> kPreferencesCaptions = {
    "Label_Backups",  "Label_RecoveryInterval",  "RadioGroup_CipherScheme",  "Label_CodePage",
    "Label_AutoLock", "CheckBox_LockOnMinimize", "CheckBox_AskBeforeRemove", "Button_Close"};
const std::vector<std::string> kAboutCaptions = {"Panel_Title", "OKButton"};
const std::vector<std::string> kFindCaptions = {
    "Label_FindWhat",     "Button_Cancel",        "CheckBox_FindInTree", "CheckBox_FindInMemos",
    "CheckBox_MatchCase", "CheckBox_WholePhrase", "CheckBox_Regex",      "RadioGroup_Scope",
    "Button_FindAll",     "Button_Refresh"};

// Every message key with the placeholders its text must carry.
const std::map<std::string, std::set<std::string>> kMessages = {
    {"MainCaption", {"{0}"}},
    {"AboutInfo", {"{0}"}},
    {"SaveQuery", {"{0}", "{1}"}},
    {"NewDocumentTitle", {}},
    {"CanNotPastAtLockedNode", {}},
    {"CanNotPastBranch", {}},
    {"RemoveBranchQuery", {"{0}", "{1}"}},
    {"InformationIsLocked", {}},
    {"ResetSettings", {}},
    {"RetypePassword", {}},
    {"UnlockBranch", {"{0}"}},
    {"InputPassword", {}},
    {"IncorrectPassword", {}},
    {"Ok", {}},
    {"Cancel", {}},
    {"Find", {}},
    {"FindNext", {}},
    {"InputPasswordOrDecrypt", {}},
    {"CalcOverflow", {}},
    {"CalcZeroDivide", {}},
    {"CalcInvalidOperation", {}},
    {"CalcNestingTooDeep", {"{0}"}},
    {"FinishedFinding", {"{0}"}},
    {"RegexError", {"{0}", "{1}"}},
    {"FindAllCount", {"{0}", "{1}"}},
    {"FindAllOutOfDate", {}},
    {"FindAllBranchGone", {}},
    {"FindAllMatchGone", {}},
    {"FindAllSearching", {}},
    {"WorkOpening", {}},
    {"WorkSaving", {}},
    {"WorkUnlocking", {}},
    {"WorkLocking", {}},
    {"WorkSorting", {}},
    {"WorkExporting", {}},
    {"WorkPrinting", {}},
    {"WorkExpanding", {}},
    {"FindAllDocument", {}},
    {"FindAllBranch", {}},
    {"FindAllPlace", {}},
    {"FindAllExcerpt", {}},
    {"FindAllTitle", {}},
    {"FindAllMemo", {}},
    {"RecoveryOffer", {"{0}", "{1}"}},
    {"RecoveryNeverSaved", {}},
    {"RecoveryUnreadable", {"{0}", "{1}"}},
    {"RecoveryWriteFailed", {"{0}"}},
    {"SettingsWriteFailed", {"{0}"}},
    {"Error", {}},
    {"PasswordOutsideCodePage", {"{0}"}},
    {"MemoOutsideCodePage", {"{0}", "{1}"}},
    {"BranchContentDamaged", {"{0}"}},
    {"BranchEncryptionUnreadable", {"{0}", "{1}"}},
    {"BranchKeyUnavailable", {"{0}"}},
    {"DecipheredByteUndefined", {"{0}", "{1}", "{2}"}},
    {"CostlyKeyDerivation", {"{0}", "{1}"}},
    {"BackupsOfPlainTextRemoved", {"{0}", "{1}"}},
    {"ExportTypeText", {}},
    {"ExportTypeMarkdown", {}},
    {"ExportTypeHtml", {}},
    {"ExportEncryptedQuery", {}},
    {"ExportDone", {"{0}"}},
    {"PrintEncryptedQuery", {}},
    {"PrintFailed", {"{0}"}},
    {"LockedNote", {}},
    {"ExternalChangeQuery", {"{0}", "{1}"}},
    {"ExternalChangeOverwrite", {}},
    {"ExternalChangeSaveAs", {}},
    {"ExternalChangeReloaded", {"{0}"}},
    {"ExternalChangeRelocked", {"{0}"}},
    {"ExternalChangePending", {"{0}"}},
    {"ExternalReloadFailed", {"{0}", "{1}"}},
    {"ExternalFileMissing", {"{0}"}},
    {"ExternalFileUnreadable", {"{0}", "{1}"}},
    {"DecipheredMemoHoldsNul", {"{0}"}},
    {"CharacterNotStorable", {"{0}", "{1}"}},
    {"BranchLevelsClosed", {"{0}", "{1}"}},
    {"SettingsUnusable", {"{0}"}},
    {"SettingsUnusableKept", {"{0}", "{1}"}},
    {"CodePageUnusable", {"{0}", "{1}"}},
    {"BackupsUnusable", {"{0}", "{1}", "{2}"}},
    {"LanguageFallback", {"{0}", "{1}"}},
    {"CloseWithoutSettingsQuery", {}},
    {"FilterDocuments", {}},
    {"FilterAllFiles", {}},
};

std::set<std::string> Placeholders(const std::string& text) {
    std::set<std::string> found;
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
        const size_t close = text.find('}', open);
        if (close != std::string::npos) {
            found.insert(text.substr(open, close - open + 1));
        }
    }
    return found;
}

bool HasNonAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

// The program's four localised windows and the unlock dialog, which is not localised.
struct Windows {
    std::vector<std::string> log;
    LocalizedForm main{"Form_Ludex", &log};
    LocalizedForm cipher{"Form_CipherDialog", &log};
    TPublishedBase password{"Form_PasswordDialog"};
    LocalizedForm about{"Form_About", &log};
    LocalizedForm find{"Form_Find", &log};
    LocalizedForm preferences{"Form_Preferences", &log};

    Windows() {
        for (const auto& n : kMainCaptions) {
            main.Add(n);
        }
        for (const auto& n : kMainHints) {
            main.Add(n);
        }
        for (const auto& n : kMainAccessibleNames) {
            main.Add(n);
        }
        for (const auto& n : kFindAccessibleNames) {
            find.Add(n);
        }
        for (const auto& n : kCipherCaptions) {
            cipher.Add(n);
        }
        for (const auto& n : kAboutCaptions) {
            about.Add(n);
        }
        for (const auto& n : kFindCaptions) {
            find.Add(n);
        }
        find.Control("RadioGroup_Scope").items = TPublishedStringList({"Selected branch", "Everywhere"});
        for (const auto& n : kPreferencesCaptions) {
            preferences.Add(n);
        }
        preferences.Control("RadioGroup_CipherScheme").items = TPublishedStringList({"Strong", "Compatible"});
    }
    std::vector<TPublishedObject*> All() { return {&main, &cipher, &password, &about, &find, &preferences}; }
};

// All texts a language file put on the windows, by component, for comparisons between languages.
std::map<std::string, std::string> CollectTexts(Windows& w) {
    std::map<std::string, std::string> texts;
    for (LocalizedForm* form : {&w.main, &w.cipher, &w.about, &w.find, &w.preferences}) {
        if (form != &w.main) { // the main window's caption comes from a message
            texts[form->GetName()] = form->caption;
        }
        for (const auto& control : form->controls) {
            texts[control->GetName()] = control->caption + control->hint + control->accessibleName;
        }
    }
    const auto& items = w.find.Control("RadioGroup_Scope").items;
    for (int i = 0; i < items.Count(); ++i) {
        texts["Scope item " + std::to_string(i)] = items.Get(i);
    }
    return texts;
}

class ShippedFilesTest : public ::testing::TestWithParam<TLanguage> {};

TEST_P(ShippedFilesTest, LanguageFileCoversEveryWindowComponentAndMessage) {
    Windows w;
    TLXLocaler localer;
    localer.LanguageFolder = LUDEX_BIN_DIR;
    localer.Language = GetParam();
    localer.RegisterForms(w.All());
    localer.LoadCurrentLanguage();

    // Notified from the last created window to the first; the unlock dialog is not a client.
    EXPECT_EQ(w.log, (std::vector<std::string>{"Form_Preferences", "Form_Find", "Form_About",
                                               "Form_CipherDialog", "Form_Ludex"}));
    EXPECT_EQ(localer.Bailee().CurrentPath(), "/messages/");

    for (LocalizedForm* form : {&w.cipher, &w.about, &w.find, &w.preferences}) {
        EXPECT_FALSE(form->caption.empty()) << form->GetName();
    }
    for (const auto& n : kPreferencesCaptions) {
        EXPECT_FALSE(w.preferences.Control(n).caption.empty()) << n;
    }
    for (const auto& n : kMainCaptions) {
        EXPECT_FALSE(w.main.Control(n).caption.empty()) << n;
    }
    for (const auto& n : kMainHints) {
        EXPECT_FALSE(w.main.Control(n).hint.empty()) << n;
    }
    for (const auto& n : kMenuHints) {
        EXPECT_FALSE(w.main.Control(n).hint.empty()) << n;
    }
    for (const auto& n : kMainAccessibleNames) {
        EXPECT_FALSE(w.main.Control(n).accessibleName.empty()) << n;
    }
    for (const auto& n : kFindAccessibleNames) {
        EXPECT_FALSE(w.find.Control(n).accessibleName.empty()) << n;
    }
    for (const auto& n : kCipherCaptions) {
        EXPECT_FALSE(w.cipher.Control(n).caption.empty()) << n;
    }
    for (const auto& n : kAboutCaptions) {
        EXPECT_FALSE(w.about.Control(n).caption.empty()) << n;
    }
    for (const auto& n : kFindCaptions) {
        EXPECT_FALSE(w.find.Control(n).caption.empty()) << n;
    }
    const auto& scope = w.find.Control("RadioGroup_Scope").items;
    ASSERT_EQ(scope.Count(), 2);
    EXPECT_FALSE(scope.Get(0).empty());
    EXPECT_FALSE(scope.Get(1).empty());
    EXPECT_NE(scope.Get(0), scope.Get(1));

    for (const auto& [key, placeholders] : kMessages) {
        const std::string text = localer.GetMessage(key);
        EXPECT_NE(text, "Unknown: " + key);
        EXPECT_FALSE(text.empty()) << key;
        EXPECT_EQ(Placeholders(text), placeholders) << key << ": " << text;
    }

    // Nothing in the file is misspelt: every element names a window, one of its components or
    // (inside a component) a property, and every message is a known key.
    TPropertyBailee& file = localer.Bailee();
    file.OpenPath("/");
    const IXMLNodeListPtr forms = file.Root()->GetChildNodes();
    std::set<std::string> formNames;
    for (int i = 0; i < forms->GetCount(); ++i) {
        const IXMLNodePtr form = forms->Get(i);
        formNames.insert(form->GetNodeName());
        if (form->GetNodeName() == "messages") {
            const IXMLNodeListPtr attributes = form->GetAttributeNodes();
            EXPECT_EQ(attributes->GetCount(), static_cast<int>(kMessages.size()));
            for (int a = 0; a < attributes->GetCount(); ++a) {
                EXPECT_TRUE(kMessages.count(attributes->Get(a)->GetNodeName()))
                    << attributes->Get(a)->GetNodeName();
            }
            continue;
        }
        TPublishedObject* window = nullptr;
        for (TPublishedObject* candidate : w.All()) {
            if (candidate->GetName() == form->GetNodeName()) {
                window = candidate;
            }
        }
        ASSERT_NE(window, nullptr) << form->GetNodeName();
        const IXMLNodeListPtr components = form->GetChildNodes();
        for (int c = 0; c < components->GetCount(); ++c) {
            const std::string name = components->Get(c)->GetNodeName();
            EXPECT_TRUE(window->FindComponent(name) != nullptr || name == window->GetName())
                << form->GetNodeName() << "/" << name;
        }
    }
    EXPECT_EQ(formNames, (std::set<std::string>{"Form_Ludex", "Form_CipherDialog", "Form_About", "Form_Find",
                                                "Form_Preferences", "messages"}));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, ShippedFilesTest, ::testing::Values(langEnglish, langRussian));

TEST(ShippedFilesTest, BothLanguagesUseTheSamePlaceholdersAndRussianIsTranslated) {
    std::map<TLanguage, std::map<std::string, std::string>> texts;
    std::map<TLanguage, std::map<std::string, std::string>> messages;
    for (TLanguage language : {langEnglish, langRussian}) {
        Windows w;
        TLXLocaler localer;
        localer.LanguageFolder = LUDEX_BIN_DIR;
        localer.Language = language;
        localer.RegisterForms(w.All());
        localer.LoadCurrentLanguage();
        texts[language] = CollectTexts(w);
        for (const auto& entry : kMessages) {
            messages[language][entry.first] = localer.GetMessage(entry.first);
        }
    }
    // Names that read the same in both languages.
    const std::set<std::string> sameInBoth = {"Panel_Title", "MI_English", "MI_Russian"};
    for (const auto& [component, english] : texts[langEnglish]) {
        const std::string& russian = texts[langRussian][component];
        if (sameInBoth.count(component)) {
            EXPECT_EQ(russian, english) << component;
        } else {
            EXPECT_TRUE(HasNonAscii(russian)) << component << ": " << russian;
            EXPECT_NE(russian, english) << component;
        }
    }
    for (const auto& [key, english] : messages[langEnglish]) {
        const std::string& russian = messages[langRussian][key];
        EXPECT_EQ(Placeholders(russian), Placeholders(english)) << key;
        if (key != "MainCaption") {
            EXPECT_TRUE(HasNonAscii(russian)) << key << ": " << russian;
        }
    }
}

TEST(ShippedFilesTest, SwitchingLanguageReappliesEveryText) {
    Windows w;
    TLXLocaler localer;
    localer.LanguageFolder = LUDEX_BIN_DIR;
    localer.RegisterForms(w.All());
    localer.LoadCurrentLanguage();
    const auto english = CollectTexts(w);
    const std::string englishOk = localer.GetMessage("Ok");

    localer.Language = langRussian;
    localer.LoadCurrentLanguage();
    EXPECT_NE(CollectTexts(w), english);
    EXPECT_NE(localer.GetMessage("Ok"), englishOk);
    EXPECT_EQ(localer.Bailee().CurrentPath(), "/messages/");

    // A language without a file: the error passes, the Russian texts and the cursor stay.
    localer.Language = static_cast<TLanguage>(2);
    EXPECT_THROW(localer.LoadCurrentLanguage(), EInOutError);
    EXPECT_EQ(localer.Bailee().CurrentPath(), "/messages/");
    EXPECT_EQ(localer.GetMessage("Cancel"), "Отмена");

    localer.Language = langEnglish;
    localer.LoadCurrentLanguage();
    EXPECT_EQ(CollectTexts(w), english);
    EXPECT_EQ(w.log.size(), 15u);
}

TEST(ShippedFilesTest, AMissingWindowElementStopsTheLaterWindows) {
    TempDir dir;
    Windows w;
    TLXLocaler localer;
    localer.RegisterForms(w.All());
    const std::string file =
        dir.Write("lang.xml", "<L><Form_Preferences/><Form_Find><Form_Find Caption=\"F\"/></Form_Find>"
                              "<Form_CipherDialog/><Form_Ludex/><messages/></L>");
    try {
        localer.LoadLanguage(file);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Path \"/Form_About\" not found");
    }
    EXPECT_EQ(w.log, (std::vector<std::string>{"Form_Preferences", "Form_Find", "Form_About"}));
    EXPECT_EQ(w.find.caption, "F");
}

TEST(ShippedFilesTest, LanguageComesFromTheSettingsOrTheSystem) {
    TempDir dir;
    struct Case {
        std::string root;
        const char* systemLocale;
        TLanguage expected;
    };
    const Case cases[] = {
        {"<S Locale=\"langRussian\"/>", "en_US.UTF-8", langRussian},
        {"<S Locale=\"langEnglish\"/>", "ru_RU.UTF-8", langEnglish},
        {"<S/>", "ru_RU.UTF-8", langRussian},
        {"<S/>", "en_GB.UTF-8", langEnglish},
        {"<S Locale=\"langKlingon\"/>", "ru_RU.UTF-8", langRussian}, // names no language: the system decides
        {"<S Locale=\"\"/>", "de_DE.UTF-8", langEnglish},
    };
    const char* saved = std::getenv("LC_ALL");
    const std::string original = saved ? saved : "";
    for (const Case& c : cases) {
        ::setenv("LC_ALL", c.systemLocale, 1);
        TPropertyBailee settings;
        settings.LoadFromFile(dir.Write("s.xml", c.root));
        settings.ForcePath("/documents");
        EXPECT_EQ(LanguageFromSettings(settings), c.expected) << c.root << " " << c.systemLocale;
        EXPECT_EQ(settings.CurrentPath(), "/");
    }
    if (saved) {
        ::setenv("LC_ALL", original.c_str(), 1);
    } else {
        ::unsetenv("LC_ALL");
    }
}

// The main window's two settings hooks, as the program runs them.
struct MainWindowClient : IPropertyBaileeClient {
    FakeMainWindow& window;
    explicit MainWindowClient(FakeMainWindow& w) : window(w) {}
    void LoadSettings(TPropertyBailee& bailee) override {
        bailee.ForcePath("/" + window.GetName());
        bailee.LoadComponentProperties(window);
    }
    void SaveSettings(TPropertyBailee& bailee) override {
        bailee.ForcePath("/documents");
        bailee.Current()->GetChildNodes()->Clear();
        bailee.OpenPath("/");
        bailee.WriteValue("Locale", "langRussian");
        bailee.SaveComponentProperties(window);
    }
};

TEST(ShippedFilesTest, StencilRoundTripsTheMainWindow) {
    TempDir dir;
    const std::string stencil = std::string(LUDEX_BIN_DIR) + "/ludex_Settings_Stencil.xml";
    const std::string settings = dir.File("ludex_Settings.xml");

    FakeMainWindow first;
    {
        TPropertyBailee store;
        MainWindowClient client(first);
        store.AddClient(client);
        store.Open(settings, stencil);
        EXPECT_EQ(first.bounds.Left, 10); // nothing saved yet: design values stay
        first.bounds = {40, 30, 940, 730};
        first.windowState = 2;
        first.memoWordWrap = false;
        first.askBeforeRemove = false;
        first.mainMenuBand.index = 1;
        first.commonToolsBand.index = 0;
        first.panelTreeView.width = 312;
        first.treeView.font.name = "DejaVu Sans";
        first.treeView.font.height = 15;
        first.treeView.font.style = fsBold | fsUnderline;
        first.treeView.font.color = 255;
        first.treeView.font.charset = 204;
        first.memo.font.name = "DejaVu Sans Mono";
        first.memo.font.style = fsItalic;
        store.Save();
    }
    const std::string written = ReadAll(settings);
    EXPECT_EQ(written.find("WindowPlacement"), std::string::npos);
    EXPECT_NE(written.find("<Form_Ludex MemoWordWrap=\"False\" AskBeforeRemove=\"False\" Left=\"40\" "
                           "Top=\"30\" Width=\"900\" Height=\"700\" "
                           "WindowState=\"wsMaximized\">"),
              std::string::npos)
        << written;

    FakeMainWindow second;
    TPropertyBailee store;
    MainWindowClient client(second);
    store.AddClient(client);
    store.Open(settings, stencil);
    EXPECT_EQ(second.bounds.Left, 40);
    EXPECT_EQ(second.bounds.Top, 30);
    EXPECT_EQ(second.bounds.Right, 940);
    EXPECT_EQ(second.bounds.Bottom, 730);
    EXPECT_EQ(second.windowState, 2);
    EXPECT_FALSE(second.memoWordWrap);
    EXPECT_FALSE(second.askBeforeRemove);
    EXPECT_EQ(second.mainMenuBand.index, 1);
    EXPECT_EQ(second.commonToolsBand.index, 0);
    EXPECT_EQ(second.panelTreeView.width, 312);
    EXPECT_EQ(second.treeView.font.name, "DejaVu Sans");
    EXPECT_EQ(second.treeView.font.height, 15);
    EXPECT_EQ(second.treeView.font.style, fsBold | fsUnderline);
    EXPECT_EQ(second.treeView.font.color, 255);
    EXPECT_EQ(second.treeView.font.charset, 204);
    EXPECT_EQ(second.memo.font.name, "DejaVu Sans Mono");
    EXPECT_EQ(second.memo.font.style, fsItalic);

    // Saving again from what was loaded writes the same file.
    store.Save();
    EXPECT_EQ(ReadAll(settings), written);
}

} // namespace
