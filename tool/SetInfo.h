// What an extraction program would do with an image, entry by entry, from the same walk of
// the directory as the extraction itself, writing nothing.
#pragma once

#include "DirectoryWalk.h"

#include <cstdint>
#include <cstdio>

struct SetSummary {
    int files;          // entries that would be written (whole or incomplete)
    int64_t bytes;      // their sizes
    int passedOver;     // listed entries that would not be written
    int withReadErrors; // files to write that hold sectors stored with an error status
};

// Prints the directory's read errors when it has any, then one line per directory entry of
// `layout` whose 16 bytes are not all zero: its index, the extraction's report line text,
// what would become of it and its read errors. `image` is open with at least four disks.
SetSummary printSetPlan(d88::D88Image& image, const DirectoryLayout& layout, FILE* out);

// The number of files that the program of `layout` would write from `image`.
int countSetFiles(d88::D88Image& image, const DirectoryLayout& layout);

// Walks the directory as printSetPlan does and hands `visit` each entry that it lists, in
// table order, with the file's bytes in workBuffer; returns the same summary and stores the
// directory's read errors in `directoryErrors`.
SetSummary visitSetPlan(d88::D88Image& image, const DirectoryLayout& layout, EntryVisitor visit,
                        void* context, d88::RunErrors& directoryErrors);

// The word that ends an entry's line: extract, incomplete, empty, no-disk, missing or unsafe.
const char* setOutcomeWord(EntryOutcome outcome);

// The line that ends the listing: "7 files to write, 75776 bytes; 0 entries passed over", with
// ", N of them with read errors" after the bytes when there are such files.
void printSetSummary(const SetSummary& summary, FILE* out);
