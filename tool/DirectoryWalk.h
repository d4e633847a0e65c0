// The directory walk: reads the disk set's directory from disk 0 and decides, entry by entry,
// what becomes of each file, finding its disk by the ID byte of that disk's ID sector. The
// extraction writes what the walk decides; d88info prints it.
#pragma once

#include "DirectoryLayout.h"
#include "Host.h"
#include "SavedName.h"

#include "D88Image.h"

#include <cstdint>
#include <cstdio>
#include <vector>

// A 16-byte directory entry.
struct DirEntry {
    char name[13];  // bytes 0-11 up to the first space, NUL-terminated
    int track;      // track index of the first sector: cylinder = track >> 1, head = track & 1
    int sector;     // sector number R of the first sector
    int size;       // in bytes: the size byte times 1024
    int diskNumber; // counted from 0; the disk's ID byte is diskNumber + 1
};

DirEntry parseDirEntry(const uint8_t* bytes);

constexpr int WORK_BUFFER_BYTES = 400 * 1024;
extern uint8_t directoryBuffer[DIRECTORY_BYTES];
extern uint8_t workBuffer[WORK_BUFFER_BYTES];

// What the walk decides for one entry, in the order in which it tests them.
enum class EntryOutcome {
    NoDisk,      // no disk carries the entry's number
    Empty,       // size 0: nothing to read
    Missing,     // the first sector cannot be read: nothing is written
    UnsafeName,  // the name could reach outside the current directory
    ImageItself, // the name is the image file being read
    Uncreatable, // the name can never be created: empty, "." or ".."
    Whole,       // the whole file was read
    Incomplete,  // written with its full size, zero past the bytes that could be read
};

// True for the outcomes that the extraction tries to write.
bool isWritten(EntryOutcome outcome);

struct EntryPlan {
    int index;            // in the directory table
    const uint8_t* bytes; // the entry's 16 bytes in directoryBuffer
    DirEntry entry;
    EntryOutcome outcome;
    SavedName saved;           // the name that the file is written under
    int bytesRead;             // of entry.size, read into workBuffer
    d88::RunErrors readErrors; // the file's sectors that the run counted, and those among
                               // them that the image stores as read with an error
};

// Called for every entry in table order, with the file's bytes in workBuffer.
// Returns false to end the walk there.
using EntryVisitor = bool (*)(const EntryPlan& plan, void* context);

// Reads the directory sectors of disk 0 of `image` (open, at least four disks) into
// directoryBuffer; what the run does not read stays zero. Returns the run's read errors.
d88::RunErrors readDirectory(d88::D88Image& image);
// Goes through the entries of `layout` in directoryBuffer in table order, reading each file
// into workBuffer, naming it for `target` and handing what it decided to `visit`. Writes
// nothing. Names are checked against what stands in `folder`, where the files would go. With
// `firstSectorsOnly` each file's first sector alone is read: enough to tell whether it is
// written, not whether it is whole.
void planEntries(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                 EntryVisitor visit, void* context, const HostFolder& folder = hostCurrentFolder(),
                 bool firstSectorsOnly = false);
// Both: the whole walk. Returns the directory's read errors.
d88::RunErrors planDirectory(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                             EntryVisitor visit, void* context,
                             const HostFolder& folder = hostCurrentFolder());

enum class ExtractOutcome {
    NothingRead,    // the run read nothing: no file, no message
    Written,        // the whole file was read and written
    Incomplete,     // written with its full size, zero past the bytes that could be read
    UnsafeName,     // not opened: the name could reach outside the current directory
    ImageItself,    // not opened: the name is the image file being read
    SymbolicLink,   // not opened: a symbolic link of that name is in the way
    NotRegularFile, // not opened: a device, pipe or socket of that name is in the way
    ShortName,      // not opened: the name is the short name of a file with another (Windows)
    Appeared,       // not written: a file took the free name while the new one was written
    CannotCreate,   // the host file could not be created, or could not replace the one there
    CannotWrite,    // a write or close failed; whatever stood under the name is left as it was
};

struct ExtractResult {
    ExtractOutcome outcome;
    int bytesRead;   // of the file's `size` bytes
    int systemError; // errno for CannotCreate and CannotWrite
    bool existed;    // a file stood under the name before
};

// Reads `offset` + `size` bytes of consecutive sectors from (track, c, h, r, n) of the selected
// disk into workBuffer and writes the `size` bytes after the first `offset` to the file `name`
// in the current directory: a new file that replaces one of that name only once it is whole.
ExtractResult extractFile(d88::D88Image& image, const char* name, int track, int c, int h, int r,
                          int n, int offset, int size);

// The extraction: decides the whole directory as planSet does and, entry by entry, writes the
// files into the current directory under their names for `target`, report lines to `report`
// and messages to `messages`. Returns true when every file that it tried to write was written
// whole, from sectors read without error, and replaced no file of an earlier entry.
bool walkDirectory(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                   FILE* report, FILE* messages);

struct SetPlan;
// The same extraction into `folder`, handing back the plan it wrote from and what became of
// each listed entry's file, in the plan's order. With `report` null it prints no report lines;
// messages still go to `messages`.
bool extractDirectory(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                      const HostFolder& folder, FILE* report, FILE* messages, SetPlan& plan,
                      std::vector<ExtractResult>& results);
