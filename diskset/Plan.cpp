#include "Plan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

namespace {

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

SectorOrigin originOf(const SectorPick& pick) {
    const bool voted = pick.taken == SectorTaken::Voted;
    return SectorOrigin{pick.taken,
                        static_cast<int16_t>(voted ? -1 : pick.disk),
                        static_cast<int16_t>(pick.differing),
                        static_cast<uint8_t>(pick.agree),
                        static_cast<uint8_t>(pick.among),
                        static_cast<uint8_t>(pick.holders),
                        pick.readError,
                        pick.sameStatus,
                        pick.tie};
}

// Takes the sector `pick` chose into `into`: its read error, where its bytes lie, and from
// several copies how it was taken.
void takeSector(const d88::D88Image& image, const SectorPick& pick, size_t votedAt, bool fromCopies,
                PlannedEntry& into) {
    const int sector = into.readErrors.sectors++;
    if (pick.readError) {
        ++into.readErrors.errorSectors;
        into.errorSectors.push_back(sector);
    }
    if (fromCopies) {
        into.merged.origins.push_back(originOf(pick));
    }
    if (pick.taken == SectorTaken::Voted) {
        into.sources.push_back(INLINE_PIECE);
        into.pieces.push_back(Piece{INLINE_PIECE, static_cast<int64_t>(votedAt), pick.length});
    } else {
        into.sources.push_back(image.partAt(pick.place.position));
        addPieces(image, pick.place.position, pick.length, into);
    }
}

// The run of `total` bytes from (track, sector) read from `copies` (one disk, or the copies of
// one, in the order given), sector by sector as the walk steps: it goes on as long as some
// copy holds the next sector whole. Returns the number of bytes located.
int locateRun(d88::D88Image& image, const std::vector<int>& copies, int track, int sector,
              int total, PlannedEntry& into) {
    int got = 0;
    d88::SectorAddress at = setSectorAddress(track, sector);
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    // A piece per sector, two where a sector goes on into the next file.
    const size_t sectors = static_cast<size_t>(total / SECTOR_BYTES + 1);
    into.sources.reserve(sectors);
    into.pieces.reserve(sectors + 1);
    while (got < total) {
        const int want = total - got < SECTOR_BYTES ? total - got : SECTOR_BYTES;
        SectorPick pick;
        const size_t votedAt = into.merged.inlineBytes.size();
        if (!pickSector(image, copies, at, want, pick, into.merged.inlineBytes)) {
            break;
        }
        takeSector(image, pick, votedAt, copies.size() > 1, into);
        got += want;
        image.nextSector(at);
    }
    return got;
}

// True when some copy holds a record of the sector at `at`, however short.
bool anyRecordOf(d88::D88Image& image, const std::vector<int>& copies,
                 const d88::SectorAddress& at) {
    for (int disk : copies) {
        d88::SectorPlace place;
        if (image.selectDisk(disk) && image.locateSector(at, SECTOR_BYTES, place) > 0) {
            return true;
        }
    }
    return false;
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

// A run of a disk's sectors: the set number of its disk, where it starts and its length.
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

// What deciding the entries of one layout reads from and keeps between entries.
struct EntryWalk {
    d88::D88Image& image;
    const DiskChoice& disks;
    const SaveTarget& target;
    const std::vector<PlannedEntry>& decided;
    std::map<RunKey, size_t> runs; // each run located once: entries may name the same file
};

// Where the file of `planned`'s entry lies on its disk's copies: its pieces and read errors,
// shared with an earlier entry that names the same run. Returns the bytes located.
int locateFile(EntryWalk& walk, const std::vector<int>& copies, PlannedEntry& planned) {
    const DirEntry& entry = planned.entry;
    const RunKey key{entrySetNumber(entry), entry.track, entry.sector, entry.size};
    const auto earlier = walk.runs.find(key);
    if (earlier != walk.runs.end()) {
        const PlannedEntry& same = walk.decided[earlier->second];
        planned.readErrors = same.readErrors;
        planned.errorSectors = same.errorSectors;
        planned.pieces = same.pieces;
        planned.sources = same.sources;
        planned.merged = same.merged;
        planned.firstSectorFound = same.firstSectorFound;
        return same.bytesRead;
    }
    walk.runs.emplace(key, walk.decided.size());
    if (entry.size == 0) {
        return 0;
    }
    const int got = locateRun(walk.image, copies, entry.track, entry.sector, entry.size, planned);
    planned.firstSectorFound =
        got > 0 || anyRecordOf(walk.image, copies, setSectorAddress(entry.track, entry.sector));
    return got;
}

// Decides one entry of the directory: finds its disk by the set number, locates its file and
// names it.
PlannedEntry decideEntry(EntryWalk& walk, const uint8_t* bytes, int index) {
    PlannedEntry planned{};
    planned.index = index;
    memcpy(planned.bytes, bytes, DIR_ENTRY_SIZE);
    planned.entry = parseDirEntry(bytes);
    planned.disk = -1;
    planned.replaces = -1;
    planned.replacedBy = -1;
    const DirEntry& entry = planned.entry;
    const SaveTarget& target = walk.target;
    planned.saved = savedName(entry.name, target.names, target.rules);
    const int id = entrySetNumber(entry);
    if (!isSetNumber(id) || walk.disks.copiesFor[static_cast<size_t>(id)].empty()) {
        planned.outcome = EntryOutcome::NoDisk;
        return planned;
    }
    const std::vector<int>& copies = walk.disks.copiesFor[static_cast<size_t>(id)];
    planned.disk = copies[0];
    const int got = locateFile(walk, copies, planned);
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
        planned.outcome = got < entry.size ? EntryOutcome::Incomplete : EntryOutcome::Whole;
    }
    return planned;
}

// The directory as the set's programs read it from its first copy: one run that stops at the
// first sector missing or short, the stored bytes of a short one kept in the buffer.
void readAsPrograms(d88::D88Image& image, DirectoryRead& read, WalkBuffers& buffers) {
    const d88::SectorAddress at = setSectorAddress(DIRECTORY_TRACK, DIRECTORY_SECTOR);
    image.selectDisk(read.disk);
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    image.readRun(at.track, at.c, at.h, at.r, at.n, buffers.directory, DIRECTORY_BYTES);
    d88::SectorPlace places[DIRECTORY_SECTORS];
    const int got = image.locateRun(at, DIRECTORY_BYTES, places, DIRECTORY_SECTORS);
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        DirectorySector& sector = read.sectors[s];
        if (s * SECTOR_BYTES < got) {
            sector.bytes = SECTOR_BYTES;
            sector.found = true;
            sector.origin.readError = d88::isReadErrorStatus(places[s].marks.status);
            ++read.errors.sectors;
            read.errors.errorSectors += sector.origin.readError ? 1 : 0;
            continue;
        }
        // The run stops here: this sector's stored bytes stay, none after it is read.
        d88::SectorPlace place;
        const int stored =
            image.locateSector(setSectorAddress(DIRECTORY_TRACK, s + 1), SECTOR_BYTES, place);
        sector.found = stored > 0;
        sector.bytes = s * SECTOR_BYTES == got ? stored : 0;
    }
}

// A directory sector that no copy holds whole: the most bytes that a copy stores of it, and of
// copies storing as many, the lowest bytes, so that the order of the copies does not matter. A
// record without a byte of data is no sector, as the programs read it.
void readLongestPart(d88::D88Image& image, const std::vector<int>& copies,
                     const d88::SectorAddress& at, DirectorySector& sector, uint8_t* out) {
    uint8_t part[SECTOR_BYTES];
    sector.bytes = 0;
    for (int disk : copies) {
        d88::SectorPlace place;
        image.selectDisk(disk);
        const int stored = image.locateSector(at, SECTOR_BYTES, place);
        sector.found = sector.found || stored > 0;
        if (stored == 0 || stored < sector.bytes ||
            image.readBytes(place.position, part, stored) != stored) {
            continue;
        }
        if (stored > sector.bytes || memcmp(part, out, static_cast<size_t>(stored)) < 0) {
            memcpy(out, part, static_cast<size_t>(stored));
            sector.bytes = stored;
        }
    }
}

// The directory read sector by sector from every copy of Disk A: each sector as the copies
// together give it, or the longest part of it that a copy stores when none holds it whole.
void readByCopies(d88::D88Image& image, const std::vector<int>& copies, DirectoryRead& read,
                  WalkBuffers& buffers) {
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        DirectorySector& sector = read.sectors[s];
        uint8_t* out = buffers.directory + s * SECTOR_BYTES;
        const d88::SectorAddress at = setSectorAddress(DIRECTORY_TRACK, DIRECTORY_SECTOR + s);
        SectorPick pick;
        std::vector<uint8_t> voted;
        if (pickSector(image, copies, at, SECTOR_BYTES, pick, voted)) {
            sector = DirectorySector{SECTOR_BYTES, true, originOf(pick)};
            if (pick.taken == SectorTaken::Voted) {
                memcpy(out, voted.data(), SECTOR_BYTES);
            } else {
                image.readBytes(pick.place.position, out, SECTOR_BYTES);
            }
            ++read.errors.sectors;
            read.errors.errorSectors += pick.readError ? 1 : 0;
        } else {
            readLongestPart(image, copies, at, sector, out);
        }
        if (copies.size() > 1) {
            read.merge.origins.push_back(sector.origin);
            if (sector.origin.taken == SectorTaken::Voted) {
                read.merge.inlineBytes.insert(read.merge.inlineBytes.end(), out,
                                              out + SECTOR_BYTES);
            }
        }
    }
}

const uint8_t* entryBytes(const WalkBuffers& buffers, const DirectoryLayout& layout, int index) {
    return buffers.directory + layout.firstEntryOffset + index * DIR_ENTRY_SIZE;
}

} // namespace

bool entryRead(const DirectoryRead& read, const DirectoryLayout& layout, int index) {
    // A sector read in part holds its first bytes: the entry's last byte in each sector it lies
    // in tells.
    const int first = layout.firstEntryOffset + index * DIR_ENTRY_SIZE;
    const int last = first + DIR_ENTRY_SIZE - 1;
    for (int s = first / SECTOR_BYTES; s <= last / SECTOR_BYTES; ++s) {
        const int end = last < (s + 1) * SECTOR_BYTES ? last : (s + 1) * SECTOR_BYTES - 1;
        if (end % SECTOR_BYTES >= read.sectors[s].bytes) {
            return false;
        }
    }
    return true;
}

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

DiskChoice programsDiskChoice(int diskCount, const std::vector<IdRead>& ids) {
    DiskChoice choice{
        holdsEnoughDisks(diskCount), true, {0}, std::vector<std::vector<int>>(MAX_SET_NUMBER + 1)};
    if (!choice.enoughDisks) {
        return choice;
    }
    // Each entry searches the disks in file order; the first that carries its number wins.
    for (int disk = 0; disk < diskCount && static_cast<size_t>(disk) < ids.size(); ++disk) {
        const int id = ids[static_cast<size_t>(disk)].byte;
        if (isSetNumber(id) && choice.copiesFor[static_cast<size_t>(id)].empty()) {
            choice.copiesFor[static_cast<size_t>(id)].push_back(disk);
        }
    }
    return choice;
}

DiskChoice identityDiskChoice(const DiskSetFacts& facts) {
    DiskChoice choice{
        facts.directoryDisk >= 0, false, {}, std::vector<std::vector<int>>(MAX_SET_NUMBER + 1)};
    for (const SetNumber& number : facts.numbers) {
        std::vector<int>& copies = choice.copiesFor[static_cast<size_t>(number.id)];
        // Copies whose sectors are all alike give what one of them gives.
        copies = number.groups.size() > 1 ? number.disks : std::vector<int>{number.disks[0]};
        for (int& disk : copies) {
            disk = facts.disks[static_cast<size_t>(disk)].index;
        }
    }
    choice.directoryCopies = choice.copiesFor[DISK_A_ID];
    return choice;
}

DirectoryRead readDirectory(d88::D88Image& image, const DiskChoice& disks, WalkBuffers& buffers) {
    DirectoryRead read{};
    memset(buffers.directory, 0, sizeof buffers.directory);
    read.disk = disks.directoryCopies.empty() ? -1 : disks.directoryCopies[0];
    read.asPrograms = disks.programs;
    if (!disks.enoughDisks || read.disk < 0) {
        return read;
    }
    if (disks.programs) {
        readAsPrograms(image, read, buffers);
    } else {
        readByCopies(image, disks.directoryCopies, read, buffers);
    }
    return read;
}

SetPlan planSet(d88::D88Image& image, const DiskChoice& disks, const DirectoryRead& directory,
                const DirectoryLayout& layout, const SaveTarget& target, WalkBuffers& buffers) {
    SetPlan plan{};
    plan.layout = &layout;
    plan.target = target.names;
    plan.enoughDisks = disks.enoughDisks;
    plan.directoryDisk = directory.disk;
    plan.directory = directory;
    if (!plan.enoughDisks) {
        return plan;
    }
    plan.entries.reserve(static_cast<size_t>(layout.entryCount));
    EntryWalk walk{image, disks, target, plan.entries, {}};
    for (int i = 0; i < layout.entryCount; ++i) {
        const bool read = entryRead(directory, layout, i);
        const uint8_t* bytes = entryBytes(buffers, layout, i);
        // By identity an entry that was not read whole is not guessed at; the set's programs
        // take whatever the buffer holds, so an entry read in part is listed as they take it.
        // An unused slot of the table lists nothing.
        const bool listed = (read || disks.programs) && !isUnusedEntry(bytes);
        if (!read && !listed) {
            plan.unreadable.push_back(i);
        }
        if (!listed) {
            continue;
        }
        plan.entries.push_back(decideEntry(walk, bytes, i));
    }
    settlePlan(plan);
    return plan;
}

void settlePlan(SetPlan& plan) {
    plan.missingDisks.clear();
    std::map<int, size_t> missing; // set number -> its place in plan.missingDisks
    for (const PlannedEntry& entry : plan.entries) {
        if (entry.outcome != EntryOutcome::NoDisk || entry.entry.size == 0) {
            continue;
        }
        const int id = entrySetNumber(entry.entry);
        auto found = missing.find(id);
        if (found == missing.end()) {
            found = missing.emplace(id, plan.missingDisks.size()).first;
            plan.missingDisks.push_back(MissingDisk{id, {}});
        }
        plan.missingDisks[found->second].entries.push_back(entry.index);
    }
    // Of two entries written under one saved name, the later one's file replaces the earlier's.
    std::map<std::string, size_t> lastUnder; // saved name key -> the last entry written there
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        PlannedEntry& entry = plan.entries[i];
        entry.replaces = -1;
        entry.replacedBy = -1;
        if (!isWritten(entry.outcome)) {
            continue;
        }
        const auto found = lastUnder.find(entry.saved.key);
        if (found != lastUnder.end()) {
            entry.replaces = plan.entries[found->second].index;
            plan.entries[found->second].replacedBy = entry.index;
        }
        lastUnder[entry.saved.key] = i;
    }
}

int readPlannedFile(d88::D88Image& image, const PlannedEntry& entry, WalkBuffers& buffers) {
    const int size = entry.entry.size < WORK_BUFFER_BYTES ? entry.entry.size : WORK_BUFFER_BYTES;
    const int at = copyPieces(image, entry.pieces, entry.merged.inlineBytes, buffers.work, size);
    if (at < size) {
        memset(buffers.work + at, 0, static_cast<size_t>(size - at));
    }
    return at;
}

namespace {

bool writtenAt(const SetPlan& plan, const std::vector<bool>& written, size_t position) {
    return position < written.size() ? written[position]
                                     : isWritten(plan.entries[position].outcome);
}

// The position in the plan of the entry with table index `index`.
size_t positionOf(const SetPlan& plan, int index) {
    size_t position = 0;
    while (position < plan.entries.size() && plan.entries[position].index != index) {
        ++position;
    }
    return position;
}

} // namespace

int replacedEarlier(const SetPlan& plan, const std::vector<bool>& written, size_t position) {
    // The plan's chain of the entries written under one name, followed past those whose file
    // was not written after all.
    int earlier = plan.entries[position].replaces;
    while (earlier >= 0) {
        const size_t at = positionOf(plan, earlier);
        if (at >= plan.entries.size() || writtenAt(plan, written, at)) {
            break;
        }
        earlier = plan.entries[at].replaces;
    }
    return earlier;
}

std::vector<Replacement> decideReplacements(const SetPlan& plan, const std::vector<bool>& written) {
    std::vector<Replacement> replacements(plan.entries.size(), Replacement{-1, -1});
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        if (!writtenAt(plan, written, i)) {
            continue;
        }
        const int earlier = replacedEarlier(plan, written, i);
        replacements[i].replaces = earlier;
        if (earlier >= 0) {
            replacements[positionOf(plan, earlier)].replacedBy = plan.entries[i].index;
        }
    }
    return replacements;
}
