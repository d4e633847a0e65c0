// Fuzzes the extraction: the input is an image. As byte 15 (a byte of the first disk's name,
// which no plan reads) chooses, in one layout and one way: as d88extract-a and d88extract-b do, the
// disks are found by programsDiskChoice, the directory planned by planSet and the plan's files
// written by extractPlan, into an empty folder; or as d88extract does, by identity, from the input
// and one or two other dumps of its disks (ChangedCopies.h, as bytes 22 to 25 say) given after it,
// into the folder that holds those files, one of them named as the set's first file. Everything is
// read from memory, and extractPlan hands each file to a folder kept in memory instead of the
// host (WriteWatch::keep), which refuses a name that would reach outside the folder and any
// given file's name: the given files are never written. After each run the folder holds exactly
// the files that the plan writes: each under its saved name, written new or in place of an
// earlier entry's file as the plan says, with the bytes of its run read again (from every copy,
// sector by sector, as PlanCheck.h reads it) and zeros up to its size. The report has one line
// per file the plan promises, and one more for each file with sectors repaired, contested or
// voted; the result is true exactly when the directory was read without read errors and every
// file tried is written whole, without read errors, uncontested, replacing none (by identity, a
// file none of whose sectors can be read counts as tried).
#include "ChangedCopies.h"
#include "PlanCheck.h"

#include "DiskSet.h"
#include "Extraction.h"
#include "Host.h"
#include "Plan.h"
#include "RunText.h"
#include "SetCounts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

FILE* devNull = nullptr;
WalkBuffers* buffers = nullptr;   // as large as the programs' own
RunBuffers* runBuffers = nullptr; // a file's run read again
// Kept from one input to the next, as the programs keep their one image: a new image would take
// its memory from the system anew for every input.
d88::D88Image* inputImage = nullptr;
d88::D88Image* setImage = nullptr;
std::vector<std::vector<uint8_t>>* dumps = nullptr; // the other dumps' bytes
std::vector<bool>* changed = nullptr;

// A folder in memory: the files written into it, and the given files that stand in it.
struct MemoryFolder {
    std::map<std::string, std::vector<uint8_t>> files;
    std::vector<std::string> given;
};

// Takes a file into the folder as hostReplaceFile writes it: a new name is written, a file of an
// earlier entry replaced. "", "." and ".." are no file, as on the host. A name that reaches
// outside the folder, or one of a given file, is a fault.
ReplaceResult keepFile(const char* name, const uint8_t* bytes, size_t length, void* context) {
    MemoryFolder& folder = *static_cast<MemoryFolder*>(context);
    const std::string saved = name;
    if (saved.empty() || saved == "." || saved == "..") {
        return ReplaceResult{ReplaceOutcome::CannotCreate, saved.empty() ? ENOENT : EISDIR, false};
    }
    if (saved.find('/') != std::string::npos ||
        std::find(folder.given.begin(), folder.given.end(), saved) != folder.given.end()) {
        abort(); // written outside the folder, or over a given file
    }
    const bool existed = folder.files.count(saved) != 0;
    folder.files[saved].assign(bytes, bytes + length);
    return ReplaceResult{ReplaceOutcome::Replaced, 0, existed};
}

// The file of `entry` as kept in `folder` holds the run of its disk's `copies` read again, and
// zeros up to its size.
void checkFileBytes(d88::D88Image& image, const PlannedEntry& entry, const std::vector<int>& copies,
                    const std::vector<uint8_t>& kept) {
    const DirEntry& fields = entry.entry;
    if (kept.size() != static_cast<size_t>(fields.size) || copies.empty() ||
        copies[0] != entry.disk) {
        abort();
    }
    const Reread run =
        rereadFrom(image, copies, fields.track, fields.sector, fields.size, *runBuffers);
    if (run.got != entry.bytesRead ||
        memcmp(run.bytes, kept.data(), static_cast<size_t>(run.got)) != 0 ||
        memcmp(kept.data() + run.got, runBuffers->zeros.data(),
               static_cast<size_t>(fields.size - run.got)) != 0) {
        abort();
    }
}

bool anyContested(const MergedRun& merged) {
    return !sectorsTaken(merged, SectorTaken::Contested).empty();
}

bool anyMerged(const MergedRun& merged) {
    return std::any_of(
        merged.origins.begin(), merged.origins.end(),
        [](const SectorOrigin& origin) { return origin.taken != SectorTaken::AsStored; });
}

// Has extractPlan write `plan`'s files into `folder` (empty but for the given files), and checks
// the report, the result and the folder: it holds exactly the files that stand after the run.
// `copiesFor` gives the disks each file is read from; `files` names the disks, by identity.
void extractAndCheckPlan(d88::D88Image& image, const SetPlan& plan, MemoryFolder& folder,
                         const std::vector<std::vector<int>>& copiesFor, const DiskFiles* files) {
    char* report = nullptr;
    size_t reportSize = 0;
    FILE* reportStream = open_memstream(&report, &reportSize);
    if (reportStream == nullptr) {
        abort();
    }
    std::vector<FileResult> results;
    const WriteWatch watch{nullptr, &folder, keepFile};
    const bool byIdentity = files != nullptr;
    const bool allWritten = extractPlan(image, plan, hostCurrentFolder(), *buffers,
                                        RunText{reportStream, devNull, byIdentity, files},
                                        WriteManner{Existing::Replace, &watch}, results);
    fclose(reportStream);
    int lines = 0;
    for (size_t i = 0; i < reportSize; ++i) {
        lines += report[i] == '\n' ? 1 : 0;
    }
    free(report);
    int mergeLines = 0;
    for (size_t i = 0; i < plan.entries.size() && i < results.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        mergeLines += isWritten(entry.outcome) && anyMerged(entry.merged) ? 1 : 0;
        // A name may hold a line feed: a report that is no terminal gets its bytes as they are.
        if (wasWritten(results[i])) {
            lines -= static_cast<int>(
                std::count(entry.saved.name.begin(), entry.saved.name.end(), '\n'));
        }
    }
    if (lines != countSet(plan).files + mergeLines || results.size() != plan.entries.size()) {
        abort(); // the plan and the extraction have drifted apart
    }

    // Into a folder without any file of the set every file the plan writes is written, new
    // unless it replaces an earlier entry's; the last one under a name is what stands there.
    // The run succeeds when the directory was read without read errors and every file it tries
    // to write is written whole, without read errors, uncontested and replacing none; by
    // identity a file none of whose sectors can be read fails it too.
    bool clean = plan.directory.errors.errorSectors == 0;
    std::map<std::string, const PlannedEntry*> standing;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        const FileResult& result = results[i];
        if (wasWritten(result) != isWritten(entry.outcome)) {
            abort();
        }
        if (wasWritten(result)) {
            if ((result.status == FileStatus::Replaced) != (entry.replaces >= 0)) {
                abort();
            }
            standing[entry.saved.name] = &entry;
        }
        const EntryOutcome outcome = entry.outcome;
        const bool notTried = outcome == EntryOutcome::NotChosen ||
                              outcome == EntryOutcome::Empty || outcome == EntryOutcome::NoDisk ||
                              (outcome == EntryOutcome::Missing && !byIdentity);
        clean = clean && (notTried || (entry.outcome == EntryOutcome::Whole &&
                                       entry.readErrors.errorSectors == 0 && entry.replaces < 0 &&
                                       !anyContested(entry.merged)));
    }
    if (allWritten != clean || folder.files.size() != standing.size()) {
        abort(); // the programs' exit status, or a file that the plan does not write
    }
    for (const auto& kept : folder.files) {
        const auto found = standing.find(kept.first);
        if (found == standing.end()) {
            abort();
        }
        const std::vector<int>& copies =
            copiesFor[static_cast<size_t>(found->second->entry.diskNumber + 1)];
        checkFileBytes(image, *found->second, copies, kept.second);
    }
}

// What d88extract-a and d88extract-b do after opening the image, into an empty folder.
void extractAndCheck(d88::D88Image& image, const DirectoryLayout& layout) {
    const DiskChoice disks = programsDiskChoice(image.diskCount(), readIdSectors(image));
    if (!disks.enoughDisks) {
        return;
    }
    MemoryFolder folder;
    const DirectoryRead directory = readDirectory(image, disks, *buffers);
    const SetPlan plan = planSet(image, disks, directory, layout, folderHolding({}), *buffers);
    extractAndCheckPlan(image, plan, folder, disks.copiesFor, nullptr);
}

// A given file: its name in the folder and its bytes.
struct GivenFile {
    std::string name;
    d88::ByteSource bytes;
};

// What d88extract does with the given files, read by identity, writing into their folder.
void extractSetAndCheck(const std::vector<GivenFile>& given, const DirectoryLayout& layout) {
    std::vector<d88::ByteSource> sources;
    MemoryFolder folder;
    for (const GivenFile& file : given) {
        sources.push_back(file.bytes);
        folder.given.push_back(file.name);
    }
    d88::D88Image& image = *setImage;
    if (!image.openSources(sources.data(), static_cast<int>(sources.size()))) {
        abort();
    }
    const DiskSetFacts set = decideDiskSet(image, readIdSectors(image));
    const DiskChoice disks = identityDiskChoice(set);
    if (!disks.enoughDisks) {
        return;
    }
    const DirectoryRead directory = readDirectory(image, disks, *buffers);
    const SetPlan plan =
        planSet(image, disks, directory, layout, folderHolding(folder.given), *buffers);
    DiskFiles files;
    for (const FoundDisk& disk : set.disks) {
        files.push_back(folder.given[static_cast<size_t>(disk.part)]);
    }
    extractAndCheckPlan(image, plan, folder, disks.copiesFor, &files);
}

// The name of the first file that the set in the input would write, when it can name a given
// file: so that the run meets a file of its own input under a name it writes.
std::string firstFileName(d88::D88Image& image, const DirectoryLayout& layout,
                          const std::string& fallback) {
    const DiskChoice disks = identityDiskChoice(decideDiskSet(image, readIdSectors(image)));
    const SaveTarget target = folderHolding({}); // an empty folder: no name is the image's
    const DirectoryRead directory = readDirectory(image, disks, *buffers);
    const SetPlan plan = planSet(image, disks, directory, layout, target, *buffers);
    for (const PlannedEntry& entry : plan.entries) {
        const std::string& name = entry.saved.name;
        if (isWritten(entry.outcome) && name != "image.d88" && name.find("dump") != 0 &&
            !hostNameRules().refuses(name.c_str())) {
            return name;
        }
    }
    return fallback;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    devNull = fopen("/dev/null", "w");
    if (devNull == nullptr) {
        abort();
    }
    buffers = new WalkBuffers;
    runBuffers = new RunBuffers;
    inputImage = new d88::D88Image;
    setImage = new d88::D88Image;
    dumps = new std::vector<std::vector<uint8_t>>(3);
    changed = new std::vector<bool>;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    d88::D88Image& image = *inputImage;
    const d88::ByteSource input = d88::memorySource(data, size);
    // Byte 15 (the last of the first disk's name, which no plan reads) chooses the programs'
    // extraction or d88extract's, and the layout, for each input, so that each input costs a
    // few plans.
    const uint8_t choosing = size > 15 ? data[15] : 0;
    const bool programs = choosing % 2 == 0;
    const DirectoryLayout& layout = *SET_LAYOUTS[(choosing >> 1) % 2];
    if (programs) {
        if (!image.openSources(&input, 1)) {
            abort();
        }
        extractAndCheck(image, layout);
        return 0;
    }

    // The input and its other dumps, by identity.
    if (!image.openSources(&input, 1)) {
        abort();
    }
    const DumpChoice choice = dumpChoice(data, size);
    std::vector<GivenFile> given{GivenFile{"image.d88", input}};
    for (int dump = 1; dump <= choice.dumps; ++dump) {
        changedCopy(image, data, size, choice.seed, dump, (*dumps)[static_cast<size_t>(dump - 1)],
                    *changed);
    }
    for (int dump = 1; dump <= choice.dumps; ++dump) {
        const std::string name = "dump" + std::to_string(dump) + ".d88";
        const std::vector<uint8_t>& bytes = (*dumps)[static_cast<size_t>(dump - 1)];
        given.push_back(GivenFile{dump == 1 ? firstFileName(image, layout, name) : name,
                                  d88::memorySource(bytes.data(), bytes.size())});
    }
    extractSetAndCheck(given, layout);
    return 0;
}
