// d88update: the files that d88extract wrote, changed or not, put back into a new image, which
// is compared byte for byte with the image built again with the new bytes (and those sectors'
// statuses cleared); what is refused writes nothing.
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"
#include "support/PausedRun.h"
#include "support/ZipBytes.h"

#include "SampleDiskSet.h"
#include "UpdateCheck.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace d88;

namespace {

std::string programPath(const char* variable, const char* built) {
    const char* override = getenv(variable);
    return override != nullptr && *override != '\0' ? override : built;
}

// `program` (d88update or d88extract) with `words` after its name, in folder `cwd`.
RunResult run(const std::string& program, const std::string& cwd, std::vector<std::string> words,
              RunOptions options = {}) {
    const bool update = program == "d88update";
    words.insert(words.begin(), program);
    options.cwd = cwd;
    return runProgram(update ? programPath("D88_UPDATE", D88UPDATE_PATH)
                             : programPath("D88_EXTRACT", D88EXTRACT_PATH),
                      words, options);
}

std::vector<uint8_t> head(const std::vector<uint8_t>& bytes, size_t length) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(length));
}

// Puts `bytes` (whole sectors, or fewer bytes: zeros after) into disk `disk` from (track, r)
// on, as a put back writes them: each sector's status cleared.
void putBack(DiskSetImage& set, int disk, int track, int r, std::vector<uint8_t> bytes) {
    bytes.resize((bytes.size() + SECTOR_BYTES - 1) / SECTOR_BYTES * SECTOR_BYTES);
    for (size_t at = 0; at < bytes.size(); at += SECTOR_BYTES) {
        SectorPlan& sector = set.disks[static_cast<size_t>(disk)].tracks[track].sectors[r - 1];
        sector.data.assign(bytes.begin() + static_cast<long>(at),
                           bytes.begin() + static_cast<long>(at) + SECTOR_BYTES);
        sector.status = 0;
        track += r == LAST_SECTOR ? 1 : 0;
        r = r == LAST_SECTOR ? FIRST_SECTOR : r + 1;
    }
}

struct Update : ExtractFixture {
    void TestBody() override {}
    // Extracts `image` into work/dir with d88extract, as a user does first.
    void extractInto(const std::vector<uint8_t>& image) {
        root.write("image.d88", image);
        run("d88extract", work, {"-q", "-d", "dir", imagePath});
    }
    void change(const std::string& name, const std::vector<uint8_t>& bytes) {
        root.write("work/dir/" + name, bytes);
    }
};

using UpdateLayouts = LayoutTest;

} // namespace

// Extracted and put back unchanged, the sample sets give their images byte for byte; a full set
// with one file changed gives it in that file's sectors, also from an image too large to be held
// in memory (six disks), which is read and written a block at a time.
TEST_P(UpdateLayouts, TheFilesExtractedGiveTheImageBack) {
    for (const int full : {0, 4, 6}) {
        SCOPED_TRACE(full == 0 ? "small set" : std::to_string(full) + " disks");
        SampleSet sample = full > 0 ? fullSampleSet(layout(), full) : smallSampleSet(layout());
        std::vector<DiskPlan> disks;
        ASSERT_TRUE(buildSampleDisks(sample, disks));
        Update f;
        f.extractInto(buildImage(disks));
        const RunResult result =
            run("d88update", f.work, {"-o", "new.d88", "--from", "dir", f.imagePath});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, consoleText("d88update: 0 files put back; " +
                                          std::to_string(sample.files.size()) +
                                          " unchanged; 'new.d88' holds the bytes given\n"));
        EXPECT_TRUE(readFileBytes(f.work + "/new.d88") == buildImage(disks));
        if (full == 0) {
            continue;
        }
        SampleFile& changed = sample.files.back();
        for (uint8_t& byte : changed.bytes) {
            byte ^= 0x5a;
        }
        f.change(changed.name, changed.bytes);
        remove((f.work + "/new.d88").c_str());
        const RunResult again =
            run("d88update", f.work, {"-q", "-o", "new.d88", "--from", "dir", f.imagePath});
        EXPECT_EQ(again.status, 0) << again.err;
        ASSERT_TRUE(buildSampleDisks(sample, disks));
        EXPECT_TRUE(readFileBytes(f.work + "/new.d88") == buildImage(disks));
    }
}

// Each row changes the folder that d88extract wrote and expects d88update's report, messages and
// status, and the image built again with the new bytes put back, or no image at all.
TEST_P(UpdateLayouts, ChangedFilesGoIntoTheirSectorsAndRefusalsWriteNothing) {
    DiskSetImage set(4);
    const auto entry = [&](int index, const char* name, int track, int sectors, int disk,
                           int seed) {
        set.setEntry(entryOffset(index), name, track, track == 40 ? 4 : 1, sectors, disk);
        set.putFile(disk, track, track == 40 ? 4 : 1, patternBytes(sectors, seed));
    };
    entry(0, "A.BIN", 30, 3, 0, 1);
    entry(1, "B.BIN", 32, 2, 1, 2);
    entry(2, "SAME.BIN", 34, 1, 0, 3);
    entry(3, "SAME.BIN", 36, 1, 0, 4);
    entry(4, "HOLE.BIN", 40, 3, 0, 5);                      // track 40 R = 4, 5, track 41 R = 1
    set.setEntry(entryOffset(5), "SHARE.BIN", 30, 3, 1, 0); // A.BIN's last sector
    set.disks[0].tracks[30].sectors[1].status = 0xB0;       // read with a CRC error
    set.disks[0].tracks[41].sectors.erase(set.disks[0].tracks[41].sectors.begin()); // missing
    const std::string sameLine = "entry 2 'SAME.BIN' left as it is: the file of that name is "
                                 "entry 3's\n";
    const std::string nothing = "d88update: nothing written: 1 file cannot be put back\n";
    const struct Row {
        const char* name;
        std::map<std::string, std::vector<uint8_t>> files; // put into the folder
        int status;
        std::string out, err;
        std::function<void(DiskSetImage&)> expected; // null: no image
        std::vector<std::string> options = {};       // before the others
    } rows[] = {
        {"unchanged",
         {},
         0,
         sameLine,
         "d88update: 0 files put back; 5 unchanged; 'new.d88' holds the bytes given\n",
         [](DiskSetImage&) {}},
        {"one file, a read error cleared",
         {{"A.BIN", patternBytes(3, 9)}},
         0,
         "A.BIN         DISK:01 TRK:1e SEC:01 SIZE:c00  3 sectors written, 3 changed, 1 status "
         "cleared\n"
         "  entry 5 'SHARE.BIN' shares its sectors and changes with it\n" +
             sameLine,
         "d88update: 1 file put back into 'new.d88'; 4 unchanged\n",
         [](DiskSetImage& s) { putBack(s, 0, 30, 1, patternBytes(3, 9)); }},
        {"a sector that another entry holds too",
         {{"SHARE.BIN", patternBytes(1, 10)}},
         0,
         sameLine + "SHARE.BIN     DISK:01 TRK:1e SEC:03 SIZE:400  1 sector written, 1 changed\n"
                    "  entry 0 'A.BIN' shares its sectors and changes with it\n",
         "d88update: 1 file put back into 'new.d88'; 4 unchanged\n",
         [](DiskSetImage& s) { putBack(s, 0, 30, 3, patternBytes(1, 10)); }},
        {"shorter, its first sector as it was, and a file of no entry",
         {{"B.BIN", head(patternBytes(2, 2), 1024)}, {"NOTES.TXT", {'x'}}},
         0,
         "B.BIN         DISK:02 TRK:20 SEC:01 SIZE:800  2 sectors written, 1 changed\n"
         "  shorter than its entry: 1024 of 2048 bytes, zeros after\n" +
             sameLine,
         "d88update: left out of 'dir', as no entry is saved under its name: 'NOTES.TXT'\n"
         "d88update: 1 file put back into 'new.d88'; 4 unchanged\n",
         [](DiskSetImage& s) { putBack(s, 1, 32, 1, zeroTail(patternBytes(2, 2), 1024)); }},
        {"longer",
         {{"B.BIN", std::vector<uint8_t>(2049, 7)}},
         1,
         sameLine,
         "d88update: 'B.BIN' needs 3 sectors; its entry holds 2\n" + nothing,
         nullptr},
        {"into a missing sector",
         {{"HOLE.BIN", std::vector<uint8_t>(2049, 7)}},
         1,
         sameLine,
         "d88update: 'HOLE.BIN' needs 3 sectors; the image holds 2 of its entry's 3, and a "
         "missing sector cannot be made\n" +
             nothing,
         nullptr},
        {"before a missing sector, zeros in it",
         {{"HOLE.BIN", zeroTail(std::vector<uint8_t>(3072, 7), 2048)}},
         0,
         sameLine + "HOLE.BIN      DISK:01 TRK:28 SEC:04 SIZE:c00  2 sectors written, 2 changed\n",
         "d88update: 1 file put back into 'new.d88'; 4 unchanged\n",
         [](DiskSetImage& s) { putBack(s, 0, 40, 4, std::vector<uint8_t>(2048, 7)); }},
        {"two entries of one name: the later one's",
         {{"SAME.BIN", patternBytes(1, 8)}},
         0,
         sameLine + "SAME.BIN      DISK:01 TRK:24 SEC:01 SIZE:400  1 sector written, 1 changed\n",
         "d88update: 1 file put back into 'new.d88'; 4 unchanged\n",
         [](DiskSetImage& s) { putBack(s, 0, 36, 1, patternBytes(1, 8)); }},
        {"only the files that -i chooses",
         {{"A.BIN", patternBytes(3, 9)}, {"B.BIN", patternBytes(2, 9)}},
         0,
         "B.BIN         DISK:02 TRK:20 SEC:01 SIZE:800  2 sectors written, 2 changed\n",
         "d88update: 1 file put back into 'new.d88'; 0 unchanged\n",
         [](DiskSetImage& s) { putBack(s, 1, 32, 1, patternBytes(2, 9)); },
         {"-i", "B*"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Update f;
        f.extractInto(set.build());
        for (const auto& [name, bytes] : row.files) {
            f.change(name, bytes);
        }
        std::vector<std::string> words = row.options;
        words.insert(words.end(),
                     {"-o", "new.d88", "--from", "dir", "--layout", layout().letter, f.imagePath});
        const RunResult result = run("d88update", f.work, words);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.out, consoleText(row.out));
        EXPECT_EQ(result.err, consoleText(row.err));
        DiskSetImage expected = set;
        if (row.expected) {
            row.expected(expected);
            EXPECT_TRUE(readFileBytes(f.work + "/new.d88") == expected.build());
        } else {
            EXPECT_FALSE(fileExists(f.work + "/new.d88"));
        }
        EXPECT_EQ(listDirectory(f.work).size(), row.expected ? 2u : 1u) << "nothing else";
    }
}

// A file whose sector is one of the directory's is refused even where the directory sector
// before it is missing (the entries after it, entry 40 among them, are read all the same); so is
// a file over the ID sector of a disk.
TEST_P(UpdateLayouts, AFileOverTheDirectoryOrAnIdSectorIsRefused) {
    const struct Row {
        const char* name;
        int disk, track, sector;
        const char* err;
    } rows[] = {
        {"the directory", 0, DIRECTORY_TRACK, DIRECTORY_SECTOR + 1,
         "'DIR.BIN' shares sectors with the set's directory\n"},
        {"disk 1's ID sector", 1, ID_TRACK, ID_SECTOR,
         "'DIR.BIN' shares sectors with the ID sector of disk 1\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DiskSetImage set(4);
        set.setEntry(entryOffset(40), "DIR.BIN", row.track, row.sector, 1, row.disk);
        std::vector<SectorPlan>& directory = set.disks[0].tracks[DIRECTORY_TRACK].sectors;
        directory.erase(directory.begin() + (DIRECTORY_SECTOR - 1));
        Update f;
        f.extractInto(set.build());
        f.change("DIR.BIN", std::vector<uint8_t>(SECTOR_BYTES, 7));
        const RunResult result =
            run("d88update", f.work,
                {"-q", "-o", "new.d88", "--from", "dir", "--layout", layout().letter, f.imagePath});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find(consoleText(row.err)), std::string::npos) << result.err;
        EXPECT_FALSE(fileExists(f.work + "/new.d88"));
    }
}

// The fingerprint that the read-back check compares, in each code that this machine runs (all
// giving the same values): taken in pieces it is that of the bytes joined, and one bit changed
// anywhere, two stripes or blocks swapped, a byte more or fewer tell bytes apart.
TEST(Update, TheFingerprintTellsBytesApart) {
    std::vector<uint8_t> bytes = patternBytes(8, 3); // two blocks of 16 stripes of 64 bytes
    std::vector<std::vector<uint8_t>> others;
    for (size_t at : {0, 7, 8, 15, 16, 63, 64, 1000, 1023, 1024, 2047}) {
        for (int bit : {0, 7}) {
            others.push_back(bytes);
            others.back()[at] ^= static_cast<uint8_t>(1 << bit);
        }
    }
    others.push_back(bytes); // the first two stripes swapped
    std::rotate(others.back().begin(), others.back().begin() + 64, others.back().begin() + 128);
    others.push_back(bytes); // the two blocks swapped
    std::rotate(others.back().begin(), others.back().begin() + 1024, others.back().end());
    others.push_back(bytes); // a word swapped with the one mixed into its lane
    std::swap_ranges(others.back().begin() + 8, others.back().begin() + 16,
                     others.back().begin() + 40);
    std::vector<uint8_t> tail = bytes; // 20 bytes after the stripes: two words and four bytes
    tail.resize(bytes.size() + 20, 5);
    for (size_t at : {bytes.size(), bytes.size() + 15, bytes.size() + 19}) {
        others.push_back(tail);
        others.back()[at] ^= 1;
    }
    others.push_back(tail);
    others.push_back(bytes);
    others.back().push_back(0);
    others.push_back(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    // A stripe whose words are the keys that they are XORed with: a product of zero must not
    // make the fingerprint blind to the words beside it or to the bytes before.
    std::vector<uint8_t> keyed = bytes;
    for (size_t k = 0; k < FINGERPRINT_LANES; ++k) {
        const uint64_t key = fingerprintKey(8 + k); // stripe 8 of the first block
        memcpy(keyed.data() + 8 * FINGERPRINT_STRIPE + 8 * k, &key, sizeof key);
    }
    for (size_t at : {0, 520, 530}) {
        others.push_back(keyed);
        others.back()[at] ^= 1;
    }
    others.push_back(keyed);
    others.push_back(std::vector<uint8_t>(bytes.size(), 0));
    others.push_back(std::vector<uint8_t>(bytes.size() + 64, 0));
    std::vector<uint64_t> portable;
    for (FingerprintCode code :
         {FingerprintCode::Portable, FingerprintCode::Sse2, FingerprintCode::Avx2}) {
        if (!fingerprintCodeRuns(code)) {
            continue;
        }
        const auto fingerprint = [code](const std::vector<uint8_t>& of, size_t cut) {
            Fingerprint print;
            startFingerprint(print, code);
            addToFingerprint(print, of.data(), cut);
            addToFingerprint(print, of.data() + cut, of.size() - cut);
            return finishFingerprint(print);
        };
        const uint64_t whole = fingerprint(bytes, 0);
        for (size_t cut : {1, 8, 63, 64, 127, 128, 129, 700, 1023, 1024, 2047}) {
            EXPECT_EQ(fingerprint(bytes, cut), whole) << "cut at " << cut;
            std::vector<uint8_t> zeros = bytes;
            zeros.resize(bytes.size() + 3000);
            Fingerprint print;
            startFingerprint(print, code);
            addToFingerprint(print, bytes.data(), cut);
            addToFingerprint(print, bytes.data() + cut, bytes.size() - cut);
            addZerosToFingerprint(print, 3000);
            EXPECT_EQ(finishFingerprint(print), fingerprint(zeros, 0));
        }
        std::vector<uint64_t> values{whole};
        std::set<uint64_t> seen{whole};
        for (const std::vector<uint8_t>& other : others) {
            values.push_back(fingerprint(other, 0));
            EXPECT_TRUE(seen.insert(values.back()).second)
                << "a fingerprint met twice, at row " << seen.size();
        }
        if (portable.empty()) {
            portable = values;
        }
        EXPECT_EQ(values, portable) << "code " << static_cast<int>(code);
    }
    EXPECT_EQ(bytesFingerprint(bytes.data(), bytes.size()), portable[0]);
}

// Which entries share bytes, decided from where their sectors lie alone: whether each one's file
// may be put in place at once, and what putting both back decides. Records (a 16-byte header, its
// status byte at 8, then a sector's data) follow each other from 10,000 on.
TEST(Update, SectorsThatShareBytesAreFoundWhereverTheyLie) {
    constexpr int RECORD = 16 + SECTOR_BYTES;
    const auto data = [](int record) { return int64_t{10000 + RECORD * record + 16}; };
    const auto record = [](int number) {
        return ByteSpan{10000 + RECORD * number, 10000 + RECORD * (number + 1)};
    };
    const struct Row {
        const char* name;
        std::vector<int64_t> a, b; // where each sector's data starts
        int lengthB;               // the bytes of each of b's sectors (0: a whole sector)
        int directory;             // the directory's record
        bool apartA, apartB;
        UpdateOutcome outcomeB;
        SharedWith sharedB;
    } rows[] = {
        // clang-format off
        {"runs one after the other", {data(0), data(1), data(2)}, {data(3), data(4)}, 0, 9,
         true, true, UpdateOutcome::PutBack, SharedWith::None},
        {"a sector of both", {data(0), data(1)}, {data(1), data(5)}, 0, 9,
         false, false, UpdateOutcome::SharedSectors, SharedWith::OtherFile},
        {"a sector twice in one", {data(0), data(1)}, {data(4), data(5), data(4)}, 0, 9,
         true, false, UpdateOutcome::SharedSectors, SharedWith::OtherFile},
        {"backwards, next to the directory", {data(2), data(1), data(0)}, {data(4)}, 0, 3,
         true, true, UpdateOutcome::PutBack, SharedWith::None},
        {"over the directory", {data(0)}, {data(1), data(2)}, 0, 2,
         true, false, UpdateOutcome::SharedSectors, SharedWith::Directory},
        {"a record inside another's data", {data(0)}, {data(0) + 100}, 0, 9,
         false, false, UpdateOutcome::SharedSectors, SharedWith::OtherFile},
        // The header between two sectors of a run holds bytes that no file changes (all but the
        // status byte): a short sector there, its status byte too, shares nothing.
        {"in a header after its status", {data(0), data(1)}, {data(1) - 7}, 4, 9,
         true, true, UpdateOutcome::PutBack, SharedWith::None},
        {"on a status byte", {data(0), data(1)}, {data(0) - 8}, 4, 9,
         false, false, UpdateOutcome::SharedSectors, SharedWith::OtherFile},
        // clang-format on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UpdateSet set{&LAYOUT_A, {}, {record(row.directory)}, {}};
        for (const std::vector<int64_t>* positions : {&row.a, &row.b}) {
            UpdateEntry entry{};
            entry.index = static_cast<int>(set.entries.size());
            entry.entry.size = static_cast<int64_t>(positions->size()) * SECTOR_BYTES;
            entry.owner = -1;
            for (int64_t position : *positions) {
                entry.sectors.push_back(StoredSector{
                    position, positions == &row.b && row.lengthB > 0 ? row.lengthB : SECTOR_BYTES,
                    0});
            }
            set.entries.push_back(entry);
        }
        EXPECT_EQ(entriesApart(set), (std::vector<bool>{row.apartA, row.apartB}));
        std::vector<FileUpdate> files(2);
        for (FileUpdate& file : files) {
            file.outcome = UpdateOutcome::PutBack;
            file.sharedWithEntry = -1;
        }
        const UpdatePlan plan = finishUpdatePlan(set, files);
        EXPECT_EQ(plan.files[0].outcome, UpdateOutcome::PutBack);
        EXPECT_EQ(plan.files[1].outcome, row.outcomeB);
        EXPECT_EQ(plan.files[1].sharedWith, row.sharedB);
    }
}

// The read-back check, in process: the image written as planned passes, and each row's change
// of it is found (A.BIN put back over a sector read with an error, B.BIN left as it was).
TEST(Update, TheReadBackCheckFindsWhatTheWrittenImageDoesNotHold) {
    DiskSetImage set(4);
    set.setEntry(LAYOUT_A.firstEntryOffset, "A.BIN", 30, 1, 2, 0);
    set.putFile(0, 30, 1, patternBytes(2, 1));
    set.setEntry(LAYOUT_A.firstEntryOffset + 16, "B.BIN", 32, 1, 1, 1);
    set.putFile(1, 32, 1, patternBytes(1, 2));
    set.disks[0].tracks[30].sectors[0].status = 0xB0;
    set.disks[1].tracks[32].sectors[0].status = 0x10; // deleted data: kept, as B.BIN is not put
    const std::vector<uint8_t> input = set.build();
    D88Image image;
    const ByteSource source = memorySource(input.data(), input.size());
    ASSERT_TRUE(image.openSources(&source, 1));
    const DiskChoice disks = identityDiskChoice(decideDiskSet(image, readIdSectors(image)));
    const std::unique_ptr<WalkBuffers> buffers(new WalkBuffers);
    const SaveTarget target{NameTarget::Zip, BYTE_NAME_RULES, {}};
    const SetPlan plan =
        planSet(image, disks, readDirectory(image, disks, *buffers), LAYOUT_A, target, *buffers);
    UpdateSet entries = readUpdateSet(image, disks, plan, {NameTarget::Zip}, BYTE_NAME_RULES,
                                      chooseFiles({}, PatternText::Utf8));
    ASSERT_EQ(entries.entries.size(), 2u);
    const std::vector<uint8_t> bytes = zeroTail(patternBytes(2, 9), 1500);
    std::vector<FileUpdate> files;
    for (UpdateEntry& entry : entries.entries) {
        locateEntrySectors(image, entry);
        const FolderFile file{files.empty() ? FolderFileState::Found : FolderFileState::None, 0,
                              static_cast<int64_t>(bytes.size()), 0};
        files.push_back(decideFileUpdate(image, entry, file, bytes.data(), nullptr));
    }
    const UpdatePlan planned = finishUpdatePlan(entries, files);
    ASSERT_EQ(planned.files[0].outcome, UpdateOutcome::PutBack);
    std::vector<KnownBytes> known{{true, bytesFingerprint(bytes.data(), bytes.size())}, {false, 0}};
    const std::vector<ByteChange> changes;
    NewBytes none = newBytesOf(changes, planned, NewFiles(2, nullptr));
    std::vector<uint8_t> scratch(MAX_FILE_BYTES);
    completeKnownBytes(image, entries, planned, none, known, scratch.data());
    std::vector<uint8_t> written = input;
    putEntryBytes(entries.entries[0], bytes.data(), written.data(),
                  static_cast<int64_t>(written.size()));
    const size_t a = static_cast<size_t>(entries.entries[0].sectors[1].position);
    const size_t b = static_cast<size_t>(entries.entries[1].sectors[0].position);
    const size_t status =
        static_cast<size_t>(statusPosition(entries.entries[0].sectors[0].position));
    const size_t name = static_cast<size_t>(entries.directory[0].start) + 16 +
                        static_cast<size_t>(LAYOUT_A.firstEntryOffset);
    const struct Row {
        const char* name;
        size_t at; // the byte changed, 0 for none
        uint8_t value;
        ReadBackProblem problem;
        size_t entry;
    } rows[] = {
        {"as planned", 0, 0, ReadBackProblem::None, 0},
        {"a byte of A.BIN's zeros", a + 1000, 1, ReadBackProblem::OtherBytes, 0},
        {"a byte of B.BIN", b + 5, static_cast<uint8_t>(written[b + 5] ^ 1),
         ReadBackProblem::OtherBytes, 1},
        {"a status left", status, 0xB0, ReadBackProblem::OtherPlaces, 0},
        {"a name in the directory", name, 'C', ReadBackProblem::OtherPlaces, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> changed = written;
        if (row.at > 0) {
            changed[row.at] = row.value;
        }
        D88Image back;
        const ByteSource bytesWritten = memorySource(changed.data(), changed.size());
        ASSERT_TRUE(back.openSources(&bytesWritten, 1));
        const ReadBack result = checkReadBack(back, entries, planned, known);
        EXPECT_EQ(result.problem, row.problem);
        EXPECT_EQ(result.entry, row.entry);
    }
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, UpdateLayouts, ::testing::Values(&LAYOUT_A, &LAYOUT_B),
                         LayoutName());

// From several disk files (given in another order, or in a zip), OUT is a folder that gets each
// file given under its own name with its new bytes, unchanged disks too.
TEST(Update, SeveralDiskFilesGiveAFolderOfNewDiskFiles) {
    SampleSet sample = smallSampleSet(LAYOUT_A);
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(sample, disks));
    sample.files[0].bytes = patternBytes(2, 7); // README.TXT, on Disk A
    std::vector<DiskPlan> changed;
    ASSERT_TRUE(buildSampleDisks(sample, changed));
    const std::vector<std::string> names = {"c.d88", "a.d88", "d.d88", "b.d88"};
    Update f;
    std::vector<std::string> words = {"-o", "out", "--from", "dir"};
    std::vector<ZipMember> members;
    for (const std::string& name : names) {
        const size_t disk = static_cast<size_t>(name[0] - 'a');
        words.push_back(f.root.write(name, buildDisk(disks[disk])));
        members.push_back({name, buildDisk(disks[disk])});
    }
    f.extractInto(buildImage(disks));
    f.change("README.TXT", patternBytes(2, 7));
    std::vector<std::vector<std::string>> runs = {words};
    if (!usesLauncher()) { // the Windows build reads no zip
        runs.push_back({"-o", "out", "--from", "dir", f.root.write("set.zip", zipBytes(members))});
    }
    for (const std::vector<std::string>& given : runs) {
        const RunResult result = run("d88update", f.work, given);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, consoleText("README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800  2 sectors "
                                          "written, 2 changed\n"));
        EXPECT_EQ(result.err, consoleText("d88update: 1 file put back into 'out'; 6 unchanged\n"));
        EXPECT_EQ(listDirectory(f.work + "/out"),
                  (std::vector<std::string>{"a.d88", "b.d88", "c.d88", "d.d88"}));
        for (const std::string& name : names) {
            EXPECT_TRUE(readFileBytes(f.work + "/out/" + name) ==
                        buildDisk(changed[static_cast<size_t>(name[0] - 'a')]))
                << name;
        }
    }
    // A write that fails leaves none of the new files, nor the folder made for them; a folder
    // that stood before stays.
    RunOptions limited;
    limited.fileSizeLimit = static_cast<long long>(buildDisk(disks[0]).size() / 2);
    ASSERT_EQ(mkdir((f.work + "/stood").c_str(), 0755), 0);
    for (const std::string out : {"made", "stood"}) {
        SCOPED_TRACE(out);
        std::vector<std::string> into = words;
        into[1] = out;
        EXPECT_EQ(run("d88update", f.work, into, limited).status, 1);
        EXPECT_EQ(fileExists(f.work + "/" + out), out == "stood");
        EXPECT_TRUE(listDirectory(f.work + "/stood").empty());
    }
}

// OUT is never a file that the run reads, nor a link to one; what cannot be written (a read-only
// folder, a size limit) leaves nothing behind, and an existing file is replaced only whole.
TEST(Update, TheOutputIsNeverAFileReadAndIsWrittenWholeOrNotAtAll) {
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    const std::vector<uint8_t> image = buildImage(disks);
    Update f;
    f.extractInto(image);
    f.change("README.TXT", patternBytes(2, 7));
    ASSERT_EQ(link(f.imagePath.c_str(), (f.work + "/hard.d88").c_str()), 0);
    ASSERT_EQ(symlink(f.imagePath.c_str(), (f.work + "/soft.d88").c_str()), 0);
    ASSERT_EQ(mkdir((f.work + "/ro").c_str(), 0555), 0);
    const std::string given = f.imagePath;
    const struct {
        std::string out;
        std::string err;
        RunOptions options;
    } rows[] = {
        {given, "cannot write '" + given + "': it is '" + given + "', which is read", {}},
        {"hard.d88", "cannot write 'hard.d88': it is '" + given + "', which is read", {}},
        {"soft.d88", "cannot write 'soft.d88': it is '" + given + "', which is read", {}},
        {"dir/README.TXT",
         "cannot write 'dir/README.TXT': it is 'dir/README.TXT', which is read",
         {}},
        {"ro/new.d88", "cannot write 'ro/new.d88': " + systemMessage(EACCES),
         [] {
             RunOptions user;
             user.asUnprivilegedUser = true;
             return user;
         }()},
        {"new.d88", "cannot write 'new.d88': " + systemMessage(EFBIG),
         [&] {
             RunOptions limited;
             limited.fileSizeLimit = static_cast<long long>(image.size() / 2);
             return limited;
         }()},
    };
    chmod(f.root.path().c_str(), 0755);
    chmod(f.work.c_str(), 0777);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.out);
        if (usesLauncher() && (row.options.asUnprivilegedUser || row.out == "soft.d88")) {
            continue; // wine's own files are this user's; its links are not Windows links
        }
        const std::vector<std::string> before = listDirectory(f.work);
        const RunResult result =
            run("d88update", f.work, {"-o", row.out, "--from", "dir", given}, row.options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, consoleText("d88update: " + row.err + "\n"));
        EXPECT_EQ(listDirectory(f.work), before);
        EXPECT_TRUE(listDirectory(f.work + "/ro").empty());
    }
    EXPECT_TRUE(readFileBytes(given) == image);
    // Over a file that stands there: replaced whole, its permissions kept.
    f.root.write("work/new.d88", {'o', 'l', 'd'});
    chmod((f.work + "/new.d88").c_str(), 0640);
    EXPECT_EQ(run("d88update", f.work, {"-q", "-o", "new.d88", "--from", "dir", given}).status, 0);
    struct stat info {};
    EXPECT_EQ(stat((f.work + "/new.d88").c_str(), &info), 0);
    if (!usesLauncher()) { // Windows keeps attributes, not permission bits
        EXPECT_EQ(info.st_mode & 0777, 0640u);
    }
    EXPECT_EQ(readFileBytes(f.work + "/new.d88").size(), image.size());
}

// A signal while the new files take their names leaves the files that stood there as they were
// and nothing of the new ones; the program ends by that signal.
TEST(Update, NoNewFileOutlivesASignal) {
    if (usesLauncher()) {
        GTEST_SKIP() << "Windows programs get no signals";
    }
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    Update f;
    f.extractInto(buildImage(disks));
    f.change("README.TXT", patternBytes(2, 7));
    const std::vector<std::string> words = {
        "-o",
        "out",
        "--from",
        "dir",
        f.root.write("a.d88", buildDisk(disks[0])),
        f.root.write("rest.d88", buildImage({disks[1], disks[2], disks[3]}))};
    ASSERT_EQ(mkdir((f.work + "/out").c_str(), 0700), 0);
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    // The signal before the first file takes its name: nothing new is left. Before the second:
    // it waits until both are named, so the folder is never half new.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        for (const int at : {1, 2}) {
            SCOPED_TRACE(std::to_string(signalNumber) + " before name " + std::to_string(at));
            f.root.write("work/out/a.d88", old);
            f.root.write("work/out/rest.d88", old);
            int pauses = 0;
            const RunResult result = runPaused(
                f.root.file("pause"), [&] { return run("d88update", f.work, words); },
                [&](pid_t pid) {
                    if (++pauses == at) {
                        kill(pid, signalNumber);
                    }
                });
            EXPECT_EQ(result.status, 128 + signalNumber);
            EXPECT_EQ(listDirectory(f.work + "/out"),
                      (std::vector<std::string>{"a.d88", "rest.d88"}));
            EXPECT_EQ(readFileBytes(f.work + "/out/a.d88") == old, at == 1);
            EXPECT_EQ(readFileBytes(f.work + "/out/rest.d88") == old, at == 1);
        }
    }
}

// Copies of one disk are refused; the command line is d88extract's convention.
TEST(Update, CopiesOfADiskAndCommandLineErrors) {
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_A), disks));
    Update f;
    f.extractInto(buildImage(disks));
    const std::string copy = f.root.write("b-copy.d88", buildDisk(disks[1]));
    const struct {
        std::vector<std::string> words;
        int status;
        std::string err;
    } rows[] = {
        {{"-o", "new.d88", "--from", "dir", f.imagePath, copy},
         1,
         "d88update: Disk B is given 2 times: give one copy of each disk\n"},
        {{"--from", "dir", f.imagePath},
         2,
         "d88update: no output given: name the new image with -o OUT\n"
         "Try 'd88update --help' for more information.\n"},
        {{"-o", "new.d88", f.imagePath},
         2,
         "d88update: no folder given: name the changed files' folder with --from DIR\n"
         "Try 'd88update --help' for more information.\n"},
        {{"--fr=dir", f.imagePath, "--out", "new.d88", "--lay", "c"},
         2,
         "d88update: --layout needs a or b, got 'c'\n"
         "Try 'd88update --help' for more information.\n"},
    };
    for (const auto& row : rows) {
        const RunResult result = run("d88update", f.work, row.words);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.err, consoleText(row.err));
        EXPECT_EQ(listDirectory(f.work), std::vector<std::string>{"dir"});
    }
    const RunResult help = run("d88update", f.work, {"--help"});
    EXPECT_EQ(help.status, 0);
    expectWithin80Columns(help.out);
}

// The whole document of a run that puts one file back, with the hashes before and after, of
// the file written and of its disks (tests/data/update-one-file.json).
TEST(Update, DocumentOfARunAsExpected) {
    if (usesLauncher()) {
        GTEST_SKIP() << "the data file holds the Linux program's document";
    }
    std::vector<DiskPlan> disks;
    ASSERT_TRUE(buildSampleDisks(smallSampleSet(LAYOUT_B), disks));
    Update f;
    f.extractInto(buildImage(disks));
    f.change("README.TXT", {'n', 'e', 'w'});
    const RunResult inRoot = run("d88update", f.root.path(),
                                 {"--json", "-o", "new.d88", "--from", "work/dir", "image.d88"});
    EXPECT_EQ(inRoot.status, 0) << inRoot.err;
    std::ifstream in(std::string(D88_TEST_DATA) + "/update-one-file.json");
    const nlohmann::ordered_json expected = nlohmann::ordered_json::parse(in, nullptr, false);
    const nlohmann::ordered_json got = nlohmann::ordered_json::parse(inRoot.out, nullptr, false);
    EXPECT_EQ(got, expected) << nlohmann::ordered_json::diff(expected, got).dump();
}
