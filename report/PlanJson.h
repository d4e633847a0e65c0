// The plan as JSON: d88info --json, d88info --set X --json, d88extract --json and the web page
// read the same documents, described by schema/d88info.schema.json.
#pragma once

#include "CopyCompare.h"
#include "DiskSet.h"
#include "ImageFacts.h"
#include "Outcomes.h"
#include "Plan.h"
#include "SetCounts.h"
#include "SetNotes.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

constexpr int PLAN_JSON_VERSION = 3;

// Bytes in lower-case hex, two digits each.
std::string hexText(const uint8_t* bytes, size_t length);

// {"bytes": "<hex>", "text": "<decoded from Shift_JIS>" or null}
nlohmann::ordered_json nameJson(const std::string& bytes);
// A path as given: its text when it is UTF-8, otherwise {"bytes": "<hex>", "text": null}.
nlohmann::ordered_json pathJson(const char* path);
nlohmann::ordered_json diskJson(const DiskFacts& disk);
// The disks known by their identities; with `differences`, where the copies of each set number
// differ.
nlohmann::ordered_json diskSetJson(const DiskSetFacts& facts,
                                   const std::vector<CopyDifferences>* differences = nullptr);
// The image document without its disks, which go into its "disks" list.
nlohmann::ordered_json imageHead(const ImagePlan& plan, const DiskSetFacts& set,
                                 const std::vector<const char*>& paths,
                                 const std::vector<CopyDifferences>* differences = nullptr);
// The image document with the disks as the plan holds them (their tracks when described).
nlohmann::ordered_json imageDocument(const ImagePlan& plan, const DiskSetFacts& set,
                                     const std::vector<const char*>& paths,
                                     const std::vector<CopyDifferences>* differences = nullptr);
// The set document of d88info --set X --json and d88extract --json.
nlohmann::ordered_json setDocument(const SetPlan& plan, const DiskSetFacts& set,
                                   const std::vector<const char*>& paths, int diskCount,
                                   int64_t fileSize);
// Adds to a set document what became of each entry's file, the replacements as the files stand
// after the run (decideReplacements of what was written), and the run's counts.
void addResults(nlohmann::ordered_json& document, const SetPlan& plan,
                const std::vector<FileResult>& results,
                const std::vector<Replacement>& replacements);

// The document as text, with any bytes that are not UTF-8 replaced.
std::string dumpJson(const nlohmann::ordered_json& document);

// An image document's text up to its list of disks, and from there on, so that a caller can
// print the disks one at a time between them, never holding every disk's tracks at once.
std::string imageJsonOpening(const nlohmann::ordered_json& head);
std::string imageJsonClosing(const nlohmann::ordered_json& head);
