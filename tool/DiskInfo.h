// The listing of d88info: what a D88 image holds, disk by disk and track by track.
#pragma once

#include "D88Image.h"

#include <cstdio>

// Records listed per track at most; a longer track says that its listing was cut.
constexpr int MAX_LISTED_RECORDS = 512;

// Prints disk `index` of `image` (open) and the sector IDs of each of its present tracks.
// Returns false when the disk's header cannot be read.
bool printDiskInfo(d88::D88Image& image, int index, FILE* out);
