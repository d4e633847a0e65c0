// d88info end to end: the listing of disks and tracks, --disk, and its errors.
#include "support/ExtractFixture.h"

#include "ImageBuilder.h"

#include <gtest/gtest.h>

using namespace d88;

namespace {

std::string infoProgram() {
    const char* override = getenv("D88_INFO");
    return override != nullptr && *override != '\0' ? override : D88INFO_PATH;
}

class Info : public ::testing::Test {
  protected:
    RunResult run(const std::vector<std::string>& words) {
        RunOptions options;
        options.cwd = dir.path();
        return runProgram(infoProgram(), words, options);
    }

    // Two disks: the first with an ID sector, a long track, an absent track and track entries
    // at and past its size; the second with a 16-byte name and a track of IDs that are not its
    // own.
    std::vector<uint8_t> twoDisks() {
        DiskPlan first;
        first.name = "INFO A";
        first.mediaType = 0x20;
        first.tracks[0] = makeTrack(0);
        first.tracks[2] = makeTrack(2, 8);
        first.tracks[79] = makeTrack(79);
        first.tracks[79].sectors[4].data[0] = 0x01;
        const uint32_t size = static_cast<uint32_t>(buildDisk(first).size());
        first.trackOffsetOverride[5] = size + 1; // past the disk: not listed
        first.trackOffsetOverride[6] = size;     // at its very end: listed, walks into disk 2
        DiskPlan second;
        second.name = std::string("\x10\x00\x01\x03\x01\x00SECOND-DISK", 16); // read as a record
        second.mediaType = 0xFF;
        second.tracks[163].sectors = {makeSector(0x50, 0x01, 0xF7, 0x06, 8)};
        return buildImage({first, second});
    }

    TempDir dir;
};

} // namespace

TEST_F(Info, ListsDisksAndPresentTracks) {
    const std::string path = dir.write("two.d88", twoDisks());
    const RunResult result = run({"d88info", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              consoleText(path + ": 2 disks\n" +
                          "disk 0  offset 0  size 19408  media 20  name \"INFO A\"  set-id 01\n"
                          "  track   0  records 5 00/00/01/03 00/00/02/03 00/00/03/03 00/00/04/03 "
                          "00/00/05/03\n"
                          "  track   2  records 8 01/00/01/03 01/00/02/03 01/00/03/03 01/00/04/03 "
                          "01/00/05/03 01/00/06/03 01/00/07/03 01/00/08/03\n"
                          "  track   6  records 1 10/00/01/03\n"
                          "  track  79  records 5 27/01/01/03 27/01/02/03 27/01/03/03 27/01/04/03 "
                          "27/01/05/03\n"
                          "disk 1  offset 19408  size 712  media ff  name \"\x10\"  set-id none\n"
                          "  track 163  records 1 50/01/f7/06\n"));

    const RunResult one = run({"d88info", "--disk", "1", path});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out,
              consoleText(path + ": 2 disks\n" +
                          "disk 1  offset 19408  size 712  media ff  name \"\x10\"  set-id none\n"
                          "  track 163  records 1 50/01/f7/06\n"));
}

TEST_F(Info, LongTrackSaysItsListingWasCut) {
    DiskPlan disk;
    for (int i = 0; i < 600; ++i) {
        disk.tracks[0].sectors.push_back(makeSector(0, 0, i % 256, 0, 0));
    }
    const std::string path = dir.write("long.d88", buildDisk(disk));
    const RunResult result = run({"d88info", path});
    EXPECT_EQ(result.status, 0);
    const std::string head = "disk 0  offset 0  size 10288  media 00  name \"\"  set-id none\n"
                             "  track   0  records 512+ 00/00/00/00 00/00/01/00";
    const std::string tail = " 00/00/ff/00 (listing cut after 512 records)\n";
    ASSERT_NE(result.out.find(consoleText(head)), std::string::npos) << result.out.substr(0, 300);
    EXPECT_EQ(result.out.substr(result.out.size() - consoleText(tail).size()), consoleText(tail));
}

TEST_F(Info, EmptyImageListsNoDisk) {
    const std::string path = dir.write("empty.d88", {});
    const RunResult result = run({"d88info", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, consoleText(path + ": 0 disks\n"));
}

TEST_F(Info, UsageAndOpenErrors) {
    const std::string path = dir.write("two.d88", twoDisks());
    const std::string usage = consoleText("usage: d88info [--disk N] IMAGE\n");
    for (const auto& words :
         std::vector<std::vector<std::string>>{{"d88info"},
                                               {"d88info", path, path},
                                               {"d88info", "--disk", path},
                                               {"d88info", "--disk", "x", path},
                                               {"d88info", "--disk", "-1", path},
                                               {"d88info", "--bogus", path}}) {
        const RunResult result = run(words);
        EXPECT_EQ(result.status, 1) << words.size();
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, usage);
    }
    const RunResult missing = run({"d88info", dir.file("missing.d88")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, consoleText("d88info: cannot open " + dir.file("missing.d88") + "\n"));
    const RunResult noDisk = run({"d88info", "--disk", "2", path});
    EXPECT_EQ(noDisk.status, 1);
    EXPECT_EQ(noDisk.err, consoleText("d88info: no disk 2, the image holds 2\n"));
}
