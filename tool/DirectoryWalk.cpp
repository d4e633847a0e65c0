#include "DirectoryWalk.h"

#include "DiskSet.h"
#include "Host.h"
#include "Messages.h"
#include "Plan.h"
#include "ShownName.h"

#include <cstring>
#include <string>
#include <vector>

uint8_t directoryBuffer[DIRECTORY_BYTES];
uint8_t workBuffer[WORK_BUFFER_BYTES];

DirEntry parseDirEntry(const uint8_t* bytes) {
    DirEntry entry{};
    for (int i = 0; i < 12 && bytes[i] != ' '; ++i) {
        entry.name[i] = static_cast<char>(bytes[i]);
    }
    entry.track = bytes[12];
    entry.sector = bytes[13];
    entry.size = bytes[14] * SECTOR_BYTES;
    entry.diskNumber = bytes[15];
    return entry;
}

namespace {

// Selects each disk in file order until one whose ID byte is `diskNumber` + 1.
bool selectDiskByNumber(d88::D88Image& image, int diskNumber) {
    for (int k = 0; k < image.diskCount(); ++k) {
        image.selectDisk(k);
        image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
        // A short ID sector still stores its first byte; a missing one leaves 0, which never
        // matches.
        workBuffer[0] = 0;
        image.readRun(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR, SECTOR_SIZE_CODE,
                      workBuffer, SECTOR_BYTES);
        if (workBuffer[0] == diskNumber + 1) {
            return true;
        }
    }
    return false;
}

// Reads the file's run into workBuffer and decides what becomes of it, saved as `saved`. With
// `firstSectorOnly` only the first sector is read, which tells whether the file is written at
// all but not whether it is whole.
EntryOutcome planFile(d88::D88Image& image, const HostFolder& folder, const char* name,
                      const SavedName& saved, NameTarget target, int track, int c, int h, int r,
                      int n, int offset, int size, int& bytesRead, d88::RunErrors& errors,
                      bool firstSectorOnly = false) {
    bytesRead = 0;
    errors = d88::RunErrors{};
    if (offset < 0 || size < 0 || size > WORK_BUFFER_BYTES - offset) {
        return EntryOutcome::Missing;
    }
    const int whole = offset + size;
    const int total =
        firstSectorOnly && whole > offset + SECTOR_BYTES ? offset + SECTOR_BYTES : whole;
    const int got = total > 0 ? image.readRun(track, c, h, r, n, workBuffer, total, &errors) : 0;
    if (got == 0) {
        return size == 0 ? EntryOutcome::Empty : EntryOutcome::Missing;
    }
    bytesRead = got > offset ? got - offset : 0;
    // Bytes the run did not count must not carry data of earlier reads into this file.
    memset(workBuffer + got, 0, static_cast<size_t>(total - got));
    if (refusesSavedName(name, saved, target)) {
        return EntryOutcome::UnsafeName;
    }
    if (hostNamesImage(folder, image, saved.name.c_str())) {
        return EntryOutcome::ImageItself;
    }
    if (name[0] == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        return EntryOutcome::Uncreatable;
    }
    return got < total ? EntryOutcome::Incomplete : EntryOutcome::Whole;
}

// Writes what planFile read, as the extraction does.
ExtractResult writePlannedFile(const HostFolder& folder, const char* name, EntryOutcome outcome,
                               int bytesRead, int offset, int size) {
    ExtractResult result{ExtractOutcome::NothingRead, bytesRead, 0, false};
    switch (outcome) {
    case EntryOutcome::NoDisk:
    case EntryOutcome::Empty:
    case EntryOutcome::Missing:
        return result;
    case EntryOutcome::UnsafeName:
        result.outcome = ExtractOutcome::UnsafeName;
        return result;
    case EntryOutcome::ImageItself:
        result.outcome = ExtractOutcome::ImageItself;
        return result;
    case EntryOutcome::Uncreatable: // the host says why
    case EntryOutcome::Whole:
    case EntryOutcome::Incomplete:
        break;
    }
    const ReplaceResult replaced = hostReplaceFile(folder, name, NameSource::DiskSet,
                                                   workBuffer + offset, static_cast<size_t>(size));
    result.systemError = replaced.error;
    result.existed = replaced.existed;
    switch (replaced.outcome) {
    case ReplaceOutcome::Replaced:
        result.outcome = outcome == EntryOutcome::Incomplete ? ExtractOutcome::Incomplete
                                                             : ExtractOutcome::Written;
        break;
    case ReplaceOutcome::SymbolicLink:
        result.outcome = ExtractOutcome::SymbolicLink;
        break;
    case ReplaceOutcome::NotRegularFile:
        result.outcome = ExtractOutcome::NotRegularFile;
        break;
    case ReplaceOutcome::ShortName:
        result.outcome = ExtractOutcome::ShortName;
        break;
    case ReplaceOutcome::Appeared:
        result.outcome = ExtractOutcome::Appeared;
        break;
    case ReplaceOutcome::CannotCreate:
        result.outcome = ExtractOutcome::CannotCreate;
        break;
    case ReplaceOutcome::CannotWrite:
        result.outcome = ExtractOutcome::CannotWrite;
        break;
    }
    return result;
}

struct Extraction {
    FILE* report;
    FILE* messages;
    bool allWritten;
    bool directoryReported;
    std::vector<std::string> writtenNames; // by entry index: the name of each file written
    std::vector<ExtractResult>* results;   // when not null: each listed entry's result
    const HostFolder* folder;              // where the files are written
};

// Makes ready for a message: the report lines before it go out first, so that both streams in
// one pipe or file stay in order. Every message counts as a failure.
FILE* messageStream(Extraction& extraction) {
    if (extraction.report != nullptr) {
        fflush(extraction.report);
    }
    extraction.allWritten = false;
    return extraction.messages;
}

// Prints the report line and messages of one entry, its file written under `name`.
void reportExtraction(Extraction& extraction, const char* name, const DirEntry& entry,
                      const ExtractResult& result, const d88::RunErrors& readErrors) {
    if (result.outcome == ExtractOutcome::NothingRead) {
        return;
    }
    const ShownName inMessages = shownName(name, extraction.messages);
    const char* shown = inMessages.text();
    switch (result.outcome) {
    case ExtractOutcome::NothingRead:
        return;
    case ExtractOutcome::Written:
    case ExtractOutcome::Incomplete:
        if (extraction.report != nullptr) {
            hostPrintf(extraction.report, MSG_REPORT_LINE,
                       shownName(name, extraction.report).text(), entry.diskNumber + 1, entry.track,
                       entry.sector, entry.size);
        }
        if (result.outcome == ExtractOutcome::Incomplete) {
            hostPrintf(messageStream(extraction), MSG_INCOMPLETE_FILE, shown, result.bytesRead,
                       entry.size);
        }
        if (readErrors.errorSectors > 0) {
            hostPrintf(messageStream(extraction), MSG_FILE_READ_ERRORS, shown,
                       readErrors.errorSectors, readErrors.sectors);
        }
        return;
    case ExtractOutcome::UnsafeName:
        hostPrintf(messageStream(extraction), MSG_UNSAFE_NAME, shown);
        return;
    case ExtractOutcome::ImageItself:
        hostPrintf(messageStream(extraction), MSG_IMAGE_ITSELF, shown);
        return;
    case ExtractOutcome::SymbolicLink:
        hostPrintf(messageStream(extraction), MSG_SYMBOLIC_LINK, shown);
        return;
    case ExtractOutcome::NotRegularFile:
        hostPrintf(messageStream(extraction), MSG_NOT_REGULAR_FILE, shown);
        return;
    case ExtractOutcome::ShortName:
        hostPrintf(messageStream(extraction), MSG_SHORT_NAME, shown);
        return;
    case ExtractOutcome::Appeared:
        hostPrintf(messageStream(extraction), MSG_APPEARED, shown);
        return;
    case ExtractOutcome::CannotCreate:
        hostPrintf(messageStream(extraction), MSG_CANNOT_CREATE, shown,
                   strerror(result.systemError));
        return;
    case ExtractOutcome::CannotWrite:
        hostPrintf(messageStream(extraction), MSG_CANNOT_WRITE, shown,
                   strerror(result.systemError));
        return;
    }
}

// The directory's read errors, said once before the first entry.
void reportDirectory(Extraction& extraction, const d88::RunErrors& errors) {
    if (!extraction.directoryReported && errors.errorSectors > 0) {
        hostPrintf(messageStream(extraction), MSG_DIRECTORY_READ_ERRORS, errors.errorSectors,
                   errors.sectors);
    }
    extraction.directoryReported = true;
}

// Writes one entry as the plan decided, with its bytes in workBuffer, and reports it; a file
// that takes the name of a file written earlier in this run is said, after its own lines.
void extractPlannedEntry(const SetPlan& set, const PlannedEntry& plan, const uint8_t*,
                         void* context) {
    Extraction& extraction = *static_cast<Extraction*>(context);
    reportDirectory(extraction, set.directoryErrors);
    const char* name = plan.saved.name.c_str();
    const ExtractResult result = writePlannedFile(*extraction.folder, name, plan.outcome,
                                                  plan.bytesRead, 0, plan.entry.size);
    reportExtraction(extraction, name, plan.entry, result, plan.readErrors);
    if (extraction.results != nullptr) {
        extraction.results->push_back(result);
    }
    const bool written =
        result.outcome == ExtractOutcome::Written || result.outcome == ExtractOutcome::Incomplete;
    if (!written) {
        if (plan.replaces >= 0) { // the file that this one was to replace still stands
            extraction.writtenNames[plan.index] = extraction.writtenNames[plan.replaces];
        }
        return;
    }
    if (plan.replaces >= 0 && !extraction.writtenNames[plan.replaces].empty()) {
        hostPrintf(
            messageStream(extraction), MSG_REPLACES_EARLIER,
            shownName(name, extraction.messages).text(),
            shownName(extraction.writtenNames[plan.replaces].c_str(), extraction.messages).text());
    }
    extraction.writtenNames[plan.index] = name;
}

} // namespace

bool isWritten(EntryOutcome outcome) {
    return outcome == EntryOutcome::Whole || outcome == EntryOutcome::Incomplete;
}

ExtractResult extractFile(d88::D88Image& image, const char* name, int track, int c, int h, int r,
                          int n, int offset, int size) {
    int bytesRead = 0;
    d88::RunErrors errors;
    const SavedName saved = savedName(name, NameTarget::Host);
    const HostFolder here = hostCurrentFolder();
    const EntryOutcome outcome = planFile(image, here, name, saved, NameTarget::Host, track, c, h,
                                          r, n, offset, size, bytesRead, errors);
    return writePlannedFile(here, name, outcome, bytesRead, offset, size);
}

d88::RunErrors readDirectory(d88::D88Image& image) {
    memset(directoryBuffer, 0, sizeof directoryBuffer); // what the run does not read stays 0
    image.selectDisk(0);
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    d88::RunErrors errors;
    image.readRun(DIRECTORY_TRACK, DIRECTORY_TRACK >> 1, DIRECTORY_TRACK & 1, DIRECTORY_SECTOR,
                  SECTOR_SIZE_CODE, directoryBuffer, DIRECTORY_BYTES, &errors);
    return errors;
}

void planEntries(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                 EntryVisitor visit, void* context, const HostFolder& folder,
                 bool firstSectorsOnly) {
    for (int i = 0; i < layout.entryCount; ++i) {
        EntryPlan plan;
        plan.index = i;
        plan.bytes = directoryBuffer + layout.firstEntryOffset + i * DIR_ENTRY_SIZE;
        plan.entry = parseDirEntry(plan.bytes);
        plan.bytesRead = 0;
        plan.readErrors = d88::RunErrors{};
        const DirEntry& entry = plan.entry;
        plan.saved = savedName(entry.name, target);
        if (!selectDiskByNumber(image, entry.diskNumber)) {
            plan.outcome = EntryOutcome::NoDisk;
        } else {
            plan.outcome =
                planFile(image, folder, entry.name, plan.saved, target, entry.track,
                         entry.track >> 1, entry.track & 1, entry.sector, SECTOR_SIZE_CODE, 0,
                         entry.size, plan.bytesRead, plan.readErrors, firstSectorsOnly);
        }
        if (!visit(plan, context)) {
            return;
        }
    }
}

d88::RunErrors planDirectory(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                             EntryVisitor visit, void* context, const HostFolder& folder) {
    const d88::RunErrors errors = readDirectory(image);
    planEntries(image, layout, target, visit, context, folder);
    return errors;
}

bool walkDirectory(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                   FILE* report, FILE* messages) {
    SetPlan plan;
    std::vector<ExtractResult> results;
    return extractDirectory(image, layout, target, hostCurrentFolder(), report, messages, plan,
                            results);
}

bool extractDirectory(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                      const HostFolder& folder, FILE* report, FILE* messages, SetPlan& plan,
                      std::vector<ExtractResult>& results) {
    results.clear();
    Extraction extraction{report, messages, true, false, {}, &results, &folder};
    extraction.writtenNames.resize(static_cast<size_t>(layout.entryCount));
    plan = planSet(image, layout, target, extractPlannedEntry, &extraction, folder);
    reportDirectory(extraction, plan.directoryErrors);
    return extraction.allWritten;
}
