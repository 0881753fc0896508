#include "gui/app/RecentFilesMenu.h"

#include "core/base/FileIO.h"
#include "core/settings/LX_Localer.h"
#include "core/settings/LX_PropertyBailee.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/QtText.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <QAction>
#include <QMenu>

namespace ludex {

TRecentFilesMenu::TRecentFilesMenu(TForm_Ludex& window) : window_(window) {
    ConnectCommand(window_.MI_Recent, &QMenu::aboutToShow, this, [this] { Fill(); });
    ConnectCommand(window_.MI_RecentRemoveMissing, &QAction::triggered, this, [this] { RemoveMissing(); });
    ConnectCommand(&window_, &TForm_Ludex::DocumentFileNamed, this,
                   [this](const std::string& file) { Add(file); });
    SettingsBailee().AddClient(*this);
    Fill();
}

TRecentFilesMenu::~TRecentFilesMenu() {
    SettingsBailee().RemoveClient(*this);
}

void TRecentFilesMenu::LoadSettings(TPropertyBailee& bailee) {
    files_.Load(bailee);
    Fill();
}

void TRecentFilesMenu::SaveSettings(TPropertyBailee& bailee) {
    files_.Save(bailee);
}

void TRecentFilesMenu::Add(const std::string& file) {
    files_.Add(file);
    Fill();
    window_.SettingsChanged();
}

void TRecentFilesMenu::Fill() {
    QMenu& menu = *window_.MI_Recent;
    for (QAction* item : menu.actions()) {
        if (item->property("recentFile").isValid()) {
            menu.removeAction(item);
            item->deleteLater();
        }
    }
    QAction* const before = menu.actions().value(0); // the separator above Remove Missing
    bool missing = false;
    int number = 0;
    for (const std::string& file : files_.Files()) {
        ++number;
        // "&1" to "&9" and "1&0" give each entry its key.
        const QString key = number < 10 ? QString("&%1").arg(number) : QString("1&0");
        QString label = Q(file);
        label.replace('&', "&&");
        auto* item = new QAction(key + "  " + label, &menu);
        item->setObjectName(QString("MI_RecentFile%1").arg(number));
        item->setProperty("recentFile", Q(file));
        const bool exists = FileExists(file);
        item->setEnabled(exists);
        missing = missing || !exists;
        menu.insertAction(before, item);
        ConnectCommand(item, &QAction::triggered, this, [this, file] { Open(file); });
    }
    window_.MI_RecentRemoveMissing->setEnabled(missing);
    window_.MI_Recent->setEnabled(!files_.Files().empty());
}

void TRecentFilesMenu::Open(const std::string& file) {
    TBranchTree& tree = window_.Tree();
    for (int i = 0; i < tree.TopLevelCount(); ++i) {
        if (TTreeNode* top = tree.TopLevel(i); top->Document()->FileName() == file) {
            tree.Select(top);
            Add(file);
            return;
        }
    }
    window_.OpenFile(file);
}

void TRecentFilesMenu::RemoveMissing() {
    const std::vector<std::string> files = files_.Files();
    bool changed = false;
    for (const std::string& file : files) {
        if (!FileExists(file)) {
            changed = files_.Remove(file) || changed;
        }
    }
    Fill();
    if (changed) {
        window_.SettingsChanged();
    }
}

} // namespace ludex
