// Which of the set's files a user chose (d88extract -i PATTERN): an entry is chosen when its
// saved name matches one of the patterns, every entry when there are none. The choice is
// applied to a plan once its layout is decided; an entry that is not chosen is passed over as
// "not-chosen" on every face.
#pragma once

#include "NamePattern.h"
#include "Plan.h"

#include <string>
#include <vector>

struct FileChoice {
    // Parsed once. Utf8: matched against the text of the saved names (the bytes of a name that
    // does not decode); Bytes: matched byte for byte against the saved names.
    std::vector<CompiledPattern> patterns; // none: every entry is chosen
};

// The choice of `patterns` typed as `text`.
FileChoice chooseFiles(const std::vector<std::string>& patterns, PatternText text);

bool choosesName(const FileChoice& choice, const SavedName& saved);

// Marks the entries of `plan` that `choice` leaves out as not chosen (nothing of them is read
// or written) and settles the plan again.
void applyChoice(SetPlan& plan, const FileChoice& choice);

// The patterns that match no listed entry's saved name, by position in choice.patterns.
std::vector<size_t> patternsMatchingNothing(const FileChoice& choice, const SetPlan& plan);
