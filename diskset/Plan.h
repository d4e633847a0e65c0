// What an extraction does with the set's directory, decided once as plain values: how each of the
// directory's sectors was read, every listed entry's outcome, saved name and the pieces of the
// given files that make its bytes, and which entry's file replaces which. The extraction
// programs, d88extract, d88info and the web page print or act on these and decide nothing
// again. Nothing here prints or writes.
#pragma once

#include "DirEntry.h"
#include "DirectoryLayout.h"
#include "DiskSet.h"
#include "SavedName.h"
#include "SectorMerge.h"
#include "SetFormat.h"

#include "D88Image.h"

#include <cstdint>
#include <string>
#include <vector>

// What the walk decides for one entry, in the order in which it tests them.
enum class EntryOutcome {
    NotChosen,   // the user's choice of files (FileChoice) leaves it out
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

// Where one sector read from several copies of its disk came from (SectorPick, kept small).
struct SectorOrigin {
    SectorTaken taken;
    int16_t disk;      // the copy the bytes come from, -1 when voted
    int16_t differing; // contested: the first copy that holds other bytes
    uint8_t agree;     // contested, voted: the copies that agree (see SectorPick)
    uint8_t among;     // contested, voted: of how many
    uint8_t holders;   // copies that hold it whole
    bool readError;    // no copy holds it without a read-error status
    bool sameStatus;   // with readError: every copy holds it, with one status
    bool tie;          // the first given decided between copies that tie
};

// How a run read from several copies was merged: per sector, in order; empty when it was read
// from one disk.
struct MergedRun {
    std::vector<SectorOrigin> origins;
    std::vector<uint8_t> inlineBytes; // the bytes of voted sectors, as pieces point into them
};

// The file's sectors (from 0) that were taken the way `taken` says.
std::vector<int> sectorsTaken(const MergedRun& merged, SectorTaken taken);

// What becomes of one listed directory entry.
struct PlannedEntry {
    int index; // in the directory table
    uint8_t bytes[DIR_ENTRY_SIZE];
    DirEntry entry;
    EntryOutcome outcome;
    int disk;                      // the disk that the file is read from (the first copy), -1 none
    bool firstSectorFound;         // Missing: a record of the first sector is there, cut short
    int bytesRead;                 // of entry.size; the bytes after them are zeros
    RunErrors readErrors;          // of the sectors read
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
    int id;                   // the set number asked for, 1 to 256
    std::vector<int> entries; // the entries that need it, by table index
};

// How one of the directory's sectors was read.
struct DirectorySector {
    int bytes;           // of its 1024, the bytes known (fewer where its record is cut short)
    bool found;          // some copy holds a record of it
    SectorOrigin origin; // its marks, and from several copies how it was taken
};

// The directory's three sectors as read from Disk A (its first copy: `disk`). Read as the set's
// programs read it (`asPrograms`): one run that stops at the first sector missing or short,
// whose stored bytes it keeps. Otherwise each sector on its own, from every copy.
struct DirectoryRead {
    int disk;
    bool asPrograms;
    DirectorySector sectors[DIRECTORY_SECTORS];
    RunErrors errors; // of the sectors read whole
    MergedRun merge;  // when Disk A is given in several copies
};

// Where the walk finds the directory and each entry's disk.
struct DiskChoice {
    bool enoughDisks;                        // the walk runs at all
    bool programs;                           // the set's programs' walk (else by identity)
    std::vector<int> directoryCopies;        // the disks the directory is read from
    std::vector<std::vector<int>> copiesFor; // by set number (0 to MAX_SET_NUMBER): the disks
                                             // read for it, in the order given; empty for none
};

// True when an image of `diskCount` disks holds enough for the set's own programs, which stop
// below MIN_SET_DISKS.
bool holdsEnoughDisks(int diskCount);

// As d88extract-a and d88extract-b find them: the directory on disk 0, each entry's disk the
// first in file order whose ID byte (`ids`, as stored, whatever its status) is its number,
// nothing at all below four disks.
DiskChoice programsDiskChoice(int diskCount, const std::vector<IdRead>& ids);
// By identity, as d88extract finds them: the directory on Disk A, each set number's copies,
// however many disks there are. A set number given in copies whose sectors differ is read from
// all of them, sector by sector.
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

// Reads the directory's sectors into buffers.directory from `disks`' directory copies, once per
// run: what cannot be read stays zero.
DirectoryRead readDirectory(d88::D88Image& image, const DiskChoice& disks, WalkBuffers& buffers);

// True when every byte of entry `index` of `layout` was read from the directory.
bool entryRead(const DirectoryRead& read, const DirectoryLayout& layout, int index);

struct SetPlan {
    const DirectoryLayout* layout;
    NameTarget target;
    bool enoughDisks;  // false: the programs stop below MIN_SET_DISKS and nothing below is set
    int directoryDisk; // the disk the directory is read from (the first copy), -1 when none
    DirectoryRead directory;
    std::vector<PlannedEntry> entries; // the entries read whole whose 16 bytes are not all zero
    std::vector<int> unreadable;       // the entries whose bytes lie where the directory could
                                       // not be read, by table index
    std::vector<MissingDisk> missingDisks;
};

// Decides every entry of `layout` in the directory read into `buffers`: its disk by the set
// number, its file's pieces, its saved name, and which entry's file replaces which. Reads only
// where each file's sectors lie, not their data.
SetPlan planSet(d88::D88Image& image, const DiskChoice& disks, const DirectoryRead& directory,
                const DirectoryLayout& layout, const SaveTarget& target, WalkBuffers& buffers);

// Sets what the plan's outcomes give: the disks that entries to be written need and no file
// holds, and which entry's file replaces which. planSet and a choice of files end with it.
void settlePlan(SetPlan& plan);

// Reads the bytes of `entry`'s file into buffers.work: its pieces, then zeros up to its size.
// Returns the number of bytes taken from the image.
int readPlannedFile(d88::D88Image& image, const PlannedEntry& entry, WalkBuffers& buffers);

// Which entry's file replaces which: by table index, -1 when none.
struct Replacement {
    int replaces;
    int replacedBy;
};

// The entry whose file the file of the entry at `position` replaces when it is written: the last
// entry before it under the same saved name whose file is written (`written`, by position, as
// far as it goes; the plan's outcomes beyond). Its table index, -1 when none.
int replacedEarlier(const SetPlan& plan, const std::vector<bool>& written, size_t position);

// Every entry's replacements given which files are written (`written`, by position; the plan's
// outcomes where it is empty). One result per entry, by position.
std::vector<Replacement> decideReplacements(const SetPlan& plan, const std::vector<bool>& written);
