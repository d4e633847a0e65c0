#include "DirectoryWalk.h"

#include "DiskSet.h"
#include "Messages.h"
#include "SafeName.h"

#include <cerrno>
#include <cstring>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// Creates or truncates the host file `name` for binary writing. Elsewhere than on Windows a
// symbolic link is not followed: it could point outside the current directory.
FILE* createHostFile(const char* name) {
#ifdef _WIN32
    return fopen(name, "wb");
#else
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
#endif
}

// True when `name` in the current directory is a symbolic link, which createHostFile refuses.
bool isSymbolicLink(const char* name) {
#ifdef _WIN32
    (void)name;
    return false;
#else
    struct stat info;
    return lstat(name, &info) == 0 && S_ISLNK(info.st_mode);
#endif
}

// Writes `length` bytes to a new file `name`; on failure removes it and returns errno.
int writeHostFile(const char* name, const uint8_t* data, int length, bool& created) {
    created = false;
    FILE* file = createHostFile(name);
    if (file == nullptr) {
        return errno != 0 ? errno : EIO;
    }
    created = true;
    setvbuf(file, nullptr, _IONBF, 0); // the whole file leaves in one write

    int error = 0;
    if (fwrite(data, 1, static_cast<size_t>(length), file) != static_cast<size_t>(length) ||
        fflush(file) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (fclose(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (error != 0) {
        remove(name);
    }
    return error;
}

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

// Reads the file's run into workBuffer and decides what becomes of it.
EntryOutcome planFile(d88::D88Image& image, const char* name, int track, int c, int h, int r, int n,
                      int offset, int size, int& bytesRead, d88::RunErrors& errors) {
    bytesRead = 0;
    errors = d88::RunErrors{};
    if (offset < 0 || size < 0 || size > WORK_BUFFER_BYTES - offset) {
        return EntryOutcome::Missing;
    }
    const int total = offset + size;
    const int got = total > 0 ? image.readRun(track, c, h, r, n, workBuffer, total, &errors) : 0;
    if (got == 0) {
        return size == 0 ? EntryOutcome::Empty : EntryOutcome::Missing;
    }
    bytesRead = got > offset ? got - offset : 0;
    // Bytes the run did not count must not carry data of earlier reads into this file.
    memset(workBuffer + got, 0, static_cast<size_t>(total - got));
    if (isUnsafeName(name)) {
        return EntryOutcome::UnsafeName;
    }
    if (image.holdsFile(name)) {
        return EntryOutcome::ImageItself;
    }
    if (name[0] == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        return EntryOutcome::Uncreatable;
    }
    return got < total ? EntryOutcome::Incomplete : EntryOutcome::Whole;
}

// Writes what planFile read, as the extraction does.
ExtractResult writePlannedFile(const char* name, EntryOutcome outcome, int bytesRead, int offset,
                               int size) {
    ExtractResult result{ExtractOutcome::NothingRead, bytesRead, 0};
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
    bool created = false;
    errno = 0;
    result.systemError = writeHostFile(name, workBuffer + offset, size, created);
    if (result.systemError != 0) {
        result.outcome = created ? ExtractOutcome::CannotWrite : ExtractOutcome::CannotCreate;
        if (!created && isSymbolicLink(name)) {
            result.outcome = ExtractOutcome::SymbolicLink;
        }
    } else {
        result.outcome = outcome == EntryOutcome::Incomplete ? ExtractOutcome::Incomplete
                                                             : ExtractOutcome::Written;
    }
    return result;
}

// Prints the report line and messages of one entry; returns false when it was not written whole.
bool reportExtraction(const DirEntry& entry, const ExtractResult& result,
                      const d88::RunErrors& readErrors, FILE* report, FILE* messages) {
    switch (result.outcome) {
    case ExtractOutcome::NothingRead:
        return true;
    case ExtractOutcome::Written:
    case ExtractOutcome::Incomplete:
        fprintf(report, MSG_REPORT_LINE, entry.name, entry.diskNumber + 1, entry.track,
                entry.sector, entry.size);
        if (result.outcome == ExtractOutcome::Incomplete) {
            fprintf(messages, MSG_INCOMPLETE_FILE, entry.name, result.bytesRead, entry.size);
        }
        if (readErrors.errorSectors > 0) {
            fprintf(messages, MSG_FILE_READ_ERRORS, entry.name, readErrors.errorSectors,
                    readErrors.sectors);
        }
        return result.outcome == ExtractOutcome::Written && readErrors.errorSectors == 0;
    case ExtractOutcome::UnsafeName:
        fprintf(messages, MSG_UNSAFE_NAME, entry.name);
        return false;
    case ExtractOutcome::ImageItself:
        fprintf(messages, MSG_IMAGE_ITSELF, entry.name);
        return false;
    case ExtractOutcome::SymbolicLink:
        fprintf(messages, MSG_SYMBOLIC_LINK, entry.name);
        return false;
    case ExtractOutcome::CannotCreate:
        fprintf(messages, MSG_CANNOT_CREATE, entry.name, strerror(result.systemError));
        return false;
    case ExtractOutcome::CannotWrite:
        fprintf(messages, MSG_CANNOT_WRITE, entry.name, strerror(result.systemError));
        return false;
    }
    return false;
}

struct Extraction {
    FILE* report;
    FILE* messages;
    bool allWritten;
};

void extractPlannedEntry(const EntryPlan& plan, void* context) {
    Extraction& extraction = *static_cast<Extraction*>(context);
    const ExtractResult result =
        writePlannedFile(plan.entry.name, plan.outcome, plan.bytesRead, 0, plan.entry.size);
    if (!reportExtraction(plan.entry, result, plan.readErrors, extraction.report,
                          extraction.messages)) {
        extraction.allWritten = false;
    }
}

} // namespace

bool isWritten(EntryOutcome outcome) {
    return outcome == EntryOutcome::Whole || outcome == EntryOutcome::Incomplete;
}

ExtractResult extractFile(d88::D88Image& image, const char* name, int track, int c, int h, int r,
                          int n, int offset, int size) {
    int bytesRead = 0;
    d88::RunErrors errors;
    const EntryOutcome outcome =
        planFile(image, name, track, c, h, r, n, offset, size, bytesRead, errors);
    return writePlannedFile(name, outcome, bytesRead, offset, size);
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

void planEntries(d88::D88Image& image, const DirectoryLayout& layout, EntryVisitor visit,
                 void* context) {
    for (int i = 0; i < layout.entryCount; ++i) {
        EntryPlan plan;
        plan.index = i;
        plan.bytes = directoryBuffer + layout.firstEntryOffset + i * DIR_ENTRY_SIZE;
        plan.entry = parseDirEntry(plan.bytes);
        plan.bytesRead = 0;
        plan.readErrors = d88::RunErrors{};
        const DirEntry& entry = plan.entry;
        if (!selectDiskByNumber(image, entry.diskNumber)) {
            plan.outcome = EntryOutcome::NoDisk;
        } else {
            plan.outcome = planFile(image, entry.name, entry.track, entry.track >> 1,
                                    entry.track & 1, entry.sector, SECTOR_SIZE_CODE, 0, entry.size,
                                    plan.bytesRead, plan.readErrors);
        }
        visit(plan, context);
    }
}

d88::RunErrors planDirectory(d88::D88Image& image, const DirectoryLayout& layout,
                             EntryVisitor visit, void* context) {
    const d88::RunErrors errors = readDirectory(image);
    planEntries(image, layout, visit, context);
    return errors;
}

bool walkDirectory(d88::D88Image& image, const DirectoryLayout& layout, FILE* report,
                   FILE* messages) {
    Extraction extraction{report, messages, true};
    const d88::RunErrors directoryErrors = readDirectory(image);
    if (directoryErrors.errorSectors > 0) {
        fflush(report);
        fprintf(messages, MSG_DIRECTORY_READ_ERRORS, directoryErrors.errorSectors,
                directoryErrors.sectors);
        extraction.allWritten = false;
    }
    planEntries(image, layout, extractPlannedEntry, &extraction);
    return extraction.allWritten;
}
