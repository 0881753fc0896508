#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

enum class TExportFormat { Text, Markdown, Html };

// The format named "text", "markdown" or "html"; nothing for any other name.
std::optional<TExportFormat> ExportFormatNamed(std::string_view name);

// Receives the branches of a document one after the other in pre-order, as a rendering of it
// (an exported file, a printed page) takes them.
class TBranchSink {
public:
    virtual ~TBranchSink() = default;
    // A readable branch at the depth (0 for the first one) with its title and memo.
    virtual void AddBranch(size_t depth, std::string_view title, std::string_view memo) = 0;
    // A locked branch: only its title, which is never enciphered, and a note that it is locked.
    virtual void AddLockedBranch(size_t depth, std::string_view title) = 0;
};

// Builds the bytes of an exported file; locked branches carry the note "(locked)".
class TDocumentExporter : public TBranchSink {
public:
    // The whole text.
    virtual std::string Finish() = 0;
};

// Branches are indented two blanks per level down to this depth. Deeper ones are indented as deep
// as this one and carry their level as a number, so that a listing grows with the number of
// branches and not with the square of their depth.
inline constexpr size_t kDeepestIndentedLevel = 32;

// The indentation of a branch at `depth` (0 for the root): two blanks per level, down to
// kDeepestIndentedLevel.
std::string DepthIndent(size_t depth);

// "(level N) " for a branch deeper than kDeepestIndentedLevel, else the empty text.
std::string DepthMark(size_t depth);

// An exporter for the format; `documentTitle` titles an HTML page.
std::unique_ptr<TDocumentExporter> MakeExporter(TExportFormat format, std::string_view documentTitle);

// The lines of a memo; LF, CR LF and a lone CR all end a line.
std::vector<std::string_view> MemoLines(std::string_view memo);

// Markdown text that shows `line` literally as a line of a paragraph. Only what would otherwise
// be read as markup is escaped: emphasis marks that could emphasise (not "a * b" nor "snake_case"),
// a character reference, the start of a tag or link, code and table marks, a backslash before
// punctuation, and a first character that would open a block (a heading, a list, a quote, a
// fence, a rule). Leading blanks are kept as character references.
std::string EscapeMarkdown(std::string_view line);

// EscapeMarkdown for the text of a heading, where marks at the end would also close it.
std::string EscapeMarkdownHeading(std::string_view title);

// HTML text that shows `text` literally.
std::string EscapeHtml(std::string_view text);

} // namespace ludex
