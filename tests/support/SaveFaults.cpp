#include "support/SaveFaults.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "support/FaultyFileSystem.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

namespace ludex::testing {

namespace {

namespace fs = std::filesystem;

// A temporary file that a killed save left behind, as every run finds it.
const char* const kAbandoned = ".ludex-killed.tmp";

// The error each kind of step fails with: one the system gives for it, and never one that the
// save is meant to work around (EOPNOTSUPP for unnamed files, EPERM for hard links or owners).
int ErrorFor(TFileOperation operation) {
    switch (operation) {
    case TFileOperation::Write:
        return ENOSPC;
    case TFileOperation::Close:
        return EDQUOT;
    case TFileOperation::OpenForReading:
    case TFileOperation::CreateTemporary:
    case TFileOperation::CreateUnnamed:
    case TFileOperation::Stat:
    case TFileOperation::LinkStatus:
    case TFileOperation::CheckWriteAccess:
    case TFileOperation::ListFolder:
        return EACCES;
    case TFileOperation::SetPermissions:
        return EPERM;
    case TFileOperation::Rename:
        return EBUSY;
    case TFileOperation::Link:
        return EMLINK;
    default:
        return EIO;
    }
}

// Steps that only tidy up: their failure leaves the save to go on.
bool OnlyTidies(TFileOperation operation) {
    return operation == TFileOperation::ListFolder || operation == TFileOperation::RemoveAbandoned;
}

// The file the path leads to, following links as the system does.
fs::path FinalPath(const fs::path& path) {
    fs::path current = path;
    for (int links = 0; links < 40 && fs::is_symlink(current); ++links) {
        const fs::path text = fs::read_symlink(current);
        current = text.is_absolute() ? text : current.parent_path() / text;
    }
    return current;
}

// What a folder holds: each regular file's bytes, and each link's text after "-> ".
using TFolderState = std::map<std::string, std::string>;

TFolderState StateOf(const fs::path& folder) {
    TFolderState state;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink()) {
            state[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            state[name] = ReadAll(entry.path().string());
        }
    }
    return state;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.flush()) << "cannot write " << path;
}

// Brings the folder back to the state: other files and links go, and every file is written anew.
void Restore(const fs::path& folder, const TFolderState& state) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_symlink() || entry.is_regular_file()) {
            const auto kept = state.find(entry.path().filename().string());
            if (kept == state.end() || !kept->second.starts_with("-> ")) {
                fs::remove(entry.path());
            }
        }
    }
    for (const auto& [name, content] : state) {
        if (content.starts_with("-> ")) {
            if (!fs::is_symlink(folder / name)) {
                fs::create_symlink(content.substr(3), folder / name);
            }
        } else {
            WriteBytes(folder / name, content);
        }
    }
}

struct TScenario {
    std::string name;
    bool existing; // the target holds the old bytes (else there is no file yet)
    bool unnamedFiles;
    bool hardLinks;
};

// One save under the faulty file system: the message of its EInOutError, or nothing.
std::optional<std::string> RunSave(TFaultyFileSystem& faulty, const std::function<void()>& save) {
    const TFileSystemOverride override(faulty);
    try {
        save();
    } catch (const EInOutError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not an input/output error: " << e.what();
        return e.what();
    }
    return std::nullopt;
}

class TSaveFaultRun {
public:
    TSaveFaultRun(const std::string& target, const std::string& oldBytes, const std::function<void()>& save,
                  unsigned backups)
        : target_(target), final_(FinalPath(target)), folder_(final_.parent_path()), oldBytes_(oldBytes),
          save_(save), backups_(backups) {}

    void Run(const TScenario& scenario) {
        SCOPED_TRACE(scenario.name);
        if (newBytes_.empty()) {
            Prepare(scenario);
            save_();
            newBytes_ = ReadAll(final_.string());
            ASSERT_NE(newBytes_, oldBytes_) << "the save must change the file for the test to see anything";
            ASSERT_GE(newBytes_.size(), 64u) << "too few bytes to fail the save at several places";
            // Four writes at least, so that the first, a middle and the last write are different ones.
            writeSize_ = (newBytes_.size() + 3) / 4;
        }
        Prepare(scenario);
        const TFolderState before = StateOf(folder_);

        // Without faults: the steps to fail.
        TFaultyFileSystem clean;
        Configure(clean, scenario);
        const std::optional<std::string> error = RunSave(clean, save_);
        ASSERT_FALSE(error) << *error;
        const std::vector<TJournalEntry> journal = clean.Journal();
        const size_t renameStep = ReplacingStep(journal);
        const size_t tidyingStep = TidyingStep(journal);
        ASSERT_LT(renameStep, journal.size()) << "no step renames a file to the target";
        ASSERT_LT(tidyingStep, journal.size()) << "no step removes the killed save's file";
        Check(scenario, before, std::nullopt, true);

        std::map<TFileOperation, int> seen;
        for (size_t step = 0; step < journal.size(); ++step) {
            const TFileOperation operation = journal[step].operation;
            const int n = ++seen[operation];
            SCOPED_TRACE("step " + std::to_string(step) + ": " + OperationName(operation) + " #" +
                         std::to_string(n) + " " + journal[step].path);
            Restore(folder_, before);
            TFaultyFileSystem faulty;
            Configure(faulty, scenario);
            const int fault = ErrorFor(operation);
            faulty.FailNth(operation, n, fault);
            const std::optional<std::string> message = RunSave(faulty, save_);
            EXPECT_GE(faulty.Count(operation), n) << "the fault was not met where it was meant to be";
            if (OnlyTidies(operation)) {
                EXPECT_FALSE(message) << *message;
                Check(scenario, before, std::nullopt, false);
                continue;
            }
            ExpectError(message, fault);
            Check(scenario, before, step > renameStep, step > tidyingStep);
        }

        // Disks that fill at several places of the writes, which are cut short at the limit.
        const uint64_t size = newBytes_.size();
        for (const uint64_t spaceLeft :
             {uint64_t{0}, uint64_t{1}, writeSize_ - 1, writeSize_, writeSize_ + 1, size - 1}) {
            SCOPED_TRACE("no space after " + std::to_string(spaceLeft) + " bytes");
            Restore(folder_, before);
            TFaultyFileSystem faulty;
            Configure(faulty, scenario);
            faulty.NoSpaceAfter(spaceLeft);
            ExpectError(RunSave(faulty, save_), ENOSPC);
            EXPECT_EQ(faulty.Count(TFileOperation::Write),
                      static_cast<int>((spaceLeft + writeSize_ - 1) / writeSize_) + 1)
                << "the disk was full before the write that was meant to find it so";
            Check(scenario, before, false, true);
        }
        Restore(folder_, before);
    }

private:
    // Puts the old file, its backups and the killed save's file in place, or takes the file away.
    void Prepare(const TScenario& scenario) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(final_.filename().string() + ".bak")) {
                fs::remove(entry.path(), ignored);
            }
        }
        fs::remove(final_, ignored);
        if (scenario.existing) {
            WriteBytes(final_, oldBytes_);
            for (unsigned n = 1; n <= backups_; ++n) {
                WriteBytes(BackupName(final_.string(), n), "backup " + std::to_string(n) + " of the file\n");
            }
        }
        WriteBytes(folder_ / kAbandoned, "the start of a save that was killed");
    }

    void Configure(TFaultyFileSystem& faulty, const TScenario& scenario) {
        if (!scenario.unnamedFiles) {
            faulty.RefuseUnnamedFiles();
        }
        if (!scenario.hardLinks) {
            faulty.RefuseHardLinks();
        }
        faulty.LimitWriteSize(writeSize_);
    }

    // The step that renames the complete temporary file to the target.
    size_t ReplacingStep(const std::vector<TJournalEntry>& journal) const {
        for (size_t step = 0; step < journal.size(); ++step) {
            if (journal[step].operation == TFileOperation::Rename &&
                journal[step].path.ends_with(" -> " + final_.string())) {
                return step;
            }
        }
        return journal.size();
    }

    // The step that removes the killed save's file.
    size_t TidyingStep(const std::vector<TJournalEntry>& journal) const {
        for (size_t step = 0; step < journal.size(); ++step) {
            if (journal[step].operation == TFileOperation::RemoveAbandoned &&
                journal[step].path.ends_with(kAbandoned)) {
                return step;
            }
        }
        return journal.size();
    }

    void ExpectError(const std::optional<std::string>& message, int error) const {
        ASSERT_TRUE(message) << "the save succeeded";
        EXPECT_NE(message->find(target_), std::string::npos) << *message;
        EXPECT_NE(message->find(std::generic_category().message(error)), std::string::npos) << *message;
    }

    // `replaced`: the target holds the new bytes (nothing: the save succeeded); `tidied`: the
    // killed save's file is gone.
    void Check(const TScenario& scenario, const TFolderState& before, std::optional<bool> replaced,
               bool tidied) const {
        const bool succeeded = !replaced.has_value();
        const TFolderState after = StateOf(folder_);
        const std::string name = final_.filename().string();

        // The target.
        if (succeeded || *replaced) {
            EXPECT_EQ(ReadAll(final_.string()), newBytes_);
        } else if (scenario.existing) {
            EXPECT_EQ(ReadAll(final_.string()), oldBytes_);
        } else {
            EXPECT_FALSE(fs::exists(final_));
        }

        // No file but the target and its backups has come, and no temporary one.
        for (const auto& [file, content] : after) {
            bool expected = before.contains(file) || file == name;
            for (unsigned n = 1; n <= backups_; ++n) {
                expected = expected || file == name + ".bak" + std::to_string(n);
            }
            EXPECT_TRUE(expected) << "a file was left behind: " << file;
        }
        EXPECT_EQ(after.contains(kAbandoned), !tidied) << "the killed save's file";

        if (!scenario.existing || backups_ == 0) {
            return;
        }
        // Nothing is lost: the old bytes and every backup but the oldest are somewhere.
        std::vector<std::string> kept = {oldBytes_};
        for (unsigned n = 1; n < backups_; ++n) {
            kept.push_back(before.at(name + ".bak" + std::to_string(n)));
        }
        for (const std::string& bytes : kept) {
            bool found = false;
            for (const auto& [file, content] : after) {
                found = found || content == bytes;
            }
            EXPECT_TRUE(found) << "lost: " << bytes;
        }
        if (succeeded || *replaced) {
            // Each backup has moved up by one, and the old bytes are the newest backup.
            EXPECT_EQ(ReadAll(BackupName(final_.string(), 1)), oldBytes_);
            for (size_t n = 1; n < kept.size(); ++n) {
                EXPECT_EQ(ReadAll(BackupName(final_.string(), static_cast<unsigned>(n + 1))), kept[n]);
            }
        }
    }

    std::string target_;
    fs::path final_;
    fs::path folder_;
    std::string oldBytes_;
    std::string newBytes_;
    size_t writeSize_ = 0;
    std::function<void()> save_;
    unsigned backups_;
};

} // namespace

void ExpectSaveSurvivesFaults(const std::string& target, const std::string& oldBytes,
                              const std::function<void()>& save, unsigned backups) {
    const fs::path link = target;
    const bool isLink = fs::is_symlink(link);
    const std::string linkText = isLink ? fs::read_symlink(link).string() : "";

    TSaveFaultRun run(target, oldBytes, save, backups);
    std::vector<TScenario> scenarios = {
        {"replacing a file", true, true, true},
        {"creating a file", false, true, true},
        {"replacing a file, without unnamed files", true, false, true},
        {"creating a file, without unnamed files", false, false, true},
    };
    if (backups > 0) {
        scenarios.push_back({"replacing a file, without hard links", true, true, false});
    }
    for (const TScenario& scenario : scenarios) {
        run.Run(scenario);
        if (isLink) {
            EXPECT_TRUE(fs::is_symlink(link)) << "the link was replaced";
            EXPECT_EQ(fs::read_symlink(link).string(), linkText);
        }
    }
    WriteBytes(FinalPath(target), oldBytes);
}

} // namespace ludex::testing
