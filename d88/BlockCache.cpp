#include "BlockCache.h"

#include "FileSeek.h"

#include <cstring>

namespace d88 {

namespace {

// The file that holds image position `position`: the last one starting at or before it.
int partAt(const BlockCache& cache, int64_t position) {
    int part = 0;
    while (part + 1 < cache.partCount && cache.partStarts[part + 1] <= position) {
        ++part;
    }
    return part;
}

// Reads block `index` into `slot`, from as many files as it spans. A block that cannot be read
// is kept as short as what was read (down to 0), which reads as the end of the image.
void loadBlock(BlockCache& cache, int slot, int64_t index) {
    int64_t position = index * BLOCK_BYTES;
    int64_t got = 0;
    for (int part = partAt(cache, position); part < cache.partCount && got < BLOCK_BYTES; ++part) {
        FILE* file = cache.files[part];
        int64_t& streamPosition = cache.streamPositions[part];
        const int64_t inFile = position - cache.partStarts[part];
        int64_t wanted = BLOCK_BYTES - got;
        if (part + 1 < cache.partCount && cache.partStarts[part + 1] - position < wanted) {
            wanted = cache.partStarts[part + 1] - position; // the rest belongs to the next file
        }
        if (wanted == 0) {
            continue; // an empty file
        }
        size_t read = 0;
        if (streamPosition == inFile || seekFile(file, inFile, SEEK_SET)) {
            read = fread(cache.bytes[slot] + got, 1, static_cast<size_t>(wanted), file);
            streamPosition = inFile + static_cast<int64_t>(read);
        }
        got += static_cast<int64_t>(read);
        position += static_cast<int64_t>(read);
        if (read < static_cast<size_t>(wanted)) {
            clearerr(file); // the end of the file, or an error: stop here either way
            streamPosition = -1;
            break;
        }
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

void resetBlockCache(BlockCache& cache, FILE* const* files, const int64_t* partStarts,
                     int partCount) {
    cache.partCount = partCount;
    for (int part = 0; part < partCount; ++part) {
        cache.files[part] = files[part];
        cache.partStarts[part] = partStarts[part];
        cache.streamPositions[part] = -1;
    }
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
            break; // the image ends inside this block
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
