// Reading runs of consecutive sectors across sector, head and cylinder boundaries.
#include "support/TempDir.h"

#include "D88Image.h"
#include "ImageBuilder.h"

#include <gtest/gtest.h>
#include <vector>

using namespace d88;

namespace {

// The fill byte of sector r of a track: different for every sector of the first tracks.
uint8_t fillOf(int track, int r) {
    return static_cast<uint8_t>(track * 16 + r);
}

DiskPlan patternDisk(int tracks, int sectorsPerTrack = 5) {
    DiskPlan disk;
    for (int t = 0; t < tracks; ++t) {
        disk.tracks[t] = makeTrack(t, sectorsPerTrack);
        for (SectorPlan& s : disk.tracks[t].sectors) {
            s.data.assign(1024, fillOf(t, s.r));
        }
    }
    return disk;
}

class RunTest : public ::testing::Test {
  protected:
    void openDisk(const DiskPlan& disk) { openBytes(buildDisk(disk)); }
    void openBytes(const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(image.open(dir.write("run.d88", bytes).c_str()));
        ASSERT_TRUE(image.selectDisk(0));
        image.setSectorRange(1, 5);
    }
    // Checks that 1024-byte piece `i` of the buffer holds sector (track, r).
    void expectPiece(int i, int track, int r) {
        EXPECT_EQ(buffer[i * 1024], fillOf(track, r)) << "piece " << i;
        EXPECT_EQ(buffer[i * 1024 + 1023], fillOf(track, r)) << "piece " << i;
    }

    TempDir dir;
    D88Image image;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(16 * 1024, 0xEE);
};

} // namespace

TEST_F(RunTest, ReadsWithinOneTrack) {
    openDisk(patternDisk(2));
    ASSERT_EQ(image.readRun(1, 0, 1, 1, 3, buffer.data(), 3072), 3072);
    for (int i = 0; i < 3; ++i) {
        expectPiece(i, 1, i + 1);
    }
    EXPECT_EQ(buffer[3072], 0xEE);
}

TEST_F(RunTest, StepsAcrossHeadAndCylinder) {
    openDisk(patternDisk(3));
    ASSERT_EQ(image.readRun(0, 0, 0, 4, 3, buffer.data(), 10 * 1024), 10 * 1024);
    const int expected[10][2] = {{0, 4}, {0, 5}, {1, 1}, {1, 2}, {1, 3},
                                 {1, 4}, {1, 5}, {2, 1}, {2, 2}, {2, 3}};
    for (int i = 0; i < 10; ++i) {
        expectPiece(i, expected[i][0], expected[i][1]);
    }
}

TEST_F(RunTest, ShortLastPieceReadsOnlyTheRemainder) {
    openDisk(patternDisk(1));
    ASSERT_EQ(image.readRun(0, 0, 0, 1, 3, buffer.data(), 1024 + 100), 1124);
    EXPECT_EQ(buffer[1123], fillOf(0, 2));
    EXPECT_EQ(buffer[1124], 0xEE);
    EXPECT_EQ(image.readRun(0, 0, 0, 1, 3, buffer.data(), 0), 0);
    EXPECT_EQ(image.readRun(0, 0, 0, 1, 3, buffer.data(), -5), 0);
}

TEST_F(RunTest, StopsAtAMissingOrShortSector) {
    DiskPlan disk = patternDisk(1);
    disk.tracks[0].sectors.erase(disk.tracks[0].sectors.begin() + 2); // R = 3 missing
    disk.tracks[0].sectors[0].data.resize(512);                       // R = 1 short
    openDisk(disk);
    EXPECT_EQ(image.readRun(0, 0, 0, 1, 3, buffer.data(), 2048), 0);
    EXPECT_EQ(buffer[0], fillOf(0, 1)) << "the partial data stays in the buffer";
    EXPECT_EQ(image.readRun(0, 0, 0, 1, 3, buffer.data(), 512), 512);
    EXPECT_EQ(image.readRun(0, 0, 0, 2, 3, buffer.data(), 4096), 1024) << "R = 3 is missing";
    EXPECT_EQ(image.readRun(0, 0, 0, 3, 3, buffer.data(), 4096), 0);
    EXPECT_EQ(image.readRun(0, 0, 0, 2, 2, buffer.data(), 4096), 0) << "N applies to every sector";
}

TEST_F(RunTest, StopsWhereTheFileEndsInsideASector) {
    std::vector<uint8_t> bytes = buildDisk(patternDisk(1));
    bytes.resize(bytes.size() - 1024 - 16 - 10); // R = 4's data loses its last 10 bytes
    openBytes(bytes);
    EXPECT_EQ(image.readRun(0, 0, 0, 1, 3, buffer.data(), 5 * 1024), 3 * 1024);
    EXPECT_EQ(buffer[3 * 1024], fillOf(0, 4)) << "what was stored stays";
}

TEST_F(RunTest, StartAboveTheLastSectorNeverWraps) {
    openDisk(patternDisk(2, 8));
    EXPECT_EQ(image.readRun(0, 0, 0, 6, 3, buffer.data(), 8 * 1024), 3 * 1024);
    expectPiece(2, 0, 8);
}

TEST_F(RunTest, SectorRangeDefaultsToOneToSixteen) {
    const std::vector<uint8_t> bytes = buildDisk(patternDisk(2, 16));
    D88Image fresh;
    ASSERT_TRUE(fresh.open(dir.write("wide.d88", bytes).c_str()));
    ASSERT_TRUE(fresh.selectDisk(0));
    ASSERT_EQ(fresh.readRun(0, 0, 0, 15, 3, buffer.data(), 4 * 1024), 4 * 1024);
    expectPiece(1, 0, 16);
    expectPiece(2, 1, 1);
    fresh.setSectorRange(1, 5);
    ASSERT_EQ(fresh.readRun(0, 0, 0, 5, 3, buffer.data(), 2 * 1024), 2 * 1024);
    expectPiece(1, 1, 1);
}

TEST_F(RunTest, SizeCodeOutsideTheRangeReadsNothing) {
    openDisk(patternDisk(1));
    EXPECT_EQ(image.readRun(0, 0, 0, 1, 24, buffer.data(), 1024), 0);
    EXPECT_EQ(image.readRun(0, 0, 0, 1, -1, buffer.data(), 1024), 0);
}
