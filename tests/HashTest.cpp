// Hashes of files and disks: those of d88extract and d88info against the tools that users check
// files with (crc32's CRC through Python's zlib, sha1sum, sha256sum), the lines of --sums
// checked by sha256sum -c, the content hash's test vector, and the whole documents of the sample
// set against expected data files.
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"

#include "D88Format.h"
#include "ImageBuilder.h"
#include "SampleDiskSet.h"
#include "SetFormat.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace d88;
using json = nlohmann::json;

namespace {

std::string programPath(const char* variable, const char* built) {
    const char* override = getenv(variable);
    return override != nullptr && *override != '\0' ? override : built;
}

RunResult runIn(const std::string& folder, const std::string& program,
                const std::vector<std::string>& words) {
    RunOptions options;
    options.cwd = folder;
    return runProgram(program, words, options);
}

json parsed(const RunResult& result) {
    return json::parse(result.out, nullptr, false);
}

// A command of this host (never through the programs' launcher); its standard output, and its
// exit status in `status`.
std::string hostCommand(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    size_t got = 0;
    while (pipe != nullptr && (got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, got);
    }
    status = pipe != nullptr ? pclose(pipe) : -1;
    return out;
}

// The file's hashes as the tools print them, in the document's form.
json toolHashes(const std::string& path) {
    int status = 0;
    const std::string quoted = "'" + path + "'";
    const std::string crc =
        hostCommand("python3 -c 'import sys, zlib; print(\"%08x\" % zlib.crc32(open(sys.argv[1], "
                    "\"rb\").read()))' " +
                        quoted,
                    status);
    // A line that starts with a backslash names an escaped file name.
    const std::string sha1 = hostCommand("sha1sum " + quoted, status);
    const std::string sha256 = hostCommand("sha256sum " + quoted, status);
    return json{{"crc32", crc.substr(0, 8)},
                {"sha1", sha1.substr(sha1[0] == '\\' ? 1 : 0, 40)},
                {"sha256", sha256.substr(sha256[0] == '\\' ? 1 : 0, 64)}};
}

std::vector<uint8_t> sampleImage() {
    std::vector<DiskPlan> disks;
    EXPECT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    return buildImage(disks);
}

// A set whose files are whole, read with an error, incomplete (zeros after the bytes read) and
// replaced by a later entry of the same name; with `backslash`, a name that sha256sum escapes.
std::vector<uint8_t> damagedSet(bool backslash) {
    DiskSetImage set(4);
    const int at = LAYOUT_A.firstEntryOffset;
    set.setEntry(at, "WHOLE.BIN", 30, 1, 2, 0);
    set.setEntry(at + 16, "SHORT.BIN", 40, 1, 3, 1);
    set.setEntry(at + 32, "TWICE.BIN", 30, 1, 1, 0);
    set.setEntry(at + 48, "EMPTY.BIN", 30, 1, 0, 0);
    set.setEntry(at + 64, "TWICE.BIN", 32, 1, 1, 0); // replaces entry 2's file
    if (backslash) {
        set.setEntry(at + 80, "BACK\\SL.TXT", 32, 1, 1, 0);
    }
    set.putFile(0, 30, 1, patternBytes(2, 1));
    set.putFile(0, 32, 1, patternBytes(1, 3));
    set.putFile(1, 40, 1, patternBytes(3, 2));
    set.disks[1].tracks[40].sectors[2].data.resize(1000);
    set.disks[0].tracks[30].sectors[1].status = 0xB0;
    return set.build();
}

// The disk of the content hash's test vector: three tracks, records of several sizes, a read
// error, a deleted sector and a data length shorter than its size code says.
DiskPlan vectorDisk() {
    DiskPlan disk;
    disk.name = "VECTOR";
    disk.tracks[0].sectors = {makeSector(0, 0, 1, 1, 256, 0x11), makeSector(0, 0, 2, 1, 256, 0x22)};
    disk.tracks[0].sectors[1].status = 0xB0;
    disk.tracks[3].sectors = {makeSector(1, 1, 1, 0, 128, 0x33)};
    disk.tracks[3].sectors[0].deleted = DELETED_DATA_MARK;
    disk.tracks[3].sectors[0].status = STATUS_DELETED_DATA;
    disk.tracks[5].sectors = {makeSector(2, 1, 9, 2, 100, 0x44)};
    return disk;
}

// The SHA-256 of vectorDisk()'s content, as README and d88info(1) give it.
const char* const VECTOR_CONTENT_SHA256 =
    "9b37daa2d6e8e1eaadc7d587ce748bba8cbd85f8a3d1211412f5272975327f59";

// The content stream of vectorDisk() written out from its definition, byte by byte.
std::vector<uint8_t> vectorContentStream() {
    std::vector<uint8_t> out;
    const auto record = [&](std::vector<uint8_t> fields, size_t length, uint8_t fill) {
        fields.push_back(static_cast<uint8_t>(length & 0xFF));
        fields.push_back(static_cast<uint8_t>(length >> 8));
        out.insert(out.end(), fields.begin(), fields.end());
        out.insert(out.end(), length, fill);
    };
    out.insert(out.end(), {0, 2, 0}); // track 0, two records
    record({0, 0, 1, 1, 0x00}, 256, 0x11);
    record({0, 0, 2, 1, 0xB0}, 256, 0x22);
    out.insert(out.end(), {3, 1, 0});
    record({1, 1, 1, 0, 0x10}, 128, 0x33);
    out.insert(out.end(), {5, 1, 0});
    record({2, 1, 9, 2, 0x00}, 100, 0x44);
    return out;
}

// The document with the temporary folder `folder` replaced by TMP in every string: paths are
// all that varies from run to run.
void replacePaths(nlohmann::ordered_json& document, const std::string& folder) {
    if (document.is_structured()) {
        for (auto& value : document) {
            replacePaths(value, folder);
        }
    } else if (document.is_string()) {
        const std::string text = document.get<std::string>();
        if (text.rfind(folder + "/", 0) == 0) {
            document = "TMP" + text.substr(folder.size());
        }
    }
}

} // namespace

// Every file's hashes are the same in d88extract's run, its dry run and d88info --set, and are
// those of the tools on the file written; d88info --sums gives the lines that sha256sum -c and
// sha1sum -c accept in the folder, one for each file that the folder keeps.
TEST(Hashes, FilesAgreeWithTheToolsAndTheSumsCheck) {
    const std::string extract = programPath("D88_EXTRACT", D88EXTRACT_PATH);
    const std::string info = programPath("D88_INFO", D88INFO_PATH);
    const struct {
        std::string name;
        std::vector<uint8_t> image;
        int status;     // of the extraction
        size_t hashed;  // entries with hashes
        size_t kept;    // files in the folder
        bool linuxOnly; // names that Windows refuses
    } rows[] = {
        {"sample set", sampleImage(), 0, 7, 7, false},
        {"damaged set", damagedSet(false), 1, 4, 3, false},
        {"a name with a backslash", damagedSet(true), 1, 5, 4, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.linuxOnly && usesLauncher()) {
            continue;
        }
        TempDir dir;
        const std::string image = dir.write("image.d88", row.image);
        const std::string out = dir.file("out");
        const RunResult run =
            runIn(dir.path(), extract,
                  {"d88extract", "--json", "--layout", "a", "--names", "utf-8", "-d", out, image});
        EXPECT_EQ(run.status, row.status) << run.err;
        const json written = parsed(run);
        const json planned = parsed(
            runIn(dir.path(), extract,
                  {"d88extract", "-n", "--json", "--layout", "a", "--names", "utf-8", image}));
        const json listed = parsed(runIn(
            dir.path(), info, {"d88info", "--set", "a", "--names", "utf-8", "--json", image}));
        ASSERT_FALSE(written.is_discarded() || planned.is_discarded() || listed.is_discarded());
        size_t hashed = 0;
        size_t checked = 0;
        for (size_t i = 0; i < written["entries"].size(); ++i) {
            const json& entry = written["entries"][i];
            EXPECT_EQ(entry["hashes"], planned["entries"][i]["hashes"]) << i;
            EXPECT_EQ(entry["hashes"], listed["entries"][i]["hashes"]) << i;
            EXPECT_EQ(entry["hashes"].is_null(), entry["saved_as"].is_null()) << i;
            hashed += entry["hashes"].is_null() ? 0 : 1;
            if (!entry["hashes"].is_null() && entry["replaced_by"].is_null()) {
                const std::string saved = entry["saved_as"]["text"].get<std::string>();
                EXPECT_EQ(entry["hashes"], toolHashes(out + "/" + saved)) << saved;
                ++checked;
            }
        }
        EXPECT_EQ(hashed, row.hashed);
        EXPECT_EQ(checked, row.kept);
        EXPECT_EQ(listDirectory(out).size(), row.kept);
        for (const char* kind : {"sha256", "sha1"}) {
            const RunResult sums =
                runIn(dir.path(), info,
                      {"d88info", "--set", "a", "--sums", kind, "--names", "utf-8", image});
            EXPECT_EQ(sums.status, 0) << sums.err;
            const std::string list =
                dir.write(std::string("sums.") + kind,
                          std::vector<uint8_t>(sums.out.begin(), sums.out.end()));
            int status = -1;
            const std::string said = hostCommand(
                "cd '" + out + "' && LC_ALL=C " + kind + "sum -c '" + list + "' 2>&1", status);
            EXPECT_EQ(status, 0) << said;
            size_t ok = 0;
            for (size_t at = said.find(": OK\n"); at != std::string::npos;
                 at = said.find(": OK\n", at + 1)) {
                ++ok;
            }
            EXPECT_EQ(ok, row.kept) << said;
        }
    }
}

// The content hash leaves out the header: a copy with another name and the write-protect flag,
// or with its tracks stored elsewhere in the file, hashes alike, while its stored hashes (those
// of the tools on the disk file) differ; a changed data byte or status changes both.
TEST(Hashes, ContentHashLeavesOutTheHeader) {
    const std::string info = programPath("D88_INFO", D88INFO_PATH);
    TempDir dir;
    const std::vector<uint8_t> disk = buildDisk(vectorDisk());
    std::vector<uint8_t> renamed = disk;
    renamed[0] = 'W';
    renamed[WRITE_PROTECT_OFFSET] = WRITE_PROTECTED;
    std::vector<uint8_t> moved(disk.begin(), disk.begin() + DISK_HEADER_SIZE);
    moved.insert(moved.end(), 256, 0); // the tracks 256 bytes further on
    moved.insert(moved.end(), disk.begin() + DISK_HEADER_SIZE, disk.end());
    putU32(moved, DISK_SIZE_OFFSET, static_cast<uint32_t>(moved.size()));
    for (int track = 0; track < MAX_TRACKS; ++track) {
        const size_t at = static_cast<size_t>(TRACK_TABLE_OFFSET + 4 * track);
        const uint32_t offset = readU32(moved.data() + at);
        putU32(moved, at, offset == 0 ? 0 : offset + 256);
    }
    DiskPlan changedByte = vectorDisk();
    changedByte.tracks[3].sectors[0].data[127] = 0x34;
    DiskPlan changedStatus = vectorDisk();
    changedStatus.tracks[0].sectors[1].status = 0xA0;
    const struct {
        std::string name;
        std::vector<uint8_t> bytes;
        bool sameContent;
    } rows[] = {
        {"the vector disk", disk, true},
        {"renamed and write-protected", renamed, true},
        {"tracks moved", moved, true},
        {"a data byte changed", buildDisk(changedByte), false},
        {"a status changed", buildDisk(changedStatus), false},
    };
    // The stream as defined, hashed by sha256sum, is the test vector.
    int status = -1;
    const std::string stream =
        hostCommand("sha256sum '" + dir.write("stream", vectorContentStream()) + "'", status);
    EXPECT_EQ(stream.substr(0, 64), VECTOR_CONTENT_SHA256);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.write("disk.d88", row.bytes);
        const json document = parsed(runIn(dir.path(), info, {"d88info", "--json", path}));
        ASSERT_FALSE(document.is_discarded());
        const json& hashes = document["disks"][0]["hashes"];
        EXPECT_EQ(hashes["stored"], toolHashes(path));
        EXPECT_EQ(hashes["content"]["sha256"] == VECTOR_CONTENT_SHA256, row.sameContent)
            << hashes.dump();
        EXPECT_EQ(row.bytes == disk, hashes["stored"] == toolHashes(dir.write("base.d88", disk)));
    }
}

// The whole documents of the sample set, with the files' hashes, of the vector disk, with its
// disk hashes, and of dumps of the set given together, are the expected data files (the
// temporary folder replaced by TMP); tests/validate-json.py checks each file against the
// schema. The Linux programs only: names and paths differ on Windows.
//
// To remake them after a deliberate change, run this test with D88_DOCUMENTS_OUT set to a
// folder: it writes there every document it got, under the row's file name. Read each one
// against its case (sectors, copies, sources, counts; the hashes against sha256sum of the files
// written) before copying it into tests/data.
TEST(HashDocuments, DocumentsAsExpected) {
    if (usesLauncher()) {
        GTEST_SKIP() << "the data files hold the Linux programs' documents";
    }
    TempDir dir;
    const std::string image = dir.write("image.d88", sampleImage());
    const std::string disk = dir.write("vector.d88", buildDisk(vectorDisk()));
    // Dumps of the small sample set (only the tracks that hold something): `damages` each.
    SampleSet compact = smallSampleSet(LAYOUT_A);
    compact.compact = true;
    std::vector<DiskPlan> clean;
    EXPECT_TRUE(buildSampleDisks(compact, clean));
    const auto dumps = [&](const std::string& name,
                           const std::vector<std::vector<SectorDamage>>& damages) {
        std::vector<std::string> paths;
        for (size_t i = 0; i < damages.size(); ++i) {
            paths.push_back(
                dir.write(name + std::to_string(i) + ".d88", damagedDump(clean, damages[i])));
        }
        return paths;
    };
    const auto extract = [&](const std::string& out, std::vector<std::string> images) {
        images.insert(images.begin(),
                      {"d88extract", "--json", "--names", "utf-8", "-d", dir.file(out)});
        return images;
    };
    const uint8_t CRC = 0xB0;
    // Disk A's directory sector 1 and README.TXT's sector 2 repaired from the second dump,
    // LARGE.BIN's first sector too; HEADJUMP.BIN's and ABC.DAT's errors in later dumps only.
    const auto repaired =
        dumps("repaired", {{{0, 1, 1, CRC, 0x5A}, {0, 2, 2, CRC, 0x5A}, {3, 40, 1, CRC, 0x5A}},
                           {{0, 1, 2, CRC, 0x5A}, {0, 4, 4, CRC, 0x5A}},
                           {{0, 2, 2, CRC, 0x5A}, {1, 16, 2, CRC, 0x5A}}});
    // CYLJUMP.BIN's first sector differs, read without error in both.
    const auto contested = dumps("contested", {{}, {{0, 7, 5, 0, 0x5A}}});
    // README.TXT's first sector in error in all three, changed in the first.
    const auto voted =
        dumps("voted", {{{0, 2, 1, CRC, 0x5A}}, {{0, 2, 1, CRC, 0}}, {{0, 2, 1, CRC, 0}}});
    // LARGE.BIN's second sector missing from the first dump; in the second, CYLJUMP.BIN's first
    // sector with other bytes and ABC.DAT's second with another status.
    const auto differ =
        dumps("differ", {{{3, 40, 2, 0, 0, true}}, {{0, 7, 5, 0, 0x5A}, {1, 16, 2, CRC, 0}}});
    // Disk C in none of the files; README.TXT's entry moved to slot 10 of the table, and the
    // image cut in two inside the header of README.TXT's second sector.
    std::vector<DiskPlan> withoutC = clean;
    withoutC.erase(withoutC.begin() + 2);
    std::vector<uint8_t>& table = withoutC[0].tracks[DIRECTORY_TRACK].sectors[0].data;
    const auto entry0 = table.begin() + LAYOUT_A.firstEntryOffset;
    std::copy(entry0, entry0 + 16, entry0 + 160);
    std::fill(entry0, entry0 + 16, 0);
    const std::vector<uint8_t> noC = buildImage(withoutC);
    const std::vector<std::string> noDiskC = {
        dir.write("no-disk-c-0.d88", {noC.begin(), noC.begin() + 6936}),
        dir.write("no-disk-c-1.d88", {noC.begin() + 6936, noC.end()})};
    std::vector<std::string> infoSet = {"d88info", "--set", "a", "--names", "utf-8", "--json"};
    infoSet.insert(infoSet.end(), differ.begin(), differ.end());
    std::vector<std::string> infoDisk = {"d88info", "--json", "--disk", "5"};
    infoDisk.insert(infoDisk.end(), differ.begin(), differ.end());
    const struct {
        std::string file;
        std::string program;
        std::vector<std::string> words;
        int status;
    } rows[] = {
        {"sample-info-set-a.json",
         D88INFO_PATH,
         {"d88info", "--set", "a", "--names", "shift_jis", "--json", image},
         0},
        {"sample-dry-run.json",
         D88EXTRACT_PATH,
         {"d88extract", "-n", "--json", "--names", "utf-8", image},
         0},
        {"sample-extract.json", D88EXTRACT_PATH, extract("out", {image}), 0},
        {"vector-disk-info.json", D88INFO_PATH, {"d88info", "--json", disk}, 0},
        {"dumps-repaired.json", D88EXTRACT_PATH, extract("out-repaired", repaired), 0},
        {"dumps-contested.json", D88EXTRACT_PATH, extract("out-contested", contested), 1},
        {"dumps-voted.json", D88EXTRACT_PATH, extract("out-voted", voted), 1},
        {"disk-c-missing.json", D88EXTRACT_PATH, extract("out-no-c", noDiskC), 1},
        {"dumps-info-set-a.json", D88INFO_PATH, infoSet, 1}, // a sector contested
        {"dumps-info-disk-5.json", D88INFO_PATH, infoDisk, 0},
    };
    const char* remake = getenv("D88_DOCUMENTS_OUT");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const RunResult run = runIn(dir.path(), row.program, row.words);
        EXPECT_EQ(run.status, row.status) << run.err;
        // In the programs' order of keys, which the comparison checks too.
        nlohmann::ordered_json document = nlohmann::ordered_json::parse(run.out, nullptr, false);
        ASSERT_FALSE(document.is_discarded());
        replacePaths(document, dir.path());
        if (remake != nullptr) {
            std::ofstream(std::string(remake) + "/" + row.file) << document.dump(1) << "\n";
        }
        std::ifstream in(std::string(D88_TEST_DATA) + "/" + row.file);
        std::stringstream expected;
        expected << in.rdbuf();
        EXPECT_EQ(document, nlohmann::ordered_json::parse(expected.str(), nullptr, false));
    }
}
