// A zip's own records, read from its bytes: what its central directory declares of each member,
// and what a member's local header (and data descriptor) declares. libarchive tells neither all
// of it (no method, CRC-32 or offset, and nothing of the local header), and the zip policy
// (ZipPolicy.h) needs it all to decide as the page decides.
#pragma once

#include "ZipPolicy.h"

#include <cstdint>
#include <string>
#include <vector>

// The most of a central directory that is read: the directory of 64 disk files takes a few
// kilobytes, and 100,000 members about 5 MB.
constexpr int64_t MAX_ZIP_DIRECTORY_BYTES = int64_t{64} << 20;

// Reads the directory of the zip open as `fd`, of `zipSize` bytes: every member as listed, in
// the directory's order. False with `detail` (what was seen) when it cannot be read.
bool readZipDirectory(int fd, int64_t zipSize, std::vector<ZipEntryFacts>& entries,
                      std::string& detail);

// What the local header of `entry` declares, with its data descriptor when the header leaves the
// sizes to one, read as zip.js reads it (its four layouts tried, those that agree with the
// directory first).
ZipLocalFacts readLocalFacts(int fd, const ZipEntryFacts& entry);
