#include "CopyCompare.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

namespace {

using Record = d88::SectorPlace; // as stored, cut where the disk's bytes end

uint32_t key(const d88::SectorId& id) {
    return static_cast<uint32_t>(id.c) << 24 | static_cast<uint32_t>(id.h) << 16 |
           static_cast<uint32_t>(id.r) << 8 | id.n;
}

// The records of `track` on disk `disk`, by ID; the first record of an ID, as a search finds.
std::map<uint32_t, Record> recordsOf(d88::D88Image& image, int disk, int track) {
    std::map<uint32_t, Record> records;
    image.selectDisk(disk);
    const d88::TrackWalk* walk = image.walkTrack(track);
    for (int i = 0; walk != nullptr && i < walk->recordCount; ++i) {
        records.emplace(key(walk->records[i].id), image.recordPlace(walk->records[i]));
    }
    return records;
}

bool sameData(d88::D88Image& image, const Record& a, const Record& b) {
    return a.length == b.length && sameBytes(image, a.position, b.position, a.length);
}

d88::SectorId idOf(uint32_t value) {
    return d88::SectorId{static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                         static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

} // namespace

bool sameBytes(d88::D88Image& image, int64_t a, int64_t b, int length) {
    uint8_t left[4096];
    uint8_t right[4096];
    for (int done = 0; done < length; done += static_cast<int>(sizeof left)) {
        const int piece = length - done < static_cast<int>(sizeof left)
                              ? length - done
                              : static_cast<int>(sizeof left);
        if (image.readBytes(a + done, left, piece) != piece ||
            image.readBytes(b + done, right, piece) != piece ||
            memcmp(left, right, static_cast<size_t>(piece)) != 0) {
            return false;
        }
    }
    return true;
}

std::vector<SectorDifference> compareCopies(d88::D88Image& image, int first, int later,
                                            size_t limit, int& total) {
    std::vector<SectorDifference> differences;
    total = 0;
    const auto add = [&](int track, uint32_t id, CopyDifference what) {
        ++total;
        if (differences.size() < limit) {
            differences.push_back(SectorDifference{track, idOf(id), later, what});
        }
    };
    for (int track = 0; track < d88::MAX_TRACKS && (limit > 0 || total == 0); ++track) {
        const std::map<uint32_t, Record> firstRecords = recordsOf(image, first, track);
        const std::map<uint32_t, Record> laterRecords = recordsOf(image, later, track);
        for (const auto& [id, record] : firstRecords) {
            const auto other = laterRecords.find(id);
            if (other == laterRecords.end()) {
                add(track, id, CopyDifference::Missing);
            } else if (other->second.marks.status != record.marks.status) {
                add(track, id, CopyDifference::Status);
            } else if (!sameData(image, record, other->second)) {
                add(track, id, CopyDifference::Data);
            }
        }
        for (const auto& [id, record] : laterRecords) {
            if (firstRecords.count(id) == 0) {
                add(track, id, CopyDifference::Missing);
            }
        }
    }
    return differences;
}

bool sameSectors(d88::D88Image& image, int a, int b) {
    int total = 0;
    compareCopies(image, a, b, 0, total);
    return total == 0;
}

std::vector<CopyDifferences> listCopyDifferences(d88::D88Image& image, const DiskSetFacts& set,
                                                 size_t limit) {
    std::vector<CopyDifferences> all;
    for (const SetNumber& number : set.numbers) {
        if (number.disks.size() < 2) {
            continue;
        }
        CopyDifferences differences{number.id, 0, 0, {}};
        std::set<std::tuple<int, int, int, int, int>> sectors; // track, C, H, R, N
        const int first = set.disks[static_cast<size_t>(number.disks[0])].index;
        for (size_t k = 1; k < number.disks.size(); ++k) {
            const int later = set.disks[static_cast<size_t>(number.disks[k])].index;
            int total = 0;
            for (const SectorDifference& difference :
                 compareCopies(image, first, later, SIZE_MAX, total)) {
                sectors.insert({difference.track, difference.id.c, difference.id.h, difference.id.r,
                                difference.id.n});
                differences.listed.push_back(difference);
            }
            differences.total += total;
        }
        // In track order, the copies of one sector together.
        std::stable_sort(
            differences.listed.begin(), differences.listed.end(),
            [](const SectorDifference& a, const SectorDifference& b) { return a.track < b.track; });
        if (differences.listed.size() > limit) {
            differences.listed.resize(limit);
        }
        differences.sectors = static_cast<int>(sectors.size());
        all.push_back(differences);
    }
    return all;
}
