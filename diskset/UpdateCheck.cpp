#include "UpdateCheck.h"

#include <algorithm>
#include <cstring>

bool sameEntries(const UpdateSet& planned, const std::vector<UpdateEntry>& written) {
    if (planned.entries.size() != written.size()) {
        return false;
    }
    for (size_t i = 0; i < planned.entries.size(); ++i) {
        const UpdateEntry& before = planned.entries[i];
        const UpdateEntry& after = written[i];
        if (before.index != after.index || before.disk != after.disk ||
            memcmp(before.bytes, after.bytes, DIR_ENTRY_SIZE) != 0) {
            return false;
        }
    }
    return true;
}

std::vector<int64_t> putSectorPositions(const UpdateSet& set, const UpdatePlan& plan) {
    std::vector<int64_t> positions;
    for (size_t i = 0; i < set.entries.size() && i < plan.files.size(); ++i) {
        for (const StoredSector& sector : set.entries[i].sectors) {
            if (plan.files[i].outcome == UpdateOutcome::PutBack) {
                positions.push_back(sector.position);
            }
        }
    }
    std::sort(positions.begin(), positions.end());
    return positions;
}

bool samePlaces(const UpdateEntry& planned, const UpdateEntry& written,
                const std::vector<int64_t>& putSectors) {
    if (planned.bytesHeld != written.bytesHeld ||
        planned.sectors.size() != written.sectors.size()) {
        return false;
    }
    for (size_t k = 0; k < planned.sectors.size(); ++k) {
        const StoredSector& was = planned.sectors[k];
        const StoredSector& is = written.sectors[k];
        // A sector put back reads without error, whichever entry put it back.
        const bool put = std::binary_search(putSectors.begin(), putSectors.end(), was.position);
        if (was.position != is.position || was.length != is.length ||
            is.status != (put ? d88::STATUS_NORMAL : was.status)) {
            return false;
        }
    }
    return true;
}

void expectedEntryBytes(d88::D88Image& input, const UpdateSet& set, size_t position,
                        NewBytes& source, uint8_t* expected) {
    // Only the bytes that no sector gives are zeroed, as readEntryBytes does.
    const UpdateEntry& entry = set.entries[position];
    const size_t size = static_cast<size_t>(entry.entry.size);
    size_t filled = 0;
    size_t at = 0;
    for (const StoredSector& sector : entry.sectors) {
        if (filled < at) {
            memset(expected + filled, 0, at - filled);
        }
        filled = at + static_cast<size_t>(readUpdatedBytes(input, source, sector.position,
                                                           expected + at, sector.length));
        at += SECTOR_BYTES;
    }
    if (filled < size) {
        memset(expected + filled, 0, size - filled);
    }
}
