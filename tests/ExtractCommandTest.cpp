// d88extract: the order in which it joins the files it is given, and its runs against
// d88extract-a and d88extract-b on the same images.
#include "support/DamagedImages.h"
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"

#include "D88Format.h"
#include "PartOrder.h"
#include "SampleDiskSet.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

using namespace d88;

namespace {

std::string commandProgram() {
    const char* override = getenv("D88_EXTRACT");
    return override != nullptr && *override != '\0' ? override : D88EXTRACT_PATH;
}

// d88extract with `words` after its name, in the fixture's working folder.
RunResult runCommand(ExtractFixture& fixture, std::vector<std::string> words) {
    words.insert(words.begin(), "d88extract");
    RunOptions options;
    options.cwd = fixture.work;
    return runProgram(commandProgram(), words, options);
}

std::vector<uint8_t> sampleImage(const SampleSet& set) {
    std::vector<DiskPlan> disks;
    EXPECT_TRUE(buildSampleDisks(set, disks));
    return buildImage(disks);
}

std::map<std::string, std::vector<uint8_t>> filesIn(const std::string& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const std::string& name : listDirectory(folder)) {
        files[name] = readFileBytes(folder + "/" + name);
    }
    return files;
}

struct Fixture : ExtractFixture {
    void TestBody() override {}
};

// Files as text: "2,3|x|.|-,1" is a file holding disks with ID bytes 2 and 3, one that is no
// image, one that goes on with the disk of the one before, and one holding a disk whose ID
// sector cannot be read and Disk A.
std::vector<PartContents> parts(const std::string& text) {
    std::vector<PartContents> parts(1, PartContents{{}, true});
    for (size_t at = 0; at < text.size(); ++at) {
        const char ch = text[at];
        if (ch == '|') {
            parts.push_back(PartContents{{}, true});
        } else if (ch == 'x') {
            parts.back().holdsImageBytes = false;
        } else if (ch == '-') {
            parts.back().setIds.push_back(NO_SET_ID);
        } else if (ch >= '0' && ch <= '9') {
            parts.back().setIds.push_back(ch - '0');
        }
    }
    return parts;
}

} // namespace

TEST(PartOrder, DiskAFirstAndWhatKeepsFilesFromMakingASet) {
    using P = PartProblem;
    const struct {
        const char* files;
        std::vector<int> order;
        P problem;
        int first, second;
    } rows[] = {
        {"1,2,3,4", {0}, P::None, -1, -1},
        {"2|4|1|3", {2, 0, 1, 3}, P::None, -1, -1},
        {"3,4|2,1", {1, 0}, P::None, -1, -1},
        {"2|.|1,3,4", {2, 0, 1}, P::None, -1, -1},
        // Disk A first already, in no file, or in the first file: as given.
        {"1|3|2|4", {0, 1, 2, 3}, P::None, -1, -1},
        {"2,3|-,5", {0, 1}, P::None, -1, -1},
        {"2,1|3,4", {0, 1}, P::None, -1, -1},
        {"1,2|3|1", {0, 1, 2}, P::TwoDiskA, 0, 2},
        {"1,2|x|3,4", {0, 1, 2}, P::NotImage, 1, -1},
        {"2|1|3", {0, 1, 2}, P::TooFewDisks, -1, -1},
        // One file: too few disks and nothing of an image in it is no image at all.
        {"1,2,3", {0}, P::TooFewDisks, -1, -1},
        {"x", {0}, P::NotImage, 0, -1},
        {"1,2,3,4x", {0}, P::None, -1, -1},
    };
    for (const auto& row : rows) {
        const PartOrder got = decidePartOrder(parts(row.files));
        EXPECT_EQ(got.order, row.order) << row.files;
        EXPECT_EQ(got.changed, row.order.size() > 1 && row.order[0] != 0) << row.files;
        EXPECT_EQ(got.problem, row.problem) << row.files;
        EXPECT_EQ(got.problemParts[0], row.first) << row.files;
        EXPECT_EQ(got.problemParts[1], row.second) << row.files;
    }
}

// For every image, d88extract in one layout with the names as stored writes exactly the files,
// report lines and exit status of that layout's program.
TEST_P(LayoutTest, CommandWritesWhatTheLayoutsProgramWrites) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> images = {
        {"small sample", sampleImage(smallSampleSet(layout()))},
        {"full sample", sampleImage(fullSampleSet(layout(), 4))}};
    for (DamagedCase& c : damagedCases(layout())) {
        images.emplace_back(c.name, std::move(c.image));
    }
    const std::string letter = layout().firstEntryOffset == LAYOUT_A.firstEntryOffset ? "a" : "b";
    for (const auto& [name, image] : images) {
        SCOPED_TRACE(name);
        Fixture program;
        Fixture command;
        const RunResult expected = program.extract(layout(), image);
        command.root.write("image.d88", image);
        const RunResult got =
            runCommand(command, {"--layout", letter, "--names", "shift_jis", "-d",
                                 command.work + "/in/a/new/folder", command.imagePath});
        EXPECT_EQ(got.status, expected.status);
        EXPECT_EQ(got.out, expected.out);
        EXPECT_EQ(filesIn(command.work + "/in/a/new/folder"), filesIn(program.work));
    }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, LayoutTest, ::testing::Values(&LAYOUT_A, &LAYOUT_B),
                         LayoutName());

// The sample set as four disk files, in any order (once into a new folder of a Unicode name),
// gives the files of the joined set; names follow the locale's character set unless --names
// says otherwise, and on Windows are always Unicode.
TEST(Command, DiskFilesInAnyOrderGiveTheFilesOfTheJoinedSet) {
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    Fixture joined;
    joined.root.write("image.d88", buildImage(disks));
    ASSERT_EQ(runCommand(joined, {"--names", "utf-8", joined.imagePath}).status, 0);
    const auto files = filesIn(joined.work);
    EXPECT_EQ(files.count("データ.DAT") + files.count("表示.TXT"), 2u);
    const std::vector<std::vector<int>> orders = {{0, 1, 2, 3}, {2, 0, 3, 1}, {3, 2, 1, 0}};
    for (const std::vector<int>& order : orders) {
        Fixture separate;
        const std::string folder = separate.work + (order[0] == 3 ? "/出力/フォルダ" : "");
        std::vector<std::string> words = {"-d", folder};
        for (int disk : order) {
            words.push_back(separate.root.write("ディスク" + std::to_string(disk) + ".d88",
                                                buildDisk(disks[static_cast<size_t>(disk)])));
        }
        setenv("LC_ALL", "C.UTF-8", 1);
        const RunResult result = runCommand(separate, words);
        unsetenv("LC_ALL");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err.find("Disk A is in") != std::string::npos, order[0] != 0);
        EXPECT_EQ(filesIn(folder), files);
    }
    if (!usesLauncher()) {
        Fixture bytes;
        bytes.root.write("image.d88", buildImage(disks));
        setenv("LC_ALL", "C", 1);
        EXPECT_EQ(runCommand(bytes, {bytes.imagePath}).status, 0);
        unsetenv("LC_ALL");
        EXPECT_EQ(filesIn(bytes.work).count("\x83\x66\x81\x5B\x83\x5E.DAT"), 1u);
    }
}

// What d88extract refuses: a message naming the file or the problem, its exit status, and
// nothing written.
TEST(Command, BadInputNamesTheFileAndWritesNothing) {
    Fixture f;
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    const std::string a = f.root.write("a.d88", buildDisk(disks[0]));
    const std::string b = f.root.write("b.d88", buildDisk(disks[1]));
    const std::string c = f.root.write("c.d88", buildDisk(disks[2]));
    const std::string d = f.root.write("d.d88", buildDisk(disks[3]));
    const std::string text = f.root.write("notes.txt", std::vector<uint8_t>(4000, 'x'));
    const std::string fifo = f.root.file("pipe.d88");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    DiskSetImage both(4);
    both.setEntry(LAYOUT_A.firstEntryOffset + 32, "A.BIN", 10, 1, 1, 0);
    both.setEntry(LAYOUT_B.firstEntryOffset + 80, "B.BIN", 11, 1, 1, 0);
    both.putFile(0, 10, 1, patternBytes(1, 1));
    both.putFile(0, 11, 1, patternBytes(1, 2));
    const std::string twoLayouts = f.root.write("both.d88", both.build());
    const std::string empty = f.root.write("empty.d88", DiskSetImage(4).build());
    const struct {
        std::vector<std::string> words;
        int status;
        std::string said;
    } rows[] = {
        {{a, f.root.file("missing.d88"), c, d}, 1, "cannot open '" + f.root.file("missing.d88")},
        {{a, f.root.path(), c, d}, 1, "cannot open '" + f.root.path() + "'"},
        {{fifo}, 1, "cannot read '" + fifo + "': it is a pipe"},
        {{a, "/dev/null"}, 1, "cannot read '/dev/null': it is a device"},
        {{a, text, c, d}, 1, "'" + text + "' is not a D88 image"},
        {{b, a, c}, 1, "3 disks in all"},
        {{a, b, a, d}, 1, "'" + a + "' and '" + a + "' both hold Disk A"},
        {{twoLayouts}, 2, "layout a (d88extract-a), 1 file; layout b (d88extract-b), 1 file"},
        {{empty}, 1, "no files in either layout"},
        {{"--layout", "c", a}, 2, "--layout needs a or b, got 'c'"},
        {{"--bogus", a}, 2, "unknown option '--bogus'"},
        {{"-d", text, a, b, c, d}, 1, "cannot make folder '" + text + "'"},
        {{"-n", "-d", text + "/sub", a, b, c, d}, 1, "cannot make folder '" + text + "/sub'"},
        {{}, 2, "no image given"},
    };
    for (const auto& row : rows) {
        const RunResult result = runCommand(f, row.words);
        EXPECT_EQ(result.status, row.status) << row.said;
        EXPECT_NE(result.err.find(row.said), std::string::npos) << result.err;
        EXPECT_EQ(listDirectory(f.work), std::vector<std::string>{}) << row.said;
    }
    // The programs' Japanese message, in the locale's character set.
    setenv("LC_ALL", "C.UTF-8", 1);
    const RunResult utf8 = runCommand(f, {a, b});
    unsetenv("LC_ALL");
    EXPECT_EQ(utf8.err.find("Disk A～Disk Dが連結したイメージを使用してください.\n"), 0u);
}

// --dry-run writes nothing and lists the plan; --json says what became of each file.
TEST(Command, DryRunAndJson) {
    Fixture f;
    f.root.write("image.d88", sampleImage(smallSampleSet(LAYOUT_A)));
    const RunResult plan = runCommand(f, {"-n", "--names", "utf-8", f.imagePath});
    EXPECT_EQ(plan.status, 0);
    EXPECT_EQ(plan.out.find(f.imagePath + ": 4 disks, directory in the layout of d88extract-a\n"),
              0u);
    EXPECT_NE(plan.out.find("7 files to write, 75776 bytes; 0 entries passed over\n"),
              std::string::npos);
    EXPECT_EQ(listDirectory(f.work), std::vector<std::string>{});
    for (const char* status : {"written", "replaced"}) {
        const RunResult run = runCommand(f, {"--json", "--names", "utf-8", f.imagePath});
        EXPECT_EQ(run.status, 0);
        const nlohmann::json document = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(document.is_discarded()) << run.out;
        ASSERT_EQ(document["entries"].size(), 7u);
        for (const nlohmann::json& entry : document["entries"]) {
            EXPECT_EQ(entry["result"]["status"], status);
            EXPECT_TRUE(fileExists(f.work + "/" + entry["saved_as"]["text"].get<std::string>()));
        }
    }
}

// With the set's disks as files in the folder written into, an entry named like any of them is
// the image being read and is left alone.
TEST(Command, EveryDiskFileIsTheImageItself) {
    Fixture f;
    DiskSetImage set(4);
    set.setEntry(LAYOUT_A.firstEntryOffset, "PART2.D88", 10, 1, 1, 0);
    set.setEntry(LAYOUT_A.firstEntryOffset + 16, "OTHER.BIN", 11, 1, 1, 0);
    set.putFile(0, 10, 1, patternBytes(1, 1));
    set.putFile(0, 11, 1, patternBytes(1, 2));
    const std::vector<uint8_t> joined = set.build();
    std::vector<std::string> words = {"-d", f.work};
    for (size_t at = 0, disk = 0; disk < 4; ++disk) {
        const size_t size = readU32(joined.data() + at + DISK_SIZE_OFFSET);
        words.push_back(
            f.root.write("work/PART" + std::to_string(disk) + ".D88",
                         std::vector<uint8_t>(joined.begin() + at, joined.begin() + at + size)));
        at += size;
    }
    // Planned against the folder written into: there the entry is the image; in a folder that
    // is still to be made nothing is, and a dry run makes none.
    std::vector<std::string> dry = words;
    dry.insert(dry.begin(), "-n");
    const std::string line = "PART2.D88     DISK:01 TRK:0a SEC:01 SIZE:400  ";
    EXPECT_NE(runCommand(f, dry).out.find(line + "unsafe\n"), std::string::npos);
    dry[2] = f.root.file("new/folder");
    EXPECT_NE(runCommand(f, dry).out.find(line + "extract\n"), std::string::npos);
    EXPECT_FALSE(fileExists(f.root.file("new")));
    const std::vector<uint8_t> before = readFileBytes(words[4]);
    const RunResult result = runCommand(f, words);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "cannot create file 'PART2.D88': it is the image being read\n");
    EXPECT_TRUE(readFileBytes(words[4]) == before);
    EXPECT_TRUE(readFileBytes(f.work + "/OTHER.BIN") == patternBytes(1, 2));
}
