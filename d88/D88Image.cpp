#include "D88Image.h"

#include "FileSeek.h"

#include <cstring>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace d88 {

namespace {

constexpr int64_t MAX_FILE_OFFSET = 0x7FFFFFFF; // file offsets are signed 32-bit values

bool readExactly(FILE* file, uint8_t* buffer, size_t length) {
    return fread(buffer, 1, length, file) == length;
}

} // namespace

D88Image::~D88Image() {
    close();
}

bool D88Image::open(const char* path) {
    if (path == nullptr) {
        close();
        return true;
    }
    FILE* opened = fopen(path, "rb");
    if (file_ != nullptr) { // never leak a stream if a caller opens twice
        fclose(file_);
        file_ = nullptr;
    }
    if (opened == nullptr) {
        return false;
    }
    file_ = opened;
    // A buffer that holds a whole track saves a read for most records of a track walk.
    setvbuf(file_, streamBuffer_, _IOFBF, sizeof streamBuffer_);

    int64_t runningOffset = 0;
    diskCount_ = 0;
    uint8_t header[DISK_HEADER_SIZE];
    while (diskCount_ < MAX_DISKS) {
        diskOffsets_[diskCount_] = static_cast<int32_t>(runningOffset);
        if (!seekFile(file_, runningOffset, SEEK_SET) ||
            !readExactly(file_, header, sizeof header)) {
            break;
        }
        runningOffset += readU32(header + DISK_SIZE_OFFSET);
        ++diskCount_;
        if (runningOffset > MAX_FILE_OFFSET) {
            break;
        }
    }
    return true;
}

void D88Image::close() {
    if (file_ != nullptr) {
        fclose(file_);
        file_ = nullptr;
    }
    diskCount_ = 0;
    mediaType_ = -1;
}

bool D88Image::selectDisk(int index) {
    if (file_ == nullptr) {
        return false;
    }
    diskOffset_ = -1;
    mediaType_ = -1;
    diskSize_ = 0;
    memset(diskName_, 0, sizeof diskName_);
    if (index < 0 || index >= diskCount_) {
        return false;
    }

    uint8_t header[DISK_HEADER_SIZE];
    if (!seekFile(file_, diskOffsets_[index], SEEK_SET) ||
        !readExactly(file_, header, sizeof header)) {
        return false; // the file has changed since it was indexed
    }
    diskOffset_ = diskOffsets_[index];
    for (int track = 0; track < MAX_TRACKS; ++track) {
        trackOffsets_[track] = readU32(header + TRACK_TABLE_OFFSET + 4 * track);
    }
    mediaType_ = header[MEDIA_TYPE_OFFSET];
    diskSize_ = readU32(header + DISK_SIZE_OFFSET);
    for (int i = 0; i < DISK_NAME_LENGTH && header[DISK_NAME_OFFSET + i] != 0; ++i) {
        diskName_[i] = static_cast<char>(header[DISK_NAME_OFFSET + i]);
    }
    return true;
}

#ifdef _WIN32
bool D88Image::holdsFile(const char* path) const {
    if (file_ == nullptr) {
        return false;
    }
    const HANDLE image = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
    const HANDLE other =
        CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    const bool same = GetFileInformationByHandle(image, &a) &&
                      GetFileInformationByHandle(other, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}
#else
bool D88Image::holdsFile(const char* path) const {
    struct stat image;
    struct stat other;
    return file_ != nullptr && fstat(fileno(file_), &image) == 0 && stat(path, &other) == 0 &&
           image.st_dev == other.st_dev && image.st_ino == other.st_ino;
}
#endif

void D88Image::setSectorRange(int first, int last) {
    firstSector_ = first;
    lastSector_ = last;
}

uint32_t D88Image::trackOffset(int track) const {
    if (track < 0 || track >= MAX_TRACKS) {
        return 0;
    }
    return trackOffsets_[track];
}

// Checks that `track` can be reached on the selected disk and seeks to its first record.
bool D88Image::seekToTrack(int track) {
    if (file_ == nullptr || track < 0 || track >= MAX_TRACKS) {
        return false;
    }
    const uint32_t offset = trackOffsets_[track];
    if (offset == 0 || offset > diskSize_) {
        return false;
    }
    return seekFile(file_, static_cast<int64_t>(diskOffset_) + offset, SEEK_SET);
}

int D88Image::readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLength) {
    if (!seekToTrack(track)) {
        return 0;
    }
    uint8_t raw[SECTOR_RECORD_HEADER_SIZE];
    for (int64_t i = 0;; ++i) {
        if (!readExactly(file_, raw, sizeof raw)) {
            return 0;
        }
        const SectorRecordHeader record = parseSectorRecordHeader(raw);
        if (record.sectorsInTrack == 0) {
            return 0;
        }
        if (record.id.c == c && record.id.h == h && record.id.r == r && record.id.n == n) {
            int length = record.dataLength;
            if (length > maxLength) {
                length = maxLength > 0 ? maxLength : 0;
            }
            // Count only what was really stored: a record cut off by the end of the file
            // must not pass stale buffer bytes off as data.
            return static_cast<int>(fread(buffer, 1, static_cast<size_t>(length), file_));
        }
        if (!seekFile(file_, record.dataLength, SEEK_CUR)) {
            return 0;
        }
        if (i == record.sectorsInTrack - 1) {
            return 0; // the whole track was searched
        }
    }
}

int D88Image::listSectorIds(int track, void* buffer, int bufferLength) {
    if (!seekToTrack(track)) {
        return 0;
    }
    uint8_t* out = static_cast<uint8_t*>(buffer);
    int written = 0;
    uint8_t raw[SECTOR_RECORD_HEADER_SIZE];
    for (int64_t i = 0; bufferLength - written >= static_cast<int>(sizeof(SectorId)); ++i) {
        if (!readExactly(file_, raw, sizeof raw)) {
            break;
        }
        const SectorRecordHeader record = parseSectorRecordHeader(raw);
        memcpy(out + written, &record.id, sizeof(SectorId));
        written += static_cast<int>(sizeof(SectorId));
        if (!seekFile(file_, record.dataLength, SEEK_CUR)) {
            break;
        }
        if (i == static_cast<int64_t>(record.sectorsInTrack) - 1) {
            break;
        }
    }
    return written;
}

int D88Image::readRun(int track, int c, int h, int r, int n, uint8_t* buffer, int total) {
    if (n < 0 || n > 23) {
        return 0; // 128 << n must stay a positive 32-bit value
    }
    int readCount = 0;
    int pieceSize = 128 << n;
    while (readCount < total) {
        if (pieceSize > total - readCount) {
            pieceSize = total - readCount;
        }
        if (readSector(track, c, h, r, n, buffer + readCount, pieceSize) < pieceSize) {
            return readCount;
        }
        readCount += pieceSize;
        if (r == lastSector_) {
            ++track;
            if (h == 0) {
                h = 1;
            } else {
                h = 0;
                ++c;
            }
            r = firstSector_;
        } else {
            ++r;
        }
    }
    return readCount;
}

} // namespace d88
