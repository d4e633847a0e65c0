// The image file's bytes as the reader sees them: fetched in aligned blocks into memory that
// the reader owns, so that walking sector records and skipping sector data costs no system
// call. A few blocks are kept and the least recently used one is replaced.
#pragma once

#include <cstdint>
#include <cstdio>

namespace d88 {

constexpr int BLOCK_BYTES = 16384;
constexpr int CACHED_BLOCKS = 32;

struct BlockCache {
    FILE* file;
    int64_t streamPosition; // where the stream stands, -1 when unknown
    uint32_t useClock;
    int lastSlot;                      // the slot of the last hit, tried first
    int64_t blockIndex[CACHED_BLOCKS]; // position / BLOCK_BYTES, -1 for an empty slot
    int blockLength[CACHED_BLOCKS];    // bytes the file held there (short at its end)
    uint32_t lastUse[CACHED_BLOCKS];
    uint8_t bytes[CACHED_BLOCKS][BLOCK_BYTES];
};

// Forgets every block; later reads go to `file`.
void resetBlockCache(BlockCache& cache, FILE* file);

// Copies at most `length` bytes from file position `position` into `out`. Returns the number
// of bytes stored, short where the file ends.
int64_t copyFileBytes(BlockCache& cache, int64_t position, uint8_t* out, int64_t length);

// The cached block that holds `position`, loaded if needed: its bytes, the file position of
// its first byte and the number of bytes the file holds there. Valid until the next call.
const uint8_t* fileBlockAt(BlockCache& cache, int64_t position, int64_t& blockStart,
                           int& blockLength);

// Points at `length` (at most BLOCK_BYTES) bytes from `position`: inside a cached block, or
// copied into `scratch` when they straddle two blocks. Null when the file ends before them.
// The pointer is valid until the next call on the cache.
const uint8_t* viewFileBytes(BlockCache& cache, int64_t position, int length, uint8_t* scratch);

} // namespace d88
