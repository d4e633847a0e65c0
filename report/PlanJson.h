// The plan as JSON: d88info --json, d88info --set X --json, d88extract --json and the web page
// read the same documents, described by schema/d88info.schema.json.
#pragma once

#include "DiskSet.h"
#include "ImageFacts.h"
#include "Outcomes.h"
#include "Plan.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

constexpr int PLAN_JSON_VERSION = 2;

// Bytes in lower-case hex, two digits each.
std::string hexText(const uint8_t* bytes, size_t length);

// {"bytes": "<hex>", "text": "<decoded from Shift_JIS>" or null}
nlohmann::ordered_json nameJson(const std::string& bytes);
// A path as given: its text when it is UTF-8, otherwise {"bytes": "<hex>", "text": null}.
nlohmann::ordered_json pathJson(const char* path);
nlohmann::ordered_json diskJson(const DiskFacts& disk);
// The disks known by their ID bytes; with `image`, where the copies of each set number differ.
nlohmann::ordered_json diskSetJson(const DiskSetFacts& facts, d88::D88Image* image = nullptr);
// The image document with the disks as the plan holds them (their tracks when described).
nlohmann::ordered_json imageDocument(const ImagePlan& plan, const DiskSetFacts& set,
                                     const std::vector<const char*>& paths,
                                     d88::D88Image* image = nullptr);
// The set document of d88info --set X --json and d88extract --json.
nlohmann::ordered_json setDocument(const SetPlan& plan, const DiskSetFacts& set,
                                   const std::vector<const char*>& paths, int diskCount,
                                   int64_t fileSize);
// Adds to a set document what became of each entry's file, and the replacements as the files
// stand after the run.
void addResults(nlohmann::ordered_json& document, const SetPlan& plan,
                const std::vector<FileResult>& results);

// The document as text, with any bytes that are not UTF-8 replaced.
std::string dumpJson(const nlohmann::ordered_json& document);

// What a disk's "hashes" hold, from a layer that hashes (FileHashes.h).
using DiskHashes = nlohmann::ordered_json (*)(d88::D88Image& image, int disk);

// Prints the image document, describing each disk with its tracks one at a time so that a
// large image never stands whole in memory; only disk `onlyDisk` when it is not -1. Each disk
// gets "hashes" from `diskHashes` when that is given.
void printImageJson(d88::D88Image& image, const ImagePlan& plan, const DiskSetFacts& set,
                    const std::vector<const char*>& paths, int onlyDisk, FILE* out,
                    DiskHashes diskHashes = nullptr);
