// Writes the image that an update plan makes: each given file's bytes, with the plan's changes,
// into a new file of its own that is read back with the same reader before it takes its name.
// The bytes are made a chunk at a time and the new files are read through the reader's blocks,
// so that memory does not grow with the image. It decides nothing of its own: the bytes come
// from readUpdatedBytes, the check from UpdateCheck.h.
#pragma once

#include "FileHashes.h"
#include "Host.h"
#include "PendingFile.h"
#include "UpdateCheck.h"
#include "UpdateEntries.h"
#include "UpdatePlan.h"

#include "D88Image.h"

#include <string>
#include <vector>

// What an entry's file must hold read back, when the run knows it: the CRC-32 of the bytes it
// put there (a file put back, with zeros after) or compared (a file unchanged) or, once
// completeUpdate has run, of every other entry's bytes with the changes made.
struct KnownBytes {
    bool known;
    uint32_t crc32;
};

// What is written: the plan and the bytes it is made from.
struct UpdateWrite {
    d88::D88Image& image; // the files given, read as one image
    const UpdateSet& set;
    const UpdatePlan& plan;
    const std::vector<ByteChange>& changes;
    const NewFiles& files;
};

// Tells what every entry that `known` does not know yet must hold read back: its bytes in the
// files given with the changes made, made in `scratch` (MAX_FILE_BYTES).
void completeUpdate(const UpdateWrite& write, std::vector<KnownBytes>& known, uint8_t* scratch);

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

// How the new files are checked: what each entry must hold (every one known, by completeUpdate),
// a buffer of MAX_FILE_BYTES for an entry's bytes read back and, when not null, the digests of
// the file of each entry put back or unchanged as read back, by position.
struct CheckWith {
    const std::vector<KnownBytes>& known;
    uint8_t* after;
    std::vector<FileDigests>* digests;
};

// Reads the new files back with `image` (left open on success) and checks every entry against
// the plan. `image` may be write.image, which then no longer reads the files given. On a problem
// the new files are dropped.
WriteResult checkUpdatedFiles(const UpdateWrite& write, const CheckWith& with, d88::D88Image& image,
                              PendingOutput& output);

// Names the new files in order; the first that cannot take its name stops it, and the rest are
// dropped. Returns the files named; `failed` says why the next was not.
size_t nameUpdatedFiles(PendingOutput& output, ReplaceResult& failed);

// Drops every new file.
void dropUpdatedFiles(PendingOutput& output);
