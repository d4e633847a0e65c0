// d88extract: from the files a user has (one image of the set, or its disks as separate files)
// to the set's files in a folder, in one command. The same walk and the same writer as
// d88extract-a and d88extract-b.
#include "CompanionProgram.h"
#include "DirectoryWalk.h"
#include "Host.h"
#include "Messages.h"
#include "PartOrder.h"
#include "Plan.h"
#include "PlanJson.h"
#include "SetInfo.h"
#include "ShiftJis.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const PROGRAM = "d88extract";
constexpr int STATUS_USAGE = 2; // a command-line error, or a layout the program cannot choose

d88::D88Image image;
std::vector<const char*> readOrder; // the files of the image, in the order they are read

void printHelp() {
    hostPrintf(stdout,
               "usage: d88extract [OPTIONS] IMAGE...\n"
               "Writes the files of a disk set kept in D88 images into a folder. IMAGE is one\n"
               "file that holds the set, or the set's disks as separate files, joined in the\n"
               "order given; the file that holds Disk A goes first when the first disk is not.\n"
               "  -d, --directory DIR  write into DIR, made with its parents when missing\n"
               "                       (default: the current folder)\n"
               "  --layout a|b         the directory layout of d88extract-a or d88extract-b\n"
               "                       (default: the one that yields files)\n"
               "  --names utf-8|shift_jis\n"
               "                       write names decoded to UTF-8, or as the bytes stored\n"
               "                       (default: utf-8 in a UTF-8 locale)\n"
               "  -n, --dry-run        write nothing; list what would be written\n"
               "  --json               the results as JSON on standard output\n"
               "  --help               show this help and exit\n"
               "  --version            show the version and exit\n"
               "Exit status: 0 when every file was written whole from sectors read without\n"
               "error, 1 after any message about a file, the image or the folder, 2 for a\n"
               "command-line error or when both layouts yield files.\n");
}

enum class NameChoice { Default, Utf8, ShiftJis };

struct Options {
    std::vector<const char*> images;
    const char* directory = nullptr;
    const DirectoryLayout* layout = nullptr;
    NameChoice names = NameChoice::Default;
    bool dryRun = false;
    bool json = false;
};

int usageError(const char* format, const char* value = "") {
    commandLineError(PROGRAM, format, value);
    return STATUS_USAGE;
}

// The value of option `word` (its long form `name`): after '=' in "--name=VALUE", the rest of
// "-dVALUE", or the next word. Null when none is there.
const char* optionValue(const char* word, const char* name, int argc, char** argv, int& i) {
    const size_t length = strlen(name);
    if (strncmp(word, name, length) == 0 && word[length] == '=') {
        return word + length + 1;
    }
    if (word[1] != '-' && word[2] != '\0') {
        return word + 2;
    }
    return i + 1 < argc ? argv[++i] : nullptr;
}

// True when `word` is option `name` (long) or `letter` (short, 0 when none), with its value
// attached or not.
bool isOption(const char* word, const char* name, char letter, bool takesValue) {
    if (letter != 0 && word[0] == '-' && word[1] == letter && (word[2] == '\0' || takesValue)) {
        return true;
    }
    const size_t length = strlen(name);
    return strncmp(word, name, length) == 0 &&
           (word[length] == '\0' || (takesValue && word[length] == '='));
}

// Parses the command line; returns -1 to go on, otherwise the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        int status = 0;
        if (optionsEnd || word[0] != '-' || word[1] == '\0') {
            options.images.push_back(word);
        } else if (strcmp(word, "--") == 0) {
            optionsEnd = true;
        } else if (answeredHelpOrVersion(PROGRAM, word, printHelp, status)) {
            return status;
        } else if (isOption(word, "--directory", 'd', true)) {
            options.directory = optionValue(word, "--directory", argc, argv, i);
            if (options.directory == nullptr || options.directory[0] == '\0') {
                return usageError("--directory needs a folder");
            }
        } else if (isOption(word, "--layout", 0, true)) {
            const char* letter = optionValue(word, "--layout", argc, argv, i);
            if (letter == nullptr) {
                return usageError("--layout needs a or b");
            }
            options.layout = layoutByLetter(letter);
            if (options.layout == nullptr) {
                return usageError("--layout needs a or b, got '%s'", letter);
            }
        } else if (isOption(word, "--names", 0, true)) {
            const char* names = optionValue(word, "--names", argc, argv, i);
            if (names == nullptr) {
                return usageError("--names needs utf-8 or shift_jis");
            }
            if (strcmp(names, "utf-8") == 0) {
                options.names = NameChoice::Utf8;
            } else if (strcmp(names, "shift_jis") == 0) {
                options.names = NameChoice::ShiftJis;
            } else {
                return usageError("--names needs utf-8 or shift_jis, got '%s'", names);
            }
        } else if (isOption(word, "--dry-run", 'n', false)) {
            options.dryRun = true;
        } else if (isOption(word, "--json", 0, false)) {
            options.json = true;
        } else {
            return usageError("unknown option '%s'", word);
        }
    }
    if (options.images.empty()) {
        return usageError("no image given");
    }
    if (options.images.size() > static_cast<size_t>(d88::MAX_IMAGE_PARTS)) {
        return usageError("at most 64 files, one image");
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
void printOpenFailure(const char* path, int error) {
    printJapaneseMessage(MSG_CANNOT_OPEN_IMAGE);
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

// Opens the files as one image, in the order decided from what they hold. Returns -1 when the
// image is ready, otherwise the exit status after a message.
int openImage(const Options& options) {
    const std::vector<const char*>& paths = options.images;
    const int count = static_cast<int>(paths.size());
    if (!image.openParts(paths.data(), count)) {
        printOpenFailure(paths[static_cast<size_t>(image.failedPart())], errno);
        return 1;
    }
    const PartOrder order = decidePartOrder(readPartContents(image));
    switch (order.problem) {
    case PartProblem::None:
        break;
    case PartProblem::NotImage:
        hostPrintfLocal(stderr, "%s: '%s' is not a D88 image\n", PROGRAM,
                        paths[static_cast<size_t>(order.problemParts[0])]);
        return 1;
    case PartProblem::TwoDiskA:
        hostPrintfLocal(stderr, "%s: '%s' and '%s' both hold Disk A (ID byte 01)\n", PROGRAM,
                        paths[static_cast<size_t>(order.problemParts[0])],
                        paths[static_cast<size_t>(order.problemParts[1])]);
        return 1;
    case PartProblem::TooFewDisks:
        printJapaneseMessage(MSG_TOO_FEW_DISKS);
        hostPrintf(stderr, "%s: %d disk%s in all, the set needs four (Disk A to Disk D)\n", PROGRAM,
                   order.diskCount, order.diskCount == 1 ? "" : "s");
        return 1;
    }
    readOrder = paths;
    if (!order.changed) {
        return -1;
    }
    std::vector<const char*> ordered;
    for (int part : order.order) {
        ordered.push_back(paths[static_cast<size_t>(part)]);
    }
    hostPrintfLocal(stderr, "%s: Disk A is in '%s': reading the files in the order", PROGRAM,
                    ordered[0]);
    for (const char* path : ordered) {
        hostPrintfLocal(stderr, " '%s'", path);
    }
    hostPrintf(stderr, "%c", '\n');
    if (!image.openParts(ordered.data(), count)) {
        printOpenFailure(ordered[static_cast<size_t>(image.failedPart())], errno);
        return 1;
    }
    readOrder = ordered;
    return -1;
}

// The layout to use: the one given, or the one that yields files as the plan decides. Null
// after a message, with `status` set.
const DirectoryLayout* chooseLayout(const Options& options, NameTarget target,
                                    const HostFolder& folder, int& status) {
    if (options.layout != nullptr) {
        return options.layout;
    }
    int files[2];
    switch (decideLayoutFit(image, target, files, folder, false)) {
    case LayoutFit::A:
        return &LAYOUT_A;
    case LayoutFit::B:
        return &LAYOUT_B;
    case LayoutFit::Both:
        hostPrintf(stderr,
                   "%s: both layouts yield files: layout a (d88extract-a), %d file%s; layout b "
                   "(d88extract-b), %d file%s; choose one with --layout a or --layout b\n",
                   PROGRAM, files[0], files[0] == 1 ? "" : "s", files[1], files[1] == 1 ? "" : "s");
        status = STATUS_USAGE;
        return nullptr;
    case LayoutFit::Neither:
        break;
    }
    hostPrintf(stderr, "%s: no files in either layout\n", PROGRAM);
    status = 1;
    return nullptr;
}

// Where names land: decoded to UTF-8, or as the host names files (the bytes as stored; Unicode
// on Windows, whatever is asked).
NameTarget chooseNames(const Options& options) {
    switch (options.names) {
    case NameChoice::Utf8:
        return hostNamesAreUnicode() ? NameTarget::Host : NameTarget::Utf8;
    case NameChoice::ShiftJis:
        return NameTarget::Host;
    case NameChoice::Default:
        break;
    }
    return hostTerminalIsUtf8() && !hostNamesAreUnicode() ? NameTarget::Utf8 : NameTarget::Host;
}

// The line that d88info --set prints before the entries.
void printSetHead(const DirectoryLayout& layout) {
    for (size_t i = 0; i < readOrder.size(); ++i) {
        hostPrintfLocal(stdout, "%s%s", i > 0 ? " " : "", readOrder[i]);
    }
    hostPrintf(stdout, ": %d disk%s, directory in the layout of %s\n", image.diskCount(),
               image.diskCount() == 1 ? "" : "s", layout.programName);
}

// What became of an entry's file, for --json: the report line's and the messages' facts.
nlohmann::ordered_json resultJson(const ExtractResult& result) {
    const char* status = nullptr;
    const char* error = nullptr;
    switch (result.outcome) {
    case ExtractOutcome::NothingRead:
        status = "passed-over";
        break;
    case ExtractOutcome::Written:
    case ExtractOutcome::Incomplete:
        status = result.existed ? "replaced" : "written";
        break;
    case ExtractOutcome::UnsafeName:
        status = "refused";
        error = "unsafe name";
        break;
    case ExtractOutcome::ImageItself:
        status = "refused";
        error = "it is the image being read";
        break;
    case ExtractOutcome::SymbolicLink:
        status = "refused";
        error = "it is a symbolic link";
        break;
    case ExtractOutcome::NotRegularFile:
        status = "refused";
        error = "it is not a regular file";
        break;
    case ExtractOutcome::ShortName:
        status = "refused";
        error = "it is the short name of another file";
        break;
    case ExtractOutcome::Appeared:
        status = "refused";
        error = "a file appeared under the name";
        break;
    case ExtractOutcome::CannotCreate:
        status = "cannot-create";
        error = strerror(result.systemError);
        break;
    case ExtractOutcome::CannotWrite:
        status = "cannot-write";
        error = strerror(result.systemError);
        break;
    }
    return nlohmann::ordered_json{{"status", status},
                                  {"error", error != nullptr ? nlohmann::ordered_json(error)
                                                             : nlohmann::ordered_json(nullptr)}};
}

// The set document of d88info --set --json for the files read, in the order read, with what
// became of each file when `results` is given.
void printJson(const SetPlan& plan, const std::vector<ExtractResult>* results) {
    // "image" names the first file read; "images" all of them, in the order read.
    nlohmann::ordered_json document =
        setDocument(plan, readOrder[0], image.diskCount(), image.fileSize());
    nlohmann::ordered_json images = nlohmann::ordered_json::array();
    for (const char* path : readOrder) {
        images.push_back(path);
    }
    document["images"] = std::move(images);
    if (results != nullptr && results->size() == plan.entries.size()) {
        for (size_t i = 0; i < results->size(); ++i) {
            document["entries"][i]["result"] = resultJson((*results)[i]);
        }
    }
    const std::string text = dumpJson(document);
    fputs(text.c_str(), stdout); // UTF-8, for programs to read
    fputc('\n', stdout);
}

} // namespace

int main(int argc, char** argv) {
    hostStartProgram(argc, argv);
    Options options;
    int status = parseOptions(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    status = openImage(options);
    if (status >= 0) {
        return status;
    }
    const NameTarget target = chooseNames(options);
    // Names are checked against the folder that the files go to. A missing one is made only
    // once the image is known to yield files, and never by a dry run; until then it holds
    // nothing.
    HostFolder folder = hostCurrentFolder();
    int error = 0;
    if (options.directory != nullptr && !hostOpenFolder(options.directory, false, folder, error)) {
        if (error != ENOENT) {
            hostPrintfLocal(stderr, "%s: cannot make folder '%s': %s\n", PROGRAM, options.directory,
                            strerror(error));
            return 1;
        }
        folder = hostCurrentFolder();
        folder.notMadeYet = true;
    }
    const DirectoryLayout* layout = chooseLayout(options, target, folder, status);
    if (layout == nullptr) {
        return status;
    }
    if (folder.notMadeYet && !options.dryRun &&
        !hostOpenFolder(options.directory, true, folder, error)) {
        hostPrintfLocal(stderr, "%s: cannot make folder '%s': %s\n", PROGRAM, options.directory,
                        strerror(error));
        return 1;
    }
    if (options.dryRun) {
        const SetPlan plan = planSet(image, *layout, target, nullptr, nullptr, folder);
        if (options.json) {
            printJson(plan, nullptr);
        } else {
            printSetHead(*layout);
            printSetPlan(plan, stdout);
            printSetSummary(plan.summary, stdout);
        }
        return finishOutput(PROGRAM, 0);
    }
    SetPlan plan;
    std::vector<ExtractResult> results;
    const bool allWritten = extractDirectory(
        image, *layout, target, folder, options.json ? nullptr : stdout, stderr, plan, results);
    if (options.json) {
        printJson(plan, &results);
    }
    return finishOutput(PROGRAM, allWritten ? 0 : 1);
}
