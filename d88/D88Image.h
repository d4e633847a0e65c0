// D88Image: reads a D88 image that may hold several disks one after another, from one file or
// from several files read as one.
#pragma once

#include "D88Format.h"
#include "TrackWalk.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace d88 {

// The sectors that a run counted, and how many of them the image stores with a read-error
// status (their bytes are used as stored).
struct RunErrors {
    int sectors = 0;
    int errorSectors = 0;
};

// Tells files apart: every name of one file (links included) gives the same identity.
struct FileIdentity {
    uint64_t volume;
    uint64_t file;
};

inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.file == b.file;
}

// What the reader keeps of the file between calls: blocks of its bytes, the disk headers
// already read, the last track walk and the results of recent sector searches.
struct ReaderMemory;

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
    // hold several disks, and a disk may go on into the next file. Nothing is copied. Returns
    // false when a file cannot be opened, as open does; failedPart() tells which.
    bool openParts(const char* const* paths, int count);
    void close();
    int diskCount() const { return diskCount_; }
    // The length of the image when it was opened: all its files together.
    int64_t fileSize() const { return fileSize_; }
    // The files the image is read from, where each one's first byte lies in the image, and the
    // file that the last failed open could not open.
    int partCount() const { return partCount_; }
    int64_t partStart(int part) const { return partStarts_[part]; }
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
    uint32_t trackOffset(int track) const;

    // The identity of file `part` of the image. False when it is not open.
    bool partIdentity(int part, FileIdentity& identity) const;
    // True when `identity` is one of the image's files, so that a caller never writes over the
    // image it is reading.
    bool readsFile(const FileIdentity& identity) const;

    // Finds sector (c, h, r, n) in `track` of the selected disk and copies at most `maxLength`
    // bytes of its data into `buffer`. Returns the number of bytes stored, 0 when not found.
    // When `marks` is given it receives the found record's marks (all 0 when none is found).
    int readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLength,
                   SectorMarks* marks = nullptr);
    // Writes the IDs of `track`'s sector records, in stored order, as 4-byte SectorId records,
    // as far as the walk of readSector goes. Returns the number of bytes written.
    int listSectorIds(int track, void* buffer, int bufferLength);
    // Reads `total` bytes of consecutive sectors starting at (track, c, h, r, n), stepping
    // through the sector range, then head 0 to 1 and on to the next cylinder.
    // Returns the number of bytes read. When `errors` is given it receives the sectors that
    // the run counted and how many of them carry a read-error status.
    int readRun(int track, int c, int h, int r, int n, uint8_t* buffer, int total,
                RunErrors* errors = nullptr);

    // Walks `track` of the selected disk as readSector does, to the walk's end, and returns
    // the records it passed; null when the track cannot be reached. Valid until the next call.
    const TrackWalk* walkTrack(int track);

  private:
    bool trackStart(int track, int64_t& position) const;

    FILE* files_[MAX_IMAGE_PARTS] = {};
    int64_t partStarts_[MAX_IMAGE_PARTS] = {};
    int partCount_ = 0;
    int failedPart_ = -1;
    int diskCount_ = 0;
    int64_t fileSize_ = 0;
    int firstSector_ = 1;
    int lastSector_ = 16;
    int32_t diskOffsets_[MAX_DISKS] = {};
    uint32_t diskSize_ = 0;
    int32_t diskOffset_ = 0;
    uint32_t trackOffsets_[MAX_TRACKS] = {};
    int mediaType_ = -1;
    char diskName_[DISK_NAME_LENGTH + 1] = {};
    std::unique_ptr<ReaderMemory> memory_;
};

} // namespace d88
