// Checks the disks that decideDiskSet finds in the given files, and where the disk choices of
// the programs and of identity send each ID byte, against the reader, the vote on the input's
// bytes (ExpectedDisks.h) and the input's own bytes.
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

// Every disk's ID byte as the reader gives it: the first byte of its ID sector, which a short
// sector still stores; -1 when the sector cannot be read.
inline std::vector<int> readIdBytes(d88::D88Image& image) {
    std::vector<int> ids;
    uint8_t sector[SECTOR_BYTES];
    for (int k = 0; k < image.diskCount(); ++k) {
        const bool read = image.selectDisk(k) &&
                          image.readSector(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR,
                                           SECTOR_SIZE_CODE, sector, SECTOR_BYTES) > 0;
        ids.push_back(read ? sector[0] : -1);
    }
    return ids;
}

// As d88extract-a and d88extract-b find disks: nothing below four disks, the directory on disk
// 0, each ID byte on the first disk in file order that carries it, never on a second copy.
inline ExpectedChoice programsExpected(const std::vector<int>& ids) {
    const int count = static_cast<int>(ids.size());
    ExpectedChoice choice{
        count >= MIN_SET_DISKS, {0}, std::vector<std::vector<int>>(MAX_SET_ID + 1)};
    for (int k = 0; choice.enoughDisks && k < count; ++k) {
        const int id = ids[static_cast<size_t>(k)];
        if (id >= 1 && choice.copiesFor[static_cast<size_t>(id)].empty()) {
            choice.copiesFor[static_cast<size_t>(id)].push_back(k);
        }
    }
    return choice;
}

// By identity, among the disks found: each set number on its first disk and then on every later
// disk whose bytes differ from the first's (`sameBytes`), in file order; the directory on the
// copies of Disk A, else on the first disk.
template <typename SameBytes>
ExpectedChoice identityExpected(const std::vector<int>& ids, int found, SameBytes sameBytes) {
    ExpectedChoice choice{found > 0, {}, std::vector<std::vector<int>>(MAX_SET_ID + 1)};
    for (int k = 0; k < found; ++k) {
        const int id = ids[static_cast<size_t>(k)];
        if (!isSetNumber(id)) {
            continue;
        }
        std::vector<int>& copies = choice.copiesFor[static_cast<size_t>(id)];
        if (copies.empty() || !sameBytes(copies[0], k)) {
            copies.push_back(k);
        }
    }
    if (!choice.copiesFor[DISK_A_ID].empty()) {
        choice.directoryCopies = choice.copiesFor[DISK_A_ID];
    } else if (found > 0) {
        choice.directoryCopies = {0};
    }
    return choice;
}

inline void checkChoice(const DiskChoice& choice, const ExpectedChoice& expected) {
    if (choice.enoughDisks != expected.enoughDisks ||
        (expected.enoughDisks && choice.directoryCopies != expected.directoryCopies) ||
        choice.copiesFor != expected.copiesFor) {
        abort();
    }
}

// What checkDiskSet found: how many disks pass the vote, and the choice by identity among them.
struct CheckedSet {
    int found;
    ExpectedChoice identity;
    bool cut; // a disk was cut short where a later file starts a disk of its own
};

// Checks `facts`, decided from `image` (the bytes `data` as the files `files`), with `ids` the
// reader's ID bytes.
inline CheckedSet checkDiskSet(d88::D88Image& image, const GivenFiles& files, const uint8_t* data,
                               const std::vector<int>& ids, const DiskSetFacts& facts) {
    const int64_t size = files.ends.back();
    const ImageBytesView bytes{data, size};
    // The disks indexed, one after another, each cut short where a later file starts a disk.
    const std::vector<int64_t> partStarts(files.ends.begin(), files.ends.end() - 1);
    const std::vector<IndexedDisk> indexed = expectedDisks(bytes, partStarts);
    if (image.diskCount() != static_cast<int>(indexed.size())) {
        abort();
    }
    bool cut = false;
    for (int k = 0; k < image.diskCount(); ++k) {
        const IndexedDisk& disk = indexed[static_cast<size_t>(k)];
        if (image.diskStart(k) != disk.start || image.diskLimit(k) != disk.limit) {
            abort();
        }
        cut = cut || disk.limit != 0;
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
    // Where each disk's bytes end as read: where it was cut short, else where its size says.
    std::vector<int64_t> readEnds;
    for (int k = 0; k < found; ++k) {
        const FoundDisk& disk = facts.disks[static_cast<size_t>(k)];
        const IndexedDisk& place = indexed[static_cast<size_t>(k)];
        const int64_t start = place.start;
        const int64_t end = start + d88::readU32(data + start + d88::DISK_SIZE_OFFSET);
        readEnds.push_back(place.limit != 0 ? start + place.limit : end);
        if (disk.index != k || disk.start != start || disk.part != files.holding(start) ||
            disk.end != end || disk.pastEnd != (end > size) ||
            disk.cutBy != (place.limit != 0 ? files.holding(start + place.limit) : -1) ||
            disk.setId != ids[static_cast<size_t>(k)] ||
            disk.media != data[start + d88::MEDIA_TYPE_OFFSET] ||
            disk.writeProtect !=
                (data[start + d88::WRITE_PROTECT_OFFSET] == d88::WRITE_PROTECTED)) {
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
    if (facts.unreadFrom != unreadFrom || facts.unreadReason != reason) {
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
            const int64_t diskEnd =
                std::max(readEnds[static_cast<size_t>(k)], start + d88::DISK_HEADER_SIZE);
            holds = holds || (std::max(start, begin) < std::min(diskEnd, end));
        }
        if (holds) {
            continue;
        }
        const bool past = reason == UnreadReason::ReaderLimit && begin >= unreadFrom && begin < end;
        (past ? unread : withoutDisk).push_back(part);
    }
    if (facts.partsWithoutDisk != withoutDisk || facts.partsUnread != unread) {
        abort();
    }

    // Every set number carried, ascending, with all its disks in order; `differ` lists those
    // whose size or bytes as read are not the first copy's. The other disks carry no set number.
    const auto sameBytes = [&](int a, int b) {
        const FoundDisk& x = facts.disks[static_cast<size_t>(a)];
        const FoundDisk& y = facts.disks[static_cast<size_t>(b)];
        const int64_t xEnd = std::min(readEnds[static_cast<size_t>(a)], size);
        const int64_t yEnd = std::min(readEnds[static_cast<size_t>(b)], size);
        return x.end - x.start == y.end - y.start && xEnd - x.start == yEnd - y.start &&
               memcmp(data + x.start, data + y.start, static_cast<size_t>(xEnd - x.start)) == 0;
    };
    std::vector<int> otherIds;
    size_t numbers = 0;
    for (int id = 1; id <= MAX_SET_NUMBER; ++id) {
        std::vector<int> disks;
        std::vector<int> differ;
        for (int k = 0; k < found; ++k) {
            if (ids[static_cast<size_t>(k)] != id) {
                continue;
            }
            if (!disks.empty() && !sameBytes(disks[0], k)) {
                differ.push_back(k);
            }
            disks.push_back(k);
        }
        if (disks.empty()) {
            continue;
        }
        const SetNumber* number = findSetNumber(facts, id);
        if (numbers >= facts.numbers.size() || &facts.numbers[numbers] != number ||
            number->disks != disks || number->differ != differ) {
            abort();
        }
        ++numbers;
    }
    for (int k = 0; k < found; ++k) {
        if (!isSetNumber(ids[static_cast<size_t>(k)])) {
            otherIds.push_back(k);
        }
    }
    if (numbers != facts.numbers.size() || facts.otherIds != otherIds) {
        abort();
    }
    // The directory's disk: the first with ID byte 01, else the first disk.
    const ExpectedChoice identity = identityExpected(ids, found, sameBytes);
    if (facts.directoryDisk !=
        (identity.directoryCopies.empty() ? -1 : identity.directoryCopies[0])) {
        abort();
    }
    return CheckedSet{found, identity, cut};
}
