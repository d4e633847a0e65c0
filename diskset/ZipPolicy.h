// Which members of a zip are read, which are left out, and when the whole zip is refused: one
// policy for d88extract and d88info (which unpack through libarchive) and the page (through
// zip.js), decided here from what each face reads of the zip. Three steps, in this order on
// every face: what the zip's directory declares (before any byte is inflated), what the local
// headers of the members to read declare (still before any is inflated), and what each member
// unpacks to. Plain values; nothing here reads a file.
#pragma once

#include "D88Image.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What one member may declare, and what the members of all the zips of one run may declare
// together (they are all unpacked before the image is read): far more than a set of 64 disks
// takes, far less than a zip bomb unpacks to.
constexpr int64_t MAX_MEMBER_BYTES = int64_t{512} << 20;
constexpr int64_t MAX_UNPACKED_BYTES = int64_t{512} << 20;

constexpr int ZIP_STORED = 0;
constexpr int ZIP_DEFLATED = 8;

// What the zip's central directory declares of one member.
struct ZipEntryFacts {
    std::string name;       // the bytes stored: shown escaped or decoded, never used as a path
    bool utf8;              // the name is marked as UTF-8 (flag bit 11)
    int madeBy;             // the system of "version made by" (3: Unix)
    uint32_t attributes;    // the external attributes
    int method;             // ZIP_STORED, ZIP_DEFLATED or another
    bool encrypted;         // flag bit 0
    uint32_t crc32;         // of the bytes it unpacks to
    int64_t size;           // the bytes it unpacks to
    int64_t compressedSize; // the bytes it takes in the zip
    int64_t offset;         // of its local header
};

// What a member's local header declares, with the data descriptor after its data when the
// header leaves its sizes and CRC-32 to one (flag bit 3).
struct ZipLocalFacts {
    bool found;        // a local header lies at the member's offset
    int64_t dataStart; // where its data starts, after the header
    int64_t dataEnd;   // where its data ends, with the data descriptor
    uint32_t crc32;    // as the header (or the data descriptor) declares them
    int64_t size;      // -1 when the header defers them and no data descriptor is found
    int64_t compressedSize;
};

enum class ZipMemberKind {
    File,    // read, unless the zip is refused
    Folder,  // passed over
    NotFile, // a link, a device: left out and named
};

enum class ZipRefusal {
    None,
    NotUnpacked,      // this build reads no zip (Windows)
    Unreadable,       // no zip directory, or a damaged one: `detail` says what was seen
    TooManyFiles,     // `count` files, and `others` files beside them: more than 64
    Encrypted,        // `member` is encrypted
    Method,           // `member` is compressed with method `bytes`, which is not read
    Damaged,          // `member` cannot be unpacked: `damage` says why
    MemberTooLarge,   // `member` declares `bytes`, more than MAX_MEMBER_BYTES
    TooLarge,         // the members declare `bytes`, and the zips before `before`: too much
    InflatesPastSize, // `member` inflates past the `bytes` it declares: stopped there
    BadCrc,           // `member` unpacks to bytes whose CRC-32 is not the one declared
    NoTemporaryFile,  // no file to unpack into: `detail` names the folder, `error` says why
};

enum class ZipDamage {
    None,
    NoLocalHeader,     // no local header where the directory puts one
    PastEnd,           // its data runs past the end of the zip
    SizesDiffer,       // directory: `bytes` (`compressed`), local header: `localBytes` (...)
    CrcsDiffer,        // the directory and the local header declare other CRC-32s
    StoredSizesDiffer, // stored, with a compressed size other than its size
    Overlap,           // its data lies over another member's
    InflatesShort,     // it inflates to fewer bytes than it declares
    Unpacking,         // the zip library cannot unpack it: `detail` says why
};

struct ZipVerdict {
    ZipRefusal refusal = ZipRefusal::None;
    int member = -1; // the member it is about, by index in the zip's directory
    int64_t bytes = 0;
    int64_t before = 0;
    int64_t count = 0;
    int64_t others = 0;
    ZipDamage damage = ZipDamage::None;
    int64_t compressed = 0;
    int64_t localBytes = 0;
    int64_t localCompressed = 0;
    std::string detail;
    int error = 0;
};

// What the zips and files of one run took before this zip.
struct ZipRunSoFar {
    int64_t otherFiles;     // the files that the image reads beside this zip's
    int64_t unpackedBefore; // what the members of the zips before it declare
};

// The first step: the members to read and to leave out, or the refusal.
struct ZipPlan {
    ZipVerdict verdict;
    std::vector<int> files;    // the members to read, in the zip's order
    std::vector<int> notFiles; // left out: neither a file nor a folder
    int64_t unpackedBytes;     // what the files declare together
};

// What the member is: a folder (its name ends in '/', or its attributes say so), a file, or
// something else (a link, a device) as Unix attributes say.
ZipMemberKind memberKind(const ZipEntryFacts& entry);

// From the zip's directory, before any byte is read: more than 64 files with the others of the
// run; then in the zip's order, a file that is encrypted, compressed with a method other than
// stored or deflated, that declares more than MAX_MEMBER_BYTES, or stored with two sizes; then
// the files' sizes together with those of the zips before it, past MAX_UNPACKED_BYTES.
ZipPlan planZip(const std::vector<ZipEntryFacts>& entries, const ZipRunSoFar& run);

// From the local headers of the files to read (`locals` by position in `plan.files`), before
// any is inflated: a header missing, data past the zip's end (`zipSize`), sizes or CRC-32s
// that differ from the directory's, in the zip's order; then data that lies over another's.
ZipVerdict checkLocalHeaders(const std::vector<ZipEntryFacts>& entries, const ZipPlan& plan,
                             const std::vector<ZipLocalFacts>& locals, int64_t zipSize);

// After member `member` was unpacked (the face stops as soon as it passes its declared size):
// `bytes` came out, and their CRC-32 matches the declared one or not.
ZipVerdict checkUnpacked(const ZipEntryFacts& entry, int member, int64_t bytes, bool crcMatches);

// True when `head` (the first `length` bytes of a file) starts as a zip does: with a member's
// local header, or, when it holds nothing, with its end record.
bool startsAsZip(const uint8_t* head, size_t length);

// The name of a member as the page shows it: as stored when marked UTF-8 or when it is UTF-8,
// else decoded from Shift_JIS (code page 932), else its bytes past ASCII as \xNN.
std::string memberShownName(const ZipEntryFacts& entry);
