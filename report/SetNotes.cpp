#include "SetNotes.h"

#include "ShownName.h"

#include <cstdio>

namespace {

// printf into a string; the texts here are short.
template <typename... Values> std::string format(const char* pattern, Values... values) {
    char text[512];
    snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string quoted(const std::vector<std::string>& files, int part) {
    return "'" +
           (part >= 0 && static_cast<size_t>(part) < files.size() ? files[static_cast<size_t>(part)]
                                                                  : std::string("?")) +
           "'";
}

std::string fileOfDisk(const DiskSetFacts& set, const std::vector<std::string>& files, int disk) {
    return quoted(files, set.disks[static_cast<size_t>(disk)].part);
}

} // namespace

std::vector<SetNote> diskSetNotes(const DiskSetFacts& set, const std::vector<std::string>& files,
                                  int64_t imageEnd) {
    std::vector<SetNote> notes;
    if (!set.partsWithoutDisk.empty()) {
        notes.push_back({NoteKind::Refusal, NoteSubject::NotImage,
                         quoted(files, set.partsWithoutDisk[0]) + " is not a D88 image"});
        return notes;
    }
    if (set.disks.empty()) {
        notes.push_back({NoteKind::Refusal, NoteSubject::NotImage, "the files hold no D88 disk"});
        return notes;
    }
    if (set.numbers.empty()) {
        const int count = static_cast<int>(set.disks.size());
        const FoundDisk& first = set.disks[0];
        std::string text =
            format("the files hold %d D88 disk%s, and %s of this set: ", count,
                   count == 1 ? "" : "s", count == 1 ? "it is no disk" : "none is a disk");
        text += first.setId >= 0 ? format("the ID byte of disk 0 is %02x, where Disk A to Disk "
                                          "D carry 01 to 04",
                                          first.setId)
                                 : std::string("disk 0 has no ID sector (track 79, sector 5)");
        notes.push_back({NoteKind::Refusal, NoteSubject::NoSetDisk, text});
        return notes;
    }
    for (const SetNumber& number : set.numbers) {
        const int count = static_cast<int>(number.disks.size());
        if (count < 2) {
            continue;
        }
        const std::string label = diskLabel(number.id);
        if (number.differ.empty()) {
            notes.push_back({NoteKind::Note, NoteSubject::Copies,
                             format("%s (ID byte %02x) is given %d times, with the same bytes: "
                                    "read from ",
                                    label.c_str(), number.id, count) +
                                 fileOfDisk(set, files, number.disks[0])});
            continue;
        }
        std::string others;
        for (int disk : number.differ) {
            others += (others.empty() ? "" : ", ") + fileOfDisk(set, files, disk);
        }
        notes.push_back({NoteKind::Note, NoteSubject::Copies,
                         format("%s (ID byte %02x) is given %d times, with other bytes in ",
                                label.c_str(), number.id, count) +
                             others + ": its sectors are read from every copy"});
    }
    for (const FoundDisk& disk : set.disks) {
        if (disk.cutBy >= 0) {
            notes.push_back({NoteKind::Damage, NoteSubject::Cut,
                             format("disk %d, which starts in ", disk.index) +
                                 quoted(files, disk.part) + ", is cut short where " +
                                 quoted(files, disk.cutBy) +
                                 " starts: a file is missing or damaged"});
        } else if (disk.pastEnd) {
            notes.push_back({NoteKind::Damage, NoteSubject::Cut,
                             format("disk %d, which starts in ", disk.index) +
                                 quoted(files, disk.part) +
                                 ", reaches past the end of the files: a file "
                                 "is missing or damaged"});
        }
    }
    for (int part : set.partsUnread) {
        notes.push_back({NoteKind::Damage, NoteSubject::Unread,
                         quoted(files, part) + " is not read: the files before it reach the "
                                               "most that is read (64 disks, 2 GiB)"});
    }
    if (set.partsUnread.empty() && set.unreadFrom >= 0) {
        notes.push_back(
            {NoteKind::Note, NoteSubject::Tail,
             format("the last %lld bytes of ", static_cast<long long>(imageEnd - set.unreadFrom)) +
                 quoted(files, set.unreadPart) + " are no D88 disk: not read"});
    }
    return notes;
}

std::vector<SetNote> missingDiskNotes(const SetPlan& plan, FILE* shownOn) {
    std::vector<SetNote> notes;
    for (const MissingDisk& missing : plan.missingDisks) {
        const int count = static_cast<int>(missing.entries.size());
        std::string text = format("%s (ID byte %02x) is in none of the files: %d entr%s need%s it",
                                  diskLabel(missing.id).c_str(), missing.id, count,
                                  count == 1 ? "y" : "ies", count == 1 ? "s" : "");
        const char* separator = ": ";
        for (int index : missing.entries) {
            for (const PlannedEntry& entry : plan.entries) {
                if (entry.index == index) {
                    const char* name = entry.saved.name.c_str();
                    text +=
                        separator +
                        ("'" +
                         std::string(shownOn != nullptr ? shownName(name, shownOn).text() : name) +
                         "'");
                    separator = ", ";
                }
            }
        }
        notes.push_back({NoteKind::Damage, NoteSubject::MissingDisk, text});
    }
    return notes;
}

std::string layoutProblemText(const LayoutDecision& decision) {
    const auto files = [](int count) { return format("%d file%s", count, count == 1 ? "" : "s"); };
    switch (decision.problem) {
    case LayoutProblem::None:
        return "";
    case LayoutProblem::GivenYieldsNothing: {
        const DirectoryLayout& other = decision.given == &LAYOUT_A ? LAYOUT_B : LAYOUT_A;
        return format("layout %s (%s) yields no files; layout %s (%s) yields ",
                      decision.given->letter, decision.given->programName, other.letter,
                      other.programName) +
               files(decision.files[&other == &LAYOUT_B ? 1 : 0]);
    }
    case LayoutProblem::Both:
        return "both layouts yield files: layout a (d88extract-a), " + files(decision.files[0]) +
               "; layout b (d88extract-b), " + files(decision.files[1]);
    case LayoutProblem::Neither:
        return "no files in either layout";
    }
    return "";
}
