// The plan as JSON: d88info --json, d88info --set X --json and the web page read the same
// documents, described by schema/d88info.schema.json.
#pragma once

#include "Plan.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

constexpr int PLAN_JSON_VERSION = 1;

// {"bytes": "<hex>", "text": "<decoded from Shift_JIS>" or null}
nlohmann::ordered_json nameJson(const std::string& bytes);
nlohmann::ordered_json diskJson(const DiskFacts& disk);
// The image document with the disks as the plan holds them (their tracks when described).
nlohmann::ordered_json imageDocument(const ImagePlan& plan, const char* path);
// The set document of d88info --set X --json.
nlohmann::ordered_json setDocument(const SetPlan& plan, const char* path, int diskCount,
                                   int64_t fileSize);

// The document as text, with any bytes that are not UTF-8 (a path) replaced.
std::string dumpJson(const nlohmann::ordered_json& document);

// Prints the image document, describing each disk with its tracks one at a time so that a
// large image never stands whole in memory; only disk `onlyDisk` when it is not -1.
void printImageJson(d88::D88Image& image, const ImagePlan& plan, const char* path, int onlyDisk,
                    FILE* out);
