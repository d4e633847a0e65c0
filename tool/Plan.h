// What an image holds and what an extraction does with it, decided once as plain values:
// d88info's text and JSON, the extraction programs and the web page print or act on these and
// decide nothing again. Nothing here prints.
#pragma once

#include "DirectoryWalk.h"
#include "SavedName.h"

#include "D88Image.h"

#include <cstdint>
#include <string>
#include <vector>

// The extraction programs need Disk A to Disk D.
constexpr int MIN_SET_DISKS = 4;
// Records listed per track at most; a longer track says that its listing was cut.
constexpr int MAX_LISTED_RECORDS = 512;

struct RecordFacts {
    d88::SectorId id;
    d88::SectorMarks marks;
    int dataLength;
};

// One track whose table entry is present (not 0 and not past the disk's size), walked as the
// extraction programs walk it when they look for a sector.
struct TrackFacts {
    int index;
    int recordCount;                  // records the walk passed
    std::vector<RecordFacts> records; // the first MAX_LISTED_RECORDS of them
    d88::WalkEnd end;
    bool pastDiskEnd; // the walk read beyond the disk's image
};

struct DiskFacts {
    int index;
    bool headerRead; // false: nothing below is known
    int32_t offset;
    uint32_t size;
    int media;
    std::string name; // the header's name bytes, up to the first NUL
    int setId;        // the first byte of the ID sector, -1 when it cannot be read
    // What the header's size says about the file, 0 or false when nothing is wrong:
    int64_t pastFileEnd;    // bytes by which the disk reaches past the end of the file
    bool sizeZero;          // the next disk starts at the same offset
    int64_t unreadAfter;    // bytes after the last of MAX_DISKS disks that no program reads
    int64_t leftoverAfter;  // bytes after the last disk, too few for a disk header
    int readErrorRecords;   // records on the present tracks stored with a read-error status
    bool readErrorsCounted; // readErrorRecords was counted (its tracks were walked)
    bool tracksListed;      // tracks holds every present track
    std::vector<TrackFacts> tracks;
};

enum class LayoutFit { A, B, Both, Neither };

struct ImagePlan {
    int64_t fileSize;
    int diskCount;
    std::vector<DiskFacts> disks; // without their tracks: describeDisk gives those
    bool enoughDisks;             // at least MIN_SET_DISKS
    int files[2];                 // files that layout a and layout b would write
    LayoutFit fit;
    int diskAElsewhere; // four disks or more and no layout yields files: disk 0 is not Disk A and
                        // this later disk is; -1 otherwise
};

// The first byte of the selected disk's ID sector (its number in the set), -1 when the sector
// cannot be read.
int readSetId(d88::D88Image& image);

// Describes disk `index` of `image` (open); with `withTracks` its tracks too. Without
// `countReadErrors` (and without tracks) no track is walked.
DiskFacts describeDisk(d88::D88Image& image, int index, bool withTracks,
                       bool countReadErrors = true);

// Which layout fits the image (open): the files that each layout would write at `target`, into
// `files`, and which of them yield any. Neither when the image has fewer than MIN_SET_DISKS
// disks (`files` then 0). Without `exactCounts` a layout's count stops at its first file unless
// both layouts yield files, which is all that choosing a layout needs.
LayoutFit decideLayoutFit(d88::D88Image& image, NameTarget target, int files[2],
                          const HostFolder& folder = hostCurrentFolder(), bool exactCounts = true);

// Describes every disk (without tracks) and decides which layout fits the image, counting the
// files that land at `target`, as decideLayoutFit does.
// Without `countReadErrors` the disks' tracks are not walked, for a caller that describes the
// disks it shows again with their tracks.
ImagePlan planImage(d88::D88Image& image, NameTarget target, bool countReadErrors = true);

// The two layouts, in the order in which the programs and their letters name them.
const DirectoryLayout* const SET_LAYOUTS[2] = {&LAYOUT_A, &LAYOUT_B};
const char* layoutLetter(const DirectoryLayout& layout);

// What becomes of one listed directory entry.
struct PlannedEntry {
    int index; // in the directory table
    uint8_t bytes[DIR_ENTRY_SIZE];
    DirEntry entry;
    EntryOutcome outcome;
    int bytesRead;
    d88::RunErrors readErrors;
    SavedName saved; // the name the file is written under
    int replaces;    // the earlier entry whose file this one's replaces, -1 when none
    int replacedBy;  // the later entry whose file replaces this one's, -1 when none
};

struct SetSummary {
    int files;          // entries that would be written (whole or incomplete)
    int64_t bytes;      // their sizes
    int passedOver;     // listed entries that would not be written
    int withReadErrors; // files to write that hold sectors stored with an error status
};

struct SetPlan {
    const DirectoryLayout* layout;
    NameTarget target;
    bool enoughDisks; // below MIN_SET_DISKS the programs stop and nothing below is set
    d88::RunErrors directoryErrors;
    std::vector<PlannedEntry> entries; // the entries whose 16 bytes are not all zero
    SetSummary summary;
};

// Called for each listed entry in table order as it is decided, with the plan so far (the
// directory's read errors, the entries up to this one) and the bytes that its file is written
// with (null when it writes none). `replaces` is already set; `replacedBy` is not.
using PlannedFileVisitor = void (*)(const SetPlan& plan, const PlannedEntry& entry,
                                    const uint8_t* data, void* context);

// Walks the directory of `layout` once and decides every entry, naming files for `target` in
// `folder`. `visit` may be null.
SetPlan planSet(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                PlannedFileVisitor visit, void* context,
                const HostFolder& folder = hostCurrentFolder());
