#include "ImageBuilder.h"

#include "../d88/D88Format.h"

#include <cstdio>

namespace d88 {

void putU16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void putU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    putU16(out, at, value & 0xFFFF);
    putU16(out, at + 2, value >> 16);
}

std::vector<uint8_t> buildDisk(const DiskPlan& disk) {
    std::vector<uint8_t> out(DISK_HEADER_SIZE, 0);
    for (size_t i = 0; i < disk.name.size() && i < DISK_NAME_LENGTH; ++i) {
        out[DISK_NAME_OFFSET + i] = static_cast<uint8_t>(disk.name[i]);
    }
    out[MEDIA_TYPE_OFFSET] = disk.mediaType;

    for (const auto& [index, track] : disk.tracks) {
        if (index >= 0 && index < MAX_TRACKS) {
            putU32(out, TRACK_TABLE_OFFSET + 4 * index, static_cast<uint32_t>(out.size()));
        }
        for (const SectorPlan& sector : track.sectors) {
            const size_t at = out.size();
            out.resize(at + SECTOR_RECORD_HEADER_SIZE, 0);
            out[at] = sector.c;
            out[at + 1] = sector.h;
            out[at + 2] = sector.r;
            out[at + 3] = sector.n;
            out[at + DENSITY_OFFSET] = sector.density;
            out[at + DELETED_MARK_OFFSET] = sector.deleted;
            out[at + STATUS_OFFSET] = sector.status;
            const int count = sector.sectorsInTrack >= 0 ? sector.sectorsInTrack
                                                         : static_cast<int>(track.sectors.size());
            putU16(out, at + SECTORS_IN_TRACK_OFFSET, static_cast<uint32_t>(count));
            const int length =
                sector.dataLength >= 0 ? sector.dataLength : static_cast<int>(sector.data.size());
            putU16(out, at + DATA_LENGTH_OFFSET, static_cast<uint32_t>(length));
            out.insert(out.end(), sector.data.begin(), sector.data.end());
        }
    }
    for (const auto& [index, offset] : disk.trackOffsetOverride) {
        putU32(out, TRACK_TABLE_OFFSET + 4 * index, offset);
    }
    const uint32_t size = disk.diskSizeOverride >= 0 ? static_cast<uint32_t>(disk.diskSizeOverride)
                                                     : static_cast<uint32_t>(out.size());
    putU32(out, DISK_SIZE_OFFSET, size);
    for (size_t i = 0; i < disk.headerBytesOverride.size() && i < out.size(); ++i) {
        out[i] = disk.headerBytesOverride[i];
    }
    return out;
}

std::vector<uint8_t> buildImage(const std::vector<DiskPlan>& disks) {
    std::vector<uint8_t> out;
    for (const DiskPlan& disk : disks) {
        const std::vector<uint8_t> bytes = buildDisk(disk);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

SectorPlan makeSector(int c, int h, int r, int n, size_t size, uint8_t fill) {
    SectorPlan sector;
    sector.c = static_cast<uint8_t>(c);
    sector.h = static_cast<uint8_t>(h);
    sector.r = static_cast<uint8_t>(r);
    sector.n = static_cast<uint8_t>(n);
    sector.data.assign(size, fill);
    return sector;
}

TrackPlan makeTrack(int track, int sectorsPerTrack) {
    TrackPlan plan;
    for (int r = 1; r <= sectorsPerTrack; ++r) {
        plan.sectors.push_back(makeSector(track / 2, track % 2, r, 3, 1024));
    }
    return plan;
}

void setSectorData(DiskPlan& disk, int track, int r, const std::vector<uint8_t>& data) {
    for (SectorPlan& sector : disk.tracks.at(track).sectors) {
        if (sector.r == r) {
            sector.data = data;
            return;
        }
    }
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = fclose(file) == 0 && ok;
    return ok;
}

} // namespace d88
