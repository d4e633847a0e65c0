// Fuzzes the set plan, writing no file: the input is an image, read from memory. Every plan is
// checked against the disks found again by their ID bytes and the runs read again (PlanCheck.h),
// with the host's names (for a folder that holds the given files under their names, as
// hostSaveTarget tells it) and with zip names; the disks found are checked against the reader,
// the vote on the input's bytes and the bytes themselves (DiskSetCheck.h). Byte 15 of the input
// (the last of the first disk's name, which no plan reads) chooses one way to give it, and byte
// 14 the layout whose JSON document is checked, so that each input costs a few plans:
// - as d88extract-a and d88extract-b read one file: their choice of disks, both layouts;
// - by identity as one file, and cut into four files where bytes 16 to 21 say (the reader
//   ignores them): the same disks and plans as one file, unless a file of the cut starts inside a
//   disk with bytes that pass the header check, where the reader starts a disk on purpose
//   (CutCheck.h);
// - by identity as one file, and the same file given twice: exactly the plans of one file when
//   it gives each set number in one copy, unless the second file's bytes complete a header that
//   failed the check at the end of the first;
// - by identity with one or two other dumps of its disks after it (ChangedCopies.h, as bytes 22
//   to 25 say): each sector read from every copy, as PlanCheck.h checks.
#include "ChangedCopies.h"
#include "CutCheck.h"
#include "DiskSetCheck.h"
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
size_t jsonLayout = 0;
GivenFiles wholeFile;               // the input as one file, "image.d88"
std::vector<std::string> partNames; // the names of the cut files
std::vector<uint8_t>* joinedBytes;  // the bytes of several files joined
const std::vector<std::string> dumpNames = {"dump1.d88", "dump2.d88"};
WalkBuffers* buffers = nullptr;          // as large as the programs' own
RunBuffers* runBuffers = nullptr;        // runs read again
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

// Plans both layouts with `disks` at zip names, and at the host's names when `withHost`, and
// checks each plan (the JSON of jsonLayout's zip plan, with the disks `jsonSet`, when that is not
// null); then
// the layout fit, which counts files from their first sectors alone. Returns the zip plans.
std::vector<SetPlan> planAndCheck(d88::D88Image& image, const GivenFiles& files,
                                  const DiskChoice& disks, const ExpectedChoice& expected,
                                  bool withHost, const DiskSetFacts* jsonSet) {
    std::vector<SetPlan> zipPlans;
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        zipPlans.push_back(planSet(image, disks, *layout, ZIP_TARGET, *buffers));
        const TargetExpectation zipNames{nullptr, false};
        if (withHost) {
            // The host's plan is read again; the zip plan is held against it.
            const SetPlan plan =
                planSet(image, disks, *layout, folderHolding(files.names), *buffers);
            checkPlan(image, files, plan, expected, *layout, TargetExpectation{&files, true},
                      *buffers, *runBuffers);
            checkPlanAgainst(plan, zipPlans.back(), zipNames);
        } else {
            checkPlan(image, files, zipPlans.back(), expected, *layout, zipNames, *buffers,
                      *runBuffers);
        }
        // The JSON document of one layout per input, which byte JSON_LAYOUT_BYTE chooses.
        const bool json = layout == SET_LAYOUTS[jsonLayout];
        checkZipPlan(zipPlans.back(), files, image, json ? jsonSet : nullptr);
    }
    int counted[2] = {0, 0};
    const LayoutFit fit = decideLayoutFit(image, disks, ZIP_TARGET, *buffers, counted, true);
    const bool a = zipPlans[0].summary.files > 0;
    const bool b = zipPlans[1].summary.files > 0;
    if (counted[0] != zipPlans[0].summary.files || counted[1] != zipPlans[1].summary.files ||
        fit != (a && b ? LayoutFit::Both
                : a    ? LayoutFit::A
                : b    ? LayoutFit::B
                       : LayoutFit::Neither)) {
        abort();
    }
    // As d88extract chooses: a layout's count stops at its first file unless both yield files.
    int first[2] = {0, 0};
    if (decideLayoutFit(image, disks, ZIP_TARGET, *buffers, first, false) != fit ||
        first[0] != (fit == LayoutFit::Both ? counted[0] : std::min(counted[0], 1)) ||
        first[1] != (fit == LayoutFit::Both ? counted[1] : std::min(counted[1], 1))) {
        abort();
    }
    return zipPlans;
}

// Opens `files`, whose bytes joined are `bytes`, as one image read from memory, decides its
// disks and checks them, and plans and checks both layouts by identity.
struct GivenSet {
    d88::D88Image image; // kept from one input to the next: a new one takes its memory anew
    std::vector<int> ids;
    DiskSetFacts facts;
    CheckedSet checked;
    std::vector<SetPlan> plans;
};
GivenSet* wholeSet = nullptr; // the input as one file
GivenSet* cutSet = nullptr;
GivenSet* doubledSet = nullptr;
GivenSet* mergedSet = nullptr; // with other dumps

void planGivenFiles(GivenSet& set, const GivenFiles& files, const uint8_t* bytes, bool withHost,
                    bool withJson) {
    std::vector<d88::ByteSource> sources;
    for (int part = 0; part < files.count(); ++part) {
        sources.push_back(d88::memorySource(bytes + files.ends[static_cast<size_t>(part)],
                                            static_cast<size_t>(files.length(part))));
    }
    if (!set.image.openSources(sources.data(), files.count()) ||
        set.image.fileSize() != files.ends.back()) {
        abort();
    }
    set.ids = readIdBytes(set.image);
    set.facts = decideDiskSet(set.image);
    set.checked = checkDiskSet(set.image, files, bytes, set.ids, set.facts);
    const DiskChoice choice = identityDiskChoice(set.facts);
    checkChoice(choice, set.checked.identity);
    set.plans = planAndCheck(set.image, files, choice, set.checked.identity, withHost,
                             withJson ? &set.facts : nullptr);
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

// By identity, cut into files joined in the order given: the disks and plans of one file.
void checkCut(const GivenSet& whole, const std::vector<int>& ids, const uint8_t* data,
              size_t size) {
    d88::D88Image& image = wholeSet->image;
    const GivenFiles parts = cutInput(data, size);
    GivenSet& cut = *cutSet;
    planGivenFiles(cut, parts, data, true, false);
    if (!cut.checked.cut) {
        if (cut.ids != ids) {
            abort();
        }
        checkSameDisks(whole.facts, cut.facts);
        for (size_t i = 0; i < whole.plans.size(); ++i) {
            checkSamePlan(image, whole.plans[i], cut.image, cut.plans[i], *buffers, *scratch,
                          false);
        }
    }
}

// The same file given twice: exactly the plans of one file, when it gives each set number once.
void checkTwice(const GivenSet& whole, const uint8_t* data, size_t size) {
    d88::D88Image& image = wholeSet->image;
    const GivenFiles twice{{0, static_cast<int64_t>(size), 2 * static_cast<int64_t>(size)},
                           {wholeFile.names[0], wholeFile.names[0]}};
    joinedBytes->assign(data, data + size);
    joinedBytes->insert(joinedBytes->end(), data, data + size);
    GivenSet& doubled = *doubledSet;
    planGivenFiles(doubled, twice, joinedBytes->data(), false, false);
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
    // A set number given in one copy, given again with the same bytes, adds nothing: unless
    // the second file completes a header that failed the check at the end of the first.
    // (One given in copies that differ is given in more copies: they weigh in a vote.)
    const std::vector<std::vector<int>>& copiesFor = whole.checked.identity.copiesFor;
    const bool oneCopyEach =
        std::all_of(copiesFor.begin(), copiesFor.end(),
                    [](const std::vector<int>& copies) { return copies.size() <= 1; });
    if (first == single && oneCopyEach) {
        checkChoice(identityDiskChoice(doubled.facts), whole.checked.identity);
        for (size_t i = 0; i < whole.plans.size(); ++i) {
            checkSamePlan(image, whole.plans[i], doubled.image, doubled.plans[i], *buffers,
                          *scratch, true);
        }
    }
}

// Other dumps of the input's disks (opened as `image`) given after it.
void checkDumps(d88::D88Image& image, const uint8_t* data, size_t size) {
    const DumpChoice choice = dumpChoice(data, size);
    GivenFiles given{{0, static_cast<int64_t>(size)}, {wholeFile.names[0]}};
    joinedBytes->assign(data, data + size);
    for (int dump = 1; dump <= choice.dumps; ++dump) {
        const std::vector<uint8_t> copy = changedCopy(image, data, size, choice.seed, dump);
        given.names.push_back(dumpNames[static_cast<size_t>(dump - 1)]);
        given.ends.push_back(given.ends.back() + static_cast<int64_t>(size));
        joinedBytes->insert(joinedBytes->end(), copy.begin(), copy.end());
    }
    GivenSet& merged = *mergedSet;
    planGivenFiles(merged, given, joinedBytes->data(), true, true);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    wholeFile.names = {"image.d88"};
    for (int part = 0; part < CUT_FILES; ++part) {
        partNames.push_back("part" + std::to_string(part) + ".d88");
    }
    buffers = new WalkBuffers;
    runBuffers = new RunBuffers;
    joinedBytes = new std::vector<uint8_t>;
    scratch = new std::vector<uint8_t>(WORK_BUFFER_BYTES);
    wholeSet = new GivenSet;
    cutSet = new GivenSet;
    doubledSet = new GivenSet;
    mergedSet = new GivenSet;
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
    const std::vector<int> ids = readIdBytes(image);
    const Way way = static_cast<Way>((size > WAY_BYTE ? data[WAY_BYTE] : 0) % 4);
    jsonLayout = (size > JSON_LAYOUT_BYTE ? data[JSON_LAYOUT_BYTE] : 0) % 2;
    if (way == Way::Programs) {
        // As the set's programs read one file.
        const ExpectedChoice programs = programsExpected(ids);
        const DiskChoice programsChoice = programsDiskChoice(image);
        checkChoice(programsChoice, programs);
        planAndCheck(image, wholeFile, programsChoice, programs, true, nullptr);
        return 0;
    }
    if (way == Way::Dumps) {
        checkDumps(image, data, size);
        return 0;
    }

    // By identity, as one file.
    planGivenFiles(whole, wholeFile, data, false, false);
    if (whole.checked.cut) {
        abort(); // one file: no disk is cut short
    }
    if (way == Way::Cut) {
        checkCut(whole, ids, data, size);
    } else {
        checkTwice(whole, data, size);
    }
    return 0;
}
