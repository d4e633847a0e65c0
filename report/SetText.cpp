#include "SetText.h"

#include "Host.h"
#include "Messages.h"
#include "Outcomes.h"
#include "SetNotes.h"
#include "ShownName.h"

void printSetHead(const std::vector<const char*>& paths, int diskCount,
                  const DirectoryLayout& layout, FILE* out) {
    for (size_t i = 0; i < paths.size(); ++i) {
        hostPrintfLocal(out, "%s%s", i > 0 ? " " : "", shownPath(paths[i], out).c_str());
    }
    hostPrintf(out, ": %d disk%s, directory in the layout of %s\n", diskCount,
               diskCount == 1 ? "" : "s", layout.programName);
}

void printDirectoryErrors(const SetPlan& plan, FILE* out) {
    if (plan.directoryErrors.errorSectors > 0) {
        hostPrintf(out, MSG_DIRECTORY_READ_ERRORS, plan.directoryErrors.errorSectors,
                   plan.directoryErrors.sectors);
    }
}

void printMissingDisks(const SetPlan& plan, const char* prefix, FILE* out) {
    for (const SetNote& note : missingDiskNotes(plan, out)) {
        hostPrintf(out, "%s%s\n", prefix, note.text.c_str());
    }
}

void printSetPlan(const SetPlan& plan, FILE* out) {
    printDirectoryErrors(plan, out);
    for (const PlannedEntry& planned : plan.entries) {
        const DirEntry& entry = planned.entry;
        // The report line without its line feed, exactly as the extraction prints it.
        hostPrintf(out, "%3d  ", planned.index);
        hostPrintf(out, MSG_REPORT_LINE_TEXT, shownName(planned.saved.name.c_str(), out).text(),
                   entry.diskNumber + 1, entry.track, entry.sector, entry.size);
        hostPrintf(out, "  %s", outcomeWord(planned.outcome));
        if (planned.outcome == EntryOutcome::Incomplete) {
            hostPrintf(out, " %d/%d", planned.bytesRead, entry.size);
        }
        if (isWritten(planned.outcome) && planned.readErrors.errorSectors > 0) {
            hostPrintf(out, "  read-errors %d/%d", planned.readErrors.errorSectors,
                       planned.readErrors.sectors);
        }
        const MergedRun& merged = planned.merged;
        const struct {
            SectorTaken taken;
            const char* word;
        } marks[] = {{SectorTaken::Repaired, "repaired"},
                     {SectorTaken::Contested, "contested"},
                     {SectorTaken::Voted, "voted"}};
        for (const auto& mark : marks) {
            const std::vector<int> sectors = sectorsTaken(merged, mark.taken);
            if (isWritten(planned.outcome) && !sectors.empty()) {
                hostPrintf(out, "  %s %d", mark.word, static_cast<int>(sectors.size()));
            }
        }
        if (planned.replacedBy >= 0) {
            hostPrintf(out, "  replaced-by %d", planned.replacedBy);
        }
        hostPrintf(out, "%c", '\n');
    }
}

void printSetSummary(const SetSummary& summary, FILE* out) {
    hostPrintf(out, "%d file%s to write, %lld bytes", summary.files, summary.files == 1 ? "" : "s",
               static_cast<long long>(summary.bytes));
    if (summary.withReadErrors > 0) {
        hostPrintf(out, ", %d of them with read errors", summary.withReadErrors);
    }
    if (summary.repaired + summary.contested + summary.voted > 0) {
        hostPrintf(out, ", from copies: %d repaired, %d contested, %d voted", summary.repaired,
                   summary.contested, summary.voted);
    }
    hostPrintf(out, "; %d entr%s passed over\n", summary.passedOver,
               summary.passedOver == 1 ? "y" : "ies");
}
