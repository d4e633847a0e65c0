// The hashes of the files that a plan writes and of the disks that an image holds, as JSON
// values for the documents of d88info and d88extract, from digests taken elsewhere (the program
// digests the bytes it writes or reads). Not in the page's build: the page hashes in the browser.
#pragma once

#include "Digests.h"
#include "Outcomes.h"
#include "Plan.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

// The digests of one entry's bytes, by its position in the plan.
struct FileDigests {
    bool taken; // false: no file, or the library failed
    Digests digests;
};

// The digests of a disk: its bytes as stored, and its content (DiskBytes.h).
struct DiskDigests {
    bool taken; // false: its header cannot be read, or the library failed
    Digests stored;
    Digests content;
};

// The CRC-32 in lower-case hex, 8 digits, most significant first (as `crc32` prints it).
std::string crc32Hex(uint32_t crc);

// {"crc32": ..., "sha1": ..., "sha256": ...}
nlohmann::ordered_json fileHashesJson(const Digests& digests);

// Sets "hashes" in each entry of a set document: its file's hashes where they were taken, null
// otherwise.
void addFileHashes(nlohmann::ordered_json& document, const std::vector<FileDigests>& digests);

// {"stored": {crc32, sha1, sha256}, "content": {"sha256": ...}}, or null when not taken.
nlohmann::ordered_json diskHashesJson(const DiskDigests& digests);
