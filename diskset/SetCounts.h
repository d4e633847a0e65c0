// What an extraction writes or wrote, counted once from what became of each listed entry: the
// numbers of the summary lines of d88extract, of -n, -l and d88info --set, and of the page.
// Every listed entry counts once, among the files or the entries not written or passed over,
// and the directory's entries that cannot be read beside them.
#pragma once

#include "Outcomes.h"
#include "Plan.h"

#include <cstdint>
#include <vector>

struct SetCounts {
    int files;          // files written under their names (or to be written): whole or not
    int64_t bytes;      // their sizes
    int incomplete;     // of them, written with zeros past the bytes that could be read
    int withReadErrors; // of them, holding sectors stored with a read-error status
    int repaired;       // of them, with sectors taken from the copies that hold them best
    int contested;      // of them, with sectors whose error-free copies differ
    int voted;          // of them, with sectors voted byte by byte
    int replaced;       // of them, files that took the place of one that stood there (a run)
    int kept;           // not written, a file under the name kept as asked (-k)
    int notWritten;     // not written: no disk, no sector, a name refused, a host failure
    int passedOver;     // nothing to write: not chosen, empty
    int unreadable;     // entries of the directory that cannot be read
};

// The counts of `plan`; with `results` (by position in plan.entries), of the run that wrote it.
SetCounts countSet(const SetPlan& plan, const std::vector<FileResult>* results = nullptr);
