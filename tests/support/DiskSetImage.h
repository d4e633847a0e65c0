// Small disk-set images for the extraction tests: only the tracks that a test needs exist.
#pragma once

#include "ImageBuilder.h"

#include <string>
#include <vector>

struct DiskSetImage {
    // `disks` disks whose ID bytes are 1, 2, 3, ... and a zeroed directory on disk 0.
    explicit DiskSetImage(int disks);

    // Writes a directory entry at `offset` in the 3072 directory bytes.
    void setEntry(int offset, const std::string& name, int track, int sector, int units,
                  int diskNumber);
    // Stores `bytes` (whole 1024-byte sectors) on disk `disk` from (track, sector) on, stepping
    // as the programs read; missing tracks are formatted with five zeroed sectors first.
    void putFile(int disk, int track, int sector, const std::vector<uint8_t>& bytes);
    void setIdByte(int disk, uint8_t id);
    // The image bytes, with the directory in disk 0's track 1.
    std::vector<uint8_t> build() const;

    std::vector<d88::DiskPlan> disks;
    std::vector<uint8_t> directory;
};

// `sectors` 1024-byte sectors of bytes that differ from file to file (by `seed`).
std::vector<uint8_t> patternBytes(int sectors, int seed);

// One sector of a dump: on disk `disk`, at (track index, sector number), stored with the read
// status `status` and its byte 100 XORed with `flip`; or, `removed`, not stored at all.
struct SectorDamage {
    int disk, track, r;
    uint8_t status;
    uint8_t flip;
    bool removed = false;
};
// A dump of the set `disks` with `damages` done to it, as one image.
std::vector<uint8_t> damagedDump(std::vector<d88::DiskPlan> disks,
                                 const std::vector<SectorDamage>& damages);

// `bytes` with everything from `keep` on set to zero.
std::vector<uint8_t> zeroTail(std::vector<uint8_t> bytes, size_t keep);
