#include "SetInfo.h"

#include "Host.h"
#include "Messages.h"
#include "ShownName.h"

void printSetPlan(const SetPlan& plan, FILE* out) {
    if (plan.directoryErrors.errorSectors > 0) {
        hostPrintf(out, MSG_DIRECTORY_READ_ERRORS, plan.directoryErrors.errorSectors,
                   plan.directoryErrors.sectors);
    }
    for (const PlannedEntry& planned : plan.entries) {
        const DirEntry& entry = planned.entry;
        // The report line without its line feed, exactly as the extraction prints it.
        hostPrintf(out, "%3d  ", planned.index);
        hostPrintf(out, MSG_REPORT_LINE_TEXT, shownName(planned.saved.name.c_str(), out).text(),
                   entry.diskNumber + 1, entry.track, entry.sector, entry.size);
        hostPrintf(out, "  %s", setOutcomeWord(planned.outcome));
        if (planned.outcome == EntryOutcome::Incomplete) {
            hostPrintf(out, " %d/%d", planned.bytesRead, entry.size);
        }
        if (isWritten(planned.outcome) && planned.readErrors.errorSectors > 0) {
            hostPrintf(out, "  read-errors %d/%d", planned.readErrors.errorSectors,
                       planned.readErrors.sectors);
        }
        if (planned.replacedBy >= 0) {
            hostPrintf(out, "  replaced-by %d", planned.replacedBy);
        }
        hostPrintf(out, "%c", '\n');
    }
}

const char* setOutcomeWord(EntryOutcome outcome) {
    switch (outcome) {
    case EntryOutcome::NoDisk:
        return "no-disk";
    case EntryOutcome::Empty:
        return "empty";
    case EntryOutcome::Missing:
        return "missing";
    case EntryOutcome::UnsafeName:
    case EntryOutcome::ImageItself:
    case EntryOutcome::Uncreatable:
        return "unsafe";
    case EntryOutcome::Whole:
        return "extract";
    case EntryOutcome::Incomplete:
        return "incomplete";
    }
    return "?";
}

void printSetSummary(const SetSummary& summary, FILE* out) {
    hostPrintf(out, "%d file%s to write, %lld bytes", summary.files, summary.files == 1 ? "" : "s",
               static_cast<long long>(summary.bytes));
    if (summary.withReadErrors > 0) {
        hostPrintf(out, ", %d of them with read errors", summary.withReadErrors);
    }
    hostPrintf(out, "; %d entr%s passed over\n", summary.passedOver,
               summary.passedOver == 1 ? "y" : "ies");
}
