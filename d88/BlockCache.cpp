#include "BlockCache.h"

#include "FileSeek.h"

#include <cstring>

namespace d88 {

namespace {

// Reads block `index` into `slot`. A block that cannot be read is kept as empty (length 0),
// which reads as the end of the file.
void loadBlock(BlockCache& cache, int slot, int64_t index) {
    const int64_t position = index * BLOCK_BYTES;
    size_t got = 0;
    if (cache.streamPosition == position || seekFile(cache.file, position, SEEK_SET)) {
        got = fread(cache.bytes[slot], 1, BLOCK_BYTES, cache.file);
        cache.streamPosition = position + static_cast<int64_t>(got);
        if (got < static_cast<size_t>(BLOCK_BYTES)) {
            clearerr(cache.file); // the end of the file, or an error: stop here either way
            cache.streamPosition = -1;
        }
    } else {
        cache.streamPosition = -1;
    }
    cache.blockIndex[slot] = index;
    cache.blockLength[slot] = static_cast<int>(got);
}

// The slot that holds block `index`, loaded if needed.
int slotFor(BlockCache& cache, int64_t index) {
    int slot = cache.lastSlot;
    if (cache.blockIndex[slot] != index) {
        int victim = 0;
        slot = -1;
        for (int i = 0; i < CACHED_BLOCKS; ++i) {
            if (cache.blockIndex[i] == index) {
                slot = i;
                break;
            }
            if (cache.lastUse[i] < cache.lastUse[victim]) {
                victim = i;
            }
        }
        if (slot < 0) {
            slot = victim;
            loadBlock(cache, slot, index);
        }
        cache.lastSlot = slot;
    }
    cache.lastUse[slot] = ++cache.useClock;
    return slot;
}

} // namespace

void resetBlockCache(BlockCache& cache, FILE* file) {
    cache.file = file;
    cache.streamPosition = -1;
    cache.useClock = 0;
    cache.lastSlot = 0;
    for (int i = 0; i < CACHED_BLOCKS; ++i) {
        cache.blockIndex[i] = -1;
        cache.blockLength[i] = 0;
        cache.lastUse[i] = 0;
    }
}

int64_t copyFileBytes(BlockCache& cache, int64_t position, uint8_t* out, int64_t length) {
    int64_t copied = 0;
    while (copied < length && position >= 0) {
        const int slot = slotFor(cache, position / BLOCK_BYTES);
        const int offset = static_cast<int>(position % BLOCK_BYTES);
        const int available = cache.blockLength[slot] - offset;
        if (available <= 0) {
            break;
        }
        const int64_t piece = available < length - copied ? available : length - copied;
        memcpy(out + copied, cache.bytes[slot] + offset, static_cast<size_t>(piece));
        copied += piece;
        position += piece;
        if (cache.blockLength[slot] < BLOCK_BYTES && offset + piece == cache.blockLength[slot]) {
            break; // the file ends inside this block
        }
    }
    return copied;
}

const uint8_t* fileBlockAt(BlockCache& cache, int64_t position, int64_t& blockStart,
                           int& blockLength) {
    const int64_t index = position / BLOCK_BYTES;
    const int slot = slotFor(cache, index);
    blockStart = index * BLOCK_BYTES;
    blockLength = cache.blockLength[slot];
    return cache.bytes[slot];
}

const uint8_t* viewFileBytes(BlockCache& cache, int64_t position, int length, uint8_t* scratch) {
    if (position < 0) {
        return nullptr;
    }
    const int offset = static_cast<int>(position % BLOCK_BYTES);
    if (offset + length <= BLOCK_BYTES) {
        const int slot = slotFor(cache, position / BLOCK_BYTES);
        return cache.blockLength[slot] >= offset + length ? cache.bytes[slot] + offset : nullptr;
    }
    return copyFileBytes(cache, position, scratch, length) == length ? scratch : nullptr;
}

} // namespace d88
