// Putting changed files back, on the page: what d88update decides and says for the session's
// set and the files dropped beside it, the new files made from the given files' bytes and the
// changes, and their check once the worker has them, read back with the same reader. The worker
// mounts the dropped files as /changed/0, /changed/1, ... and the new files, as it received
// them through d88web_output, as /output/0, /output/1, ...; it decides nothing itself.
#include "PageSession.h"

#include "FileChoice.h"
#include "LayoutText.h"
#include "NoteText.h"
#include "SetFormat.h"
#include "SetNotes.h"
#include "UpdateCheck.h"
#include "UpdateEntries.h"
#include "UpdateJson.h"
#include "UpdatePlan.h"
#include "UpdateText.h"

#include "D88Image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <emscripten/emscripten.h>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using json = nlohmann::ordered_json;

const char* const PROGRAM = "d88update";
// The folder that d88update's messages name: on the page, the files dropped.
const char* const CHANGED_FILES = "changed files";
// The bytes of the new files handed to the worker at a time.
constexpr int64_t CHUNK_BYTES = int64_t{1} << 20;

struct FileClose {
    void operator()(FILE* file) const { fclose(file); }
};
using OpenFile = std::unique_ptr<FILE, FileClose>;

} // namespace

// What a putting back keeps from its plan to its check.
struct PageUpdate {
    UpdateSet set;
    UpdatePlan plan;
    std::vector<ByteChange> changes;
    std::vector<OpenFile> owned;      // by entry: the dropped file of an entry put back
    NewFiles files;                   // the same, as the plan's bytes read them
    std::vector<std::string> outputs; // the new files' names
    std::string output;               // the download's: the one new file, or their zip
    d88::D88Image readBack;           // the new files, read back
    std::vector<uint8_t> newBytes = std::vector<uint8_t>(MAX_FILE_BYTES);
    std::vector<uint8_t> expected = std::vector<uint8_t>(MAX_FILE_BYTES);
};

void PageUpdateFree::operator()(PageUpdate* update) const {
    delete update;
}

namespace {

// A line of d88update's without its "d88update: ".
std::string withoutProgram(const std::string& line) {
    const std::string lead = std::string(PROGRAM) + ": ";
    return line.compare(0, lead.size(), lead) == 0 ? line.substr(lead.size()) : line;
}

// The last name of a given file's path ("set.zip/disks/A.d88" gives "A.d88"), as d88update
// names the files of its output folder.
std::string lastName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What stops a putting back before any entry is decided, in d88update's words where it has
// them: the layout, a refusal of the files, a disk given more than once, two given files of one
// last name (which the new set's zip cannot hold both of) or two dropped files of one name.
std::vector<std::string> refusals(PageSession& session, const DirectoryLayout& layout,
                                  const std::vector<std::string>& dropped,
                                  const std::string& output) {
    std::vector<std::string> texts;
    const SaveTarget target{NameTarget::Zip, BYTE_NAME_RULES, {}};
    const PlanSource source{session.image, session.disks, session.directory, target,
                            session.buffers};
    const LayoutDecision decision = decideLayout(source, &layout, session.plans);
    if (decision.problem != LayoutProblem::None) {
        texts.push_back(layoutProblemText(decision));
    }
    for (const SetNote& note : decideSetNotes(session.set, session.image.fileSize())) {
        if (note.kind == NoteKind::Refusal && note.subject != NoteSubject::Copies) {
            texts.push_back(setNoteText(note, session.set, session.names));
        }
    }
    for (const SetNumber& number : disksGivenTwice(session.set)) {
        texts.push_back(givenTwiceText(number));
    }
    std::vector<std::string> seen;
    for (const std::string& path : session.paths.size() > 1 ? session.names : ShownFiles()) {
        const std::string name = lastName(path);
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            texts.push_back(sameLastNameText(name, output));
        }
        seen.push_back(name);
    }
    seen.clear();
    for (const std::string& name : dropped) {
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            texts.push_back("two of the files dropped are named '" + name + "': drop one of them");
        }
        seen.push_back(name);
    }
    return texts;
}

// The dropped file that stands for `entry` under its zip name (by position in `dropped`), read
// into update.newBytes as far as the entry holds; its stream is kept in `stream`.
FolderFile droppedFile(PageUpdate& update, const UpdateEntry& entry,
                       const std::map<std::string, size_t>& dropped, OpenFile& stream) {
    FolderFile found{FolderFileState::None, -1, 0, 0};
    const SavedName& saved = entry.names[0];
    const auto at = saved.name.empty() ? dropped.end() : dropped.find(saved.key);
    if (!entry.chosen || at == dropped.end()) {
        return found;
    }
    found.name = 0;
    const std::string path = "/changed/" + std::to_string(at->second);
    errno = 0;
    stream.reset(fopen(path.c_str(), "rb"));
    int64_t length = -1;
    if (stream && fseeko(stream.get(), 0, SEEK_END) == 0) {
        length = ftello(stream.get());
    }
    const size_t want =
        static_cast<size_t>(std::max<int64_t>(0, std::min<int64_t>(length, entry.entry.size)));
    if (length < 0 || fseeko(stream.get(), 0, SEEK_SET) != 0 ||
        fread(update.newBytes.data(), 1, want, stream.get()) != want) {
        found.state = FolderFileState::Unreadable;
        found.error = errno != 0 ? errno : EIO;
        stream.reset();
        return found;
    }
    found.state = FolderFileState::Found;
    found.length = length;
    return found;
}

// Every dropped file with the entry that it stands for (the one whose file stands under its
// name) and what becomes of it, as d88update --json names outcomes; "left-out" for a file that
// no entry saves under.
json droppedFilesJson(const PageUpdate& update, const std::vector<std::string>& dropped) {
    const std::vector<NameTarget> targets{NameTarget::Zip};
    const std::vector<size_t> none = filesOfNoEntry(update.set, targets, BYTE_NAME_RULES, dropped);
    json files = json::array();
    for (size_t i = 0; i < dropped.size(); ++i) {
        json file{{"name", dropped[i]}, {"entry", nullptr}, {"outcome", "left-out"}};
        for (size_t k = 0; k < update.set.entries.size(); ++k) {
            const UpdateEntry& entry = update.set.entries[k];
            if (std::find(none.begin(), none.end(), i) == none.end() && entry.owner < 0 &&
                !entry.names[0].name.empty() && entry.names[0].key == dropped[i]) {
                file["entry"] = entry.index;
                file["outcome"] = updateOutcomeWord(update.plan.files[k].outcome);
            }
        }
        files.push_back(std::move(file));
    }
    return files;
}

// The names of the files dropped, sorted as d88update sorts those that no entry saves under.
std::vector<std::string> leftOutNames(const PageUpdate& update,
                                      const std::vector<std::string>& dropped) {
    std::vector<std::string> names;
    for (size_t i : filesOfNoEntry(update.set, {NameTarget::Zip}, BYTE_NAME_RULES, dropped)) {
        names.push_back(dropped[i]);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Decides every entry from the dropped files, as d88update decides it from a folder's.
void decideEntries(PageSession& session, PageUpdate& update,
                   const std::vector<std::string>& dropped) {
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < dropped.size(); ++i) {
        byName.emplace(dropped[i], i);
    }
    std::vector<FileUpdate> decided;
    update.owned.resize(update.set.entries.size());
    update.files.assign(update.set.entries.size(), nullptr);
    for (size_t i = 0; i < update.set.entries.size(); ++i) {
        // Located and read at once, while the reader holds the entry's tracks.
        locateEntrySectors(session.image, update.set.entries[i]);
        OpenFile stream;
        const FolderFile file = droppedFile(update, update.set.entries[i], byName, stream);
        decided.push_back(decideFileUpdate(session.image, update.set.entries[i], file,
                                           update.newBytes.data(), nullptr));
        if (decided.back().outcome == UpdateOutcome::PutBack) {
            update.files[i] = stream.get();
            update.owned[i] = std::move(stream);
        }
    }
    update.plan = finishUpdatePlan(update.set, std::move(decided));
    update.changes = updateChanges(update.set, update.plan);
}

// Why the new files do not read back as planned, in d88update's words; empty when they do. The
// check of d88update's (checkReadBack): what every entry must hold is known from the given files
// and the dropped ones.
std::string readBackProblem(PageSession& session, PageUpdate& update) {
    std::vector<KnownBytes> known;
    NewBytes source = newBytesOf(update.changes, update.plan, update.files);
    completeKnownBytes(session.image, update.set, update.plan, source, known,
                       update.expected.data());
    const ReadBack back = checkReadBack(update.readBack, update.set, update.plan, known);
    if (back.problem == ReadBackProblem::None) {
        return std::string();
    }
    const bool entry = back.problem == ReadBackProblem::OtherBytes;
    const UpdateEntry& planned = update.set.entries[entry ? back.entry : 0];
    return readBackText(back.problem, planned.index,
                        entry ? updateFileName(planned, update.plan.files[back.entry]) : "");
}

} // namespace

extern "C" {

// Decides what d88update decides for the session's set in layout `letter` and the files
// `dropped` (a JSON array of their names, mounted as /changed/0, ...), each file standing for
// the entry whose zip name it has. Sends the files with their entries and outcomes, the lines
// that d88update prints on standard output (`lines`) and its messages before it writes
// (`messages`, without "d88update: "), the new files' names (`output`: the download's name and
// the name of each file in it) and whether the new files are to be made (`writes`: nothing is
// refused). The session keeps the plan for d88web_update_write and d88web_update_check.
EMSCRIPTEN_KEEPALIVE bool d88web_update_plan(PageSession* session, const char* letter,
                                             const char* names) {
    const DirectoryLayout* layout = layoutByLetter(letter);
    const json given = json::parse(names, nullptr, false);
    if (session == nullptr || layout == nullptr || session->paths.empty() || !given.is_array()) {
        return false;
    }
    session->update.reset(new PageUpdate());
    PageUpdate& update = *session->update;
    std::vector<std::string> dropped;
    for (const json& name : given) {
        dropped.push_back(name.is_string() ? name.get<std::string>() : std::string());
    }
    for (const std::string& path : session->names) {
        update.outputs.push_back(lastName(path));
    }
    update.output =
        update.outputs.size() == 1 ? update.outputs[0] : session->zipName + "-updated.zip";
    const std::string& output = update.output;
    json document{{"writes", false},
                  {"files", json::array()},
                  {"lines", json::array()},
                  {"messages", json::array()},
                  {"output", json{{"name", output}, {"files", update.outputs}}}};
    const std::vector<std::string> refused = refusals(*session, *layout, dropped, output);
    if (!refused.empty()) {
        document["messages"] = refused;
        sendDocument(document);
        return true;
    }
    update.set =
        readUpdateSet(session->image, session->disks, session->plans.plans[layoutIndex(*layout)],
                      {NameTarget::Zip}, BYTE_NAME_RULES, chooseFiles({}, PatternText::Utf8));
    decideEntries(*session, update, dropped);
    const UpdatePlan& plan = update.plan;
    json lines = json::array();
    json messages = json::array();
    const std::vector<std::string> leftOut = leftOutNames(update, dropped);
    if (!leftOut.empty()) {
        messages.push_back(filesOfNoEntryText(CHANGED_FILES, leftOut));
    }
    for (size_t i = 0; i < update.set.entries.size(); ++i) {
        for (const json& line :
             printedLines([&](FILE* out) { printUpdateLines(update.set, plan, i, out); })) {
            lines.push_back(line);
        }
        const std::string refusal = printed(
            [&](FILE* out) { printUpdateRefusal(update.set, plan, i, "", CHANGED_FILES, out); });
        if (!refusal.empty()) {
            messages.push_back(refusal);
        }
    }
    if (plan.summary.refused > 0) {
        messages.push_back(refusedFilesText(plan.summary.refused));
    }
    document["writes"] = plan.summary.refused == 0;
    document["files"] = droppedFilesJson(update, dropped);
    document["lines"] = std::move(lines);
    document["messages"] = std::move(messages);
    sendDocument(document);
    return true;
}

// Hands the worker the new files of the plan, one after another through d88web_output: each
// given file's bytes with the changes made. False after sending what stopped it (the given files
// gave fewer bytes than when they were read), in d88update's words.
EMSCRIPTEN_KEEPALIVE bool d88web_update_write(PageSession* session) {
    if (session == nullptr || !session->update || session->update->plan.summary.refused > 0) {
        return false;
    }
    PageUpdate& update = *session->update;
    d88::D88Image& image = session->image;
    NewBytes source = newBytesOf(update.changes, update.plan, update.files);
    std::vector<uint8_t> chunk(static_cast<size_t>(CHUNK_BYTES));
    for (int part = 0; part < image.partCount(); ++part) {
        const int64_t end =
            part + 1 < image.partCount() ? image.partStart(part + 1) : image.fileSize();
        for (int64_t at = image.partStart(part); at < end;) {
            const int64_t want = std::min(end - at, CHUNK_BYTES);
            const int64_t got = readUpdatedBytes(image, source, at, chunk.data(), want);
            if (got < want) {
                sendDocument(
                    json{{"checked", false}, {"messages", json::array({givenFilesChangedText()})}});
                return false;
            }
            d88web_output(part, chunk.data(), static_cast<int>(got));
            at += got;
        }
    }
    return true;
}

// Reads the `count` new files, mounted as /output/0, ..., back as one image and checks them
// against the plan. Sends whether they hold what was planned (`checked`), and then the summary
// that d88update prints once it has written them, or else why not, in its words.
EMSCRIPTEN_KEEPALIVE bool d88web_update_check(PageSession* session, int count) {
    if (session == nullptr || !session->update || count != session->image.partCount()) {
        return false;
    }
    PageUpdate& update = *session->update;
    std::vector<std::string> paths;
    for (int part = 0; part < count; ++part) {
        paths.push_back("/output/" + std::to_string(part));
    }
    const std::vector<const char*> list = pathList(paths);
    std::string problem = cannotReadBackText();
    if (update.readBack.openParts(list.data(), count)) {
        problem = readBackProblem(*session, update);
    }
    update.readBack.close();
    if (!problem.empty()) {
        sendDocument(json{{"checked", false}, {"messages", json::array({problem})}});
        return true;
    }
    const std::string summary = printed([&](FILE* out) {
        printUpdateSummary(PROGRAM, update.plan.summary, update.output.c_str(), false, out);
    });
    sendDocument(
        json{{"checked", true}, {"messages", json::array()}, {"summary", withoutProgram(summary)}});
    return true;
}

// Forgets the session's putting back and closes the dropped files, before others are mounted.
EMSCRIPTEN_KEEPALIVE void d88web_update_close(PageSession* session) {
    if (session != nullptr) {
        session->update.reset();
    }
}

} // extern "C"
