// Fixed geometry of the disk set: 1024-byte sectors, five per track, two heads.
#pragma once

constexpr int SECTOR_SIZE_CODE = 3; // N = 3: 1024 bytes
constexpr int SECTOR_BYTES = 1024;
constexpr int FIRST_SECTOR = 1;
constexpr int LAST_SECTOR = 5;

// The directory: disk 0, track 1 (cylinder 0, head 1), sectors 1 to 3.
constexpr int DIRECTORY_TRACK = 1;
constexpr int DIRECTORY_SECTOR = 1;

// Every disk's ID sector: track 79 (cylinder 39, head 1), sector 5. Its first byte is the
// disk's number in the set, counted from 1.
constexpr int ID_TRACK = 79;
constexpr int ID_SECTOR = 5;
