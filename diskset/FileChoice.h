// Which of the set's files a user chose (d88extract -i PATTERN): an entry is chosen when its
// saved name matches one of the patterns, every entry when there are none. The plan decides it
// from the saved name, before anything of the file is read; an entry that is not chosen is
// passed over as "not-chosen" on every face.
#pragma once

#include "NamePattern.h"
#include "Plan.h"

#include <string>
#include <vector>

struct FileChoice {
    std::vector<std::string> patterns; // none: every entry is chosen
    // Utf8: the patterns are text, matched against the text of the saved names (the bytes of a
    // name that does not decode); Bytes: matched byte for byte against the saved names.
    PatternText text;
};

bool choosesName(const FileChoice& choice, const SavedName& saved);

// The patterns that match no listed entry's saved name, by position in choice.patterns.
std::vector<size_t> patternsMatchingNothing(const FileChoice& choice, const SetPlan& plan);
