#include "FileChoice.h"

namespace {

bool matches(const std::string& pattern, const SavedName& saved, PatternText text) {
    const bool asText = text == PatternText::Utf8 && saved.hasText;
    return matchesPattern(pattern, asText ? saved.text : saved.name, text);
}

} // namespace

bool choosesName(const FileChoice& choice, const SavedName& saved) {
    if (choice.patterns.empty()) {
        return true;
    }
    for (const std::string& pattern : choice.patterns) {
        if (matches(pattern, saved, choice.text)) {
            return true;
        }
    }
    return false;
}

std::vector<size_t> patternsMatchingNothing(const FileChoice& choice, const SetPlan& plan) {
    std::vector<size_t> unmatched;
    for (size_t i = 0; i < choice.patterns.size(); ++i) {
        bool matched = false;
        for (const PlannedEntry& entry : plan.entries) {
            matched = matched || matches(choice.patterns[i], entry.saved, choice.text);
        }
        if (!matched) {
            unmatched.push_back(i);
        }
    }
    return unmatched;
}
