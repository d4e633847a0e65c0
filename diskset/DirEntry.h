// A 16-byte directory entry, as the walk reads it.
#pragma once

#include <cstdint>

struct DirEntry {
    char name[13];  // bytes 0-11 up to the first space, NUL-terminated
    int track;      // track index of the first sector: cylinder = track >> 1, head = track & 1
    int sector;     // sector number R of the first sector
    int size;       // in bytes: the size byte times 1024
    int diskNumber; // counted from 0; the disk's ID byte is diskNumber + 1
};

DirEntry parseDirEntry(const uint8_t* bytes);

// The set number of the disk that holds the entry's file: its disk number + 1, 1 to 256.
inline int entrySetNumber(const DirEntry& entry) {
    return entry.diskNumber + 1;
}

// True for an unused slot of the table: all 16 bytes zero.
bool isUnusedEntry(const uint8_t* bytes);
