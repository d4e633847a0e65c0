// d88info's text of a set plan: what an extraction program would do with an image, entry by
// entry, as planSet decided it.
#pragma once

#include "Plan.h"

#include <cstdio>

// Prints the directory's read errors when it has any, then one line per listed entry: its
// index, the extraction's report line text, what becomes of it, its read errors and the entry
// whose file replaces it.
void printSetPlan(const SetPlan& plan, FILE* out);

// The word that ends an entry's line: extract, incomplete, empty, no-disk, missing or unsafe.
const char* setOutcomeWord(EntryOutcome outcome);

// The line that ends the listing: "7 files to write, 75776 bytes; 0 entries passed over", with
// ", N of them with read errors" after the bytes when there are such files.
void printSetSummary(const SetSummary& summary, FILE* out);
