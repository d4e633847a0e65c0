// The set's entries as d88update needs them to put changed files back: the names an entry's file
// may stand under in a folder, whether an extraction writes it, and where the image stores each
// of its sectors. The one place that reads the extraction's plan and locates sectors with the
// reader: the rest of the putting back depends on these values alone.
#pragma once

#include "DirEntry.h"
#include "DirectoryLayout.h"
#include "FileChoice.h"
#include "Plan.h"
#include "SavedName.h"

#include "D88Image.h"

#include <cstdint>
#include <vector>

// One sector of an entry's file as the image stores it: its data from image position `position`
// (its record's 16-byte header lies right before), `length` bytes of it taken by a read.
struct StoredSector {
    int64_t position;
    int length;
    uint8_t status; // its record's status byte
};

// Image positions from `start` up to `end`.
struct ByteSpan {
    int64_t start;
    int64_t end;
};

// The image position of the status byte of the record whose data starts at `dataPosition`.
inline int64_t statusPosition(int64_t dataPosition) {
    return dataPosition - d88::SECTOR_RECORD_HEADER_SIZE + d88::STATUS_OFFSET;
}

struct UpdateEntry {
    int index; // in the directory table
    uint8_t bytes[DIR_ENTRY_SIZE];
    DirEntry entry;
    // The names its file may stand under in a folder, one per name target asked for, in that
    // order (as the locale's extraction names it first); a name that the target refuses is
    // left empty.
    std::vector<SavedName> names;
    bool chosen;  // the user's choice of files (-i) takes it
    bool written; // an extraction writes its file
    int disk;     // the disk that holds its sectors, -1 when none does
    // Another entry (by table index) whose file stands under its name after an extraction: the
    // last written one of that name (else the last of that name), -1 when this entry's own.
    int owner;
    // Filled by locateEntrySectors: the sectors the image holds for it, up to the first missing
    // one, and the bytes of the file that those sectors hold.
    std::vector<StoredSector> sectors;
    int bytesHeld;
};

// The set's listed entries, and what a putting back must never write into: the directory's
// sectors and every disk's ID sector, their record headers included.
struct UpdateSet {
    const DirectoryLayout* layout;
    std::vector<UpdateEntry> entries; // the listed entries, in table order
    std::vector<ByteSpan> directory;
    std::vector<ByteSpan> idSectors; // by disk index; empty spans where a disk has none
};

// Every listed entry of `planned` (of the disks of `disks`, with `choice` applied), with its names
// for each target of `targets` (the first is the plan's), and the directory's and ID sectors
// located; the entries' own sectors are located one by one, by locateEntrySectors, so that each
// entry's bytes can be read while the reader still holds its tracks.
UpdateSet readUpdateSet(d88::D88Image& image, const DiskChoice& disks, const SetPlan& planned,
                        const std::vector<NameTarget>& targets, const NameRules& rules,
                        const FileChoice& choice);

// Locates the sectors that hold the entry's file on its disk.
void locateEntrySectors(d88::D88Image& image, UpdateEntry& entry);

// Locates the sectors of every entry of `set` as locateEntrySectors does, from what `plan` found:
// `plan` is the plan that `set` was read from (before the user's choice of files applied), for
// the same image and `disks`. The plan's walk found each sector already; only its status byte is
// read. An entry whose disk is given in several copies, or that the plan does not hold as one
// run of sectors, is located by locateEntrySectors.
void locatePlannedSectors(d88::D88Image& image, const SetPlan& plan, const DiskChoice& disks,
                          UpdateSet& set);

// The listed entries of `layout` as the directory that the extraction reads from `image` holds
// them (as the programs read it from one copy of Disk A), each with its disk as `disks` finds
// it; without names, and not located: how an image written by putting files back is read back.
std::vector<UpdateEntry> readEntriesBack(d88::D88Image& image, const DiskChoice& disks,
                                         const DirectoryLayout& layout, WalkBuffers& buffers);
