// The merge rule that plans are checked against, written again apart from diskset/: how one
// sector is taken from the copies of a disk that hold it whole. It stands apart from the reading
// again (PlanCheck.h), so that another rule can take its place.
//
// Copies that hold the sector whole without a read-error status outrank the others. They are
// grouped by their bytes; the largest group is taken (of groups that tie, the one whose first
// copy was given first, and the tie is flagged). The sector is contested when there are two
// groups or more, repaired when some copy lacks it or holds it with a read-error status, else
// as stored. When every copy that holds it does so with a read-error status, it is a read error:
// as stored when they all hold the same bytes, else voted byte by byte (at each byte the value
// that most of them hold; of values that tie, the earliest holder's, and the tie is flagged).
#pragma once

#include "Plan.h"

#include "D88Format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// One copy's sector as read again.
struct CopySector {
    int disk;
    int64_t position;
    uint8_t status;
    const uint8_t* bytes;
};

// How the rule takes a sector. Which copy the bytes come from (`disk`, `position`) and which
// copy differs (`differing`) depend on the order given; the rest does not, unless `tie`.
struct TakenSector {
    SectorTaken taken;
    bool readError;
    bool sameStatus; // with readError: every copy holds it, with one status
    int holders;     // copies that hold it whole
    int agree;       // contested: the copies in the group taken; voted: the fewest copies that
                     // agree on any byte
    int among;       // contested: the copies without a read-error status; voted: the holders
    bool tie;
    int disk;         // the first copy of those whose bytes are taken, -1 when voted
    int differing;    // contested: the first copy given without a read-error status that holds
                      // other bytes; -1 otherwise
    int64_t position; // where the bytes taken lie, -1 when voted
};

// Takes the sector of `want` bytes from `holders` (the copies that hold it whole, in the order
// the `copies` copies were given; never empty) into `out`.
inline TakenSector takeSector(const std::vector<CopySector>& holders, size_t copies, int want,
                              uint8_t* out) {
    const size_t length = static_cast<size_t>(want);
    TakenSector result{SectorTaken::AsStored,
                       false,
                       false,
                       static_cast<int>(holders.size()),
                       0,
                       0,
                       false,
                       -1,
                       -1,
                       -1};
    // The copies without a read-error status, grouped by equal bytes (each group by its first
    // copy, in the order of the first copies); no memory taken, as a sector is taken often.
    const CopySector* clean[d88::MAX_DISKS];
    size_t groupOf[d88::MAX_DISKS];
    size_t groupFirst[d88::MAX_DISKS];
    size_t groupSize[d88::MAX_DISKS];
    size_t cleanCount = 0;
    size_t groups = 0;
    for (const CopySector& holder : holders) {
        if (d88::isReadErrorStatus(holder.status) || cleanCount == d88::MAX_DISKS) {
            continue;
        }
        size_t group = 0;
        while (group < groups &&
               memcmp(clean[groupFirst[group]]->bytes, holder.bytes, length) != 0) {
            ++group;
        }
        if (group == groups) {
            groupFirst[groups] = cleanCount;
            groupSize[groups++] = 0;
        }
        ++groupSize[group];
        groupOf[cleanCount] = group;
        clean[cleanCount++] = &holder;
    }
    if (cleanCount > 0) {
        size_t best = 0;
        for (size_t g = 1; g < groups; ++g) {
            best = groupSize[g] > groupSize[best] ? g : best;
        }
        for (size_t g = 0; g < groups; ++g) {
            result.tie = result.tie || (g != best && groupSize[g] == groupSize[best]);
        }
        const CopySector& taken = *clean[groupFirst[best]];
        result.taken = groups > 1            ? SectorTaken::Contested
                       : cleanCount < copies ? SectorTaken::Repaired
                                             : SectorTaken::AsStored;
        result.disk = taken.disk;
        result.position = taken.position;
        result.agree = static_cast<int>(groupSize[best]);
        result.among = static_cast<int>(cleanCount);
        for (size_t k = 0; k < cleanCount && result.differing < 0; ++k) {
            result.differing = groupOf[k] != best ? clean[k]->disk : -1;
        }
        memcpy(out, taken.bytes, length);
        return result;
    }
    result.readError = true;
    result.sameStatus = holders.size() == copies;
    bool alike = true;
    for (const CopySector& holder : holders) {
        result.sameStatus = result.sameStatus && holder.status == holders[0].status;
        alike = alike && memcmp(holder.bytes, holders[0].bytes, length) == 0;
    }
    if (alike) {
        result.disk = holders[0].disk;
        result.position = holders[0].position;
        memcpy(out, holders[0].bytes, length);
        return result;
    }
    result.taken = SectorTaken::Voted;
    result.among = static_cast<int>(holders.size());
    result.agree = result.among;
    for (size_t i = 0; i < length; ++i) {
        // The holders that hold each holder's value; the first of the most held wins.
        int most = 0;
        size_t winner = 0;
        bool tied = false;
        for (size_t h = 0; h < holders.size(); ++h) {
            int count = 0;
            for (const CopySector& other : holders) {
                count += other.bytes[i] == holders[h].bytes[i] ? 1 : 0;
            }
            if (count > most) {
                most = count;
                winner = h;
                tied = false;
            } else if (count == most && holders[h].bytes[i] != holders[winner].bytes[i]) {
                tied = true;
            }
        }
        out[i] = holders[winner].bytes[i];
        result.tie = result.tie || tied;
        result.agree = std::min(result.agree, most);
    }
    return result;
}

// True when `origin`, as the plan took a sector, is what the rule says: the fields that the
// plan's origin gives for the way it was taken (SectorOrigin).
inline bool sameAsRule(const SectorOrigin& origin, const TakenSector& rule) {
    const bool voted = rule.taken == SectorTaken::Voted;
    const bool counted = voted || rule.taken == SectorTaken::Contested;
    return origin.taken == rule.taken && origin.readError == rule.readError &&
           origin.holders == rule.holders && origin.tie == rule.tie && origin.disk == rule.disk &&
           (!rule.readError || origin.sameStatus == rule.sameStatus) &&
           (!counted || (origin.agree == rule.agree && origin.among == rule.among)) &&
           (rule.taken != SectorTaken::Contested || origin.differing == rule.differing);
}
