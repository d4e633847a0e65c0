// Fuzzes putting files back, writing no file: the input is an image, read from memory. For one
// layout (the generator picks it), with the disks found by identity, every entry that a file can
// stand for gets new bytes made from its own (as they are, one byte changed, cut short, made
// longer, emptied or replaced, as a generator seeded by the input says), decided, and, unless a
// file is refused, the new image made in memory (readUpdatedBytes), read back and checked as
// d88update checks it (UpdateCheck.h). Then, checked apart from that code:
// - a file is refused as too long exactly when it is longer than its entry, and for missing
//   sectors exactly when it is changed and has bytes other than zero past those its sectors
//   hold;
// - the new image differs from the input only in the data of the sectors put back and in their
//   status bytes, which are 00; each such sector holds its file's bytes, zeros after;
// - extracted again by the extraction's own plan (planSet, readPlannedFile), each file put back
//   gives its new bytes, zeros after, as far as its sectors go;
// - the check fails only where a sector put back lies over a record header, which changes the
//   walk of the tracks.
// The host's writing of the new image (ImageWrite.h) is tested by the end-to-end tests.
#include "DiskSet.h"
#include "Host.h"
#include "Plan.h"
#include "UpdateCheck.h"
#include "UpdateEntries.h"
#include "UpdatePlan.h"

#include "D88Image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

WalkBuffers* buffers = nullptr;
std::vector<uint8_t>* scratch = nullptr; // MAX_FILE_BYTES each
std::vector<uint8_t>* after = nullptr;
std::vector<uint8_t>* expected = nullptr;
std::vector<uint8_t>* output = nullptr;                   // the new image
std::vector<uint8_t>* expectedImage = nullptr;            // what it must hold
std::vector<std::vector<uint8_t>>* newContents = nullptr; // per entry, its new file
// Kept from one input to the next, as the programs keep their one image.
d88::D88Image* inputImage = nullptr;
d88::D88Image* outputImage = nullptr;
const SaveTarget HOST_TARGET{NameTarget::Host, hostNameRules(), {}};

// A small generator, so that an input always makes the same new files.
struct Generator {
    uint64_t state;
    uint32_t next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state >> 33);
    }
    // `count` bytes, three from each number.
    void fill(uint8_t* bytes, size_t count) {
        for (size_t at = 0; at < count; at += 3) {
            const uint32_t number = next();
            for (size_t k = 0; k < 3 && at + k < count; ++k) {
                bytes[at + k] = static_cast<uint8_t>(number >> (8 * k));
            }
        }
    }
};

// The entry's new bytes, made from its bytes now: such as d88update puts back, or, when
// `refusable`, now and then too long or reaching into sectors that the image does not hold.
// `bytes` keeps its storage from one input to the next.
void newBytesFor(d88::D88Image& image, const UpdateEntry& entry, bool refusable, Generator& random,
                 std::vector<uint8_t>& bytes) {
    // Read whole sectors: the last may reach past the entry's size (and a byte at least, so
    // that the buffer is never null).
    bytes.resize(entry.sectors.size() * SECTOR_BYTES + static_cast<size_t>(entry.entry.size) + 1);
    readEntryBytes(image, entry, bytes.data());
    bytes.resize(static_cast<size_t>(entry.entry.size));
    const uint32_t held = static_cast<uint32_t>(entry.bytesHeld);
    uint32_t kind = random.next() % 16;
    if (!refusable && (kind == 8 || kind == 10)) {
        kind = 11;
    }
    switch (kind) {
    case 0:
    case 1:
    case 2:
        break; // as they are
    case 3:
    case 4:
    case 5:
        if (held > 0) {
            bytes[random.next() % held] ^= static_cast<uint8_t>(1 + random.next() % 255);
        }
        break;
    case 6:
    case 7:
        bytes.resize(bytes.empty() ? 0 : random.next() % bytes.size());
        break;
    case 8:
        bytes.resize(bytes.size() + 1 + random.next() % 2048, 0x5a);
        break;
    case 9:
        bytes.clear();
        break;
    case 10:
        random.fill(bytes.data(), bytes.size());
        break;
    default: // new bytes where the image holds sectors, zeros after
        random.fill(bytes.data(), held);
    }
}

// Whether `length` bytes at `bytes` are all zero (compared a block at a time: memcmp runs at
// full speed under the sanitizer, a loop over the bytes does not).
bool allZero(const uint8_t* bytes, size_t length) {
    static const uint8_t ZEROS[4096] = {};
    for (size_t at = 0; at < length; at += sizeof ZEROS) {
        if (memcmp(bytes + at, ZEROS, std::min(sizeof ZEROS, length - at)) != 0) {
            return false;
        }
    }
    return true;
}

// Whether a byte other than zero lies past the first `held` bytes.
bool usedPast(const std::vector<uint8_t>& bytes, int64_t held) {
    const size_t from = std::min(bytes.size(), static_cast<size_t>(std::max<int64_t>(held, 0)));
    return !allZero(bytes.data() + from, bytes.size() - from);
}

// True when a sector put back lies over a record header of a present track: its bytes change
// the walk, which the check is to find.
bool overWalkedHeaders(d88::D88Image& image, const std::vector<ByteChange>& changes) {
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        if (!image.selectDisk(disk)) {
            continue;
        }
        for (int track = 0; track < d88::MAX_TRACKS; ++track) {
            const d88::TrackWalk* walk = image.walkTrack(track);
            for (int i = 0; walk != nullptr && i < walk->recordCount; ++i) {
                const int64_t header = walk->records[i].headerPosition;
                for (const ByteChange& change : changes) {
                    if (change.entry >= 0 && change.position < header + 16 &&
                        header < change.position + change.length) {
                        return true;
                    }
                }
            }
        }
    }
    return false;
}

// The new image, made in memory from the input and the new files, read back as d88update reads
// it back: the same entries on the same disks, in the same places, each holding what the plan
// puts there. False when it does not read back so.
bool readsBack(d88::D88Image& image, const UpdateSet& set, const UpdatePlan& plan,
               const std::vector<ByteChange>& changes, const NewFiles& streams) {
    NewBytes source = newBytesOf(changes, plan, streams);
    output->resize(static_cast<size_t>(image.fileSize()));
    if (readUpdatedBytes(image, source, 0, output->data(), image.fileSize()) != image.fileSize()) {
        abort(); // the input gave fewer bytes than when it was read
    }
    d88::D88Image& back = *outputImage;
    const d88::ByteSource bytes = d88::memorySource(output->data(), output->size());
    if (!back.openSources(&bytes, 1)) {
        abort();
    }
    std::vector<UpdateEntry> entries = readEntriesBack(
        back, identityDiskChoice(decideDiskSet(back, readIdSectors(back))), *set.layout, *buffers);
    if (!sameEntries(set, entries)) {
        return false;
    }
    const std::vector<int64_t> putSectors = putSectorPositions(set, plan);
    NewBytes again = newBytesOf(changes, plan, streams);
    for (size_t i = 0; i < set.entries.size(); ++i) {
        UpdateEntry& entry = entries[i];
        locateEntrySectors(back, entry);
        if (!samePlaces(set.entries[i], entry, putSectors, false)) {
            return false;
        }
        readEntryBytes(back, entry, after->data());
        expectedEntryBytes(image, set, i, again, expected->data());
        if (memcmp(after->data(), expected->data(), static_cast<size_t>(entry.entry.size)) != 0) {
            return false;
        }
    }
    return true;
}

// The bytes that sector `k` of a file put back holds: its part of `content`, zeros after.
void sectorBytes(const std::vector<uint8_t>& content, size_t k, int length, uint8_t* out) {
    const size_t first = k * SECTOR_BYTES;
    const size_t from = std::min(content.size(), first);
    const size_t copied = std::min(content.size() - from, static_cast<size_t>(length));
    if (copied > 0) {
        memcpy(out, content.data() + from, copied);
    }
    memset(out + copied, 0, static_cast<size_t>(length) - copied);
}

// The new image against the input, byte by byte (the input with each sector put back holding
// its file's bytes and a status of 00, nothing else changed), and extracted again by the plan.
void checkWritten(const uint8_t* input, size_t size, const UpdateSet& set, const UpdatePlan& plan,
                  const std::vector<std::vector<uint8_t>>& contents,
                  const DirectoryLayout& layout) {
    const std::vector<uint8_t>& written = *output;
    if (written.size() != size) {
        abort();
    }
    std::vector<uint8_t>& image = *expectedImage;
    image.assign(input, input + size);
    uint8_t want[SECTOR_BYTES];
    for (size_t i = 0; i < set.entries.size(); ++i) {
        if (plan.files[i].outcome != UpdateOutcome::PutBack) {
            continue;
        }
        for (size_t k = 0; k < set.entries[i].sectors.size(); ++k) {
            const StoredSector& sector = set.entries[i].sectors[k];
            const size_t at = static_cast<size_t>(sector.position);
            const size_t length = static_cast<size_t>(sector.length);
            sectorBytes(contents[i], k, sector.length, want);
            // Checked here too: two files put back into one sector must agree on it.
            if (memcmp(written.data() + at, want, length) != 0) {
                abort();
            }
            memcpy(image.data() + at, want, length);
            image[static_cast<size_t>(statusPosition(sector.position))] = d88::STATUS_NORMAL;
        }
    }
    if (size > 0 && memcmp(written.data(), image.data(), size) != 0) {
        abort();
    }
    d88::D88Image& back = *outputImage;
    const DiskChoice disks = identityDiskChoice(decideDiskSet(back, readIdSectors(back)));
    const DirectoryRead directory = readDirectory(back, disks, *buffers);
    const SetPlan again = planSet(back, disks, directory, layout, HOST_TARGET, *buffers);
    for (size_t i = 0; i < set.entries.size() && i < again.entries.size(); ++i) {
        if (plan.files[i].outcome != UpdateOutcome::PutBack ||
            !isWritten(again.entries[i].outcome)) {
            continue;
        }
        const size_t got = static_cast<size_t>(readPlannedFile(back, again.entries[i], *buffers));
        const size_t given = std::min(got, contents[i].size());
        if ((given > 0 && memcmp(buffers->work, contents[i].data(), given) != 0) ||
            !allZero(buffers->work + given, got - given)) {
            abort();
        }
    }
}

// Puts new files back into the set of `layout` and checks what is written.
void updateLayout(d88::D88Image& image, const uint8_t* input, size_t size, const DiskChoice& disks,
                  const DirectoryRead& directory, const DirectoryLayout& layout,
                  Generator& random) {
    const FileChoice everything{};
    const std::vector<NameTarget> targets = {NameTarget::Host};
    const SetPlan planned = planSet(image, disks, directory, layout, HOST_TARGET, *buffers);
    UpdateSet set = readUpdateSet(image, disks, planned, targets, hostNameRules(), everything);
    std::vector<std::vector<uint8_t>>& contents = *newContents;
    if (contents.size() < set.entries.size()) {
        contents.resize(set.entries.size());
    }
    for (std::vector<uint8_t>& content : contents) {
        content.clear();
    }
    const bool refusable = random.next() % 4 == 0; // else most sets are refused somewhere
    std::vector<FileUpdate> files;
    NewFiles streams(set.entries.size(), nullptr);
    for (size_t i = 0; i < set.entries.size(); ++i) {
        UpdateEntry& entry = set.entries[i];
        locateEntrySectors(image, entry);
        FolderFile file{FolderFileState::None, -1, 0, 0};
        if (!entry.names[0].name.empty() && entry.owner < 0) {
            newBytesFor(image, entry, refusable, random, contents[i]);
            file =
                FolderFile{FolderFileState::Found, 0, static_cast<int64_t>(contents[i].size()), 0};
            if (!contents[i].empty()) {
                streams[i] = fmemopen(contents[i].data(), contents[i].size(), "rb");
            }
        }
        files.push_back(decideFileUpdate(image, entry, file, contents[i].data(), scratch->data()));
        const UpdateOutcome outcome = files.back().outcome;
        const int64_t length = static_cast<int64_t>(contents[i].size());
        const bool found = file.state == FolderFileState::Found;
        if ((outcome == UpdateOutcome::TooLong) != (found && length > entry.entry.size) ||
            (outcome == UpdateOutcome::MissingSectors) !=
                (found && length <= entry.entry.size && outcome != UpdateOutcome::Unchanged &&
                 usedPast(contents[i], entry.bytesHeld))) {
            abort();
        }
    }
    const UpdatePlan plan = finishUpdatePlan(set, std::move(files));
    const std::vector<ByteChange> changes = updateChanges(set, plan);
    if (plan.summary.refused == 0) {
        if (readsBack(image, set, plan, changes, streams)) {
            checkWritten(input, size, set, plan, contents, layout);
        } else if (!overWalkedHeaders(image, changes)) {
            abort();
        }
    }
    for (FILE* stream : streams) {
        if (stream != nullptr) {
            fclose(stream);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    buffers = new WalkBuffers;
    scratch = new std::vector<uint8_t>(MAX_FILE_BYTES);
    after = new std::vector<uint8_t>(MAX_FILE_BYTES);
    expected = new std::vector<uint8_t>(MAX_FILE_BYTES);
    output = new std::vector<uint8_t>;
    expectedImage = new std::vector<uint8_t>;
    newContents = new std::vector<std::vector<uint8_t>>;
    inputImage = new d88::D88Image;
    outputImage = new d88::D88Image;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    d88::D88Image& image = *inputImage;
    const d88::ByteSource input = d88::memorySource(data, size);
    if (!image.openSources(&input, 1)) {
        abort();
    }
    const DiskSetFacts facts = decideDiskSet(image, readIdSectors(image));
    if (!disksGivenTwice(facts).empty()) {
        return 0; // refused before anything is decided
    }
    Generator random{size};
    for (size_t i = 0; i < size && i < 64; ++i) {
        random.state = random.state * 31 + data[i];
    }
    const DiskChoice disks = identityDiskChoice(facts);
    const DirectoryRead directory = readDirectory(image, disks, *buffers);
    // One layout per input, as the generator says: each input runs half the work, and the
    // inputs that differ in the bytes the generator starts from cover both.
    updateLayout(image, data, size, disks, directory, *SET_LAYOUTS[random.next() % 2], random);
    return 0;
}
