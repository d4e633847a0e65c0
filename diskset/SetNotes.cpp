#include "SetNotes.h"

#include <algorithm>

namespace {

SetNote note(NoteKind kind, NoteSubject subject) {
    return SetNote{kind, subject, -1, -1, -1, NO_SET_NUMBER, 0};
}

// Why the files cannot be read at all, when they cannot: at most one refusal.
bool refusal(const DiskSetFacts& set, std::vector<SetNote>& notes) {
    if (!set.partsWithoutDisk.empty()) {
        SetNote refused = note(NoteKind::Refusal, NoteSubject::NotImage);
        refused.part = set.partsWithoutDisk[0];
        notes.push_back(refused);
    } else if (set.disks.empty()) {
        notes.push_back(note(NoteKind::Refusal, NoteSubject::NotImage));
    } else if (set.numbers.empty()) {
        SetNote refused = note(NoteKind::Refusal, NoteSubject::NoSetDisk);
        refused.disk = 0;
        notes.push_back(refused);
    } else if (set.directoryDisk < 0) {
        notes.push_back(note(NoteKind::Refusal, NoteSubject::NoDiskA));
    }
    return !notes.empty();
}

void diskNotes(const DiskSetFacts& set, std::vector<SetNote>& notes) {
    for (size_t i = 0; i < set.disks.size(); ++i) {
        const FoundDisk& disk = set.disks[i];
        if (disk.repeatOf >= 0 || disk.id.state == IdSector::Clean) {
            continue;
        }
        SetNote unknown = note(NoteKind::Damage, NoteSubject::NoIdentity);
        unknown.disk = static_cast<int>(i);
        unknown.part = disk.part;
        unknown.number = disk.setNumber;
        notes.push_back(unknown);
    }
    for (const SetNumber& number : set.numbers) {
        if (number.disks.size() > 1) {
            SetNote copies = note(NoteKind::Note, NoteSubject::Copies);
            copies.number = number.id;
            notes.push_back(copies);
        }
    }
    for (int part : set.partsRepeated) {
        SetNote repeated = note(NoteKind::Note, NoteSubject::Repeated);
        repeated.part = part;
        notes.push_back(repeated);
    }
    for (size_t i = 0; i < set.disks.size(); ++i) {
        const FoundDisk& disk = set.disks[i];
        if ((disk.cutBy >= 0 || disk.pastEnd) && disk.repeatOf < 0) {
            SetNote cut = note(NoteKind::Damage, NoteSubject::Cut);
            cut.disk = static_cast<int>(i);
            cut.part = disk.part;
            cut.otherPart = disk.cutBy;
            notes.push_back(cut);
        }
    }
}

void unreadNotes(const DiskSetFacts& set, int64_t imageEnd, std::vector<SetNote>& notes) {
    for (const StrayBytes& stray : set.stray) {
        SetNote left = note(NoteKind::Note, NoteSubject::Stray);
        left.part = stray.part;
        left.bytes = stray.length;
        notes.push_back(left);
    }
    for (int part : set.partsUnread) {
        SetNote unread = note(NoteKind::Damage, NoteSubject::Unread);
        unread.part = part;
        notes.push_back(unread);
    }
    // The files' last bytes, when the reader stops inside a file given.
    const bool inFile = set.unreadFrom >= 0 &&
                        std::find(set.partsUnread.begin(), set.partsUnread.end(), set.unreadPart) ==
                            set.partsUnread.end();
    if (inFile) {
        const bool limit = set.unreadReason == UnreadReason::ReaderLimit;
        SetNote tail = note(limit ? NoteKind::Damage : NoteKind::Note,
                            limit ? NoteSubject::ReaderLimit : NoteSubject::Tail);
        tail.part = set.unreadPart;
        tail.bytes = imageEnd - set.unreadFrom;
        notes.push_back(tail);
    }
}

// The entries of `layout` whose bytes lie (partly) in directory bytes `from` to `to` (excluded).
void entriesIn(const DirectoryLayout* layout, int from, int to, DirectoryNote& note) {
    note.firstEntry = -1;
    note.lastEntry = -1;
    for (int i = 0; layout != nullptr && i < layout->entryCount; ++i) {
        const int start = layout->firstEntryOffset + i * DIR_ENTRY_SIZE;
        if (start < to && start + DIR_ENTRY_SIZE > from) {
            note.firstEntry = note.firstEntry < 0 ? i : note.firstEntry;
            note.lastEntry = i;
        }
    }
}

bool refusedName(EntryOutcome outcome) {
    return outcome == EntryOutcome::UnsafeName || outcome == EntryOutcome::ImageItself ||
           outcome == EntryOutcome::Uncreatable;
}

} // namespace

std::vector<SetNote> decideSetNotes(const DiskSetFacts& set, int64_t imageEnd) {
    std::vector<SetNote> notes;
    if (refusal(set, notes)) {
        return notes;
    }
    diskNotes(set, notes);
    unreadNotes(set, imageEnd, notes);
    return notes;
}

bool refusesFiles(const std::vector<SetNote>& notes) {
    return std::any_of(notes.begin(), notes.end(),
                       [](const SetNote& note) { return note.kind == NoteKind::Refusal; });
}

bool tellsOfDamage(const std::vector<SetNote>& notes) {
    return std::any_of(notes.begin(), notes.end(),
                       [](const SetNote& note) { return note.kind != NoteKind::Note; });
}

std::vector<DirectoryNote> decideDirectoryNotes(const DirectoryRead& directory,
                                                const DirectoryLayout* layout) {
    std::vector<DirectoryNote> notes;
    if (directory.disk < 0) {
        return notes;
    }
    bool stopped = false; // the programs' run stopped at an earlier sector
    for (int s = 0; s < DIRECTORY_SECTORS; ++s) {
        const DirectorySector& sector = directory.sectors[s];
        DirectoryNote note{s + 1, SectorProblem::Missing, sector.bytes, -1, -1, sector.origin};
        const int start = s * SECTOR_BYTES;
        if (stopped) {
            note.problem = SectorProblem::NotRead;
            entriesIn(layout, start, start + SECTOR_BYTES, note);
        } else if (sector.bytes < SECTOR_BYTES) {
            note.problem = sector.found ? SectorProblem::Cut : SectorProblem::Missing;
            entriesIn(layout, start + sector.bytes, start + SECTOR_BYTES, note);
            stopped = directory.asPrograms;
        } else if (sector.origin.taken == SectorTaken::Contested) {
            note.problem = SectorProblem::Contested;
            entriesIn(layout, start, start + SECTOR_BYTES, note);
        } else if (sector.origin.readError) {
            note.problem = SectorProblem::ReadError;
            entriesIn(layout, start, start + SECTOR_BYTES, note);
        } else {
            continue;
        }
        notes.push_back(note);
    }
    // An entry that two noted sectors share is said with the sector that holds its last bytes.
    for (size_t k = 0; k + 1 < notes.size(); ++k) {
        DirectoryNote& note = notes[k];
        if (notes[k + 1].sector == note.sector + 1 && note.lastEntry >= 0 &&
            note.lastEntry == notes[k + 1].firstEntry) {
            note.lastEntry = note.lastEntry > note.firstEntry ? note.lastEntry - 1 : -1;
            note.firstEntry = note.lastEntry >= 0 ? note.firstEntry : -1;
        }
    }
    return notes;
}

bool planIsWhole(const SetPlan& plan) {
    if (!plan.enoughDisks || !plan.missingDisks.empty() ||
        !decideDirectoryNotes(plan.directory, plan.layout).empty()) {
        return false;
    }
    for (const PlannedEntry& entry : plan.entries) {
        const bool notWritten = entry.outcome == EntryOutcome::Missing ||
                                (entry.outcome == EntryOutcome::NoDisk && entry.entry.size > 0);
        if (notWritten || refusedName(entry.outcome) || entry.outcome == EntryOutcome::Incomplete ||
            entry.replaces >= 0) {
            return false;
        }
        if (isWritten(entry.outcome) &&
            (entry.readErrors.errorSectors > 0 ||
             !sectorsTaken(entry.merged, SectorTaken::Contested).empty())) {
            return false;
        }
    }
    return true;
}
