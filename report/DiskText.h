// d88info's text of a disk: its header line and the sector IDs of each of its present tracks.
#pragma once

#include "ImageFacts.h"

#include <cstdio>

// Prints the disk's line and, when they were described, its tracks.
void printDiskFacts(const DiskFacts& disk, FILE* out);

// Prints `name` with the bytes that would upset a terminal or a quoted listing (below 0x20,
// 0x7F, '"' and '\') as \xNN; other bytes, Shift_JIS included, as they are.
void printEscapedName(const char* name, FILE* out);
