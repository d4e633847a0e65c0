// Writes the image that an update plan makes: each given file's bytes, with the plan's changes,
// into a new file of its own that is read back with the same reader before it takes its name.
// It decides nothing of its own: the bytes come from readUpdatedBytes, the check from
// UpdateCheck.h.
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

// What an entry's file must hold read back, when the run knows it already: the CRC-32 of the
// bytes it put there (a file put back, with zeros after) or compared (a file unchanged). The
// others are compared byte for byte with their bytes made again from the image and the files.
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
    const std::vector<KnownBytes>& known; // by entry
};

// The caller's buffers for reading the set back.
struct ReadBack {
    uint8_t* after;    // MAX_FILE_BYTES: an entry's file as read back
    uint8_t* expected; // MAX_FILE_BYTES: what it should hold
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

// Reads the new files back into `image` (left open on success) and checks every entry against
// the plan. With `after`, the digests of the file of each entry put back or unchanged, as read
// back, are stored there, by position. On a problem the new files are dropped.
WriteResult checkUpdatedFiles(const UpdateWrite& write, const ReadBack& how, d88::D88Image& image,
                              PendingOutput& output, std::vector<FileDigests>* after);

// Names the new files in order; the first that cannot take its name stops it, and the rest are
// dropped. Returns the files named; `failed` says why the next was not.
size_t nameUpdatedFiles(PendingOutput& output, ReplaceResult& failed);

// Drops every new file.
void dropUpdatedFiles(PendingOutput& output);
