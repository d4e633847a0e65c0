#include "TrackListing.h"

namespace {

uint32_t u16At(const std::vector<uint8_t>& bytes, int64_t at) {
    return bytes[static_cast<size_t>(at)] | (bytes[static_cast<size_t>(at) + 1] << 8);
}

uint32_t u32At(const std::vector<uint8_t>& bytes, int64_t at) {
    return u16At(bytes, at) | (u16At(bytes, at + 2) << 16);
}

ListedTrack walkTrack(const std::vector<uint8_t>& image, int index, int64_t start,
                      int64_t diskEnd) {
    ListedTrack track{index, {}, ListedEnd::EndOfBytes, false};
    const int64_t size = static_cast<int64_t>(image.size());
    int64_t at = start;
    int64_t looked = start; // past the last byte the walk looked at
    for (;;) {
        looked = at + 16;
        if (at + 16 > size) {
            track.end = ListedEnd::EndOfBytes;
            break;
        }
        const uint32_t count = u16At(image, at + 4);
        if (count == 0) {
            track.end = ListedEnd::ZeroCount;
            break;
        }
        const auto byte = [&](int offset) { return image[static_cast<size_t>(at + offset)]; };
        const int length = static_cast<int>(u16At(image, at + 14));
        track.records.push_back(
            ListedRecord{byte(0), byte(1), byte(2), byte(3), byte(6), byte(7), byte(8), length});
        at += 16 + length;
        looked = at;
        if (track.records.size() == count) {
            track.end = ListedEnd::TrackCount;
            break;
        }
        if (track.records.size() == 65535) {
            track.end = ListedEnd::RecordLimit;
            break;
        }
    }
    track.pastDiskEnd = looked > diskEnd;
    return track;
}

} // namespace

std::vector<ListedDisk> listTracks(const std::vector<uint8_t>& image) {
    std::vector<ListedDisk> disks;
    int64_t offset = 0;
    while (disks.size() < 64 && offset + 688 <= static_cast<int64_t>(image.size())) {
        ListedDisk disk{offset, u32At(image, offset + 0x1C), 0, {}};
        for (int index = 0; index < 164; ++index) {
            const uint32_t start = u32At(image, offset + 0x20 + 4 * index);
            if (start == 0 || start > disk.size) {
                continue;
            }
            disk.tracks.push_back(walkTrack(image, index, offset + start, offset + disk.size));
            for (const ListedRecord& record : disk.tracks.back().records) {
                disk.readErrors += record.status != 0x00 && record.status != 0x10 ? 1 : 0;
            }
        }
        disks.push_back(disk);
        offset += disk.size;
        if (offset > 0x7FFFFFFF) {
            break;
        }
    }
    return disks;
}
