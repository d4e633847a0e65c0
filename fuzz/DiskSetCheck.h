// Checks the disks that decideDiskSet finds in the given files, and where the disk choices of
// the programs and of identity send each set number, against the reader, the vote on the
// input's bytes (ExpectedDisks.h) and the input's own bytes: each disk's ID sector as it reads,
// the set number it is taken as (its clean ID byte, else the one its place or the one number
// missing gives), the files
// given again, and the copies of each set number grouped by their sectors.
#pragma once

#include "ExpectedDisks.h"
#include "PlanCheck.h"

#include "DiskSet.h"
#include "Plan.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// Every indexed disk's ID sector as the reader reads it: its first byte when it stores any,
// whole and clean, cut short (fewer than 1024 bytes stored), with a read-error status, or
// missing (no byte stored). Checked against readIdSectors, which it returns.
inline std::vector<IdRead> checkIdSectors(d88::D88Image& image) {
    std::vector<IdRead> ids;
    uint8_t sector[SECTOR_BYTES];
    for (int k = 0; k < image.diskCount(); ++k) {
        IdRead id{-1, IdSector::Missing, 0};
        if (image.selectDisk(k)) {
            image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
            const int stored = image.readSector(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR,
                                                SECTOR_SIZE_CODE, sector, SECTOR_BYTES);
            d88::SectorPlace place;
            image.locateSector(setSectorAddress(ID_TRACK, ID_SECTOR), SECTOR_BYTES, place);
            if (stored > 0) {
                id.byte = sector[0];
                id.status = place.marks.status;
                id.state = stored < SECTOR_BYTES                        ? IdSector::Cut
                           : d88::isReadErrorStatus(place.marks.status) ? IdSector::ReadError
                                                                        : IdSector::Clean;
            }
        }
        ids.push_back(id);
    }
    const std::vector<IdRead> read = readIdSectors(image);
    if (read.size() != ids.size()) {
        abort();
    }
    for (size_t k = 0; k < ids.size(); ++k) {
        if (read[k].byte != ids[k].byte || read[k].state != ids[k].state ||
            read[k].status != ids[k].status) {
            abort();
        }
    }
    return ids;
}

// As d88extract-a and d88extract-b find disks: nothing below four disks, the directory on disk
// 0, each set number on the first disk in file order whose ID byte (as stored, whatever its
// status) is that number.
inline ExpectedChoice programsExpected(const std::vector<IdRead>& ids) {
    const int count = static_cast<int>(ids.size());
    ExpectedChoice choice{
        count >= MIN_SET_DISKS, true, {0}, std::vector<std::vector<int>>(MAX_SET_NUMBER + 1)};
    for (int k = 0; choice.enoughDisks && k < count; ++k) {
        const int id = ids[static_cast<size_t>(k)].byte;
        if (id >= 1 && id <= MAX_SET_NUMBER && choice.copiesFor[static_cast<size_t>(id)].empty()) {
            choice.copiesFor[static_cast<size_t>(id)].push_back(k);
        }
    }
    return choice;
}

// The records of every track of disk `disk` as the walk finds them, each ID once (the first
// record of it, as a search finds it): track, ID, where its data lies, its stored length and
// status; into `sectors`, by track and ID. `ids` is the caller's scratch.
struct SectorOfDisk {
    int track;
    d88::SectorId id;
    int64_t position;
    int length;
    uint8_t status;
};

inline void sectorsOfDisk(d88::D88Image& image, int disk, std::vector<SectorOfDisk>& sectors,
                          std::vector<d88::SectorId>& ids) {
    sectors.clear();
    if (!image.selectDisk(disk)) {
        abort();
    }
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        const d88::TrackWalk* walk = image.walkTrack(track);
        ids.clear(); // a search may walk again, over the walk's records
        for (int i = 0; walk != nullptr && i < walk->recordCount; ++i) {
            ids.push_back(walk->records[i].id);
        }
        const size_t first = sectors.size();
        for (const d88::SectorId& id : ids) {
            const bool seen = std::any_of(sectors.begin() + static_cast<std::ptrdiff_t>(first),
                                          sectors.end(), [&](const SectorOfDisk& s) {
                                              return s.id.c == id.c && s.id.h == id.h &&
                                                     s.id.r == id.r && s.id.n == id.n;
                                          });
            if (seen) {
                continue;
            }
            d88::SectorPlace place;
            image.locateSector(d88::SectorAddress{track, id.c, id.h, id.r, id.n}, 1 << 16, place);
            if (place.position < 0) {
                abort(); // a walked record that a search does not find
            }
            sectors.push_back(
                SectorOfDisk{track, id, place.position, place.length, place.marks.status});
        }
        std::sort(sectors.begin() + static_cast<std::ptrdiff_t>(first), sectors.end(),
                  [](const SectorOfDisk& a, const SectorOfDisk& b) {
                      return std::make_tuple(a.id.c, a.id.h, a.id.r, a.id.n) <
                             std::make_tuple(b.id.c, b.id.h, b.id.r, b.id.n);
                  });
    }
}

// True when disks `a` and `b` hold every sector alike: the same IDs on every track, each with
// the same status and the same stored bytes.
inline bool sameSectorsAgain(d88::D88Image& image, const std::vector<SectorOfDisk>& a,
                             const std::vector<SectorOfDisk>& b, std::vector<uint8_t>& scratch) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const SectorOfDisk& x = a[i];
        const SectorOfDisk& y = b[i];
        if (x.track != y.track || x.id.c != y.id.c || x.id.h != y.id.h || x.id.r != y.id.r ||
            x.id.n != y.id.n || x.status != y.status || x.length != y.length) {
            return false;
        }
        if (x.length == 0) {
            continue;
        }
        scratch.resize(2 * static_cast<size_t>(x.length));
        if (image.readBytes(x.position, scratch.data(), x.length) != x.length ||
            image.readBytes(y.position, scratch.data() + x.length, y.length) != y.length ||
            memcmp(scratch.data(), scratch.data() + x.length, static_cast<size_t>(x.length)) != 0) {
            return false;
        }
    }
    return true;
}

// What checkDiskSet found: how many disks pass the vote, and the choice by identity among them.
struct CheckedSet {
    int found;
    ExpectedChoice identity;
    bool resynced; // a disk was cut short where a later file starts a disk of its own, or bytes
                   // after a file's last disk were passed over
};

// The set number of each disk (by place in the found disks) and whether its place or the one
// number missing gave it: the ID byte of a clean ID sector; for a disk whose ID sector cannot be
// read, k + 1 when the disks before it in its stretch (`stretch` the place of the stretch's
// first disk; repeats left out) carry 1 to k (the first disk of a stretch: when the next one in
// it carries 2 with a clean ID sector) and no disk carries k + 1 with a clean ID sector; else,
// when it is the one such disk left without a number and exactly one number from 1 to the
// highest carried (4 at least) is carried by none, that number, unless its ID sector's byte
// names another of them. A repeat is what the disk it repeats is.
inline void expectedNumbers(const std::vector<IdRead>& ids, const std::vector<int>& repeatOf,
                            const std::vector<size_t>& stretch, std::vector<int>& numbers,
                            std::vector<bool>& byPlace, std::vector<bool>& byGap) {
    const size_t found = repeatOf.size();
    numbers.assign(found, NO_SET_NUMBER);
    byPlace.assign(found, false);
    byGap.assign(found, false);
    std::vector<bool> carried(MAX_SET_NUMBER + 2, false);
    for (size_t k = 0; k < found; ++k) {
        const IdRead& id = ids[k];
        if (repeatOf[k] < 0 && id.state == IdSector::Clean && isSetNumber(id.byte)) {
            numbers[k] = id.byte;
            carried[static_cast<size_t>(id.byte)] = true;
        }
    }
    for (size_t k = 0; k < found; ++k) {
        if (repeatOf[k] >= 0 || ids[k].state == IdSector::Clean) {
            continue;
        }
        std::vector<size_t> before; // the disks before it in its stretch, repeats left out
        for (size_t i = stretch[k]; i < k; ++i) {
            if (repeatOf[i] < 0) {
                before.push_back(i);
            }
        }
        bool inOrder = true;
        for (size_t i = 0; i < before.size(); ++i) {
            inOrder = inOrder && numbers[before[i]] == static_cast<int>(i) + 1;
        }
        const int k1 = static_cast<int>(before.size()) + 1;
        bool placed = inOrder && !before.empty();
        if (before.empty()) {
            for (size_t next = k + 1; next < found && stretch[next] == stretch[k]; ++next) {
                if (repeatOf[next] < 0) {
                    placed = ids[next].state == IdSector::Clean && ids[next].byte == 2;
                    break;
                }
            }
        }
        if (placed && isSetNumber(k1) && !carried[static_cast<size_t>(k1)]) {
            numbers[k] = k1;
            byPlace[k] = true;
        }
    }
    int highest = MIN_SET_DISKS;
    for (size_t k = 0; k < found; ++k) {
        highest = std::max(highest, numbers[k]);
    }
    std::vector<size_t> unknown;
    std::vector<int> missing;
    for (int number = 1; number <= highest; ++number) {
        if (std::find(numbers.begin(), numbers.end(), number) == numbers.end()) {
            missing.push_back(number);
        }
    }
    for (size_t k = 0; k < found; ++k) {
        if (numbers[k] == NO_SET_NUMBER && repeatOf[k] < 0 && ids[k].state != IdSector::Clean) {
            unknown.push_back(k);
        }
    }
    if (unknown.size() == 1 && missing.size() == 1) {
        const int byte = ids[unknown[0]].byte;
        if (!(byte >= 1 && byte <= highest && byte != missing[0])) {
            numbers[unknown[0]] = missing[0];
            byGap[unknown[0]] = true;
        }
    }
    for (size_t k = 0; k < found; ++k) {
        if (repeatOf[k] >= 0) {
            numbers[k] = numbers[static_cast<size_t>(repeatOf[k])];
            byPlace[k] = byPlace[static_cast<size_t>(repeatOf[k])];
            byGap[k] = byGap[static_cast<size_t>(repeatOf[k])];
        }
    }
}

// Checks `facts`, decided from `image` (the bytes `data` as the files `files`, of which
// `sameFiles` says which are given again), with `ids` the ID sectors as checkIdSectors read
// them.
inline CheckedSet checkDiskSet(d88::D88Image& image, const GivenFiles& files, const uint8_t* data,
                               const std::vector<IdRead>& ids, const SameFiles& sameFiles,
                               const DiskSetFacts& facts) {
    const int64_t size = files.ends.back();
    const ImageBytesView bytes{data, size};
    // The disks indexed, one after another, each cut short where a later file starts a disk,
    // and the bytes passed over after a file's last disk.
    const std::vector<int64_t> partStarts(files.ends.begin(), files.ends.end() - 1);
    const ExpectedIndex index = expectedDisks(bytes, partStarts);
    const std::vector<IndexedDisk>& indexed = index.disks;
    if (image.diskCount() != static_cast<int>(indexed.size()) ||
        image.gapCount() != static_cast<int>(index.gaps.size())) {
        abort();
    }
    bool resynced = !index.gaps.empty();
    for (int k = 0; k < image.diskCount(); ++k) {
        const IndexedDisk& disk = indexed[static_cast<size_t>(k)];
        if (image.diskStart(k) != disk.start || image.diskLimit(k) != disk.limit) {
            abort();
        }
        resynced = resynced || disk.limit != 0;
    }
    // The disks found: those indexed up to the first whose header fails the vote.
    int found = 0;
    while (found < image.diskCount() &&
           votesDisk(bytes, indexed[static_cast<size_t>(found)].start)) {
        ++found;
    }
    const int64_t notDiskAt =
        found < image.diskCount() ? indexed[static_cast<size_t>(found)].start : -1;
    if (facts.partCount != files.count() || facts.disks.size() != static_cast<size_t>(found) ||
        facts.notDiskAt != notDiskAt ||
        facts.notDiskPart != (notDiskAt < 0 ? -1 : files.holding(notDiskAt))) {
        abort();
    }
    // Bytes passed over before the disks end are stray bytes of the file that holds them.
    std::vector<PassedOver> stray;
    for (const PassedOver& gap : index.gaps) {
        if (notDiskAt < 0 || gap.start < notDiskAt) {
            stray.push_back(gap);
        }
    }
    if (facts.stray.size() != stray.size()) {
        abort();
    }
    for (size_t i = 0; i < stray.size(); ++i) {
        if (facts.stray[i].start != stray[i].start || facts.stray[i].length != stray[i].length ||
            facts.stray[i].part != files.holding(stray[i].start)) {
            abort();
        }
    }
    // The files given again, and the disk that each disk of such a file repeats: the one at the
    // same place of the earlier name.
    std::vector<int> repeated;
    for (int part = 0; part < files.count(); ++part) {
        if (static_cast<size_t>(part) < sameFiles.size() &&
            sameFiles[static_cast<size_t>(part)] >= 0) {
            repeated.push_back(part);
        }
    }
    std::vector<int> repeatOf(static_cast<size_t>(found), -1);
    for (int k = 0; k < found; ++k) {
        const int64_t start = indexed[static_cast<size_t>(k)].start;
        const int part = files.holding(start);
        const int same = static_cast<size_t>(part) < sameFiles.size()
                             ? sameFiles[static_cast<size_t>(part)]
                             : -1;
        for (int earlier = 0; same >= 0 && earlier < k; ++earlier) {
            if (indexed[static_cast<size_t>(earlier)].start ==
                start - files.ends[static_cast<size_t>(part)] +
                    files.ends[static_cast<size_t>(same)]) {
                repeatOf[static_cast<size_t>(k)] = earlier;
            }
        }
    }
    // A disk's stretch: the disks of its file, and of the files that a disk before it runs on
    // into (the pieces of one image), in the order of their bytes.
    std::vector<size_t> stretch(static_cast<size_t>(found), 0);
    for (int k = 1; k < found; ++k) {
        const int64_t start = indexed[static_cast<size_t>(k - 1)].start;
        const uint32_t limit = indexed[static_cast<size_t>(k - 1)].limit;
        const int64_t end =
            limit != 0 ? start + limit : start + d88::readU32(data + start + d88::DISK_SIZE_OFFSET);
        const bool same = files.holding(std::min(end, size) - 1) ==
                          files.holding(indexed[static_cast<size_t>(k)].start);
        stretch[static_cast<size_t>(k)] =
            same ? stretch[static_cast<size_t>(k - 1)] : static_cast<size_t>(k);
    }
    std::vector<int> numbers;
    std::vector<bool> byPlace;
    std::vector<bool> byGap;
    expectedNumbers(ids, repeatOf, stretch, numbers, byPlace, byGap);
    // Where each disk's bytes end as read: where it was cut short, else where its size says.
    std::vector<int64_t> readEnds;
    for (int k = 0; k < found; ++k) {
        const size_t place = static_cast<size_t>(k);
        const FoundDisk& disk = facts.disks[place];
        const int64_t start = indexed[place].start;
        const uint8_t* header = data + start;
        const uint32_t diskSize = d88::readU32(header + d88::DISK_SIZE_OFFSET);
        const int64_t end = start + diskSize;
        const int64_t limit = indexed[place].limit;
        readEnds.push_back(limit != 0 ? start + limit : end);
        const int cutBy = limit != 0 ? files.holding(start + limit) : -1;
        // Cut short or past the files: the present track inside the disk with the highest
        // offset that starts before its bytes end (of equal offsets, the last).
        int lastTrack = -1;
        if (end > size || cutBy >= 0) {
            const int64_t bytesEnd = std::min(readEnds.back(), size);
            uint32_t highest = 0;
            for (int track = 0; track < d88::MAX_TRACKS; ++track) {
                const uint32_t offset = d88::readU32(header + d88::TRACK_TABLE_OFFSET + 4 * track);
                if (offset != 0 && offset <= diskSize && start + offset < bytesEnd &&
                    offset >= highest) {
                    highest = offset;
                    lastTrack = track;
                }
            }
        }
        const IdRead& id = ids[place];
        if (disk.index != k || disk.start != start || disk.part != files.holding(start) ||
            disk.end != end || disk.pastEnd != (end > size) || disk.cutBy != cutBy ||
            disk.lastTrack != lastTrack || disk.id.byte != id.byte || disk.id.state != id.state ||
            disk.id.status != id.status || disk.repeatOf != repeatOf[place] ||
            disk.setNumber != numbers[place] || disk.byPlace != byPlace[place] ||
            disk.byGap != byGap[place] || disk.media != header[d88::MEDIA_TYPE_OFFSET] ||
            disk.writeProtect != (header[d88::WRITE_PROTECT_OFFSET] == d88::WRITE_PROTECTED)) {
            abort();
        }
    }

    // Reading stops at the first header that fails the vote, else where the last disk ends:
    // bytes after it are unread because the reader stops at 64 disks (or past 2^31 - 1), or
    // because they are too few for a header.
    int64_t unreadFrom = -1;
    UnreadReason reason = UnreadReason::None;
    const int64_t disksEnd = found == 0 ? 0 : readEnds.back();
    if (notDiskAt >= 0) {
        unreadFrom = notDiskAt;
        reason = UnreadReason::NotDisk;
    } else if (disksEnd < size) {
        unreadFrom = disksEnd;
        reason = image.diskCount() == d88::MAX_DISKS || disksEnd > 0x7FFFFFFF
                     ? UnreadReason::ReaderLimit
                 : size - disksEnd < d88::DISK_HEADER_SIZE ? UnreadReason::TooShort
                                                           : UnreadReason::NotDisk;
    }
    if (facts.unreadFrom != unreadFrom || facts.unreadReason != reason ||
        facts.unreadPart != (unreadFrom < 0 ? -1 : files.holding(unreadFrom))) {
        abort();
    }

    // A file holds no disk when it is empty or no byte of it lies in a found disk as read: from
    // its header's start to where it ends or was cut short, and its whole header however small
    // its size says it is. Such a file lying wholly past where the reader stopped at its limits
    // was never looked at; the others are no D88 images.
    std::vector<int> withoutDisk;
    std::vector<int> unread;
    for (int part = 0; part < files.count(); ++part) {
        const int64_t begin = files.ends[static_cast<size_t>(part)];
        const int64_t end = files.ends[static_cast<size_t>(part) + 1];
        bool holds = false;
        for (int k = 0; k < found && begin < end; ++k) {
            const int64_t start = indexed[static_cast<size_t>(k)].start;
            const int64_t diskEnd = std::max(std::min(readEnds[static_cast<size_t>(k)], size),
                                             start + d88::DISK_HEADER_SIZE);
            holds = holds || (std::max(start, begin) < std::min(diskEnd, end));
        }
        if (holds) {
            continue;
        }
        const bool past = reason == UnreadReason::ReaderLimit && begin >= unreadFrom && begin < end;
        (past ? unread : withoutDisk).push_back(part);
    }
    if (facts.partsWithoutDisk != withoutDisk || facts.partsUnread != unread ||
        facts.partsRepeated != repeated) {
        abort();
    }

    // Every set number carried, ascending, with its disks in order (repeats left out), grouped
    // by their sectors: each group the disks alike with its first, the groups in the order of
    // their first disks. The other disks carry no set number.
    std::vector<std::vector<SectorOfDisk>> sectors(static_cast<size_t>(found));
    std::vector<bool> listed(static_cast<size_t>(found), false);
    std::vector<uint8_t> scratch;
    std::vector<d88::SectorId> walkedIds;
    const auto sectorsOf = [&](int k) -> const std::vector<SectorOfDisk>& {
        if (!listed[static_cast<size_t>(k)]) {
            sectorsOfDisk(image, k, sectors[static_cast<size_t>(k)], walkedIds);
            listed[static_cast<size_t>(k)] = true;
        }
        return sectors[static_cast<size_t>(k)];
    };
    ExpectedChoice identity{false, false, {}, std::vector<std::vector<int>>(MAX_SET_NUMBER + 1)};
    size_t checkedNumbers = 0;
    for (int id = 1; id <= MAX_SET_NUMBER; ++id) {
        std::vector<int> disks;
        std::vector<std::vector<int>> groups;
        for (int k = 0; k < found; ++k) {
            if (numbers[static_cast<size_t>(k)] != id || repeatOf[static_cast<size_t>(k)] >= 0) {
                continue;
            }
            disks.push_back(k);
            auto group = std::find_if(groups.begin(), groups.end(), [&](const std::vector<int>& g) {
                return sameSectorsAgain(image, sectorsOf(g[0]), sectorsOf(k), scratch);
            });
            if (group == groups.end()) {
                groups.push_back({k});
            } else {
                group->push_back(k);
            }
        }
        if (disks.empty()) {
            continue;
        }
        const SetNumber* number = findSetNumber(facts, id);
        if (checkedNumbers >= facts.numbers.size() || &facts.numbers[checkedNumbers] != number ||
            number->disks != disks || number->groups != groups) {
            abort();
        }
        ++checkedNumbers;
        identity.copiesFor[static_cast<size_t>(id)] =
            groups.size() > 1 ? disks : std::vector<int>{disks[0]};
    }
    std::vector<int> otherIds;
    for (int k = 0; k < found; ++k) {
        if (repeatOf[static_cast<size_t>(k)] < 0 &&
            numbers[static_cast<size_t>(k)] == NO_SET_NUMBER) {
            otherIds.push_back(k);
        }
    }
    if (checkedNumbers != facts.numbers.size() || facts.otherIds != otherIds) {
        abort();
    }
    // The directory's disk: the first disk taken as Disk A; by identity the directory is read
    // from the copies of Disk A, and nothing is read without one.
    identity.directoryCopies = identity.copiesFor[DISK_A_ID];
    identity.enoughDisks = !identity.directoryCopies.empty();
    const std::vector<int>& diskA = identity.directoryCopies;
    if (facts.directoryDisk != (diskA.empty() ? -1 : diskA[0])) {
        abort();
    }
    return CheckedSet{found, identity, resynced};
}
