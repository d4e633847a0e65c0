// Whether copies of one disk differ, and where: one notion for every use. Two copies hold a
// sector alike when both hold a record of its ID on the same track, with the same status and
// the same data bytes as stored; the disks' headers (name, write-protect flag, track offsets)
// do not count. The merge of copies (SectorMerge.h) compares sector bytes with the same test.
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

// True when the `length` bytes at image positions `a` and `b` are the same.
bool sameBytes(d88::D88Image& image, int64_t a, int64_t b, int length);

// The sectors in which disk `later` differs from disk `first`, in track order, at most `limit`
// of them (0: none listed, only counted up to the first); `total` receives how many there are
// in all, or 1 with a `limit` of 0 when there is any.
std::vector<SectorDifference> compareCopies(d88::D88Image& image, int first, int later,
                                            size_t limit, int& total);

// True when disks `a` and `b` hold every sector alike.
bool sameSectors(d88::D88Image& image, int a, int b);

// Where the copies of one set number differ from its first copy.
struct CopyDifferences {
    int number;                           // the set number
    int sectors;                          // sectors in which some later copy differs
    int total;                            // sectors and later copies that differ, in all
    std::vector<SectorDifference> listed; // the first of those, per sector and later copy
};

// The differences of each set number of `set` given in copies, at most `limit` listed each.
std::vector<CopyDifferences> listCopyDifferences(d88::D88Image& image, const DiskSetFacts& set,
                                                 size_t limit);
