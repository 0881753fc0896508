#pragma once

#include <QObject>

#include <string>

class QAction;

namespace ludex {

class TForm_Find;
class TForm_Ludex;

// The main window's Find command and its Settings and Help menus: language, fonts, memo word
// wrap, reset of all settings, and the help document. Connects the menu items in its constructor.
class TViewCommands : public QObject {
    Q_OBJECT

public:
    TViewCommands(TForm_Ludex& window, TForm_Find& find);

    // The running executable's path; the help documents lie in its data folder.
    void SetExecutablePath(const std::string& path) { executablePath_ = path; }

    // Stores the memo being edited, hands the tree and memo to the find dialog and shows it.
    void MI_FindClick();
    // A language item was chosen (sender may be null): the checked item names the language, the
    // window repaints, then the language file is loaded and every localised window re-applies its
    // texts. Throws "Language is not defined" when no language item is checked.
    void OnChangeLanguageClick(QAction* sender);
    // The font dialog starts with the control's font; a confirmed choice becomes its font.
    void MI_TreeViewFontClick();
    void MI_MemoFontClick();
    void MI_WordWrapMemoClick();
    // After a Yes to "ResetSettings": every setting is dropped and the window closes through its
    // normal path; the program then starts again, and only the document list has been written.
    void MI_ResetToDefaultClick();
    // Opens the help document of the current language once; later it is selected and expanded.
    void MI_HelpTopicsClick();

    // In the data folder: the executable's name without its extension + "_" + language code +
    // ".help".
    std::string HelpFileName() const;

    // The '*' key in the tree expands the selected branch and everything below it, down to the
    // tree's level limit (TBranchTree::kMostOpenLevels); the status bar says when the limit kept
    // deeper levels closed. A level the view opens by itself beyond the limit is closed again.
    void ExpandAllClick();
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TForm_Ludex& window_;
    TForm_Find& find_;
    std::string executablePath_;
};

} // namespace ludex
