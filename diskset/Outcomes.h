// The words for what becomes of an entry and of its file, one wording for every face: the
// text of d88info and d88extract, the JSON documents, and the page, which shows the meanings.
#pragma once

#include "Plan.h"

// What an outcome means for the entry's file, as the faces group them.
enum class OutcomeKind {
    Written,    // written (whole or not)
    NotWritten, // a file of the set that is not written: its disk or sector is missing
    Refused,    // not written: its name is refused
    PassedOver, // nothing to write: not chosen, or empty
};

// What the plan decides for an entry.
struct OutcomeWording {
    EntryOutcome outcome;
    const char* word;
    const char* meaning;
    OutcomeKind kind;
};
extern const OutcomeWording OUTCOME_WORDINGS[9];
const char* outcomeWord(EntryOutcome outcome);
// "written", "not-written", "refused" or "passed-over".
const char* outcomeKindWord(OutcomeKind kind);
OutcomeKind outcomeKind(EntryOutcome outcome);

// What became of an entry's file in a run.
enum class FileStatus {
    PassedOver,   // nothing to write: not chosen, empty
    NotRead,      // not written: its disk or its first sector is missing
    Written,      // a new file under a free name
    Replaced,     // a new file in place of one that stood under the name
    Refused,      // the name was refused; why is in the refusal
    CannotCreate, // the host could not make the file
    CannotWrite,  // writing or closing it failed; a file under the name is left as it was
    Kept,         // a file stood under the name and was kept (d88extract -k); nothing written
};

// Why a file was refused.
enum class Refusal {
    None,
    UnsafeName,     // the name could reach outside the folder
    ImageItself,    // the name is a file of the image being read
    SymbolicLink,   // a symbolic link stands under the name
    NotRegularFile, // a device, pipe or socket stands under the name
    ShortName,      // the name is the short (8.3) name of another file (Windows)
    Appeared,       // a file took the name while the new one was written
    ImageChanged,   // the image's files gave fewer of the file's bytes than when planned
};

struct FileResult {
    FileStatus status;
    Refusal refusal;
    int error; // the host's error number for CannotCreate and CannotWrite
};

// True when the file was written under its name (new or in place of another).
bool wasWritten(const FileResult& result);

struct StatusWording {
    FileStatus status;
    const char* word;
    const char* meaning;
};
extern const StatusWording STATUS_WORDINGS[8];
const char* statusWord(FileStatus status);

// What a refusal says, as the messages end: "it is a symbolic link".
const char* refusalReason(Refusal refusal);
