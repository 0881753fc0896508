#pragma once

// One table of file-system faults for every kind of save (documents, settings, plain files), so
// that each of them is held to the same promises.

#include <functional>
#include <string>

namespace ludex::testing {

// Runs `save`, which writes the file `target` (a path that may be a symbolic link) with the same
// bytes each time: first without faults, to learn its bytes and every step it takes, then once
// with each of those steps failing in turn, and once under each of a table of disks that fill.
// All of it four ways at least: replacing a file that holds `oldBytes`, and making the file, each
// on a file system that has unnamed temporary files and on one that has not; with `backups` > 0,
// the count the save keeps, also on one without hard links. Before every run the target's folder
// holds a temporary file that a killed save left, and a replaced target has `backups` backups.
// Checks for each run that
// - a failing step makes the save throw EInOutError whose message names the target and carries
//   the system's reason, except steps that only tidy up (listing the folder, removing the killed
//   save's file), which may fail without failing the save;
// - a failure before the rename leaves the target as it was (the old bytes, or no file), and a
//   failure after it leaves it holding exactly the new bytes;
// - nothing is lost: the old bytes, and every backup but the oldest, are still in the folder; a
//   save that succeeds has moved each backup up by one and kept the old bytes as backup 1;
// - the folder holds no file that it did not hold before, apart from the target and its backups:
//   no temporary file remains, and the killed save's is gone once a save has got that far.
void ExpectSaveSurvivesFaults(const std::string& target, const std::string& oldBytes,
                              const std::function<void()>& save, unsigned backups = 0);

} // namespace ludex::testing
