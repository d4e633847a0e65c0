// Writes a disk set whose file runs are as slow as we know how to make them: every sector of
// every file lies behind about 64,000 sector records that never end a track walk. Four disks;
// each track of a disk starts at its own record inside one long run of such records, which the
// disk's real sectors (80 cylinders, two heads, sectors 1 to 5) follow. Every directory entry
// of layout a or b names a 255-sector file, twelve different files among them; the runs
// cross 51 tracks each, so every entry makes 51 walks of about 64,000 records.
#include "D88Format.h"
#include "DirectoryLayout.h"
#include "ImageBuilder.h"
#include "SampleDiskSet.h"

#include <cstdio>
#include <cstring>

using namespace d88;

namespace {

constexpr int DISKS = 4;
constexpr int SLOW_RECORDS = 64000;
constexpr int TRACKS = 160;
constexpr int FILE_UNITS = 255;
constexpr int FILE_TRACKS = 51;
constexpr int FILES_PER_DISK = 3;

// A record whose count of 65,535 ends no walk shorter than 65,535 records.
void appendRecord(std::vector<uint8_t>& disk, SectorId id, int dataLength, uint8_t fill) {
    const size_t at = disk.size();
    disk.resize(at + SECTOR_RECORD_HEADER_SIZE + dataLength, fill);
    memset(&disk[at], 0, SECTOR_RECORD_HEADER_SIZE);
    disk[at] = id.c;
    disk[at + 1] = id.h;
    disk[at + 2] = id.r;
    disk[at + 3] = id.n;
    putU16(disk, at + SECTORS_IN_TRACK_OFFSET, 0xFFFF);
    putU16(disk, at + DATA_LENGTH_OFFSET, static_cast<uint32_t>(dataLength));
}

std::vector<uint8_t> slowDisk(int index, const DirectoryLayout& layout) {
    std::vector<uint8_t> disk(DISK_HEADER_SIZE, 0);
    snprintf(reinterpret_cast<char*>(disk.data()), DISK_NAME_LENGTH, "SLOW RUNS %d", index);
    for (int track = 0; track < TRACKS; ++track) {
        // Track t starts at the t-th slow record: every track has a walk of its own.
        putU32(disk, TRACK_TABLE_OFFSET + 4 * track,
               static_cast<uint32_t>(DISK_HEADER_SIZE + track * SECTOR_RECORD_HEADER_SIZE));
    }
    for (int i = 0; i < SLOW_RECORDS; ++i) {
        appendRecord(disk, SectorId{0xEE, 0xEE, 0xEE, 0xEE}, 0, 0);
    }
    std::vector<uint8_t> directory(3 * 1024, 0);
    if (index == 0) {
        for (int entry = 0; entry < layout.entryCount; ++entry) {
            const int file = entry % (DISKS * FILES_PER_DISK);
            char name[16];
            snprintf(name, sizeof name, "F%03d.BIN", entry);
            writeDirEntry(&directory[layout.firstEntryOffset + entry * DIR_ENTRY_SIZE], name,
                          2 + FILE_TRACKS * (file % FILES_PER_DISK), 1, FILE_UNITS,
                          file / FILES_PER_DISK);
        }
    }
    for (int track = 0; track < TRACKS; ++track) {
        for (int r = 1; r <= 5; ++r) {
            const SectorId id{static_cast<uint8_t>(track >> 1), static_cast<uint8_t>(track & 1),
                              static_cast<uint8_t>(r), 3};
            const size_t data = disk.size() + SECTOR_RECORD_HEADER_SIZE;
            appendRecord(disk, id, 1024, static_cast<uint8_t>(track * 5 + r));
            if (track == 1 && r <= 3) {
                memcpy(&disk[data], &directory[(r - 1) * 1024], 1024);
            }
            if (track == 79 && r == 5) {
                disk[data] = static_cast<uint8_t>(index + 1); // the disk's ID byte
            }
        }
    }
    putU32(disk, DISK_SIZE_OFFSET, static_cast<uint32_t>(disk.size()));
    return disk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[2], "a") != 0 && strcmp(argv[2], "b") != 0)) {
        fprintf(stderr, "usage: make_worst_case_runs OUTPUT.d88 a|b\n");
        return 1;
    }
    const DirectoryLayout& layout = argv[2][0] == 'a' ? LAYOUT_A : LAYOUT_B;
    std::vector<uint8_t> image;
    for (int disk = 0; disk < DISKS; ++disk) {
        const std::vector<uint8_t> bytes = slowDisk(disk, layout);
        image.insert(image.end(), bytes.begin(), bytes.end());
    }
    if (!writeBytes(argv[1], image)) {
        fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
