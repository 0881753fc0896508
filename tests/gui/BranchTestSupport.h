#pragma once

#include "GuiTestSupport.h"

#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "gui/dialogs/CipherDialog.h"
#include "gui/dialogs/PasswordDialog.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ludex::test {

inline const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// An encrypted branch to be, with two sub-branches, beside a plain one.
inline const std::string kSecretBranch =
    "<note title=\"Secret\" memo=\"hidden words\">\r\n<note title=\"s2\" "
    "memo=\"second\"/>\r\n<note title=\"s1\" memo=\"first\"/>\r\n</note>\r\n"
    "<note title=\"Open\"/>\r\n";

// A document file with the root title and the given content of the root element.
inline std::string Doc(const std::string& rootTitle, const std::string& content = "") {
    return kDeclaration + "\r\n<ludex version=\"2.1.0 \" title=\"" + rootTitle + "\" memo=\"\"" +
           (content.empty() ? "/>" : ">\r\n" + content + "</ludex>");
}

inline std::vector<std::string> ChildTitles(const TTreeNode* node) {
    std::vector<std::string> titles;
    for (int i = 0; i < node->ChildCount(); ++i) {
        titles.push_back(node->Child(i)->Text());
    }
    return titles;
}

inline std::vector<std::string> ElementTitles(const TDomNode& element) {
    std::vector<std::string> titles;
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.IsElement()) {
            titles.push_back(TitleAccess.Read(child));
        }
    }
    return titles;
}

// Clicks a dialog's OK button as the user would, and returns what exec would have returned.
inline int ClickOk(QDialog& dialog) {
    dialog.setResult(QDialog::Rejected);
    dialog.findChild<QPushButton*>("Button_OK")->click();
    return dialog.result();
}

// A window with documents, and the branch and encryption commands at hand.
class BranchTest : public TProgramTest {
protected:
    TBranchTree& Tree() { return Window().Tree(); }
    TTreeNode* Top(int i) { return Tree().TopLevel(i); }
    std::string Message(const std::string& key) { return LanguageLocaler().GetMessage(key); }

    // Opens a file written with the content, as the last document.
    TTreeNode* Open(const std::string& name, const std::string& text) {
        const std::string file = WriteFile(name, text);
        Questions().FileNames.push_back(QString::fromStdString(file));
        Window().MI_Open->trigger();
        return Top(Tree().TopLevelCount() - 1);
    }

    // The node reached from `from` by child titles.
    static TTreeNode* Find(TTreeNode* from, const std::vector<std::string>& path) {
        TTreeNode* node = from;
        for (const std::string& title : path) {
            TTreeNode* next = nullptr;
            for (int i = 0; node != nullptr && i < node->ChildCount(); ++i) {
                if (node->Child(i)->Text() == title) {
                    next = node->Child(i);
                }
            }
            node = next;
        }
        return node;
    }

    TTreeNode* Select(TTreeNode* node) {
        Tree().Select(node);
        return node;
    }
    // Makes a node current without scrolling to it, so that no collapsed parent opens; the
    // user cannot reach such a node, but commands must refuse it all the same.
    void SelectHidden(TTreeNode* node) {
        QAbstractItemView& view = *Window().TreeView;
        const bool autoScroll = view.hasAutoScroll();
        view.setAutoScroll(false);
        view.setCurrentIndex(Tree().IndexOf(node));
        view.setAutoScroll(autoScroll);
    }

    // Whether the encrypt dialog is told to lock the branch at once (its check box).
    enum class TLock { Later, AtOnce };

    // The encrypt dialog's next showing: types the password (and its confirmation), chooses the
    // scheme when one is given (else leaves the dialog's choice) and clicks OK.
    void AnswerCipher(const std::string& password, TLock lock, const std::string& confirm = "\x01",
                      std::optional<TCipherScheme> scheme = std::nullopt) {
        Questions().Dialogs.push_back([password, lock, confirm, scheme](QDialog& dialog) {
            auto& cipher = dynamic_cast<TForm_CipherDialog&>(dialog);
            if (scheme) {
                cipher.Check_Compatible->setChecked(*scheme == TCipherScheme::Compatible);
            }
            cipher.Edit_Password->setText(QString::fromStdString(password));
            cipher.Edit_ConfirmPassword->setText(
                QString::fromStdString(confirm == "\x01" ? password : confirm));
            cipher.Check_Lock->setChecked(lock == TLock::AtOnce);
            return ClickOk(dialog);
        });
    }
    // The unlock dialog's next showing: types the password and clicks OK.
    void AnswerPassword(const std::string& password) {
        Questions().Dialogs.push_back([password](QDialog& dialog) {
            auto& unlock = dynamic_cast<TForm_PasswordDialog&>(dialog);
            unlock.Edit_Password->setText(QString::fromStdString(password));
            return ClickOk(dialog);
        });
    }
    void AnswerCancel() {
        Questions().Dialogs.push_back([](QDialog&) { return int(QDialog::Rejected); });
    }

    // Starts the window with "doc.ldx" holding `content` and locks the branch that `path` reaches
    // under `password`; gives the document's node and the locked branch.
    std::pair<TTreeNode*, TTreeNode*> StartWithLockedBranch(const std::string& content,
                                                            const std::vector<std::string>& path,
                                                            const std::string& password) {
        Start();
        TTreeNode* root = Open("doc.ldx", Doc("Doc", content));
        TTreeNode* branch = Find(root, path);
        Encrypt(branch, password, TLock::AtOnce);
        EXPECT_TRUE(IsNodeLocked(branch));
        return {root, branch};
    }

    // Encrypts the selected branch under the password, optionally locking it.
    void Encrypt(TTreeNode* node, const std::string& password, TLock lock = TLock::Later,
                 std::optional<TCipherScheme> scheme = std::nullopt) {
        Select(node);
        AnswerCipher(password, lock, "\x01", scheme);
        Window().Button_CipherBranch->trigger();
    }
};

} // namespace ludex::test
