#pragma once

#include "core/base/FileIO.h"
#include "core/crypto/Secret.h"
#include "core/document/BranchCipher.h"
#include "core/document/BranchWalk.h"
#include "core/document/DomService.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ludex::cli {

class TCliArguments;

// The file name that stands for standard input or standard output.
inline constexpr const char* kStandardStream = "-";

// The bytes of the file, or of standard input for "-". Standard input can be read once per
// process: a second "-" is ECliError(exitUsage). Read errors are EInOutError.
std::string ReadInput(const std::string& fileName);

// Writes the bytes atomically to the file, or to `out` for "-".
void WriteOutput(const std::string& fileName, std::string_view bytes, std::ostream& out);

// The options of the commands that write a document: "--backups N" keeps N backups (0 to 99) of
// the file a save replaces, "--no-backup" none, and without either kDefaultBackupCount.
inline constexpr const char* kBackupsOption = "--backups";
inline constexpr const char* kNoBackupOption = "--no-backup";

// "--allow-costly-key": a locked branch whose key derivation asks for more than four times the
// memory or the passes of new keys is opened all the same. A file can name up to gigabytes and
// minutes for each attempt; without the option such a branch is ECliError(exitBranchUnavailable)
// naming the cost, and nothing is derived.
inline constexpr const char* kAllowCostlyKeyOption = "--allow-costly-key";
TCostlyKey CostlyKeyOf(const TCliArguments& args);

// Where a command tells what it did besides its result: standard error, for the run of RunCli
// that holds a TCliNotices. Without one, nothing is told.
std::ostream& CliNotices();
class TCliNotices {
public:
    explicit TCliNotices(std::ostream& err);
    ~TCliNotices();
    TCliNotices(const TCliNotices&) = delete;
    TCliNotices& operator=(const TCliNotices&) = delete;

private:
    std::ostream* previous_;
};

// The save options the command line asks for. A count that is no number from 0 to 99, and the two
// options together, are ECliError(exitUsage).
TSaveOptions SaveOptionsOf(const TCliArguments& args);

// One document file opened for a command: its element tree and the file it came from ("-" for
// standard input).
class TCliDocument {
public:
    // Throws EInOutError when the file cannot be read and EDomError when it is no document.
    explicit TCliDocument(const std::string& fileName);

    TDomNode Root() const { return dom_->DocumentElement(); }
    const std::string& FileName() const { return fileName_; }

    // Writes the whole document with the document writer to `outFile`, or back to the file it
    // came from when `outFile` is empty; a document read from standard input, and an `outFile`
    // of "-", go to `out`. The text is complete before the file is touched, and the file is
    // replaced atomically, keeping the backups `options` asks for. When a branch was put under a
    // password, the backups of the file written, which may hold its plain text, are removed
    // afterwards and CliNotices() is told so.
    void Save(const std::optional<std::string>& outFile, std::ostream& out,
              const TSaveOptions& options) const;

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

// The password of --password-file ("-" for standard input): the first line without its line
// break, as UTF-8 text. Read errors are EInOutError; anything else is ECliError(exitUsage). What the file
// held is wiped from memory.
TSecret ReadPasswordFile(const std::string& fileName);

// The key the password opens for an encrypted branch, or nothing when it is not the branch's
// password. A password that the code page of a compatible branch cannot represent is
// ECliError(exitUsage) naming the code page.
// A costly derivation that `costly` does not allow is ECliError(exitBranchUnavailable).
std::optional<TBranchUnlockKey> VerifyPassword(const TDomNode& element, const TSecret& password,
                                               TCostlyKey costly);

// What reading commands do with a locked branch: with the --password-file password, when it is
// the branch's, the branch is deciphered in memory (never written) and the result says so; without
// a password, or with another branch's, the branch stays locked. `password` must outlive the result.
std::function<bool(const TBranch& branch)> LockedBranchOpener(const std::optional<TSecret>& password,
                                                              TCostlyKey costly);

// What ResolveBranch does when the branch it finds is locked: leave it so, or unlock it.
enum class TLockedTarget { Keep, Unlock };

// Finds a branch named on the command line: a path of titles below the root separated by "/"
// ("\/" stands for a "/" inside a title; "" is the root); or "#" with element indices ("#",
// "#0.2"). A title that several sibling branches carry is ECliError(exitBranchUnavailable) that
// lists their index paths, never silently the first of them.
//
// A locked branch on the way is unlocked with the password (nullptr: none); so is the branch
// itself with TLockedTarget::Unlock. Without a password that is ECliError(exitBranchUnavailable);
// with a wrong one ECliError(exitIncorrectPassword). A branch that is not there is
// ECliError(exitBranchUnavailable) naming what was not found; a malformed "#" path is
// ECliError(exitUsage).
TDomNode ResolveBranch(const TDomNode& root, const std::string& branch, const TSecret* password,
                       TLockedTarget target, TCostlyKey costly);

} // namespace ludex::cli
