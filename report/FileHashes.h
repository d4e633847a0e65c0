// The hashes of the files that a plan writes and of the disks that an image holds, as JSON
// values for the documents of d88info and d88extract: digests (digest/) of the bytes that the
// plan and the disk streams (diskset/) hand over. Not in the page's build: the page hashes in
// the browser.
#pragma once

#include "Digests.h"
#include "Outcomes.h"
#include "Plan.h"
#include "PlanJson.h"

#include "D88Image.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// The CRC-32 in lower-case hex, 8 digits, most significant first (as `crc32` prints it).
std::string crc32Hex(uint32_t crc);

// {"crc32": ..., "sha1": ..., "sha256": ...}
nlohmann::ordered_json fileHashesJson(const Digests& digests);

// For each entry of `plan`: its file's hashes when the plan writes it, null otherwise. Reads
// each such file from its pieces into buffers.work. Null too where the library failed.
std::vector<nlohmann::ordered_json> plannedFileHashes(d88::D88Image& image, const SetPlan& plan,
                                                      WalkBuffers& buffers);
// For each entry of `plan`: the CRC-32 of its file as crc32 prints it when the plan writes it,
// empty otherwise (only the CRC is taken: no other library is started).
std::vector<std::string> plannedFileCrcs(d88::D88Image& image, const SetPlan& plan,
                                         WalkBuffers& buffers);
// The digests of one entry's bytes as an extraction wrote them.
struct FileDigests {
    bool taken; // false: nothing was written, or the library failed
    Digests digests;
};
// For extractPlan's watch, with `context` a vector of FileDigests by position in the plan (as
// many as it has entries): digests the bytes of a file that is about to be written, from the
// buffer that they are written from.
void digestWrittenFile(size_t position, const uint8_t* bytes, size_t length, void* context);

// For each entry: the hashes of the bytes that the extraction wrote (`digests`, by position)
// when its file was written (`results`), null otherwise.
std::vector<nlohmann::ordered_json> writtenFileHashes(const std::vector<FileDigests>& digests,
                                                      const std::vector<FileResult>& results);
// Sets "hashes" in each entry of a set document.
void addFileHashes(nlohmann::ordered_json& document, std::vector<nlohmann::ordered_json> hashes);

// {"stored": {crc32, sha1, sha256}, "content": {"sha256": ...}} of disk `disk` (see
// DiskBytes.h); null when its header cannot be read or the library failed.
nlohmann::ordered_json diskHashesJson(d88::D88Image& image, int disk);
