#pragma once

#include "core/search/TextMatch.h"
#include "core/settings/Localer.h"

#include <QDialog>
#include <QMetaObject>
#include <QPointer>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace ludex {

class TBranchTree;
class TDialogPlacement;
class TFindResults;
class TLongWork;
class TQtLocalizedForm;
class TTreeNode;

// Whether the next press of the find button starts a new search or goes on from the last match.
enum class TFindMode { Restart, GoOn };

// The find dialog: modeless, above the main window. Each press of Button_Find finds the next
// match of the search text in the branch titles and memos, in the order of the tree: a title
// match selects its node, a memo match selects the node and the matched characters in the memo.
// Locked branches are searched by their title only; nothing below them is visited.
//
// The dialog remembers where it stopped. It never keeps a node that has been deleted, and when
// the user selects another node in the meantime the next press starts a new search.
//
// Button_FindAll lists every match of the scope at once, in the order the find button visits
// them, with the count of matches and of locked branches not searched. Activating a row selects
// its match as the find button would. When the documents change the list says it is out of date;
// its rows never refer to a deleted node. A new search text, option or scope empties it.
class TForm_Find : public QDialog, public ILocalerClient {
    Q_OBJECT

public:
    explicit TForm_Find(QWidget* parent = nullptr);
    ~TForm_Find() override;

    void Localize(TLocaler& localer) override;
    TPublishedObject& Published();

    // The tree searched and the memo that shows matches; handed over each time the dialog opens.
    void SetTargets(TBranchTree* tree, QPlainTextEdit* memo);

    // Restarts the search mode and shows the dialog modelessly; texts and options stay as they were.
    // It opens where it was last left (TDialogPlacement), at first beside the main window.
    void ShowFind();
    // The search text changed: the button is enabled exactly when there is text; a new search.
    void Edit_FindWhatChange();
    // The scope changed: a new search.
    void RadioGroup_ScopeClick();
    // A key typed in the search field; Enter runs one search step. True when the key was used.
    bool Edit_FindWhatKeyPress(int key);
    // One search step. A step that runs longer than the progress delay shows its progress and can
    // be cancelled; a cancelled step leaves the selection and the place the next step starts from
    // as they were, and one during which the documents changed starts a new search next time.
    void Button_FindClick();
    void Button_CancelClick();
    // Lists every match of the scope. A search that runs longer than the progress delay shows its
    // progress and can be cancelled; a cancelled search, or one during which the documents
    // changed, leaves the list as it was.
    void Button_FindAllClick();
    // Selects the match of a row of the list as the find button would have selected it.
    void List_FindAllActivate(int row);
    bool ResultsOutOfDate() const { return resultsOutOfDate_; }
    const TFindResults& Results() const { return *results_; }
    // How long a search runs before it shows its progress.
    void SetProgressDelay(std::chrono::milliseconds delay) { progressDelay_ = delay; }
    // Restart: the next press starts a new search (button "Find"); GoOn: it goes on ("FindNext").
    void SetFindMode(TFindMode mode);
    bool Restarting() const { return restart_; }

    // The scope radio buttons, in the order of the Items: 0 "Selected branch", 1 "Everywhere".
    enum TScope { scopeSelectedBranch = 0, scopeEverywhere = 1 };
    TScope Scope() const;
    void SetScope(TScope scope);

    QLabel* Label_FindWhat = nullptr;
    QLineEdit* Edit_FindWhat = nullptr;
    QPushButton* Button_Find = nullptr;
    QPushButton* Button_Cancel = nullptr;
    QCheckBox* CheckBox_FindInTree = nullptr;
    QCheckBox* CheckBox_FindInMemos = nullptr;
    QCheckBox* CheckBox_MatchCase = nullptr;
    QCheckBox* CheckBox_WholePhrase = nullptr;
    QCheckBox* CheckBox_Regex = nullptr;
    QGroupBox* RadioGroup_Scope = nullptr;
    QRadioButton* Radio_SelectedBranch = nullptr;
    QRadioButton* Radio_Everywhere = nullptr;
    QPushButton* Button_FindAll = nullptr;
    QWidget* Panel_FindAll = nullptr; // the list with its count; shown from the first Find All
    QLabel* Label_FindAllCount = nullptr;
    QLabel* Label_OutOfDate = nullptr;
    QPushButton* Button_Refresh = nullptr;
    QTreeView* List_FindAll = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The search text prepared with the options as they are now; a bad regular expression is
    // shown and gives nothing, so that nothing is searched.
    std::unique_ptr<TTextMatcher> PrepareMatcher();
    TTextMatch Match(std::string_view text, size_t start) const;
    bool InScope(const TTreeNode* node) const;
    // The first branch below a node whose children are unmade that matches (its title, else its
    // memo unless it is locked), in the order of its nodes to be: searched in the document, and
    // only the nodes down to it made. Null when none does; nothing when `visit`, asked at each
    // branch, stops the search.
    std::optional<TTreeNode*> FirstMatchBelow(TTreeNode* node, bool inTree, bool inMemos,
                                              const std::function<bool()>& visit) const;
    // How far a search has come: the branches it visited, and those it can visit at most once
    // they have been counted.
    struct TSearchPace {
        size_t visited = 0;
        std::optional<size_t> total;
        bool countScope = true; // false: the bar only shows that the search goes on
    };
    // Counts a branch visited by a search of the scope below `root` (everywhere for null); every
    // so many, shows the progress, lets the window paint and looks at the user. False when the
    // search is to stop: cancelled, or the documents changed, so that the branch reached may be
    // gone and is not looked at again.
    bool Visit(TLongWork& work, TSearchPace& pace, TTreeNode* root);
    void SelectNode(TTreeNode* node);
    void SelectMemoMatch(const std::string& memo, const TTextMatch& match);
    // Notices of the tree; they only keep the search state in step and cannot fail.
    void OnNodeAboutToBeDeleted(TTreeNode* node) noexcept;
    void OnSelectionChanged(TTreeNode* node) noexcept;
    void Disconnect();
    static std::string MemoOf(TTreeNode* node);
    // Whether the memo control shows the stored memo's match where the stored memo has it.
    bool MemoShowsMatch(const std::string& memo, const TTextMatch& match) const;
    // The documents changed: the list no longer tells what they hold.
    void MarkResultsOutOfDate() noexcept;
    // The search text, an option or the scope changed, or the search could not start: the list
    // is emptied, so that it never shows the matches of another search.
    void ClearResults();
    void ShowResultCount();
    void LocalizeResults();

    std::unique_ptr<TQtLocalizedForm> published_;
    std::unique_ptr<TDialogPlacement> placement_;
    QPointer<TBranchTree> tree_;
    QPointer<QPlainTextEdit> memo_;
    QMetaObject::Connection deletedConnection_;
    QMetaObject::Connection selectionConnection_;
    QMetaObject::Connection memoChangeConnection_;
    std::vector<QMetaObject::Connection> changeConnections_; // changes that put the list out of date

    // The search state.
    std::unique_ptr<TTextMatcher> matcher_; // prepared anew at each press: options are read then
    bool restart_ = true;
    TTreeNode* scopeRoot_ = nullptr;
    TTreeNode* currentNode_ = nullptr;
    size_t memoPosition_ = 0;    // 0, or the 1-based byte position where the current memo goes on
    TTreeNode* found_ = nullptr; // the node the last step selected
    bool selecting_ = false;     // the dialog itself is moving the selection

    // Find All.
    TFindResults* results_ = nullptr;
    bool resultsOutOfDate_ = false;
    bool searching_ = false; // a search (a step or Find All) is running
    bool disturbed_ = false; // the documents changed while it ran
    std::chrono::milliseconds progressDelay_{500};
};

} // namespace ludex
