#pragma once

// One table of file-system faults for every kind of save (documents, settings, plain files), so
// that each of them is held to the same promises.

#include <functional>
#include <string>

namespace ludex::testing {

// Runs `save`, which writes the file `target` and writes the same bytes each time, first without
// faults to learn its bytes, then once under each fault of the table: the failure of each step of
// a save in turn (the status of the target, creating the temporary file, setting its permissions,
// the first, second and last of several writes, syncing, closing, renaming, syncing the folder)
// and a disk that fills after several byte counts. Each fault runs twice: with the target holding
// `oldBytes`, and with no target yet. Checks for each run that
// - the save throws EInOutError whose message names the target and carries the system's reason;
// - a failure before the rename leaves the target as it was (the old bytes, or no file), and the
//   failing folder sync leaves it holding exactly the new bytes;
// - the folder holds the same files as before, apart from a target the save created: no
//   temporary file remains.
void ExpectSaveSurvivesFaults(const std::string& target, const std::string& oldBytes,
                              const std::function<void()>& save);

} // namespace ludex::testing
