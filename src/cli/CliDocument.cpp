#include "cli/CliDocument.h"

#include "cli/CliError.h"
#include "core/base/FileIO.h"
#include "core/document/BranchCipher.h"
#include "core/document/BranchWalk.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"
#include "core/text/Utf8.h"

#include <algorithm>

namespace ludex::cli {

TCliDocument::TCliDocument(const std::string& fileName)
    : dom_(std::make_unique<TDomDocument>()), fileName_(fileName) {
    dom_->Load(fileName);
    if (!Root()) {
        throw Exception("The file " + fileName + " holds no document element");
    }
}

void TCliDocument::Save(const std::optional<std::string>& outFile) const {
    const std::string text = DocumentToText(Root());
    WriteTextFile(outFile ? *outFile : fileName_, text);
}

namespace {

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
    const std::string content = ReadFileBytes(fileName);
    std::string_view bytes = content;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3); // a byte-order mark some editors put first is no part of the text
    }
    std::string password(bytes.substr(0, bytes.find('\n')));
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    if (!IsValidUtf8(password)) {
        throw ECliError(exitUsage, "The password file " + fileName + " does not hold UTF-8 text");
    }
    if (password.empty()) {
        throw ECliError(exitUsage, "The password file " + fileName + " holds an empty password");
    }
    if (!CurrentCodePage().CanRepresent(password)) {
        throw ECliError(exitUsage, "The password holds a character that the code page " +
                                       CurrentCodePage().Name() + " cannot represent");
    }
    return password;
}

TDomNode ResolveBranch(const TDomNode& root, const std::string& branch,
                       const std::optional<std::string>& password, TLockedTarget target) {
    const bool unlockTarget = target == TLockedTarget::Unlock;
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
            const std::vector<TBranch> children = SubBranches(current, TBranchOrder::File);
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
    if (!branch.empty()) {
        for (const std::string& title : SplitTitlePath(branch)) {
            if (IsBranchLocked(current)) {
                Unlock(current, reached.empty() ? "The root branch" : "Branch " + Quoted(reached), password);
            }
            TDomNode found;
            for (const TBranch& child : SubBranches(current, TBranchOrder::File)) {
                if (child.title == title) {
                    found = child.element;
                    break;
                }
            }
            const std::string below = reached.empty() ? "the root" : Quoted(reached);
            if (!found) {
                throw ECliError(exitBranchUnavailable,
                                "Branch " + Quoted(title) + " not found below " + below);
            }
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
