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
};

// The zip of `members`, in that order; zip64 records where sizes or the count need them.
std::vector<uint8_t> zipBytes(const std::vector<ZipMember>& members);
