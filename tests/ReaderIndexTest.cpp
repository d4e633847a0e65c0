// Opening an image, indexing its disks and selecting one.
#include "support/TempDir.h"

#include "D88Image.h"
#include "ImageBuilder.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace d88;

namespace {

DiskPlan diskWithTrack(const std::string& name, int sectors = 5) {
    DiskPlan disk;
    disk.name = name;
    disk.tracks[0] = makeTrack(0, sectors);
    return disk;
}

void writeAt(int fd, off_t offset, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
}

} // namespace

TEST(LittleEndian, AssemblesBytesInOrder) {
    const uint8_t u32[] = {0x01, 0x02, 0x00, 0x00};
    const uint8_t u16[] = {0xFF, 0x00};
    const uint8_t high[] = {0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(readU32(u32), 513u);
    EXPECT_EQ(readU16(u16), 255u);
    EXPECT_EQ(readU32(high), 0xFFFFFFFEu);
    EXPECT_EQ(readU16(high), 0xFFFEu);
}

TEST(Open, DefaultsAndFilesTooShortForAHeader) {
    TempDir dir;
    D88Image image;
    EXPECT_EQ(image.diskCount(), 0);
    EXPECT_EQ(image.mediaType(), -1);
    EXPECT_STREQ(image.diskName(), "");
    EXPECT_FALSE(image.selectDisk(0)) << "nothing is open";

    EXPECT_TRUE(image.open(dir.write("empty.d88", {}).c_str()));
    EXPECT_EQ(image.diskCount(), 0);
    image.close();
    EXPECT_TRUE(image.open(dir.write("short.d88", std::vector<uint8_t>(687, 0)).c_str()));
    EXPECT_EQ(image.diskCount(), 0);
    EXPECT_FALSE(image.selectDisk(0));
}

TEST(Open, MissingFileFailsAndKeepsState) {
    TempDir dir;
    D88Image image;
    EXPECT_FALSE(image.open(dir.file("missing.d88").c_str()));
    EXPECT_EQ(image.diskCount(), 0);
    EXPECT_FALSE(image.selectDisk(0));
    EXPECT_TRUE(image.open(nullptr)) << "a null path closes";
}

TEST(Open, IndexesDisksBackToBack) {
    TempDir dir;
    const std::vector<uint8_t> one = buildDisk(diskWithTrack("D"));
    std::vector<uint8_t> four;
    for (int i = 0; i < 4; ++i) {
        four.insert(four.end(), one.begin(), one.end());
    }
    D88Image image;
    ASSERT_TRUE(image.open(dir.write("four.d88", four).c_str()));
    ASSERT_EQ(image.diskCount(), 4);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(image.selectDisk(i));
        EXPECT_EQ(image.diskOffset(), static_cast<int32_t>(i * one.size()));
        EXPECT_EQ(image.diskSize(), one.size());
    }
}

TEST(Open, DiskSizeZeroIndexesTheSameDiskSixtyFourTimes) {
    TempDir dir;
    DiskPlan disk = diskWithTrack("ZERO");
    disk.diskSizeOverride = 0;
    D88Image image;
    ASSERT_TRUE(image.open(dir.write("zero.d88", buildDisk(disk)).c_str()));
    ASSERT_EQ(image.diskCount(), MAX_DISKS);
    ASSERT_TRUE(image.selectDisk(MAX_DISKS - 1));
    EXPECT_EQ(image.diskOffset(), 0);
    EXPECT_FALSE(image.selectDisk(MAX_DISKS));
}

TEST(Open, StopsAtSixtyFourDisks) {
    TempDir dir;
    std::vector<DiskPlan> disks(70, diskWithTrack("MANY", 1));
    D88Image image;
    ASSERT_TRUE(image.open(dir.write("many.d88", buildImage(disks)).c_str()));
    EXPECT_EQ(image.diskCount(), MAX_DISKS);
}

TEST(Open, SizePastTheEndMakesTheLastDisk) {
    TempDir dir;
    DiskPlan last = diskWithTrack("LAST");
    last.diskSizeOverride = 0x100000;
    std::vector<uint8_t> bytes = buildImage({diskWithTrack("FIRST"), last});
    D88Image image;
    ASSERT_TRUE(image.open(dir.write("past.d88", bytes).c_str()));
    EXPECT_EQ(image.diskCount(), 2);
    // A header cut short after the last full one is not a disk.
    bytes.resize(bytes.size() + 100, 0);
    ASSERT_TRUE(image.open(dir.write("tail.d88", bytes).c_str()));
    EXPECT_EQ(image.diskCount(), 2);
}

// Offsets are signed 32-bit: indexing stops after the disk whose end passes 2^31 - 1, and a
// track beyond 2 GiB is still reached with a 64-bit seek. The file is sparse.
TEST(Open, StopsPastTwoGigabytesAndSeeksBeyond) {
    TempDir dir;
    const std::string path = dir.file("sparse.d88");
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    DiskPlan first;
    first.diskSizeOverride = 0x7FFFFFF0;
    DiskPlan second;
    second.name = "HIGH";
    second.tracks[0].sectors.push_back(makeSector(0, 0, 1, 0, 128, 0x5A));
    const std::vector<uint8_t> secondBytes = buildDisk(second);
    DiskPlan third;
    writeAt(fd, 0, buildDisk(first));
    writeAt(fd, 0x7FFFFFF0, secondBytes);
    writeAt(fd, 0x7FFFFFF0 + static_cast<off_t>(secondBytes.size()), buildDisk(third));
    ::close(fd);

    D88Image image;
    ASSERT_TRUE(image.open(path.c_str()));
    ASSERT_EQ(image.diskCount(), 2) << "the third disk lies past 2^31 - 1";
    ASSERT_TRUE(image.selectDisk(1));
    EXPECT_STREQ(image.diskName(), "HIGH");
    uint8_t buffer[128] = {};
    EXPECT_EQ(image.readSector(0, 0, 0, 1, 0, buffer, 128), 128);
    EXPECT_EQ(buffer[127], 0x5A);
}

TEST(Select, LoadsNameAndMediaType) {
    TempDir dir;
    DiskPlan full = diskWithTrack("0123456789ABCDEF");
    full.mediaType = 0x20;
    DiskPlan cut = diskWithTrack(std::string("ABC\0XYZ", 7));
    cut.mediaType = 0xFF;
    D88Image image;
    ASSERT_TRUE(image.open(dir.write("names.d88", buildImage({full, cut})).c_str()));
    ASSERT_TRUE(image.selectDisk(0));
    EXPECT_STREQ(image.diskName(), "0123456789ABCDEF");
    EXPECT_EQ(image.mediaType(), 0x20);
    ASSERT_TRUE(image.selectDisk(1));
    EXPECT_STREQ(image.diskName(), "ABC");
    EXPECT_EQ(image.mediaType(), 0xFF);

    image.close();
    EXPECT_EQ(image.diskCount(), 0);
    EXPECT_EQ(image.mediaType(), -1);
    EXPECT_STREQ(image.diskName(), "ABC") << "close keeps the last name";
    EXPECT_FALSE(image.selectDisk(0));
    EXPECT_STREQ(image.diskName(), "ABC") << "without a file, selection changes nothing";
}

TEST(Select, OutOfRangeClearsTheSelection) {
    TempDir dir;
    D88Image image;
    ASSERT_TRUE(image.open(dir.write("one.d88", buildDisk(diskWithTrack("ONE"))).c_str()));
    uint8_t buffer[1024];
    for (int bad : {1, -1}) {
        ASSERT_TRUE(image.selectDisk(0));
        ASSERT_EQ(image.readSector(0, 0, 0, 1, 3, buffer, 1024), 1024);
        EXPECT_FALSE(image.selectDisk(bad));
        EXPECT_EQ(image.mediaType(), -1);
        EXPECT_STREQ(image.diskName(), "");
        EXPECT_EQ(image.diskOffset(), -1);
        EXPECT_EQ(image.readSector(0, 0, 0, 1, 3, buffer, 1024), 0);
        EXPECT_EQ(image.listSectorIds(0, buffer, 1024), 0);
        EXPECT_EQ(image.readRun(0, 0, 0, 1, 3, buffer, 1024), 0);
    }
}

TEST(Select, FileTruncatedAfterOpenFailsCleanly) {
    TempDir dir;
    const std::vector<uint8_t> one = buildDisk(diskWithTrack("T"));
    const std::string path =
        dir.write("cut.d88", buildImage({diskWithTrack("T"), diskWithTrack("T")}));
    D88Image image;
    ASSERT_TRUE(image.open(path.c_str()));
    ASSERT_EQ(image.diskCount(), 2);
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(one.size() + 10)), 0);
    EXPECT_FALSE(image.selectDisk(1));
    EXPECT_EQ(image.diskOffset(), -1);
    EXPECT_TRUE(image.selectDisk(0));
}

// Several files read as one image: the bytes joined as `cat` joins them, whatever the files'
// edges cut (a header, a record, a block of the reader), read as the joined file reads.
TEST(OpenParts, ReadsSplitFilesAsTheJoinedFile) {
    TempDir dir;
    std::vector<DiskPlan> disks;
    for (int i = 0; i < 4; ++i) {
        DiskPlan disk = diskWithTrack("DISK" + std::to_string(i));
        disk.tracks[3] = makeTrack(3);
        for (int track = 10; track < 20; ++track) { // four disks longer than two blocks
            disk.tracks[track] = makeTrack(track);
        }
        for (int r = 1; r <= 5; ++r) {
            setSectorData(disk, 3, r, std::vector<uint8_t>(1024, static_cast<uint8_t>(16 * i + r)));
        }
        disks.push_back(disk);
    }
    const std::vector<uint8_t> joined = buildImage(disks);
    const size_t disk = joined.size() / 4;
    const std::vector<std::vector<size_t>> cutsTable = {
        {disk, 2 * disk, 3 * disk},                  // one file per disk
        {2 * disk},                                  // two disks in each of two files
        {100, disk + 700, BLOCK_BYTES + 3},          // inside headers, records and a block
        {0, disk, disk, joined.size()},              // empty files before, between and after
        {1, 2, 3, static_cast<size_t>(BLOCK_BYTES)}, // files shorter than a header
    };
    for (std::vector<size_t> cuts : cutsTable) {
        std::sort(cuts.begin(), cuts.end());
        cuts.push_back(joined.size());
        std::vector<std::string> paths;
        size_t from = 0;
        for (size_t to : cuts) {
            paths.push_back(
                dir.write("part" + std::to_string(paths.size()),
                          std::vector<uint8_t>(joined.begin() + from, joined.begin() + to)));
            from = to;
        }
        std::vector<const char*> words;
        for (const std::string& path : paths) {
            words.push_back(path.c_str());
        }
        D88Image image;
        ASSERT_TRUE(image.openParts(words.data(), static_cast<int>(words.size())));
        EXPECT_EQ(image.partCount(), static_cast<int>(words.size()));
        EXPECT_EQ(image.fileSize(), static_cast<int64_t>(joined.size()));
        ASSERT_EQ(image.diskCount(), 4) << "cut at " << cuts[0];
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(image.selectDisk(i));
            EXPECT_EQ(image.diskName(), "DISK" + std::to_string(i));
            image.setSectorRange(1, 5);
            std::vector<uint8_t> run(5 * 1024);
            ASSERT_EQ(image.readRun(3, 1, 1, 1, 3, run.data(), 5 * 1024), 5 * 1024);
            EXPECT_EQ(run[0], 16 * i + 1);
            EXPECT_EQ(run[5 * 1024 - 1], 16 * i + 5);
        }
    }
}

// Any file of the image counts as the image, and one file that cannot be opened opens none.
TEST(OpenParts, EveryFileIsTheImageAndAMissingOneFailsTheOpen) {
    TempDir dir;
    const std::string a = dir.write("a.d88", buildDisk(diskWithTrack("A")));
    const std::string b = dir.write("b.d88", buildDisk(diskWithTrack("B")));
    const std::string other = dir.write("other.d88", buildDisk(diskWithTrack("O")));
    const auto identity = [](const std::string& path) {
        struct stat info {};
        stat(path.c_str(), &info);
        return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    };
    D88Image image;
    const char* both[] = {a.c_str(), b.c_str()};
    ASSERT_TRUE(image.openParts(both, 2));
    EXPECT_TRUE(image.readsFile(identity(a)));
    EXPECT_TRUE(image.readsFile(identity(b)));
    EXPECT_FALSE(image.readsFile(identity(other)));

    const std::string missing = dir.file("missing.d88");
    const char* withMissing[] = {a.c_str(), missing.c_str(), b.c_str()};
    EXPECT_FALSE(image.openParts(withMissing, 3));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(image.failedPart(), 1);
    EXPECT_EQ(image.partCount(), 0);
    EXPECT_FALSE(image.selectDisk(0));
    EXPECT_FALSE(image.readsFile(identity(a)));
    const char* withFolder[] = {a.c_str(), dir.path().c_str()};
    EXPECT_FALSE(image.openParts(withFolder, 2));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(image.failedPart(), 1);
}
