#include "DiskInfo.h"

#include "DiskSet.h"
#include "Host.h"

namespace {

// A track is listed when its table entry is present: not 0 and not past the disk's size.
bool isListed(const d88::D88Image& image, int track) {
    const uint32_t offset = image.trackOffset(track);
    return offset != 0 && offset <= image.diskSize();
}

// The position past the last byte the walk read: its records, and the header that ended it.
int64_t walkReach(const d88::TrackWalk& walk) {
    const bool readNextHeader =
        walk.end == d88::WalkEnd::ZeroCount || walk.end == d88::WalkEnd::EndOfFile;
    return walk.next + (readNextHeader ? d88::SECTOR_RECORD_HEADER_SIZE : 0);
}

// A record's marks, when it has any: "(status=b0,deleted,single-density,length=100)".
void printMarks(const d88::WalkedRecord& record, FILE* out) {
    const d88::SectorMarks& marks = record.marks;
    const bool nominalLength = record.id.n < 16 && record.dataLength == (128 << record.id.n);
    const char* separator = "(";
    if (marks.status != d88::STATUS_NORMAL) {
        hostPrintf(out, "%sstatus=%02x", separator, marks.status);
        separator = ",";
    }
    if (marks.deleted == d88::DELETED_DATA_MARK) {
        hostPrintf(out, "%sdeleted", separator);
        separator = ",";
    }
    if (marks.density == d88::SINGLE_DENSITY) {
        hostPrintf(out, "%ssingle-density", separator);
        separator = ",";
    }
    if (!nominalLength) {
        hostPrintf(out, "%slength=%d", separator, record.dataLength);
        separator = ",";
    }
    if (separator[0] == ',') {
        hostPrintf(out, "%c", ')');
    }
}

// The number of records on the disk's present tracks that the image stores with a read-error
// status.
int countErrorRecords(d88::D88Image& image) {
    int count = 0;
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        const d88::TrackWalk* walk = isListed(image, track) ? image.walkTrack(track) : nullptr;
        for (int i = 0; walk != nullptr && i < walk->recordCount; ++i) {
            count += d88::isReadErrorStatus(walk->records[i].marks.status) ? 1 : 0;
        }
    }
    return count;
}

// What the disk's size says about the file: it points past its end, it is 0 (the next disk is
// this one again), or the file holds bytes after it that no program reads.
void printSizeNotes(const d88::D88Image& image, int index, FILE* out) {
    const int64_t end = static_cast<int64_t>(image.diskOffset()) + image.diskSize();
    const int64_t fileSize = image.fileSize();
    if (end > fileSize) {
        hostPrintf(out, "  (size points %lld bytes past the end of the file)",
                   static_cast<long long>(end - fileSize));
    }
    if (image.diskSize() == 0) {
        hostPrintf(out, "%s", "  (size 0: the next disk starts at the same offset)");
    } else if (index == image.diskCount() - 1 && end < fileSize) {
        if (image.diskCount() == d88::MAX_DISKS) {
            hostPrintf(out, "  (%lld bytes after the %dth disk are not read)",
                       static_cast<long long>(fileSize - end), d88::MAX_DISKS);
        } else {
            hostPrintf(out, "  (%lld bytes after the last disk, too few for a disk header)",
                       static_cast<long long>(fileSize - end));
        }
    }
}

void printTrack(d88::D88Image& image, int track, FILE* out) {
    const d88::TrackWalk* walk = image.walkTrack(track);
    if (walk == nullptr) {
        return;
    }
    const int count = walk->recordCount;
    hostPrintf(out, "  track %3d  records %d", track, count);
    for (int i = 0; i < count && i < MAX_LISTED_RECORDS; ++i) {
        const d88::SectorId& id = walk->records[i].id;
        hostPrintf(out, " %02x/%02x/%02x/%02x", id.c, id.h, id.r, id.n);
        printMarks(walk->records[i], out);
    }
    if (count > MAX_LISTED_RECORDS) {
        hostPrintf(out, " (listing cut after %d records)", MAX_LISTED_RECORDS);
    }
    if (walk->end == d88::WalkEnd::EndOfFile) {
        hostPrintf(out, "%s", " (walk ends at the end of the file)");
    }
    if (walk->end == d88::WalkEnd::RecordLimit) {
        hostPrintf(out, " (walk ends at the limit of %d records)", d88::MAX_WALK_RECORDS);
    }
    const int64_t diskEnd = static_cast<int64_t>(image.diskOffset()) + image.diskSize();
    if (walkReach(*walk) > diskEnd) {
        hostPrintf(out, "%s", " (walk runs past the end of the disk)");
    }
    hostPrintf(out, "%c", '\n');
}

} // namespace

void printEscapedName(const char* name, FILE* out) {
    // Built whole, so that a console receives each Shift_JIS character in one piece.
    char text[4 * 256 + 1];
    char* at = text;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
         *p != 0 && at + 4 < text + sizeof text; ++p) {
        if (*p < 0x20 || *p == 0x7F || *p == '"' || *p == '\\') {
            at += snprintf(at, 5, "\\x%02x", *p);
        } else {
            *at++ = static_cast<char>(*p);
        }
    }
    *at = '\0';
    hostPrintf(out, "%s", text);
}

bool printDiskInfo(d88::D88Image& image, int index, FILE* out) {
    if (!image.selectDisk(index)) {
        hostPrintf(out, "disk %d  header cannot be read\n", index);
        return false;
    }
    // The disk set's number of this disk: the first byte of its ID sector, if it has one.
    uint8_t id = 0;
    const bool hasId = image.readSector(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR,
                                        SECTOR_SIZE_CODE, &id, 1) == 1;
    hostPrintf(out, "disk %d  offset %ld  size %lu  media %02x  name \"", index,
               static_cast<long>(image.diskOffset()), static_cast<unsigned long>(image.diskSize()),
               static_cast<unsigned>(image.mediaType()));
    printEscapedName(image.diskName(), out);
    hostPrintf(out, "%s", "\"  set-id ");
    if (hasId) {
        hostPrintf(out, "%02x", id);
    } else {
        hostPrintf(out, "%s", "none");
    }
    printSizeNotes(image, index, out);
    const int errorRecords = countErrorRecords(image);
    if (errorRecords > 0) {
        hostPrintf(out, "  read-errors %d", errorRecords);
    }
    hostPrintf(out, "%c", '\n');
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        if (isListed(image, track)) {
            printTrack(image, track, out);
        }
    }
    return true;
}
