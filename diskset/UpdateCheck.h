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

// True when `written`, the set read back, lists the entries of `planned` with the same bytes,
// on the same disks and sectors, and each sector's status is as the plan leaves it.
bool sameSetPlaces(const UpdateSet& planned, const UpdateSet& written, const UpdatePlan& plan);

// The bytes that the file of entry `position` (in set.entries) must hold when it is read back:
// its bytes in `input` with the changes made, the new bytes from `source`. `expected`
// (MAX_FILE_BYTES) receives them.
void expectedEntryBytes(d88::D88Image& input, const UpdateSet& set, size_t position,
                        NewBytes& source, uint8_t* expected);
