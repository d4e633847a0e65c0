#include "DiskInfo.h"

#include "DiskSet.h"

namespace {

void printTrack(d88::D88Image& image, int track, FILE* out) {
    // One record more than is listed tells a full listing from a cut one.
    static d88::SectorId ids[MAX_LISTED_RECORDS + 1];
    const int count =
        image.listSectorIds(track, ids, static_cast<int>(sizeof ids)) / sizeof(d88::SectorId);
    const bool cut = count > MAX_LISTED_RECORDS;
    fprintf(out, "  track %3d  records %d%s", track, cut ? MAX_LISTED_RECORDS : count,
            cut ? "+" : "");
    for (int i = 0; i < count && i < MAX_LISTED_RECORDS; ++i) {
        fprintf(out, " %02x/%02x/%02x/%02x", ids[i].c, ids[i].h, ids[i].r, ids[i].n);
    }
    if (cut) {
        fprintf(out, " (listing cut after %d records)", MAX_LISTED_RECORDS);
    }
    fputc('\n', out);
}

} // namespace

bool printDiskInfo(d88::D88Image& image, int index, FILE* out) {
    if (!image.selectDisk(index)) {
        fprintf(out, "disk %d  header cannot be read\n", index);
        return false;
    }
    // The disk set's number of this disk: the first byte of its ID sector, if it has one.
    uint8_t id = 0;
    const bool hasId = image.readSector(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR,
                                        SECTOR_SIZE_CODE, &id, 1) == 1;
    fprintf(out, "disk %d  offset %ld  size %lu  media %02x  name \"%s\"  set-id ", index,
            static_cast<long>(image.diskOffset()), static_cast<unsigned long>(image.diskSize()),
            static_cast<unsigned>(image.mediaType()), image.diskName());
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
