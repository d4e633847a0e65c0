#include "DiskSet.h"

#include "SetFormat.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// The bytes of `disk` as it is read, header included: up to where its size says, where it was
// cut short, or where the files end, whichever comes first.
int64_t bytesAsRead(const d88::D88Image& image, const FoundDisk& disk) {
    const uint32_t limit = image.diskLimit(disk.index);
    return std::min(limit != 0 ? disk.start + limit : disk.end, image.fileSize()) - disk.start;
}

// True when disks `a` and `b` claim one size and their bytes as read are the same: a disk cut
// short where the next file starts is the same as one whose files end there.
bool sameBytes(d88::D88Image& image, const FoundDisk& a, const FoundDisk& b) {
    const int64_t length = bytesAsRead(image, a);
    if (a.end - a.start != b.end - b.start || bytesAsRead(image, b) != length) {
        return false;
    }
    constexpr int64_t CHUNK = 65536;
    std::vector<uint8_t> left(CHUNK);
    std::vector<uint8_t> right(CHUNK);
    for (int64_t done = 0; done < length; done += CHUNK) {
        const int64_t piece = std::min(CHUNK, length - done);
        if (image.readBytes(a.start + done, left.data(), piece) != piece ||
            image.readBytes(b.start + done, right.data(), piece) != piece ||
            !std::equal(left.begin(), left.begin() + piece, right.begin())) {
            return false;
        }
    }
    return true;
}

} // namespace

int readSetId(d88::D88Image& image, int index) {
    if (!image.selectDisk(index)) {
        return NO_SET_ID;
    }
    const d88::SectorAddress at = setSectorAddress(ID_TRACK, ID_SECTOR);
    uint8_t id = 0;
    return image.readSector(at.track, at.c, at.h, at.r, at.n, &id, 1) == 1 ? id : NO_SET_ID;
}

std::string diskLabel(int id) {
    if (id >= 1 && id <= 26) {
        return std::string("Disk ") + static_cast<char>('A' + id - 1);
    }
    return "disk " + std::to_string(id);
}

const SetNumber* findSetNumber(const DiskSetFacts& facts, int id) {
    for (const SetNumber& number : facts.numbers) {
        if (number.id == id) {
            return &number;
        }
    }
    return nullptr;
}

DiskSetFacts decideDiskSet(d88::D88Image& image) {
    DiskSetFacts facts{};
    facts.partCount = image.partCount();
    facts.notDiskAt = -1;
    facts.notDiskPart = -1;
    facts.directoryDisk = -1;
    const int64_t imageEnd = image.fileSize();
    for (int index = 0; index < image.diskCount(); ++index) {
        d88::DiskHeader header;
        const int64_t start = image.diskStart(index);
        if (!image.diskHeader(index, header) || !image.looksLikeDiskAt(start)) {
            facts.notDiskAt = start;
            facts.notDiskPart = image.partAt(start);
            break;
        }
        FoundDisk disk{};
        disk.index = index;
        disk.part = image.partAt(start);
        disk.start = start;
        disk.end = start + header.diskSize;
        disk.pastEnd = disk.end > imageEnd;
        const uint32_t limit = image.diskLimit(index);
        disk.cutBy = limit != 0 ? image.partAt(start + limit) : -1;
        disk.setId = readSetId(image, index);
        disk.media = header.mediaType;
        disk.writeProtect = header.writeProtect == d88::WRITE_PROTECTED;
        facts.disks.push_back(disk);
        if (header.diskSize == 0) {
            break; // the next disk would start here again
        }
    }
    // Where reading stops, and why.
    facts.unreadFrom = -1;
    facts.unreadReason = UnreadReason::None;
    facts.unreadPart = -1;
    const int64_t disksEnd =
        facts.disks.empty()
            ? 0
            : facts.disks.back().start + (image.diskLimit(facts.disks.back().index) != 0
                                              ? image.diskLimit(facts.disks.back().index)
                                              : facts.disks.back().end - facts.disks.back().start);
    if (facts.notDiskAt >= 0) {
        facts.unreadFrom = facts.notDiskAt;
        facts.unreadReason = UnreadReason::NotDisk;
    } else if (disksEnd < imageEnd) {
        facts.unreadFrom = disksEnd;
        const bool limit = image.diskCount() == d88::MAX_DISKS || disksEnd > INT32_MAX;
        facts.unreadReason = limit ? UnreadReason::ReaderLimit
                             : imageEnd - disksEnd < d88::DISK_HEADER_SIZE ? UnreadReason::TooShort
                                                                           : UnreadReason::NotDisk;
    }
    if (facts.unreadFrom >= 0) {
        facts.unreadPart = image.partAt(facts.unreadFrom);
    }
    // A file holds a disk's byte when some disk starts before the file ends and ends after it
    // starts. One that holds none is no D88 image, unless the reader never looked at it; an
    // empty file holds none, wherever it is given.
    for (int part = 0; part < facts.partCount; ++part) {
        const int64_t begin = image.partStart(part);
        const int64_t end = part + 1 < facts.partCount ? image.partStart(part + 1) : imageEnd;
        bool holds = false;
        if (begin == end) {
            facts.partsWithoutDisk.push_back(part);
            continue;
        }
        for (const FoundDisk& disk : facts.disks) {
            // A disk cut short holds nothing past the cut, whatever its size says.
            const int64_t diskEnd =
                std::max(disk.start + bytesAsRead(image, disk), disk.start + d88::DISK_HEADER_SIZE);
            holds = holds || (disk.start < end && diskEnd > begin);
        }
        if (holds) {
            continue;
        }
        const bool unread = facts.unreadReason == UnreadReason::ReaderLimit &&
                            begin >= facts.unreadFrom && end > begin;
        (unread ? facts.partsUnread : facts.partsWithoutDisk).push_back(part);
    }
    for (int i = 0; i < static_cast<int>(facts.disks.size()); ++i) {
        const FoundDisk& disk = facts.disks[static_cast<size_t>(i)];
        if (!isSetNumber(disk.setId)) {
            facts.otherIds.push_back(i);
            continue;
        }
        SetNumber* number = const_cast<SetNumber*>(findSetNumber(facts, disk.setId));
        if (number == nullptr) {
            facts.numbers.push_back(SetNumber{disk.setId, {}, {}});
            number = &facts.numbers.back();
        } else if (!sameBytes(image, facts.disks[static_cast<size_t>(number->disks[0])], disk)) {
            number->differ.push_back(i);
        }
        number->disks.push_back(i);
    }
    std::sort(facts.numbers.begin(), facts.numbers.end(),
              [](const SetNumber& a, const SetNumber& b) { return a.id < b.id; });
    const SetNumber* diskA = findSetNumber(facts, DISK_A_ID);
    if (diskA != nullptr) {
        facts.directoryDisk = facts.disks[static_cast<size_t>(diskA->disks[0])].index;
    } else if (!facts.disks.empty()) {
        facts.directoryDisk = facts.disks[0].index;
    }
    return facts;
}

bool decideJoinedFiles(d88::D88Image& image, int count,
                       bool (*open)(const std::vector<int>& kept, void* context), void* context,
                       JoinedFiles& joined) {
    joined = JoinedFiles{};
    for (int file = 0; file < count; ++file) {
        joined.kept.push_back(file);
    }
    bool first = true;
    while (!joined.kept.empty()) {
        if (!open(joined.kept, context)) {
            return false;
        }
        joined.set = decideDiskSet(image);
        if (first) {
            joined.givenSet = joined.set;
            first = false;
        }
        const DiskSetFacts& set = joined.set;
        const bool startsWithNoDisk =
            set.notDiskAt >= 0 && set.notDiskAt == image.partStart(set.notDiskPart);
        // The files after one that starts with no disk may hold disks once it is gone.
        const std::vector<int> drop =
            startsWithNoDisk ? std::vector<int>{set.notDiskPart} : set.partsWithoutDisk;
        if (drop.empty()) {
            break;
        }
        for (auto place = drop.rbegin(); place != drop.rend(); ++place) {
            joined.leftOut.push_back(joined.kept[static_cast<size_t>(*place)]);
            joined.kept.erase(joined.kept.begin() + *place);
        }
    }
    std::sort(joined.leftOut.begin(), joined.leftOut.end());
    if (joined.kept.empty()) {
        image.close();
        joined.set = DiskSetFacts{};
    }
    return true;
}
