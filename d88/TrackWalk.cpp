#include "TrackWalk.h"

#include <cstring>

namespace d88 {

namespace {

bool sameId(const SectorId& a, const SectorId& b) {
    return memcmp(&a, &b, sizeof(SectorId)) == 0;
}

uint32_t firstSlot(const SectorId& id) {
    const uint32_t key = static_cast<uint32_t>(id.c) | (static_cast<uint32_t>(id.h) << 8) |
                         (static_cast<uint32_t>(id.r) << 16) | (static_cast<uint32_t>(id.n) << 24);
    return (key * 2654435761u) >> (32 - ID_INDEX_BITS);
}

void markWalked(TrackWalk& walk, uint32_t slot) {
    const uint32_t bit = slot % ID_FILTER_BITS;
    walk.idFilter[bit / 64] |= uint64_t{1} << (bit % 64);
}

bool maybeWalked(const TrackWalk& walk, const SectorId& id) {
    const uint32_t bit = firstSlot(id) % ID_FILTER_BITS;
    return (walk.idFilter[bit / 64] >> (bit % 64)) & 1;
}

// The slot of `id` in the index: the one holding this walk's first record with that ID, or
// the free slot where it belongs.
IdIndexSlot& indexSlot(TrackWalk& walk, const SectorId& id) {
    uint32_t slot = firstSlot(id);
    while (walk.idIndex[slot].walkNumber == walk.walkNumber &&
           !sameId(walk.records[walk.idIndex[slot].record].id, id)) {
        slot = (slot + 1) & (ID_INDEX_SLOTS - 1);
    }
    return walk.idIndex[slot];
}

void addToIndex(TrackWalk& walk, int record) {
    IdIndexSlot& slot = indexSlot(walk, walk.records[record].id);
    if (slot.walkNumber != walk.walkNumber) {
        slot = IdIndexSlot{walk.walkNumber, record}; // the first record of an ID wins
    }
}

void buildIndex(TrackWalk& walk) {
    if (!walk.indexCleared) {
        memset(walk.idIndex, 0, sizeof walk.idIndex);
        walk.indexCleared = true;
    }
    for (int i = 0; i < walk.recordCount; ++i) {
        addToIndex(walk, i);
    }
    walk.indexed = true;
}

// Walks on until a record with ID `*wanted` (when not null) or the walk's end. Returns the
// record's number, or -1.
int walkOn(TrackWalk& walk, BlockCache& cache, const SectorId* wanted) {
    // The block that the last header came from, read in place while the headers lie in it.
    const uint8_t* block = nullptr;
    int64_t blockStart = 0;
    int blockLength = 0;
    uint8_t scratch[SECTOR_RECORD_HEADER_SIZE];
    int64_t at = walk.next;
    int count = walk.recordCount;
    WalkEnd end = walk.end;
    int found = -1;
    while (end == WalkEnd::NotYet) {
        const uint8_t* raw = nullptr;
        if (at + SECTOR_RECORD_HEADER_SIZE > walk.bytesEnd) {
            end = WalkEnd::EndOfFile; // the header lies past the disk's bytes
            break;
        }
        if (block != nullptr && at >= blockStart &&
            at + SECTOR_RECORD_HEADER_SIZE <= blockStart + blockLength) {
            raw = block + (at - blockStart);
        } else if (at % BLOCK_BYTES + SECTOR_RECORD_HEADER_SIZE <= BLOCK_BYTES) {
            block = fileBlockAt(cache, at, blockStart, blockLength);
            if (at + SECTOR_RECORD_HEADER_SIZE <= blockStart + blockLength) {
                raw = block + (at - blockStart);
            }
        } else {
            block = nullptr; // the header straddles two blocks
            raw = viewFileBytes(cache, at, SECTOR_RECORD_HEADER_SIZE, scratch);
        }
        if (raw == nullptr) {
            end = WalkEnd::EndOfFile;
            break;
        }
        const SectorRecordHeader header = parseSectorRecordHeader(raw);
        if (header.sectorsInTrack == 0) {
            end = WalkEnd::ZeroCount;
            break;
        }
        const int number = count++;
        walk.records[number] =
            WalkedRecord{header.id, header.marks, header.sectorsInTrack, header.dataLength, at};
        at += SECTOR_RECORD_HEADER_SIZE + header.dataLength;
        markWalked(walk, firstSlot(header.id));
        if (number == header.sectorsInTrack - 1) {
            end = WalkEnd::TrackCount;
        } else if (count == MAX_WALK_RECORDS) {
            end = WalkEnd::RecordLimit;
        }
        if (wanted != nullptr && sameId(header.id, *wanted)) {
            found = number;
            break;
        }
    }
    const int first = walk.recordCount;
    walk.next = at;
    walk.recordCount = count;
    walk.end = end;
    if (walk.indexed) {
        for (int i = first; i < count; ++i) {
            addToIndex(walk, i);
        }
    }
    return found;
}

} // namespace

void prepareTrackWalk(TrackWalk& walk) {
    walk.indexCleared = false;
    walk.walkNumber = 0;
    resetTrackWalk(walk);
}

void resetTrackWalk(TrackWalk& walk) {
    walk.start = -1;
    walk.bytesEnd = -1;
    walk.next = -1;
    walk.recordCount = 0;
    walk.end = WalkEnd::NotYet;
    walk.indexed = false;
    memset(walk.idFilter, 0, sizeof walk.idFilter);
}

void beginTrackWalk(TrackWalk& walk, int64_t start, int64_t bytesEnd) {
    if (walk.start == start && walk.bytesEnd == bytesEnd) {
        return;
    }
    resetTrackWalk(walk);
    walk.start = start;
    walk.bytesEnd = bytesEnd;
    walk.next = start;
    if (++walk.walkNumber == 0) { // after 2^32 walks the stamps could repeat: start afresh
        walk.indexCleared = false;
        walk.walkNumber = 1;
    }
}

int findWalkedRecord(TrackWalk& walk, BlockCache& cache, SectorId id) {
    if (!maybeWalked(walk, id)) {
        return walkOn(walk, cache, &id); // no record walked so far has this ID
    }
    if (!walk.indexed && walk.recordCount > LINEAR_SEARCH_RECORDS) {
        buildIndex(walk); // a second search on a long walk: index it once
    }
    if (walk.indexed) {
        const IdIndexSlot& slot = indexSlot(walk, id);
        if (slot.walkNumber == walk.walkNumber) {
            return slot.record;
        }
    } else {
        for (int i = 0; i < walk.recordCount; ++i) {
            if (sameId(walk.records[i].id, id)) {
                return i;
            }
        }
    }
    return walkOn(walk, cache, &id);
}

void finishTrackWalk(TrackWalk& walk, BlockCache& cache) {
    walkOn(walk, cache, nullptr);
}

} // namespace d88
