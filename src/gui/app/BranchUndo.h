#pragma once

#include <QObject>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>

class QUndoStack;

namespace ludex {

class TForm_Ludex;
class TLXDocument;

// Undo and redo of the changes made to documents, one history per document.
//
// A step keeps a detached copy of its document's whole element tree from before and from after
// the change; undoing or redoing puts that copy back into the document's root element (which
// keeps its identity) and rebuilds the tree nodes below the document's top-level node from the
// elements. So no step holds a tree node or a model index, and nodes and elements are paired
// after every step exactly as after opening the file.
//
// A copy of an unlocked encrypted branch holds its plain text. Locking any branch of a document
// therefore drops the whole history of that document: no step can bring back plain text that the
// lock took away. The whole history goes rather than only the steps that touch the locked branch,
// because every step holds the whole document, the locked branch included.
//
// The history knows the state of the last save: undoing back to it clears the document's
// modified mark, and redoing away from it sets the mark again.
class TBranchUndo : public QObject {
public:
    explicit TBranchUndo(TForm_Ludex& window);
    ~TBranchUndo() override;

    // Stores a pending memo edit (itself a step), then runs `change` and records it as one step
    // in the history of each of the documents (those it changed). When `change` throws, nothing
    // is recorded and the error propagates; the change must then have left the documents as they
    // were.
    void Record(std::initializer_list<TLXDocument*> documents, const std::function<void()>& change);
    // As Record, without storing the memo first: for storing the memo itself.
    void RecordStep(std::initializer_list<TLXDocument*> documents, const std::function<void()>& change);

    // Undo and redo in the history of the selected branch's document.
    void Undo();
    void Redo();
    bool CanUndo() const;
    bool CanRedo() const;

    // The document has been saved: its present state is the one that carries no modified mark.
    void MarkSaved(TLXDocument* document);
    // A branch of the document has been locked: its history goes (see above).
    void ForgetHistory(TLXDocument* document);
    // The document is being closed.
    void ForgetDocument(TLXDocument* document) noexcept;

    // The number of steps that Undo can take back in the document.
    int UndoCount(TLXDocument* document) const;

    class TSnapshot;
    // Puts the snapshot back into the document and rebuilds its nodes (used by the steps).
    void Restore(TLXDocument* document, const TSnapshot& snapshot);
    std::unique_ptr<TSnapshot> Take(TLXDocument* document) const;

private:
    QUndoStack& StackOf(TLXDocument* document);
    QUndoStack* FindStack(TLXDocument* document) const;
    void AfterMove(TLXDocument* document);
    enum class TDirection { Back, Forward };
    void Step(TDirection direction);

    TForm_Ludex& window_;
    std::map<TLXDocument*, std::unique_ptr<QUndoStack>> stacks_;
    unsigned lastGroup_ = 0;
};

} // namespace ludex
