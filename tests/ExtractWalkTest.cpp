// The directory walk end to end: which files are written, with which bytes and report lines.
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"

#include "SampleDiskSet.h"

using namespace d88;

namespace {

using Walk = LayoutTest;

} // namespace

TEST_P(Walk, ExtractsTheSampleDiskSet) {
    const SampleSet set = smallSampleSet(layout());
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(set, disks));
    const RunResult result = extract(layout(), buildImage(disks));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              consoleText("README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800\n"
                          "HEADJUMP.BIN  DISK:01 TRK:04 SEC:04 SIZE:1000\n"
                          "CYLJUMP.BIN   DISK:01 TRK:07 SEC:05 SIZE:c00\n"
                          "ABC.DAT       DISK:02 TRK:10 SEC:02 SIZE:c00\n"
                          "\x83\x66\x81\x5B\x83\x5E.DAT    DISK:03 TRK:14 SEC:01 SIZE:400\n"
                          "\x95\x5C\x8E\xA6.TXT      DISK:03 TRK:15 SEC:03 SIZE:400\n"
                          "LARGE.BIN     DISK:04 TRK:28 SEC:01 SIZE:f000\n"));
    std::map<std::string, std::vector<uint8_t>> files;
    for (const SampleFile& file : set.files) {
        files[file.name] = file.bytes;
    }
    expectFiles(files);
}

TEST_P(Walk, FirstAndLastEntriesOfTheLayout) {
    DiskSetImage set(4);
    const int last = layout().entryCount - 1;
    set.setEntry(entryOffset(0), "FIRST.BIN", 10, 1, 1, 1);
    set.setEntry(entryOffset(last), "LAST.BIN", 11, 1, 1, 2);
    // Bytes that the other layout would take for entries must not be read as one: the 16 bytes
    // before the first entry and the bytes left over after the last.
    set.setEntry(layout().firstEntryOffset - 16, "BEFORE.BIN", 12, 1, 1, 0);
    for (int i = entryOffset(last) + 16; i < 3072; ++i) {
        set.directory[static_cast<size_t>(i)] = 0x41;
    }
    set.putFile(1, 10, 1, patternBytes(1, 1));
    set.putFile(2, 11, 1, patternBytes(1, 2));
    set.putFile(0, 12, 1, patternBytes(1, 3));
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, consoleText("FIRST.BIN     DISK:02 TRK:0a SEC:01 SIZE:400\n"
                                      "LAST.BIN      DISK:03 TRK:0b SEC:01 SIZE:400\n"));
    expectFiles({{"FIRST.BIN", patternBytes(1, 1)}, {"LAST.BIN", patternBytes(1, 2)}});
}

TEST_P(Walk, FilesRunAcrossHeadsAndCylinders) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "HEAD.BIN", 16, 4, 3, 0);   // track 16 R4, R5, track 17 R1
    set.setEntry(entryOffset(1), "CYL.BIN", 17, 4, 3, 0);    // track 17 R4, R5, track 18 R1
    set.setEntry(entryOffset(2), "LONG.BIN", 20, 1, 255, 3); // 51 whole tracks
    set.putFile(0, 16, 4, patternBytes(2, 1));
    set.putFile(0, 17, 1, patternBytes(1, 2));
    set.putFile(0, 17, 4, patternBytes(3, 3));
    set.putFile(3, 20, 1, patternBytes(255, 4));
    std::vector<uint8_t> head = patternBytes(2, 1);
    const std::vector<uint8_t> third = patternBytes(1, 2);
    head.insert(head.end(), third.begin(), third.end());
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, consoleText("HEAD.BIN      DISK:01 TRK:10 SEC:04 SIZE:c00\n"
                                      "CYL.BIN       DISK:01 TRK:11 SEC:04 SIZE:c00\n"
                                      "LONG.BIN      DISK:04 TRK:14 SEC:01 SIZE:3fc00\n"));
    expectFiles(
        {{"HEAD.BIN", head}, {"CYL.BIN", patternBytes(3, 3)}, {"LONG.BIN", patternBytes(255, 4)}});
}

TEST_P(Walk, DisksAreFoundByTheirIdByte) {
    DiskSetImage set(5);
    set.setIdByte(0, 2); // disks 0 and 1 both say they are the second disk: the first wins
    set.setIdByte(1, 2);
    set.setIdByte(2, 0); // never matches
    set.setIdByte(3, 0xFF);
    set.setIdByte(4, 4);
    set.setEntry(entryOffset(0), "TWICE.BIN", 30, 1, 1, 1);
    set.setEntry(entryOffset(1), "NOBODY.BIN", 30, 1, 1, 2);  // ID 3: no disk
    set.setEntry(entryOffset(2), "LAST.BIN", 30, 1, 1, 0xFE); // ID 0xFF: disk 3
    set.setEntry(entryOffset(3), "WRAP.BIN", 30, 1, 1, 0xFF); // ID 256: no disk
    set.setEntry(entryOffset(4), "FOURTH.BIN", 30, 1, 1, 3);  // ID 4: disk 4
    for (int d = 0; d < 5; ++d) {
        set.putFile(d, 30, 1, patternBytes(1, 10 + d));
    }
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, consoleText("TWICE.BIN     DISK:02 TRK:1e SEC:01 SIZE:400\n"
                                      "LAST.BIN      DISK:ff TRK:1e SEC:01 SIZE:400\n"
                                      "FOURTH.BIN    DISK:04 TRK:1e SEC:01 SIZE:400\n"));
    expectFiles({{"TWICE.BIN", patternBytes(1, 10)},
                 {"LAST.BIN", patternBytes(1, 13)},
                 {"FOURTH.BIN", patternBytes(1, 14)}});
}

TEST_P(Walk, ShortOrMissingIdSectors) {
    DiskSetImage set(4);
    set.disks[0].tracks.erase(79);                   // disk 0: no ID track
    set.disks[1].tracks[79].sectors[4].data = {2};   // disk 1: a one-byte ID sector
    set.disks[2].tracks[79].sectors[4].data.clear(); // disk 2: an empty one, ID 3 lost
    set.setEntry(entryOffset(0), "SHORTID.BIN", 30, 1, 1, 1);
    set.setEntry(entryOffset(1), "EMPTYID.BIN", 30, 1, 1, 2);
    set.putFile(1, 30, 1, patternBytes(1, 1));
    set.putFile(2, 30, 1, patternBytes(1, 2));
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, consoleText("SHORTID.BIN   DISK:02 TRK:1e SEC:01 SIZE:400\n"));
    expectFiles({{"SHORTID.BIN", patternBytes(1, 1)}});
}

// A later entry still replaces the file of an earlier one that is saved under the same name,
// and says so: the same bytes on Linux, the same name ignoring case on Windows.
TEST_P(Walk, LaterEntryOfTheSameNameReplacesTheEarlierAndSaysSo) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "SAME.BIN", 30, 1, 2, 0);
    set.setEntry(entryOffset(1), "ABC.DAT", 32, 1, 1, 0);
    set.setEntry(entryOffset(2), "SAME.BIN", 31, 1, 1, 0);
    set.setEntry(entryOffset(3), "abc.dat", 33, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(2, 1));
    set.putFile(0, 31, 1, patternBytes(1, 2));
    set.putFile(0, 32, 1, patternBytes(1, 3));
    set.putFile(0, 33, 1, patternBytes(1, 4));
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, consoleText("SAME.BIN      DISK:01 TRK:1e SEC:01 SIZE:800\n"
                                      "ABC.DAT       DISK:01 TRK:20 SEC:01 SIZE:400\n"
                                      "SAME.BIN      DISK:01 TRK:1f SEC:01 SIZE:400\n"
                                      "abc.dat       DISK:01 TRK:21 SEC:01 SIZE:400\n"));
    std::string err = "file 'SAME.BIN' replaces the earlier file 'SAME.BIN'\n";
    if (usesLauncher()) { // under wine: Windows names ignore case
        err += "file 'abc.dat' replaces the earlier file 'ABC.DAT'\n";
        expectFiles({{"SAME.BIN", patternBytes(1, 2)}, {"ABC.DAT", patternBytes(1, 4)}});
    } else {
        expectFiles({{"SAME.BIN", patternBytes(1, 2)},
                     {"ABC.DAT", patternBytes(1, 3)},
                     {"abc.dat", patternBytes(1, 4)}});
    }
    EXPECT_EQ(result.err, consoleText(err));
}

// When the file between two of one name cannot be written, the last one still says that it
// replaces the first one's file, which it does.
TEST_P(Walk, AReplacementPastAFailedWriteIsStillSaid) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "X", 30, 1, 1, 0);
    set.setEntry(entryOffset(1), "X", 31, 1, 5, 0); // past the size limit
    set.setEntry(entryOffset(2), "X", 34, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    set.putFile(0, 31, 1, patternBytes(5, 2));
    set.putFile(0, 34, 1, patternBytes(1, 3));
    RunOptions limited;
    limited.fileSizeLimit = 4096;
    const RunResult result = extract(layout(), set.build(), limited);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(consoleText("file 'X' replaces the earlier file 'X'\n")),
              std::string::npos)
        << result.err;
    expectFiles({{"X", patternBytes(1, 3)}});
}

TEST_P(Walk, NamesEndAtTheFirstSpaceOrNul) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "TWELVECHARS!", 30, 1, 1, 0);
    set.setEntry(entryOffset(1), "A B", 30, 2, 1, 0);
    set.setEntry(entryOffset(2), std::string("ZERO\0TAIL", 9), 30, 3, 1, 0);
    set.setEntry(entryOffset(3), "NOTHING.BIN", 33, 1, 0, 0); // size 0: nothing read
    set.setEntry(entryOffset(4), "ABSENT.BIN", 99, 1, 1, 0);  // track not on the disk
    set.putFile(0, 30, 1, patternBytes(3, 1));
    set.putFile(0, 33, 1, patternBytes(1, 4));
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, consoleText("TWELVECHARS!  DISK:01 TRK:1e SEC:01 SIZE:400\n"
                                      "A             DISK:01 TRK:1e SEC:02 SIZE:400\n"
                                      "ZERO          DISK:01 TRK:1e SEC:03 SIZE:400\n"));
    const std::vector<uint8_t> all = patternBytes(3, 1);
    expectFiles({{"TWELVECHARS!", std::vector<uint8_t>(all.begin(), all.begin() + 1024)},
                 {"A", std::vector<uint8_t>(all.begin() + 1024, all.begin() + 2048)},
                 {"ZERO", std::vector<uint8_t>(all.begin() + 2048, all.end())}});
}

TEST_P(Walk, OnlyTheFirstSixtyFourDisksAreSearched) {
    DiskSetImage set(66);
    set.setEntry(entryOffset(0), "DISK64.BIN", 30, 1, 1, 63);
    set.setEntry(entryOffset(1), "DISK65.BIN", 30, 1, 1, 64);
    set.putFile(63, 30, 1, patternBytes(1, 1));
    set.putFile(64, 30, 1, patternBytes(1, 2));
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, consoleText("DISK64.BIN    DISK:40 TRK:1e SEC:01 SIZE:400\n"));
    expectFiles({{"DISK64.BIN", patternBytes(1, 1)}});
}

TEST_P(Walk, UnreadableDirectoryExtractsNothing) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "A.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    set.disks[0].tracks.erase(1);
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    expectFiles({});
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, Walk, ::testing::Values(&LAYOUT_A, &LAYOUT_B), LayoutName());
