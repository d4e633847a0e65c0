#include "DiskInfo.h"

#include "DiskSet.h"

namespace {

// The position past the last byte the walk read: its records, and the header that ended it.
int64_t walkReach(const d88::TrackWalk& walk) {
    const bool readNextHeader =
        walk.end == d88::WalkEnd::ZeroCount || walk.end == d88::WalkEnd::EndOfFile;
    return walk.next + (readNextHeader ? d88::SECTOR_RECORD_HEADER_SIZE : 0);
}

void printTrack(d88::D88Image& image, int track, FILE* out) {
    const d88::TrackWalk* walk = image.walkTrack(track);
    if (walk == nullptr) {
        return;
    }
    const int count = walk->recordCount;
    fprintf(out, "  track %3d  records %d", track, count);
    for (int i = 0; i < count && i < MAX_LISTED_RECORDS; ++i) {
        const d88::SectorId& id = walk->records[i].id;
        fprintf(out, " %02x/%02x/%02x/%02x", id.c, id.h, id.r, id.n);
    }
    if (count > MAX_LISTED_RECORDS) {
        fprintf(out, " (listing cut after %d records)", MAX_LISTED_RECORDS);
    }
    if (walk->end == d88::WalkEnd::EndOfFile) {
        fputs(" (walk ends at the end of the file)", out);
    }
    if (walk->end == d88::WalkEnd::RecordLimit) {
        fprintf(out, " (walk ends at the limit of %d records)", d88::MAX_WALK_RECORDS);
    }
    const int64_t diskEnd = static_cast<int64_t>(image.diskOffset()) + image.diskSize();
    if (walkReach(*walk) > diskEnd) {
        fputs(" (walk runs past the end of the disk)", out);
    }
    fputc('\n', out);
}

} // namespace

void printEscapedName(const char* name, FILE* out) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        if (*p < 0x20 || *p == 0x7F || *p == '"' || *p == '\\') {
            fprintf(out, "\\x%02x", *p);
        } else {
            fputc(*p, out);
        }
    }
}

bool printDiskInfo(d88::D88Image& image, int index, FILE* out) {
    if (!image.selectDisk(index)) {
        fprintf(out, "disk %d  header cannot be read\n", index);
        return false;
    }
    // The disk set's number of this disk: the first byte of its ID sector, if it has one.
    uint8_t id = 0;
    const bool hasId = image.readSector(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR,
                                        SECTOR_SIZE_CODE, &id, 1) == 1;
    fprintf(out, "disk %d  offset %ld  size %lu  media %02x  name \"", index,
            static_cast<long>(image.diskOffset()), static_cast<unsigned long>(image.diskSize()),
            static_cast<unsigned>(image.mediaType()));
    printEscapedName(image.diskName(), out);
    fputs("\"  set-id ", out);
    if (hasId) {
        fprintf(out, "%02x\n", id);
    } else {
        fputs("none\n", out);
    }
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        const uint32_t offset = image.trackOffset(track);
        if (offset != 0 && offset <= image.diskSize()) {
            printTrack(image, track, out);
        }
    }
    return true;
}
