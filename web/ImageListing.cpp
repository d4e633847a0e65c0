// The page's way into the plan. The worker puts the picked files into the module's memory file
// system and calls these functions; what the plan decides reaches its script through the
// imports below (listing-imports.js): the order in which the files are joined, the JSON
// documents of d88info --json and d88info --set X --json, with the names that a zip holds, and
// the bytes of every file that the set writes, by entry index.
#include "CompanionProgram.h"
#include "DiskSet.h"
#include "Messages.h"
#include "PartOrder.h"
#include "Plan.h"
#include "PlanJson.h"
#include "SetInfo.h"

#include "D88Image.h"

#include <cstdio>
#include <cstring>
#include <emscripten/emscripten.h>
#include <string>
#include <vector>

extern "C" {
// The order in which the `count` files are joined (indexes of the files as given), and what
// keeps them from making a set: "none", "not-image" or "two-disk-a", with the files it names
// (-1: none).
void d88web_part_order(const int* order, int count, const char* problem, int first, int second);
// A JSON document of `length` bytes of UTF-8: the image's or the set's.
void d88web_document(const char* json, int length);
// The `size` bytes that the set writes for the entry of table index `index`.
void d88web_file(int index, const uint8_t* data, int size);
// The set's last line as d88info --set prints it, and the line that it prints before the entries
// when the directory itself has read errors (empty when it has none).
void d88web_summary(const char* line, const char* directoryErrors);
}

namespace {

constexpr char PART_PATH[] = "/input/part-"; // the worker's files: part-0, part-1, ...

d88::D88Image image;
std::string imagePath;

bool openInOrder(const std::vector<int>& order) {
    std::vector<std::string> paths;
    for (int part : order) {
        paths.push_back(PART_PATH + std::to_string(part));
    }
    std::vector<const char*> names;
    for (const std::string& path : paths) {
        names.push_back(path.c_str());
    }
    imagePath = paths[0];
    return image.openParts(names.data(), static_cast<int>(names.size()));
}

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

// Opens the worker's `count` files as one image, joined as given or, with `arrange`, in the
// order that d88extract joins them (the file that holds Disk A first), and sends that order and
// the image's document, with the layouts' counts of the files that a zip would hold. Returns the
// number of disks, -1 when the files cannot be opened.
EMSCRIPTEN_KEEPALIVE int d88web_open(int count, bool arrange) {
    std::vector<int> order;
    for (int part = 0; part < count; ++part) {
        order.push_back(part);
    }
    if (count < 1 || count > d88::MAX_IMAGE_PARTS || !openInOrder(order)) {
        return -1;
    }
    const char* problem = "none";
    int named[2] = {-1, -1};
    if (arrange) {
        const PartOrder decided = decidePartOrder(readPartContents(image));
        if (decided.changed && !openInOrder(decided.order)) {
            return -1;
        }
        order = decided.order;
        // Too few disks are the image document's to say.
        if (decided.problem == PartProblem::NotImage && count > 1) {
            problem = "not-image";
        } else if (decided.problem == PartProblem::TwoDiskA) {
            problem = "two-disk-a";
        }
        named[0] = decided.problemParts[0];
        named[1] = decided.problemParts[1];
    }
    d88web_part_order(order.data(), count, problem, named[0], named[1]);
    sendDocument(imageDocument(planImage(image, NameTarget::Zip), imagePath.c_str()));
    return image.diskCount();
}

// The number of disks in the file at `path`: 0 when it is no D88 image, -1 when it cannot be
// opened.
EMSCRIPTEN_KEEPALIVE int d88web_disk_count(const char* path) {
    d88::D88Image file;
    return file.open(path) ? file.diskCount() : -1;
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
