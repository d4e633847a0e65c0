// d88update: puts the changed files of a folder back into a new image of the set. The images
// given are read as d88extract reads them and only read; the new image (or, from several disk
// files, a folder of new disk files) takes its name only once it is whole and reads back as
// planned.
#include "CommandLine.h"
#include "DiskSet.h"
#include "FileChoice.h"
#include "FileHashes.h"
#include "FolderFiles.h"
#include "GivenFiles.h"
#include "Hashing.h"
#include "Host.h"
#include "ImageFacts.h"
#include "ImageWrite.h"
#include "NoteText.h"
#include "PlanJson.h"
#include "SetNotes.h"
#include "SetText.h"
#include "ShownName.h"
#include "UpdateEntries.h"
#include "UpdateJson.h"
#include "UpdatePlan.h"
#include "UpdateText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const PROGRAM = "d88update";

// The memory of a run, taken once by main: what the reader's walks need, and an entry's bytes.
struct Buffers {
    WalkBuffers walk;
    uint8_t newBytes[MAX_FILE_BYTES]; // one folder file's bytes at a time, zeros after
    uint8_t current[MAX_FILE_BYTES];  // its entry's bytes now (for --json), later what an entry
                                      // must hold read back
};

void printHelp() {
    hostPrintf(stdout,
               "usage: d88update -o OUT --from DIR [OPTIONS] IMAGE...\n"
               "Puts the changed files of folder DIR back into a new image of the disk set that\n"
               "IMAGE... hold (read as d88extract reads them, never written): each file whose\n"
               "name is an entry's saved name goes into that entry's own sectors. The new image\n"
               "is read back and checked before it takes its name.\n"
               "  -o, --output OUT     the new image; from several files, a folder that gets\n"
               "                       each file given under its own name\n"
               "  --from DIR           the folder of the files to put back\n"
               "  --layout a|b         the directory layout of d88extract-a or d88extract-b\n"
               "                       (default: the one that yields files)\n"
               "  -i, --include PATTERN\n"
               "                       only the files whose saved names match the shell\n"
               "                       pattern (* ? [...]); may be given again\n"
               "  -n, --dry-run        write nothing; say what would be put back\n"
               "  -q, --quiet          no report lines and no summary; messages still shown\n"
               "  --json               the results as JSON on standard output\n"
               "  --help               show this help and exit\n"
               "  --version            show the version and exit\n"
               "Exit status: 0 when every changed file was put back and the new image read\n"
               "back as planned, 1 after any message, 2 for a command-line error or when both\n"
               "layouts yield files.\n");
}

struct Options {
    std::vector<const char*> images;
    const char* output = nullptr;
    const char* from = nullptr;
    const DirectoryLayout* layout = nullptr;
    std::vector<std::string> patterns;
    bool dryRun = false;
    bool quiet = false;
    bool json = false;
};

enum Option { OUTPUT, FROM, LAYOUT, INCLUDE, DRY_RUN, QUIET, JSON, HELP, VERSION };

// Parses the command line; returns -1 to go on, otherwise the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    OptionReader reader = optionReader(PROGRAM, {{"output", 'o', "a file or folder", false},
                                                 {"from", 0, "a folder", false},
                                                 {"layout", 0, "a or b", false},
                                                 {"include", 'i', "a pattern", true},
                                                 {"dry-run", 'n', nullptr, false},
                                                 {"quiet", 'q', nullptr, false},
                                                 {"json", 0, nullptr, false},
                                                 {"help", 0, nullptr, false},
                                                 {"version", 0, nullptr, false}});
    const char* value = nullptr;
    for (int option; (option = nextOption(reader, argc, argv, value)) != OPTIONS_END;) {
        switch (option) {
        case OPTIONS_FAILED:
            return STATUS_USAGE;
        case OUTPUT:
        case FROM:
            if (value[0] == '\0') {
                return badOptionValue(reader, option, value);
            }
            (option == OUTPUT ? options.output : options.from) = value;
            break;
        case LAYOUT:
            options.layout = layoutByLetter(value);
            if (options.layout == nullptr) {
                return badOptionValue(reader, option, value);
            }
            break;
        case INCLUDE:
            options.patterns.push_back(value);
            break;
        case DRY_RUN:
            options.dryRun = true;
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
    options.images = operandsAfterOptions(argc, argv);
    if (options.output == nullptr) {
        return commandLineError(PROGRAM, "no output given: name the new image with -o OUT");
    }
    if (options.from == nullptr) {
        return commandLineError(PROGRAM, "no folder given: name the changed files' folder with "
                                         "--from DIR");
    }
    if (options.images.empty()) {
        return commandLineError(PROGRAM, "no image given");
    }
    if (options.images.size() > static_cast<size_t>(MAX_PENDING_FILES)) {
        return commandLineError(PROGRAM, "at most %d files, one image", MAX_PENDING_FILES);
    }
    return -1;
}

// What the files given hold, said before anything else: -1 to go on, otherwise the exit
// status after a message. `damaged` is set when a disk is cut off or missing.
int checkDiskSet(const Options& options, const DiskSetFacts& set, int64_t imageSize,
                 bool& damaged) {
    std::vector<std::string> files;
    for (const char* path : options.images) {
        files.push_back(shownPath(path, stderr));
    }
    for (const SetNote& note : decideSetNotes(set, imageSize)) {
        if (note.subject == NoteSubject::Copies) {
            continue; // refused below
        }
        hostPrintfLocal(stderr, "%s: %s\n", PROGRAM, setNoteText(note, set, files).c_str());
        if (note.kind == NoteKind::Refusal) {
            return 1;
        }
        damaged = damaged || note.kind == NoteKind::Damage;
    }
    const std::vector<SetNumber> twice = disksGivenTwice(set);
    for (const SetNumber& number : twice) {
        hostPrintf(stderr, "%s: %s\n", PROGRAM, givenTwiceText(number).c_str());
    }
    return twice.empty() ? -1 : 1;
}

// The layout to read: the one given, or the one that yields files. Null after a message, with
// `status` set.
const DirectoryLayout* chooseLayout(const Options& options, const PlanSource& source,
                                    LayoutPlans& plans, int& status) {
    const LayoutDecision decision = decideLayout(source, options.layout, plans);
    if (decision.problem == LayoutProblem::None) {
        return decision.layout;
    }
    const std::string text = layoutProblemText(decision);
    if (decision.problem == LayoutProblem::Both) {
        hostPrintf(stderr, "%s: %s; choose one with --layout a or --layout b\n", PROGRAM,
                   text.c_str());
        status = STATUS_USAGE;
    } else if (decision.problem == LayoutProblem::GivenYieldsNothing) {
        hostPrintf(stderr, "%s: %s: use --layout %s\n", PROGRAM, text.c_str(),
                   otherLayout(*decision.given).letter);
        status = 1;
    } else {
        hostPrintf(stderr, "%s: %s\n", PROGRAM, text.c_str());
        status = 1;
    }
    return nullptr;
}

// Where the new files go: the output file itself, or a folder with each given file's last name.
struct Outputs {
    bool folder;                    // OUT is a folder
    std::vector<std::string> paths; // relative to the folder (the output itself for one file)
    std::vector<std::string> shown; // as messages and documents name them
};

// The last name of a given file's path ("set.zip/disks/A.d88" gives "A.d88").
std::string lastName(const std::string& path) {
    const size_t slash = path.find_last_of(hostNamesAreUnicode() ? "/\\:" : "/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// False after a message when two given files have one last name.
bool decideOutputs(const Options& options, Outputs& outputs) {
    outputs.folder = options.images.size() > 1;
    if (!outputs.folder) {
        outputs.paths = {options.output};
        outputs.shown = {options.output};
        return true;
    }
    for (const char* image : options.images) {
        const std::string name = lastName(image);
        if (std::find(outputs.paths.begin(), outputs.paths.end(), name) != outputs.paths.end()) {
            hostPrintfLocal(
                stderr, "%s: %s\n", PROGRAM,
                sameLastNameText(shownPath(name.c_str(), stderr), shownPath(options.output, stderr))
                    .c_str());
            return false;
        }
        outputs.paths.push_back(name);
        outputs.shown.push_back(std::string(options.output) + "/" + name);
    }
    return true;
}

// The files that the run reads: the images and zips given and the folder's files opened.
struct ReadFiles {
    std::vector<HostFileId> ids;
    std::vector<std::string> shown; // as messages name them
    void add(const HostFileId& id, const std::string& name) {
        ids.push_back(id);
        shown.push_back(name);
    }
    void add(FILE* stream, const std::string& name) {
        HostFileId id{};
        if (hostStreamId(stream, id)) {
            add(id, name);
        }
    }
};

// False after a message when an output file is one of the files read, or a link to one.
bool outputsAreNew(const Outputs& outputs, const HostFolder& folder, const ReadFiles& read) {
    for (size_t i = 0; i < outputs.paths.size(); ++i) {
        HostFileId id{};
        if (!hostPathId(folder, outputs.paths[i].c_str(), NameSource::CommandLine, id)) {
            continue;
        }
        const auto same = std::find(read.ids.begin(), read.ids.end(), id);
        if (same != read.ids.end()) {
            hostPrintfLocal(
                stderr, "%s: cannot write '%s': it is '%s', which is read\n", PROGRAM,
                shownPath(outputs.shown[i].c_str(), stderr).c_str(),
                shownPath(read.shown[static_cast<size_t>(same - read.ids.begin())].c_str(), stderr)
                    .c_str());
            return false;
        }
    }
    return true;
}

// Where the new files stand: the folder, and the name targets that an entry's file may stand
// under (as d88extract names it here first).
struct FolderOfFiles {
    const HostFolder& folder;
    const char* name; // as given
    const std::vector<NameTarget>& targets;
};

// Finds the file that stands for `entry` in the folder under one of its names, and reads its
// first bytes (as many as the entry holds) into `bytes`. `stream` keeps it open, `foundId`
// tells which file it is.
FolderFile findFolderFile(const FolderOfFiles& from, const UpdateEntry& entry, uint8_t* bytes,
                          OwnedFile& stream, HostFileId& foundId) {
    const HostFolder& folder = from.folder;
    const std::vector<NameTarget>& targets = from.targets;
    FolderFile found{FolderFileState::None, -1, 0, 0};
    for (size_t t = 0; t < targets.size(); ++t) {
        const SavedName& saved = entry.names[t];
        if (saved.name.empty() || (t > 0 && saved.name == entry.names[0].name)) {
            continue;
        }
        const NameSource source =
            targets[t] == NameTarget::Host ? NameSource::DiskSet : NameSource::CommandLine;
        int error = 0;
        int64_t length = 0;
        HostFileId id{};
        OwnedFile opened(hostOpenToRead(folder, saved.name.c_str(), source, length, id, error));
        if (!opened && error == ENOENT) {
            continue;
        }
        if (found.state != FolderFileState::None) {
            // Under two names: one file (a name that the file system folds), or two.
            if (found.state == FolderFileState::Found && (!opened || !(id == foundId))) {
                found.state = FolderFileState::TwoFiles;
                stream.reset();
            }
            continue;
        }
        found.name = static_cast<int>(t);
        if (!opened) {
            found.state = FolderFileState::Unreadable;
            found.error = error;
            continue;
        }
        found.state = FolderFileState::Found;
        found.length = length;
        foundId = id;
        stream = std::move(opened);
    }
    if (found.state != FolderFileState::Found) {
        return found;
    }
    // The entry's bytes at most: a longer file is refused by its length alone.
    const size_t want = static_cast<size_t>(std::min<int64_t>(found.length, entry.entry.size));
    errno = 0;
    if (fread(bytes, 1, want, stream.get()) != want) {
        found.state = FolderFileState::Unreadable;
        found.error = errno != 0 ? errno : EIO;
        stream.reset();
    }
    return found;
}

// Hashes of `length` bytes, as the documents give them; null where the library failed.
nlohmann::ordered_json hashesOf(const uint8_t* bytes, size_t length) {
    Digests digests{};
    return digestBytes(bytes, length, DIGEST_ALL, digests) ? fileHashesJson(digests)
                                                           : nlohmann::ordered_json();
}

// What putting back needs from the run: the folder's files and what is printed of them.
struct Decided {
    std::vector<FileUpdate> updates; // by entry, as decided one by one
    UpdatePlan plan;                 // then, from them all
    NewFiles files;                  // by entry, for the entries put back later: read again then
    std::vector<OwnedFile> owned;    // the same, closed at the end
    std::vector<bool> made;          // by entry: put back in the held image's bytes already
    std::vector<KnownBytes> known;   // by entry: what it must hold read back
    UpdateRunFacts facts;
};

// What deciding an entry reads: the files given, and the run's buffers.
struct DecideWith {
    d88::D88Image& image;
    HeldImage& held;
    Buffers& buffers;
    std::vector<bool> apart; // by entry: its file is put back as soon as it is decided (empty:
                             // none is)
    bool json;               // the hashes of the files before and after are taken
};

// Decides entry `i` of `set` from the file that stands for it in `from`, into `decided`. `read`
// gets the file opened.
void decideEntry(const UpdateSet& set, size_t i, const FolderOfFiles& from, const DecideWith& with,
                 Decided& decided, ReadFiles& read) {
    const UpdateEntry& entry = set.entries[i];
    uint8_t* newBytes = with.buffers.newBytes;
    OwnedFile stream;
    HostFileId id{};
    const FolderFile file = entry.chosen ? findFolderFile(from, entry, newBytes, stream, id)
                                         : FolderFile{FolderFileState::None, -1, 0, 0};
    if (stream) {
        read.add(id,
                 std::string(from.name) + "/" + entry.names[static_cast<size_t>(file.name)].name);
    }
    decided.updates.push_back(decideFileUpdate(with.image, entry, file, newBytes,
                                               with.json ? with.buffers.current : nullptr));
    const UpdateOutcome outcome = decided.updates.back().outcome;
    if (outcome != UpdateOutcome::PutBack && outcome != UpdateOutcome::Unchanged) {
        return;
    }
    // What the entry holds afterwards: the file's bytes and zeros after.
    const size_t size = static_cast<size_t>(entry.entry.size);
    const size_t length = static_cast<size_t>(file.length);
    memset(newBytes + length, 0, size - length);
    decided.known[i] = KnownBytes{true, bytesFingerprint(newBytes, size)};
    if (with.json) {
        decided.facts.before[i] = hashesOf(with.buffers.current, size);
        decided.facts.after[i] = hashesOf(newBytes, size);
    }
    if (outcome != UpdateOutcome::PutBack) {
        return;
    }
    if (i < with.apart.size() && with.apart[i]) {
        // Its bytes go into the held image now, so that its file is read only once.
        putEntryBytes(entry, newBytes, with.held.bytes.get(), with.held.size);
        decided.made[i] = true;
        return;
    }
    decided.files[i] = stream.get();
    decided.owned.push_back(std::move(stream));
}

// Decides every entry (located) from the folder's files. `read` gets the files opened.
Decided decideEntries(const UpdateSet& set, const FolderOfFiles& from, const DecideWith& with,
                      ReadFiles& read) {
    const size_t count = set.entries.size();
    Decided decided;
    decided.files.assign(count, nullptr);
    decided.made.assign(count, false);
    decided.known.assign(count, KnownBytes{false, 0});
    decided.facts.before.assign(count, nullptr);
    decided.facts.after.assign(count, nullptr);
    for (size_t i = 0; i < count; ++i) {
        decideEntry(set, i, from, with, decided, read);
    }
    decided.plan = finishUpdatePlan(set, std::move(decided.updates));
    return decided;
}

// Names the folder's files that no entry saves under, in one note.
std::vector<std::string> noteFilesOfNoEntry(const UpdateSet& set, const FolderOfFiles& from) {
    std::vector<FolderName> listed;
    int error = 0;
    std::vector<std::string> leftOut;
    if (!hostListFolder(from.folder, listed, error)) {
        return leftOut;
    }
    std::vector<std::string> names;
    for (const FolderName& name : listed) {
        names.push_back(name.name);
    }
    std::vector<std::string> shown;
    for (size_t i : filesOfNoEntry(set, from.targets, hostNameRules(), names)) {
        leftOut.push_back(listed[i].text);
    }
    std::sort(leftOut.begin(), leftOut.end());
    for (const std::string& name : leftOut) {
        shown.push_back(shownPath(name.c_str(), stderr));
    }
    if (!shown.empty()) {
        hostPrintfLocal(stderr, "%s: %s\n", PROGRAM,
                        filesOfNoEntryText(shownPath(from.name, stderr).c_str(), shown).c_str());
    }
    return leftOut;
}

// Says why a new file could not be written.
void printWriteFailure(const std::string& path, const ReplaceResult& result) {
    const std::string shown = shownPath(path.c_str(), stderr);
    const char* reason = nullptr;
    switch (result.outcome) {
    case ReplaceOutcome::SymbolicLink:
        reason = "it is a symbolic link";
        break;
    case ReplaceOutcome::NotRegularFile:
        reason = "it is not a regular file";
        break;
    case ReplaceOutcome::ShortName:
        reason = "it is the short name of another file";
        break;
    case ReplaceOutcome::Appeared:
        reason = "a file of that name appeared while it was written";
        break;
    default:
        reason = strerror(result.error);
        break;
    }
    hostPrintfLocal(stderr, "%s: cannot write '%s': %s\n", PROGRAM, shown.c_str(), reason);
}

// Says why the new files were not kept.
void printCheckFailure(const UpdateSet& set, const UpdatePlan& plan, const WriteResult& result) {
    switch (result.problem) {
    case WriteProblem::ImageChanged:
        hostPrintfLocal(stderr, "%s: %s\n", PROGRAM, givenFilesChangedText().c_str());
        break;
    case WriteProblem::CannotRead:
        hostPrintfLocal(stderr, "%s: %s\n", PROGRAM, cannotReadBackText().c_str());
        break;
    case WriteProblem::OtherPlaces:
        hostPrintfLocal(stderr, "%s: %s\n", PROGRAM,
                        readBackText(ReadBackProblem::OtherPlaces, 0, "").c_str());
        break;
    case WriteProblem::OtherBytes: {
        const UpdateEntry& entry = set.entries[result.entry];
        const ShownName name = shownName(updateFileName(entry, plan.files[result.entry]), stderr);
        hostPrintf(stderr, "%s: %s\n", PROGRAM,
                   readBackText(ReadBackProblem::OtherBytes, entry.index, name.text()).c_str());
        break;
    }
    default:
        break;
    }
}

// The files that the run reads and what they hold.
struct Input {
    GivenFiles given;
    ReadFiles read;
    HeldImage held; // the bytes of the files given, when held in memory
    DiskSetFacts facts;
    bool damaged = false; // a disk is cut off or missing
};

// Opens the files given into `image` and says what they hold: -1 to go on, otherwise the exit
// status. `options.images` then names the files read.
int openInput(Options& options, d88::D88Image& image, Input& input) {
    const std::vector<std::string> asGiven(options.images.begin(), options.images.end());
    GivenFiles& given = input.given;
    if (!openGivenFiles(PROGRAM, options.images, given, image, false)) {
        return 1;
    }
    std::vector<FILE*> streams;
    for (size_t i = 0; i < given.files.size(); ++i) {
        input.read.add(given.files[i].get(), given.names[i]);
        streams.push_back(given.files[i].get());
    }
    // Read from memory when the files are small enough, else from the files.
    if (!holdFiles(streams, input.held) || !openHeldImage(image, input.held)) {
        input.held = HeldImage{};
        if (!openGivenImage(PROGRAM, given, image)) {
            return 1;
        }
    }
    // The zips are the paths given that no file read is named as, in the order given.
    size_t zip = 0;
    for (const std::string& path : asGiven) {
        if (zip < given.zips.size() &&
            std::find(given.names.begin(), given.names.end(), path) == given.names.end()) {
            input.read.add(given.zips[zip++].get(), path);
        }
    }
    input.facts = decideDiskSet(image, readIdSectors(image), given.sameFiles);
    return checkDiskSet(options, input.facts, image.fileSize(), input.damaged);
}

// The set that the files go back into, as planned.
struct Planned {
    DiskChoice disks;
    // The names an entry's file may stand under: as d88extract names it here first, then,
    // where names are bytes, the other way (UTF-8 or as stored).
    std::vector<NameTarget> targets;
    LayoutPlans plans;
    const DirectoryLayout* layout = nullptr;
};

// Reads the set's directory and chooses its layout: -1 to go on, otherwise the exit status
// after a message.
int planLayout(const Options& options, d88::D88Image& image, const Input& input, WalkBuffers& walk,
               Planned& planned) {
    planned.disks = identityDiskChoice(input.facts);
    planned.targets = {nameTargetFor(NameChoice::Default)};
    if (!hostNamesAreUnicode()) {
        planned.targets.push_back(planned.targets[0] == NameTarget::Host ? NameTarget::Utf8
                                                                         : NameTarget::Host);
    }
    const SaveTarget target{planned.targets[0], hostNameRules(), {}};
    const DirectoryRead directory = readDirectory(image, planned.disks, walk);
    const PlanSource source{image, planned.disks, directory, target, walk};
    planned.plans = LayoutPlans{};
    int status = -1;
    planned.layout = chooseLayout(options, source, planned.plans, status);
    return status;
}

// Opens the folder of the new files and decides where the new image goes: -1 to go on,
// otherwise the exit status after a message.
int openFolders(const Options& options, HostFolder& from, Outputs& outputs) {
    int error = 0;
    if (!hostOpenFolder(options.from, false, from, error)) {
        hostPrintfLocal(stderr, "%s: cannot open folder %s: %s\n", PROGRAM,
                        quotedPath(options.from, stderr).c_str(), strerror(error));
        return 1;
    }
    return decideOutputs(options, outputs) ? -1 : 1;
}

// The listed entries of the planned set, located, with what d88extract says of the set it reads
// (the disks that entries need and no file holds, the directory's sectors not read whole, whose
// entries cannot be put back) and the patterns that match no file. `complete` is cleared when
// any of that is said.
UpdateSet readSetEntries(const Options& options, d88::D88Image& image, const Input& input,
                         const Planned& planned, bool& complete) {
    const PatternText patternText =
        hostTerminalIsUtf8() || hostNamesAreUnicode() ? PatternText::Utf8 : PatternText::Bytes;
    const SetPlan& plan = planned.plans.plans[layoutIndex(*planned.layout)];
    UpdateSet set = readUpdateSet(image, planned.disks, plan, planned.targets, hostNameRules(),
                                  chooseFiles(options.patterns, patternText));
    locatePlannedSectors(image, plan, planned.disks, set);
    ShownFiles shown;
    for (const char* path : options.images) {
        shown.push_back(shownPath(path, stderr));
    }
    const std::string prefix = std::string(PROGRAM) + ": ";
    printMissingDisks(plan, prefix.c_str(), stderr);
    printDirectoryNotes(plan, input.facts, shown, prefix.c_str(), stderr);
    complete = !input.damaged && plan.missingDisks.empty() &&
               decideDirectoryNotes(plan.directory, plan.layout).empty();
    for (const std::string& pattern : options.patterns) {
        const FileChoice one = chooseFiles({pattern}, patternText);
        if (std::none_of(set.entries.begin(), set.entries.end(), [&](const UpdateEntry& entry) {
                return !entry.names[0].name.empty() && choosesName(one, entry.names[0]);
            })) {
            hostPrintfLocal(stderr, "%s: no file matches %s\n", PROGRAM,
                            quotedPath(pattern.c_str(), stderr).c_str());
            complete = false;
        }
    }
    return set;
}

// Says what the run decided: the folder's files that no entry saves under, a line per file put
// back (unless `report` is false) and each file refused.
void reportDecisions(const UpdateSet& set, const FolderOfFiles& from, bool report,
                     Decided& decided) {
    decided.facts.leftOut = noteFilesOfNoEntry(set, from);
    for (size_t i = 0; i < set.entries.size() && report; ++i) {
        printUpdateLines(set, decided.plan, i, stdout);
    }
    fflush(stdout);
    const std::string lead = std::string(PROGRAM) + ": ";
    for (size_t i = 0; i < set.entries.size(); ++i) {
        printUpdateRefusal(set, decided.plan, i, lead.c_str(), from.name, stderr);
    }
}

// Where the new files go: the folder of the output (made when missing, unless a dry run) and
// never a file that the run reads. -1 to go on, otherwise the exit status after a message.
int openOutput(const Options& options, const Outputs& outputs, const ReadFiles& read,
               HostFolder& outFolder) {
    int error = 0;
    if (outputs.folder && !hostOpenFolder(options.output, !options.dryRun, outFolder, error)) {
        if (error != ENOENT || !options.dryRun) {
            hostPrintfLocal(stderr, "%s: cannot make folder %s: %s\n", PROGRAM,
                            quotedPath(options.output, stderr).c_str(), strerror(error));
            return 1;
        }
        outFolder.notMadeYet = true; // a dry run makes nothing: the folder holds nothing yet
    }
    return !outFolder.notMadeYet && !outputsAreNew(outputs, outFolder, read) ? 1 : -1;
}

// The hashes of what was read back, for the document: each entry's file put back or
// unchanged, each new file and each disk.
void keepHashes(const std::vector<FileDigests>& after, const PendingOutput& pending,
                d88::D88Image& readBack, UpdateRunFacts& run) {
    const bool digested = digestProblem() == nullptr;
    for (size_t i = 0; i < after.size(); ++i) {
        run.after[i] = after[i].taken && digested ? fileHashesJson(after[i].digests) : nullptr;
    }
    for (const Digests& digests : pending.digests) {
        run.outputHashes.push_back(digested ? fileHashesJson(digests) : nullptr);
    }
    run.disks = nlohmann::ordered_json::array();
    for (int disk = 0; disk < readBack.diskCount(); ++disk) {
        run.disks.push_back(nlohmann::ordered_json{
            {"index", disk}, {"hashes", diskHashesJson(digestDisk(readBack, disk))}});
    }
}

// Writes the new files, reads them back with the image (which then no longer reads the files
// given) and checks them, and names them: 0 when every one took its name, otherwise 1 after a
// message.
int writeNewFiles(const UpdateWrite& write, const Outputs& outputs, const HostFolder& outFolder,
                  const Options& options, Decided& decided, Buffers& buffers) {
    const UpdateSet& set = write.set;
    {
        NewBytes source = newBytesOf(write.changes, write.plan, write.files);
        completeKnownBytes(write.image, set, write.plan, source, decided.known, buffers.current);
    }
    PendingOutput pending;
    WriteResult result = writeUpdatedFiles(write, outFolder, outputs.paths, options.json, pending);
    if (result.problem == WriteProblem::CannotWrite) {
        printWriteFailure(outputs.shown[result.file], result.replace);
        return 1;
    }
    d88::D88Image& readBack = write.image;
    std::vector<FileDigests> after(set.entries.size(), FileDigests{false, Digests{}});
    if (result.problem == WriteProblem::None) {
        result = checkUpdatedFiles(write, decided.known, readBack, pending,
                                   options.json ? &after : nullptr);
    }
    if (result.problem != WriteProblem::None) {
        printCheckFailure(set, write.plan, result);
        return 1;
    }
    if (options.json) {
        keepHashes(after, pending, readBack, decided.facts);
    }
    readBack.close();
    ReplaceResult failed{};
    const size_t named = nameUpdatedFiles(pending, failed);
    if (named < outputs.paths.size()) {
        printWriteFailure(outputs.shown[named], failed);
        if (named > 0) {
            hostPrintfLocal(stderr, "%s: only %d of %d files were written to %s\n", PROGRAM,
                            static_cast<int>(named), static_cast<int>(outputs.paths.size()),
                            quotedPath(options.output, stderr).c_str());
        }
        return 1;
    }
    decided.facts.written = true;
    return 0;
}

// Ends the run with `status`, after the document when it is asked for.
int finishRun(const Options& options, const UpdateSet& set, const Decided& decided, int status) {
    if (options.json) {
        const std::string text = dumpJson(updateDocument(set, decided.plan, decided.facts));
        fputs(text.c_str(), stdout);
        fputc('\n', stdout);
    }
    return finishOutput(PROGRAM, status);
}

// What a run holds from one step to the next; main owns it.
struct Run {
    Options options;
    d88::D88Image image; // the files given
    Input input;
    std::unique_ptr<Buffers> buffers;
    Planned planned;
    HostFolder folder = hostCurrentFolder(); // of the changed files
    Outputs outputs;
};

// The steps before the set's entries are read: the command line, the files given, the layout
// and the folders. -1 to go on, otherwise the exit status.
int prepareRun(int argc, char** argv, Run& run) {
    int status = parseOptions(argc, argv, run.options);
    if (status < 0) {
        status = openInput(run.options, run.image, run.input);
    }
    if (status < 0) {
        run.buffers.reset(new Buffers);
        status = planLayout(run.options, run.image, run.input, run.buffers->walk, run.planned);
    }
    return status < 0 ? openFolders(run.options, run.folder, run.outputs) : status;
}

// Decides every entry of `set` from the files of `from`, with what the document says of the run.
Decided decideRun(Run& run, const UpdateSet& set, const FolderOfFiles& from) {
    const Options& options = run.options;
    // Held in memory, a file is put back as soon as it is decided where no other entry's bytes
    // depend on its sectors; a dry run changes nothing.
    const bool putNow = run.input.held.bytes && !options.dryRun;
    const DecideWith with{run.image, run.input.held, *run.buffers,
                          putNow ? entriesApart(set) : std::vector<bool>(), options.json};
    Decided decided = decideEntries(set, from, with, run.input.read);
    UpdateRunFacts& facts = decided.facts;
    facts.images = options.images;
    facts.folder = options.from;
    facts.output = options.output;
    facts.dryRun = options.dryRun;
    facts.written = false;
    facts.outputFiles = run.outputs.shown;
    return decided;
}

// Says what was decided and, unless a file is refused or it is a dry run, writes the new files:
// the exit status. `complete` tells that nothing was said of the set before.
int putBack(Run& run, const UpdateSet& set, const FolderOfFiles& from, Decided& decided,
            bool complete) {
    const Options& options = run.options;
    const bool report = !options.quiet && !options.json;
    reportDecisions(set, from, report, decided);
    const UpdateSummary& summary = decided.plan.summary;
    if (summary.refused > 0) {
        hostPrintf(stderr, "%s: %s\n", PROGRAM, refusedFilesText(summary.refused).c_str());
        return finishRun(options, set, decided, 1);
    }
    if (options.json && digestProblem() != nullptr) {
        // The document then holds no hashes (null), and the run says so and ends with 1.
        hostPrintfLocal(stderr, "%s: SHA-1 and SHA-256 are left out: %s\n", PROGRAM,
                        digestProblem());
        complete = false;
    }
    HostFolder outFolder = hostCurrentFolder();
    if (openOutput(options, run.outputs, run.input.read, outFolder) >= 0) {
        return finishRun(options, set, decided, 1);
    }
    if (!options.dryRun) {
        const std::vector<ByteChange> changes = updateChanges(set, decided.plan, decided.made);
        const UpdateWrite write{run.image,    run.input.held, set,
                                decided.plan, changes,        decided.files};
        if (writeNewFiles(write, run.outputs, outFolder, options, decided, *run.buffers) != 0) {
            // A folder made for the new files and left empty goes with them.
            hostRemoveMadeFolder(outFolder, options.output);
            return finishRun(options, set, decided, 1);
        }
    }
    if (report) {
        printUpdateSummary(PROGRAM, summary, options.output, options.dryRun, stderr);
    }
    return finishRun(options, set, decided, complete ? 0 : 1);
}

} // namespace

int main(int argc, char** argv) {
    hostStartProgram(argc, argv);
    Run run;
    const int status = prepareRun(argc, argv, run);
    if (status >= 0) {
        return status;
    }
    bool complete = true;
    const UpdateSet set = readSetEntries(run.options, run.image, run.input, run.planned, complete);
    const FolderOfFiles from{run.folder, run.options.from, run.planned.targets};
    Decided decided = decideRun(run, set, from);
    // Ends here without taking the run apart: the system takes back its memory and files at
    // once, faster than freeing them one by one (the new files hold their names already).
    exit(putBack(run, set, from, decided, complete));
}
