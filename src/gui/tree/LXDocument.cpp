#include "gui/tree/LXDocument.h"

#include "core/document/BranchCipher.h"
#include "core/document/DocumentWriter.h"
#include "core/document/EncipheredBackups.h"
#include "core/document/Recovery.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "core/settings/LX_Utils.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/NodePath.h"
#include "gui/tree/TreeViewManager.h"

#include <future>

namespace ludex {

TLXDocument::TLXDocument(TBranchTree& tree, std::string fileName)
    : xmlDocument_(std::make_unique<TDomDocument>()), fileName_(std::move(fileName)), tree_(&tree) {
    // Every load forgets stored passwords: the check of the text notes whether there are any.
    WatchForStoredPasswords(*xmlDocument_);
}

TLXDocument::~TLXDocument() = default;

std::string TLXDocument::NewDocumentText() {
    return std::string(kDocumentDeclaration) + "<ludex version=\"" + EscapeText(ProgramVersion()) +
           "\" title=\"" + EscapeText(LanguageLocaler().GetMessage("NewDocumentTitle")) + "\" memo=\"\"/>";
}

TLXDocument* TLXDocument::Create(const std::string& fileName, TBranchTree& tree,
                                 const TDocumentWorkRunner& run) {
    std::unique_ptr<TLXDocument> document(new TLXDocument(tree, fileName));
    // The document is nobody else's until it is shown: it may be loaded on any thread.
    const auto load = [&document, &fileName] {
        if (fileName.empty()) {
            document->xmlDocument_->LoadXML(NewDocumentText());
        } else {
            // The bytes parsed are the bytes identified, so a change made while the file is read
            // is found by the next check.
            document->diskIdentity_ = document->xmlDocument_->LoadIdentified(fileName);
        }
        document->rootElement_ = document->xmlDocument_->DocumentElement();
        if (!document->rootElement_) {
            throw Exception("The document has no root element: " + fileName);
        }
        ForgetStoredPasswords(*document->xmlDocument_, document->rootElement_);
    };
    if (run) {
        run(load);
    } else {
        load();
    }
    return Show(std::move(document), fileName.empty() ? TShowAs::New : TShowAs::Opened);
}

TLXDocument* TLXDocument::Recover(const std::string& snapshotFile, TBranchTree& tree) {
    std::unique_ptr<TLXDocument> document(new TLXDocument(tree, ""));
    document->xmlDocument_->Load(snapshotFile);
    document->rootElement_ = document->xmlDocument_->DocumentElement();
    if (!document->rootElement_) {
        throw Exception("The document has no root element: " + snapshotFile);
    }
    ForgetStoredPasswords(*document->xmlDocument_, document->rootElement_);
    document->fileName_ = document->rootElement_.GetAttribute(kRecoveryFileAttribute);
    document->rootElement_.RemoveAttribute(kRecoveryFileAttribute);
    // The snapshot records no identity of the file, so the file as it is now is taken as the one
    // the recovered document was made from; a change from here on is found as for any document.
    if (!document->fileName_.empty()) {
        const TDiskCheck onDisk = CheckFileOnDisk(document->fileName_, std::nullopt, TCheckDepth::Contents);
        if (onDisk.state == TDiskState::Changed) {
            document->diskIdentity_ = onDisk.identity;
        }
    }
    return Show(std::move(document), TShowAs::Recovered);
}

TLXDocument* TLXDocument::Show(std::unique_ptr<TLXDocument> document, TShowAs showAs) {
    TBranchTree& tree = *document->tree_;
    TLXDocument* result = document.get();
    // The document's node and those of its top-level branches are built before the view sees
    // them, so that it learns of them at once instead of node by node; the nodes below are made
    // when first needed.
    TTreeNode* rootNode = tree.BeginTopLevel(TitleAccess.Read(result->rootElement_));
    rootNode->SetDocument(std::move(document));
    result->rootNode_ = rootNode;
    try {
        const bool locked = AddLockedPlaceholder(tree, rootNode, result->rootElement_);
        if (!locked) {
            // Built in the window's order, so the document's content needs no sort.
            BuildChildNodes(tree, rootNode, result->rootElement_, TBranchOrder::Window);
        }
        tree.AttachTopLevel();
        tree.Select(rootNode);
        result->SetModified(showAs == TShowAs::Recovered);
        if (!locked) {
            if (showAs == TShowAs::New) {
                tree.StartEditing(rootNode);
            } else {
                tree.Expand(rootNode);
            }
        }
    } catch (...) {
        tree.Delete(rootNode);
        throw;
    }
    return result;
}

void TLXDocument::SetModified(bool modified) {
    modified_ = modified;
    const bool encrypted = IsBranchEncrypted(rootElement_);
    int picture;
    if (modified) {
        picture = encrypted ? picDocumentModifiedLocked : picDocumentModified;
    } else {
        picture = encrypted ? picDocumentLocked : picDocument;
    }
    SetNodePicture(*tree_, rootNode_, picture);
    tree_->Repaint();
}

std::string TLXDocument::DocumentText() const {
    return DocumentToText(rootElement_);
}

void TLXDocument::Save(const std::string& newFileName, const TSaveOptions& options,
                       const TDocumentWorkRunner& run, std::optional<std::string> madeText) {
    const std::string previousName = fileName_;
    if (!newFileName.empty()) {
        fileName_ = newFileName;
    }
    std::string text;
    TFileIdentity written;
    // Reads the elements only, and the file name, which nothing changes meanwhile.
    const auto write = [this, &text, &madeText, &options, &written] {
        text = madeText ? std::move(*madeText) : DocumentText();
        // The digest by which the file is known again is taken beside the write, on another
        // core: the write waits for the disk, the digest for the processor. (The future waits
        // for the digest however the write ends, so `text` outlives it.)
        std::future<TFileIdentity> identity =
            std::async(std::launch::async, [&text] { return IdentityOfWritten(text); });
        WriteTextFile(fileName_, text, options);
        written = identity.get();
    };
    try {
        if (run) {
            run(write);
        } else {
            write();
        }
    } catch (const ECancelled&) {
        fileName_ = previousName;
        throw;
    } catch (const EInOutError&) {
        // A save that fails after its rename (the folder could not be synced) has put these
        // bytes in place: they are the document's own, not another program's change.
        const TDiskCheck onDisk = CheckFileOnDisk(fileName_, std::nullopt, TCheckDepth::Contents);
        if (onDisk.state == TDiskState::Changed && onDisk.identity->digest == DigestOf(text)) {
            diskIdentity_ = onDisk.identity;
        }
        throw;
    }
    diskIdentity_ = written;
    SetModified(false);
    // Saved: a branch put under a password may now stand in plain only in the backups.
    removedBackups_ += RemoveBackupsOfPlainText(*xmlDocument_, fileName_);
}

bool TLXDocument::Reload(TIdentifiedBytes file, const std::function<void()>& replacing) {
    auto fresh = std::make_unique<TDomDocument>();
    WatchForStoredPasswords(*fresh);
    fresh->LoadBytes(file.bytes, fileName_);
    TDomNode freshRoot = fresh->DocumentElement();
    if (!freshRoot) {
        throw Exception("The document has no root element: " + fileName_);
    }
    // As at an open: a password that arrives from the file would show a locked branch's cipher
    // text as its memo.
    ForgetStoredPasswords(*fresh, freshRoot);

    TBranchTree& tree = *tree_;
    TTreeNode* selected = tree.Selected();
    const bool selectedHere = selected != nullptr && RootNodeOf(selected) == rootNode_;
    const TNodePath selectedPath = selectedHere ? PathOfNode(selected) : TNodePath();
    // Only nodes made so far can be open: the walk makes none.
    std::vector<TNodePath> expanded;
    for (TTreeNode* node = rootNode_; node != nullptr && RootNodeOf(node) == rootNode_;
         node = node->ChildrenUnmade() ? NodeAfterSubtree(tree, node) : NextInPreOrder(tree, node)) {
        if (node->HasChildren() && tree.IsExpanded(node)) {
            expanded.push_back(PathOfNode(node));
        }
    }
    const bool hadUnlocked = HoldsUnlockedBranch(rootElement_);

    if (replacing) {
        replacing();
    }
    // The old elements stay alive until no node refers to them any more.
    tree.DeleteChildren(rootNode_);
    std::swap(xmlDocument_, fresh);
    rootElement_ = freshRoot;
    fresh.reset();
    diskIdentity_ = file.identity;
    tree.SetText(rootNode_, TitleAccess.Read(rootElement_));
    if (!AddLockedPlaceholder(tree, rootNode_, rootElement_)) {
        BuildChildNodes(tree, rootNode_, rootElement_, TBranchOrder::Window);
    }
    for (const TNodePath& path : expanded) {
        if (const TFoundNode found = FindByPath(rootNode_, path); found.exact && !IsNodeLocked(found.node)) {
            tree.Expand(found.node);
        }
    }
    SetModified(false);
    if (selectedHere) {
        tree.Select(FindByPath(rootNode_, selectedPath).node);
    }
    return hadUnlocked;
}

void DestroyDocument(TLXDocument* document) {
    if (document != nullptr) {
        document->Tree().Delete(document->RootNode());
    }
}

} // namespace ludex
