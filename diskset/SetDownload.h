// What the page's "Download all" saves: the files of a set's plan that a folder keeps, and the
// name of the zip that holds them.
#pragma once

#include "Plan.h"

#include <string>
#include <vector>

// The table indexes of the entries whose files are written and not replaced by a later entry's
// under the same name: the files that a folder holds after the extraction, in table order.
std::vector<int> savedEntries(const SetPlan& plan);

// The zip's name without ".zip", which never hangs on the order of the files given: the name of
// the one file given (a zip or an image) without its extension; for several files, the name in
// Disk A's header (`diskAName`, 16 bytes as stored, null when there is no disk) decoded from
// Shift_JIS, without its trailing spaces, when it decodes and is not empty; otherwise
// "d88extract". A control character and '/', '\' and ':' are written as %NN, as in the zip's
// member names.
std::string setZipName(const std::vector<std::string>& given, const uint8_t* diskAName);
