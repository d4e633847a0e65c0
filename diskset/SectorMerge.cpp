#include "SectorMerge.h"

#include "CopyCompare.h"
#include "SetFormat.h"

#include <cstring>

namespace {

struct Copy {
    int disk;
    d88::SectorPlace place;
};

// The copies grouped by their bytes (CopyCompare's test), each group in the order given, the
// groups in the order of their first copies.
std::vector<std::vector<const Copy*>> groupByBytes(d88::D88Image& image,
                                                   const std::vector<Copy>& copies, int want) {
    std::vector<std::vector<const Copy*>> groups;
    for (const Copy& copy : copies) {
        bool grouped = false;
        for (std::vector<const Copy*>& group : groups) {
            if (sameBytes(image, group[0]->place.position, copy.place.position, want)) {
                group.push_back(&copy);
                grouped = true;
                break;
            }
        }
        if (!grouped) {
            groups.push_back({&copy});
        }
    }
    return groups;
}

// The group that most copies are in; on a tie the first (which holds the first given copy among
// the tied). `tie` tells whether another group is as large.
size_t largestGroup(const std::vector<std::vector<const Copy*>>& groups, bool& tie) {
    size_t best = 0;
    tie = false;
    for (size_t g = 1; g < groups.size(); ++g) {
        if (groups[g].size() > groups[best].size()) {
            best = g;
            tie = false;
        } else if (groups[g].size() == groups[best].size()) {
            tie = true;
        }
    }
    return best;
}

// Byte `i` of the copies' bytes `data` by vote: the value most of them hold, on a tie the
// first given's, appended to `voted`; `pick` keeps the fewest copies that agreed and any tie.
void voteByte(const std::vector<std::vector<uint8_t>>& data, size_t i, SectorPick& pick,
              std::vector<uint8_t>& voted) {
    size_t best = 0;
    int bestCount = 0;
    bool tie = false;
    for (size_t k = 0; k < data.size(); ++k) {
        int count = 0;
        for (size_t m = 0; m < data.size(); ++m) {
            count += data[m][i] == data[k][i] ? 1 : 0;
        }
        if (count > bestCount) {
            bestCount = count;
            best = k;
            tie = false;
        } else if (count == bestCount && data[k][i] != data[best][i]) {
            tie = true;
        }
    }
    voted.push_back(data[best][i]);
    pick.agree = bestCount < pick.agree ? bestCount : pick.agree;
    pick.tie = pick.tie || tie;
}

// Every copy holds the sector with an error status, and they differ: byte by byte the value
// most of them hold, on a tie the first given's. The bytes are appended to `voted`.
bool vote(d88::D88Image& image, const std::vector<Copy>& holders, int want, SectorPick& pick,
          std::vector<uint8_t>& voted) {
    std::vector<std::vector<uint8_t>> data(holders.size(), std::vector<uint8_t>(want));
    for (size_t k = 0; k < holders.size(); ++k) {
        if (image.readBytes(holders[k].place.position, data[k].data(), want) != want) {
            return false; // the files changed under the plan: keep the first copy's
        }
    }
    pick.taken = SectorTaken::Voted;
    pick.among = static_cast<int>(holders.size());
    pick.agree = pick.among;
    constexpr int WORD = 8;
    for (int at = 0; at < want; at += WORD) {
        const int end = at + WORD < want ? at + WORD : want;
        // Bytes that every copy holds alike are taken as they are, a word at a time.
        bool alike = end - at == WORD;
        for (size_t k = 1; k < holders.size() && alike; ++k) {
            alike = memcmp(data[k].data() + at, data[0].data() + at, WORD) == 0;
        }
        if (alike) {
            voted.insert(voted.end(), data[0].begin() + at, data[0].begin() + end);
            continue;
        }
        for (int i = at; i < end; ++i) {
            voteByte(data, static_cast<size_t>(i), pick, voted);
        }
    }
    return true;
}

} // namespace

bool pickSector(d88::D88Image& image, const std::vector<int>& copies, const d88::SectorAddress& at,
                int want, SectorPick& pick, std::vector<uint8_t>& voted) {
    pick = SectorPick{SectorTaken::AsStored, -1, {}, want, false, false, 0, 0, 0, false, -1};
    if (copies.size() == 1) {
        // One copy is only located, with nothing to compare (and no list to keep).
        image.selectDisk(copies[0]);
        image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
        if (image.locateSector(at, want, pick.place) < want) {
            pick.place = d88::SectorPlace{};
            return false;
        }
        pick.disk = copies[0];
        pick.readError = d88::isReadErrorStatus(pick.place.marks.status);
        pick.sameStatus = true;
        pick.holders = 1;
        return true;
    }
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
        // An error status never outranks a clean copy: the clean copies decide.
        const std::vector<std::vector<const Copy*>> groups = groupByBytes(image, clean, want);
        const size_t best = largestGroup(groups, pick.tie);
        pick.disk = groups[best][0]->disk;
        pick.place = groups[best][0]->place;
        pick.agree = static_cast<int>(groups[best].size());
        pick.among = static_cast<int>(clean.size());
        if (groups.size() > 1) {
            pick.taken = SectorTaken::Contested;
            for (const Copy& copy : clean) {
                if (pick.differing < 0 &&
                    !sameBytes(image, copy.place.position, groups[best][0]->place.position, want)) {
                    pick.differing = copy.disk;
                }
            }
        } else if (clean.size() < copies.size()) {
            pick.taken = SectorTaken::Repaired;
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
    if (groupByBytes(image, holders, want).size() > 1) {
        vote(image, holders, want, pick, voted);
    }
    return true;
}
