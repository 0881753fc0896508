// Export and print from the window: the same bytes as ludex-cli, the question before plain text of
// encrypted branches leaves the program, and pages that hold every title and memo in order.
#include "BranchTestSupport.h"

#include "gui/app/ExportCommands.h"
#include "gui/app/ProgramWindows.h"
#include "support/CliProcess.h"

#include <QFile>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTextDocument>

#include <filesystem>

namespace ludex::test {
namespace {

// Cyrillic, emoji and markup characters of text, Markdown and HTML in titles and memos; "Vault"
// and "Locked" get encrypted by the tests.
const std::string kContent =
    "<note title=\"Кириллица\" memo=\"Привет, мир&#xD;&#xA;вторая строка\">"
    "<note title=\"Emoji 😀 &lt;b&gt;\" memo=\"🎉 *bold* &lt;i&gt;&amp;amp;&lt;/i&gt;&#xA;# not a "
    "heading\"/></note>"
    "<note title=\"Vault\" memo=\"vault memo\"><note title=\"Vault child\" memo=\"deep\"/></note>"
    "<note title=\"Locked\" memo=\"never shown\"><note title=\"Locked child\" memo=\"never\"/></note>"
    "<note title=\"Last &amp; _least_\" memo=\"1. end\"/>";

constexpr int kText = 0, kMarkdown = 1, kHtml = 2;

class ExportCommandsTest : public BranchTest {
protected:
    // Opens the document and encrypts "Locked" (locked at once, password "pw") and "Vault"
    // (left unlocked, password "pw2") with the compatible scheme, which is quick; saves it.
    TTreeNode* OpenWithEncryption() {
        Start();
        TTreeNode* root = Open("notes.ldx", Doc("Заметки 📓 &lt;&amp;&gt;", kContent));
        Encrypt(Find(root, {"Locked"}), "pw", TLock::AtOnce, TCipherScheme::Compatible);
        Encrypt(Find(root, {"Vault"}), "pw2", TLock::Later, TCipherScheme::Compatible);
        Select(root);
        Window().MI_Save->trigger();
        EXPECT_TRUE(Questions().Errors.empty());
        return root;
    }

    // Runs an export command with the file and the file type the save dialog returns, and the
    // answer (if any) to the question about encrypted branches.
    void Export(QAction* command, const std::string& file, int type, std::optional<TAnswer> answer) {
        Questions().SaveChoices.push_back(TSaveChoice{QString::fromStdString(file), type});
        if (answer) {
            Questions().Answers.push_back(*answer);
        }
        command->trigger();
        EXPECT_TRUE(Questions().Answers.empty()) << "the question was asked";
        EXPECT_TRUE(Questions().SaveChoices.empty());
    }

    // Prints through the print dialog to a PDF file, with the dialog's range.
    void PrintToPdf(const std::string& pdf, QPrinter::PrintRange range) {
        Questions().Dialogs.push_back([pdf, range](QDialog& dialog) {
            QPrinter* printer = dynamic_cast<QPrintDialog&>(dialog).printer();
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(QString::fromStdString(pdf));
            printer->setPrintRange(range);
            return int(QDialog::Accepted);
        });
        Window().MI_Print->trigger();
        EXPECT_TRUE(Questions().Dialogs.empty());
        EXPECT_TRUE(Questions().Errors.empty()) << Questions().Errors.front().toStdString();
    }

    // The text of a PDF file through pdftotext, or nothing when pdftotext is not installed.
    static std::optional<std::string> PdfText(const std::string& pdf) {
        const QString tool = QStandardPaths::findExecutable("pdftotext");
        if (tool.isEmpty()) {
            return std::nullopt;
        }
        QProcess process;
        process.start(tool, {"-enc", "UTF-8", QString::fromStdString(pdf), "-"});
        EXPECT_TRUE(process.waitForFinished(30000));
        return process.readAllStandardOutput().toStdString();
    }

    // Whether the texts occur in `text` one after the other.
    static ::testing::AssertionResult InOrder(const std::string& text,
                                              const std::vector<std::string>& parts) {
        size_t from = 0;
        for (const std::string& part : parts) {
            const size_t at = text.find(part, from);
            if (at == std::string::npos) {
                return ::testing::AssertionFailure() << "\"" << part << "\" not found in order in:\n" << text;
            }
            from = at + part.size();
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(ExportCommandsTest, WindowAndCliExportTheSameBytes) {
    OpenWithEncryption();
    const std::string document = PathOf("notes.ldx");
    const std::string password = WriteFile("pw2.txt", "pw2\n");
    const std::vector<std::pair<int, std::string>> formats = {
        {kText, "text"}, {kMarkdown, "markdown"}, {kHtml, "html"}};
    for (const auto& [type, name] : formats) {
        const std::string file = PathOf("window." + name);
        Export(Window().MI_ExportDocument, file, type, TAnswer::Yes);
        const ludex::testing::TCliResult cli =
            ludex::testing::RunCli({"export", document, "--format", name, "--password-file", password});
        ASSERT_EQ(cli.status, 0) << cli.err;
        const std::string written = ReadFile(file);
        EXPECT_EQ(written, cli.out) << name;
        // The unlocked branch is there in plain text, the locked one as its title only.
        EXPECT_NE(written.find("vault memo"), std::string::npos) << name;
        EXPECT_NE(written.find("(locked)"), std::string::npos) << name;
        for (const char* secret : {"never shown", "Locked child"}) {
            EXPECT_EQ(written.find(secret), std::string::npos) << name;
        }
    }
    EXPECT_NE(ReadFile(PathOf("window.html")).find("<h3>Emoji 😀 &lt;b&gt;</h3>"), std::string::npos);
    EXPECT_EQ(ReadFile(PathOf("window.html")).find("<i>"), std::string::npos) << "markup is escaped";
}

// The file name's extension chooses the format; the dialog's file type only where there is none
// that names a format.
TEST_F(ExportCommandsTest, FormatFollowsTheFileNamesExtension) {
    Start();
    Select(Open("plain.ldx", Doc("Plain", "<note title=\"Child\" memo=\"m\"/>")));
    struct Case {
        std::string file;
        int type;
        std::string begins;
    };
    const Case cases[] = {
        {"a.html", kText, "<!DOCTYPE html>"}, {"b.HTM", kMarkdown, "<!DOCTYPE html>"},
        {"c.md", kHtml, "# Plain"},           {"d.markdown", kText, "# Plain"},
        {"e.txt", kHtml, "Plain\n"},          {"g.notes", kHtml, "<!DOCTYPE html>"},
    };
    for (const Case& c : cases) {
        Export(Window().MI_ExportDocument, PathOf(c.file), c.type, std::nullopt);
        EXPECT_EQ(ReadFile(PathOf(c.file)).substr(0, c.begins.size()), c.begins) << c.file;
    }
}

// Plain text of an encrypted branch is written only after a Yes; a branch with no unlocked
// encrypted branch in or around it is exported without a question.
TEST_F(ExportCommandsTest, EncryptedBranchesAreWrittenOnlyAfterTheQuestion) {
    TTreeNode* root = OpenWithEncryption();
    struct Case {
        std::vector<std::string> branch; // the path of the selected branch
        std::optional<TAnswer> answer;   // none: no question
        bool written;
    };
    const Case cases[] = {
        {{"Vault"}, TAnswer::No, false},
        {{"Vault", "Vault child"}, TAnswer::No, false},
        {{"Vault", "Vault child"}, TAnswer::Yes, true},
        {{"Кириллица"}, std::nullopt, true},
        {{"Locked"}, std::nullopt, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string file = PathOf("branch" + std::to_string(n++) + ".txt");
        Questions().Asked.clear();
        Select(Find(root, c.branch));
        Export(Window().MI_ExportBranch, file, kText, c.answer);
        EXPECT_EQ(std::filesystem::exists(file), c.written) << c.branch.back();
        if (c.answer) {
            ASSERT_EQ(Questions().Asked.size(), 1u);
            EXPECT_EQ(Questions().Asked[0].toStdString(), Message("ExportEncryptedQuery"));
        } else {
            EXPECT_TRUE(Questions().Asked.empty()) << c.branch.back();
        }
    }
    EXPECT_EQ(ReadFile(PathOf("branch2.txt")), "Vault child\n  | deep\n");
    EXPECT_EQ(ReadFile(PathOf("branch4.txt")), "Locked (locked)\n");

    // A cancelled dialog asks nothing and writes nothing; a name without extension gets the type's.
    Questions().SaveChoices.push_back(std::nullopt);
    Window().MI_ExportDocument->trigger();
    Questions().SaveChoices.push_back(TSaveChoice{QString::fromStdString(PathOf("bare")), kMarkdown});
    Select(Find(root, {"Кириллица"}));
    Window().MI_ExportBranch->trigger();
    EXPECT_EQ(ReadFile(PathOf("bare.md")),
              "# Кириллица\n\nПривет, мир\\\nвторая строка\n\n## Emoji 😀 \\<b>\n\n"
              "🎉 \\*bold\\* \\<i>\\&amp;\\</i>\\\n\\# not a heading\n");
    EXPECT_TRUE(Questions().Errors.empty());
}

// A file that cannot be written is an error, and the file that was there stays as it was.
TEST_F(ExportCommandsTest, FailedExportLeavesTheOldFile) {
    Select(Find(OpenWithEncryption(), {"Кириллица"}));
    const std::string old = WriteFile("old.txt", "old bytes");
    std::filesystem::permissions(old, std::filesystem::perms::owner_read);
    Export(Window().MI_ExportBranch, old, kText, std::nullopt);
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find("old.txt"), std::string::npos);
    EXPECT_EQ(ReadFile(old), "old bytes");
}

TEST_F(ExportCommandsTest, PrintingToPdfHoldsEveryTitleAndMemoInOrder) {
    TTreeNode* root = OpenWithEncryption();
    const std::string pdf = PathOf("all.pdf");
    Questions().Answers.push_back(TAnswer::Yes); // the unlocked "Vault" is printed
    PrintToPdf(pdf, QPrinter::AllPages);
    ASSERT_TRUE(std::filesystem::exists(pdf));
    const auto text = PdfText(pdf);
    if (!text) {
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed, so the PDF cannot be read back";
    }
    EXPECT_TRUE(InOrder(*text, {"Заметки", "Кириллица", "Привет, мир", "вторая строка", "Emoji", "<b>",
                                "*bold* <i>&amp;</i>", "# not a heading", "Vault", "vault memo",
                                "Vault child", "deep", "Locked (locked)", "Last & _least_", "1. end"}));
    EXPECT_EQ(text->find("never"), std::string::npos);

    // The selected branch alone, in Russian: its locked note in the language of the window.
    Window().MI_Russian->trigger();
    Select(Find(root, {"Locked"}));
    PrintToPdf(PathOf("branch.pdf"), QPrinter::Selection);
    const auto branch = PdfText(PathOf("branch.pdf"));
    ASSERT_TRUE(branch);
    EXPECT_TRUE(InOrder(*branch, {"Locked", Message("LockedNote")}));
    EXPECT_EQ(branch->find("Кириллица"), std::string::npos);
    EXPECT_EQ(Message("LockedNote"), "(заблокирована)");
}

// Printing to a file that cannot be made is an error, never a print that seems to succeed.
TEST_F(ExportCommandsTest, PrintToAnUnwritableFileIsAnError) {
    Select(Find(OpenWithEncryption(), {"Кириллица"}));
    const std::string pdf = PathOf("no/such/folder/x.pdf");
    Questions().Dialogs.push_back([pdf](QDialog& dialog) {
        QPrinter* printer = dynamic_cast<QPrintDialog&>(dialog).printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(QString::fromStdString(pdf));
        printer->setPrintRange(QPrinter::Selection);
        return int(QDialog::Accepted);
    });
    Window().MI_Print->trigger();
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_NE(Questions().Errors[0].toStdString().find("x.pdf"), std::string::npos);
}

TEST_F(ExportCommandsTest, PrintPreviewAsksFirstAndDrawsPages) {
    TTreeNode* root = OpenWithEncryption();
    Select(Find(root, {"Vault"}));
    Questions().Answers.push_back(TAnswer::No);
    Window().MI_PrintPreview->trigger(); // no preview: the dialog would be unexpected
    EXPECT_EQ(Questions().Asked.back().toStdString(), Message("PrintEncryptedQuery"));

    Select(Find(root, {"Кириллица"}));
    int pages = 0;
    Questions().Dialogs.push_back([&pages](QDialog& dialog) {
        auto* preview = dialog.findChild<QPrintPreviewWidget*>();
        preview->updatePreview();
        pages = preview->pageCount();
        return int(QDialog::Rejected);
    });
    Window().MI_PrintPreview->trigger();
    EXPECT_GE(pages, 1);
    EXPECT_TRUE(Questions().Errors.empty());

    const auto printed = Windows().ExportCommands->PrintedDocument(Find(root, {"Кириллица"})->Element());
    EXPECT_EQ(printed->toPlainText().toStdString(),
              "Кириллица\nПривет, мир\nвторая строка\nEmoji 😀 <b>\n🎉 *bold* <i>&amp;</i>\n# not a heading");
}

} // namespace
} // namespace ludex::test
