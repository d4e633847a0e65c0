// The zip policy over member lists, in-process: which members are read, which are left out, and
// when the whole zip is refused, at each of its three steps; and the order and names that both
// faces give the members.
#include "ZipPolicy.h"
#include "MemberOrder.h"
#include "SetDownload.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t MiB = int64_t{1} << 20;
constexpr uint32_t UNIX_FILE = 0100644u << 16;
constexpr uint32_t UNIX_LINK = 0120777u << 16;
constexpr uint32_t UNIX_FOLDER = 0040755u << 16;

// A deflated file of `size` bytes at `offset`, made on Unix.
ZipEntryFacts file(const std::string& name, int64_t size, int64_t offset = 0) {
    return ZipEntryFacts{name,  false,  3,    UNIX_FILE, ZIP_DEFLATED,
                         false, 0x1234, size, size / 2,  offset};
}

ZipEntryFacts with(ZipEntryFacts entry, void (*change)(ZipEntryFacts&)) {
    change(entry);
    return entry;
}

// What a verdict says, as one comparable value.
struct Said {
    ZipRefusal refusal;
    int member;
    int64_t bytes;
    ZipDamage damage;
    bool operator==(const Said& other) const {
        return refusal == other.refusal && member == other.member && bytes == other.bytes &&
               damage == other.damage;
    }
};
std::ostream& operator<<(std::ostream& out, const Said& said) {
    return out << static_cast<int>(said.refusal) << "/" << said.member << "/" << said.bytes << "/"
               << static_cast<int>(said.damage);
}
Said said(const ZipVerdict& verdict) {
    return Said{verdict.refusal, verdict.member, verdict.bytes, verdict.damage};
}
const Said NONE{ZipRefusal::None, -1, 0, ZipDamage::None};

} // namespace

// From the directory alone: counts first, then each file in the zip's order, then the run's sum.
TEST(ZipPolicy, TheDirectoryDecidesBeforeAnythingIsRead) {
    const ZipEntryFacts disk = file("a.d88", 1 * MiB);
    const ZipEntryFacts encrypted =
        with(file("e", 10), [](ZipEntryFacts& e) { e.encrypted = true; });
    std::vector<ZipEntryFacts> flagged(500, encrypted);
    flagged.insert(flagged.end(), 4, disk);
    const ZipEntryFacts link =
        with(file("l", 10), [](ZipEntryFacts& e) { e.attributes = UNIX_LINK; });
    const ZipEntryFacts folder =
        with(file("f", 0), [](ZipEntryFacts& e) { e.attributes = UNIX_FOLDER; });
    const ZipEntryFacts slash = with(file("set/", 0), [](ZipEntryFacts& e) { e.madeBy = 0; });
    const ZipEntryFacts dosFolder =
        with(file("dos", 0), [](ZipEntryFacts& e) { e.madeBy = 0, e.attributes = 0x10; });
    const ZipEntryFacts stored = with(file("s", 632000000), [](ZipEntryFacts& e) {
        e.method = ZIP_STORED, e.compressedSize = e.size;
    });
    const ZipEntryFacts twoSizes =
        with(file("t", 300), [](ZipEntryFacts& e) { e.method = ZIP_STORED; });
    const ZipEntryFacts bzip2 = with(file("b", 300), [](ZipEntryFacts& e) { e.method = 12; });
    const struct Row {
        const char* what;
        std::vector<ZipEntryFacts> entries;
        ZipRunSoFar run;
        Said verdict;
        std::vector<int> files;
        std::vector<int> notFiles;
    } rows[] = {
        {"files, a folder and a link",
         {folder, disk, link, slash, disk, dosFolder},
         {0, 0},
         NONE,
         {1, 4},
         {2}},
        {"an encrypted member among disks",
         {disk, encrypted, disk},
         {0, 0},
         {ZipRefusal::Encrypted, 1, 0, ZipDamage::None},
         {},
         {}},
        {"500 encrypted-flag members beside 4 disks",
         flagged,
         {0, 0},
         {ZipRefusal::TooManyFiles, -1, 0, ZipDamage::None},
         {},
         {}},
        {"64 files with the others of the run",
         {disk, disk},
         {63, 0},
         {ZipRefusal::TooManyFiles, -1, 0, ZipDamage::None},
         {},
         {}},
        {"64 files in all", {disk, disk}, {62, 0}, NONE, {0, 1}, {}},
        {"a member declaring 600 MiB",
         {disk, file("big", 600 * MiB)},
         {0, 0},
         {ZipRefusal::MemberTooLarge, 1, 600 * MiB, ZipDamage::None},
         {},
         {}},
        {"a member at the limit", {file("edge", 512 * MiB)}, {0, 0}, NONE, {0}, {}},
        {"a stored member of 632 MB",
         {stored},
         {0, 0},
         {ZipRefusal::MemberTooLarge, 0, 632000000, ZipDamage::None},
         {},
         {}},
        {"stored with two sizes",
         {twoSizes},
         {0, 0},
         {ZipRefusal::Damaged, 0, 0, ZipDamage::StoredSizesDiffer},
         {},
         {}},
        {"another method",
         {disk, bzip2},
         {0, 0},
         {ZipRefusal::Method, 1, 12, ZipDamage::None},
         {},
         {}},
        {"two members of 400 MiB",
         {file("1", 400 * MiB), file("2", 400 * MiB)},
         {0, 0},
         {ZipRefusal::TooLarge, -1, 800 * MiB, ZipDamage::None},
         {},
         {}},
        {"a zip after one that took the limit but 1 MiB",
         {file("x", 2 * MiB)},
         {0, 511 * MiB},
         {ZipRefusal::TooLarge, -1, 2 * MiB, ZipDamage::None},
         {},
         {}},
        {"a zip that fills the run's limit", {file("x", 1 * MiB)}, {0, 511 * MiB}, NONE, {0}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ZipPlan plan = planZip(row.entries, row.run);
        EXPECT_EQ(said(plan.verdict), row.verdict);
        EXPECT_EQ(plan.files, row.files);
        EXPECT_EQ(plan.notFiles, row.notFiles);
    }
    const ZipPlan flaggedPlan = planZip(flagged, {0, 0});
    EXPECT_EQ(flaggedPlan.verdict.count, 504);
    EXPECT_EQ(planZip({file("x", 2 * MiB)}, {0, 511 * MiB}).verdict.before, 511 * MiB);
    EXPECT_EQ(planZip({disk, disk}, {0, 0}).unpackedBytes, 2 * MiB);
}

// The local headers of the files to read: as the directory declares them, inside the zip, and
// apart from each other.
TEST(ZipPolicy, LocalHeadersAgreeWithTheDirectory) {
    const std::vector<ZipEntryFacts> entries = {file("a", 1000, 0), file("b", 2000, 1000)};
    const ZipPlan plan = planZip(entries, {0, 0});
    const ZipLocalFacts a{true, 40, 540, 0x1234, 1000, 500};
    const ZipLocalFacts b{true, 1040, 2040, 0x1234, 2000, 1000};
    const auto changed = [](ZipLocalFacts local, void (*change)(ZipLocalFacts&)) {
        change(local);
        return local;
    };
    const struct Row {
        const char* what;
        std::vector<ZipLocalFacts> locals;
        int64_t zipSize;
        Said verdict;
    } rows[] = {
        {"as declared", {a, b}, 3000, NONE},
        {"no local header",
         {a, changed(b, [](ZipLocalFacts& l) { l.found = false; })},
         3000,
         {ZipRefusal::Damaged, 1, 0, ZipDamage::NoLocalHeader}},
        {"the directory's size short",
         {changed(a, [](ZipLocalFacts& l) { l.size = 300000; }), b},
         3000,
         {ZipRefusal::Damaged, 0, 1000, ZipDamage::SizesDiffer}},
        {"the local size short",
         {a, changed(b, [](ZipLocalFacts& l) { l.size = 100; })},
         3000,
         {ZipRefusal::Damaged, 1, 2000, ZipDamage::SizesDiffer}},
        {"no data descriptor",
         {a, changed(b, [](ZipLocalFacts& l) { l.size = l.compressedSize = -1; })},
         3000,
         {ZipRefusal::Damaged, 1, 2000, ZipDamage::SizesDiffer}},
        {"another CRC-32",
         {changed(a, [](ZipLocalFacts& l) { l.crc32 = 1; }), b},
         3000,
         {ZipRefusal::Damaged, 0, 0, ZipDamage::CrcsDiffer}},
        {"past the zip's end", {a, b}, 2000, {ZipRefusal::Damaged, 1, 0, ZipDamage::PastEnd}},
        {"over another's bytes",
         {changed(a, [](ZipLocalFacts& l) { l.dataEnd = 1001; }), b},
         3000,
         {ZipRefusal::Damaged, 1, 0, ZipDamage::Overlap}},
        {"a header missing from the list",
         {a},
         3000,
         {ZipRefusal::Damaged, 0, 0, ZipDamage::NoLocalHeader}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(said(checkLocalHeaders(entries, plan, row.locals, row.zipSize)), row.verdict);
    }
}

// What a member unpacks to: its size, and the CRC-32 declared.
TEST(ZipPolicy, UnpackedBytesAreThoseZipped) {
    const ZipEntryFacts entry = file("a", 1000);
    EXPECT_EQ(said(checkUnpacked(entry, 3, 1000, true)), NONE);
    EXPECT_EQ(said(checkUnpacked(entry, 3, 1001, true)),
              (Said{ZipRefusal::InflatesPastSize, 3, 1000, ZipDamage::None}));
    EXPECT_EQ(said(checkUnpacked(entry, 3, 999, true)),
              (Said{ZipRefusal::Damaged, 3, 0, ZipDamage::InflatesShort}));
    EXPECT_EQ(said(checkUnpacked(entry, 3, 1000, false)),
              (Said{ZipRefusal::BadCrc, 3, 0, ZipDamage::None}));
}

// Names that sort as equal are joined in one order on every face, whatever order they came in;
// Shift_JIS names by their bytes, not as decoded. Names are shown decoded.
TEST(ZipPolicy, MembersAreOrderedAndShownByTheirStoredBytes) {
    const std::vector<JoinedName> ordered = {
        {"dump01.d88", "z.zip/dump01.d88"},     {"dump1.d88", "z.zip/dump1.d88"},
        {"set.d88", "a.zip/set.d88"},           {"set.d88", "b.zip/set.d88"},
        {"\x8b\x8c.d88", "z.zip/\x8b\x8c.d88"}, // 旧 (U+65E7) before 新 (U+65B0), by bytes
        {"\x90\x56.d88", "z.zip/\x90\x56.d88"},
    };
    for (size_t i = 0; i < ordered.size(); ++i) {
        for (size_t j = 0; j < ordered.size(); ++j) {
            EXPECT_EQ(joinedNameComesBefore(ordered[i], ordered[j]), i < j)
                << ordered[i].path << " " << ordered[j].path;
        }
    }
    ZipEntryFacts sjis = file("\x8b\x8c.d88", 1);
    ZipEntryFacts utf8 = file("\xe6\x97\xa7.d88", 1);
    ZipEntryFacts neither = file("a\xff.d88", 1);
    utf8.utf8 = true;
    EXPECT_EQ(memberShownName(sjis), "\xe6\x97\xa7.d88");
    EXPECT_EQ(memberShownName(utf8), "\xe6\x97\xa7.d88");
    EXPECT_EQ(memberShownName(neither), "a\\xff.d88");
}

// "Download all" is named after the set, never after the file picked first.
TEST(ZipPolicy, TheSetsZipIsNamedAfterTheSet) {
    const uint8_t sample[16] = {'S', 'A', 'M', 'P', 'L', 'E', ' ', 'D', 'I', 'S', 'K', ' ', '1'};
    const uint8_t spaces[16] = {' ', ' ', ' '};
    const uint8_t path[16] = {'A', '/', 'B', ':', 0x83, 0x66, ' ', ' '};
    const uint8_t broken[16] = {0x81};
    EXPECT_EQ(setZipName({"set.zip"}, sample), "set");
    EXPECT_EQ(setZipName({"dir/sample.d88"}, nullptr), "sample");
    EXPECT_EQ(setZipName({"a.d88", "b.d88"}, sample), "SAMPLE DISK 1");
    EXPECT_EQ(setZipName({"b.d88", "a.d88"}, sample), "SAMPLE DISK 1");
    EXPECT_EQ(setZipName({"a.zip", "b.zip"}, path), "A%2fB%3a\xe3\x83\x87");
    EXPECT_EQ(setZipName({"a.d88", "b.d88"}, spaces), "d88extract");
    EXPECT_EQ(setZipName({"a.d88", "b.d88"}, broken), "d88extract");
    EXPECT_EQ(setZipName({"a.d88", "b.d88"}, nullptr), "d88extract");
    EXPECT_EQ(setZipName({".zip"}, nullptr), ".zip");
}
