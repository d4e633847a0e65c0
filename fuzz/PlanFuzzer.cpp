// Fuzzes the set plan, writing no file: the input is an image, read from memory. Every plan is
// checked against the disks found again and the runs read again (PlanCheck.h), at the host's
// names (for a folder that holds the given files under their names, as hostSaveTarget tells
// it) or at zip names; the disks found are checked against the reader, the vote on the input's
// bytes and the bytes themselves (DiskSetCheck.h). Byte 15 of the input (the last of the first
// disk's name, which no plan reads) chooses one way to give it, and bit 0 of byte 14 the layout
// planned at the host's names, where a way plans at them (the other layout is planned at zip
// names), so that each input costs a few plans:
// - as d88extract-a and d88extract-b read one file: their choice of disks, both layouts (one at
//   the host's names);
// - by identity as one file, and cut into four files where bytes 16 to 21 say (the reader
//   ignores them): the same disks and plans as one file, unless a file of the cut starts inside a
//   disk with bytes that pass the header check, where the reader starts a disk on purpose, or
//   bytes after a file's last disk start no disk, which the reader passes over (CutCheck.h), or
//   a file starts just where a disk does while a disk is numbered by its place;
// - by identity as one file, and the same file given twice (the host telling that it is one
//   file): exactly the plans of one file, unless the second file's bytes complete a header that
//   failed the check at the end of the first;
// - by identity with one to three other dumps of its disks after it (ChangedCopies.h, as bytes
//   22 to 25 say), one layout alone, at the host's names: each sector read from every copy, as
//   PlanCheck.h checks; one input in sixteen its JSON document; then the
//   copies of every disk in the order of the dumps in another order, which byte 16 chooses,
//   planned in the layout at the host's names (OrderCheck.h): the same files, ties aside.
// Only the images and byte buffers are kept from one input to the next: every other value is
// made and freed within an input, so that libFuzzer finds no input that keeps memory.
#include "ChangedCopies.h"
#include "CutCheck.h"
#include "DiskSetCheck.h"
#include "OrderCheck.h"
#include "PlanCheck.h"

#include "DiskSet.h"
#include "Host.h"
#include "ImageFacts.h"
#include "Plan.h"
#include "PlanJson.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int CUT_FILES = 4;
// Byte 14 (a byte of the first disk's name, which no plan reads): bit 0 the layout planned at
// the host's names (the other is planned at zip names) and, given with other dumps, the layout
// planned in the other order.
constexpr size_t LAYOUT_BYTE = 14;
// The other order of the dumps, by byte 16 (the first disk's name; with dumps, no cut reads it).
constexpr size_t ORDER_BYTE = 16;
size_t hostLayout = 0;
// Given with other dumps (where a document says the most), the JSON document of the layout
// planned at zip names is checked for one input in sixteen, by a hash of its first bytes and its
// size: it costs more than
// planning, and a bit of the input would let the fuzzer's choice of inputs ask for it more often.
bool withJson = false;
GivenFiles wholeFile;               // the input as one file, "image.d88"
std::vector<std::string> partNames; // the names of the cut files
const std::vector<std::string> dumpNames = {"dump1.d88", "dump2.d88", "dump3.d88"};

// Kept from one input to the next, so that an input takes no memory of its own that it keeps:
// the images (a new one takes its memory from the system anew) and buffers of bytes.
struct Kept {
    d88::D88Image wholeImage;
    d88::D88Image cutImage;
    d88::D88Image doubledImage;
    d88::D88Image mergedImage;
    WalkBuffers buffers;      // as large as the programs' own
    WalkBuffers otherBuffers; // the directory of a plan kept beside another
    RunBuffers runBuffers;    // runs read again
    std::vector<uint8_t> runBytes;
    std::vector<uint8_t> joinedBytes; // the bytes of several files joined
    std::vector<uint8_t> dumps[3];
    std::vector<bool> changed;
    std::vector<uint8_t> scratch = std::vector<uint8_t>(WORK_BUFFER_BYTES); // one file's bytes
};
Kept* kept = nullptr;

const SaveTarget ZIP_TARGET{NameTarget::Zip, BYTE_NAME_RULES, {}};

void checkJson(const SetPlan& plan, const GivenFiles& files, const d88::D88Image& image,
               const DiskSetFacts& set);

// Zip names are never a path nor hold a control character, and (with `set`) the JSON document
// reads back.
void checkZipPlan(const SetPlan& plan, const GivenFiles& files, const d88::D88Image& image,
                  const DiskSetFacts* set) {
    for (const PlannedEntry& entry : plan.entries) {
        if (!isWritten(entry.outcome)) {
            continue;
        }
        const std::string& name = entry.saved.name;
        for (unsigned char ch : name) {
            if (ch < 0x20 || ch == 0x7F || ch == '/' || ch == '\\' || ch == ':') {
                abort();
            }
        }
        if (name.empty() || name == "." || name == "..") {
            abort();
        }
    }
    if (set != nullptr) {
        checkJson(plan, files, image, *set);
    }
}

// The plan's JSON document reads back.
void checkJson(const SetPlan& plan, const GivenFiles& files, const d88::D88Image& image,
               const DiskSetFacts& set) {
    std::vector<const char*> paths;
    for (const std::string& name : files.names) {
        paths.push_back(name.c_str());
    }
    const nlohmann::ordered_json document =
        setDocument(plan, set, paths, image.diskCount(), image.fileSize());
    // The text is JSON (checked without building it again), with an entry for each entry.
    if (!nlohmann::ordered_json::accept(dumpJson(document)) || !document.contains("entries") ||
        document["entries"].size() != plan.entries.size()) {
        abort();
    }
}

// What is checked of the disks and plans of the files given.
struct PlanChecks {
    bool disks; // the disks found, against the input's bytes
    bool plans; // every plan read again (else only planned)
    bool host;  // hostLayout planned at the host's names (else at zip names, as the other)
    bool both;  // both layouts planned (else hostLayout alone, and no layout fit)
    const DiskSetFacts* jsonSet; // with `withJson`: the JSON of a plan, with these disks
};

// The target that layout `i` is planned at.
SaveTarget targetOf(size_t i, const PlanChecks& checks, const GivenFiles& files) {
    return checks.host && i == hostLayout ? folderHolding(files.names) : ZIP_TARGET;
}

// Reads the directory with `disks` into `into` and plans both layouts, hostLayout at the host's
// names when asked and the other at zip names, and checks each plan as `checks` says; then the
// layout fit, which counts the files that each plan writes. Returns the plans.
std::vector<SetPlan> planAndCheck(d88::D88Image& image, const GivenFiles& files,
                                  const DiskChoice& disks, const ExpectedChoice& expected,
                                  const PlanChecks& checks, WalkBuffers& into) {
    const DirectoryRead directory = readDirectory(image, disks, into);
    PlanCheckState state{{}, {}, &kept->runBytes};
    RunBuffers& runBuffers = kept->runBuffers;
    if (checks.plans) {
        startPlanCheck(image, directory, expected, into, runBuffers, state);
    }
    LayoutPlans plans{};
    for (size_t i = 0; i < 2; ++i) {
        if (!checks.both && i != hostLayout) {
            continue;
        }
        const DirectoryLayout& layout = *SET_LAYOUTS[i];
        const bool host = checks.host && i == hostLayout;
        plans.plans[i] = planSet(image, disks, directory, layout, targetOf(i, checks, files), into);
        plans.planned[i] = true;
        if (!checks.plans) {
            continue;
        }
        const SetPlan& plan = plans.plans[i];
        checkPlan(image, files, plan, expected, layout,
                  host ? TargetExpectation{&files, true} : TargetExpectation{nullptr, false}, into,
                  runBuffers, state);
        if (!host) {
            checkZipPlan(plan, files, image, withJson ? checks.jsonSet : nullptr);
        } else if (!checks.both && withJson && checks.jsonSet != nullptr) {
            checkJson(plan, files, image, *checks.jsonSet);
        }
    }
    if (checks.plans && checks.both) {
        // The layout fit counts the files that the plans write.
        int counted[2] = {0, 0};
        const PlanSource source{image, disks, directory, ZIP_TARGET, into};
        const LayoutFit fit = decideLayoutFit(source, plans, counted);
        int written[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            for (const PlannedEntry& entry : plans.plans[i].entries) {
                written[i] += isWritten(entry.outcome) ? 1 : 0;
            }
            written[i] = disks.enoughDisks ? written[i] : 0;
        }
        const bool a = written[0] > 0;
        const bool b = written[1] > 0;
        if (counted[0] != written[0] || counted[1] != written[1] ||
            fit != (a && b ? LayoutFit::Both
                    : a    ? LayoutFit::A
                    : b    ? LayoutFit::B
                           : LayoutFit::Neither)) {
            abort();
        }
    }
    std::vector<SetPlan> zipPlans;
    for (SetPlan& plan : plans.plans) {
        zipPlans.push_back(std::move(plan));
    }
    return zipPlans;
}

// The files given, read as one image from memory: its disks as decided and checked, and the
// zip plans of both layouts by identity.
struct GivenSet {
    d88::D88Image& image;
    std::vector<IdRead> ids;
    DiskSetFacts facts;
    CheckedSet checked;
    std::vector<SetPlan> plans;
};

// Opens `files`, whose bytes joined are `bytes`, as `set`'s image, decides its disks (and checks
// them, when asked) and plans both layouts by identity.
void planGivenFiles(GivenSet& set, const GivenFiles& files, const uint8_t* bytes,
                    const SameFiles& sameFiles, const PlanChecks& checks, WalkBuffers& into) {
    std::vector<d88::ByteSource> sources;
    for (int part = 0; part < files.count(); ++part) {
        sources.push_back(d88::memorySource(bytes + files.ends[static_cast<size_t>(part)],
                                            static_cast<size_t>(files.length(part))));
    }
    if (!set.image.openSources(sources.data(), files.count()) ||
        set.image.fileSize() != files.ends.back()) {
        abort();
    }
    if (checks.disks) {
        set.ids = checkIdSectors(set.image);
        set.facts = decideDiskSet(set.image, set.ids, sameFiles);
        set.checked = checkDiskSet(set.image, files, bytes, set.ids, sameFiles, set.facts);
    } else {
        set.ids = readIdSectors(set.image);
        set.facts = decideDiskSet(set.image, set.ids, sameFiles);
    }
    const DiskChoice choice = identityDiskChoice(set.facts);
    if (checks.disks) {
        checkChoice(choice, set.checked.identity);
    }
    set.plans = planAndCheck(set.image, files, choice, set.checked.identity, checks, into);
}

// Cuts the input into CUT_FILES files at the fractions that bytes 16 to 21 give (a file may
// be empty).
GivenFiles cutInput(const uint8_t* data, size_t size) {
    const auto byteAt = [&](size_t i) { return i < size ? data[i] : 0; };
    std::vector<int64_t> cuts;
    for (int k = 0; k + 1 < CUT_FILES; ++k) {
        const uint64_t fraction =
            static_cast<uint64_t>(byteAt(16 + 2 * k)) << 8 | byteAt(17 + 2 * k);
        cuts.push_back(static_cast<int64_t>(size * fraction / 0xFFFF));
    }
    std::sort(cuts.begin(), cuts.end());
    GivenFiles files;
    files.ends.push_back(0);
    files.ends.insert(files.ends.end(), cuts.begin(), cuts.end());
    files.ends.push_back(static_cast<int64_t>(size));
    files.names = partNames;
    return files;
}

// The ways the input is given beside the programs' one file: byte WAY_BYTE (the last byte of
// the first disk's name, which no plan reads) chooses one for each input, so that each input
// costs a few plans and the fuzzer can steer an input to any of them.
enum class Way { Programs, Cut, Twice, Dumps };
constexpr size_t WAY_BYTE = 15;

const PlanChecks CHECK_ALL{true, true, true, true, nullptr};
const PlanChecks CHECK_ZIP{true, true, false, true, nullptr};
// hostLayout alone: where two readings of the input are held against each other, one layout
// an input is enough (the other ways plan both).
const PlanChecks CHECK_ZIP_ONE{true, true, false, false, nullptr};
const PlanChecks CHECK_DISKS_ONE{true, false, false, false, nullptr};

// Whether a file of the cut starts just where a disk does, no disk before it running on into
// it, while some disk's ID sector does not give its number: then the disks after it are
// numbered by their places in the files from there, as disk files given apart are, and the cut
// may number them otherwise than the one file does.
bool cutNumbersByOtherPlaces(const GivenSet& cut) {
    const std::vector<FoundDisk>& disks = cut.facts.disks;
    bool parted = false;
    bool byPlace = false;
    for (size_t k = 0; k < disks.size(); ++k) {
        const IdRead& id = disks[k].id;
        byPlace = byPlace || id.state != IdSector::Clean || !isSetNumber(id.byte);
        if (k > 0) {
            const int64_t last = std::min(disks[k - 1].end, cut.image.fileSize()) - 1;
            parted = parted || cut.image.partAt(last) != disks[k].part;
        }
    }
    return parted && byPlace;
}

// By identity, cut into files joined in the order given: the disks and plans of one file.
void checkCut(const GivenSet& whole, const uint8_t* data, size_t size) {
    const GivenFiles parts = cutInput(data, size);
    GivenSet cut{kept->cutImage, {}, {}, {}, {}};
    planGivenFiles(cut, parts, data, SameFiles(), CHECK_ZIP_ONE, kept->buffers);
    if (!cut.checked.resynced && !cutNumbersByOtherPlaces(cut)) {
        checkSameDisks(whole.facts, cut.facts);
        checkSamePlan(whole.image, whole.plans[hostLayout], cut.image, cut.plans[hostLayout],
                      kept->buffers, kept->scratch, false);
    }
}

// The same file given twice, the host telling that it is one file: exactly the plans of one
// file.
void checkTwice(const GivenSet& whole, const uint8_t* data, size_t size) {
    const GivenFiles twice{{0, static_cast<int64_t>(size), 2 * static_cast<int64_t>(size)},
                           {wholeFile.names[0], wholeFile.names[0]}};
    std::vector<uint8_t>& joined = kept->joinedBytes;
    joined.assign(data, data + size);
    joined.insert(joined.end(), data, data + size);
    GivenSet doubled{kept->doubledImage, {}, {}, {}, {}};
    planGivenFiles(doubled, twice, joined.data(), SameFiles{-1, 0}, CHECK_DISKS_ONE, kept->buffers);
    std::vector<int64_t> single;
    std::vector<int64_t> first;
    for (const FoundDisk& disk : whole.facts.disks) {
        single.push_back(disk.start);
    }
    for (const FoundDisk& disk : doubled.facts.disks) {
        if (disk.start < static_cast<int64_t>(size)) {
            first.push_back(disk.start);
        }
    }
    // The second file's disks repeat the first's and count for nothing: unless the second file
    // completes a header that failed the check at the end of the first.
    if (first == single) {
        checkChoice(identityDiskChoice(doubled.facts), whole.checked.identity);
        checkSamePlan(whole.image, whole.plans[hostLayout], doubled.image,
                      doubled.plans[hostLayout], kept->buffers, kept->scratch, true);
    }
}

// Other dumps of the input's disks (opened as `image`) given after it; then the same dumps in
// another order.
void checkDumps(d88::D88Image& image, const uint8_t* data, size_t size) {
    const DumpChoice choice = dumpChoice(data, size);
    GivenFiles given{{0, static_cast<int64_t>(size)}, {wholeFile.names[0]}};
    std::vector<uint8_t>& joined = kept->joinedBytes;
    joined.assign(data, data + size);
    for (int dump = 1; dump <= choice.dumps; ++dump) {
        std::vector<uint8_t>& copy = kept->dumps[dump - 1];
        changedCopy(image, data, size, choice.seed, dump, copy, kept->changed);
        given.names.push_back(dumpNames[static_cast<size_t>(dump - 1)]);
        given.ends.push_back(given.ends.back() + static_cast<int64_t>(size));
        joined.insert(joined.end(), copy.begin(), copy.end());
    }
    GivenSet merged{kept->mergedImage, {}, {}, {}, {}};
    planGivenFiles(merged, given, joined.data(), SameFiles(),
                   PlanChecks{true, true, true, false, &merged.facts}, kept->buffers);
    // The same dumps in another order, never the one given: each set number's copies in the
    // order of the files that hold them, planned in hostLayout.
    const int count = choice.dumps + 1;
    int orders = 1;
    for (int k = 2; k <= count; ++k) {
        orders *= k;
    }
    const std::vector<int> order =
        nthOrder(count, 1 + (size > ORDER_BYTE ? data[ORDER_BYTE] : 0) % (orders - 1));
    const DiskChoice disks = identityDiskChoice(merged.facts);
    const DiskChoice reordered = reorderCopies(disks, merged.facts, order);
    const DirectoryRead directory = readDirectory(merged.image, reordered, kept->otherBuffers);
    const SetPlan planB = planSet(merged.image, reordered, directory, *SET_LAYOUTS[hostLayout],
                                  folderHolding(given.names), kept->otherBuffers);
    const SetPlan& planA = merged.plans[hostLayout];
    if (checkSameDirectory(planA.directory, kept->buffers.directory, planB.directory,
                           kept->otherBuffers.directory)) {
        // No directory sector ties: the same entries.
        checkSameFiles(merged.image, planA, planB, kept->buffers, kept->scratch);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    wholeFile.names = {"image.d88"};
    for (int part = 0; part < CUT_FILES; ++part) {
        partNames.push_back("part" + std::to_string(part) + ".d88");
    }
    kept = new Kept;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wholeFile.ends = {0, static_cast<int64_t>(size)};
    GivenSet whole{kept->wholeImage, {}, {}, {}, {}};
    d88::D88Image& image = whole.image;
    const d88::ByteSource input = d88::memorySource(data, size);
    if (!image.openSources(&input, 1)) {
        abort();
    }
    const Way way = static_cast<Way>((size > WAY_BYTE ? data[WAY_BYTE] : 0) % 4);
    const int layoutByte = size > LAYOUT_BYTE ? data[LAYOUT_BYTE] : 0;
    hostLayout = static_cast<size_t>(layoutByte & 1);
    uint32_t hash = 2166136261u;                    // FNV-1a
    for (size_t i = 0; i < size && i < 1024; ++i) { // the headers, where most changes land
        hash = (hash ^ data[i]) * 16777619u;
    }
    hash = (hash ^ static_cast<uint32_t>(size)) * 16777619u;
    withJson = hash % 16 == 0;
    if (way == Way::Programs) {
        // As the set's programs read one file.
        const std::vector<IdRead> ids = checkIdSectors(image);
        const ExpectedChoice programs = programsExpected(ids);
        const DiskChoice programsChoice = programsDiskChoice(image.diskCount(), ids);
        checkChoice(programsChoice, programs);
        planAndCheck(image, wholeFile, programsChoice, programs, CHECK_ALL, kept->buffers);
        return 0;
    }
    if (way == Way::Dumps) {
        checkDumps(image, data, size);
        return 0;
    }

    // By identity, as one file: its plans checked, unless they are held against the cut's,
    // which are checked.
    planGivenFiles(whole, wholeFile, data, SameFiles(),
                   way == Way::Cut ? CHECK_DISKS_ONE : CHECK_ZIP, kept->buffers);
    if (whole.checked.resynced) {
        abort(); // one file: no disk is cut short, no byte passed over
    }
    if (way == Way::Cut) {
        checkCut(whole, data, size);
    } else {
        checkTwice(whole, data, size);
    }
    return 0;
}
