#pragma once

#include "core/base/FileIO.h"
#include "core/base/FileIdentity.h"
#include "core/document/DomService.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace ludex {

class TBranchTree;
class TTreeNode;

// Runs a part of a document's work that touches neither the tree nor any other open document, on
// whatever thread it chooses, and returns once it has ended, passing on what it threw. It may
// throw ECancelled instead, once that part has ended, to give up a work the user stopped.
// Empty: the part runs on the caller's thread.
using TDocumentWorkRunner = std::function<void(const std::function<void()>& part)>;

// One open document: the element tree of one file (or of a new, unsaved document), the top-level
// tree node that shows it, its file name and its modified flag. The top-level node owns the
// document: deleting that node (closing the document) destroys the document, after every tree
// node that refers to one of its elements is gone.
class TLXDocument {
public:
    // Opens the file, or makes a new document when the name is empty, and shows it as the new
    // last top-level node: its branches are built and sorted, a file's node is expanded one level,
    // a new document's title is opened for editing; the node is selected and the document is not
    // modified. A document whose root branch is locked shows only its placeholder. On any error no
    // node remains and the error propagates. Returns the document, owned by its top-level node.
    // Reading and parsing the file is the part `run` runs; nothing is shown when it throws.
    static TLXDocument* Create(const std::string& fileName, TBranchTree& tree,
                               const TDocumentWorkRunner& run = {});

    // Shows a recovery snapshot (see core/document/Recovery.h) as Create shows a file: the
    // document takes the file name the snapshot records ("" for a document never saved), loses
    // the snapshot's own attribute, is expanded and is marked modified, since what it holds has
    // not been saved. On any error no node remains and the error propagates.
    static TLXDocument* Recover(const std::string& snapshotFile, TBranchTree& tree);

    ~TLXDocument();
    TLXDocument(const TLXDocument&) = delete;
    TLXDocument& operator=(const TLXDocument&) = delete;

    // The text of a new, empty document: the declaration followed by an empty "ludex" element
    // with "version" (the program's version), "title" (the message "NewDocumentTitle") and an
    // empty "memo". Both values are escaped, so that any title text is accepted.
    static std::string NewDocumentText();

    // Sets the flag and gives the top-level node its picture: 0 or 7 (encrypted root) when not
    // modified, 10 or 11 when modified.
    void SetModified(bool modified);

    // Takes a non-empty name as the file name, then writes the document with the document writer
    // and clears the modified flag. The text is built completely before the file is touched, and
    // the file is replaced atomically, keeping the backups `options` asks for; on failure the flag
    // stays set and the error propagates. Building the text and writing the file is the part
    // `run` runs, while nothing may change the document. A save given up by ECancelled (from
    // `run` or from the progress of `options`) keeps the old file name and the old file.
    // `madeText`, when given, is the document's text (DocumentText) made by the caller since the
    // document last changed, within the same work: it is written as it is.
    void Save(const std::string& newFileName, const TSaveOptions& options = {},
              const TDocumentWorkRunner& run = {}, std::optional<std::string> madeText = std::nullopt);
    // The text a save writes: reads the elements only.
    std::string DocumentText() const;
    // How many backups the saves since the last call removed because a branch put under a
    // password since may stand in them in plain (RemoveBackupsOfPlainText); then 0 again.
    size_t TakeRemovedBackups() { return std::exchange(removedBackups_, 0); }

    // What the document's file was when the document last read or wrote it; nothing for a new
    // document.
    const std::optional<TFileIdentity>& DiskIdentity() const { return diskIdentity_; }
    void SetDiskIdentity(std::optional<TFileIdentity> identity) { diskIdentity_ = std::move(identity); }

    // Replaces the document's content by `file`, the bytes its file holds now, in place: the
    // top-level node stays, the branches are built anew (encrypted ones locked, as from any
    // file), the branches that were expanded and the selection are kept where the same branch is
    // found again (by titles and rows; else the nearest branch above it), and the document is
    // not modified. A file that cannot be parsed changes nothing and the error propagates.
    // Returns whether branches the user had unlocked are locked again. `replacing` runs once the
    // file has been parsed, while the old content is still there.
    bool Reload(TIdentifiedBytes file, const std::function<void()>& replacing = {});

    TDomDocument& XMLDocument() { return *xmlDocument_; }
    TTreeNode* RootNode() const { return rootNode_; }
    TDomNode RootElement() const { return rootElement_; }
    bool Modified() const { return modified_; }
    const std::string& FileName() const { return fileName_; }
    TBranchTree& Tree() const { return *tree_; }

    // Whether the document is one of the program's own (its help): changes to it are never
    // saved over its file, asked about on closing, kept as snapshots, nor is it reopened at the
    // next start. Saving it under a name of the user's makes it the user's document.
    bool ProgramsOwn() const { return programsOwn_; }
    void SetProgramsOwn(bool own) { programsOwn_ = own; }

private:
    enum class TShowAs { Opened, New, Recovered };

    TLXDocument(TBranchTree& tree, std::string fileName);
    static TLXDocument* Show(std::unique_ptr<TLXDocument> document, TShowAs showAs);

    std::unique_ptr<TDomDocument> xmlDocument_;
    size_t removedBackups_ = 0;
    TTreeNode* rootNode_ = nullptr;
    TDomNode rootElement_;
    bool modified_ = false;
    bool programsOwn_ = false;
    std::string fileName_;
    std::optional<TFileIdentity> diskIdentity_;
    TBranchTree* tree_;
};

// Closes the document: deletes its top-level node with every node below, which destroys it.
void DestroyDocument(TLXDocument* document);

} // namespace ludex
