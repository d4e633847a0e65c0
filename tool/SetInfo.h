// What an extraction program would do with an image, entry by entry, from the same walk of
// the directory as the extraction itself, writing nothing.
#pragma once

#include "DirectoryWalk.h"

#include <cstdint>
#include <cstdio>

struct SetSummary {
    int files;      // entries that would be written (whole or incomplete)
    int64_t bytes;  // their sizes
    int passedOver; // listed entries that would not be written
};

// Prints one line per directory entry of `layout` whose 16 bytes are not all zero: its index,
// the extraction's report line text and what would become of it. `image` is open with at
// least four disks.
SetSummary printSetPlan(d88::D88Image& image, const DirectoryLayout& layout, FILE* out);

// The number of files that the program of `layout` would write from `image`.
int countSetFiles(d88::D88Image& image, const DirectoryLayout& layout);

// Walks the directory as printSetPlan does and hands `visit` each entry that it lists, in
// table order, with the file's bytes in workBuffer; returns the same summary.
SetSummary visitSetPlan(d88::D88Image& image, const DirectoryLayout& layout, EntryVisitor visit,
                        void* context);

// The word that ends an entry's line: extract, incomplete, empty, no-disk, missing or unsafe.
const char* setOutcomeWord(EntryOutcome outcome);

// The line that ends the listing: "7 files to write, 75776 bytes; 0 entries passed over".
void printSetSummary(const SetSummary& summary, FILE* out);
