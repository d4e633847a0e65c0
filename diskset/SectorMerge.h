// One sector read from several copies of a disk (dumps of one disk of the set, known by their
// ID byte): found in each copy as the walk finds it, and taken from the copy that holds it
// best. A sector that is whole in any copy is never worse in the result.
#pragma once

#include "D88Image.h"

#include <cstdint>
#include <vector>

enum class SectorTaken : uint8_t {
    AsStored,  // from the only copy, or from the first when the copies agree
    Repaired,  // the first copy holds it with a read-error status or not at all; another holds
               // it whole without one
    Contested, // copies that hold it without a read-error status differ: taken from the first
    Voted,     // every copy that holds it does so with a read-error status, and three or more
               // do: byte by byte the value most of them hold
};

struct SectorPick {
    SectorTaken taken;
    int disk;               // the copy the bytes come from; for a vote, the first that holds it
    d88::SectorPlace place; // where they lie in that copy
    int length;             // the bytes taken
    bool readError;         // no copy holds it without a read-error status
    bool sameStatus;        // with readError: every copy holds it, with one status
    int holders;            // copies that hold it whole
    int agree;              // voted: the fewest copies that agree on any of its bytes
    int differing;          // contested: the first copy without an error whose bytes differ
};

// Finds the sector at `at` in each of `copies` (disk indexes in
// the order given) and picks what the result holds, `want` bytes of it. A single copy is only
// located; several are read and compared. Voted bytes are appended to `voted`. Returns false,
// picking nothing, when no copy holds the sector whole.
bool pickSector(d88::D88Image& image, const std::vector<int>& copies, const d88::SectorAddress& at,
                int want, SectorPick& pick, std::vector<uint8_t>& voted);
