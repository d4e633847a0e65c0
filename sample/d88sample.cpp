// d88sample: writes a synthetic disk-set image that the extraction programs can read.
#include "CommandLine.h"
#include "Host.h"
#include "SampleDiskSet.h"
#include "ShownName.h"

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
           "  --version     show the version and exit\n"
           "Exit status: 0 when the image was written whole, 1 when it was not, 2 for a\n"
           "command-line error.\n");
}

struct Options {
    const DirectoryLayout* layout = nullptr;
    bool full = false;
    long disks = -1;
    const char* output = nullptr;
};

enum Option { LAYOUT, FULL, DISKS, HELP, VERSION };

// Parses the command line; returns -1 to go on, otherwise the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    OptionReader reader = optionReader(PROGRAM, {{"layout", 0, "a or b", false},
                                                 {"full", 0, nullptr, false},
                                                 {"disks", 0, "a number from 4 to 64", false},
                                                 {"help", 0, nullptr, false},
                                                 {"version", 0, nullptr, false}});
    const char* value = nullptr;
    for (int option; (option = nextOption(reader, argc, argv, value)) != OPTIONS_END;) {
        switch (option) {
        case OPTIONS_FAILED:
            return STATUS_USAGE;
        case LAYOUT:
            options.layout = layoutByLetter(value);
            if (options.layout == nullptr) {
                return badOptionValue(reader, option, value);
            }
            break;
        case FULL:
            options.full = true;
            break;
        case DISKS:
            if (!parseNumber(value, 4, 64, options.disks)) {
                return badOptionValue(reader, option, value);
            }
            break;
        case HELP:
            printHelp();
            return finishOutput(PROGRAM, 0);
        case VERSION:
            return printVersion(PROGRAM);
        }
    }
    const std::vector<const char*> words = operandsAfterOptions(argc, argv);
    if (words.empty()) {
        return commandLineError(PROGRAM, "no output file given");
    }
    if (words.size() > 1) {
        return commandLineError(PROGRAM, "one output file only, got %s and %s",
                                quotedPath(words[0], stderr).c_str(),
                                quotedPath(words[1], stderr).c_str());
    }
    options.output = words[0];
    return -1;
}

// Writes the image as a new file that replaces `path` only once it is whole; on failure says why
// and leaves whatever stood under `path` as it was. Sets `replaced` when a file stood there.
bool writeImage(const char* rawPath, const std::vector<uint8_t>& bytes, bool& replaced) {
    const std::string quoted = quotedPath(rawPath, stderr);
    const char* path = quoted.c_str();
    const ReplaceResult result =
        hostReplaceFile(rawPath, NameSource::CommandLine, bytes.data(), bytes.size());
    replaced = result.existed;
    switch (result.outcome) {
    case ReplaceOutcome::Replaced:
    case ReplaceOutcome::Kept: // only asked for, never here
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
    hostPrintfLocal(stdout, "%s: %d disks, %lu files, layout of %s, %lu bytes%s\n",
                    shownPath(options.output, stdout).c_str(), disks,
                    static_cast<unsigned long>(set.files.size()), layout.programName,
                    static_cast<unsigned long>(bytes.size()),
                    replaced ? ", replacing the file that was there" : "");
    return finishOutput(PROGRAM, 0);
}
