#include "CopyCompare.h"

#include <cstring>
#include <map>

namespace {

struct Record {
    d88::SectorMarks marks;
    int64_t dataPosition;
    int length; // as stored, cut where the disk's bytes end
};

uint32_t key(const d88::SectorId& id) {
    return static_cast<uint32_t>(id.c) << 24 | static_cast<uint32_t>(id.h) << 16 |
           static_cast<uint32_t>(id.r) << 8 | id.n;
}

// The records of `track` on disk `disk`, by ID; the first record of an ID, as a search finds.
std::map<uint32_t, Record> recordsOf(d88::D88Image& image, int disk, int track) {
    std::map<uint32_t, Record> records;
    image.selectDisk(disk);
    const uint32_t offset = image.trackOffset(track);
    if (offset == 0 || offset > image.diskSize()) {
        return records;
    }
    const d88::TrackWalk* walk = image.walkTrack(track);
    for (int i = 0; walk != nullptr && i < walk->recordCount; ++i) {
        const d88::WalkedRecord& record = walk->records[i];
        const int64_t data = record.headerPosition + d88::SECTOR_RECORD_HEADER_SIZE;
        const int64_t stored = image.diskBytesEnd() - data;
        const int length = stored < record.dataLength ? static_cast<int>(stored > 0 ? stored : 0)
                                                      : record.dataLength;
        records.emplace(key(record.id), Record{record.marks, data, length});
    }
    return records;
}

bool sameData(d88::D88Image& image, const Record& a, const Record& b) {
    if (a.length != b.length) {
        return false;
    }
    uint8_t left[4096];
    uint8_t right[4096];
    for (int done = 0; done < a.length; done += static_cast<int>(sizeof left)) {
        const int piece = a.length - done < static_cast<int>(sizeof left)
                              ? a.length - done
                              : static_cast<int>(sizeof left);
        if (image.readBytes(a.dataPosition + done, left, piece) != piece ||
            image.readBytes(b.dataPosition + done, right, piece) != piece ||
            memcmp(left, right, static_cast<size_t>(piece)) != 0) {
            return false;
        }
    }
    return true;
}

d88::SectorId idOf(uint32_t value) {
    return d88::SectorId{static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                         static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

} // namespace

std::vector<SectorDifference> compareCopies(d88::D88Image& image, const SetNumber& number,
                                            size_t limit, int& total) {
    std::vector<SectorDifference> differences;
    total = 0;
    const auto add = [&](int track, uint32_t id, int disk, CopyDifference what) {
        ++total;
        if (differences.size() < limit) {
            differences.push_back(SectorDifference{track, idOf(id), disk, what});
        }
    };
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        const std::map<uint32_t, Record> first = recordsOf(image, number.disks[0], track);
        for (size_t k = 1; k < number.disks.size(); ++k) {
            const int disk = number.disks[k];
            const std::map<uint32_t, Record> later = recordsOf(image, disk, track);
            for (const auto& [id, record] : first) {
                const auto other = later.find(id);
                if (other == later.end()) {
                    add(track, id, disk, CopyDifference::Missing);
                } else if (other->second.marks.status != record.marks.status) {
                    add(track, id, disk, CopyDifference::Status);
                } else if (!sameData(image, record, other->second)) {
                    add(track, id, disk, CopyDifference::Data);
                }
            }
            for (const auto& [id, record] : later) {
                if (first.count(id) == 0) {
                    add(track, id, disk, CopyDifference::Missing);
                }
            }
        }
    }
    return differences;
}
