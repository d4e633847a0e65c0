#include "SetInfo.h"

#include "Host.h"
#include "Messages.h"
#include "ShownName.h"

namespace {

struct SetListing {
    FILE* out; // null: only count
    SetSummary summary;
};

bool allZero(const uint8_t* bytes) {
    for (int i = 0; i < DIR_ENTRY_SIZE; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

void listEntry(const EntryPlan& plan, void* context) {
    SetListing& listing = *static_cast<SetListing*>(context);
    if (allZero(plan.bytes)) {
        return;
    }
    const DirEntry& entry = plan.entry;
    const bool readErrors = plan.readErrors.errorSectors > 0;
    if (isWritten(plan.outcome)) {
        ++listing.summary.files;
        listing.summary.bytes += entry.size;
        listing.summary.withReadErrors += readErrors ? 1 : 0;
    } else {
        ++listing.summary.passedOver;
    }
    if (listing.out == nullptr) {
        return;
    }
    // The report line without its line feed, exactly as the extraction prints it.
    hostPrintf(listing.out, "%3d  ", plan.index);
    hostPrintf(listing.out, MSG_REPORT_LINE_TEXT, shownName(entry.name, listing.out).text(),
               entry.diskNumber + 1, entry.track, entry.sector, entry.size);
    hostPrintf(listing.out, "  %s", setOutcomeWord(plan.outcome));
    if (plan.outcome == EntryOutcome::Incomplete) {
        hostPrintf(listing.out, " %d/%d", plan.bytesRead, entry.size);
    }
    if (isWritten(plan.outcome) && readErrors) {
        hostPrintf(listing.out, "  read-errors %d/%d", plan.readErrors.errorSectors,
                   plan.readErrors.sectors);
    }
    hostPrintf(listing.out, "%c", '\n');
}

} // namespace

SetSummary printSetPlan(d88::D88Image& image, const DirectoryLayout& layout, FILE* out) {
    SetListing listing{out, SetSummary{0, 0, 0, 0}};
    const d88::RunErrors directoryErrors = readDirectory(image);
    if (out != nullptr && directoryErrors.errorSectors > 0) {
        hostPrintf(out, MSG_DIRECTORY_READ_ERRORS, directoryErrors.errorSectors,
                   directoryErrors.sectors);
    }
    planEntries(image, layout, listEntry, &listing);
    return listing.summary;
}

int countSetFiles(d88::D88Image& image, const DirectoryLayout& layout) {
    return printSetPlan(image, layout, nullptr).files;
}

namespace {

struct ForwardedListing {
    SetListing listing; // counts only
    EntryVisitor visit;
    void* context;
};

void forwardListedEntry(const EntryPlan& plan, void* context) {
    ForwardedListing& forwarded = *static_cast<ForwardedListing*>(context);
    listEntry(plan, &forwarded.listing);
    if (!allZero(plan.bytes)) {
        forwarded.visit(plan, forwarded.context);
    }
}

} // namespace

SetSummary visitSetPlan(d88::D88Image& image, const DirectoryLayout& layout, EntryVisitor visit,
                        void* context, d88::RunErrors& directoryErrors) {
    ForwardedListing forwarded{SetListing{nullptr, SetSummary{0, 0, 0, 0}}, visit, context};
    directoryErrors = planDirectory(image, layout, forwardListedEntry, &forwarded);
    return forwarded.listing.summary;
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
