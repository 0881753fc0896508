#include "GuiTestSupport.h"

#include "core/settings/LX_Localer.h"
#include "core/text/CodePage.h"
#include "gui/tree/BranchTree.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace ludex::test {

namespace fs = std::filesystem;

TAnswer TScriptedQuestions::Ask(QWidget*, const QString& text, TQuestionButtons buttons) {
    Asked.push_back(text);
    if (Answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return buttons == TQuestionButtons::YesNoCancel ? TAnswer::Cancel : TAnswer::No;
    }
    TAnswer answer = Answers.front();
    Answers.pop_front();
    return answer;
}

int TScriptedQuestions::Choose(QWidget*, const QString& text, const QStringList& choices) {
    Asked.push_back(text);
    ChoicesOffered.push_back(choices);
    if (Choices.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return static_cast<int>(choices.size()) - 1;
    }
    const int choice = Choices.front();
    Choices.pop_front();
    return choice;
}

void TScriptedQuestions::Inform(QWidget*, const QString& text) {
    Informed.push_back(text);
}

void TScriptedQuestions::ShowError(QWidget*, const QString& text) {
    Errors.push_back(text);
}

namespace {

// The next scripted answer to a file dialog: a name, or nothing for Cancel.
std::optional<QString> TakeFileName(std::deque<std::optional<QString>>& names, const char* dialog) {
    if (names.empty()) {
        ADD_FAILURE() << "unexpected " << dialog;
        return std::nullopt;
    }
    const bool cancelled = !names.front().has_value();
    const QString name = cancelled ? QString() : *names.front();
    names.pop_front();
    if (cancelled) {
        return std::nullopt;
    }
    return name;
}

} // namespace

std::optional<QString> TScriptedQuestions::OpenFileName(QWidget*, const QString& directory,
                                                        const QString& filter) {
    OpenDirectories.push_back(directory);
    Filters.push_back(filter);
    return TakeFileName(FileNames, "open dialog");
}

std::optional<QString> TScriptedQuestions::SaveFileName(QWidget*, const QString& fileName,
                                                        const QString& filter, const QString& defaultSuffix) {
    SaveDialogNames.push_back(fileName);
    Filters.push_back(filter);
    std::optional<QString> name = TakeFileName(FileNames, "save dialog");
    if (!name) {
        return std::nullopt;
    }
    // The dialog appends the default extension to a name typed without one.
    if (!defaultSuffix.isEmpty() && !name->section('/', -1).contains('.')) {
        *name += "." + defaultSuffix;
    }
    return name;
}

std::optional<TSaveChoice> TScriptedQuestions::SaveFileOfType(QWidget*, const QString& fileName,
                                                              const QString&, const QStringList& suffixes,
                                                              int) {
    SaveDialogNames.push_back(fileName);
    if (SaveChoices.empty()) {
        ADD_FAILURE() << "unexpected save dialog with file types";
        return std::nullopt;
    }
    std::optional<TSaveChoice> choice = SaveChoices.front();
    SaveChoices.pop_front();
    // The dialog appends the chosen type's extension to a name typed without one.
    if (choice && !choice->fileName.section('/', -1).contains('.') && choice->filter >= 0 &&
        choice->filter < suffixes.size()) {
        choice->fileName += "." + suffixes[choice->filter];
    }
    return choice;
}

std::optional<QFont> TScriptedQuestions::ChooseFont(QWidget*, const QFont&) {
    if (Fonts.empty()) {
        ADD_FAILURE() << "unexpected font dialog";
        return std::nullopt;
    }
    auto font = Fonts.front();
    Fonts.pop_front();
    return font;
}

int TScriptedQuestions::Exec(QDialog& dialog) {
    if (Dialogs.empty()) {
        ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString();
        return QDialog::Rejected;
    }
    auto run = std::move(Dialogs.front());
    Dialogs.pop_front();
    return run(dialog);
}

void TProgramTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() / ("ludex_gui_" + std::to_string(::getpid()) + "_" +
                                           info->test_suite_name() + "_" + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    for (const char* name :
         {"Language.ENG.xml", "Language.RUS.xml", "ludex_Settings_Stencil.xml", "ludex.portable"}) {
        fs::copy_file(fs::path(LUDEX_BIN_DIR) / name, folder_ / name);
    }
    auto questions = std::make_unique<TScriptedQuestions>();
    questions_ = questions.get();
    previous_ = SetModalQuestions(std::move(questions));
    RestartOnExit = false;
    SetCurrentCodePage("windows-1251");
    ::setenv("LANG", "en_US.UTF-8", 1);
    // Recovery snapshots stay in the test's folder, away from the user's and other tests'.
    ::setenv("XDG_STATE_HOME", (folder_ / "state").c_str(), 1);
}

void TProgramTest::TearDown() {
    Discard();
    SetModalQuestions(std::move(previous_));
    questions_ = nullptr;
    RestartOnExit = false;
    fs::remove_all(folder_);
}

void TProgramTest::Start(const std::string& commandLineFile) {
    Discard();
    windows_ = std::make_unique<TProgramWindows>();
    windows_->StartUp(ExecutablePath(), commandLineFile);
}

bool TProgramTest::Close() {
    if (!windows_) {
        return true;
    }
    windows_->Main->show();
    const bool closed = windows_->Main->close();
    if (closed) {
        Discard();
    }
    return closed;
}

void TProgramTest::Discard() {
    windows_.reset();
}

void TProgramTest::EditTitle(TTreeNode* node, const QString& text) {
    Window().Tree().Select(node);
    Window().Button_Rename->trigger();
    auto* editor = Window().TreeView->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << "the title is not open for editing";
    editor->setText(text);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the view commits a finished edit from its event queue
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // and lets its editor go
}

std::string TProgramTest::WriteFile(const std::string& name, const std::string& bytes) const {
    const std::string path = name.starts_with('/') ? name : PathOf(name);
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return path;
}

std::string TProgramTest::ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace ludex::test
