// d88info: lists the disks of D88 images, their headers and the sector IDs of every track, tells
// which disks of the set the files hold, and what the extraction programs would write.
#include "CommandLine.h"
#include "CopyCompare.h"
#include "Digests.h"
#include "DiskSet.h"
#include "DiskText.h"
#include "FileHashes.h"
#include "GivenFiles.h"
#include "Hashing.h"
#include "Host.h"
#include "ImageFacts.h"
#include "InfoText.h"
#include "LayoutText.h"
#include "NoteText.h"
#include "PlanJson.h"
#include "SetNotes.h"
#include "SetText.h"
#include "ShownName.h"
#include "SumsText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char* const PROGRAM = "d88info";

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

// Says in one line why SHA-1 and SHA-256 cannot be taken, when they cannot. False then.
bool sayDigestProblem() {
    if (digestProblem() == nullptr) {
        return true;
    }
    hostPrintfLocal(stderr, "%s: SHA-1 and SHA-256 are left out: %s\n", PROGRAM, digestProblem());
    return false;
}

// What the run reads and works with, made once in main.
struct Run {
    const Options& options;
    const GivenFiles& given;
    d88::D88Image& image;
    WalkBuffers& buffers;
    std::vector<IdRead> ids;
    DiskSetFacts set;
    ShownFiles files; // the given files as messages show them
};

// The directory in the layout of --set: its digests (--sums), its document (--json), or its
// text. Returns the exit status: the extraction's, as far as the plan tells it.
int showSet(const Run& run, const PlanSource& source, bool damaged) {
    const Options& options = run.options;
    LayoutPlans plans{};
    const SetPlan& plan = layoutPlan(source, *options.layout, plans);
    const bool digests = (options.sums == 0 && !options.json) || sayDigestProblem();
    if (options.sums != 0) {
        const bool all =
            printFileSums(plan, digestPlannedFiles(run.image, plan, run.buffers, options.sums),
                          options.sums, stdout);
        if (!all && digests) {
            hostPrintf(stderr, "%s: a digest could not be taken\n", PROGRAM);
        }
        return finishOutput(PROGRAM, all ? 0 : 1);
    }
    if (options.json) {
        nlohmann::ordered_json document =
            setDocument(plan, run.set, options.paths, run.image.diskCount(), run.image.fileSize());
        addFileHashes(document, digestPlannedFiles(run.image, plan, run.buffers, DIGEST_ALL));
        const std::string text = dumpJson(document);
        fputs(text.c_str(), stdout); // UTF-8, for programs to read
        fputc('\n', stdout);
    } else {
        printSetText(options.paths, run.image.diskCount(), plan, run.set, run.files, stdout);
    }
    return finishOutput(PROGRAM, planIsWhole(plan) && !damaged && digests ? 0 : 1);
}

// Every disk (or the one of --disk) with its tracks, as text or as the image document, the set's
// disks and the layout that fits. Returns the exit status.
int showImage(const Run& run, const PlanSource& source, bool programs) {
    const Options& options = run.options;
    d88::D88Image& image = run.image;
    if (options.disk >= image.diskCount()) {
        hostPrintf(stderr, "%s: no disk %ld, the image holds disks 0 to %d\n", PROGRAM,
                   options.disk, image.diskCount() - 1);
        return 1;
    }
    // The disks shown are described again below with their tracks.
    LayoutPlans plans{};
    const ImagePlan plan = planImage(source, run.ids, plans, false);
    bool ok = true;
    for (const DiskFacts& disk : plan.disks) {
        ok = ok && (options.disk < 0 || disk.index == options.disk ? disk.headerRead : true);
    }
    const auto described = [&](int disk) {
        return describeDisk(image, disk, run.ids[static_cast<size_t>(disk)], true);
    };
    if (options.json) {
        ok = sayDigestProblem() && ok;
        const std::vector<CopyDifferences> all = listCopyDifferences(image, run.set, 1000);
        const nlohmann::ordered_json head = imageHead(plan, run.set, options.paths, &all);
        fputs(imageJsonOpening(head).c_str(), stdout);
        for (int disk = 0, listed = 0; disk < plan.diskCount; ++disk) {
            if (options.disk < 0 || disk == options.disk) {
                nlohmann::ordered_json facts = diskJson(described(disk));
                facts["hashes"] = diskHashesJson(digestDisk(image, disk));
                fputs(listed++ > 0 ? "," : "", stdout);
                fputs(dumpJson(facts).c_str(), stdout);
            }
        }
        fputs(imageJsonClosing(head).c_str(), stdout);
        fputc('\n', stdout);
        return finishOutput(PROGRAM, ok ? 0 : 1);
    }
    for (size_t i = 0; i < options.paths.size(); ++i) {
        hostPrintfLocal(stdout, "%s%s", i > 0 ? " " : "",
                        shownPath(options.paths[i], stdout).c_str());
    }
    hostPrintf(stdout, ": %d disk%s\n", image.diskCount(), image.diskCount() == 1 ? "" : "s");
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        if (options.disk < 0 || disk == options.disk) {
            printDiskFacts(described(disk), stdout);
        }
    }
    ShownFiles files;
    for (const char* path : options.paths) {
        files.push_back(shownPath(path, stdout));
    }
    printDiskSetText(run.set, decideSetNotes(run.set, image.fileSize()),
                     listCopyDifferences(image, run.set, 16), files, stdout);
    hostPrintf(stdout, "%s", layoutLinesText(plan, programs).c_str());
    return finishOutput(PROGRAM, ok ? 0 : 1);
}

// Lists the image open in `run`. Returns the exit status.
int listImage(Run& run) {
    const Options& options = run.options;
    run.ids = readIdSectors(run.image);
    run.set = decideDiskSet(run.image, run.ids, run.given.sameFiles);
    for (const char* path : options.paths) {
        run.files.push_back(shownPath(path, stderr));
    }
    const std::vector<SetNote> notes = decideSetNotes(run.set, run.image.fileSize());
    for (const SetNote& note : notes) {
        if (note.subject == NoteSubject::NotImage) { // nothing to list
            hostPrintfLocal(stderr, "%s: %s\n", PROGRAM,
                            setNoteText(note, run.set, run.files).c_str());
            return 1;
        }
    }
    // One file is described as the set's own programs read it; several, and the sums of the
    // folder that d88extract writes, as d88extract does.
    const bool programs = options.paths.size() == 1 && options.sums == 0;
    const DiskChoice disks =
        programs ? programsDiskChoice(run.image.diskCount(), run.ids) : identityDiskChoice(run.set);
    const HostFolder here = hostCurrentFolder();
    const SaveTarget target =
        hostSaveTarget(options.layout != nullptr ? nameTargetFor(options.names) : NameTarget::Host,
                       here, run.given.identities);
    const DirectoryRead directory = readDirectory(run.image, disks, run.buffers);
    const PlanSource source{run.image, disks, directory, target, run.buffers};
    if (options.layout != nullptr) {
        return showSet(run, source, !programs && tellsOfDamage(notes));
    }
    return showImage(run, source, programs);
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
    d88::D88Image image;
    GivenFiles given;
    if (!openGivenFiles(PROGRAM, options.paths, given, image)) {
        return 1;
    }
    const std::unique_ptr<WalkBuffers> buffers(new WalkBuffers);
    Run run{options, given, image, *buffers, {}, {}, {}};
    return listImage(run);
}
