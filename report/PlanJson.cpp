#include "PlanJson.h"

#include "CopyCompare.h"
#include "ShiftJis.h"

#include <algorithm>
#include <cstring>

using json = nlohmann::ordered_json;

std::string hexText(const uint8_t* bytes, size_t length) {
    static const char HEX[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        text += HEX[bytes[i] >> 4];
        text += HEX[bytes[i] & 0xF];
    }
    return text;
}

namespace {

const char* walkEndWord(d88::WalkEnd end) {
    switch (end) {
    case d88::WalkEnd::NotYet:
        return "not-yet";
    case d88::WalkEnd::TrackCount:
        return "track-count";
    case d88::WalkEnd::ZeroCount:
        return "zero-count";
    case d88::WalkEnd::EndOfFile:
        return "end-of-file";
    case d88::WalkEnd::RecordLimit:
        return "record-limit";
    }
    return "not-yet";
}

json trackJson(const TrackFacts& track) {
    json records = json::array();
    for (const RecordFacts& record : track.records) {
        records.push_back(json{{"c", record.id.c},
                               {"h", record.id.h},
                               {"r", record.id.r},
                               {"n", record.id.n},
                               {"status", record.marks.status},
                               {"deleted", record.marks.deleted == d88::DELETED_DATA_MARK},
                               {"single_density", record.marks.density == d88::SINGLE_DENSITY},
                               {"length", record.dataLength}});
    }
    return json{
        {"index", track.index},          {"record_count", track.recordCount},
        {"records", std::move(records)}, {"listing_cut", track.recordCount > MAX_LISTED_RECORDS},
        {"end", walkEndWord(track.end)}, {"past_disk_end", track.pastDiskEnd}};
}

json nullOr(bool present, json value) {
    return present ? std::move(value) : json(nullptr);
}

json runErrorsJson(const RunErrors& errors) {
    return json{{"sectors", errors.sectors}, {"error_sectors", errors.errorSectors}};
}

const char* fitWord(LayoutFit fit) {
    switch (fit) {
    case LayoutFit::A:
        return "a";
    case LayoutFit::B:
        return "b";
    case LayoutFit::Both:
        return "both";
    case LayoutFit::Neither:
        break;
    }
    return nullptr;
}

const char* targetWord(NameTarget target) {
    switch (target) {
    case NameTarget::Host:
        return "host";
    case NameTarget::Utf8:
        return "utf-8";
    case NameTarget::Zip:
        return "zip";
    }
    return "host";
}

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool isUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const uint8_t lead = *p;
        int length = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            ++p;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (end - p < length) {
            return false;
        }
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (p[i] & 0x3F);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            return false;
        }
        p += length;
    }
    return true;
}

json hexJson(const std::string& bytes) {
    return json(hexText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

json pathsJson(const std::vector<const char*>& paths) {
    json list = json::array();
    for (const char* path : paths) {
        list.push_back(pathJson(path));
    }
    return list;
}

json outcomeMeanings() {
    json meanings = json::object();
    for (const OutcomeWording& wording : OUTCOME_WORDINGS) {
        meanings[wording.word] = wording.meaning;
    }
    return meanings;
}

json piecesJson(const PlannedEntry& planned) {
    json pieces = json::array();
    for (const Piece& piece : planned.pieces) {
        if (piece.part == INLINE_PIECE) { // voted bytes, which no file holds as such
            pieces.push_back(
                json{{"bytes", hexText(planned.merged.inlineBytes.data() + piece.offset,
                                       static_cast<size_t>(piece.length))}});
        } else {
            pieces.push_back(
                json{{"file", piece.part}, {"offset", piece.offset}, {"length", piece.length}});
        }
    }
    return pieces;
}

json sourcesJson(const PlannedEntry& planned) {
    json sources = json::array();
    for (int part : planned.sources) {
        sources.push_back(part == INLINE_PIECE ? json(nullptr) : json(part));
    }
    return sources;
}

// How a run read from several copies was merged: the sectors repaired, contested and voted,
// and for the contested and voted ones how many copies agreed.
json mergeJson(const MergedRun& merged) {
    const auto counts = [&](SectorTaken taken) {
        json list = json::array();
        for (int sector : sectorsTaken(merged, taken)) {
            const SectorOrigin& origin = merged.origins[static_cast<size_t>(sector)];
            list.push_back(
                json{{"agree", origin.agree}, {"copies", origin.among}, {"tie", origin.tie}});
        }
        return list;
    };
    return json{{"repaired", sectorsTaken(merged, SectorTaken::Repaired)},
                {"contested", sectorsTaken(merged, SectorTaken::Contested)},
                {"voted", sectorsTaken(merged, SectorTaken::Voted)},
                {"contest_counts", counts(SectorTaken::Contested)},
                {"vote_counts", counts(SectorTaken::Voted)}};
}

// The disks of `group` (places in set.disks) by their image indexes.
json diskIndexes(const DiskSetFacts& set, const std::vector<int>& group) {
    json indexes = json::array();
    for (int disk : group) {
        indexes.push_back(set.disks[static_cast<size_t>(disk)].index);
    }
    return indexes;
}

// The disks after the first copy of `number` whose sectors differ from the first's.
std::vector<int> differingCopies(const SetNumber& number) {
    std::vector<int> differ;
    for (size_t g = 1; g < number.groups.size(); ++g) {
        differ.insert(differ.end(), number.groups[g].begin(), number.groups[g].end());
    }
    std::sort(differ.begin(), differ.end());
    return differ;
}

json copiesJson(const DiskSetFacts& set) {
    json copies = json::array();
    for (const SetNumber& number : set.numbers) {
        json files = json::array();
        json groups = json::array();
        for (int disk : number.disks) {
            files.push_back(set.disks[static_cast<size_t>(disk)].part);
        }
        for (const std::vector<int>& group : number.groups) {
            groups.push_back(diskIndexes(set, group));
        }
        copies.push_back(json{{"id", number.id},
                              {"label", diskLabel(number.id)},
                              {"disks", diskIndexes(set, number.disks)},
                              {"files", std::move(files)},
                              {"differ", diskIndexes(set, differingCopies(number))},
                              {"groups", std::move(groups)}});
    }
    return copies;
}

const char* differenceWord(CopyDifference what) {
    switch (what) {
    case CopyDifference::Missing:
        return "missing";
    case CopyDifference::Status:
        return "status";
    case CopyDifference::Data:
        return "data";
    }
    return "data";
}

json differencesJson(const CopyDifferences& differences) {
    json list = json::array();
    for (const SectorDifference& difference : differences.listed) {
        list.push_back(json{{"track", difference.track},
                            {"c", difference.id.c},
                            {"h", difference.id.h},
                            {"r", difference.id.r},
                            {"n", difference.id.n},
                            {"disk", difference.disk},
                            {"what", differenceWord(difference.what)}});
    }
    return json{{"count", differences.total},
                {"sector_count", differences.sectors},
                {"sectors", std::move(list)}};
}

const char* idSectorWord(IdSector state) {
    switch (state) {
    case IdSector::Clean:
        return "clean";
    case IdSector::Missing:
        return "missing";
    case IdSector::Cut:
        return "cut";
    case IdSector::ReadError:
        return "read-error";
    }
    return "missing";
}

const char* problemWord(SectorProblem problem) {
    switch (problem) {
    case SectorProblem::Missing:
        return "missing";
    case SectorProblem::Cut:
        return "cut";
    case SectorProblem::ReadError:
        return "read-error";
    case SectorProblem::Contested:
        return "contested";
    case SectorProblem::NotRead:
        return "not-read";
    }
    return "missing";
}

// How the directory's sectors were read, and those not read whole and clean.
json directoryJson(const SetPlan& plan) {
    json sectors = json::array();
    for (const DirectorySector& sector : plan.directory.sectors) {
        sectors.push_back(json{{"bytes", sector.bytes},
                               {"found", sector.found},
                               {"read_error", sector.origin.readError}});
    }
    json problems = json::array();
    for (const DirectoryNote& note : decideDirectoryNotes(plan.directory, plan.layout)) {
        problems.push_back(
            json{{"sector", note.sector},
                 {"problem", problemWord(note.problem)},
                 {"bytes", note.bytes},
                 {"entries", note.firstEntry >= 0 ? json::array({note.firstEntry, note.lastEntry})
                                                  : json(nullptr)}});
    }
    return json{{"sectors", std::move(sectors)},
                {"problems", std::move(problems)},
                {"unreadable_entries", plan.unreadable}};
}

json countsJson(const SetCounts& counts) {
    return json{{"files", counts.files},
                {"bytes", counts.bytes},
                {"incomplete", counts.incomplete},
                {"not_written", counts.notWritten},
                {"passed_over", counts.passedOver},
                {"unreadable", counts.unreadable},
                {"with_read_errors", counts.withReadErrors},
                {"repaired", counts.repaired},
                {"contested", counts.contested},
                {"voted", counts.voted}};
}

json missingDisksJson(const SetPlan& plan) {
    json missing = json::array();
    for (const MissingDisk& disk : plan.missingDisks) {
        missing.push_back(
            json{{"id", disk.id}, {"label", diskLabel(disk.id)}, {"entries", disk.entries}});
    }
    return missing;
}

} // namespace

// Everything of the image document but its disks.
json imageHead(const ImagePlan& plan, const DiskSetFacts& set,
               const std::vector<const char*>& paths,
               const std::vector<CopyDifferences>* differences) {
    json layouts = nullptr;
    if (plan.enoughDisks) {
        layouts = json::object();
        for (int i = 0; i < 2; ++i) {
            layouts[SET_LAYOUTS[i]->letter] =
                json{{"files", plan.files[i]}, {"program", SET_LAYOUTS[i]->programName}};
        }
    }
    const char* fit = fitWord(plan.fit);
    return json{
        {"version", PLAN_JSON_VERSION},
        {"image", pathJson(paths[0])},
        {"images", pathsJson(paths)},
        {"file_size", plan.fileSize},
        {"disk_count", plan.diskCount},
        {"set", diskSetJson(set, differences)},
        {"disks", json::array()},
        {"layouts", std::move(layouts)},
        {"fits", fit != nullptr ? json(fit) : json(nullptr)},
        {"hints", json{{"fewer_than_four_disks", !holdsEnoughDisks(plan.diskCount)},
                       {"disk_a_at", nullOr(plan.diskAElsewhere >= 0, plan.diskAElsewhere)}}}};
}

json pathJson(const char* path) {
    const std::string text = path;
    if (isUtf8(text)) {
        return json(text);
    }
    return json{{"bytes", hexJson(text)}, {"text", nullptr}};
}

json nameJson(const std::string& bytes) {
    std::string text;
    const bool decodes = shiftJisToUtf8(bytes.data(), bytes.size(), text);
    return json{{"bytes", hexText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())},
                {"text", decodes ? json(text) : json(nullptr)}};
}

json diskJson(const DiskFacts& disk) {
    const bool read = disk.headerRead;
    json tracks = json::array();
    for (const TrackFacts& track : disk.tracks) {
        tracks.push_back(trackJson(track));
    }
    return json{
        {"index", disk.index},
        {"header_read", read},
        {"offset", nullOr(read, disk.offset)},
        {"size", nullOr(read, disk.size)},
        {"media", nullOr(read, disk.media)},
        {"media_name", nullOr(read && mediaName(disk.media) != nullptr,
                              mediaName(disk.media) != nullptr ? mediaName(disk.media) : "")},
        {"write_protect", nullOr(read, disk.writeProtect)},
        {"is_disk", read && disk.isDisk},
        {"file", nullOr(read, disk.part)},
        {"name", nullOr(read, nameJson(disk.name))},
        {"set_id", nullOr(read && disk.id.byte >= 0, disk.id.byte)},
        {"id_sector", nullOr(read, idSectorWord(disk.id.state))},
        {"past_file_end", disk.pastFileEnd},
        {"size_zero", disk.sizeZero},
        {"unread_after", disk.unreadAfter},
        {"leftover_after", disk.leftoverAfter},
        {"read_errors", nullOr(disk.readErrorsCounted, disk.readErrorRecords)},
        {"tracks_listed", disk.tracksListed},
        {"tracks", std::move(tracks)}};
}

json diskSetJson(const DiskSetFacts& facts, const std::vector<CopyDifferences>* differences) {
    json numbers = json::array();
    for (const SetNumber& number : facts.numbers) {
        json listed = nullptr;
        for (size_t i = 0; differences != nullptr && i < differences->size(); ++i) {
            if ((*differences)[i].number == number.id) {
                listed = differencesJson((*differences)[i]);
            }
        }
        json groups = json::array();
        for (const std::vector<int>& group : number.groups) {
            groups.push_back(diskIndexes(facts, group));
        }
        numbers.push_back(json{{"id", number.id},
                               {"label", diskLabel(number.id)},
                               {"disks", diskIndexes(facts, number.disks)},
                               {"differ", diskIndexes(facts, differingCopies(number))},
                               {"groups", std::move(groups)},
                               {"differences", std::move(listed)}});
    }
    json cut = json::array();
    json placed = json::array();
    for (const FoundDisk& disk : facts.disks) {
        if (disk.pastEnd || disk.cutBy >= 0) {
            cut.push_back(json{{"disk", disk.index},
                               {"file", disk.part},
                               {"cut_by", nullOr(disk.cutBy >= 0, disk.cutBy)}});
        }
        if (disk.id.state != IdSector::Clean && disk.repeatOf < 0) {
            placed.push_back(
                json{{"disk", disk.index},
                     {"id_sector", idSectorWord(disk.id.state)},
                     {"set_number", nullOr(disk.setNumber != NO_SET_NUMBER, disk.setNumber)}});
        }
    }
    json stray = json::array();
    for (const StrayBytes& bytes : facts.stray) {
        stray.push_back(json{{"file", bytes.part}, {"at", bytes.start}, {"length", bytes.length}});
    }
    json otherIds = json::array();
    for (int place : facts.otherIds) {
        otherIds.push_back(facts.disks[static_cast<size_t>(place)].index);
    }
    const char* unread = nullptr;
    switch (facts.unreadReason) {
    case UnreadReason::None:
        break;
    case UnreadReason::NotDisk:
        unread = "not-disk";
        break;
    case UnreadReason::TooShort:
        unread = "too-short";
        break;
    case UnreadReason::ReaderLimit:
        unread = "reader-limit";
        break;
    }
    return json{{"disks", static_cast<int>(facts.disks.size())},
                {"numbers", std::move(numbers)},
                {"other_ids", std::move(otherIds)},
                {"without_identity", std::move(placed)},
                {"directory_disk", nullOr(facts.directoryDisk >= 0, facts.directoryDisk)},
                {"cut_disks", std::move(cut)},
                {"not_disk_at", nullOr(facts.notDiskAt >= 0, facts.notDiskAt)},
                {"unread_from", nullOr(facts.unreadFrom >= 0, facts.unreadFrom)},
                {"unread_reason", unread != nullptr ? json(unread) : json(nullptr)},
                {"stray", std::move(stray)},
                {"files_without_disk", facts.partsWithoutDisk},
                {"files_unread", facts.partsUnread},
                {"files_repeated", facts.partsRepeated}};
}

json imageDocument(const ImagePlan& plan, const DiskSetFacts& set,
                   const std::vector<const char*>& paths,
                   const std::vector<CopyDifferences>* differences) {
    json document = imageHead(plan, set, paths, differences);
    for (const DiskFacts& disk : plan.disks) {
        document["disks"].push_back(diskJson(disk));
    }
    return document;
}

json setDocument(const SetPlan& plan, const DiskSetFacts& set,
                 const std::vector<const char*>& paths, int diskCount, int64_t fileSize) {
    json entries = json::array();
    for (const PlannedEntry& planned : plan.entries) {
        const DirEntry& entry = planned.entry;
        const bool written = isWritten(planned.outcome);
        json saved = nullptr;
        if (written) {
            saved = json{{"bytes", hexJson(planned.saved.name)},
                         {"text", nullOr(planned.saved.hasText, planned.saved.text)}};
        }
        entries.push_back(
            json{{"index", planned.index},
                 {"bytes", hexText(planned.bytes, DIR_ENTRY_SIZE)},
                 {"name", nameJson(entry.name)},
                 {"disk", entrySetNumber(entry)},
                 {"track", entry.track},
                 {"sector", entry.sector},
                 {"size", entry.size},
                 {"outcome", outcomeWord(planned.outcome)},
                 {"kind", outcomeKindWord(outcomeKind(planned.outcome))},
                 {"read_from_disk", nullOr(planned.disk >= 0, planned.disk)},
                 {"bytes_read", planned.bytesRead},
                 {"read_errors", runErrorsJson(planned.readErrors)},
                 {"error_sectors", planned.errorSectors},
                 {"pieces", piecesJson(planned)},
                 {"zeros", written ? entry.size - planned.bytesRead : 0},
                 {"sources", sourcesJson(planned)},
                 {"saved_as", std::move(saved)},
                 {"replaces", nullOr(planned.replaces >= 0, planned.replaces)},
                 {"replaced_by", nullOr(planned.replacedBy >= 0, planned.replacedBy)}});
        entries.back().update(mergeJson(planned.merged));
    }
    return json{
        {"version", PLAN_JSON_VERSION},
        {"image", pathJson(paths[0])},
        {"images", pathsJson(paths)},
        {"file_size", fileSize},
        {"disk_count", diskCount},
        {"layout", plan.layout->letter},
        {"program", plan.layout->programName},
        {"names", targetWord(plan.target)},
        {"enough_disks", plan.enoughDisks},
        {"directory_disk", nullOr(plan.enoughDisks && plan.directoryDisk >= 0, plan.directoryDisk)},
        {"directory_read_errors", nullOr(plan.enoughDisks, runErrorsJson(plan.directory.errors))},
        {"directory_merge", mergeJson(plan.directory.merge)},
        {"directory", nullOr(plan.enoughDisks, directoryJson(plan))},
        {"copies", copiesJson(set)},
        {"missing_disks", missingDisksJson(plan)},
        {"entries", std::move(entries)},
        {"summary", nullOr(plan.enoughDisks, countsJson(countSet(plan)))},
        {"whole", planIsWhole(plan)},
        {"meanings", outcomeMeanings()}};
}

void addResults(json& document, const SetPlan& plan, const std::vector<FileResult>& results,
                const std::vector<Replacement>& replacements) {
    for (size_t i = 0; i < results.size() && i < plan.entries.size(); ++i) {
        const FileResult& result = results[i];
        const char* error = nullptr;
        if (result.status == FileStatus::Refused) {
            error = refusalReason(result.refusal);
        } else if (result.status == FileStatus::CannotCreate ||
                   result.status == FileStatus::CannotWrite) {
            error = strerror(result.error);
        }
        json& entry = document["entries"][i];
        entry["result"] = json{{"status", statusWord(result.status)},
                               {"error", error != nullptr ? json(error) : json(nullptr)}};
        entry["replaces"] = nullOr(replacements[i].replaces >= 0, replacements[i].replaces);
        entry["replaced_by"] = nullOr(replacements[i].replacedBy >= 0, replacements[i].replacedBy);
    }
    document["summary"] = countsJson(countSet(plan, &results));
}

std::string dumpJson(const json& document) {
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string imageJsonOpening(const json& head) {
    const std::string text = dumpJson(head);
    const std::string marker = "\"disks\":[]";
    return text.substr(0, text.find(marker) + marker.size() - 1);
}

std::string imageJsonClosing(const json& head) {
    const std::string text = dumpJson(head);
    const std::string marker = "\"disks\":[]";
    return text.substr(text.find(marker) + marker.size() - 1);
}
