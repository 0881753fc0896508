#include "cli/CliDocument.h"

#include "cli/CliArguments.h"
#include "cli/CliError.h"
#include "core/base/FileIO.h"
#include "core/document/BranchCipher.h"
#include "core/document/BranchOrder.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"
#include "core/text/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace ludex::cli {

namespace {

bool standardInputRead = false;

} // namespace

std::string ReadInput(const std::string& fileName) {
    if (fileName != kStandardStream) {
        return ReadFileBytes(fileName);
    }
    if (standardInputRead) {
        throw ECliError(exitUsage, "Standard input can be read only once: only one of the document and "
                                   "the password file can be \"-\"");
    }
    standardInputRead = true;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
        bytes.append(buffer, n);
        if (n < sizeof buffer) {
            break;
        }
    }
    if (std::ferror(stdin)) {
        throw EInOutError(std::string("Cannot read standard input: ") + std::strerror(errno));
    }
    return bytes;
}

void WriteOutput(const std::string& fileName, std::string_view bytes, std::ostream& out) {
    if (fileName == kStandardStream) {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    } else {
        WriteFileAtomically(fileName, bytes);
    }
}

TCliDocument::TCliDocument(const std::string& fileName)
    : dom_(std::make_unique<TDomDocument>()), fileName_(fileName) {
    if (fileName == kStandardStream) {
        dom_->LoadBytes(ReadInput(fileName), "standard input");
    } else {
        dom_->Load(fileName);
    }
    if (!Root()) {
        throw Exception("The file " + fileName + " holds no document element");
    }
}

TSaveOptions SaveOptionsOf(const TCliArguments& args) {
    const auto count = args.Value(kBackupsOption);
    if (count && args.Flag(kNoBackupOption)) {
        throw ECliError(exitUsage, std::string("Options ") + kBackupsOption + " and " + kNoBackupOption +
                                       " exclude each other");
    }
    if (args.Flag(kNoBackupOption)) {
        return {.backups = 0};
    }
    if (!count) {
        return {.backups = kDefaultBackupCount};
    }
    const std::optional<unsigned> backups = ParseBackupCount(*count);
    if (!backups) {
        throw ECliError(exitUsage, std::string("Option ") + kBackupsOption + " needs a number from 0 to " +
                                       std::to_string(kMostBackups) + ", not \"" + *count + "\"");
    }
    return {.backups = *backups};
}

void TCliDocument::Save(const std::optional<std::string>& outFile, std::ostream& out,
                        const TSaveOptions& options) const {
    const std::string text = DocumentToText(Root());
    const std::string& target = outFile ? *outFile : fileName_;
    if (target == kStandardStream) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    } else {
        WriteTextFile(target, text, options);
    }
}

namespace {

// Whether the branch shows an expand button in the window: it has sub-branches, or it is locked
// with a payload.
bool HasSubBranches(const TDomNode& element) {
    if (IsBranchLocked(element)) {
        return element.HasChildNodes();
    }
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.IsElement()) {
            return true;
        }
    }
    return false;
}

struct TChild {
    size_t index; // among the element children, in file order
    TDomNode element;
};

std::vector<TChild> ChildBranches(const TDomNode& element, TBranchOrder order) {
    std::vector<TChild> children;
    size_t index = 0;
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        if (child.IsElement()) {
            children.push_back({index++, child});
        }
    }
    if (order == TBranchOrder::Window) {
        struct TKey {
            bool hasChildren;
            std::string title;
        };
        std::vector<TKey> keys;
        keys.reserve(children.size());
        for (const auto& c : children) {
            keys.push_back({HasSubBranches(c.element), TitleAccess.Read(c.element)});
        }
        std::stable_sort(children.begin(), children.end(), [&](const TChild& a, const TChild& b) {
            const TKey& ka = keys[a.index];
            const TKey& kb = keys[b.index];
            return CompareBranches(ka.hasChildren, ka.title, kb.hasChildren, kb.title) < 0;
        });
    }
    return children;
}

bool ParseIndex(std::string_view digits, size_t& value) {
    if (digits.empty() || digits.size() > 9) {
        return false;
    }
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<size_t>(c - '0');
    }
    return true;
}

// Splits "a/b\/c" into "a" and "b/c".
std::vector<std::string> SplitTitlePath(const std::string& path) {
    std::vector<std::string> titles(1);
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '/') {
            titles.back() += '/';
            ++i;
        } else if (path[i] == '/') {
            titles.emplace_back();
        } else {
            titles.back() += path[i];
        }
    }
    return titles;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Described(const std::vector<size_t>& path) {
    return path.empty() ? "The root branch" : "Branch " + IndexPathText(path);
}

// Makes a locked branch on the way readable, or says why it cannot be. `branch` names it for
// the message ("Branch \"a/b\"", "The root branch").
void Unlock(const TDomNode& element, const std::string& branch, const std::optional<std::string>& password) {
    if (!password) {
        throw ECliError(exitBranchUnavailable, branch + " is locked");
    }
    if (!CheckBranchPassword(element, *password)) {
        throw ECliError(exitIncorrectPassword, "Incorrect password");
    }
    DecipherBranchElement(element, *password);
}

} // namespace

void WalkBranches(const TDomNode& root, TBranchOrder order,
                  const std::function<bool(const TBranchVisit&)>& visit) {
    struct TFrame {
        std::vector<TChild> children;
        size_t next = 0;
    };
    std::vector<size_t> path;
    std::vector<TFrame> stack;
    if (visit({root, 0, path})) {
        stack.push_back({ChildBranches(root, order)});
    }
    while (!stack.empty()) {
        TFrame& frame = stack.back();
        if (frame.next == frame.children.size()) {
            stack.pop_back();
            if (!path.empty()) {
                path.pop_back();
            }
            continue;
        }
        const TChild child = frame.children[frame.next++];
        path.push_back(child.index);
        if (visit({child.element, path.size(), path})) {
            stack.push_back({ChildBranches(child.element, order)}); // invalidates `frame`
        } else {
            path.pop_back();
        }
    }
}

std::string IndexPathText(const std::vector<size_t>& path) {
    std::string text = "#";
    for (size_t i = 0; i < path.size(); ++i) {
        if (i > 0) {
            text += '.';
        }
        text += std::to_string(path[i]);
    }
    return text;
}

std::string DescribeBranch(const std::string& branch) {
    if (branch.empty() || branch == "#") {
        return "The root branch";
    }
    return branch[0] == '#' ? "Branch " + branch : "Branch " + Quoted(branch);
}

std::string OneLine(std::string_view text) {
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
    return line;
}

std::string ReadPasswordFile(const std::string& fileName) {
    const std::string content = ReadInput(fileName);
    std::string_view bytes = content;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3); // a byte-order mark some editors put first is no part of the text
    }
    std::string password(bytes.substr(0, bytes.find('\n')));
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    const std::string source =
        fileName == kStandardStream ? "Standard input" : "The password file " + fileName;
    if (!IsValidUtf8(password)) {
        throw ECliError(exitUsage, source + " does not hold UTF-8 text");
    }
    if (password.empty()) {
        throw ECliError(exitUsage, source + " holds an empty password");
    }
    if (!CurrentCodePage().CanRepresent(password)) {
        throw ECliError(exitUsage, "The password holds a character that the code page " +
                                       CurrentCodePage().Name() + " cannot represent");
    }
    return password;
}

TDomNode ResolveBranch(const TDomNode& root, const std::string& branch,
                       const std::optional<std::string>& password, bool unlockTarget) {
    TDomNode current = root;
    if (!branch.empty() && branch[0] == '#') {
        std::vector<size_t> indices;
        const std::string_view rest = std::string_view(branch).substr(1);
        size_t from = 0;
        while (!rest.empty() && from <= rest.size()) {
            const size_t dot = std::min(rest.find('.', from), rest.size());
            size_t index = 0;
            if (!ParseIndex(rest.substr(from, dot - from), index)) {
                throw ECliError(exitUsage, "Malformed branch index path " + branch + " (e.g. #0.2)");
            }
            indices.push_back(index);
            from = dot + 1;
        }
        std::vector<size_t> reached;
        for (size_t index : indices) {
            if (IsBranchLocked(current)) {
                Unlock(current, Described(reached), password);
            }
            const std::vector<TChild> children = ChildBranches(current, TBranchOrder::File);
            reached.push_back(index);
            if (index >= children.size()) {
                throw ECliError(exitBranchUnavailable, "Branch " + IndexPathText(reached) + " not found");
            }
            current = children[index].element;
        }
        if (unlockTarget && IsBranchLocked(current)) {
            Unlock(current, Described(reached), password);
        }
        return current;
    }

    std::string reached;
    std::vector<size_t> reachedIndices;
    if (!branch.empty()) {
        for (const std::string& title : SplitTitlePath(branch)) {
            if (IsBranchLocked(current)) {
                Unlock(current, reached.empty() ? "The root branch" : "Branch " + Quoted(reached), password);
            }
            std::vector<TChild> matches;
            for (const TChild& child : ChildBranches(current, TBranchOrder::File)) {
                if (TitleAccess.Read(child.element) == title) {
                    matches.push_back(child);
                }
            }
            const std::string below = reached.empty() ? "the root" : Quoted(reached);
            if (matches.empty()) {
                throw ECliError(exitBranchUnavailable,
                                "Branch " + Quoted(title) + " not found below " + below);
            }
            if (matches.size() > 1) {
                std::string paths;
                for (const TChild& match : matches) {
                    reachedIndices.push_back(match.index);
                    paths += (paths.empty() ? "" : ", ") + IndexPathText(reachedIndices);
                    reachedIndices.pop_back();
                }
                throw ECliError(exitBranchUnavailable, "Branch " + Quoted(title) + " is ambiguous below " +
                                                           below + ": " + std::to_string(matches.size()) +
                                                           " sibling branches carry this title (" + paths +
                                                           "); name one by its index path");
            }
            const TDomNode found = matches.front().element;
            reachedIndices.push_back(matches.front().index);
            std::string escaped = title;
            for (size_t pos = escaped.find('/'); pos != std::string::npos; pos = escaped.find('/', pos + 2)) {
                escaped.insert(pos, 1, '\\');
            }
            reached += (reached.empty() ? "" : "/") + escaped;
            current = found;
        }
    }
    if (unlockTarget && IsBranchLocked(current)) {
        Unlock(current, reached.empty() ? "The root branch" : "Branch " + Quoted(reached), password);
    }
    return current;
}

} // namespace ludex::cli
