// The order property of the merge: the same dumps given in another order give the same files.
// Each set number's copies are taken in the order of the files that hold them in the other
// order, and the plan made again from the same image: every entry's bytes, outcome, read errors
// and marks (repaired, contested, voted, and their counts) are the same, except a sector flagged
// as a tie, whose bytes come from the first given of the copies that tie. Only which copy a
// sector is taken from, and which copy is named as differing, may change with the order.
#pragma once

#include "PlanCheck.h"

#include "DiskSet.h"
#include "Plan.h"
#include "SetCounts.h"
#include "SetNotes.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// `disks` with each set number's copies (and the directory's) in the order of the files that
// hold them when file order[j] is given at place j; copies in one file keep their order.
inline DiskChoice reorderCopies(const DiskChoice& disks, const DiskSetFacts& facts,
                                const std::vector<int>& order) {
    std::vector<size_t> place(order.size());
    for (size_t j = 0; j < order.size(); ++j) {
        place[static_cast<size_t>(order[j])] = j;
    }
    const auto placeOf = [&](int disk) {
        return place[static_cast<size_t>(facts.disks[static_cast<size_t>(disk)].part)];
    };
    DiskChoice reordered = disks;
    for (std::vector<int>& copies : reordered.copiesFor) {
        std::stable_sort(copies.begin(), copies.end(),
                         [&](int a, int b) { return placeOf(a) < placeOf(b); });
    }
    reordered.directoryCopies = reordered.copiesFor[DISK_A_ID];
    return reordered;
}

// The marks of a sector that do not depend on the order.
inline bool sameMarks(const SectorOrigin& x, const SectorOrigin& y) {
    const bool counted = x.taken == SectorTaken::Contested || x.taken == SectorTaken::Voted;
    return x.taken == y.taken && x.readError == y.readError && x.holders == y.holders &&
           x.tie == y.tie && (!x.readError || x.sameStatus == y.sameStatus) &&
           (!counted || (x.agree == y.agree && x.among == y.among));
}

// The directory read in both orders: the same sectors, marks and bytes, but where a sector
// ties. Returns true when no sector ties (the entries can be compared).
inline bool checkSameDirectory(const DirectoryRead& a, const uint8_t* bytesA,
                               const DirectoryRead& b, const uint8_t* bytesB) {
    if (a.asPrograms != b.asPrograms || (a.disk < 0) != (b.disk < 0) ||
        !sameErrors(a.errors, b.errors) || a.merge.origins.size() != b.merge.origins.size()) {
        abort();
    }
    bool tie = false;
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        const DirectorySector& x = a.sectors[s];
        const DirectorySector& y = b.sectors[s];
        if (x.bytes != y.bytes || x.found != y.found ||
            (x.bytes == SECTOR_BYTES && !sameMarks(x.origin, y.origin))) {
            abort();
        }
        const bool tied = x.bytes == SECTOR_BYTES && x.origin.tie;
        tie = tie || tied;
        if (!tied && memcmp(bytesA + s * SECTOR_BYTES, bytesB + s * SECTOR_BYTES,
                            static_cast<size_t>(x.bytes)) != 0) {
            abort(); // the directory's bytes depend on the order
        }
    }
    return !tie;
}

// The plans `a` and `b` of one layout, from the same copies in two orders, with the same
// target: the same entries, each with the same outcome, read errors, marks and bytes (read from
// its pieces through `image`), the same counts and replacements, ties aside.
inline void checkSameFiles(d88::D88Image& image, const SetPlan& a, const SetPlan& b,
                           WalkBuffers& buffers, std::vector<uint8_t>& scratch) {
    if (a.layout != b.layout || a.enoughDisks != b.enoughDisks ||
        a.entries.size() != b.entries.size() || a.unreadable != b.unreadable) {
        abort();
    }
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const PlannedEntry& x = a.entries[i];
        const PlannedEntry& y = b.entries[i];
        if (x.index != y.index || memcmp(x.bytes, y.bytes, DIR_ENTRY_SIZE) != 0 ||
            x.saved.key != y.saved.key || x.outcome != y.outcome || x.bytesRead != y.bytesRead ||
            x.firstSectorFound != y.firstSectorFound || !sameErrors(x.readErrors, y.readErrors) ||
            x.errorSectors != y.errorSectors || x.replaces != y.replaces ||
            x.replacedBy != y.replacedBy || x.merged.origins.size() != y.merged.origins.size() ||
            x.merged.inlineBytes.size() != y.merged.inlineBytes.size()) {
            abort();
        }
        for (size_t k = 0; k < x.merged.origins.size(); ++k) {
            if (!sameMarks(x.merged.origins[k], y.merged.origins[k])) {
                abort();
            }
        }
        const size_t size = static_cast<size_t>(x.entry.size);
        if (readPlannedFile(image, x, buffers) != x.bytesRead) {
            abort();
        }
        memcpy(scratch.data(), buffers.work, size);
        if (readPlannedFile(image, y, buffers) != y.bytesRead) {
            abort();
        }
        for (size_t at = 0; at < size; at += SECTOR_BYTES) {
            const size_t sector = at / SECTOR_BYTES;
            const bool tied = sector < x.merged.origins.size() && x.merged.origins[sector].tie;
            if (!tied && memcmp(scratch.data() + at, buffers.work + at,
                                std::min<size_t>(SECTOR_BYTES, size - at)) != 0) {
                abort(); // a file's bytes depend on the order
            }
        }
    }
    const SetCounts x = countSet(a);
    const SetCounts y = countSet(b);
    if (x.files != y.files || x.bytes != y.bytes || x.notWritten != y.notWritten ||
        x.passedOver != y.passedOver || x.incomplete != y.incomplete ||
        x.withReadErrors != y.withReadErrors || x.repaired != y.repaired ||
        x.contested != y.contested || x.voted != y.voted || x.unreadable != y.unreadable ||
        planIsWhole(a) != planIsWhole(b) || a.missingDisks.size() != b.missingDisks.size()) {
        abort();
    }
}

// The `index`th order (from 0, the order given) of `count` dumps: which dump comes at each
// place.
inline std::vector<int> nthOrder(int count, int index) {
    std::vector<int> left;
    for (int k = 0; k < count; ++k) {
        left.push_back(k);
    }
    int ways = 1;
    for (int k = 2; k < count; ++k) {
        ways *= k;
    }
    std::vector<int> order;
    for (int place = count - 1; place >= 0; --place) {
        const int pick = index / ways;
        index %= ways;
        order.push_back(left[static_cast<size_t>(pick)]);
        left.erase(left.begin() + pick);
        ways = place > 1 ? ways / place : 1;
    }
    return order;
}
