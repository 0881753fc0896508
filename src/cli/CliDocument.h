#pragma once

#include "core/document/DomService.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ludex::cli {

// One document file opened for a command: its element tree and the file it came from.
class TCliDocument {
public:
    // Throws EInOutError when the file cannot be read and EDomError when it is no document.
    explicit TCliDocument(const std::string& fileName);

    TDomNode Root() const { return dom_->DocumentElement(); }
    const std::string& FileName() const { return fileName_; }

    // Writes the whole document with the document writer to `outFile`, or back to the file it
    // came from when `outFile` is empty. The text is complete before the file is touched, and
    // the file is replaced atomically.
    void Save(const std::optional<std::string>& outFile) const;

private:
    std::unique_ptr<TDomDocument> dom_;
    std::string fileName_;
};

// "#" followed by the indices joined by ".": "#" for the root, "#0.2" for the third child of the
// first child.
std::string IndexPathText(const std::vector<size_t>& path);

// A branch named on the command line, for messages: "Branch \"a/b\"", "Branch #0.1" or
// "The root branch".
std::string DescribeBranch(const std::string& branch);

// A title or memo on one output line: CR, LF and tab become blanks.
std::string OneLine(std::string_view text);

// The password of --password-file: the file's first line without its line break, as UTF-8
// text that the current code page can represent. Read errors are EInOutError; anything else
// is ECliError(exitUsage).
std::string ReadPasswordFile(const std::string& fileName);

// What ResolveBranch does when the branch it finds is locked: leave it so, or unlock it.
enum class TLockedTarget { Keep, Unlock };

// Finds a branch named on the command line: a path of titles below the root separated by "/"
// ("\/" stands for a "/" inside a title; "" is the root), the first match at each level; or "#"
// with element indices ("#", "#0.2").
//
// A locked branch on the way is unlocked with the password; so is the branch itself with
// TLockedTarget::Unlock. Without a password that is ECliError(exitBranchUnavailable); with a
// wrong one ECliError(exitIncorrectPassword). A branch that is not there is
// ECliError(exitBranchUnavailable) naming what was not found; a malformed "#" path is
// ECliError(exitUsage).
TDomNode ResolveBranch(const TDomNode& root, const std::string& branch,
                       const std::optional<std::string>& password, TLockedTarget target);

} // namespace ludex::cli
