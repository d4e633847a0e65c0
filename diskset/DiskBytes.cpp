#include "DiskBytes.h"

namespace {

constexpr int64_t CHUNK_BYTES = 16384;

// Hands `length` bytes of the image from `position` to the sink. False when the files end
// before them.
bool streamRange(d88::D88Image& image, int64_t position, int64_t length, const ByteSink& sink) {
    uint8_t chunk[CHUNK_BYTES];
    while (length > 0) {
        const int64_t want = length < CHUNK_BYTES ? length : CHUNK_BYTES;
        const int64_t got = image.readBytes(position, chunk, want);
        if (got > 0) {
            sink.take(chunk, static_cast<size_t>(got), sink.context);
        }
        if (got < want) {
            return false;
        }
        position += got;
        length -= got;
    }
    return true;
}

void putU16(uint8_t* out, unsigned value) {
    out[0] = static_cast<uint8_t>(value & 0xFF);
    out[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

} // namespace

bool streamStoredDisk(d88::D88Image& image, int disk, const ByteSink& sink) {
    d88::DiskHeader header;
    const int64_t start = image.diskStart(disk);
    if (start < 0 || !image.diskHeader(disk, header)) {
        return false;
    }
    streamRange(image, start, header.diskSize, sink);
    return true;
}

bool streamDiskContent(d88::D88Image& image, int disk, const ByteSink& sink) {
    if (!image.selectDisk(disk)) {
        return false;
    }
    for (int track = 0; track < d88::MAX_TRACKS; ++track) {
        const d88::TrackWalk* walk = image.walkTrack(track); // null when the track is absent
        if (walk == nullptr) {
            continue;
        }
        uint8_t head[3] = {static_cast<uint8_t>(track)};
        putU16(head + 1, static_cast<unsigned>(walk->recordCount));
        sink.take(head, sizeof head, sink.context);
        for (int i = 0; i < walk->recordCount; ++i) {
            const d88::WalkedRecord& record = walk->records[i];
            uint8_t fields[7] = {record.id.c, record.id.h, record.id.r, record.id.n,
                                 record.marks.status};
            putU16(fields + 5, record.dataLength);
            sink.take(fields, sizeof fields, sink.context);
            streamRange(image, record.headerPosition + d88::SECTOR_RECORD_HEADER_SIZE,
                        record.dataLength, sink);
        }
    }
    return true;
}
