// The text of an extraction: the report line of each file written and the messages about it,
// as the set's programs print them, and d88extract's summary line.
#pragma once

#include "Outcomes.h"
#include "Plan.h"
#include "SetCounts.h"

#include <cstdio>
#include <string>
#include <vector>

// "NAME          DISK:02 TRK:10 SEC:02 SIZE:c00", the file written under `name`.
void printReportLine(const PlannedEntry& entry, const char* name, FILE* out);

// The name of each disk, by image index, as messages name a copy (NoteText.h copyName).
using DiskFiles = std::vector<std::string>;

// Sector numbers as runs: "3,7,9-12".
std::string sectorRuns(const std::vector<int>& sectors);

// Where an extraction's text goes and what it tells: report lines to `report` (null: none),
// messages to `messages`; `byIdentity` for d88extract, which also says what the set's programs
// pass over in silence (a file none of whose sectors can be read).
struct RunText {
    FILE* report;
    FILE* messages;
    bool byIdentity;
    const DiskFiles* files; // the copies' names, for files read from several copies
};

// The messages about an entry's file after its report line: incomplete, read errors, why it
// was not written, or that a file under its name was kept. The report is flushed before the
// first of them, so that both streams in one pipe or file stay in order. Returns true when it
// printed a failure (any message but the one of a kept file).
bool printFileMessages(const PlannedEntry& entry, const FileResult& result, const RunText& text);

// Under the report line of a file read from several copies of its disk, when any of its sectors
// was repaired, contested or voted: one line saying which sectors, from which copy, after
// `lead` ("  " under a report line).
void printMergeLine(const MergedRun& merged, const DiskFiles& files, const char* lead, FILE* out);

// The message about the contested sectors of the file `name`, all in one line. Returns true
// when it printed one.
bool printContested(const MergedRun& merged, const DiskFiles& files, const char* name, FILE* out);

// "file 'NAME' replaces the earlier file 'EARLIER'".
void printReplacement(const char* name, const char* earlier, FILE* out);

// The line after an extraction, on one line and in these words whatever was done:
// "PROGRAM: 7 files, 75,776 bytes, written to FOLDER", then "; " and the counts that are not
// 0, in this order: "N replaced", "N kept", "N not written", "N passed over", "N incomplete",
// "N with read errors", "N repaired from copies", "N contested", "N voted", "N entries
// unreadable". `folder` is shown as given ('out', or the current folder).
void printRunSummary(const char* program, const SetCounts& counts, const char* folder, FILE* out);
