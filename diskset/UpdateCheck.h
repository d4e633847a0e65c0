// Whether an image written by putting files back reads back as planned: its set, read again with
// the same reader, has the directory, entries and sectors of the set planned, each sector put
// back reads without error, and every entry's file holds what the plan puts there (for a file
// put back, its new bytes and zeros after; for every other entry, its bytes as the changes
// leave them). Plain values; nothing here prints or writes.
#pragma once

#include "UpdateEntries.h"
#include "UpdatePlan.h"

#include "D88Image.h"

#include <cstdint>
#include <vector>

// True when `written`, the entries read back (readEntriesBack), are those of `planned`, with the
// same bytes on the same disks.
bool sameEntries(const UpdateSet& planned, const std::vector<UpdateEntry>& written);

// Where the data of every sector put back starts, ascending.
std::vector<int64_t> putSectorPositions(const UpdateSet& set, const UpdatePlan& plan);

// True when the entry read back (`written`, located) has the planned entry's sectors, each
// with the status that the plan leaves it: 00 where a sector was put back (`putSectors`), else
// the status it had.
bool samePlaces(const UpdateEntry& planned, const UpdateEntry& written,
                const std::vector<int64_t>& putSectors);

// The bytes that the file of entry `position` (in set.entries) must hold when it is read back:
// its bytes in `input` with the changes made, the new bytes from `source`. `expected`
// (MAX_FILE_BYTES) receives them.
void expectedEntryBytes(d88::D88Image& input, const UpdateSet& set, size_t position,
                        NewBytes& source, uint8_t* expected);
