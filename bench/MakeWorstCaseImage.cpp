// Writes an image whose ID-sector searches are as slow as they can be: 64 disk headers whose
// bytes, read as sector records, never end a track walk, followed by records that never end it
// either. Every ID-sector search then walks from the start of the next disk on, to the end of
// the file or the walk limit; the programs search each disk's ID sector once, so a run makes at
// most 64 such walks.
#include "D88Format.h"
#include "ImageBuilder.h"

#include <cstdio>
#include <cstdlib>

using namespace d88;

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make_worst_case_image OUTPUT.d88 BYTES\n");
        return 1;
    }
    const size_t total = static_cast<size_t>(atoll(argv[2]));
    std::vector<uint8_t> image;
    for (int disk = 0; disk < MAX_DISKS; ++disk) {
        // A header of 43 records of 16 bytes when read as a track: the name record has an ID
        // that matches nothing and a count of 2; every later record has a count of 1 and a data
        // length of 0, so no count ever equals the record's position.
        std::vector<uint8_t> header(DISK_HEADER_SIZE, 0);
        header[0] = 0xEE;
        header[SECTORS_IN_TRACK_OFFSET] = 2;
        header[0x10 + SECTORS_IN_TRACK_OFFSET] = 1;
        header[DISK_SIZE_OFFSET] = DISK_HEADER_SIZE & 0xFF;
        header[DISK_SIZE_OFFSET + 1] = DISK_HEADER_SIZE >> 8;
        for (int track = 0; track < MAX_TRACKS; ++track) {
            // Every track starts at the end of this disk, that is at the next disk's header;
            // the entries that fall on a record's count give it a count of 1.
            const int value = track % 4 == 1 ? 1 : DISK_HEADER_SIZE;
            header[TRACK_TABLE_OFFSET + 4 * track] = static_cast<uint8_t>(value & 0xFF);
            header[TRACK_TABLE_OFFSET + 4 * track + 1] = static_cast<uint8_t>(value >> 8);
        }
        image.insert(image.end(), header.begin(), header.end());
    }
    while (image.size() + SECTOR_RECORD_HEADER_SIZE <= total) {
        const uint8_t record[SECTOR_RECORD_HEADER_SIZE] = {0xEE, 0, 0, 0, 1};
        image.insert(image.end(), record, record + sizeof record);
    }
    if (!writeBytes(argv[1], image)) {
        fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
