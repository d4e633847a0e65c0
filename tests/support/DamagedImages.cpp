#include "DamagedImages.h"

#include "DiskSetImage.h"

#include "D88Format.h"

using namespace d88;

namespace {

constexpr size_t HEADER = 688;
constexpr size_t RECORD = 16 + 1024; // one formatted sector record
constexpr size_t TRACK = 5 * RECORD;

const std::string LINE_A = "A.BIN         DISK:01 TRK:1e SEC:01 SIZE:800\n";
const std::string LINE_B = "B.BIN         DISK:02 TRK:28 SEC:04 SIZE:c00\n";
const std::string LINE_C = "C.BIN         DISK:04 TRK:78 SEC:01 SIZE:800\n";

// Four healthy disks: A.BIN (disk 1, track 30), B.BIN (disk 2, track 40 sector 4 on to track
// 41) and C.BIN (disk 4, track 120, after the ID track in the file).
struct Healthy {
    explicit Healthy(const DirectoryLayout& layout, int disks = 4) : set(disks) {
        entry = layout.firstEntryOffset;
        set.setEntry(entry, "A.BIN", 30, 1, 2, 0);
        set.setEntry(entry + 16, "B.BIN", 40, 4, 3, 1);
        set.setEntry(entry + 32, "C.BIN", 120, 1, 2, 3);
        set.putFile(0, 30, 1, patternBytes(2, 1));
        set.putFile(1, 40, 4, patternBytes(3, 2));
        set.putFile(3, 120, 1, patternBytes(2, 3));
    }
    // Disk `disk`'s offset in the built image.
    size_t diskStart(int disk) const {
        size_t at = 0;
        for (int d = 0; d < disk; ++d) {
            at += HEADER + TRACK * set.disks[static_cast<size_t>(d)].tracks.size();
        }
        return at;
    }
    SectorPlan& sector(int disk, int track, int index) {
        return set.disks[static_cast<size_t>(disk)]
            .tracks[track]
            .sectors[static_cast<size_t>(index)];
    }

    DiskSetImage set;
    int entry;
};

const std::map<std::string, std::vector<uint8_t>> ALL_FILES = {
    {"A.BIN", patternBytes(2, 1)}, {"B.BIN", patternBytes(3, 2)}, {"C.BIN", patternBytes(2, 3)}};

} // namespace

const std::string TOO_FEW_DISKS_MESSAGE =
    "\x44\x69\x73\x6B\x20\x41\x81\x60\x44\x69\x73\x6B\x20\x44\x82\xAA\x98\x41\x8C\x8B\x82\xB5"
    "\x82\xBD\x83\x43\x83\x81\x81\x5B\x83\x57\x82\xF0\x8E\x67\x97\x70\x82\xB5\x82\xC4\x82\xAD"
    "\x82\xBE\x82\xB3\x82\xA2\x2E\x0A";

std::vector<DamagedCase> damagedCases(const DirectoryLayout& layout) {
    std::vector<DamagedCase> cases;
    const auto withoutFile = [](const std::string& name) {
        auto files = ALL_FILES;
        files.erase(name);
        return files;
    };
    const auto tooFew = [&cases](const std::string& name, std::vector<uint8_t> image) {
        cases.push_back({name, std::move(image), 1, "", TOO_FEW_DISKS_MESSAGE, {}});
    };

    {
        Healthy h(layout);
        cases.push_back({"healthy", h.set.build(), 0, LINE_A + LINE_B + LINE_C, "", ALL_FILES});
    }
    {
        Healthy h(layout);
        std::vector<uint8_t> image = h.set.build();
        image.resize(500);
        tooFew("cut in the first header", image);
        image = h.set.build();
        image.resize(h.diskStart(2) + 0x100);
        tooFew("cut in the third disk's track table", image);
    }
    {
        Healthy h(layout, 5);
        std::vector<uint8_t> image = h.set.build();
        image.resize(h.diskStart(4) + 0x200);
        cases.push_back({"fifth disk cut in its track table", image, 0, LINE_A + LINE_B + LINE_C,
                         "", ALL_FILES});
    }
    {
        Healthy h(layout);
        std::vector<uint8_t> image = h.set.build();
        image.resize(h.diskStart(3) + HEADER + TRACK + RECORD + 16 + 500);
        auto files = ALL_FILES;
        files["C.BIN"] = zeroTail(patternBytes(2, 3), 1024);
        cases.push_back({"cut in sector data", image, 1, LINE_A + LINE_B + LINE_C,
                         "incomplete file 'C.BIN': 1024 of 2048 bytes read\n", files});
        image.resize(h.diskStart(3) + HEADER + TRACK + 10);
        cases.push_back(
            {"cut in a sector header", image, 0, LINE_A + LINE_B, "", withoutFile("C.BIN")});
    }
    {
        Healthy h(layout);
        h.sector(1, 40, 4).status = 0xB0; // B.BIN's second sector: a data CRC error
        h.sector(0, 30, 0).deleted = DELETED_DATA_MARK;
        h.sector(0, 30, 0).status = STATUS_DELETED_DATA; // no error
        cases.push_back(
            {"a sector read with a CRC error, one with deleted data", h.set.build(), 1,
             LINE_A + LINE_B + LINE_C,
             "read errors in file 'B.BIN': 1 of 3 sectors stored with an error status\n",
             ALL_FILES});
    }
    {
        Healthy h(layout);
        h.sector(3, 120, 0).status = 0xB0;
        h.sector(3, 120, 1).status = 0xF0; // cut short, so the run never counts it
        std::vector<uint8_t> image = h.set.build();
        image.resize(h.diskStart(3) + HEADER + TRACK + RECORD + 16 + 500);
        auto files = ALL_FILES;
        files["C.BIN"] = zeroTail(patternBytes(2, 3), 1024);
        cases.push_back(
            {"error sector before the cut of an incomplete file", image, 1,
             LINE_A + LINE_B + LINE_C,
             "incomplete file 'C.BIN': 1024 of 2048 bytes read\n"
             "read errors in file 'C.BIN': 1 of 1 sectors stored with an error status\n",
             files});
    }
    {
        Healthy h(layout);
        h.sector(0, 1, 1).status = 0xF0;  // the second directory sector
        h.sector(1, 79, 4).status = 0xA0; // an ID sector is not reported
        cases.push_back({"a directory sector without its data mark", h.set.build(), 1,
                         LINE_A + LINE_B + LINE_C,
                         "read errors in the directory: 1 of 3 sectors stored with an error "
                         "status\n",
                         ALL_FILES});
    }
    {
        Healthy h(layout);
        h.set.disks[0].diskSizeOverride = 0;
        // Sixty-four copies of disk 1, none readable: every track lies past a size of 0.
        cases.push_back({"disk size 0", h.set.build(), 0, "", "", {}});
    }
    {
        Healthy h(layout);
        h.set.disks[1].diskSizeOverride = 0x7FFFFFFF;
        tooFew("disk size past the end of the file", h.set.build());
        h.set.disks[1].diskSizeOverride = 0xFFFFFFFF;
        tooFew("disk size past 2^31 - 1", h.set.build());
    }
    {
        Healthy h(layout);
        const uint32_t size = static_cast<uint32_t>(HEADER + 3 * TRACK);
        h.set.disks[1].trackOffsetOverride[40] = size + 1;
        cases.push_back({"track offset past the disk", h.set.build(), 0, LINE_A + LINE_C, "",
                         withoutFile("B.BIN")});
        h.set.disks[1].trackOffsetOverride[40] = size;
        cases.push_back({"track offset equal to the disk size", h.set.build(), 0, LINE_A + LINE_C,
                         "", withoutFile("B.BIN")});
        h.set.disks[1].trackOffsetOverride[40] = 0x10;
        cases.push_back({"track offset inside the header", h.set.build(), 0, LINE_A + LINE_C, "",
                         withoutFile("B.BIN")});
        h.set.disks[1].trackOffsetOverride[40] = 0xFFFFFFFF;
        cases.push_back({"track offset 0xFFFFFFFF", h.set.build(), 0, LINE_A + LINE_C, "",
                         withoutFile("B.BIN")});
    }
    {
        Healthy h(layout);
        h.sector(0, 30, 0).sectorsInTrack = 0;
        cases.push_back(
            {"sectors-in-track 0", h.set.build(), 0, LINE_B + LINE_C, "", withoutFile("A.BIN")});
    }
    {
        Healthy h(layout);
        for (SectorPlan& s : h.set.disks[1].tracks[40].sectors) {
            s.sectorsInTrack = 3; // B.BIN starts at the fourth record
        }
        cases.push_back({"sectors-in-track too small", h.set.build(), 0, LINE_A + LINE_C, "",
                         withoutFile("B.BIN")});
    }
    {
        Healthy h(layout);
        h.set.disks[0].tracks[30].sectors.pop_back(); // track 30 has four records
        for (SectorPlan& s : h.set.disks[0].tracks[30].sectors) {
            s.sectorsInTrack = 200;
        }
        h.set.setEntry(h.entry + 48, "D.BIN", 30, 5, 1, 0);
        cases.push_back({"sectors-in-track too large", h.set.build(), 0, LINE_A + LINE_B + LINE_C,
                         "", ALL_FILES});
    }
    {
        Healthy h(layout);
        h.sector(0, 30, 0).dataLength = 0;
        cases.push_back({"data length 0 on the first sector", h.set.build(), 0, LINE_B + LINE_C, "",
                         withoutFile("A.BIN")});
    }
    {
        Healthy h(layout);
        h.set.putFile(0, 30, 1, std::vector<uint8_t>(2048, 0));
        h.sector(0, 30, 0).dataLength = 1100; // the walk lands inside the next record's data
        auto files = ALL_FILES;
        files["A.BIN"] = std::vector<uint8_t>(2048, 0);
        cases.push_back({"data length larger than the data", h.set.build(), 1,
                         LINE_A + LINE_B + LINE_C,
                         "incomplete file 'A.BIN': 1024 of 2048 bytes read\n", files});
    }
    {
        Healthy h(layout);
        h.sector(3, 120, 4).dataLength = 0xFFFF; // the last record of the file
        h.set.setEntry(h.entry + 48, "E.BIN", 120, 5, 1, 3);
        auto files = ALL_FILES;
        files["E.BIN"] = std::vector<uint8_t>(1024, 0);
        cases.push_back(
            {"data length larger than the file", h.set.build(), 0,
             LINE_A + LINE_B + LINE_C + "E.BIN         DISK:04 TRK:78 SEC:05 SIZE:400\n", "",
             files});
    }
    {
        Healthy h(layout);
        SectorPlan first = h.sector(0, 30, 0);
        first.data.assign(1024, 0x11);
        auto& sectors = h.set.disks[0].tracks[30].sectors;
        sectors.insert(sectors.begin(), first);
        auto files = ALL_FILES;
        std::vector<uint8_t> a = patternBytes(2, 1);
        std::fill(a.begin(), a.begin() + 1024, 0x11);
        files["A.BIN"] = a;
        cases.push_back({"duplicate sector IDs: the first wins", h.set.build(), 0,
                         LINE_A + LINE_B + LINE_C, "", files});
    }
    {
        Healthy h(layout);
        h.sector(0, 30, 0).n = 2;
        cases.push_back({"size code 2 instead of 3", h.set.build(), 0, LINE_B + LINE_C, "",
                         withoutFile("A.BIN")});
        h.sector(0, 30, 0).n = 3;
        h.sector(0, 30, 0).c = 16;
        cases.push_back({"sector ID of another cylinder", h.set.build(), 0, LINE_B + LINE_C, "",
                         withoutFile("A.BIN")});
    }
    {
        Healthy h(layout, 70);
        h.set.setEntry(h.entry + 48, "F.BIN", 30, 1, 1, 63);
        h.set.setEntry(h.entry + 64, "G.BIN", 30, 1, 1, 64);
        h.set.putFile(63, 30, 1, patternBytes(1, 4));
        h.set.putFile(64, 30, 1, patternBytes(1, 5));
        auto files = ALL_FILES;
        files["F.BIN"] = patternBytes(1, 4);
        cases.push_back(
            {"seventy disks: only sixty-four are searched", h.set.build(), 0,
             LINE_A + LINE_B + LINE_C + "F.BIN         DISK:40 TRK:1e SEC:01 SIZE:400\n", "",
             files});
    }
    {
        Healthy h(layout);
        h.set.disks[0].tracks.erase(1);
        cases.push_back({"directory track missing", h.set.build(), 0, "", "", {}});
    }
    {
        Healthy h(layout);
        h.set.setEntry(2048 + 2 * 16, "LATE.BIN", 30, 1, 1, 0); // in the third sector
        h.set.disks[0].tracks[1].sectors.erase(h.set.disks[0].tracks[1].sectors.begin() + 2);
        cases.push_back({"third directory sector missing", h.set.build(), 0,
                         LINE_A + LINE_B + LINE_C, "", ALL_FILES});
    }
    {
        Healthy h(layout);
        h.set.disks[1].tracks.erase(79);
        cases.push_back(
            {"ID track missing", h.set.build(), 0, LINE_A + LINE_C, "", withoutFile("B.BIN")});
    }
    {
        Healthy h(layout);
        h.sector(1, 79, 4).data = {2};
        cases.push_back(
            {"ID sector of one byte", h.set.build(), 0, LINE_A + LINE_B + LINE_C, "", ALL_FILES});
        h.sector(1, 79, 4).data.clear();
        cases.push_back(
            {"ID sector empty", h.set.build(), 0, LINE_A + LINE_C, "", withoutFile("B.BIN")});
    }
    {
        Healthy h(layout);
        for (int d = 0; d < 4; ++d) {
            h.set.setIdByte(d, 0);
        }
        cases.push_back({"every ID byte 0", h.set.build(), 0, "", "", {}});
    }
    {
        Healthy h(layout);
        h.set.setEntry(h.entry + 48, "../UP.BIN", 30, 1, 1, 0);
        h.set.setEntry(h.entry + 64, "/ABS.BIN", 30, 1, 1, 0);
        h.set.setEntry(h.entry + 80, std::string("\0NUL.BIN", 8), 30, 1, 1, 0);
        h.set.setEntry(h.entry + 96, "            ", 30, 1, 1, 0);
        cases.push_back({"names with '/', a NUL, spaces only", h.set.build(), 1,
                         LINE_A + LINE_B + LINE_C,
                         "unsafe file name '../UP.BIN', not written\n"
                         "unsafe file name '/ABS.BIN', not written\n"
                         "cannot create file '': No such file or directory\n"
                         "cannot create file '': No such file or directory\n",
                         ALL_FILES});
    }
    {
        Healthy h(layout);
        std::vector<uint8_t> image = h.set.build();
        image.resize(h.diskStart(2));
        image.insert(image.end(), 5000, 0xA5);
        tooFew("two disks and garbage", image);
    }
    return cases;
}
