// Writes the image that an update plan makes: each given file's bytes, with the plan's changes,
// into a new file of its own that is read back with the same reader before it takes its name.
// An image of MAX_HELD_IMAGE_BYTES at most is held in memory (HeldImage): read once, changed in
// place, written whole and checked from those bytes. A larger one is made a chunk at a time from
// the reader's blocks, and the new files are read back the same way, so that memory does not
// grow with the image. It decides nothing of its own: the bytes come from the plan's changes
// (UpdatePlan.h), the check from UpdateCheck.h.
#pragma once

#include "FileHashes.h"
#include "Host.h"
#include "PendingFile.h"
#include "UpdateCheck.h"
#include "UpdateEntries.h"
#include "UpdatePlan.h"

#include "D88Image.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// The largest image that is held in memory: the full four-disk set (3.2 MiB) and a little more.
constexpr int64_t MAX_HELD_IMAGE_BYTES = int64_t{4} << 20;

// Gives back held memory (hostHeldMemory) of `size` bytes.
struct HeldMemoryFree {
    size_t size;
    void operator()(uint8_t* bytes) const { hostFreeHeldMemory(bytes, size); }
};

// The bytes of the files given, held in memory one after another as the image joins them.
struct HeldImage {
    std::unique_ptr<uint8_t[], HeldMemoryFree> bytes{
        nullptr, HeldMemoryFree{0}}; // null when
                                     // the image is read from its files
    int64_t size = 0;
    std::vector<int64_t> starts; // where each file's bytes start
};

// Reads the files open as `streams` (in order) whole into `held`, when they hold
// MAX_HELD_IMAGE_BYTES at most. False, with nothing held, when they are larger or cannot be read
// whole.
bool holdFiles(const std::vector<FILE*>& streams, HeldImage& held);

// Opens `image` on the bytes held, each file a part, as D88Image::openSources opens them.
bool openHeldImage(d88::D88Image& image, const HeldImage& held);

// What is written: the plan and the bytes it is made from.
struct UpdateWrite {
    d88::D88Image& image; // the files given, read as one image
    HeldImage& held;      // their bytes, when held: changed in place into the new files' bytes
    const UpdateSet& set;
    const UpdatePlan& plan;
    const std::vector<ByteChange>& changes; // those not made in held.bytes yet
    const NewFiles& files;
};

enum class WriteProblem {
    None,
    CannotWrite,  // a new file could not be made or written: `replace` says why
    ImageChanged, // the given files gave fewer bytes than when they were read
    CannotRead,   // the files written cannot be read back
    OtherPlaces,  // read back, the set's entries or sectors are not where they were
    OtherBytes,   // read back, entry `entry` (by position) does not hold what was put there
};

struct WriteResult {
    WriteProblem problem;
    size_t file;           // CannotWrite: the output file, by position
    ReplaceResult replace; // CannotWrite
    size_t entry;          // OtherBytes
};

// The new files, one per given file, each from the bytes of image file `part` = its position.
struct PendingOutput {
    std::vector<PendingFile*> files;
    std::vector<Digests> digests; // of each file's bytes, when asked for
};

// Writes the given files' bytes with the changes into new files for `paths` in `folder` (one
// per given file, in order), digesting them into output.digests with `digest`. On a problem the
// new files are dropped.
WriteResult writeUpdatedFiles(const UpdateWrite& write, const HostFolder& folder,
                              const std::vector<std::string>& paths, bool digest,
                              PendingOutput& output);

// Reads the new files back with `image` (left open on them on success): from the bytes written
// when they are held, else from the files. `image` may be write.image, which then no longer reads
// the files given. Every entry is checked against the plan and `known` (checkReadBack), and
// `digests`, when not null, gets the digests of the file of each entry put back or unchanged as
// read back, by position. On a problem the new files are dropped.
WriteResult checkUpdatedFiles(const UpdateWrite& write, const std::vector<KnownBytes>& known,
                              d88::D88Image& image, PendingOutput& output,
                              std::vector<FileDigests>* digests);

// Names the new files in order; the first that cannot take its name stops it, and the rest are
// dropped. Returns the files named; `failed` says why the next was not.
size_t nameUpdatedFiles(PendingOutput& output, ReplaceResult& failed);

// Drops every new file.
void dropUpdatedFiles(PendingOutput& output);
