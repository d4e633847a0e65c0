// Whether an image written by putting files back reads back as planned: its set, read again with
// the same reader, has the directory, entries and sectors of the set planned, each sector put
// back reads without error, and every entry's file holds what the plan puts there (for a file
// put back, its new bytes and zeros after; for every other entry, its bytes as the changes
// leave them). Plain values; nothing here prints or writes.
#pragma once

#include "Fingerprint.h"
#include "UpdateEntries.h"
#include "UpdatePlan.h"

#include "D88Image.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The fingerprint of the entry's bytes (located) as readEntryBytes gives them, read where they
// lie.
uint64_t entryFingerprint(d88::D88Image& image, const UpdateEntry& entry);

// What an entry's file must hold read back, when it is known: the fingerprint of its bytes.
struct KnownBytes {
    bool known;
    uint64_t fingerprint;
};

// True when `written`, the entries read back (readEntriesBack), are those of `planned`, with the
// same bytes on the same disks.
bool sameEntries(const UpdateSet& planned, const std::vector<UpdateEntry>& written);

// Where the data of every sector put back starts, ascending.
std::vector<int64_t> putSectorPositions(const UpdateSet& set, const UpdatePlan& plan);

// True when the entry read back (`written`, located) has the planned entry's sectors, each
// with the status that the plan leaves it: 00 where a sector was put back (`putSectors`; every
// sector of the entry when it is put back itself, `putBack`), else the status it had.
bool samePlaces(const UpdateEntry& planned, const UpdateEntry& written,
                const std::vector<int64_t>& putSectors, bool putBack);

// The bytes that the file of entry `position` (in set.entries) must hold when it is read back:
// its bytes in `input` with the changes made, the new bytes from `source`. `expected`
// (MAX_FILE_BYTES) receives them.
void expectedEntryBytes(d88::D88Image& input, const UpdateSet& set, size_t position,
                        NewBytes& source, uint8_t* expected);

// Completes `known` (by position in set.entries) before the new image is made: an entry that
// shares sectors with a file put back is known by neither file alone and is forgotten; every
// entry not known then is known by its bytes in `input` with the changes of `source` made
// (expectedEntryBytes), made in `scratch` (MAX_FILE_BYTES).
void completeKnownBytes(d88::D88Image& input, const UpdateSet& set, const UpdatePlan& plan,
                        NewBytes& source, std::vector<KnownBytes>& known, uint8_t* scratch);

enum class ReadBackProblem {
    None,
    OtherPlaces, // the set's directory, entries or sectors are not where they were
    OtherBytes,  // entry `entry` (by position in set.entries) does not hold what was put there
};

struct ReadBack {
    ReadBackProblem problem;
    size_t entry;
    // The entries read back, located, by position in set.entries (as far as they were checked).
    std::vector<UpdateEntry> entries;
};

// Reads the set back from `written` (the new image) as the extraction reads it, with the disks
// that their ID sectors name, and checks it against the plan: the same directory entries on the
// same disks, every entry's sectors where they were (samePlaces), and every entry's bytes with
// the fingerprint that `known` gives (each one known, by completeKnownBytes).
ReadBack checkReadBack(d88::D88Image& written, const UpdateSet& set, const UpdatePlan& plan,
                       const std::vector<KnownBytes>& known);
