// What is said of the files before an extraction: why the set cannot be read at all, what is
// damaged, and what is only noted. One wording, which d88extract prints after its name, d88info
// lists, and the page shows above its table.
#pragma once

#include "DiskSet.h"
#include "ImageFacts.h"
#include "Plan.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class NoteKind {
    Refusal, // nothing can be read: no file is written
    Damage,  // a file is missing or damaged: the run ends with status 1
    Note,    // said, nothing more
};

// What a note is about.
enum class NoteSubject { NotImage, NoSetDisk, Copies, Cut, Unread, Tail, MissingDisk };

struct SetNote {
    NoteKind kind;
    NoteSubject subject;
    std::string text;
};

// The notes on the disks that the files hold. `files` names the given files as they are to be
// shown, `imageEnd` is their length together.
std::vector<SetNote> diskSetNotes(const DiskSetFacts& set, const std::vector<std::string>& files,
                                  int64_t imageEnd);

// Why no layout is read, when the decision has a problem: "layout b (d88extract-b) yields no
// files; layout a (d88extract-a) yields 7 files", "both layouts yield files: ...", "no files in
// either layout". Empty without a problem.
std::string layoutProblemText(const LayoutDecision& decision);

// The disks that listed entries need and no file holds, each with the entries' saved names, as
// they are shown on `shownOn` (as stored when it is null).
std::vector<SetNote> missingDiskNotes(const SetPlan& plan, FILE* shownOn);
