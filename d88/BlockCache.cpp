#include "BlockCache.h"

#include "FileSeek.h"

#include <cstring>

namespace d88 {

int partHolding(const int64_t* partStarts, int partCount, int64_t position) {
    int part = 0;
    while (part + 1 < partCount && partStarts[part + 1] <= position) {
        ++part;
    }
    return part;
}

namespace {

int partAt(const BlockCache& cache, int64_t position) {
    return partHolding(cache.partStarts, cache.partCount, position);
}

// Copies up to `wanted` bytes of part `part`, from `inPart` on, into `out`. Returns the number
// copied: short at the part's end or on a read error.
size_t readPart(BlockCache& cache, int part, int64_t inPart, uint8_t* out, int64_t wanted) {
    const ByteSource& source = cache.sources[part];
    if (source.file == nullptr) {
        const int64_t left = inPart >= 0 && inPart < source.size ? source.size - inPart : 0;
        const size_t length = static_cast<size_t>(left < wanted ? left : wanted);
        if (length > 0) {
            memcpy(out, source.bytes + inPart, length);
        }
        return length;
    }
    int64_t& streamPosition = cache.streamPositions[part];
    size_t read = 0;
    if (streamPosition == inPart || seekFile(source.file, inPart, SEEK_SET)) {
        read = fread(out, 1, static_cast<size_t>(wanted), source.file);
        streamPosition = inPart + static_cast<int64_t>(read);
    }
    if (read < static_cast<size_t>(wanted)) {
        clearerr(source.file); // the end of the file, or an error: stop here either way
        streamPosition = -1;
    }
    return read;
}

// Reads block `index` into `slot`, from as many parts as it spans. A block that cannot be read
// is kept as short as what was read (down to 0), which reads as the end of the image.
void loadBlock(BlockCache& cache, int slot, int64_t index) {
    int64_t position = index * BLOCK_BYTES;
    int64_t got = 0;
    for (int part = partAt(cache, position); part < cache.partCount && got < BLOCK_BYTES; ++part) {
        int64_t wanted = BLOCK_BYTES - got;
        if (part + 1 < cache.partCount && cache.partStarts[part + 1] - position < wanted) {
            wanted = cache.partStarts[part + 1] - position; // the rest belongs to the next part
        }
        if (wanted == 0) {
            continue; // an empty part
        }
        const size_t read = readPart(cache, part, position - cache.partStarts[part],
                                     cache.bytes[slot] + got, wanted);
        got += static_cast<int64_t>(read);
        position += static_cast<int64_t>(read);
        if (read < static_cast<size_t>(wanted)) {
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

// The bytes of one block, and how many the image holds there (short at its end).
struct BlockBytes {
    const uint8_t* bytes;
    int length;
};

// Block `index` where it lies, when all of it that the image holds lies in the bytes in memory
// of one part; null bytes otherwise.
BlockBytes blockInMemory(const BlockCache& cache, int64_t index) {
    const int64_t start = index * BLOCK_BYTES;
    const int part = partAt(cache, start);
    const ByteSource& source = cache.sources[part];
    if (source.file != nullptr || start < cache.partStarts[part]) {
        return BlockBytes{nullptr, 0};
    }
    const int64_t inPart = start - cache.partStarts[part];
    const bool last = part + 1 == cache.partCount;
    if (!last && inPart + BLOCK_BYTES > source.size) {
        return BlockBytes{nullptr, 0}; // the block goes on into the next part
    }
    const int64_t left = inPart < source.size ? source.size - inPart : 0;
    return BlockBytes{source.bytes + (left > 0 ? inPart : 0),
                      static_cast<int>(left < BLOCK_BYTES ? left : BLOCK_BYTES)};
}

// Block `index`, read in place or from its cached slot (loaded if needed).
BlockBytes blockAt(BlockCache& cache, int64_t index) {
    if (cache.anyInMemory) {
        const BlockBytes inMemory = blockInMemory(cache, index);
        if (inMemory.bytes != nullptr) {
            return inMemory;
        }
    }
    const int slot = slotFor(cache, index);
    return BlockBytes{cache.bytes[slot], cache.blockLength[slot]};
}

} // namespace

void resetBlockCache(BlockCache& cache, const ByteSource* sources, const int64_t* partStarts,
                     int partCount) {
    cache.partCount = partCount;
    cache.anyInMemory = false;
    for (int part = 0; part < partCount; ++part) {
        cache.sources[part] = sources[part];
        cache.partStarts[part] = partStarts[part];
        cache.streamPositions[part] = -1;
        cache.anyInMemory = cache.anyInMemory || sources[part].file == nullptr;
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
        const BlockBytes block = blockAt(cache, position / BLOCK_BYTES);
        const int offset = static_cast<int>(position % BLOCK_BYTES);
        const int available = block.length - offset;
        if (available <= 0) {
            break;
        }
        const int64_t piece = available < length - copied ? available : length - copied;
        memcpy(out + copied, block.bytes + offset, static_cast<size_t>(piece));
        copied += piece;
        position += piece;
        if (block.length < BLOCK_BYTES && offset + piece == block.length) {
            break; // the image ends inside this block
        }
    }
    return copied;
}

const uint8_t* fileBlockAt(BlockCache& cache, int64_t position, int64_t& blockStart,
                           int& blockLength) {
    const int64_t index = position / BLOCK_BYTES;
    const BlockBytes block = blockAt(cache, index);
    blockStart = index * BLOCK_BYTES;
    blockLength = block.length;
    return block.bytes;
}

const uint8_t* viewFileBytes(BlockCache& cache, int64_t position, int length, uint8_t* scratch) {
    if (position < 0) {
        return nullptr;
    }
    const int offset = static_cast<int>(position % BLOCK_BYTES);
    if (offset + length <= BLOCK_BYTES) {
        const BlockBytes block = blockAt(cache, position / BLOCK_BYTES);
        return block.length >= offset + length ? block.bytes + offset : nullptr;
    }
    return copyFileBytes(cache, position, scratch, length) == length ? scratch : nullptr;
}

} // namespace d88
