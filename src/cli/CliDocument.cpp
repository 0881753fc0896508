#include "cli/CliDocument.h"

#include "cli/CliArguments.h"
#include "cli/CliError.h"
#include "core/base/FileIO.h"
#include "core/document/BranchCipher.h"
#include "core/document/BranchWalk.h"
#include "core/document/DocumentWriter.h"
#include "core/document/EncipheredBackups.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"
#include "core/text/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <utility>

#include <unistd.h>

namespace ludex::cli {

namespace {

bool standardInputRead = false;
std::ostream* notices = nullptr;

// A stream that drops what it is given.
std::ostream& Nowhere() {
    static std::ostream nowhere(nullptr);
    return nowhere;
}

} // namespace

std::ostream& CliNotices() {
    return notices != nullptr ? *notices : Nowhere();
}

TCliNotices::TCliNotices(std::ostream& err) : previous_(std::exchange(notices, &err)) {}

TCliNotices::~TCliNotices() {
    notices = previous_;
}

TCostlyKey CostlyKeyOf(const TCliArguments& args) {
    return args.Flag(kAllowCostlyKeyOption) ? TCostlyKey::Allow : TCostlyKey::Refuse;
}

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
    WatchForStoredPasswords(*dom_);
    if (fileName == kStandardStream) {
        dom_->LoadBytes(ReadInput(fileName), "standard input");
    } else {
        dom_->Load(fileName);
    }
    if (!Root()) {
        throw Exception("The file " + fileName + " holds no document element");
    }
    ForgetStoredPasswords(*dom_, Root());
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
        if (const size_t removed = RemoveBackupsOfPlainText(*dom_, target); removed > 0) {
            CliNotices() << "Removed " << removed << (removed == 1 ? " backup" : " backups") << " of "
                         << target << " that may have held text which is now only encrypted\n";
        }
    }
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
void Unlock(const TDomNode& element, const std::string& branch, const TSecret* password, TCostlyKey costly) {
    if (!password) {
        throw ECliError(exitBranchUnavailable, branch + " is locked");
    }
    std::optional<TBranchUnlockKey> key = VerifyPassword(element, *password, costly);
    if (!key) {
        throw ECliError(exitIncorrectPassword, "Incorrect password");
    }
    DecipherBranchElement(element, std::move(*key));
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

namespace {

// Standard input read straight from the descriptor, past the standard library's buffers (which
// would keep a copy), into a buffer that wipes every one it lets go of.
TSecret ReadSecretInput() {
    if (standardInputRead) {
        throw ECliError(exitUsage, "Standard input can be read only once: only one of the document and "
                                   "the password file can be \"-\"");
    }
    standardInputRead = true;
    TSecret bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            WipeMemory(buffer, sizeof buffer);
            throw EInOutError(std::string("Cannot read standard input: ") + std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        bytes.Append(std::string_view(buffer, static_cast<size_t>(n)));
    }
    WipeMemory(buffer, sizeof buffer);
    return bytes;
}

TSecret ReadSecretFile(const std::string& fileName) {
    if (fileName == kStandardStream) {
        return ReadSecretInput();
    }
    std::string read = ReadFileBytes(fileName); // one buffer of the file's size
    return TSecret::Adopt(read);
}

} // namespace

TSecret ReadPasswordFile(const std::string& fileName) {
    const TSecret content = ReadSecretFile(fileName);
    std::string_view bytes = content.View();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3); // a byte-order mark some editors put first is no part of the text
    }
    std::string_view password = bytes.substr(0, bytes.find('\n'));
    if (!password.empty() && password.back() == '\r') {
        password.remove_suffix(1);
    }
    const std::string source =
        fileName == kStandardStream ? "Standard input" : "The password file " + fileName;
    if (!IsValidUtf8(password)) {
        throw ECliError(exitUsage, source + " does not hold UTF-8 text");
    }
    if (password.empty()) {
        throw ECliError(exitUsage, source + " holds an empty password");
    }
    return TSecret(password);
}

namespace {

// VerifyBranchPassword, a costly derivation refused as a command-line error.
std::optional<TBranchUnlockKey> VerifiedKey(const TDomNode& element, const TSecret& password,
                                            TCostlyKey costly) {
    try {
        return VerifyBranchPassword(element, password.View(), costly);
    } catch (const ECostlyKey& e) {
        throw ECliError(exitBranchUnavailable,
                        "Branch " + Quoted(TitleAccess.Read(element)) +
                            " was not opened: its key derivation asks for " + DerivationMemoryText(e.Cost()) +
                            " of memory and about " +
                            std::to_string((EstimatedDerivationTime(e.Cost()).count() + 500) / 1000) +
                            " s for each attempt; " + kAllowCostlyKeyOption + " derives it all the same");
    }
}

} // namespace

std::optional<TBranchUnlockKey> VerifyPassword(const TDomNode& element, const TSecret& password,
                                               TCostlyKey costly) {
    if (BranchCipherScheme(element) == TCipherScheme::Compatible) {
        const TCodePage& page = BranchCodePage(element);
        if (!page.CanRepresent(password.View())) {
            throw ECliError(exitUsage, EUnencipherable(TCipherField::Password, page.Name(), {}).Message());
        }
    }
    return VerifiedKey(element, password, costly);
}

TDomNode ResolveBranch(const TDomNode& root, const std::string& branch, const TSecret* password,
                       TLockedTarget target, TCostlyKey costly) {
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
                Unlock(current, Described(reached), password, costly);
            }
            const std::vector<TBranch> children = SubBranches(current, TBranchOrder::File);
            reached.push_back(index);
            if (index >= children.size()) {
                throw ECliError(exitBranchUnavailable, "Branch " + IndexPathText(reached) + " not found");
            }
            current = children[index].element;
        }
        if (unlockTarget && IsBranchLocked(current)) {
            Unlock(current, Described(reached), password, costly);
        }
        return current;
    }

    std::string reached;
    std::vector<size_t> reachedIndices;
    if (!branch.empty()) {
        for (const std::string& title : SplitTitlePath(branch)) {
            if (IsBranchLocked(current)) {
                Unlock(current, reached.empty() ? "The root branch" : "Branch " + Quoted(reached), password,
                       costly);
            }
            std::vector<TBranch> matches;
            for (TBranch& child : SubBranches(current, TBranchOrder::File)) {
                if (child.title == title) {
                    matches.push_back(std::move(child));
                }
            }
            const std::string below = reached.empty() ? "the root" : Quoted(reached);
            if (matches.empty()) {
                throw ECliError(exitBranchUnavailable,
                                "Branch " + Quoted(title) + " not found below " + below);
            }
            if (matches.size() > 1) {
                std::string paths;
                for (const TBranch& match : matches) {
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
        Unlock(current, reached.empty() ? "The root branch" : "Branch " + Quoted(reached), password, costly);
    }
    return current;
}

std::function<bool(const TBranch& branch)> LockedBranchOpener(const std::optional<TSecret>& password,
                                                              TCostlyKey costly) {
    return [&password, costly](const TBranch& branch) {
        if (!password) {
            return false;
        }
        // A password a compatible branch's code page cannot hold is not that branch's.
        std::optional<TBranchUnlockKey> key = VerifiedKey(branch.element, *password, costly);
        if (!key) {
            return false;
        }
        DecipherBranchElement(branch.element, std::move(*key));
        return true;
    };
}

} // namespace ludex::cli
