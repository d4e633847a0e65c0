// Checks a set plan against the reader: the directory and every entry's run read again from
// the disks that an independent choice names for it. From one disk, by readRun and sector by
// sector; from several copies of a disk, sector by sector from each copy: a sector that is
// whole in any copy is never worse in the result. The entry's outcome, bytes, read errors,
// error sectors, sources and merge must follow, its pieces must lie inside the given files and
// split a sector only where one file ends (or hold a voted sector's bytes), and readPlannedFile
// must assemble from them the run's bytes and zeros after.
#pragma once

#include "MergeRule.h"

#include "Host.h"
#include "Plan.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// The given files as the fuzz target cut them: file k holds image bytes ends[k] to ends[k + 1].
struct GivenFiles {
    std::vector<int64_t> ends;
    std::vector<std::string> names; // as they stand in the folder written into
    int count() const { return static_cast<int>(names.size()); }
    int64_t length(int part) const { return ends[part + 1] - ends[part]; }
    // The file that holds image byte `position`, -1 past the end.
    int holding(int64_t position) const {
        for (int part = 0; part < count(); ++part) {
            if (ends[part] <= position && position < ends[part + 1]) {
                return part;
            }
        }
        return -1;
    }
};

// What the plan should find: the disks read for the directory and for each ID byte, in the
// order given (several when a disk is given in copies that differ); empty for none.
struct ExpectedChoice {
    bool enoughDisks;
    std::vector<int> directoryCopies;
    std::vector<std::vector<int>> copiesFor; // by ID byte, 0 to MAX_SET_ID
};

// A run read again: its bytes (valid until the next run is read), read errors and, per sector,
// where its data lies (-1 when voted) and, read from several copies, how it was taken.
struct Reread {
    int got = 0;
    RunErrors errors;
    std::vector<int> errorSectors;
    std::vector<int64_t> positions;
    const uint8_t* bytes = nullptr;
    bool merged = false;
    std::vector<SectorOrigin> origins;
};

struct RunBuffers {
    std::vector<uint8_t> run = std::vector<uint8_t>(WORK_BUFFER_BYTES);
    std::vector<uint8_t> bySectors = std::vector<uint8_t>(WORK_BUFFER_BYTES);
    std::vector<uint8_t> merged = std::vector<uint8_t>(WORK_BUFFER_BYTES);
    std::vector<std::vector<uint8_t>> copies; // one sector of each copy
    const std::vector<uint8_t> zeros = std::vector<uint8_t>(WORK_BUFFER_BYTES);
};

// True when `length` bytes at `bytes` are all zero.
inline bool allZero(const RunBuffers& buffers, const uint8_t* bytes, int length) {
    return length <= 0 || memcmp(bytes, buffers.zeros.data(), static_cast<size_t>(length)) == 0;
}

inline bool sameErrors(const RunErrors& a, const RunErrors& b) {
    return a.sectors == b.sectors && a.errorSectors == b.errorSectors;
}

// The run of `total` bytes from (track, r) of the selected disk, read by readRun and sector by
// sector, stepping as the disk set does: r up to LAST_SECTOR, then the next track (head 0 to
// 1, then the next cylinder) from FIRST_SECTOR. The two must agree. `buffers.run` keeps the
// bytes that readRun stored (a short last sector's included, as a caller's buffer would).
inline Reread rereadRun(d88::D88Image& image, int track, int r, int total, RunBuffers& buffers) {
    Reread result;
    result.got =
        image.readRun(track, track >> 1, track & 1, r, SECTOR_SIZE_CODE, buffers.run.data(), total);
    int got = 0;
    RunErrors errors;
    for (int t = track, s = r; got < total;) {
        d88::SectorPlace place;
        const int want = std::min(SECTOR_BYTES, total - got);
        if (image.readSector(t, t >> 1, t & 1, s, SECTOR_SIZE_CODE, buffers.bySectors.data() + got,
                             want) < want ||
            image.locateSector(setSectorAddress(t, s), want, place) != want) {
            break;
        }
        if (d88::isReadErrorStatus(place.marks.status)) {
            ++errors.errorSectors;
            result.errorSectors.push_back(errors.sectors);
        }
        ++errors.sectors;
        result.positions.push_back(place.position);
        got += want;
        if (s == LAST_SECTOR) {
            ++t;
            s = FIRST_SECTOR;
        } else {
            ++s;
        }
    }
    result.errors = errors;
    if (result.got != got ||
        memcmp(buffers.run.data(), buffers.bySectors.data(), static_cast<size_t>(got)) != 0) {
        abort(); // readRun and its sectors disagree
    }
    result.bytes = buffers.run.data();
    return result;
}

// The run of `total` bytes from (track, r) read from the disks `copies` in order, stepping as
// rereadRun does, each sector taken from the copies that hold it whole as MergeRule.h says. The
// run ends at the first sector that no copy holds whole. The bytes are kept in
// `buffers.merged`.
inline Reread rereadCopies(d88::D88Image& image, const std::vector<int>& copies, int track, int r,
                           int total, RunBuffers& buffers) {
    Reread result;
    result.merged = true;
    buffers.copies.resize(copies.size(), std::vector<uint8_t>(SECTOR_BYTES));
    for (int t = track, s = r; result.got < total;) {
        const int want = std::min(SECTOR_BYTES, total - result.got);
        std::vector<CopySector> holders;
        for (size_t k = 0; k < copies.size(); ++k) {
            d88::SectorPlace place;
            if (!image.selectDisk(copies[k])) {
                abort();
            }
            image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
            const int read = image.readSector(t, t >> 1, t & 1, s, SECTOR_SIZE_CODE,
                                              buffers.copies[k].data(), want);
            if (image.locateSector(setSectorAddress(t, s), want, place) != read) {
                abort();
            }
            if (read == want) {
                holders.push_back(CopySector{copies[k], place.position, place.marks.status,
                                             buffers.copies[k].data()});
            }
        }
        if (holders.empty()) {
            break;
        }
        int64_t position = -1;
        const SectorOrigin origin =
            takeSector(holders, copies, want, buffers.merged.data() + result.got, position);
        if (origin.readError) {
            ++result.errors.errorSectors;
            result.errorSectors.push_back(result.errors.sectors);
        }
        ++result.errors.sectors;
        result.positions.push_back(position);
        result.origins.push_back(origin);
        result.got += want;
        if (s == LAST_SECTOR) {
            ++t;
            s = FIRST_SECTOR;
        } else {
            ++s;
        }
    }
    result.bytes = buffers.merged.data();
    return result;
}

// The run read again from `copies`: by rereadRun from a single disk, else by rereadCopies.
inline Reread rereadFrom(d88::D88Image& image, const std::vector<int>& copies, int track, int r,
                         int total, RunBuffers& buffers) {
    if (copies.size() > 1) {
        return rereadCopies(image, copies, track, r, total, buffers);
    }
    if (!image.selectDisk(copies[0])) {
        abort();
    }
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    return rereadRun(image, track, r, total, buffers);
}

inline bool sameOrigin(const SectorOrigin& a, const SectorOrigin& b) {
    return a.taken == b.taken && a.disk == b.disk && a.differing == b.differing &&
           a.agree == b.agree && a.holders == b.holders && a.readError == b.readError &&
           a.sameStatus == b.sameStatus;
}

// How a run was merged from copies, against the run read again: each sector's origin, and the
// voted sectors' bytes kept inline; nothing when it was read from one disk.
inline void checkMerge(const MergedRun& merge, const Reread& run) {
    size_t voted = 0;
    for (const SectorOrigin& origin : run.origins) {
        voted += origin.taken == SectorTaken::Voted ? 1 : 0;
    }
    if (merge.origins.size() != run.origins.size() ||
        merge.inlineBytes.size() != voted * SECTOR_BYTES) {
        abort();
    }
    for (size_t i = 0; i < run.origins.size(); ++i) {
        if (!sameOrigin(merge.origins[i], run.origins[i])) {
            abort();
        }
    }
}

// The pieces cover each sector's data in order, each inside the file that holds its first
// byte, and a sector is split only where a file ends; a voted sector is one piece of the
// entry's own bytes. `sources` names per sector the file its bytes start in, -1 when voted.
inline void checkPieces(const d88::D88Image& image, const GivenFiles& files,
                        const std::vector<Piece>& pieces, const std::vector<int>& sources,
                        const MergedRun& merge, const Reread& run) {
    size_t next = 0;
    if (sources.size() != run.positions.size()) {
        abort();
    }
    for (size_t sector = 0; sector < run.positions.size(); ++sector) {
        const int64_t sectorStart = run.positions[sector];
        if (sources[sector] != (sectorStart < 0 ? INLINE_PIECE : files.holding(sectorStart))) {
            abort();
        }
        if (sectorStart < 0) {
            if (next == pieces.size() || pieces[next].part != INLINE_PIECE ||
                pieces[next].length != SECTOR_BYTES || pieces[next].offset < 0 ||
                pieces[next].offset + SECTOR_BYTES >
                    static_cast<int64_t>(merge.inlineBytes.size())) {
                abort(); // a voted sector not kept inline
            }
            ++next;
            continue;
        }
        int64_t at = sectorStart;
        while (at < sectorStart + SECTOR_BYTES) {
            if (next == pieces.size()) {
                abort(); // a sector not covered
            }
            const Piece& piece = pieces[next++];
            const int part = files.holding(at);
            if (piece.part != part || image.partStart(part) != files.ends[part] ||
                piece.offset != at - files.ends[part] || piece.length <= 0 ||
                piece.offset + piece.length > files.length(part) ||
                at + piece.length > sectorStart + SECTOR_BYTES) {
                abort(); // outside its file or its sector
            }
            at += piece.length;
            if (at < sectorStart + SECTOR_BYTES && at != files.ends[part + 1]) {
                abort(); // split where no file ends
            }
        }
    }
    if (next != pieces.size()) {
        abort();
    }
}

// The host's target for a folder that holds the given files under `names`, as hostSaveTarget
// tells it: each of those names is the image itself.
inline SaveTarget folderHolding(const std::vector<std::string>& names) {
    SaveTarget target{NameTarget::Host, hostNameRules(), {}};
    for (const std::string& name : names) {
        target.imageNameKeys.push_back(hostNameRules().sameFileKey(name.c_str()));
    }
    return target;
}

// How a target names files: which saved names are the image's own files (the names of
// `imageFiles`, for folderHolding), and whether the host's rules may refuse more names than
// those with a '/'.
struct TargetExpectation {
    const GivenFiles* imageFiles; // null: never the image (a zip)
    bool hostRules;
};

inline bool isOneOf(const std::string& name, const std::vector<std::string>& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The outcome of `planned`, whose bytesRead were read (more than 0): the name decides. A name
// with a '/' is refused at every target; other names the host's own rule may refuse as well.
inline EntryOutcome expectedOutcome(const PlannedEntry& planned, const TargetExpectation& target) {
    const DirEntry& entry = planned.entry;
    const char* name = entry.name;
    if (strchr(name, '/') != nullptr ||
        (target.hostRules && planned.outcome == EntryOutcome::UnsafeName)) {
        return EntryOutcome::UnsafeName;
    }
    if (target.imageFiles != nullptr && isOneOf(name, target.imageFiles->names)) {
        return EntryOutcome::ImageItself;
    }
    if (strcmp(name, "") == 0 || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        return EntryOutcome::Uncreatable;
    }
    return planned.bytesRead < entry.size ? EntryOutcome::Incomplete : EntryOutcome::Whole;
}

// Checks one entry; `run` is its run read again (nothing when it has no disk or no size) from
// `copies` (empty when no disk carries its number).
inline void checkEntry(d88::D88Image& image, const GivenFiles& files, const PlannedEntry& planned,
                       const uint8_t* bytes, const std::vector<int>& copies, const Reread& run,
                       const TargetExpectation& target, WalkBuffers& buffers,
                       const RunBuffers& runBuffers) {
    // The entry as its 16 bytes give it.
    const DirEntry& entry = planned.entry;
    int nameLength = 0;
    while (nameLength < ENTRY_NAME_LENGTH && bytes[nameLength] != ' ') {
        ++nameLength;
    }
    if (memcmp(planned.bytes, bytes, DIR_ENTRY_SIZE) != 0 ||
        memcmp(entry.name, bytes, static_cast<size_t>(nameLength)) != 0 ||
        entry.name[nameLength] != '\0' || entry.track != bytes[ENTRY_TRACK_OFFSET] ||
        entry.sector != bytes[ENTRY_SECTOR_OFFSET] ||
        entry.size != bytes[ENTRY_SIZE_OFFSET] * SECTOR_BYTES ||
        entry.diskNumber != bytes[ENTRY_DISK_OFFSET]) {
        abort();
    }
    const bool found = !copies.empty();
    if (planned.disk != (found ? copies[0] : -1) ||
        (planned.outcome == EntryOutcome::NoDisk) != !found ||
        !sameErrors(planned.readErrors, run.errors) || planned.errorSectors != run.errorSectors ||
        planned.bytesRead != run.got) {
        abort();
    }
    const bool read = run.got > 0;
    if ((planned.outcome == EntryOutcome::Empty) != (found && entry.size == 0) ||
        (planned.outcome == EntryOutcome::Missing) != (found && entry.size > 0 && !read)) {
        abort();
    }
    checkPieces(image, files, planned.pieces, planned.sources, planned.merged, run);
    if (run.merged) {
        checkMerge(planned.merged, run);
    } else if (!planned.merged.origins.empty() || !planned.merged.inlineBytes.empty()) {
        abort(); // merged, yet read from one disk
    }
    // The bytes assembled from the pieces: the run's, zero past them.
    memset(buffers.work, 0xA5, static_cast<size_t>(entry.size));
    if (readPlannedFile(image, planned, buffers) != run.got ||
        (run.got > 0 && memcmp(buffers.work, run.bytes, static_cast<size_t>(run.got)) != 0) ||
        !allZero(runBuffers, buffers.work + run.got, entry.size - run.got)) {
        abort();
    }
    if (!read) {
        return;
    }
    if (planned.outcome != expectedOutcome(planned, target)) {
        abort();
    }
}

// Replacements, missing disks and the summary follow from the entries.
inline void checkTotals(const SetPlan& plan) {
    std::map<std::string, size_t> last; // saved name key -> the last entry written there
    std::vector<MissingDisk> missing;
    SetSummary summary{};
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        const int laterIndex = [&] {
            for (size_t k = i + 1; k < plan.entries.size(); ++k) {
                const PlannedEntry& later = plan.entries[k];
                if (isWritten(later.outcome) && later.saved.key == entry.saved.key) {
                    return later.index;
                }
            }
            return -1;
        }();
        if (!isWritten(entry.outcome)) {
            if (entry.replaces >= 0 || entry.replacedBy >= 0) {
                abort();
            }
            ++summary.passedOver;
        } else {
            const auto found = last.find(entry.saved.key);
            if (entry.replaces != (found == last.end() ? -1 : plan.entries[found->second].index) ||
                entry.replacedBy != laterIndex) {
                abort();
            }
            last[entry.saved.key] = i;
            ++summary.files;
            summary.bytes += entry.entry.size;
            summary.withReadErrors += entry.readErrors.errorSectors > 0 ? 1 : 0;
            const auto any = [&](SectorTaken taken) {
                return std::any_of(
                    entry.merged.origins.begin(), entry.merged.origins.end(),
                    [&](const SectorOrigin& origin) { return origin.taken == taken; });
            };
            summary.repaired += any(SectorTaken::Repaired) ? 1 : 0;
            summary.contested += any(SectorTaken::Contested) ? 1 : 0;
            summary.voted += any(SectorTaken::Voted) ? 1 : 0;
        }
        if (entry.outcome == EntryOutcome::NoDisk && entry.entry.size > 0) {
            const int id = entry.entry.diskNumber + 1;
            auto disk = std::find_if(missing.begin(), missing.end(),
                                     [&](const MissingDisk& m) { return m.id == id; });
            if (disk == missing.end()) {
                missing.push_back(MissingDisk{id, {}});
                disk = missing.end() - 1;
            }
            disk->entries.push_back(entry.index);
        }
    }
    if (plan.missingDisks.size() != missing.size() || plan.summary.files != summary.files ||
        plan.summary.bytes != summary.bytes || plan.summary.passedOver != summary.passedOver ||
        plan.summary.withReadErrors != summary.withReadErrors ||
        plan.summary.repaired != summary.repaired || plan.summary.contested != summary.contested ||
        plan.summary.voted != summary.voted) {
        abort();
    }
    for (size_t i = 0; i < missing.size(); ++i) {
        if (plan.missingDisks[i].id != missing[i].id ||
            plan.missingDisks[i].entries != missing[i].entries) {
            abort();
        }
    }
}

// Checks `plan`, made by planSet with `buffers` just now, against the reader and `expected`.
inline void checkPlan(d88::D88Image& image, const GivenFiles& files, const SetPlan& plan,
                      const ExpectedChoice& expected, const DirectoryLayout& layout,
                      const TargetExpectation& target, WalkBuffers& buffers,
                      RunBuffers& runBuffers) {
    if (plan.layout != &layout || plan.enoughDisks != expected.enoughDisks) {
        abort();
    }
    if (!plan.enoughDisks) {
        if (!plan.entries.empty() || !plan.missingDisks.empty() || plan.summary.files != 0 ||
            plan.summary.passedOver != 0) {
            abort();
        }
        return;
    }
    // The directory read again from its first copy, as the programs read it, what the run does
    // not read being zero; then, from several copies, every sector that some copy holds whole
    // taken as the copies say.
    const std::vector<int>& directoryCopies = expected.directoryCopies;
    if (plan.directoryDisk != directoryCopies[0] || !image.selectDisk(directoryCopies[0])) {
        abort();
    }
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    std::fill(runBuffers.run.begin(), runBuffers.run.begin() + DIRECTORY_BYTES, 0);
    Reread directoryRun =
        rereadRun(image, DIRECTORY_TRACK, DIRECTORY_SECTOR, DIRECTORY_BYTES, runBuffers);
    std::vector<uint8_t> directory(runBuffers.run.begin(),
                                   runBuffers.run.begin() + DIRECTORY_BYTES);
    if (directoryCopies.size() > 1) {
        directoryRun = rereadCopies(image, directoryCopies, DIRECTORY_TRACK, DIRECTORY_SECTOR,
                                    DIRECTORY_BYTES, runBuffers);
        std::copy(directoryRun.bytes, directoryRun.bytes + directoryRun.got, directory.begin());
        checkMerge(plan.directoryMerge, directoryRun);
    } else if (!plan.directoryMerge.origins.empty() || !plan.directoryMerge.inlineBytes.empty()) {
        abort();
    }
    if (!sameErrors(plan.directoryErrors, directoryRun.errors) ||
        memcmp(buffers.directory, directory.data(), DIRECTORY_BYTES) != 0) {
        abort();
    }

    // Every slot of the table in order: listed unless its 16 bytes are all zero.
    size_t listed = 0;
    for (int index = 0; index < layout.entryCount; ++index) {
        const uint8_t* bytes = buffers.directory + layout.firstEntryOffset + index * DIR_ENTRY_SIZE;
        const bool unused =
            std::all_of(bytes, bytes + DIR_ENTRY_SIZE, [](uint8_t b) { return b == 0; });
        if (unused) {
            continue;
        }
        if (listed == plan.entries.size() || plan.entries[listed].index != index) {
            abort(); // a used slot left out, or not in table order
        }
        const PlannedEntry& planned = plan.entries[listed++];
        const std::vector<int>& copies =
            expected.copiesFor[static_cast<size_t>(bytes[ENTRY_DISK_OFFSET] + 1)];
        Reread run;
        const int size = bytes[ENTRY_SIZE_OFFSET] * SECTOR_BYTES;
        if (!copies.empty() && size > 0) {
            run = rereadFrom(image, copies, bytes[ENTRY_TRACK_OFFSET], bytes[ENTRY_SECTOR_OFFSET],
                             size, runBuffers);
        }
        checkEntry(image, files, planned, bytes, copies, run, target, buffers, runBuffers);
    }
    if (listed != plan.entries.size()) {
        abort();
    }
    checkTotals(plan);
}

// Checks `plan`, made with `target` from the same disks and layout as `checked` (which checkPlan
// has checked), as far as names change it: every entry reads the same sectors, from the same
// pieces and copies, and only its outcome (as its name decides), saved name and replacements
// may differ. Cheaper than checkPlan, which reads every run again.
inline void checkPlanAgainst(const SetPlan& checked, const SetPlan& plan,
                             const TargetExpectation& target) {
    if (plan.layout != checked.layout || plan.enoughDisks != checked.enoughDisks ||
        plan.directoryDisk != checked.directoryDisk ||
        !sameErrors(plan.directoryErrors, checked.directoryErrors) ||
        plan.entries.size() != checked.entries.size() ||
        plan.missingDisks.size() != checked.missingDisks.size()) {
        abort();
    }
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& x = checked.entries[i];
        const PlannedEntry& y = plan.entries[i];
        const bool sameReads =
            x.index == y.index && memcmp(x.bytes, y.bytes, DIR_ENTRY_SIZE) == 0 &&
            x.disk == y.disk && x.bytesRead == y.bytesRead &&
            sameErrors(x.readErrors, y.readErrors) && x.errorSectors == y.errorSectors &&
            x.sources == y.sources && x.merged.inlineBytes == y.merged.inlineBytes &&
            x.pieces.size() == y.pieces.size() &&
            x.merged.origins.size() == y.merged.origins.size();
        if (!sameReads) {
            abort();
        }
        for (size_t k = 0; k < x.pieces.size(); ++k) {
            if (x.pieces[k].part != y.pieces[k].part || x.pieces[k].offset != y.pieces[k].offset ||
                x.pieces[k].length != y.pieces[k].length) {
                abort();
            }
        }
        for (size_t k = 0; k < x.merged.origins.size(); ++k) {
            if (!sameOrigin(x.merged.origins[k], y.merged.origins[k])) {
                abort();
            }
        }
        const bool read = y.bytesRead > 0 && y.outcome != EntryOutcome::NoDisk;
        if (read ? y.outcome != expectedOutcome(y, target) : y.outcome != x.outcome) {
            abort();
        }
    }
    checkTotals(plan);
}
