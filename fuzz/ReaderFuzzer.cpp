// Fuzzes the D88 reader: the input is an image file. Its first 27 bytes (the first disk's name
// and the unused header bytes, which the reader ignores) choose the calls. Every buffer is
// allocated with exactly the size the call is given, so an overrun is caught. The same input
// cut into three files (where two of those bytes say) and opened as one image must answer every
// call with the same results and bytes.
#include "FuzzFiles.h"

#include "D88Image.h"

#include <memory>
#include <vector>

namespace {

std::string imagePath;
std::string partPaths[3];
std::vector<uint8_t>* trace; // every result and the bytes it stored, in call order

// Calls `call` with a heap buffer of exactly `size` bytes, checks its result and adds it and
// the bytes stored to the trace.
template <typename Call> int withBuffer(int size, Call call) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(size)]);
    const int result = call(buffer.get(), size);
    if (result < 0 || result > size) {
        abort();
    }
    const uint8_t* counted = reinterpret_cast<const uint8_t*>(&result);
    trace->insert(trace->end(), counted, counted + sizeof result);
    trace->insert(trace->end(), buffer.get(), buffer.get() + result);
    return result;
}

// A whole track walk: within the record limit, each record where the one before it ends.
void checkWalk(const d88::TrackWalk* walk) {
    if (walk == nullptr) {
        return;
    }
    if (walk->recordCount < 0 || walk->recordCount > d88::MAX_WALK_RECORDS ||
        walk->end == d88::WalkEnd::NotYet) {
        abort();
    }
    int64_t next = walk->start;
    for (int i = 0; i < walk->recordCount; ++i) {
        const d88::WalkedRecord& record = walk->records[i];
        if (record.headerPosition != next || record.sectorsInTrack == 0) {
            abort();
        }
        next += d88::SECTOR_RECORD_HEADER_SIZE + record.dataLength;
    }
    if (next != walk->next) {
        abort();
    }
}

void exerciseDisk(d88::D88Image& image, const uint8_t* script) {
    for (int j = 0; j < 4; ++j) {
        const int track = script[2 + j] % 166 - 1; // -1 to 164
        const int c = script[6 + j] == 0xFF ? 256 : script[6 + j];
        const int h = script[10 + j] % 3;
        const int r = script[14 + j];
        const int n = script[18 + j] % 8;
        const int length = script[22 + j] * (j + 1) * 8;
        withBuffer(length, [&](uint8_t* b, int size) {
            return image.readSector(track, c, h, r, n, b, size);
        });
        const int listed = withBuffer(
            length % 97, [&](uint8_t* b, int size) { return image.listSectorIds(track, b, size); });
        if (listed % 4 != 0) {
            abort();
        }
        withBuffer(length * 3 + script[26],
                   [&](uint8_t* b, int size) { return image.readRun(track, c, h, r, n, b, size); });
        checkWalk(image.walkTrack(track));
    }
    // The calls the extraction programs make.
    withBuffer(1024, [&](uint8_t* b, int size) { return image.readRun(79, 39, 1, 5, 3, b, size); });
    withBuffer(3072, [&](uint8_t* b, int size) { return image.readRun(1, 0, 1, 1, 3, b, size); });
}

// Opens the image, runs every call on it and returns the trace.
std::vector<uint8_t> exerciseImage(d88::D88Image& image, const uint8_t* script) {
    std::vector<uint8_t> calls;
    trace = &calls;
    if (image.diskCount() < 0 || image.diskCount() > d88::MAX_DISKS) {
        abort();
    }
    image.setSectorRange(script[0] % 8, script[1] % 8);
    const int disks = image.diskCount() < 4 ? image.diskCount() : 4;
    for (int disk = -1; disk <= disks; ++disk) {
        const bool selected = image.selectDisk(disk == disks ? image.diskCount() : disk);
        if (!selected && image.mediaType() != -1) {
            abort(); // a failed selection leaves nothing selected
        }
        exerciseDisk(image, script);
    }
    image.close();
    exerciseDisk(image, script); // nothing open: every call reads nothing
    return calls;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string folder = makePrivateFolder();
    imagePath = folder + "/image.d88";
    for (int part = 0; part < 3; ++part) {
        partPaths[part] = folder + "/part" + std::to_string(part) + ".d88";
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t script[27] = {};
    for (size_t i = 0; i < sizeof script && i < size; ++i) {
        script[i] = data[i];
    }
    writeWholeFile(imagePath, data, size);
    d88::D88Image image;
    if (!image.open(imagePath.c_str())) {
        abort();
    }
    const int diskCount = image.diskCount();
    const std::vector<uint8_t> whole = exerciseImage(image, script); // closes the image

    // Cut where bytes 16 and 17 say (a file may be empty).
    const size_t first = size * script[16] / 255;
    const size_t ends[4] = {0, first, first + (size - first) * script[17] / 255, size};
    const char* paths[3];
    for (int part = 0; part < 3; ++part) {
        writeWholeFile(partPaths[part], data + ends[part], ends[part + 1] - ends[part]);
        paths[part] = partPaths[part].c_str();
    }
    d88::D88Image joined;
    if (!joined.openParts(paths, 3) || joined.fileSize() != static_cast<int64_t>(size) ||
        joined.diskCount() != diskCount) {
        abort();
    }
    if (exerciseImage(joined, script) != whole) {
        abort();
    }
    return 0;
}
