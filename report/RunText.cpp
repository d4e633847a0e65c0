#include "RunText.h"

#include "DiskSet.h"
#include "GroupedDigits.h"
#include "Host.h"
#include "Messages.h"
#include "ShownName.h"

#include <cstring>
#include <utility>

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

std::string fileOf(const DiskFiles& files, int disk) {
    return disk >= 0 && static_cast<size_t>(disk) < files.size() ? files[static_cast<size_t>(disk)]
                                                                 : std::string("'?'");
}

// How a sector was taken, beside its number: the copy, and for a contest or a vote how many
// copies agree. Sectors taken alike are said together.
std::string takenHow(const SectorOrigin& origin, const DiskFiles& files) {
    std::string how;
    if (origin.taken != SectorTaken::Voted) {
        how = " from " + fileOf(files, origin.disk);
    }
    if (origin.taken == SectorTaken::Contested || origin.taken == SectorTaken::Voted) {
        how += " (" + std::to_string(origin.agree) + " of " + std::to_string(origin.among) +
               (origin.tie ? ", a tie" : "") + ")";
    }
    return how;
}

// The sectors taken the way `taken` says, grouped by how: each how (" from 'b.d88'") with its
// sectors, in the order of their first sectors.
std::vector<std::pair<std::string, std::vector<int>>>
sectorsByHow(const MergedRun& merged, SectorTaken taken, const DiskFiles& files) {
    std::vector<std::pair<std::string, std::vector<int>>> groups;
    for (int sector : sectorsTaken(merged, taken)) {
        const std::string how = takenHow(merged.origins[static_cast<size_t>(sector)], files);
        size_t k = 0;
        while (k < groups.size() && groups[k].first != how) {
            ++k;
        }
        if (k == groups.size()) {
            groups.push_back({how, {}});
        }
        groups[k].second.push_back(sector);
    }
    return groups;
}

// "3,7 from 'b.d88', 9 from 'c.d88'"; with `runs` false and one group, only " from 'b.d88'".
std::string sectorsHow(const MergedRun& merged, SectorTaken taken, const DiskFiles& files,
                       bool runs = true) {
    const auto groups = sectorsByHow(merged, taken, files);
    if (!runs && groups.size() == 1) {
        return groups[0].first;
    }
    std::string text;
    for (size_t k = 0; k < groups.size(); ++k) {
        text += (k == 0 ? "" : ", ") + sectorRuns(groups[k].second) + groups[k].first;
    }
    return (runs ? "" : " ") + text;
}

} // namespace

std::string sectorRuns(const std::vector<int>& sectors) {
    std::string text;
    for (size_t i = 0; i < sectors.size();) {
        size_t last = i;
        while (last + 1 < sectors.size() && sectors[last + 1] == sectors[last] + 1) {
            ++last;
        }
        text += (text.empty() ? "" : ",") + std::to_string(sectors[i]);
        if (last > i) {
            text += "-" + std::to_string(sectors[last]);
        }
        i = last + 1;
    }
    return text;
}

void printReportLine(const PlannedEntry& entry, const char* name, FILE* out) {
    hostPrintf(out, MSG_REPORT_LINE, shownName(name, out).text(), entrySetNumber(entry.entry),
               entry.entry.track, entry.entry.sector, entry.entry.size);
}

bool printFileMessages(const PlannedEntry& entry, const FileResult& result, const RunText& text) {
    const bool incomplete = entry.outcome == EntryOutcome::Incomplete;
    const bool written = wasWritten(result);
    const bool notRead = result.status == FileStatus::NotRead && text.byIdentity &&
                         entry.outcome == EntryOutcome::Missing;
    if ((result.status == FileStatus::PassedOver || result.status == FileStatus::NotRead) &&
        !notRead) {
        return false;
    }
    if (written && !incomplete && entry.readErrors.errorSectors == 0) {
        return false;
    }
    if (text.report != nullptr) {
        fflush(text.report);
    }
    FILE* out = text.messages;
    const ShownName shown = shownName(entry.saved.name.c_str(), out);
    switch (result.status) {
    case FileStatus::PassedOver:
        return false;
    case FileStatus::NotRead:
        hostPrintf(out, MSG_FIRST_SECTOR_UNREAD, shown.text(),
                   diskLabel(entrySetNumber(entry.entry)).c_str(), entry.entry.track,
                   entry.entry.sector, entry.firstSectorFound ? "cut short" : "missing");
        return true;
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
    const struct {
        SectorTaken taken;
        const char* word;
    } kinds[] = {{SectorTaken::Repaired, "repaired "},
                 {SectorTaken::Contested, "contested "},
                 {SectorTaken::Voted, "voted "}};
    for (const auto& kind : kinds) {
        const std::string sectors = sectorsHow(merged, kind.taken, files);
        if (!sectors.empty()) {
            line += (line.empty() ? "" : "; ") + std::string(kind.word) + sectors;
        }
    }
    if (!line.empty()) {
        hostPrintfLocal(out, "%ssectors from copies: %s\n", lead, line.c_str());
    }
}

bool printContested(const MergedRun& merged, const DiskFiles& files, const char* name, FILE* out) {
    const std::vector<int> sectors = sectorsTaken(merged, SectorTaken::Contested);
    if (sectors.empty()) {
        return false;
    }
    hostPrintfLocal(out, MSG_CONTESTED_SECTORS, sectors.size() == 1 ? "" : "s",
                    sectorRuns(sectors).c_str(), shownName(name, out).text(),
                    sectorsHow(merged, SectorTaken::Contested, files, false).c_str());
    return true;
}

void printReplacement(const char* name, const char* earlier, FILE* out) {
    hostPrintf(out, MSG_REPLACES_EARLIER, shownName(name, out).text(),
               shownName(earlier, out).text());
}

void printRunSummary(const char* program, const SetCounts& counts, const char* folder, FILE* out) {
    const std::string where =
        folder != nullptr ? "'" + shownPath(folder, out) + "'" : std::string("the current folder");
    std::string words;
    const struct {
        int count;
        const char* words;
    } parts[] = {{counts.replaced, "replaced"},
                 {counts.kept, "kept"},
                 {counts.notWritten, "not written"},
                 {counts.passedOver, "passed over"},
                 {counts.incomplete, "incomplete"},
                 {counts.withReadErrors, "with read errors"},
                 {counts.repaired, "repaired from copies"},
                 {counts.contested, "contested"},
                 {counts.voted, "voted"},
                 {counts.unreadable, "entries unreadable"}};
    for (const auto& part : parts) {
        if (part.count > 0) {
            words += (words.empty() ? "; " : ", ") + std::to_string(part.count) + " " + part.words;
        }
    }
    hostPrintfLocal(out, "%s: %d file%s, %s byte%s, written to %s%s\n", program, counts.files,
                    counts.files == 1 ? "" : "s", groupedDigits(counts.bytes).c_str(),
                    counts.bytes == 1 ? "" : "s", where.c_str(), words.c_str());
}
