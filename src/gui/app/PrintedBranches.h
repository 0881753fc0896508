#pragma once

#include "core/export/ExportFormats.h"

#include <QFont>
#include <QString>

#include <memory>

class QTextDocument;

namespace ludex {

// Lays out branches for printing, as a text document that a printer or a print preview draws:
// each title a bold heading whose size falls with its depth (the sixth level and those below it
// alike), indented by its depth; the memo's lines as plain paragraphs under it; a locked branch's
// title followed by `lockedNote`. Titles and memos are text, never markup.
class TPrintedBranches : public TBranchSink {
public:
    TPrintedBranches(QString lockedNote, const QFont& font);
    ~TPrintedBranches() override;

    void AddBranch(size_t depth, std::string_view title, std::string_view memo) override;
    void AddLockedBranch(size_t depth, std::string_view title) override;

    // The document laid out so far; the layout starts anew after it.
    std::unique_ptr<QTextDocument> Take();

private:
    void Heading(size_t depth, std::string_view title, const QString& note);
    // A new paragraph, or the document's first, empty one.
    void NextBlock();

    QString lockedNote_;
    QFont font_;
    double points_; // the size of the body text: the font's, or 10 points for a font sized in pixels
    std::unique_ptr<QTextDocument> document_;
    bool empty_ = true;
};

} // namespace ludex
