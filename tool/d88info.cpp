// d88info: lists the disks of a D88 image, their headers and the sector IDs of every track,
// and tells what the extraction programs would write from it.
#include "CompanionProgram.h"
#include "DiskInfo.h"
#include "Host.h"
#include "PlanJson.h"
#include "SetInfo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char* const PROGRAM = "d88info";

d88::D88Image image;

void printHelp() {
    hostPrintf(stdout,
               "usage: d88info [--disk N | --set a|b] [--json] IMAGE\n"
               "Lists the disks, tracks and sector IDs of a D88 image and tells which extraction\n"
               "program fits it. Writes nothing.\n"
               "  --disk N   list only disk N, counted from 0\n"
               "  --set a|b  show the directory in the layout of d88extract-a or d88extract-b and\n"
               "             what that program would do with each entry\n"
               "  --json     print the same facts as one JSON document\n"
               "  --help     show this help and exit\n"
               "  --version  show the version and exit\n");
}

struct Options {
    const char* path = nullptr;
    long disk = -1;
    const DirectoryLayout* layout = nullptr; // --set
    bool json = false;
};

// Parses the command line; returns -1 to go on, otherwise the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        int status = 0;
        if (answeredHelpOrVersion(PROGRAM, word, printHelp, status)) {
            return status;
        }
        if (strcmp(word, "--json") == 0) {
            options.json = true;
        } else if (strcmp(word, "--disk") == 0) {
            if (options.disk >= 0) {
                return commandLineError(PROGRAM, "--disk given twice");
            }
            if (i + 1 >= argc) {
                return commandLineError(PROGRAM, "--disk needs a disk number");
            }
            if (!parseNumber(argv[++i], 0, d88::MAX_DISKS - 1, options.disk)) {
                return commandLineError(PROGRAM,
                                        "--disk needs a disk number from 0 to %d, got '%s'",
                                        d88::MAX_DISKS - 1, argv[i]);
            }
        } else if (strcmp(word, "--set") == 0) {
            if (options.layout != nullptr) {
                return commandLineError(PROGRAM, "--set given twice");
            }
            if (i + 1 >= argc) {
                return commandLineError(PROGRAM, "--set needs a or b");
            }
            options.layout = layoutByLetter(argv[++i]);
            if (options.layout == nullptr) {
                return commandLineError(PROGRAM, "--set needs a or b, got '%s'", argv[i]);
            }
        } else if (word[0] == '-' && word[1] != '\0') {
            return commandLineError(PROGRAM, "unknown option '%s'", word);
        } else if (options.path != nullptr) {
            return commandLineError(PROGRAM, "one image only, got '%s' and '%s'", options.path,
                                    word);
        } else {
            options.path = word;
        }
    }
    if (options.path == nullptr) {
        return commandLineError(PROGRAM, "no image given");
    }
    if (options.disk >= 0 && options.layout != nullptr) {
        return commandLineError(PROGRAM, "--disk and --set cannot be used together");
    }
    return -1;
}

// How to make one image of a set kept as separate disk files.
void printJoinHint() {
    hostPrintf(stdout, "  join the set's disk files into one image, Disk A first:\n"
                       "    cat A.d88 B.d88 C.d88 D.d88 > set.d88\n"
                       "  (on Windows: copy /b A.d88+B.d88+C.d88+D.d88 set.d88)\n");
}

// The directory as one extraction program would process it.
void printSet(const char* path, const SetPlan& plan) {
    const char* program = plan.layout->programName;
    hostPrintfLocal(stdout, "%s: %d disk%s, directory in the layout of %s\n", path,
                    image.diskCount(), image.diskCount() == 1 ? "" : "s", program);
    if (!plan.enoughDisks) {
        hostPrintf(stdout,
                   "%s stops here with its too-few-disks message: it needs Disk A to Disk D\n",
                   program);
        printJoinHint();
        return;
    }
    printSetPlan(plan, stdout);
    printSetSummary(plan.summary, stdout);
}

// Which layout's directory yields files on this image.
void printLayoutLine(const ImagePlan& plan) {
    if (!plan.enoughDisks) {
        hostPrintf(stdout,
                   "disk set: %d disk%s, fewer than four, neither program extracts anything\n",
                   plan.diskCount, plan.diskCount == 1 ? "" : "s");
        printJoinHint();
        return;
    }
    hostPrintf(stdout, "%s", "disk set: ");
    bool any = false;
    for (int i = 0; i < 2; ++i) {
        const int files = plan.files[i];
        if (files > 0) {
            hostPrintf(stdout, "%slayout %s (%s), %d file%s", any ? "; " : "",
                       layoutLetter(*SET_LAYOUTS[i]), SET_LAYOUTS[i]->programName, files,
                       files == 1 ? "" : "s");
            any = true;
        }
    }
    hostPrintf(stdout, "%s\n", any ? "" : "no files in either layout");
    if (plan.diskAElsewhere >= 0) {
        hostPrintf(stdout,
                   "  disk %d carries set-id 01 (Disk A), but the programs read the directory "
                   "from disk 0: put Disk A first\n",
                   plan.diskAElsewhere);
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
    if (!image.open(options.path)) {
        if (errno == ESPIPE) {
            hostPrintfLocal(
                stderr,
                "%s: cannot read %s: it is a pipe or a terminal, and an image is read by "
                "seeking; save it to a file first\n",
                PROGRAM, options.path);
        } else if (errno == ENODEV) {
            hostPrintfLocal(stderr,
                            "%s: cannot read %s: it is a device, not an image file; save the "
                            "image to a file first\n",
                            PROGRAM, options.path);
        } else {
            hostPrintfLocal(stderr, "%s: cannot open %s: %s\n", PROGRAM, options.path,
                            strerror(errno));
        }
        return 1;
    }
    if (options.layout != nullptr) {
        const SetPlan plan = planSet(image, *options.layout, NameTarget::Host, nullptr, nullptr);
        if (options.json) {
            const std::string text =
                dumpJson(setDocument(plan, options.path, image.diskCount(), image.fileSize()));
            fputs(text.c_str(), stdout); // UTF-8, for programs to read
            fputc('\n', stdout);
        } else {
            printSet(options.path, plan);
        }
        return finishOutput(PROGRAM, 0);
    }
    if (options.disk >= image.diskCount()) {
        if (image.diskCount() == 0) {
            hostPrintf(stderr, "%s: no disk %ld, the image holds none\n", PROGRAM, options.disk);
        } else {
            hostPrintf(stderr, "%s: no disk %ld, the image holds disks 0 to %d\n", PROGRAM,
                       options.disk, image.diskCount() - 1);
        }
        return 1;
    }
    // The disks shown are described again below with their tracks.
    const ImagePlan plan = planImage(image, NameTarget::Host, false);
    bool ok = true;
    for (const DiskFacts& disk : plan.disks) {
        ok = ok && (options.disk < 0 || disk.index == options.disk ? disk.headerRead : true);
    }
    if (options.json) {
        printImageJson(image, plan, options.path, static_cast<int>(options.disk), stdout);
        return finishOutput(PROGRAM, ok ? 0 : 1);
    }
    hostPrintfLocal(stdout, "%s: %d disk%s\n", options.path, image.diskCount(),
                    image.diskCount() == 1 ? "" : "s");
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        if (options.disk < 0 || disk == options.disk) {
            printDiskFacts(describeDisk(image, disk, true), stdout);
        }
    }
    printLayoutLine(plan);
    return finishOutput(PROGRAM, ok ? 0 : 1);
}
