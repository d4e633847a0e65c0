// The same bytes cut into other files and joined in order must give the same disks and the
// same plan: the same outcomes, names, read errors and merges, and the same bytes from the
// pieces. Only which file a disk starts in, which files hold none and which file each sector
// comes from may differ. This holds unless a file of the cut starts inside a disk with bytes
// that pass the header check: the reader then starts a disk there, on purpose, and the cut
// gives other disks. The same files given again after them plan exactly as they do alone.
#pragma once

#include "DiskSet.h"
#include "Plan.h"
#include "SetCounts.h"

#include "D88Image.h"

#include <cstdlib>
#include <cstring>
#include <vector>

inline void checkSameDisks(const DiskSetFacts& a, const DiskSetFacts& b) {
    if (a.disks.size() != b.disks.size() || a.notDiskAt != b.notDiskAt ||
        a.unreadFrom != b.unreadFrom || a.unreadReason != b.unreadReason ||
        a.otherIds != b.otherIds || a.directoryDisk != b.directoryDisk ||
        a.numbers.size() != b.numbers.size()) {
        abort();
    }
    for (size_t k = 0; k < a.disks.size(); ++k) {
        const FoundDisk& x = a.disks[k];
        const FoundDisk& y = b.disks[k];
        if (x.index != y.index || x.start != y.start || x.end != y.end || x.id.byte != y.id.byte ||
            x.id.state != y.id.state || x.id.status != y.id.status || x.setNumber != y.setNumber ||
            x.byPlace != y.byPlace || x.lastTrack != y.lastTrack || x.pastEnd != y.pastEnd ||
            x.cutBy != -1 || y.cutBy != -1 || x.repeatOf != y.repeatOf || x.media != y.media ||
            x.writeProtect != y.writeProtect) {
            abort();
        }
    }
    for (size_t i = 0; i < a.numbers.size(); ++i) {
        const SetNumber& x = a.numbers[i];
        const SetNumber& y = b.numbers[i];
        if (x.id != y.id || x.disks != y.disks || x.groups != y.groups) {
            abort();
        }
    }
}

inline bool sameOrigins(const MergedRun& a, const MergedRun& b) {
    if (a.origins.size() != b.origins.size() || a.inlineBytes != b.inlineBytes) {
        return false;
    }
    for (size_t i = 0; i < a.origins.size(); ++i) {
        const SectorOrigin& x = a.origins[i];
        const SectorOrigin& y = b.origins[i];
        if (x.taken != y.taken || x.disk != y.disk || x.differing != y.differing ||
            x.agree != y.agree || x.among != y.among || x.holders != y.holders ||
            x.readError != y.readError || x.sameStatus != y.sameStatus || x.tie != y.tie) {
            return false;
        }
    }
    return true;
}

inline bool samePieces(const std::vector<Piece>& a, const std::vector<Piece>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].part != b[i].part || a[i].offset != b[i].offset || a[i].length != b[i].length) {
            return false;
        }
    }
    return true;
}

inline bool sameDirectory(const DirectoryRead& a, const DirectoryRead& b) {
    if (a.disk != b.disk || a.asPrograms != b.asPrograms || a.errors.sectors != b.errors.sectors ||
        a.errors.errorSectors != b.errors.errorSectors || !sameOrigins(a.merge, b.merge)) {
        return false;
    }
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        const DirectorySector& x = a.sectors[s];
        const DirectorySector& y = b.sectors[s];
        if (x.bytes != y.bytes || x.found != y.found ||
            !sameOrigins(MergedRun{{x.origin}, {}}, MergedRun{{y.origin}, {}})) {
            return false;
        }
    }
    return true;
}

// `a` planned from `imageA`, `b` from `imageB`, with the same target. `scratch` holds a file.
// With `exactly`, each entry's pieces and sources are the same too (the same files first).
inline void checkSamePlan(d88::D88Image& imageA, const SetPlan& a, d88::D88Image& imageB,
                          const SetPlan& b, WalkBuffers& buffers, std::vector<uint8_t>& scratch,
                          bool exactly) {
    const SetCounts x = countSet(a);
    const SetCounts y = countSet(b);
    if (a.layout != b.layout || a.enoughDisks != b.enoughDisks ||
        a.directoryDisk != b.directoryDisk || !sameDirectory(a.directory, b.directory) ||
        a.unreadable != b.unreadable || a.entries.size() != b.entries.size() ||
        a.missingDisks.size() != b.missingDisks.size() || x.files != y.files ||
        x.bytes != y.bytes || x.notWritten != y.notWritten || x.passedOver != y.passedOver ||
        x.incomplete != y.incomplete || x.withReadErrors != y.withReadErrors ||
        x.repaired != y.repaired || x.contested != y.contested || x.voted != y.voted) {
        abort();
    }
    for (size_t i = 0; i < a.missingDisks.size(); ++i) {
        if (a.missingDisks[i].id != b.missingDisks[i].id ||
            a.missingDisks[i].entries != b.missingDisks[i].entries) {
            abort();
        }
    }
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const PlannedEntry& x = a.entries[i];
        const PlannedEntry& y = b.entries[i];
        if (x.index != y.index || memcmp(x.bytes, y.bytes, DIR_ENTRY_SIZE) != 0 ||
            x.outcome != y.outcome || x.disk != y.disk || x.bytesRead != y.bytesRead ||
            x.readErrors.sectors != y.readErrors.sectors ||
            x.readErrors.errorSectors != y.readErrors.errorSectors ||
            x.errorSectors != y.errorSectors || x.firstSectorFound != y.firstSectorFound ||
            x.saved.name != y.saved.name || x.saved.key != y.saved.key ||
            x.replaces != y.replaces || x.replacedBy != y.replacedBy ||
            !sameOrigins(x.merged, y.merged) || x.sources.size() != y.sources.size() ||
            (exactly && (x.sources != y.sources || !samePieces(x.pieces, y.pieces)))) {
            abort();
        }
        const size_t size = static_cast<size_t>(x.entry.size);
        if (readPlannedFile(imageA, x, buffers) != x.bytesRead) {
            abort();
        }
        memcpy(scratch.data(), buffers.work, size);
        if (readPlannedFile(imageB, y, buffers) != y.bytesRead ||
            memcmp(scratch.data(), buffers.work, size) != 0) {
            abort();
        }
    }
}
