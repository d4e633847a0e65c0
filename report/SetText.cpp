#include "SetText.h"

#include "Host.h"
#include "Messages.h"
#include "Outcomes.h"
#include "RunText.h"
#include "SetNotes.h"
#include "ShownName.h"

namespace {

std::string entries(int count) {
    return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

} // namespace

void printSetHead(const std::vector<const char*>& paths, int diskCount,
                  const DirectoryLayout& layout, FILE* out) {
    for (size_t i = 0; i < paths.size(); ++i) {
        hostPrintfLocal(out, "%s%s", i > 0 ? " " : "", shownPath(paths[i], out).c_str());
    }
    hostPrintf(out, ": %d disk%s, directory in the layout of %s\n", diskCount,
               diskCount == 1 ? "" : "s", layout.programName);
}

void printDirectoryErrors(const SetPlan& plan, FILE* out) {
    if (plan.directory.errors.errorSectors > 0) {
        hostPrintf(out, MSG_DIRECTORY_READ_ERRORS, plan.directory.errors.errorSectors,
                   plan.directory.errors.sectors);
    }
}

void printDirectoryNotes(const SetPlan& plan, const DiskSetFacts& set, const ShownFiles& files,
                         const char* prefix, FILE* out) {
    for (const DirectoryNote& note : decideDirectoryNotes(plan.directory, plan.layout)) {
        hostPrintfLocal(out, "%s%s\n", prefix,
                        directoryNoteText(note, plan.directory, set, files).c_str());
    }
}

void printMissingDisks(const SetPlan& plan, const char* prefix, FILE* out) {
    for (const MissingDisk& missing : plan.missingDisks) {
        hostPrintf(out, "%s%s\n", prefix, missingDiskText(missing, plan, out).c_str());
    }
}

void printSetPlan(const SetPlan& plan, FILE* out) {
    for (const PlannedEntry& planned : plan.entries) {
        const DirEntry& entry = planned.entry;
        // The report line without its line feed, exactly as the extraction prints it.
        hostPrintf(out, "%3d  ", planned.index);
        hostPrintf(out, MSG_REPORT_LINE_TEXT, shownName(planned.saved.name.c_str(), out).text(),
                   entrySetNumber(entry), entry.track, entry.sector, entry.size);
        hostPrintf(out, "  %s", outcomeWord(planned.outcome));
        if (planned.outcome == EntryOutcome::Incomplete) {
            hostPrintf(out, " %d/%d", planned.bytesRead, entry.size);
        }
        if (isWritten(planned.outcome) && planned.readErrors.errorSectors > 0) {
            hostPrintf(out, "  read-errors %d/%d", planned.readErrors.errorSectors,
                       planned.readErrors.sectors);
        }
        const struct {
            SectorTaken taken;
            const char* word;
        } marks[] = {{SectorTaken::Repaired, "repaired"},
                     {SectorTaken::Contested, "contested"},
                     {SectorTaken::Voted, "voted"}};
        for (const auto& mark : marks) {
            const std::vector<int> sectors = sectorsTaken(planned.merged, mark.taken);
            if (isWritten(planned.outcome) && !sectors.empty()) {
                hostPrintf(out, "  %s %s", mark.word, sectorRuns(sectors).c_str());
            }
        }
        if (planned.replacedBy >= 0) {
            hostPrintf(out, "  replaced-by %d", planned.replacedBy);
        }
        hostPrintf(out, "%c", '\n');
    }
}

void printSetSummary(const SetCounts& counts, FILE* out) {
    hostPrintf(out, "%d file%s to write, %lld bytes", counts.files, counts.files == 1 ? "" : "s",
               static_cast<long long>(counts.bytes));
    if (counts.incomplete > 0) {
        hostPrintf(out, ", %d of them incomplete", counts.incomplete);
    }
    if (counts.withReadErrors > 0) {
        hostPrintf(out, ", %d of them with read errors", counts.withReadErrors);
    }
    if (counts.repaired + counts.contested + counts.voted > 0) {
        hostPrintf(out, ", from copies: %d repaired, %d contested, %d voted", counts.repaired,
                   counts.contested, counts.voted);
    }
    if (counts.notWritten > 0) {
        hostPrintf(out, "; %s not written", entries(counts.notWritten).c_str());
    }
    hostPrintf(out, "; %s passed over", entries(counts.passedOver).c_str());
    if (counts.unreadable > 0) {
        hostPrintf(out, "; %s cannot be read", entries(counts.unreadable).c_str());
    }
    hostPrintf(out, "%c", '\n');
}
