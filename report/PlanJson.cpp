#include "PlanJson.h"

#include "CopyCompare.h"
#include "ShiftJis.h"

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

// How a run read from several copies was merged: the sectors repaired, contested and voted.
json mergeJson(const MergedRun& merged) {
    json votes = json::array();
    for (int sector : sectorsTaken(merged, SectorTaken::Voted)) {
        const SectorOrigin& origin = merged.origins[static_cast<size_t>(sector)];
        votes.push_back(json{{"agree", origin.agree}, {"copies", origin.holders}});
    }
    return json{{"repaired", sectorsTaken(merged, SectorTaken::Repaired)},
                {"contested", sectorsTaken(merged, SectorTaken::Contested)},
                {"voted", sectorsTaken(merged, SectorTaken::Voted)},
                {"vote_counts", std::move(votes)}};
}

json copiesJson(const DiskSetFacts& set) {
    json copies = json::array();
    for (const SetNumber& number : set.numbers) {
        json files = json::array();
        for (int disk : number.disks) {
            files.push_back(set.disks[static_cast<size_t>(disk)].part);
        }
        copies.push_back(json{{"id", number.id},
                              {"label", diskLabel(number.id)},
                              {"disks", number.disks},
                              {"files", std::move(files)},
                              {"differ", number.differ}});
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

// The sectors in which the copies of `number` differ, at most 1000 of them.
json differencesJson(d88::D88Image& image, const SetNumber& number) {
    int total = 0;
    json list = json::array();
    for (const SectorDifference& difference : compareCopies(image, number, 1000, total)) {
        list.push_back(json{{"track", difference.track},
                            {"c", difference.id.c},
                            {"h", difference.id.h},
                            {"r", difference.id.r},
                            {"n", difference.id.n},
                            {"disk", difference.disk},
                            {"what", differenceWord(difference.what)}});
    }
    return json{{"count", total}, {"sectors", std::move(list)}};
}

json missingDisksJson(const SetPlan& plan) {
    json missing = json::array();
    for (const MissingDisk& disk : plan.missingDisks) {
        missing.push_back(
            json{{"id", disk.id}, {"label", diskLabel(disk.id)}, {"entries", disk.entries}});
    }
    return missing;
}

// Everything of the image document but its disks.
json imageHead(const ImagePlan& plan, const DiskSetFacts& set,
               const std::vector<const char*>& paths, d88::D88Image* image) {
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
        {"set", diskSetJson(set, image)},
        {"disks", json::array()},
        {"layouts", std::move(layouts)},
        {"fits", fit != nullptr ? json(fit) : json(nullptr)},
        {"hints", json{{"fewer_than_four_disks", !holdsEnoughDisks(plan.diskCount)},
                       {"disk_a_at", nullOr(plan.diskAElsewhere >= 0, plan.diskAElsewhere)}}}};
}

} // namespace

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
        {"set_id", nullOr(read && disk.setId >= 0, disk.setId)},
        {"past_file_end", disk.pastFileEnd},
        {"size_zero", disk.sizeZero},
        {"unread_after", disk.unreadAfter},
        {"leftover_after", disk.leftoverAfter},
        {"read_errors", nullOr(disk.readErrorsCounted, disk.readErrorRecords)},
        {"tracks_listed", disk.tracksListed},
        {"tracks", std::move(tracks)}};
}

json diskSetJson(const DiskSetFacts& facts, d88::D88Image* image) {
    json numbers = json::array();
    for (const SetNumber& number : facts.numbers) {
        json differences = nullptr;
        if (image != nullptr && number.disks.size() > 1) {
            differences = differencesJson(*image, number);
        }
        numbers.push_back(json{{"id", number.id},
                               {"label", diskLabel(number.id)},
                               {"disks", number.disks},
                               {"differ", number.differ},
                               {"differences", std::move(differences)}});
    }
    json cut = json::array();
    for (const FoundDisk& disk : facts.disks) {
        if (disk.pastEnd || disk.cutBy >= 0) {
            cut.push_back(json{{"disk", disk.index},
                               {"file", disk.part},
                               {"cut_by", nullOr(disk.cutBy >= 0, disk.cutBy)}});
        }
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
                {"other_ids", facts.otherIds},
                {"directory_disk", nullOr(facts.directoryDisk >= 0, facts.directoryDisk)},
                {"cut_disks", std::move(cut)},
                {"not_disk_at", nullOr(facts.notDiskAt >= 0, facts.notDiskAt)},
                {"unread_from", nullOr(facts.unreadFrom >= 0, facts.unreadFrom)},
                {"unread_reason", unread != nullptr ? json(unread) : json(nullptr)},
                {"files_without_disk", facts.partsWithoutDisk},
                {"files_unread", facts.partsUnread}};
}

json imageDocument(const ImagePlan& plan, const DiskSetFacts& set,
                   const std::vector<const char*>& paths, d88::D88Image* image) {
    json document = imageHead(plan, set, paths, image);
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
                 {"disk", entry.diskNumber + 1},
                 {"track", entry.track},
                 {"sector", entry.sector},
                 {"size", entry.size},
                 {"outcome", outcomeWord(planned.outcome)},
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
    const SetSummary& summary = plan.summary;
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
        {"directory_disk", nullOr(plan.enoughDisks, plan.directoryDisk)},
        {"directory_read_errors", nullOr(plan.enoughDisks, runErrorsJson(plan.directoryErrors))},
        {"directory_merge", mergeJson(plan.directoryMerge)},
        {"copies", copiesJson(set)},
        {"missing_disks", missingDisksJson(plan)},
        {"entries", std::move(entries)},
        {"summary", nullOr(plan.enoughDisks, json{{"files", summary.files},
                                                  {"bytes", summary.bytes},
                                                  {"passed_over", summary.passedOver},
                                                  {"with_read_errors", summary.withReadErrors},
                                                  {"repaired", summary.repaired},
                                                  {"contested", summary.contested},
                                                  {"voted", summary.voted}})},
        {"meanings", outcomeMeanings()}};
}

void addResults(json& document, const SetPlan& plan, const std::vector<FileResult>& results) {
    std::vector<bool> written;
    for (const FileResult& result : results) {
        written.push_back(wasWritten(result));
    }
    const std::vector<Replacement> replacements = decideReplacements(plan.entries, written);
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
}

std::string dumpJson(const json& document) {
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

void printImageJson(d88::D88Image& image, const ImagePlan& plan, const DiskSetFacts& set,
                    const std::vector<const char*>& paths, int onlyDisk, FILE* out,
                    DiskHashes diskHashes) {
    // The head is printed up to its empty list of disks, each disk goes into it in turn.
    const std::string head = dumpJson(imageHead(plan, set, paths, &image));
    const std::string marker = "\"disks\":[]";
    const size_t at = head.find(marker);
    fwrite(head.data(), 1, at + marker.size() - 1, out);
    bool first = true;
    for (int index = 0; index < plan.diskCount; ++index) {
        if (onlyDisk >= 0 && index != onlyDisk) {
            continue;
        }
        json facts = diskJson(describeDisk(image, index, true));
        if (diskHashes != nullptr) {
            facts["hashes"] = diskHashes(image, index);
        }
        const std::string disk = dumpJson(facts);
        if (!first) {
            fputc(',', out);
        }
        fwrite(disk.data(), 1, disk.size(), out);
        first = false;
    }
    fwrite(head.data() + at + marker.size() - 1, 1, head.size() - (at + marker.size() - 1), out);
    fputc('\n', out);
}
