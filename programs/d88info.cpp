// d88info: lists the disks of D88 images, their headers and the sector IDs of every track, tells
// which disks of the set the files hold, and what the extraction programs would write.
#include "CommandLine.h"
#include "CopyCompare.h"
#include "Digests.h"
#include "DiskSet.h"
#include "DiskText.h"
#include "FileHashes.h"
#include "GivenFiles.h"
#include "Host.h"
#include "ImageFacts.h"
#include "LayoutText.h"
#include "PlanJson.h"
#include "SetNotes.h"
#include "SetText.h"
#include "ShownName.h"
#include "SumsText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char* const PROGRAM = "d88info";

d88::D88Image image;
WalkBuffers buffers;

void printHelp() {
    hostPrintf(stdout,
               "usage: d88info [--disk N | --set a|b] [--names utf-8|shift_jis] [--json]\n"
               "               IMAGE...\n"
               "       d88info --set a|b --sums sha256|sha1 [--names utf-8|shift_jis] IMAGE...\n"
               "Lists the disks, tracks and sector IDs of D88 images, which disks of the set\n"
               "they hold, and which extraction program fits them. Several files are read\n"
               "joined in the order given, as d88extract reads them. Writes nothing.\n"
               "  --disk N     list only disk N, counted from 0\n"
               "  --set a|b    show the directory in the layout of d88extract-a or\n"
               "               d88extract-b and what the extraction would do with each entry\n"
               "  --names utf-8|shift_jis\n"
               "               show the names of --set decoded to UTF-8, or as the bytes\n"
               "               stored (default: utf-8 in a UTF-8 locale)\n"
               "  --sums sha256|sha1\n"
               "               with --set: the files' digests as sha256sum (sha1sum) prints\n"
               "               them, for sha256sum -c in the folder that d88extract writes\n"
               "  --json       print the same facts as one JSON document\n"
               "  --help       show this help and exit\n"
               "  --version    show the version and exit\n"
               "Exit status: 0 when the files were listed, 1 when one cannot be read or is\n"
               "no D88 image, 2 for a command-line error.\n");
}

struct Options {
    std::vector<const char*> paths;
    long disk = -1;
    const DirectoryLayout* layout = nullptr; // --set
    NameChoice names = NameChoice::Default;
    unsigned sums = 0; // --sums: DIGEST_SHA256 or DIGEST_SHA1
    bool json = false;
};

enum Option { DISK, SET, NAMES, SUMS, JSON, HELP, VERSION };

// Parses the command line; returns -1 to go on, otherwise the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    OptionReader reader = optionReader(PROGRAM, {{"disk", 0, "a disk number from 0 to 63", false},
                                                 {"set", 0, "a or b", false},
                                                 {"names", 0, NAMES_NEEDS, false},
                                                 {"sums", 0, "sha256 or sha1", false},
                                                 {"json", 0, nullptr, false},
                                                 {"help", 0, nullptr, false},
                                                 {"version", 0, nullptr, false}});
    const char* value = nullptr;
    for (int option; (option = nextOption(reader, argc, argv, value)) != OPTIONS_END;) {
        switch (option) {
        case OPTIONS_FAILED:
            return STATUS_USAGE;
        case DISK:
            if (!parseNumber(value, 0, d88::MAX_DISKS - 1, options.disk)) {
                return badOptionValue(reader, option, value);
            }
            break;
        case SET:
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
        case SUMS:
            if (strcmp(value, "sha256") == 0) {
                options.sums = DIGEST_SHA256;
            } else if (strcmp(value, "sha1") == 0) {
                options.sums = DIGEST_SHA1;
            } else {
                return badOptionValue(reader, option, value);
            }
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
    options.paths = operandsAfterOptions(argc, argv);
    if (options.paths.empty()) {
        return commandLineError(PROGRAM, "no image given");
    }
    if (options.paths.size() > static_cast<size_t>(d88::MAX_IMAGE_PARTS)) {
        return commandLineError(PROGRAM, "at most %d files, one image", d88::MAX_IMAGE_PARTS);
    }
    if (options.disk >= 0 && options.layout != nullptr) {
        return commandLineError(PROGRAM, "--disk and --set cannot be used together");
    }
    if (options.sums != 0 && options.layout == nullptr) {
        return commandLineError(PROGRAM, "--sums needs --set a or b");
    }
    if (options.sums != 0 && options.json) {
        return commandLineError(PROGRAM, "--sums and --json cannot be used together");
    }
    return -1;
}

// The directory as the extraction would process it.
void printSet(const Options& options, const SetPlan& plan) {
    printSetHead(options.paths, image.diskCount(), *plan.layout, stdout);
    if (!plan.enoughDisks) {
        hostPrintf(stdout,
                   "%s stops here with its too-few-disks message: it needs Disk A to Disk D\n",
                   plan.layout->programName);
        hostPrintf(stdout, "%s", joinHintText().c_str());
        return;
    }
    printMissingDisks(plan, "", stdout);
    printSetPlan(plan, stdout);
    printSetSummary(plan.summary, stdout);
}

// Where the copies of one set number differ, sector by sector, the first 16 of them.
void printCopyDifferences(const SetNumber& number) {
    int total = 0;
    const std::vector<SectorDifference> differences = compareCopies(image, number, 16, total);
    hostPrintf(stdout, "  %02x (%s): the copies differ in %d sector%s\n", number.id,
               diskLabel(number.id).c_str(), total, total == 1 ? "" : "s");
    for (const SectorDifference& difference : differences) {
        const char* what = difference.what == CopyDifference::Missing  ? "missing"
                           : difference.what == CopyDifference::Status ? "another status"
                                                                       : "other bytes";
        hostPrintf(stdout, "    track %3d  %02x/%02x/%02x/%02x  disk %d: %s\n", difference.track,
                   difference.id.c, difference.id.h, difference.id.r, difference.id.n,
                   difference.disk, what);
    }
    if (total > static_cast<int>(differences.size())) {
        hostPrintf(stdout, "    and %d more\n", total - static_cast<int>(differences.size()));
    }
}

// The disks of the set that the files hold, by their ID bytes, and what of the files is not
// read.
void printDiskSet(const Options& options, const DiskSetFacts& set) {
    hostPrintf(stdout, "%s", "set numbers:");
    if (set.numbers.empty()) {
        hostPrintf(stdout, "%s", " none");
    }
    for (size_t i = 0; i < set.numbers.size(); ++i) {
        const SetNumber& number = set.numbers[i];
        hostPrintf(stdout, "%s %02x (%s) disk", i > 0 ? "," : "", number.id,
                   diskLabel(number.id).c_str());
        hostPrintf(stdout, "%s", number.disks.size() > 1 ? "s" : "");
        for (size_t k = 0; k < number.disks.size(); ++k) {
            hostPrintf(stdout, "%s%d",
                       k == 0                         ? " "
                       : k + 1 == number.disks.size() ? " and "
                                                      : ", ",
                       number.disks[k]);
        }
        if (number.disks.size() > 1) {
            hostPrintf(stdout, "%s",
                       number.differ.empty() ? " (the same bytes)" : " (different bytes)");
        }
    }
    hostPrintf(stdout, "%c", '\n');
    for (const SetNumber& number : set.numbers) {
        if (!number.differ.empty()) {
            printCopyDifferences(number);
        }
    }
    for (const FoundDisk& disk : set.disks) {
        if (disk.cutBy >= 0) {
            hostPrintfLocal(
                stdout, "  disk %d is cut short where '%s' starts\n", disk.index,
                shownPath(options.paths[static_cast<size_t>(disk.cutBy)], stdout).c_str());
        }
    }
    for (int part : set.partsUnread) {
        hostPrintfLocal(stdout,
                        "  '%s' is not read: the files before it reach the most that is read "
                        "(64 disks, 2 GiB)\n",
                        shownPath(options.paths[static_cast<size_t>(part)], stdout).c_str());
    }
    for (int index : set.otherIds) {
        const FoundDisk& disk = set.disks[static_cast<size_t>(index)];
        if (disk.setId >= 0) {
            hostPrintf(stdout, "  disk %d is no disk of this set: its ID byte is %02x\n",
                       disk.index, disk.setId);
        } else {
            hostPrintf(stdout, "  disk %d is no disk of this set: it has no ID sector\n",
                       disk.index);
        }
    }
}

void printOpenFailure(const char* path, int error) {
    const std::string shown = shownPath(path, stderr);
    if (error == ESPIPE) {
        hostPrintfLocal(stderr,
                        "%s: cannot read '%s': it is a pipe or a terminal, and an image is read "
                        "by seeking; save it to a file first\n",
                        PROGRAM, shown.c_str());
    } else if (error == ENODEV) {
        hostPrintfLocal(stderr,
                        "%s: cannot read '%s': it is a device, not an image file; save the image "
                        "to a file first\n",
                        PROGRAM, shown.c_str());
    } else {
        hostPrintfLocal(stderr, "%s: cannot open '%s': %s\n", PROGRAM, shown.c_str(),
                        strerror(error));
    }
}

} // namespace

int main(int argc, char** argv) {
    hostStartProgram(argc, argv);
    Options options;
    const int status = parseOptions(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    // A zip is unpacked here; from now on options.paths names its members "set.zip/A.d88".
    GivenFiles given;
    if (!openGivenFiles(PROGRAM, options.paths, given, image, printOpenFailure)) {
        return 1;
    }
    const DiskSetFacts set = decideDiskSet(image);
    std::vector<std::string> shownFiles;
    for (const char* path : options.paths) {
        shownFiles.push_back(shownPath(path, stderr));
    }
    for (const SetNote& note : diskSetNotes(set, shownFiles, image.fileSize())) {
        if (note.subject == NoteSubject::NotImage) { // nothing to list
            hostPrintfLocal(stderr, "%s: %s\n", PROGRAM, note.text.c_str());
            return 1;
        }
    }
    // One file is described as the set's own programs read it; several, and the sums of the
    // folder that d88extract writes, as d88extract does.
    const bool programs = options.paths.size() == 1 && options.sums == 0;
    const DiskChoice disks = programs ? programsDiskChoice(image) : identityDiskChoice(set);
    const HostFolder here = hostCurrentFolder();
    const SaveTarget target = hostSaveTarget(NameTarget::Host, here, given.identities);
    if (options.layout != nullptr) {
        SaveTarget named = target;
        named.names = nameTargetFor(options.names);
        const SetPlan plan = planSet(image, disks, *options.layout, named, buffers);
        if (options.sums != 0) {
            const bool all = printFileSums(image, plan, buffers, options.sums, stdout);
            if (!all) {
                hostPrintf(stderr, "%s: a digest could not be taken\n", PROGRAM);
            }
            return finishOutput(PROGRAM, all ? 0 : 1);
        }
        if (options.json) {
            nlohmann::ordered_json document =
                setDocument(plan, set, options.paths, image.diskCount(), image.fileSize());
            addFileHashes(document, plannedFileHashes(image, plan, buffers));
            const std::string text = dumpJson(document);
            fputs(text.c_str(), stdout); // UTF-8, for programs to read
            fputc('\n', stdout);
        } else {
            printSet(options, plan);
        }
        return finishOutput(PROGRAM, 0);
    }
    if (options.disk >= image.diskCount()) {
        hostPrintf(stderr, "%s: no disk %ld, the image holds disks 0 to %d\n", PROGRAM,
                   options.disk, image.diskCount() - 1);
        return 1;
    }
    // The disks shown are described again below with their tracks.
    const ImagePlan plan = planImage(image, disks, target, buffers, false);
    bool ok = true;
    for (const DiskFacts& disk : plan.disks) {
        ok = ok && (options.disk < 0 || disk.index == options.disk ? disk.headerRead : true);
    }
    if (options.json) {
        printImageJson(image, plan, set, options.paths, static_cast<int>(options.disk), stdout,
                       diskHashesJson);
        return finishOutput(PROGRAM, ok ? 0 : 1);
    }
    for (size_t i = 0; i < options.paths.size(); ++i) {
        hostPrintfLocal(stdout, "%s%s", i > 0 ? " " : "",
                        shownPath(options.paths[i], stdout).c_str());
    }
    hostPrintf(stdout, ": %d disk%s\n", image.diskCount(), image.diskCount() == 1 ? "" : "s");
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        if (options.disk < 0 || disk == options.disk) {
            printDiskFacts(describeDisk(image, disk, true), stdout);
        }
    }
    printDiskSet(options, set);
    hostPrintf(stdout, "%s", layoutLinesText(plan, programs).c_str());
    return finishOutput(PROGRAM, ok ? 0 : 1);
}
