// The disks that the given files hold, each known by its identity: the ID byte of its ID
// sector. The files are read as given, joined in the order given, and never reordered; the
// set is decided once, as values, for every face (d88extract, d88info, the page).
#pragma once

#include "D88Image.h"

#include <cstdint>
#include <string>
#include <vector>

// The ID bytes that number the disks of a set: one image holds at most 64 disks.
constexpr int MAX_SET_NUMBER = d88::MAX_DISKS;
constexpr int NO_SET_ID = -1; // the ID sector cannot be read

inline bool isSetNumber(int id) {
    return id >= 1 && id <= MAX_SET_NUMBER;
}

struct FoundDisk {
    int index;     // in the image, counted from 0 (as the reader indexes it)
    int part;      // the file its header starts in
    int64_t start; // image position of its header
    int64_t end;   // start + its size: past the end of the files when it is cut
    int setId;     // the first byte of its ID sector, NO_SET_ID when it cannot be read
    bool pastEnd;  // it reaches past the end of the files: a file is missing or damaged
    int cutBy;     // the file that starts inside it with a disk of its own, where it was
                   // cut short (a file is missing or damaged); -1 when none
    uint8_t media; // the header's media byte
    bool writeProtect;
};

// One set number and the disks that carry it, in the order given.
struct SetNumber {
    int id;
    std::vector<int> disks;  // the disks' indexes, which are also their places in
                             // DiskSetFacts::disks
    std::vector<int> differ; // the disks after the first whose bytes differ from the first's
};

// Why the files are not read to their end.
enum class UnreadReason {
    None,
    NotDisk,     // what follows the disks is no D88 disk header
    TooShort,    // too few bytes follow the disks for a disk header
    ReaderLimit, // the reader stops at 64 disks, and at 2 GiB (its offsets are 32-bit)
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
    std::vector<int> partsWithoutDisk; // files that hold no byte of any disk and lie where the
                                       // disks were looked for: no D88 images
    std::vector<int> partsUnread;      // files that lie wholly past where the reader stopped at
                                       // its limits: never looked at
    std::vector<SetNumber> numbers;    // the set numbers present, ascending
    std::vector<int> otherIds;         // the disks that carry no set number
    int directoryDisk;                 // the disk that holds the directory: the first with ID
                                       // byte 01, else the first disk; -1 when there is none
};

// Reads the disks of `image` (open, all its files joined in the order given): checks each
// header in turn, reads its ID byte, and compares the disks that carry one set number.
DiskSetFacts decideDiskSet(d88::D88Image& image);

// Which files of a group to join when only those that hold disks are wanted (the files the page
// is given, the members of a zip): a file that holds no byte of any disk is left out, and so is
// one that starts where a disk header should be and holds none (a readme, a picture, a zip
// inside the zip); the files after it are then read as if it were not there. A file that goes on
// with a disk that an earlier one starts (an image split into pieces) is kept.
struct JoinedFiles {
    std::vector<int> kept;    // indexes into the group, in its order
    std::vector<int> leftOut; // the same, ascending
    DiskSetFacts givenSet;    // the set of the whole group, before any file was left out
    DiskSetFacts set;         // the set of the files kept (when there are any)
};

// Decides the files of a group of `count` with `open`, which opens `image` as the files of the
// group that `kept` names, joined in that order. False when `open` fails. When files are kept,
// `image` is left open as them.
bool decideJoinedFiles(d88::D88Image& image, int count,
                       bool (*open)(const std::vector<int>& kept, void* context), void* context,
                       JoinedFiles& joined);

// The first byte of the ID sector of disk `index`, NO_SET_ID when the sector cannot be read.
// The one reader of the ID byte: the programs' search, the set and the listings use it.
int readSetId(d88::D88Image& image, int index);

// The set number `id` as a person names it: "Disk A" to "Disk Z", "disk 27" and on.
std::string diskLabel(int id);

// The set number `id` in `facts`, or null when no disk carries it.
const SetNumber* findSetNumber(const DiskSetFacts& facts, int id);
