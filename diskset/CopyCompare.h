// Where copies of one disk differ: every sector record of every present track, compared
// between the first copy and each later one, as the reader walks the tracks.
#pragma once

#include "DiskSet.h"

#include "D88Image.h"

#include <vector>

enum class CopyDifference {
    Missing, // the later copy does not hold the sector (or the first does not)
    Status,  // both hold it, with different read statuses
    Data,    // both hold it with one status, and other bytes
};

struct SectorDifference {
    int track;
    d88::SectorId id;
    int disk; // the later copy
    CopyDifference what;
};

// The sectors in which the copies of `number` (two or more disks) differ from its first copy,
// in track order, at most `limit` of them; `total` receives how many there are in all.
std::vector<SectorDifference> compareCopies(d88::D88Image& image, const SetNumber& number,
                                            size_t limit, int& total);
