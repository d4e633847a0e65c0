#include "D88Image.h"

#include "FileSeek.h"
#include "HeaderCheck.h"
#include "ImageFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace d88 {

// The result of one sector search: where the first record with `id` lies on the walk that
// starts at `trackStart`, or that it has none.
struct SectorSearch {
    int64_t trackStart;
    int64_t dataPosition;
    uint32_t generation; // the reader's search generation when it was made; others are stale
    SectorId id;
    uint16_t dataLength;
    SectorMarks marks;
    bool found;
};

namespace {

constexpr int64_t MAX_FILE_OFFSET = 0x7FFFFFFF; // file offsets are signed 32-bit values
// Sector searches kept, in sets of a few, so that two searches that hash alike do not keep
// replacing each other.
constexpr int SEARCH_SETS = 256; // a power of two
constexpr int SEARCH_WAYS = 4;

uint32_t searchSet(int64_t trackStart, SectorId id) {
    const uint64_t key = static_cast<uint64_t>(trackStart) * 0x9E3779B97F4A7C15ull ^
                         (static_cast<uint64_t>(id.c) | static_cast<uint64_t>(id.h) << 8 |
                          static_cast<uint64_t>(id.r) << 16 | static_cast<uint64_t>(id.n) << 24);
    return static_cast<uint32_t>((key * 0xFF51AFD7ED558CCDull) >> 40) & (SEARCH_SETS - 1);
}

} // namespace

struct ReaderMemory {
    BlockCache cache;
    // A disk header read once is kept, so that selecting the disk again copies its fields
    // instead of reading them anew (a walk looks disks up once per directory entry).
    bool headerKnown[MAX_DISKS];
    DiskHeader headers[MAX_DISKS];
    SectorSearch searches[SEARCH_SETS][SEARCH_WAYS];
    uint8_t nextWay[SEARCH_SETS]; // the way of each set that a new search takes, in turn
    uint32_t searchGeneration;    // a new file forgets every search by starting a new generation
    TrackWalk walk;
};

static_assert(sizeof(SectorSearch) == 32, "sector searches stay small");
static_assert(std::is_trivially_default_constructible<ReaderMemory>::value,
              "the reader's memory is taken zeroed from calloc");

namespace {

// Forgets everything read before; later reads go to `sources`.
void resetMemory(ReaderMemory& memory, const ByteSource* sources, const int64_t* partStarts,
                 int partCount) {
    resetBlockCache(memory.cache, sources, partStarts, partCount);
    for (bool& known : memory.headerKnown) {
        known = false;
    }
    // Stale searches are told by their generation, so that none of their memory is touched
    // before it is used.
    if (++memory.searchGeneration == 0) {
        memset(memory.searches, 0, sizeof memory.searches);
        memset(memory.nextWay, 0, sizeof memory.nextWay);
        memory.searchGeneration = 1;
    }
    resetTrackWalk(memory.walk);
}

} // namespace

void ReaderMemoryFree::operator()(ReaderMemory* memory) const {
    free(memory);
}

const uint32_t D88Image::NO_TRACK_OFFSETS[MAX_TRACKS] = {};

D88Image::D88Image() = default;

namespace {

bool imageBytes(const void* context, int64_t position, uint8_t* out, int length) {
    BlockCache& cache = *static_cast<BlockCache*>(const_cast<void*>(context));
    return copyFileBytes(cache, position, out, length) == length;
}

} // namespace

bool D88Image::looksLikeDiskAt(int64_t position) {
    uint8_t bytes[DISK_HEADER_SIZE];
    if (partCount_ == 0 || copyFileBytes(memory_->cache, position, bytes, sizeof bytes) !=
                               static_cast<int64_t>(sizeof bytes)) {
        return false;
    }
    return looksLikeDisk(
        checkDiskHeader(parseDiskHeader(bytes), position, fileSize_, imageBytes, &memory_->cache));
}

int64_t D88Image::nextDiskAt(int64_t start, int64_t end) {
    for (int part = 1; part < partCount_; ++part) {
        const int64_t at = partStarts_[part];
        if (at <= start || at >= end) {
            continue;
        }
        if (looksLikeDiskAt(at)) {
            return at;
        }
    }
    return end;
}

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

bool D88Image::prepareOpen(int count) {
    if (!memory_) {
        memory_.reset(static_cast<ReaderMemory*>(calloc(1, sizeof(ReaderMemory))));
        if (!memory_) {
            errno = ENOMEM;
            return false;
        }
        prepareTrackWalk(memory_->walk);
    }
    close(); // never leak a stream if a caller opens twice
    failedPart_ = -1;
    if (count < 1 || count > MAX_IMAGE_PARTS) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool D88Image::openParts(const char* const* paths, int count) {
    if (!prepareOpen(count)) {
        return false;
    }
    for (int part = 0; part < count; ++part) {
        int64_t size = 0;
        FILE* file = openImageFile(paths[part], size);
        if (file == nullptr) {
            const int error = errno;
            for (int opened = 0; opened < part; ++opened) {
                fclose(sources_[opened].file);
            }
            failedPart_ = part;
            errno = error;
            return false;
        }
        sources_[part] = fileSource(file);
    }
    ownsFiles_ = true;
    return openPrepared(count);
}

bool D88Image::openStreams(FILE* const* streams, int count) {
    if (!prepareOpen(count)) {
        return false;
    }
    for (int part = 0; part < count; ++part) {
        sources_[part] = fileSource(streams[part]);
    }
    ownsFiles_ = false;
    return openPrepared(count);
}

bool D88Image::openSources(const ByteSource* sources, int count) {
    if (!prepareOpen(count)) {
        return false;
    }
    for (int part = 0; part < count; ++part) {
        sources_[part] = sources[part];
    }
    ownsFiles_ = false;
    return openPrepared(count);
}

bool D88Image::openPrepared(int count) {
    int64_t size = 0;
    for (int part = 0; part < count; ++part) {
        partStarts_[part] = size;
        ByteSource& source = sources_[part];
        int64_t length = source.size;
        if (source.file != nullptr) {
            length = seekFile(source.file, 0, SEEK_END) ? tellFile(source.file) : -1;
        }
        if (length < 0) {
            for (int opened = 0; opened < count && ownsFiles_; ++opened) {
                fclose(sources_[opened].file);
            }
            failedPart_ = part;
            errno = ESPIPE;
            return false;
        }
        size += length;
    }
    partCount_ = count;
    fileSize_ = size;
    resetMemory(*memory_, sources_, partStarts_, partCount_);

    int64_t runningOffset = 0;
    diskCount_ = 0;
    gapCount_ = 0;
    uint8_t header[DISK_HEADER_SIZE];
    while (diskCount_ < MAX_DISKS) {
        // Of several files, bytes after a file's last disk that start no disk (padding, or
        // anything else) are passed over: the next file is read from its start. A header that
        // the next file goes on with is a disk as the joined bytes are.
        const int part = partAt(runningOffset);
        if (part + 1 < partCount_ && runningOffset > partStarts_[part] &&
            runningOffset < partStarts_[part + 1] && !looksLikeDiskAt(runningOffset)) {
            gaps_[gapCount_++] = IndexGap{runningOffset, partStarts_[part + 1] - runningOffset};
            runningOffset = partStarts_[part + 1];
            if (runningOffset > MAX_FILE_OFFSET) {
                break;
            }
        }
        diskOffsets_[diskCount_] = static_cast<int32_t>(runningOffset);
        diskLimits_[diskCount_] = 0;
        if (copyFileBytes(memory_->cache, runningOffset, header, sizeof header) !=
            static_cast<int64_t>(sizeof header)) {
            break;
        }
        const int64_t start = runningOffset;
        runningOffset += parseDiskSize(header);
        // Of several parts, one that starts inside this disk with a disk header of its own
        // starts the next disk: this one was cut short where its part ends.
        const int64_t next = nextDiskAt(start, runningOffset);
        if (next < runningOffset) {
            diskLimits_[diskCount_] = static_cast<uint32_t>(next - start);
            runningOffset = next;
        }
        ++diskCount_;
        if (runningOffset > MAX_FILE_OFFSET) {
            break;
        }
    }
    // A selection reads its header from the files as they are then, not as they were indexed.
    resetBlockCache(memory_->cache, sources_, partStarts_, partCount_);
    return true;
}

void D88Image::close() {
    for (int part = 0; part < partCount_ && ownsFiles_; ++part) {
        fclose(sources_[part].file);
    }
    partCount_ = 0;
    gapCount_ = 0;
    diskCount_ = 0;
    fileSize_ = 0;
    mediaType_ = -1;
    selectedDisk_ = -1;
    trackOffsets_ = NO_TRACK_OFFSETS;
}

bool D88Image::selectDisk(int index) {
    if (partCount_ == 0) {
        return false;
    }
    if (index == selectedDisk_ && index >= 0) {
        return true; // its header is kept as first read: the selection stays as it is
    }
    selectedDisk_ = -1;
    diskOffset_ = -1;
    mediaType_ = -1;
    diskSize_ = 0;
    diskBytesEnd_ = 0;
    trackOffsets_ = NO_TRACK_OFFSETS;
    memset(diskName_, 0, sizeof diskName_);
    if (index < 0 || index >= diskCount_) {
        return false;
    }

    const DiskHeader* header = keptHeader(index);
    if (header == nullptr) {
        return false; // the file has changed since it was indexed
    }
    diskOffset_ = diskOffsets_[index];
    trackOffsets_ = header->trackOffsets;
    mediaType_ = header->mediaType;
    // A disk cut short where the next file starts ends there: no track of it is read from the
    // next disk's bytes, nor any record or data. Each track start lies in one disk, so a walk
    // or search kept by its start is always bounded alike.
    const bool cut = diskLimits_[index] != 0 && diskLimits_[index] < header->diskSize;
    diskSize_ = cut ? diskLimits_[index] : header->diskSize;
    diskBytesEnd_ = cut ? diskOffset_ + static_cast<int64_t>(diskLimits_[index]) : fileSize_;
    for (int i = 0; i < DISK_NAME_LENGTH && header->name[i] != 0; ++i) {
        diskName_[i] = static_cast<char>(header->name[i]);
    }
    selectedDisk_ = index;
    return true;
}

const DiskHeader* D88Image::keptHeader(int index) {
    if (partCount_ == 0 || index < 0 || index >= diskCount_) {
        return nullptr;
    }
    // A header read once is kept: every later look at the disk finds the same bytes.
    if (!memory_->headerKnown[index]) {
        uint8_t bytes[DISK_HEADER_SIZE];
        if (copyFileBytes(memory_->cache, diskOffsets_[index], bytes, DISK_HEADER_SIZE) !=
            DISK_HEADER_SIZE) {
            return nullptr;
        }
        memory_->headers[index] = parseDiskHeader(bytes);
        memory_->headerKnown[index] = true;
    }
    return &memory_->headers[index];
}

bool D88Image::diskHeader(int index, DiskHeader& header) {
    const DiskHeader* kept = keptHeader(index);
    if (kept == nullptr) {
        return false;
    }
    header = *kept;
    return true;
}

uint32_t D88Image::diskLimit(int index) const {
    return index >= 0 && index < diskCount_ ? diskLimits_[index] : 0;
}

int64_t D88Image::diskStart(int index) const {
    return index >= 0 && index < diskCount_ ? diskOffsets_[index] : -1;
}

IndexGap D88Image::gap(int i) const {
    return i >= 0 && i < gapCount_ ? gaps_[i] : IndexGap{-1, 0};
}

int D88Image::partAt(int64_t position) const {
    return partHolding(partStarts_, partCount_, position);
}

int64_t D88Image::readBytes(int64_t position, uint8_t* out, int64_t length) {
    return partCount_ == 0 ? 0 : copyFileBytes(memory_->cache, position, out, length);
}

const uint8_t* D88Image::viewBytes(int64_t position, int length, uint8_t* scratch) {
    return partCount_ == 0 || length < 0 || length > BLOCK_BYTES
               ? nullptr
               : viewFileBytes(memory_->cache, position, length, scratch);
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

bool D88Image::trackPresent(int track) const {
    const uint32_t offset = trackOffset(track);
    return offset != 0 && offset <= diskSize_;
}

// Checks that `track` can be reached on the selected disk and gives its first record's
// file position.
bool D88Image::trackStart(int track, int64_t& position) const {
    if (partCount_ == 0 || !trackPresent(track)) {
        return false;
    }
    position = static_cast<int64_t>(diskOffset_) + trackOffsets_[track];
    return true;
}

int D88Image::storedLength(int64_t dataPosition, int64_t length) const {
    // Count only what was really stored: a record cut off by the end of the files or of a disk
    // cut short must not pass stale buffer bytes or the next disk's bytes off as data.
    const int64_t stored = diskBytesEnd_ - dataPosition;
    if (length > stored) {
        length = stored;
    }
    return length > 0 ? static_cast<int>(length) : 0;
}

SectorPlace D88Image::recordPlace(const WalkedRecord& record) const {
    const int64_t data = record.headerPosition + SECTOR_RECORD_HEADER_SIZE;
    return SectorPlace{data, storedLength(data, record.dataLength), record.marks};
}

const SectorSearch* D88Image::findSector(const SectorAddress& at) {
    int64_t start = 0;
    if (!trackStart(at.track, start)) {
        return nullptr;
    }
    const auto isByte = [](int value) { return value >= 0 && value <= 255; };
    if (!isByte(at.c) || !isByte(at.h) || !isByte(at.r) || !isByte(at.n)) {
        return nullptr; // no stored ID byte holds such a value
    }
    const SectorId id{static_cast<uint8_t>(at.c), static_cast<uint8_t>(at.h),
                      static_cast<uint8_t>(at.r), static_cast<uint8_t>(at.n)};
    const uint32_t setIndex = searchSet(start, id);
    SectorSearch(&set)[SEARCH_WAYS] = memory_->searches[setIndex];
    SectorSearch* kept = nullptr;
    const uint32_t generation = memory_->searchGeneration;
    for (SectorSearch& way : set) {
        if (way.generation == generation && way.trackStart == start &&
            memcmp(&way.id, &id, sizeof id) == 0) {
            kept = &way;
            break;
        }
    }
    // A new search takes the ways of its set in turn.
    uint8_t& next = memory_->nextWay[setIndex];
    SectorSearch& search = kept != nullptr ? *kept : set[next % SEARCH_WAYS];
    if (kept == nullptr) {
        next = static_cast<uint8_t>((next + 1) % SEARCH_WAYS);
        search.generation = generation;
        TrackWalk& walk = memory_->walk;
        beginTrackWalk(walk, start, diskBytesEnd_);
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
    return search.found ? &search : nullptr;
}

int D88Image::locateSector(const SectorAddress& at, int maxLength, SectorPlace& place) {
    place = SectorPlace{-1, 0, SectorMarks{0, 0, 0}};
    const SectorSearch* search = findSector(at);
    if (search == nullptr) {
        return 0;
    }
    const int64_t length = search->dataLength < maxLength ? search->dataLength : maxLength;
    place = SectorPlace{search->dataPosition, storedLength(search->dataPosition, length),
                        search->marks};
    return place.length;
}

int D88Image::readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLength) {
    SectorPlace place;
    if (locateSector(SectorAddress{track, c, h, r, n}, maxLength, place) == 0) {
        return 0;
    }
    return static_cast<int>(copyFileBytes(memory_->cache, place.position, buffer, place.length));
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
    beginTrackWalk(memory_->walk, start, diskBytesEnd_);
    finishTrackWalk(memory_->walk, memory_->cache);
    return &memory_->walk;
}

void D88Image::nextSector(SectorAddress& at) const {
    if (at.r == lastSector_) {
        ++at.track;
        if (at.h == 0) {
            at.h = 1;
        } else {
            at.h = 0;
            ++at.c;
        }
        at.r = firstSector_;
    } else {
        ++at.r;
    }
}

template <typename Take> int D88Image::walkRun(const SectorAddress& start, int total, Take take) {
    if (start.n < 0 || start.n > 23) {
        return 0; // 128 << n must stay a positive 32-bit value
    }
    SectorAddress at = start;
    int readCount = 0;
    int pieceSize = 128 << start.n;
    while (readCount < total) {
        if (pieceSize > total - readCount) {
            pieceSize = total - readCount;
        }
        SectorPlace place;
        // A sector shorter than the piece ends the run; what it holds is still handed on.
        if (locateSector(at, pieceSize, place) == 0 || !take(place, readCount, pieceSize) ||
            place.length < pieceSize) {
            return readCount;
        }
        readCount += pieceSize;
        nextSector(at);
    }
    return readCount;
}

int D88Image::locateRun(const SectorAddress& start, int total, SectorPlace* places, int maxPlaces) {
    int counted = 0;
    return walkRun(start, total, [&](const SectorPlace& place, int, int pieceSize) {
        if (place.length < pieceSize) {
            return true; // not counted: the run ends here
        }
        if (counted == maxPlaces) {
            return false;
        }
        places[counted++] = place;
        return true;
    });
}

int D88Image::readRun(int track, int c, int h, int r, int n, uint8_t* buffer, int total) {
    return walkRun(SectorAddress{track, c, h, r, n}, total,
                   [&](const SectorPlace& place, int at, int) {
                       return copyFileBytes(memory_->cache, place.position, buffer + at,
                                            place.length) == place.length;
                   });
}

} // namespace d88
