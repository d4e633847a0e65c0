#include "UpdateJson.h"

#include "PlanJson.h"
#include "UpdateText.h"

using json = nlohmann::ordered_json;

namespace {

json nullOr(bool present, json value) {
    return present ? std::move(value) : json(nullptr);
}

json sharedJson(const FileUpdate& file) {
    switch (file.sharedWith) {
    case SharedWith::None:
        break;
    case SharedWith::OtherFile:
        return json{{"kind", "file"}, {"entry", file.sharedWithEntry}};
    case SharedWith::Directory:
        return json{{"kind", "directory"}};
    case SharedWith::IdSector:
        return json{{"kind", "id-sector"}, {"disk", file.sharedWithEntry}};
    }
    return nullptr;
}

json fileJson(const UpdateEntry& entry, const FileUpdate& file, const UpdateRunFacts& facts,
              size_t position) {
    const bool found = file.file.state == FolderFileState::Found;
    return json{{"index", entry.index},
                {"name", nameJson(entry.entry.name)},
                {"file", nullOr(file.file.state != FolderFileState::None,
                                pathJson(updateFileName(entry, file)))},
                {"disk", nullOr(entry.disk >= 0, entry.disk)},
                {"track", entry.entry.track},
                {"sector", entry.entry.sector},
                {"size", entry.entry.size},
                {"outcome", updateOutcomeWord(file.outcome)},
                {"length", nullOr(found, file.file.length)},
                {"sectors_held", entry.sectors.size()},
                {"sectors_changed", file.sectorsChanged},
                {"statuses_cleared", file.statusesCleared},
                {"shared_with", sharedJson(file)},
                {"owner", nullOr(entry.owner >= 0, entry.owner)},
                {"changes_with", file.changesWith},
                {"before", position < facts.before.size() ? facts.before[position] : json()},
                {"after", position < facts.after.size() ? facts.after[position] : json()}};
}

} // namespace

const char* updateOutcomeWord(UpdateOutcome outcome) {
    switch (outcome) {
    case UpdateOutcome::NotChosen:
        return "not-chosen";
    case UpdateOutcome::NoFile:
        return "no-file";
    case UpdateOutcome::OtherEntrys:
        return "other-entry";
    case UpdateOutcome::Unchanged:
        return "unchanged";
    case UpdateOutcome::PutBack:
        return "put-back";
    case UpdateOutcome::TooLong:
        return "too-long";
    case UpdateOutcome::MissingSectors:
        return "missing-sectors";
    case UpdateOutcome::SharedSectors:
        return "shared-sectors";
    case UpdateOutcome::TwoFiles:
        return "two-files";
    case UpdateOutcome::Unreadable:
        break;
    }
    return "unreadable";
}

json updateDocument(const UpdateSet& set, const UpdatePlan& plan, const UpdateRunFacts& facts) {
    json images = json::array();
    for (const char* path : facts.images) {
        images.push_back(pathJson(path));
    }
    json outputs = json::array();
    for (size_t i = 0; i < facts.outputFiles.size(); ++i) {
        outputs.push_back(
            json{{"path", pathJson(facts.outputFiles[i].c_str())},
                 {"hashes", i < facts.outputHashes.size() ? facts.outputHashes[i] : json()}});
    }
    json files = json::array();
    for (size_t i = 0; i < set.entries.size(); ++i) {
        files.push_back(fileJson(set.entries[i], plan.files[i], facts, i));
    }
    json leftOut = json::array();
    for (const std::string& name : facts.leftOut) {
        leftOut.push_back(pathJson(name.c_str()));
    }
    const UpdateSummary& summary = plan.summary;
    return json{{"version", PLAN_JSON_VERSION},
                {"command", "update"},
                {"images", std::move(images)},
                {"from", pathJson(facts.folder)},
                {"output", pathJson(facts.output)},
                {"layout", set.layout->letter},
                {"program", set.layout->programName},
                {"dry_run", facts.dryRun},
                {"written", facts.written},
                {"output_files", std::move(outputs)},
                {"files", std::move(files)},
                {"left_out", std::move(leftOut)},
                {"disks", facts.disks.is_null() ? json::array() : facts.disks},
                {"summary",
                 {{"put_back", summary.putBack},
                  {"unchanged", summary.unchanged},
                  {"no_file", summary.noFile},
                  {"refused", summary.refused},
                  {"shorter", summary.shorter},
                  {"sectors_written", summary.sectorsWritten}}}};
}
