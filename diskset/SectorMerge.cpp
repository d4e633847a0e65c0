#include "SectorMerge.h"

#include "SetFormat.h"

#include <cstring>

namespace {

struct Copy {
    int disk;
    d88::SectorPlace place;
};

bool readData(d88::D88Image& image, const Copy& copy, int want, uint8_t* out) {
    return image.readBytes(copy.place.position, out, want) == want;
}

} // namespace

bool pickSector(d88::D88Image& image, const std::vector<int>& copies, const d88::SectorAddress& at,
                int want, SectorPick& pick, std::vector<uint8_t>& voted) {
    pick = SectorPick{SectorTaken::AsStored, -1, {}, want, false, false, 0, 0, -1};
    std::vector<Copy> holders;
    std::vector<Copy> clean;
    for (int disk : copies) {
        image.selectDisk(disk);
        image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
        Copy copy{disk, {}};
        if (image.locateSector(at, want, copy.place) < want) {
            continue; // missing here, or shorter than wanted
        }
        holders.push_back(copy);
        if (!d88::isReadErrorStatus(copy.place.marks.status)) {
            clean.push_back(copy);
        }
    }
    if (holders.empty()) {
        return false;
    }
    pick.holders = static_cast<int>(holders.size());
    if (!clean.empty()) {
        pick.disk = clean[0].disk;
        pick.place = clean[0].place;
        if (clean[0].disk != copies[0]) {
            pick.taken = SectorTaken::Repaired;
        }
        if (clean.size() > 1) {
            std::vector<uint8_t> first(static_cast<size_t>(want));
            std::vector<uint8_t> other(static_cast<size_t>(want));
            if (readData(image, clean[0], want, first.data())) {
                for (size_t i = 1; i < clean.size() && pick.differing < 0; ++i) {
                    if (!readData(image, clean[i], want, other.data()) || first != other) {
                        pick.taken = SectorTaken::Contested;
                        pick.differing = clean[i].disk;
                    }
                }
            }
        }
        return true;
    }
    // Every copy that holds it does so with a read-error status.
    pick.readError = true;
    pick.disk = holders[0].disk;
    pick.place = holders[0].place;
    pick.sameStatus = holders.size() == copies.size();
    for (const Copy& copy : holders) {
        pick.sameStatus =
            pick.sameStatus && copy.place.marks.status == holders[0].place.marks.status;
    }
    if (holders.size() < 3) {
        return true; // too few to vote: the first copy's bytes, as stored
    }
    std::vector<std::vector<uint8_t>> data(holders.size(), std::vector<uint8_t>(want));
    for (size_t k = 0; k < holders.size(); ++k) {
        if (!readData(image, holders[k], want, data[k].data())) {
            return true; // the files changed under the plan: keep the first copy's
        }
    }
    pick.taken = SectorTaken::Voted;
    pick.agree = static_cast<int>(holders.size());
    for (int i = 0; i < want; ++i) {
        // The value most copies hold; on a tie, the one the earliest copy holds.
        int best = 0;
        int bestCount = 0;
        for (size_t k = 0; k < holders.size(); ++k) {
            int count = 0;
            for (size_t m = 0; m < holders.size(); ++m) {
                count += data[m][static_cast<size_t>(i)] == data[k][static_cast<size_t>(i)] ? 1 : 0;
            }
            if (count > bestCount) {
                bestCount = count;
                best = static_cast<int>(k);
            }
        }
        voted.push_back(data[static_cast<size_t>(best)][static_cast<size_t>(i)]);
        pick.agree = bestCount < pick.agree ? bestCount : pick.agree;
    }
    return true;
}
