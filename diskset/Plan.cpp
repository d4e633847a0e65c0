#include "Plan.h"

#include "FileChoice.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

namespace {

// Sectors of one file, and one more so that a run never stops for want of room.
constexpr int MAX_FILE_SECTORS = MAX_FILE_BYTES / SECTOR_BYTES + 1;

// Adds the piece of `length` bytes at image position `position`, split where a given file
// ends: a sector's data may go on from one file into the next.
void addPieces(const d88::D88Image& image, int64_t position, int length, PlannedEntry& into) {
    while (length > 0) {
        const int part = image.partAt(position);
        const int64_t partEnd =
            part + 1 < image.partCount() ? image.partStart(part + 1) : image.fileSize();
        const int piece =
            partEnd - position < length ? static_cast<int>(partEnd - position) : length;
        into.pieces.push_back(Piece{part, position - image.partStart(part), piece});
        position += piece;
        length -= piece;
    }
}

void countSector(bool readError, PlannedEntry& into) {
    const int sector = into.readErrors.sectors++;
    if (readError) {
        ++into.readErrors.errorSectors;
        into.errorSectors.push_back(sector);
    }
}

// The run of `total` bytes from (track, sector) of the selected disk, as readRun would read it.
int locateOneCopy(d88::D88Image& image, int track, int sector, int total, PlannedEntry& into) {
    d88::SectorPlace places[MAX_FILE_SECTORS];
    const int got =
        image.locateRun(setSectorAddress(track, sector), total, places, MAX_FILE_SECTORS);
    for (int i = 0; i * SECTOR_BYTES < got; ++i) {
        countSector(d88::isReadErrorStatus(places[i].marks.status), into);
        into.sources.push_back(image.partAt(places[i].position));
        addPieces(image, places[i].position, places[i].length, into);
    }
    return got;
}

// The run of `total` bytes from (track, sector) read from every copy in `copies`, sector by
// sector: it goes on as long as some copy holds the next sector whole.
int locateCopies(d88::D88Image& image, const std::vector<int>& copies, int track, int sector,
                 int total, PlannedEntry& into) {
    int got = 0;
    d88::SectorAddress at = setSectorAddress(track, sector);
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    while (got < total) {
        const int want = total - got < SECTOR_BYTES ? total - got : SECTOR_BYTES;
        SectorPick pick;
        const size_t votedAt = into.merged.inlineBytes.size();
        if (!pickSector(image, copies, at, want, pick, into.merged.inlineBytes)) {
            break;
        }
        countSector(pick.readError, into);
        const bool voted = pick.taken == SectorTaken::Voted;
        into.merged.origins.push_back(
            SectorOrigin{pick.taken, static_cast<int16_t>(voted ? -1 : pick.disk),
                         static_cast<int16_t>(pick.differing), static_cast<uint8_t>(pick.agree),
                         static_cast<uint8_t>(pick.holders), pick.readError, pick.sameStatus});
        if (voted) {
            into.sources.push_back(INLINE_PIECE);
            into.pieces.push_back(Piece{INLINE_PIECE, static_cast<int64_t>(votedAt), want});
        } else {
            into.sources.push_back(image.partAt(pick.place.position));
            addPieces(image, pick.place.position, want, into);
        }
        got += want;
        image.nextSector(at);
    }
    return got;
}

// The entry's file as the walk finds it on its disk's copies: its pieces and read errors. With
// `firstSectorOnly` only the first sector is located, which tells whether the file is written
// at all but not whether it is whole. Returns the number of bytes that a read would take.
int locateFile(d88::D88Image& image, const std::vector<int>& copies, const DirEntry& entry,
               bool firstSectorOnly, PlannedEntry& planned) {
    const int total = firstSectorOnly && entry.size > SECTOR_BYTES ? SECTOR_BYTES : entry.size;
    if (total == 0) {
        return 0;
    }
    if (copies.size() > 1) {
        return locateCopies(image, copies, entry.track, entry.sector, total, planned);
    }
    image.selectDisk(copies[0]);
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    return locateOneCopy(image, entry.track, entry.sector, total, planned);
}

// Copies `pieces` into `out`, at most `capacity` bytes. Returns the number of bytes copied.
int copyPieces(d88::D88Image& image, const std::vector<Piece>& pieces,
               const std::vector<uint8_t>& inlineBytes, uint8_t* out, int capacity) {
    int at = 0;
    for (const Piece& piece : pieces) {
        if (at + piece.length > capacity) {
            break;
        }
        if (piece.part == INLINE_PIECE) {
            memcpy(out + at, inlineBytes.data() + piece.offset, static_cast<size_t>(piece.length));
            at += piece.length;
            continue;
        }
        const int64_t got =
            image.readBytes(image.partStart(piece.part) + piece.offset, out + at, piece.length);
        at += static_cast<int>(got);
        if (got < piece.length) {
            break; // the file has changed since it was planned: the rest stays zero
        }
    }
    return at;
}

bool isUncreatable(const char* name) {
    return name[0] == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// A run of a disk's sectors: the ID byte of its disk, where it starts and its length.
struct RunKey {
    int id;
    int track;
    int sector;
    int total;
    bool operator<(const RunKey& other) const {
        return std::tie(id, track, sector, total) <
               std::tie(other.id, other.track, other.sector, other.total);
    }
};

// Decides one entry of the directory: finds its disk by the ID byte, locates its file and
// names it. `runs` holds the runs located so far, by their entries' places in `plan`.
PlannedEntry decideEntry(d88::D88Image& image, const DiskChoice& disks, const uint8_t* bytes,
                         int index, const SaveTarget& target, bool firstSectorOnly,
                         const SetPlan& plan, std::map<RunKey, size_t>& runs,
                         const FileChoice* choice) {
    PlannedEntry planned{};
    planned.index = index;
    memcpy(planned.bytes, bytes, DIR_ENTRY_SIZE);
    planned.entry = parseDirEntry(bytes);
    planned.disk = -1;
    planned.replaces = -1;
    planned.replacedBy = -1;
    const DirEntry& entry = planned.entry;
    planned.saved = savedName(entry.name, target.names, target.rules);
    if (choice != nullptr && !choosesName(*choice, planned.saved)) {
        planned.outcome = EntryOutcome::NotChosen;
        return planned;
    }
    const size_t id = static_cast<size_t>(entry.diskNumber + 1);
    if (id >= disks.copiesFor.size() || disks.copiesFor[id].empty()) {
        planned.outcome = EntryOutcome::NoDisk;
        return planned;
    }
    const std::vector<int>& copies = disks.copiesFor[id];
    planned.disk = copies[0];
    const int total = firstSectorOnly && entry.size > SECTOR_BYTES ? SECTOR_BYTES : entry.size;
    // An earlier entry that names the same run of the same disk has located it already.
    const RunKey key{static_cast<int>(id), entry.track, entry.sector, total};
    const auto earlier = runs.find(key);
    int got = 0;
    if (earlier != runs.end()) {
        const PlannedEntry& same = plan.entries[earlier->second];
        got = same.bytesRead;
        planned.readErrors = same.readErrors;
        planned.errorSectors = same.errorSectors;
        planned.pieces = same.pieces;
        planned.sources = same.sources;
        planned.merged = same.merged;
    } else {
        got = locateFile(image, copies, entry, firstSectorOnly, planned);
        runs.emplace(key, plan.entries.size());
    }
    planned.bytesRead = got;
    if (got == 0) {
        planned.outcome = entry.size == 0 ? EntryOutcome::Empty : EntryOutcome::Missing;
    } else if (refusesSavedName(entry.name, planned.saved, target.names, target.rules)) {
        planned.outcome = EntryOutcome::UnsafeName;
    } else if (std::find(target.imageNameKeys.begin(), target.imageNameKeys.end(),
                         planned.saved.key) != target.imageNameKeys.end()) {
        planned.outcome = EntryOutcome::ImageItself;
    } else if (isUncreatable(entry.name)) {
        planned.outcome = EntryOutcome::Uncreatable;
    } else {
        planned.outcome = got < total ? EntryOutcome::Incomplete : EntryOutcome::Whole;
    }
    return planned;
}

// Reads the directory sectors into buffers.directory as the programs read them from the first
// copy; what the run does not read stays zero. With several copies, every sector that a copy
// holds whole is then taken as the copies decide (`merge` says how). Returns the read errors.
RunErrors readDirectory(d88::D88Image& image, const std::vector<int>& copies, WalkBuffers& buffers,
                        MergedRun* merge) {
    memset(buffers.directory, 0, sizeof buffers.directory);
    image.selectDisk(copies[0]);
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    if (copies.size() < 2) {
        // As the programs read it: a run that stops at the first sector missing or short, the
        // bytes of a short one kept.
        const d88::SectorAddress at = setSectorAddress(DIRECTORY_TRACK, DIRECTORY_SECTOR);
        image.readRun(at.track, at.c, at.h, at.r, at.n, buffers.directory, DIRECTORY_BYTES);
        PlannedEntry run{};
        locateOneCopy(image, DIRECTORY_TRACK, DIRECTORY_SECTOR, DIRECTORY_BYTES, run);
        return run.readErrors;
    }
    PlannedEntry run{};
    const int got =
        locateCopies(image, copies, DIRECTORY_TRACK, DIRECTORY_SECTOR, DIRECTORY_BYTES, run);
    copyPieces(image, run.pieces, run.merged.inlineBytes, buffers.directory, got);
    if (merge != nullptr) {
        *merge = std::move(run.merged);
    }
    return run.readErrors;
}

const uint8_t* entryBytes(const WalkBuffers& buffers, const DirectoryLayout& layout, int index) {
    return buffers.directory + layout.firstEntryOffset + index * DIR_ENTRY_SIZE;
}

} // namespace

std::vector<int> sectorsTaken(const MergedRun& merged, SectorTaken taken) {
    std::vector<int> sectors;
    for (size_t i = 0; i < merged.origins.size(); ++i) {
        if (merged.origins[i].taken == taken) {
            sectors.push_back(static_cast<int>(i));
        }
    }
    return sectors;
}

bool isWritten(EntryOutcome outcome) {
    return outcome == EntryOutcome::Whole || outcome == EntryOutcome::Incomplete;
}

bool holdsEnoughDisks(int diskCount) {
    return diskCount >= MIN_SET_DISKS;
}

DiskChoice programsDiskChoice(d88::D88Image& image) {
    DiskChoice choice{
        holdsEnoughDisks(image.diskCount()), {0}, std::vector<std::vector<int>>(MAX_SET_ID + 1)};
    if (!choice.enoughDisks) {
        return choice;
    }
    // Each entry searches the disks in file order; the first that carries its number wins.
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        const int id = readSetId(image, disk);
        if (id > 0 && choice.copiesFor[static_cast<size_t>(id)].empty()) {
            choice.copiesFor[static_cast<size_t>(id)].push_back(disk);
        }
    }
    return choice;
}

DiskChoice identityDiskChoice(const DiskSetFacts& facts) {
    DiskChoice choice{facts.directoryDisk >= 0, {}, std::vector<std::vector<int>>(MAX_SET_ID + 1)};
    for (const SetNumber& number : facts.numbers) {
        std::vector<int>& copies = choice.copiesFor[static_cast<size_t>(number.id)];
        copies.push_back(number.disks[0]);
        // A copy with the same bytes as the first adds nothing to a merge.
        for (int disk : number.differ) {
            copies.push_back(disk);
        }
    }
    const std::vector<int>& diskA = choice.copiesFor[DISK_A_ID];
    if (!diskA.empty()) {
        choice.directoryCopies = diskA;
    } else if (facts.directoryDisk >= 0) {
        choice.directoryCopies = {facts.directoryDisk};
    }
    return choice;
}

SetPlan planSet(d88::D88Image& image, const DiskChoice& disks, const DirectoryLayout& layout,
                const SaveTarget& target, WalkBuffers& buffers, const FileChoice* choice) {
    SetPlan plan{};
    plan.layout = &layout;
    plan.target = target.names;
    plan.enoughDisks = disks.enoughDisks;
    plan.directoryDisk = disks.directoryCopies.empty() ? -1 : disks.directoryCopies[0];
    if (!plan.enoughDisks) {
        return plan;
    }
    plan.directoryErrors =
        readDirectory(image, disks.directoryCopies, buffers, &plan.directoryMerge);
    plan.entries.reserve(static_cast<size_t>(layout.entryCount));
    std::map<int, size_t> missing; // ID byte -> its place in plan.missingDisks
    std::map<RunKey, size_t> runs; // each run located once: entries may name the same file
    for (int i = 0; i < layout.entryCount; ++i) {
        const uint8_t* bytes = entryBytes(buffers, layout, i);
        if (isUnusedEntry(bytes)) {
            continue; // an unused slot of the table: size 0, nothing to list
        }
        plan.entries.push_back(
            decideEntry(image, disks, bytes, i, target, false, plan, runs, choice));
        const PlannedEntry& entry = plan.entries.back();
        SetSummary& summary = plan.summary;
        if (isWritten(entry.outcome)) {
            ++summary.files;
            summary.bytes += entry.entry.size;
            summary.withReadErrors += entry.readErrors.errorSectors > 0 ? 1 : 0;
            const MergedRun& merged = entry.merged;
            summary.repaired += sectorsTaken(merged, SectorTaken::Repaired).empty() ? 0 : 1;
            summary.contested += sectorsTaken(merged, SectorTaken::Contested).empty() ? 0 : 1;
            summary.voted += sectorsTaken(merged, SectorTaken::Voted).empty() ? 0 : 1;
        } else {
            ++summary.passedOver;
        }
        if (entry.outcome == EntryOutcome::NoDisk && entry.entry.size > 0) {
            const int id = entry.entry.diskNumber + 1;
            auto found = missing.find(id);
            if (found == missing.end()) {
                found = missing.emplace(id, plan.missingDisks.size()).first;
                plan.missingDisks.push_back(MissingDisk{id, {}});
            }
            plan.missingDisks[found->second].entries.push_back(entry.index);
        }
    }
    std::vector<bool> written;
    for (const PlannedEntry& entry : plan.entries) {
        written.push_back(isWritten(entry.outcome));
    }
    const std::vector<Replacement> replacements = decideReplacements(plan.entries, written);
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        plan.entries[i].replaces = replacements[i].replaces;
        plan.entries[i].replacedBy = replacements[i].replacedBy;
    }
    return plan;
}

int countFiles(d88::D88Image& image, const DiskChoice& disks, const DirectoryLayout& layout,
               const SaveTarget& target, WalkBuffers& buffers, int stopAt) {
    if (!disks.enoughDisks) {
        return 0;
    }
    readDirectory(image, disks.directoryCopies, buffers, nullptr);
    SetPlan plan{};
    std::map<RunKey, size_t> runs;
    int files = 0;
    for (int i = 0; i < layout.entryCount && (stopAt == 0 || files < stopAt); ++i) {
        const uint8_t* bytes = entryBytes(buffers, layout, i);
        if (isUnusedEntry(bytes)) {
            continue;
        }
        plan.entries.push_back(
            decideEntry(image, disks, bytes, i, target, true, plan, runs, nullptr));
        files += isWritten(plan.entries.back().outcome) ? 1 : 0;
    }
    return files;
}

int readPlannedFile(d88::D88Image& image, const PlannedEntry& entry, WalkBuffers& buffers) {
    const int size = entry.entry.size < WORK_BUFFER_BYTES ? entry.entry.size : WORK_BUFFER_BYTES;
    const int at = copyPieces(image, entry.pieces, entry.merged.inlineBytes, buffers.work, size);
    if (at < size) {
        memset(buffers.work + at, 0, static_cast<size_t>(size - at));
    }
    return at;
}

std::vector<Replacement> decideReplacements(const std::vector<PlannedEntry>& entries,
                                            const std::vector<bool>& written) {
    std::vector<Replacement> replacements(entries.size(), Replacement{-1, -1});
    std::map<std::string, size_t> lastUnder; // saved name key -> the last entry written there
    for (size_t i = 0; i < entries.size() && i < written.size(); ++i) {
        if (!written[i]) {
            continue;
        }
        auto found = lastUnder.find(entries[i].saved.key);
        if (found != lastUnder.end()) {
            replacements[i].replaces = entries[found->second].index;
            replacements[found->second].replacedBy = entries[i].index;
            found->second = i;
        } else {
            lastUnder.emplace(entries[i].saved.key, i);
        }
    }
    return replacements;
}
