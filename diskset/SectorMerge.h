// One sector read from several copies of a disk (dumps of one disk of the set, known by their
// ID byte): found in each copy as the walk finds it, and taken as the copies together say. The
// result, bytes and marks, does not depend on the order in which the copies are given, except
// where the copies tie: then the first given among the tied decides, and the tie is said. A
// sector that is whole in any copy is never worse in the result.
#pragma once

#include "D88Image.h"

#include <cstdint>
#include <vector>

enum class SectorTaken : uint8_t {
    AsStored,  // every copy holds it alike (or it is read from one copy)
    Repaired,  // some copy lacks it or holds it with a read-error status; the copies that hold
               // it without one agree, and it is taken from them
    Contested, // copies that hold it without a read-error status differ: the bytes that most of
               // them hold are taken
    Voted,     // every copy that holds it does so with a read-error status, and they differ:
               // byte by byte the value that most of them hold
};

struct SectorPick {
    SectorTaken taken;
    int disk;               // the copy the bytes come from (the first given of those that hold
                            // them); for a vote, the first copy that holds the sector
    d88::SectorPlace place; // where they lie in that copy
    int length;             // the bytes taken
    bool readError;         // no copy holds it without a read-error status
    bool sameStatus;        // with readError: every copy holds it, with one status
    int holders;            // copies that hold it whole
    int agree;              // contested: the error-free copies that hold the bytes taken; voted:
                            // the fewest copies that agree on any of its bytes
    int among;              // contested: the error-free copies; voted: the copies that hold it
    bool tie;               // the most held bytes are held by no more copies than others: the
                            // first given decided
    int differing;          // contested: the first given error-free copy that holds other bytes
};

// Finds the sector at `at` in each of `copies` (disk indexes, in the order given) and picks what
// the result holds, `want` bytes of it. A single copy is only located; several are read and
// compared. Voted bytes are appended to `voted`. Returns false, picking nothing, when no copy
// holds the sector whole.
bool pickSector(d88::D88Image& image, const std::vector<int>& copies, const d88::SectorAddress& at,
                int want, SectorPick& pick, std::vector<uint8_t>& voted);
