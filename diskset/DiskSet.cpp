#include "DiskSet.h"

#include "CopyCompare.h"
#include "ZipPolicy.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// Where disk `index`'s bytes end as the reader reads them: where it was cut short, or where its
// size says (past the end of the files when they end first).
int64_t readEnd(const d88::D88Image& image, const FoundDisk& disk) {
    const uint32_t limit = image.diskLimit(disk.index);
    return limit != 0 ? disk.start + limit : disk.end;
}

// The track in which the bytes of disk `index` end, when they end before its size says: the
// present track with the highest offset that starts before the end. -1 when none does.
int trackWhereCut(const d88::DiskHeader& header, int64_t start, int64_t end) {
    int cut = -1;
    uint32_t highest = 0;
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        const uint32_t offset = header.trackOffsets[track];
        if (offset != 0 && offset <= header.diskSize && start + offset < end && offset >= highest) {
            highest = offset;
            cut = track;
        }
    }
    return cut;
}

// The disk at `index` as found: its place, size, marks and ID sector. False when its header
// is no D88 disk header.
bool findDisk(d88::D88Image& image, int index, const IdRead& id, FoundDisk& disk) {
    d88::DiskHeader header;
    const int64_t start = image.diskStart(index);
    if (!image.diskHeader(index, header) || !image.looksLikeDiskAt(start)) {
        return false;
    }
    disk = FoundDisk{};
    disk.index = index;
    disk.part = image.partAt(start);
    disk.start = start;
    disk.end = start + header.diskSize;
    disk.id = id;
    disk.setNumber = NO_SET_NUMBER;
    disk.repeatOf = -1;
    disk.pastEnd = disk.end > image.fileSize();
    const uint32_t limit = image.diskLimit(index);
    disk.cutBy = limit != 0 ? image.partAt(start + limit) : -1;
    disk.lastTrack = -1;
    if (disk.pastEnd || disk.cutBy >= 0) {
        disk.lastTrack =
            trackWhereCut(header, start, std::min(readEnd(image, disk), image.fileSize()));
    }
    disk.media = header.mediaType;
    disk.writeProtect = header.writeProtect == d88::WRITE_PROTECTED;
    return true;
}

// The disks whose headers pass the check, in order, up to the first that does not.
void findDisks(d88::D88Image& image, const std::vector<IdRead>& ids, DiskSetFacts& facts) {
    for (int index = 0; index < image.diskCount(); ++index) {
        const IdRead id = static_cast<size_t>(index) < ids.size()
                              ? ids[static_cast<size_t>(index)]
                              : IdRead{-1, IdSector::Missing, 0};
        FoundDisk disk;
        if (!findDisk(image, index, id, disk)) {
            facts.notDiskAt = image.diskStart(index);
            facts.notDiskPart = image.partAt(facts.notDiskAt);
            return;
        }
        facts.disks.push_back(disk);
        if (disk.end == disk.start) {
            return; // a size of 0: the next disk would start here again
        }
    }
}

// Where reading stops, and why; the stray bytes left out between files.
void findUnread(const d88::D88Image& image, DiskSetFacts& facts) {
    const int64_t imageEnd = image.fileSize();
    for (int i = 0; i < image.gapCount(); ++i) {
        const d88::IndexGap gap = image.gap(i);
        if (facts.notDiskAt < 0 || gap.start < facts.notDiskAt) {
            facts.stray.push_back(StrayBytes{image.partAt(gap.start), gap.start, gap.length});
        }
    }
    const int64_t disksEnd =
        facts.disks.empty() ? 0 : std::max(readEnd(image, facts.disks.back()), int64_t{0});
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
}

// The files that hold no disk's byte, and the files given again. A file holds a disk's byte
// when some disk starts before the file ends and ends after it starts. One that holds none is
// no D88 image, unless the reader never looked at it; an empty file holds none, wherever it is
// given.
void findFiles(d88::D88Image& image, const SameFiles& sameFiles, DiskSetFacts& facts) {
    const int64_t imageEnd = image.fileSize();
    for (int part = 0; part < facts.partCount; ++part) {
        if (static_cast<size_t>(part) < sameFiles.size() &&
            sameFiles[static_cast<size_t>(part)] >= 0) {
            facts.partsRepeated.push_back(part);
        }
        const int64_t begin = image.partStart(part);
        const int64_t end = part + 1 < facts.partCount ? image.partStart(part + 1) : imageEnd;
        if (begin == end) {
            facts.partsWithoutDisk.push_back(part);
            continue;
        }
        bool holds = false;
        for (const FoundDisk& disk : facts.disks) {
            // A disk cut short holds nothing past the cut, whatever its size says.
            const int64_t diskEnd = std::max(std::min(readEnd(image, disk), imageEnd),
                                             disk.start + d88::DISK_HEADER_SIZE);
            holds = holds || (disk.start < end && diskEnd > begin);
        }
        if (holds) {
            continue;
        }
        const bool unread = facts.unreadReason == UnreadReason::ReaderLimit &&
                            begin >= facts.unreadFrom && end > begin;
        (unread ? facts.partsUnread : facts.partsWithoutDisk).push_back(part);
        uint8_t head[4] = {};
        const int64_t got =
            unread ? 0 : image.readBytes(begin, head, std::min(end - begin, int64_t{4}));
        if (startsAsZip(head, static_cast<size_t>(got))) {
            facts.partsLikeZip.push_back(part);
        }
    }
    // A disk of a file given again repeats the disk at the same place of the earlier name.
    for (FoundDisk& disk : facts.disks) {
        const int same = static_cast<size_t>(disk.part) < sameFiles.size()
                             ? sameFiles[static_cast<size_t>(disk.part)]
                             : -1;
        if (same < 0) {
            continue;
        }
        const int64_t at = disk.start - image.partStart(disk.part) + image.partStart(same);
        for (const FoundDisk& earlier : facts.disks) {
            if (earlier.start == at && earlier.index < disk.index) {
                disk.repeatOf = earlier.index;
            }
        }
    }
}

// Where each disk's stretch of the files starts: the place of the first disk of the file it
// starts in, or of the file that the disks before it go on from (the pieces of one image). The
// order of the disks in a stretch is that of its bytes, whatever the order of the files given.
std::vector<size_t> stretchStarts(const d88::D88Image& image, const std::vector<FoundDisk>& disks) {
    std::vector<size_t> starts(disks.size(), 0);
    for (size_t place = 1; place < disks.size(); ++place) {
        const FoundDisk& before = disks[place - 1];
        const int64_t lastByte = std::min(readEnd(image, before), image.fileSize()) - 1;
        starts[place] = image.partAt(lastByte) == disks[place].part ? starts[place - 1] : place;
    }
    return starts;
}

// The disks from `first` to `place` (repeats left out) carry 1, 2, ..., k in order: k, else -1.
int numbersBefore(const std::vector<FoundDisk>& disks, size_t first, size_t place) {
    int k = 0;
    for (size_t i = first; i < place; ++i) {
        if (disks[i].repeatOf >= 0) {
            continue;
        }
        if (disks[i].setNumber != k + 1) {
            return -1;
        }
        ++k;
    }
    return k;
}

// A disk whose ID sector cannot be read takes the number its place gives, in its stretch of
// the files: k + 1 when the disks before it there carry 1 to k (the first: when the next there
// carries 2) and no disk carries k + 1 with a clean ID sector.
void numberByPlace(const d88::D88Image& image, std::vector<FoundDisk>& disks,
                   const std::vector<bool>& carried) {
    const std::vector<size_t> starts = stretchStarts(image, disks);
    for (size_t place = 0; place < disks.size(); ++place) {
        FoundDisk& disk = disks[place];
        if (disk.id.state == IdSector::Clean || disk.repeatOf >= 0) {
            continue;
        }
        const int k = numbersBefore(disks, starts[place], place);
        bool placed = k > 0;
        for (size_t next = place + 1;
             k == 0 && next < disks.size() && starts[next] == starts[place]; ++next) {
            if (disks[next].repeatOf < 0) {
                placed = disks[next].id.state == IdSector::Clean && disks[next].id.byte == 2;
                break;
            }
        }
        if (placed && isSetNumber(k + 1) && !carried[static_cast<size_t>(k + 1)]) {
            disk.setNumber = k + 1;
            disk.byPlace = true;
        }
    }
}

// Where exactly one disk without a readable ID sector is left unnumbered and exactly one number
// of the set (1 to the highest carried, Disk D at least) is carried by no disk, that disk is
// taken as it, unless the byte its ID sector stores names another number of the set.
void numberByGap(std::vector<FoundDisk>& disks) {
    int highest = MIN_SET_DISKS;
    for (const FoundDisk& disk : disks) {
        highest = std::max(highest, disk.setNumber);
    }
    std::vector<bool> carried(static_cast<size_t>(highest) + 1, false);
    std::vector<FoundDisk*> unknown;
    for (FoundDisk& disk : disks) {
        if (disk.setNumber != NO_SET_NUMBER) {
            carried[static_cast<size_t>(disk.setNumber)] = true;
        } else if (disk.id.state != IdSector::Clean && disk.repeatOf < 0) {
            unknown.push_back(&disk);
        }
    }
    std::vector<int> missing;
    for (int number = 1; number <= highest; ++number) {
        if (!carried[static_cast<size_t>(number)]) {
            missing.push_back(number);
        }
    }
    if (unknown.size() != 1 || missing.size() != 1) {
        return;
    }
    FoundDisk& disk = *unknown[0];
    const bool namesAnother =
        disk.id.byte >= 1 && disk.id.byte <= highest && disk.id.byte != missing[0];
    if (!namesAnother) {
        disk.setNumber = missing[0];
        disk.byGap = true;
    }
}

// The set number of each disk: the ID byte of a clean ID sector; for a disk whose ID sector
// cannot be read, the number its place gives (numberByPlace), else the one number that no disk
// carries (numberByGap). None of it hangs on the order of the files given.
void numberDisks(const d88::D88Image& image, DiskSetFacts& facts) {
    std::vector<FoundDisk>& disks = facts.disks;
    std::vector<bool> carried(MAX_SET_NUMBER + 2, false);
    for (FoundDisk& disk : disks) {
        if (disk.id.state == IdSector::Clean && isSetNumber(disk.id.byte)) {
            disk.setNumber = disk.id.byte;
            carried[static_cast<size_t>(disk.id.byte)] = true;
        }
    }
    numberByPlace(image, disks, carried);
    numberByGap(disks);
    // A repeat is what the earlier name's disk is.
    for (FoundDisk& disk : disks) {
        if (disk.repeatOf >= 0) {
            const FoundDisk& earlier = disks[static_cast<size_t>(disk.repeatOf)];
            disk.setNumber = earlier.setNumber;
            disk.byPlace = earlier.byPlace;
            disk.byGap = earlier.byGap;
        }
    }
}

// Each set number's copies, grouped by their sectors, and the disks that carry none.
void groupCopies(d88::D88Image& image, DiskSetFacts& facts) {
    for (size_t i = 0; i < facts.disks.size(); ++i) {
        const FoundDisk& disk = facts.disks[i];
        if (disk.repeatOf >= 0) {
            continue;
        }
        if (disk.setNumber == NO_SET_NUMBER) {
            facts.otherIds.push_back(static_cast<int>(i));
            continue;
        }
        SetNumber* number = const_cast<SetNumber*>(findSetNumber(facts, disk.setNumber));
        if (number == nullptr) {
            facts.numbers.push_back(SetNumber{disk.setNumber, {}, {}});
            number = &facts.numbers.back();
        }
        number->disks.push_back(static_cast<int>(i));
        bool grouped = false;
        for (std::vector<int>& group : number->groups) {
            if (sameSectors(image, group[0], static_cast<int>(i))) {
                group.push_back(static_cast<int>(i));
                grouped = true;
                break;
            }
        }
        if (!grouped) {
            number->groups.push_back({static_cast<int>(i)});
        }
    }
    std::sort(facts.numbers.begin(), facts.numbers.end(),
              [](const SetNumber& a, const SetNumber& b) { return a.id < b.id; });
    const SetNumber* diskA = findSetNumber(facts, DISK_A_ID);
    facts.directoryDisk =
        diskA != nullptr ? facts.disks[static_cast<size_t>(diskA->disks[0])].index : -1;
}

} // namespace

std::vector<IdRead> readIdSectors(d88::D88Image& image) {
    std::vector<IdRead> ids;
    const d88::SectorAddress at = setSectorAddress(ID_TRACK, ID_SECTOR);
    for (int index = 0; index < image.diskCount(); ++index) {
        IdRead id{-1, IdSector::Missing, 0};
        d88::SectorPlace place;
        if (image.selectDisk(index)) {
            image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
            if (image.locateSector(at, SECTOR_BYTES, place) > 0) {
                uint8_t byte = 0;
                id.byte = image.readBytes(place.position, &byte, 1) == 1 ? byte : -1;
                id.status = place.marks.status;
                id.state = place.length < SECTOR_BYTES                  ? IdSector::Cut
                           : d88::isReadErrorStatus(place.marks.status) ? IdSector::ReadError
                                                                        : IdSector::Clean;
            }
        }
        ids.push_back(id);
    }
    return ids;
}

std::string diskLetter(int id) {
    return id >= 1 && id <= 26 ? std::string(1, static_cast<char>('A' + id - 1))
                               : std::to_string(id);
}

std::string diskLabel(int id) {
    return (id >= 1 && id <= 26 ? "Disk " : "disk ") + diskLetter(id);
}

const SetNumber* findSetNumber(const DiskSetFacts& facts, int id) {
    for (const SetNumber& number : facts.numbers) {
        if (number.id == id) {
            return &number;
        }
    }
    return nullptr;
}

DiskSetFacts decideDiskSet(d88::D88Image& image, const std::vector<IdRead>& ids,
                           const SameFiles& sameFiles) {
    DiskSetFacts facts{};
    facts.partCount = image.partCount();
    facts.notDiskAt = -1;
    facts.notDiskPart = -1;
    facts.unreadFrom = -1;
    facts.unreadReason = UnreadReason::None;
    facts.unreadPart = -1;
    facts.directoryDisk = -1;
    findDisks(image, ids, facts);
    findUnread(image, facts);
    findFiles(image, sameFiles, facts);
    numberDisks(image, facts);
    groupCopies(image, facts);
    return facts;
}

bool decideJoinedFiles(d88::D88Image& image, const std::vector<d88::ByteSource>& files,
                       JoinedFiles& joined) {
    joined = JoinedFiles{};
    for (size_t file = 0; file < files.size(); ++file) {
        joined.kept.push_back(static_cast<int>(file));
    }
    bool first = true;
    while (!joined.kept.empty()) {
        std::vector<d88::ByteSource> kept;
        for (int file : joined.kept) {
            kept.push_back(files[static_cast<size_t>(file)]);
        }
        if (!image.openSources(kept.data(), static_cast<int>(kept.size()))) {
            return false;
        }
        joined.set = decideDiskSet(image, readIdSectors(image));
        if (first) {
            joined.givenSet = joined.set;
            joined.givenSize = image.fileSize();
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
