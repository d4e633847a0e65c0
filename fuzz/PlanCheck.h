// Checks a set plan against the reader: the directory and every entry's run read again from the
// disks that an independent choice names for it. From one disk, by readRun and sector by sector;
// from several copies of a disk, sector by sector from each copy, each sector taken as
// MergeRule.h says. The directory read both ways (as the set's programs read it, one run that
// stops at the first sector missing or short and keeps that sector's stored bytes; by identity
// each sector on its own from every copy), the entries listed and those that cannot be read,
// each entry's outcome, bytes, read errors, error sectors, sources and merge, its pieces (inside
// the given files, a sector split only where one file ends), the bytes readPlannedFile
// assembles from them, the replacements, the missing disks, the counts (countSet), the notes on
// the directory (decideDirectoryNotes) and whether the set is whole (planIsWhole) must follow.
#pragma once

#include "MergeRule.h"

#include "Host.h"
#include "Plan.h"
#include "SetCounts.h"
#include "SetNotes.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

// The given files as the fuzz target cut them: file k holds image bytes ends[k] to ends[k + 1].
struct GivenFiles {
    std::vector<int64_t> ends;
    std::vector<std::string> names; // as they stand in the folder written into
    int count() const { return static_cast<int>(names.size()); }
    int64_t length(int part) const { return ends[part + 1] - ends[part]; }
    // The file that holds image byte `position`, -1 past the end.
    int holding(int64_t position) const {
        for (int part = 0; part < count(); ++part) {
            if (ends[part] <= position && position < ends[part + 1]) {
                return part;
            }
        }
        return -1;
    }
};

// What the plan should find: the disks read for the directory and for each set number, in the
// order given (several when a disk is given in copies that differ); empty for none.
struct ExpectedChoice {
    bool enoughDisks;
    bool programs;
    std::vector<int> directoryCopies;
    std::vector<std::vector<int>> copiesFor; // by set number, 0 to MAX_SET_NUMBER
    // The copies of set number `id` (1 to 256), none for a number that no disk can carry.
    const std::vector<int>& copiesOf(int id) const {
        static const std::vector<int> none;
        return id >= 0 && static_cast<size_t>(id) < copiesFor.size()
                   ? copiesFor[static_cast<size_t>(id)]
                   : none;
    }
};

inline void checkChoice(const DiskChoice& choice, const ExpectedChoice& expected) {
    if (choice.enoughDisks != expected.enoughDisks || choice.programs != expected.programs ||
        (expected.enoughDisks && choice.directoryCopies != expected.directoryCopies) ||
        choice.copiesFor != expected.copiesFor) {
        abort();
    }
}

// A run read again: its bytes (valid until the next run is read), read errors and, per sector,
// where its data lies (-1 when voted) and, read from several copies, how it was taken.
struct Reread {
    int got = 0;
    RunErrors errors;
    std::vector<int> errorSectors;
    std::vector<int64_t> positions;
    const uint8_t* bytes = nullptr;
    bool merged = false;
    std::vector<TakenSector> taken;
};

struct RunBuffers {
    std::vector<uint8_t> run = std::vector<uint8_t>(WORK_BUFFER_BYTES);
    std::vector<uint8_t> bySectors = std::vector<uint8_t>(WORK_BUFFER_BYTES);
    std::vector<uint8_t> merged = std::vector<uint8_t>(WORK_BUFFER_BYTES);
    std::vector<std::vector<uint8_t>> copies; // one sector of each copy
    const std::vector<uint8_t> zeros = std::vector<uint8_t>(WORK_BUFFER_BYTES);
};

// True when `length` bytes at `bytes` are all zero.
inline bool allZero(const RunBuffers& buffers, const uint8_t* bytes, int length) {
    return length <= 0 || memcmp(bytes, buffers.zeros.data(), static_cast<size_t>(length)) == 0;
}

inline bool sameErrors(const RunErrors& a, const RunErrors& b) {
    return a.sectors == b.sectors && a.errorSectors == b.errorSectors;
}

// The next sector of a run: r up to LAST_SECTOR, then the next track (head 0 to 1, then the next
// cylinder) from FIRST_SECTOR.
inline void stepSector(int& track, int& r) {
    if (r == LAST_SECTOR) {
        ++track;
        r = FIRST_SECTOR;
    } else {
        ++r;
    }
}

// The run of `total` bytes from (track, r) of the selected disk, read by readRun and sector by
// sector, stepping as the disk set does. The two must agree. `buffers.run` keeps the bytes that
// readRun stored (a short last sector's included, as a caller's buffer would).
inline Reread rereadRun(d88::D88Image& image, int track, int r, int total, RunBuffers& buffers) {
    Reread result;
    result.got =
        image.readRun(track, track >> 1, track & 1, r, SECTOR_SIZE_CODE, buffers.run.data(), total);
    int got = 0;
    RunErrors errors;
    for (int t = track, s = r; got < total; stepSector(t, s)) {
        d88::SectorPlace place;
        const int want = std::min(SECTOR_BYTES, total - got);
        if (image.readSector(t, t >> 1, t & 1, s, SECTOR_SIZE_CODE, buffers.bySectors.data() + got,
                             want) < want ||
            image.locateSector(setSectorAddress(t, s), want, place) != want) {
            break;
        }
        if (d88::isReadErrorStatus(place.marks.status)) {
            ++errors.errorSectors;
            result.errorSectors.push_back(errors.sectors);
        }
        ++errors.sectors;
        result.positions.push_back(place.position);
        got += want;
    }
    result.errors = errors;
    if (result.got != got ||
        memcmp(buffers.run.data(), buffers.bySectors.data(), static_cast<size_t>(got)) != 0) {
        abort(); // readRun and its sectors disagree
    }
    result.bytes = buffers.run.data();
    return result;
}

// Whether the bytes stored at `a` sort below those of `b` (of the same length).
inline bool lowerBytes(d88::D88Image& image, const d88::SectorPlace& a, const d88::SectorPlace& b) {
    uint8_t x[SECTOR_BYTES];
    uint8_t y[SECTOR_BYTES];
    if (image.readBytes(a.position, x, a.length) != a.length ||
        image.readBytes(b.position, y, b.length) != b.length) {
        abort();
    }
    return memcmp(x, y, static_cast<size_t>(a.length)) < 0;
}

// One sector at (t, s) read from each of `copies`: the copies that hold `want` bytes of it whole
// into `holders` (their bytes in buffers.copies). Returns true when some copy holds a record of
// it with a byte of data at least (a record without data is no sector); `longest` receives the most
// bytes that one copy stores (of copies storing as many, the lowest bytes).
inline bool readCopies(d88::D88Image& image, const std::vector<int>& copies, int t, int s, int want,
                       RunBuffers& buffers, std::vector<CopySector>& holders,
                       d88::SectorPlace* longest = nullptr) {
    if (buffers.copies.size() < copies.size()) {
        buffers.copies.resize(copies.size(), std::vector<uint8_t>(SECTOR_BYTES));
    }
    holders.clear();
    bool found = false;
    for (size_t k = 0; k < copies.size(); ++k) {
        d88::SectorPlace place;
        if (!image.selectDisk(copies[k])) {
            abort();
        }
        image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
        const int read =
            image.readSector(t, t >> 1, t & 1, s, SECTOR_SIZE_CODE, buffers.copies[k].data(), want);
        if (image.locateSector(setSectorAddress(t, s), want, place) != read) {
            abort();
        }
        found = found || read > 0;
        if (read == want) {
            holders.push_back(CopySector{copies[k], place.position, place.marks.status,
                                         buffers.copies[k].data()});
        }
        if (longest != nullptr && read > 0 &&
            (read > longest->length ||
             (read == longest->length && lowerBytes(image, place, *longest)))) {
            *longest = place;
        }
    }
    return found;
}

// The run of `total` bytes from (track, r) read from the disks `copies` in order, stepping as
// rereadRun does, each sector taken from the copies that hold it whole as MergeRule.h says. The
// run ends at the first sector that no copy holds whole. The bytes are kept in
// `buffers.merged`.
inline Reread rereadCopies(d88::D88Image& image, const std::vector<int>& copies, int track, int r,
                           int total, RunBuffers& buffers) {
    Reread result;
    result.merged = true;
    std::vector<CopySector> holders;
    for (int t = track, s = r; result.got < total; stepSector(t, s)) {
        const int want = std::min(SECTOR_BYTES, total - result.got);
        readCopies(image, copies, t, s, want, buffers, holders);
        if (holders.empty()) {
            break;
        }
        const TakenSector taken =
            takeSector(holders, copies.size(), want, buffers.merged.data() + result.got);
        if (taken.readError) {
            ++result.errors.errorSectors;
            result.errorSectors.push_back(result.errors.sectors);
        }
        ++result.errors.sectors;
        result.positions.push_back(taken.position);
        result.taken.push_back(taken);
        result.got += want;
    }
    result.bytes = buffers.merged.data();
    return result;
}

// The run read again from `copies`: by rereadRun from a single disk, else by rereadCopies.
inline Reread rereadFrom(d88::D88Image& image, const std::vector<int>& copies, int track, int r,
                         int total, RunBuffers& buffers) {
    if (copies.size() > 1) {
        return rereadCopies(image, copies, track, r, total, buffers);
    }
    if (!image.selectDisk(copies[0])) {
        abort();
    }
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    return rereadRun(image, track, r, total, buffers);
}

// True when some disk of `copies` holds a record of the sector at (track, r) with a byte of data
// at least, however short (a record without data is no sector, as for the ID sector).
inline bool anyRecord(d88::D88Image& image, const std::vector<int>& copies, int track, int r) {
    for (int disk : copies) {
        d88::SectorPlace place;
        if (!image.selectDisk(disk)) {
            abort();
        }
        image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
        if (image.locateSector(setSectorAddress(track, r), SECTOR_BYTES, place) > 0) {
            return true;
        }
    }
    return false;
}

// How a run was merged from copies, against the run read again: each sector's origin as the
// rule takes it, and the voted sectors' bytes kept inline; nothing when read from one disk.
inline void checkMerge(const MergedRun& merge, const Reread& run) {
    size_t voted = 0;
    for (const TakenSector& taken : run.taken) {
        voted += taken.taken == SectorTaken::Voted ? 1 : 0;
    }
    if (merge.origins.size() != run.taken.size() ||
        merge.inlineBytes.size() != voted * SECTOR_BYTES) {
        abort();
    }
    for (size_t i = 0; i < run.taken.size(); ++i) {
        if (!sameAsRule(merge.origins[i], run.taken[i])) {
            abort();
        }
    }
}

// The pieces cover each sector's data in order, each inside the file that holds its first
// byte, and a sector is split only where a file ends; a voted sector is one piece of the
// entry's own bytes. `sources` names per sector the file its bytes start in, -1 when voted.
inline void checkPieces(const d88::D88Image& image, const GivenFiles& files,
                        const std::vector<Piece>& pieces, const std::vector<int>& sources,
                        const MergedRun& merge, const Reread& run) {
    size_t next = 0;
    if (sources.size() != run.positions.size()) {
        abort();
    }
    for (size_t sector = 0; sector < run.positions.size(); ++sector) {
        const int64_t sectorStart = run.positions[sector];
        if (sources[sector] != (sectorStart < 0 ? INLINE_PIECE : files.holding(sectorStart))) {
            abort();
        }
        if (sectorStart < 0) {
            if (next == pieces.size() || pieces[next].part != INLINE_PIECE ||
                pieces[next].length != SECTOR_BYTES || pieces[next].offset < 0 ||
                pieces[next].offset + SECTOR_BYTES >
                    static_cast<int64_t>(merge.inlineBytes.size())) {
                abort(); // a voted sector not kept inline
            }
            ++next;
            continue;
        }
        int64_t at = sectorStart;
        while (at < sectorStart + SECTOR_BYTES) {
            if (next == pieces.size()) {
                abort(); // a sector not covered
            }
            const Piece& piece = pieces[next++];
            const int part = files.holding(at);
            if (piece.part != part || image.partStart(part) != files.ends[part] ||
                piece.offset != at - files.ends[part] || piece.length <= 0 ||
                piece.offset + piece.length > files.length(part) ||
                at + piece.length > sectorStart + SECTOR_BYTES) {
                abort(); // outside its file or its sector
            }
            at += piece.length;
            if (at < sectorStart + SECTOR_BYTES && at != files.ends[part + 1]) {
                abort(); // split where no file ends
            }
        }
    }
    if (next != pieces.size()) {
        abort();
    }
}

// The host's target for a folder that holds the given files under `names`, as hostSaveTarget
// tells it: each of those names is the image itself.
inline SaveTarget folderHolding(const std::vector<std::string>& names) {
    SaveTarget target{NameTarget::Host, hostNameRules(), {}};
    for (const std::string& name : names) {
        target.imageNameKeys.push_back(hostNameRules().sameFileKey(name.c_str()));
    }
    return target;
}

// How a target names files: which saved names are the image's own files (the names of
// `imageFiles`, for folderHolding), and whether the host's rules may refuse more names than
// those with a '/'.
struct TargetExpectation {
    const GivenFiles* imageFiles; // null: never the image (a zip)
    bool hostRules;
};

inline bool isOneOf(const std::string& name, const std::vector<std::string>& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The outcome of `planned`, whose bytesRead were read (more than 0): the name decides. A name
// with a '/' is refused at every target; other names the host's own rule may refuse as well.
inline EntryOutcome expectedOutcome(const PlannedEntry& planned, const TargetExpectation& target) {
    const DirEntry& entry = planned.entry;
    const char* name = entry.name;
    if (strchr(name, '/') != nullptr ||
        (target.hostRules && planned.outcome == EntryOutcome::UnsafeName)) {
        return EntryOutcome::UnsafeName;
    }
    if (target.imageFiles != nullptr && isOneOf(name, target.imageFiles->names)) {
        return EntryOutcome::ImageItself;
    }
    if (strcmp(name, "") == 0 || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        return EntryOutcome::Uncreatable;
    }
    return planned.bytesRead < entry.size ? EntryOutcome::Incomplete : EntryOutcome::Whole;
}

// The directory read again: each sector's bytes known, whether a record of it is there, how it
// was taken (from several copies as the rule takes it), the directory's bytes as read and the
// bytes of its voted sectors.
struct ExpectedDirectory {
    int disk = -1;
    bool asPrograms = false;
    int bytes[DIRECTORY_SECTORS] = {};
    bool found[DIRECTORY_SECTORS] = {};
    TakenSector taken[DIRECTORY_SECTORS] = {};
    bool fromCopies = false;
    RunErrors errors;
    uint8_t data[DIRECTORY_BYTES] = {};
    std::vector<uint8_t> voted;
};

// The directory as `expected` says the plan reads it. The set's programs read one run from the
// first disk, that stops at the first sector missing or short and keeps that sector's stored
// bytes; by identity every sector is read on its own from every copy of Disk A: as the rule
// takes it from the copies that hold it whole, else the most bytes one copy stores (the first
// such copy's).
inline void rereadDirectory(d88::D88Image& image, const ExpectedChoice& expected,
                            RunBuffers& buffers, ExpectedDirectory& read) {
    read = ExpectedDirectory{};
    read.disk = expected.directoryCopies.empty() ? -1 : expected.directoryCopies[0];
    read.asPrograms = expected.programs;
    if (!expected.enoughDisks || read.disk < 0) {
        return;
    }
    if (expected.programs) {
        if (!image.selectDisk(read.disk)) {
            abort();
        }
        image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
        const Reread run =
            rereadRun(image, DIRECTORY_TRACK, DIRECTORY_SECTOR, DIRECTORY_BYTES, buffers);
        memcpy(read.data, run.bytes, static_cast<size_t>(run.got));
        read.errors = run.errors;
        const int whole = run.got / SECTOR_BYTES;
        for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
            const int r = DIRECTORY_SECTOR + s;
            if (s < whole) {
                read.bytes[s] = SECTOR_BYTES;
                read.found[s] = true;
                read.taken[s].readError =
                    std::find(run.errorSectors.begin(), run.errorSectors.end(), s) !=
                    run.errorSectors.end();
                continue;
            }
            read.found[s] = anyRecord(image, {read.disk}, DIRECTORY_TRACK, r);
            if (s == whole) {
                uint8_t stored[SECTOR_BYTES];
                read.bytes[s] =
                    image.readSector(DIRECTORY_TRACK, DIRECTORY_TRACK >> 1, DIRECTORY_TRACK & 1, r,
                                     SECTOR_SIZE_CODE, stored, SECTOR_BYTES);
                memcpy(read.data + run.got, stored, static_cast<size_t>(read.bytes[s]));
            }
        }
        return;
    }
    const std::vector<int>& copies = expected.directoryCopies;
    read.fromCopies = copies.size() > 1;
    std::vector<CopySector> holders;
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        uint8_t* out = read.data + s * SECTOR_BYTES;
        d88::SectorPlace longest{-1, 0, {0, 0, 0}};
        read.found[s] = readCopies(image, copies, DIRECTORY_TRACK, DIRECTORY_SECTOR + s,
                                   SECTOR_BYTES, buffers, holders, &longest);
        if (!holders.empty()) {
            read.taken[s] = takeSector(holders, copies.size(), SECTOR_BYTES, out);
            read.bytes[s] = SECTOR_BYTES;
            ++read.errors.sectors;
            read.errors.errorSectors += read.taken[s].readError ? 1 : 0;
            if (read.taken[s].taken == SectorTaken::Voted) {
                read.voted.insert(read.voted.end(), out, out + SECTOR_BYTES);
            }
        } else {
            read.bytes[s] = longest.length;
            if (longest.length > 0 &&
                image.readBytes(longest.position, out, longest.length) != longest.length) {
                abort();
            }
        }
    }
}

// The plan's reading of the directory (and the directory buffer planSet read it from) is
// `expected`'s.
inline void checkDirectory(const DirectoryRead& read, const uint8_t* buffer,
                           const ExpectedDirectory& expected) {
    if (read.disk != expected.disk || read.asPrograms != expected.asPrograms ||
        !sameErrors(read.errors, expected.errors) ||
        memcmp(buffer, expected.data, DIRECTORY_BYTES) != 0) {
        abort();
    }
    if (expected.disk < 0) {
        return;
    }
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        const DirectorySector& sector = read.sectors[s];
        const TakenSector& taken = expected.taken[s];
        const bool whole = expected.bytes[s] == SECTOR_BYTES;
        if (sector.bytes != expected.bytes[s] || sector.found != expected.found[s] ||
            (whole && sector.origin.readError != taken.readError)) {
            abort();
        }
        if (!expected.asPrograms && whole && !sameAsRule(sector.origin, taken)) {
            abort();
        }
        if (expected.asPrograms && sector.origin.taken != SectorTaken::AsStored) {
            abort();
        }
        if (expected.fromCopies) {
            if (read.merge.origins.size() != DIRECTORY_SECTORS ||
                (whole && !sameAsRule(read.merge.origins[static_cast<size_t>(s)], taken))) {
                abort();
            }
        }
    }
    if (read.merge.inlineBytes != expected.voted ||
        (!expected.fromCopies && !read.merge.origins.empty())) {
        abort();
    }
}

// True when every byte of entry `index` of `layout` lies where the directory was read.
inline bool entryKnown(const ExpectedDirectory& read, const DirectoryLayout& layout, int index) {
    const int first = layout.firstEntryOffset + index * DIR_ENTRY_SIZE;
    for (int at = first; at < first + DIR_ENTRY_SIZE; ++at) {
        if (at % SECTOR_BYTES >= read.bytes[at / SECTOR_BYTES]) {
            return false;
        }
    }
    return true;
}

// The notes on the directory that `read` gives: a sector that the set's programs do not reach
// (after one missing or short), missing, cut short, contested or with a read error, with the
// entries of `layout` whose bytes lie where it was not read (all of it, when it was read with a
// doubt); an entry that two noted sectors share goes with the later one.
inline std::vector<DirectoryNote> expectedNotes(const ExpectedDirectory& read,
                                                const DirectoryLayout& layout) {
    std::vector<DirectoryNote> notes;
    if (read.disk < 0) {
        return notes;
    }
    bool stopped = false;
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        DirectoryNote note{s + 1, SectorProblem::Missing, read.bytes[s], -1, -1, {}};
        int from = s * SECTOR_BYTES;
        const TakenSector& taken = read.taken[s];
        if (stopped) {
            note.problem = SectorProblem::NotRead;
        } else if (read.bytes[s] < SECTOR_BYTES) {
            note.problem = read.found[s] ? SectorProblem::Cut : SectorProblem::Missing;
            from += read.bytes[s];
            stopped = read.asPrograms;
        } else if (taken.taken == SectorTaken::Contested) {
            note.problem = SectorProblem::Contested;
        } else if (taken.readError) {
            note.problem = SectorProblem::ReadError;
        } else {
            continue;
        }
        for (int i = 0; i < layout.entryCount; ++i) {
            const int start = layout.firstEntryOffset + i * DIR_ENTRY_SIZE;
            if (start < (s + 1) * SECTOR_BYTES && start + DIR_ENTRY_SIZE > from) {
                note.firstEntry = note.firstEntry < 0 ? i : note.firstEntry;
                note.lastEntry = i;
            }
        }
        notes.push_back(note);
    }
    for (size_t k = 0; k + 1 < notes.size(); ++k) {
        DirectoryNote& note = notes[k];
        if (notes[k + 1].sector == note.sector + 1 && note.lastEntry >= 0 &&
            note.lastEntry == notes[k + 1].firstEntry) {
            --note.lastEntry;
            if (note.lastEntry < note.firstEntry) {
                note.firstEntry = note.lastEntry = -1;
            }
        }
    }
    return notes;
}

inline void checkNotes(const std::vector<DirectoryNote>& notes,
                       const std::vector<DirectoryNote>& expected) {
    if (notes.size() != expected.size()) {
        abort();
    }
    for (size_t i = 0; i < notes.size(); ++i) {
        const DirectoryNote& x = notes[i];
        const DirectoryNote& y = expected[i];
        if (x.sector != y.sector || x.problem != y.problem || x.firstEntry != y.firstEntry ||
            x.lastEntry != y.lastEntry || (x.problem == SectorProblem::Cut && x.bytes != y.bytes)) {
            abort();
        }
    }
}

// Checks one entry; `run` is its run read again (nothing when it has no disk or no size) from
// `copies` (empty when no disk carries its number).
inline void checkEntry(d88::D88Image& image, const GivenFiles& files, const PlannedEntry& planned,
                       const uint8_t* bytes, const std::vector<int>& copies, const Reread& run,
                       const TargetExpectation& target, WalkBuffers& buffers,
                       const RunBuffers& runBuffers) {
    // The entry as its 16 bytes give it.
    const DirEntry& entry = planned.entry;
    int nameLength = 0;
    while (nameLength < ENTRY_NAME_LENGTH && bytes[nameLength] != ' ') {
        ++nameLength;
    }
    if (memcmp(planned.bytes, bytes, DIR_ENTRY_SIZE) != 0 ||
        memcmp(entry.name, bytes, static_cast<size_t>(nameLength)) != 0 ||
        entry.name[nameLength] != '\0' || entry.track != bytes[ENTRY_TRACK_OFFSET] ||
        entry.sector != bytes[ENTRY_SECTOR_OFFSET] ||
        entry.size != bytes[ENTRY_SIZE_OFFSET] * SECTOR_BYTES ||
        entry.diskNumber != bytes[ENTRY_DISK_OFFSET]) {
        abort();
    }
    const bool found = !copies.empty();
    if (planned.disk != (found ? copies[0] : -1) ||
        (planned.outcome == EntryOutcome::NoDisk) != !found ||
        !sameErrors(planned.readErrors, run.errors) || planned.errorSectors != run.errorSectors ||
        planned.bytesRead != run.got) {
        abort();
    }
    const bool read = run.got > 0;
    if ((planned.outcome == EntryOutcome::Empty) != (found && entry.size == 0) ||
        (planned.outcome == EntryOutcome::Missing) != (found && entry.size > 0 && !read)) {
        abort();
    }
    // A record of the first sector is there: read, or some copy holds one however short.
    const bool firstFound =
        found && entry.size > 0 &&
        (read || anyRecord(image, copies, bytes[ENTRY_TRACK_OFFSET], bytes[ENTRY_SECTOR_OFFSET]));
    if (planned.firstSectorFound != firstFound) {
        abort();
    }
    checkPieces(image, files, planned.pieces, planned.sources, planned.merged, run);
    if (run.merged) {
        checkMerge(planned.merged, run);
    } else if (!planned.merged.origins.empty() || !planned.merged.inlineBytes.empty()) {
        abort(); // merged, yet read from one disk
    }
    // The bytes assembled from the pieces: the run's, zero past them.
    memset(buffers.work, 0xA5, static_cast<size_t>(entry.size));
    if (readPlannedFile(image, planned, buffers) != run.got ||
        (run.got > 0 && memcmp(buffers.work, run.bytes, static_cast<size_t>(run.got)) != 0) ||
        !allZero(runBuffers, buffers.work + run.got, entry.size - run.got)) {
        abort();
    }
    if (read && planned.outcome != expectedOutcome(planned, target)) {
        abort();
    }
}

inline bool anyTaken(const MergedRun& merged, SectorTaken taken) {
    return std::any_of(merged.origins.begin(), merged.origins.end(),
                       [&](const SectorOrigin& origin) { return origin.taken == taken; });
}

inline bool refusedName(EntryOutcome outcome) {
    return outcome == EntryOutcome::UnsafeName || outcome == EntryOutcome::ImageItself ||
           outcome == EntryOutcome::Uncreatable;
}

// Replacements, missing disks and the counts follow from the entries; whether the set is whole
// from them and the directory's notes (`directoryWhole`: none).
inline void checkTotals(const SetPlan& plan, bool directoryWhole) {
    std::map<std::string, size_t> last; // saved name key -> the last entry written there
    std::vector<MissingDisk> missing;
    SetCounts counts{};
    bool whole = plan.enoughDisks && directoryWhole;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        const int laterIndex = [&] {
            for (size_t k = i + 1; k < plan.entries.size(); ++k) {
                const PlannedEntry& later = plan.entries[k];
                if (isWritten(later.outcome) && later.saved.key == entry.saved.key) {
                    return later.index;
                }
            }
            return -1;
        }();
        const EntryOutcome outcome = entry.outcome;
        const int size = entry.entry.size;
        if (outcome == EntryOutcome::NotChosen || outcome == EntryOutcome::Empty ||
            (outcome == EntryOutcome::NoDisk && size == 0)) {
            ++counts.passedOver;
        } else if (!isWritten(outcome)) {
            ++counts.notWritten;
            whole = false; // a file of the set not written: no disk, no sector, a name refused
        }
        if (!isWritten(outcome)) {
            if (entry.replaces >= 0 || entry.replacedBy >= 0) {
                abort();
            }
        } else {
            const auto found = last.find(entry.saved.key);
            if (entry.replaces != (found == last.end() ? -1 : plan.entries[found->second].index) ||
                entry.replacedBy != laterIndex) {
                abort();
            }
            last[entry.saved.key] = i;
            ++counts.files;
            counts.bytes += size;
            counts.incomplete += outcome == EntryOutcome::Incomplete ? 1 : 0;
            counts.withReadErrors += entry.readErrors.errorSectors > 0 ? 1 : 0;
            counts.repaired += anyTaken(entry.merged, SectorTaken::Repaired) ? 1 : 0;
            counts.contested += anyTaken(entry.merged, SectorTaken::Contested) ? 1 : 0;
            counts.voted += anyTaken(entry.merged, SectorTaken::Voted) ? 1 : 0;
            whole = whole && outcome == EntryOutcome::Whole && entry.replaces < 0 &&
                    entry.readErrors.errorSectors == 0 &&
                    !anyTaken(entry.merged, SectorTaken::Contested);
        }
        if (outcome == EntryOutcome::NoDisk && size > 0) {
            const int id = entry.entry.diskNumber + 1;
            auto disk = std::find_if(missing.begin(), missing.end(),
                                     [&](const MissingDisk& m) { return m.id == id; });
            if (disk == missing.end()) {
                missing.push_back(MissingDisk{id, {}});
                disk = missing.end() - 1;
            }
            disk->entries.push_back(entry.index);
        }
    }
    counts.unreadable = static_cast<int>(plan.unreadable.size());
    const SetCounts got = countSet(plan);
    if (std::tie(got.files, got.bytes, got.incomplete, got.withReadErrors, got.repaired,
                 got.contested, got.voted, got.replaced, got.kept, got.notWritten, got.passedOver,
                 got.unreadable) !=
            std::tie(counts.files, counts.bytes, counts.incomplete, counts.withReadErrors,
                     counts.repaired, counts.contested, counts.voted, counts.replaced, counts.kept,
                     counts.notWritten, counts.passedOver, counts.unreadable) ||
        got.files + got.notWritten + got.passedOver != static_cast<int>(plan.entries.size())) {
        abort();
    }
    if (plan.missingDisks.size() != missing.size()) {
        abort();
    }
    for (size_t i = 0; i < missing.size(); ++i) {
        if (plan.missingDisks[i].id != missing[i].id ||
            plan.missingDisks[i].entries != missing[i].entries) {
            abort();
        }
    }
    if (planIsWhole(plan) != whole) {
        abort();
    }
}

// What checkPlan keeps of a reading of the directory between plans.
struct PlanCheckState {
    ExpectedDirectory directory;
    // Runs already read again, by set number, track, sector and size: an entry that names the
    // same run as an earlier one (of either layout) is checked against the same reading. Their
    // bytes are kept in `runBytes`, from `offset`.
    struct KeptRun {
        Reread run;
        size_t offset;
    };
    std::map<std::tuple<int, int, int, int>, KeptRun> runs;
    std::vector<uint8_t>* runBytes; // the caller's, kept from one input to the next
};

// Reads the directory again for the plans made from `expected`'s disks (readDirectory having
// filled `buffers` just now), and checks `read` against it.
inline void startPlanCheck(d88::D88Image& image, const DirectoryRead& read,
                           const ExpectedChoice& expected, const WalkBuffers& buffers,
                           RunBuffers& runBuffers, PlanCheckState& state) {
    rereadDirectory(image, expected, runBuffers, state.directory);
    checkDirectory(read, buffers.directory, state.directory);
    state.runs.clear();
    state.runBytes->clear();
}

// Checks `plan`, made by planSet from the directory that startPlanCheck checked, against the
// reader and `expected`.
inline void checkPlan(d88::D88Image& image, const GivenFiles& files, const SetPlan& plan,
                      const ExpectedChoice& expected, const DirectoryLayout& layout,
                      const TargetExpectation& target, WalkBuffers& buffers, RunBuffers& runBuffers,
                      PlanCheckState& state) {
    const ExpectedDirectory& directory = state.directory;
    if (plan.layout != &layout || plan.enoughDisks != expected.enoughDisks ||
        plan.directoryDisk != directory.disk || plan.directory.disk != directory.disk) {
        abort();
    }
    if (!plan.enoughDisks) {
        if (!plan.entries.empty() || !plan.missingDisks.empty() || !plan.unreadable.empty()) {
            abort();
        }
        checkTotals(plan, false);
        return;
    }
    // Every slot of the table in order: listed when read (the set's programs: whatever the
    // buffer holds) and its 16 bytes are not all zero; unreadable when not read and not listed.
    size_t listed = 0;
    size_t unreadable = 0;
    for (int index = 0; index < layout.entryCount; ++index) {
        const uint8_t* bytes = directory.data + layout.firstEntryOffset + index * DIR_ENTRY_SIZE;
        const bool unused =
            std::all_of(bytes, bytes + DIR_ENTRY_SIZE, [](uint8_t b) { return b == 0; });
        const bool known = entryKnown(directory, layout, index);
        if (known != entryRead(plan.directory, layout, index)) {
            abort();
        }
        if (!known && (unused || !expected.programs)) {
            if (unreadable == plan.unreadable.size() || plan.unreadable[unreadable] != index) {
                abort(); // an entry that cannot be read left out, or not in table order
            }
            ++unreadable;
            continue;
        }
        if (unused) {
            continue;
        }
        if (listed == plan.entries.size() || plan.entries[listed].index != index) {
            abort(); // a used slot left out, or not in table order
        }
        const PlannedEntry& planned = plan.entries[listed++];
        const int id = bytes[ENTRY_DISK_OFFSET] + 1;
        const std::vector<int>& copies = expected.copiesOf(id);
        const int size = bytes[ENTRY_SIZE_OFFSET] * SECTOR_BYTES;
        const int track = bytes[ENTRY_TRACK_OFFSET];
        const int r = bytes[ENTRY_SECTOR_OFFSET];
        Reread run;
        if (!copies.empty() && size > 0) {
            const auto key = std::make_tuple(id, track, r, size);
            const auto kept = state.runs.find(key);
            if (kept != state.runs.end()) {
                run = kept->second.run;
                run.bytes = state.runBytes->data() + kept->second.offset;
            } else {
                run = rereadFrom(image, copies, track, r, size, runBuffers);
                const size_t offset = state.runBytes->size();
                state.runBytes->insert(state.runBytes->end(), run.bytes, run.bytes + run.got);
                state.runs.emplace(key, PlanCheckState::KeptRun{run, offset});
            }
        }
        checkEntry(image, files, planned, bytes, copies, run, target, buffers, runBuffers);
    }
    if (listed != plan.entries.size() || unreadable != plan.unreadable.size()) {
        abort();
    }
    const std::vector<DirectoryNote> notes = expectedNotes(directory, layout);
    checkNotes(decideDirectoryNotes(plan.directory, &layout), notes);
    checkTotals(plan, notes.empty());
}
