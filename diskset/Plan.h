// What an extraction does with the set's directory, decided once as plain values: every listed
// entry's outcome, saved name and the pieces of the given files that make its bytes. The
// extraction programs, d88extract, d88info and the web page print or act on these and decide
// nothing again. Nothing here prints or writes.
#pragma once

#include "DirEntry.h"
#include "DirectoryLayout.h"
#include "DiskSet.h"
#include "SavedName.h"
#include "SectorMerge.h"
#include "SetFormat.h"

#include "D88Image.h"

#include <cstdint>
#include <vector>

struct FileChoice;

// What the walk decides for one entry, in the order in which it tests them.
enum class EntryOutcome {
    NotChosen,   // the user's choice of files (FileChoice) leaves it out: nothing is read
    NoDisk,      // no disk carries the entry's number
    Empty,       // size 0: nothing to read
    Missing,     // the first sector cannot be read: nothing is written
    UnsafeName,  // the name could reach outside the folder
    ImageItself, // the name is a file of the image being read
    Uncreatable, // the name can never be created: empty, "." or ".."
    Whole,       // the whole file was read
    Incomplete,  // written with its full size, zero past the bytes that could be read
};

// True for the outcomes whose file is written.
bool isWritten(EntryOutcome outcome);

// `length` bytes of given file `part`, from byte `offset` of that file; or, with `part`
// INLINE_PIECE, bytes of the entry's own `inlineBytes` from `offset` (a sector voted from
// several copies, which no file holds as such).
struct Piece {
    int part;
    int64_t offset;
    int length;
};
constexpr int INLINE_PIECE = -1;

// The sectors that a run counted, and how many of them the image stores with a read-error
// status (their bytes are used as stored).
struct RunErrors {
    int sectors = 0;
    int errorSectors = 0;
};

// Where one sector of a file read from several copies of its disk came from.
struct SectorOrigin {
    SectorTaken taken;
    int16_t disk;      // the copy it was taken from, -1 when voted
    int16_t differing; // contested: the first copy that holds other bytes
    uint8_t agree;     // voted: the fewest copies that agree on any of its bytes
    uint8_t holders;   // copies that hold it whole
    bool readError;    // no copy holds it without a read-error status
    bool sameStatus;   // with readError: every copy holds it, with one status
};

// How a run read from several copies was merged: per sector, in order; empty when it was read
// from one disk.
struct MergedRun {
    std::vector<SectorOrigin> origins;
    std::vector<uint8_t> inlineBytes; // the bytes of voted sectors, as pieces point into them
};

// What becomes of one listed directory entry.
struct PlannedEntry {
    int index; // in the directory table
    uint8_t bytes[DIR_ENTRY_SIZE];
    DirEntry entry;
    EntryOutcome outcome;
    int disk;      // the disk that the file is read from (the first copy), -1 when none
    int bytesRead; // of entry.size; the bytes after them are zeros
    RunErrors readErrors;
    std::vector<int> errorSectors; // the file's sectors (from 0) stored with a read-error status
    std::vector<Piece> pieces;     // where the bytes read lie, in order
    std::vector<int> sources;      // per sector: the given file its bytes start in, -1 voted
    MergedRun merged;              // when its disk is given in several copies
    SavedName saved;               // the name the file is written under
    int replaces;                  // the earlier entry whose file this one's replaces, -1 none
    int replacedBy;                // the later entry whose file replaces this one's, -1 none
};

// A set number that listed entries need and that no disk carries.
struct MissingDisk {
    int id;                   // the ID byte asked for, 1 to 256
    std::vector<int> entries; // the entries that need it, by table index
};

struct SetSummary {
    int files;          // entries that would be written (whole or incomplete)
    int64_t bytes;      // their sizes
    int passedOver;     // listed entries that would not be written
    int withReadErrors; // files to write that hold sectors stored with an error status
    int repaired;       // files to write with sectors taken from a later copy
    int contested;      // files to write with sectors whose copies differ
    int voted;          // files to write with sectors voted from three copies or more
};

// The file's sectors (from 0) that were taken the way `taken` says.
std::vector<int> sectorsTaken(const MergedRun& merged, SectorTaken taken);

struct SetPlan {
    const DirectoryLayout* layout;
    NameTarget target;
    bool enoughDisks;  // false: the programs stop below MIN_SET_DISKS and nothing below is set
    int directoryDisk; // the disk the directory is read from (the first copy)
    RunErrors directoryErrors;
    MergedRun directoryMerge;          // when Disk A is given in several copies
    std::vector<PlannedEntry> entries; // the entries whose 16 bytes are not all zero
    std::vector<MissingDisk> missingDisks;
    SetSummary summary;
};

// Where the walk finds the directory and each entry's disk.
struct DiskChoice {
    bool enoughDisks;                        // the walk runs at all
    std::vector<int> directoryCopies;        // the disks the directory is read from
    std::vector<std::vector<int>> copiesFor; // by ID byte (0 to MAX_SET_ID): the disks read
                                             // for it, in the order given; empty for none
};

// True when an image of `diskCount` disks holds enough for the set's own programs, which stop
// below MIN_SET_DISKS.
bool holdsEnoughDisks(int diskCount);

// As d88extract-a and d88extract-b find them: the directory on disk 0, each entry's disk the
// first in file order whose ID byte is its number, nothing at all below four disks.
DiskChoice programsDiskChoice(d88::D88Image& image);
// By identity, as d88extract finds them: the directory on Disk A (the first disk when no disk
// carries ID byte 01), each set number's disks, however many disks there are. A set number
// given more than once with different bytes is read from all its copies, sector by sector.
DiskChoice identityDiskChoice(const DiskSetFacts& facts);

// Where the files land, as far as deciding their names needs.
struct SaveTarget {
    NameTarget names;
    NameRules rules; // the host's, for NameTarget::Host
    // The keys of the names in the folder the files go to under which a file of the image
    // stands, through any link: an entry saved under one is the image itself. None for a zip
    // or a folder still to be made.
    std::vector<std::string> imageNameKeys;
};

// The walk's two buffers: the directory sectors as read, and one file's bytes at a time. A
// program owns one set for its run.
struct WalkBuffers {
    uint8_t directory[DIRECTORY_BYTES];
    uint8_t work[WORK_BUFFER_BYTES];
};

// Reads the directory of `layout` once and decides every entry. Reads only what deciding
// needs: the directory's bytes and where each file's sectors lie, not their data. With a
// `choice`, the entries that it leaves out are not read at all.
SetPlan planSet(d88::D88Image& image, const DiskChoice& disks, const DirectoryLayout& layout,
                const SaveTarget& target, WalkBuffers& buffers, const FileChoice* choice = nullptr);

// The files that `layout` would write, as planSet decides them from each file's first sector
// alone (enough to tell whether it is written, not whether it is whole). Stops counting at
// `stopAt` files when that is not 0.
int countFiles(d88::D88Image& image, const DiskChoice& disks, const DirectoryLayout& layout,
               const SaveTarget& target, WalkBuffers& buffers, int stopAt = 0);

// Reads the bytes of `entry`'s file into buffers.work: its pieces, then zeros up to its size.
// Returns the number of bytes taken from the image.
int readPlannedFile(d88::D88Image& image, const PlannedEntry& entry, WalkBuffers& buffers);

// Which entry's file replaces which: by table index, -1 when none.
struct Replacement {
    int replaces;
    int replacedBy;
};

// Among the entries whose files are written (`written`, by position in `entries`), the later of
// two under one saved name key replaces the earlier. One result per entry, by position. The
// plan decides it from the outcomes; a run again from what it really wrote.
std::vector<Replacement> decideReplacements(const std::vector<PlannedEntry>& entries,
                                            const std::vector<bool>& written);
