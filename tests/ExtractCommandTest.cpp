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

struct OrderRow {
    std::vector<PartContents> parts;
    std::vector<int> order;
    bool changed;
    PartProblem problem;
    int first;
    int second;
};

PartContents holding(std::vector<int> ids) {
    return PartContents{ids, !ids.empty()};
}

} // namespace

TEST(PartOrder, DiskAFirstAndWhatKeepsFilesFromMakingASet) {
    const PartContents notImage{{}, false};
    const OrderRow rows[] = {
        {{holding({1, 2, 3, 4})}, {0}, false, PartProblem::None, -1, -1},
        {{holding({2}), holding({4}), holding({1}), holding({3})},
         {2, 0, 1, 3},
         true,
         PartProblem::None,
         -1,
         -1},
        // Disk A first already, or in no file, or two disks of one file: as given.
        {{holding({1}), holding({3}), holding({2}), holding({4})},
         {0, 1, 2, 3},
         false,
         PartProblem::None,
         -1,
         -1},
        {{holding({2, 3}), holding({NO_SET_ID, 5})}, {0, 1}, false, PartProblem::None, -1, -1},
        {{holding({2, 1}), holding({3, 4})}, {0, 1}, false, PartProblem::None, -1, -1},
        {{holding({3, 4}), holding({2, 1})}, {1, 0}, true, PartProblem::None, -1, -1},
        // A file that goes on with the disk of the one before holds no disk of its own.
        {{holding({2}), PartContents{{}, true}, holding({1, 3, 4})},
         {2, 0, 1},
         true,
         PartProblem::None,
         -1,
         -1},
        {{holding({1, 2}), holding({3}), holding({1})},
         {0, 1, 2},
         false,
         PartProblem::TwoDiskA,
         0,
         2},
        {{holding({1, 2}), notImage, holding({3, 4})},
         {0, 1, 2},
         false,
         PartProblem::NotImage,
         1,
         -1},
        {{holding({2}), holding({1}), holding({3})},
         {0, 1, 2},
         false,
         PartProblem::TooFewDisks,
         -1,
         -1},
        // One file: too few disks with nothing of an image in it is no image at all.
        {{holding({1, 2, 3})}, {0}, false, PartProblem::TooFewDisks, -1, -1},
        {{notImage}, {0}, false, PartProblem::NotImage, 0, -1},
        {{PartContents{{1, 2, 3, 4}, false}}, {0}, false, PartProblem::None, -1, -1},
    };
    int row = 0;
    for (const OrderRow& expected : rows) {
        const PartOrder got = decidePartOrder(expected.parts);
        EXPECT_EQ(got.order, expected.order) << "row " << row;
        EXPECT_EQ(got.changed, expected.changed) << "row " << row;
        EXPECT_EQ(got.problem, expected.problem) << "row " << row;
        EXPECT_EQ(got.problemParts[0], expected.first) << "row " << row;
        EXPECT_EQ(got.problemParts[1], expected.second) << "row " << row;
        ++row;
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

// The sample set as four disk files, in any order, gives the files of the joined set; names
// follow the locale's character set unless --names says otherwise.
TEST(Command, DiskFilesInAnyOrderGiveTheFilesOfTheJoinedSet) {
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    Fixture joined;
    joined.root.write("image.d88", buildImage(disks));
    ASSERT_EQ(runCommand(joined, {"--names", "utf-8", joined.imagePath}).status, 0);
    const auto files = filesIn(joined.work);
    EXPECT_EQ(files.count("\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf.DAT"), 1u) << "データ.DAT";
    EXPECT_EQ(files.count("\xe8\xa1\xa8\xe7\xa4\xba.TXT"), 1u) << "表示.TXT";
    const std::vector<std::vector<int>> orders = {{0, 1, 2, 3}, {2, 0, 3, 1}, {3, 2, 1, 0}};
    for (const std::vector<int>& order : orders) {
        Fixture separate;
        std::vector<std::string> words;
        for (int disk : order) {
            words.push_back(separate.root.write("disk" + std::to_string(disk) + ".d88",
                                                buildDisk(disks[static_cast<size_t>(disk)])));
        }
        setenv("LC_ALL", "C.UTF-8", 1);
        const RunResult result = runCommand(separate, words);
        unsetenv("LC_ALL");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err.find("Disk A is in") != std::string::npos, order[0] != 0);
        EXPECT_EQ(filesIn(separate.work), files);
    }
    Fixture bytes;
    bytes.root.write("image.d88", buildImage(disks));
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(runCommand(bytes, {bytes.imagePath}).status, 0);
    unsetenv("LC_ALL");
    EXPECT_EQ(filesIn(bytes.work).count("\x83\x66\x81\x5B\x83\x5E.DAT"), 1u);
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
    const std::vector<uint8_t> before = readFileBytes(words[4]);
    const RunResult result = runCommand(f, words);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "cannot create file 'PART2.D88': it is the image being read\n");
    EXPECT_TRUE(readFileBytes(words[4]) == before);
    EXPECT_TRUE(readFileBytes(f.work + "/OTHER.BIN") == patternBytes(1, 2));
}

// The sample set's disk files, Disk A last, into a new folder of a Unicode name: the set's
// files with their Japanese names (on Windows too, under any code page).
TEST(CommandUnicode, DiskFilesIntoANewFolder) {
    Fixture f;
    std::vector<DiskPlan> disks;
    const SampleSet set = smallSampleSet(LAYOUT_A);
    ASSERT_TRUE(buildSampleDisks(set, disks));
    std::vector<std::string> words = {"--names", "utf-8", "-d", f.work + "/出力/フォルダ"};
    for (int disk = 3; disk >= 0; --disk) {
        words.push_back(f.root.write("ディスク" + std::to_string(disk) + ".d88",
                                     buildDisk(disks[static_cast<size_t>(disk)])));
    }
    const RunResult result = runCommand(f, words);
    EXPECT_EQ(result.status, 0) << result.err;
    std::map<std::string, std::vector<uint8_t>> files;
    for (const SampleFile& file : set.files) {
        files[file.name] = file.bytes;
    }
    files["データ.DAT"] = files["\x83\x66\x81\x5B\x83\x5E.DAT"];
    files["表示.TXT"] = files["\x95\x5C\x8E\xA6.TXT"];
    files.erase("\x83\x66\x81\x5B\x83\x5E.DAT");
    files.erase("\x95\x5C\x8E\xA6.TXT");
    EXPECT_EQ(filesIn(f.work + "/出力/フォルダ"), files);
}
