#include "Extraction.h"

#include "RunText.h"
#include "SetText.h"

namespace {

FileResult refused(Refusal refusal) {
    return FileResult{FileStatus::Refused, refusal, 0};
}

// Writes one planned entry's file (at `position` in the plan), when the plan writes it, handing
// its bytes to `watch` when that is given.
FileResult writeEntry(d88::D88Image& image, const PlannedEntry& entry, size_t position,
                      const HostFolder& folder, WalkBuffers& buffers, Existing existing,
                      const WriteWatch* watch) {
    switch (entry.outcome) {
    case EntryOutcome::NotChosen:
    case EntryOutcome::NoDisk:
    case EntryOutcome::Empty:
    case EntryOutcome::Missing:
        return FileResult{FileStatus::PassedOver, Refusal::None, 0};
    case EntryOutcome::UnsafeName:
        return refused(Refusal::UnsafeName);
    case EntryOutcome::ImageItself:
        return refused(Refusal::ImageItself);
    case EntryOutcome::Uncreatable: // the host says why
    case EntryOutcome::Whole:
    case EntryOutcome::Incomplete:
        break;
    }
    // A file of the image that shrank since the plan (another program truncating it) gives
    // fewer bytes than planned: zeros would stand in for them, so nothing is written.
    if (readPlannedFile(image, entry, buffers) < entry.bytesRead) {
        return refused(Refusal::ImageChanged);
    }
    const size_t length = static_cast<size_t>(entry.entry.size);
    if (watch != nullptr && watch->take != nullptr) {
        watch->take(position, buffers.work, length, watch->context);
    }
    const ReplaceResult replaced =
        watch != nullptr && watch->keep != nullptr
            ? watch->keep(entry.saved.name.c_str(), buffers.work, length, watch->context)
            : hostReplaceFile(folder, entry.saved.name.c_str(), NameSource::DiskSet, buffers.work,
                              length, existing);
    switch (replaced.outcome) {
    case ReplaceOutcome::Replaced:
        return FileResult{replaced.existed ? FileStatus::Replaced : FileStatus::Written,
                          Refusal::None, 0};
    case ReplaceOutcome::SymbolicLink:
        return refused(Refusal::SymbolicLink);
    case ReplaceOutcome::NotRegularFile:
        return refused(Refusal::NotRegularFile);
    case ReplaceOutcome::ShortName:
        return refused(Refusal::ShortName);
    case ReplaceOutcome::Appeared:
        return refused(Refusal::Appeared);
    case ReplaceOutcome::CannotCreate:
        return FileResult{FileStatus::CannotCreate, Refusal::None, replaced.error};
    case ReplaceOutcome::CannotWrite:
        return FileResult{FileStatus::CannotWrite, Refusal::None, replaced.error};
    case ReplaceOutcome::Kept:
        return FileResult{FileStatus::Kept, Refusal::None, 0};
    }
    return FileResult{FileStatus::CannotWrite, Refusal::None, replaced.error};
}

} // namespace

std::vector<bool> writtenFiles(const std::vector<FileResult>& results) {
    std::vector<bool> written;
    for (const FileResult& result : results) {
        written.push_back(wasWritten(result));
    }
    return written;
}

bool extractPlan(d88::D88Image& image, const SetPlan& plan, const HostFolder& folder,
                 WalkBuffers& buffers, FILE* report, FILE* messages,
                 std::vector<FileResult>& results, const DiskFiles& files, Existing existing,
                 const WriteWatch* watch) {
    results.clear();
    bool allWritten = plan.directoryErrors.errorSectors == 0;
    printDirectoryErrors(plan, messages);
    if (printContested(plan.directoryMerge, files, nullptr, messages)) {
        allWritten = false;
    }
    std::vector<bool> written(plan.entries.size(), false);
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        const FileResult result = writeEntry(image, entry, i, folder, buffers, existing, watch);
        results.push_back(result);
        const char* name = entry.saved.name.c_str();
        if (wasWritten(result) && report != nullptr) {
            printReportLine(entry, name, report);
            printMergeLine(entry.merged, files, "  ", report);
        }
        if (printFileMessages(entry, result, name, report, messages)) {
            allWritten = false;
        }
        if (wasWritten(result) && !sectorsTaken(entry.merged, SectorTaken::Contested).empty()) {
            if (report != nullptr) {
                fflush(report);
            }
            printContested(entry.merged, files, name, messages);
            allWritten = false;
        }
        if (!wasWritten(result)) {
            continue;
        }
        written[i] = true;
        // What the plan says replaces nothing cannot replace a file that was really written.
        const int earlier =
            entry.replaces < 0 ? -1 : decideReplacements(plan.entries, written)[i].replaces;
        if (earlier < 0) {
            continue;
        }
        for (const PlannedEntry& other : plan.entries) {
            if (other.index == earlier) {
                if (report != nullptr) {
                    fflush(report);
                }
                printReplacement(name, other.saved.name.c_str(), messages);
                allWritten = false;
            }
        }
    }
    return allWritten;
}
