// d88extract: the order in which it joins the files it is given, and its runs against
// d88extract-a and d88extract-b on the same images.
#include "support/DamagedImages.h"
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"
#include "support/ZipBytes.h"

#include "D88Format.h"
#include "DigestCrc.h"
#include "MemberOrder.h"
#include "NamePattern.h"
#include "SampleDiskSet.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
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

} // namespace

// Where d88extract, which knows disks by their ID byte, does otherwise than the set's programs
// on a damaged image: the status it ends with, and the files it writes beyond theirs (from the
// disks that a short image still holds, where the programs stop below four disks).
struct IdentityRow {
    int status;
    std::vector<std::string> moreFiles;
};
const std::map<std::string, IdentityRow> READS_BY_IDENTITY = {
    {"cut in the third disk's track table", {1, {"A.BIN", "B.BIN"}}},
    {"disk size past the end of the file", {1, {"A.BIN", "B.BIN"}}},
    {"disk size past 2^31 - 1", {1, {"A.BIN", "B.BIN"}}},
    {"two disks and garbage", {1, {"A.BIN", "B.BIN"}}},
    {"cut in a sector header", {1, {}}},  // disk 3 is cut: said
    {"disk size 0", {1, {}}},             // no disk with an ID sector
    {"every ID byte 0", {1, {}}},         // no disk of the set
    {"ID track missing", {1, {"B.BIN"}}}, // Disk B by its place after Disk A: said
    {"ID sector empty", {1, {"B.BIN"}}},  // the same
    {"seventy disks: only sixty-four are searched", {1, {}}}, // disk 65 is in none
    {"directory track missing", {1, {}}}, // a layout given that yields no files: said
    // A file none of whose sectors can be read is said (the programs pass it over in silence).
    {"track offset past the disk", {1, {}}},
    {"track offset equal to the disk size", {1, {}}},
    {"track offset inside the header", {1, {}}},
    {"track offset 0xFFFFFFFF", {1, {}}},
    {"sectors-in-track 0", {1, {}}},
    {"sectors-in-track too small", {1, {}}},
    {"sectors-in-track too large", {1, {}}},
    {"data length 0 on the first sector", {1, {}}},
    {"size code 2 instead of 3", {1, {}}},
    {"sector ID of another cylinder", {1, {}}},
    {"third directory sector missing", {1, {}}}, // and so is a directory sector unread
    // A disk whose ID sector cannot be read is said, and taken by its place after Disk A.
    {"ID sector of one byte", {1, {}}},
};

// For every image, d88extract in one layout with the names as stored writes exactly the files,
// report lines and exit status of that layout's program, but where it reads the disks by
// identity (the table above).
TEST_P(LayoutTest, CommandWritesWhatTheLayoutsProgramWrites) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> images = {
        {"small sample", sampleImage(smallSampleSet(layout()))},
        {"full sample", sampleImage(fullSampleSet(layout(), 4))}};
    for (DamagedCase& c : damagedCases(layout())) {
        images.emplace_back(c.name, std::move(c.image));
    }
    for (const auto& [name, image] : images) {
        SCOPED_TRACE(name);
        Fixture program;
        Fixture command;
        const RunResult expected = program.extract(layout(), image);
        command.root.write("image.d88", image);
        const std::string folder = command.work + "/in/a/new/folder";
        const RunResult got = runCommand(command, {"--layout", layout().letter, "--names",
                                                   "shift_jis", "-d", folder, command.imagePath});
        auto files = filesIn(folder);
        const auto differs = READS_BY_IDENTITY.find(name);
        if (differs == READS_BY_IDENTITY.end()) {
            EXPECT_EQ(got.status, expected.status) << got.err;
            EXPECT_EQ(got.out, expected.out);
        } else {
            EXPECT_EQ(got.status, differs->second.status) << got.err;
            for (const std::string& more : differs->second.moreFiles) {
                EXPECT_EQ(files.erase(more), 1u) << more;
            }
        }
        EXPECT_EQ(files, filesIn(program.work));
    }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, LayoutTest, ::testing::Values(&LAYOUT_A, &LAYOUT_B),
                         LayoutName());

// The sample set as four disk files, in any order (once into a new folder of a Unicode name),
// gives the files of the joined set, read as given; names follow the locale's character set
// unless --names says otherwise, and on Windows are always Unicode.
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
        // Windows shows a path in the system's code page when that holds it.
        const std::string summary = "d88extract: 7 files, 75,776 bytes, written to '";
        if (usesLauncher() && order[0] == 3) {
            EXPECT_EQ(result.err.rfind(summary, 0), 0u) << result.err;
        } else {
            EXPECT_EQ(result.err, consoleText(summary + folder + "'\n"));
        }
        EXPECT_EQ(filesIn(folder), files);
    }
    if (!usesLauncher()) {
        Fixture bytes;
        bytes.root.write("image.d88", buildImage(disks));
        setenv("LC_ALL", "C", 1); // a pattern of the locale's bytes chooses by the stored bytes
        EXPECT_EQ(runCommand(bytes, {"-i", "\x83\x66*", bytes.imagePath}).status, 0);
        unsetenv("LC_ALL");
        EXPECT_EQ(listDirectory(bytes.work),
                  std::vector<std::string>{"\x83\x66\x81\x5B\x83\x5E.DAT"});
    }
}

// A zip of the disk files, or of the joined image, alone or after disk files, gives the files
// that the disks give as files: the members that hold disks are joined in the page's order (by
// the name after the folders, digits by value, case aside) and named "ZIP/MEMBER"; the others
// are left out and named; nothing is unpacked into a folder of the user's or left in $TMPDIR.
// The Windows build refuses a zip.
TEST(Command, DiskFilesInAZipGiveTheFilesOfTheDisks) {
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(fullSampleSet(LAYOUT_A, 4), disks));
    const auto disk = [&](const std::string& name, int index, bool deflated) {
        return ZipMember{name, buildDisk(disks[static_cast<size_t>(index)]), deflated};
    };
    Fixture plain;
    std::vector<std::string> words;
    for (int index = 0; index < 4; ++index) {
        words.push_back(plain.root.write("disk" + std::to_string(index) + ".d88",
                                         buildDisk(disks[static_cast<size_t>(index)])));
    }
    ASSERT_EQ(runCommand(plain, words).status, 0);
    const auto expected = filesIn(plain.work);
    ASSERT_EQ(expected.size(), 164u);
    const std::vector<uint8_t> text(300, 'x');
    // The joined image cut into pieces of 1,000,000 bytes: a piece goes on with a disk that an
    // earlier one starts.
    const std::vector<uint8_t> whole = buildImage(disks);
    std::vector<ZipMember> pieces;
    for (size_t at = 0, n = 1; at < whole.size(); at += 1000000, ++n) {
        const size_t end = std::min(whole.size(), at + 1000000);
        pieces.push_back({"set.d88." + std::to_string(n),
                          std::vector<uint8_t>(whole.begin() + static_cast<long>(at),
                                               whole.begin() + static_cast<long>(end)),
                          true});
    }
    const struct {
        std::vector<std::string> before; // files given before the zip
        std::string zip;
        std::vector<ZipMember> members;
        std::vector<std::string> images; // the members read, in order
        std::string said;                // "ZIP" stands for the zip's path, "LINK" for a link to it
        bool again = false; // the zip given again, through LINK and by its path: read once
    } rows[] = {
        {{},
         "set.zip",
         {disk("set 100.d88", 3, true),
          {"disks/", {}},
          disk("disks/set 10.d88", 1, false),
          {"readme.txt", text},
          disk("set 9.d88", 0, true),
          {"label.png", patternBytes(2, 7), false},
          {"inner.zip", zipBytes({{"readme.txt", text}}), false},
          disk("Set 11.d88", 2, true)},
         {"set 9.d88", "disks/set 10.d88", "Set 11.d88", "set 100.d88"},
         "d88extract: left out of 'ZIP', as they hold no D88 disk: label.png, readme.txt\n"
         "d88extract: left out of 'ZIP', as a zip inside a zip is not unpacked: inner.zip\n"},
        {{}, "joined.zip", {{"full.d88", buildImage(disks), true}}, {"full.d88"}, ""},
        {{},
         "again.zip",
         {{"full.d88", buildImage(disks), true}},
         {"full.d88"},
         "d88extract: 'LINK' is given again: read once\n"
         "d88extract: 'ZIP' is given again: read once\n",
         true},
        {{}, "split.zip", pieces, {"set.d88.1", "set.d88.2", "set.d88.3", "set.d88.4"}, ""},
        {{words[0]},
         "rest.zip",
         {disk("d.d88", 3, true), disk("b.d88", 1, true), disk("c.d88", 2, false)},
         {"b.d88", "c.d88", "d.d88"},
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.zip);
        Fixture f;
        TempDir temporary;
        const std::string zip = f.root.write(row.zip, zipBytes(row.members));
        std::vector<std::string> given = row.before;
        given.push_back(zip);
        const std::string link = f.root.file("link.zip");
        if (row.again) {
            ASSERT_EQ(symlink(zip.c_str(), link.c_str()), 0);
            given.insert(given.end(), {link, zip});
        }
        setenv("TMPDIR", temporary.path().c_str(), 1);
        const RunResult result = runCommand(f, given);
        std::vector<std::string> images = given;
        given.insert(given.begin(), {"-n", "--json"});
        const RunResult planned = runCommand(f, given);
        unsetenv("TMPDIR");
        if (usesLauncher()) {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.err,
                      consoleText("d88extract: '" + zip +
                                  "' is a zip, which this Windows build does not unpack: extract "
                                  "it first (Explorer's Extract All) and give d88extract the disk "
                                  "files it holds\n"));
            EXPECT_EQ(listDirectory(f.work), std::vector<std::string>{});
            continue;
        }
        std::string said = row.said;
        for (size_t at; (at = said.find("ZIP")) != std::string::npos;) {
            said.replace(at, 3, zip);
        }
        for (size_t at; (at = said.find("LINK")) != std::string::npos;) {
            said.replace(at, 4, link);
        }
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err,
                  said + "d88extract: 164 files, 3,022,848 bytes, written to the current folder\n");
        EXPECT_EQ(filesIn(f.work), expected);
        EXPECT_EQ(listDirectory(temporary.path()), std::vector<std::string>{});
        EXPECT_EQ(listDirectory(f.root.path()),
                  row.again ? (std::vector<std::string>{row.zip, "link.zip", "work"})
                            : (std::vector<std::string>{row.zip, "work"}));
        images.resize(row.before.size());
        for (const std::string& member : row.images) {
            images.push_back(zip + "/" + member);
        }
        EXPECT_EQ(nlohmann::json::parse(planned.out)["images"], nlohmann::json(images));
    }
    // "PK\3\4" in a disk's bytes: Disk A named so, given as a file, is a disk; its image split
    // where a sector starts so, in a zip, is joined (the second piece goes on with Disk B); the
    // files are those of the image given whole.
    std::vector<DiskPlan> marked = disks;
    marked[0].name = std::string("PK\3\4", 4) + "SET";
    std::vector<uint8_t>& sector = marked[1].tracks[20].sectors[2].data;
    const uint8_t mark[] = {'P', 'K', 3, 4, 'M', 'A', 'R', 'K'};
    std::copy(std::begin(mark), std::end(mark), sector.begin());
    const std::vector<uint8_t> image = buildImage(marked);
    const auto cut = std::search(image.begin(), image.end(), std::begin(mark), std::end(mark));
    ASSERT_NE(cut, image.end());
    Fixture asFile;
    const std::string markedPath = asFile.root.write("marked.d88", image);
    EXPECT_EQ(runCommand(asFile, {markedPath}).status, 0);
    ASSERT_EQ(filesIn(asFile.work).size(), 164u);
    Fixture split;
    const std::string splitZip = split.root.write(
        "split.zip",
        zipBytes({{"set.d88.1", {image.begin(), cut}}, {"set.d88.2", {cut, image.end()}}}));
    const RunResult joined = runCommand(split, {splitZip});
    if (!usesLauncher()) {
        EXPECT_EQ(joined.status, 0) << joined.err;
        EXPECT_EQ(filesIn(split.work), filesIn(asFile.work));
    }
}

// A library that cannot be loaded is said in one line naming it, with status 1: the zip
// library (d88extract refuses the zip), the digest library (the JSON's hashes are left out,
// never a silent null, nor zeros in their place).
TEST(Command, AMissingLibraryIsSaidInOneLine) {
    if (usesLauncher()) {
        return; // the Windows build reads no zip, and hashes through the system's CNG
    }
    Fixture f;
    TempDir libraries;
    libraries.write(D88_ARCHIVE_SONAME, std::vector<uint8_t>(100, 'x'));
    libraries.write(D88_NETTLE_SONAME, std::vector<uint8_t>(100, 'x'));
    const std::string zip = f.root.write("set.zip", zipBytes({{"a.d88", {1, 2, 3}}}));
    f.root.write("image.d88", sampleImage(smallSampleSet(LAYOUT_A)));
    const std::string digest = D88_NETTLE_SONAME ", which computes SHA-1 and SHA-256, cannot be "
                                                 "loaded: " +
                               libraries.file(D88_NETTLE_SONAME) + ": ";
    const struct {
        std::string program;
        std::vector<std::string> words;
        std::string said;
    } rows[] = {
        {D88EXTRACT_PATH,
         {zip},
         "d88extract: '" + zip +
             "' cannot be read as a zip: " D88_ARCHIVE_SONAME
             ", which reads zips, cannot be loaded: " +
             libraries.file(D88_ARCHIVE_SONAME) + ": "},
        {D88EXTRACT_PATH,
         {"-n", "--json", f.imagePath},
         "d88extract: SHA-1 and SHA-256 are left out: " + digest},
        {D88INFO_PATH,
         {"--json", f.imagePath},
         "d88info: SHA-1 and SHA-256 are left out: " + digest},
        {D88UPDATE_PATH,
         {"--json", "-o", "new.d88", "--from", ".", f.imagePath},
         "d88update: SHA-1 and SHA-256 are left out: " + digest},
    };
    setenv("LD_LIBRARY_PATH", libraries.path().c_str(), 1);
    for (const auto& row : rows) {
        std::vector<std::string> words = {row.program};
        words.insert(words.end(), row.words.begin(), row.words.end());
        RunOptions options;
        options.cwd = f.work;
        const RunResult result = runProgram(row.program, words, options);
        EXPECT_EQ(result.status, 1) << row.said;
        EXPECT_EQ(result.err.rfind(row.said, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.out.find("\"00000000\""), std::string::npos) << "no zeros as hashes";
    }
    unsetenv("LD_LIBRARY_PATH");
}

// Member names as the page orders them (the browser's localeCompare with 'en' and numeric),
// from a shuffled zip.
TEST(Command, ZipMembersAreJoinedInThePagesOrder) {
    std::vector<std::string> ordered;
    std::istringstream page("_x|-x|~a|1a|a|a b|a.d88|A.d88|a~b|ab|dir/b.d88|Disk 2.d88|disk9|"
                            "disk10|x y|x_y|x-y|x.y|x1|x02|X3|Z|zz|ディスク2.d88|ディスク10.d88");
    for (std::string name; std::getline(page, name, '|');) {
        ordered.push_back(name);
    }
    std::vector<std::string> names(ordered.rbegin(), ordered.rend());
    std::rotate(names.begin(), names.begin() + 7, names.end());
    std::stable_sort(names.begin(), names.end(), memberComesBefore);
    EXPECT_EQ(names, ordered);
}

// The files are read as given, joined in the order given: a disk may go on from one file into
// the next wherever the cuts fall, and whole disk files may come in any order. Every such run
// writes the set's seven files; one that misses a disk says which and what needs it.
TEST(Command, FilesAreReadAsGivenWhereverTheyAreCut) {
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    const std::vector<uint8_t> image = buildImage(disks);
    const size_t disk = image.size() / 4; // each disk of the sample is as long
    const auto bytes = [&](size_t from, size_t to) {
        return std::vector<uint8_t>(image.begin() + static_cast<long>(from),
                                    image.begin() + static_cast<long>(to));
    };
    Fixture whole;
    whole.root.write("image.d88", image);
    ASSERT_EQ(runCommand(whole, {"--names", "utf-8", whole.imagePath}).status, 0);
    const auto all = filesIn(whole.work);
    const std::string ALL_WRITTEN =
        "d88extract: 7 files, 75,776 bytes, written to the current folder\n";
    // A sector of Disk D that no file uses starts with a zip's first bytes.
    std::vector<DiskPlan> marked = disks;
    const uint8_t zipMark[] = {'P', 'K', 3, 4, 'M', 'A', 'R', 'K'};
    std::copy(std::begin(zipMark), std::end(zipMark), marked[3].tracks[60].sectors[0].data.begin());
    const std::vector<uint8_t> markedImage = buildImage(marked);
    const auto zipCut = std::search(markedImage.begin() + static_cast<long>(3 * disk),
                                    markedImage.end(), std::begin(zipMark), std::end(zipMark));
    ASSERT_NE(zipCut, markedImage.end());
    struct Row {
        std::string name;
        std::vector<std::vector<uint8_t>> files;
        int status;
        std::string err;
        std::vector<std::string> missing; // of the seven files
    };
    std::vector<Row> rows = {
        // Disk B, then Disk A cut inside, then the rest of Disk A with Disks C and D.
        {"B-A-C-D with Disk A across two files",
         {bytes(disk, 2 * disk), bytes(0, 500000),
          [&] {
              std::vector<uint8_t> rest = bytes(500000, disk);
              const std::vector<uint8_t> cd = bytes(2 * disk, 4 * disk);
              rest.insert(rest.end(), cd.begin(), cd.end());
              return rest;
          }()},
         0,
         ALL_WRITTEN,
         {}},
        {"Disk B twice, Disk C missing",
         {bytes(disk, 2 * disk), bytes(0, disk), bytes(3 * disk, 4 * disk), bytes(disk, 2 * disk)},
         1,
         "d88extract: Disk B (ID byte 02) is given 2 times, with the same sectors: read from "
         "'F0'\n"
         "d88extract: Disk C (ID byte 03) is in none of the files: 2 entries need it: "
         "'データ.DAT', '表示.TXT'\n"
         "d88extract: 5 files, 73,728 bytes, written to the current folder; 2 not written\n",
         {"データ.DAT", "表示.TXT"}},
        {"Disk C cut short, then the other disks whole",
         {bytes(2 * disk, 2 * disk + 500000), bytes(0, disk), bytes(disk, 2 * disk),
          bytes(3 * disk, 4 * disk)},
         1,
         "d88extract: disk 0, which starts in 'F0', is cut short where 'F1' starts: a file is "
         "missing or damaged\n" +
             ALL_WRITTEN,
         {}},
        // Disk D cut short by the second file and by the end of the files: the same bytes.
        {"the same truncated set given twice",
         {bytes(0, 3 * disk + 500000), bytes(0, 3 * disk + 500000)},
         1,
         "d88extract: Disk A (ID byte 01) is given 2 times, with the same sectors: read from 'F0' "
         "(disk 0)\n"
         "d88extract: Disk B (ID byte 02) is given 2 times, with the same sectors: read from 'F0' "
         "(disk 1)\n"
         "d88extract: Disk C (ID byte 03) is given 2 times, with the same sectors: read from 'F0' "
         "(disk 2)\n"
         "d88extract: Disk D (ID byte 04) is given 2 times, with the same sectors: read from 'F0' "
         "(disk 3)\n"
         "d88extract: disk 3, which starts in 'F0', is cut short where 'F1' starts: a file is "
         "missing or damaged\n"
         "d88extract: disk 7, which starts in 'F1', reaches past the end of the files: a file "
         "is missing or damaged\n" +
             ALL_WRITTEN,
         {}},
        // The second piece starts as a zip does, inside Disk D: it is a piece of the disk.
        {"a piece that starts with a zip's first bytes",
         {{markedImage.begin(), zipCut}, {zipCut, markedImage.end()}},
         0,
         ALL_WRITTEN,
         {}},
        // Its ID sector is cut off with it: it is taken as Disk D, the one disk missing.
        {"Disk D cut short",
         {bytes(0, 3 * disk), bytes(3 * disk, 3 * disk + 4000)},
         1,
         "d88extract: disk 3 in 'F1' has no readable ID sector (the disk is cut short at track "
         "0): taken as Disk D, the one disk of the set missing from the others\n"
         "d88extract: disk 3, which starts in 'F1', reaches past the end of the files: a file "
         "is missing or damaged\n"
         "file 'LARGE.BIN' not written: its first sector (Disk D, track 40, sector 1) is "
         "missing\n"
         "d88extract: 6 files, 14,336 bytes, written to the current folder; 1 not written\n",
         {"LARGE.BIN"}},
    };
    // Cuts anywhere, files in the order of the image; whole disks in any order.
    std::srand(25);
    for (int round = 0; round < 6; ++round) {
        Row row{"cut at random " + std::to_string(round), {}, 0, ALL_WRITTEN, {}};
        size_t at = 0;
        while (at < image.size()) {
            const size_t next = std::min(image.size(), at + 1 + std::rand() % (2 * disk));
            row.files.push_back(bytes(at, next));
            at = next;
        }
        rows.push_back(row);
        std::vector<size_t> order = {0, 1, 2, 3};
        std::swap(order[std::rand() % 4], order[std::rand() % 4]);
        std::swap(order[std::rand() % 4], order[std::rand() % 4]);
        Row shuffled{"disks shuffled " + std::to_string(round), {}, 0, ALL_WRITTEN, {}};
        for (size_t d : order) {
            shuffled.files.push_back(bytes(d * disk, (d + 1) * disk));
        }
        rows.push_back(shuffled);
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        std::vector<std::string> words = {"--names", "utf-8"};
        for (size_t i = 0; i < row.files.size(); ++i) {
            words.push_back(f.root.write("F" + std::to_string(i), row.files[i]));
        }
        std::string err = row.err;
        for (size_t i = 0; i < row.files.size(); ++i) { // the messages name the files by path
            const std::string name = "'F" + std::to_string(i) + "'";
            for (size_t at = err.find(name); at != std::string::npos; at = err.find(name, at + 1)) {
                err.replace(at, name.size(),
                            "'" + f.root.file(name.substr(1, name.size() - 2)) + "'");
            }
        }
        setenv("LC_ALL", "C.UTF-8", 1);
        const RunResult result = runCommand(f, words);
        unsetenv("LC_ALL");
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.err, err);
        auto expected = all;
        for (const std::string& name : row.missing) {
            expected.erase(name);
        }
        EXPECT_EQ(filesIn(f.work), expected);
    }
}

// `number` as the programs write it, with a comma between every three digits.
std::string withCommas(int64_t number) {
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return digits;
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
    DiskPlan other = disks[1]; // a disk of another system: its ID sector holds the format's fill
    other.tracks[79].sectors[4].data.assign(1024, 0xE5);
    const std::string foreign = f.root.write("foreign.d88", buildDisk(other));
    const std::string fifo = f.root.file("pipe.d88");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    DiskSetImage both(4);
    both.setEntry(LAYOUT_A.firstEntryOffset + 32, "A.BIN", 10, 1, 1, 0);
    both.setEntry(LAYOUT_B.firstEntryOffset + 80, "B.BIN", 11, 1, 1, 0);
    both.putFile(0, 10, 1, patternBytes(1, 1));
    both.putFile(0, 11, 1, patternBytes(1, 2));
    const std::string twoLayouts = f.root.write("both.d88", both.build());
    const std::string empty = f.root.write("empty.d88", DiskSetImage(4).build());
    // Disk A cut in two around a file of no bytes, which is no image wherever it is given.
    const std::vector<uint8_t> diskA = buildDisk(disks[0]);
    const std::string a1 = f.root.write("a1.d88", {diskA.begin(), diskA.begin() + 5000});
    const std::string a2 = f.root.write("a2.d88", {diskA.begin() + 5000, diskA.end()});
    const std::string nothing = f.root.write("nothing.d88", {});
    // Zips refused, each before a byte is inflated but the one that inflates past its size.
    const std::vector<uint8_t> notes(300, 'x');
    const auto zip = [&](const std::string& name, const std::vector<ZipMember>& members) {
        return f.root.write(name, zipBytes(members));
    };
    DiskPlan tiny;
    tiny.tracks[0] = makeTrack(0);
    std::vector<ZipMember> tinyDisks(65, ZipMember{"", buildDisk(tiny), false});
    for (size_t i = 0; i < tinyDisks.size(); ++i) {
        tinyDisks[i].name = "disk" + std::to_string(i) + ".d88";
    }
    const std::string disks65 = zip("65.zip", tinyDisks);
    tinyDisks.pop_back();
    const std::string disks64 = zip("64.zip", tinyDisks);
    std::vector<ZipMember> many(100000, ZipMember{"", {1}, false});
    for (size_t i = 0; i < many.size(); ++i) {
        many[i].name = "f" + std::to_string(i);
    }
    const std::string manyZip = zip("many.zip", many);
    const std::string emptyZip = zip("empty.zip", {});
    const std::string notesZip =
        zip("notes.zip", {{"readme.txt", notes}, {"label.png", {0x89, 'P', 'N', 'G'}}});
    const std::string encrypted =
        zip("encrypted.zip", {{"a.d88", buildDisk(disks[0])}, {"b.d88", notes, true, -1, true}});
    const std::string huge = zip("huge.zip", {{"huge.d88", notes, true, 5000000000}});
    const std::string together = zip("together.zip", {{"1.d88", notes, true, 400000000},
                                                      {"2.d88", notes, true, 400000000},
                                                      {"3.d88", notes, true, 400000000}});
    const std::string bomb =
        zip("bomb.zip", {{"a.d88", std::vector<uint8_t>(1 << 20, 0), true, 1000}});
    // At the limits, not past them: refused only when unpacked, as they hold fewer bytes.
    const std::string atMemberLimit = zip("member.zip", {{"a.d88", notes, false, 512 << 20}});
    const std::string atZipLimit =
        zip("limit.zip", {{"a.d88", notes, false, 256 << 20}, {"b.d88", notes, false, 256 << 20}});
    const std::string shortZip = zip("short.zip", {{"a.d88", notes, false, 1000}});
    std::vector<uint8_t> junk = {'P', 'K', 3, 4};
    junk.resize(3000, 0x5A);
    const std::string junkZip = f.root.write("junk.zip", junk);
    // Where the page and d88extract once disagreed: each is refused as a whole, as the zip
    // policy decides for both, and so are bytes that are not those zipped.
    std::vector<ZipMember> flagged(500, ZipMember{"", notes, true, -1, true});
    for (size_t i = 0; i < flagged.size(); ++i) {
        flagged[i].name = "x" + std::to_string(i);
    }
    for (const char* name : {"a.d88", "b.d88", "c.d88", "d.d88"}) {
        flagged.push_back(ZipMember{name, buildDisk(disks[flagged.size() - 500])});
    }
    const std::string flaggedZip = zip("flagged.zip", flagged);
    const std::string declared = zip("declared.zip", {{"a.d88", diskA, true, 600 << 20}});
    const std::string stored = zip("stored.zip", {{"a.d88", notes, false, 632000000}});
    const auto sizes = [&](const std::string& name, int64_t central, int64_t local) {
        return zip(name, {{"a.d88", diskA, true, -1, false, central, local}});
    };
    const std::string centralOnly = sizes("central.zip", 600 << 20, -1);
    const std::string centralShort = sizes("short-central.zip", 1000, -1);
    const std::string centralLong = sizes("long-central.zip", 2000000, -1);
    const std::string localShort = sizes("short-local.zip", -1, 100);
    const uint32_t crcA = addToCrc32(0, diskA.data(), diskA.size());
    const std::string wrongCrc =
        zip("crc.zip", {{"b.d88", notes}, {"a.d88", diskA, true, -1, false, -1, -1, crcA ^ 1}});
    std::vector<uint8_t> flipped = diskA;
    flipped[50000] ^= 0x10;
    const std::string flippedStored =
        zip("flipped.zip", {{"a.d88", flipped, false, -1, false, -1, -1, crcA}});
    const std::string bzip2 =
        zip("bzip2.zip", {{"a.d88", diskA, false, -1, false, -1, -1, -1, 12}});
    // The zips of one run share one limit: the second declares what one zip may hold.
    const std::string first = zip("first.zip", {{"a.d88", diskA}});
    const std::string limit = zip("limit512.zip", {{"b.d88", notes, true, 512 << 20}});
    // Disk A claiming to go on over the next files: cut short where b.d88 starts a disk, it
    // holds nothing of a file after that.
    DiskPlan longA = disks[0];
    longA.diskSizeOverride = 2 * static_cast<int64_t>(diskA.size()) + 100000; // past notes.txt
    const std::string aLong = f.root.write("along.d88", buildDisk(longA));
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
        {{text}, 1, "'" + text + "' is not a D88 image"},
        {{foreign},
         1,
         "Disk A (ID byte 01) is in none of the files: the directory of the set's "
         "files is on it; the ID byte of disk 0 is e5"},
        {{a1, nothing, a2, b, c, d}, 1, "'" + nothing + "' is not a D88 image"},
        {{aLong, b, text, c, d}, 1, "'" + text + "' is not a D88 image"},
        {{twoLayouts}, 2, "layout a (d88extract-a), 1 file; layout b (d88extract-b), 1 file"},
        {{empty}, 1, "no files in either layout"},
        {{"--layout", "c", a}, 2, "--layout needs a or b, got 'c'"},
        {{"--bogus", a}, 2, "unknown option '--bogus'"},
        {{"-d", text, a, b, c, d}, 1, "cannot make folder '" + text + "'"},
        {{"-n", "-d", text + "/sub", a, b, c, d}, 1, "cannot make folder '" + text + "/sub'"},
        {{}, 2, "no image given"},
        {{emptyZip}, 1, "'" + emptyZip + "' holds no D88 disk image: it is empty\n"},
        {{notesZip},
         1,
         "'" + notesZip + "' holds no D88 disk image: it holds label.png, readme.txt"},
        {{encrypted}, 1, "'" + encrypted + "' is refused: its member 'b.d88' is encrypted"},
        {{huge},
         1,
         "its member 'huge.d88' declares 5,000,000,000 bytes, more than the 512 MiB that "
         "d88extract unpacks from one member"},
        {{together},
         1,
         "its members declare 1,200,000,000 bytes together, more than the 512 MiB that "
         "d88extract unpacks from the zips of one run"},
        {{first, limit},
         1,
         "'" + limit + "' is refused: its members declare 536,870,912 bytes together, " +
             withCommas((512 << 20) + static_cast<int64_t>(diskA.size())) +
             " with those of the zips before it, more than the 512 MiB that d88extract unpacks"},
        {{flaggedZip},
         1,
         "'" + flaggedZip + "' holds 504 files; d88extract reads at most 64 files as one image"},
        {{declared}, 1, "its member 'a.d88' declares 629,145,600 bytes, more than the 512 MiB"},
        {{stored}, 1, "its member 'a.d88' declares 632,000,000 bytes, more than the 512 MiB"},
        {{centralOnly}, 1, "its member 'a.d88' declares 629,145,600 bytes, more than the 512 MiB"},
        {{centralShort},
         1,
         "'" + centralShort +
             "' is refused: its member 'a.d88' cannot be unpacked: the zip's "
             "directory declares 1,000 bytes ("},
        {{centralLong}, 1, "cannot be unpacked: the zip's directory declares 2,000,000 bytes ("},
        {{localShort}, 1, " compressed), its local header 100 ("},
        {{wrongCrc},
         1,
         "'" + wrongCrc +
             "' is refused: its member 'a.d88' has a bad CRC: the bytes it unpacks "
             "to are not those that were zipped\n"},
        {{flippedStored}, 1, "its member 'a.d88' has a bad CRC"},
        {{bzip2},
         1,
         "its member 'a.d88' is compressed with method 12, which d88extract does not unpack"},
        {{bomb}, 1, "its member 'a.d88' inflates to more than the 1,000 bytes it declares"},
        {{atMemberLimit}, 1, "its member 'a.d88' cannot be unpacked: "},
        {{atZipLimit}, 1, "its member 'a.d88' cannot be unpacked: "},
        {{shortZip},
         1,
         "its member 'a.d88' cannot be unpacked: it is stored with two different sizes"},
        {{manyZip},
         1,
         "'" + manyZip + "' holds 100,000 files; d88extract reads at most 64 files as one image"},
        {{disks65}, 1, "'" + disks65 + "' holds 65 files; d88extract reads at most 64 files"},
        {{a, disks64}, 1, "holds 64 files, 65 in all with the other files given; d88extract"},
        {{disks64, a}, 1, "holds 64 files, 65 in all with the other files given; d88extract"},
        // A file that starts as a zip and has no zip directory is read as bytes.
        {{junkZip},
         1,
         "'" + junkZip + "' is not a D88 image, nor a zip whose directory can be read\n"},
    };
    for (const auto& row : rows) {
        const RunResult result = runCommand(f, row.words);
        EXPECT_EQ(result.status, row.status) << row.said;
        EXPECT_NE(result.err.find(row.said), std::string::npos) << row.said << "\n" << result.err;
        EXPECT_EQ(listDirectory(f.work), std::vector<std::string>{}) << row.said;
    }
    // Its own message alone, not the set's programs' Japanese one before it.
    setenv("LC_ALL", "C.UTF-8", 1);
    const RunResult utf8 = runCommand(f, {a, f.root.file("missing.d88")});
    unsetenv("LC_ALL");
    EXPECT_EQ(utf8.err.find("d88extract: cannot open '"), 0u) << utf8.err;
}

// Several dumps of one set, each with sectors stored with a read-error status or other bytes:
// read sector by sector from every copy, what came from where said on every face, and the
// dumps left as they were.
TEST(Command, SeveralDumpsAreMergedSectorBySector) {
    std::vector<DiskPlan> clean;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), clean));
    Fixture whole;
    whole.root.write("image.d88", buildImage(clean));
    ASSERT_EQ(runCommand(whole, {"--names", "utf-8", whole.imagePath}).status, 0);
    const auto all = filesIn(whole.work);
    const uint8_t CRC = 0xB0;
    const struct {
        std::string name;
        std::vector<std::vector<SectorDamage>> dumps;
        int status;
        std::string out;  // found in standard output
        std::string err;  // found in standard error
        std::string json; // the entry's "repaired", "contested" and "voted", for `entry`
        int entry;
    } rows[] = {
        // Whichever copy holds a sector in error, the copies that hold it without agree: taken
        // from them, and said.
        {"three dumps with other sectors in error",
         {{{0, 2, 1, CRC, 0x5A}, {0, 2, 2, CRC, 0x5A}, {0, 1, 1, CRC, 0x5A}, {3, 40, 1, CRC, 0x5A}},
          {{0, 4, 4, CRC, 0x5A}, {0, 1, 2, CRC, 0x5A}},
          {{0, 2, 2, CRC, 0x5A}, {1, 16, 2, CRC, 0x5A}}},
         0,
         "README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800\n"
         "  sectors from copies: repaired 0-1 from 'F1' (disk 4)\n"
         "HEADJUMP.BIN  DISK:01 TRK:04 SEC:04 SIZE:1000\n"
         "  sectors from copies: repaired 0 from 'F0' (disk 0)\n",
         "d88extract: the directory's sectors from copies: repaired 0 from 'F1' (disk 4), 1 from "
         "'F0' (disk 0)\n"
         "d88extract: 7 files, 75,776 bytes, written to the current folder; 4 repaired from "
         "copies\n",
         "[[0,1],[],[]]",
         0},
        {"two error-free dumps that differ: a tie, the first given's bytes",
         {{}, {{0, 7, 5, 0, 0x5A}}},
         1,
         "CYLJUMP.BIN   DISK:01 TRK:07 SEC:05 SIZE:c00\n"
         "  sectors from copies: contested 0 from 'F0' (disk 0) (1 of 2, a tie)\n",
         "contested sector 0 of file 'CYLJUMP.BIN': its copies read without error hold other "
         "bytes; taken from 'F0' (disk 0) (1 of 2, a tie)\n"
         "d88extract: 7 files, 75,776 bytes, written to the current folder; 1 contested\n",
         "[[],[0],[]]",
         2},
        {"three dumps in error at one sector, two agreeing",
         {{{0, 2, 1, CRC, 0x5A}}, {{0, 2, 1, CRC, 0}}, {{0, 2, 1, CRC, 0}}},
         1,
         "README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800\n"
         "  sectors from copies: voted 0 (2 of 3)\n",
         "read errors in file 'README.TXT': 1 of 2 sectors stored with an error status in every "
         "copy, with the same status in each\n",
         "[[],[],[0]]",
         0},
        {"two dumps in error at one sector that differ: a tie, the first copy's bytes, said",
         {{{0, 2, 1, CRC, 0}}, {{0, 2, 1, CRC, 0x5A}}},
         1,
         "README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800\n"
         "  sectors from copies: voted 0 (1 of 2, a tie)\n",
         "read errors in file 'README.TXT': 1 of 2 sectors stored with an error status in every "
         "copy, with the same status in each\n",
         "[[],[],[0]]",
         0},
        {"three dumps in error at one sector, all differing: a tie goes to the first copy",
         {{{0, 2, 1, CRC, 0}}, {{0, 2, 1, CRC, 1}}, {{0, 2, 1, CRC, 2}}},
         1,
         "README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800\n"
         "  sectors from copies: voted 0 (1 of 3, a tie)\n",
         "with the same status in each\n",
         "[[],[],[0]]",
         0},
        // The third dump differs from the first in a sector of no file only, so that it is read.
        {"four dumps, three in error at one sector and one without it",
         {{{0, 2, 1, CRC, 0}},
          {{0, 2, 1, CRC, 0x5A}},
          {{0, 2, 1, CRC, 0}, {0, 5, 3, 0, 1}},
          {{0, 2, 1, 0, 0, true}}},
         1,
         "README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800\n"
         "  sectors from copies: voted 0 (2 of 3)\n",
         "read errors in file 'README.TXT': 1 of 2 sectors stored with an error status in every "
         "copy\n",
         "[[],[],[0]]",
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        std::vector<std::string> words = {"--names", "utf-8"};
        std::vector<std::vector<uint8_t>> dumps;
        std::vector<std::string> paths;
        std::vector<struct stat> times;
        for (size_t i = 0; i < row.dumps.size(); ++i) {
            dumps.push_back(damagedDump(clean, row.dumps[i]));
            paths.push_back(f.root.write("F" + std::to_string(i), dumps.back()));
            words.push_back(paths.back());
            times.emplace_back();
            ASSERT_EQ(stat(paths.back().c_str(), &times.back()), 0);
        }
        const auto named = [&](std::string text) {
            for (size_t i = 0; i < row.dumps.size(); ++i) {
                const std::string name = "'F" + std::to_string(i) + "'";
                for (size_t at = text.find(name); at != std::string::npos;
                     at = text.find(name, at + 1)) {
                    text.replace(at, name.size(), "'" + paths[i] + "'");
                }
            }
            return text;
        };
        setenv("LC_ALL", "C.UTF-8", 1);
        const RunResult result = runCommand(f, words);
        words.insert(words.begin(), {"-n", "--json"});
        const RunResult json = runCommand(f, words);
        unsetenv("LC_ALL");
        EXPECT_EQ(result.status, row.status) << result.err;
        EXPECT_NE(result.out.find(named(row.out)), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(named(row.err)), std::string::npos) << result.err;
        EXPECT_EQ(filesIn(f.work), all);
        const nlohmann::json plan = nlohmann::json::parse(json.out, nullptr, false);
        ASSERT_FALSE(plan.is_discarded()) << json.out;
        const nlohmann::json& entry = plan["entries"][static_cast<size_t>(row.entry)];
        EXPECT_EQ(nlohmann::json::array({entry["repaired"], entry["contested"], entry["voted"]}),
                  nlohmann::json::parse(row.json));
        for (size_t i = 0; i < dumps.size(); ++i) { // the dumps are as they were
            struct stat now {};
            ASSERT_EQ(stat(paths[i].c_str(), &now), 0);
            EXPECT_EQ(readFileBytes(paths[i]), dumps[i]);
            EXPECT_EQ(now.st_mtim.tv_sec, times[i].st_mtim.tv_sec);
            EXPECT_EQ(now.st_mtim.tv_nsec, times[i].st_mtim.tv_nsec);
        }
    }
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
    EXPECT_NE(runCommand(f, dry).out.find(line + "image-itself\n"), std::string::npos);
    dry[2] = f.root.file("new/folder");
    EXPECT_NE(runCommand(f, dry).out.find(line + "extract\n"), std::string::npos);
    EXPECT_FALSE(fileExists(f.root.file("new")));
    const std::vector<uint8_t> before = readFileBytes(words[4]);
    const RunResult result = runCommand(f, words);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "cannot create file 'PART2.D88': it is the image being read\n"
                          "d88extract: 1 file, 1,024 bytes, written to '" +
                              f.work + "'; 1 not written\n");
    EXPECT_TRUE(readFileBytes(words[4]) == before);
    EXPECT_TRUE(readFileBytes(f.work + "/OTHER.BIN") == patternBytes(1, 2));
    // A zip given is a file of the image too, though its members are read from copies.
    if (!usesLauncher()) {
        const std::vector<uint8_t> zip = zipBytes({{"set.d88", joined}});
        const std::string zipPath = f.root.write("work/OTHER.BIN", zip);
        const RunResult zipped = runCommand(f, {"-d", f.work, zipPath});
        EXPECT_EQ(zipped.status, 1);
        EXPECT_EQ(zipped.err, "cannot create file 'OTHER.BIN': it is the image being read\n"
                              "d88extract: 1 file, 1,024 bytes, written to '" +
                                  f.work + "'; 1 replaced, 1 not written\n");
        EXPECT_TRUE(readFileBytes(zipPath) == zip);
    }
}

// -i PATTERN is a shell pattern over the saved name: on UTF-8 text a character is a whole
// sequence, on bytes (a locale that is not UTF-8) a byte.
TEST(Command, PatternsMatchAsAShellMatchesNames) {
    const PatternText utf8 = PatternText::Utf8;
    const PatternText bytes = PatternText::Bytes;
    const struct {
        const char* pattern;
        const char* name;
        PatternText text;
        bool matches;
    } rows[] = {
        {"*.BIN", "LARGE.BIN", bytes, true},
        {"*.BIN", "LARGE.BINX", bytes, false},
        {"*.bin", "LARGE.BIN", bytes, false}, // case counts
        {"データ*", "データ.DAT", utf8, true},
        {"???.DAT", "データ.DAT", utf8, true},
        {"???.DAT", "データ.DAT", bytes, false}, // nine bytes
        {"[デ]*", "データ.DAT", utf8, true},
        {"?f*", "\x83\x66\x81\x5B", bytes, true}, // Shift_JIS bytes, one at a time
        {"??*", "\x83\x66\x81\x5B", utf8, true},  // not UTF-8: each byte its own character
        {"[A-C]*", "ABC.DAT", bytes, true},
        {"[!A-C]*", "ABC.DAT", bytes, false},
        {"[^.]*", ".X", bytes, false},
        {"[]x]Y", "]Y", bytes, true},
        {"[a\\]]", "]", bytes, true},
        {"\\*", "*", bytes, true},
        {"\\*", "A", bytes, false},
        {"[", "[", bytes, true}, // no ']' closes it
        {"*A*B*", "xxAyyBzz", bytes, true},
        {"*A*B", "xxAyyBzz", bytes, false},
        {"*", ".hidden", bytes, true}, // a leading dot is no different
        {"*", "", bytes, true},
        {"", "A", bytes, false},
        {"README.TXT", "README.TXT", bytes, true},
        {"[[:alpha:]]*", "ABC.DAT", bytes, true},
        {"[[:alpha:]]*", "1.DAT", bytes, false},
        {"*[[:digit:]].BIN", "FILE7.BIN", bytes, true},
        {"[![:upper:]_]*", "_X", bytes, false},
        {"[[:punct:]]", "~", bytes, true},
        {"[[:nosuch:]]*", "ABC", bytes, false}, // an unknown class matches nothing
        {"[[:alpha:]", "A", bytes, false},      // no ']' closes the set: the text itself
    };
    for (const auto& row : rows) {
        EXPECT_EQ(matchesPattern(row.pattern, row.name, row.text), row.matches)
            << row.pattern << " " << row.name;
    }
}

namespace {

// The sample's seven files as d88extract shows them: the name (UTF-8; Shift_JIS where Windows
// prints the stored bytes) and the rest of the report line.
const std::vector<std::pair<std::string, std::string>> SAMPLE_FILES = {
    {"README.TXT", "DISK:01 TRK:02 SEC:01 SIZE:800"},
    {"HEADJUMP.BIN", "DISK:01 TRK:04 SEC:04 SIZE:1000"},
    {"CYLJUMP.BIN", "DISK:01 TRK:07 SEC:05 SIZE:c00"},
    {"ABC.DAT", "DISK:02 TRK:10 SEC:02 SIZE:c00"},
    {"データ.DAT", "DISK:03 TRK:14 SEC:01 SIZE:400"},
    {"表示.TXT", "DISK:03 TRK:15 SEC:03 SIZE:400"},
    {"LARGE.BIN", "DISK:04 TRK:28 SEC:01 SIZE:f000"}};

std::string shownOnStdout(const std::string& name) {
    if (!usesLauncher()) {
        return name; // a UTF-8 locale: the names decoded
    }
    if (name == "データ.DAT") {
        return "\x83\x66\x81\x5B\x83\x5E.DAT";
    }
    return name == "表示.TXT" ? "\x95\x5C\x8E\xA6.TXT" : name;
}

// The report lines of the sample's files `which` (by position in SAMPLE_FILES); with
// `outcomes`, as -n shows them: numbered, each with its outcome word.
std::string sampleLines(const std::vector<int>& which,
                        const std::vector<std::string>& outcomes = {}) {
    std::string lines;
    for (size_t i = 0; i < which.size(); ++i) {
        const auto& [name, rest] = SAMPLE_FILES[static_cast<size_t>(which[i])];
        const std::string shown = shownOnStdout(name);
        if (!outcomes.empty()) {
            lines += "  " + std::to_string(which[i]) + "  ";
        }
        lines += shown + std::string(shown.size() < 12 ? 12 - shown.size() : 0, ' ') + "  " + rest +
                 (outcomes.empty() ? "" : "  " + outcomes[i]) + "\n";
    }
    return lines;
}

const std::vector<int> ALL_SEVEN = {0, 1, 2, 3, 4, 5, 6};

} // namespace

// What a user of unzip, 7z or tar looks for: listing without extracting (-l, -lv), choosing
// files (-i), keeping them (-k), a quiet run (-q), a summary of what was done, a layout given
// that yields nothing, and one command-line convention. IMAGE stands for the image's path;
// the files go into the folder `out`, which holds an edited README.TXT first where `edited`.
TEST(Command, ListChooseKeepAndSayWhatWasDone) {
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    const std::vector<uint8_t> clean = buildImage(disks);
    disks[3].tracks[40].sectors[2].status = 0xB0; // sectors 2 and 5 of LARGE.BIN: CRC errors
    disks[3].tracks[41].sectors[0].status = 0xB0;
    const std::vector<uint8_t> withError = buildImage(disks);
    Fixture whole;
    whole.root.write("image.d88", clean);
    setenv("LC_ALL", "C.UTF-8", 1);
    ASSERT_EQ(runCommand(whole, {whole.imagePath}).status, 0);
    unsetenv("LC_ALL");
    const auto sample = filesIn(whole.work);
    const std::vector<uint8_t> edited = {'m', 'y', ' ', 'n', 'o', 't', 'e', 's'};
    const std::string head = "IMAGE: 4 disks, directory in the layout of d88extract-a\n";
    const std::string usage = "\nTry 'd88extract --help' for more information.\n";
    const struct {
        std::string why;
        std::vector<std::string> words;
        bool readError; // the image with a read error in LARGE.BIN
        bool edited;
        int status;
        std::string out;
        std::string err;
        std::vector<int> written; // of the sample's files, in out/ afterwards
    } rows[] = {
        {"-l lists as unzip -l, writes nothing and makes no folder",
         {"-l", "-d", "out", "IMAGE"},
         false,
         false,
         0,
         head +
             "     Size  Disk  Name\n"
             "---------  ----  ----\n"
             "     2048  A     README.TXT\n"
             "     4096  A     HEADJUMP.BIN\n"
             "     3072  A     CYLJUMP.BIN\n"
             "     3072  B     ABC.DAT\n"
             "     1024  C     " +
             shownOnStdout("データ.DAT") + "\n     1024  C     " + shownOnStdout("表示.TXT") +
             "\n"
             "    61440  D     LARGE.BIN\n"
             "---------        ----\n"
             "    75776        7 files\n",
         "",
         {}},
        // With the status of the extraction: LARGE.BIN holds sectors stored with an error.
        {"-lv adds the error sectors; -i lists the chosen files",
         {"-lv", "-i", "*.BIN", "IMAGE"},
         true,
         false,
         1,
         head + "     Size  Disk  CRC-32    Error sectors  Name\n"
                "---------  ----  --------  -------------  ----\n"
                "     4096  A     f01b8ea7  -              HEADJUMP.BIN\n"
                "     3072  A     60694da6  -              CYLJUMP.BIN\n"
                "    61440  D     9421ef56  2,5            LARGE.BIN\n"
                "---------                                 ----\n"
                "    68608                                 3 files (1 with read errors); 4 "
                "entries passed over (4 not-chosen)\n",
         "",
         {}},
        {"-i chooses by shell patterns over the saved names",
         {"-d", "out", "-i", "データ*", "-i", "*.BIN", "IMAGE"},
         false,
         false,
         0,
         sampleLines({1, 2, 4, 6}),
         "d88extract: 4 files, 69,632 bytes, written to 'out'; 3 passed over\n",
         {1, 2, 4, 6}},
        {"-n shows the entries not chosen",
         {"-n", "-i", "ABC.DAT", "IMAGE"},
         false,
         false,
         0,
         head +
             sampleLines(ALL_SEVEN, {"not-chosen", "not-chosen", "not-chosen", "extract",
                                     "not-chosen", "not-chosen", "not-chosen"}) +
             "1 file to write, 3072 bytes; 6 entries passed over\n",
         "",
         {}},
        {"a pattern that matches no file is said; case counts",
         {"-d", "out", "-i", "*.bin", "IMAGE"},
         false,
         false,
         1,
         "",
         "d88extract: no file matches '*.bin'\n"
         "d88extract: 0 files, 0 bytes, written to 'out'; 7 passed over\n",
         {}},
        {"-k keeps an edited file and says so",
         {"-k", "-d", "out", "IMAGE"},
         false,
         true,
         0,
         sampleLines({1, 2, 3, 4, 5, 6}),
         "kept the existing file 'README.TXT'\n"
         "d88extract: 6 files, 73,728 bytes, written to 'out'; 1 kept\n",
         {1, 2, 3, 4, 5, 6}},
        {"by default an edited file is replaced, and the summary counts it",
         {"--directory=out", "IMAGE"},
         false,
         true,
         0,
         sampleLines(ALL_SEVEN),
         "d88extract: 7 files, 75,776 bytes, written to 'out'; 1 replaced\n",
         ALL_SEVEN},
        {"files with read errors are counted",
         {"-dout", "IMAGE"},
         true,
         false,
         1,
         sampleLines(ALL_SEVEN),
         "read errors in file 'LARGE.BIN': 2 of 60 sectors stored with an error status\n"
         "d88extract: 7 files, 75,776 bytes, written to 'out'; 1 with read errors\n",
         ALL_SEVEN},
        {"-q drops the report lines and the summary, not the messages",
         {"-q", "-d", "out", "-i", "README.TXT", "-i", "NONE", "IMAGE"},
         false,
         false,
         1,
         "",
         "d88extract: no file matches 'NONE'\n",
         {0}},
        {"a layout given that yields no files names the one that does",
         {"--layout", "b", "-d", "out", "IMAGE"},
         false,
         false,
         1,
         "",
         "d88extract: layout b (d88extract-b) yields no files; layout a (d88extract-a) yields 7 "
         "files: use --layout a\n",
         {}},
        {"an option with one value is refused when repeated",
         {"-d", "out", "-d", "other", "IMAGE"},
         false,
         false,
         2,
         "",
         "d88extract: --directory given twice" + usage,
         {}},
        {"a pattern longer than any name could need is refused",
         {"-i", std::string(4097, '['), "IMAGE"},
         false,
         false,
         2,
         "",
         "d88extract: --include takes a pattern of at most 4096 bytes" + usage,
         {}},
        // Parsed once, a pattern of 4,096 '[' takes no time on every entry.
        {"a long pattern of unclosed sets matches nothing, at once",
         {"-q", "-d", "out", "-i", std::string(4096, '['), "IMAGE"},
         false,
         false,
         1,
         "",
         "d88extract: no file matches '" + std::string(4096, '[') + "'\n",
         {}},
        {"-v goes with -l",
         {"-v", "IMAGE"},
         false,
         false,
         2,
         "",
         "d88extract: --verbose goes with --list (-lv)" + usage,
         {}},
        {"an unknown short option",
         {"-x", "IMAGE"},
         false,
         false,
         2,
         "",
         "d88extract: unknown option '-x'" + usage,
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        Fixture f;
        f.root.write("image.d88", row.readError ? withError : clean);
        if (row.edited) {
            ASSERT_EQ(mkdir((f.work + "/out").c_str(), 0700), 0);
            f.root.write("work/out/README.TXT", edited);
        }
        std::vector<std::string> words = row.words;
        std::replace(words.begin(), words.end(), std::string("IMAGE"), f.imagePath);
        setenv("LC_ALL", "C.UTF-8", 1);
        const RunResult result = runCommand(f, words);
        unsetenv("LC_ALL");
        EXPECT_EQ(result.status, row.status) << result.err;
        std::string out = row.out;
        for (size_t at = out.find("IMAGE"); at != std::string::npos; at = out.find("IMAGE")) {
            out.replace(at, 5, f.imagePath);
        }
        EXPECT_EQ(result.out, consoleText(out));
        EXPECT_EQ(result.err, consoleText(row.err));
        std::map<std::string, std::vector<uint8_t>> expected;
        for (int file : row.written) {
            const std::string& name = SAMPLE_FILES[static_cast<size_t>(file)].first;
            expected[name] = sample.at(name);
        }
        if (row.edited && expected.count("README.TXT") == 0) {
            expected["README.TXT"] = edited;
        }
        EXPECT_EQ(filesIn(f.work + "/out"), expected);
    }

    // The JSON face says the same, entry by entry: the outcome and what became of the file.
    const struct {
        std::vector<std::string> words;
        std::string outcomesAndResults;
    } documents[] = {
        {{"--json", "-i", "*.TXT"},
         R"([["extract","written"],["not-chosen","passed-over"],["not-chosen","passed-over"],)"
         R"(["not-chosen","passed-over"],["not-chosen","passed-over"],["extract","written"],)"
         R"(["not-chosen","passed-over"]])"},
        {{"--json", "-k", "-i", "*.TXT"},
         R"([["extract","kept"],["not-chosen","passed-over"],["not-chosen","passed-over"],)"
         R"(["not-chosen","passed-over"],["not-chosen","passed-over"],["extract","kept"],)"
         R"(["not-chosen","passed-over"]])"},
    };
    Fixture again;
    again.root.write("image.d88", clean);
    for (const auto& document : documents) {
        std::vector<std::string> words = document.words;
        words.push_back(again.imagePath);
        const RunResult result = runCommand(again, words);
        EXPECT_EQ(result.status, 0) << result.err;
        const nlohmann::json plan = nlohmann::json::parse(result.out, nullptr, false);
        ASSERT_FALSE(plan.is_discarded()) << result.out;
        nlohmann::json got = nlohmann::json::array();
        for (const nlohmann::json& entry : plan["entries"]) {
            got.push_back({entry["outcome"], entry["result"]["status"]});
        }
        EXPECT_EQ(got, nlohmann::json::parse(document.outcomesAndResults));
    }

    const RunResult help = runCommand(again, {"--help"});
    EXPECT_EQ(help.status, 0);
    expectWithin80Columns(help.out);
    if (usesLauncher()) {
        GTEST_SKIP() << "a reader that leaves and a folder that takes no file were not tried: "
                        "Windows programs get no signals, and the launcher's own files belong "
                        "to this user";
    }
    // A reader that leaves (`| head`) ends the run quietly once every file is written, as it
    // ends ls: by SIGPIPE, or with a message when the shell ignores SIGPIPE.
    for (const bool ignored : {false, true}) {
        Fixture f;
        f.root.write("image.d88", clean);
        RunOptions closed;
        closed.cwd = f.work;
        closed.closedPipe = true;
        closed.pipeSignalIgnored = ignored;
        const RunResult result =
            runProgram(commandProgram(), {"d88extract", "--names=utf-8", f.imagePath}, closed);
        EXPECT_EQ(result.status, ignored ? 1 : 128 + SIGPIPE);
        EXPECT_EQ(result.err, "d88extract: 7 files, 75,776 bytes, written to the current folder\n" +
                                  std::string(ignored ? "d88extract: cannot write standard "
                                                        "output: Broken pipe\n"
                                                      : ""));
        EXPECT_EQ(filesIn(f.work), sample);
    }
    // A folder that takes no file is said once, and no file is tried (root writes anyway: the
    // program runs as an unprivileged user).
    Fixture f;
    f.root.write("image.d88", clean);
    ASSERT_EQ(mkdir((f.work + "/out").c_str(), 0555), 0);
    chmod(f.root.path().c_str(), 0755);
    chmod(f.work.c_str(), 0755);
    chmod(f.imagePath.c_str(), 0644);
    RunOptions unprivileged;
    unprivileged.cwd = f.work;
    unprivileged.asUnprivilegedUser = true;
    const RunResult refused =
        runProgram(commandProgram(), {"d88extract", "-d", "out", f.imagePath}, unprivileged);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err,
              "d88extract: cannot write into folder 'out': " + systemMessage(EACCES) + "\n");
    EXPECT_EQ(filesIn(f.work + "/out").size(), 0u);
}
