// The image's bytes as the reader sees them: fetched in aligned blocks into memory that the
// reader owns, so that walking sector records and skipping sector data costs no system call. A
// few blocks are kept and the least recently used one is replaced. The image may be several
// parts read as one, files or bytes in memory, their bytes joined in order as `cat` joins them;
// a block may hold the end of one part and the start of the next. A block that lies within the
// bytes in memory of one part is read where it lies, without a copy.
#pragma once

#include "ByteSource.h"

#include <cstdint>

namespace d88 {

constexpr int BLOCK_BYTES = 65536;
constexpr int CACHED_BLOCKS = 6;
constexpr int MAX_IMAGE_PARTS = 64; // parts joined into one image

struct BlockCache {
    int partCount;
    bool anyInMemory; // some part is bytes in memory, whose blocks may be read in place
    ByteSource sources[MAX_IMAGE_PARTS];
    int64_t partStarts[MAX_IMAGE_PARTS];      // where each part's first byte lies in the image
    int64_t streamPositions[MAX_IMAGE_PARTS]; // where each stream stands in its file, -1 unknown
    uint32_t useClock;
    int lastSlot;                      // the slot of the last hit, tried first
    int64_t blockIndex[CACHED_BLOCKS]; // position / BLOCK_BYTES, -1 for an empty slot
    int blockLength[CACHED_BLOCKS];    // bytes the image held there (short at its end)
    uint32_t lastUse[CACHED_BLOCKS];
    uint8_t bytes[CACHED_BLOCKS][BLOCK_BYTES];
};

// The part that holds image position `position` among `partCount` parts starting at
// `partStarts` (ascending): the last one starting at or before it.
int partHolding(const int64_t* partStarts, int partCount, int64_t position);

// Forgets every block; later reads go to the `partCount` parts `sources`, the image position of
// each one's first byte in `partStarts` (ascending, the first 0). Every part but the last is
// read up to the next one's start only; the last is read as far as it goes (a file may have
// grown since).
void resetBlockCache(BlockCache& cache, const ByteSource* sources, const int64_t* partStarts,
                     int partCount);

// Copies at most `length` bytes from image position `position` into `out`. Returns the number
// of bytes stored, short where the image ends.
int64_t copyFileBytes(BlockCache& cache, int64_t position, uint8_t* out, int64_t length);

// The cached block that holds `position`, loaded if needed: its bytes, the image position of
// its first byte and the number of bytes the image holds there. Valid until the next call.
const uint8_t* fileBlockAt(BlockCache& cache, int64_t position, int64_t& blockStart,
                           int& blockLength);

// Points at `length` (at most BLOCK_BYTES) bytes from `position`: inside a cached block, or
// copied into `scratch` when they straddle two blocks. Null when the image ends before them.
// The pointer is valid until the next call on the cache.
const uint8_t* viewFileBytes(BlockCache& cache, int64_t position, int length, uint8_t* scratch);

} // namespace d88
