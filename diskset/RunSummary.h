// What an extraction did, counted from what became of each entry's file: the numbers of
// d88extract's summary line.
#pragma once

#include "Outcomes.h"
#include "Plan.h"

#include <cstdint>
#include <vector>

struct RunSummary {
    int written;        // files written under their names, new or in place of another
    int64_t bytes;      // their sizes
    int replaced;       // of those, files that took the place of one that stood there
    int kept;           // files not written because one stood under the name (-k)
    int notWritten;     // refused, or could not be created or written
    int passedOver;     // entries with no file to write: not chosen, empty, no disk, missing
    int withReadErrors; // written files that hold sectors stored with a read-error status
    int repaired;       // written files with sectors taken from a later copy of their disk
    int contested;      // written files with sectors whose error-free copies differ
    int voted;          // written files with sectors voted from three copies or more
};

// `results` by position in plan.entries.
RunSummary summarizeRun(const SetPlan& plan, const std::vector<FileResult>& results);
