// The on-disk layout of a D88 image: disk headers, track tables and sector records.
#pragma once

#include <cstdint>
#include <cstring>

namespace d88 {

constexpr int MAX_DISKS = 64;   // disks indexed in one image file
constexpr int MAX_TRACKS = 164; // entries in a disk's track table

// Disk header: 688 bytes at the start of every disk image.
constexpr int DISK_HEADER_SIZE = 0x2B0;
constexpr int DISK_NAME_OFFSET = 0x00;
constexpr int DISK_NAME_LENGTH = 16;
constexpr int WRITE_PROTECT_OFFSET = 0x1A;
constexpr int MEDIA_TYPE_OFFSET = 0x1B;
constexpr int DISK_SIZE_OFFSET = 0x1C;
constexpr int TRACK_TABLE_OFFSET = 0x20;

// The write-protect byte: 0x10 when the disk is protected, 0x00 otherwise.
constexpr uint8_t WRITE_PROTECTED = 0x10;
// The media types that the format knows.
constexpr uint8_t MEDIA_2D = 0x00;
constexpr uint8_t MEDIA_2DD = 0x10;
constexpr uint8_t MEDIA_2HD = 0x20;
constexpr uint8_t MEDIA_1D = 0x30;
constexpr uint8_t MEDIA_1DD = 0x40;

// Sector record header: 16 bytes in front of every sector's data.
constexpr int SECTOR_RECORD_HEADER_SIZE = 16;
constexpr int SECTORS_IN_TRACK_OFFSET = 4;
constexpr int DENSITY_OFFSET = 6;      // 0x00 double density, 0x40 single density
constexpr int DELETED_MARK_OFFSET = 7; // 0x10: the sector carries a deleted-data mark
constexpr int STATUS_OFFSET = 8;       // what the disk controller returned when the disk was imaged
constexpr int DATA_LENGTH_OFFSET = 14;

constexpr uint8_t SINGLE_DENSITY = 0x40;
constexpr uint8_t DELETED_DATA_MARK = 0x10;
constexpr uint8_t STATUS_NORMAL = 0x00;
constexpr uint8_t STATUS_DELETED_DATA = 0x10;
// Other statuses are failures: 0xA0 ID CRC error, 0xB0 data CRC error, 0xE0 address mark
// missing, 0xF0 data mark missing, and any other value.

// The ID of a sector: cylinder, head, sector number and size code (data size 128 << n).
struct SectorId {
    uint8_t c;
    uint8_t h;
    uint8_t r;
    uint8_t n;
};
static_assert(sizeof(SectorId) == 4, "SectorId is four bytes");

// Where a sector is looked for: the track index whose records are walked, and the ID (c, h, r,
// n) searched for there. The ID values are ints: one outside 0-255 equals no stored ID byte.
struct SectorAddress {
    int track;
    int c;
    int h;
    int r;
    int n;
};

// What a record says of how its sector was read, beside its ID.
struct SectorMarks {
    uint8_t density;
    uint8_t deleted;
    uint8_t status;
};

// True when the image stores the sector as read with an error: its bytes may be wrong.
inline bool isReadErrorStatus(uint8_t status) {
    return status != STATUS_NORMAL && status != STATUS_DELETED_DATA;
}

// The fields of a sector record header that the reader uses.
struct SectorRecordHeader {
    SectorId id;
    SectorMarks marks;
    uint16_t sectorsInTrack;
    uint16_t dataLength;
};

// Little-endian readers, assembled byte by byte so the host's byte order does not matter.
inline uint16_t readU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The fields of a disk header.
struct DiskHeader {
    uint8_t name[DISK_NAME_LENGTH]; // as stored; a NUL ends the name
    uint8_t writeProtect;
    uint8_t mediaType;
    uint32_t diskSize;                 // header included: the distance to the next disk's header
    uint32_t trackOffsets[MAX_TRACKS]; // from the disk's start; 0 when the track is absent
};

// The size field of the disk header at `p`: all that indexing the disks needs of it.
inline uint32_t parseDiskSize(const uint8_t* p) {
    return readU32(p + DISK_SIZE_OFFSET);
}

// The only place where a disk header's bytes are taken apart.
inline DiskHeader parseDiskHeader(const uint8_t* p) {
    DiskHeader header;
    for (int i = 0; i < DISK_NAME_LENGTH; ++i) {
        header.name[i] = p[DISK_NAME_OFFSET + i];
    }
    header.writeProtect = p[WRITE_PROTECT_OFFSET];
    header.mediaType = p[MEDIA_TYPE_OFFSET];
    header.diskSize = parseDiskSize(p);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // The table is stored as the host stores its numbers: copied whole.
    static_assert(sizeof header.trackOffsets == 4 * MAX_TRACKS, "164 32-bit offsets");
    memcpy(header.trackOffsets, p + TRACK_TABLE_OFFSET, sizeof header.trackOffsets);
#else
    for (int track = 0; track < MAX_TRACKS; ++track) {
        header.trackOffsets[track] = readU32(p + TRACK_TABLE_OFFSET + 4 * track);
    }
#endif
    return header;
}

inline SectorRecordHeader parseSectorRecordHeader(const uint8_t* p) {
    SectorRecordHeader header;
    header.id = SectorId{p[0], p[1], p[2], p[3]};
    header.marks = SectorMarks{p[DENSITY_OFFSET], p[DELETED_MARK_OFFSET], p[STATUS_OFFSET]};
    header.sectorsInTrack = readU16(p + SECTORS_IN_TRACK_OFFSET);
    header.dataLength = readU16(p + DATA_LENGTH_OFFSET);
    return header;
}

} // namespace d88
