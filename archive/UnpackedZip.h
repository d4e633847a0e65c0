// A zip given in place of image files: its members unpacked into anonymous temporary files, as
// the zip policy (ZipPolicy.h) decides, the same for the page. Knows nothing of disks: which
// members hold one is decided by the caller, member by member, as for the files given.
#pragma once

#include "ZipPolicy.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct FileClose {
    void operator()(FILE* file) const { fclose(file); }
};
using OwnedFile = std::unique_ptr<FILE, FileClose>;

// A member unpacked: its name as the zip stores it (UTF-8 when the zip says so, otherwise its
// bytes; to be shown escaped, never used as a path) and its bytes in a file that has no name
// and vanishes when it is closed or the program ends, however it ends.
struct UnpackedMember {
    std::string name;
    OwnedFile file;
};

struct UnpackedZip {
    ZipVerdict verdict;    // why it is refused, refusal None when it is not
    std::string member;    // the name of the member that the verdict names, as stored
    int64_t unpackedBytes; // what its members declare together, which the run's limit counts
    // The files, in the order that the page joins them (see MemberOrder.h); folders are left
    // out, and so is what is neither a file nor a folder (a link), named in `notFiles`.
    std::vector<UnpackedMember> members;
    std::vector<std::string> notFiles;
};

// Reads the zip open as `zip` (from its start, seeking), shown as `path`, with the files and
// zips of the run before it `run`: decides from its directory and its members' local headers
// before inflating any, then unpacks each file into an anonymous temporary file, never past its
// declared size, and checks its CRC-32. On a refusal nothing is kept.
UnpackedZip unpackZip(FILE* zip, const char* path, const ZipRunSoFar& run);
