#include "UpdateCheck.h"

#include <algorithm>
#include <cstring>

bool sameSetPlaces(const UpdateSet& planned, const UpdateSet& written, const UpdatePlan& plan) {
    if (planned.entries.size() != written.entries.size() ||
        planned.entries.size() != plan.files.size()) {
        return false;
    }
    std::vector<int64_t> putSectors; // where the data of every sector put back starts
    for (size_t i = 0; i < planned.entries.size(); ++i) {
        for (const StoredSector& sector : planned.entries[i].sectors) {
            if (plan.files[i].outcome == UpdateOutcome::PutBack) {
                putSectors.push_back(sector.position);
            }
        }
    }
    std::sort(putSectors.begin(), putSectors.end());
    for (size_t i = 0; i < planned.entries.size(); ++i) {
        const UpdateEntry& before = planned.entries[i];
        const UpdateEntry& after = written.entries[i];
        if (before.index != after.index || memcmp(before.bytes, after.bytes, DIR_ENTRY_SIZE) != 0 ||
            before.disk != after.disk || before.bytesHeld != after.bytesHeld ||
            before.sectors.size() != after.sectors.size()) {
            return false;
        }
        for (size_t k = 0; k < before.sectors.size(); ++k) {
            const StoredSector& was = before.sectors[k];
            const StoredSector& is = after.sectors[k];
            if (was.position != is.position || was.length != is.length) {
                return false;
            }
            // A sector put back reads without error, whichever entry put it back.
            const bool put = std::binary_search(putSectors.begin(), putSectors.end(), was.position);
            if (is.status != (put ? d88::STATUS_NORMAL : was.status)) {
                return false;
            }
        }
    }
    return true;
}

void expectedEntryBytes(d88::D88Image& input, const UpdateSet& set, size_t position,
                        NewBytes& source, uint8_t* expected) {
    const UpdateEntry& entry = set.entries[position];
    memset(expected, 0, static_cast<size_t>(entry.entry.size));
    uint8_t* at = expected;
    for (const StoredSector& sector : entry.sectors) {
        readUpdatedBytes(input, source, sector.position, at, sector.length);
        at += SECTOR_BYTES;
    }
}
