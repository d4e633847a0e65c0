// Zips for the tests, written byte by byte, so that a test can make what no zip tool makes: a
// member that declares another size than it holds, or that is marked encrypted. Deflated with
// zlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipMember {
    std::string name; // ending in '/' for a folder
    std::vector<uint8_t> bytes;
    bool deflated = true;
    int64_t declaredSize = -1; // the size the headers declare; -1: the size of `bytes`
    bool encrypted = false;    // flagged as encrypted, behind a 12-byte encryption header
    // What the zip's directory or the member's local header alone declares, where it lies; -1:
    // as both declare.
    int64_t centralSize = -1;
    int64_t localSize = -1;
    int64_t crc = -1; // the CRC-32 declared; -1: that of `bytes`
    int method = -1;  // the method declared; -1: deflated (8) or stored (0)
    bool utf8 = true; // the name is marked as UTF-8
};

// The zip of `members`, in that order; zip64 records where sizes or the count need them.
std::vector<uint8_t> zipBytes(const std::vector<ZipMember>& members);
