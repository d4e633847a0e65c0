// The text of an extraction: the report line of each file written and the messages about it,
// as the set's programs print them.
#pragma once

#include "Outcomes.h"
#include "Plan.h"
#include "RunSummary.h"

#include <cstdio>
#include <string>
#include <vector>

// "NAME          DISK:02 TRK:10 SEC:02 SIZE:c00", the file written under `name`.
void printReportLine(const PlannedEntry& entry, const char* name, FILE* out);

// The messages about an entry's file after its report line: incomplete, read errors, why it
// was not written, or that a file under its name was kept. `report` (when not null) is flushed
// before the first of them, so that both streams in one pipe or file stay in order. Returns
// true when it printed a failure (any message but the one of a kept file).
bool printFileMessages(const PlannedEntry& entry, const FileResult& result, const char* name,
                       FILE* report, FILE* out);

// The file of each disk, by disk index, as messages name it: the file its header starts in.
using DiskFiles = std::vector<std::string>;

// After the report line of a file read from several copies of its disk, when any of its sectors
// was repaired, contested or voted: one line saying which sectors, from which file, after
// `lead` ("  " under a report line).
void printMergeLine(const MergedRun& merged, const DiskFiles& files, const char* lead, FILE* out);

// The messages about sectors merged from copies: contested sectors (a failure) of the file
// `name`, or of the directory when `name` is null. Returns true when it printed any.
bool printContested(const MergedRun& merged, const DiskFiles& files, const char* name, FILE* out);

// "file 'NAME' replaces the earlier file 'EARLIER'".
void printReplacement(const char* name, const char* earlier, FILE* out);

// The line after an extraction, on one line and in these words whatever was done:
// "PROGRAM: 7 files, 75,776 bytes, written to FOLDER", then "; " and the counts that are not
// 0, in this order: "N replaced", "N kept", "N not written", "N passed over", "N with read
// errors". `folder` is shown as given ('out', or the current folder).
void printRunSummary(const char* program, const RunSummary& summary, const char* folder, FILE* out);
