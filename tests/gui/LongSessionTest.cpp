// A long scripted session of random editing, encrypting, locking, unlocking, saving and reopening
// over two documents. After every step the tree must match the elements; after every save the file
// must read back as the same branches, titles and memos; after every reopening the document must be
// what was closed. The seed is fixed, so a failure reproduces.
#include "BranchTestSupport.h"

#include "core/document/BranchCipher.h"

#include <QAction>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTreeView>

#include <functional>
#include <random>

namespace ludex::test {
namespace {

const std::vector<std::string> kPasswords = {"one", "two", "\xd0\x96\xd0\xb8\xd0\xbc"}; // the last: Cyrillic
const std::vector<std::string> kTitles = {"a", "B", "\xd0\x96", "x&y", "\"q\"", "", "<t>", "zz", "Tab\there"};
const std::vector<std::string> kMemos = {
    "", "one line", "two\nlines", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", "<&>'\"", "trailing\n"};

// The text form of a branch with everything below it, encrypted content deciphered with the
// password that fits; "password" is left out (it is memory-only).
std::string Canonical(const TDomNode& branch) {
    TDomDocument copy;
    copy.LoadXML("<copy/>");
    const TDomNode top = copy.DocumentElement().AppendCopy(branch);
    std::string out;
    std::vector<std::pair<TDomNode, size_t>> stack{{top, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        out += std::string(depth, ' ');
        if (!node.IsElement()) {
            out += "text " + std::string(node.Text()) + "\n";
            continue;
        }
        if (IsBranchLocked(node)) {
            bool opened = false;
            for (const std::string& password : kPasswords) {
                if (CheckBranchPassword(node, password)) {
                    DecipherBranchElement(node, password);
                    opened = true;
                    break;
                }
            }
            EXPECT_TRUE(opened) << "no password fits " << TitleAccess.Read(node);
        }
        // A missing memo and an empty one are the same memo (saving an encrypted branch writes
        // its memo even when it has none).
        out += std::string(node.Name()) + " title=[" + TitleAccess.Read(node) + "] memo=[" +
               MemoAccess.Read(node) + "] encryption=[" + EncryptionAccess.Read(node) + "]";
        for (const auto& [name, value] : node.Attributes()) {
            if (name != "password" && name != "title" && name != "memo" && name != "encryption") {
                out += " " + name + "=[" + value + "]";
            }
        }
        out += "\n";
        std::vector<TDomNode> children = node.ChildNodes();
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            stack.push_back({*it, depth + 1});
        }
    }
    return out;
}

class LongSessionTest : public BranchTest {
protected:
    std::mt19937 random{20261208u};

    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); }
    template <typename T>
    const T& PickOf(const std::vector<T>& items) {
        return items[Pick(items.size())];
    }
    bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }

    // Every node but placeholders, in display order.
    std::vector<TTreeNode*> Nodes() {
        std::vector<TTreeNode*> nodes;
        std::vector<TTreeNode*> stack;
        for (int i = Tree().TopLevelCount() - 1; i >= 0; --i) {
            stack.push_back(Tree().TopLevel(i));
        }
        while (!stack.empty()) {
            TTreeNode* node = stack.back();
            stack.pop_back();
            if (!ElementOf(node)) {
                continue;
            }
            nodes.push_back(node);
            for (int i = node->ChildCount() - 1; i >= 0; --i) {
                stack.push_back(node->Child(i));
            }
        }
        return nodes;
    }

    std::string PasswordOf(const TDomNode& element) {
        for (const std::string& password : kPasswords) {
            if (CheckBranchPassword(element, password)) {
                return password;
            }
        }
        ADD_FAILURE() << "no password fits";
        return {};
    }

    // The tree shows the elements: every node's element is a child of its parent's element with
    // the node's text as title, every element child has its node, a locked branch shows only its
    // placeholder, pictures follow the rules, and the mark lies on a node of the tree.
    void CheckTree() {
        bool markFound = Window().MarkedNode() == nullptr;
        for (TTreeNode* node : Nodes()) {
            markFound = markFound || node == Window().MarkedNode();
            const TDomNode element = ElementOf(node);
            if (node->Parent() == nullptr) {
                TLXDocument* document = node->Document();
                const bool encrypted = IsBranchEncrypted(element);
                const int picture = document->Modified()
                                        ? (encrypted ? picDocumentModifiedLocked : picDocumentModified)
                                        : (encrypted ? picDocumentLocked : picDocument);
                ASSERT_EQ(node->Picture(), picture) << node->Text();
            } else {
                ASSERT_EQ(node->Element().Parent(), ElementOf(node->Parent())) << node->Text();
                if (node == Window().MarkedNode()) {
                    ASSERT_TRUE(node->Picture() == picCutMark || node->Picture() == picCopyMark);
                } else {
                    const bool encrypted = IsBranchEncrypted(element);
                    const int picture = node->HasChildren() ? (encrypted ? picBranchWithSubBranchesLocked
                                                                         : picBranchWithSubBranches)
                                                            : (encrypted ? picBranchLocked : picBranch);
                    ASSERT_EQ(node->Picture(), picture) << node->Text();
                }
            }
            ASSERT_EQ(node->Text(), TitleAccess.Read(element));
            if (IsBranchLocked(element)) {
                ASSERT_EQ(node->ChildCount(), element.HasChildNodes() ? 1 : 0);
                if (node->ChildCount() == 1) {
                    ASSERT_FALSE(node->Child(0)->Element());
                }
                ASSERT_FALSE(Tree().IsExpanded(node) && node->HasChildren()) << "a locked node is open";
            } else {
                ASSERT_EQ(static_cast<size_t>(node->ChildCount()), ElementTitles(element).size())
                    << node->Text();
            }
        }
        ASSERT_TRUE(markFound) << "the mark refers to a node that is gone";
    }

    // Saves the selected node's document and reads the file back.
    void SaveAndCompare(TTreeNode* node) {
        Tree().Select(node);
        TLXDocument* document = SelectedDocument();
        Window().MI_Save->trigger();
        ASSERT_FALSE(document->Modified());
        const std::string text = ReadFile(document->FileName());
        ASSERT_EQ(text.find(" password=\""), std::string::npos);
        TDomDocument reread;
        reread.LoadXML(text);
        ASSERT_EQ(Canonical(reread.DocumentElement()), Canonical(document->RootElement()));
    }

    TLXDocument* SelectedDocument() { return Window().SelectedDocument(); }

    // The branches of the file as last written (or read).
    std::string Saved(const std::string& fileName) {
        TDomDocument reread;
        reread.LoadXML(ReadFile(fileName));
        return Canonical(reread.DocumentElement());
    }
};

TEST_F(LongSessionTest, RandomSessionKeepsTreeElementsAndFilesInStep) {
    Start();
    const std::vector<std::string> files = {
        WriteFile("first.ldx", Doc("First", "<note title=\"a\" memo=\"m\"/>\r\n<note title=\"b\"/>\r\n")),
        WriteFile("second.ldx", Doc("Second", ""))};
    for (const std::string& file : files) {
        Questions().FileNames.push_back(QString::fromStdString(file));
        Window().MI_Open->trigger();
    }
    constexpr int kSteps = 3000;
    int saves = 0, reopens = 0, unlocks = 0, locks = 0, pastes = 0, undos = 0;
    for (int step = 0; step < kSteps; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        std::vector<TTreeNode*> nodes = Nodes();
        ASSERT_FALSE(nodes.empty());
        TTreeNode* node = PickOf(nodes);
        Tree().Select(node);
        const TDomNode element = ElementOf(node);
        const bool locked = IsBranchLocked(element);
        const size_t action = Pick(19);
        switch (action) {
        case 0:
        case 1:
            // A sibling of a document would be a document: that button opens a file instead.
            if (nodes.size() < 80 && (action == 0 || node->Parent() != nullptr)) {
                (action == 0 ? Window().Button_InsertSubBranch : Window().Button_InsertBranch)->trigger();
            }
            break;
        case 2:
            if (node->Parent() != nullptr) {
                EditTitle(node, QString::fromStdString(PickOf(kTitles)));
            }
            break;
        case 3:
            if (!Window().Memo->isReadOnly()) {
                Window().Memo->setPlainText(QString::fromStdString(PickOf(kMemos)));
            }
            break;
        case 4:
            if (node->Parent() != nullptr && nodes.size() > 8) {
                bool branchesBelow = false;
                for (int i = 0; i < node->ChildCount(); ++i) {
                    branchesBelow = branchesBelow || ElementOf(node->Child(i));
                }
                if (branchesBelow) {
                    Questions().Answers.push_back(TAnswer::Yes);
                }
                Window().Button_RemoveBranch->trigger();
            }
            break;
        case 5:
            if (node->Parent() != nullptr) {
                (Chance(50) ? Window().Button_Cut : Window().Button_Copy)->trigger();
            }
            break;
        case 6:
            if (Window().MarkedNode() != nullptr && nodes.size() < 80) {
                const TTreeNode* marked = Window().MarkedNode();
                const bool intoItself =
                    marked->Picture() == picCutMark && (node == marked || node->HasAsAncestor(marked));
                Window().Button_Paste->trigger();
                if (locked) {
                    ASSERT_EQ(Questions().Informed.back().toStdString(), Message("CanNotPastAtLockedNode"));
                } else if (intoItself) {
                    ASSERT_EQ(Questions().Errors.size(), 1u);
                    EXPECT_EQ(Questions().Errors[0].toStdString(), Message("CanNotPastBranch"));
                    Questions().Errors.clear();
                } else {
                    ++pastes;
                }
            }
            break;
        case 7:
            if (!locked) {
                AnswerCipher(Chance(25) ? std::string() : PickOf(kPasswords),
                             Chance(40) ? TLock::AtOnce : TLock::Later);
                Window().Button_CipherBranch->trigger();
            }
            break;
        case 8:
        case 9:
            if (IsBranchEncrypted(element)) {
                if (locked) {
                    if (Chance(20)) {
                        AnswerPassword("wrong");
                    }
                    AnswerPassword(PasswordOf(element));
                    ++unlocks;
                } else {
                    ++locks;
                }
                Window().Button_LockBranch->trigger();
                ASSERT_EQ(IsBranchLocked(element), !locked);
            }
            break;
        case 10:
            if (locked && node->HasChildren()) {
                const bool cancel = Chance(30);
                if (cancel) {
                    AnswerCancel();
                } else {
                    AnswerPassword(PasswordOf(element));
                }
                Window().TreeView->expand(Tree().IndexOf(node));
                ASSERT_EQ(IsBranchLocked(element), cancel);
                ASSERT_EQ(Tree().IsExpanded(node), !cancel);
            }
            break;
        case 11:
            Window().Button_Resort->trigger();
            break;
        case 12:
        case 13:
            SaveAndCompare(node);
            ++saves;
            break;
        case 14:
            if (Chance(40)) {
                // Save, close and open again: the document comes back as it was, locked.
                TTreeNode* root = RootNodeOf(node);
                SaveAndCompare(root);
                const std::string before = Canonical(root->Document()->RootElement());
                const std::string file = root->Document()->FileName();
                Tree().Select(root);
                Window().MI_Close->trigger();
                Questions().FileNames.push_back(QString::fromStdString(file));
                Window().MI_Open->trigger();
                TTreeNode* reopened = Tree().TopLevel(Tree().TopLevelCount() - 1);
                ASSERT_EQ(reopened->Document()->FileName(), file);
                ASSERT_EQ(Canonical(reopened->Document()->RootElement()), before);
                ++reopens;
            }
            break;
        case 16:
        case 17:
            // Undo, then redo returns to the same state; sometimes the undo stays.
            if (Window().MI_Undo->isEnabled()) {
                TTreeNode* root = RootNodeOf(node);
                TLXDocument* document = root->Document();
                // A memo edit not stored yet is stored by Undo as a step of its own first.
                const bool pendingMemo = Window().MemoModified();
                const std::string before = Canonical(document->RootElement());
                Window().MI_Undo->trigger();
                ++undos;
                if (Window().MI_Redo->isEnabled()) {
                    Window().MI_Redo->trigger();
                    if (!pendingMemo) {
                        ASSERT_EQ(Canonical(document->RootElement()), before);
                    }
                    if (Chance(60)) {
                        Window().MI_Undo->trigger();
                    }
                }
            }
            break;
        default:
            if (!locked) {
                Tree().Expand(node);
            } else {
                Tree().Collapse(node);
            }
            break;
        }
        ASSERT_TRUE(Questions().Errors.empty()) << Questions().Errors.front().toStdString();
        ASSERT_TRUE(Questions().Dialogs.empty()) << "a dialog was not shown";
        ASSERT_EQ(Tree().TopLevelCount(), 2);
        CheckTree();
        // A document without the modified mark is what its file holds.
        for (int i = 0; i < Tree().TopLevelCount(); ++i) {
            TLXDocument* document = Tree().TopLevel(i)->Document();
            if (!document->Modified() && !(Window().MemoModified() && SelectedDocument() == document)) {
                ASSERT_EQ(Canonical(document->RootElement()), Saved(document->FileName()))
                    << document->FileName();
            }
        }
        if (HasFatalFailure()) {
            return;
        }
        if (step % 100 == 0) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    for (int i = 0; i < Tree().TopLevelCount(); ++i) {
        SaveAndCompare(Tree().TopLevel(i));
    }
    // The session did what it set out to do.
    EXPECT_GT(saves, 100);
    EXPECT_GT(reopens, 10);
    EXPECT_GT(unlocks, 20);
    EXPECT_GT(locks, 20);
    EXPECT_GT(pastes, 10); // undoing drops the mark, as the marked node is rebuilt
    EXPECT_GT(undos, 100);
}

} // namespace
} // namespace ludex::test
