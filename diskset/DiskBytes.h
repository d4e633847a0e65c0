// The byte streams that a disk's hashes are taken over, handed to a sink piece by piece, so that
// what is hashed is decided here and the hashing is left to the layer that prints:
// - as stored: the disk's bytes, header included, as a disk file holds them;
// - its content: its sector records in track order without the header, so that two dumps that
//   differ only in the header's name, write-protect flag or track offsets give the same stream.
#pragma once

#include "D88Image.h"

#include <cstddef>
#include <cstdint>

// Takes the bytes of a stream, in order.
struct ByteSink {
    void (*take)(const uint8_t* bytes, size_t length, void* context);
    void* context;
};

// The disk's bytes as stored: the number of bytes that its header's size field gives, from the
// header's first byte on, fewer where the files end. False when its header cannot be read.
bool streamStoredDisk(d88::D88Image& image, int disk, const ByteSink& sink);

// The disk's content: for each present track (table entry not 0 and not past the disk's size)
// in index order 0 to 163, walked as the reader walks it, the track index (1 byte) and the
// number of records walked (u16 little-endian); then for each record its ID C, H, R, N (4 bytes),
// its status byte, its data length (u16 little-endian) and its data bytes as stored (fewer where
// the files end). Selects the disk. False when its header cannot be read.
bool streamDiskContent(d88::D88Image& image, int disk, const ByteSink& sink);
