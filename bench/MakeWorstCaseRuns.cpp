// Writes a disk set whose file runs are as slow as we know how to make them: every sector of
// every file lies behind about 64,000 sector records that never end a track walk. Four disks;
// each track of a disk starts at its own record inside one long run of such records, which the
// disk's real sectors (80 cylinders, two heads, sectors 1 to 5) follow. Every directory entry
// of layout a or b names a 255-sector file, twelve different files among them; the runs
// cross 51 tracks each, so every entry makes 51 walks of about 64,000 records.
#include "D88Format.h"
#include "ImageBuilder.h"
#include "SampleDiskSet.h"
#include "SetFormat.h"

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
constexpr int NEVER_ENDS = 0xFFFF; // a count that ends no walk shorter than 65,535 records

DiskPlan slowDisk(int index, const DirectoryLayout& layout) {
    DiskPlan disk;
    disk.name = "SLOW RUNS " + std::to_string(index);
    // Track 0 holds every record: the slow run, then the disk's real sectors in track order.
    std::vector<SectorPlan>& records = disk.tracks[0].sectors;
    records.assign(SLOW_RECORDS, makeSector(0xEE, 0xEE, 0xEE, 0xEE, 0));
    for (int track = 1; track < TRACKS; ++track) {
        // Track t starts at the t-th slow record: every track has a walk of its own.
        disk.trackOffsetOverride[track] =
            static_cast<uint32_t>(DISK_HEADER_SIZE + track * SECTOR_RECORD_HEADER_SIZE);
    }
    std::vector<uint8_t> directory(DIRECTORY_BYTES, 0);
    if (index == 0) {
        for (int entry = 0; entry < layout.entryCount; ++entry) {
            const int file = entry % (DISKS * FILES_PER_DISK);
            char name[16];
            snprintf(name, sizeof name, "F%03d.BIN", entry);
            writeDirEntry(&directory[layout.firstEntryOffset + entry * DIR_ENTRY_SIZE], name,
                          2 + FILE_TRACKS * (file % FILES_PER_DISK), FIRST_SECTOR, FILE_UNITS,
                          file / FILES_PER_DISK);
        }
    }
    for (int track = 0; track < TRACKS; ++track) {
        for (int r = FIRST_SECTOR; r <= LAST_SECTOR; ++r) {
            SectorPlan sector = makeSector(track >> 1, track & 1, r, SECTOR_SIZE_CODE, SECTOR_BYTES,
                                           static_cast<uint8_t>(track * 5 + r));
            if (track == DIRECTORY_TRACK && r < DIRECTORY_SECTOR + 3) {
                memcpy(sector.data.data(), &directory[(r - DIRECTORY_SECTOR) * SECTOR_BYTES],
                       SECTOR_BYTES);
            }
            if (track == ID_TRACK && r == ID_SECTOR) {
                sector.data[0] = static_cast<uint8_t>(index + 1); // the disk's ID byte
            }
            records.push_back(sector);
        }
    }
    for (SectorPlan& record : records) {
        record.sectorsInTrack = NEVER_ENDS;
    }
    return disk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[2], "a") != 0 && strcmp(argv[2], "b") != 0)) {
        fprintf(stderr, "usage: make_worst_case_runs OUTPUT.d88 a|b\n");
        return 1;
    }
    const DirectoryLayout& layout = argv[2][0] == 'a' ? LAYOUT_A : LAYOUT_B;
    std::vector<DiskPlan> disks;
    for (int disk = 0; disk < DISKS; ++disk) {
        disks.push_back(slowDisk(disk, layout));
    }
    if (!writeBytes(argv[1], buildImage(disks))) {
        fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
