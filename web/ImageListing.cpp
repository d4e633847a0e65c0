// The page's way into the plan. The worker puts the image into the module's memory file system
// and calls these functions; what the plan decides reaches its script through the imports below
// (listing-imports.js): the JSON documents of d88info --json and d88info --set X --json, with the
// names that a zip holds, and the bytes of every file that the set writes, by entry index.
#include "CompanionProgram.h"
#include "DiskSet.h"
#include "Messages.h"
#include "Plan.h"
#include "PlanJson.h"
#include "SetInfo.h"

#include "D88Image.h"

#include <cstdio>
#include <cstring>
#include <emscripten/emscripten.h>
#include <string>

extern "C" {
// A JSON document of `length` bytes of UTF-8: the image's or the set's.
void d88web_document(const char* json, int length);
// The `size` bytes that the set writes for the entry of table index `index`.
void d88web_file(int index, const uint8_t* data, int size);
// The set's last line as d88info --set prints it, and the line that it prints before the entries
// when the directory itself has read errors (empty when it has none).
void d88web_summary(const char* line, const char* directoryErrors);
}

namespace {

d88::D88Image image;
std::string imagePath;

void sendDocument(const nlohmann::ordered_json& document) {
    const std::string text = dumpJson(document);
    d88web_document(text.data(), static_cast<int>(text.size()));
}

void sendFile(const SetPlan& /*plan*/, const PlannedEntry& entry, const uint8_t* data,
              void* /*context*/) {
    if (data != nullptr) {
        d88web_file(entry.index, data, entry.entry.size);
    }
}

// `print` writes one line into `line` (at most `size` - 1 bytes), without its line feed.
template <typename Print> void printLine(char* line, size_t size, Print print) {
    FILE* text = fmemopen(line, size - 1, "w");
    if (text != nullptr) {
        print(text);
        fclose(text);
    }
    const size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n') {
        line[length - 1] = '\0';
    }
}

} // namespace

extern "C" {

// Opens the image at `path` and sends its document, the layouts' counts of the files that a zip
// would hold; returns the number of disks, -1 when it cannot be opened.
EMSCRIPTEN_KEEPALIVE int d88web_open(const char* path) {
    if (!image.open(path)) {
        return -1;
    }
    imagePath = path;
    sendDocument(imageDocument(planImage(image, NameTarget::Zip), path));
    return image.diskCount();
}

// The number of disks in the file at `path`: 0 when it is no D88 image, -1 when it cannot be
// opened.
EMSCRIPTEN_KEEPALIVE int d88web_disk_count(const char* path) {
    d88::D88Image file;
    return file.open(path) ? file.diskCount() : -1;
}

// Of the files joined into the open image, ending at `partEnds` (byte offsets), the one to put
// first, as d88extract orders the files it is given: when the first disk is not Disk A (its ID
// byte is not 01) and exactly one file holds a disk whose ID byte is 01. -1: keep the order.
EMSCRIPTEN_KEEPALIVE int d88web_part_to_put_first(const int32_t* partEnds, int partCount) {
    int holder = -1;
    for (int index = 0; index < image.diskCount(); ++index) {
        uint8_t id = 0;
        const bool isDiskA = image.selectDisk(index) &&
                             image.readSector(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR,
                                              SECTOR_SIZE_CODE, &id, 1) == 1 &&
                             id == 1;
        if (index == 0 && isDiskA) {
            return -1;
        }
        if (!isDiskA) {
            continue;
        }
        int part = 0;
        while (part < partCount && image.diskOffset() >= partEnds[part]) {
            ++part;
        }
        if (holder >= 0 && holder != part) {
            return -1; // two files hold a Disk A
        }
        holder = part;
    }
    return holder;
}

// Sends the bytes of every file that layout "a" or "b" writes, then the set's document with
// the zip's names, then its summary. Returns false below four disks, where the programs stop.
EMSCRIPTEN_KEEPALIVE bool d88web_list_set(const char* letter) {
    const DirectoryLayout* layout = layoutByLetter(letter);
    if (layout == nullptr) {
        return false;
    }
    const SetPlan plan = planSet(image, *layout, NameTarget::Zip, sendFile, nullptr);
    if (!plan.enoughDisks) {
        return false;
    }
    sendDocument(setDocument(plan, imagePath.c_str(), image.diskCount(), image.fileSize()));
    char line[160] = {};
    printLine(line, sizeof line, [&](FILE* out) { printSetSummary(plan.summary, out); });
    char directoryLine[160] = {};
    if (plan.directoryErrors.errorSectors > 0) {
        printLine(directoryLine, sizeof directoryLine, [&](FILE* out) {
            fprintf(out, MSG_DIRECTORY_READ_ERRORS, plan.directoryErrors.errorSectors,
                    plan.directoryErrors.sectors);
        });
    }
    d88web_summary(line, directoryLine);
    return true;
}

} // extern "C"
