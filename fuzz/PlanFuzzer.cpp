// Fuzzes the set plan, writing no file: the input is an image, read from memory. Every plan is
// checked against the disks found again and the runs read again (PlanCheck.h), with the host's
// names (for a folder that holds the given files under their names, as hostSaveTarget tells
// it) and with zip names; the disks found are checked against the reader, the vote on the
// input's bytes and the bytes themselves (DiskSetCheck.h). Byte 15 of the input (the last of
// the first disk's name, which no plan reads) chooses one way to give it, and byte 14 the
// layout whose JSON document is checked, so that each input costs a few plans:
// - as d88extract-a and d88extract-b read one file: their choice of disks, both layouts;
// - by identity as one file, and cut into four files where bytes 16 to 21 say (the reader
//   ignores them): the same disks and plans as one file, unless a file of the cut starts inside a
//   disk with bytes that pass the header check, where the reader starts a disk on purpose, or
//   bytes after a file's last disk start no disk, which the reader passes over (CutCheck.h);
// - by identity as one file, and the same file given twice (the host telling that it is one
//   file): exactly the plans of one file, unless the second file's bytes complete a header that
//   failed the check at the end of the first;
// - by identity with one to three other dumps of its disks after it (ChangedCopies.h, as bytes
//   22 to 25 say): each sector read from every copy, as PlanCheck.h checks; then the same dumps
//   in another order, which byte 16 chooses (OrderCheck.h): the same files, ties aside.
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
// The layout whose plan's JSON document is checked (given with other dumps, where a document
// says the most), chosen for each input by byte 14 (a byte of the first disk's name, which no
// plan reads): building a document costs more than planning.
constexpr size_t JSON_LAYOUT_BYTE = 14;
// The other order of the dumps, by byte 16 (the first disk's name; with dumps, no cut reads it).
constexpr size_t ORDER_BYTE = 16;
size_t jsonLayout = 0;
GivenFiles wholeFile;               // the input as one file, "image.d88"
std::vector<std::string> partNames; // the names of the cut files
std::vector<uint8_t>* joinedBytes;  // the bytes of several files joined
std::vector<uint8_t>* otherBytes;   // the same files in another order
const std::vector<std::string> dumpNames = {"dump1.d88", "dump2.d88", "dump3.d88"};
WalkBuffers* buffers = nullptr;          // as large as the programs' own
WalkBuffers* otherBuffers = nullptr;     // the directory of a plan kept beside another
RunBuffers* runBuffers = nullptr;        // runs read again
PlanCheckState* checkState = nullptr;    // the directory and runs read again
std::vector<uint8_t>* scratch = nullptr; // one file's bytes

const SaveTarget ZIP_TARGET{NameTarget::Zip, BYTE_NAME_RULES, {}};

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
    if (set == nullptr) {
        return;
    }
    std::vector<const char*> paths;
    for (const std::string& name : files.names) {
        paths.push_back(name.c_str());
    }
    const nlohmann::ordered_json document =
        setDocument(plan, *set, paths, image.diskCount(), image.fileSize());
    // The text is JSON (checked without building it again), with an entry for each entry.
    if (!nlohmann::ordered_json::accept(dumpJson(document)) || !document.contains("entries") ||
        document["entries"].size() != plan.entries.size()) {
        abort();
    }
}

// What the plans of one reading of the directory are checked with.
struct PlanChecks {
    bool host;                   // the host's plans too, against which the zip plans are held
    bool check;                  // every plan read again (else only planned)
    const DiskSetFacts* jsonSet; // the JSON of jsonLayout's zip plan, with these disks
};

// Reads the directory with `disks` into `into` and plans both layouts at zip names, and at the
// host's names when asked, and checks each plan as `checks` says; then the layout fit, which
// counts the files that each plan writes. Returns the zip plans.
std::vector<SetPlan> planAndCheck(d88::D88Image& image, const GivenFiles& files,
                                  const DiskChoice& disks, const ExpectedChoice& expected,
                                  const PlanChecks& checks, WalkBuffers& into) {
    const DirectoryRead directory = readDirectory(image, disks, into);
    if (checks.check) {
        startPlanCheck(image, directory, expected, into, *runBuffers, *checkState);
    }
    std::vector<SetPlan> zipPlans;
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        zipPlans.push_back(planSet(image, disks, directory, *layout, ZIP_TARGET, into));
        const TargetExpectation zipNames{nullptr, false};
        if (!checks.check) {
            continue;
        }
        if (checks.host) {
            // The host's plan is read again; the zip plan is held against it.
            const SetPlan plan =
                planSet(image, disks, directory, *layout, folderHolding(files.names), into);
            checkPlan(image, files, plan, expected, *layout, TargetExpectation{&files, true}, into,
                      *runBuffers, *checkState);
            checkPlanAgainst(plan, zipPlans.back(), zipNames);
        } else {
            checkPlan(image, files, zipPlans.back(), expected, *layout, zipNames, into, *runBuffers,
                      *checkState);
        }
        // The JSON document of one layout per input, which byte JSON_LAYOUT_BYTE chooses.
        const bool json = layout == SET_LAYOUTS[jsonLayout];
        checkZipPlan(zipPlans.back(), files, image, json ? checks.jsonSet : nullptr);
    }
    if (checks.check) {
        // The layout fit counts the files that the plans write.
        LayoutPlans plans{};
        for (int i = 0; i < 2; ++i) {
            plans.plans[i] = zipPlans[static_cast<size_t>(i)];
            plans.planned[i] = true;
        }
        int counted[2] = {0, 0};
        const PlanSource source{image, disks, directory, ZIP_TARGET, into};
        const LayoutFit fit = decideLayoutFit(source, plans, counted);
        int files[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            for (const PlannedEntry& entry : zipPlans[static_cast<size_t>(i)].entries) {
                files[i] += isWritten(entry.outcome) ? 1 : 0;
            }
            files[i] = disks.enoughDisks ? files[i] : 0;
        }
        const bool a = files[0] > 0;
        const bool b = files[1] > 0;
        if (counted[0] != files[0] || counted[1] != files[1] ||
            fit != (a && b ? LayoutFit::Both
                    : a    ? LayoutFit::A
                    : b    ? LayoutFit::B
                           : LayoutFit::Neither)) {
            abort();
        }
    }
    return zipPlans;
}

// Opens `files`, whose bytes joined are `bytes`, as one image read from memory, decides its
// disks and checks them, and plans and checks both layouts by identity.
struct GivenSet {
    d88::D88Image image; // kept from one input to the next: a new one takes its memory anew
    std::vector<IdRead> ids;
    DiskSetFacts facts;
    CheckedSet checked;
    std::vector<SetPlan> plans;
};
GivenSet* wholeSet = nullptr; // the input as one file
GivenSet* cutSet = nullptr;
GivenSet* doubledSet = nullptr;
GivenSet* mergedSet = nullptr;  // with other dumps
GivenSet* orderedSet = nullptr; // the same dumps in another order

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
    set.ids = checkIdSectors(set.image);
    set.facts = decideDiskSet(set.image, set.ids, sameFiles);
    set.checked = checkDiskSet(set.image, files, bytes, set.ids, sameFiles, set.facts);
    const DiskChoice choice = identityDiskChoice(set.facts);
    checkChoice(choice, set.checked.identity);
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

const PlanChecks CHECK_ALL{true, true, nullptr};

// By identity, cut into files joined in the order given: the disks and plans of one file.
void checkCut(const GivenSet& whole, const uint8_t* data, size_t size) {
    const GivenFiles parts = cutInput(data, size);
    GivenSet& cut = *cutSet;
    planGivenFiles(cut, parts, data, SameFiles(), CHECK_ALL, *buffers);
    if (!cut.checked.resynced) {
        checkSameDisks(whole.facts, cut.facts);
        for (size_t i = 0; i < whole.plans.size(); ++i) {
            checkSamePlan(wholeSet->image, whole.plans[i], cut.image, cut.plans[i], *buffers,
                          *scratch, false);
        }
    }
}

// The same file given twice, the host telling that it is one file: exactly the plans of one
// file.
void checkTwice(const GivenSet& whole, const uint8_t* data, size_t size) {
    const GivenFiles twice{{0, static_cast<int64_t>(size), 2 * static_cast<int64_t>(size)},
                           {wholeFile.names[0], wholeFile.names[0]}};
    joinedBytes->assign(data, data + size);
    joinedBytes->insert(joinedBytes->end(), data, data + size);
    GivenSet& doubled = *doubledSet;
    planGivenFiles(doubled, twice, joinedBytes->data(), SameFiles{-1, 0},
                   PlanChecks{false, true, nullptr}, *buffers);
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
        for (size_t i = 0; i < whole.plans.size(); ++i) {
            checkSamePlan(wholeSet->image, whole.plans[i], doubled.image, doubled.plans[i],
                          *buffers, *scratch, true);
        }
    }
}

// The keys of `set`'s disks, given as dumps of `size` bytes each in `order`.
OrderedSet orderedKeys(const GivenSet& set, const std::vector<int>& order, size_t size) {
    OrderedSet keyed{&set.facts, {}};
    for (const FoundDisk& disk : set.facts.disks) {
        const int64_t place = disk.start / static_cast<int64_t>(size);
        keyed.keys.push_back(DiskKey{order[static_cast<size_t>(place)],
                                     disk.start - place * static_cast<int64_t>(size)});
    }
    return keyed;
}

// Other dumps of the input's disks (opened as `image`) given after it; then the same dumps in
// another order.
void checkDumps(d88::D88Image& image, const uint8_t* data, size_t size) {
    const DumpChoice choice = dumpChoice(data, size);
    GivenFiles given{{0, static_cast<int64_t>(size)}, {wholeFile.names[0]}};
    std::vector<std::vector<uint8_t>> dumps{std::vector<uint8_t>(data, data + size)};
    joinedBytes->assign(data, data + size);
    for (int dump = 1; dump <= choice.dumps; ++dump) {
        dumps.push_back(changedCopy(image, data, size, choice.seed, dump));
        given.names.push_back(dumpNames[static_cast<size_t>(dump - 1)]);
        given.ends.push_back(given.ends.back() + static_cast<int64_t>(size));
        joinedBytes->insert(joinedBytes->end(), dumps.back().begin(), dumps.back().end());
    }
    GivenSet& merged = *mergedSet;
    planGivenFiles(merged, given, joinedBytes->data(), SameFiles(),
                   PlanChecks{true, true, &merged.facts}, *buffers);
    if (size == 0) {
        return;
    }
    // Another order of the dumps, never the one given.
    const int count = choice.dumps + 1;
    int orders = 1;
    for (int k = 2; k <= count; ++k) {
        orders *= k;
    }
    const std::vector<int> order = nthOrder(count, 1 + data[ORDER_BYTE % size] % (orders - 1));
    GivenFiles reordered{{0}, {}};
    otherBytes->clear();
    for (int dump : order) {
        const std::vector<uint8_t>& bytes = dumps[static_cast<size_t>(dump)];
        otherBytes->insert(otherBytes->end(), bytes.begin(), bytes.end());
        reordered.ends.push_back(reordered.ends.back() + static_cast<int64_t>(size));
        reordered.names.push_back(given.names[static_cast<size_t>(dump)]);
    }
    GivenSet& other = *orderedSet;
    planGivenFiles(other, reordered, otherBytes->data(), SameFiles(),
                   PlanChecks{false, true, nullptr}, *otherBuffers);
    std::vector<int> givenOrder;
    for (int k = 0; k < count; ++k) {
        givenOrder.push_back(k);
    }
    const OrderedSet a = orderedKeys(merged, givenOrder, size);
    const OrderedSet b = orderedKeys(other, order, size);
    if (!sameCopies(a, b, DISK_A_ID)) {
        return; // Disk A is given in other copies: another directory
    }
    if (!checkSameDirectory(merged.plans[0].directory, buffers->directory, other.plans[0].directory,
                            otherBuffers->directory)) {
        return; // a directory sector ties: the entries may differ
    }
    for (size_t i = 0; i < merged.plans.size(); ++i) {
        checkSameFiles(merged.image, merged.plans[i], a, other.image, other.plans[i], b, *buffers,
                       *scratch);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    wholeFile.names = {"image.d88"};
    for (int part = 0; part < CUT_FILES; ++part) {
        partNames.push_back("part" + std::to_string(part) + ".d88");
    }
    buffers = new WalkBuffers;
    otherBuffers = new WalkBuffers;
    runBuffers = new RunBuffers;
    checkState = new PlanCheckState;
    joinedBytes = new std::vector<uint8_t>;
    otherBytes = new std::vector<uint8_t>;
    scratch = new std::vector<uint8_t>(WORK_BUFFER_BYTES);
    wholeSet = new GivenSet;
    cutSet = new GivenSet;
    doubledSet = new GivenSet;
    mergedSet = new GivenSet;
    orderedSet = new GivenSet;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wholeFile.ends = {0, static_cast<int64_t>(size)};
    GivenSet& whole = *wholeSet;
    d88::D88Image& image = whole.image;
    const d88::ByteSource input = d88::memorySource(data, size);
    if (!image.openSources(&input, 1)) {
        abort();
    }
    const Way way = static_cast<Way>((size > WAY_BYTE ? data[WAY_BYTE] : 0) % 4);
    jsonLayout = (size > JSON_LAYOUT_BYTE ? data[JSON_LAYOUT_BYTE] : 0) % 2;
    if (way == Way::Programs) {
        // As the set's programs read one file.
        const std::vector<IdRead> ids = checkIdSectors(image);
        const ExpectedChoice programs = programsExpected(ids);
        const DiskChoice programsChoice = programsDiskChoice(image.diskCount(), ids);
        checkChoice(programsChoice, programs);
        planAndCheck(image, wholeFile, programsChoice, programs, CHECK_ALL, *buffers);
        return 0;
    }
    if (way == Way::Dumps) {
        checkDumps(image, data, size);
        return 0;
    }

    // By identity, as one file.
    planGivenFiles(whole, wholeFile, data, SameFiles(), PlanChecks{false, true, nullptr}, *buffers);
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
