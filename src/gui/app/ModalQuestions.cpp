#include "gui/app/ModalQuestions.h"

#include "core/base/ErrorText.h"
#include "gui/app/QtText.h"

#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <vector>

namespace ludex {

namespace {
std::unique_ptr<IModalQuestions>& Installed() {
    static std::unique_ptr<IModalQuestions> questions = std::make_unique<TQtModalQuestions>();
    return questions;
}

// Filters are written as "description|pattern|description|pattern"; Qt wants "description (pattern);;...".
QStringList QtFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        entries << parts[i] + " (" + patterns + ")";
    }
    return entries;
}

QString QtFilter(const QString& filter) {
    return QtFilters(filter).join(";;");
}
} // namespace

IModalQuestions& ModalQuestions() {
    return *Installed();
}

std::unique_ptr<IModalQuestions> SetModalQuestions(std::unique_ptr<IModalQuestions> questions) {
    std::swap(Installed(), questions);
    return questions;
}

TAnswer TQtModalQuestions::Ask(QWidget* parent, const QString& text, TQuestionButtons buttons) {
    const bool withCancel = buttons == TQuestionButtons::YesNoCancel;
    QMessageBox box(QMessageBox::Question, kApplicationTitle, text,
                    withCancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                               : QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return TAnswer::Yes;
    case QMessageBox::No:
        return TAnswer::No;
    default:
        return withCancel ? TAnswer::Cancel : TAnswer::No;
    }
}

int TQtModalQuestions::Choose(QWidget* parent, const QString& text, const QStringList& choices) {
    QMessageBox box(QMessageBox::Question, kApplicationTitle, text, QMessageBox::NoButton, parent);
    std::vector<QAbstractButton*> buttons;
    for (int i = 0; i < choices.size(); ++i) {
        const bool last = i + 1 == choices.size();
        buttons.push_back(
            box.addButton(choices[i], last ? QMessageBox::RejectRole : QMessageBox::AcceptRole));
    }
    if (!buttons.empty()) {
        box.setEscapeButton(buttons.back());
    }
    box.exec();
    const auto taken = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return taken == buttons.end() ? static_cast<int>(choices.size()) - 1
                                  : static_cast<int>(taken - buttons.begin());
}

void TQtModalQuestions::Inform(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, kApplicationTitle, text);
}

void TQtModalQuestions::ShowError(QWidget* parent, const QString& text) {
    // A message can quote megabytes of a broken file; the box shows an excerpt.
    QMessageBox::critical(parent, kApplicationTitle, Q(MessageForDisplay(text.toStdString())));
}

std::optional<QString> TQtModalQuestions::OpenFileName(QWidget* parent, const QString& directory,
                                                       const QString& filter) {
    QString name = QFileDialog::getOpenFileName(parent, QString(), directory, QtFilter(filter));
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name;
}

std::optional<QString> TQtModalQuestions::SaveFileName(QWidget* parent, const QString& fileName,
                                                       const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(parent, QString(), fileName, QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    // Replacing an existing file is confirmed by the dialog (Qt asks by default).
    if (!fileName.isEmpty()) {
        dialog.selectFile(fileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

std::optional<TSaveChoice> TQtModalQuestions::SaveFileOfType(QWidget* parent, const QString& fileName,
                                                             const QString& filter,
                                                             const QStringList& suffixes, int selected) {
    const QStringList filters = QtFilters(filter);
    QFileDialog dialog(parent, QString(), fileName, filters.join(";;"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const auto suffixOf = [&](int index) {
        return index >= 0 && index < suffixes.size() ? suffixes[index] : QString();
    };
    if (selected >= 0 && selected < filters.size()) {
        dialog.selectNameFilter(filters[selected]);
    }
    dialog.setDefaultSuffix(suffixOf(selected));
    // The extension a bare name gets follows the file type the user picks.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& chosen) {
        dialog.setDefaultSuffix(suffixOf(static_cast<int>(filters.indexOf(chosen))));
    });
    if (!fileName.isEmpty()) {
        dialog.selectFile(fileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const auto chosen = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
    return TSaveChoice{dialog.selectedFiles().first(), chosen < 0 ? selected : chosen};
}

std::optional<QFont> TQtModalQuestions::ChooseFont(QWidget* parent, const QFont& initial) {
    bool ok = false;
    QFont font = QFontDialog::getFont(&ok, initial, parent);
    if (!ok) {
        return std::nullopt;
    }
    return font;
}

int TQtModalQuestions::Exec(QDialog& dialog) {
    return dialog.exec();
}

} // namespace ludex
