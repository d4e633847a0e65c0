#include "RunSummary.h"

RunSummary summarizeRun(const SetPlan& plan, const std::vector<FileResult>& results) {
    RunSummary summary{};
    for (size_t i = 0; i < results.size() && i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        switch (results[i].status) {
        case FileStatus::Replaced:
            ++summary.replaced;
            [[fallthrough]];
        case FileStatus::Written:
            ++summary.written;
            summary.bytes += entry.entry.size;
            summary.withReadErrors += entry.readErrors.errorSectors > 0 ? 1 : 0;
            summary.repaired += sectorsTaken(entry.merged, SectorTaken::Repaired).empty() ? 0 : 1;
            summary.contested += sectorsTaken(entry.merged, SectorTaken::Contested).empty() ? 0 : 1;
            summary.voted += sectorsTaken(entry.merged, SectorTaken::Voted).empty() ? 0 : 1;
            break;
        case FileStatus::Kept:
            ++summary.kept;
            break;
        case FileStatus::PassedOver:
            ++summary.passedOver;
            break;
        case FileStatus::Refused:
        case FileStatus::CannotCreate:
        case FileStatus::CannotWrite:
            ++summary.notWritten;
            break;
        }
    }
    return summary;
}
