// d88sample: writes a synthetic disk-set image that the extraction programs can read.
#include "CompanionProgram.h"
#include "Host.h"
#include "SampleDiskSet.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char* const PROGRAM = "d88sample";

void printHelp() {
    printf("usage: d88sample [--layout a|b] [--full] [--disks N] OUTPUT.d88\n"
           "Writes a made-up disk set that the extraction programs can read.\n"
           "  --layout a|b  directory layout of d88extract-a (default) or d88extract-b\n"
           "  --full        one file per directory entry, spread over all the disks\n"
           "  --disks N     number of disks, 4 to 64 (default 4); without --full the seven\n"
           "                files stay on the first four\n"
           "  --help        show this help and exit\n"
           "  --version     show the version and exit\n");
}

struct Options {
    const DirectoryLayout* layout = nullptr;
    bool full = false;
    long disks = -1;
    const char* output = nullptr;
};

// Parses the command line; returns -1 to go on, otherwise the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        int status = 0;
        if (answeredHelpOrVersion(PROGRAM, word, printHelp, status)) {
            return status;
        }
        if (strcmp(word, "--layout") == 0) {
            if (options.layout != nullptr) {
                return commandLineError(PROGRAM, "--layout given twice");
            }
            if (i + 1 >= argc) {
                return commandLineError(PROGRAM, "--layout needs a or b");
            }
            options.layout = layoutByLetter(argv[++i]);
            if (options.layout == nullptr) {
                return commandLineError(PROGRAM, "--layout needs a or b, got '%s'", argv[i]);
            }
        } else if (strcmp(word, "--full") == 0) {
            options.full = true;
        } else if (strcmp(word, "--disks") == 0) {
            if (options.disks >= 0) {
                return commandLineError(PROGRAM, "--disks given twice");
            }
            if (i + 1 >= argc) {
                return commandLineError(PROGRAM, "--disks needs a number from 4 to 64");
            }
            if (!parseNumber(argv[++i], 4, 64, options.disks)) {
                return commandLineError(PROGRAM, "--disks needs a number from 4 to 64, got '%s'",
                                        argv[i]);
            }
        } else if (word[0] == '-' && word[1] != '\0') {
            return commandLineError(PROGRAM, "unknown option '%s'", word);
        } else if (options.output != nullptr) {
            return commandLineError(PROGRAM, "one output file only, got '%s' and '%s'",
                                    options.output, word);
        } else {
            options.output = word;
        }
    }
    if (options.output == nullptr) {
        return commandLineError(PROGRAM, "no output file given");
    }
    return -1;
}

// Writes the image as a new file that replaces `path` only once it is whole; on failure says why
// and leaves whatever stood under `path` as it was. Sets `replaced` when a file stood there.
bool writeImage(const char* path, const std::vector<uint8_t>& bytes, bool& replaced) {
    const ReplaceResult result =
        hostReplaceFile(path, NameSource::CommandLine, bytes.data(), bytes.size());
    replaced = result.existed;
    switch (result.outcome) {
    case ReplaceOutcome::Replaced:
        return true;
    case ReplaceOutcome::SymbolicLink:
        hostPrintfLocal(stderr, "%s: cannot write %s: it is a symbolic link\n", PROGRAM, path);
        return false;
    case ReplaceOutcome::NotRegularFile:
        hostPrintfLocal(stderr, "%s: cannot write %s: it is not a regular file\n", PROGRAM, path);
        return false;
    case ReplaceOutcome::ShortName:
        hostPrintfLocal(stderr, "%s: cannot write %s: it is the short name of another file\n",
                        PROGRAM, path);
        return false;
    case ReplaceOutcome::Appeared:
        hostPrintfLocal(stderr,
                        "%s: cannot write %s: a file of that name appeared while it was written\n",
                        PROGRAM, path);
        return false;
    case ReplaceOutcome::CannotCreate:
    case ReplaceOutcome::CannotWrite:
        break;
    }
    hostPrintfLocal(stderr, "%s: cannot write %s: %s\n", PROGRAM, path, strerror(result.error));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    hostStartProgram(argc, argv);
    Options options;
    const int status = parseOptions(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    const DirectoryLayout& layout = options.layout != nullptr ? *options.layout : LAYOUT_A;
    const int disks = options.disks >= 0 ? static_cast<int>(options.disks) : 4;
    d88::SampleSet set =
        options.full ? d88::fullSampleSet(layout, disks) : d88::smallSampleSet(layout);
    set.disks = disks;
    std::vector<d88::DiskPlan> plans;
    if (!d88::buildSampleDisks(set, plans)) {
        fprintf(stderr, "%s: the files do not fit on the disks\n", PROGRAM);
        return 1;
    }
    const std::vector<uint8_t> bytes = d88::buildImage(plans);
    bool replaced = false;
    if (!writeImage(options.output, bytes, replaced)) {
        return 1;
    }
    hostPrintfLocal(stdout, "%s: %d disks, %lu files, layout of %s, %lu bytes%s\n", options.output,
                    disks, static_cast<unsigned long>(set.files.size()), layout.programName,
                    static_cast<unsigned long>(bytes.size()),
                    replaced ? ", replacing the file that was there" : "");
    return finishOutput(PROGRAM, 0);
}
