#include "D88Image.h"

#include "FileSeek.h"

#include <cerrno>
#include <cstring>
#include <new>
#ifdef _WIN32
#include <io.h>
#include <string>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {

namespace {

constexpr int64_t MAX_FILE_OFFSET = 0x7FFFFFFF; // file offsets are signed 32-bit values
constexpr int SECTOR_SEARCHES_KEPT = 1024;      // a power of two

// The result of one sector search: where the first record with `id` lies on the walk that
// starts at `trackStart`, or that it has none.
struct SectorSearch {
    int64_t trackStart; // -1 for an unused entry
    SectorId id;
    bool found;
    SectorMarks marks;
    uint16_t dataLength;
    int64_t dataPosition;
};

uint32_t searchSlot(int64_t trackStart, SectorId id) {
    const uint64_t key = static_cast<uint64_t>(trackStart) * 0x9E3779B97F4A7C15ull ^
                         (static_cast<uint64_t>(id.c) | static_cast<uint64_t>(id.h) << 8 |
                          static_cast<uint64_t>(id.r) << 16 | static_cast<uint64_t>(id.n) << 24);
    return static_cast<uint32_t>((key * 0xFF51AFD7ED558CCDull) >> 54) & (SECTOR_SEARCHES_KEPT - 1);
}

} // namespace

// A disk header's fields as read, kept so that selecting a disk again copies them instead of
// parsing its track table anew (a walk looks disks up once per directory entry).
struct KnownHeader {
    uint32_t trackOffsets[MAX_TRACKS];
    uint32_t diskSize;
    int mediaType;
    char name[DISK_NAME_LENGTH + 1];
};

struct ReaderMemory {
    BlockCache cache;
    bool headerKnown[MAX_DISKS];
    KnownHeader headers[MAX_DISKS];
    SectorSearch searches[SECTOR_SEARCHES_KEPT];
    TrackWalk walk;
};

namespace {

// Forgets everything read before; later reads go to `files`.
void resetMemory(ReaderMemory& memory, FILE* const* files, const int64_t* partStarts,
                 int partCount) {
    resetBlockCache(memory.cache, files, partStarts, partCount);
    for (bool& known : memory.headerKnown) {
        known = false;
    }
    for (SectorSearch& search : memory.searches) {
        search.trackStart = -1;
    }
    resetTrackWalk(memory.walk);
}

// Opens one image file for binary reading and finds its length. Only a regular file (or a block
// device) is an image: a folder fails with EISDIR, a character device (a terminal, /dev/null)
// with ENODEV, and a pipe or socket with ESPIPE, since the reader seeks all over the file;
// opening one of them never waits for a writer. On Windows `path` is UTF-8, opened through the wide
// API whatever the code page.
FILE* openImageFile(const char* path, int64_t& size) {
#ifdef _WIN32
    const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (wideLength <= 0) {
        errno = ENOENT;
        return nullptr;
    }
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &wide[0], wideLength);
    FILE* opened = _wfopen(wide.c_str(), L"rb");
    if (opened == nullptr) {
        return nullptr;
    }
    const DWORD type = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(opened))));
    if (type != FILE_TYPE_DISK) {
        fclose(opened);
        errno = type == FILE_TYPE_CHAR ? ENODEV : ESPIPE; // a device such as NUL or CON
        return nullptr;
    }
#else
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    int refusal = 0;
    if (fstat(fd, &info) != 0) {
        refusal = errno;
    } else if (S_ISDIR(info.st_mode)) {
        refusal = EISDIR;
    } else if (S_ISCHR(info.st_mode)) {
        refusal = ENODEV;
    } else if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
        refusal = ESPIPE;
    } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        refusal = errno;
    }
    FILE* opened = refusal == 0 ? fdopen(fd, "rb") : nullptr;
    if (opened == nullptr) {
        refusal = refusal != 0 ? refusal : errno;
        ::close(fd);
        errno = refusal;
        return nullptr;
    }
#endif
    size = seekFile(opened, 0, SEEK_END) ? tellFile(opened) : -1;
    if (size < 0) {
        fclose(opened);
        errno = ESPIPE;
        return nullptr;
    }
    return opened;
}

} // namespace

D88Image::D88Image() = default;

D88Image::~D88Image() {
    close();
}

bool D88Image::open(const char* path) {
    if (path == nullptr) {
        close();
        return true;
    }
    return openParts(&path, 1);
}

bool D88Image::openParts(const char* const* paths, int count) {
    if (!memory_) {
        memory_.reset(new (std::nothrow) ReaderMemory);
        if (!memory_) {
            errno = ENOMEM;
            return false;
        }
        prepareTrackWalk(memory_->walk);
    }
    for (int part = 0; part < partCount_; ++part) { // never leak a stream if a caller opens twice
        fclose(files_[part]);
    }
    partCount_ = 0;
    failedPart_ = -1;
    if (count < 1 || count > MAX_IMAGE_PARTS) {
        errno = EINVAL;
        return false;
    }
    int64_t size = 0;
    for (int part = 0; part < count; ++part) {
        int64_t partSize = 0;
        files_[part] = openImageFile(paths[part], partSize);
        if (files_[part] == nullptr) {
            const int error = errno;
            for (int opened = 0; opened < part; ++opened) {
                fclose(files_[opened]);
            }
            failedPart_ = part;
            errno = error;
            return false;
        }
        // Every read goes into the reader's own blocks, straight from the file.
        setvbuf(files_[part], nullptr, _IONBF, 0);
        partStarts_[part] = size;
        size += partSize;
    }
    partCount_ = count;
    fileSize_ = size;
    resetMemory(*memory_, files_, partStarts_, partCount_);

    int64_t runningOffset = 0;
    diskCount_ = 0;
    uint8_t header[DISK_HEADER_SIZE];
    while (diskCount_ < MAX_DISKS) {
        diskOffsets_[diskCount_] = static_cast<int32_t>(runningOffset);
        if (copyFileBytes(memory_->cache, runningOffset, header, sizeof header) !=
            static_cast<int64_t>(sizeof header)) {
            break;
        }
        runningOffset += readU32(header + DISK_SIZE_OFFSET);
        ++diskCount_;
        if (runningOffset > MAX_FILE_OFFSET) {
            break;
        }
    }
    // A selection reads its header from the file as it is then, not as it was indexed.
    resetBlockCache(memory_->cache, files_, partStarts_, partCount_);
    return true;
}

void D88Image::close() {
    for (int part = 0; part < partCount_; ++part) {
        fclose(files_[part]);
    }
    partCount_ = 0;
    diskCount_ = 0;
    fileSize_ = 0;
    mediaType_ = -1;
}

bool D88Image::selectDisk(int index) {
    if (partCount_ == 0) {
        return false;
    }
    diskOffset_ = -1;
    mediaType_ = -1;
    diskSize_ = 0;
    memset(diskName_, 0, sizeof diskName_);
    if (index < 0 || index >= diskCount_) {
        return false;
    }

    // A header read once is kept: every later selection of the disk finds the same bytes.
    KnownHeader& known = memory_->headers[index];
    if (!memory_->headerKnown[index]) {
        uint8_t header[DISK_HEADER_SIZE];
        if (copyFileBytes(memory_->cache, diskOffsets_[index], header, DISK_HEADER_SIZE) !=
            DISK_HEADER_SIZE) {
            return false; // the file has changed since it was indexed
        }
        for (int track = 0; track < MAX_TRACKS; ++track) {
            known.trackOffsets[track] = readU32(header + TRACK_TABLE_OFFSET + 4 * track);
        }
        known.mediaType = header[MEDIA_TYPE_OFFSET];
        known.diskSize = readU32(header + DISK_SIZE_OFFSET);
        memset(known.name, 0, sizeof known.name);
        for (int i = 0; i < DISK_NAME_LENGTH && header[DISK_NAME_OFFSET + i] != 0; ++i) {
            known.name[i] = static_cast<char>(header[DISK_NAME_OFFSET + i]);
        }
        memory_->headerKnown[index] = true;
    }
    diskOffset_ = diskOffsets_[index];
    memcpy(trackOffsets_, known.trackOffsets, sizeof trackOffsets_);
    mediaType_ = known.mediaType;
    diskSize_ = known.diskSize;
    memcpy(diskName_, known.name, sizeof known.name);
    return true;
}

#ifdef _WIN32
bool D88Image::partIdentity(int part, FileIdentity& identity) const {
    BY_HANDLE_FILE_INFORMATION info;
    if (part < 0 || part >= partCount_ ||
        !GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(files_[part]))),
                                    &info)) {
        return false;
    }
    identity.volume = info.dwVolumeSerialNumber;
    identity.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}
#else
bool D88Image::partIdentity(int part, FileIdentity& identity) const {
    struct stat info;
    if (part < 0 || part >= partCount_ || fstat(fileno(files_[part]), &info) != 0) {
        return false;
    }
    identity.volume = static_cast<uint64_t>(info.st_dev);
    identity.file = static_cast<uint64_t>(info.st_ino);
    return true;
}
#endif

bool D88Image::readsFile(const FileIdentity& identity) const {
    for (int part = 0; part < partCount_; ++part) {
        FileIdentity partFile{};
        if (partIdentity(part, partFile) && partFile == identity) {
            return true;
        }
    }
    return false;
}

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

// Checks that `track` can be reached on the selected disk and gives its first record's
// file position.
bool D88Image::trackStart(int track, int64_t& position) const {
    if (partCount_ == 0 || track < 0 || track >= MAX_TRACKS) {
        return false;
    }
    const uint32_t offset = trackOffsets_[track];
    if (offset == 0 || offset > diskSize_) {
        return false;
    }
    position = static_cast<int64_t>(diskOffset_) + offset;
    return true;
}

int D88Image::readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLength,
                         SectorMarks* marks) {
    if (marks != nullptr) {
        *marks = SectorMarks{0, 0, 0};
    }
    int64_t start = 0;
    if (!trackStart(track, start)) {
        return 0;
    }
    const auto isByte = [](int value) { return value >= 0 && value <= 255; };
    if (!isByte(c) || !isByte(h) || !isByte(r) || !isByte(n)) {
        return 0; // no stored ID byte holds such a value
    }
    const SectorId id{static_cast<uint8_t>(c), static_cast<uint8_t>(h), static_cast<uint8_t>(r),
                      static_cast<uint8_t>(n)};
    SectorSearch& search = memory_->searches[searchSlot(start, id)];
    if (search.trackStart != start || memcmp(&search.id, &id, sizeof id) != 0) {
        TrackWalk& walk = memory_->walk;
        beginTrackWalk(walk, start);
        const int found = findWalkedRecord(walk, memory_->cache, id);
        search.trackStart = start;
        search.id = id;
        search.found = found >= 0;
        if (search.found) {
            search.marks = walk.records[found].marks;
            search.dataLength = walk.records[found].dataLength;
            search.dataPosition = walk.records[found].headerPosition + SECTOR_RECORD_HEADER_SIZE;
        }
    }
    if (!search.found) {
        return 0;
    }
    if (marks != nullptr) {
        *marks = search.marks;
    }
    int length = search.dataLength;
    if (length > maxLength) {
        length = maxLength > 0 ? maxLength : 0;
    }
    // Count only what was really stored: a record cut off by the end of the file must not pass
    // stale buffer bytes off as data.
    return static_cast<int>(copyFileBytes(memory_->cache, search.dataPosition, buffer, length));
}

int D88Image::listSectorIds(int track, void* buffer, int bufferLength) {
    const TrackWalk* walk = walkTrack(track);
    if (walk == nullptr) {
        return 0;
    }
    uint8_t* out = static_cast<uint8_t*>(buffer);
    int written = 0;
    for (int i = 0;
         i < walk->recordCount && bufferLength - written >= static_cast<int>(sizeof(SectorId));
         ++i) {
        memcpy(out + written, &walk->records[i].id, sizeof(SectorId));
        written += static_cast<int>(sizeof(SectorId));
    }
    return written;
}

const TrackWalk* D88Image::walkTrack(int track) {
    int64_t start = 0;
    if (!trackStart(track, start)) {
        return nullptr;
    }
    beginTrackWalk(memory_->walk, start);
    finishTrackWalk(memory_->walk, memory_->cache);
    return &memory_->walk;
}

int D88Image::readRun(int track, int c, int h, int r, int n, uint8_t* buffer, int total,
                      RunErrors* errors) {
    if (errors != nullptr) {
        *errors = RunErrors{};
    }
    if (n < 0 || n > 23) {
        return 0; // 128 << n must stay a positive 32-bit value
    }
    int readCount = 0;
    int pieceSize = 128 << n;
    while (readCount < total) {
        if (pieceSize > total - readCount) {
            pieceSize = total - readCount;
        }
        SectorMarks marks;
        if (readSector(track, c, h, r, n, buffer + readCount, pieceSize, &marks) < pieceSize) {
            return readCount;
        }
        readCount += pieceSize;
        if (errors != nullptr) {
            ++errors->sectors;
            errors->errorSectors += isReadErrorStatus(marks.status) ? 1 : 0;
        }
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
