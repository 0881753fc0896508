// What the interface says, in both languages: shortcut letters that tell every menu item apart, no
// mnemonic mark where a caption is shown as plain text, and in Russian no English word anywhere
// the user can read it, messages included.
#include "BranchTestSupport.h"

#include "gui/app/ProgramWindows.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/dialogs/PreferencesDialog.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextCursor>
#include <QToolBar>
#include <QTreeView>

#include <map>
#include <set>

namespace ludex::test {
namespace {

// Words that read the same in Russian: the program's name, the names of a language, of file
// formats and of code pages.
const std::set<QString> kNames = {"Ludex", "English", "HTML", "Markdown", "windows", "ISO", "KOI"};

// The character an "&" marks in a caption, in lower case; none where there is no mark.
std::optional<QChar> Mnemonic(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (caption[i + 1] != u'&') {
                return caption[i + 1].toLower();
            }
            ++i;
        }
    }
    return std::nullopt;
}

// Whether the text holds an "&" of a mnemonic ("&&" is a shown "&").
bool HasMnemonicMark(const QString& text) {
    return Mnemonic(text).has_value();
}

// Every list of items the user opens: the menu bar, each menu below it, and the tree's context
// menu (the tree's actions).
std::map<QString, QList<QAction*>> Menus(TForm_Ludex& window) {
    std::map<QString, QList<QAction*>> menus{{"menu bar", window.MainMenu->actions()},
                                             {"tree's context menu", window.TreeView->actions()}};
    QList<QMenu*> pending;
    for (QAction* item : window.MainMenu->actions()) {
        pending.push_back(item->menu());
    }
    while (!pending.isEmpty()) {
        QMenu* menu = pending.takeFirst();
        if (menu == nullptr) {
            continue;
        }
        menus[menu->objectName()] = menu->actions();
        for (QAction* item : menu->actions()) {
            pending.push_back(item->menu());
        }
    }
    return menus;
}

class InterfaceTextsTest : public BranchTest {
protected:
    void Switch(TLanguage language) {
        (language == langRussian ? Window().MI_Russian : Window().MI_English)->trigger();
        ASSERT_EQ(LanguageLocaler().Language, language);
    }

    // Every text the widget shows or tells a screen reader, with where it was found.
    static void Collect(QWidget& top, std::vector<std::pair<QString, QString>>& texts) {
        QList<QWidget*> widgets = top.findChildren<QWidget*>();
        widgets.push_front(&top);
        for (QWidget* widget : widgets) {
            // A dialog of the window takes its texts when it is shown, and is collected then.
            if (widget->window() != &top && qobject_cast<QDialog*>(widget->window()) != nullptr) {
                continue;
            }
            const QString where = top.objectName() + "/" + widget->objectName() + " (" +
                                  widget->metaObject()->className() + ")";
            if (widget->isWindow() || qobject_cast<QToolBar*>(widget) != nullptr) {
                texts.push_back({where + " caption", widget->windowTitle()});
            }
            texts.push_back({where + " hint", widget->toolTip()});
            if (QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget)) {
                texts.push_back({where + " accessible name", accessible->text(QAccessible::Name)});
            }
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                texts.push_back({where, label->text()});
            } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                texts.push_back({where, WithoutMnemonic(button->text())});
            } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
                texts.push_back({where, box->title()});
            }
            for (QAction* action : widget->actions()) {
                const QString name = where + " item " + action->objectName();
                texts.push_back({name, WithoutMnemonic(action->text())});
                texts.push_back({name + " hint", action->toolTip()});
            }
        }
    }

    // The dialog's texts as it shows them, gathered when the program runs it.
    void CollectWhenShown(std::vector<std::pair<QString, QString>>& texts) {
        Questions().Dialogs.push_back([&texts](QDialog& dialog) {
            Collect(dialog, texts);
            return int(QDialog::Rejected);
        });
    }
};

TEST_F(InterfaceTextsTest, MnemonicsTellTheItemsOfEveryMenuApart) {
    Start();
    for (const TLanguage language : {langEnglish, langRussian}) {
        Switch(language);
        for (const auto& [menu, items] : Menus(Window())) {
            std::map<QChar, QString> taken;
            for (const QAction* item : items) {
                const std::optional<QChar> letter = Mnemonic(item->text());
                if (item->isSeparator() || !item->isVisible() || !letter) {
                    continue;
                }
                const auto [at, fresh] = taken.emplace(*letter, item->text());
                EXPECT_TRUE(fresh) << LanguageLocaler().LanguageCode() << " " << menu.toStdString() << ": \""
                                   << item->text().toStdString() << "\" and \"" << at->second.toStdString()
                                   << "\" share the letter " << QString(*letter).toStdString();
            }
        }
    }
}

// The window, its dialogs as they are shown, its menus and a message a command shows: in Russian
// nothing but names is in Latin letters, and nowhere does a hint or an accessible name show the
// mark of a mnemonic.
TEST_F(InterfaceTextsTest, EveryTextFollowsTheLanguageWithoutMnemonicMarks) {
    // Branch titles in Cyrillic, since a dialog shows the title it is about.
    const auto [root, locked] =
        StartWithLockedBranch("<note title=\"\xD0\xA1\xD0\xB5\xD0\xB9\xD1\x84\" memo=\"m\"/><note "
                              "title=\"\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82\"/>",
                              {"\xD0\xA1\xD0\xB5\xD0\xB9\xD1\x84"}, "pw"); // Сейф, Лист
    const QString folder = QString::fromStdString(PathOf(""));
    const QRegularExpression latinWord("\\b[A-Za-z]{2,}\\b");
    for (const TLanguage language : {langEnglish, langRussian}) {
        SCOPED_TRACE(LanguageLocaler().LanguageCode());
        Switch(language);
        std::vector<std::pair<QString, QString>> texts;
        Window().MI_Find->trigger();
        for (QWidget* window : std::initializer_list<QWidget*>{
                 &Window(), Windows().Find.get(), Windows().About.get(), Windows().Preferences.get()}) {
            Collect(*window, texts);
        }
        // The dialogs that take their texts when they are shown.
        CollectWhenShown(texts);
        Select(locked);
        Window().MI_LockBranch->trigger();
        CollectWhenShown(texts);
        Select(Find(root, {"\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82"}));
        Window().MI_CipherBranch->trigger();
        // A message of a command: the calculator's overflow.
        Window().Memo->setPlainText("1E4000*1E4000");
        Window().Memo->moveCursor(QTextCursor::End);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Equal, Qt::ControlModifier);
        QCoreApplication::sendEvent(Window().Memo, &key);
        ASSERT_FALSE(Questions().Errors.empty()) << "the overflow is an error of the command";
        texts.push_back({"calculator overflow", Questions().Errors.back()});
        Questions().Errors.clear();
        EXPECT_TRUE(Questions().Dialogs.empty());

        for (const auto& [where, text] : texts) {
            if (where.contains(" hint") || where.contains(" accessible name")) {
                EXPECT_FALSE(HasMnemonicMark(text)) << where.toStdString() << ": " << text.toStdString();
            }
            if (language != langRussian || text.contains(folder)) {
                continue; // a file's name is the user's
            }
            // Web and mail addresses are names too.
            const QString words = QString(text).remove(QRegularExpression("\\S+(://|@)\\S+"));
            for (auto match = latinWord.globalMatch(words); match.hasNext();) {
                const QString word = match.next().captured();
                EXPECT_TRUE(kNames.count(word) > 0) << where.toStdString() << ": " << text.toStdString();
            }
        }
        Windows().Find->close();
    }
}

} // namespace
} // namespace ludex::test
