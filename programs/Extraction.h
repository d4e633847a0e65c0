// The extraction: acts on a set plan, writing each planned file into a folder and printing
// what the set's programs print. It decides nothing of its own.
#pragma once

#include "Host.h"
#include "Outcomes.h"
#include "Plan.h"
#include "RunText.h"

#include "D88Image.h"

#include <cstdio>
#include <vector>

// What is done with each file's bytes beside writing them: `take` (when set) is handed the bytes
// of the entry at `position` in the plan just before they are written. With `keep` set, the
// file is handed to it under its saved name instead of being written into the folder, and what
// it returns is what became of the file (the walk's fuzz target keeps the files in memory).
struct WriteWatch {
    void (*take)(size_t position, const uint8_t* bytes, size_t length, void* context);
    void* context;
    ReplaceResult (*keep)(const char* name, const uint8_t* bytes, size_t length,
                          void* context) = nullptr;
};

// How files are written: what becomes of a file that stands under a saved name (replaced, as
// the set's programs replace it, or kept: said, and no failure), and, with `watch`, who is handed
// each file's bytes as they are written.
struct WriteManner {
    Existing existing;
    const WriteWatch* watch;
};

// Writes the plan's files into `folder`, entry by entry in table order: each file's bytes are
// read from its pieces into buffers.work and replace whatever stands under its saved name only
// once they are whole. Prints as `text` says. `results` receives what became of each listed
// entry's file, in the plan's order. Returns true when every file that it tried to write was
// written whole, from sectors read without error, and replaced no file of an earlier entry, no
// sector read from several copies of a disk was contested, the directory was read without error
// and, by identity, no file of the set was lost.
bool extractPlan(d88::D88Image& image, const SetPlan& plan, const HostFolder& folder,
                 WalkBuffers& buffers, const RunText& text, const WriteManner& manner,
                 std::vector<FileResult>& results);

// The files of `results` that were written, by position in the plan.
std::vector<bool> writtenFiles(const std::vector<FileResult>& results);
