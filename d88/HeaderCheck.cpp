#include "HeaderCheck.h"

#include <algorithm>
#include <utility>

namespace d88 {

namespace {

// Tracks whose first record is looked at: the lowest few, so that one damaged track does not
// make a disk none, and reading the header stays cheap.
constexpr int TRACKS_LOOKED_AT = 4;
constexpr int MAX_SIZE_CODE = 8;
constexpr int MAX_DATA_LENGTH = 16384;

// True when the record at `position` starts track `track` as a disk holds it. Its cylinder is
// the track's (two sides: track / 2; one side: the track itself); its head is not asked, as
// some disks number it otherwise.
bool startsTrack(int64_t position, int track, ImageBytes bytes, const void* context) {
    uint8_t raw[SECTOR_RECORD_HEADER_SIZE];
    if (!bytes(context, position, raw, SECTOR_RECORD_HEADER_SIZE)) {
        return false;
    }
    const SectorRecordHeader record = parseSectorRecordHeader(raw);
    return record.sectorsInTrack >= 1 && record.id.n <= MAX_SIZE_CODE &&
           record.dataLength <= MAX_DATA_LENGTH &&
           (record.id.c == track / 2 || record.id.c == track);
}

} // namespace

HeaderCheck checkDiskHeader(const DiskHeader& header, int64_t start, int64_t imageEnd,
                            ImageBytes bytes, const void* context) {
    HeaderCheck check{};
    const uint8_t media = header.mediaType;
    check.mediaKnown = media == MEDIA_2D || media == MEDIA_2DD || media == MEDIA_2HD ||
                       media == MEDIA_1D || media == MEDIA_1DD;
    check.protectKnown = header.writeProtect == 0 || header.writeProtect == WRITE_PROTECTED;
    check.sizeCoversHeader = header.diskSize >= static_cast<uint32_t>(DISK_HEADER_SIZE);
    check.pastEnd = start + static_cast<int64_t>(header.diskSize) > imageEnd;
    std::pair<uint32_t, int> inside[MAX_TRACKS]; // offset, track
    for (int track = 0; track < MAX_TRACKS; ++track) {
        const uint32_t offset = header.trackOffsets[track];
        if (offset == 0) {
            continue;
        }
        ++check.presentTracks;
        if (offset >= static_cast<uint32_t>(DISK_HEADER_SIZE) && offset <= header.diskSize) {
            inside[check.tracksInside++] = {offset, track};
        }
    }
    std::sort(inside, inside + check.tracksInside);
    check.firstTrackStored =
        check.tracksInside > 0 && start + static_cast<int64_t>(inside[0].first) < imageEnd;
    for (int i = 0; i < check.tracksInside && i < TRACKS_LOOKED_AT && !check.trackLooksRight; ++i) {
        check.trackLooksRight =
            startsTrack(start + inside[i].first, inside[i].second, bytes, context);
    }
    return check;
}

bool looksLikeDisk(const HeaderCheck& check) {
    if (!check.mediaKnown || !check.protectKnown || !check.sizeCoversHeader) {
        return false;
    }
    if (check.presentTracks == 0) {
        return !check.pastEnd; // an unformatted disk, whole
    }
    return 2 * check.tracksInside > check.presentTracks && check.firstTrackStored &&
           check.trackLooksRight;
}

} // namespace d88
