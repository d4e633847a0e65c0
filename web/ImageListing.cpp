// The page's way into the reader and the directory walk. The worker puts the image into the
// module's memory file system and calls these functions; what they find reaches its script
// through the imports below (listing-imports.js), one call per disk and per listed entry, with
// every name as bytes, so that nothing decodes them on the way.
#include "CompanionProgram.h"
#include "DiskSet.h"
#include "Messages.h"
#include "Plan.h"
#include "SetInfo.h"

#include "D88Image.h"

#include <cstdio>
#include <cstring>
#include <emscripten/emscripten.h>

extern "C" {
// One disk of the image: its name bytes and the first byte of its ID sector (-1: none).
void d88web_disk(int index, const char* name, int nameLength, int setId);
// One entry as d88info --set lists it; `data` holds the `size` bytes that the extraction
// writes for it, null when it writes nothing. Of the `sectors` that its run counted,
// `errorSectors` are stored with a read-error status.
void d88web_entry(int index, const char* name, int nameLength, int diskNumber, int track,
                  int sector, int size, const char* outcome, int bytesRead, const uint8_t* data,
                  int sectors, int errorSectors);
// The line that ends the listing, and the one that d88info prints before the entries when the
// directory itself has read errors (empty when it has none).
void d88web_summary(const char* line, const char* directoryErrors);
}

namespace {

constexpr int MIN_DISKS = 4; // the extraction programs need Disk A to Disk D

d88::D88Image image;

void sendEntry(const SetPlan&, const PlannedEntry& plan, const uint8_t* data, void*) {
    const DirEntry& entry = plan.entry;
    d88web_entry(plan.index, entry.name, static_cast<int>(strlen(entry.name)), entry.diskNumber + 1,
                 entry.track, entry.sector, entry.size, setOutcomeWord(plan.outcome),
                 plan.bytesRead, data, plan.readErrors.sectors, plan.readErrors.errorSectors);
}

} // namespace

extern "C" {

// Opens the image at `path` and sends its disks; returns their number, -1 when it cannot
// be opened.
EMSCRIPTEN_KEEPALIVE int d88web_open(const char* path) {
    if (!image.open(path)) {
        return -1;
    }
    for (int index = 0; index < image.diskCount(); ++index) {
        int setId = -1;
        if (image.selectDisk(index)) {
            uint8_t id = 0;
            if (image.readSector(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR, SECTOR_SIZE_CODE,
                                 &id, 1) == 1) {
                setId = id;
            }
        }
        const char* name = image.diskName();
        d88web_disk(index, name, static_cast<int>(strlen(name)), setId);
    }
    return image.diskCount();
}

// The number of files that the program of layout "a" or "b" would write; -1 below four disks.
EMSCRIPTEN_KEEPALIVE int d88web_count_files(const char* letter) {
    const DirectoryLayout* layout = layoutByLetter(letter);
    if (layout == nullptr || image.diskCount() < MIN_DISKS) {
        return -1;
    }
    return planSet(image, *layout, NameTarget::Zip, nullptr, nullptr).summary.files;
}

// Sends the directory in layout "a" or "b" as d88info --set lists it, then its summary.
// Returns false below four disks, where the programs stop.
EMSCRIPTEN_KEEPALIVE bool d88web_list_set(const char* letter) {
    const DirectoryLayout* layout = layoutByLetter(letter);
    if (layout == nullptr || image.diskCount() < MIN_DISKS) {
        return false;
    }
    const SetPlan plan = planSet(image, *layout, NameTarget::Zip, sendEntry, nullptr);
    const SetSummary& summary = plan.summary;
    const d88::RunErrors& directoryErrors = plan.directoryErrors;
    char line[160] = {};
    FILE* text = fmemopen(line, sizeof line - 1, "w");
    if (text == nullptr) {
        return false;
    }
    printSetSummary(summary, text);
    fclose(text);
    char directoryLine[160] = {};
    if (directoryErrors.errorSectors > 0) {
        snprintf(directoryLine, sizeof directoryLine, MSG_DIRECTORY_READ_ERRORS,
                 directoryErrors.errorSectors, directoryErrors.sectors);
    }
    d88web_summary(line, directoryLine);
    return true;
}

} // extern "C"
