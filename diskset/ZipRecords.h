// A zip's own records, read from its bytes (a file open alone as a D88Image, which reads any
// bytes): whether a file given is a zip, what its central directory declares of each member,
// and what a member's local header (and data descriptor) declares. libarchive tells neither all
// of it (no method, CRC-32 or offset, and nothing of the local header), and the zip policy
// (ZipPolicy.h) needs it all to decide as the page decides.
#pragma once

#include "ZipPolicy.h"

#include "D88Image.h"

#include <cstdint>
#include <string>
#include <vector>

// The most of a central directory that is read: the directory of 64 disk files takes a few
// kilobytes, and 100,000 members about 5 MB.
constexpr int64_t MAX_ZIP_DIRECTORY_BYTES = int64_t{64} << 20;

// Whether a given file, open alone as `file`, is read as a zip: it starts as one, is no D88
// disk (a disk whose header's name starts with "PK\3\4" is a disk), and its directory can be
// read (readZipDirectory). Any other file is read as bytes: a disk, or a piece of one that
// happens to start with a zip's first bytes.
bool isZipFile(d88::D88Image& file);

// Reads the directory of the zip open as `zip`: every member as listed, in the directory's
// order. False with `detail` (what was seen) when it cannot be read.
bool readZipDirectory(d88::D88Image& zip, std::vector<ZipEntryFacts>& entries, std::string& detail);

// What the local header of `entry` declares, with its data descriptor when the header leaves the
// sizes to one, read as zip.js reads it (its four layouts tried, those that agree with the
// directory first).
ZipLocalFacts readLocalFacts(d88::D88Image& zip, const ZipEntryFacts& entry);
