// D88Image: reads a D88 image that may hold several disks one after another, from one file or
// bytes in memory, or from several such parts read as one.
#pragma once

#include "ByteSource.h"
#include "D88Format.h"
#include "TrackWalk.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace d88 {

// Where a sector's data lies in the image (all its files joined), as much of it as a read
// takes, and the marks of its record.
struct SectorPlace {
    int64_t position;
    int length;
    SectorMarks marks;
};

// Bytes that the index passed over: from `start`, `length` bytes.
struct IndexGap {
    int64_t start;
    int64_t length;
};

// What the reader keeps of the file between calls: blocks of its bytes, the disk headers
// already read, the last track walk and the results of recent sector searches.
struct ReaderMemory;
struct SectorSearch;
// Frees the reader's memory, which it takes zeroed from the system.
struct ReaderMemoryFree {
    void operator()(ReaderMemory* memory) const;
};

class D88Image {
  public:
    D88Image();
    ~D88Image();
    D88Image(const D88Image&) = delete;
    D88Image& operator=(const D88Image&) = delete;

    // Opens `path` for binary reading and indexes the disks it holds. A null path closes.
    // Returns false only when the file cannot be opened (errno says why); a folder is no file
    // (EISDIR), nor a character device such as a terminal (ENODEV), nor a pipe or socket
    // (ESPIPE), which cannot be read by seeking: opening one never waits. On Windows `path` is
    // UTF-8.
    bool open(const char* path);
    // Opens the `count` files `paths` (1 to MAX_IMAGE_PARTS) as one image, their bytes joined
    // in the given order as `cat` would join them, and indexes the disks it holds: a file may
    // hold several disks, and a disk may go on into the next file, unless that file starts with
    // a disk header of its own (then the disk was cut short, and the next starts there).
    // Nothing is copied. Returns false when a file cannot be opened, as open does; failedPart()
    // tells which.
    bool openParts(const char* const* paths, int count);
    // Opens the `count` streams `streams` as one image, as openParts opens files: part i is
    // read from streams[i], which stay the caller's (close() leaves them open). Each must be
    // open for binary reading and able to seek. Returns false when one cannot seek to its end;
    // failedPart() tells which.
    bool openStreams(FILE* const* streams, int count);
    // Opens the `count` parts `sources` (1 to MAX_IMAGE_PARTS: files, bytes in memory, or both)
    // as one image, as openParts opens files. The files and bytes stay the caller's: the bytes
    // are read where they lie until the next open or close. Returns false when a file cannot
    // seek to its end; failedPart() tells which.
    bool openSources(const ByteSource* sources, int count);
    void close();
    int diskCount() const { return diskCount_; }
    // The length of the image when it was opened: all its parts together.
    int64_t fileSize() const { return fileSize_; }
    // The parts the image is read from, where each one's first byte lies in the image, and the
    // part that the last failed open could not open.
    int partCount() const { return partCount_; }
    int64_t partStart(int part) const { return partStarts_[part]; }
    // The part that holds image position `position`: the last one that starts at or before it.
    int partAt(int64_t position) const;
    // The image position of disk `index`'s header, -1 when no such disk is indexed.
    int64_t diskStart(int index) const;
    // Of several files: the length of disk `index` when it was cut short because a later file
    // starts inside it with a disk header of its own (it is read no further); 0 otherwise.
    uint32_t diskLimit(int index) const;
    // Of several files, the bytes after a file's last disk that start no disk (with the next
    // files' bytes after them they make no header that passes the check: padding, anything
    // else): passed over, the next disk read from the next file's start. A header cut where a
    // file ends and going on in the next is a disk. At most one per file, in order.
    int gapCount() const { return gapCount_; }
    IndexGap gap(int i) const;
    // The header of disk `index` as stored, without selecting it. False when it cannot be read.
    bool diskHeader(int index, DiskHeader& header);
    // True when the bytes at image position `position` are a D88 disk header that agrees with
    // itself, with the files and with the tracks it points at (HeaderCheck.h).
    bool looksLikeDiskAt(int64_t position);
    // Copies at most `length` bytes from image position `position` into `out`. Returns the
    // number of bytes copied, short where the image ends.
    int64_t readBytes(int64_t position, uint8_t* out, int64_t length);
    // Points at `length` (at most BLOCK_BYTES) bytes from image position `position` where they
    // lie (in memory or in the reader's blocks), or copied into `scratch` when they straddle two
    // blocks; null when the image ends before them. Valid until the next call on the image.
    const uint8_t* viewBytes(int64_t position, int length, uint8_t* scratch);
    int failedPart() const { return failedPart_; }

    // Makes disk `index` (0-based, in file order) the selected disk by reading its header.
    bool selectDisk(int index);
    void setSectorRange(int first, int last);
    const char* diskName() const { return diskName_; }
    int mediaType() const { return mediaType_; }
    // The selected disk's header offset in the file (-1 when none), its size field (0 when
    // none) and its track table entry for `track` (0 when absent or out of range).
    int32_t diskOffset() const { return diskOffset_; }
    uint32_t diskSize() const { return diskSize_; }
    // The image position where the selected disk's bytes end for its tracks' records: where it
    // was cut short, else the end of the files (a track may run past the disk's size).
    int64_t diskBytesEnd() const { return diskBytesEnd_; }
    uint32_t trackOffset(int track) const;
    // True when `track` of the selected disk is present: its table entry is not 0 and not past
    // the disk's size.
    bool trackPresent(int track) const;
    // Where a record of a walk on the selected disk holds its data: as many bytes of it as the
    // disk's bytes store, and its marks.
    SectorPlace recordPlace(const WalkedRecord& record) const;

    // Finds sector (c, h, r, n) in `track` of the selected disk and copies at most `maxLength`
    // bytes of its data into `buffer`. Returns the number of bytes stored, 0 when not found.
    int readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLength);
    // Finds the sector at `at` as readSector does, without reading its data: `place` receives
    // where the data lies and the record's marks. Returns the number of bytes that readSector
    // would store, 0 when the sector is not found.
    int locateSector(const SectorAddress& at, int maxLength, SectorPlace& place);
    // Writes the IDs of `track`'s sector records, in stored order, as 4-byte SectorId records,
    // as far as the walk of readSector goes. Returns the number of bytes written.
    int listSectorIds(int track, void* buffer, int bufferLength);
    // Reads `total` bytes of consecutive sectors starting at (track, c, h, r, n), stepping
    // through the sector range, then head 0 to 1 and on to the next cylinder.
    // Returns the number of bytes read.
    int readRun(int track, int c, int h, int r, int n, uint8_t* buffer, int total);
    // Steps `at` to the sector that a run reads next: the next sector number up to the last of
    // the sector range, then the first on the next track (head 0 to 1, then the next cylinder).
    // The four values are never cut to 8 bits.
    void nextSector(SectorAddress& at) const;
    // Finds the sectors that readRun would read, without reading their data: one place per
    // sector counted, at most `maxPlaces`. Returns the number of bytes that readRun would count.
    int locateRun(const SectorAddress& start, int total, SectorPlace* places, int maxPlaces);

    // Walks `track` of the selected disk as readSector does, to the walk's end, and returns
    // the records it passed; null when the track cannot be reached. Valid until the next call.
    const TrackWalk* walkTrack(int track);

  private:
    // Makes the reader's memory and closes what was open; false (errno set) when `count` parts
    // cannot be opened.
    bool prepareOpen(int count);
    // Finds the length of every part of sources_ and indexes the disks they hold; false (errno
    // set) when a file's length cannot be told.
    bool openPrepared(int count);
    bool trackStart(int track, int64_t& position) const;
    // `length` cut to the bytes the selected disk stores from `dataPosition` on.
    int storedLength(int64_t dataPosition, int64_t length) const;
    // Where the disk that starts at `start` and claims to end at `end` really ends: the start of
    // the first later part inside it that begins with a D88 disk header, else `end`.
    int64_t nextDiskAt(int64_t start, int64_t end);
    // Disk `index`'s header as first read, kept in the reader's memory until the next open; null
    // when it cannot be read.
    const DiskHeader* keptHeader(int index);
    // The result of the search for the sector at `at`, null when not found.
    const SectorSearch* findSector(const SectorAddress& at);
    // Steps through the run of `total` bytes from `start` as readRun reads it: hands each
    // sector's place (as much of it as the run takes) to `take`, and stops at the first that is
    // missing or shorter. Returns the number of bytes counted. The one walk of both runs.
    template <typename Take> int walkRun(const SectorAddress& start, int total, Take take);

    ByteSource sources_[MAX_IMAGE_PARTS] = {};
    int64_t partStarts_[MAX_IMAGE_PARTS] = {};
    int partCount_ = 0;
    bool ownsFiles_ = true; // opened by openParts, closed by close()
    int failedPart_ = -1;
    int diskCount_ = 0;
    int64_t fileSize_ = 0;
    int firstSector_ = 1;
    int lastSector_ = 16;
    int32_t diskOffsets_[MAX_DISKS] = {};
    uint32_t diskLimits_[MAX_DISKS] = {};
    IndexGap gaps_[MAX_IMAGE_PARTS] = {};
    int gapCount_ = 0;
    int selectedDisk_ = -1; // the disk whose header the fields below hold; -1 when none
    uint32_t diskSize_ = 0;
    int32_t diskOffset_ = 0;
    int64_t diskBytesEnd_ = 0;
    // The selected disk's track table, in its kept header; all zero when no disk is selected.
    static const uint32_t NO_TRACK_OFFSETS[MAX_TRACKS];
    const uint32_t* trackOffsets_ = NO_TRACK_OFFSETS;
    int mediaType_ = -1;
    char diskName_[DISK_NAME_LENGTH + 1] = {};
    std::unique_ptr<ReaderMemory, ReaderMemoryFree> memory_;
};

} // namespace d88
