// The walk along a track's sector records, from its first record, as readSector makes it:
// it ends at the first record whose sectors-in-track count equals its 1-based position, before
// a record whose count is 0, at the end of the disk's bytes (the end of the files, or where a
// disk was cut short), or after MAX_WALK_RECORDS records. The
// walk is kept: later searches on the same start look at the records already walked and go
// on only where those do not answer.
#pragma once

#include "BlockCache.h"
#include "D88Format.h"

#include <cstdint>

namespace d88 {

// The sectors-in-track count is 16 bits wide, so no record can end a walk after this many.
constexpr int MAX_WALK_RECORDS = 65535;
// Walks longer than this are searched through an index of IDs instead of record by record.
constexpr int LINEAR_SEARCH_RECORDS = 64;
constexpr int ID_INDEX_BITS = 17; // more than twice MAX_WALK_RECORDS slots
constexpr int ID_INDEX_SLOTS = 1 << ID_INDEX_BITS;
constexpr int ID_FILTER_BITS = 4096; // a summary of the IDs walked, to skip hopeless searches

enum class WalkEnd : uint8_t {
    NotYet,      // more records may follow
    TrackCount,  // a record's count equals its position
    ZeroCount,   // a record with a count of 0, not part of the walk
    EndOfFile,   // the next header is cut by the end of the disk's bytes
    RecordLimit, // MAX_WALK_RECORDS records without an end
};

// One record of the walk.
struct WalkedRecord {
    SectorId id;
    SectorMarks marks;
    uint16_t sectorsInTrack;
    uint16_t dataLength;
    int64_t headerPosition; // file position of the record's 16-byte header
};

// A slot of the ID index: the first record with an ID, valid in one walk only.
struct IdIndexSlot {
    uint32_t walkNumber;
    int32_t record;
};

struct TrackWalk {
    int64_t start;    // file position of the first header, -1 when nothing was walked
    int64_t bytesEnd; // no header is read at or past this position
    int64_t next;     // file position of the next header to read
    int recordCount;
    WalkEnd end;
    bool indexed;        // idIndex holds the first record of every ID walked
    bool indexCleared;   // idIndex has been zeroed once
    uint32_t walkNumber; // counts the walks begun; slots of earlier walks are stale
    uint64_t idFilter[ID_FILTER_BITS / 64]; // bit firstSlot(id) % ID_FILTER_BITS: maybe walked
    WalkedRecord records[MAX_WALK_RECORDS];
    IdIndexSlot idIndex[ID_INDEX_SLOTS];
};

// Makes a newly allocated walk ready. The index is zeroed only when a walk first needs it, so
// that its memory is not touched before.
void prepareTrackWalk(TrackWalk& walk);
// Forgets the walk.
void resetTrackWalk(TrackWalk& walk);
// Starts the walk at `start`, reading no header at or past `bytesEnd`, unless it is already
// there.
void beginTrackWalk(TrackWalk& walk, int64_t start, int64_t bytesEnd);
// The number of the walk's first record with ID `id`, walking on as far as needed; -1 when
// the walk ends without one.
int findWalkedRecord(TrackWalk& walk, BlockCache& cache, SectorId id);
// Walks on to the walk's end.
void finishTrackWalk(TrackWalk& walk, BlockCache& cache);

} // namespace d88
