// The disks that the reader should index in given files, worked out from their bytes alone: the
// vote on a disk header (media and write-protect bytes known, a size that covers the header,
// most present tracks inside the disk, the lowest of them stored, and one of the lowest four
// starting with a record of that track's cylinder), and, of several files, a file that starts
// inside a disk with bytes that pass the vote starting the next disk there, and bytes after a
// file's last disk that start no disk passed over up to the next file.
#pragma once

#include "D88Format.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

// The image's bytes: every given file's, joined in order.
struct ImageBytesView {
    const uint8_t* data;
    int64_t size;
};

// True when the bytes at `start` pass the vote on a disk header.
inline bool votesDisk(const ImageBytesView& image, int64_t start) {
    if (start < 0 || start + d88::DISK_HEADER_SIZE > image.size) {
        return false;
    }
    const uint8_t* header = image.data + start;
    const uint8_t media = header[d88::MEDIA_TYPE_OFFSET];
    const uint8_t protect = header[d88::WRITE_PROTECT_OFFSET];
    const int64_t diskSize = d88::readU32(header + d88::DISK_SIZE_OFFSET);
    if ((media != 0x00 && media != 0x10 && media != 0x20 && media != 0x30 && media != 0x40) ||
        (protect != 0x00 && protect != 0x10) || diskSize < d88::DISK_HEADER_SIZE) {
        return false;
    }
    int present = 0;
    std::pair<int64_t, int> inside[d88::MAX_TRACKS]; // offset, track
    size_t insideCount = 0;
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        const int64_t offset = d88::readU32(header + d88::TRACK_TABLE_OFFSET + 4 * track);
        if (offset != 0) {
            ++present;
            if (offset >= d88::DISK_HEADER_SIZE && offset <= diskSize) {
                inside[insideCount++] = {offset, track};
            }
        }
    }
    if (present == 0) {
        return start + diskSize <= image.size; // no tracks: the whole disk must be there
    }
    std::sort(inside, inside + insideCount);
    if (2 * static_cast<int>(insideCount) <= present || start + inside[0].first >= image.size) {
        return false;
    }
    for (size_t i = 0; i < insideCount && i < 4; ++i) {
        const int64_t at = start + inside[i].first;
        if (at + d88::SECTOR_RECORD_HEADER_SIZE > image.size) {
            continue;
        }
        const uint8_t* record = image.data + at;
        const int track = inside[i].second;
        if (d88::readU16(record + d88::SECTORS_IN_TRACK_OFFSET) >= 1 && record[3] <= 8 &&
            d88::readU16(record + d88::DATA_LENGTH_OFFSET) <= 16384 &&
            (record[0] == track / 2 || record[0] == track)) {
            return true;
        }
    }
    return false;
}

// A disk as the reader indexes it: where its header starts, and the length it was cut short
// to where a later file starts a disk inside it (0 when it was not).
struct IndexedDisk {
    int64_t start;
    int64_t limit;
};

// Bytes that the index passes over: after a file's last disk, up to the next file's start.
struct PassedOver {
    int64_t start;
    int64_t length;
};

struct ExpectedIndex {
    std::vector<IndexedDisk> disks;
    std::vector<PassedOver> gaps;
};

// The disks of `image`, whose files start at `partStarts` (the first at 0): one after another
// from the start, each at the previous one's start plus its size, up to 64 disks and no further
// once a start passes 2^31 - 1. A disk that would start inside a file that is not the last, at
// a place that is not that file's start, with bytes there (joined with the next files') that
// fail the vote, starts at the next file's start instead: the bytes before it are passed over. The
// index ends where too few bytes are left for a header.
inline ExpectedIndex expectedDisks(const ImageBytesView& image,
                                   const std::vector<int64_t>& partStarts) {
    ExpectedIndex index;
    int64_t at = 0;
    while (index.disks.size() < static_cast<size_t>(d88::MAX_DISKS)) {
        // The file that holds `at`, and the start of the one after it (none: -1).
        int64_t holderStart = 0;
        int64_t nextStart = -1;
        for (size_t part = 0; part < partStarts.size(); ++part) {
            if (partStarts[part] <= at) {
                holderStart = partStarts[part];
                nextStart = part + 1 < partStarts.size() ? partStarts[part + 1] : -1;
            }
        }
        if (nextStart >= 0 && at > holderStart && !votesDisk(image, at)) {
            index.gaps.push_back(PassedOver{at, nextStart - at});
            at = nextStart;
            if (at > 0x7FFFFFFF) {
                break;
            }
        }
        if (at + d88::DISK_HEADER_SIZE > image.size) {
            break;
        }
        int64_t end = at + d88::readU32(image.data + at + d88::DISK_SIZE_OFFSET);
        IndexedDisk disk{at, 0};
        for (size_t part = 1; part < partStarts.size(); ++part) {
            const int64_t next = partStarts[part];
            if (next > at && next < end && votesDisk(image, next)) {
                disk.limit = next - at;
                end = next;
                break;
            }
        }
        index.disks.push_back(disk);
        at = end;
        if (at > 0x7FFFFFFF) {
            break;
        }
    }
    return index;
}
