// Where the disk set's directory table lies inside its 3072 directory bytes. The two programs
// differ only in this.
#pragma once

#include "SetFormat.h"

struct DirectoryLayout {
    const char* programName; // shown in the usage message when the command line has no word
    const char* letter;      // "a" or "b", as options and documents name the layout
    int firstEntryOffset;    // offset of the first 16-byte entry in the directory bytes
    int entryCount;          // whole entries from there to the end of the directory
};

inline constexpr DirectoryLayout LAYOUT_A = {"d88extract-a", "a", 434,
                                             (DIRECTORY_BYTES - 434) / DIR_ENTRY_SIZE};
inline constexpr DirectoryLayout LAYOUT_B = {"d88extract-b", "b", 422,
                                             (DIRECTORY_BYTES - 422) / DIR_ENTRY_SIZE};
static_assert(LAYOUT_A.entryCount == 164 && LAYOUT_B.entryCount == 165, "entry counts");

// The two layouts, in the order in which the programs and their letters name them.
inline constexpr const DirectoryLayout* SET_LAYOUTS[2] = {&LAYOUT_A, &LAYOUT_B};
