#include "core/export/ExportFormats.h"

#include <algorithm>
#include <cctype>

namespace ludex {

namespace {

constexpr size_t kDeepestHeading = 6;

bool IsBlankLine(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

// Consecutive non-blank lines of a memo; blank lines separate paragraphs.
std::vector<std::vector<std::string_view>> Paragraphs(std::string_view memo) {
    std::vector<std::vector<std::string_view>> paragraphs;
    bool open = false;
    for (std::string_view line : MemoLines(memo)) {
        if (IsBlankLine(line)) {
            open = false;
        } else {
            if (!open) {
                paragraphs.emplace_back();
                open = true;
            }
            paragraphs.back().push_back(line);
        }
    }
    return paragraphs;
}

// Titles may hold line breaks, which no heading or title line can.
std::string TitleLine(std::string_view title) {
    std::string line(title);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
    return line;
}

class TTextExporter : public TDocumentExporter {
public:
    // Title at two blanks per level (DepthIndent); memo lines below it marked with "| ".
    void AddBranch(size_t depth, std::string_view title, std::string_view memo) override {
        const std::string indent = DepthIndent(depth);
        text_ += indent + DepthMark(depth) + TitleLine(title) + "\n";
        if (memo.empty()) {
            return;
        }
        for (std::string_view line : MemoLines(memo)) {
            text_ += indent + (line.empty() ? "  |" : "  | ");
            text_ += line;
            text_ += '\n';
        }
    }
    void AddLockedBranch(size_t depth, std::string_view title) override {
        text_ += DepthIndent(depth) + DepthMark(depth) + TitleLine(title) + " (locked)\n";
    }
    std::string Finish() override { return std::move(text_); }

private:
    std::string text_;
};

class TMarkdownExporter : public TDocumentExporter {
public:
    // A heading per branch ("#" for the root, "######" from the sixth level on), the memo's
    // paragraphs below it with its line breaks kept as hard breaks.
    void AddBranch(size_t depth, std::string_view title, std::string_view memo) override {
        Heading(depth, title);
        for (const auto& paragraph : Paragraphs(memo)) {
            for (size_t i = 0; i < paragraph.size(); ++i) {
                text_ += EscapeMarkdown(paragraph[i]);
                text_ += i + 1 < paragraph.size() ? "\\\n" : "\n";
            }
            text_ += '\n';
        }
    }
    void AddLockedBranch(size_t depth, std::string_view title) override {
        Heading(depth, title);
        text_ += "(locked)\n\n";
    }
    std::string Finish() override {
        while (text_.size() >= 2 && text_[text_.size() - 1] == '\n' && text_[text_.size() - 2] == '\n') {
            text_.pop_back();
        }
        return std::move(text_);
    }

private:
    void Heading(size_t depth, std::string_view title) {
        text_.append(std::min(depth + 1, kDeepestHeading), '#');
        const std::string escaped = EscapeMarkdownHeading(TitleLine(title));
        if (!escaped.empty()) {
            text_ += ' ' + escaped;
        }
        text_ += "\n\n";
    }

    std::string text_;
};

class THtmlExporter : public TDocumentExporter {
public:
    explicit THtmlExporter(std::string_view documentTitle) {
        text_ = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                EscapeHtml(TitleLine(documentTitle)) +
                "</title>\n<style>\n"
                "body { font-family: sans-serif; }\n"
                ".locked { font-style: italic; color: #777; }\n"
                ".level { font-size: small; color: #777; margin-bottom: 0; }\n"
                ".memo { white-space: pre-wrap; font-family: monospace; }\n"
                "</style>\n</head>\n<body>\n";
    }
    // Each branch in a block indented by its depth (down to kDeepestIndentedLevel, deeper ones
    // say their level first): a heading (h1 for the root, h6 from the sixth level on) and the
    // memo as it is written, every blank and line break kept, in a font of even width so that
    // columns lined up with blanks stay lined up; long lines wrap.
    void AddBranch(size_t depth, std::string_view title, std::string_view memo) override {
        Open(depth, title);
        if (!memo.empty()) {
            // A line break right after the opening tag is dropped by the reader: one is given.
            text_ += "<pre class=\"memo\">\n";
            const std::vector<std::string_view> lines = MemoLines(memo);
            for (size_t i = 0; i < lines.size(); ++i) {
                text_ += EscapeHtml(lines[i]);
                text_ += i + 1 < lines.size() ? "\n" : "";
            }
            text_ += "</pre>\n";
        }
        text_ += "</div>\n";
    }
    void AddLockedBranch(size_t depth, std::string_view title) override {
        Open(depth, title);
        text_ += "<p class=\"locked\">(locked)</p>\n</div>\n";
    }
    std::string Finish() override { return std::move(text_) + "</body>\n</html>\n"; }

private:
    void Open(size_t depth, std::string_view title) {
        const std::string level = std::to_string(std::min(depth + 1, kDeepestHeading));
        text_ += "<div class=\"branch\" style=\"margin-left: " +
                 std::to_string(2 * std::min(depth, kDeepestIndentedLevel)) + "em\">\n";
        if (const std::string mark = DepthMark(depth); !mark.empty()) {
            text_ += "<p class=\"level\">" + mark.substr(0, mark.size() - 1) + "</p>\n";
        }
        text_ += "<h" + level + ">" + EscapeHtml(TitleLine(title)) + "</h" + level + ">\n";
    }

    std::string text_;
};

} // namespace

std::string DepthIndent(size_t depth) {
    return std::string(2 * std::min(depth, kDeepestIndentedLevel), ' ');
}

std::string DepthMark(size_t depth) {
    return depth > kDeepestIndentedLevel ? "(level " + std::to_string(depth) + ") " : std::string();
}

std::optional<TExportFormat> ExportFormatNamed(std::string_view name) {
    if (name == "text") {
        return TExportFormat::Text;
    }
    if (name == "markdown") {
        return TExportFormat::Markdown;
    }
    if (name == "html") {
        return TExportFormat::Html;
    }
    return std::nullopt;
}

std::unique_ptr<TDocumentExporter> MakeExporter(TExportFormat format, std::string_view documentTitle) {
    switch (format) {
    case TExportFormat::Markdown:
        return std::make_unique<TMarkdownExporter>();
    case TExportFormat::Html:
        return std::make_unique<THtmlExporter>(documentTitle);
    case TExportFormat::Text:
        break;
    }
    return std::make_unique<TTextExporter>();
}

std::vector<std::string_view> MemoLines(std::string_view memo) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < memo.size(); ++i) {
        if (memo[i] == '\n' || memo[i] == '\r') {
            lines.push_back(memo.substr(start, i - start));
            if (memo[i] == '\r' && i + 1 < memo.size() && memo[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    lines.push_back(memo.substr(start));
    return lines;
}

namespace {

bool IsMarkdownBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsAsciiPunctuation(char c) {
    return std::string_view("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~").find(c) != std::string_view::npos;
}

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether `text` begins with a character reference ("&amp;", "&#38;", "&#x26;"), which Markdown
// would show as the character it names.
bool StartsCharacterReference(std::string_view text) {
    size_t i = 1;
    const auto run = [&](auto&& accepts, size_t most) {
        const size_t first = i;
        while (i < text.size() && i - first < most && accepts(text[i])) {
            ++i;
        }
        return i - first;
    };
    if (i < text.size() && text[i] == '#') {
        ++i;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        i += hex ? 1 : 0;
        const size_t digits =
            hex ? run([](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }, 6)
                : run([](char c) { return c >= '0' && c <= '9'; }, 7);
        return digits > 0 && i < text.size() && text[i] == ';';
    }
    return run(IsAsciiAlnum, 32) > 0 && i < text.size() && text[i] == ';';
}

// What the character next to a run of emphasis marks is to the rules of emphasis: a blank (the
// line's ends count as blanks), ASCII punctuation, or anything else (characters outside ASCII
// count as letters, which lets more runs emphasise and so escapes more, never less).
enum class TNeighbour { Blank, Punctuation, Other };

TNeighbour NeighbourAt(std::string_view line, size_t i) {
    if (i >= line.size() || IsMarkdownBlank(line[i])) {
        return TNeighbour::Blank;
    }
    return IsAsciiPunctuation(line[i]) ? TNeighbour::Punctuation : TNeighbour::Other;
}

// Whether the run of the mark line[begin, end) ("*", "_" or "~") could open or close emphasis
// (or a strike-through).
bool MayEmphasise(std::string_view line, size_t begin, size_t end) {
    const TNeighbour before = begin == 0 ? TNeighbour::Blank : NeighbourAt(line, begin - 1);
    const TNeighbour after = NeighbourAt(line, end);
    const bool leftFlanking =
        after != TNeighbour::Blank && (after != TNeighbour::Punctuation || before != TNeighbour::Other);
    const bool rightFlanking =
        before != TNeighbour::Blank && (before != TNeighbour::Punctuation || after != TNeighbour::Other);
    if (line[begin] != '_') {
        return leftFlanking || rightFlanking;
    }
    // Inside a word an underscore emphasises nothing.
    return (leftFlanking && (!rightFlanking || before == TNeighbour::Punctuation)) ||
           (rightFlanking && (!leftFlanking || after == TNeighbour::Punctuation));
}

// Whether the line (from its first character that is no blank) would open a block other than a
// paragraph, or underline the line before it: the first character is then escaped.
bool OpensBlock(std::string_view line) {
    if (line.empty()) {
        return false;
    }
    const char c = line[0];
    const bool blankAfterFirst = line.size() == 1 || IsMarkdownBlank(line[1]);
    if (c == '>' || ((c == '-' || c == '+' || c == '*') && blankAfterFirst)) {
        return true; // a quote or a list item
    }
    if (c == '#') { // a heading: one to six marks, then a blank or the end
        const size_t marks = std::min(line.find_first_not_of('#'), line.size());
        return marks <= 6 && (marks == line.size() || IsMarkdownBlank(line[marks]));
    }
    if (c == '~' || c == '`') { // a fenced code block
        return line.size() >= 3 && line[1] == c && line[2] == c;
    }
    // A rule or an underline: one character repeated, with blanks at most between.
    size_t count = 0;
    for (const char d : line) {
        if (d == c) {
            ++count;
        } else if (!IsMarkdownBlank(d)) {
            return false;
        }
    }
    return c == '=' || c == '-' || ((c == '*' || c == '_') && count >= 3);
}

} // namespace

std::string EscapeMarkdown(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    size_t i = 0;
    // Leading blanks would make a code block or be dropped; references keep them as text.
    for (; i < line.size() && IsMarkdownBlank(line[i]); ++i) {
        out += line[i] == ' ' ? "&#32;" : "&#9;";
    }
    const size_t start = i;
    // Up to nine digits followed by "." or ")" and a blank open an ordered list.
    size_t digits = start;
    while (digits < line.size() && digits - start < 10 && line[digits] >= '0' && line[digits] <= '9') {
        ++digits;
    }
    const size_t listMarker = (start == 0 && digits > start && digits - start <= 9 && digits < line.size() &&
                               (line[digits] == '.' || line[digits] == ')') &&
                               (digits + 1 == line.size() || IsMarkdownBlank(line[digits + 1])))
                                  ? digits
                                  : std::string_view::npos;
    const bool opensBlock = start == 0 && OpensBlock(line.substr(start));
    while (i < line.size()) {
        const char c = line[i];
        if (c == '*' || c == '_' || c == '~') {
            size_t end = i;
            while (end < line.size() && line[end] == c) {
                ++end;
            }
            const bool escape = MayEmphasise(line, i, end) || (i == start && opensBlock);
            for (; i < end; ++i) {
                out += escape ? "\\" : "";
                out += c;
            }
            continue;
        }
        bool escape = false;
        switch (c) {
        case '\\': // it would escape the character after it; at the end, join the lines
            escape = i + 1 == line.size() || IsAsciiPunctuation(line[i + 1]);
            break;
        case '`': // code
        case '[': // links, images, references and notes
        case '|': // tables
            escape = true;
            break;
        case '<': // a tag, a comment or a link
            escape = i + 1 < line.size() && (std::isalpha(static_cast<unsigned char>(line[i + 1])) != 0 ||
                                             line[i + 1] == '/' || line[i + 1] == '!' || line[i + 1] == '?');
            break;
        case '&':
            escape = StartsCharacterReference(line.substr(i));
            break;
        default:
            escape = i == listMarker || (i == start && opensBlock);
        }
        if (escape) {
            out += '\\';
        }
        out += c;
        ++i;
    }
    return out;
}

std::string EscapeMarkdownHeading(std::string_view title) {
    std::string out = EscapeMarkdown(title);
    // Marks at the end after a blank would close the heading and vanish.
    const size_t marks = out.find_last_not_of('#');
    if (marks != std::string::npos && marks + 1 < out.size() && IsMarkdownBlank(out[marks])) {
        out.insert(marks + 1, 1, '\\');
    }
    return out;
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace ludex
