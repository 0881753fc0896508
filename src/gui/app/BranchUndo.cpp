#include "gui/app/BranchUndo.h"

#include "core/base/Exception.h"
#include "core/document/BranchKeys.h"
#include "core/document/XMLNodeAccess.h"
#include "gui/app/LudexUnit.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <algorithm>
#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace ludex {

namespace {

// One step of a path: the place of a node among its parent's child nodes, counted from the end
// nearer to it (0 is the first child, or the last one when counted from the end). In the state of
// the document in which it was taken, the parent holds the same count of child nodes, so either
// way finds the same node again; the nearer end keeps both the count and the finding short where
// a branch has many siblings, for a path as long as the document is deep.
struct TPlace {
    size_t index = 0;
    bool fromEnd = false;
};

// The position of an element below the document's root element: its place at every level,
// outermost first.
using TElementPath = std::vector<TPlace>;

TPlace PlaceOf(const TDomNode& node) {
    // Both directions are walked in step, so the count ends at the nearer end.
    TDomNode before = node.PreviousSibling();
    TDomNode after = node.NextSibling();
    for (size_t distance = 0;; ++distance) {
        if (!before) {
            return {distance, false};
        }
        if (!after) {
            return {distance, true};
        }
        before = before.PreviousSibling();
        after = after.NextSibling();
    }
}

// Where an element is, and whether an ancestor of it holds it inside an encrypted branch.
struct TPosition {
    TElementPath path;
    bool insideEncrypted = false;
};

// The ancestors are gathered by the one walk up that must go from each to the next; a first or
// last child is told on the way, from the links of the node and its parent just read, and each
// ancestor's attributes are looked at while the walk goes on to the next (TAttributeSeeker). Only
// a place between first and last is counted afterwards.
TPosition PositionOf(TDomNode element, const TDomNode& root) {
    std::vector<TDomNode> chain;
    TPosition position;
    std::vector<size_t> between; // the links whose place is counted afterwards
    TAttributeSeeker encrypted(EncryptionAccess.Name());
    while (element && !(element == root)) {
        const TDomNode parent = element.Parent();
        if (parent.FirstChild() == element) {
            position.path.push_back({0, false});
        } else if (!element.NextSibling()) {
            position.path.push_back({0, true});
        } else {
            between.push_back(chain.size());
            position.path.emplace_back();
        }
        chain.push_back(element);
        if (parent) {
            encrypted.Add(parent); // an ancestor, the root last
        }
        element = parent;
    }
    if (!element) {
        throw Exception("The changed branch is not in its document");
    }
    for (const size_t i : between) {
        position.path[i] = PlaceOf(chain[i]);
    }
    std::reverse(position.path.begin(), position.path.end());
    position.insideEncrypted = encrypted.Found();
    return position;
}

// The child node at the place, or none when the parent has no such child.
TDomNode FindChild(const TDomNode& parent, const TPlace& place) {
    if (!place.fromEnd) {
        return parent.Child(place.index);
    }
    TDomNode child = parent.LastChild();
    for (size_t i = 0; i < place.index && child; ++i) {
        child = child.PreviousSibling();
    }
    return child;
}

// The child node at the place; there is none when the history does not fit the document.
TDomNode ChildAt(const TDomNode& parent, const TPlace& place) {
    TDomNode child = FindChild(parent, place);
    if (!child) {
        throw Exception("The history does not fit the document");
    }
    return child;
}

// The child node that is to follow a node put back at the place, in the state without it; none
// when the node goes last.
TDomNode FollowerAt(const TDomNode& parent, const TPlace& place) {
    if (!place.fromEnd) {
        return parent.Child(place.index);
    }
    return place.index == 0 ? TDomNode() : ChildAt(parent, {place.index - 1, true});
}

// The child node that shows the element, which the history knows is there.
TTreeNode* RecordedChildNodeOf(TTreeNode* node, const TDomNode& element) {
    if (TTreeNode* child = ChildNodeOf(node, element)) {
        return child;
    }
    throw Exception("The history does not fit the document");
}

// The node of the element at the first `levels` steps of the path. The elements along the path
// are found by their places; the nodes are looked up among their siblings only below the deepest
// node that `hint` (the selected node: undo acts where the user works) shares with the path, so
// that a step deep in a document costs its depth rather than every sibling on the way down.
TTreeNode* NodeAt(TLXDocument* document, const TElementPath& path, size_t levels, TTreeNode* hint) {
    std::vector<TDomNode> elements{document->RootElement()};
    elements.reserve(levels + 1);
    for (size_t i = 0; i < levels; ++i) {
        elements.push_back(ChildAt(elements.back(), path[i]));
    }
    TTreeNode* node = document->RootNode();
    if (hint != nullptr && hint->Root() == node) {
        while (static_cast<size_t>(hint->Level()) > levels) {
            hint = hint->Parent();
        }
        while (hint->Level() > 0 && !(ElementOf(hint) == elements[static_cast<size_t>(hint->Level())])) {
            hint = hint->Parent();
        }
        node = hint;
    }
    for (auto i = static_cast<size_t>(node->Level()); i < levels; ++i) {
        node = RecordedChildNodeOf(node, elements[i + 1]);
    }
    return node;
}

// Whether the element or one of its ancestors is encrypted: its content belongs to an
// encrypted branch.
bool InsideEncrypted(TDomNode node) {
    for (; node; node = node.Parent()) {
        if (node.IsElement() && IsBranchEncrypted(node)) {
            return true;
        }
    }
    return false;
}

// Whether an element at or below `top` is encrypted; without recursion.
bool ContainsEncrypted(const TDomNode& top) {
    TDomNode current = top;
    while (current) {
        if (current.IsElement() && IsBranchEncrypted(current)) {
            return true;
        }
        if (TDomNode child = current.FirstChild()) {
            current = child;
            continue;
        }
        while (current && !(current == top) && !current.NextSibling()) {
            current = current.Parent();
        }
        current = current && !(current == top) ? current.NextSibling() : TDomNode();
    }
    return false;
}

// A detached element tree for the attribute values a step keeps. It wipes its memory when it goes,
// and a key token kept in it keeps its key held (the key belongs to a branch that undo can bring
// back).
std::unique_ptr<TDomDocument> NewHeld(const char* xml) {
    auto held = std::make_unique<TDomDocument>();
    held->LoadXML(xml);
    return held;
}

bool SameValue(const TDomNode& a, const TDomNode& b, const std::string& name) {
    return a.HasAttribute(name) == b.HasAttribute(name) && a.AttributeView(name) == b.AttributeView(name);
}

} // namespace

struct TUndoRecorder::TEdit {
    enum class TKind { Insert, Remove, Attributes };
    TKind kind = TKind::Insert;
    TElementPath path;
    // Attributes: <held> with <before> and <after>, which carry the changed attributes that were,
    // and are, present.
    std::unique_ptr<TDomDocument> held;
    std::vector<std::string> names; // Attributes: the names looked at
    TDomNode element;               // Attributes: the changed element, until the command ends
    // Insert and Remove: the branch's element while this edit keeps it aside in its document
    // (TDomNode::SetAside), that is while an Insert is undone or a Remove done; empty while the
    // branch is in the document, where only the path finds it.
    TDomNode aside;
    // Remove: the row the branch's node had among its siblings, where undo shows it again, so
    // that the tree shows the order it showed before (which need not be the sorted one); none
    // when not known, and the branch takes its place in the sorted order.
    std::optional<int> shownRow;
    bool secret = false;

    TDomNode Before() const { return held->DocumentElement().FirstChild(); }
    TDomNode After() const { return held->DocumentElement().LastChild(); }
};

struct TUndoRecorder::TPart {
    TLXDocument* document = nullptr;
    std::vector<TEdit> edits;
};

TUndoRecorder::TUndoRecorder(TBranchUndo& owner) : owner_(owner) {}
TUndoRecorder::~TUndoRecorder() = default;

TUndoRecorder::TPart& TUndoRecorder::PartOf(TLXDocument* document) {
    for (auto& part : parts_) {
        if (part->document == document) {
            return *part;
        }
    }
    // The history begins before the first change, so that it knows whether that state is saved.
    owner_.HistoryOf(document);
    parts_.push_back(std::make_unique<TPart>());
    parts_.back()->document = document;
    return *parts_.back();
}

// A position being found on a thread of its own (FindRemoved).
struct TUndoRecorder::TFinding {
    TDomNode element;
    std::future<TPosition> position;
};

void TUndoRecorder::FindRemoved(TLXDocument* document, const TDomNode& element, int level, int row) {
    removedElement_ = element;
    removedRow_ = row;
    // Below this, the walk up costs less than a thread.
    constexpr int kBesideFrom = 1000;
    if (level < kBesideFrom) {
        return;
    }
    auto finding = std::make_unique<TFinding>();
    finding->element = element;
    try {
        finding->position = std::async(std::launch::async, [element, root = document->RootElement()] {
            return PositionOf(element, root);
        });
    } catch (const std::system_error&) {
        return; // no thread to be had: Removing finds it itself
    }
    finding_ = std::move(finding);
}

void TUndoRecorder::Inserted(TLXDocument* document, const TDomNode& element) {
    TEdit edit;
    edit.kind = TEdit::TKind::Insert;
    TPosition position;
    if (finding_ && finding_->element == element) {
        const std::unique_ptr<TFinding> finding = std::move(finding_);
        position = finding->position.get();
    } else {
        position = PositionOf(element, document->RootElement());
    }
    if (position.path.empty()) {
        throw Exception("A document's root element is not inserted as a branch");
    }
    edit.path = std::move(position.path);
    // Whether the branch itself holds an encrypted branch is asked only while the step keeps it
    // aside (ForgetSecrets): in the document, the branch is the document's own content.
    edit.secret = position.insideEncrypted;
    PartOf(document).edits.push_back(std::move(edit));
}

void TUndoRecorder::Removing(TLXDocument* document, const TDomNode& element) {
    Inserted(document, element);
    TEdit& edit = PartOf(document).edits.back();
    edit.kind = TEdit::TKind::Remove;
    edit.aside = element;
    if (removedElement_ == element && removedRow_ >= 0) {
        edit.shownRow = removedRow_;
    }
}

void TUndoRecorder::Abandon() noexcept {
    for (auto& part : parts_) {
        for (TEdit& edit : part->edits) {
            TBranchUndo::Release(edit);
        }
    }
}

void TUndoRecorder::Changing(TLXDocument* document, const TDomNode& element,
                             std::initializer_list<std::string_view> names) {
    TEdit edit;
    edit.kind = TEdit::TKind::Attributes;
    edit.element = element;
    edit.held = NewHeld("<held><before/><after/></held>");
    for (const std::string_view name : names) {
        edit.names.emplace_back(name);
        if (element.HasAttribute(name)) {
            edit.Before().SetAttribute(name, element.AttributeView(name));
        }
    }
    edit.secret = InsideEncrypted(element);
    PartOf(document).edits.push_back(std::move(edit));
}

void TUndoRecorder::Finish() {
    for (auto& part : parts_) {
        std::vector<TEdit>& edits = part->edits;
        for (auto it = edits.begin(); it != edits.end();) {
            if (it->kind == TEdit::TKind::Remove && !it->aside.IsSetAside()) {
                throw Exception("A removed branch was not set aside for the history");
            }
            if (it->kind != TEdit::TKind::Attributes) {
                ++it;
                continue;
            }
            const TDomNode after = it->After();
            bool changed = false;
            for (const std::string& name : it->names) {
                if (it->element.HasAttribute(name)) {
                    after.SetAttribute(name, it->element.AttributeView(name));
                }
                changed = changed || !SameValue(it->Before(), after, name);
            }
            if (!changed) {
                it = edits.erase(it);
                continue;
            }
            TPosition position = PositionOf(it->element, part->document->RootElement());
            it->path = std::move(position.path);
            it->secret = it->secret || position.insideEncrypted || IsBranchEncrypted(it->element) ||
                         it->Before().HasAttribute(EncryptionAccess.Name()) ||
                         after.HasAttribute(EncryptionAccess.Name());
            it->element = TDomNode();
            ++it;
        }
    }
}

struct TBranchUndo::TStep {
    unsigned group = 0; // the command that made it: a move between documents has a step in both
    bool secret = false;
    std::vector<TUndoRecorder::TEdit> edits;
};

struct TBranchUndo::THistory {
    std::vector<std::unique_ptr<TStep>> steps;
    size_t index = 0;            // the steps before it are done, the others undone
    std::optional<size_t> clean; // the index of the saved state, when the history reaches it
};

TBranchUndo::TBranchUndo(TForm_Ludex& window) : window_(window) {}

TBranchUndo::~TBranchUndo() = default;

TBranchUndo::THistory& TBranchUndo::HistoryOf(TLXDocument* document) {
    if (THistory* found = FindHistory(document)) {
        return *found;
    }
    auto history = std::make_unique<THistory>();
    // A document changed before its history began (a memo edit not stored yet is no change of
    // its elements) has no state in the history that matches its file.
    const bool pendingMemo = window_.MemoModified() && DocumentOf(window_.Tree().Selected()) == document;
    if (!document->Modified() || pendingMemo) {
        history->clean = 0;
    }
    return *histories_.emplace(document, std::move(history)).first->second;
}

TBranchUndo::THistory* TBranchUndo::FindHistory(TLXDocument* document) const {
    auto found = histories_.find(document);
    return found == histories_.end() ? nullptr : found->second.get();
}

void TBranchUndo::Record(const std::function<void(TUndoRecorder&)>& change) {
    window_.CommitMemo();
    RecordStep(change);
}

void TBranchUndo::RecordStep(const std::function<void(TUndoRecorder&)>& change) {
    TUndoRecorder recorder(*this);
    recording_ = &recorder;
    try {
        change(recorder);
        recorder.Finish();
    } catch (...) {
        recording_ = nullptr;
        // What the command removed stays removed; nothing keeps it any more.
        recorder.Abandon();
        ForgetUnusedBranchKeys();
        throw;
    }
    recording_ = nullptr;
    const unsigned group = ++lastGroup_;
    std::vector<std::pair<TLXDocument*, std::unique_ptr<TStep>>> steps;
    std::set<unsigned> undone;
    for (auto& part : recorder.parts_) {
        if (part->edits.empty()) {
            continue; // nothing changed in this document: no step
        }
        THistory& history = HistoryOf(part->document);
        for (size_t i = history.index; i < history.steps.size(); ++i) {
            undone.insert(history.steps[i]->group);
        }
        auto step = std::make_unique<TStep>();
        step->group = group;
        for (auto& edit : part->edits) {
            step->secret = step->secret || edit.secret;
            step->edits.push_back(std::move(edit));
        }
        steps.emplace_back(part->document, std::move(step));
    }
    // A new step ends what could be redone, in every document that shares it.
    DropGroups(std::move(undone));
    for (auto& [document, step] : steps) {
        THistory& history = HistoryOf(document);
        history.steps.push_back(std::move(step));
        history.index = history.steps.size();
    }
    window_.UpdateBranchCommands(window_.Tree().Selected());
}

void TBranchUndo::Apply(TLXDocument* document, TStep& step, bool forward) {
    using TKind = TUndoRecorder::TEdit::TKind;
    TBranchTree& tree = window_.Tree();
    auto refreshIcon = [&](TTreeNode* node) {
        if (node->Parent() == nullptr) {
            return;
        }
        const bool showsMark =
            node == window_.MarkedNode() && (node->Picture() == picCutMark || node->Picture() == picCopyMark);
        if (!showsMark) {
            UpdateBranchIcon(tree, node);
        }
    };
    const size_t count = step.edits.size();
    for (size_t n = 0; n < count; ++n) {
        TUndoRecorder::TEdit& edit = step.edits[forward ? n : count - 1 - n];
        const TElementPath& path = edit.path;
        const size_t depth = path.size();
        if (edit.kind == TKind::Attributes) {
            // The node is found along the path; its element is the one the path names.
            TTreeNode* node = NodeAt(document, path, depth, tree.Selected());
            const TDomNode element = ElementOf(node);
            const TDomNode values = forward ? edit.After() : edit.Before();
            for (const std::string& name : edit.names) {
                if (values.HasAttribute(name)) {
                    element.SetAttribute(name, values.AttributeView(name));
                } else {
                    element.RemoveAttribute(name);
                }
            }
            tree.SetText(node, TitleAccess.Read(element));
            if (node->Parent() != nullptr) {
                tree.SortChildren(node->Parent(), TSortDepth::OneLevel);
            }
            refreshIcon(node);
            tree.Select(node);
            continue;
        }
        TTreeNode* parentNode = NodeAt(document, path, depth - 1, tree.Selected());
        const TDomNode parent = ElementOf(parentNode);
        if ((edit.kind == TKind::Insert) == forward) {
            // The branch comes back at its place among the elements; its nodes are made anew.
            const TDomNode element = edit.aside;
            if (!element.IsSetAside()) {
                throw Exception("The history does not fit the document");
            }
            parent.PutBackBefore(element, FollowerAt(parent, path.back()));
            edit.aside = TDomNode();
            TTreeNode* node = tree.AddBranch(parentNode, element, TBranchOrder::Window);
            if (edit.kind == TKind::Remove && edit.shownRow) {
                tree.MoveToRow(node, *edit.shownRow); // the order shown before the removal
            } else {
                tree.SortChildren(parentNode, TSortDepth::OneLevel);
            }
            UpdateBranchIcon(tree, node);
            refreshIcon(parentNode);
            tree.Select(node);
        } else {
            const TDomNode element = ChildAt(parent, path.back());
            TTreeNode* node = RecordedChildNodeOf(parentNode, element);
            TTreeNode* next = node->PreviousSibling() != nullptr ? node->PreviousSibling() : parentNode;
            window_.ForgetMarkWithin(node);
            tree.Select(next);
            // The node goes before its element, so that nothing shown refers to a removed element.
            tree.Delete(node);
            element.SetAside();
            edit.aside = element;
            refreshIcon(parentNode);
        }
    }
}

void TBranchUndo::AfterMove(TLXDocument* document) {
    if (THistory* history = FindHistory(document)) {
        document->SetModified(!(history->clean && *history->clean == history->index));
    }
}

void TBranchUndo::Move(bool back) {
    window_.CommitMemo();
    TLXDocument* document = window_.SelectedDocument();
    THistory* history = FindHistory(document);
    if (history == nullptr || (back ? history->index == 0 : history->index == history->steps.size())) {
        return;
    }
    const unsigned group = history->steps[back ? history->index - 1 : history->index]->group;
    // The other documents of the same command first, so that the selection ends in this one.
    std::vector<TLXDocument*> order;
    for (auto& [other, otherHistory] : histories_) {
        const size_t at = otherHistory->index;
        const bool shares = back ? at > 0 && otherHistory->steps[at - 1]->group == group
                                 : at < otherHistory->steps.size() && otherHistory->steps[at]->group == group;
        if (other != document && shares) {
            order.push_back(other);
        }
    }
    order.push_back(document);
    for (TLXDocument* each : order) {
        THistory& h = *FindHistory(each);
        TStep& step = *h.steps[back ? h.index - 1 : h.index];
        try {
            Apply(each, step, !back);
        } catch (...) {
            // Cannot happen while the history fits its document; should it, none of it is kept.
            std::set<unsigned> all;
            for (const auto& s : h.steps) {
                all.insert(s->group);
            }
            DropGroups(std::move(all));
            AfterMove(each);
            throw;
        }
        h.index = back ? h.index - 1 : h.index + 1;
        AfterMove(each);
    }
    window_.ShowSelectedBranch();
}

void TBranchUndo::Undo() {
    Move(true);
}

void TBranchUndo::Redo() {
    Move(false);
}

bool TBranchUndo::CanUndo() const {
    const THistory* history = FindHistory(window_.SelectedDocument());
    return (history != nullptr && history->index > 0) || window_.MemoModified();
}

bool TBranchUndo::CanRedo() const {
    const THistory* history = FindHistory(window_.SelectedDocument());
    return history != nullptr && history->index < history->steps.size();
}

int TBranchUndo::UndoCount(TLXDocument* document) const {
    const THistory* history = FindHistory(document);
    return history == nullptr ? 0 : static_cast<int>(history->index);
}

int TBranchUndo::RedoCount(TLXDocument* document) const {
    const THistory* history = FindHistory(document);
    return history == nullptr ? 0 : static_cast<int>(history->steps.size() - history->index);
}

void TBranchUndo::MarkSaved(TLXDocument* document) {
    THistory& history = HistoryOf(document);
    history.clean = history.index;
}

void TBranchUndo::DropGroups(std::set<unsigned> groups) noexcept {
    bool released = false;
    try {
        std::set<unsigned> done;
        while (!groups.empty()) {
            const unsigned group = *groups.begin();
            groups.erase(groups.begin());
            done.insert(group);
            for (auto& [document, history] : histories_) {
                auto& steps = history->steps;
                const auto found = std::find_if(steps.begin(), steps.end(),
                                                [group](const auto& step) { return step->group == group; });
                if (found == steps.end()) {
                    continue;
                }
                const size_t at = static_cast<size_t>(found - steps.begin());
                // Done: it goes with every older step. Undone: with every newer one.
                const bool isDone = at < history->index;
                const size_t first = isDone ? 0 : at;
                const size_t last = isDone ? at + 1 : steps.size();
                for (size_t i = first; i < last; ++i) {
                    if (done.count(steps[i]->group) == 0) {
                        groups.insert(steps[i]->group);
                    }
                }
                const auto from = steps.begin() + static_cast<std::ptrdiff_t>(first);
                const auto to = steps.begin() + static_cast<std::ptrdiff_t>(last);
                released = ReleaseSteps(from, to) || released;
                steps.erase(from, to);
                if (isDone) {
                    history->index -= last;
                    if (history->clean) {
                        history->clean = *history->clean < last
                                             ? std::nullopt
                                             : std::optional<size_t>(*history->clean - last);
                    }
                } else if (history->clean && *history->clean > first) {
                    history->clean.reset();
                }
            }
        }
    } catch (...) {
        // Out of memory while looking: every history goes, which is always safe.
        ClearAll();
    }
    if (released) {
        ForgetUnusedBranchKeys(); // a discarded branch may have been the last to use a key
    }
}

bool TBranchUndo::Release(TUndoRecorder::TEdit& edit) noexcept {
    const TDomNode aside = std::exchange(edit.aside, TDomNode());
    // A removal whose command failed before setting its branch aside left it in the document.
    if (!aside.IsSetAside()) {
        return false;
    }
    try {
        aside.DiscardSetAside();
    } catch (...) {
        // Only an element not set aside is refused, and this one is.
    }
    return true;
}

bool TBranchUndo::ReleaseSteps(std::vector<std::unique_ptr<TStep>>::iterator first,
                               std::vector<std::unique_ptr<TStep>>::iterator last) noexcept {
    bool released = false;
    for (auto it = first; it != last; ++it) {
        for (TUndoRecorder::TEdit& edit : (*it)->edits) {
            released = Release(edit) || released;
        }
    }
    return released;
}

void TBranchUndo::ClearAll() noexcept {
    bool released = false;
    for (auto& [document, history] : histories_) {
        released = ReleaseSteps(history->steps.begin(), history->steps.end()) || released;
    }
    histories_.clear();
    if (released) {
        ForgetUnusedBranchKeys();
    }
}

void TBranchUndo::ForgetSecrets(TLXDocument* document) {
    std::set<unsigned> secret;
    for (auto& [each, history] : histories_) {
        if (document == nullptr || each == document) {
            for (const auto& step : history->steps) {
                // A branch kept aside holds plain text when an encrypted branch lies in it.
                const bool keepsEncrypted =
                    std::any_of(step->edits.begin(), step->edits.end(), [](const TUndoRecorder::TEdit& edit) {
                        return edit.aside && ContainsEncrypted(edit.aside);
                    });
                if (step->secret || keepsEncrypted) {
                    secret.insert(step->group);
                }
            }
        }
    }
    DropGroups(std::move(secret));
    window_.UpdateBranchCommands(window_.Tree().Selected());
}

void TBranchUndo::ForgetDocument(TLXDocument* document) noexcept {
    if (recording_ != nullptr) {
        std::erase_if(recording_->parts_,
                      [document](const auto& part) { return part->document == document; });
    }
    const auto found = histories_.find(document);
    if (found == histories_.end()) {
        return;
    }
    std::set<unsigned> groups;
    try {
        for (const auto& step : found->second->steps) {
            groups.insert(step->group);
        }
    } catch (...) {
        ClearAll();
        return;
    }
    std::vector<std::unique_ptr<TStep>>& steps = found->second->steps;
    const bool released = ReleaseSteps(steps.begin(), steps.end());
    histories_.erase(found);
    if (released) {
        ForgetUnusedBranchKeys();
    }
    // A move to or from the closed document cannot be undone in the other one alone.
    DropGroups(std::move(groups));
}

} // namespace ludex
