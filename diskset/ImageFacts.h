// What an image holds, disk by disk and track by track, and which directory layout yields
// files from it: d88info's facts, decided once as plain values.
#pragma once

#include "Plan.h"

#include "D88Image.h"

#include <cstdint>
#include <string>
#include <vector>

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
    bool isDisk;     // the header passes the check of a D88 disk header
    int32_t offset;
    uint32_t size;
    int media;
    bool writeProtect;
    std::string name; // the header's name bytes, up to the first NUL
    IdRead id;        // its ID sector, read once per run (readIdSectors)
    int part;         // the file its header starts in
    // What the header's size says about the file, 0 or false when nothing is wrong:
    int64_t pastFileEnd;    // bytes by which the disk reaches past the end of the files
    bool sizeZero;          // the next disk starts at the same offset
    int64_t unreadAfter;    // bytes after the last of MAX_DISKS disks that no program reads
    int64_t leftoverAfter;  // bytes after the last disk, too few for a disk header
    int readErrorRecords;   // records on the present tracks stored with a read-error status
    bool readErrorsCounted; // readErrorRecords was counted (its tracks were walked)
    bool tracksListed;      // tracks holds every present track
    std::vector<TrackFacts> tracks;
};

// The media byte as D88 tools name it: "2D", "2DD", "2HD", "1D", "1DD", or null.
const char* mediaName(int media);

// Describes disk `index` of `image` (open), whose ID sector reads as `id`; with `withTracks` its
// tracks too. Without `countReadErrors` (and without tracks) no track is walked.
DiskFacts describeDisk(d88::D88Image& image, int index, const IdRead& id, bool withTracks,
                       bool countReadErrors = true);

enum class LayoutFit { A, B, Both, Neither };

// The files that a plan writes.
int filesWritten(const SetPlan& plan);

// The plans of both layouts over one reading of the directory, each made at most once, as far
// as deciding needs them.
struct LayoutPlans {
    SetPlan plans[2]; // layout a, layout b
    bool planned[2];
};

// What the plans of the layouts are made from.
struct PlanSource {
    d88::D88Image& image;
    const DiskChoice& disks;
    const DirectoryRead& directory;
    const SaveTarget& target;
    WalkBuffers& buffers;
};

// The plan of `layout`, made when it is not yet.
const SetPlan& layoutPlan(const PlanSource& source, const DirectoryLayout& layout,
                          LayoutPlans& plans);

// Which layout fits: the files that each layout writes (`files`), and which of them yield any.
LayoutFit decideLayoutFit(const PlanSource& source, LayoutPlans& plans, int files[2]);

// The layout that an extraction reads: the one asked for, unless it yields no file at all
// while the other does; without one asked for, the one that yields files.
enum class LayoutProblem {
    None,
    GivenYieldsNothing, // the layout asked for yields no file; the other yields files[other]
    Both,               // none asked for, and both yield files
    Neither,            // no layout yields a file
};

struct LayoutDecision {
    const DirectoryLayout* layout; // null with a problem
    LayoutProblem problem;
    const DirectoryLayout* given; // the layout asked for, or null
    int files[2];                 // files counted in layout a and b, as far as deciding needed
};

LayoutDecision decideLayout(const PlanSource& source, const DirectoryLayout* given,
                            LayoutPlans& plans);

// The position of `layout` among SET_LAYOUTS: 0 for a, 1 for b.
int layoutIndex(const DirectoryLayout& layout);
// The layout that is not `layout`.
const DirectoryLayout& otherLayout(const DirectoryLayout& layout);

struct ImagePlan {
    int64_t fileSize;
    int diskCount;
    std::vector<DiskFacts> disks; // without their tracks: describeDisk gives those
    bool enoughDisks;             // the walk of `disks` runs: the layouts' counts stand
    int files[2];                 // files that layout a and layout b would write
    LayoutFit fit;
    int diskAElsewhere; // the directory's disk is not Disk A and this later disk is; -1 otherwise
};

// Describes every disk (without tracks), whose ID sectors read as `ids`, and decides which
// layout fits with `source`'s disks. Without `countReadErrors` the disks' tracks are not
// walked, for a caller that describes the disks it shows again with their tracks.
ImagePlan planImage(const PlanSource& source, const std::vector<IdRead>& ids, LayoutPlans& plans,
                    bool countReadErrors = true);
