#include "NoteText.h"

#include "ShownName.h"

#include <algorithm>
#include <cstdio>

namespace {

// printf into a string; the texts here are short.
template <typename... Values> std::string format(const char* pattern, Values... values) {
    char text[512];
    snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string quoted(const ShownFiles& files, int part) {
    return "'" +
           (part >= 0 && static_cast<size_t>(part) < files.size() ? files[static_cast<size_t>(part)]
                                                                  : std::string("?")) +
           "'";
}

std::string plural(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Why a disk's ID sector gives it no identity.
std::string idReason(const FoundDisk& disk) {
    switch (disk.id.state) {
    case IdSector::Clean:
        break;
    case IdSector::Missing:
        if (disk.lastTrack >= 0 && disk.lastTrack < ID_TRACK) {
            return format("the disk is cut short at track %d", disk.lastTrack);
        }
        return "its ID sector, track 79 sector 5, is missing";
    case IdSector::Cut:
        return "its ID sector is cut short";
    case IdSector::ReadError:
        return format("its ID sector is stored with the read-error status %02x", disk.id.status);
    }
    return "";
}

std::string noIdentityText(const SetNote& note, const DiskSetFacts& set, const ShownFiles& files) {
    const FoundDisk& disk = set.disks[static_cast<size_t>(note.disk)];
    std::string text = format("disk %d in ", disk.index) + quoted(files, disk.part) +
                       " has no readable ID sector (" + idReason(disk) + "): ";
    if (note.number == NO_SET_NUMBER) {
        return text + "its number in the set is unknown";
    }
    text += "taken as " + diskLabel(note.number);
    if (disk.byGap) {
        return text + ", the one disk of the set missing from the others";
    }
    return text + " by its place " +
           (note.number == DISK_A_ID ? "before " + diskLabel(2)
                                     : "after " + diskLabel(note.number - 1));
}

std::string copiesText(const SetNote& note, const DiskSetFacts& set, const ShownFiles& files) {
    const SetNumber& number = *findSetNumber(set, note.number);
    const std::string head =
        format("%s (ID byte %02x) is given %d times", diskLabel(number.id).c_str(), number.id,
               static_cast<int>(number.disks.size()));
    if (number.groups.size() == 1) {
        return head + ", with the same sectors: read from " + copyName(set, files, number.disks[0]);
    }
    std::string text = head + ": ";
    for (size_t g = 0; g < number.groups.size(); ++g) {
        const std::vector<int>& group = number.groups[g];
        std::string names;
        for (size_t k = 0; k < group.size(); ++k) {
            names += (k == 0                  ? ""
                      : k + 1 == group.size() ? " and "
                                              : ", ") +
                     copyName(set, files, group[k]);
        }
        text += (g == 0 ? "" : "; ") + names +
                (group.size() > 1 ? " hold the same sectors" : " holds other sectors");
    }
    return text + "; its sectors are read from every copy";
}

// What disk 0's ID sector says: "the ID byte of disk 0 is e5, where Disk A to Disk D carry 01
// to 04", or why it has none.
std::string firstDiskId(const DiskSetFacts& set) {
    const FoundDisk& first = set.disks[0];
    if (first.id.state == IdSector::Clean) {
        return format("the ID byte of disk 0 is %02x, where Disk A to Disk D carry 01 to 04",
                      first.id.byte);
    }
    if (first.id.state == IdSector::Missing && first.lastTrack < 0) {
        return "disk 0 has no ID sector (track 79, sector 5)";
    }
    return "disk 0 has no readable ID sector (" + idReason(first) + ")";
}

std::string noSetDiskText(const DiskSetFacts& set) {
    const int count = static_cast<int>(set.disks.size());
    return format("the files hold %d D88 disk%s, and %s of this set: ", count,
                  count == 1 ? "" : "s", count == 1 ? "it is no disk" : "none is a disk") +
           firstDiskId(set);
}

} // namespace

std::string noIdentityReason(const FoundDisk& disk) {
    if (disk.id.state == IdSector::Missing && disk.lastTrack < 0) {
        return "it has no ID sector";
    }
    return "it has no readable ID sector (" + idReason(disk) + ")";
}

int placeOfDisk(const DiskSetFacts& set, int index) {
    for (size_t i = 0; i < set.disks.size(); ++i) {
        if (set.disks[i].index == index) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string copyName(const DiskSetFacts& set, const ShownFiles& files, int disk) {
    if (disk < 0 || static_cast<size_t>(disk) >= set.disks.size()) {
        return "'?'";
    }
    const FoundDisk& copy = set.disks[static_cast<size_t>(disk)];
    int inFile = 0;
    for (const FoundDisk& other : set.disks) {
        inFile += other.part == copy.part ? 1 : 0;
    }
    return quoted(files, copy.part) + (inFile > 1 ? format(" (disk %d)", copy.index) : "");
}

std::string givenAgainText(const std::string& quotedName) {
    return quotedName + " is given again: read once";
}

std::string setNoteText(const SetNote& note, const DiskSetFacts& set, const ShownFiles& files) {
    switch (note.subject) {
    case NoteSubject::NotImage:
        if (note.part < 0) {
            return "the files hold no D88 disk";
        }
        return quoted(files, note.part) + " is not a D88 image" +
               (std::count(set.partsLikeZip.begin(), set.partsLikeZip.end(), note.part) > 0
                    ? ", nor a zip whose directory can be read"
                    : "");
    case NoteSubject::NoSetDisk:
        return noSetDiskText(set);
    case NoteSubject::NoDiskA:
        return "Disk A (ID byte 01) is in none of the files: the directory of the set's files is "
               "on it; " +
               firstDiskId(set);
    case NoteSubject::NoIdentity:
        return noIdentityText(note, set, files);
    case NoteSubject::Copies:
        return copiesText(note, set, files);
    case NoteSubject::Repeated:
        return givenAgainText(quoted(files, note.part));
    case NoteSubject::Cut: {
        const FoundDisk& disk = set.disks[static_cast<size_t>(note.disk)];
        const std::string head =
            format("disk %d, which starts in ", disk.index) + quoted(files, disk.part);
        return head +
               (note.otherPart >= 0
                    ? ", is cut short where " + quoted(files, note.otherPart) + " starts"
                    : std::string(", reaches past the end of the files")) +
               ": a file is missing or damaged";
    }
    case NoteSubject::Stray:
    case NoteSubject::Tail:
        return "the last " + plural(note.bytes, "byte", "bytes") + " of " +
               quoted(files, note.part) + (note.bytes == 1 ? " is" : " are") +
               " no D88 disk: not read";
    case NoteSubject::Unread:
        return quoted(files, note.part) + " is not read: the files before it reach the most that "
                                          "is read (64 disks, 2 GiB)";
    case NoteSubject::ReaderLimit:
        return "the last " + plural(note.bytes, "byte", "bytes") + " of " +
               quoted(files, note.part) +
               " are not read: they lie past the most that is read (64 "
               "disks, 2 GiB)";
    }
    return "";
}

std::string missingDiskText(const MissingDisk& missing, const SetPlan& plan, FILE* shownOn) {
    const int count = static_cast<int>(missing.entries.size());
    std::string text = format("%s (ID byte %02x) is in none of the files: %d entr%s need%s it",
                              diskLabel(missing.id).c_str(), missing.id, count,
                              count == 1 ? "y" : "ies", count == 1 ? "s" : "");
    const char* separator = ": ";
    for (int index : missing.entries) {
        for (const PlannedEntry& entry : plan.entries) {
            if (entry.index == index) {
                const char* name = entry.saved.name.c_str();
                text += separator +
                        ("'" +
                         std::string(shownOn != nullptr ? shownName(name, shownOn).text() : name) +
                         "'");
                separator = ", ";
            }
        }
    }
    return text;
}

std::string directoryNoteText(const DirectoryNote& note, const DirectoryRead& directory,
                              const DiskSetFacts& set, const ShownFiles& files) {
    const std::string disk =
        directory.asPrograms ? format("disk %d", directory.disk) : std::string("Disk A");
    std::string text = format("the directory's sector %d of %d (%s, track %d) ", note.sector,
                              DIRECTORY_SECTORS, disk.c_str(), DIRECTORY_TRACK);
    bool unread = true;
    switch (note.problem) {
    case SectorProblem::Missing:
        text += "is missing";
        break;
    case SectorProblem::Cut:
        text += "is cut short after " + plural(note.bytes, "byte", "bytes");
        break;
    case SectorProblem::NotRead:
        text += format("is not read: the set's programs stop at sector %d", note.sector - 1);
        break;
    case SectorProblem::ReadError:
        text += "is stored with a read-error status";
        unread = false;
        break;
    case SectorProblem::Contested:
        text += format("is contested: its copies read without error hold other bytes; taken from "
                       "%s, as %d of %d copies hold them",
                       copyName(set, files, placeOfDisk(set, note.origin.disk)).c_str(),
                       note.origin.agree, note.origin.among);
        unread = false;
        break;
    }
    if (note.firstEntry < 0) {
        return text;
    }
    const std::string entries = note.firstEntry == note.lastEntry
                                    ? format("entry %d", note.firstEntry)
                                    : format("entries %d to %d", note.firstEntry, note.lastEntry);
    return text + ": " + entries + (unread ? " cannot be read" : " may be wrong");
}

std::string layoutProblemText(const LayoutDecision& decision) {
    const auto files = [](int count) { return plural(count, "file", "files"); };
    switch (decision.problem) {
    case LayoutProblem::None:
        return "";
    case LayoutProblem::GivenYieldsNothing: {
        const DirectoryLayout& other = otherLayout(*decision.given);
        return format("layout %s (%s) yields no files; layout %s (%s) yields ",
                      decision.given->letter, decision.given->programName, other.letter,
                      other.programName) +
               files(decision.files[layoutIndex(other)]);
    }
    case LayoutProblem::Both:
        return "both layouts yield files: layout a (d88extract-a), " + files(decision.files[0]) +
               "; layout b (d88extract-b), " + files(decision.files[1]);
    case LayoutProblem::Neither:
        return "no files in either layout";
    }
    return "";
}
