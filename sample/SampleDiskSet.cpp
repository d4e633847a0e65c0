#include "SampleDiskSet.h"

#include "DiskSet.h"

#include <cstdio>
#include <cstring>

namespace d88 {

namespace {

constexpr int TRACKS = 160; // 80 cylinders, two heads
constexpr int SECTORS_PER_TRACK = LAST_SECTOR - FIRST_SECTOR + 1;
constexpr int SECTORS_PER_DISK = TRACKS * SECTORS_PER_TRACK;

// A sector's place on a disk counted from track 0 sector 1, in the order a run reads them.
int linearSector(int track, int sector) {
    return track * SECTORS_PER_TRACK + sector - 1;
}

bool isReserved(int diskNumber, int linear) {
    const int directory = linearSector(DIRECTORY_TRACK, DIRECTORY_SECTOR);
    if (diskNumber == 0 && linear >= directory && linear < directory + 3) {
        return true;
    }
    return linear == linearSector(ID_TRACK, ID_SECTOR);
}

// Deterministic made-up bytes, different for every file.
std::vector<uint8_t> madeUpBytes(const std::string& name, int sectors) {
    uint32_t state = 2166136261u;
    for (char ch : name) {
        state = (state ^ static_cast<uint8_t>(ch)) * 16777619u;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * SECTOR_BYTES);
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

std::vector<uint8_t> madeUpText(const std::string& text, int sectors) {
    std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * SECTOR_BYTES, 0);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(text[i % text.size()]);
    }
    return bytes;
}

SampleFile file(const std::string& name, int disk, int track, int sector,
                std::vector<uint8_t> bytes) {
    return SampleFile{name, disk, track, sector, std::move(bytes)};
}

} // namespace

SampleSet smallSampleSet(const DirectoryLayout& layout) {
    SampleSet set;
    set.firstEntryOffset = layout.firstEntryOffset;
    set.entryCount = layout.entryCount;
    set.files = {
        file("README.TXT", 0, 2, 1,
             madeUpText("A made-up sample disk set for d88extract. Nothing here comes from a "
                        "real disk.\r\n",
                        2)),
        // Sectors 4 and 5 of track 4 (cylinder 2, head 0), then head 1 of the same cylinder.
        file("HEADJUMP.BIN", 0, 4, 4, madeUpBytes("HEADJUMP.BIN", 4)),
        // Sector 5 of track 7 (cylinder 3, head 1), then head 0 of cylinder 4.
        file("CYLJUMP.BIN", 0, 7, 5, madeUpBytes("CYLJUMP.BIN", 3)),
        file("ABC.DAT", 1, 16, 2, madeUpBytes("ABC.DAT", 3)),
        file("\x83\x66\x81\x5B\x83\x5E.DAT", 2, 20, 1, madeUpBytes("DATA", 1)), // "データ.DAT"
        file("\x95\x5C\x8E\xA6.TXT", 2, 21, 3,
             madeUpText("Shift_JIS name whose first character ends in 0x5C.\r\n", 1)), // "表示"
        file("LARGE.BIN", 3, 40, 1, madeUpBytes("LARGE.BIN", 60)),
    };
    return set;
}

SampleSet fullSampleSet(const DirectoryLayout& layout, int disks) {
    SampleSet set;
    set.disks = disks;
    set.firstEntryOffset = layout.firstEntryOffset;
    set.entryCount = layout.entryCount;
    const int filesPerDisk = (layout.entryCount + disks - 1) / disks;
    // Room for two files more than needed: a file never crosses the directory or the ID
    // sector, and each of the two skips wastes less than one file.
    int sectors = (SECTORS_PER_DISK - 4) / (filesPerDisk + 2);
    if (sectors > 255) {
        sectors = 255;
    }
    std::vector<int> next(static_cast<size_t>(disks), 0); // next free linear sector per disk
    for (int i = 0; i < layout.entryCount; ++i) {
        const int disk = i / filesPerDisk;
        int& at = next[static_cast<size_t>(disk)];
        for (int s = at + sectors - 1; s >= at; --s) {
            if (isReserved(disk, s)) {
                at = s + 1; // start past the last reserved sector the file would cover
                break;
            }
        }
        char name[32];
        snprintf(name, sizeof name, "FILE%03d.BIN", i);
        set.files.push_back(file(name, disk, at / SECTORS_PER_TRACK, at % SECTORS_PER_TRACK + 1,
                                 madeUpBytes(name, sectors)));
        at += sectors;
    }
    return set;
}

void writeDirEntry(uint8_t* entry, const std::string& name, int track, int sector, int units,
                   int diskNumber) {
    memset(entry, ' ', 12);
    memcpy(entry, name.data(), name.size() < 12 ? name.size() : 12);
    entry[12] = static_cast<uint8_t>(track);
    entry[13] = static_cast<uint8_t>(sector);
    entry[14] = static_cast<uint8_t>(units);
    entry[15] = static_cast<uint8_t>(diskNumber);
}

bool buildSampleDisks(const SampleSet& set, std::vector<DiskPlan>& out) {
    out.assign(static_cast<size_t>(set.disks), DiskPlan{});
    // Formats a track unless it exists already.
    const auto track = [&out](int disk, int index) -> DiskPlan& {
        DiskPlan& plan = out[static_cast<size_t>(disk)];
        if (plan.tracks.count(index) == 0) {
            plan.tracks[index] = makeTrack(index, SECTORS_PER_TRACK);
        }
        return plan;
    };
    for (int d = 0; d < set.disks; ++d) {
        char name[32];
        snprintf(name, sizeof name, "SAMPLE DISK %d", d + 1);
        out[static_cast<size_t>(d)].name = name; // the builder keeps at most 16 bytes
        for (int t = 0; t < TRACKS && !set.compact; ++t) {
            track(d, t);
        }
        std::vector<uint8_t> id(SECTOR_BYTES, 0);
        id[0] = static_cast<uint8_t>(d + 1);
        setSectorData(track(d, ID_TRACK), ID_TRACK, ID_SECTOR, id);
    }

    std::vector<uint8_t> directory(DIRECTORY_BYTES, 0);
    if (static_cast<int>(set.files.size()) > set.entryCount) {
        return false;
    }
    for (size_t i = 0; i < set.files.size(); ++i) {
        const SampleFile& f = set.files[i];
        const int sectors = static_cast<int>(f.bytes.size() / SECTOR_BYTES);
        if (f.diskNumber < 0 || f.diskNumber >= set.disks || f.name.size() > 12 || sectors < 1 ||
            sectors > 255 || f.bytes.size() % SECTOR_BYTES != 0 || f.sector < FIRST_SECTOR ||
            f.sector > LAST_SECTOR) {
            return false;
        }
        const int first = linearSector(f.track, f.sector);
        for (int s = 0; s < sectors; ++s) {
            const int linear = first + s;
            if (linear >= SECTORS_PER_DISK || isReserved(f.diskNumber, linear)) {
                return false;
            }
            const auto begin = f.bytes.begin() + static_cast<long>(s) * SECTOR_BYTES;
            setSectorData(track(f.diskNumber, linear / SECTORS_PER_TRACK),
                          linear / SECTORS_PER_TRACK, linear % SECTORS_PER_TRACK + 1,
                          std::vector<uint8_t>(begin, begin + SECTOR_BYTES));
        }
        writeDirEntry(directory.data() + set.firstEntryOffset + i * DIR_ENTRY_SIZE, f.name, f.track,
                      f.sector, sectors, f.diskNumber);
    }
    for (int s = 0; s < 3; ++s) {
        const auto begin = directory.begin() + s * SECTOR_BYTES;
        setSectorData(track(0, DIRECTORY_TRACK), DIRECTORY_TRACK, DIRECTORY_SECTOR + s,
                      std::vector<uint8_t>(begin, begin + SECTOR_BYTES));
    }
    return true;
}

} // namespace d88
