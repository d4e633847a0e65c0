// What is said of the files and of the set beside the files written, decided once as values:
// why the files cannot be read at all (a refusal: nothing is written), what is damaged (the run
// ends with status 1), and what is only noted. The printers word them (report/NoteText.h) for
// d88extract, d88info and the page alike.
#pragma once

#include "DiskSet.h"
#include "Plan.h"

#include <cstdint>
#include <vector>

enum class NoteKind {
    Refusal, // nothing can be read: no file is written
    Damage,  // a file is missing or damaged: the run ends with status 1
    Note,    // said, nothing more
};

// What a note is about, and which of SetNote's values it uses.
enum class NoteSubject {
    NotImage,    // `part` holds no D88 disk; -1: the files hold none at all
    NoSetDisk,   // no disk carries a number of this set (disk 0 tells why)
    NoDiskA,     // no disk is Disk A, which holds the directory
    NoIdentity,  // `disk`'s ID sector cannot be read: taken as `number` by its place, or unknown
    Copies,      // set number `number` is given in several copies
    Repeated,    // `part` is the file `otherPart` given again: read once
    Cut,         // `disk` is cut short where `otherPart` starts, or (-1) where the files end
    Stray,       // `bytes` bytes after the last disk of `part` start no disk: left out
    Unread,      // `part` lies past the reader's limits: not read
    Tail,        // the last `bytes` bytes of `part`, where the files end, hold no disk
    ReaderLimit, // the last `bytes` bytes of `part` lie past the reader's limits: not read
};

struct SetNote {
    NoteKind kind;
    NoteSubject subject;
    int disk;      // by place in DiskSetFacts::disks, -1 when none
    int part;      // a given file, -1 when none
    int otherPart; // another given file, -1 when none
    int number;    // a set number, NO_SET_NUMBER when none
    int64_t bytes;
};

// The notes on the disks that the files hold, in the order they are said.
std::vector<SetNote> decideSetNotes(const DiskSetFacts& set, int64_t imageEnd);

// True when one of `notes` refuses the files.
bool refusesFiles(const std::vector<SetNote>& notes);
// True when one of `notes` tells of damage.
bool tellsOfDamage(const std::vector<SetNote>& notes);

// What is wrong with one of the directory's sectors.
enum class SectorProblem {
    Missing,   // no copy holds a record of it
    Cut,       // its record is cut short: `bytes` of its 1024 are stored
    ReadError, // stored with a read-error status in every copy: its bytes may be wrong
    Contested, // copies read without error hold other bytes
    NotRead,   // the set's programs stop before it, at a sector missing or short
};

// A directory sector that was not read whole and clean, with the entries of a layout whose bytes
// it would hold (or, for a sector read with doubt, holds).
struct DirectoryNote {
    int sector; // 1 to 3
    SectorProblem problem;
    int bytes;      // Cut: the bytes stored
    int firstEntry; // the entries, by table index; -1 when none
    int lastEntry;
    SectorOrigin origin; // Contested: how it was taken
};

// The directory's sectors read from `directory`, with the entries of `layout` (none when null).
std::vector<DirectoryNote> decideDirectoryNotes(const DirectoryRead& directory,
                                                const DirectoryLayout* layout);

// True when the set as `plan` reads it is whole: every sector of the directory read whole,
// without error and uncontested, and every listed file of the set whole, from sectors read
// without error and uncontested, under a name of its own that the target takes. An extraction
// by identity that writes every file ends with status 0 exactly then; d88info --set and
// d88extract -n and -l end with the status it gives.
bool planIsWhole(const SetPlan& plan);
