#include "DiskText.h"

#include "Host.h"

namespace {

// A record's marks, when it has any: "(status=b0,deleted,single-density,length=100)".
void printMarks(const RecordFacts& record, FILE* out) {
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

// What the disk's size says about the file.
void printSizeNotes(const DiskFacts& disk, FILE* out) {
    if (disk.pastFileEnd > 0) {
        hostPrintf(out, "  (size points %lld bytes past the end of the file)",
                   static_cast<long long>(disk.pastFileEnd));
    }
    if (disk.sizeZero) {
        hostPrintf(out, "%s", "  (size 0: the next disk starts at the same offset)");
    } else if (disk.unreadAfter > 0) {
        hostPrintf(out, "  (%lld bytes after the %dth disk are not read)",
                   static_cast<long long>(disk.unreadAfter), d88::MAX_DISKS);
    } else if (disk.leftoverAfter > 0) {
        hostPrintf(out, "  (%lld byte%s after the last disk, too few for a disk header)",
                   static_cast<long long>(disk.leftoverAfter), disk.leftoverAfter == 1 ? "" : "s");
    }
}

void printTrack(const TrackFacts& track, FILE* out) {
    hostPrintf(out, "  track %3d  records %d", track.index, track.recordCount);
    for (const RecordFacts& record : track.records) {
        hostPrintf(out, " %02x/%02x/%02x/%02x", record.id.c, record.id.h, record.id.r, record.id.n);
        printMarks(record, out);
    }
    if (track.recordCount > MAX_LISTED_RECORDS) {
        hostPrintf(out, " (listing cut after %d records)", MAX_LISTED_RECORDS);
    }
    if (track.end == d88::WalkEnd::EndOfFile) {
        hostPrintf(out, "%s", " (walk ends at the end of the file)");
    }
    if (track.end == d88::WalkEnd::RecordLimit) {
        hostPrintf(out, " (walk ends at the limit of %d records)", d88::MAX_WALK_RECORDS);
    }
    if (track.pastDiskEnd) {
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

void printDiskFacts(const DiskFacts& disk, FILE* out) {
    if (!disk.headerRead) {
        hostPrintf(out, "disk %d  header cannot be read\n", disk.index);
        return;
    }
    const char* media = mediaName(disk.media);
    hostPrintf(out, "disk %d  offset %ld  size %lu  media %s (%02x)  name \"", disk.index,
               static_cast<long>(disk.offset), static_cast<unsigned long>(disk.size),
               media != nullptr ? media : "unknown", static_cast<unsigned>(disk.media));
    printEscapedName(disk.name.c_str(), out);
    hostPrintf(out, "%s%s", disk.writeProtect ? "\"  write-protected" : "\"", "  set-id ");
    if (disk.id.byte >= 0) {
        hostPrintf(out, "%02x", disk.id.byte);
    } else {
        hostPrintf(out, "%s", "none");
    }
    if (disk.id.state == IdSector::Cut) {
        hostPrintf(out, "%s", " (cut short)");
    } else if (disk.id.state == IdSector::ReadError) {
        hostPrintf(out, " (status %02x)", disk.id.status);
    }
    printSizeNotes(disk, out);
    if (!disk.isDisk) {
        hostPrintf(out, "%s", "  (not a D88 disk: its header does not agree with itself)");
    }
    if (disk.readErrorRecords > 0) {
        hostPrintf(out, "  read-errors %d", disk.readErrorRecords);
    }
    hostPrintf(out, "%c", '\n');
    for (const TrackFacts& track : disk.tracks) {
        printTrack(track, out);
    }
}
