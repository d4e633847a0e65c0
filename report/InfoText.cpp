#include "InfoText.h"

#include "Host.h"
#include "LayoutText.h"
#include "SetCounts.h"
#include "SetText.h"

namespace {

void printCopyDifferences(const CopyDifferences& differences, FILE* out) {
    hostPrintf(out, "  %02x (%s): the copies differ in %d sector%s\n", differences.number,
               diskLabel(differences.number).c_str(), differences.sectors,
               differences.sectors == 1 ? "" : "s");
    for (const SectorDifference& difference : differences.listed) {
        const char* what = difference.what == CopyDifference::Missing  ? "missing"
                           : difference.what == CopyDifference::Status ? "another status"
                                                                       : "other bytes";
        hostPrintf(out, "    track %3d  %02x/%02x/%02x/%02x  disk %d: %s\n", difference.track,
                   difference.id.c, difference.id.h, difference.id.r, difference.id.n,
                   difference.disk, what);
    }
    if (differences.total > static_cast<int>(differences.listed.size())) {
        hostPrintf(out, "    and %d more\n",
                   differences.total - static_cast<int>(differences.listed.size()));
    }
}

} // namespace

void printDiskSetText(const DiskSetFacts& set, const std::vector<SetNote>& notes,
                      const std::vector<CopyDifferences>& differences, const ShownFiles& files,
                      FILE* out) {
    hostPrintf(out, "%s", "set numbers:");
    if (set.numbers.empty()) {
        hostPrintf(out, "%s", " none");
    }
    for (size_t i = 0; i < set.numbers.size(); ++i) {
        const SetNumber& number = set.numbers[i];
        hostPrintf(out, "%s %02x (%s) disk", i > 0 ? "," : "", number.id,
                   diskLabel(number.id).c_str());
        hostPrintf(out, "%s", number.disks.size() > 1 ? "s" : "");
        for (size_t k = 0; k < number.disks.size(); ++k) {
            hostPrintf(out, "%s%d",
                       k == 0                         ? " "
                       : k + 1 == number.disks.size() ? " and "
                                                      : ", ",
                       set.disks[static_cast<size_t>(number.disks[k])].index);
        }
        if (number.disks.size() > 1) {
            hostPrintf(out, "%s",
                       number.groups.size() == 1 ? " (the same sectors)" : " (different sectors)");
        }
    }
    hostPrintf(out, "%c", '\n');
    for (const CopyDifferences& copies : differences) {
        if (copies.total > 0) {
            printCopyDifferences(copies, out);
        }
    }
    for (const SetNote& note : notes) {
        if (note.subject == NoteSubject::NoDiskA ||
            (note.kind != NoteKind::Refusal && note.subject != NoteSubject::Copies)) {
            hostPrintfLocal(out, "  %s\n", setNoteText(note, set, files).c_str());
        }
    }
    // Disks of no set number that no note names.
    for (int place : set.otherIds) {
        const FoundDisk& disk = set.disks[static_cast<size_t>(place)];
        bool noted = false;
        for (const SetNote& note : notes) {
            noted = noted || (note.subject == NoteSubject::NoIdentity && note.disk == place);
        }
        if (disk.id.state == IdSector::Clean) {
            hostPrintf(out, "  disk %d is no disk of this set: its ID byte is %02x\n", disk.index,
                       disk.id.byte);
        } else if (!noted) {
            hostPrintf(out, "  disk %d is no disk of this set: %s\n", disk.index,
                       noIdentityReason(disk).c_str());
        }
    }
}

void printSetText(const std::vector<const char*>& paths, int diskCount, const SetPlan& plan,
                  const DiskSetFacts& set, const ShownFiles& files, FILE* out) {
    printSetHead(paths, diskCount, *plan.layout, out);
    if (!plan.enoughDisks && !plan.directory.asPrograms) {
        hostPrintf(out, "%s\n",
                   setNoteText(SetNote{NoteKind::Refusal, NoteSubject::NoDiskA, -1, -1, -1,
                                       NO_SET_NUMBER, 0},
                               set, files)
                       .c_str());
        return;
    }
    if (!plan.enoughDisks) {
        hostPrintf(out, "%s stops here with its too-few-disks message: it needs Disk A to Disk D\n",
                   plan.layout->programName);
        hostPrintf(out, "%s", joinHintText().c_str());
        return;
    }
    printMissingDisks(plan, "", out);
    printDirectoryNotes(plan, set, files, "", out);
    printSetPlan(plan, out);
    printSetSummary(countSet(plan), out);
}
