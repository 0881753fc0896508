#pragma once

#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/ProgramWindows.h"
#include "gui/dialogs/LX_About.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QFont>
#include <QString>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Failed expectations show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace ludex::test {

// Modal questions answered from queues that a test fills before the action. A question without a
// prepared answer fails the test (and is answered Cancel), so a test never waits for a person.
class TScriptedQuestions : public IModalQuestions {
public:
    std::deque<TAnswer> Answers;
    std::deque<int> Choices;                      // for Choose: the index of the choice taken
    std::deque<std::optional<QString>> FileNames; // for the open and the save dialog alike
    std::deque<std::optional<QFont>> Fonts;
    std::deque<std::optional<TSaveChoice>> SaveChoices; // for the save dialog with a choice of file types
    // Each runs one program dialog: fills its fields, then returns what exec would.
    std::deque<std::function<int(QDialog&)>> Dialogs;

    std::vector<QString> Asked; // the texts of Ask and Choose alike
    std::vector<QStringList> ChoicesOffered;
    std::vector<QString> Informed;
    std::vector<QString> Errors;
    std::vector<QString> SaveDialogNames; // the file name each save dialog started with
    std::vector<QString> OpenDirectories; // the folder each open dialog started in
    std::vector<QString> Filters;         // the filter of each open and save dialog

    TAnswer Ask(QWidget* parent, const QString& text, TQuestionButtons buttons) override;
    int Choose(QWidget* parent, const QString& text, const QStringList& choices) override;
    void Inform(QWidget* parent, const QString& text) override;
    void ShowError(QWidget* parent, const QString& text) override;
    std::optional<QString> OpenFileName(QWidget* parent, const QString& directory,
                                        const QString& filter) override;
    std::optional<QString> SaveFileName(QWidget* parent, const QString& fileName, const QString& filter,
                                        const QString& defaultSuffix) override;
    std::optional<TSaveChoice> SaveFileOfType(QWidget* parent, const QString& fileName, const QString& filter,
                                              const QStringList& suffixes, int selected) override;
    std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial) override;
    int Exec(QDialog& dialog) override;
};

// A program in a folder of its own: the language and stencil files and the portable marker beside
// a (pretend) executable, so that its settings stay in that folder; the main window and the About
// box created and started up as the program does it. The scripted
// questions are installed for the whole test.
class TProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the windows and runs start-up, with the file named on the command line if given.
    void Start(const std::string& commandLineFile = {});
    // Closes the main window through its normal close path; true when it closed.
    bool Close();
    // Destroys the windows without asking anything (the settings are not written).
    void Discard();
    // Renames a branch as the user does: selects it, opens its title with Rename, types the text
    // and presses Enter.
    void EditTitle(TTreeNode* node, const QString& text);

    // A path inside the program's folder.
    std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }
    std::string ExecutablePath() const { return PathOf("ludex"); }
    std::string SettingsFile() const { return PathOf("ludex_Settings.xml"); }
    // Where the program keeps its recovery snapshots during the test.
    std::string RecoveryFolder() const { return PathOf("state/ludex/recovery"); }
    // Writes a file into the program's folder and returns its path.
    std::string WriteFile(const std::string& name, const std::string& bytes) const;
    std::string ReadFile(const std::string& path) const;

    TForm_Ludex& Window() { return *windows_->Main; }
    TProgramWindows& Windows() { return *windows_; }
    TScriptedQuestions& Questions() { return *questions_; }

private:
    std::filesystem::path folder_;
    TScriptedQuestions* questions_ = nullptr;
    std::unique_ptr<IModalQuestions> previous_;
    std::unique_ptr<TProgramWindows> windows_;
};

} // namespace ludex::test
