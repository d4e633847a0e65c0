// d88info's text beside the disks' listing: the set's disks by their numbers and what is said of
// them, where copies differ, and the directory in a layout with what an extraction does with it.
#pragma once

#include "CopyCompare.h"
#include "DiskSet.h"
#include "NoteText.h"
#include "Plan.h"

#include <cstdio>
#include <vector>

// "set numbers: 01 (Disk A) disk 0, ...", then where the copies of a set number differ (the
// first 16 sectors), the notes on the disks and files (`notes`), and the disks of no set number.
void printDiskSetText(const DiskSetFacts& set, const std::vector<SetNote>& notes,
                      const std::vector<CopyDifferences>& differences, const ShownFiles& files,
                      FILE* out);

// The directory as the extraction would process it: the head line, the disks that entries need
// and no file holds, the directory's sectors not read whole, each entry and the summary. `set`
// and `files` name copies. With too few disks for the set's programs that is said instead.
void printSetText(const std::vector<const char*>& paths, int diskCount, const SetPlan& plan,
                  const DiskSetFacts& set, const ShownFiles& files, FILE* out);
