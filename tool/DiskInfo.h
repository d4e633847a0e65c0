// The listing of d88info: what a D88 image holds, disk by disk and track by track.
#pragma once

#include "D88Image.h"

#include <cstdio>

// Records listed per track at most; a longer track says that its listing was cut.
constexpr int MAX_LISTED_RECORDS = 512;

// Prints disk `index` of `image` (open) and the sector IDs of each of its present tracks,
// walked as the extraction programs walk them. Returns false when the disk's header cannot
// be read.
bool printDiskInfo(d88::D88Image& image, int index, FILE* out);

// Prints `name` with the bytes that would upset a terminal or a quoted listing (below 0x20,
// 0x7F, '"' and '\') as \xNN; other bytes, Shift_JIS included, as they are.
void printEscapedName(const char* name, FILE* out);
