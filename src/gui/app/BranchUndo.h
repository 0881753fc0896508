#pragma once

#include "core/document/DomService.h"

#include <QObject>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

namespace ludex {

class TBranchUndo;
class TForm_Ludex;
class TLXDocument;

// What one command changes in the elements, reported by the command as it changes them.
class TUndoRecorder {
public:
    explicit TUndoRecorder(TBranchUndo& owner);
    ~TUndoRecorder();
    TUndoRecorder(const TUndoRecorder&) = delete;
    TUndoRecorder& operator=(const TUndoRecorder&) = delete;

    // The element has just been added to the document (with everything below it).
    void Inserted(TLXDocument* document, const TDomNode& element);
    // The element (with everything below it) is about to be removed from the document. The command
    // removes it by setting it aside (TDomNode::SetAside), never by removing it for good: the
    // step keeps it there, so that undo puts the same element back without a copy.
    void Removing(TLXDocument* document, const TDomNode& element);
    // The element, `level` levels deep and shown at `row` among its siblings, is to be removed:
    // where it is begins to be found now, on a thread of its own when it lies deep (a walk up
    // through thousands of ancestors), so that the command can let its node go meanwhile;
    // Removing takes the answer, and the row, where undo shows the branch again. Until then the
    // command changes no element of the document.
    void FindRemoved(TLXDocument* document, const TDomNode& element, int level, int row);
    // These attributes of the element are about to change; their new values are read when the
    // command ends, so the element must still be in the document then.
    void Changing(TLXDocument* document, const TDomNode& element,
                  std::initializer_list<std::string_view> names);

    struct TEdit;
    struct TPart;

private:
    friend class TBranchUndo;
    TPart& PartOf(TLXDocument* document);
    // Reads the new attribute values; drops the changes that changed nothing.
    void Finish();
    // The command failed: what it set aside is discarded, since no step keeps it.
    void Abandon() noexcept;

    struct TFinding;
    TBranchUndo& owner_;
    std::vector<std::unique_ptr<TPart>> parts_;
    std::unique_ptr<TFinding> finding_; // begun by FindRemoved, taken by Removing
    TDomNode removedElement_;           // told by FindRemoved, with the row its node had
    int removedRow_ = -1;
};

// Undo and redo of the changes made to documents, one history per document.
//
// A step holds only what its command changed: the branch that was inserted or removed and the old
// and new values of the attributes it changed, each at the position of its element (the index
// among its parent's child nodes at every level). Undoing or redoing changes those elements and
// the tree nodes of exactly those branches, so nodes and elements stay paired, and the cost of a
// step does not grow with the document.
//
// A removed branch (or an inserted one, once undone) is not copied: its element is kept aside in
// its own document (TDomNode::SetAside), out of reach of everything that reads the document, and
// put back as it was. When a step goes, what it keeps aside is discarded, wiped as a removal
// wipes it. Attribute values are kept in element trees that wipe their memory when they go. A step that
// holds content of an encrypted branch (the branch itself, anything inside it, its memo, its
// password or key token) is secret: any locking of a document's branches drops every secret step
// of that document, Lock All those of every document, so that undo never brings back plain text
// that a lock took away and no password outlives the lock in the history. The history stays a
// line: a dropped step takes the steps older than it (when it can be undone) or newer than it
// (when it can be redone) with it, and a command that changed two documents is dropped in both.
//
// The history knows the state of the last save: undoing back to it clears the document's
// modified mark, and redoing away from it sets the mark again.
class TBranchUndo : public QObject {
public:
    explicit TBranchUndo(TForm_Ludex& window);
    ~TBranchUndo() override;

    // Stores a pending memo edit (itself a step), then runs `change` and records what it reports
    // as one step in the history of each document it changed. When `change` throws, nothing is
    // recorded and the error propagates; the change must then have left the documents as they were.
    void Record(const std::function<void(TUndoRecorder&)>& change);
    // As Record, without storing the memo first: for storing the memo itself.
    void RecordStep(const std::function<void(TUndoRecorder&)>& change);

    // Undo and redo in the history of the selected branch's document.
    void Undo();
    void Redo();
    bool CanUndo() const;
    bool CanRedo() const;

    // The document has been saved: its present state is the one that carries no modified mark.
    void MarkSaved(TLXDocument* document);
    // Branches of the document (of every document for null) have been locked: the secret steps go.
    void ForgetSecrets(TLXDocument* document);
    // The document is being closed, or its content replaced (a reload): its history goes, with
    // what it keeps aside, while the document's elements are still there.
    void ForgetDocument(TLXDocument* document) noexcept;

    // The number of steps that Undo can take back, and Redo bring again, in the document.
    int UndoCount(TLXDocument* document) const;
    int RedoCount(TLXDocument* document) const;

    struct TStep;
    struct THistory;

private:
    friend class TUndoRecorder;
    // The history of the document, begun now when it has none.
    THistory& HistoryOf(TLXDocument* document);
    THistory* FindHistory(TLXDocument* document) const;
    void Apply(TLXDocument* document, TStep& step, bool forward);
    void AfterMove(TLXDocument* document);
    // Drops the steps of these command groups in every history, with what lies beyond them.
    void DropGroups(std::set<unsigned> groups) noexcept;
    // Discards the branch the edit keeps aside, if it keeps one; whether it did.
    static bool Release(TUndoRecorder::TEdit& edit) noexcept;
    // Releases every edit of the steps; whether any kept a branch aside.
    static bool ReleaseSteps(std::vector<std::unique_ptr<TStep>>::iterator first,
                             std::vector<std::unique_ptr<TStep>>::iterator last) noexcept;
    // Releases every step of every history, then forgets them all: the way out when memory runs out.
    void ClearAll() noexcept;
    void Move(bool back);

    TForm_Ludex& window_;
    std::map<TLXDocument*, std::unique_ptr<THistory>> histories_;
    unsigned lastGroup_ = 0;
    TUndoRecorder* recording_ = nullptr; // the command being recorded
};

} // namespace ludex
