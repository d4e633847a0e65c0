// The merge rule that plans are checked against: how one sector is taken from the copies of a
// disk that hold it whole. It stands apart from the reading again (PlanCheck.h), so that another
// rule can take its place.
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

// Takes the sector of `want` bytes from `holders` (the copies that hold it whole, in the order
// of `copies`; never empty) into `out`: from the first holder without a read-error status
// (repaired when that is not the first copy; contested when a later such holder has other
// bytes); else, all of them with an error, a read error holding the first holder's bytes, or
// with three holders or more the value that most of them hold at each byte (on a tie the
// earliest holder's). Returns how it was taken; `position` receives where the bytes taken lie,
// -1 when voted.
inline SectorOrigin takeSector(const std::vector<CopySector>& holders,
                               const std::vector<int>& copies, int want, uint8_t* out,
                               int64_t& position) {
    SectorOrigin origin{
        SectorTaken::AsStored, -1, -1, 0, static_cast<uint8_t>(holders.size()), false, false};
    const CopySector* taken = nullptr;
    for (const CopySector& holder : holders) {
        if (d88::isReadErrorStatus(holder.status)) {
            continue;
        }
        if (taken == nullptr) {
            taken = &holder;
            origin.taken = holder.disk == copies[0] ? SectorTaken::AsStored : SectorTaken::Repaired;
        } else if (origin.differing < 0 &&
                   memcmp(holder.bytes, taken->bytes, static_cast<size_t>(want)) != 0) {
            origin.taken = SectorTaken::Contested;
            origin.differing = static_cast<int16_t>(holder.disk);
        }
    }
    position = -1;
    if (taken != nullptr) {
        memcpy(out, taken->bytes, static_cast<size_t>(want));
        position = taken->position;
        origin.disk = static_cast<int16_t>(taken->disk);
        return origin;
    }
    origin.readError = true;
    origin.sameStatus = holders.size() == copies.size();
    for (const CopySector& holder : holders) {
        origin.sameStatus = origin.sameStatus && holder.status == holders[0].status;
    }
    if (holders.size() < 3) {
        memcpy(out, holders[0].bytes, static_cast<size_t>(want));
        position = holders[0].position;
        origin.disk = static_cast<int16_t>(holders[0].disk);
        return origin;
    }
    origin.taken = SectorTaken::Voted;
    origin.agree = static_cast<uint8_t>(holders.size());
    for (int i = 0; i < want; ++i) {
        int counts[256] = {};
        int most = 0;
        for (const CopySector& holder : holders) {
            most = std::max(most, ++counts[holder.bytes[i]]);
        }
        for (const CopySector& holder : holders) {
            if (counts[holder.bytes[i]] == most) {
                out[i] = holder.bytes[i];
                break;
            }
        }
        origin.agree = std::min(origin.agree, static_cast<uint8_t>(most));
    }
    return origin;
}
