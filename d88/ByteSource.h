// Where one part of an image comes from: a file open for binary reading, or bytes in memory.
// The reader reads either through its block cache (BlockCache.h), and joins the parts of an
// image in order, whatever each one is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace d88 {

struct ByteSource {
    FILE* file;           // null for bytes in memory
    const uint8_t* bytes; // with a null file: the bytes, which the caller keeps unchanged while
                          // the image reads them
    int64_t size;         // with a null file: how many bytes; a file's length is found by seeking
};

// A file open for binary reading, able to seek; it stays the caller's.
inline ByteSource fileSource(FILE* file) {
    return ByteSource{file, nullptr, 0};
}

// `size` bytes at `bytes`, read where they lie: the image copies none of them beyond its cache.
inline ByteSource memorySource(const uint8_t* bytes, size_t size) {
    return ByteSource{nullptr, bytes, static_cast<int64_t>(size)};
}

} // namespace d88
