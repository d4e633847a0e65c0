// Builds D88 image bytes from a plain description, for the sample generator and the tests.
// Every field can be set to any value, including values that make the image damaged.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace d88 {

struct SectorPlan {
    uint8_t c = 0;
    uint8_t h = 0;
    uint8_t r = 1;
    uint8_t n = 3;
    int sectorsInTrack = -1; // -1: the number of records in the track
    int dataLength = -1;     // -1: data.size(); the data bytes are written either way
    uint8_t density = 0;     // header byte 6: 0x40 single density
    uint8_t deleted = 0;     // header byte 7: 0x10 deleted-data mark
    uint8_t status = 0;      // header byte 8: the controller's status, 0xB0 a data CRC error
    std::vector<uint8_t> data;
};

struct TrackPlan {
    std::vector<SectorPlan> sectors;
};

struct DiskPlan {
    std::string name; // up to 16 bytes, NUL-padded
    uint8_t mediaType = 0;
    std::map<int, TrackPlan> tracks;             // track index -> records, laid out in order
    std::map<int, uint32_t> trackOffsetOverride; // track index -> table entry to store instead
    int64_t diskSizeOverride = -1;               // -1: the real length of the disk image
    std::vector<uint8_t> headerBytesOverride;    // when not empty: raw bytes over the header
};

// The disk image bytes: the 688-byte header, then the tracks in index order.
std::vector<uint8_t> buildDisk(const DiskPlan& disk);
// Disk images stored one after another.
std::vector<uint8_t> buildImage(const std::vector<DiskPlan>& disks);

// A sector of `size` data bytes, all `fill`, with the ID (c, h, r, n).
SectorPlan makeSector(int c, int h, int r, int n, size_t size, uint8_t fill = 0);
// A formatted track: sectors 1 to `sectorsPerTrack` of 1024 bytes (N = 3), zero-filled,
// with C = track / 2 and H = track % 2.
TrackPlan makeTrack(int track, int sectorsPerTrack = 5);
// Sets the data of sector `r` of `track`; the track must already exist.
void setSectorData(DiskPlan& disk, int track, int r, const std::vector<uint8_t>& data);

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Stores a little-endian u16 or u32 at byte `at` of `out`.
void putU16(std::vector<uint8_t>& out, size_t at, uint32_t value);
void putU32(std::vector<uint8_t>& out, size_t at, uint32_t value);

} // namespace d88
