#include "FileChoice.h"

#include <cstring>

namespace {

bool matches(const CompiledPattern& pattern, const SavedName& saved) {
    const bool asText = pattern.kind == PatternText::Utf8 && saved.hasText;
    return matchesPattern(pattern, asText ? saved.text : saved.name);
}

} // namespace

FileChoice chooseFiles(const std::vector<std::string>& patterns, PatternText text) {
    FileChoice choice;
    for (const std::string& pattern : patterns) {
        choice.patterns.push_back(compilePattern(pattern, text));
    }
    return choice;
}

bool choosesName(const FileChoice& choice, const SavedName& saved) {
    if (choice.patterns.empty()) {
        return true;
    }
    for (const CompiledPattern& pattern : choice.patterns) {
        if (matches(pattern, saved)) {
            return true;
        }
    }
    return false;
}

void applyChoice(SetPlan& plan, const FileChoice& choice) {
    if (choice.patterns.empty()) {
        return;
    }
    for (PlannedEntry& entry : plan.entries) {
        if (!choosesName(choice, entry.saved)) {
            const PlannedEntry left = entry;
            entry = PlannedEntry{};
            entry.index = left.index;
            memcpy(entry.bytes, left.bytes, sizeof entry.bytes);
            entry.entry = left.entry;
            entry.saved = left.saved;
            entry.outcome = EntryOutcome::NotChosen;
            entry.disk = -1;
        }
    }
    settlePlan(plan);
}

std::vector<size_t> patternsMatchingNothing(const FileChoice& choice, const SetPlan& plan) {
    std::vector<size_t> unmatched;
    for (size_t i = 0; i < choice.patterns.size(); ++i) {
        bool matched = false;
        for (const PlannedEntry& entry : plan.entries) {
            matched = matched || matches(choice.patterns[i], entry.saved);
        }
        if (!matched) {
            unmatched.push_back(i);
        }
    }
    return unmatched;
}
