// The digests that the programs take: of the files a plan writes, read from their pieces, of the
// bytes an extraction writes, and of a disk's streams (DiskBytes.h). The printers show them.
#pragma once

#include "FileHashes.h"
#include "Plan.h"

#include "D88Image.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The digests (`kinds`, Digests.h) of each entry's file as `plan` writes it, by position in the
// plan: read from its pieces into buffers.work. Not taken where the plan writes no file or the
// library failed.
std::vector<FileDigests> digestPlannedFiles(d88::D88Image& image, const SetPlan& plan,
                                            WalkBuffers& buffers, unsigned kinds);

// For extractPlan's watch, with `context` a vector of FileDigests by position in the plan (as
// many as it has entries): digests the bytes of a file that is about to be written, from the
// buffer that they are written from.
void digestWrittenFile(size_t position, const uint8_t* bytes, size_t length, void* context);

// The digests of disk `disk`'s bytes as stored (all kinds) and of its content (SHA-256).
DiskDigests digestDisk(d88::D88Image& image, int disk);

// Why SHA-1 and SHA-256 cannot be taken, or null when they can: a missing library is said in
// one line, never left as hashes of null.
const char* digestProblem();
