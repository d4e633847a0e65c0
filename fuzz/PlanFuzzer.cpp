// Fuzzes the set plan, writing no file: the input is an image. For both layouts, with the disks
// chosen as d88extract-a and d88extract-b choose them (the input as one file) and by identity
// as d88extract chooses them, every plan is checked against the disks found again by their ID
// bytes and the runs read again (PlanCheck.h), with the host's names and with zip names; the
// disks found are checked against the reader, the vote on the input's bytes and the bytes
// themselves (DiskSetCheck.h). By identity the input is given:
// - as one file;
// - cut into four files where bytes 16 to 21 say (the reader ignores them): the same disks and
//   plans as one file, unless a file of the cut starts inside a disk with bytes that pass the
//   header check, where the reader starts a disk on purpose (CutCheck.h);
// - twice, the same file given again: exactly the plans of one file when it gives each set
//   number in one copy, unless the second file's bytes complete a header that failed the
//   check at the end of the first;
// - with one or two other dumps of its disks after it (ChangedCopies.h, as bytes 22 to 25
//   say): each sector read from every copy, as PlanCheck.h checks.
#include "ChangedCopies.h"
#include "CutCheck.h"
#include "DiskSetCheck.h"
#include "FuzzFiles.h"
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
GivenFiles wholeFile;               // the input as one file, "image.d88"
std::vector<std::string> partNames; // the names of the cut files
std::vector<uint8_t>* joinedBytes;  // the bytes of several files joined
const std::vector<std::string> dumpNames = {"dump1.d88", "dump2.d88"};
WalkBuffers* buffers = nullptr;          // as large as the programs' own
RunBuffers* runBuffers = nullptr;        // runs read again
std::vector<uint8_t>* scratch = nullptr; // one file's bytes

const SaveTarget ZIP_TARGET{NameTarget::Zip, BYTE_NAME_RULES, nullptr, nullptr};

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
    const std::string text =
        dumpJson(setDocument(plan, *set, paths, image.diskCount(), image.fileSize()));
    const nlohmann::ordered_json back = nlohmann::ordered_json::parse(text, nullptr, false);
    if (back.is_discarded() || back["entries"].size() != plan.entries.size()) {
        abort();
    }
}

// Plans both layouts with `disks` at zip names, and at the host's names when `withHost`, and
// checks each plan (the zip plan's JSON, with the disks `jsonSet`, when that is not null); then
// the layout fit, which counts files from their first sectors alone. Returns the zip plans.
std::vector<SetPlan> planAndCheck(d88::D88Image& image, const GivenFiles& files,
                                  const DiskChoice& disks, const ExpectedChoice& expected,
                                  bool withHost, const DiskSetFacts* jsonSet) {
    std::vector<SetPlan> zipPlans;
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        if (withHost) {
            const HostFolder here = hostCurrentFolder();
            const HostWrite write{&here, &image};
            const SetPlan plan =
                planSet(image, disks, *layout, hostSaveTarget(NameTarget::Host, write), *buffers);
            checkPlan(image, files, plan, expected, *layout, TargetExpectation{&files, true},
                      *buffers, *runBuffers);
        }
        zipPlans.push_back(planSet(image, disks, *layout, ZIP_TARGET, *buffers));
        checkPlan(image, files, zipPlans.back(), expected, *layout,
                  TargetExpectation{nullptr, false}, *buffers, *runBuffers);
        checkZipPlan(zipPlans.back(), files, image, jsonSet);
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

// Opens `files` (in the current folder) as one image, decides its disks and checks them, and
// plans and checks both layouts by identity. `bytes` are the files' bytes joined.
struct GivenSet {
    d88::D88Image image;
    std::vector<int> ids;
    DiskSetFacts facts;
    CheckedSet checked;
    std::vector<SetPlan> plans;
};

void planGivenFiles(GivenSet& set, const GivenFiles& files, const uint8_t* bytes, bool withHost,
                    bool withJson) {
    std::vector<const char*> paths;
    for (const std::string& name : files.names) {
        paths.push_back(name.c_str());
    }
    if (!set.image.openParts(paths.data(), files.count()) ||
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
// be empty) and writes them.
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
    for (int part = 0; part < CUT_FILES; ++part) {
        writeWholeFile(files.names[static_cast<size_t>(part)], data + files.ends[part],
                       static_cast<size_t>(files.length(part)));
    }
    return files;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Working in the image's folder lets an entry named like one of its files be the image.
    const std::string folder = makePrivateFolder();
    if (chdir(folder.c_str()) != 0) {
        abort();
    }
    wholeFile.names = {"image.d88"};
    for (int part = 0; part < CUT_FILES; ++part) {
        partNames.push_back("part" + std::to_string(part) + ".d88");
    }
    buffers = new WalkBuffers;
    runBuffers = new RunBuffers;
    joinedBytes = new std::vector<uint8_t>;
    scratch = new std::vector<uint8_t>(WORK_BUFFER_BYTES);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wholeFile.ends = {0, static_cast<int64_t>(size)};
    writeWholeFile(wholeFile.names[0], data, size);
    GivenSet whole;
    d88::D88Image& image = whole.image;
    if (!image.open(wholeFile.names[0].c_str())) {
        abort();
    }

    // As the set's programs read one file.
    const std::vector<int> ids = readIdBytes(image);
    const ExpectedChoice programs = programsExpected(ids);
    const DiskChoice programsChoice = programsDiskChoice(image);
    checkChoice(programsChoice, programs);
    planAndCheck(image, wholeFile, programsChoice, programs, true, nullptr);

    // By identity, as one file.
    planGivenFiles(whole, wholeFile, data, false, false);
    if (whole.checked.cut) {
        abort(); // one file: no disk is cut short
    }

    // By identity, cut into files joined in the order given.
    {
        const GivenFiles parts = cutInput(data, size);
        GivenSet cut;
        planGivenFiles(cut, parts, data, true, true);
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

    // The same file given twice.
    {
        const GivenFiles twice{{0, static_cast<int64_t>(size), 2 * static_cast<int64_t>(size)},
                               {wholeFile.names[0], wholeFile.names[0]}};
        joinedBytes->assign(data, data + size);
        joinedBytes->insert(joinedBytes->end(), data, data + size);
        GivenSet doubled;
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

    // Other dumps of the input's disks given after it.
    {
        const DumpChoice choice = dumpChoice(data, size);
        GivenFiles given{{0, static_cast<int64_t>(size)}, {wholeFile.names[0]}};
        joinedBytes->assign(data, data + size);
        for (int dump = 1; dump <= choice.dumps; ++dump) {
            const std::vector<uint8_t> copy = changedCopy(image, data, size, choice.seed, dump);
            given.names.push_back(dumpNames[static_cast<size_t>(dump - 1)]);
            given.ends.push_back(given.ends.back() + static_cast<int64_t>(size));
            writeWholeFile(given.names.back(), copy.data(), copy.size());
            joinedBytes->insert(joinedBytes->end(), copy.begin(), copy.end());
        }
        GivenSet merged;
        planGivenFiles(merged, given, joinedBytes->data(), true, true);
    }
    return 0;
}
