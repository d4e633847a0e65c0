// d88extract: from the files a user has (one image of the set, or its disks as separate files)
// to the set's files in a folder, in one command. The same walk and the same writer as
// d88extract-a and d88extract-b.
#include "CommandLine.h"
#include "DigestWorker.h"
#include "DiskSet.h"
#include "Extraction.h"
#include "FileChoice.h"
#include "FileHashes.h"
#include "GivenFiles.h"
#include "Hashing.h"
#include "Host.h"
#include "ImageFacts.h"
#include "ListText.h"
#include "Messages.h"
#include "NamePattern.h"
#include "NoteText.h"
#include "Plan.h"
#include "PlanJson.h"
#include "RunText.h"
#include "SetCounts.h"
#include "SetNotes.h"
#include "SetText.h"
#include "ShiftJis.h"
#include "ShownName.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const PROGRAM = "d88extract";

void printHelp() {
    hostPrintf(stdout,
               "usage: d88extract [OPTIONS] IMAGE...\n"
               "Writes the files of a disk set kept in D88 images into a folder. IMAGE is one\n"
               "file that holds the set, or the set's disks as separate files in any order,\n"
               "joined in the order given; each disk is known by its ID byte.\n"
               "  -d, --directory DIR  write into DIR, made with its parents when missing\n"
               "                       (default: the current folder)\n"
               "  --layout a|b         the directory layout of d88extract-a or d88extract-b\n"
               "                       (default: the one that yields files)\n"
               "  --names utf-8|shift_jis\n"
               "                       write names decoded to UTF-8, or as the bytes stored\n"
               "                       (default: utf-8 in a UTF-8 locale)\n"
               "  -i, --include PATTERN\n"
               "                       only the files whose saved names match the shell\n"
               "                       pattern (* ? [...]); may be given again\n"
               "  -l, --list           write nothing; list the files, their sizes and disks\n"
               "  -v, --verbose        with -l, add each file's CRC-32 and its sectors stored\n"
               "                       with a read error\n"
               "  -n, --dry-run        write nothing; show what would become of each entry\n"
               "  -k, --keep-existing  keep a file that stands under a saved name, and say so\n"
               "                       (default: replace it once the new one is whole)\n"
               "  -q, --quiet          no report lines and no summary; messages still shown\n"
               "  --json               the results as JSON on standard output\n"
               "  --help               show this help and exit\n"
               "  --version            show the version and exit\n"
               "Exit status: 0 when every file was written whole from sectors read without\n"
               "error, 1 after any message about a file, the image or the folder, 2 for a\n"
               "command-line error or when both layouts yield files.\n");
}

struct Options {
    std::vector<const char*> images;
    const char* directory = nullptr;
    const DirectoryLayout* layout = nullptr;
    NameChoice names = NameChoice::Default;
    std::vector<std::string> patterns; // -i
    bool list = false;
    bool verbose = false;
    bool dryRun = false;
    bool keep = false;
    bool quiet = false;
    bool json = false;
};

enum Option {
    DIRECTORY,
    LAYOUT,
    NAMES,
    INCLUDE,
    LIST,
    VERBOSE,
    DRY_RUN,
    KEEP,
    QUIET,
    JSON,
    HELP,
    VERSION
};

// Parses the command line; returns -1 to go on, otherwise the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    OptionReader reader = optionReader(PROGRAM, {{"directory", 'd', "a folder", false},
                                                 {"layout", 0, "a or b", false},
                                                 {"names", 0, NAMES_NEEDS, false},
                                                 {"include", 'i', "a pattern", true},
                                                 {"list", 'l', nullptr, false},
                                                 {"verbose", 'v', nullptr, false},
                                                 {"dry-run", 'n', nullptr, false},
                                                 {"keep-existing", 'k', nullptr, false},
                                                 {"quiet", 'q', nullptr, false},
                                                 {"json", 0, nullptr, false},
                                                 {"help", 0, nullptr, false},
                                                 {"version", 0, nullptr, false}});
    const char* value = nullptr;
    for (int option; (option = nextOption(reader, argc, argv, value)) != OPTIONS_END;) {
        switch (option) {
        case OPTIONS_FAILED:
            return STATUS_USAGE;
        case DIRECTORY:
            if (value[0] == '\0') {
                return badOptionValue(reader, option, value);
            }
            options.directory = value;
            break;
        case LAYOUT:
            options.layout = layoutByLetter(value);
            if (options.layout == nullptr) {
                return badOptionValue(reader, option, value);
            }
            break;
        case NAMES:
            if (!parseNameChoice(value, options.names)) {
                return badOptionValue(reader, option, value);
            }
            break;
        case INCLUDE:
            if (strlen(value) > MAX_PATTERN_BYTES) {
                return commandLineError(PROGRAM, "--include takes a pattern of at most %d bytes",
                                        static_cast<int>(MAX_PATTERN_BYTES));
            }
            options.patterns.push_back(value);
            break;
        case LIST:
            options.list = true;
            break;
        case VERBOSE:
            options.verbose = true;
            break;
        case DRY_RUN:
            options.dryRun = true;
            break;
        case KEEP:
            options.keep = true;
            break;
        case QUIET:
            options.quiet = true;
            break;
        case JSON:
            options.json = true;
            break;
        case HELP:
            printHelp();
            return finishOutput(PROGRAM, 0);
        case VERSION:
            return printVersion(PROGRAM);
        }
    }
    if (options.verbose && !options.list) {
        return commandLineError(PROGRAM, "--verbose goes with --list (-lv)");
    }
    options.images = operandsAfterOptions(argc, argv);
    if (options.images.empty()) {
        return commandLineError(PROGRAM, "no image given");
    }
    if (options.images.size() > static_cast<size_t>(d88::MAX_IMAGE_PARTS)) {
        return commandLineError(PROGRAM, "at most %d files, one image", d88::MAX_IMAGE_PARTS);
    }
    return -1;
}

// What the run reads and works with, made once in main.
struct Run {
    const Options& options;
    const GivenFiles& given;
    d88::D88Image& image;
    WalkBuffers& buffers;
    DiskSetFacts set;
    ShownFiles files; // the given files as messages show them
    DiskFiles copies; // each disk's name as messages name a copy
};

std::string prefixed(const char* text) {
    return std::string(PROGRAM) + ": " + text;
}

// What the files hold, said before anything is written. Returns -1 to go on, otherwise the exit
// status after a refusal. `damaged` is set when a note tells of damage.
int checkDiskSet(const Run& run, bool& damaged) {
    const std::vector<SetNote> notes = decideSetNotes(run.set, run.image.fileSize());
    for (const SetNote& note : notes) {
        hostPrintfLocal(stderr, "%s\n",
                        prefixed(setNoteText(note, run.set, run.files).c_str()).c_str());
    }
    damaged = tellsOfDamage(notes);
    return refusesFiles(notes) ? 1 : -1;
}

// The layout to use: the one given, or the one that yields files as the plans decide. Null
// after a message, with `status` set.
const DirectoryLayout* chooseLayout(const Run& run, const PlanSource& source, LayoutPlans& plans,
                                    int& status) {
    const LayoutDecision decision = decideLayout(source, run.options.layout, plans);
    if (decision.problem == LayoutProblem::None) {
        return decision.layout;
    }
    // Without a layout the directory's sectors are said without their entries.
    for (const DirectoryNote& note : decideDirectoryNotes(source.directory, nullptr)) {
        hostPrintfLocal(
            stderr, "%s\n",
            prefixed(directoryNoteText(note, source.directory, run.set, run.files).c_str())
                .c_str());
    }
    status = decision.problem == LayoutProblem::Both ? STATUS_USAGE : 1;
    switch (decision.problem) {
    case LayoutProblem::None:
        break;
    case LayoutProblem::GivenYieldsNothing:
        hostPrintf(stderr, "%s: %s: use --layout %s\n", PROGRAM,
                   layoutProblemText(decision).c_str(), otherLayout(*decision.given).letter);
        break;
    case LayoutProblem::Both:
        hostPrintf(stderr, "%s: %s; choose one with --layout a or --layout b\n", PROGRAM,
                   layoutProblemText(decision).c_str());
        break;
    case LayoutProblem::Neither:
        hostPrintf(stderr, "%s: %s\n", PROGRAM, layoutProblemText(decision).c_str());
        break;
    }
    return nullptr;
}

// The set document of d88info --set --json for the files read, with what became of each
// file and the hashes of the bytes written when `results` and `digests` are given, the hashes
// of the files as planned otherwise.
void printJson(const Run& run, const SetPlan& plan, const std::vector<FileResult>* results,
               const std::vector<FileDigests>* digests) {
    nlohmann::ordered_json document =
        setDocument(plan, run.set, run.options.images, run.image.diskCount(), run.image.fileSize());
    if (results != nullptr) {
        addResults(document, plan, *results, decideReplacements(plan, writtenFiles(*results)));
        std::vector<FileDigests> written = *digests;
        for (size_t i = 0; i < written.size() && i < results->size(); ++i) {
            written[i].taken = written[i].taken && wasWritten((*results)[i]);
        }
        addFileHashes(document, written);
    } else {
        addFileHashes(document, digestPlannedFiles(run.image, plan, run.buffers, DIGEST_ALL));
    }
    const std::string text = dumpJson(document);
    fputs(text.c_str(), stdout); // UTF-8, for programs to read
    fputc('\n', stdout);
}

// Makes the folder of -d when it is still to be made, and says once, before any file is
// tried, when it takes no file. False after a message.
bool readyToWrite(const Options& options, HostFolder& folder) {
    int error = 0;
    if (folder.notMadeYet && !hostOpenFolder(options.directory, true, folder, error)) {
        hostPrintfLocal(stderr, "%s: cannot make folder %s: %s\n", PROGRAM,
                        quotedPath(options.directory, stderr).c_str(), strerror(error));
        return false;
    }
    if (hostFolderWritable(folder, error)) {
        return true;
    }
    if (options.directory != nullptr) {
        hostPrintfLocal(stderr, "%s: cannot write into folder %s: %s\n", PROGRAM,
                        quotedPath(options.directory, stderr).c_str(), strerror(error));
    } else {
        hostPrintf(stderr, "%s: cannot write into the current folder: %s\n", PROGRAM,
                   strerror(error));
    }
    return false;
}

// What a run that writes nothing prints: the plan as JSON, the list (-l), or the plan entry by
// entry (-n).
void printPlan(const Run& run, const SetPlan& plan) {
    if (run.options.json) {
        printJson(run, plan, nullptr, nullptr);
        return;
    }
    printSetHead(run.options.images, run.image.diskCount(), *plan.layout, stdout);
    printMissingDisks(plan, "", stdout);
    printDirectoryNotes(plan, run.set, run.files, "", stdout);
    if (run.options.list) {
        if (run.options.verbose) {
            std::vector<std::string> crcs;
            for (const FileDigests& file :
                 digestPlannedFiles(run.image, plan, run.buffers, DIGEST_CRC32)) {
                crcs.push_back(file.taken ? crc32Hex(file.digests.crc32) : std::string());
            }
            printFileList(plan, &crcs, stdout);
        } else {
            printFileList(plan, nullptr, stdout);
        }
    } else {
        printSetPlan(plan, stdout);
        printSetSummary(countSet(plan), stdout);
    }
}

// Writes the plan's files into `folder`. Returns the exit status.
int writeFiles(const Run& run, const SetPlan& plan, const HostFolder& folder, bool complete) {
    const Options& options = run.options;
    const std::string prefix = prefixed("");
    printMissingDisks(plan, prefix.c_str(), stderr);
    printDirectoryNotes(plan, run.set, run.files, prefix.c_str(), stderr);
    printMergeLine(plan.directory.merge, run.copies, (prefix + "the directory's ").c_str(), stderr);
    std::vector<FileResult> results;
    // For the JSON, each file is digested from the buffer it is written from, on a second thread
    // when one can be started.
    std::vector<FileDigests> digests(plan.entries.size(), FileDigests{false, Digests{}});
    DigestWorker* worker = options.json ? startDigestWorker(plan.entries.size()) : nullptr;
    const WriteWatch watch = worker != nullptr ? WriteWatch{digestLater, worker}
                                               : WriteWatch{digestWrittenFile, &digests};
    const RunText text{options.json || options.quiet ? nullptr : stdout, stderr, true, &run.copies};
    const WriteManner manner{options.keep ? Existing::Keep : Existing::Replace,
                             options.json ? &watch : nullptr};
    const bool allWritten =
        extractPlan(run.image, plan, folder, run.buffers, text, manner, results);
    if (worker != nullptr) {
        digests = finishDigestWorker(worker);
    }
    if (options.json) {
        printJson(run, plan, &results, &digests);
    } else if (!options.quiet) {
        fflush(stdout); // the report lines come first
        printRunSummary(PROGRAM, countSet(plan, &results), options.directory, stderr);
    }
    return finishOutput(PROGRAM, allWritten && complete ? 0 : 1);
}

// The folder that the files go to, opened when it is there; a missing one is made only once
// the image is known to yield files, and never by a dry run: until then it holds nothing.
// False after a message.
bool findFolder(const Options& options, HostFolder& folder) {
    folder = hostCurrentFolder();
    int error = 0;
    if (options.directory == nullptr || hostOpenFolder(options.directory, false, folder, error)) {
        return true;
    }
    if (error != ENOENT) {
        hostPrintfLocal(stderr, "%s: cannot make folder %s: %s\n", PROGRAM,
                        quotedPath(options.directory, stderr).c_str(), strerror(error));
        return false;
    }
    folder = hostCurrentFolder();
    folder.notMadeYet = true;
    return true;
}

// The set's files from the image open in `run`. Returns the exit status.
int extractSet(Run& run) {
    const Options& options = run.options;
    run.set = decideDiskSet(run.image, readIdSectors(run.image), run.given.sameFiles);
    for (const char* path : options.images) {
        run.files.push_back(shownPath(path, stderr));
    }
    for (int disk = 0; disk < run.image.diskCount(); ++disk) {
        run.copies.push_back(copyName(run.set, run.files, placeOfDisk(run.set, disk)));
    }
    bool damaged = false;
    int status = checkDiskSet(run, damaged);
    if (status >= 0) {
        return status;
    }
    const DiskChoice disks = identityDiskChoice(run.set);
    HostFolder folder;
    if (!findFolder(options, folder)) {
        return 1;
    }
    const SaveTarget target =
        hostSaveTarget(nameTargetFor(options.names), folder, run.given.identities);
    const DirectoryRead directory = readDirectory(run.image, disks, run.buffers);
    const PlanSource source{run.image, disks, directory, target, run.buffers};
    LayoutPlans plans{};
    const DirectoryLayout* layout = chooseLayout(run, source, plans, status);
    if (layout == nullptr) {
        return status;
    }
    const bool writes = !options.dryRun && !options.list;
    if (writes && !readyToWrite(options, folder)) {
        return 1;
    }
    // Patterns typed on a UTF-8 terminal (or on Windows, read as Unicode) are text.
    const FileChoice choice = chooseFiles(
        options.patterns,
        hostTerminalIsUtf8() || hostNamesAreUnicode() ? PatternText::Utf8 : PatternText::Bytes);
    SetPlan& plan = plans.plans[layoutIndex(*layout)];
    applyChoice(plan, choice);
    bool complete = !damaged && planIsWhole(plan);
    if (options.json && digestProblem() != nullptr) {
        hostPrintfLocal(stderr, "%s: SHA-1 and SHA-256 are left out: %s\n", PROGRAM,
                        digestProblem());
        complete = false;
    }
    for (size_t unmatched : patternsMatchingNothing(choice, plan)) {
        hostPrintfLocal(stderr, "%s: no file matches %s\n", PROGRAM,
                        quotedPath(options.patterns[unmatched].c_str(), stderr).c_str());
        complete = false;
    }
    if (!writes) {
        printPlan(run, plan);
        return finishOutput(PROGRAM, complete ? 0 : 1);
    }
    return writeFiles(run, plan, folder, complete);
}

} // namespace

int main(int argc, char** argv) {
    hostStartProgram(argc, argv);
    Options options;
    const int status = parseOptions(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    // A zip is unpacked here; from now on options.images names its members "set.zip/A.d88".
    d88::D88Image image;
    GivenFiles given;
    if (!openGivenFiles(PROGRAM, options.images, given, image)) {
        return 1;
    }
    const std::unique_ptr<WalkBuffers> buffers(new WalkBuffers);
    Run run{options, given, image, *buffers, {}, {}, {}};
    return extractSet(run);
}
