// Fuzzes the plan of the directory walk, which the extraction and d88info --set share, without
// writing any file: the input is an image file. For both layouts every entry's outcome, bytes
// and read errors are checked against the disk found again by its ID byte and the file's run
// read again, by readRun and sector by sector with readSector; the directory likewise. The set
// plan is checked too, with zip names: the names, replacements and its JSON.
#include "FuzzFiles.h"

#include "DirectoryWalk.h"
#include "DiskSet.h"
#include "Plan.h"
#include "PlanJson.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace {

const char* const IMAGE_NAME = "image.d88"; // in the private folder, which is the current one
std::string imagePath;
constexpr int MAX_FILE_BYTES = 255 * SECTOR_BYTES; // the largest size byte

// What a run of whole sectors from (track, r) gives, read again into buffers of the caller.
struct Reread {
    int got;
    d88::RunErrors errors;
};

// The run read sector by sector, stepping as the disk set does: r up to LAST_SECTOR, then the
// next track (head 0 to 1, then the next cylinder) from FIRST_SECTOR. Stops at the first sector
// that holds fewer than `SECTOR_BYTES` bytes.
Reread readBySectors(d88::D88Image& image, int track, int r, uint8_t* buffer, int total) {
    Reread result{0, d88::RunErrors{}};
    while (result.got < total) {
        d88::SectorMarks marks;
        if (image.readSector(track, track >> 1, track & 1, r, SECTOR_SIZE_CODE, buffer + result.got,
                             SECTOR_BYTES, &marks) < SECTOR_BYTES) {
            break;
        }
        result.got += SECTOR_BYTES;
        ++result.errors.sectors;
        result.errors.errorSectors += d88::isReadErrorStatus(marks.status) ? 1 : 0;
        if (r == LAST_SECTOR) {
            ++track;
            r = FIRST_SECTOR;
        } else {
            ++r;
        }
    }
    return result;
}

bool sameErrors(const d88::RunErrors& a, const d88::RunErrors& b) {
    return a.sectors == b.sectors && a.errorSectors == b.errorSectors;
}

// Reads the run of the selected disk both ways into `buffer` (readRun) and `bySectors`, and
// checks that the two agree.
Reread rereadRun(d88::D88Image& image, int track, int r, std::vector<uint8_t>& buffer,
                 std::vector<uint8_t>& bySectors, int total) {
    Reread run{0, d88::RunErrors{}};
    run.got = image.readRun(track, track >> 1, track & 1, r, SECTOR_SIZE_CODE, buffer.data(), total,
                            &run.errors);
    const Reread sectors = readBySectors(image, track, r, bySectors.data(), total);
    if (run.got != sectors.got || !sameErrors(run.errors, sectors.errors) ||
        memcmp(buffer.data(), bySectors.data(), static_cast<size_t>(run.got)) != 0) {
        abort(); // readRun and its sectors disagree
    }
    if (run.errors.sectors != (run.got + SECTOR_BYTES - 1) / SECTOR_BYTES ||
        run.errors.errorSectors > run.errors.sectors) {
        abort();
    }
    return run;
}

bool isAnyOf(const char* name, std::initializer_list<const char*> names) {
    for (const char* other : names) {
        if (strcmp(name, other) == 0) {
            return true;
        }
    }
    return false;
}

struct PlanCheck {
    d88::D88Image* image;
    const DirectoryLayout* layout;
    int visited;
    std::vector<int> idBytes;       // each disk's ID byte, 0 when its ID sector is missing
    std::vector<int32_t> offsets;   // and its header offset
    std::vector<uint8_t> run;       // the file's run read again by readRun
    std::vector<uint8_t> bySectors; // and sector by sector
};

bool checkEntry(const EntryPlan& plan, void* context) {
    PlanCheck& check = *static_cast<PlanCheck*>(context);
    d88::D88Image& image = *check.image;
    const uint8_t* bytes =
        directoryBuffer + check.layout->firstEntryOffset + plan.index * DIR_ENTRY_SIZE;
    if (plan.index != check.visited++ || plan.bytes != bytes) {
        abort(); // not in table order
    }
    // The entry as its 16 bytes give it.
    const DirEntry& entry = plan.entry;
    int nameLength = 0;
    while (nameLength < 12 && bytes[nameLength] != ' ') {
        ++nameLength;
    }
    if (memcmp(entry.name, bytes, static_cast<size_t>(nameLength)) != 0 ||
        entry.name[nameLength] != '\0' || entry.track != bytes[12] || entry.sector != bytes[13] ||
        entry.size != bytes[14] * SECTOR_BYTES || entry.diskNumber != bytes[15]) {
        abort();
    }

    // The walk has left the first disk of the entry's ID byte selected.
    const auto disk = std::find(check.idBytes.begin(), check.idBytes.end(), entry.diskNumber + 1);
    const bool found = disk != check.idBytes.end();
    if ((plan.outcome == EntryOutcome::NoDisk) != !found) {
        abort();
    }
    if (found) {
        const int k = static_cast<int>(disk - check.idBytes.begin());
        if (image.diskOffset() != check.offsets[k]) {
            abort();
        }
        image.selectDisk(k);
        image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    }
    Reread run{0, d88::RunErrors{}};
    if (found && entry.size > 0) {
        run = rereadRun(image, entry.track, entry.sector, check.run, check.bySectors, entry.size);
    }
    if (!sameErrors(plan.readErrors, run.errors)) {
        abort();
    }
    const bool read = found && entry.size > 0 && run.got > 0;
    if ((plan.outcome == EntryOutcome::Empty) != (found && entry.size == 0) ||
        (plan.outcome == EntryOutcome::Missing) != (found && entry.size > 0 && run.got == 0) ||
        plan.bytesRead != (read ? run.got : 0)) {
        abort();
    }
    if (!read) {
        return true;
    }
    // The name decides only once something was read. A name with a '/' is refused on every
    // host; other names the host's own rule may refuse as well.
    const char* name = entry.name;
    EntryOutcome expected = run.got < entry.size ? EntryOutcome::Incomplete : EntryOutcome::Whole;
    if (strchr(name, '/') != nullptr || plan.outcome == EntryOutcome::UnsafeName) {
        expected = EntryOutcome::UnsafeName;
    } else if (strcmp(name, IMAGE_NAME) == 0) {
        expected = EntryOutcome::ImageItself;
    } else if (isAnyOf(name, {"", ".", ".."})) {
        expected = EntryOutcome::Uncreatable;
    }
    if (plan.outcome != expected) {
        abort();
    }
    // The file's bytes as read, zero past them.
    if (memcmp(workBuffer, check.run.data(), static_cast<size_t>(run.got)) != 0) {
        abort();
    }
    for (int i = run.got; i < entry.size; ++i) {
        if (workBuffer[i] != 0) {
            abort();
        }
    }
    return true;
}

// Reads every disk's ID byte as the walk does: the first byte of the ID sector, which a short
// sector still stores.
void readIdBytes(d88::D88Image& image, PlanCheck& check) {
    check.idBytes.assign(static_cast<size_t>(image.diskCount()), 0);
    check.offsets.assign(static_cast<size_t>(image.diskCount()), -1);
    for (int k = 0; k < image.diskCount(); ++k) {
        image.selectDisk(k);
        image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
        check.run[0] = 0;
        image.readRun(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR, SECTOR_SIZE_CODE,
                      check.run.data(), SECTOR_BYTES);
        check.idBytes[k] = check.run[0];
        check.offsets[k] = image.diskOffset();
    }
}

void checkPlan(d88::D88Image& image, const DirectoryLayout& layout, PlanCheck& check) {
    check.layout = &layout;
    check.visited = 0;
    const d88::RunErrors directoryErrors =
        planDirectory(image, layout, NameTarget::Host, checkEntry, &check);
    if (check.visited != layout.entryCount) {
        abort();
    }
    // The directory read again from disk 0; what the run does not read is zero.
    image.selectDisk(0);
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    std::fill(check.run.begin(), check.run.begin() + DIRECTORY_BYTES, 0);
    const Reread directory = rereadRun(image, DIRECTORY_TRACK, DIRECTORY_SECTOR, check.run,
                                       check.bySectors, DIRECTORY_BYTES);
    if (!sameErrors(directoryErrors, directory.errors) ||
        directoryErrors.sectors > DIRECTORY_BYTES / SECTOR_BYTES ||
        memcmp(directoryBuffer, check.run.data(), DIRECTORY_BYTES) != 0) {
        abort();
    }
}

PlanCheck* planCheck = nullptr;

// The set plan for each target: a zip name is never a path nor holds a control character, a
// file replaces exactly the last earlier file of its key, and the JSON document reads back.
int checkSetPlan(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target) {
    const SetPlan plan = planSet(image, layout, target, nullptr, nullptr);
    std::map<std::string, int> last;
    for (const PlannedEntry& entry : plan.entries) {
        if (!isWritten(entry.outcome)) {
            if (entry.replaces >= 0 || entry.replacedBy >= 0) {
                abort();
            }
            continue;
        }
        const std::string& name = entry.saved.name;
        if (target == NameTarget::Zip) {
            for (unsigned char ch : name) {
                if (ch < 0x20 || ch == 0x7F || ch == '/' || ch == '\\' || ch == ':') {
                    abort();
                }
            }
            if (name.empty() || name == "." || name == "..") {
                abort();
            }
        }
        auto found = last.find(entry.saved.key);
        if (entry.replaces != (found == last.end() ? -1 : found->second)) {
            abort();
        }
        last[entry.saved.key] = entry.index;
    }
    const std::string text =
        dumpJson(setDocument(plan, IMAGE_NAME, image.diskCount(), image.fileSize()));
    const nlohmann::ordered_json back = nlohmann::ordered_json::parse(text, nullptr, false);
    if (back.is_discarded() || back["entries"].size() != plan.entries.size()) {
        abort();
    }
    return plan.summary.files;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string folder = makePrivateFolder();
    imagePath = folder + "/" + IMAGE_NAME;
    // Working in the image's folder lets an entry named like the image be the image itself.
    if (chdir(folder.c_str()) != 0) {
        abort();
    }
    planCheck = new PlanCheck{nullptr,
                              nullptr,
                              0,
                              {},
                              {},
                              std::vector<uint8_t>(MAX_FILE_BYTES),
                              std::vector<uint8_t>(MAX_FILE_BYTES)};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeWholeFile(imagePath, data, size);
    d88::D88Image image;
    if (!image.open(imagePath.c_str())) {
        abort();
    }
    if (image.diskCount() >= 4) {
        planCheck->image = &image;
        readIdBytes(image, *planCheck);
        int planned[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            checkPlan(image, *SET_LAYOUTS[i], *planCheck);
            planned[i] = checkSetPlan(image, *SET_LAYOUTS[i], NameTarget::Zip); // strictest names
        }
        // The layout line counts files from their first sectors: the same counts.
        int counted[2] = {0, 0};
        decideLayoutFit(image, NameTarget::Zip, counted);
        if (counted[0] != planned[0] || counted[1] != planned[1]) {
            abort();
        }
    }
    return 0;
}
