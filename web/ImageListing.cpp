// The page's way into the plan. The worker mounts the files it was given (read in slices, never
// copied whole) as /input/0, /input/1, ... and calls these functions; what is decided reaches
// its script as JSON documents through the imports of PageSession.h (listing-imports.js). The page
// decides nothing itself: which files it leaves out, what it refuses, what it says of the files,
// which layout it lists, every entry's outcome, name and pieces, and where a sector read from
// several copies came from, come from here, in the words of d88extract.
#include "DiskSet.h"
#include "ImageFacts.h"
#include "LayoutText.h"
#include "MemberOrder.h"
#include "NoteText.h"
#include "PageSession.h"
#include "Plan.h"
#include "PlanJson.h"
#include "RunText.h"
#include "SetCounts.h"
#include "SetDownload.h"
#include "SetNotes.h"
#include "SetText.h"
#include "ZipPolicy.h"
#include "ZipRecords.h"
#include "ZipRefusalText.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <emscripten/emscripten.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using json = nlohmann::ordered_json;

SaveTarget zipTarget() {
    return SaveTarget{NameTarget::Zip, BYTE_NAME_RULES, {}};
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
json notesJson(const std::vector<SetNote>& notes, const DiskSetFacts& set,
               const ShownFiles& names) {
    json list = json::array();
    for (const SetNote& note : notes) {
        list.push_back(
            json{{"kind", kindWord(note.kind)}, {"text", setNoteText(note, set, names)}});
    }
    return list;
}

// The listing of the files kept: the image's document, and unless the notes refuse them the
// layout that d88extract reads without --layout, with d88info's layout line.
void listImage(PageSession& session, json& listing) {
    session.ids = readIdSectors(session.image);
    session.disks = identityDiskChoice(session.set);
    session.directory = readDirectory(session.image, session.disks, session.buffers);
    const SaveTarget target = zipTarget();
    const PlanSource source{session.image, session.disks, session.directory, target,
                            session.buffers};
    const ImagePlan plan = planImage(source, session.ids, session.plans, false);
    listing["image"] = imageDocument(plan, session.set, pathList(session.paths));
    if (!listing["refused"].get<bool>()) {
        const LayoutDecision decision = decideLayout(source, nullptr, session.plans);
        listing["layout_decision"] = layoutDecisionJson(decision, layoutLinesText(plan, false));
    }
}

// The lines about the sectors of a set read from several copies of a disk: for each written
// entry whose sectors came from copies, its merge line and contested sectors.
json entryCopyLines(const SetPlan& plan, const DiskFiles& files) {
    json lines = json::array();
    for (const PlannedEntry& entry : plan.entries) {
        if (!isWritten(entry.outcome) || entry.merged.origins.empty()) {
            continue;
        }
        const char* name = entry.saved.name.c_str();
        const std::string merge =
            printed([&](FILE* out) { printMergeLine(entry.merged, files, "", out); });
        json contested =
            printedLines([&](FILE* out) { printContested(entry.merged, files, name, out); });
        json runs = json::object();
        for (const auto& [taken, word] :
             {std::pair<SectorTaken, const char*>{SectorTaken::Repaired, "repaired"},
              {SectorTaken::Contested, "contested"},
              {SectorTaken::Voted, "voted"}}) {
            runs[word] = sectorRuns(sectorsTaken(entry.merged, taken));
        }
        if (!merge.empty()) {
            lines.push_back(json{{"index", entry.index},
                                 {"merge", merge},
                                 {"contested", contested},
                                 {"runs", std::move(runs)}});
        }
    }
    return lines;
}

// Hands the worker every entry's pieces and the inline bytes of voted sectors, as numbers and
// bytes rather than JSON, and leaves the entries without them.
void sendPieces(SetPlan& plan) {
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
}

} // namespace

extern "C" {

// Reads the `count` mounted files as one image, joined in the order given; `names` is a JSON
// array of their names as the page shows them. A file that holds no byte of any disk is left
// out (unless it lies past where the reader stops, at 64 disks or 2 GiB), and so is a file that
// starts where a disk header should be and holds none (a readme, a picture, a zip inside the
// zip): the files after it are then read as if it were not there. Sends the listing: the files
// kept and left out (by index as given), the image's document (which layout fits, with the
// disks known by their ID bytes), what d88extract says of the files before it writes (`notes`,
// and `refused` when one of them refuses the files), and unless refused the layout that
// d88extract reads without --layout, with d88info's layout line. Returns the session's handle,
// which the other calls take, or 0 when the files cannot be read.
EMSCRIPTEN_KEEPALIVE PageSession* d88web_open(int count, const char* names) {
    const json given = json::parse(names, nullptr, false);
    if (count < 1 || count > d88::MAX_IMAGE_PARTS || !given.is_array() ||
        given.size() != static_cast<size_t>(count)) {
        return nullptr;
    }
    std::unique_ptr<PageSession> session(new PageSession());
    std::vector<d88::ByteSource> sources;
    for (int part = 0; part < count; ++part) {
        FILE* file = fopen(("/input/" + std::to_string(part)).c_str(), "rb");
        if (file == nullptr) {
            return nullptr;
        }
        session->given.push_back(file);
        sources.push_back(d88::fileSource(file));
    }
    JoinedFiles joined;
    if (!decideJoinedFiles(session->image, sources, joined)) {
        return nullptr;
    }
    for (int part : joined.kept) {
        session->paths.push_back("/input/" + std::to_string(part));
        const json& name = given[static_cast<size_t>(part)];
        session->names.push_back(name.is_string() ? name.get<std::string>() : std::string("?"));
    }
    session->set = joined.set;
    json listing{{"files", joined.kept}, {"left_out", joined.leftOut},
                 {"image", nullptr},     {"notes", nullptr},
                 {"refused", false},     {"layout_decision", nullptr}};
    if (joined.kept.empty()) { // d88extract's refusal of the files as given
        ShownFiles all;
        for (const json& name : given) {
            all.push_back(name.is_string() ? name.get<std::string>() : std::string("?"));
        }
        const std::vector<SetNote> notes = decideSetNotes(joined.givenSet, joined.givenSize);
        listing["notes"] = notesJson(notes, joined.givenSet, all);
        listing["refused"] = refusesFiles(notes);
    } else {
        const std::vector<SetNote> notes = decideSetNotes(session->set, session->image.fileSize());
        listing["notes"] = notesJson(notes, session->set, session->names);
        listing["refused"] = refusesFiles(notes);
        listImage(*session, listing);
    }
    sendDocument(listing);
    return session.release();
}

// Forgets the session that d88web_open made.
EMSCRIPTEN_KEEPALIVE void d88web_close(PageSession* session) {
    delete session;
}

// Sends the set's plan in layout "a" or "b" of the session's image, with the zip's names, every
// file's pieces and inline bytes, and the lines that d88extract prints of it: those of -n before
// and after the entries (the disks that entries need and no file holds, the directory's sectors
// not read whole), and, for a set read from several copies of a disk, which sectors came from
// where and which are contested. Where d88extract --layout would list nothing (the layout
// yields no file), sends only the `layout_decision` that says why.
EMSCRIPTEN_KEEPALIVE bool d88web_list_set(PageSession* session, const char* letter) {
    const DirectoryLayout* layout = layoutByLetter(letter);
    if (session == nullptr || layout == nullptr || session->paths.empty()) {
        return false;
    }
    const SaveTarget target = zipTarget();
    const PlanSource source{session->image, session->disks, session->directory, target,
                            session->buffers};
    const LayoutDecision decision = decideLayout(source, layout, session->plans);
    if (decision.problem != LayoutProblem::None) {
        sendDocument(json{{"layout_decision", layoutDecisionJson(decision, "")}});
        return true;
    }
    SetPlan plan = session->plans.plans[layoutIndex(*layout)];
    const DiskSetFacts& set = session->set;
    DiskFiles files;
    for (int disk = 0; disk < session->image.diskCount(); ++disk) {
        files.push_back(copyName(set, session->names, placeOfDisk(set, disk)));
    }
    const json entryLines = entryCopyLines(plan, files);
    json notes = json::array();
    for (const MissingDisk& missing : plan.missingDisks) {
        notes.push_back(
            json{{"kind", "damage"}, {"text", missingDiskText(missing, plan, nullptr)}});
    }
    for (const DirectoryNote& note : decideDirectoryNotes(plan.directory, plan.layout)) {
        notes.push_back(
            json{{"kind", "damage"},
                 {"text", directoryNoteText(note, plan.directory, set, session->names)}});
    }
    sendPieces(plan); // the entries go without their pieces from here
    json document{{"set", setDocument(plan, set, pathList(session->paths),
                                      session->image.diskCount(), session->image.fileSize())},
                  {"summary", printed([&](FILE* out) { printSetSummary(countSet(plan), out); })},
                  {"set_notes", std::move(notes)},
                  {"saved", savedEntries(plan)},
                  {"directory_copies", json{{"merge", printed([&](FILE* out) {
                                                 printMergeLine(plan.directory.merge, files,
                                                                "the directory's ", out);
                                             })}}},
                  {"entry_copies", entryLines}};
    sendDocument(document);
    return true;
}

} // extern "C"

// ---- Zips: the page reads them through zip.js and applies the zip policy decided here, as
// d88extract applies it; and the order and the zip's name of the files it is given. ----

namespace {

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    return bytes;
}

int64_t number(const json& value) {
    return value.is_number() ? value.get<int64_t>() : -1;
}

// A member as the page reads it from zip.js: {name (the stored bytes in hex), utf8, made_by,
// attributes, method, encrypted, crc32, size, compressed, offset}.
ZipEntryFacts entryFacts(const json& member) {
    return ZipEntryFacts{fromHex(member.value("name", "")),
                         member.value("utf8", false),
                         static_cast<int>(number(member["made_by"])),
                         static_cast<uint32_t>(number(member["attributes"])),
                         static_cast<int>(number(member["method"])),
                         member.value("encrypted", false),
                         static_cast<uint32_t>(number(member["crc32"])),
                         number(member["size"]),
                         number(member["compressed"]),
                         number(member["offset"])};
}

// A member's local header: {found, data_start, data_end, crc32, size, compressed}.
ZipLocalFacts localFacts(const json& local) {
    return ZipLocalFacts{local.value("found", false), number(local["data_start"]),
                         number(local["data_end"]),   static_cast<uint32_t>(number(local["crc32"])),
                         number(local["size"]),       number(local["compressed"])};
}

// The verdict's text in the page's words, or null.
json refusalJson(const std::string& zip, const std::vector<ZipEntryFacts>& entries,
                 const ZipVerdict& verdict) {
    if (verdict.refusal == ZipRefusal::None) {
        return nullptr;
    }
    const std::string member =
        verdict.member >= 0 ? memberShownName(entries[static_cast<size_t>(verdict.member)]) : "";
    return zipRefusalText("the page", zip, member, verdict);
}

} // namespace

extern "C" {

// Whether the mounted file `path`, given to the page, is read as a zip, as d88extract decides
// (isZipFile: a D88 disk, or a piece of one, whose first bytes are a zip's is no zip).
EMSCRIPTEN_KEEPALIVE bool d88web_is_zip(const char* path) {
    d88::D88Image given;
    return given.open(path) && isZipFile(given);
}

// The order in which the files are joined, as d88extract joins a zip's members: `names` is a
// JSON array of {stored (the name's bytes in hex), path (as shown)}. Sends {"order": indexes}.
EMSCRIPTEN_KEEPALIVE void d88web_order(const char* names) {
    const json given = json::parse(names, nullptr, false);
    std::vector<JoinedName> joined;
    std::vector<int> order;
    for (const json& name : given.is_array() ? given : json::array()) {
        joined.push_back(JoinedName{fromHex(name.value("stored", "")), name.value("path", "")});
        order.push_back(static_cast<int>(order.size()));
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return joinedNameComesBefore(joined[static_cast<size_t>(a)],
                                     joined[static_cast<size_t>(b)]);
    });
    sendDocument(json{{"order", order}});
}

// The zip policy on what the page has read of the zip `request.zip` so far: its `entries` (or
// why zip.js reads none, `unreadable`), the files and zips of the pick beside it (`others`,
// `before`), then the `locals` of the files to
// read (in the order of `files`), then what one of them (`unpacked.member`) unpacked to
// (`bytes`, `crc_matches`) or why zip.js could not unpack it (`failure`). Sends the members to
// read (`files`) and to leave out (`not_files`), every member's name as shown, what the files
// declare together, and `refused`, the refusal in d88extract's words, or null.
EMSCRIPTEN_KEEPALIVE void d88web_zip(const char* request) {
    const json asked = json::parse(request, nullptr, false);
    if (!asked.is_object()) {
        return;
    }
    const std::string zip = asked.value("zip", "");
    std::vector<ZipEntryFacts> entries;
    json names = json::array();
    for (const json& member : asked.contains("entries") ? asked["entries"] : json::array()) {
        entries.push_back(entryFacts(member));
        names.push_back(memberShownName(entries.back()));
    }
    const ZipPlan plan =
        planZip(entries, ZipRunSoFar{number(asked["others"]), number(asked["before"])});
    ZipVerdict verdict = plan.verdict;
    if (asked.contains("unreadable")) { // zip.js reads no directory
        verdict = ZipVerdict{};
        verdict.refusal = ZipRefusal::Unreadable;
        verdict.detail = asked.value("unreadable", "");
    }
    if (verdict.refusal == ZipRefusal::None && asked.contains("locals")) {
        std::vector<ZipLocalFacts> locals;
        for (const json& local : asked["locals"]) {
            locals.push_back(localFacts(local));
        }
        verdict = checkLocalHeaders(entries, plan, locals, number(asked["zip_size"]));
    }
    const json& unpacked = asked.contains("unpacked") ? asked["unpacked"] : json();
    const int member = static_cast<int>(number(unpacked.is_object() ? unpacked["member"] : json()));
    if (verdict.refusal == ZipRefusal::None && member >= 0 &&
        static_cast<size_t>(member) < entries.size()) {
        if (unpacked.contains("failure")) {
            verdict.refusal = ZipRefusal::Damaged;
            verdict.damage = ZipDamage::Unpacking;
            verdict.member = member;
            verdict.detail = unpacked.value("failure", "");
        } else {
            verdict =
                checkUnpacked(entries[static_cast<size_t>(member)], member,
                              number(unpacked["bytes"]), unpacked.value("crc_matches", false));
        }
    }
    sendDocument(json{{"files", plan.files},
                      {"not_files", plan.notFiles},
                      {"names", std::move(names)},
                      {"unpacked_bytes", plan.unpackedBytes},
                      {"refused", refusalJson(zip, entries, verdict)}});
}

// The name of the zip that "Download all" saves, without ".zip", for the files `given` (a JSON
// array of their names as picked) and the session's image. Sends {"zip_name"}.
EMSCRIPTEN_KEEPALIVE void d88web_zip_name(PageSession* session, const char* given) {
    const json names = json::parse(given, nullptr, false);
    std::vector<std::string> picked;
    for (const json& name : names.is_array() ? names : json::array()) {
        picked.push_back(name.is_string() ? name.get<std::string>() : std::string());
    }
    d88::DiskHeader header{};
    const bool named = session != nullptr && session->set.directoryDisk >= 0 &&
                       session->image.diskHeader(session->set.directoryDisk, header);
    const std::string zipName = setZipName(picked, named ? header.name : nullptr);
    if (session != nullptr) {
        session->zipName = zipName;
    }
    sendDocument(json{{"zip_name", zipName}});
}

} // extern "C"
