#include "RunText.h"

#include "Host.h"
#include "Messages.h"
#include "ShownName.h"

#include <cstring>

namespace {

// The read-error message; for a file read from several copies, whether the errors are in every
// copy and carry one status there.
void printFileReadErrors(const PlannedEntry& entry, const char* shown, FILE* out) {
    if (entry.merged.origins.empty()) {
        hostPrintf(out, MSG_FILE_READ_ERRORS, shown, entry.readErrors.errorSectors,
                   entry.readErrors.sectors);
        return;
    }
    bool sameStatus = true;
    for (const SectorOrigin& origin : entry.merged.origins) {
        sameStatus = sameStatus && (!origin.readError || origin.sameStatus);
    }
    hostPrintf(out, MSG_FILE_READ_ERRORS_EVERY_COPY, shown, entry.readErrors.errorSectors,
               entry.readErrors.sectors, sameStatus ? ", with the same status in each" : "");
}

const char* fileOf(const DiskFiles& files, int disk) {
    return disk >= 0 && static_cast<size_t>(disk) < files.size()
               ? files[static_cast<size_t>(disk)].c_str()
               : "?";
}

// "3, 7 from 'b.d88'" for the sectors taken the way `taken` says, grouped by file.
std::string sectorsFrom(const MergedRun& merged, SectorTaken taken, const DiskFiles& files) {
    std::string text;
    std::string lastFile;
    for (int sector : sectorsTaken(merged, taken)) {
        const SectorOrigin& origin = merged.origins[static_cast<size_t>(sector)];
        const std::string file = fileOf(files, origin.disk);
        if (!text.empty() && file != lastFile) {
            text += " from '" + lastFile + "', ";
        } else if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(sector);
        lastFile = file;
    }
    return text.empty() ? text : text + " from '" + lastFile + "'";
}

} // namespace

void printReportLine(const PlannedEntry& entry, const char* name, FILE* out) {
    hostPrintf(out, MSG_REPORT_LINE, shownName(name, out).text(), entry.entry.diskNumber + 1,
               entry.entry.track, entry.entry.sector, entry.entry.size);
}

bool printFileMessages(const PlannedEntry& entry, const FileResult& result, const char* name,
                       FILE* report, FILE* out) {
    const bool incomplete = entry.outcome == EntryOutcome::Incomplete;
    const bool written = wasWritten(result);
    if (result.status == FileStatus::PassedOver ||
        (written && !incomplete && entry.readErrors.errorSectors == 0)) {
        return false;
    }
    if (report != nullptr) {
        fflush(report);
    }
    const ShownName shown = shownName(name, out);
    switch (result.status) {
    case FileStatus::PassedOver:
        return false;
    case FileStatus::Written:
    case FileStatus::Replaced: {
        if (incomplete) {
            hostPrintf(out, MSG_INCOMPLETE_FILE, shown.text(), entry.bytesRead, entry.entry.size);
        }
        if (entry.readErrors.errorSectors > 0) {
            printFileReadErrors(entry, shown.text(), out);
        }
        return true;
    }
    case FileStatus::Refused:
        if (result.refusal == Refusal::UnsafeName) {
            hostPrintf(out, MSG_UNSAFE_NAME, shown.text());
        } else {
            hostPrintf(out, MSG_CANNOT_CREATE, shown.text(), refusalReason(result.refusal));
        }
        return true;
    case FileStatus::CannotCreate:
        hostPrintf(out, MSG_CANNOT_CREATE, shown.text(), strerror(result.error));
        return true;
    case FileStatus::CannotWrite:
        hostPrintf(out, MSG_CANNOT_WRITE, shown.text(), strerror(result.error));
        return true;
    case FileStatus::Kept:
        hostPrintf(out, MSG_KEPT, shown.text());
        return false; // as asked: no failure
    }
    return false;
}

void printMergeLine(const MergedRun& merged, const DiskFiles& files, const char* lead, FILE* out) {
    std::string line;
    const std::string repaired = sectorsFrom(merged, SectorTaken::Repaired, files);
    if (!repaired.empty()) {
        line += "repaired " + repaired;
    }
    const std::string contested = sectorsFrom(merged, SectorTaken::Contested, files);
    if (!contested.empty()) {
        line += (line.empty() ? "" : "; ") + std::string("contested ") + contested;
    }
    for (int sector : sectorsTaken(merged, SectorTaken::Voted)) {
        const SectorOrigin& origin = merged.origins[static_cast<size_t>(sector)];
        line += (line.empty() ? "" : "; ") + std::string("voted ") + std::to_string(sector) + " (" +
                std::to_string(origin.agree) + " of " + std::to_string(origin.holders) + ")";
    }
    if (!line.empty()) {
        hostPrintf(out, "%ssectors from copies: %s\n", lead, line.c_str());
    }
}

bool printContested(const MergedRun& merged, const DiskFiles& files, const char* name, FILE* out) {
    bool any = false;
    for (int sector : sectorsTaken(merged, SectorTaken::Contested)) {
        const SectorOrigin& origin = merged.origins[static_cast<size_t>(sector)];
        const std::string where = name == nullptr
                                      ? std::string("the directory")
                                      : "file '" + std::string(shownName(name, out).text()) + "'";
        hostPrintf(out, MSG_CONTESTED_SECTOR, sector, where.c_str(), fileOf(files, origin.disk),
                   fileOf(files, origin.differing), fileOf(files, origin.disk));
        any = true;
    }
    return any;
}

void printReplacement(const char* name, const char* earlier, FILE* out) {
    hostPrintf(out, MSG_REPLACES_EARLIER, shownName(name, out).text(),
               shownName(earlier, out).text());
}

namespace {

// 75776 as "75,776": digits in groups of three, whatever the locale.
std::string groupedDigits(int64_t number) {
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return digits;
}

} // namespace

void printRunSummary(const char* program, const RunSummary& summary, const char* folder,
                     FILE* out) {
    const std::string where =
        folder != nullptr ? "'" + shownPath(folder, out) + "'" : std::string("the current folder");
    std::string counts;
    const struct {
        int count;
        const char* words;
    } parts[] = {{summary.replaced, "replaced"},
                 {summary.kept, "kept"},
                 {summary.notWritten, "not written"},
                 {summary.passedOver, "passed over"},
                 {summary.withReadErrors, "with read errors"},
                 {summary.repaired, "repaired from copies"},
                 {summary.contested, "contested"},
                 {summary.voted, "voted"}};
    for (const auto& part : parts) {
        if (part.count > 0) {
            counts +=
                (counts.empty() ? "; " : ", ") + std::to_string(part.count) + " " + part.words;
        }
    }
    hostPrintfLocal(out, "%s: %d file%s, %s byte%s, written to %s%s\n", program, summary.written,
                    summary.written == 1 ? "" : "s", groupedDigits(summary.bytes).c_str(),
                    summary.bytes == 1 ? "" : "s", where.c_str(), counts.c_str());
}
