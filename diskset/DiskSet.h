// The disks that the given files hold, each known by its identity: the ID byte of its ID
// sector, or, where that sector cannot be read, its place among the disks of its file, or the
// one number of the set that no other disk carries. The files are read as given, joined in the
// order given, and never reordered; which disk is which does not hang on their order. The set
// is decided once, as values, for every face (d88extract, d88info, the page).
#pragma once

#include "ByteSource.h"
#include "D88Image.h"
#include "SetFormat.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int NO_SET_NUMBER = -1; // a disk that carries none, or whose number is unknown

// How a disk's ID sector reads.
enum class IdSector {
    Clean,     // found whole, stored without a read-error status: the disk's identity
    Missing,   // no record of it, or its track is absent
    Cut,       // its record is cut short where the disk's bytes end
    ReadError, // stored with a read-error status: its byte may be wrong
};

// A disk's ID sector as read once per run: the byte the set's programs take, and how it reads.
struct IdRead {
    int byte;       // its first data byte as stored, -1 when it stores none
    IdSector state; // Clean gives the disk its identity
    uint8_t status; // the record's status byte (ReadError)
};

// Reads the ID sector of every disk that `image` indexes, once, in index order.
std::vector<IdRead> readIdSectors(d88::D88Image& image);

struct FoundDisk {
    int index;     // in the image, counted from 0 (as the reader indexes it)
    int part;      // the file its header starts in
    int64_t start; // image position of its header
    int64_t end;   // start + its size: past the end of the files when it is cut
    IdRead id;
    int setNumber; // the set number it is taken as: its ID byte when that is clean and one, else
                   // the one its place gives, else the one that no disk carries; NO_SET_NUMBER
                   // when it carries none or none is known
    bool byPlace;  // setNumber comes from its place after the disks before it in its file
    bool byGap;    // setNumber is the one number of the set that no other disk carries
    int lastTrack; // where it is cut or reaches past the files: the track its bytes end in, -1
    bool pastEnd;  // it reaches past the end of the files: a file is missing or damaged
    int cutBy;     // the file that starts inside it with a disk of its own, where it was cut
                   // short (a file is missing or damaged); -1 when none
    int repeatOf;  // the same file was given before: the disk there that this one repeats, whose
                   // bytes it is; -1 when none. A repeat counts for nothing.
    uint8_t media; // the header's media byte
    bool writeProtect;
};

// One set number and the disks that carry it, in the order given.
struct SetNumber {
    int id;
    std::vector<int> disks; // its copies: the disks' indexes (also their places in
                            // DiskSetFacts::disks), repeats of a file given again left out
    // The copies grouped by their sectors (the same IDs, statuses and bytes on every present
    // track): each group in the order given, the groups in the order of their first copies.
    std::vector<std::vector<int>> groups;
};

// Why the files are not read to their end.
enum class UnreadReason {
    None,
    NotDisk,     // what follows the disks is no D88 disk header
    TooShort,    // too few bytes follow the disks for a disk header
    ReaderLimit, // the reader stops at 64 disks, and at 2 GiB (its offsets are 32-bit)
};

// Bytes of a file after its last disk that start no disk (padding such as 0x1A or zeros, or
// anything else) and are left out, the next file read from its start.
struct StrayBytes {
    int part;
    int64_t start; // image position
    int64_t length;
};

struct DiskSetFacts {
    int partCount;
    std::vector<FoundDisk> disks; // the disks whose headers pass the check, in order
    // Where the disks end: the first header that does not pass the check, or -1 when the disks
    // run to the end of the files (or stop at the reader's 64 disks or 2 GiB).
    int64_t notDiskAt;
    int notDiskPart;                   // the file that holds it, -1 when none
    int64_t unreadFrom;                // where the files stop being read, -1 when they are read
                                       // to their end
    UnreadReason unreadReason;         // why
    int unreadPart;                    // the file where reading stops, -1 when none
    std::vector<StrayBytes> stray;     // left out between the files
    std::vector<int> partsWithoutDisk; // files that hold no byte of any disk and lie where the
                                       // disks were looked for: no D88 images
    std::vector<int> partsLikeZip;     // of those, the ones that start as a zip does: a zip
                                       // whose directory cannot be read (isZipFile)
    std::vector<int> partsUnread;      // files that lie wholly past where the reader stopped at
                                       // its limits: never looked at
    std::vector<int> partsRepeated;    // files given again after an earlier name of the same
                                       // file: read once
    std::vector<SetNumber> numbers;    // the set numbers present, ascending
    std::vector<int> otherIds;         // the disks that carry no set number, or an unknown one
    int directoryDisk;                 // the disk that holds the directory, Disk A (its first
                                       // copy); -1 when no disk is Disk A
};

// What the files given are, as the host tells them: for each, the earlier file given that is the
// same file (through another name or link), -1 when none or not known.
using SameFiles = std::vector<int>;

// Reads the disks of `image` (open, all its files joined in the order given): checks each
// header in turn, takes its ID sector from `ids` (readIdSectors), gives the disks whose ID
// sector cannot be read a number by their place or as the one missing, and groups the copies of
// each set number by their sectors. `sameFiles` (empty: all different) says which files are given
// twice.
DiskSetFacts decideDiskSet(d88::D88Image& image, const std::vector<IdRead>& ids,
                           const SameFiles& sameFiles = SameFiles());

// Which files of a group to join when only those that hold disks are wanted (the files the page
// is given, the members of a zip): a file that holds no byte of any disk is left out, and so is
// one that starts where a disk header should be and holds none (a readme, a picture, a zip
// inside the zip); the files after it are then read as if it were not there. A file that goes on
// with a disk that an earlier one starts (an image split into pieces) is kept.
struct JoinedFiles {
    std::vector<int> kept;    // indexes into the group, in its order
    std::vector<int> leftOut; // the same, ascending
    DiskSetFacts givenSet;    // the set of the whole group, before any file was left out
    int64_t givenSize;        // the length of the whole group
    DiskSetFacts set;         // the set of the files kept (when there are any)
};

// Decides which of `files` (a group, in its order) to join, opening `image` as the files kept
// each time it looks again. False when they cannot be opened. When files are kept, `image` is
// left open as them; the files and bytes stay the caller's.
bool decideJoinedFiles(d88::D88Image& image, const std::vector<d88::ByteSource>& files,
                       JoinedFiles& joined);

// The set number `id` as a person names it: "Disk A" to "Disk Z", "disk 27" and on; and its
// letter alone: "A" to "Z", "27" and on.
std::string diskLabel(int id);
std::string diskLetter(int id);

// The set number `id` in `facts`, or null when no disk carries it.
const SetNumber* findSetNumber(const DiskSetFacts& facts, int id);
