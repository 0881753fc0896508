#pragma once

#include "core/search/BranchSearch.h"
#include "core/search/TextMatch.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStyledItemDelegate>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

class TTreeNode;

// A branch that holds at least one listed match.
struct TFoundBranch {
    TTreeNode* node = nullptr; // null once the node has been deleted
    QString document;          // the document's file name, or its title while it has none
    QString path;              // the titles from the document down to the branch
};

// One listed match.
struct TFoundMatch {
    uint32_t branch = 0; // among the list's branches
    TMatchPlace place = TMatchPlace::Title;
    TTextMatch match;    // byte positions in the title or in the stored memo
    std::string matched; // the matched bytes, to recognise the match once the documents have changed
    QString before, marked, after; // a short excerpt around the match, the match itself marked
};

// What one Find All run found, gathered before it replaces the list shown, so that a search that
// is cancelled or disturbed leaves the list as it was.
struct TFindResultsData {
    std::vector<TFoundBranch> branches;
    std::vector<TFoundMatch> matches;
    size_t lockedNotSearched = 0;

    // Adds a match in `text` (the node's title or stored memo) at the node; the matches of one
    // node are added one after the other.
    void Add(TTreeNode* node, TMatchPlace place, std::string_view text, const TTextMatch& match);
};

// The short excerpt of a text around a match: up to a few words on either side within the
// match's line, and the match itself, shortened when long; "…" marks what is left out.
struct TExcerpt {
    QString before, marked, after;
};
TExcerpt MakeExcerpt(std::string_view text, const TTextMatch& match);

// The list of every match found by Find All: one row per match, in the order Find Next visits
// them. A row refers to its tree node only through the list's branches, which forget a node
// before it is deleted; the texts shown are those of the moment of the search.
class TFindResults : public QAbstractTableModel {
    Q_OBJECT

public:
    enum TColumn { colDocument, colBranch, colPlace, colExcerpt, colCount };
    // The excerpt as rich text, the match in bold.
    static constexpr int ExcerptHtmlRole = Qt::UserRole + 1;

    explicit TFindResults(QObject* parent = nullptr);

    // Shows what a search found, replacing the rows.
    void Take(TFindResultsData data);
    size_t MatchCount() const { return data_.matches.size(); }
    size_t LockedNotSearched() const { return data_.lockedNotSearched; }
    const TFoundMatch* Match(int row) const;
    // The row's node, or null when it has been deleted.
    TTreeNode* NodeOf(const TFoundMatch& match) const;
    // Forgets every listed node in the sub-tree of `node`, which is about to be deleted, and the
    // excerpts and matched text of their rows: a branch goes when its encrypted parent is locked,
    // and what it showed must not stay behind. The rows stay, naming the branch as gone.
    void ForgetWithin(const TTreeNode* node) noexcept;

    // The column headers and the words for a title and a memo match, in the interface's language.
    void SetCaptions(const QStringList& headers, const QString& title, const QString& memo);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    TFindResultsData data_;
    QStringList headers_;
    QString titleWord_, memoWord_;
};

// Paints an excerpt's rich text, so that the match stands out.
class TExcerptDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace ludex
