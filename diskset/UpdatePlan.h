// What putting changed files back does with each entry of the set, decided once as plain values
// from the entries (UpdateEntries.h) and the files that stand for them in a folder: which files
// are unchanged, which go back into their entries' sectors, which are refused and why, and
// which bytes of the image change. d88update prints and acts on it. Nothing here prints or
// writes.
#pragma once

#include "DiskSet.h"
#include "UpdateEntries.h"

#include "D88Image.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class UpdateOutcome {
    NotChosen,   // the user's choice of files (-i) leaves it out
    NoFile,      // no file stands for it in the folder
    OtherEntrys, // the file under its name is another entry's: the one whose file stands there
    Unchanged,   // the file holds what the entry holds now
    PutBack,     // the file goes into the entry's own sectors
    // Refusals: when any entry has one, nothing is written.
    TooLong,        // the file needs more sectors than its entry holds
    MissingSectors, // bytes other than zero of the file lie in sectors that the image does not
                    // hold
    SharedSectors,  // its sectors hold the directory, an ID sector or another file put back
    TwoFiles,       // a file stands under each of two of its names, and they are not one file
    Unreadable,     // the file cannot be read
};

bool isRefusal(UpdateOutcome outcome);

// What stands for an entry in the folder, as the caller found it by the entry's names.
enum class FolderFileState { None, Found, TwoFiles, Unreadable };

struct FolderFile {
    FolderFileState state;
    int name;       // Found, TwoFiles, Unreadable: the entry's name that it stands under
    int64_t length; // Found: its length in bytes
    int error;      // Unreadable: the host's error number
};

// What else a file's sectors hold, when they cannot be written.
enum class SharedWith { None, OtherFile, Directory, IdSector };

struct FileUpdate {
    UpdateOutcome outcome;
    FolderFile file;
    int sectorsNeeded;   // the sectors that the file's bytes fill (MissingSectors: up to its
                         // last byte other than zero)
    int sectorsChanged;  // PutBack: sectors whose data bytes change
    int statusesCleared; // PutBack: sectors whose status byte was not STATUS_NORMAL
    SharedWith sharedWith;
    int sharedWithEntry; // OtherFile: the entry put back whose sectors it shares (by table
                         // index, its own when its sectors overlap each other); IdSector: the disk
    std::vector<int> changesWith; // PutBack: entries not put back that share its sectors, whose
                                  // bytes change with it (by table index)
};

struct UpdateSummary {
    int putBack;
    int unchanged;
    int noFile; // chosen entries for which no file stands in the folder
    int refused;
    int shorter;        // files put back that are shorter than their entries: zeros after
    int sectorsWritten; // by the files put back
};

struct UpdatePlan {
    std::vector<FileUpdate> files; // by position in UpdateSet::entries
    UpdateSummary summary;
};

// The set numbers given in more than one disk: a putting back takes one copy of each disk.
std::vector<SetNumber> disksGivenTwice(const DiskSetFacts& facts);

// The entry's bytes as an extraction writes them: its size, the bytes its sectors hold and zeros
// after. `out` holds at least MAX_FILE_BYTES.
void readEntryBytes(d88::D88Image& image, const UpdateEntry& entry, uint8_t* out);

// Decides one entry from the file that stands for it and, when one was found, its first bytes in
// `bytes`: as many as it has, up to the entry's size. The entry's sectors are compared where the
// image holds them. `current` (MAX_FILE_BYTES), when not null, receives the entry's bytes as it
// holds them now when they were compared.
FileUpdate decideFileUpdate(d88::D88Image& image, const UpdateEntry& entry, const FolderFile& file,
                            const uint8_t* bytes, uint8_t* current);

// Checks the files put back against each other and against the directory and ID sectors,
// finds the entries that change with them, and counts. `files` by position in set.entries.
UpdatePlan finishUpdatePlan(const UpdateSet& set, std::vector<FileUpdate> files);

// One change to the image's bytes: `length` bytes of a sector's data from byte `fileOffset` of
// the new file of entry `entry` (by position in set.entries; zeros past the file's end), or, with
// `entry` -1, a status byte set to STATUS_NORMAL.
struct ByteChange {
    int64_t position;
    int length;
    int entry;
    int fileOffset;
};

// The changes of the files put back, by image position; none overlaps another. Entries that
// `made` marks (by position in set.entries) are left out: their bytes are in place already.
std::vector<ByteChange> updateChanges(const UpdateSet& set, const UpdatePlan& plan,
                                      const std::vector<bool>& made = {});

// By position in set.entries: true for each entry whose sectors (their data and status bytes)
// share no byte with another entry's, with one another, or with the directory's or an ID
// sector's records. Putting such an entry's file back changes no other entry's bytes, and no
// other decision reads its bytes, so they can be put in place as soon as it is decided.
std::vector<bool> entriesApart(const UpdateSet& set);

// Puts the new bytes of an entry into `image` (an image's bytes held in memory from image
// position 0 on, `size` of them): `bytes` (the entry's size: the file, zeros after) into its
// sectors' data, and every sector's status byte read without error (STATUS_NORMAL).
void putEntryBytes(const UpdateEntry& entry, const uint8_t* bytes, uint8_t* image, int64_t size);

// The new files of the entries put back, by position in set.entries (null for the others),
// open for reading; each is read again, whole, as the image is made.
using NewFiles = std::vector<FILE*>;

// While more bytes than this are kept, a change reads only its own bytes from its file.
constexpr int64_t MAX_HELD_BYTES = int64_t{1} << 20;

// The new files' bytes as the image is made from them: each file read whole when a change first
// needs it and kept until its last change is made.
struct NewBytes {
    const std::vector<ByteChange>* changes;
    const UpdatePlan* plan;
    NewFiles files;
    std::vector<int> changesLeft;           // by entry: its data changes not yet made
    std::vector<std::vector<uint8_t>> held; // by entry: its file's bytes while they are kept
    int64_t heldBytes;
};

NewBytes newBytesOf(const std::vector<ByteChange>& changes, const UpdatePlan& plan,
                    const NewFiles& files);

// Copies `length` bytes of the updated image from image position `position` into `out`: the
// image's bytes with the changes made, the new bytes read from the files of `source`. Returns
// the bytes copied, fewer where the image ends. A file that gives fewer bytes than planned gives
// zeros instead.
int64_t readUpdatedBytes(d88::D88Image& image, NewBytes& source, int64_t position, uint8_t* out,
                         int64_t length);

// Makes the changes of `source` that fall in the `length` image bytes from `position`, held in
// `bytes`, in place, as readUpdatedBytes makes them in what it copies.
void makeChanges(NewBytes& source, int64_t position, uint8_t* bytes, int64_t length);

// The files of a folder, `names` as an entry's names are handed to the host (empty for a name
// that no entry's can be), that stand under no entry's name for any of `targets`: by position.
std::vector<size_t> filesOfNoEntry(const UpdateSet& set, const std::vector<NameTarget>& targets,
                                   const NameRules& rules, const std::vector<std::string>& names);
