// What an extraction makes of the set's directory, called in process: the plan (planSet) over a
// directory whose sectors are missing, short, stored with an error or given in copies that
// differ, the notes on the directory (decideDirectoryNotes), whether the set is whole
// (planIsWhole), the counts (countSet), which file replaces which, and the shell patterns that
// choose files.
#include "support/DiskSetImage.h"
#include "support/OpenedImage.h"

#include "DiskSet.h"
#include "FileChoice.h"
#include "ImageBuilder.h"
#include "NamePattern.h"
#include "Outcomes.h"
#include "Plan.h"
#include "SavedName.h"
#include "SetCounts.h"
#include "SetNotes.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace d88;

namespace {

// A directory entry of the image: its table index, name, disk (from 0), first sector and size in
// sectors. Each file's bytes are the sectors that setDisks stores.
struct EntrySpec {
    int index;
    const char* name;
    int disk, track, sector, units;
};

// Files of one sector or two, written whole, on every disk and in every sector of the directory:
// entry 36 of layout a and 37 of layout b straddle sectors 1 and 2, entry 100 of a and 101 of b
// sectors 2 and 3; entry 163 is the last of layout a.
const EntrySpec PLACED[] = {{0, "WHOLE.BIN", 0, 30, 1, 2},  {36, "E36.BIN", 0, 35, 1, 1},
                            {37, "E37.BIN", 1, 35, 1, 1},   {100, "E100.BIN", 2, 35, 1, 1},
                            {101, "E101.BIN", 3, 35, 1, 1}, {163, "E163.BIN", 0, 36, 1, 1}};
// An entry of every other outcome, and a second file under the first one's name; by table
// index.
const EntrySpec KINDS[] = {{1, "PART.BIN", 0, 31, 5, 2}, // its second sector's track is missing
                           {2, "GONE.BIN", 0, 40, 1, 1}, // no track 40
                           {3, "FAR.BIN", 8, 30, 1, 1},  // disk 9 of the set is not given
                           {4, "EMPTY.BIN", 0, 30, 1, 0}, {5, "../UP.BIN", 0, 30, 1, 1},
                           {6, " X", 0, 30, 1, 1},         // the name ends at once
                           {7, "SELF.D88", 0, 30, 1, 1},   // the target says it is the image itself
                           {8, "WHOLE.BIN", 1, 30, 1, 1},  // replaces entry 0's file
                           {9, "ERR.BIN", 0, 34, 1, 1},    // stored with a read-error status
                           {10, "NONE.BIN", 8, 30, 1, 0}}; // empty, on the disk not given
const std::vector<int> ALL_KINDS = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// The disks of the set, with the files of every entry and the directory of `layout` (PLACED and
// the entries of KINDS with the indexes `kinds`): Disk A to Disk D, as DiskSetImage makes them.
std::vector<DiskPlan> setDisks(const DirectoryLayout& layout, const std::vector<int>& kinds) {
    DiskSetImage set(4);
    std::vector<EntrySpec> entries(std::begin(PLACED), std::end(PLACED));
    for (const EntrySpec& kind : KINDS) {
        if (std::find(kinds.begin(), kinds.end(), kind.index) != kinds.end()) {
            entries.push_back(kind);
        }
    }
    for (const EntrySpec& entry : entries) {
        set.setEntry(layout.firstEntryOffset + DIR_ENTRY_SIZE * entry.index, entry.name,
                     entry.track, entry.sector, entry.units, entry.disk);
    }
    set.putFile(0, 30, 1, patternBytes(2, 1));
    set.putFile(0, 31, 5, patternBytes(1, 2));
    set.putFile(0, 34, 1, patternBytes(1, 3));
    set.disks[0].tracks[34].sectors[0].status = 0xB0;
    set.putFile(0, 36, 1, patternBytes(1, 5));
    set.putFile(1, 30, 1, patternBytes(1, 6));
    for (int disk = 0; disk < 4; ++disk) {
        set.putFile(disk, 35, 1, patternBytes(1, 7 + disk));
    }
    std::vector<DiskPlan> disks = set.disks;
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        const auto begin = set.directory.begin() + s * SECTOR_BYTES;
        setSectorData(disks[0], DIRECTORY_TRACK, DIRECTORY_SECTOR + s,
                      std::vector<uint8_t>(begin, begin + SECTOR_BYTES));
    }
    return disks;
}

// The record of sector `r` of `track` on `disk`.
std::vector<SectorPlan>::iterator sectorAt(DiskPlan& disk, int track, int r) {
    std::vector<SectorPlan>& sectors = disk.tracks[track].sectors;
    return std::find_if(sectors.begin(), sectors.end(),
                        [r](const SectorPlan& sector) { return sector.r == r; });
}

// A disk of the set as given: its number (1 to 4) and what is done to it. "D<s><m>": directory
// sector s missing (-), stored without a byte of data (0), 609 bytes long (<: an entry of
// layout a ends with its byte 609; >: and entry 37 naming Disk D) or 610 ((: an entry of
// layout a ends where its 610 bytes end), stored with a read-error status (!),
// or with its byte 10, outside the table, changed (b). "F<m>": the sector of track 35 (the file of
// entry 36, 37, 100 or 101) missing (m), stored with a read-error status (e), or its byte 100 XORed
// with 1 (x) or 2 (y).
DiskPlan givenDisk(const std::vector<DiskPlan>& disks, const std::string& code) {
    DiskPlan disk = disks[static_cast<size_t>(code[0] - '1')];
    for (size_t at = 1; at + 1 < code.size(); at += 2) {
        if (code[at] == 'D') {
            const int r = code[at + 1] - '0';
            const auto sector = sectorAt(disk, DIRECTORY_TRACK, r);
            const char mark = code[at + 2];
            ++at;
            if (mark == '-') {
                disk.tracks[DIRECTORY_TRACK].sectors.erase(sector);
            } else if (mark == '<' || mark == '(') {
                sector->data.resize(mark == '<' ? 609 : 610);
            } else if (mark == '>') {
                sector->data.resize(609);
                sector->data[17] ^= 2; // in layout a, entry 37's disk: Disk D
            } else if (mark == '0') {
                sector->data.clear();
            } else if (mark == '!') {
                sector->status = 0xB0;
            } else {
                sector->data[10] ^= 1;
            }
            continue;
        }
        const auto sector = sectorAt(disk, 35, 1);
        const char mark = code[at + 1];
        if (mark == 'm') {
            disk.tracks[35].sectors.erase(sector);
        } else if (mark == 'e') {
            sector->status = 0xB0;
        } else {
            sector->data[100] ^= mark == 'x' ? 1 : 2;
        }
    }
    return disk;
}

const char* outcomeName(EntryOutcome outcome) {
    switch (outcome) {
    case EntryOutcome::NotChosen:
        return "not-chosen";
    case EntryOutcome::NoDisk:
        return "no-disk";
    case EntryOutcome::Empty:
        return "empty";
    case EntryOutcome::Missing:
        return "missing";
    case EntryOutcome::UnsafeName:
        return "unsafe";
    case EntryOutcome::ImageItself:
        return "image-itself";
    case EntryOutcome::Uncreatable:
        return "uncreatable";
    case EntryOutcome::Whole:
        return "whole";
    case EntryOutcome::Incomplete:
        return "incomplete";
    }
    return "?";
}

const char* problemWord(SectorProblem problem) {
    switch (problem) {
    case SectorProblem::Missing:
        return "missing";
    case SectorProblem::Cut:
        return "cut";
    case SectorProblem::ReadError:
        return "read-error";
    case SectorProblem::Contested:
        return "contested";
    case SectorProblem::NotRead:
        return "not-read";
    }
    return "?";
}

std::string range(int first, int last) {
    return first < 0 ? "-"
                     : std::to_string(first) + (last > first ? "-" + std::to_string(last) : "");
}

// Runs of consecutive indexes as "first-last".
std::string listOf(const std::vector<int>& values) {
    std::string out;
    for (size_t i = 0; i < values.size();) {
        size_t last = i;
        while (last + 1 < values.size() && values[last + 1] == values[last] + 1) {
            ++last;
        }
        out += (out.empty() ? "" : " ") + range(values[i], values[last]);
        i = last + 1;
    }
    return out.empty() ? "-" : out;
}

// Each listed entry: "index:outcome@disk", then the bytes read when fewer than its size, "e" and
// its sectors stored with an error, ">" the entry whose file replaces it, "<" the one it
// replaces, and in brackets how each of its sectors was taken from copies (a letter of
// SectorTaken, upper case for a tie).
std::string describeEntries(const SetPlan& plan) {
    std::string out;
    for (const PlannedEntry& entry : plan.entries) {
        out += (out.empty() ? "" : ", ") + std::to_string(entry.index) + ":" +
               outcomeName(entry.outcome) + "@" + std::to_string(entry.disk);
        if (entry.bytesRead < entry.entry.size) {
            out += " " + std::to_string(entry.bytesRead) + "/" + std::to_string(entry.entry.size);
        }
        if (entry.readErrors.errorSectors > 0) {
            out += " e" + listOf(entry.errorSectors);
        }
        if (entry.replacedBy >= 0) {
            out += " >" + std::to_string(entry.replacedBy);
        }
        if (entry.replaces >= 0) {
            out += " <" + std::to_string(entry.replaces);
        }
        if (!entry.merged.origins.empty()) {
            out += " [";
            for (const SectorOrigin& origin : entry.merged.origins) {
                const char letter = "arcv"[static_cast<int>(origin.taken)];
                out += origin.tie ? static_cast<char>(letter - 'a' + 'A') : letter;
            }
            out += "]";
        }
    }
    return out.empty() ? "-" : out;
}

// Each note: "sector problem", the bytes of a cut one, its entries, "tie" for a tie, "voted" for
// a sector voted from copies.
std::string describeNotes(const std::vector<DirectoryNote>& notes) {
    std::string out;
    for (const DirectoryNote& note : notes) {
        out += (out.empty() ? "" : ", ") + std::to_string(note.sector) + " " +
               problemWord(note.problem);
        if (note.problem == SectorProblem::Cut) {
            out += " " + std::to_string(note.bytes);
        }
        out += " " + range(note.firstEntry, note.lastEntry);
        out += note.origin.tie ? " tie" : "";
        out += note.origin.taken == SectorTaken::Voted ? " voted" : "";
    }
    return out.empty() ? "-" : out;
}

std::string describeCounts(const SetCounts& c) {
    return "files " + std::to_string(c.files) + " bytes " + std::to_string(c.bytes) +
           " incomplete " + std::to_string(c.incomplete) + " errors " +
           std::to_string(c.withReadErrors) + " repaired " + std::to_string(c.repaired) +
           " contested " + std::to_string(c.contested) + " voted " + std::to_string(c.voted) +
           " replaced " + std::to_string(c.replaced) + " kept " + std::to_string(c.kept) +
           " not-written " + std::to_string(c.notWritten) + " passed-over " +
           std::to_string(c.passedOver) + " unreadable " + std::to_string(c.unreadable);
}

// The counts of a plan without damage to the directory, of `files` files and `bytes` bytes,
// with `other` ("errors 1") in place of its 0.
std::string counts(int files, int bytes, const std::string& other) {
    std::string text = "files " + std::to_string(files) + " bytes " + std::to_string(bytes) +
                       " incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 kept 0 "
                       "not-written 0 passed-over 0 unreadable 0";
    if (!other.empty()) {
        const size_t at = text.find(other.substr(0, other.find(' ') + 1));
        text.replace(at, other.size(), other);
    }
    return text;
}

std::string describeMissing(const SetPlan& plan) {
    std::string out;
    for (const MissingDisk& missing : plan.missingDisks) {
        out +=
            (out.empty() ? "" : " ") + std::to_string(missing.id) + ":" + listOf(missing.entries);
    }
    return out.empty() ? "-" : out;
}

// The plan of `layout` made from the disks `given` (each written as givenDisk reads it), read by
// identity as d88extract reads it, or as the set's programs read it.
struct Planned {
    std::unique_ptr<OpenedImage> opened;
    std::unique_ptr<WalkBuffers> buffers;
    SetPlan plan;
};

Planned planOf(const DirectoryLayout& layout, const std::vector<int>& kinds,
               const std::vector<std::string>& given, bool programs) {
    const std::vector<DiskPlan> disks = setDisks(layout, kinds);
    std::vector<DiskPlan> image;
    for (const std::string& code : given) {
        image.push_back(givenDisk(disks, code));
    }
    Planned planned;
    planned.opened =
        std::make_unique<OpenedImage>(std::vector<std::vector<uint8_t>>{buildImage(image)});
    planned.buffers = std::make_unique<WalkBuffers>();
    D88Image& opened = planned.opened->image;
    const std::vector<IdRead> ids = readIdSectors(opened);
    const DiskSetFacts facts = decideDiskSet(opened, ids);
    const DiskChoice choice =
        programs ? programsDiskChoice(opened.diskCount(), ids) : identityDiskChoice(facts);
    const DirectoryRead directory = readDirectory(opened, choice, *planned.buffers);
    // A file of the image stands in the folder as SELF.D88.
    const SaveTarget target{
        NameTarget::Host, BYTE_NAME_RULES, {BYTE_NAME_RULES.sameFileKey("SELF.D88")}};
    planned.plan = planSet(opened, choice, directory, layout, target, *planned.buffers);
    return planned;
}

struct PlanRow {
    const char* name;
    const DirectoryLayout* layout;
    bool programs;                  // read as the set's programs read it, else by identity
    std::vector<int> kinds;         // the entries of KINDS too
    std::vector<std::string> disks; // as givenDisk reads them
    std::string entries;            // describeEntries
    std::string unreadable;         // listOf
    std::string notes;              // describeNotes
    std::string counts;             // describeCounts
    bool whole;
    std::string missing; // describeMissing
};

const std::vector<std::string> SET = {"1", "2", "3", "4"};

} // namespace

TEST(PlanSet, EveryEntryAndEveryDirectorySectorAccountedFor) {
    const DirectoryLayout* a = &LAYOUT_A;
    const DirectoryLayout* b = &LAYOUT_B;
    const std::string placedA = "0:whole@0, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, "
                                "163:whole@0";
    const std::string clean = "files 6 bytes 7168 incomplete 0 errors 0 repaired 0 contested 0 "
                              "voted 0 replaced 0 kept 0 not-written 0 passed-over 0 unreadable 0";
    const std::string kindsA =
        "0:whole@0 >8, 1:incomplete@0 1024/2048, 2:missing@0 0/1024, 3:no-disk@-1 0/1024, "
        "4:empty@0, 5:unsafe@0, 6:uncreatable@0, 7:image-itself@0, 8:whole@1 <0, 9:whole@0 e0, "
        "10:no-disk@-1, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, 163:whole@0";
    const std::string kindsCounts =
        "files 9 bytes 11264 incomplete 1 errors 1 repaired 0 contested 0 voted 0 replaced 0 "
        "kept 0 not-written 5 passed-over 2 unreadable 0";
    const PlanRow rows[] = {
        {"a whole set", a, false, {}, SET, placedA, "-", "-", clean, true, "-"},
        {"in layout b", b, false, {}, SET, placedA, "-", "-", clean, true, "-"},
        {"as the programs read it", a, true, {}, SET, placedA, "-", "-", clean, true, "-"},
        {"every outcome", a, false, ALL_KINDS, SET, kindsA, "-", "-", kindsCounts, false, "9:3"},
        {"every outcome as the programs decide it", a, true, ALL_KINDS, SET, kindsA, "-", "-",
         kindsCounts, false, "9:3"},
        {"an empty entry is whole",
         a,
         false,
         {4},
         SET,
         "0:whole@0, 4:empty@0, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, 163:whole@0",
         "-",
         "-",
         counts(6, 7168, "passed-over 1"),
         true,
         "-"},
        {"and so is one on a disk not given",
         a,
         false,
         {10},
         SET,
         "0:whole@0, 10:no-disk@-1, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, "
         "163:whole@0",
         "-",
         "-",
         counts(6, 7168, "passed-over 1"),
         true,
         "-"},
        {"a file on a disk not given is not",
         a,
         false,
         {3},
         SET,
         "0:whole@0, 3:no-disk@-1 0/1024, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, "
         "163:whole@0",
         "-",
         "-",
         counts(6, 7168, "not-written 1"),
         false,
         "9:3"},
        {"nor an incomplete file",
         a,
         false,
         {1},
         SET,
         "0:whole@0, 1:incomplete@0 1024/2048, 36:whole@0, 37:whole@1, 100:whole@2, "
         "101:whole@3, 163:whole@0",
         "-",
         "-",
         counts(7, 9216, "incomplete 1"),
         false,
         "-"},
        {"nor a missing one",
         a,
         false,
         {2},
         SET,
         "0:whole@0, 2:missing@0 0/1024, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, "
         "163:whole@0",
         "-",
         "-",
         counts(6, 7168, "not-written 1"),
         false,
         "-"},
        {"nor one of an unsafe name",
         a,
         false,
         {5},
         SET,
         "0:whole@0, 5:unsafe@0, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, 163:whole@0",
         "-",
         "-",
         counts(6, 7168, "not-written 1"),
         false,
         "-"},
        {"nor a replaced one",
         a,
         false,
         {8},
         SET,
         "0:whole@0 >8, 8:whole@1 <0, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, "
         "163:whole@0",
         "-",
         "-",
         counts(7, 8192, ""),
         false,
         "-"},
        {"nor one stored with a read error",
         a,
         false,
         {9},
         SET,
         "0:whole@0, 9:whole@0 e0, 36:whole@0, 37:whole@1, 100:whole@2, 101:whole@3, "
         "163:whole@0",
         "-",
         "-",
         counts(7, 8192, "errors 1"),
         false,
         "-"},
        {"the first directory sector missing",
         a,
         false,
         {},
         {"1D1-", "2", "3", "4"},
         "37:whole@1, 100:whole@2, 101:whole@3, 163:whole@0",
         "0-36",
         "1 missing 0-36",
         "files 4 bytes 4096 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 37",
         false,
         "-"},
        {"in layout b",
         b,
         false,
         {},
         {"1D1-", "2", "3", "4"},
         "100:whole@2, 101:whole@3, 163:whole@0",
         "0-37",
         "1 missing 0-37",
         "files 3 bytes 3072 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 38",
         false,
         "-"},
        {"the second missing",
         a,
         false,
         {},
         {"1D2-", "2", "3", "4"},
         "0:whole@0, 101:whole@3, 163:whole@0",
         "36-100",
         "2 missing 36-100",
         "files 3 bytes 4096 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 65",
         false,
         "-"},
        {"the second and third missing: an entry they share said once",
         a,
         false,
         {},
         {"1D2-D3-", "2", "3", "4"},
         "0:whole@0",
         "36-163",
         "2 missing 36-99, 3 missing 100-163",
         "files 1 bytes 2048 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 128",
         false,
         "-"},
        {"the third missing in layout b",
         b,
         false,
         {},
         {"1D3-", "2", "3", "4"},
         "0:whole@0, 36:whole@0, 37:whole@1, 100:whole@2",
         "101-164",
         "3 missing 101-164",
         "files 4 bytes 5120 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 64",
         false,
         "-"},
        {"the second 609 bytes long",
         a,
         false,
         {},
         {"1D2<", "2", "3", "4"},
         "0:whole@0, 36:whole@0, 37:whole@1, 101:whole@3, 163:whole@0",
         "74-100",
         "2 cut 609 74-100",
         "files 5 bytes 6144 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 27",
         false,
         "-"},
        {"in layout b",
         b,
         false,
         {},
         {"1D2<", "2", "3", "4"},
         "0:whole@0, 36:whole@0, 37:whole@1, 163:whole@0",
         "75-101",
         "2 cut 609 75-101",
         "files 4 bytes 5120 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 27",
         false,
         "-"},
        {"the second stored without a byte of data: missing, as the programs take it",
         a,
         false,
         {},
         {"1D20", "2", "3", "4"},
         "0:whole@0, 101:whole@3, 163:whole@0",
         "36-100",
         "2 missing 36-100",
         "files 3 bytes 4096 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 65",
         false,
         "-"},
        // Copies storing as much of a sector give the lower bytes, whichever comes first.
        {"two copies of Disk A, the second 609 bytes long in each, other bytes",
         a,
         false,
         {},
         {"1D2>", "1D2<", "2", "3", "4"},
         "0:whole@0 [aa], 36:whole@0 [a], 37:whole@2, 101:whole@4, 163:whole@0 [a]",
         "74-100",
         "2 cut 609 74-100",
         "files 5 bytes 6144 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 27",
         false,
         "-"},
        {"in the other order",
         a,
         false,
         {},
         {"1D2<", "1D2>", "2", "3", "4"},
         "0:whole@0 [aa], 36:whole@0 [a], 37:whole@2, 101:whole@4, 163:whole@0 [a]",
         "74-100",
         "2 cut 609 74-100",
         "files 5 bytes 6144 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 27",
         false,
         "-"},
        {"the first stored with a read-error status",
         a,
         false,
         {},
         {"1D1!", "2", "3", "4"},
         placedA,
         "-",
         "1 read-error 0-36",
         clean,
         false,
         "-"},
        // Entry 36, read in part, is listed as the programs take it and counted once.
        {"the programs stop at the second, missing: what the buffer holds is listed",
         a,
         true,
         {},
         {"1D2-", "2", "3", "4"},
         "0:whole@0, 36:empty@0",
         "37-163",
         "2 missing 36-99, 3 not-read 100-163",
         "files 1 bytes 2048 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 1 unreadable 127",
         false,
         "-"},
        {"and at the second, short",
         a,
         true,
         {},
         {"1D2(", "2", "3", "4"},
         "0:whole@0, 36:whole@0, 37:whole@1",
         "75-163",
         "2 cut 610 75-99, 3 not-read 100-163",
         "files 3 bytes 4096 incomplete 0 errors 0 repaired 0 contested 0 voted 0 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 89",
         false,
         "-"},
        {"copies of Disk A that differ: most of them decide",
         a,
         false,
         {},
         {"1", "1D1b", "1", "2", "3", "4"},
         "0:whole@0 [aa], 36:whole@0 [a], 37:whole@3, 100:whole@4, 101:whole@5, "
         "163:whole@0 [a]",
         "-",
         "1 contested 0-36",
         clean,
         false,
         "-"},
        {"two that tie",
         a,
         false,
         {},
         {"1D1b", "1", "2", "3", "4"},
         "0:whole@0 [aa], 36:whole@0 [a], 37:whole@2, 100:whole@3, 101:whole@4, "
         "163:whole@0 [a]",
         "-",
         "1 contested 0-36 tie",
         clean,
         false,
         "-"},
        {"two stored with errors, voted",
         a,
         false,
         {},
         {"1D1!", "1D1bD1!", "2", "3", "4"},
         "0:whole@0 [aa], 36:whole@0 [a], 37:whole@2, 100:whole@3, 101:whole@4, "
         "163:whole@0 [a]",
         "-",
         "1 read-error 0-36 tie voted",
         clean,
         false,
         "-"},
        {"a copy repairs what another lacks",
         a,
         false,
         {},
         {"1D1-", "1", "2", "3", "4"},
         "0:whole@0 [aa], 36:whole@0 [a], 37:whole@2, 100:whole@3, 101:whole@4, "
         "163:whole@0 [a]",
         "-",
         "-",
         clean,
         true,
         "-"},
        {"files merged from copies",
         a,
         false,
         {},
         {"1", "2", "2Fx", "3Fm", "3", "4Fe", "4FeFy"},
         "0:whole@0, 36:whole@0, 37:whole@1 [C], 100:whole@3 [r], 101:whole@5 e0 [V], "
         "163:whole@0",
         "-",
         "-",
         "files 6 bytes 7168 incomplete 0 errors 1 repaired 1 contested 1 voted 1 replaced 0 "
         "kept 0 not-written 0 passed-over 0 unreadable 0",
         false,
         "-"},
    };
    for (const PlanRow& row : rows) {
        SCOPED_TRACE(std::string(row.name) + ", layout " + row.layout->letter);
        const Planned planned = planOf(*row.layout, row.kinds, row.disks, row.programs);
        const SetPlan& plan = planned.plan;
        EXPECT_EQ(describeEntries(plan), row.entries);
        EXPECT_EQ(listOf(plan.unreadable), row.unreadable);
        EXPECT_EQ(describeNotes(decideDirectoryNotes(plan.directory, plan.layout)), row.notes);
        const SetCounts counts = countSet(plan);
        EXPECT_EQ(describeCounts(counts), row.counts);
        EXPECT_EQ(counts.files + counts.kept + counts.notWritten + counts.passedOver,
                  static_cast<int>(plan.entries.size()));
        EXPECT_EQ(describeMissing(plan), row.missing);
        EXPECT_EQ(planIsWhole(plan), row.whole);
    }
}

// Without a layout the notes name no entries; with no directory disk there are none.
TEST(PlanSet, DirectoryNotesWithoutALayoutOrADiskA) {
    const Planned planned = planOf(LAYOUT_A, {}, {"1D2-D3<", "2", "3", "4"}, false);
    EXPECT_EQ(describeNotes(decideDirectoryNotes(planned.plan.directory, nullptr)),
              "2 missing -, 3 cut 609 -");
    const Planned noDiskA = planOf(LAYOUT_A, {}, {"2", "3", "4"}, false);
    EXPECT_EQ(noDiskA.plan.directoryDisk, -1);
    EXPECT_EQ(describeNotes(decideDirectoryNotes(noDiskA.plan.directory, &LAYOUT_A)), "-");
    EXPECT_FALSE(noDiskA.plan.enoughDisks);
    EXPECT_FALSE(planIsWhole(noDiskA.plan));
}

// The counts of a run: each written entry's result decides where it counts.
TEST(PlanSet, CountsOfARunAddUpToTheListedEntries) {
    const Planned planned = planOf(LAYOUT_A, ALL_KINDS, SET, false);
    const FileResult written{FileStatus::Written, Refusal::None, 0};
    const FileResult replaced{FileStatus::Replaced, Refusal::None, 0};
    const FileResult kept{FileStatus::Kept, Refusal::None, 0};
    const FileResult failed{FileStatus::CannotWrite, Refusal::None, 28};
    const FileResult notRead{FileStatus::NotRead, Refusal::None, 0};
    const FileResult refused{FileStatus::Refused, Refusal::UnsafeName, 0};
    const FileResult passed{FileStatus::PassedOver, Refusal::None, 0};
    // By position: 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 36, 37, 100, 101, 163; the last two have
    // no result and count as the plan says.
    const std::vector<FileResult> results = {replaced, written, notRead,  notRead, passed,
                                             refused,  refused, refused,  kept,    failed,
                                             passed,   written, replaced, written};
    const SetCounts counts = countSet(planned.plan, &results);
    EXPECT_EQ(describeCounts(counts),
              "files 7 bytes 9216 incomplete 1 errors 0 repaired 0 contested 0 voted 0 replaced 2 "
              "kept 1 not-written 6 passed-over 2 unreadable 0");
    EXPECT_EQ(counts.files + counts.kept + counts.notWritten + counts.passedOver,
              static_cast<int>(planned.plan.entries.size()));
}

// Of entries under one saved name, the later written file replaces the earlier one; when a
// write fails, the chain goes on past it.
TEST(PlanSet, WhichFileReplacesWhich) {
    struct Row {
        std::vector<const char*> names;
        std::vector<EntryOutcome> outcomes;
        std::vector<bool> written; // by position; empty: as the plan says
        std::vector<int> replaces;
        std::vector<int> replacedBy;
    };
    const EntryOutcome W = EntryOutcome::Whole;
    const EntryOutcome I = EntryOutcome::Incomplete;
    const EntryOutcome M = EntryOutcome::Missing;
    const Row rows[] = {
        {{"A", "B", "A", "A"}, {W, W, W, I}, {}, {-1, -1, 0, 20}, {20, -1, 30, -1}},
        {{"A", "B", "A", "A"},
         {W, W, W, W},
         {true, true, false, true},
         {-1, -1, -1, 0},
         {30, -1, -1, -1}},
        {{"A", "B", "A", "A"},
         {W, W, W, W},
         {false, true, true, true},
         {-1, -1, -1, 20},
         {-1, -1, 30, -1}},
        {{"A", "A", "A"}, {W, M, W}, {}, {-1, -1, 0}, {20, -1, -1}},
        {{"A", "A", "A"}, {W, W, W}, {true}, {-1, 0, 10}, {10, 20, -1}},
        {{"A", "A", "A"}, {W, W, W}, {true, false}, {-1, -1, 0}, {20, -1, -1}},
    };
    for (const Row& row : rows) {
        SetPlan plan{};
        for (size_t i = 0; i < row.names.size(); ++i) {
            PlannedEntry entry{};
            entry.index = static_cast<int>(i) * 10;
            entry.outcome = row.outcomes[i];
            entry.saved = savedName(row.names[i], NameTarget::Host, BYTE_NAME_RULES);
            plan.entries.push_back(entry);
        }
        settlePlan(plan);
        std::vector<int> replaces;
        std::vector<int> replacedBy;
        for (const Replacement& replacement : decideReplacements(plan, row.written)) {
            replaces.push_back(replacement.replaces);
            replacedBy.push_back(replacement.replacedBy);
        }
        SCOPED_TRACE(testing::PrintToString(row.written));
        EXPECT_EQ(replaces, row.replaces);
        EXPECT_EQ(replacedBy, row.replacedBy);
        if (row.written.empty()) {
            for (size_t i = 0; i < plan.entries.size(); ++i) {
                EXPECT_EQ(plan.entries[i].replaces, row.replaces[i]);
                EXPECT_EQ(plan.entries[i].replacedBy, row.replacedBy[i]);
            }
        }
    }
}

// The shell's rules, as NamePattern.h gives them, for text in UTF-8 and for bytes.
TEST(NamePattern, MatchesAsAShellMatchesNames) {
    const PatternText U = PatternText::Utf8;
    const PatternText B = PatternText::Bytes;
    const struct {
        const char* pattern;
        const char* text;
        PatternText kind;
        bool matches;
    } rows[] = {
        {"*", "", U, true},
        {"**", "", U, true},
        {"*", ".hidden", U, true}, // a leading dot is a character like any other
        {"*.TXT", "README.TXT", U, true},
        {"*.TXT", "README.TX", U, false},
        {"*.TXT", "A.TXT.BAK", U, false},
        {"*A*B*C", "xAxBxCx", U, false},
        {"*A*B*C*", "xAxBxCx", U, true},
        {"*AB", "AAB", U, true}, // a star gives back what it took
        {"a", "A", U, false},    // case counts
        {"?", "", U, false},
        {"?", "A", U, true},
        {"?", "AB", U, false},
        {"?", "\xE3\x83\x87", U, true}, // デ: one character
        {"?", "\xE3\x83\x87", B, false},
        {"???", "\xE3\x83\x87", B, true},
        {"?", "\x83", U, true},      // a byte that starts no sequence is one character
        {"?", "\xE3\x83", U, false}, // a sequence cut short is two
        {"??", "\xE3\x83", U, true},
        {"?", "\xC0\x80", U, false},    // an overlong form is two bytes
        {"\xC3\xA9", "\xE9", U, false}, // a lone byte is no character of its number
        {"\xE3\x83\x87*", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.DAT", B, true},
        {"[\xE3\x82\xA2-\xE3\x83\xB3]*", "\xE3\x83\x87.DAT", U, true}, // ア-ン holds デ
        {"[\xE3\x82\xA2-\xE3\x83\xB3]", "A", U, false},
        {"[\x80-\xFF]", "\x83", U, true}, // lone bytes range among themselves
        {"[\x80-\xFF]", "\xE3\x83\x87", U, false},
        {"[\x80-\xFF]", "\x83", B, true},
        {"[a-c]", "b", U, true},
        {"[a-c]", "d", U, false},
        {"[!a]", "b", U, true},
        {"[!a]", "a", U, false},
        {"[^a]", "a", U, false},
        {"[^a]", "^", U, true},
        {"[]]", "]", U, true}, // a ']' first in the set stands for itself
        {"[]a]", "a", U, true},
        {"[!]]", "]", U, false},
        {"[!]]", "x", U, true},
        {"[a-]", "-", U, true}, // a '-' last is itself
        {"[a-]", "b", U, false},
        {"[a\\]]", "]", U, true},
        {"[[:digit:]]*", "1A", U, true},
        {"[[:digit:]]*", "A1", U, false},
        {"[[:alpha:][:digit:]]", "7", U, true},
        {"[![:alnum:]]", "_", U, true},
        {"[![:alnum:]]", "z", U, false},
        {"[[:upper:]]", "a", U, false},
        {"[[:xdigit:]]", "F", U, true},
        {"[[:xdigit:]]", "G", U, false},
        {"[[:space:]]", "\t", U, true},
        {"[[:punct:]]", "[", U, true},
        {"[[:punct:]]", "A", U, false},
        {"[[:foo:]]", "f", U, false},  // a class of no name matches nothing
        {"[[:digit:]", "[d", U, true}, // the first '[' is not closed: itself
        {"[[:digit:]", "5", U, false},
        {"[", "[", U, true},
        {"[a", "[a", U, true},
        {"[a", "a", U, false},
        {"\\*", "*", U, true},
        {"\\*", "X", U, false},
        {"\\", "\\", U, true}, // a backslash at the end is itself
        {"[\\", "[\\", U, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " on " + row.text +
                     (row.kind == B ? " as bytes" : ""));
        EXPECT_EQ(matchesPattern(row.pattern, row.text, row.kind), row.matches);
        EXPECT_EQ(matchesPattern(compilePattern(row.pattern, row.kind), row.text), row.matches);
    }
}

namespace {

// Compiles `pattern` once and matches it against 1,000 names; the seconds that takes.
double secondsToMatch(const std::string& pattern) {
    const auto start = std::chrono::steady_clock::now();
    const CompiledPattern compiled = compilePattern(pattern, PatternText::Utf8);
    int matched = 0;
    for (int i = 0; i < 1000; ++i) {
        matched += matchesPattern(compiled, "FILE" + std::to_string(i) + ".BIN") ? 1 : 0;
    }
    EXPECT_EQ(matched, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

// A pattern costs time in proportion to its length: the longest that a name could need
// (MAX_PATTERN_BYTES) ...
TEST(NamePattern, ALongPatternIsCompiledQuickly) {
    EXPECT_LT(secondsToMatch(std::string(MAX_PATTERN_BYTES, '[')), 0.1);
    EXPECT_LT(secondsToMatch(std::string(MAX_PATTERN_BYTES / 3, '[') + "\\]*"), 0.1);
}

// ... and one of 50,000 unclosed '[' too.
TEST(NamePattern, AVeryLongPatternIsCompiledInWellUnderASecond) {
    EXPECT_LT(secondsToMatch(std::string(50000, '[')), 0.5);
}
