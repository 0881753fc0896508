#include "gui/app/ViewCommands.h"

#include "core/base/Exception.h"
#include "core/settings/FileLocations.h"
#include "core/settings/LX_Localer.h"
#include "core/settings/LX_PropertyBailee.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LongWork.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTreeView>

namespace ludex {

TViewCommands::TViewCommands(TForm_Ludex& window, TForm_Find& find) : window_(window), find_(find) {
    auto on = [this](QAction* action, void (TViewCommands::*handler)()) {
        ConnectCommand(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    on(window.MI_Find, &TViewCommands::MI_FindClick);
    on(window.MI_TreeViewFont, &TViewCommands::MI_TreeViewFontClick);
    on(window.MI_MemoFont, &TViewCommands::MI_MemoFontClick);
    on(window.MI_WordWrapMemo, &TViewCommands::MI_WordWrapMemoClick);
    on(window.MI_ResetToDefault, &TViewCommands::MI_ResetToDefaultClick);
    on(window.MI_HelpTopics, &TViewCommands::MI_HelpTopicsClick);
    for (QAction* language : {window.MI_English, window.MI_Russian}) {
        ConnectCommand(language, &QAction::triggered, this,
                       [this, language] { OnChangeLanguageClick(language); });
    }
    window.TreeView->installEventFilter(this);
    ConnectCommand(&window.Tree(), &TBranchTree::LevelLimitReached, this, [this](int level) {
        window_.SetStatusText(Q(LanguageLocaler().FormatMessage(
            "BranchLevelsClosed", {std::to_string(level), std::to_string(TBranchTree::kMostOpenLevels)})));
    });
    // The view opens a level by itself on the Right key or a click on the expander: a notice that
    // keeps the view within the level limit, no command of its own.
    ConnectNotice(window.TreeView, &QTreeView::expanded, this, [this](const QModelIndex& index) noexcept {
        TBranchTree& tree = window_.Tree();
        TTreeNode* node = tree.NodeAt(index);
        // Counted only up to the limit: the view may open many levels at once.
        int level = 0;
        for (TTreeNode* p = node != nullptr ? node->Parent() : nullptr;
             p != nullptr && level < TBranchTree::kMostOpenLevels; p = p->Parent()) {
            ++level;
        }
        if (node != nullptr && level >= TBranchTree::kMostOpenLevels) {
            tree.Collapse(node);
            emit tree.LevelLimitReached(level + 1);
        }
    });
}

void TViewCommands::ExpandAllClick() {
    TBranchTree& tree = window_.Tree();
    TTreeNode* node = tree.Selected();
    if (node != nullptr && IsNodeLocked(node)) {
        // Opened as its expander opens it, after its password, which is asked before any work
        // starts: a window takes no input while work runs.
        tree.Expand(node);
        return;
    }
    // A million branches take a second or more to open: the window paints meanwhile, and Cancel
    // closes again what was opened.
    TLongWork work("WorkExpanding", TCancel::Allowed);
    tree.ExpandAll(node, [&work](uint64_t done, uint64_t total) {
        if (total != 0 && done == total) {
            work.ShowAhead(); // the rows are laid out next, in one stretch
        }
        return work.Step(done, total);
    });
}

bool TViewCommands::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.TreeView && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // While a title is edited, its keys go to the editor, not to the view.
        if (key->key() == Qt::Key_Asterisk) {
            RunCommand(*window_.TreeView, [this] { ExpandAllClick(); });
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TViewCommands::MI_FindClick() {
    window_.CommitMemo();
    find_.SetTargets(&window_.Tree(), window_.Memo);
    find_.ShowFind();
}

void TViewCommands::OnChangeLanguageClick(QAction* sender) {
    if (sender != nullptr) {
        sender->setChecked(true); // the radio group unchecks the other item
    }
    TLXLocaler& localer = LanguageLocaler();
    const TLanguage previous = localer.Language;
    if (window_.MI_English->isChecked()) {
        localer.Language = langEnglish;
    } else if (window_.MI_Russian->isChecked()) {
        localer.Language = langRussian;
    } else {
        throw Exception("Language is not defined");
    }
    // The menu closes and the window repaints before the reload.
    QCoreApplication::processEvents();
    try {
        localer.LoadCurrentLanguage();
    } catch (...) {
        // The language that loaded last stays, in the menu and in the settings, so that the next
        // start does not fail on the missing file.
        localer.Language = previous;
        window_.MI_English->setChecked(previous == langEnglish);
        window_.MI_Russian->setChecked(previous == langRussian);
        throw;
    }
}

void TViewCommands::MI_TreeViewFontClick() {
    if (auto font = ModalQuestions().ChooseFont(&window_, window_.TreeView->font())) {
        window_.TreeView->setFont(*font);
        window_.SettingsChanged();
    }
}

void TViewCommands::MI_MemoFontClick() {
    if (auto font = ModalQuestions().ChooseFont(&window_, window_.Memo->font())) {
        window_.Memo->setFont(*font);
        window_.SettingsChanged();
    }
}

void TViewCommands::MI_WordWrapMemoClick() {
    window_.SetMemoWordWrap(!window_.GetMemoWordWrap());
    window_.SettingsChanged();
}

void TViewCommands::MI_ResetToDefaultClick() {
    const QString question = Q(LanguageLocaler().GetMessage("ResetSettings"));
    if (ModalQuestions().Ask(&window_, question, TQuestionButtons::YesNo) != TAnswer::Yes) {
        return;
    }
    RestartOnExit = true;
    SettingsBailee().Clear();
    window_.close();
}

std::string TViewCommands::HelpFileName() const {
    return TFileLocations(executablePath_, ProcessEnvironment()).HelpFile(LanguageLocaler().LanguageCode());
}

void TViewCommands::MI_HelpTopicsClick() {
    const std::string help = HelpFileName();
    TBranchTree& tree = window_.Tree();
    for (int i = 0; i < tree.TopLevelCount(); ++i) {
        TTreeNode* top = tree.TopLevel(i);
        if (top->Document() != nullptr && top->Document()->FileName() == help) {
            tree.Select(top);
            tree.Expand(top);
            return;
        }
    }
    TLXDocument::Create(help, tree)->SetProgramsOwn(true);
    window_.Memo->setReadOnly(IsNodeLocked(tree.Selected()));
    window_.UpdateFileCommands();
}

} // namespace ludex
