// The disks and track records of a D88 image as the tests read them from its bytes, written
// from the format alone and not from the programs' reader, to check what d88info lists.
//
// The disks lie one after another, each at the previous one's offset plus its size, from the
// image's first byte; there are at most 64, and none starts where fewer than 688 bytes are
// left or past 2^31 - 1. A track of a disk is listed when its offset in the disk's table is
// neither 0 nor past the disk's size. Its walk reads 16-byte record headers from there, each
// followed by as many data bytes as it says, and ends at the first record whose
// sectors-in-track count equals its position counted from 1, before a record whose count is 0,
// where the bytes end before a whole header, or after 65,535 records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ListedRecord {
    uint8_t c, h, r, n;
    uint8_t density, deleted, status;
    int length;
};

enum class ListedEnd { TrackCount, ZeroCount, EndOfBytes, RecordLimit };

struct ListedTrack {
    int index;
    std::vector<ListedRecord> records; // every record of the walk
    ListedEnd end;
    bool pastDiskEnd; // the walk looked at bytes past the disk's size: its records, or the
                      // header that ended it
};

struct ListedDisk {
    int64_t offset;
    uint32_t size;
    int readErrors; // records whose status is neither 00 nor 10 (deleted data)
    std::vector<ListedTrack> tracks;
};

std::vector<ListedDisk> listTracks(const std::vector<uint8_t>& image);
