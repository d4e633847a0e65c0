// Opening an image, indexing its disks and selecting one.
#include "support/DamagedImages.h"
#include "support/TempDir.h"

#include "D88Image.h"
#include "ImageBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
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

// How the parts of an image are given to the reader.
enum class Parts { Files, Memory, Mixed }; // Mixed: the even parts in memory, the odd ones files

// Opens `image` as `pieces` joined, given as `parts` says; the files are written into `dir`
// and kept open in `streams`.
bool openPieces(D88Image& image, const std::vector<std::vector<uint8_t>>& pieces, Parts parts,
                const TempDir& dir, std::vector<std::unique_ptr<FILE, int (*)(FILE*)>>& streams) {
    std::vector<std::string> paths;
    std::vector<const char*> words;
    std::vector<ByteSource> sources;
    for (size_t i = 0; i < pieces.size(); ++i) {
        paths.push_back(dir.write("part" + std::to_string(i), pieces[i]));
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
        words.push_back(paths[i].c_str());
        if (parts == Parts::Memory || (parts == Parts::Mixed && i % 2 == 0)) {
            sources.push_back(memorySource(pieces[i].data(), pieces[i].size()));
        } else {
            streams.emplace_back(fopen(paths[i].c_str(), "rb"), fclose);
            sources.push_back(fileSource(streams.back().get()));
        }
    }
    const int count = static_cast<int>(pieces.size());
    return parts == Parts::Files ? image.openParts(words.data(), count)
                                 : image.openSources(sources.data(), count);
}

// Everything the reader answers of an open image, in order: its parts and disks, the header
// check at each, every byte, and of each disk every track's walk, each record's sector read by
// its ID and a run of five sectors from the track's first.
std::vector<uint8_t> answers(D88Image& image) {
    std::vector<uint8_t> trace;
    const auto put = [&](int64_t value) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&value);
        trace.insert(trace.end(), bytes, bytes + sizeof value);
    };
    const auto putBytes = [&](const std::vector<uint8_t>& bytes, int64_t length) {
        put(length);
        trace.insert(trace.end(), bytes.begin(), bytes.begin() + length);
    };
    put(image.partCount());
    put(image.diskCount());
    for (int part = 0; part < image.partCount(); ++part) {
        put(image.partStart(part));
        put(image.looksLikeDiskAt(image.partStart(part)));
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(image.fileSize()) + 1);
    putBytes(bytes, image.readBytes(0, bytes.data(), static_cast<int64_t>(bytes.size())));
    std::vector<uint8_t> sector(1 << 16);
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        put(image.diskStart(disk));
        put(image.diskLimit(disk));
        put(image.looksLikeDiskAt(image.diskStart(disk)));
        put(image.selectDisk(disk));
        put(image.diskSize());
        put(image.diskBytesEnd());
        put(image.mediaType());
        image.setSectorRange(1, 5);
        for (int track = 0; track < MAX_TRACKS; ++track) {
            const TrackWalk* walk = image.walkTrack(track);
            const std::vector<WalkedRecord> records =
                walk == nullptr
                    ? std::vector<WalkedRecord>()
                    : std::vector<WalkedRecord>(walk->records, walk->records + walk->recordCount);
            put(walk == nullptr ? -1 : static_cast<int64_t>(walk->end));
            for (const WalkedRecord& record : records) {
                const SectorId id = record.id;
                put(id.c << 24 | id.h << 16 | id.r << 8 | id.n);
                put(record.headerPosition);
                putBytes(sector, image.readSector(track, id.c, id.h, id.r, id.n, sector.data(),
                                                  static_cast<int>(sector.size())));
            }
            putBytes(sector,
                     image.readRun(track, track / 2, track % 2, 1, 3, sector.data(), 5 * 1024));
        }
    }
    return trace;
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
        EXPECT_EQ(image.trackOffset(0), 0u) << "no track table is left of the disk before";
        EXPECT_FALSE(image.trackPresent(0));
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
        {disk + 100, 2 * disk + 687, 3 * disk + 1},  // a later disk's header cut, at its edges too
    };
    for (std::vector<size_t> cuts : cutsTable) {
        std::sort(cuts.begin(), cuts.end());
        cuts.push_back(joined.size());
        std::vector<std::vector<uint8_t>> pieces;
        size_t from = 0;
        for (size_t to : cuts) {
            pieces.emplace_back(joined.begin() + from, joined.begin() + to);
            from = to;
        }
        for (const Parts parts : {Parts::Files, Parts::Memory, Parts::Mixed}) {
            SCOPED_TRACE("cut at " + std::to_string(cuts[0]) + ", parts given as " +
                         std::to_string(static_cast<int>(parts)));
            D88Image image;
            std::vector<std::unique_ptr<FILE, int (*)(FILE*)>> streams;
            ASSERT_TRUE(openPieces(image, pieces, parts, dir, streams));
            EXPECT_EQ(image.partCount(), static_cast<int>(pieces.size()));
            EXPECT_EQ(image.fileSize(), static_cast<int64_t>(joined.size()));
            ASSERT_EQ(image.diskCount(), 4);
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
}

// Every damaged image of both layouts answers alike, every call and every byte, from its file,
// from bytes in memory and cut into parts of both kinds (where no part starts a disk of its own).
TEST(OpenSources, DamagedImagesAnswerAlikeFromFilesAndMemory) {
    TempDir dir;
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        for (const DamagedCase& damaged : damagedCases(*layout)) {
            SCOPED_TRACE(damaged.name);
            const std::vector<uint8_t>& bytes = damaged.image;
            D88Image fromFile;
            ASSERT_TRUE(fromFile.open(dir.write("image.d88", bytes).c_str()));
            const std::vector<uint8_t> expected = answers(fromFile);
            D88Image fromMemory;
            const ByteSource whole = memorySource(bytes.data(), bytes.size());
            ASSERT_TRUE(fromMemory.openSources(&whole, 1));
            EXPECT_TRUE(answers(fromMemory) == expected);
            // Cut inside a record and inside a block, given as files and as memory both ways.
            const size_t cut = std::min<size_t>(bytes.size(), DISK_HEADER_SIZE + 100);
            const size_t second = std::min<size_t>(bytes.size(), BLOCK_BYTES + 7);
            const std::vector<std::vector<uint8_t>> pieces = {
                {bytes.begin(), bytes.begin() + cut},
                {bytes.begin() + cut, bytes.begin() + std::max(cut, second)},
                {bytes.begin() + std::max(cut, second), bytes.end()}};
            std::vector<std::vector<uint8_t>> cutAnswers;
            for (const Parts parts : {Parts::Files, Parts::Memory, Parts::Mixed}) {
                D88Image image;
                std::vector<std::unique_ptr<FILE, int (*)(FILE*)>> streams;
                ASSERT_TRUE(openPieces(image, pieces, parts, dir, streams));
                cutAnswers.push_back(answers(image));
            }
            EXPECT_TRUE(cutAnswers[1] == cutAnswers[0]);
            EXPECT_TRUE(cutAnswers[2] == cutAnswers[0]);
        }
    }
}

// One file that cannot be opened opens none.
TEST(OpenParts, AMissingFileOrAFolderFailsTheOpen) {
    TempDir dir;
    const std::string a = dir.write("a.d88", buildDisk(diskWithTrack("A")));
    const std::string b = dir.write("b.d88", buildDisk(diskWithTrack("B")));
    D88Image image;
    const char* both[] = {a.c_str(), b.c_str()};
    ASSERT_TRUE(image.openParts(both, 2));
    EXPECT_EQ(image.diskCount(), 2);

    const std::string missing = dir.file("missing.d88");
    const char* withMissing[] = {a.c_str(), missing.c_str(), b.c_str()};
    EXPECT_FALSE(image.openParts(withMissing, 3));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(image.failedPart(), 1);
    EXPECT_EQ(image.partCount(), 0);
    EXPECT_FALSE(image.selectDisk(0));
    const char* withFolder[] = {a.c_str(), dir.path().c_str()};
    EXPECT_FALSE(image.openParts(withFolder, 2));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(image.failedPart(), 1);
}
