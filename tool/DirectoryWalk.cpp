#include "DirectoryWalk.h"

#include "DiskSet.h"
#include "Messages.h"
#include "SafeName.h"

#include <cerrno>
#include <cstring>
#ifndef _WIN32
#include <fcntl.h>
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

} // namespace

ExtractResult extractFile(d88::D88Image& image, const char* name, int track, int c, int h, int r,
                          int n, int offset, int size) {
    ExtractResult result{ExtractOutcome::NothingRead, 0, 0};
    if (offset < 0 || size < 0 || size > WORK_BUFFER_BYTES - offset) {
        return result;
    }
    const int total = offset + size;
    const int got = image.readRun(track, c, h, r, n, workBuffer, total);
    if (got == 0) {
        return result;
    }
    result.bytesRead = got > offset ? got - offset : 0;
    if (isUnsafeName(name)) {
        result.outcome = ExtractOutcome::UnsafeName;
        return result;
    }
    if (image.holdsFile(name)) {
        result.outcome = ExtractOutcome::ImageItself;
        return result;
    }
    // Bytes the run did not count must not carry data of earlier reads into this file.
    memset(workBuffer + got, 0, static_cast<size_t>(total - got));
    bool created = false;
    errno = 0;
    result.systemError = writeHostFile(name, workBuffer + offset, size, created);
    if (result.systemError != 0) {
        result.outcome = created ? ExtractOutcome::CannotWrite : ExtractOutcome::CannotCreate;
    } else {
        result.outcome = got < total ? ExtractOutcome::Incomplete : ExtractOutcome::Written;
    }
    return result;
}

bool walkDirectory(d88::D88Image& image, const DirectoryLayout& layout, FILE* report,
                   FILE* messages) {
    memset(directoryBuffer, 0, sizeof directoryBuffer); // what the run does not read stays 0
    image.selectDisk(0);
    image.setSectorRange(FIRST_SECTOR, LAST_SECTOR);
    image.readRun(DIRECTORY_TRACK, DIRECTORY_TRACK >> 1, DIRECTORY_TRACK & 1, DIRECTORY_SECTOR,
                  SECTOR_SIZE_CODE, directoryBuffer, DIRECTORY_BYTES);

    bool allWritten = true;
    for (int i = 0; i < layout.entryCount; ++i) {
        const DirEntry entry =
            parseDirEntry(directoryBuffer + layout.firstEntryOffset + i * DIR_ENTRY_SIZE);
        if (!selectDiskByNumber(image, entry.diskNumber)) {
            continue; // no disk carries this number
        }
        const ExtractResult result =
            extractFile(image, entry.name, entry.track, entry.track >> 1, entry.track & 1,
                        entry.sector, SECTOR_SIZE_CODE, 0, entry.size);
        switch (result.outcome) {
        case ExtractOutcome::NothingRead:
            break;
        case ExtractOutcome::Written:
        case ExtractOutcome::Incomplete:
            fprintf(report, MSG_REPORT_LINE, entry.name, entry.diskNumber + 1, entry.track,
                    entry.sector, entry.size);
            if (result.outcome == ExtractOutcome::Incomplete) {
                fprintf(messages, MSG_INCOMPLETE_FILE, entry.name, result.bytesRead, entry.size);
                allWritten = false;
            }
            break;
        case ExtractOutcome::UnsafeName:
            fprintf(messages, MSG_UNSAFE_NAME, entry.name);
            allWritten = false;
            break;
        case ExtractOutcome::ImageItself:
            fprintf(messages, MSG_IMAGE_ITSELF, entry.name);
            allWritten = false;
            break;
        case ExtractOutcome::CannotCreate:
            fprintf(messages, MSG_CANNOT_CREATE, entry.name, strerror(result.systemError));
            allWritten = false;
            break;
        case ExtractOutcome::CannotWrite:
            fprintf(messages, MSG_CANNOT_WRITE, entry.name, strerror(result.systemError));
            allWritten = false;
            break;
        }
    }
    return allWritten;
}
