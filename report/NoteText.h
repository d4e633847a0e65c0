// The words of what is said beside the files written: the notes on the files and disks, the
// disks that entries need and no file holds, the directory's sectors that were not read whole,
// and why no layout is read. One wording, which d88extract prints after its name, d88info lists,
// and the page shows above its table.
#pragma once

#include "DiskSet.h"
#include "ImageFacts.h"
#include "Plan.h"
#include "SetNotes.h"

#include <cstdio>
#include <string>
#include <vector>

// The given files as they are shown, by index.
using ShownFiles = std::vector<std::string>;

// A copy of a disk as messages name it: its file, and where that file holds more than one
// disk its index: "'dump1.d88'", "'set.d88' (disk 5)". `disk` is a place in set.disks.
std::string copyName(const DiskSetFacts& set, const ShownFiles& files, int disk);

// "'NAME' is given again: read once", of a file given again (`quotedName`, "'NAME'").
std::string givenAgainText(const std::string& quotedName);

// The text of `note`.
std::string setNoteText(const SetNote& note, const DiskSetFacts& set, const ShownFiles& files);

// "Disk C (ID byte 03) is in none of the files: 2 entries need it: 'C.BIN', 'D.BIN'", the
// entries' saved names as shown on `shownOn` (as stored when it is null).
std::string missingDiskText(const MissingDisk& missing, const SetPlan& plan, FILE* shownOn);

// "the directory's sector 2 of 3 (Disk A, track 1) is missing: entries 36 to 99 cannot be
// read". `set` and `files` name the copy a contested sector is taken from.
std::string directoryNoteText(const DirectoryNote& note, const DirectoryRead& directory,
                              const DiskSetFacts& set, const ShownFiles& files);

// Why no layout is read, when the decision has a problem: "layout b (d88extract-b) yields no
// files; layout a (d88extract-a) yields 7 files", "both layouts yield files: ...", "no files in
// either layout". Empty without a problem.
std::string layoutProblemText(const LayoutDecision& decision);

// Why `disk` carries no number of its own: "it has no ID sector", "it has no readable ID sector
// (its ID sector is stored with the read-error status b0)".
std::string noIdentityReason(const FoundDisk& disk);

// The place in set.disks of the disk with image index `index`, -1 when none.
int placeOfDisk(const DiskSetFacts& set, int index);
