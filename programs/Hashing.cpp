#include "Hashing.h"

#include "DiskBytes.h"

namespace {

void takeIntoDigests(const uint8_t* bytes, size_t length, void* context) {
    addToDigests(*static_cast<DigestStream*>(context), bytes, length);
}

// The digests of a disk stream; false when the disk or the library fails.
bool digestDiskStream(bool (*stream)(d88::D88Image&, int, const ByteSink&), d88::D88Image& image,
                      int disk, unsigned kinds, Digests& digests) {
    DigestStream digesting;
    if (!startDigests(digesting, kinds)) {
        return false;
    }
    const bool streamed = stream(image, disk, ByteSink{takeIntoDigests, &digesting});
    return finishDigests(digesting, digests) && streamed;
}

} // namespace

std::vector<FileDigests> digestPlannedFiles(d88::D88Image& image, const SetPlan& plan,
                                            WalkBuffers& buffers, unsigned kinds) {
    std::vector<FileDigests> digests(plan.entries.size(), FileDigests{false, Digests{}});
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        if (isWritten(entry.outcome)) {
            readPlannedFile(image, entry, buffers);
            digests[i].taken = digestBytes(buffers.work, static_cast<size_t>(entry.entry.size),
                                           kinds, digests[i].digests);
        }
    }
    return digests;
}

void digestWrittenFile(size_t position, const uint8_t* bytes, size_t length, void* context) {
    auto& files = *static_cast<std::vector<FileDigests>*>(context);
    if (position < files.size()) {
        files[position].taken = digestBytes(bytes, length, DIGEST_ALL, files[position].digests);
    }
}

DiskDigests digestDisk(d88::D88Image& image, int disk) {
    DiskDigests digests{};
    digests.taken =
        digestDiskStream(streamStoredDisk, image, disk, DIGEST_ALL, digests.stored) &&
        digestDiskStream(streamDiskContent, image, disk, DIGEST_SHA256, digests.content);
    return digests;
}

const char* digestProblem() {
    return digestLibraryProblem();
}
