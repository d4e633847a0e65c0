// Fuzzes putting files back: the input is an image. For both layouts, with the disks found by
// identity, every entry that a file can stand for gets new bytes made from its own (as they
// are, one byte changed, cut short, made longer, emptied or replaced, as a generator seeded by
// the input says), decided, and, unless a file is refused, written into a new file, read back
// and checked (ImageWrite.h), and named. Then, checked apart from that code:
// - a file is refused as too long exactly when it is longer than its entry, and for missing
//   sectors exactly when it is changed and has bytes other than zero past those its sectors
//   hold;
// - the new image differs from the input only in the data of the sectors put back and in their
//   status bytes, which are 00; each such sector holds its file's bytes, zeros after;
// - extracted again by the extraction's own plan (planSet, readPlannedFile), each file put back
//   gives its new bytes, zeros after, as far as its sectors go;
// - the check fails only where a sector put back lies over a record header, which changes the
//   walk of the tracks.
#include "FuzzFiles.h"

#include "DiskSet.h"
#include "Host.h"
#include "ImageWrite.h"
#include "Plan.h"
#include "UpdateCheck.h"
#include "UpdateEntries.h"
#include "UpdatePlan.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

WalkBuffers* buffers = nullptr;
std::vector<uint8_t>* scratch = nullptr; // MAX_FILE_BYTES each
std::vector<uint8_t>* after = nullptr;
std::vector<uint8_t>* expected = nullptr;

// A small generator, so that an input always makes the same new files.
struct Generator {
    uint64_t state;
    uint32_t next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state >> 33);
    }
};

std::vector<uint8_t> readAll(const char* path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        abort();
    }
    uint8_t chunk[65536];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0;) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    fclose(file);
    return bytes;
}

// The entry's new bytes, made from its bytes now: such as d88update puts back, or, when
// `refusable`, now and then too long or reaching into sectors that the image does not hold.
std::vector<uint8_t> newBytesFor(d88::D88Image& image, const UpdateEntry& entry, bool refusable,
                                 Generator& random) {
    readEntryBytes(image, entry, scratch->data());
    std::vector<uint8_t> bytes(scratch->begin(), scratch->begin() + entry.entry.size);
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
        for (uint8_t& byte : bytes) {
            byte = static_cast<uint8_t>(random.next());
        }
        break;
    default: // new bytes where the image holds sectors, zeros after
        for (uint32_t at = 0; at < held; ++at) {
            bytes[at] = static_cast<uint8_t>(random.next());
        }
    }
    return bytes;
}

// Where the last byte other than zero ends.
int64_t usedLength(const std::vector<uint8_t>& bytes) {
    size_t used = bytes.size();
    while (used > 0 && bytes[used - 1] == 0) {
        --used;
    }
    return static_cast<int64_t>(used);
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

// The new image against the input, byte by byte, and extracted again by the plan.
void checkWritten(const std::vector<uint8_t>& input, const UpdateSet& set, const UpdatePlan& plan,
                  const std::vector<std::vector<uint8_t>>& contents,
                  const DirectoryLayout& layout) {
    const std::vector<uint8_t> output = readAll("out.d88");
    if (output.size() != input.size()) {
        abort();
    }
    std::vector<uint8_t> allowed(input.size(), 0); // 1: data put back, 2: a status cleared
    for (size_t i = 0; i < set.entries.size(); ++i) {
        if (plan.files[i].outcome != UpdateOutcome::PutBack) {
            continue;
        }
        for (size_t k = 0; k < set.entries[i].sectors.size(); ++k) {
            const StoredSector& sector = set.entries[i].sectors[k];
            for (int b = 0; b < sector.length; ++b) {
                const size_t at = k * SECTOR_BYTES + static_cast<size_t>(b);
                const uint8_t want = at < contents[i].size() ? contents[i][at] : 0;
                if (output[static_cast<size_t>(sector.position) + static_cast<size_t>(b)] != want) {
                    abort();
                }
                allowed[static_cast<size_t>(sector.position) + static_cast<size_t>(b)] = 1;
            }
            const size_t status = static_cast<size_t>(statusPosition(sector.position));
            if (output[status] != d88::STATUS_NORMAL) {
                abort();
            }
            allowed[status] = 2;
        }
    }
    for (size_t at = 0; at < input.size(); ++at) {
        if (output[at] != input[at] && allowed[at] == 0) {
            abort();
        }
    }
    d88::D88Image written;
    if (!written.open("out.d88")) {
        abort();
    }
    const SaveTarget target{NameTarget::Host, hostNameRules(), nullptr, nullptr};
    const SetPlan again =
        planSet(written, identityDiskChoice(decideDiskSet(written)), layout, target, *buffers);
    for (size_t i = 0; i < set.entries.size() && i < again.entries.size(); ++i) {
        if (plan.files[i].outcome != UpdateOutcome::PutBack ||
            !isWritten(again.entries[i].outcome)) {
            continue;
        }
        const int got = readPlannedFile(written, again.entries[i], *buffers);
        for (int at = 0; at < got; ++at) {
            const size_t b = static_cast<size_t>(at);
            if (buffers->work[b] != (b < contents[i].size() ? contents[i][b] : 0)) {
                abort();
            }
        }
    }
}

// Puts new files back into the set of `layout` and checks what is written.
void updateLayout(d88::D88Image& image, const std::vector<uint8_t>& input, const DiskChoice& disks,
                  const DirectoryLayout& layout, Generator& random) {
    const FileChoice everything{{}, PatternText::Bytes};
    const std::vector<NameTarget> targets = {NameTarget::Host};
    UpdateSet set =
        readUpdateSet(image, disks, layout, targets, hostNameRules(), everything, *buffers);
    for (UpdateEntry& entry : set.entries) {
        locateEntrySectors(image, entry);
    }
    std::vector<std::vector<uint8_t>> contents(set.entries.size());
    const bool refusable = random.next() % 4 == 0; // else most sets are refused somewhere
    std::vector<FileUpdate> files;
    NewFiles streams(set.entries.size(), nullptr);
    for (size_t i = 0; i < set.entries.size(); ++i) {
        const UpdateEntry& entry = set.entries[i];
        FolderFile file{FolderFileState::None, -1, 0, 0};
        if (!entry.names[0].name.empty() && entry.owner < 0) {
            contents[i] = newBytesFor(image, entry, refusable, random);
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
                (found && length <= entry.entry.size && usedLength(contents[i]) > entry.bytesHeld &&
                 outcome != UpdateOutcome::Unchanged)) {
            abort();
        }
    }
    const UpdatePlan plan = finishUpdatePlan(set, std::move(files));
    std::vector<KnownBytes> known(set.entries.size(), KnownBytes{false, 0});
    const std::vector<ByteChange> changes = updateChanges(set, plan);
    remove("out.d88");
    if (plan.summary.refused == 0) {
        const UpdateWrite write{image, set, plan, changes, streams, known};
        PendingOutput pending;
        WriteResult result =
            writeUpdatedFiles(write, hostCurrentFolder(), {"out.d88"}, false, pending);
        d88::D88Image readBack;
        if (result.problem == WriteProblem::None) {
            const ReadBack how{after->data(), expected->data()};
            result = checkUpdatedFiles(write, how, readBack, pending, nullptr);
        }
        readBack.close();
        if (result.problem == WriteProblem::None) {
            ReplaceResult failed{};
            if (nameUpdatedFiles(pending, failed) != 1) {
                abort();
            }
            checkWritten(input, set, plan, contents, layout);
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
    if (chdir(makePrivateFolder().c_str()) != 0) {
        abort();
    }
    buffers = new WalkBuffers;
    scratch = new std::vector<uint8_t>(MAX_FILE_BYTES);
    after = new std::vector<uint8_t>(MAX_FILE_BYTES);
    expected = new std::vector<uint8_t>(MAX_FILE_BYTES);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeWholeFile("image.d88", data, size);
    const std::vector<uint8_t> input(data, data + size);
    d88::D88Image image;
    if (!image.open("image.d88")) {
        abort();
    }
    const DiskSetFacts facts = decideDiskSet(image);
    if (!disksGivenTwice(facts).empty()) {
        return 0; // refused before anything is decided
    }
    Generator random{size};
    for (size_t i = 0; i < size && i < 64; ++i) {
        random.state = random.state * 31 + data[i];
    }
    const DiskChoice disks = identityDiskChoice(facts);
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        updateLayout(image, input, disks, *layout, random);
    }
    remove("out.d88");
    return 0;
}
