#include "UpdateEntries.h"

#include <cstring>
#include <map>
#include <string>

namespace {

// Sectors of one file, and one more so that a run never stops for want of room.
constexpr int MAX_RUN_PLACES = MAX_FILE_BYTES / SECTOR_BYTES + 1;

bool isUncreatable(const char* name) {
    return name[0] == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// The sectors of the run of `total` bytes from (track, sector) of disk `disk`, as far as the
// image holds them. Returns the bytes they hold.
int locateSectors(d88::D88Image& image, int disk, int track, int sector, int total,
                  std::vector<StoredSector>& sectors) {
    if (disk < 0 || total <= 0 || !image.selectDisk(disk)) {
        return 0;
    }
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    d88::SectorPlace places[MAX_RUN_PLACES];
    const int got = image.locateRun(setSectorAddress(track, sector), total, places, MAX_RUN_PLACES);
    sectors.reserve(sectors.size() + static_cast<size_t>((got + SECTOR_BYTES - 1) / SECTOR_BYTES));
    for (int i = 0; i * SECTOR_BYTES < got; ++i) {
        sectors.push_back(
            StoredSector{places[i].position, places[i].length, places[i].marks.status});
    }
    return got;
}

// The span of the record of sector (track, sector) of disk `disk`, header and the data that it
// stores, whole or in part; empty when the disk holds no byte of it.
ByteSpan recordSpan(d88::D88Image& image, int disk, int track, int sector) {
    d88::SectorPlace place;
    if (!image.selectDisk(disk)) {
        return ByteSpan{0, 0};
    }
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    const int stored = image.locateSector(setSectorAddress(track, sector), SECTOR_BYTES, place);
    return stored > 0
               ? ByteSpan{place.position - d88::SECTOR_RECORD_HEADER_SIZE, place.position + stored}
               : ByteSpan{0, 0};
}

// The disk that carries the entry's number, as the walk finds it; -1 when none does.
int diskOf(const DiskChoice& disks, const DirEntry& entry) {
    const int id = entrySetNumber(entry);
    return isSetNumber(id) && !disks.copiesFor[static_cast<size_t>(id)].empty()
               ? disks.copiesFor[static_cast<size_t>(id)][0]
               : -1;
}

} // namespace

UpdateSet readUpdateSet(d88::D88Image& image, const DiskChoice& disks, const SetPlan& planned,
                        const std::vector<NameTarget>& targets, const NameRules& rules,
                        const FileChoice& choice) {
    UpdateSet set{planned.layout, {}, {}, {}};
    // The plan as the patterns leave it: copied only when they leave files out.
    SetPlan chosen;
    if (!choice.patterns.empty()) {
        chosen = planned;
        applyChoice(chosen, choice);
    }
    const SetPlan& plan = choice.patterns.empty() ? planned : chosen;
    if (!plan.enoughDisks || disks.directoryCopies.empty()) {
        return set;
    }
    // Each directory sector on its own: the plan reads entries from any that is stored, whole
    // or in part, even after one that is missing.
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        const ByteSpan span =
            recordSpan(image, disks.directoryCopies[0], DIRECTORY_TRACK, DIRECTORY_SECTOR + s);
        if (span.end > span.start) {
            set.directory.push_back(span);
        }
    }
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        set.idSectors.push_back(recordSpan(image, disk, ID_TRACK, ID_SECTOR));
    }
    std::map<std::string, size_t> owners; // a name's key -> the entry whose file stands there
    set.entries.reserve(plan.entries.size());
    for (const PlannedEntry& one : plan.entries) {
        UpdateEntry entry{};
        entry.index = one.index;
        memcpy(entry.bytes, one.bytes, DIR_ENTRY_SIZE);
        entry.entry = one.entry;
        entry.chosen = one.outcome != EntryOutcome::NotChosen;
        entry.written = isWritten(one.outcome);
        entry.owner = -1;
        for (NameTarget each : targets) {
            SavedName saved =
                each == targets[0] ? one.saved : savedName(entry.entry.name, each, rules);
            if (refusesSavedName(entry.entry.name, saved, each, rules) ||
                isUncreatable(entry.entry.name)) {
                saved = SavedName{};
            }
            entry.names.push_back(saved);
        }
        // The disk as the walk finds it, whether or not the entry was chosen: an entry that is
        // not put back may still share sectors with one that is.
        entry.disk = diskOf(disks, entry.entry);
        const std::string& key = entry.names[0].key;
        if (!entry.names[0].name.empty()) {
            // The last written entry of a name owns the file under it, else the last entry.
            const auto found = owners.find(key);
            if (found == owners.end() || entry.written || !set.entries[found->second].written) {
                owners[key] = set.entries.size();
            }
        }
        set.entries.push_back(std::move(entry));
    }
    for (UpdateEntry& entry : set.entries) {
        const auto found =
            entry.names[0].name.empty() ? owners.end() : owners.find(entry.names[0].key);
        if (found != owners.end() && set.entries[found->second].index != entry.index) {
            entry.owner = set.entries[found->second].index;
        }
    }
    return set;
}

void locateEntrySectors(d88::D88Image& image, UpdateEntry& entry) {
    entry.sectors.clear();
    entry.bytesHeld = locateSectors(image, entry.disk, entry.entry.track, entry.entry.sector,
                                    entry.entry.size, entry.sectors);
}

namespace {

// The entry's sectors as the plan's walk found them on its one copy: false when the plan's pieces
// are not such a run (then nothing is kept).
bool sectorsOfPlan(d88::D88Image& image, const PlannedEntry& planned, UpdateEntry& entry) {
    entry.sectors.clear();
    entry.sectors.reserve(planned.sources.size());
    int inSector = 0; // bytes of the last sector so far
    for (const Piece& piece : planned.pieces) {
        if (piece.part == INLINE_PIECE || piece.part < 0 || piece.part >= image.partCount()) {
            return false;
        }
        const int64_t position = image.partStart(piece.part) + piece.offset;
        if (inSector == 0) {
            entry.sectors.push_back(StoredSector{position, 0, d88::STATUS_NORMAL});
        } else if (position != entry.sectors.back().position + inSector) {
            return false; // a sector's pieces lie one after another, split where a file ends
        }
        inSector += piece.length;
        entry.sectors.back().length = inSector;
        const int64_t left =
            entry.entry.size - static_cast<int64_t>(entry.sectors.size() - 1) * SECTOR_BYTES;
        if (inSector > SECTOR_BYTES || inSector > left) {
            return false;
        }
        inSector = inSector == SECTOR_BYTES || inSector == left ? 0 : inSector;
    }
    if (inSector != 0 || static_cast<int64_t>(entry.sectors.size()) !=
                             (planned.bytesRead + SECTOR_BYTES - 1) / SECTOR_BYTES) {
        return false;
    }
    for (StoredSector& sector : entry.sectors) {
        if (image.readBytes(statusPosition(sector.position), &sector.status, 1) != 1) {
            return false;
        }
    }
    entry.bytesHeld = planned.bytesRead;
    return true;
}

} // namespace

void locatePlannedSectors(d88::D88Image& image, const SetPlan& plan, const DiskChoice& disks,
                          UpdateSet& set) {
    for (size_t i = 0; i < set.entries.size(); ++i) {
        UpdateEntry& entry = set.entries[i];
        const int id = entrySetNumber(entry.entry);
        const bool oneCopy =
            isSetNumber(id) && disks.copiesFor[static_cast<size_t>(id)].size() == 1;
        const bool planned = i < plan.entries.size() && plan.entries[i].index == entry.index &&
                             plan.entries[i].disk == entry.disk;
        if (!oneCopy || !planned || !sectorsOfPlan(image, plan.entries[i], entry)) {
            locateEntrySectors(image, entry);
        }
    }
}

std::vector<UpdateEntry> readEntriesBack(d88::D88Image& image, const DiskChoice& disks,
                                         const DirectoryLayout& layout, WalkBuffers& buffers) {
    std::vector<UpdateEntry> entries;
    if (!disks.enoughDisks || disks.directoryCopies.empty()) {
        return entries;
    }
    // As planSet reads it: the entries read whole, not all zero.
    const DirectoryRead directory = readDirectory(image, disks, buffers);
    for (int i = 0; i < layout.entryCount; ++i) {
        const uint8_t* bytes = buffers.directory + layout.firstEntryOffset + i * DIR_ENTRY_SIZE;
        if (!entryRead(directory, layout, i) || isUnusedEntry(bytes)) {
            continue;
        }
        UpdateEntry entry{};
        entry.index = i;
        memcpy(entry.bytes, bytes, DIR_ENTRY_SIZE);
        entry.entry = parseDirEntry(bytes);
        entry.owner = -1;
        entry.disk = diskOf(disks, entry.entry);
        entries.push_back(std::move(entry));
    }
    return entries;
}
