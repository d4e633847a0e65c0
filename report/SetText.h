// The text of a set plan: what an extraction does with the set, entry by entry, as planSet
// decided it. d88info --set, d88extract --dry-run and the extraction's messages print it.
#pragma once

#include "NoteText.h"
#include "Plan.h"
#include "SetCounts.h"

#include <cstdio>
#include <vector>

// "PATHS: N disks, directory in the layout of PROGRAM", the line before the entries.
void printSetHead(const std::vector<const char*>& paths, int diskCount,
                  const DirectoryLayout& layout, FILE* out);

// The directory's read errors, in the words of the set's programs' message, when it has any.
void printDirectoryErrors(const SetPlan& plan, FILE* out);

// One line per directory sector not read whole and clean, each after `prefix`.
void printDirectoryNotes(const SetPlan& plan, const DiskSetFacts& set, const ShownFiles& files,
                         const char* prefix, FILE* out);

// One line per disk that listed entries need and no file holds: "Disk C (ID byte 03) is in
// none of the files: 2 entries need it: 'C.BIN', 'D.BIN'", each after `prefix`.
void printMissingDisks(const SetPlan& plan, const char* prefix, FILE* out);

// One line per listed entry: its index, the extraction's report line text, what becomes of it,
// its read errors, the sectors taken from copies and the entry whose file replaces it.
void printSetPlan(const SetPlan& plan, FILE* out);

// The line that ends the listing: "7 files to write, 75776 bytes; 0 entries passed over", with
// ", N of them incomplete", ", N of them with read errors" and the sectors from copies after the
// bytes, "; N entries not written" before the entries passed over, and "; N entries cannot be
// read" after them, when there are such.
void printSetSummary(const SetCounts& counts, FILE* out);
