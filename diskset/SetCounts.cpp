#include "SetCounts.h"

namespace {

// The entry whose file was written (or is to be written): its share of the counts.
void countFile(const PlannedEntry& entry, SetCounts& counts) {
    ++counts.files;
    counts.bytes += entry.entry.size;
    counts.incomplete += entry.outcome == EntryOutcome::Incomplete ? 1 : 0;
    counts.withReadErrors += entry.readErrors.errorSectors > 0 ? 1 : 0;
    counts.repaired += sectorsTaken(entry.merged, SectorTaken::Repaired).empty() ? 0 : 1;
    counts.contested += sectorsTaken(entry.merged, SectorTaken::Contested).empty() ? 0 : 1;
    counts.voted += sectorsTaken(entry.merged, SectorTaken::Voted).empty() ? 0 : 1;
}

// Nothing of the set is lost with it: not chosen, or nothing to read.
bool passesOver(const PlannedEntry& entry) {
    return entry.outcome == EntryOutcome::NotChosen || entry.outcome == EntryOutcome::Empty ||
           (entry.outcome == EntryOutcome::NoDisk && entry.entry.size == 0);
}

} // namespace

SetCounts countSet(const SetPlan& plan, const std::vector<FileResult>* results) {
    SetCounts counts{};
    counts.unreadable = static_cast<int>(plan.unreadable.size());
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        if (passesOver(entry)) {
            ++counts.passedOver;
            continue;
        }
        if (results == nullptr || i >= results->size()) {
            if (isWritten(entry.outcome)) {
                countFile(entry, counts);
            } else {
                ++counts.notWritten;
            }
            continue;
        }
        const FileResult& result = (*results)[i];
        if (wasWritten(result)) {
            countFile(entry, counts);
            counts.replaced += result.status == FileStatus::Replaced ? 1 : 0;
        } else if (result.status == FileStatus::Kept) {
            ++counts.kept;
        } else {
            ++counts.notWritten;
        }
    }
    return counts;
}
