// The page's way into the plan. The worker mounts the files it was given (read in slices, never
// copied whole) as /input/0, /input/1, ... and calls these functions; what is decided reaches
// its script as JSON documents through the import below (listing-imports.js). The page decides
// nothing itself: which files it leaves out, what it refuses, what it says of the files, which
// layout it lists, every entry's outcome, name and pieces, and where a sector read from several
// copies came from, come from here, in the words of d88extract.
#include "DiskSet.h"
#include "ImageFacts.h"
#include "LayoutText.h"
#include "MemberOrder.h"
#include "Plan.h"
#include "PlanJson.h"
#include "RunText.h"
#include "SetNotes.h"
#include "SetText.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <emscripten/emscripten.h>
#include <string>
#include <vector>

extern "C" {
// A JSON document of `length` bytes of UTF-8: the listing of the files, or a layout's set.
void d88web_document(const char* json, int length);
// The pieces of every entry of the set sent next, `count` numbers: for each entry in order the
// number of its pieces, then file, offset and length of each. Numbers in an array cost far less
// than tens of thousands of JSON objects; the worker puts them back into the document. A piece
// of file -1 is `length` bytes of the inline bytes, from `offset`.
void d88web_pieces(const double* numbers, int count);
// The inline bytes of the set sent next: the sectors voted from several copies, which no given
// file holds as such, of every entry one after another.
void d88web_inline(const uint8_t* bytes, int length);
}

namespace {

using json = nlohmann::ordered_json;

d88::D88Image image;
WalkBuffers buffers;
DiskSetFacts set;
DiskChoice disks;
std::vector<std::string> keptPaths; // the mounted files that the image is read from, in order
std::vector<std::string> keptNames; // their names, as the page shows them

SaveTarget zipTarget() {
    return SaveTarget{NameTarget::Zip, BYTE_NAME_RULES, {}};
}

const DirectoryLayout* layoutByLetter(const char* letter) {
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        if (strcmp(layout->letter, letter) == 0) {
            return layout;
        }
    }
    return nullptr;
}

std::vector<const char*> pathList() {
    std::vector<const char*> paths;
    for (const std::string& path : keptPaths) {
        paths.push_back(path.c_str());
    }
    return paths;
}

bool openKept() {
    const std::vector<const char*> paths = pathList();
    return image.openParts(paths.data(), static_cast<int>(paths.size()));
}

void sendDocument(const json& document) {
    const std::string text = dumpJson(document);
    d88web_document(text.data(), static_cast<int>(text.size()));
}

// What `print` writes, without its last line feed.
template <typename Print> std::string printed(Print print) {
    char* buffer = nullptr;
    size_t length = 0;
    FILE* text = open_memstream(&buffer, &length);
    if (text == nullptr) {
        return std::string();
    }
    print(text);
    fclose(text);
    std::string result(buffer, length);
    free(buffer);
    if (!result.empty() && result.back() == '\n') {
        result.pop_back();
    }
    return result;
}

// The lines of `text`, without their line feeds.
json textLines(const std::string& text) {
    json lines = json::array();
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The lines that `print` writes, without their line feeds.
template <typename Print> json printedLines(Print print) {
    return textLines(printed(print));
}

// The layout that d88extract reads, as the page is told it: the one `listed`, or null where
// d88extract lists nothing; the `note` to show, `lines` when one is listed and otherwise why
// not, in d88extract's words; and the layouts that yield files, of which the user is to
// `choose` one when none is listed.
json layoutDecisionJson(const LayoutDecision& decision, const std::string& lines) {
    json choose = json::array();
    if (decision.problem == LayoutProblem::None) {
        return json{
            {"listed", decision.layout->letter}, {"note", textLines(lines)}, {"choose", choose}};
    }
    for (int i = 0; i < 2; ++i) {
        if (decision.files[i] > 0) {
            choose.push_back(SET_LAYOUTS[i]->letter);
        }
    }
    return json{{"listed", nullptr},
                {"note", json::array({layoutProblemText(decision)})},
                {"choose", choose}};
}

const char* kindWord(NoteKind kind) {
    switch (kind) {
    case NoteKind::Refusal:
        return "refusal";
    case NoteKind::Damage:
        return "damage";
    case NoteKind::Note:
        break;
    }
    return "note";
}

// The notes as the page shows them: {"kind", "text"}, in the order d88extract prints them.
json notesJson(const std::vector<SetNote>& notes) {
    json list = json::array();
    for (const SetNote& note : notes) {
        list.push_back(json{{"kind", kindWord(note.kind)}, {"text", note.text}});
    }
    return list;
}

bool refuses(const std::vector<SetNote>& notes) {
    return std::any_of(notes.begin(), notes.end(),
                       [](const SetNote& note) { return note.kind == NoteKind::Refusal; });
}

// The file of each disk, by disk index, as the merge lines name it: the one its header starts in.
DiskFiles diskFiles() {
    DiskFiles files;
    for (const FoundDisk& disk : set.disks) {
        files.push_back(keptNames[static_cast<size_t>(disk.part)]);
    }
    return files;
}

} // namespace

extern "C" {

// Whether the file named `a` is joined before the one named `b` when the page sorts the files it
// is given and the members of the zips among them: the order d88extract gives a zip's members.
EMSCRIPTEN_KEEPALIVE bool d88web_member_before(const char* a, const char* b) {
    return memberComesBefore(a, b);
}

// Reads the `count` mounted files as one image, joined in the order given; `names` is a JSON
// array of their names as the page shows them. A file that holds no byte of any disk is left
// out (unless it lies past where the reader stops, at 64 disks or 2 GiB), and so is a file that
// starts where a disk header should be and holds none (a readme, a picture, a zip inside the
// zip): the files after it are then read as if it were not there. Sends the listing: the files
// kept and left out (by index as given), the image's document (which layout fits, with the
// disks known by their ID bytes), what d88extract says of the files before it writes (`notes`,
// and `refused` when one of them refuses the files), and unless refused the layout that
// d88extract reads without --layout, with d88info's layout line. Returns the number of disks
// found, -1 when the files cannot be read.
EMSCRIPTEN_KEEPALIVE int d88web_open(int count, const char* names) {
    const json given = json::parse(names, nullptr, false);
    if (count < 1 || count > d88::MAX_IMAGE_PARTS || !given.is_array() ||
        given.size() != static_cast<size_t>(count)) {
        return -1;
    }
    struct Opener {
        const json& given;
        int64_t givenSize; // the size of all the files, once they were opened together
        static bool open(const std::vector<int>& kept, void* context) {
            Opener& opener = *static_cast<Opener*>(context);
            const json& names = opener.given;
            keptPaths.clear();
            keptNames.clear();
            for (int part : kept) {
                keptPaths.push_back("/input/" + std::to_string(part));
                const json& name = names[static_cast<size_t>(part)];
                keptNames.push_back(name.is_string() ? name.get<std::string>() : std::string("?"));
            }
            if (!openKept()) {
                return false;
            }
            if (opener.givenSize < 0) {
                opener.givenSize = image.fileSize();
            }
            return true;
        }
    } opener{given, -1};
    JoinedFiles joined;
    if (!decideJoinedFiles(image, count, Opener::open, &opener, joined)) {
        return -1;
    }
    const std::vector<int>& kept = joined.kept;
    const std::vector<int>& leftOut = joined.leftOut;
    set = joined.set;
    std::vector<SetNote> notes;
    if (kept.empty()) { // d88extract's refusal of the files as given
        std::vector<std::string> givenNames;
        for (const json& name : given) {
            givenNames.push_back(name.is_string() ? name.get<std::string>() : std::string("?"));
        }
        notes = diskSetNotes(joined.givenSet, givenNames, opener.givenSize);
    } else {
        notes = diskSetNotes(set, keptNames, image.fileSize());
    }
    json listing{{"files", kept},
                 {"left_out", leftOut},
                 {"image", nullptr},
                 {"notes", notesJson(notes)},
                 {"refused", refuses(notes)},
                 {"layout_decision", nullptr}};
    if (kept.empty()) {
        keptPaths.clear();
        keptNames.clear();
        image.close();
        set = DiskSetFacts{};
        sendDocument(listing);
        return 0;
    }
    disks = identityDiskChoice(set);
    const ImagePlan plan = planImage(image, disks, zipTarget(), buffers, false);
    listing["image"] = imageDocument(plan, set, pathList());
    if (!listing["refused"].get<bool>()) {
        const LayoutDecision decision = decideLayout(image, disks, zipTarget(), buffers, nullptr);
        listing["layout_decision"] = layoutDecisionJson(decision, layoutLinesText(plan, false));
    }
    sendDocument(listing);
    return static_cast<int>(set.disks.size());
}

// Sends the set's plan in layout "a" or "b" of the open image, with the zip's names, every
// file's pieces and inline bytes, and the lines that d88extract prints of it: those of -n before
// and after the entries, the disks that entries need and no file holds, and, for a set read
// from several copies of a disk, which sectors came from where and which are contested. Where
// d88extract --layout would list nothing (the layout yields no file), sends only the
// `layout_decision` that says why.
EMSCRIPTEN_KEEPALIVE bool d88web_list_set(const char* letter) {
    const DirectoryLayout* layout = layoutByLetter(letter);
    if (layout == nullptr || keptPaths.empty() || image.partCount() == 0) {
        return false;
    }
    const LayoutDecision decision = decideLayout(image, disks, zipTarget(), buffers, layout);
    if (decision.problem != LayoutProblem::None) {
        sendDocument(json{{"layout_decision", layoutDecisionJson(decision, "")}});
        return true;
    }
    SetPlan plan = planSet(image, disks, *layout, zipTarget(), buffers);
    const DiskFiles files = diskFiles();
    json entryLines = json::array();
    for (const PlannedEntry& entry : plan.entries) {
        if (!isWritten(entry.outcome) || entry.merged.origins.empty()) {
            continue;
        }
        const char* name = entry.saved.name.c_str();
        const std::string merge =
            printed([&](FILE* out) { printMergeLine(entry.merged, files, "", out); });
        json contested =
            printedLines([&](FILE* out) { printContested(entry.merged, files, name, out); });
        if (!merge.empty()) {
            entryLines.push_back(
                json{{"index", entry.index}, {"merge", merge}, {"contested", contested}});
        }
    }
    std::vector<double> pieces;
    std::vector<uint8_t> inlineBytes;
    for (PlannedEntry& entry : plan.entries) {
        const double inlineStart = static_cast<double>(inlineBytes.size());
        inlineBytes.insert(inlineBytes.end(), entry.merged.inlineBytes.begin(),
                           entry.merged.inlineBytes.end());
        pieces.push_back(static_cast<double>(entry.pieces.size()));
        for (const Piece& piece : entry.pieces) {
            const double base = piece.part == INLINE_PIECE ? inlineStart : 0.0;
            pieces.insert(pieces.end(), {static_cast<double>(piece.part),
                                         static_cast<double>(piece.offset) + base,
                                         static_cast<double>(piece.length)});
        }
        entry.pieces.clear();
    }
    d88web_pieces(pieces.data(), static_cast<int>(pieces.size()));
    d88web_inline(inlineBytes.data(), static_cast<int>(inlineBytes.size()));
    const std::string directoryMerge = printed(
        [&](FILE* out) { printMergeLine(plan.directoryMerge, files, "the directory's ", out); });
    json directoryContested =
        printedLines([&](FILE* out) { printContested(plan.directoryMerge, files, nullptr, out); });
    sendDocument(
        json{{"set", setDocument(plan, set, pathList(), image.diskCount(), image.fileSize())},
             {"summary", printed([&](FILE* out) { printSetSummary(plan.summary, out); })},
             {"directory_errors", printed([&](FILE* out) { printDirectoryErrors(plan, out); })},
             {"missing_disks", notesJson(missingDiskNotes(plan, nullptr))},
             {"directory_copies",
              json{{"merge", directoryMerge}, {"contested", std::move(directoryContested)}}},
             {"entry_copies", std::move(entryLines)}});
    return true;
}

} // extern "C"
