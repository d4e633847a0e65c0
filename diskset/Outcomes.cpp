#include "Outcomes.h"

const OutcomeWording OUTCOME_WORDINGS[9] = {
    {EntryOutcome::Whole, "extract", "written whole", OutcomeKind::Written},
    {EntryOutcome::Incomplete, "incomplete",
     "written with its full size, zeros past the bytes that could be read", OutcomeKind::Written},
    {EntryOutcome::Empty, "empty", "passed over: its size is 0", OutcomeKind::PassedOver},
    {EntryOutcome::NoDisk, "no-disk", "not written: no disk carries its number",
     OutcomeKind::NotWritten},
    {EntryOutcome::Missing, "missing", "not written: its first sector cannot be read",
     OutcomeKind::NotWritten},
    {EntryOutcome::UnsafeName, "unsafe",
     "refused: the name could reach outside the folder, or the host cannot write it",
     OutcomeKind::Refused},
    {EntryOutcome::ImageItself, "image-itself", "refused: the name is a file of the image",
     OutcomeKind::Refused},
    {EntryOutcome::Uncreatable, "uncreatable",
     "refused by the host: the name can never be a file (empty, . or ..)", OutcomeKind::Refused},
    {EntryOutcome::NotChosen, "not-chosen",
     "passed over: no pattern of the choice of files matches its saved name",
     OutcomeKind::PassedOver},
};

const char* outcomeWord(EntryOutcome outcome) {
    for (const OutcomeWording& wording : OUTCOME_WORDINGS) {
        if (wording.outcome == outcome) {
            return wording.word;
        }
    }
    return "?";
}

OutcomeKind outcomeKind(EntryOutcome outcome) {
    for (const OutcomeWording& wording : OUTCOME_WORDINGS) {
        if (wording.outcome == outcome) {
            return wording.kind;
        }
    }
    return OutcomeKind::PassedOver;
}

const char* outcomeKindWord(OutcomeKind kind) {
    switch (kind) {
    case OutcomeKind::Written:
        return "written";
    case OutcomeKind::NotWritten:
        return "not-written";
    case OutcomeKind::Refused:
        return "refused";
    case OutcomeKind::PassedOver:
        break;
    }
    return "passed-over";
}

bool wasWritten(const FileResult& result) {
    return result.status == FileStatus::Written || result.status == FileStatus::Replaced;
}

const StatusWording STATUS_WORDINGS[8] = {
    {FileStatus::PassedOver, "passed-over",
     "nothing was written: the entry has no file to read, or was not chosen"},
    {FileStatus::NotRead, "not-read", "not written: its disk or its first sector is missing"},
    {FileStatus::Written, "written", "written under a free name"},
    {FileStatus::Replaced, "replaced", "written in place of the file that stood under the name"},
    {FileStatus::Refused, "refused", "not written: the name was refused"},
    {FileStatus::CannotCreate, "cannot-create", "not written: the host could not create it"},
    {FileStatus::Kept, "kept", "not written: a file stood under the name and was kept as it is"},
    {FileStatus::CannotWrite, "cannot-write",
     "not written: writing failed, and a file under the name was left as it was"},
};

const char* statusWord(FileStatus status) {
    for (const StatusWording& wording : STATUS_WORDINGS) {
        if (wording.status == status) {
            return wording.word;
        }
    }
    return "?";
}

const char* refusalReason(Refusal refusal) {
    switch (refusal) {
    case Refusal::None:
        return "";
    case Refusal::UnsafeName:
        return "unsafe file name";
    case Refusal::ImageItself:
        return "it is the image being read";
    case Refusal::SymbolicLink:
        return "it is a symbolic link";
    case Refusal::NotRegularFile:
        return "it is not a regular file";
    case Refusal::ShortName:
        return "it is the short name of another file";
    case Refusal::Appeared:
        return "a file of that name appeared while it was written";
    case Refusal::ImageChanged:
        return "the image's files changed while they were read";
    }
    return "";
}
