// Fuzzes the D88 reader: the input is an image file. Its first 27 bytes (the first disk's name
// and the unused header bytes, which the reader ignores) choose the calls. Every buffer is
// allocated with exactly the size the call is given, so an overrun is caught. Where
// locateSector and locateRun place a read's sectors, readBytes finds the bytes that readSector
// and readRun stored, with the same marks; diskHeader and diskStart agree with the selection.
// The disks indexed, and looksLikeDiskAt at each disk, at each file's start and at a position
// that bytes 22 and 23 choose, are those that the input's bytes give (ExpectedDisks.h). The
// same input cut into three files (where bytes 16 and 17 say) and opened as one image must
// answer every call with the same results and bytes, unless a file of the cut starts inside a
// disk with bytes that pass the header check (the reader then starts a disk there, on purpose)
// or a file's bytes after its last disk start no disk (the reader passes over them, and the next
// disk starts with the next file), and partAt names the file that holds a position. The input is
// read where it lies in memory; of the cut, the middle part is read as a stream (fmemopen), so that
// both kinds of part are read, and no file is written.
#include "ExpectedDisks.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Kept from one input to the next, as the programs keep their one image: a new image would take
// its memory from the system anew for every input.
d88::D88Image* wholeImage = nullptr;
d88::D88Image* joinedImage = nullptr;
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

// A whole track walk: within the record limit, each record where the one before it ends, its
// header before `bytesEnd` (where the disk's bytes end).
void checkWalk(const d88::TrackWalk* walk, int64_t bytesEnd) {
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
        if (record.headerPosition != next || record.sectorsInTrack == 0 ||
            record.headerPosition + d88::SECTOR_RECORD_HEADER_SIZE > bytesEnd) {
            abort();
        }
        next += d88::SECTOR_RECORD_HEADER_SIZE + record.dataLength;
    }
    if (next != walk->next) {
        abort();
    }
}

// The bytes at `place` as readBytes gives them equal `stored`, `length` bytes that a read
// stored, all before `bytesEnd` (where the disk's bytes end).
void checkPlace(d88::D88Image& image, const d88::SectorPlace& place, const uint8_t* stored,
                int length, int64_t bytesEnd) {
    if (place.length != length || (length > 0 && place.position < 0) ||
        (length > 0 && place.position + length > bytesEnd)) {
        abort();
    }
    std::vector<uint8_t> again(static_cast<size_t>(length));
    if (image.readBytes(place.position, again.data(), length) != length ||
        !std::equal(again.begin(), again.end(), stored)) {
        abort();
    }
}

// locateSector finds what readSector read: as many bytes, at a place that holds them.
void locateSectorAgain(d88::D88Image& image, const d88::SectorAddress& at, const uint8_t* stored,
                       int length, int maxLength, int64_t bytesEnd) {
    d88::SectorPlace place;
    if (image.locateSector(at, maxLength, place) != length) {
        abort();
    }
    checkPlace(image, place, stored, length, bytesEnd);
}

// locateRun places the sectors that readRun read: one place per sector counted, and their bytes
// joined are the run's bytes.
void locateRunAgain(d88::D88Image& image, const d88::SectorAddress& start, const uint8_t* stored,
                    int length, int total, int64_t bytesEnd) {
    const int sectorBytes = start.n >= 0 && start.n <= 23 ? 128 << start.n : 1;
    std::vector<d88::SectorPlace> places(static_cast<size_t>(total / sectorBytes + 2));
    if (image.locateRun(start, total, places.data(), static_cast<int>(places.size())) != length) {
        abort();
    }
    int at = 0;
    for (size_t i = 0; at < length; ++i) {
        const d88::SectorPlace& place = places[i];
        const int expected = total - at < sectorBytes ? total - at : sectorBytes;
        checkPlace(image, place, stored + at, expected, bytesEnd);
        at += expected;
    }
    if (at != length) {
        abort();
    }
}

bool sameHeader(const d88::DiskHeader& a, const d88::DiskHeader& b) {
    return memcmp(a.name, b.name, sizeof a.name) == 0 && a.writeProtect == b.writeProtect &&
           a.mediaType == b.mediaType && a.diskSize == b.diskSize &&
           memcmp(a.trackOffsets, b.trackOffsets, sizeof a.trackOffsets) == 0;
}

// The header that diskHeader gives is the one selectDisk took in, at diskStart, and its bytes
// lie there; a disk cut short where a later file starts a disk is as long as it was cut, and
// its bytes end there.
void checkHeaderOf(d88::D88Image& image, int disk) {
    d88::DiskHeader header;
    if (!image.diskHeader(disk, header)) {
        if (image.mediaType() != -1) {
            abort(); // selected, yet its header cannot be read
        }
        return;
    }
    const uint32_t limit = image.diskLimit(disk);
    const bool cut = limit != 0 && limit < header.diskSize;
    if (image.diskStart(disk) != image.diskOffset() || header.mediaType != image.mediaType() ||
        image.diskSize() != (cut ? limit : header.diskSize) ||
        image.diskBytesEnd() != (cut ? image.diskStart(disk) + limit : image.fileSize()) ||
        strncmp(reinterpret_cast<const char*>(header.name), image.diskName(),
                d88::DISK_NAME_LENGTH) != 0) {
        abort();
    }
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        if (header.trackOffsets[track] != image.trackOffset(track)) {
            abort();
        }
    }
    uint8_t bytes[d88::DISK_HEADER_SIZE];
    if (image.readBytes(image.diskStart(disk), bytes, sizeof bytes) != d88::DISK_HEADER_SIZE ||
        !sameHeader(d88::parseDiskHeader(bytes), header)) {
        abort();
    }
}

// Runs the calls on the selected disk, whose bytes end at `bytesEnd`.
void exerciseDisk(d88::D88Image& image, const uint8_t* script, int64_t bytesEnd) {
    for (int j = 0; j < 4; ++j) {
        const int track = script[2 + j] % 166 - 1; // -1 to 164
        const int c = script[6 + j] == 0xFF ? 256 : script[6 + j];
        const int h = script[10 + j] % 3;
        const int r = script[14 + j];
        const int n = script[18 + j] % 8;
        const int length = script[22 + j] * (j + 1) * 8;
        const d88::SectorAddress at{track, c, h, r, n};
        withBuffer(length, [&](uint8_t* b, int size) {
            const int got = image.readSector(track, c, h, r, n, b, size);
            locateSectorAgain(image, at, b, got, size, bytesEnd);
            return got;
        });
        const int listed = withBuffer(
            length % 97, [&](uint8_t* b, int size) { return image.listSectorIds(track, b, size); });
        if (listed % 4 != 0) {
            abort();
        }
        withBuffer(length * 3 + script[26], [&](uint8_t* b, int size) {
            const int got = image.readRun(track, c, h, r, n, b, size);
            locateRunAgain(image, at, b, got, size, bytesEnd);
            return got;
        });
        const d88::TrackWalk* walk = image.walkTrack(track);
        checkWalk(walk, bytesEnd);
        // The walk's first records, each read by its own ID as far as the image stores it.
        std::vector<d88::WalkedRecord> records;
        for (int i = 0; walk != nullptr && i < walk->recordCount && i < 32; ++i) {
            records.push_back(walk->records[i]);
        }
        for (const d88::WalkedRecord& record : records) {
            const d88::SectorId id = record.id;
            withBuffer(record.dataLength + 1, [&](uint8_t* b, int size) {
                const int got = image.readSector(track, id.c, id.h, id.r, id.n, b, size);
                locateSectorAgain(image, {track, id.c, id.h, id.r, id.n}, b, got, size, bytesEnd);
                return got;
            });
        }
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
        if (selected) {
            checkHeaderOf(image, disk);
        }
        // A disk cut short where a later file starts a disk is read no further.
        const uint32_t limit = selected ? image.diskLimit(disk) : 0;
        exerciseDisk(image, script, limit != 0 ? image.diskStart(disk) + limit : image.fileSize());
    }
    const int64_t size = image.fileSize();
    image.close();
    exerciseDisk(image, script, size); // nothing open: every call reads nothing
    return calls;
}

// The disks that `image` indexes, and the bytes it passes over between files, are those the
// input's bytes give, and its header check at the disks, at the files' starts and at
// `position` is the vote on the input's bytes. Returns true when the files are indexed
// otherwise than one file would be: a disk was cut short where a later file starts a disk of
// its own, or bytes after a file's last disk were passed over.
bool checkIndex(d88::D88Image& image, const ImageBytesView& bytes,
                const std::vector<int64_t>& partStarts, int64_t position) {
    const ExpectedIndex expected = expectedDisks(bytes, partStarts);
    if (image.diskCount() != static_cast<int>(expected.disks.size()) ||
        image.gapCount() != static_cast<int>(expected.gaps.size())) {
        abort();
    }
    for (int i = 0; i < image.gapCount(); ++i) {
        const PassedOver& gap = expected.gaps[static_cast<size_t>(i)];
        if (image.gap(i).start != gap.start || image.gap(i).length != gap.length) {
            abort();
        }
    }
    bool resynced = !expected.gaps.empty();
    std::vector<int64_t> looked = partStarts;
    looked.push_back(position);
    for (int k = 0; k < image.diskCount(); ++k) {
        const IndexedDisk& disk = expected.disks[static_cast<size_t>(k)];
        if (image.diskStart(k) != disk.start || image.diskLimit(k) != disk.limit) {
            abort();
        }
        resynced = resynced || disk.limit != 0;
        looked.push_back(disk.start);
    }
    std::sort(looked.begin(), looked.end()); // disks of size 0 share one start
    looked.erase(std::unique(looked.begin(), looked.end()), looked.end());
    for (const int64_t at : looked) {
        if (image.looksLikeDiskAt(at) != votesDisk(bytes, at)) {
            abort();
        }
    }
    return resynced;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    wholeImage = new d88::D88Image;
    joinedImage = new d88::D88Image;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t script[27] = {};
    for (size_t i = 0; i < sizeof script && i < size; ++i) {
        script[i] = data[i];
    }
    d88::D88Image& image = *wholeImage;
    const d88::ByteSource input = d88::memorySource(data, size);
    if (!image.openSources(&input, 1)) {
        abort();
    }
    const ImageBytesView bytes{data, static_cast<int64_t>(size)};
    const int64_t position = static_cast<int64_t>(size * (script[22] << 8 | script[23]) / 0xFFFF);
    if (checkIndex(image, bytes, {0}, position)) {
        abort(); // one part: no disk is cut short, no byte passed over
    }
    const std::vector<uint8_t> whole = exerciseImage(image, script); // closes the image

    // Cut where bytes 16 and 17 say (a part may be empty): the middle part a stream.
    const size_t first = size * script[16] / 255;
    const size_t ends[4] = {0, first, first + (size - first) * script[17] / 255, size};
    d88::ByteSource parts[3];
    for (int part = 0; part < 3; ++part) {
        parts[part] = d88::memorySource(data + ends[part], ends[part + 1] - ends[part]);
    }
    const size_t middle = ends[2] - ends[1];
    std::unique_ptr<FILE, int (*)(FILE*)> stream(
        middle > 0 ? fmemopen(const_cast<uint8_t*>(data + ends[1]), middle, "rb") : nullptr,
        fclose);
    if (middle > 0 && !stream) {
        abort();
    }
    if (stream) {
        parts[1] = d88::fileSource(stream.get());
    }
    d88::D88Image& joined = *joinedImage;
    if (!joined.openSources(parts, 3) || joined.fileSize() != static_cast<int64_t>(size)) {
        abort();
    }
    const bool resynced = checkIndex(
        joined, bytes, {0, static_cast<int64_t>(ends[1]), static_cast<int64_t>(ends[2])}, position);
    // Each cut, and each position on either side of it, lies in the file that partAt names:
    // the last one that starts at or before it.
    for (const size_t end : ends) {
        for (const size_t position : {end, end + 1, end > 0 ? end - 1 : 0}) {
            const int part = joined.partAt(static_cast<int64_t>(position));
            if (part < 0 || part >= 3 ||
                joined.partStart(part) != static_cast<int64_t>(ends[part]) ||
                ends[part] > position || (part + 1 < 3 && ends[part + 1] <= position)) {
                abort();
            }
        }
    }
    // A disk cut short where a file of the cut starts a disk, and bytes passed over after a
    // file's last disk, are read differently on purpose.
    if (exerciseImage(joined, script) != whole && !resynced) {
        abort();
    }
    return 0;
}
