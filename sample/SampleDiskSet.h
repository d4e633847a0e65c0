// A synthetic disk set in the format the extraction programs read: full 80-cylinder,
// two-sided disks of five 1024-byte sectors per track, an ID sector on every disk and the
// directory on the first. All contents are made up.
#pragma once

#include "DirectoryLayout.h"
#include "ImageBuilder.h"

#include <string>
#include <vector>

namespace d88 {

struct SampleFile {
    std::string name;           // up to 12 bytes; padded with spaces in the directory
    int diskNumber;             // counted from 0
    int track;                  // track index of the first sector
    int sector;                 // first sector number, 1-5
    std::vector<uint8_t> bytes; // whole 1024-byte sectors, at most 255 of them
};

struct SampleSet {
    int disks = 4;
    int firstEntryOffset = LAYOUT_A.firstEntryOffset;
    int entryCount = LAYOUT_A.entryCount;
    std::vector<SampleFile> files; // in directory order; the remaining entries stay all zero
    bool compact = false; // only the tracks that hold the directory, an ID sector or file data
};

// A handful of files: some crossing sector, head and cylinder boundaries, one on each of the
// four disks, one with a 12-byte name and two with Shift_JIS names.
SampleSet smallSampleSet(const DirectoryLayout& layout);
// One file per directory entry, spread over `disks` disks and filling most of them.
SampleSet fullSampleSet(const DirectoryLayout& layout, int disks);

// Writes one 16-byte directory entry: the name padded with spaces to 12 bytes (longer names
// are cut), the track index, the first sector, the size in 1024-byte units and the disk number.
void writeDirEntry(uint8_t* entry, const std::string& name, int track, int sector, int units,
                   int diskNumber);

// The disks of the set, ready for buildImage. Returns false (and leaves `out` unspecified)
// when a file does not fit on its disk or overlaps the directory or an ID sector.
bool buildSampleDisks(const SampleSet& set, std::vector<DiskPlan>& out);

} // namespace d88
