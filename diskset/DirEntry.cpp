#include "DirEntry.h"

#include "SetFormat.h"

#include <cstring>

DirEntry parseDirEntry(const uint8_t* bytes) {
    DirEntry entry{};
    for (int i = 0; i < ENTRY_NAME_LENGTH && bytes[ENTRY_NAME_OFFSET + i] != ' '; ++i) {
        entry.name[i] = static_cast<char>(bytes[ENTRY_NAME_OFFSET + i]);
    }
    entry.track = bytes[ENTRY_TRACK_OFFSET];
    entry.sector = bytes[ENTRY_SECTOR_OFFSET];
    entry.size = bytes[ENTRY_SIZE_OFFSET] * SECTOR_BYTES;
    entry.diskNumber = bytes[ENTRY_DISK_OFFSET];
    return entry;
}

bool isUnusedEntry(const uint8_t* bytes) {
    static const uint8_t unused[DIR_ENTRY_SIZE] = {};
    return memcmp(bytes, unused, DIR_ENTRY_SIZE) == 0;
}
