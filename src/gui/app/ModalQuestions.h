#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QDialog;
class QWidget;

namespace ludex {

enum class TAnswer { Yes, No, Cancel };
enum class TQuestionButtons { YesNo, YesNoCancel };

// What a save dialog with a choice of file types returned: the file and the index of the filter
// (the file type) the user chose.
struct TSaveChoice {
    QString fileName;
    int filter = 0;
};

// Every modal question the program asks goes through this one seam: message boxes, the file and
// font dialogs, and the password dialogs. The program installs the Qt implementation; GUI tests
// install scripted answers, so that no test ever waits for a person.
class IModalQuestions {
public:
    virtual ~IModalQuestions() = default;

    // A confirmation box; closing it counts as Cancel (or No where there is no Cancel).
    virtual TAnswer Ask(QWidget* parent, const QString& text, TQuestionButtons buttons) = 0;
    // A question box whose buttons carry `choices` in order; the last one is the cancelling
    // choice. Returns the index of the choice taken; closing the box takes the last.
    virtual int Choose(QWidget* parent, const QString& text, const QStringList& choices) = 0;
    // A plain message box with an OK button.
    virtual void Inform(QWidget* parent, const QString& text) = 0;
    // An error box titled with the application title, with the error sign and an OK button.
    virtual void ShowError(QWidget* parent, const QString& text) = 0;
    // The open and save dialogs; nullopt when the user cancels.
    virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& directory,
                                                const QString& filter) = 0;
    virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& fileName,
                                                const QString& filter, const QString& defaultSuffix) = 0;
    // A save dialog whose filter chooses what is written: starts with `filter` number `selected`
    // (counting the "description|pattern" pairs from 0); a name typed without an extension gets
    // the suffix of the chosen filter (`suffixes` has one per filter). nullopt when the user cancels.
    virtual std::optional<TSaveChoice> SaveFileOfType(QWidget* parent, const QString& fileName,
                                                      const QString& filter, const QStringList& suffixes,
                                                      int selected) = 0;
    // The font dialog; nullopt when the user cancels.
    virtual std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial) = 0;
    // Runs a dialog of the program modally and returns its result (QDialog::Accepted or Rejected).
    virtual int Exec(QDialog& dialog) = 0;
};

// The Qt implementation: QMessageBox, QFileDialog, QFontDialog and QDialog::exec.
class TQtModalQuestions : public IModalQuestions {
public:
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

// The seam in force. Until something is installed it is a TQtModalQuestions.
IModalQuestions& ModalQuestions();
// Installs another implementation (tests); returns the previous one.
std::unique_ptr<IModalQuestions> SetModalQuestions(std::unique_ptr<IModalQuestions> questions);

// The application title, used for message boxes and the task bar.
inline const char* kApplicationTitle = "Ludex";

} // namespace ludex
