#include "Extraction.h"

#include "RunText.h"
#include "SetText.h"

#include <cstdio>

namespace {

FileResult refused(Refusal refusal) {
    return FileResult{FileStatus::Refused, refusal, 0};
}

// Writes one planned entry's file (at `position` in the plan), when the plan writes it, handing
// its bytes to `watch` when that is given.
FileResult writeEntry(d88::D88Image& image, const PlannedEntry& entry, size_t position,
                      const HostFolder& folder, WalkBuffers& buffers, const WriteManner& manner) {
    switch (entry.outcome) {
    case EntryOutcome::NotChosen:
    case EntryOutcome::Empty:
        return FileResult{FileStatus::PassedOver, Refusal::None, 0};
    case EntryOutcome::NoDisk:
    case EntryOutcome::Missing:
        return FileResult{entry.entry.size > 0 ? FileStatus::NotRead : FileStatus::PassedOver,
                          Refusal::None, 0};
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
    if (manner.watch != nullptr && manner.watch->take != nullptr) {
        manner.watch->take(position, buffers.work, length, manner.watch->context);
    }
    const ReplaceResult replaced =
        manner.watch != nullptr && manner.watch->keep != nullptr
            ? manner.watch->keep(entry.saved.name.c_str(), buffers.work, length,
                                 manner.watch->context)
            : hostReplaceFile(folder, entry.saved.name.c_str(), NameSource::DiskSet, buffers.work,
                              length, manner.existing);
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
                 WalkBuffers& buffers, const RunText& text, const WriteManner& manner,
                 std::vector<FileResult>& results) {
    results.clear();
    bool allWritten = plan.directory.errors.errorSectors == 0;
    if (!text.byIdentity) {
        printDirectoryErrors(plan, text.messages); // by identity, each sector is said before
    }
    const DiskFiles none;
    const DiskFiles& files = text.files != nullptr ? *text.files : none;
    std::vector<bool> written;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        const FileResult result = writeEntry(image, entry, i, folder, buffers, manner);
        results.push_back(result);
        written.push_back(wasWritten(result));
        const char* name = entry.saved.name.c_str();
        if (wasWritten(result) && text.report != nullptr) {
            printReportLine(entry, name, text.report);
            printMergeLine(entry.merged, files, "  ", text.report);
        }
        if (printFileMessages(entry, result, text)) {
            allWritten = false;
        }
        if (!wasWritten(result)) {
            continue;
        }
        if (!sectorsTaken(entry.merged, SectorTaken::Contested).empty()) {
            if (text.report != nullptr) {
                fflush(text.report);
            }
            printContested(entry.merged, files, name, text.messages);
            allWritten = false;
        }
        const int earlier = replacedEarlier(plan, written, i);
        for (const PlannedEntry& other : plan.entries) {
            if (earlier >= 0 && other.index == earlier) {
                if (text.report != nullptr) {
                    fflush(text.report);
                }
                printReplacement(name, other.saved.name.c_str(), text.messages);
                allWritten = false;
            }
        }
    }
    return allWritten;
}
