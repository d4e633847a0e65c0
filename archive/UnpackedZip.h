// A zip given in place of image files: its members unpacked into anonymous temporary files,
// within limits checked before anything is inflated. Knows nothing of disks: which members hold
// one is decided by the caller, member by member, as for the files given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// What a zip's members may declare, one and all of them together, as the page allows: far more
// than a set of 64 disks takes, far less than a zip bomb unpacks to.
constexpr int64_t MAX_MEMBER_BYTES = int64_t{512} << 20;
constexpr int64_t MAX_UNPACKED_BYTES = int64_t{512} << 20;

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

enum class ZipRefusal {
    None,
    NotUnpacked,      // this build reads no zip (Windows)
    Unreadable,       // no zip directory, or a damaged one: `detail` says what the library saw
    TooManyFiles,     // more files than `maxFiles`: `count` of them
    MemberTooLarge,   // `member` declares `bytes`, more than MAX_MEMBER_BYTES
    TooLarge,         // the members declare `bytes` together, more than MAX_UNPACKED_BYTES
    Encrypted,        // `member` is encrypted
    InflatesPastSize, // `member` inflates to more than the `bytes` it declares: stopped there
    Damaged,          // `member` cannot be inflated, or to fewer bytes: `detail` says why
    NoTemporaryFile,  // no file to unpack into: `detail` names the folder, `error` says why
};

struct UnpackedZip {
    ZipRefusal refusal = ZipRefusal::None;
    std::string member;
    int64_t bytes = 0;
    int64_t count = 0;
    std::string detail;
    int error = 0;
    // The files, in the order that the page joins them (see MemberOrder.h); folders are left
    // out, and so is what is neither a file nor a folder (a link), named in `notFiles`.
    std::vector<UnpackedMember> members;
    std::vector<std::string> notFiles;
};

// True when `head` (the first `length` bytes of a file) starts as a zip does: with a member's
// local header, or, when it holds nothing, with its end record.
bool startsAsZip(const uint8_t* head, size_t length);

// Reads the zip open as `zip` (from its start, seeking): counts its files and sums the sizes
// they declare before inflating any, then unpacks each into an anonymous temporary file, never
// past its declared size. At most `maxFiles` files. On a refusal nothing is kept.
UnpackedZip unpackZip(FILE* zip, int maxFiles);
