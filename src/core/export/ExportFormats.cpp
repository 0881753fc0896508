#include "core/export/ExportFormats.h"

#include <algorithm>

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
        const std::string escaped = EscapeMarkdown(TitleLine(title));
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
                "</style>\n</head>\n<body>\n";
    }
    // Each branch in a block indented by its depth (down to kDeepestIndentedLevel, deeper ones
    // say their level first): a heading (h1 for the root, h6 from the sixth level on) and the
    // memo's paragraphs with their line breaks.
    void AddBranch(size_t depth, std::string_view title, std::string_view memo) override {
        Open(depth, title);
        for (const auto& paragraph : Paragraphs(memo)) {
            text_ += "<p>";
            for (size_t i = 0; i < paragraph.size(); ++i) {
                text_ += EscapeHtml(paragraph[i]);
                text_ += i + 1 < paragraph.size() ? "<br>\n" : "";
            }
            text_ += "</p>\n";
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

std::string EscapeMarkdown(std::string_view line) {
    std::string out;
    size_t i = 0;
    // Leading blanks would make a code block or a continuation; references keep them as text.
    for (; i < line.size() && (line[i] == ' ' || line[i] == '\t'); ++i) {
        out += line[i] == ' ' ? "&#32;" : "&#9;";
    }
    // A number followed by "." or ")" at the start opens an ordered list.
    size_t digits = i;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
        ++digits;
    }
    const size_t listMarker =
        (digits > i && digits < line.size() && (line[digits] == '.' || line[digits] == ')'))
            ? digits
            : std::string_view::npos;
    for (size_t start = i; i < line.size(); ++i) {
        const char c = line[i];
        const bool atStart = i == start;
        if (std::string_view("\\`*_[]<>|~&#").find(c) != std::string_view::npos || i == listMarker ||
            (atStart && (c == '+' || c == '-' || c == '='))) {
            out += '\\';
        }
        out += c;
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
