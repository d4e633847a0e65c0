// The disk set's own format, inside the D88 image.
//
//   image file(s), joined in the order given
//   +-- disk header (688 bytes): name, write-protect, media, size, 164 track offsets
//   |   +-- track t (t = 2 x cylinder + head), at the offset the table gives:
//   |       sector records, each a 16-byte header (C H R N, count, marks, status, length)
//   |       and its data; the set's sectors are R = 1..5, N = 3 (1024 bytes)
//   +-- next disk header, at the previous disk's start + its size ...
//
//   every disk of the set
//     track 79 (cylinder 39, head 1), sector 5: the ID sector; its first byte is the disk's
//     number in the set, counted from 1 (Disk A = 01, Disk B = 02, ...)
//   Disk A (the first disk for the set's own programs)
//     track 1 (cylinder 0, head 1), sectors 1-3: the directory, 3072 bytes
//       a table of 16-byte entries from byte 434 (layout a, 164 entries) or 422 (layout b,
//       165 entries); each entry:
//         0-11  name, padded with spaces      12  track of the first sector
//         13    first sector (R)              14  size in 1024-byte sectors
//         15    disk number, from 0 (the disk's ID byte is this + 1)
//   a file: `size` sectors from (track, sector) on, stepping R 1..5, then head 0 to 1, then
//   the next cylinder
#pragma once

#include "D88Format.h"

constexpr int SECTOR_SIZE_CODE = 3; // N = 3: 1024 bytes
constexpr int SECTOR_BYTES = 1024;
constexpr int FIRST_SECTOR = 1;
constexpr int LAST_SECTOR = 5;

// The directory: track 1 (cylinder 0, head 1), sectors 1 to 3.
constexpr int DIRECTORY_TRACK = 1;
constexpr int DIRECTORY_SECTOR = 1;
constexpr int DIRECTORY_SECTORS = 3;
constexpr int DIRECTORY_BYTES = DIRECTORY_SECTORS * SECTOR_BYTES;

// A directory entry's fields.
constexpr int DIR_ENTRY_SIZE = 16;
constexpr int ENTRY_NAME_OFFSET = 0;
constexpr int ENTRY_NAME_LENGTH = 12;
constexpr int ENTRY_TRACK_OFFSET = 12;
constexpr int ENTRY_SECTOR_OFFSET = 13;
constexpr int ENTRY_SIZE_OFFSET = 14;
constexpr int ENTRY_DISK_OFFSET = 15;

// Every disk's ID sector: track 79 (cylinder 39, head 1), sector 5. Its first byte is the
// disk's number in the set, counted from 1.
constexpr int ID_TRACK = 79;
constexpr int ID_SECTOR = 5;
constexpr int DISK_A_ID = 1;
// The set numbers a disk's ID byte can carry: any byte above 0, as the set's programs take it.
// An entry's disk number is a byte and asks for that number + 1, so an entry can name 256,
// which no disk carries.
constexpr int MAX_SET_NUMBER = 255;
inline bool isSetNumber(int id) {
    return id >= 1 && id <= MAX_SET_NUMBER;
}

// The set's own programs need Disk A to Disk D in one image.
constexpr int MIN_SET_DISKS = 4;

// The largest file: the size byte counts 1024-byte sectors.
constexpr int MAX_FILE_BYTES = 255 * SECTOR_BYTES;
// The walk reads every file into a buffer of this size.
constexpr int WORK_BUFFER_BYTES = 400 * SECTOR_BYTES;

// The set's sector `sector` (R) of track index `track`, as its records name it: two sides, so
// cylinder track / 2 and head track % 2, and 1024-byte sectors.
inline d88::SectorAddress setSectorAddress(int track, int sector) {
    return d88::SectorAddress{track, track >> 1, track & 1, sector, SECTOR_SIZE_CODE};
}
