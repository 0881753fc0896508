#include "gui/app/PrintedBranches.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>

namespace ludex {

namespace {

// The size of a heading against the body text, from the first level down to the sixth.
constexpr std::array<double, 6> kHeadingScale = {1.8, 1.5, 1.3, 1.15, 1.05, 1.0};

// A heading is one line: line breaks and tabs in a title become blanks.
QString TitleLine(std::string_view title) {
    QString line = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    for (QChar& c : line) {
        if (c == '\r' || c == '\n' || c == '\t') {
            c = ' ';
        }
    }
    return line;
}

int IndentOf(size_t depth) {
    return static_cast<int>(std::min(depth, kDeepestIndentedLevel));
}

} // namespace

TPrintedBranches::TPrintedBranches(QString lockedNote, const QFont& font)
    : lockedNote_(std::move(lockedNote)), font_(font),
      points_(font.pointSizeF() > 0 ? font.pointSizeF() : 10.0) {
    Take();
}

TPrintedBranches::~TPrintedBranches() = default;

std::unique_ptr<QTextDocument> TPrintedBranches::Take() {
    auto document = std::move(document_);
    document_ = std::make_unique<QTextDocument>();
    document_->setDefaultFont(font_);
    document_->setIndentWidth(points_ * 1.5);
    empty_ = true;
    return document;
}

void TPrintedBranches::NextBlock() {
    if (empty_) {
        empty_ = false;
        return;
    }
    QTextCursor cursor(document_.get());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
}

void TPrintedBranches::Heading(size_t depth, std::string_view title, const QString& note) {
    NextBlock();
    QTextCursor cursor(document_.get());
    cursor.movePosition(QTextCursor::End);
    const size_t level = std::min(depth, kHeadingScale.size() - 1);
    QTextBlockFormat block;
    block.setHeadingLevel(static_cast<int>(level) + 1);
    block.setIndent(IndentOf(depth));
    block.setTopMargin(points_ * 0.8);
    block.setBottomMargin(points_ * 0.3);
    cursor.setBlockFormat(block);
    QTextCharFormat heading;
    heading.setFontWeight(QFont::Bold);
    heading.setFontPointSize(points_ * kHeadingScale[level]);
    cursor.setBlockCharFormat(heading);
    cursor.insertText(QString::fromStdString(DepthMark(depth)) + TitleLine(title), heading);
    if (!note.isEmpty()) {
        QTextCharFormat noteFormat;
        noteFormat.setFontItalic(true);
        noteFormat.setFontPointSize(points_);
        cursor.insertText(" " + note, noteFormat);
    }
}

void TPrintedBranches::AddBranch(size_t depth, std::string_view title, std::string_view memo) {
    Heading(depth, title, {});
    if (memo.empty()) {
        return;
    }
    QTextBlockFormat block;
    block.setIndent(IndentOf(depth));
    QTextCharFormat text;
    text.setFontPointSize(points_);
    for (std::string_view line : MemoLines(memo)) {
        NextBlock();
        QTextCursor cursor(document_.get());
        cursor.movePosition(QTextCursor::End);
        cursor.setBlockFormat(block);
        cursor.setBlockCharFormat(text);
        cursor.insertText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())), text);
    }
}

void TPrintedBranches::AddLockedBranch(size_t depth, std::string_view title) {
    Heading(depth, title, lockedNote_);
}

} // namespace ludex
