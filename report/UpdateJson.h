// The document of d88update --json, described by schema/d88info.schema.json ("update"): what
// became of every listed entry, with the hashes of its file before and after, and the hashes of
// the files written and of each disk in them, so that a patch can be checked against them.
#pragma once

#include "UpdateEntries.h"
#include "UpdatePlan.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// What a run did beside the plan.
struct UpdateRunFacts {
    std::vector<const char*> images; // the files read, as shown
    const char* folder;              // --from
    const char* output;              // -o
    bool dryRun;
    bool written;                               // the output was written and read back as planned
    std::vector<std::string> leftOut;           // files of the folder that no entry saves
    std::vector<nlohmann::ordered_json> before; // by entry: its file's hashes now, or null
    std::vector<nlohmann::ordered_json> after;  // by entry: its file's hashes after, or null
    std::vector<std::string> outputFiles;       // the files written, or to be written
    std::vector<nlohmann::ordered_json> outputHashes; // their hashes as written, or null
    nlohmann::ordered_json disks;                     // the disks written, with their hashes
};

// The word for an outcome in documents: "put-back", "unchanged", "too-long" and the others.
const char* updateOutcomeWord(UpdateOutcome outcome);

nlohmann::ordered_json updateDocument(const UpdateSet& set, const UpdatePlan& plan,
                                      const UpdateRunFacts& facts);
