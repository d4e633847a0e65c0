// The lines of `d88info --set X --sums sha256|sha1`: one for each file that the folder of an
// extraction keeps, as sha256sum and sha1sum print them, so that `sha256sum -c` checks the
// folder.
#pragma once

#include "FileHashes.h"
#include "Plan.h"

#include <cstdio>
#include <vector>

// Prints "DIGEST  NAME" for every entry whose file the plan writes and no later entry
// replaces, from its `digests` (by position in the plan), NAME as saved (on Windows its Unicode
// text as UTF-8). A name holding a backslash, a line feed or a carriage return is escaped as
// sha256sum escapes it: the line starts with a backslash and those characters are written as
// \\, \n and \r. `kind` is DIGEST_SHA1 or DIGEST_SHA256. False when a digest was not taken (its
// line is left out).
bool printFileSums(const SetPlan& plan, const std::vector<FileDigests>& digests, unsigned kind,
                   FILE* out);
