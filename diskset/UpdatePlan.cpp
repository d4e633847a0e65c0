#include "UpdatePlan.h"

#include "FileSeek.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// A span of bytes that a file put back changes, and the entry (by position) that changes it.
struct ChangedSpan {
    ByteSpan span;
    size_t entry;
};

// Zeroes out[from, to), when it holds any byte.
void zeroBetween(uint8_t* out, size_t from, size_t to) {
    if (from < to) {
        memset(out + from, 0, to - from);
    }
}

// Whether `count` bytes are all zero: the first is, and each equals the next (one memcmp, which
// runs a block at a time).
bool allZero(const uint8_t* bytes, size_t count) {
    return count == 0 || (bytes[0] == 0 && memcmp(bytes, bytes + 1, count - 1) == 0);
}

// The length of `bytes` without the zeros that end it: blocks of zeros first, then the bytes of
// the last block that is not all zero.
size_t withoutZeroTail(const uint8_t* bytes, size_t length) {
    constexpr size_t BLOCK = 256;
    while (length >= BLOCK && allZero(bytes + length - BLOCK, BLOCK)) {
        length -= BLOCK;
    }
    while (length > 0 && bytes[length - 1] == 0) {
        --length;
    }
    return length;
}

bool overlaps(const ByteSpan& a, const ByteSpan& b) {
    return a.start < b.end && b.start < a.end;
}

// The sectors of every entry of the set.
size_t sectorCount(const UpdateSet& set) {
    size_t count = 0;
    for (const UpdateEntry& entry : set.entries) {
        count += entry.sectors.size();
    }
    return count;
}

// The spans that putting entry `entry` back changes: its sectors' data and status bytes.
void addChangedSpans(const UpdateEntry& entry, size_t position, std::vector<ChangedSpan>& spans) {
    for (const StoredSector& sector : entry.sectors) {
        // The status byte first, as it lies before the data: in image order, for a sort to find.
        const int64_t status = statusPosition(sector.position);
        spans.push_back({{status, status + 1}, position});
        spans.push_back({{sector.position, sector.position + sector.length}, position});
    }
}

// True when no byte that putting back may change (the entries' sectors' data and status bytes)
// is shared by two sectors of the entries or lies in the directory's or an ID sector's record.
// Most sets are so; then the spans of each sector need not be compared. Sectors whose records
// follow each other in the image are taken as one span, bytes between included: a span that holds
// more can only find sharing where there is none, never miss it.
bool entriesShareNoBytes(const UpdateSet& set) {
    std::vector<ByteSpan> spans;
    for (const UpdateEntry& entry : set.entries) {
        for (const StoredSector& sector : entry.sectors) {
            const int64_t end = sector.position + sector.length;
            if (!spans.empty() &&
                sector.position - d88::SECTOR_RECORD_HEADER_SIZE == spans.back().end) {
                spans.back().end = end;
            } else {
                spans.push_back({statusPosition(sector.position), end});
            }
        }
    }
    for (const std::vector<ByteSpan>* records : {&set.directory, &set.idSectors}) {
        for (const ByteSpan& span : *records) {
            if (span.end > span.start) {
                spans.push_back(span);
            }
        }
    }
    const auto byStart = [](const ByteSpan& a, const ByteSpan& b) { return a.start < b.start; };
    std::sort(spans.begin(), spans.end(), byStart);
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].start < spans[i - 1].end) {
            return false;
        }
    }
    return true;
}

// A span that no file may change: a directory sector's record, or the ID sector record of disk
// `disk` (-1 for the directory).
struct ReservedSpan {
    ByteSpan span;
    int disk;
};

// Refuses a file put back whose changes reach the directory or an ID sector: the first of its
// spans that does, the directory before an ID sector, of ID sectors the first disk's.
void checkReserved(const UpdateSet& set, const std::vector<ChangedSpan>& spans,
                   std::vector<FileUpdate>& files) {
    std::vector<ReservedSpan> reserved;
    for (const ByteSpan& directory : set.directory) {
        reserved.push_back({directory, -1});
    }
    for (size_t disk = 0; disk < set.idSectors.size(); ++disk) {
        if (set.idSectors[disk].end > set.idSectors[disk].start) {
            reserved.push_back({set.idSectors[disk], static_cast<int>(disk)});
        }
    }
    int64_t longest = 0;
    for (const ReservedSpan& one : reserved) {
        longest = std::max(longest, one.span.end - one.span.start);
    }
    const auto byStart = [](const ReservedSpan& a, const ReservedSpan& b) {
        return a.span.start < b.span.start;
    };
    std::sort(reserved.begin(), reserved.end(), byStart);
    for (const ChangedSpan& changed : spans) {
        FileUpdate& file = files[changed.entry];
        if (file.outcome != UpdateOutcome::PutBack) {
            continue;
        }
        // Those that reach into the span start less than the longest one before it.
        auto it = std::lower_bound(reserved.begin(), reserved.end(),
                                   ReservedSpan{{changed.span.start - longest, 0}, 0}, byStart);
        bool directory = false;
        int disk = -1;
        for (; it != reserved.end() && it->span.start < changed.span.end; ++it) {
            if (overlaps(changed.span, it->span)) {
                directory = directory || it->disk < 0;
                disk = it->disk >= 0 && (disk < 0 || it->disk < disk) ? it->disk : disk;
            }
        }
        if (directory || disk >= 0) {
            file.outcome = UpdateOutcome::SharedSectors;
            file.sharedWith = directory ? SharedWith::Directory : SharedWith::IdSector;
            file.sharedWithEntry = directory ? file.sharedWithEntry : disk;
        }
    }
}

// Refuses the files put back whose changes reach the directory, an ID sector or another file put
// back, and finds the entries that change with them.
void checkSharedBytes(const UpdateSet& set, std::vector<FileUpdate>& files) {
    std::vector<ChangedSpan> spans;
    spans.reserve(sectorCount(set) * 2);
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].outcome == UpdateOutcome::PutBack) {
            addChangedSpans(set.entries[i], i, spans);
        }
    }
    checkReserved(set, spans, files);
    // Two files put back may not change one byte: the later entry is refused. (The spans are
    // mostly in order already: the files' sectors follow each other.)
    const auto byStart = [](const ChangedSpan& a, const ChangedSpan& b) {
        return a.span.start < b.span.start;
    };
    if (!std::is_sorted(spans.begin(), spans.end(), byStart)) {
        std::sort(spans.begin(), spans.end(), byStart);
    }
    for (size_t i = 1, reach = 0; i < spans.size(); ++i) {
        if (spans[i].span.start < spans[reach].span.end) {
            const size_t earlier = std::min(spans[i].entry, spans[reach].entry);
            FileUpdate& later = files[std::max(spans[i].entry, spans[reach].entry)];
            if (later.outcome == UpdateOutcome::PutBack) {
                later.outcome = UpdateOutcome::SharedSectors;
                later.sharedWith = SharedWith::OtherFile;
                later.sharedWithEntry = set.entries[earlier].index;
            }
        }
        reach = spans[i].span.end > spans[reach].span.end ? i : reach;
    }
    // Entries that are not put back but share bytes with one that is change with it.
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].outcome == UpdateOutcome::PutBack) {
            continue;
        }
        for (const StoredSector& sector : set.entries[i].sectors) {
            const ByteSpan data{sector.position, sector.position + sector.length};
            // No span is longer than a sector: those that reach into `data` start after this.
            auto it = std::lower_bound(
                spans.begin(), spans.end(), data.start - SECTOR_BYTES,
                [](const ChangedSpan& span, int64_t start) { return span.span.start < start; });
            for (; it != spans.end() && it->span.start < data.end; ++it) {
                std::vector<int>& with = files[it->entry].changesWith;
                if (overlaps(it->span, data) &&
                    files[it->entry].outcome == UpdateOutcome::PutBack &&
                    std::find(with.begin(), with.end(), set.entries[i].index) == with.end()) {
                    with.push_back(set.entries[i].index);
                }
            }
        }
    }
}

} // namespace

bool isRefusal(UpdateOutcome outcome) {
    switch (outcome) {
    case UpdateOutcome::NotChosen:
    case UpdateOutcome::NoFile:
    case UpdateOutcome::OtherEntrys:
    case UpdateOutcome::Unchanged:
    case UpdateOutcome::PutBack:
        return false;
    case UpdateOutcome::TooLong:
    case UpdateOutcome::MissingSectors:
    case UpdateOutcome::SharedSectors:
    case UpdateOutcome::TwoFiles:
    case UpdateOutcome::Unreadable:
        break;
    }
    return true;
}

std::vector<SetNumber> disksGivenTwice(const DiskSetFacts& facts) {
    std::vector<SetNumber> twice;
    for (const SetNumber& number : facts.numbers) {
        if (number.disks.size() > 1) {
            twice.push_back(number);
        }
    }
    return twice;
}

void readEntryBytes(d88::D88Image& image, const UpdateEntry& entry, uint8_t* out) {
    // Only the bytes that no sector gives are zeroed (a run's sectors are at most SECTOR_BYTES
    // long, the last cut to the entry's size).
    const size_t size = static_cast<size_t>(entry.entry.size);
    size_t filled = 0;
    size_t at = 0;
    for (const StoredSector& sector : entry.sectors) {
        zeroBetween(out, filled, at);
        filled =
            at + static_cast<size_t>(image.readBytes(sector.position, out + at, sector.length));
        at += SECTOR_BYTES;
    }
    zeroBetween(out, filled, size);
}

FileUpdate decideFileUpdate(d88::D88Image& image, const UpdateEntry& entry, const FolderFile& file,
                            const uint8_t* bytes, uint8_t* current) {
    FileUpdate update{};
    update.file = file;
    update.sharedWithEntry = -1;
    if (!entry.chosen) {
        update.outcome = UpdateOutcome::NotChosen;
        return update;
    }
    switch (file.state) {
    case FolderFileState::None:
        update.outcome = UpdateOutcome::NoFile;
        return update;
    case FolderFileState::TwoFiles:
    case FolderFileState::Unreadable:
        update.outcome = entry.owner >= 0                          ? UpdateOutcome::OtherEntrys
                         : file.state == FolderFileState::TwoFiles ? UpdateOutcome::TwoFiles
                                                                   : UpdateOutcome::Unreadable;
        return update;
    case FolderFileState::Found:
        break;
    }
    if (entry.owner >= 0) {
        update.outcome = UpdateOutcome::OtherEntrys;
        return update;
    }
    const int64_t size = entry.entry.size;
    update.sectorsNeeded = static_cast<int>((file.length + SECTOR_BYTES - 1) / SECTOR_BYTES);
    if (file.length > size) {
        update.outcome = UpdateOutcome::TooLong;
        return update;
    }
    const size_t length = static_cast<size_t>(file.length);
    if (current != nullptr) {
        readEntryBytes(image, entry, current);
    }
    // Each sector compared where it lies with the file's bytes there; the entry's other bytes are
    // zeros, and so must the file's be for the two to be the same.
    const auto fileZeros = [&](size_t from, size_t to) {
        from = std::min(from, length);
        return allZero(bytes + from, std::max(from, std::min(to, length)) - from);
    };
    int sectorsChanged = 0;
    size_t compared = 0; // the file's bytes up to here are compared or checked
    bool otherBytesZero = true;
    uint8_t scratch[SECTOR_BYTES];
    for (size_t i = 0; i < entry.sectors.size(); ++i) {
        const size_t start = i * SECTOR_BYTES;
        const int stored = entry.sectors[i].length;
        const uint8_t* held = image.viewBytes(entry.sectors[i].position, stored, scratch);
        if (held == nullptr) {
            // Where the image ends: the bytes it gives, zeros after.
            const int64_t got =
                std::max<int64_t>(0, image.readBytes(entry.sectors[i].position, scratch, stored));
            zeroBetween(scratch, static_cast<size_t>(got), static_cast<size_t>(stored));
            held = scratch;
        }
        const size_t end = start + static_cast<size_t>(stored);
        const size_t fromFile = std::min(end, std::max(start, length));
        otherBytesZero = otherBytesZero && fileZeros(compared, start);
        compared = end;
        const bool changed =
            (fromFile > start && memcmp(bytes + start, held, fromFile - start) != 0) ||
            !allZero(held + (fromFile - start), end - fromFile);
        sectorsChanged += changed ? 1 : 0;
    }
    otherBytesZero = otherBytesZero && fileZeros(compared, length);
    if (sectorsChanged == 0 && otherBytesZero) {
        update.outcome = UpdateOutcome::Unchanged;
        return update;
    }
    // Past the sectors that the image holds a read gives zeros: only zeros may stand there.
    const size_t used = withoutZeroTail(bytes, length);
    if (used > static_cast<size_t>(entry.bytesHeld)) {
        update.sectorsNeeded = static_cast<int>((used + SECTOR_BYTES - 1) / SECTOR_BYTES);
        update.outcome = UpdateOutcome::MissingSectors;
        return update;
    }
    update.outcome = UpdateOutcome::PutBack;
    update.sectorsChanged = sectorsChanged;
    for (const StoredSector& sector : entry.sectors) {
        update.statusesCleared += sector.status != d88::STATUS_NORMAL ? 1 : 0;
    }
    return update;
}

UpdatePlan finishUpdatePlan(const UpdateSet& set, std::vector<FileUpdate> files) {
    if (!entriesShareNoBytes(set)) {
        checkSharedBytes(set, files);
    }
    UpdatePlan plan{std::move(files), UpdateSummary{}};
    UpdateSummary& summary = plan.summary;
    for (size_t i = 0; i < plan.files.size(); ++i) {
        const FileUpdate& file = plan.files[i];
        summary.putBack += file.outcome == UpdateOutcome::PutBack ? 1 : 0;
        summary.unchanged += file.outcome == UpdateOutcome::Unchanged ? 1 : 0;
        summary.noFile += file.outcome == UpdateOutcome::NoFile ? 1 : 0;
        summary.refused += isRefusal(file.outcome) ? 1 : 0;
        if (file.outcome == UpdateOutcome::PutBack) {
            summary.shorter += file.file.length < set.entries[i].entry.size ? 1 : 0;
            summary.sectorsWritten += static_cast<int>(set.entries[i].sectors.size());
        }
    }
    return plan;
}

std::vector<ByteChange> updateChanges(const UpdateSet& set, const UpdatePlan& plan,
                                      const std::vector<bool>& made) {
    std::vector<ByteChange> changes;
    for (size_t i = 0; i < plan.files.size(); ++i) {
        if (plan.files[i].outcome != UpdateOutcome::PutBack || (i < made.size() && made[i])) {
            continue;
        }
        const std::vector<StoredSector>& sectors = set.entries[i].sectors;
        for (size_t k = 0; k < sectors.size(); ++k) {
            if (sectors[k].status != d88::STATUS_NORMAL) {
                changes.push_back(ByteChange{statusPosition(sectors[k].position), 1, -1, 0});
            }
            changes.push_back(ByteChange{sectors[k].position, sectors[k].length,
                                         static_cast<int>(i), static_cast<int>(k) * SECTOR_BYTES});
        }
    }
    const auto byPosition = [](const ByteChange& a, const ByteChange& b) {
        return a.position < b.position;
    };
    if (!std::is_sorted(changes.begin(), changes.end(), byPosition)) {
        std::sort(changes.begin(), changes.end(), byPosition);
    }
    return changes;
}

NewBytes newBytesOf(const std::vector<ByteChange>& changes, const UpdatePlan& plan,
                    const NewFiles& files) {
    NewBytes source{&changes,
                    &plan,
                    files,
                    std::vector<int>(plan.files.size(), 0),
                    std::vector<std::vector<uint8_t>>(plan.files.size()),
                    0};
    for (const ByteChange& change : changes) {
        if (change.entry >= 0) {
            ++source.changesLeft[static_cast<size_t>(change.entry)];
        }
    }
    return source;
}

namespace {

// Reads `count` bytes of entry `entry`'s new file from byte `offset` into `out`, zeros past its
// end or where it gives fewer.
void readNewBytes(NewBytes& source, size_t entry, int64_t offset, uint8_t* out, size_t count) {
    const int64_t length = source.plan->files[entry].file.length;
    FILE* file = source.files[entry];
    size_t copied = 0;
    if (offset < length && file != nullptr) {
        std::vector<uint8_t>& held = source.held[entry];
        if (held.empty() &&
            (source.heldBytes == 0 || source.heldBytes + length <= MAX_HELD_BYTES)) {
            held.resize(static_cast<size_t>(length));
            source.heldBytes += length;
            const size_t got =
                d88::seekFile(file, 0, SEEK_SET) ? fread(held.data(), 1, held.size(), file) : 0;
            zeroBetween(held.data(), got, held.size());
        }
        const size_t want = static_cast<size_t>(std::min<int64_t>(length - offset, count));
        if (!held.empty()) {
            memcpy(out, held.data() + offset, want);
            copied = want;
        } else if (d88::seekFile(file, offset, SEEK_SET)) {
            copied = fread(out, 1, want, file);
        }
    }
    zeroBetween(out, copied, count);
}

// Forgets the entry's bytes once its last change is made.
void madeChange(NewBytes& source, size_t entry) {
    int& left = source.changesLeft[entry];
    left = left > 0 ? left - 1 : 0;
    if (left == 0 && !source.held[entry].empty()) {
        source.heldBytes -= static_cast<int64_t>(source.held[entry].size());
        std::vector<uint8_t>().swap(source.held[entry]);
    }
}

} // namespace

int64_t readUpdatedBytes(d88::D88Image& image, NewBytes& source, int64_t position, uint8_t* out,
                         int64_t length) {
    const int64_t got = image.readBytes(position, out, length);
    makeChanges(source, position, out, got);
    return got;
}

void makeChanges(NewBytes& source, int64_t position, uint8_t* out, int64_t length) {
    const std::vector<ByteChange>& changes = *source.changes;
    const int64_t end = position + length;
    auto it = std::lower_bound(
        changes.begin(), changes.end(), position,
        [](const ByteChange& change, int64_t at) { return change.position + change.length <= at; });
    for (; it != changes.end() && it->position < end; ++it) {
        const int64_t from = std::max(position, it->position);
        const int64_t to = std::min(end, it->position + it->length);
        uint8_t* into = out + (from - position);
        const size_t count = static_cast<size_t>(to - from);
        if (it->entry < 0) {
            memset(into, 0, count); // a status byte: read without error
            continue;
        }
        const size_t entry = static_cast<size_t>(it->entry);
        readNewBytes(source, entry, it->fileOffset + (from - it->position), into, count);
        if (to == it->position + it->length) {
            madeChange(source, entry);
        }
    }
}

std::vector<bool> entriesApart(const UpdateSet& set) {
    if (entriesShareNoBytes(set)) {
        return std::vector<bool>(set.entries.size(), true);
    }
    constexpr size_t RESERVED = SIZE_MAX; // the directory's and ID sectors' records
    const auto byStart = [](const ChangedSpan& a, const ChangedSpan& b) {
        return a.span.start < b.span.start;
    };
    std::vector<ChangedSpan> spans;
    spans.reserve(sectorCount(set) * 2);
    for (size_t i = 0; i < set.entries.size(); ++i) {
        addChangedSpans(set.entries[i], i, spans);
    }
    // The entries' sectors mostly follow each other: sorted, the few reserved ones merge in.
    if (!std::is_sorted(spans.begin(), spans.end(), byStart)) {
        std::sort(spans.begin(), spans.end(), byStart);
    }
    std::vector<ChangedSpan> reserved;
    for (const std::vector<ByteSpan>* records : {&set.directory, &set.idSectors}) {
        for (const ByteSpan& span : *records) {
            if (span.end > span.start) {
                reserved.push_back({span, RESERVED});
            }
        }
    }
    std::sort(reserved.begin(), reserved.end(), byStart);
    const size_t entrySpans = spans.size();
    spans.insert(spans.end(), reserved.begin(), reserved.end());
    std::inplace_merge(spans.begin(), spans.begin() + static_cast<std::ptrdiff_t>(entrySpans),
                       spans.end(), byStart);
    // Spans that overlap, one after another, form a group; every span of a group of two or more
    // overlaps another one of it.
    std::vector<bool> apart(set.entries.size(), true);
    for (size_t first = 0; first < spans.size();) {
        int64_t end = spans[first].span.end;
        size_t next = first + 1;
        for (; next < spans.size() && spans[next].span.start < end; ++next) {
            end = std::max(end, spans[next].span.end);
        }
        for (size_t k = first; next - first > 1 && k < next; ++k) {
            if (spans[k].entry != RESERVED) {
                apart[spans[k].entry] = false;
            }
        }
        first = next;
    }
    return apart;
}

void putEntryBytes(const UpdateEntry& entry, const uint8_t* bytes, uint8_t* image, int64_t size) {
    for (size_t k = 0; k < entry.sectors.size(); ++k) {
        const StoredSector& sector = entry.sectors[k];
        const int64_t status = statusPosition(sector.position);
        if (status >= 0 && sector.position + sector.length <= size) {
            memcpy(image + sector.position, bytes + k * SECTOR_BYTES,
                   static_cast<size_t>(sector.length));
            image[status] = d88::STATUS_NORMAL;
        }
    }
}

std::vector<size_t> filesOfNoEntry(const UpdateSet& set, const std::vector<NameTarget>& targets,
                                   const NameRules& rules, const std::vector<std::string>& names) {
    // The keys of the entries' names for each target, sorted to be looked up.
    std::vector<std::vector<std::string>> keys(targets.size());
    for (size_t t = 0; t < targets.size(); ++t) {
        for (const UpdateEntry& entry : set.entries) {
            if (t < entry.names.size() && !entry.names[t].name.empty()) {
                keys[t].push_back(entry.names[t].key);
            }
        }
        std::sort(keys[t].begin(), keys[t].end());
    }
    std::vector<size_t> none;
    for (size_t i = 0; i < names.size(); ++i) {
        bool claimed = false;
        for (size_t t = 0; t < targets.size() && !claimed && !names[i].empty(); ++t) {
            // A saved name's key for the host's names, the name itself for the others.
            const std::string key =
                targets[t] == NameTarget::Host ? rules.sameFileKey(names[i].c_str()) : names[i];
            claimed = std::binary_search(keys[t].begin(), keys[t].end(), key);
        }
        if (!claimed) {
            none.push_back(i);
        }
    }
    return none;
}
