// Which disk is which (decideDiskSet) and what several copies of a sector give (pickSector),
// called in process on images made here, one table each.
#include "support/DiskSetImage.h"
#include "support/OpenedImage.h"

#include "DiskSet.h"
#include "ImageBuilder.h"
#include "SectorMerge.h"
#include "SetFormat.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <vector>

using namespace d88;

namespace {

// The track of the one file sector that tells copies apart.
constexpr int FILE_TRACK = 30;

// A disk that carries `number` in a clean ID sector, with a file sector of its own (sector 1 of
// FILE_TRACK); Disk A has a directory track too.
DiskPlan setDisk(int number) {
    DiskPlan disk;
    disk.name = "SET DISK";
    if (number == DISK_A_ID) {
        disk.tracks[DIRECTORY_TRACK] = makeTrack(DIRECTORY_TRACK);
    }
    disk.tracks[FILE_TRACK] = makeTrack(FILE_TRACK);
    disk.tracks[FILE_TRACK].sectors[0].data = patternBytes(1, number);
    disk.tracks[ID_TRACK] = makeTrack(ID_TRACK);
    disk.tracks[ID_TRACK].sectors[ID_SECTOR - 1].data[0] = static_cast<uint8_t>(number);
    return disk;
}

// The bytes of one given file, from its pieces: "N" a disk carrying N, followed by its marks
// ('-' no ID sector, '!' the ID sector stored with a read-error status, '~' an ID record of 100
// bytes, 'b' other bytes in its file sector, 's' its file sector stored with a read-error
// status, 'h' another name in its header); "pad:N" N bytes of 0x1A; "text:N" N bytes of text;
// "trim:N" the file's last N bytes cut off.
std::vector<uint8_t> fileOf(const std::vector<std::string>& pieces) {
    std::vector<uint8_t> bytes;
    for (const std::string& piece : pieces) {
        const size_t colon = piece.find(':');
        if (colon != std::string::npos) {
            const std::string kind = piece.substr(0, colon);
            const size_t count = std::stoul(piece.substr(colon + 1));
            if (kind == "trim") {
                bytes.resize(bytes.size() - count);
            } else {
                bytes.insert(bytes.end(), count, kind == "pad" ? 0x1A : 'x');
            }
            continue;
        }
        size_t digits = 0;
        while (digits < piece.size() && isdigit(static_cast<unsigned char>(piece[digits]))) {
            ++digits;
        }
        DiskPlan disk = setDisk(std::stoi(piece.substr(0, digits)));
        std::vector<SectorPlan>& idTrack = disk.tracks[ID_TRACK].sectors;
        SectorPlan& fileSector = disk.tracks[FILE_TRACK].sectors[0];
        for (const char mark : piece.substr(digits)) {
            switch (mark) {
            case '-':
                idTrack.pop_back();
                break;
            case '!':
                idTrack.back().status = 0xB0;
                break;
            case '~':
                idTrack.back().data.resize(100);
                break;
            case 'b':
                fileSector.data[100] ^= 1;
                break;
            case 's':
                fileSector.status = 0xB0;
                break;
            case 'h':
                disk.name = "ANOTHER NAME";
                break;
            default:
                ADD_FAILURE() << "no mark " << mark;
            }
        }
        const std::vector<uint8_t> built = buildDisk(disk);
        bytes.insert(bytes.end(), built.begin(), built.end());
    }
    return bytes;
}

// `values` as a list, runs of consecutive values as "first-last"; "-" for none.
std::string listOf(const std::vector<int>& values) {
    std::string out;
    for (size_t i = 0; i < values.size();) {
        size_t last = i;
        while (last + 1 < values.size() && values[last + 1] == values[last] + 1) {
            ++last;
        }
        out += (out.empty() ? "" : " ") + std::to_string(values[i]) +
               (last > i ? "-" + std::to_string(values[last]) : "");
        i = last + 1;
    }
    return out.empty() ? "-" : out;
}

const char* reasonWord(UnreadReason reason) {
    switch (reason) {
    case UnreadReason::None:
        return "none";
    case UnreadReason::NotDisk:
        return "not-disk";
    case UnreadReason::TooShort:
        return "too-short";
    case UnreadReason::ReaderLimit:
        return "reader-limit";
    }
    return "?";
}

// Every fact of `facts`, in a line: each set number with its copies grouped by their sectors
// ("1:0,2|3": disks 0 and 2 alike, disk 3 other; "p" after a disk taken by its place, "m" as the
// one number missing), the disks
// that carry none, Disk A's index, then what is not "none": repeats of a file given again, stray
// bytes (file:length), files without a disk, files unread, where and why reading stops, and cut
// disks.
std::string describe(const DiskSetFacts& facts) {
    std::string numbers;
    for (const SetNumber& number : facts.numbers) {
        numbers += (numbers.empty() ? "" : " ") + std::to_string(number.id) + ":";
        std::vector<int> grouped;
        for (size_t g = 0; g < number.groups.size(); ++g) {
            for (size_t k = 0; k < number.groups[g].size(); ++k) {
                const int disk = number.groups[g][k];
                numbers += (k > 0   ? ","
                            : g > 0 ? "|"
                                    : "") +
                           std::to_string(disk) +
                           (facts.disks[static_cast<size_t>(disk)].byPlace ? "p" : "") +
                           (facts.disks[static_cast<size_t>(disk)].byGap ? "m" : "");
                grouped.push_back(disk);
            }
        }
        std::sort(grouped.begin(), grouped.end());
        if (grouped != number.disks) {
            numbers += "(disks " + listOf(number.disks) + ")";
        }
    }
    std::string out = (numbers.empty() ? "-" : numbers) + " | other " + listOf(facts.otherIds) +
                      " | A " + std::to_string(facts.directoryDisk);
    for (size_t i = 0; i < facts.disks.size(); ++i) {
        const FoundDisk& disk = facts.disks[i];
        if (disk.index != static_cast<int>(i)) {
            out += " | disk " + std::to_string(i) + " is " + std::to_string(disk.index);
        }
        if (disk.repeatOf >= 0) {
            out += " | repeat " + std::to_string(i) + "=" + std::to_string(disk.repeatOf) + " as " +
                   std::to_string(disk.setNumber) + (disk.byPlace ? "p" : "");
        }
        if (disk.cutBy >= 0 || disk.pastEnd) {
            out += " | cut " + std::to_string(i) +
                   (disk.pastEnd ? " past the end" : " by " + std::to_string(disk.cutBy)) +
                   " in track " + std::to_string(disk.lastTrack);
        }
    }
    if (!facts.partsRepeated.empty()) {
        out += " | repeated " + listOf(facts.partsRepeated);
    }
    for (const StrayBytes& stray : facts.stray) {
        out += " | stray " + std::to_string(stray.part) + ":" + std::to_string(stray.length);
    }
    if (!facts.partsWithoutDisk.empty()) {
        out += " | without " + listOf(facts.partsWithoutDisk);
    }
    if (!facts.partsUnread.empty()) {
        out += " | unread " + listOf(facts.partsUnread);
    }
    if (facts.unreadReason != UnreadReason::None) {
        out += std::string(" | ends ") + reasonWord(facts.unreadReason) + " in " +
               std::to_string(facts.unreadPart);
    }
    return out;
}

struct SetRow {
    const char* name;
    std::vector<std::vector<std::string>> files;
    SameFiles same;
    std::string facts; // describe()
};

// `count` disks carrying no set number (ID byte 0).
std::vector<std::string> zeros(int count) {
    return std::vector<std::string>(static_cast<size_t>(count), "0");
}

std::vector<std::string> joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

DiskSetFacts decide(const std::vector<std::vector<std::string>>& files, const SameFiles& same) {
    std::vector<std::vector<uint8_t>> parts;
    for (const std::vector<std::string>& file : files) {
        parts.push_back(fileOf(file));
    }
    OpenedImage opened(parts);
    EXPECT_TRUE(opened.opened);
    return decideDiskSet(opened.image, readIdSectors(opened.image), same);
}

} // namespace

TEST(DecideDiskSet, EveryDiskKnownByItsIdentity) {
    const SetRow rows[] = {
        {"clean ID bytes in any order",
         {{"3", "1", "4", "2"}},
         {},
         "1:1 2:3 3:0 4:2 | other - | A 1"},
        {"a disk without an ID sector takes the number after 1..k",
         {{"1", "2-", "3", "4"}},
         {},
         "1:0 2:1p 3:2 4:3 | other - | A 0"},
        {"two in a row", {{"1", "2-", "3-", "4"}}, {}, "1:0 2:1p 3:2p 4:3 | other - | A 0"},
        {"the first disk is Disk A when the next carries 2",
         {{"1-", "2", "3"}},
         {},
         "1:0p 2:1 3:2 | other - | A 0"},
        {"but unknown when the next carries another",
         {{"1-", "3", "4"}},
         {},
         "3:1 4:2 | other 0 | A -1"},
        {"unknown after disks that do not carry 1..k",
         {{"2", "1-", "3"}},
         {},
         "2:0 3:2 | other 1 | A -1"},
        {"an ID record shorter than a sector",
         {{"1", "2~", "3"}},
         {},
         "1:0 2:1p 3:2 | other - | A 0"},
        {"an ID byte with a read-error status is no copy of the disk it names",
         {{"1", "1!", "3"}},
         {},
         "1:0 2:1p 3:2 | other - | A 0"},
        {"no place number that a clean disk carries",
         {{"1", "2", "3!", "3"}},
         {},
         "1:0 2:1 3:3 | other 2 | A 0"},
        {"a second run of the set gives no place", // its disks before do not carry 1..k
         {{"1", "2", "3", "4", "1", "2-"}},
         {},
         "1:0,4 2:1 3:2 4:3 | other 5 | A 0"},
        {"ID byte 0 is no set number, 255 is",
         {{"1", "0", "255"}},
         {},
         "1:0 255:2 | other 1 | A 0"},
        {"copies grouped by their sectors, not their headers",
         {{"1", "2", "1", "1b", "1h", "1s", "1b"}},
         {},
         "1:0,2,4|3,6|5 2:1 | other - | A 0"},
        {"a file given twice counts once",
         {{"1", "2"}, {"1", "2"}},
         {-1, 0},
         "1:0 2:1 | other - | A 0 | repeat 2=0 as 1 | repeat 3=1 as 2 | repeated 1"},
        {"two files alike but not the same file are copies",
         {{"1", "2"}, {"1", "2"}},
         {},
         "1:0,2 2:1,3 | other - | A 0"},
        {"a repeat of a disk taken by its place",
         {{"1", "2-"}, {"1", "2-"}},
         {-1, 0},
         "1:0 2:1p | other - | A 0 | repeat 2=0 as 1 | repeat 3=1 as 2p | repeated 1"},
        {"stray bytes after a file's last disk",
         {{"1", "pad:100"}, {"2", "text:2000"}, {"3"}},
         {},
         "1:0 2:1 3:2 | other - | A 0 | stray 0:100 | stray 1:2000"},
        {"a file that starts with no disk ends the reading",
         {{"1"}, {"text:3000"}, {"2"}},
         {},
         "1:0 | other - | A 0 | without 1-2 | ends not-disk in 1"},
        {"nor stray bytes after where the reading ends",
         {{"1"}, {"text:3000"}, {"2", "pad:100"}, {"3"}},
         {},
         "1:0 | other - | A 0 | without 1-3 | ends not-disk in 1"},
        {"an empty file holds no disk",
         {{"1"}, {}, {"2"}},
         {},
         "1:0 2:1 | other - | A 0 | without 1"},
        {"too few bytes after the last disk",
         {{"1", "2", "pad:687"}},
         {},
         "1:0 2:1 | other - | A 0 | ends too-short in 0"},
        {"a header's worth of bytes after the last disk that are no disk",
         {{"1", "2", "pad:688"}},
         {},
         "1:0 2:1 | other - | A 0 | ends not-disk in 0"},
        {"the reader stops at 64 disks",
         {joined({"1", "2", "3", "4"}, zeros(61))},
         {},
         "1:0 2:1 3:2 4:3 | other 4-63 | A 0 | ends reader-limit in 0"},
        {"and files after the 64th disk are not read",
         {joined({"1", "2", "3", "4"}, zeros(60)), {"5"}},
         {},
         "1:0 2:1 3:2 4:3 | other 4-63 | A 0 | unread 1 | ends reader-limit in 1"},
        {"a disk cut short where the next file starts with a disk: no place across files",
         {{"1", "trim:7000"}, {"2"}},
         {},
         "2:1 | other 0 | A -1 | cut 0 by 1 in track 30"},
        {"the one disk without a readable ID sector is the one number missing, in any order",
         {{"3!"}, {"1"}, {"4"}, {"2"}},
         {},
         "1:1 2:3 3:0m 4:2 | other - | A 1"},
        {"a disk's place counts in its own file, whichever file comes first",
         {{"3", "4"}, {"1", "2", "trim:7000"}},
         {},
         "1:2 2:3p 3:0 4:1 | other - | A 2 | cut 3 past the end in track 30"},
        {"but not where its ID byte in error names another disk of the set",
         {{"1"}, {"2"}, {"4"}, {"2!"}},
         {},
         "1:0 2:1 4:2 | other 3 | A 0"},
        {"nor where two numbers are missing",
         {{"1"}, {"2"}, {"3-"}},
         {},
         "1:0 2:1 | other 2 | A 0"},
        {"the last disk cut in its ID sector",
         {{"1", "2", "trim:600"}},
         {},
         "1:0 2:1p | other - | A 0 | cut 1 past the end in track 79"},
    };
    for (const SetRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(describe(decide(row.files, row.same)), row.facts);
    }
}

// Bytes after a file's last disk are left out in every order of the files: between files as
// stray bytes, after the last file as bytes where the reading ends.
TEST(DecideDiskSet, StrayBytesAreLeftOutInEveryOrder) {
    const std::vector<std::vector<std::string>> files = {
        {"1", "pad:100"}, {"2"}, {"3", "text:900"}, {"4"}};
    std::vector<size_t> order = {0, 1, 2, 3};
    int orders = 0;
    do {
        std::vector<std::vector<std::string>> given;
        std::string numbers;
        std::string stray;
        std::string end;
        for (size_t number = 1; number <= files.size(); ++number) {
            const size_t part = static_cast<size_t>(
                std::find(order.begin(), order.end(), number - 1) - order.begin());
            numbers +=
                (number > 1 ? " " : "") + std::to_string(number) + ":" + std::to_string(part);
        }
        for (size_t part = 0; part < order.size(); ++part) {
            given.push_back(files[order[part]]);
            const std::string& last = given.back().back();
            if (last.find(':') == std::string::npos) {
                continue;
            }
            const std::string length = last.substr(last.find(':') + 1);
            if (part + 1 < order.size()) {
                stray += " | stray " + std::to_string(part) + ":" + length;
            } else {
                end = std::string(" | ends ") + (length == "100" ? "too-short" : "not-disk") +
                      " in " + std::to_string(part);
            }
        }
        const size_t diskA =
            static_cast<size_t>(std::find(order.begin(), order.end(), 0) - order.begin());
        SCOPED_TRACE(testing::PrintToString(order));
        EXPECT_EQ(describe(decide(given, {})),
                  numbers + " | other - | A " + std::to_string(diskA) + stray + end);
        ++orders;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(orders, 24);
}

namespace {

// The bytes of a sector as the copies hold them, by letter: each letter the sector's bytes with
// some bytes changed.
struct Variant {
    char letter;
    std::vector<int> changed; // positions whose byte is XORed with 1 (with 2 for 'c')
};
const Variant VARIANTS[] = {{'a', {}},    {'b', {100}}, {'c', {100}}, {'d', {900}},
                            {'x', {200}}, {'y', {300}}, {'z', {400}}};

std::vector<uint8_t> variantBytes(char letter) {
    std::vector<uint8_t> bytes = patternBytes(1, 7);
    for (const Variant& variant : VARIANTS) {
        for (const int at : variant.letter == letter ? variant.changed : std::vector<int>{}) {
            bytes[static_cast<size_t>(at)] ^= letter == 'c' ? 2 : 1;
        }
    }
    return bytes;
}

// The letter whose first `want` bytes are `bytes`, the first in VARIANTS; '?' for none.
char letterOf(const std::vector<uint8_t>& bytes, int want) {
    for (const Variant& variant : VARIANTS) {
        const std::vector<uint8_t> known = variantBytes(variant.letter);
        if (bytes.size() == static_cast<size_t>(want) &&
            std::equal(bytes.begin(), bytes.end(), known.begin())) {
            return variant.letter;
        }
    }
    return '?';
}

// One copy of the sector: "-" missing, else a letter (its bytes) and its marks: '!' status B0 (a
// data CRC error), '?' status A0 (an ID CRC error), '+' status 10 (deleted data, no error), '<'
// its record 500 bytes long.
struct Copy {
    bool missing;
    char letter;
    uint8_t status;
    int length;
};

Copy copyOf(const std::string& code) {
    Copy copy{code == "-", code[0], 0, SECTOR_BYTES};
    for (const char mark : code.substr(1)) {
        copy.status = mark == '!' ? 0xB0 : mark == '?' ? 0xA0 : mark == '+' ? 0x10 : copy.status;
        copy.length = mark == '<' ? 500 : copy.length;
    }
    return copy;
}

struct PickRow {
    const char* name;
    std::vector<std::string> copies;
    int want;
    bool found;
    SectorTaken taken;
    // The letter of the bytes taken. With a tie, the letters tied: the first given of them is
    // taken (of the copies without an error status when there are any).
    std::string bytes;
    bool tie;
    bool readError;
    bool sameStatus;
    int holders;
    int agree;
    int among;
};

const char* takenWord(SectorTaken taken) {
    switch (taken) {
    case SectorTaken::AsStored:
        return "as-stored";
    case SectorTaken::Repaired:
        return "repaired";
    case SectorTaken::Contested:
        return "contested";
    case SectorTaken::Voted:
        return "voted";
    }
    return "?";
}

} // namespace

// Every order of the copies gives the same bytes and marks; where the copies tie, the first given
// of the tied decides and the tie is said. The copy the bytes are said to come from is the first
// given that holds them (for a vote, the first that holds the sector at all).
TEST(PickSector, TheMergeDoesNotDependOnTheOrderOfTheCopies) {
    using T = SectorTaken;
    const int W = SECTOR_BYTES;
    const PickRow rows[] = {
        // name, copies, want, found, taken, bytes, tie, readError, sameStatus, holders, agree,
        // among
        {"one copy is only located", {"b"}, W, true, T::AsStored, "b", false, false, true, 1, 0, 0},
        {"one copy with an error", {"b!"}, W, true, T::AsStored, "b", false, true, true, 1, 0, 0},
        {"copies alike", {"a", "a", "a"}, W, true, T::AsStored, "a", false, false, false, 3, 3, 3},
        {"alike as far as wanted",
         {"a", "d"},
         400,
         true,
         T::AsStored,
         "a",
         false,
         false,
         false,
         2,
         2,
         2},
        {"a clean copy beats an error copy",
         {"a", "b!"},
         W,
         true,
         T::Repaired,
         "a",
         false,
         false,
         false,
         2,
         1,
         1},
        {"and a majority of error copies",
         {"b!", "a", "b!"},
         W,
         true,
         T::Repaired,
         "a",
         false,
         false,
         false,
         3,
         1,
         1},
        {"a copy without the sector",
         {"a", "-"},
         W,
         true,
         T::Repaired,
         "a",
         false,
         false,
         false,
         1,
         1,
         1},
        {"a record shorter than wanted holds nothing",
         {"a", "b<"},
         W,
         true,
         T::Repaired,
         "a",
         false,
         false,
         false,
         1,
         1,
         1},
        {"but holds what fewer bytes need",
         {"a", "b<"},
         400,
         true,
         T::Contested,
         "ab",
         true,
         false,
         false,
         2,
         1,
         2},
        {"deleted data is no error",
         {"a", "b+"},
         W,
         true,
         T::Contested,
         "ab",
         true,
         false,
         false,
         2,
         1,
         2},
        {"most clean copies decide",
         {"a", "b", "a"},
         W,
         true,
         T::Contested,
         "a",
         false,
         false,
         false,
         3,
         2,
         3},
        {"error copies do not vote among clean ones",
         {"b!", "b!", "a", "c", "a"},
         W,
         true,
         T::Contested,
         "a",
         false,
         false,
         false,
         5,
         2,
         3},
        {"a pair beats two single copies",
         {"c", "b", "a", "a"},
         W,
         true,
         T::Contested,
         "a",
         false,
         false,
         false,
         4,
         2,
         4},
        {"clean copies that tie",
         {"b", "c"},
         W,
         true,
         T::Contested,
         "bc",
         true,
         false,
         false,
         2,
         1,
         2},
        {"two pairs tie",
         {"b", "c", "c", "b"},
         W,
         true,
         T::Contested,
         "bc",
         true,
         false,
         false,
         4,
         2,
         4},
        {"clean copies alike repair the rest",
         {"a", "b!", "a", "-"},
         W,
         true,
         T::Repaired,
         "a",
         false,
         false,
         false,
         3,
         2,
         2},
        {"error copies alike", {"a!", "a!"}, W, true, T::AsStored, "a", false, true, true, 2, 0, 0},
        {"with two statuses", {"a!", "a?"}, W, true, T::AsStored, "a", false, true, false, 2, 0, 0},
        {"an error copy and a missing one",
         {"a!", "-"},
         W,
         true,
         T::AsStored,
         "a",
         false,
         true,
         false,
         1,
         0,
         0},
        {"error copies voted byte by byte",
         {"x!", "y!", "z!"},
         W,
         true,
         T::Voted,
         "a",
         false,
         true,
         true,
         3,
         2,
         3},
        {"a vote with a majority copy",
         {"x!", "x!", "y!"},
         W,
         true,
         T::Voted,
         "x",
         false,
         true,
         true,
         3,
         2,
         3},
        {"a vote that ties", {"b!", "c!"}, W, true, T::Voted, "bc", true, true, true, 2, 1, 2},
        {"a vote of the copies that hold the sector",
         {"x!", "-", "y?", "z!<"},
         W,
         true,
         T::Voted,
         "xy",
         true,
         true,
         false,
         2,
         1,
         2},
        {"no copy holds it whole",
         {"-", "b<"},
         W,
         false,
         T::AsStored,
         "",
         false,
         false,
         false,
         0,
         0,
         0},
    };
    for (const PickRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Copy> copies;
        std::vector<DiskPlan> disks;
        for (const std::string& code : row.copies) {
            copies.push_back(copyOf(code));
            DiskPlan disk;
            disk.tracks[FILE_TRACK] = makeTrack(FILE_TRACK);
            std::vector<SectorPlan>& sectors = disk.tracks[FILE_TRACK].sectors;
            if (copies.back().missing) {
                sectors.erase(sectors.begin());
            } else {
                sectors[0].data = variantBytes(copies.back().letter);
                sectors[0].data.resize(static_cast<size_t>(copies.back().length));
                sectors[0].status = copies.back().status;
            }
            disks.push_back(disk);
        }
        OpenedImage opened({buildImage(disks)});
        ASSERT_TRUE(opened.opened);
        std::vector<int> order(copies.size());
        std::iota(order.begin(), order.end(), 0);
        do {
            SCOPED_TRACE(testing::PrintToString(order));
            const auto holds = [&](int disk) {
                const Copy& copy = copies[static_cast<size_t>(disk)];
                return !copy.missing && copy.length >= row.want;
            };
            const auto clean = [&](int disk) {
                return holds(disk) && !isReadErrorStatus(copies[static_cast<size_t>(disk)].status);
            };
            const bool anyClean = std::any_of(order.begin(), order.end(), clean);
            // The copies that can give the bytes: the clean ones when there are any.
            const auto gives = [&](int disk) { return anyClean ? clean(disk) : holds(disk); };
            char expected = row.bytes.empty() ? '?' : row.bytes[0];
            for (const int disk : order) {
                const char letter = copies[static_cast<size_t>(disk)].letter;
                if (row.tie && gives(disk) && row.bytes.find(letter) != std::string::npos) {
                    expected = letter;
                    break;
                }
            }
            SectorPick pick;
            std::vector<uint8_t> voted;
            const bool found = pickSector(opened.image, order, setSectorAddress(FILE_TRACK, 1),
                                          row.want, pick, voted);
            ASSERT_EQ(found, row.found);
            if (!found) {
                continue;
            }
            std::vector<uint8_t> bytes = voted;
            if (pick.taken != SectorTaken::Voted) {
                bytes.resize(static_cast<size_t>(row.want));
                ASSERT_EQ(opened.image.readBytes(pick.place.position, bytes.data(), row.want),
                          row.want);
                EXPECT_TRUE(voted.empty());
            }
            int from = -1;      // the first given that holds the bytes taken
            int differing = -1; // contested: the first given clean copy that holds others
            for (const int disk : order) {
                const char letter = letterOf(
                    [&] {
                        std::vector<uint8_t> held =
                            variantBytes(copies[static_cast<size_t>(disk)].letter);
                        held.resize(static_cast<size_t>(row.want));
                        return held;
                    }(),
                    row.want);
                const bool same = letter == expected;
                if (from < 0 && gives(disk) && (same || row.taken == SectorTaken::Voted)) {
                    from = disk;
                }
                if (differing < 0 && row.taken == SectorTaken::Contested && clean(disk) && !same) {
                    differing = disk;
                }
            }
            EXPECT_EQ(takenWord(pick.taken), std::string(takenWord(row.taken)));
            EXPECT_EQ(letterOf(bytes, row.want), expected);
            EXPECT_EQ(pick.length, row.want);
            EXPECT_EQ(pick.disk, from);
            EXPECT_EQ(pick.differing, differing);
            EXPECT_EQ(pick.tie, row.tie);
            EXPECT_EQ(pick.readError, row.readError);
            EXPECT_EQ(pick.sameStatus, row.sameStatus);
            EXPECT_EQ(pick.holders, row.holders);
            EXPECT_EQ(pick.agree, row.agree);
            EXPECT_EQ(pick.among, row.among);
        } while (std::next_permutation(order.begin(), order.end()));
    }
}
