#include "PlanJson.h"

#include "SetInfo.h"
#include "ShiftJis.h"

using json = nlohmann::ordered_json;

namespace {

std::string hex(const uint8_t* bytes, size_t length) {
    static const char HEX[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        text += HEX[bytes[i] >> 4];
        text += HEX[bytes[i] & 0xF];
    }
    return text;
}

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

json runErrorsJson(const d88::RunErrors& errors) {
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

// Everything of the image document but its disks.
json imageHead(const ImagePlan& plan, const char* path) {
    json layouts = nullptr;
    if (plan.enoughDisks) {
        layouts = json::object();
        for (int i = 0; i < 2; ++i) {
            layouts[layoutLetter(*SET_LAYOUTS[i])] =
                json{{"files", plan.files[i]}, {"program", SET_LAYOUTS[i]->programName}};
        }
    }
    const char* fit = fitWord(plan.fit);
    return json{
        {"version", PLAN_JSON_VERSION},
        {"image", path},
        {"file_size", plan.fileSize},
        {"disk_count", plan.diskCount},
        {"disks", json::array()},
        {"layouts", std::move(layouts)},
        {"fits", fit != nullptr ? json(fit) : json(nullptr)},
        {"hints", json{{"fewer_than_four_disks", !plan.enoughDisks},
                       {"disk_a_at", nullOr(plan.diskAElsewhere >= 0, plan.diskAElsewhere)}}}};
}

} // namespace

json nameJson(const std::string& bytes) {
    std::string text;
    const bool decodes = shiftJisToUtf8(bytes.data(), bytes.size(), text);
    return json{{"bytes", hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())},
                {"text", decodes ? json(text) : json(nullptr)}};
}

json diskJson(const DiskFacts& disk) {
    const bool read = disk.headerRead;
    json tracks = json::array();
    for (const TrackFacts& track : disk.tracks) {
        tracks.push_back(trackJson(track));
    }
    return json{{"index", disk.index},
                {"header_read", read},
                {"offset", nullOr(read, disk.offset)},
                {"size", nullOr(read, disk.size)},
                {"media", nullOr(read, disk.media)},
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

json imageDocument(const ImagePlan& plan, const char* path) {
    json document = imageHead(plan, path);
    for (const DiskFacts& disk : plan.disks) {
        document["disks"].push_back(diskJson(disk));
    }
    return document;
}

json setDocument(const SetPlan& plan, const char* path, int diskCount, int64_t fileSize) {
    json entries = json::array();
    for (const PlannedEntry& planned : plan.entries) {
        const DirEntry& entry = planned.entry;
        const bool written = isWritten(planned.outcome);
        json saved = nullptr;
        if (written) {
            saved = json{{"bytes", hex(reinterpret_cast<const uint8_t*>(planned.saved.name.data()),
                                       planned.saved.name.size())},
                         {"text", nullOr(planned.saved.hasText, planned.saved.text)}};
        }
        entries.push_back(
            json{{"index", planned.index},
                 {"bytes", hex(planned.bytes, DIR_ENTRY_SIZE)},
                 {"name", nameJson(entry.name)},
                 {"disk", entry.diskNumber + 1},
                 {"track", entry.track},
                 {"sector", entry.sector},
                 {"size", entry.size},
                 {"outcome", setOutcomeWord(planned.outcome)},
                 {"bytes_read", planned.bytesRead},
                 {"read_errors", runErrorsJson(planned.readErrors)},
                 {"saved_as", std::move(saved)},
                 {"replaces", nullOr(planned.replaces >= 0, planned.replaces)},
                 {"replaced_by", nullOr(planned.replacedBy >= 0, planned.replacedBy)}});
    }
    const SetSummary& summary = plan.summary;
    return json{
        {"version", PLAN_JSON_VERSION},
        {"image", path},
        {"file_size", fileSize},
        {"disk_count", diskCount},
        {"layout", layoutLetter(*plan.layout)},
        {"program", plan.layout->programName},
        {"names", targetWord(plan.target)},
        {"enough_disks", plan.enoughDisks},
        {"directory_read_errors", nullOr(plan.enoughDisks, runErrorsJson(plan.directoryErrors))},
        {"entries", std::move(entries)},
        {"summary", nullOr(plan.enoughDisks, json{{"files", summary.files},
                                                  {"bytes", summary.bytes},
                                                  {"passed_over", summary.passedOver},
                                                  {"with_read_errors", summary.withReadErrors}})}};
}

std::string dumpJson(const json& document) {
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

void printImageJson(d88::D88Image& image, const ImagePlan& plan, const char* path, int onlyDisk,
                    FILE* out) {
    // The head is printed up to its empty list of disks, each disk goes into it in turn.
    const std::string head = dumpJson(imageHead(plan, path));
    const std::string marker = "\"disks\":[]";
    const size_t at = head.find(marker);
    fwrite(head.data(), 1, at + marker.size() - 1, out);
    bool first = true;
    for (int index = 0; index < plan.diskCount; ++index) {
        if (onlyDisk >= 0 && index != onlyDisk) {
            continue;
        }
        const std::string disk = dumpJson(diskJson(describeDisk(image, index, true)));
        if (!first) {
            fputc(',', out);
        }
        fwrite(disk.data(), 1, disk.size(), out);
        first = false;
    }
    fwrite(head.data() + at + marker.size() - 1, 1, head.size() - (at + marker.size() - 1), out);
    fputc('\n', out);
}
