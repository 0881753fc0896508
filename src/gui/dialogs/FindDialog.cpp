#include "gui/dialogs/FindDialog.h"

#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LongWork.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/DialogFrame.h"
#include "gui/dialogs/DialogPlacement.h"
#include "gui/dialogs/FindResults.h"
#include "gui/dialogs/NamedWidget.h"
#include "gui/properties/QtPublished.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/TreeViewManager.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeView>
#include <QVBoxLayout>

#include <functional>
#include <optional>

namespace ludex {

namespace {

// The memo control shows a stored memo with every CR LF, lone CR and lone LF as one line break
// and counts UTF-16 units; this is the control position of the first n bytes of the stored memo.
int ControlPosition(std::string_view memo, size_t n) {
    n = std::min(n, memo.size());
    size_t pairs = 0;
    for (size_t i = 1; i < n; ++i) {
        if (memo[i - 1] == '\r' && memo[i] == '\n') {
            ++pairs;
        }
    }
    return static_cast<int>(Utf16Length(memo, n) - pairs);
}

} // namespace

std::string TForm_Find::MemoOf(TTreeNode* node) {
    const TDomNode element = ElementOf(node);
    return element ? MemoAccess.Read(element) : std::string();
}

TForm_Find::TForm_Find(QWidget* parent) : QDialog(parent, kDialogFrame) {
    setObjectName("Form_Find");
    setWindowTitle("Find");
    setModal(false);

    Label_FindWhat = NewNamed<QLabel>("Label_FindWhat", "Find what:", this);
    Edit_FindWhat = NewNamed<QLineEdit>("Edit_FindWhat", this);
    Label_FindWhat->setBuddy(Edit_FindWhat);

    CheckBox_FindInTree = NewNamed<QCheckBox>("CheckBox_FindInTree", "Find in tree captions", this);
    CheckBox_FindInTree->setChecked(true);
    CheckBox_FindInMemos = NewNamed<QCheckBox>("CheckBox_FindInMemos", "Find in memos", this);
    CheckBox_FindInMemos->setChecked(true);
    CheckBox_MatchCase = NewNamed<QCheckBox>("CheckBox_MatchCase", "Match case", this);
    CheckBox_WholePhrase = NewNamed<QCheckBox>("CheckBox_WholePhrase", "Match whole phrase only", this);
    CheckBox_Regex = NewNamed<QCheckBox>("CheckBox_Regex", "Regular expression", this);

    RadioGroup_Scope = NewNamed<QGroupBox>("RadioGroup_Scope", "Scope", this);
    auto* scopeLayout = new QHBoxLayout(RadioGroup_Scope); // two columns
    Radio_SelectedBranch = new QRadioButton("Selected branch", RadioGroup_Scope);
    Radio_Everywhere = new QRadioButton("Everywhere", RadioGroup_Scope);
    Radio_Everywhere->setChecked(true);
    scopeLayout->addWidget(Radio_SelectedBranch);
    scopeLayout->addWidget(Radio_Everywhere);

    Button_Find = NewNamed<QPushButton>("Button_Find", "Find", this);
    Button_Find->setEnabled(false);
    Button_FindAll = NewNamed<QPushButton>("Button_FindAll", "Find All", this);
    Button_FindAll->setEnabled(false);
    Button_Cancel = NewNamed<QPushButton>("Button_Cancel", "Cancel", this);

    Panel_FindAll = NewNamed<QWidget>("Panel_FindAll", this);
    Label_FindAllCount = NewNamed<QLabel>("Label_FindAllCount", Panel_FindAll);
    Label_OutOfDate = NewNamed<QLabel>("Label_OutOfDate", Panel_FindAll);
    Label_OutOfDate->setWordWrap(true);
    Button_Refresh = NewNamed<QPushButton>("Button_Refresh", "Refresh", Panel_FindAll);
    results_ = new TFindResults(this);
    List_FindAll = NewNamed<QTreeView>("List_FindAll", Panel_FindAll);
    List_FindAll->setModel(results_);
    List_FindAll->setRootIsDecorated(false);
    List_FindAll->setUniformRowHeights(true); // long lists scroll without measuring every row
    List_FindAll->setAllColumnsShowFocus(true);
    List_FindAll->setSelectionMode(QAbstractItemView::SingleSelection);
    List_FindAll->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List_FindAll->setItemDelegateForColumn(TFindResults::colExcerpt, new TExcerptDelegate(List_FindAll));
    List_FindAll->header()->setStretchLastSection(true);
    // The short columns follow their contents and headers, in either language; the excerpt takes
    // the rest. The header measures only the rows shown (by default it would measure a thousand
    // rows of every column each time the list is filled or shown), so long lists stay quick.
    for (int column = 0; column < TFindResults::colExcerpt; ++column) {
        List_FindAll->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    List_FindAll->header()->setResizeContentsPrecision(0);
    auto* resultsLayout = new QVBoxLayout(Panel_FindAll);
    resultsLayout->setContentsMargins(0, 0, 0, 0);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(Label_FindAllCount);
    countRow->addStretch(1);
    countRow->addWidget(Label_OutOfDate, 2);
    countRow->addWidget(Button_Refresh);
    resultsLayout->addLayout(countRow);
    resultsLayout->addWidget(List_FindAll, 1);
    Label_OutOfDate->hide();
    Button_Refresh->hide();
    Panel_FindAll->hide();

    // Enter in the search field and in the list is handled there; no button takes it as the
    // default button.
    for (QPushButton* button : {Button_Find, Button_FindAll, Button_Cancel, Button_Refresh}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label_FindWhat, 0, 0);
    grid->addWidget(Edit_FindWhat, 0, 1);
    auto* options = new QVBoxLayout;
    options->addWidget(CheckBox_FindInTree);
    options->addWidget(CheckBox_FindInMemos);
    options->addWidget(CheckBox_MatchCase);
    options->addWidget(CheckBox_WholePhrase);
    options->addWidget(CheckBox_Regex);
    grid->addLayout(options, 1, 0, 1, 2);
    grid->addWidget(RadioGroup_Scope, 2, 0, 1, 2);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Button_Find);
    buttons->addWidget(Button_FindAll);
    buttons->addWidget(Button_Cancel);
    buttons->addStretch(1);
    grid->addLayout(buttons, 0, 2, 3, 1);
    grid->addWidget(Panel_FindAll, 3, 0, 1, 3);
    grid->setRowStretch(3, 1);

    ConnectCommand(Edit_FindWhat, &QLineEdit::textChanged, this, [this] {
        Edit_FindWhatChange();
        ClearResults(); // showing the dialog again keeps the list of the same search
    });
    ConnectCommand(Button_Find, &QPushButton::clicked, this, [this] { Button_FindClick(); });
    // The list holds the matches of the search as it is set now, or none.
    for (QCheckBox* option : {CheckBox_FindInTree, CheckBox_FindInMemos, CheckBox_MatchCase,
                              CheckBox_WholePhrase, CheckBox_Regex}) {
        ConnectCommand(option, &QCheckBox::toggled, this, [this] { ClearResults(); });
    }
    ConnectCommand(Button_Cancel, &QPushButton::clicked, this, [this] { Button_CancelClick(); });
    ConnectCommand(Button_FindAll, &QPushButton::clicked, this, [this] { Button_FindAllClick(); });
    ConnectCommand(Button_Refresh, &QPushButton::clicked, this, [this] { Button_FindAllClick(); });
    ConnectCommand(List_FindAll, &QTreeView::activated, this,
                   [this](const QModelIndex& index) { List_FindAllActivate(index.row()); });
    for (QRadioButton* radio : {Radio_SelectedBranch, Radio_Everywhere}) {
        ConnectCommand(radio, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked) {
                RadioGroup_ScopeClick();
            }
        });
    }
    Edit_FindWhat->installEventFilter(this);

    published_ = std::make_unique<TQtLocalizedForm>(*this, *this);
    placement_ = std::make_unique<TDialogPlacement>(*this, "/Form_Find");
}

TForm_Find::~TForm_Find() {
    Disconnect();
    LanguageLocaler().RemoveClient(*published_);
}

TPublishedObject& TForm_Find::Published() {
    return *published_;
}

void TForm_Find::Localize(TLocaler& localer) {
    localer.LocalizeForm(*published_);
    // The find button's caption is a message; it follows the language like the other texts.
    localer.OpenPath("/messages");
    SetFindMode(restart_ ? TFindMode::Restart : TFindMode::GoOn);
    LocalizeResults();
}

void TForm_Find::Disconnect() {
    disconnect(deletedConnection_);
    disconnect(selectionConnection_);
    deletedConnection_ = {};
    selectionConnection_ = {};
    for (const QMetaObject::Connection& connection : changeConnections_) {
        disconnect(connection);
    }
    changeConnections_.clear();
}

void TForm_Find::SetTargets(TBranchTree* tree, QPlainTextEdit* memo) {
    if (tree != tree_) {
        Disconnect();
        scopeRoot_ = currentNode_ = found_ = nullptr;
        restart_ = true;
        tree_ = tree;
        if (tree != nullptr) {
            deletedConnection_ =
                ConnectNotice(tree, &TBranchTree::NodeAboutToBeDeleted, this,
                              [this](TTreeNode* node) noexcept { OnNodeAboutToBeDeleted(node); });
            if (QTreeView* view = tree->View(); view != nullptr && view->selectionModel() != nullptr) {
                selectionConnection_ =
                    ConnectNotice(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
                                  [this](const QModelIndex& current, const QModelIndex&) noexcept {
                                      OnSelectionChanged(tree_->NodeAt(current));
                                  });
            }
            // Every change of a title, a picture (a lock, a modified mark) or of the structure.
            auto changed = [this]() noexcept { MarkResultsOutOfDate(); };
            changeConnections_ = {
                ConnectNotice(tree, &QAbstractItemModel::dataChanged, this, changed),
                ConnectNotice(tree, &QAbstractItemModel::rowsInserted, this, changed),
                ConnectNotice(tree, &QAbstractItemModel::rowsRemoved, this, changed),
                ConnectNotice(tree, &QAbstractItemModel::rowsMoved, this, changed),
                ConnectNotice(tree, &QAbstractItemModel::layoutChanged, this, changed),
                ConnectNotice(tree, &QAbstractItemModel::modelReset, this, changed),
            };
        }
        MarkResultsOutOfDate();
    }
    if (memo != memo_) {
        disconnect(memoChangeConnection_);
        memoChangeConnection_ = {};
        memo_ = memo;
        if (memo != nullptr) {
            // An edit made in the memo. Showing another branch's memo is no change: the control
            // replaces its text with undo turned off and then clears its modified state.
            memoChangeConnection_ =
                ConnectNotice(memo, &QPlainTextEdit::textChanged, this, [this]() noexcept {
                    const QTextDocument* text = memo_ ? memo_->document() : nullptr;
                    if (text != nullptr && text->isUndoRedoEnabled() && text->isModified()) {
                        MarkResultsOutOfDate();
                    }
                });
        }
    }
}

void TForm_Find::ShowFind() {
    Edit_FindWhatChange();
    placement_->Place();
    show();
    raise();
    activateWindow();
    Edit_FindWhat->setFocus();
}

void TForm_Find::Edit_FindWhatChange() {
    Button_Find->setEnabled(!Edit_FindWhat->text().isEmpty());
    Button_FindAll->setEnabled(!Edit_FindWhat->text().isEmpty());
    SetFindMode(TFindMode::Restart);
}

void TForm_Find::RadioGroup_ScopeClick() {
    SetFindMode(TFindMode::Restart);
    ClearResults();
}

bool TForm_Find::Edit_FindWhatKeyPress(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        Button_FindClick();
        return true;
    }
    return false;
}

bool TForm_Find::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit_FindWhat && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        bool used = false;
        // A key whose command failed has been used all the same.
        if (!RunCommand(*Edit_FindWhat, [&] { used = Edit_FindWhatKeyPress(key); }) || used) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm_Find::Button_CancelClick() {
    close();
}

void TForm_Find::SetFindMode(TFindMode mode) {
    restart_ = mode == TFindMode::Restart;
    if (restart_) {
        // Nothing of a finished or abandoned search is kept.
        scopeRoot_ = currentNode_ = found_ = nullptr;
        memoPosition_ = 0;
    }
    Button_Find->setText(Q(LanguageLocaler().GetMessage(restart_ ? "Find" : "FindNext")));
}

TForm_Find::TScope TForm_Find::Scope() const {
    return Radio_SelectedBranch->isChecked() ? scopeSelectedBranch : scopeEverywhere;
}

void TForm_Find::SetScope(TScope scope) {
    (scope == scopeSelectedBranch ? Radio_SelectedBranch : Radio_Everywhere)->setChecked(true);
}

std::unique_ptr<TTextMatcher> TForm_Find::PrepareMatcher() {
    const std::string pattern = Edit_FindWhat->text().toStdString();
    try {
        return std::make_unique<TTextMatcher>(pattern,
                                              TMatchOptions{.matchCase = CheckBox_MatchCase->isChecked(),
                                                            .wholePhrase = CheckBox_WholePhrase->isChecked(),
                                                            .regex = CheckBox_Regex->isChecked()});
    } catch (const ERegexError& e) {
        ModalQuestions().ShowError(
            this, Q(LanguageLocaler().FormatMessage("RegexError",
                                                    {std::to_string(e.CharacterPosition()), e.Problem()})));
        return nullptr;
    }
}

TTextMatch TForm_Find::Match(std::string_view text, size_t start) const {
    return matcher_->Find(text, start);
}

bool TForm_Find::InScope(const TTreeNode* node) const {
    return node != nullptr &&
           (scopeRoot_ == nullptr || node == scopeRoot_ || node->HasAsAncestor(scopeRoot_));
}

std::optional<TTreeNode*> TForm_Find::FirstMatchBelow(TTreeNode* node, bool inTree, bool inMemos,
                                                      const std::function<bool()>& visit) const {
    TBranchWalk walk(ElementOf(node), node->ChildOrder());
    for (bool more = walk.Next(); more;) {
        if (!visit()) {
            return std::nullopt;
        }
        const TBranch& branch = walk.Current();
        if ((inTree && Match(branch.title, 1)) ||
            (!branch.locked && inMemos && Match(MemoAccess.Read(branch.element), 1))) {
            return NodeOfBranch(node, branch.element);
        }
        more = branch.locked ? walk.Skip() : walk.Next();
    }
    return nullptr;
}

void TForm_Find::SelectNode(TTreeNode* node) {
    found_ = node;
    selecting_ = true;
    tree_->Select(node);
    selecting_ = false;
}

void TForm_Find::SelectMemoMatch(const std::string& memo, const TTextMatch& match) {
    const size_t position = match.position;
    if (memo_) {
        const int start = ControlPosition(memo, position - 1);
        const int end = ControlPosition(memo, position - 1 + match.length);
        QTextCursor cursor = memo_->textCursor();
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        memo_->setTextCursor(cursor);
        memo_->ensureCursorVisible();
    }
    memoPosition_ = position + 1;
}

bool TForm_Find::MemoShowsMatch(const std::string& memo, const TTextMatch& match) const {
    if (!memo_ || match.position == 0 || match.position - 1 + match.length > memo.size()) {
        return false;
    }
    const int start = ControlPosition(memo, match.position - 1);
    const int end = ControlPosition(memo, match.position - 1 + match.length);
    // The control shows each line break as one character; every other character as it is.
    QString shown = QString::fromStdString(memo.substr(match.position - 1, match.length));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return FaithfulPlainText(*memo_->document()).mid(start, end - start) == shown;
}

void TForm_Find::Button_FindClick() {
    if (!tree_ || searching_) {
        return;
    }
    const bool inTree = CheckBox_FindInTree->isChecked();
    const bool inMemos = CheckBox_FindInMemos->isChecked();
    matcher_ = PrepareMatcher();
    if (!matcher_) {
        SetFindMode(TFindMode::Restart);
        return;
    }
    // Where the search stood, for a search that is stopped before it ends: it leaves everything
    // as it was, so that the next press searches from the same place again.
    TTreeNode* const scopeBefore = scopeRoot_;
    TTreeNode* const nodeBefore = currentNode_;
    const size_t memoPositionBefore = memoPosition_;

    if (restart_) {
        if (Scope() == scopeSelectedBranch) {
            scopeRoot_ = currentNode_ = tree_->Selected();
        } else {
            scopeRoot_ = nullptr;
            currentNode_ = tree_->FirstTopLevel();
        }
        memoPosition_ = 0;
    }

    if (memoPosition_ > 0 && currentNode_ != nullptr) {
        // Going on inside the memo of the node found last (unless it has been locked since).
        if (inMemos && !IsNodeLocked(currentNode_)) {
            const std::string memo = MemoOf(currentNode_);
            if (const TTextMatch m = Match(memo, memoPosition_)) {
                SelectMemoMatch(memo, m);
                return;
            }
        }
        memoPosition_ = 0;
        currentNode_ = IsNodeLocked(currentNode_) ? NodeAfterSubtree(*tree_, currentNode_)
                                                  : NextInPreOrder(*tree_, currentNode_);
    }

    // The walk to the next match may pass a million branches: past the progress delay it shows
    // its progress (with the message of every search), lets the window paint and can be
    // cancelled. Nothing else is done to the documents meanwhile: the window takes no input but
    // Cancel. The work ends before the match is selected or the end of the search is told.
    searching_ = true;
    disturbed_ = false;
    const auto finished = qScopeGuard([this] { searching_ = false; });
    std::optional<TLongWork> work;
    work.emplace("FindAllSearching", TCancel::Allowed, progressDelay_);
    // A step starts anywhere in the scope and ends at the next match: its bar shows that it goes
    // on, and the scope is not counted, which would take a walk of its own.
    TSearchPace pace;
    pace.countScope = false;
    const std::function<bool()> visit = [&] { return Visit(*work, pace, scopeRoot_); };
    const auto stop = [&] {
        work.reset();
        if (disturbed_) {
            // A node the search held may be gone.
            SetFindMode(TFindMode::Restart);
            return;
        }
        scopeRoot_ = scopeBefore;
        currentNode_ = nodeBefore;
        memoPosition_ = memoPositionBefore;
    };

    while (InScope(currentNode_)) {
        if (!visit()) {
            stop();
            return;
        }
        TTreeNode* node = currentNode_;
        const bool locked = IsNodeLocked(node);
        if (inTree && Match(node->Text(), 1)) {
            work.reset();
            SelectNode(node);
            SetFindMode(TFindMode::GoOn);
            if (locked) {
                currentNode_ = NodeAfterSubtree(*tree_, node);
            } else {
                memoPosition_ = 1;
            }
            return;
        }
        if (locked) {
            currentNode_ = NodeAfterSubtree(*tree_, node);
            continue;
        }
        if (inMemos) {
            const std::string memo = MemoOf(node);
            if (const TTextMatch m = Match(memo, 1)) {
                work.reset();
                SelectNode(node);
                SetFindMode(TFindMode::GoOn);
                SelectMemoMatch(memo, m);
                return;
            }
        }
        if (node->ChildrenUnmade()) {
            // The branches below have no nodes yet: they are searched in the document, and the
            // node of the first match is made and looked at again above.
            const std::optional<TTreeNode*> match = FirstMatchBelow(node, inTree, inMemos, visit);
            if (!match) {
                stop();
                return;
            }
            currentNode_ = *match != nullptr ? *match : NodeAfterSubtree(*tree_, node);
            continue;
        }
        currentNode_ = NextInPreOrder(*tree_, node);
    }
    work.reset();

    const std::string pattern = Edit_FindWhat->text().toStdString();
    SetFindMode(TFindMode::Restart);
    ModalQuestions().Inform(this, Q(LanguageLocaler().FormatMessage("FinishedFinding", {pattern})));
}

void TForm_Find::OnNodeAboutToBeDeleted(TTreeNode* node) noexcept {
    results_->ForgetWithin(node);
    MarkResultsOutOfDate();
    auto within = [node](const TTreeNode* n) {
        return n != nullptr && (n == node || n->HasAsAncestor(node));
    };
    if (within(scopeRoot_) || within(currentNode_) || within(found_)) {
        SetFindMode(TFindMode::Restart);
    }
}

void TForm_Find::OnSelectionChanged(TTreeNode* node) noexcept {
    // A selection the user made elsewhere starts a new search at the next press.
    if (!selecting_ && !restart_ && node != found_) {
        SetFindMode(TFindMode::Restart);
    }
}

} // namespace ludex
