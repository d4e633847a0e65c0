// The text of putting changed files back (d88update): the report line of each file put back and
// the lines under it, why a file cannot be put back, the files of the folder that no entry
// saves under, and the summary.
#pragma once

#include "DiskSet.h"
#include "UpdateCheck.h"
#include "UpdateEntries.h"
#include "UpdatePlan.h"

#include <cstdio>
#include <string>
#include <vector>

// The name that an entry's file is shown under: the name it stands under in the folder, else
// its first name.
const char* updateFileName(const UpdateEntry& entry, const FileUpdate& file);

// "NAME          DISK:01 TRK:1e SEC:01 SIZE:3000  12 sectors written, 3 changed", then
// ", 1 status cleared" when any was not STATUS_NORMAL; under it a line when the file is shorter
// than its entry and one for each entry that shares its sectors and changes with it. Entries
// whose file is another entry's get a line of their own. Nothing for the others.
void printUpdateLines(const UpdateSet& set, const UpdatePlan& plan, size_t position, FILE* out);

// Why the file of entry `position` cannot be put back, after `lead`; nothing when it can.
// `folder` is the folder as given. Returns true when it printed.
bool printUpdateRefusal(const UpdateSet& set, const UpdatePlan& plan, size_t position,
                        const char* lead, const char* folder, FILE* out);

// "Disk B is given 2 times: give one copy of each disk".
std::string givenTwiceText(const SetNumber& number);

// "two files given are named 'A.d88', and 'OUT' can hold only one of them", the names as they
// are to be shown.
std::string sameLastNameText(const std::string& name, const std::string& output);

// Why nothing was written, each after "nothing written: ": "3 files cannot be put back";
std::string refusedFilesText(int refused);
// "the files given changed while they were read";
std::string givenFilesChangedText();
// "the new files cannot be read back";
std::string cannotReadBackText();
// and, for a problem of the check (UpdateCheck.h), "read back, the set's directory or sectors
// are not where they were" or "read back, entry 7 'B.BIN' does not hold what was put there" of
// entry `index` under its name as shown.
std::string readBackText(ReadBackProblem problem, int index, const std::string& shownName);

// "left out of 'DIR', as no entry is saved under their names: 'a', 'b'", the names as they are
// to be shown.
std::string filesOfNoEntryText(const char* folder, const std::vector<std::string>& shown);

// The line after a run: "PROGRAM: 2 files put back into 'OUT'; 5 unchanged" (", 3 without a
// file in the folder" when there are such entries), "would be put back" for a dry run, and
// for a run that puts nothing back "PROGRAM: 0 files put back; 7 unchanged; 'OUT' holds the
// bytes given".
void printUpdateSummary(const char* program, const UpdateSummary& summary, const char* output,
                        bool dryRun, FILE* out);
