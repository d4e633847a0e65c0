// Why a zip is refused, in one wording that d88extract and d88info print after their name and
// the page shows as a sentence.
#pragma once

#include "ZipPolicy.h"

#include <string>

// The text of `verdict` for the zip shown as `zip`, whose member it names is shown as `member`,
// said by `program` ("d88extract", "d88info", or "the page"). Empty without a refusal.
std::string zipRefusalText(const char* program, const std::string& zip, const std::string& member,
                           const ZipVerdict& verdict);
