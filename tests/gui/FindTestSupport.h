#pragma once

// The find dialog tests' documents and the presses of a user on the dialog.
#include "GuiTestSupport.h"

#include "core/document/BranchCipher.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/dialogs/FindDialog.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/TreeViewManager.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>

#include <string>
#include <vector>

namespace ludex::test {

inline const std::string kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// A document file whose branches titled in `lock` are encrypted under "pw" and stored locked.
inline std::string DocumentText(const std::string& content, const std::vector<std::string>& lock = {}) {
    TDomDocument dom;
    dom.LoadXML(kXmlDeclaration + "<ludex version=\"2.1.0 \" title=\"Doc\" memo=\"\">" + content +
                "</ludex>");
    std::vector<TDomNode> pending{dom.DocumentElement()};
    while (!pending.empty()) {
        TDomNode e = pending.back();
        pending.pop_back();
        for (const std::string& title : lock) {
            if (e.IsElement() && TitleAccess.Read(e) == title) {
                SetBranchPassword(e, "pw");
            }
        }
        for (TDomNode c = e.FirstChild(); c; c = c.NextSibling()) {
            if (c.IsElement()) {
                pending.push_back(c);
            }
        }
    }
    return DocumentToText(dom.DocumentElement());
}

// Shown in this order once opened (branches with sub-branches first, then by title):
// Doc, Alpha, Inner, Zlocked cat (locked, last child of Alpha), Locked cat (locked, with a hidden
// sub-branch), Beta cat, Zeta.
inline const std::string kCatContent =
    "<note title=\"Alpha\" memo=\"cat in memo\">"
    "<note title=\"Inner\" memo=\"no\"/>"
    "<note title=\"Zlocked cat\" memo=\"cat\"/></note>"
    "<note title=\"Locked cat\" memo=\"cat secret\"><note title=\"Hidden cat\" memo=\"cat\"/></note>"
    "<note title=\"Beta cat\" memo=\"aaa\"/>"
    "<note title=\"Zeta\" memo=\"cd&#xA;cat\"/>";

// A document whose file holds its branches out of the window's order, with titles and memos that
// fold in Latin and Cyrillic; the branches kOrderLocked names are locked.
inline const std::string kOrderContent =
    "<note title=\"zeta 10\" memo=\"a\"/>"
    "<note title=\"Alpha 2\" memo=\"banana&#xA;Banana\"/>"
    "<note title=\"alpha 1\" memo=\"\">"
    "<note title=\"b 3\" memo=\"x a\"/>"
    "<note title=\"B 20\" memo=\"cab&#xA;\xD0\xB0 a\"/></note>" // Cyrillic a, then Latin a
    "<note title=\"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0\" memo=\"\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 a\"/>"
    "<note title=\"\xD1\x91\xD0\xBB\xD0\xBA\xD0\xB0 a\">"
    "<note title=\"2a\" memo=\"\"/>"
    "<note title=\"10a\" memo=\"aA\"/></note>"
    "<note title=\"10\" memo=\"data\"/>"
    "<note title=\"9\"><note title=\"deep\"><note title=\"deeper A\" memo=\"aa\"/></note></note>"
    "<note title=\"Vault a\" memo=\"a secret\"><note title=\"hidden a\" memo=\"a\"/></note>"
    "<note title=\"Diary a\" memo=\"a\"/>"
    "<note title=\"a\" memo=\"A a\"/>";
inline const std::vector<std::string> kOrderLocked = {"Vault a", "Diary a"};

// The file-order index path of a branch element as ludex-cli names branches: "#" for the root,
// "#2.0" for the first sub-branch of the third.
inline std::string IndexPath(TDomNode element) {
    std::vector<size_t> indices;
    for (TDomNode parent = element.Parent(); parent; element = parent, parent = element.Parent()) {
        size_t index = 0;
        for (TDomNode c = parent.FirstChild(); !(c == element); c = c.NextSibling()) {
            index += c.IsElement() ? 1 : 0;
        }
        indices.push_back(index);
    }
    std::string path = "#";
    for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
        path += (it == indices.rbegin() ? "" : ".") + std::to_string(*it);
    }
    return path;
}

struct TStep {
    std::string title; // the node selected, or "" for the end of the search
    int start = -1;    // the memo selection's start, or -1 for a title match
    int length = 0;
};

class FindTest : public TProgramTest {
protected:
    TForm_Find& Find() { return *Windows().Find; }
    TBranchTree& Tree() { return Window().Tree(); }

    void Open(const std::string& content, const std::vector<std::string>& lock = {}) {
        Start(WriteFile("find.ldx", DocumentText(content, lock)));
        Window().MI_Find->trigger();
        ASSERT_TRUE(Find().isVisible());
    }

    TTreeNode* NodeTitled(const std::string& title) {
        std::vector<TTreeNode*> pending{Tree().FirstTopLevel()};
        while (!pending.empty()) {
            TTreeNode* n = pending.back();
            pending.pop_back();
            if (n->Text() == title) {
                return n;
            }
            for (int i = 0; i < n->ChildCount(); ++i) {
                pending.push_back(n->Child(i));
            }
        }
        return nullptr;
    }

    // One press; what it selected.
    TStep Press() {
        const size_t informed = Questions().Informed.size();
        Find().Button_Find->click();
        if (Questions().Informed.size() > informed) {
            return {};
        }
        TTreeNode* selected = Tree().Selected();
        QTextCursor cursor = Window().Memo->textCursor();
        if (!cursor.hasSelection()) {
            return {selected ? selected->Text() : "?", -1, 0};
        }
        return {selected ? selected->Text() : "?", cursor.selectionStart(),
                cursor.selectionEnd() - cursor.selectionStart()};
    }

    // Presses once for each expected memo selection of the branch "Note" ({start, length} in the
    // memo control), then once more for the end of the search, and throws the search away.
    void ExpectNoteSelections(const std::vector<std::pair<int, int>>& selections) {
        for (const auto& [start, length] : selections) {
            const TStep s = Press();
            EXPECT_EQ(s.title, "Note");
            EXPECT_EQ(s.start, start);
            EXPECT_EQ(s.length, length);
        }
        EXPECT_TRUE(Press().title.empty());
        Discard();
    }

    // What the window has selected, as the line ludex-cli find prints for the match: the branch,
    // "title" or "memo:" with the 1-based position of the memo selection, the title.
    std::string SelectionLine() {
        TTreeNode* node = Tree().Selected();
        if (node == nullptr) {
            return "nothing selected\n";
        }
        const QTextCursor cursor = Window().Memo->textCursor();
        return IndexPath(ElementOf(node)) + "\t" +
               (cursor.hasSelection() ? "memo:" + std::to_string(cursor.selectionStart() + 1) : "title") +
               "\t" + node->Text() + "\n";
    }

    // Clicks the find button as a user does until the search reports its end, and gives every
    // match as the line ludex-cli find prints for it. The memos searched must hold no CR and no
    // character outside the basic plane, so that a position in the memo control is a character
    // position.
    std::string ClickFindUntilTheEnd() {
        std::string lines;
        for (int press = 0; press < 200; ++press) {
            const size_t informed = Questions().Informed.size();
            QTest::mouseClick(Find().Button_Find, Qt::LeftButton);
            if (Questions().Informed.size() > informed) {
                return lines;
            }
            if (Tree().Selected() == nullptr) {
                ADD_FAILURE() << "a press selected nothing";
                return lines;
            }
            lines += SelectionLine();
        }
        ADD_FAILURE() << "the search did not come to an end";
        return lines;
    }

    void ExpectSteps(const std::vector<TStep>& steps) {
        for (size_t i = 0; i < steps.size(); ++i) {
            const TStep got = Press();
            EXPECT_EQ(got.title, steps[i].title) << "press " << i + 1;
            EXPECT_EQ(got.start, steps[i].start) << "press " << i + 1;
            EXPECT_EQ(got.length, steps[i].length) << "press " << i + 1;
        }
    }
};

} // namespace ludex::test
