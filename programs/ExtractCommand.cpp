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
#include "Host.h"
#include "ImageFacts.h"
#include "ListText.h"
#include "Messages.h"
#include "Plan.h"
#include "PlanJson.h"
#include "RunText.h"
#include "SetNotes.h"
#include "SetText.h"
#include "ShiftJis.h"
#include "ShownName.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const PROGRAM = "d88extract";

d88::D88Image image;
WalkBuffers buffers;

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

// One of the two programs' Japanese messages, in the locale's character set: UTF-8 when that
// is UTF-8, the Shift_JIS bytes otherwise (which a Windows console shows as characters).
void printJapaneseMessage(const char* shiftJis) {
    std::string text;
    if (hostTerminalIsUtf8() && shiftJisToUtf8(shiftJis, strlen(shiftJis), text)) {
        hostPrintf(stderr, "%s", text.c_str());
    } else {
        hostPrintf(stderr, "%s", shiftJis);
    }
}

// Says why file `path` cannot be read as (a piece of) the image.
void printOpenFailure(const char* rawPath, int error) {
    printJapaneseMessage(MSG_CANNOT_OPEN_IMAGE);
    const std::string shown = shownPath(rawPath, stderr);
    const char* path = shown.c_str();
    if (error == ESPIPE) {
        hostPrintfLocal(stderr,
                        "%s: cannot read '%s': it is a pipe or a terminal, and an image is read "
                        "by seeking; save it to a file first\n",
                        PROGRAM, path);
    } else if (error == ENODEV) {
        hostPrintfLocal(stderr,
                        "%s: cannot read '%s': it is a device, not an image file; save the image "
                        "to a file first\n",
                        PROGRAM, path);
    } else {
        hostPrintfLocal(stderr, "%s: cannot open '%s': %s\n", PROGRAM, path, strerror(error));
    }
}

// The file of the image that `disk` starts in, as shown in messages.
std::string fileOf(const Options& options, const DiskSetFacts& set, int disk) {
    const int part = set.disks[static_cast<size_t>(disk)].part;
    return shownPath(options.images[static_cast<size_t>(part)], stderr);
}

// What the files hold, said before anything is written. Returns -1 to go on, otherwise the exit
// status after a message. `damaged` is set when a disk is cut off.
int checkDiskSet(const Options& options, const DiskSetFacts& set, bool& damaged) {
    std::vector<std::string> files;
    for (const char* path : options.images) {
        files.push_back(shownPath(path, stderr));
    }
    for (const SetNote& note : diskSetNotes(set, files, image.fileSize())) {
        hostPrintfLocal(stderr, "%s: %s\n", PROGRAM, note.text.c_str());
        if (note.kind == NoteKind::Refusal) {
            return 1;
        }
        damaged = damaged || note.kind == NoteKind::Damage;
    }
    return -1;
}

// The layout to use: the one given, or the one that yields files as the plan decides. Null
// after a message, with `status` set.
const DirectoryLayout* chooseLayout(const Options& options, const DiskChoice& disks,
                                    const SaveTarget& target, int& status) {
    const LayoutDecision decision = decideLayout(image, disks, target, buffers, options.layout);
    switch (decision.problem) {
    case LayoutProblem::None:
        return decision.layout;
    case LayoutProblem::GivenYieldsNothing: {
        const DirectoryLayout& other = decision.given == &LAYOUT_A ? LAYOUT_B : LAYOUT_A;
        hostPrintf(stderr, "%s: %s: use --layout %s\n", PROGRAM,
                   layoutProblemText(decision).c_str(), other.letter);
        status = 1;
        return nullptr;
    }
    case LayoutProblem::Both:
        hostPrintf(stderr, "%s: %s; choose one with --layout a or --layout b\n", PROGRAM,
                   layoutProblemText(decision).c_str());
        status = STATUS_USAGE;
        return nullptr;
    case LayoutProblem::Neither:
        break;
    }
    hostPrintf(stderr, "%s: %s\n", PROGRAM, layoutProblemText(decision).c_str());
    status = 1;
    return nullptr;
}

// The set document of d88info --set --json for the files read, with what became of each
// file and the hashes of the bytes written when `results` and `digests` are given, the hashes
// of the files as planned otherwise.
void printJson(const Options& options, const DiskSetFacts& set, const SetPlan& plan,
               const std::vector<FileResult>* results, const std::vector<FileDigests>* digests) {
    nlohmann::ordered_json document =
        setDocument(plan, set, options.images, image.diskCount(), image.fileSize());
    if (results != nullptr) {
        addResults(document, plan, *results);
        addFileHashes(document, writtenFileHashes(*digests, *results));
    } else {
        addFileHashes(document, plannedFileHashes(image, plan, buffers));
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
void printPlan(const Options& options, const DiskSetFacts& set, const SetPlan& plan) {
    if (options.json) {
        printJson(options, set, plan, nullptr, nullptr);
        return;
    }
    printSetHead(options.images, image.diskCount(), *plan.layout, stdout);
    printMissingDisks(plan, "", stdout);
    if (options.list) {
        printDirectoryErrors(plan, stdout);
        if (options.verbose) {
            const std::vector<std::string> crcs = plannedFileCrcs(image, plan, buffers);
            printFileList(plan, &crcs, stdout);
        } else {
            printFileList(plan, nullptr, stdout);
        }
    } else {
        printSetPlan(plan, stdout);
        printSetSummary(plan.summary, stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    hostStartProgram(argc, argv);
    Options options;
    int status = parseOptions(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    // A zip is unpacked here; from now on options.images names its members "set.zip/A.d88".
    GivenFiles given;
    if (!openGivenFiles(PROGRAM, options.images, given, image, printOpenFailure)) {
        return 1;
    }
    const DiskSetFacts set = decideDiskSet(image);
    bool damaged = false;
    status = checkDiskSet(options, set, damaged);
    if (status >= 0) {
        return status;
    }
    const DiskChoice disks = identityDiskChoice(set);
    const NameTarget names = nameTargetFor(options.names);
    // Names are checked against the folder that the files go to. A missing one is made only
    // once the image is known to yield files, and never by a dry run; until then it holds
    // nothing.
    HostFolder folder = hostCurrentFolder();
    int error = 0;
    if (options.directory != nullptr && !hostOpenFolder(options.directory, false, folder, error)) {
        if (error != ENOENT) {
            hostPrintfLocal(stderr, "%s: cannot make folder %s: %s\n", PROGRAM,
                            quotedPath(options.directory, stderr).c_str(), strerror(error));
            return 1;
        }
        folder = hostCurrentFolder();
        folder.notMadeYet = true;
    }
    const SaveTarget target = hostSaveTarget(names, folder, given.identities);
    const DirectoryLayout* layout = chooseLayout(options, disks, target, status);
    if (layout == nullptr) {
        return status;
    }
    const bool writes = !options.dryRun && !options.list;
    if (writes && !readyToWrite(options, folder)) {
        return 1;
    }
    // Patterns typed on a UTF-8 terminal (or on Windows, read as Unicode) are text.
    const FileChoice choice{options.patterns, hostTerminalIsUtf8() || hostNamesAreUnicode()
                                                  ? PatternText::Utf8
                                                  : PatternText::Bytes};
    const SetPlan plan = planSet(image, disks, *layout, target, buffers, &choice);
    bool complete = plan.missingDisks.empty() && !damaged;
    for (size_t unmatched : patternsMatchingNothing(choice, plan)) {
        hostPrintfLocal(stderr, "%s: no file matches %s\n", PROGRAM,
                        quotedPath(options.patterns[unmatched].c_str(), stderr).c_str());
        complete = false;
    }
    if (!writes) {
        printPlan(options, set, plan);
        return finishOutput(PROGRAM, complete ? 0 : 1);
    }
    printMissingDisks(plan, (std::string(PROGRAM) + ": ").c_str(), stderr);
    DiskFiles files;
    for (const FoundDisk& disk : set.disks) {
        files.push_back(fileOf(options, set, disk.index));
    }
    printMergeLine(plan.directoryMerge, files,
                   (std::string(PROGRAM) + ": the directory's ").c_str(), stderr);
    std::vector<FileResult> results;
    // For the JSON, each file is digested from the buffer it is written from, on a second thread
    // when one can be started.
    std::vector<FileDigests> digests(plan.entries.size(), FileDigests{false, Digests{}});
    DigestWorker* worker = options.json ? startDigestWorker(plan.entries.size()) : nullptr;
    const WriteWatch watch = worker != nullptr ? WriteWatch{digestLater, worker}
                                               : WriteWatch{digestWrittenFile, &digests};
    const bool allWritten =
        extractPlan(image, plan, folder, buffers, options.json || options.quiet ? nullptr : stdout,
                    stderr, results, files, options.keep ? Existing::Keep : Existing::Replace,
                    options.json ? &watch : nullptr);
    if (worker != nullptr) {
        digests = finishDigestWorker(worker);
    }
    if (options.json) {
        printJson(options, set, plan, &results, &digests);
    } else if (!options.quiet) {
        fflush(stdout); // the report lines come first
        printRunSummary(PROGRAM, summarizeRun(plan, results), options.directory, stderr);
    }
    return finishOutput(PROGRAM, allWritten && complete ? 0 : 1);
}
