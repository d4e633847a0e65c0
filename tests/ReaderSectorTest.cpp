// Finding sectors by their ID along a track, and listing a track's IDs.
#include "support/TempDir.h"

#include "D88Image.h"
#include "ImageBuilder.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

using namespace d88;

namespace {

// A track of five 1024-byte sectors R = 1..5, each filled with its own R.
TrackPlan numberedTrack(int c, int h) {
    TrackPlan track;
    for (int r = 1; r <= 5; ++r) {
        track.sectors.push_back(makeSector(c, h, r, 3, 1024, static_cast<uint8_t>(r)));
    }
    return track;
}

class SectorTest : public ::testing::Test {
  protected:
    // Writes `disks` as one image and opens it with disk 0 selected.
    void openImage(const std::vector<DiskPlan>& disks, const std::vector<uint8_t>& trailer = {}) {
        std::vector<uint8_t> bytes = buildImage(disks);
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
        ASSERT_TRUE(image.open(dir.write("image.d88", bytes).c_str()));
        ASSERT_TRUE(image.selectDisk(0));
    }

    TempDir dir;
    D88Image image;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(4096, 0xEE);
};

} // namespace

TEST_F(SectorTest, FindsEverySectorByItsFullId) {
    DiskPlan disk;
    disk.tracks[3] = numberedTrack(1, 1);
    openImage({disk});
    for (int r = 1; r <= 5; ++r) {
        ASSERT_EQ(image.readSector(3, 1, 1, r, 3, buffer.data(), 4096), 1024) << r;
        EXPECT_EQ(buffer[0], r);
        EXPECT_EQ(buffer[1023], r);
        EXPECT_EQ(buffer[1024], 0xEE) << "nothing past the data length";
    }
    EXPECT_EQ(image.readSector(3, 1, 1, 6, 3, buffer.data(), 4096), 0);
    EXPECT_EQ(image.readSector(3, 1, 1, 5, 2, buffer.data(), 4096), 0) << "N must match";
    EXPECT_EQ(image.readSector(3, 0, 1, 5, 3, buffer.data(), 4096), 0) << "C must match";
    EXPECT_EQ(image.readSector(3, 1, 0, 5, 3, buffer.data(), 4096), 0) << "H must match";
    EXPECT_EQ(image.readSector(3, 1, 1, 5 + 256, 3, buffer.data(), 4096), 0);
    EXPECT_EQ(image.readSector(3, 1, 1, -251, 3, buffer.data(), 4096), 0);
}

TEST_F(SectorTest, IdsNamingAnotherCylinderAreFound) {
    DiskPlan disk;
    disk.tracks[3] = numberedTrack(7, 0);
    openImage({disk});
    EXPECT_EQ(image.readSector(3, 7, 0, 2, 3, buffer.data(), 4096), 1024);
    EXPECT_EQ(image.readSector(3, 1, 1, 2, 3, buffer.data(), 4096), 0);
}

TEST_F(SectorTest, MaxLengthCutsTheRead) {
    DiskPlan disk;
    disk.tracks[0] = numberedTrack(0, 0);
    openImage({disk});
    EXPECT_EQ(image.readSector(0, 0, 0, 2, 3, buffer.data(), 100), 100);
    EXPECT_EQ(buffer[99], 2);
    EXPECT_EQ(buffer[100], 0xEE);
    EXPECT_EQ(image.readSector(0, 0, 0, 2, 3, buffer.data(), 0), 0);
}

// The first of two records with one ID is found, on a short track (searched record by record)
// and on a long one (searched through its index, built once the whole track has been walked).
TEST_F(SectorTest, FirstOfTwoEqualIdsWins) {
    for (const int between : {0, 70}) {
        SCOPED_TRACE(between);
        DiskPlan disk;
        disk.tracks[0].sectors = {makeSector(0, 0, 1, 3, 16, 0xAA)};
        for (int r = 100; r < 100 + between; ++r) {
            disk.tracks[0].sectors.push_back(makeSector(0, 0, r, 3, 16, 0x11));
        }
        disk.tracks[0].sectors.push_back(makeSector(0, 0, 1, 3, 32, 0xBB));
        openImage({disk});
        EXPECT_EQ(image.readSector(0, 0, 0, 99, 3, buffer.data(), 4096), 0); // the whole track
        EXPECT_EQ(image.readSector(0, 0, 0, 1, 3, buffer.data(), 4096), 16);
        EXPECT_EQ(buffer[0], 0xAA);
        image.close();
    }
}

TEST_F(SectorTest, EmptyDataLengthReadsAsNotFound) {
    DiskPlan disk;
    disk.tracks[0].sectors = {makeSector(0, 0, 1, 3, 0), makeSector(0, 0, 2, 3, 8, 0x22)};
    openImage({disk});
    EXPECT_EQ(image.readSector(0, 0, 0, 1, 3, buffer.data(), 4096), 0);
    EXPECT_EQ(image.readSector(0, 0, 0, 2, 3, buffer.data(), 4096), 8)
        << "the next header follows a zero-length record directly";
}

TEST_F(SectorTest, RecordCountEndsTheWalk) {
    DiskPlan disk;
    disk.tracks[0] = numberedTrack(0, 0);
    for (SectorPlan& s : disk.tracks[0].sectors) {
        s.sectorsInTrack = 2;
    }
    disk.tracks[2] = numberedTrack(1, 0);
    disk.tracks[2].sectors[0].sectorsInTrack = 0;
    disk.tracks[2].sectors[1].sectorsInTrack = 0;
    openImage({disk});
    EXPECT_EQ(image.readSector(0, 0, 0, 2, 3, buffer.data(), 4096), 1024);
    EXPECT_EQ(image.readSector(0, 0, 0, 3, 3, buffer.data(), 4096), 0)
        << "a count of 2 ends the search after two records";
    EXPECT_EQ(image.readSector(2, 1, 0, 1, 3, buffer.data(), 4096), 0)
        << "a count of 0 ends the walk, even on a matching record";
}

TEST_F(SectorTest, LargeCountRunsIntoTheFollowingTrack) {
    DiskPlan disk;
    disk.tracks[0] = numberedTrack(0, 0);
    for (SectorPlan& s : disk.tracks[0].sectors) {
        s.sectorsInTrack = 9;
    }
    disk.tracks[1] = numberedTrack(0, 1);
    for (SectorPlan& s : disk.tracks[1].sectors) {
        s.sectorsInTrack = 7;
    }
    openImage({disk});
    EXPECT_EQ(image.readSector(0, 0, 1, 2, 3, buffer.data(), 4096), 1024)
        << "the seventh record of the walk is track 1's R = 2";
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(image.readSector(0, 0, 1, 3, 3, buffer.data(), 4096), 0)
        << "that record's count of 7 ends the walk at position 7";
}

// A disk cut by the end of the files, or by the next file starting a disk of its own (then the
// next disk's bytes are neither data nor records of it).
TEST_F(SectorTest, DataCutByTheEndOfTheFileCountsOnlyStoredBytes) {
    DiskPlan disk;
    disk.tracks[0] = numberedTrack(0, 0);
    const std::vector<uint8_t> whole = buildDisk(disk);
    const std::string next = dir.write("next.d88", whole);
    std::vector<uint8_t> bytes = whole;
    // The parts as files, or as bytes in memory.
    const auto openCut = [&](bool inMemory, bool nextPart) {
        const std::string cut = dir.write("cut.d88", bytes);
        const char* parts[] = {cut.c_str(), next.c_str()};
        const ByteSource sources[] = {memorySource(bytes.data(), bytes.size()),
                                      memorySource(whole.data(), whole.size())};
        const int count = nextPart ? 2 : 1;
        return inMemory ? image.openSources(sources, count) : image.openParts(parts, count);
    };
    bytes.resize(bytes.size() - 1024 + 300);
    for (const bool inMemory : {false, true}) {
        for (const bool nextPart : {false, true}) {
            ASSERT_TRUE(openCut(inMemory, nextPart));
            ASSERT_EQ(image.diskLimit(0), nextPart ? bytes.size() : 0);
            ASSERT_TRUE(image.selectDisk(0));
            EXPECT_EQ(image.readSector(0, 0, 0, 5, 3, buffer.data(), 4096), 300);
            EXPECT_EQ(buffer[299], 5);
            EXPECT_EQ(image.readSector(0, 0, 0, 5, 3, buffer.data(), 200), 200);
        }
    }

    bytes.resize(bytes.size() - 300 - 8); // now the last header itself is cut
    for (const bool inMemory : {false, true}) {
        for (const bool nextPart : {false, true}) {
            ASSERT_TRUE(openCut(inMemory, nextPart));
            ASSERT_TRUE(image.selectDisk(0));
            EXPECT_EQ(image.readSector(0, 0, 0, 5, 3, buffer.data(), 4096), 0);
            EXPECT_EQ(image.readSector(0, 0, 0, 4, 3, buffer.data(), 4096), 1024);
            EXPECT_EQ(image.walkTrack(0)->recordCount, 4);
        }
    }
}

TEST_F(SectorTest, TrackCheck) {
    DiskPlan disk;
    disk.tracks[0] = numberedTrack(0, 0);
    disk.tracks[163] = numberedTrack(81, 1);
    const uint32_t realSize = static_cast<uint32_t>(buildDisk(disk).size());
    disk.trackOffsetOverride[5] = realSize;     // equal to the disk size: passes
    disk.trackOffsetOverride[6] = realSize + 1; // greater: fails
    disk.trackOffsetOverride[7] = 0xFFFFFFFF;
    // Bytes after the disk image that a track at the disk's end walks into.
    SectorPlan after = makeSector(9, 9, 9, 3, 4, 0x99);
    DiskPlan carrier;
    carrier.tracks[0].sectors = {after};
    std::vector<uint8_t> trailer = buildDisk(carrier);
    trailer.erase(trailer.begin(), trailer.begin() + DISK_HEADER_SIZE);
    openImage({disk}, trailer);

    EXPECT_EQ(image.readSector(163, 81, 1, 1, 3, buffer.data(), 4096), 1024);
    EXPECT_EQ(image.readSector(164, 81, 1, 1, 3, buffer.data(), 4096), 0);
    EXPECT_EQ(image.readSector(-1, 0, 0, 1, 3, buffer.data(), 4096), 0);
    EXPECT_EQ(image.readSector(1, 0, 0, 1, 3, buffer.data(), 4096), 0) << "absent track";
    EXPECT_EQ(image.readSector(5, 9, 9, 9, 3, buffer.data(), 4096), 4);
    EXPECT_EQ(image.readSector(6, 9, 9, 9, 3, buffer.data(), 4096), 0);
    EXPECT_EQ(image.readSector(7, 9, 9, 9, 3, buffer.data(), 4096), 0);
    EXPECT_EQ(image.listSectorIds(164, buffer.data(), 64), 0);
    EXPECT_EQ(image.listSectorIds(1, buffer.data(), 64), 0);
    EXPECT_EQ(image.listSectorIds(6, buffer.data(), 64), 0);
    EXPECT_EQ(image.listSectorIds(5, buffer.data(), 64), 4);

    image.close();
    EXPECT_EQ(image.readSector(0, 0, 0, 1, 3, buffer.data(), 4096), 0) << "no file";
    EXPECT_EQ(image.listSectorIds(0, buffer.data(), 64), 0);
}

TEST_F(SectorTest, ListsIdsInStoredOrderWithinTheBuffer) {
    DiskPlan disk;
    disk.tracks[0] = numberedTrack(0, 0);
    std::swap(disk.tracks[0].sectors[0], disk.tracks[0].sectors[4]);
    openImage({disk});
    EXPECT_EQ(image.listSectorIds(0, buffer.data(), 12), 12);
    EXPECT_EQ(image.listSectorIds(0, buffer.data(), 15), 12);
    EXPECT_EQ(image.listSectorIds(0, buffer.data(), 3), 0);
    ASSERT_EQ(image.listSectorIds(0, buffer.data(), 64), 20);
    const uint8_t expected[] = {0, 0, 5, 3, 0, 0, 2, 3, 0, 0, 3, 3, 0, 0, 4, 3, 0, 0, 1, 3};
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 20),
              std::vector<uint8_t>(expected, expected + 20));
}

// The listing follows readSector's walk and its end rules: a count equal to the record's
// position, a count of 0 (before that record) or the end of the file.
TEST_F(SectorTest, ListingEndsWhereTheWalkEnds) {
    DiskPlan disk;
    disk.tracks[0] = numberedTrack(0, 0);
    disk.tracks[1] = numberedTrack(0, 1);
    for (int track = 0; track < 2; ++track) {
        for (SectorPlan& s : disk.tracks[track].sectors) {
            s.sectorsInTrack = 10;
        }
    }
    disk.tracks[2] = numberedTrack(1, 0);
    openImage({disk});
    EXPECT_EQ(image.listSectorIds(0, buffer.data(), 24), 24) << "stops when the buffer is full";
    EXPECT_EQ(buffer[21], 1) << "the sixth ID is track 1's first";
    EXPECT_EQ(image.listSectorIds(0, buffer.data(), 4096), 40)
        << "track 1's count of 10 ends the listing at its fifth record";
    disk.tracks[1].sectors[2].sectorsInTrack = 0;
    openImage({disk});
    EXPECT_EQ(image.listSectorIds(0, buffer.data(), 4096), 28) << "a count of 0 ends it before";
    EXPECT_EQ(image.readSector(0, 0, 1, 3, 3, buffer.data(), 4096), 0);
    disk.tracks[1].sectors[2].sectorsInTrack = 10;
    disk.tracks[2].sectors[4].sectorsInTrack = 0;
    for (SectorPlan& s : disk.tracks[2].sectors) {
        s.sectorsInTrack = 20;
    }
    openImage({disk});
    EXPECT_EQ(image.listSectorIds(0, buffer.data(), 4096), 40);
}

// The density, deleted mark and status bytes of a record reach the caller of locateSector, and
// locateRun gives the place and marks of every sector a run counts (a short sector ends it).
TEST_F(SectorTest, RecordMarksAndRunPlaces) {
    DiskPlan disk;
    disk.tracks[0] = numberedTrack(0, 0);
    std::vector<SectorPlan>& s = disk.tracks[0].sectors;
    s[0].density = SINGLE_DENSITY;
    s[1].deleted = DELETED_DATA_MARK;
    s[1].status = STATUS_DELETED_DATA;
    s[2].status = 0xB0;
    s[4].status = 0xF0;
    s[4].data.resize(1000); // short: a run stops before it and never counts it
    openImage({disk});
    image.setSectorRange(1, 5);
    SectorPlace place{};
    EXPECT_EQ(image.locateSector({0, 0, 0, 2, 3}, 4096, place), 1024);
    EXPECT_EQ(place.marks.density, 0);
    EXPECT_EQ(place.marks.deleted, DELETED_DATA_MARK);
    EXPECT_EQ(place.marks.status, STATUS_DELETED_DATA);
    EXPECT_EQ(place.position, DISK_HEADER_SIZE + 2 * SECTOR_RECORD_HEADER_SIZE + 1024);
    EXPECT_EQ(image.locateSector({0, 0, 0, 1, 3}, 4096, place), 1024);
    EXPECT_EQ(place.marks.density, SINGLE_DENSITY);
    EXPECT_EQ(image.locateSector({0, 0, 0, 3, 3}, 100, place), 100) << "as much as is taken";
    EXPECT_EQ(place.marks.status, 0xB0);
    EXPECT_EQ(image.locateSector({0, 0, 0, 9, 3}, 4096, place), 0);
    EXPECT_EQ(place.marks.status, 0) << "nothing found: no marks";
    EXPECT_EQ(place.position, -1);
    SectorPlace places[8]{};
    EXPECT_EQ(image.locateRun({0, 0, 0, 1, 3}, 5 * 1024, places, 8), 4 * 1024);
    EXPECT_EQ(places[2].marks.status, 0xB0);
    EXPECT_EQ(places[3].marks.status, 0);
    EXPECT_EQ(image.locateRun({0, 0, 0, 1, 3}, 5 * 1024, places, 2), 2 * 1024)
        << "no more sectors than places";
    EXPECT_EQ(image.locateRun({0, 0, 0, 3, 3}, 100, places, 8), 100);
    EXPECT_EQ(places[0].length, 100) << "a partial piece is a counted sector";
    EXPECT_EQ(image.locateRun({0, 0, 0, 1, 3}, 0, places, 8), 0);
}

// No count can end a walk after its 65,535th record, so the walk stops there: a record stored
// as the 65,535th is still found, the 65,536th is not, and the listing stops there too.
TEST_F(SectorTest, WalkEndsAfter65535Records) {
    DiskPlan disk;
    std::vector<SectorPlan>& records = disk.tracks[0].sectors;
    records.assign(MAX_WALK_RECORDS + 1, makeSector(0xEE, 0, 0, 0, 0));
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].sectorsInTrack = i == 0 ? 2 : 1; // never equal to the record's position
    }
    records[MAX_WALK_RECORDS - 1] = makeSector(1, 0, 1, 3, 4, 0x11);
    records[MAX_WALK_RECORDS] = makeSector(1, 0, 2, 3, 4, 0x22);
    records[MAX_WALK_RECORDS - 1].sectorsInTrack = records[MAX_WALK_RECORDS].sectorsInTrack = 1;
    openImage({disk});
    EXPECT_EQ(image.readSector(0, 1, 0, 1, 3, buffer.data(), 4096), 4);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(image.readSector(0, 1, 0, 2, 3, buffer.data(), 4096), 0);
    std::vector<uint8_t> ids(4 * (MAX_WALK_RECORDS + 10));
    EXPECT_EQ(image.listSectorIds(0, ids.data(), static_cast<int>(ids.size())),
              4 * MAX_WALK_RECORDS);
}

// The reader fetches the file in blocks: records and data that cross a block's edge, a file
// that ends at an edge, and a file cut or replaced after open all read as the file holds them.
TEST_F(SectorTest, RecordsAcrossBlockEdgesAndFilesThatChange) {
    DiskPlan disk;
    int64_t position = DISK_HEADER_SIZE;
    bool headerAcross = false;
    bool dataAcross = false;
    std::vector<int> lengths;
    int cutRecord = 0;
    int64_t cutData = 0;
    for (int i = 0; i < 200; ++i) {
        int length = 1000 + 7 * (i % 5);
        if (position + 32 + length > BLOCK_BYTES && position + 24 < BLOCK_BYTES) {
            length = static_cast<int>(BLOCK_BYTES - 8 - position - 16); // next header across
        }
        lengths.push_back(length);
        SectorPlan s = makeSector(0, 0, i + 1, 3, length, static_cast<uint8_t>(i + 1));
        s.data[length - 1] = 0xA5;
        disk.tracks[0].sectors.push_back(s);
        headerAcross |= position / BLOCK_BYTES != (position + 15) / BLOCK_BYTES;
        if ((position + 16) / BLOCK_BYTES != (position + 16 + length - 1) / BLOCK_BYTES) {
            dataAcross = true;
            cutRecord = i; // the file is cut later at the edge inside this record's data
            cutData = position + 16;
        }
        position += 16 + length;
    }
    ASSERT_TRUE(headerAcross && dataAcross);
    openImage({disk});
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(image.readSector(0, 0, 0, i + 1, 3, buffer.data(), 4096), lengths[i]);
        EXPECT_EQ(buffer[0], i + 1);
        EXPECT_EQ(buffer[lengths[i] - 1], 0xA5);
    }

    // Cut after open, at a block edge inside a record's data.
    std::vector<uint8_t> bytes = buildDisk(disk);
    const std::string path = dir.write("cut.d88", bytes);
    ASSERT_TRUE(image.open(path.c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    const int64_t edge = (cutData / BLOCK_BYTES + 1) * BLOCK_BYTES;
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(edge)), 0);
    EXPECT_EQ(image.readSector(0, 0, 0, cutRecord + 1, 3, buffer.data(), 4096), edge - cutData);
    EXPECT_EQ(image.readSector(0, 0, 0, cutRecord + 2, 3, buffer.data(), 4096), 0);

    // Another file opened with the same reader: nothing of the first is kept.
    bytes[cutData] = 0x77;
    ASSERT_TRUE(image.open(dir.write("other.d88", bytes).c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    EXPECT_EQ(image.readSector(0, 0, 0, cutRecord + 1, 3, buffer.data(), 4096), lengths[cutRecord]);
    EXPECT_EQ(buffer[0], 0x77);
}
