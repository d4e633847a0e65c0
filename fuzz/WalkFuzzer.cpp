// Fuzzes the extraction: the input is an image file. As d88extract-a and d88extract-b do, the
// disks are found by programsDiskChoice, the directory planned by planSet and the plan's files
// written by extractPlan, into a private folder; as d88extract does, by identity, from the input
// and one or two other dumps of its disks (ChangedCopies.h, as bytes 22 to 25 say) given
// after it, into the folder that holds those files, one of them named as the set's first file.
// After each input nothing may exist beside the folders, and each holds exactly the files that
// the plan writes (and the given files): each under its saved name, written new or in place of
// an earlier entry's file as the plan says, with the bytes of its run read again (from every
// copy, sector by sector, as PlanCheck.h reads it) and zeros up to its size. The given files
// are never written: their bytes and modification times stay. The report has one line per file
// the plan promises, and one more for each file with sectors taken from a later copy, contested
// or voted; the result is true exactly when the programs exit 0.
#include "ChangedCopies.h"
#include "FuzzFiles.h"
#include "PlanCheck.h"

#include "DiskSet.h"
#include "Extraction.h"
#include "Host.h"
#include "Plan.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string rootPath;
std::string imagePath;
std::string setPath; // the folder of the given files read by identity, and of their files
FILE* devNull = nullptr;
WalkBuffers* buffers = nullptr;       // as large as the programs' own
RunBuffers* runBuffers = nullptr;     // a file's run read again
std::vector<uint8_t>* writtenContent; // a file as it stands in the folder

std::vector<std::string> entriesOf(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        abort();
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    return names;
}

// Reads the file `path` into writtenContent; returns its size.
size_t readWrittenFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        abort();
    }
    const size_t size = fread(writtenContent->data(), 1, writtenContent->size(), file);
    if (ferror(file) || fgetc(file) != EOF) {
        abort(); // larger than any file of the set
    }
    fclose(file);
    return size;
}

// The file of `entry`, in `folder` ("" for the current one), holds the run of its disk's
// `copies` read again, and zeros up to its size.
void checkFileBytes(d88::D88Image& image, const PlannedEntry& entry, const std::vector<int>& copies,
                    const std::string& folder) {
    const DirEntry& fields = entry.entry;
    if (readWrittenFile(folder + entry.saved.name) != static_cast<size_t>(fields.size) ||
        copies.empty() || copies[0] != entry.disk) {
        abort();
    }
    const Reread run =
        rereadFrom(image, copies, fields.track, fields.sector, fields.size, *runBuffers);
    if (run.got != entry.bytesRead ||
        memcmp(run.bytes, writtenContent->data(), static_cast<size_t>(run.got)) != 0 ||
        memcmp(writtenContent->data() + run.got, runBuffers->zeros.data(),
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

// Writes `plan`'s files into `folder` ("" and `here` for the current one), as extractPlan does
// for the programs, and checks the report, the result and the folder: it holds exactly the
// files that stand after the run and `given`, which the run never writes. `copiesFor` gives
// the disks each file is read from.
void extractAndCheckPlan(d88::D88Image& image, const SetPlan& plan, const HostFolder& here,
                         const std::string& folder, const std::vector<std::vector<int>>& copiesFor,
                         const DiskFiles& files, const std::vector<std::string>& given) {
    char* report = nullptr;
    size_t reportSize = 0;
    FILE* reportStream = open_memstream(&report, &reportSize);
    if (reportStream == nullptr) {
        abort();
    }
    std::vector<FileResult> results;
    const bool allWritten =
        extractPlan(image, plan, here, *buffers, reportStream, devNull, results, files);
    fclose(reportStream);
    int lines = 0;
    for (size_t i = 0; i < reportSize; ++i) {
        lines += report[i] == '\n' ? 1 : 0;
    }
    free(report);
    int mergeLines = 0;
    for (const PlannedEntry& entry : plan.entries) {
        mergeLines += isWritten(entry.outcome) && anyMerged(entry.merged) ? 1 : 0;
    }
    if (lines != plan.summary.files + mergeLines || results.size() != plan.entries.size()) {
        abort(); // the plan and the extraction have drifted apart
    }

    // Into a folder without any file of the set every file the plan writes is written, new
    // unless it replaces an earlier entry's; the last one under a name is what stands there.
    bool clean = plan.directoryErrors.errorSectors == 0 && !anyContested(plan.directoryMerge);
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
        const bool passedOver = result.status == FileStatus::PassedOver;
        clean = clean && (passedOver || (entry.outcome == EntryOutcome::Whole &&
                                         entry.readErrors.errorSectors == 0 && entry.replaces < 0 &&
                                         !anyContested(entry.merged)));
    }
    if (allWritten != clean) {
        abort(); // the programs' exit status
    }
    const std::vector<std::string> names = entriesOf(folder.empty() ? "." : folder);
    if (names.size() != standing.size() + given.size()) {
        abort();
    }
    for (const std::string& name : names) {
        const auto found = standing.find(name);
        if (found != standing.end()) {
            const std::vector<int>& copies =
                copiesFor[static_cast<size_t>(found->second->entry.diskNumber + 1)];
            checkFileBytes(image, *found->second, copies, folder);
        } else if (std::find(given.begin(), given.end(), name) == given.end()) {
            abort(); // a file that the plan does not write
        }
    }
}

// What d88extract-a and d88extract-b do after opening the image, checked against the plan.
void extractAndCheck(d88::D88Image& image, const DirectoryLayout& layout) {
    const DiskChoice disks = programsDiskChoice(image);
    if (!disks.enoughDisks) {
        return;
    }
    const HostFolder here = hostCurrentFolder();
    const HostWrite write{&here, &image};
    const SetPlan plan =
        planSet(image, disks, layout, hostSaveTarget(NameTarget::Host, write), *buffers);
    extractAndCheckPlan(image, plan, here, "", disks.copiesFor, DiskFiles(), {});
}

// A given file as written, and when.
struct GivenFile {
    std::string name;
    std::vector<uint8_t> bytes;
    struct stat before;
};

// The given file is as it was written: the same bytes, not modified since.
void checkUnchanged(const GivenFile& file) {
    struct stat after;
    std::vector<uint8_t> now(file.bytes.size() + 1);
    FILE* stream = fopen((setPath + file.name).c_str(), "rb");
    const size_t got = stream != nullptr ? fread(now.data(), 1, now.size(), stream) : 0;
    if (stream == nullptr || fclose(stream) != 0 ||
        stat((setPath + file.name).c_str(), &after) != 0 || got != file.bytes.size() ||
        memcmp(now.data(), file.bytes.data(), got) != 0 ||
        after.st_mtim.tv_sec != file.before.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != file.before.st_mtim.tv_nsec ||
        after.st_ino != file.before.st_ino) {
        abort(); // an input file written
    }
}

// What d88extract does with the given files, read by identity, writing into their folder.
void extractSetAndCheck(const std::vector<GivenFile>& given, const DirectoryLayout& layout) {
    std::vector<std::string> paths;
    std::vector<std::string> names;
    for (const GivenFile& file : given) {
        paths.push_back(setPath + file.name);
        names.push_back(file.name);
    }
    std::vector<const char*> pathPointers;
    for (const std::string& path : paths) {
        pathPointers.push_back(path.c_str());
    }
    d88::D88Image image;
    if (!image.openParts(pathPointers.data(), static_cast<int>(pathPointers.size()))) {
        abort();
    }
    const DiskSetFacts set = decideDiskSet(image);
    const DiskChoice disks = identityDiskChoice(set);
    if (!disks.enoughDisks) {
        return;
    }
    HostFolder folder;
    int error = 0;
    if (!hostOpenFolder(setPath.c_str(), false, folder, error)) {
        abort();
    }
    const HostWrite write{&folder, &image};
    const SetPlan plan =
        planSet(image, disks, layout, hostSaveTarget(NameTarget::Host, write), *buffers);
    DiskFiles files;
    for (const FoundDisk& disk : set.disks) {
        files.push_back(names[static_cast<size_t>(disk.part)]);
    }
    extractAndCheckPlan(image, plan, folder, setPath, disks.copiesFor, files, names);
    hostCloseFolder(folder);
    for (const GivenFile& file : given) {
        checkUnchanged(file);
    }
    // The files written go, for the next layout; the given files stay.
    for (const std::string& name : entriesOf(setPath)) {
        if (std::find(names.begin(), names.end(), name) == names.end() &&
            remove((setPath + name).c_str()) != 0) {
            abort();
        }
    }
}

// Nothing beside the extraction folders; empties them for the next input.
void checkBesideAndClean() {
    for (const std::string& name : entriesOf(rootPath)) {
        if (name != "image.d88" && name != "out" && name != "set") {
            abort(); // written outside the extraction folders
        }
    }
    for (const std::string& name : entriesOf(".")) {
        if (remove(name.c_str()) != 0) {
            abort();
        }
    }
    for (const std::string& name : entriesOf(setPath)) {
        if (remove((setPath + name).c_str()) != 0) {
            abort();
        }
    }
}

// The name of the first file that the set in the input would write, when it can name a given
// file: so that the run meets a file of its own input under a name it writes.
std::string firstFileName(const std::string& fallback) {
    d88::D88Image image;
    if (!image.open(imagePath.c_str())) {
        abort();
    }
    const DiskChoice disks = identityDiskChoice(decideDiskSet(image));
    const HostFolder here = hostCurrentFolder(); // empty: no name is the image's there
    const HostWrite write{&here, &image};
    const SaveTarget target = hostSaveTarget(NameTarget::Host, write);
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        const SetPlan plan = planSet(image, disks, *layout, target, *buffers);
        for (const PlannedEntry& entry : plan.entries) {
            const std::string& name = entry.saved.name;
            if (isWritten(entry.outcome) && name != "image.d88" && name.find("dump") != 0 &&
                !hostNameRules().refuses(name.c_str())) {
                return name;
            }
        }
    }
    return fallback;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rootPath = makePrivateFolder();
    imagePath = rootPath + "/image.d88";
    const std::string out = rootPath + "/out";
    setPath = rootPath + "/set/";
    devNull = fopen("/dev/null", "w");
    if (devNull == nullptr || mkdirFolder(out) != 0 || mkdirFolder(setPath) != 0 ||
        chdir(out.c_str()) != 0) {
        abort();
    }
    buffers = new WalkBuffers;
    runBuffers = new RunBuffers;
    writtenContent = new std::vector<uint8_t>(MAX_FILE_BYTES + 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeWholeFile(imagePath, data, size);
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        d88::D88Image image;
        if (!image.open(imagePath.c_str())) {
            abort();
        }
        extractAndCheck(image, *layout);
        checkBesideAndClean();
    }

    // The input and its other dumps, by identity.
    const DumpChoice choice = dumpChoice(data, size);
    std::vector<GivenFile> given{
        GivenFile{"image.d88", std::vector<uint8_t>(data, data + size), {}}};
    {
        d88::D88Image image;
        if (!image.open(imagePath.c_str())) {
            abort();
        }
        for (int dump = 1; dump <= choice.dumps; ++dump) {
            const std::string name = "dump" + std::to_string(dump) + ".d88";
            given.push_back(GivenFile{dump == 1 ? firstFileName(name) : name,
                                      changedCopy(image, data, size, choice.seed, dump),
                                      {}});
        }
    }
    for (GivenFile& file : given) {
        const std::string path = setPath + file.name;
        writeWholeFile(path, file.bytes.data(), file.bytes.size());
        if (stat(path.c_str(), &file.before) != 0) {
            abort();
        }
    }
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        extractSetAndCheck(given, *layout);
    }
    checkBesideAndClean();
    return 0;
}
