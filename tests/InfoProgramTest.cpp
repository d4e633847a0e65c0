// d88info end to end: the listing of disks and tracks, --disk, and its errors.
#include "support/DamagedImages.h"
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"
#include "support/TrackListing.h"
#include "support/ZipBytes.h"

#include "D88Format.h"
#include "ImageBuilder.h"
#include "SampleDiskSet.h"

#include <cerrno>
#include <csignal>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace d88;

namespace {

const std::string JOIN_HINT = "  join the set's disk files into one image, Disk A first:\n"
                              "    cat A.d88 B.d88 C.d88 D.d88 > set.d88\n"
                              "  (on Windows: copy /b A.d88+B.d88+C.d88+D.d88 set.d88)\n"
                              "  or give them to d88extract as they are\n";
const std::string TOO_FEW = "fewer than four, d88extract-a and d88extract-b extract nothing\n";

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
    EXPECT_EQ(
        result.out,
        consoleText(
            path + ": 2 disks\n" +
            "disk 0  offset 0  size 19408  media 2HD (20)  name \"INFO A\"  set-id 01  "
            "read-errors 1\n"
            "  track   0  records 5 00/00/01/03 00/00/02/03 00/00/03/03 00/00/04/03 "
            "00/00/05/03\n"
            "  track   2  records 8 01/00/01/03 01/00/02/03 01/00/03/03 01/00/04/03 "
            "01/00/05/03 01/00/06/03 01/00/07/03 01/00/08/03\n"
            "  track   6  records 1 10/00/01/03(status=43,length=21321) (walk runs past the "
            "end of the disk)\n"
            "  track  79  records 5 27/01/01/03 27/01/02/03 27/01/03/03 27/01/04/03 "
            "27/01/05/03\n"
            "disk 1  offset 19408  size 712  media unknown (ff)  name \"\\x10\"  set-id none  "
            "(not a D88 disk: its header does not agree with itself)\n"
            "  track 163  records 1 50/01/f7/06(length=8)\n"
            "set numbers: 01 (Disk A) disk 0\n"
            "  the last 712 bytes of '" +
            path + "' are no D88 disk: not read\n" + "disk set: 2 disks, " + TOO_FEW + JOIN_HINT));

    const RunResult one = run({"d88info", "--disk", "1", path});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out,
              consoleText(path + ": 2 disks\n" +
                          "disk 1  offset 19408  size 712  media unknown (ff)  name \"\\x10\"  "
                          "set-id none  (not a D88 disk: its header does not agree with itself)\n"
                          "  track 163  records 1 50/01/f7/06(length=8)\n"
                          "set numbers: 01 (Disk A) disk 0\n"
                          "  the last 712 bytes of '" +
                          path + "' are no D88 disk: not read\n" + "disk set: 2 disks, " + TOO_FEW +
                          JOIN_HINT));
}

// Tracks are listed as the extraction walks them: a record with a count of 0 ends the walk
// (a zero-filled track has no records), a long walk is listed in part. Control bytes in a
// disk name are escaped.
TEST_F(Info, TracksAreListedAsTheProgramsWalkThem) {
    DiskPlan disk;
    disk.name = std::string("A\nB\"C\\\x7f", 7);
    for (int i = 0; i < 600; ++i) {
        disk.tracks[0].sectors.push_back(makeSector(0, 0, i % 256, 0, 0));
    }
    SectorPlan zeros = makeSector(0, 0, 0, 0, 5200);
    zeros.sectorsInTrack = 0;
    disk.tracks[1].sectors = {zeros};
    // Records with marks: a CRC error on a deleted sector, single density, a deleted-data
    // status (no error) with a short data length.
    disk.tracks[3].sectors = {makeSector(2, 1, 3, 3, 1024), makeSector(2, 1, 4, 1, 256),
                              makeSector(2, 1, 5, 3, 100)};
    disk.tracks[3].sectors[0].status = 0xB0;
    disk.tracks[3].sectors[0].deleted = DELETED_DATA_MARK;
    disk.tracks[3].sectors[1].density = SINGLE_DENSITY;
    disk.tracks[3].sectors[2].status = STATUS_DELETED_DATA;
    const std::string size = std::to_string(buildDisk(disk).size());
    disk.trackOffsetOverride[2] = static_cast<uint32_t>(buildDisk(disk).size()); // a walk from
                                                                                 // the file's end
    const std::string path = dir.write("long.d88", buildDisk(disk));
    const RunResult result = run({"d88info", path});
    EXPECT_EQ(result.status, 0);
    const std::string head = "disk 0  offset 0  size " + size +
                             "  media 2D (00)  name \"A\\x0aB\\x22C\\x5c\\x7f\"  set-id none  "
                             "read-errors 1\n"
                             "  track   0  records 600 00/00/00/00(length=0) 00/00/01/00(length=0)";
    const std::string tail = " 00/00/ff/00(length=0) (listing cut after 512 records)\n"
                             "  track   1  records 0\n"
                             "  track   2  records 0 (walk ends at the end of the file) (walk "
                             "runs past the end of the disk)\n"
                             "  track   3  records 3 02/01/03/03(status=b0,deleted) "
                             "02/01/04/01(single-density) 02/01/05/03(status=10,length=100)\n"
                             "set numbers: none\n"
                             "  disk 0 is no disk of this set: it has no ID sector\n"
                             "disk set: 1 disk, " +
                             TOO_FEW + JOIN_HINT;
    ASSERT_NE(result.out.find(consoleText(head)), std::string::npos) << result.out.substr(0, 300);
    EXPECT_EQ(result.out.substr(result.out.size() - consoleText(tail).size()), consoleText(tail));
}

namespace {

std::string hex2(unsigned value) {
    char text[3];
    snprintf(text, sizeof text, "%02x", value & 0xFF);
    return text;
}

// A track's line in d88info's text, from the tests' own reading of the bytes.
std::string trackLine(const ListedTrack& track) {
    std::string line = "  track " +
                       std::string(track.index < 10    ? "  "
                                   : track.index < 100 ? " "
                                                       : "") +
                       std::to_string(track.index) + "  records " +
                       std::to_string(track.records.size());
    for (size_t i = 0; i < track.records.size() && i < 512; ++i) {
        const ListedRecord& r = track.records[i];
        line += " " + hex2(r.c) + "/" + hex2(r.h) + "/" + hex2(r.r) + "/" + hex2(r.n);
        std::vector<std::string> marks;
        if (r.status != 0) {
            marks.push_back("status=" + hex2(r.status));
        }
        if (r.deleted == 0x10) {
            marks.push_back("deleted");
        }
        if (r.density == 0x40) {
            marks.push_back("single-density");
        }
        if (r.n >= 16 || r.length != 128 << r.n) {
            marks.push_back("length=" + std::to_string(r.length));
        }
        for (size_t m = 0; m < marks.size(); ++m) {
            line += (m == 0 ? "(" : ",") + marks[m] + (m + 1 == marks.size() ? ")" : "");
        }
    }
    line += track.records.size() > 512 ? " (listing cut after 512 records)" : "";
    line += track.end == ListedEnd::EndOfBytes ? " (walk ends at the end of the file)" : "";
    line += track.end == ListedEnd::RecordLimit ? " (walk ends at the limit of 65535 records)" : "";
    line += track.pastDiskEnd ? " (walk runs past the end of the disk)" : "";
    return line;
}

// A track as d88info's document gives it, from the tests' own reading of the bytes.
nlohmann::json trackJson(const ListedTrack& track) {
    nlohmann::json records = nlohmann::json::array();
    for (size_t i = 0; i < track.records.size() && i < 512; ++i) {
        const ListedRecord& r = track.records[i];
        records.push_back({{"c", r.c},
                           {"h", r.h},
                           {"r", r.r},
                           {"n", r.n},
                           {"status", r.status},
                           {"deleted", r.deleted == 0x10},
                           {"single_density", r.density == 0x40},
                           {"length", r.length}});
    }
    const char* ends[] = {"track-count", "zero-count", "end-of-file", "record-limit"};
    return {{"index", track.index},
            {"record_count", track.records.size()},
            {"records", records},
            {"listing_cut", track.records.size() > 512},
            {"end", ends[static_cast<int>(track.end)]},
            {"past_disk_end", track.pastDiskEnd}};
}

// Every image whose listing is checked: the damaged images of both layouts, the sample sets,
// and images whose walks end in every way.
std::vector<std::pair<std::string, std::vector<uint8_t>>> listedImages() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> images;
    for (const DirectoryLayout* layout : {&LAYOUT_A, &LAYOUT_B}) {
        for (DamagedCase& damaged : damagedCases(*layout)) {
            images.emplace_back(layout->letter + std::string(": ") + damaged.name,
                                std::move(damaged.image));
        }
        for (const bool full : {false, true}) {
            std::vector<DiskPlan> disks;
            EXPECT_TRUE(buildSampleDisks(full ? fullSampleSet(*layout, 5) : smallSampleSet(*layout),
                                         disks));
            images.emplace_back(layout->letter + std::string(full ? ": full" : ": small") +
                                    " sample set",
                                buildImage(disks));
        }
    }
    DiskPlan walks; // a walk of every end, records with every mark, and a walk past the disk
    for (int i = 0; i < 70000; ++i) { // no count equals its position: the walk's limit ends it
        walks.tracks[0].sectors.push_back(makeSector(i % 80, 0, i % 256, 0, 0));
        walks.tracks[0].sectors.back().sectorsInTrack = i == 65534 ? 65534 : 65535;
    }
    walks.tracks[1].sectors = {makeSector(0, 0, 1, 3, 1024), makeSector(0, 0, 2, 1, 256),
                               makeSector(0, 0, 3, 7, 40), makeSector(0, 0, 4, 20, 0)};
    walks.tracks[1].sectors[0].status = 0xB0;
    walks.tracks[1].sectors[0].deleted = DELETED_DATA_MARK;
    walks.tracks[1].sectors[1].density = SINGLE_DENSITY;
    walks.tracks[1].sectors[2].status = STATUS_DELETED_DATA;
    walks.tracks[2].sectors = {makeSector(1, 0, 1, 3, 100), makeSector(1, 0, 2, 3, 100)};
    walks.tracks[2].sectors[1].sectorsInTrack = 0;
    walks.tracks[3] = makeTrack(3, 600);
    walks.tracks[4] = makeTrack(4, 3);
    walks.tracks[4].sectors[0].sectorsInTrack = 1;
    const uint32_t size = static_cast<uint32_t>(buildDisk(walks).size());
    walks.trackOffsetOverride[5] = size;      // listed, and walked from the end of the file
    walks.trackOffsetOverride[6] = size + 1;  // past the disk: not listed
    walks.trackOffsetOverride[7] = size - 10; // a header cut by the end of the file
    DiskPlan next = walks; // its track 5 is its last record, and the walk goes on into the next
    next.trackOffsetOverride[5] = size - 1040;
    next.trackOffsetOverride.erase(6);
    next.trackOffsetOverride.erase(7);
    images.emplace_back("walks of every end", buildImage({next, walks}));
    return images;
}

} // namespace

// d88info lists the tracks, as text and in its document, as the tests' own reading of the bytes
// finds them (support/TrackListing.h): for every damaged image and the sample sets.
TEST_F(Info, TrackListingsAgreeWithAnIndependentReader) {
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> images = listedImages();
    std::vector<std::string> refused;
    for (const auto& [name, bytes] : images) {
        SCOPED_TRACE(name);
        const std::string path = dir.write("listed.d88", bytes);
        const std::vector<ListedDisk> disks = listTracks(bytes);
        const RunResult text = run({"d88info", path});
        const RunResult json = run({"d88info", "--json", path});
        if (text.out.empty()) {
            EXPECT_NE(text.status, 0) << "no listing, and no refusal";
            EXPECT_EQ(json.out, "");
            refused.push_back(name);
            continue;
        }
        // The text: each disk's line starts with its offset and size and ends with its records
        // stored with an error, and its track lines follow it.
        std::vector<std::string> diskLines;
        std::vector<std::vector<std::string>> trackLines;
        size_t start = 0;
        const std::string out = text.out;
        while (start < out.size()) {
            const size_t end = out.find('\n', start);
            std::string line = out.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.rfind("disk ", 0) == 0 && line.find("  offset ") != std::string::npos) {
                diskLines.push_back(line);
                trackLines.emplace_back();
            } else if (line.rfind("  track ", 0) == 0 && !trackLines.empty()) {
                trackLines.back().push_back(line);
            }
            start = end == std::string::npos ? out.size() : end + 1;
        }
        ASSERT_EQ(diskLines.size(), disks.size());
        const nlohmann::json document = nlohmann::json::parse(json.out, nullptr, false);
        ASSERT_FALSE(document.is_discarded());
        ASSERT_EQ(document["disks"].size(), disks.size());
        for (size_t d = 0; d < disks.size(); ++d) {
            const ListedDisk& disk = disks[d];
            SCOPED_TRACE("disk " + std::to_string(d));
            const std::string head = "disk " + std::to_string(d) + "  offset " +
                                     std::to_string(disk.offset) + "  size " +
                                     std::to_string(disk.size) + "  ";
            EXPECT_EQ(diskLines[d].rfind(head, 0), 0u) << diskLines[d];
            const std::string errors = "  read-errors " + std::to_string(disk.readErrors);
            EXPECT_EQ(diskLines[d].size() >= errors.size() &&
                          diskLines[d].compare(diskLines[d].size() - errors.size(), errors.size(),
                                               errors) == 0,
                      disk.readErrors > 0)
                << diskLines[d];
            std::vector<std::string> lines;
            nlohmann::json tracks = nlohmann::json::array();
            for (const ListedTrack& track : disk.tracks) {
                lines.push_back(trackLine(track));
                tracks.push_back(trackJson(track));
            }
            EXPECT_EQ(trackLines[d], lines);
            const nlohmann::json& listedDisk = document["disks"][d];
            EXPECT_EQ(listedDisk["offset"], disk.offset);
            EXPECT_EQ(listedDisk["size"], disk.size);
            EXPECT_EQ(listedDisk["read_errors"], disk.readErrors);
            EXPECT_EQ(listedDisk["tracks"], tracks);
        }
    }
    // Only the images whose first header is no disk's are refused.
    EXPECT_EQ(refused, (std::vector<std::string>{"a: cut in the first header", "a: disk size 0",
                                                 "b: cut in the first header", "b: disk size 0"}));
}

// The disk line says what a damaged header does to the file's reading: a size past the end of
// the file, a size of 0, bytes after the 64th disk or after the last one, a header that is no
// D88 disk's. A pipe is refused, and so is a file that is no D88 image.
TEST_F(Info, DiskLinesNameDamagedHeaders) {
    DiskPlan plain; // one formatted track of 5 sectors: 688 + 5 * 1040 bytes
    plain.name = "D";
    plain.mediaType = MEDIA_2DD;
    plain.tracks[0] = makeTrack(0);
    std::vector<uint8_t> pastEnd = buildDisk(plain);
    putU32(pastEnd, 0x1C, 1439350655);
    std::vector<uint8_t> zero = buildDisk(plain); // a second disk whose size field was lost
    std::vector<uint8_t> lost = buildDisk(plain);
    putU32(lost, 0x1C, 0);
    zero.insert(zero.end(), lost.begin(), lost.end());
    std::vector<uint8_t> many = buildImage(std::vector<DiskPlan>(67, plain));
    std::vector<uint8_t> trailing = buildImage({plain, plain});
    trailing.resize(trailing.size() + 100, 0xA5);
    std::vector<uint8_t> junk = buildImage({plain});
    junk.resize(junk.size() + 1000, 'x');
    DiskPlan high = plain;
    high.mediaType = MEDIA_2HD;
    std::vector<uint8_t> writeProtected = buildImage({plain, high});
    writeProtected[5888 + WRITE_PROTECT_OFFSET] = WRITE_PROTECTED;
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> rows = {
        {writeProtected, "disk 1  offset 5888  size 5888  media 2HD (20)  name \"D\"  "
                         "write-protected  set-id none\n"},
        {pastEnd, "disk 0  offset 0  size 1439350655  media 2DD (10)  name \"D\"  set-id none  "
                  "(size points 1439344767 bytes past the end of the file)\n"},
        {zero, "disk 63  offset 5888  size 0  media 2DD (10)  name \"D\"  set-id none  (size 0: "
               "the next disk starts at the same offset)  (not a D88 disk: its header does not "
               "agree with itself)\n"},
        {many, "disk 63  offset 370944  size 5888  media 2DD (10)  name \"D\"  set-id none  "
               "(17664 bytes after the 64th disk are not read)\n"},
        {trailing, "disk 1  offset 5888  size 5888  media 2DD (10)  name \"D\"  set-id none  (100 "
                   "bytes after the last disk, too few for a disk header)\n"},
        {junk, "disk 1  offset 5888  size 2021161080  media unknown (78)  name "
               "\"xxxxxxxxxxxxxxxx\"  set-id none  (size points 2021160080 bytes "
               "past the end of the file)  (not a D88 disk: its header does not agree with "
               "itself)\n"}};
    for (const auto& [bytes, line] : rows) {
        const RunResult result = run({"d88info", dir.write("damaged.d88", bytes)});
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find(consoleText(line)), std::string::npos) << result.out;
    }
    // The JSON says the same of the media and the flag.
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> media = {
        {writeProtected, R"([[16,"2DD",false],[32,"2HD",true]])"},
        {junk, R"([[16,"2DD",false],[120,null,false]])"}};
    for (const auto& [bytes, expected] : media) {
        const nlohmann::json document = nlohmann::json::parse(
            run({"d88info", "--json", dir.write("damaged.d88", bytes)}).out, nullptr, false);
        ASSERT_FALSE(document.is_discarded());
        nlohmann::json got = nlohmann::json::array();
        for (const nlohmann::json& disk : document["disks"]) {
            got.push_back({disk["media"], disk["media_name"], disk["write_protect"]});
        }
        EXPECT_EQ(got, nlohmann::json::parse(expected));
    }
    if (!usesLauncher()) { // a shell pipe into the Linux program
        RunOptions options;
        options.cwd = dir.path();
        const std::string image = dir.write("set.d88", many);
        const RunResult piped = runProgram(
            "/bin/sh", {"sh", "-c", "cat '" + image + "' | '" + infoProgram() + "' /dev/stdin"},
            options);
        EXPECT_EQ(piped.status, 1);
        EXPECT_EQ(piped.out, "");
        EXPECT_EQ(piped.err, "d88info: cannot read '/dev/stdin': it is a pipe or a terminal, and "
                             "an image is read by seeking; save it to a file first\n");
        // A FIFO that no one writes is refused at once, and so is a device.
        ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
        EXPECT_EQ(run({"d88info", dir.file("fifo")}).err,
                  "d88info: cannot read '" + dir.file("fifo") +
                      "': it is a pipe or a terminal, and an image is read by seeking; save it to "
                      "a file first\n");
        const RunResult device = run({"d88info", "/dev/null"});
        EXPECT_EQ(device.status, 1);
        EXPECT_EQ(device.err,
                  "d88info: cannot read '/dev/null': it is a device, not an image file; "
                  "save the image to a file first\n");
    }
}

// A file is a D88 image when its first header agrees with itself and with the file: an empty
// file, a text or zeros are not, alone or among disk files; a zip's members that are not are
// left out and named, and a file that starts as a zip but is none is said to be so. The Windows
// build refuses a zip.
TEST_F(Info, FilesThatAreNoImage) {
    std::string text;
    for (int line = 0; text.size() < 2000; ++line) {
        text += "# README line " + std::to_string(line) + ": what the tools do, 0123456789\n";
    }
    std::vector<uint8_t> zip = {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0};
    zip.resize(3000, 0x5A);
    DiskPlan disk;
    disk.tracks[0] = makeTrack(0);
    const std::string good = dir.write("good.d88", buildDisk(disk));
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> rows = {
        {"empty.d88", {}},
        {"README.md", std::vector<uint8_t>(text.begin(), text.end())},
        {"zeros.d88", std::vector<uint8_t>(4096, 0)},
        {"set.zip", zip},
    };
    const std::string notUnpacked = "' is a zip, which this Windows build does not unpack: "
                                    "extract it first (Explorer's Extract All) and give d88info "
                                    "the disk files it holds\n";
    for (const auto& [name, bytes] : rows) {
        const std::string path = dir.write(name, bytes);
        const std::string said =
            name != "set.zip" ? "' is not a D88 image\n"
                              : "' is not a D88 image, nor a zip whose directory can be read\n";
        for (const std::vector<std::string>& words :
             {std::vector<std::string>{"d88info", path}, {"d88info", good, path}}) {
            const RunResult result = run(words);
            EXPECT_EQ(result.status, 1) << name;
            EXPECT_EQ(result.out, "") << name;
            EXPECT_EQ(result.err.rfind(consoleText("d88info: '" + path + said), 0), 0u)
                << result.err;
        }
    }
    const std::string diskZip = dir.write(
        "disk.zip", zipBytes({{"README.md", std::vector<uint8_t>(text.begin(), text.end())},
                              {"good.d88", readFileBytes(good)}}));
    const RunResult listed = run({"d88info", diskZip});
    if (usesLauncher()) {
        EXPECT_EQ(listed.status, 1);
        EXPECT_EQ(listed.err, consoleText("d88info: '" + diskZip + notUnpacked));
    } else {
        EXPECT_EQ(listed.status, 0);
        EXPECT_EQ(listed.out.rfind(diskZip + "/good.d88: 1 disk\n", 0), 0u) << listed.out;
        EXPECT_EQ(listed.err,
                  "d88info: left out of '" + diskZip + "', as it holds no D88 disk: README.md\n");
    }
}

TEST_F(Info, CommandLine) {
    const std::string path = dir.write("two.d88", twoDisks());
    const RunResult help = run({"d88info", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(consoleText("usage: d88info [--disk N | --set a|b] [--names "
                                         "utf-8|shift_jis] [--json]\n"),
                             0),
              0u);
    EXPECT_NE(help.out.find("--version"), std::string::npos);
    expectWithin80Columns(help.out);
    const RunResult version = run({"d88info", "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, consoleText(std::string("d88info ") + D88_VERSION + "\n"));

    const std::string hint = "\nTry 'd88info --help' for more information.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
        {{"d88info"}, "no image given"},
        {{"d88info", "--disk", "abc", path}, "--disk needs a disk number from 0 to 63, got 'abc'"},
        {{"d88info", "--disk=-1", path}, "--disk needs a disk number from 0 to 63, got '-1'"},
        {{"d88info", path, "--disk"}, "--disk needs a disk number from 0 to 63"},
        {{"d88info", "--disk", "1", "--disk", "0", path}, "--disk given twice"},
        {{"d88info", "--set", "a", "--set=a", path}, "--set given twice"},
        {{"d88info", "--set", "c", path}, "--set needs a or b, got 'c'"},
        {{"d88info", "--names", "latin1", path}, "--names needs utf-8 or shift_jis, got 'latin1'"},
        {{"d88info", "--set", "a", "--disk", "0", path},
         "--disk and --set cannot be used together"},
        {{"d88info", "--json=yes", path}, "--json takes no value"},
        {{"d88info", "-j", path}, "unknown option '-j'"},
        {{"d88info", "--bogus\x1b[2J", path}, "unknown option '--bogus\x1b[2J'"},
        {{"d88info", "--sums", "sha256", path}, "--sums needs --set a or b"},
        {{"d88info", "--set", "a", "--sums", "md5", path},
         "--sums needs sha256 or sha1, got 'md5'"},
        {{"d88info", "--set", "a", "--sums", "sha1", "--json", path},
         "--sums and --json cannot be used together"},
        {{"d88info", "--set", "a", "--names", "latin1", path},
         "--names needs utf-8 or shift_jis, got 'latin1'"}};
    for (const auto& [words, message] : errors) {
        const RunResult result = run(words);
        EXPECT_EQ(result.status, 2) << message;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, consoleText("d88info: " + message + hint));
    }
    // A reader that left (`| head`) ends the program as it ends ls: quietly by SIGPIPE when
    // that is left to its default action, with a message when it is ignored. Windows has no
    // such signal: the program ends quietly.
    for (const bool ignored : {false, true}) {
        RunOptions closed;
        closed.cwd = dir.path();
        closed.closedPipe = true;
        closed.pipeSignalIgnored = ignored;
        const RunResult result = runProgram(infoProgram(), {"d88info", path}, closed);
        EXPECT_EQ(result.status, usesLauncher() ? 0 : ignored ? 1 : 128 + SIGPIPE);
        EXPECT_EQ(result.err,
                  ignored && !usesLauncher()
                      ? "d88info: cannot write standard output: " + systemMessage(EPIPE) + "\n"
                      : "");
    }
    const RunResult missing = run({"d88info", path, dir.file("missing.d88")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, consoleText("d88info: cannot open '" + dir.file("missing.d88") +
                                       "': " + systemMessage(ENOENT) + "\n"));
    const RunResult folder = run({"d88info", dir.path()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err, consoleText("d88info: cannot open '" + dir.path() +
                                      "': " + systemMessage(EISDIR) + "\n"));
    const RunResult noDisk = run({"d88info", "--disk", "2", path});
    EXPECT_EQ(noDisk.status, 1);
    EXPECT_EQ(noDisk.err, consoleText("d88info: no disk 2, the image holds disks 0 to 1\n"));
    const RunResult tooFew = run({"d88info", "--set", "b", path});
    EXPECT_EQ(tooFew.status, 1) << "the status of d88extract-b on it";
    EXPECT_EQ(tooFew.out,
              consoleText(path + ": 2 disks, directory in the layout of d88extract-b\n" +
                          "d88extract-b stops here with its too-few-disks message: it "
                          "needs Disk A to Disk D\n" +
                          JOIN_HINT));
}

namespace {

using SetPlan = LayoutTest;

std::string infoSet(const DirectoryLayout& layout) {
    return layout.firstEntryOffset == LAYOUT_A.firstEntryOffset ? "a" : "b";
}

// The lines of `text` whose outcome is `word` (or, given, `other`), in order, without the index
// in front and the outcome behind: what the extraction would print for them.
std::string reportLinesOf(const std::string& text, const std::string& word,
                          const std::string& other = "") {
    std::string lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        size_t at = line.find("  " + word);
        if (at == std::string::npos && !other.empty()) {
            at = line.find("  " + other);
        }
        if (at != std::string::npos && line.size() > 5 && line[3] == ' ' && line[4] == ' ') {
            lines += line.substr(5, at - 5) + "\n";
        }
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

} // namespace

// The sample set of each layout, shown with --set in both layouts, and the layout line.
TEST_P(SetPlan, SampleSetInBothLayouts) {
    std::vector<DiskPlan> plans;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(layout()), plans));
    root.write("image.d88", buildImage(plans));
    // A folder named by code page 1252's reading of 0x95 must not catch 表示.TXT (95 5C 8E A6):
    // 0x5C is no separator inside a Shift_JIS character, whatever code page Windows runs with.
    const std::string bullet = work + "/\xE2\x80\xA2";
    ASSERT_EQ(mkdir(bullet.c_str(), 0700), 0);
    const RunResult extraction = runWords(layout(), {layout().programName, imagePath});
    ASSERT_EQ(extraction.status, 0) << extraction.err;
    EXPECT_TRUE(listDirectory(bullet).empty());
    EXPECT_TRUE(fileExists(work + "/" + hostFileName("\x95\x5C\x8E\xA6.TXT")));
    EXPECT_EQ(listDirectory(work).size(), 8u) << "the seven files and the folder";
    RunOptions options;
    options.cwd = work;
    const RunResult same = runProgram(
        infoProgram(), {"d88info", "--set", infoSet(layout()), "--names", "shift_jis", imagePath},
        options);
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(consoleText(reportLinesOf(same.out, "extract")), extraction.out);
    // Decoded, the names are as d88extract writes them in a UTF-8 locale (on Windows they are
    // always the host's).
    const RunResult decoded =
        runProgram(infoProgram(),
                   {"d88info", "--set", infoSet(layout()), "--names", "utf-8", imagePath}, options);
    EXPECT_NE(decoded.out.find(usesLauncher()
                                   ? consoleText("\x83\x66\x81\x5B\x83\x5E.DAT    DISK:03")
                                   : "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.DAT  DISK:03"),
              std::string::npos)
        << decoded.out;
    EXPECT_NE(same.out.find(consoleText("7 files to write, 75776 bytes; 0 entries passed over\n")),
              std::string::npos)
        << same.out;
    const std::string other = infoSet(layout()) == "a" ? "b" : "a";
    const RunResult crossed =
        runProgram(infoProgram(), {"d88info", "--set", other, imagePath}, options);
    EXPECT_EQ(crossed.status, 1) << "read in the other layout, the set is not whole";
    EXPECT_EQ(reportLinesOf(crossed.out, "extract"), "");
    EXPECT_NE(crossed.out.find("0 files to write, 0 bytes; "), std::string::npos) << crossed.out;
    const RunResult plain = runProgram(infoProgram(), {"d88info", imagePath}, options);
    const std::string line =
        "disk set: layout " + infoSet(layout()) + " (" + layout().programName + "), 7 files\n";
    EXPECT_EQ(plain.out.substr(plain.out.size() - consoleText(line).size()), consoleText(line));
}

// A damaged set where every outcome appears once, and three entries share one name: the
// extract and incomplete lines are what the extraction prints, and d88info writes nothing.
TEST_P(SetPlan, EveryOutcomeMatchesTheExtraction) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "WHOLE.BIN", 30, 1, 2, 0);
    set.setEntry(entryOffset(1), "SHORT.BIN", 40, 1, 3, 1);
    set.setEntry(entryOffset(2), "EMPTY.BIN", 30, 1, 0, 0);
    set.setEntry(entryOffset(3), "NODISK.BIN", 30, 1, 1, 9);
    set.setEntry(entryOffset(4), "MISSING.BIN", 60, 1, 1, 0);
    set.setEntry(entryOffset(5), "../UNSAFE", 30, 1, 1, 0);
    set.setEntry(entryOffset(6), ".", 30, 1, 1, 0);
    set.setEntry(entryOffset(7), "..", 30, 1, 1, 0);
    set.setEntry(entryOffset(8), "WHOLE.BIN", 30, 1, 1, 0); // replaces entry 0's file
    set.setEntry(entryOffset(9), "WHOLE.BIN", 30, 1, 1, 0); // and 9 replaces 8's, not 0's
    set.putFile(0, 30, 1, patternBytes(2, 1));
    set.putFile(1, 40, 1, patternBytes(3, 2));
    set.disks[1].tracks[40].sectors[2].data.resize(1000);
    set.disks[0].tracks[30].sectors[1].status = 0xB0;
    set.disks[0].tracks[1].sectors[2].status = 0xF0; // the third directory sector
    root.write("image.d88", set.build());
    RunOptions options;
    options.cwd = work;
    const RunResult info =
        runProgram(infoProgram(), {"d88info", "--set", infoSet(layout()), imagePath}, options);
    EXPECT_EQ(info.status, 1) << "the status of the extraction";
    EXPECT_TRUE(listDirectory(work).empty());
    const std::string entries = layout().letter == std::string("a") ? "100 to 163" : "101 to 164";
    EXPECT_EQ(
        info.out,
        consoleText(imagePath + ": 4 disks, directory in the layout of " + layout().programName +
                    "\n" +
                    "Disk J (ID byte 0a) is in none of the files: 1 entry needs it: "
                    "'NODISK.BIN'\n"
                    "the directory's sector 3 of 3 (disk 0, track 1) is stored with a read-error "
                    "status: entries " +
                    entries + " may be wrong\n" +
                    "  0  WHOLE.BIN     DISK:01 TRK:1e SEC:01 SIZE:800  extract  read-errors 1/2"
                    "  replaced-by 8\n"
                    "  1  SHORT.BIN     DISK:02 TRK:28 SEC:01 SIZE:c00  incomplete 2048/3072\n"
                    "  2  EMPTY.BIN     DISK:01 TRK:1e SEC:01 SIZE:00  empty\n"
                    "  3  NODISK.BIN    DISK:0a TRK:1e SEC:01 SIZE:400  no-disk\n"
                    "  4  MISSING.BIN   DISK:01 TRK:3c SEC:01 SIZE:400  missing\n"
                    "  5  ../UNSAFE     DISK:01 TRK:1e SEC:01 SIZE:400  unsafe\n"
                    "  6  .             DISK:01 TRK:1e SEC:01 SIZE:400  uncreatable\n"
                    "  7  ..            DISK:01 TRK:1e SEC:01 SIZE:400  uncreatable\n"
                    "  8  WHOLE.BIN     DISK:01 TRK:1e SEC:01 SIZE:400  extract  replaced-by 9\n"
                    "  9  WHOLE.BIN     DISK:01 TRK:1e SEC:01 SIZE:400  extract\n"
                    "4 files to write, 7168 bytes, 1 of them incomplete, 1 of them with read "
                    "errors; 5 entries not written; 1 entry passed over\n"));
    // The JSON holds the same decisions.
    const RunResult json = runProgram(
        infoProgram(), {"d88info", "--set", infoSet(layout()), "--json", imagePath}, options);
    const nlohmann::json plan = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_FALSE(plan.is_discarded()) << json.out;
    std::string outcomes;
    for (const auto& entry : plan["entries"]) {
        outcomes += entry["outcome"].get<std::string>() + " ";
    }
    EXPECT_EQ(outcomes,
              "extract incomplete empty no-disk missing unsafe uncreatable uncreatable extract "
              "extract ");
    EXPECT_EQ(plan["entries"][0]["replaced_by"], 8);
    EXPECT_EQ(plan["entries"][8]["replaces"], 0);
    EXPECT_EQ(plan["entries"][8]["replaced_by"], 9);
    EXPECT_EQ(plan["entries"][9]["replaces"], 8);
    EXPECT_EQ(plan["entries"][1]["bytes_read"], 2048);
    EXPECT_EQ(plan["summary"]["files"], 4);
    const RunResult extraction = runWords(layout(), {layout().programName, imagePath});
    EXPECT_EQ(extraction.status, 1);
    EXPECT_EQ(consoleText(reportLinesOf(info.out, "extract", "incomplete")), extraction.out);
    EXPECT_EQ(extraction.err,
              consoleText("read errors in the directory: 1 of 3 sectors stored with an error "
                          "status\n"
                          "read errors in file 'WHOLE.BIN': 1 of 2 sectors stored with an error "
                          "status\n"
                          "incomplete file 'SHORT.BIN': 2048 of 3072 bytes read\n"
                          "unsafe file name '../UNSAFE', not written\n"
                          "cannot create file '.': " +
                          systemMessage(EISDIR) + "\n" +
                          "cannot create file '..': " + systemMessage(EISDIR) + "\n" +
                          "file 'WHOLE.BIN' replaces the earlier file 'WHOLE.BIN'\n"
                          "file 'WHOLE.BIN' replaces the earlier file 'WHOLE.BIN'\n"));
}

// The lines that tell which layout fits: one file in each layout (singular, both named), a Disk
// A that is not first (the first such disk named, and no hint where a layout yields files), and
// the ID byte of a disk whose ID sector cannot be read, which must not take that of the disk
// before it.
TEST_F(Info, LayoutLineAndHints) {
    DiskSetImage both(4);
    both.setEntry(LAYOUT_A.firstEntryOffset, "AA.BIN", 30, 1, 1, 0);
    both.setEntry(LAYOUT_B.firstEntryOffset + 16 * 10, "BB.BIN", 31, 1, 1, 0);
    both.putFile(0, 30, 1, patternBytes(1, 1));
    both.putFile(0, 31, 1, patternBytes(1, 2));
    both.disks[0].name = "SET DISK 1";
    both.disks[1].name = "SET DISK 2";
    both.disks[1].tracks.erase(79);
    DiskSetImage swapped(4);
    swapped.disks[0].tracks[79].sectors[4].data[0] = 2;
    swapped.disks[1].tracks[79].sectors[4].data[0] = 1;
    DiskSetImage twice = swapped; // Disk A given twice after disk 0: the first is named
    twice.disks[2].tracks[79].sectors[4].data[0] = 1;
    DiskSetImage yields = swapped; // a file found although Disk A is not first: no hint
    yields.setEntry(LAYOUT_A.firstEntryOffset, "AA.BIN", 30, 1, 1, 0);
    yields.putFile(1, 30, 1, patternBytes(1, 1));
    const struct {
        std::vector<uint8_t> image;
        std::string lastLines;
    } cases[] = {
        {both.build(), "disk set: layout a (d88extract-a), 1 file; layout b (d88extract-b), 1 "
                       "file\n"},
        {swapped.build(), "disk set: no files in either layout\n  disk 1 carries set-id 01 (Disk "
                          "A), but d88extract-a and d88extract-b read the directory from disk 0: "
                          "put Disk A first, or use d88extract\n"},
        {twice.build(), "disk set: no files in either layout\n  disk 1 carries set-id 01 (Disk "
                        "A), but d88extract-a and d88extract-b read the directory from disk 0: "
                        "put Disk A first, or use d88extract\n"},
        {yields.build(), "disk set: layout a (d88extract-a), 1 file\n"},
    };
    for (const auto& row : cases) {
        const std::string path = dir.write("set.d88", row.image);
        const RunResult info = run({"d88info", path});
        EXPECT_EQ(info.status, 0);
        const std::string expected = consoleText(row.lastLines);
        ASSERT_GE(info.out.size(), expected.size());
        EXPECT_EQ(info.out.substr(info.out.size() - expected.size()), expected);
        // The JSON holds the hint exactly when the text shows it.
        const nlohmann::json json =
            nlohmann::json::parse(run({"d88info", "--json", path}).out, nullptr, false);
        ASSERT_FALSE(json.is_discarded());
        EXPECT_EQ(json["hints"]["disk_a_at"].is_null(),
                  row.lastLines.find("disk 1") == std::string::npos);
    }
    const std::string path = dir.write("set.d88", both.build());
    const RunResult info = run({"d88info", path});
    EXPECT_NE(info.out.find("SET DISK 1\"  set-id 01"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("SET DISK 2\"  set-id none"), std::string::npos) << info.out;
    DiskSetImage single(4);
    single.setEntry(LAYOUT_A.firstEntryOffset, "ONE.BIN", 30, 1, 1, 0);
    single.setEntry(LAYOUT_A.firstEntryOffset + 16, "NONE.BIN", 30, 1, 0, 0);
    single.putFile(0, 30, 1, patternBytes(1, 1));
    const RunResult set = run({"d88info", "--set", "a", dir.write("one.d88", single.build())});
    EXPECT_NE(set.out.find(consoleText("1 file to write, 1024 bytes; 1 entry passed over\n")),
              std::string::npos)
        << set.out;
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, SetPlan, ::testing::Values(&LAYOUT_A, &LAYOUT_B),
                         LayoutName());
