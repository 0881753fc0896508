#include "gui/dialogs/FindResults.h"

#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"
#include "gui/tree/TreeViewManager.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFileInfo>
#include <QPainter>
#include <QTextDocument>

#include <algorithm>

namespace ludex {

namespace {

// How much of the text on either side of a match the excerpt looks at, and shows.
constexpr size_t kWindowBytes = 256;
constexpr qsizetype kBeforeCharacters = 24;
constexpr qsizetype kAfterCharacters = 40;
constexpr qsizetype kMarkedCharacters = 60;
const QString kEllipsis = QString(QChar(0x2026));

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool IsLineBreak(QChar c) {
    return c == u'\n' || c == u'\r';
}

// The first n UTF-16 units of the text, one fewer when the n-th would split a character.
QString LeftWhole(const QString& text, qsizetype n) {
    if (n < text.size() && n > 0 && text.at(n - 1).isHighSurrogate()) {
        --n;
    }
    return text.left(n);
}

// The last n UTF-16 units of the text, one fewer when the first would split a character.
QString RightWhole(const QString& text, qsizetype n) {
    if (n < text.size() && n > 0 && text.at(text.size() - n).isLowSurrogate()) {
        --n;
    }
    return text.right(n);
}

// The titles from the document down to the branch. A branch more than kPathLevels levels down
// shows its document, an ellipsis and its nearest kPathLevels titles: the list measures the text
// each time it paints a row, and the path of a branch thousands of levels deep would make every
// paint, and the list's memory, grow with the depth.
constexpr int kPathLevels = 6;

QString PathOf(TTreeNode* node) {
    std::vector<const std::string*> titles; // nearest first
    TTreeNode* above = node;
    for (int i = 0; i < kPathLevels && above != nullptr; ++i, above = above->Parent()) {
        titles.push_back(&above->Text());
    }
    QString path;
    if (above != nullptr) {
        path = QString::fromStdString(above->Root()->Text());
        if (above != above->Root()) {
            path += QStringLiteral(" / ") + kEllipsis;
        }
    }
    for (auto it = titles.rbegin(); it != titles.rend(); ++it) {
        if (!path.isEmpty()) {
            path += QStringLiteral(" / ");
        }
        path += QString::fromStdString(**it);
    }
    return path;
}

QString DocumentNameOf(TTreeNode* node) {
    const TLXDocument* document = DocumentOf(node);
    if (document != nullptr && !document->FileName().empty()) {
        return QFileInfo(QString::fromStdString(document->FileName())).fileName();
    }
    TTreeNode* root = RootNodeOf(node);
    return root != nullptr ? QString::fromStdString(root->Text()) : QString();
}

} // namespace

TExcerpt MakeExcerpt(std::string_view text, const TTextMatch& match) {
    const size_t start = std::min(match.position - 1, text.size());
    const size_t end = std::min(start + match.length, text.size());
    TExcerpt excerpt;

    size_t low = start > kWindowBytes ? start - kWindowBytes : 0;
    while (low < start && IsContinuationByte(text[low])) {
        ++low;
    }
    QString before = QString::fromUtf8(text.substr(low, start - low));
    qsizetype lineStart = before.size();
    while (lineStart > 0 && !IsLineBreak(before.at(lineStart - 1))) {
        --lineStart;
    }
    bool cut = lineStart == 0 && low > 0;
    before = before.mid(lineStart);
    if (before.size() > kBeforeCharacters) {
        before = RightWhole(before, kBeforeCharacters);
        cut = true;
    }
    excerpt.before = cut ? kEllipsis + before : before;

    const size_t markedEnd = std::min(end, start + kWindowBytes);
    size_t markedCut = markedEnd;
    while (markedCut > start && markedCut < text.size() && IsContinuationByte(text[markedCut])) {
        --markedCut;
    }
    QString marked = QString::fromUtf8(text.substr(start, markedCut - start));
    for (QChar& c : marked) {
        if (IsLineBreak(c)) {
            c = u' ';
        }
    }
    if (marked.size() > kMarkedCharacters || markedCut < end) {
        marked = LeftWhole(marked, kMarkedCharacters) + kEllipsis;
    }
    excerpt.marked = marked;

    size_t high = std::min(text.size(), end + kWindowBytes);
    while (high > end && high < text.size() && IsContinuationByte(text[high])) {
        --high;
    }
    QString after = QString::fromUtf8(text.substr(end, high - end));
    const qsizetype lineEnd = std::find_if(after.begin(), after.end(), IsLineBreak) - after.begin();
    cut = lineEnd == after.size() && high < text.size();
    after = after.left(lineEnd);
    if (after.size() > kAfterCharacters) {
        after = LeftWhole(after, kAfterCharacters);
        cut = true;
    }
    excerpt.after = cut ? after + kEllipsis : after;
    return excerpt;
}

void TFindResultsData::Add(TTreeNode* node, TMatchPlace place, std::string_view text,
                           const TTextMatch& match) {
    if (branches.empty() || branches.back().node != node) {
        branches.push_back({node, DocumentNameOf(node), PathOf(node)});
    }
    TExcerpt excerpt = MakeExcerpt(text, match);
    matches.push_back({static_cast<uint32_t>(branches.size() - 1), place, match,
                       std::string(text.substr(match.position - 1, match.length)), std::move(excerpt.before),
                       std::move(excerpt.marked), std::move(excerpt.after)});
}

TFindResults::TFindResults(QObject* parent) : QAbstractTableModel(parent) {}

void TFindResults::Take(TFindResultsData data) {
    beginResetModel();
    data_ = std::move(data);
    endResetModel();
}

const TFoundMatch* TFindResults::Match(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= data_.matches.size()) {
        return nullptr;
    }
    return &data_.matches[static_cast<size_t>(row)];
}

TTreeNode* TFindResults::NodeOf(const TFoundMatch& match) const {
    return data_.branches[match.branch].node;
}

void TFindResults::ForgetWithin(const TTreeNode* node) noexcept {
    bool any = false;
    for (TFoundBranch& branch : data_.branches) {
        if (branch.node != nullptr && (branch.node == node || branch.node->HasAsAncestor(node))) {
            branch.node = nullptr;
            any = true;
        }
    }
    if (!any) {
        return;
    }
    // The rows of every gone branch lose their text; given back, the buffers are wiped by the
    // heap (WipingHeap.h).
    for (TFoundMatch& match : data_.matches) {
        if (data_.branches[match.branch].node == nullptr) {
            std::string().swap(match.matched);
            QString().swap(match.before);
            QString().swap(match.marked);
            QString().swap(match.after);
        }
    }
    emit dataChanged(index(0, colExcerpt), index(rowCount() - 1, colExcerpt));
}

void TFindResults::SetCaptions(const QStringList& headers, const QString& title, const QString& memo) {
    headers_ = headers;
    titleWord_ = title;
    memoWord_ = memo;
    emit headerDataChanged(Qt::Horizontal, 0, colCount - 1);
    if (!data_.matches.empty()) {
        emit dataChanged(index(0, colPlace), index(rowCount() - 1, colPlace));
    }
}

int TFindResults::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(data_.matches.size());
}

int TFindResults::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : colCount;
}

QVariant TFindResults::data(const QModelIndex& index, int role) const {
    const TFoundMatch* match = Match(index.row());
    if (match == nullptr) {
        return {};
    }
    const TFoundBranch& branch = data_.branches[match->branch];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case colDocument:
            return branch.document;
        case colBranch:
            return branch.path;
        case colPlace:
            return match->place == TMatchPlace::Title ? titleWord_ : memoWord_;
        case colExcerpt:
            return match->before + match->marked + match->after;
        default:
            return {};
        }
    }
    if (role == ExcerptHtmlRole && index.column() == colExcerpt) {
        return match->before.toHtmlEscaped() + QStringLiteral("<b>") + match->marked.toHtmlEscaped() +
               QStringLiteral("</b>") + match->after.toHtmlEscaped();
    }
    return {};
}

QVariant TFindResults::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < headers_.size()) {
        return headers_.at(section);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void TExcerptDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const QVariant html = index.data(TFindResults::ExcerptHtmlRole);
    if (!html.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    item.text.clear();
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    QTextDocument document;
    document.setDocumentMargin(0);
    document.setDefaultFont(item.font);
    document.setHtml(html.toString());
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    QAbstractTextDocumentLayout::PaintContext context;
    const bool selected = (item.state & QStyle::State_Selected) != 0;
    context.palette.setColor(QPalette::Text,
                             item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->save();
    const qreal top = textRect.top() + (textRect.height() - document.size().height()) / 2;
    painter->translate(textRect.left(), top);
    context.clip = QRectF(0, 0, textRect.width(), textRect.height());
    painter->setClipRect(context.clip);
    document.documentLayout()->draw(painter, context);
    painter->restore();
}

} // namespace ludex
