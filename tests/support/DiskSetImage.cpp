#include "DiskSetImage.h"

#include "DiskSet.h"
#include "SampleDiskSet.h"

#include <algorithm>

using namespace d88;

namespace {

void ensureTrack(DiskPlan& disk, int track) {
    if (disk.tracks.count(track) == 0) {
        disk.tracks[track] = makeTrack(track, LAST_SECTOR);
    }
}

} // namespace

DiskSetImage::DiskSetImage(int count) : disks(static_cast<size_t>(count)), directory(3072, 0) {
    for (int d = 0; d < count; ++d) {
        disks[static_cast<size_t>(d)].name = "TEST DISK";
        setIdByte(d, static_cast<uint8_t>(d + 1));
    }
    ensureTrack(disks[0], DIRECTORY_TRACK);
}

void DiskSetImage::setEntry(int offset, const std::string& name, int track, int sector, int units,
                            int diskNumber) {
    writeDirEntry(directory.data() + offset, name, track, sector, units, diskNumber);
}

void DiskSetImage::putFile(int disk, int track, int sector, const std::vector<uint8_t>& bytes) {
    DiskPlan& plan = disks[static_cast<size_t>(disk)];
    for (size_t at = 0; at < bytes.size(); at += SECTOR_BYTES) {
        ensureTrack(plan, track);
        setSectorData(plan, track, sector,
                      std::vector<uint8_t>(bytes.begin() + static_cast<long>(at),
                                           bytes.begin() + static_cast<long>(at) + SECTOR_BYTES));
        if (sector == LAST_SECTOR) {
            ++track;
            sector = FIRST_SECTOR;
        } else {
            ++sector;
        }
    }
}

void DiskSetImage::setIdByte(int disk, uint8_t id) {
    DiskPlan& plan = disks[static_cast<size_t>(disk)];
    ensureTrack(plan, ID_TRACK);
    std::vector<uint8_t> sector(SECTOR_BYTES, 0);
    sector[0] = id;
    setSectorData(plan, ID_TRACK, ID_SECTOR, sector);
}

std::vector<uint8_t> DiskSetImage::build() const {
    std::vector<DiskPlan> copy = disks;
    for (int s = 0; s < 3 && copy[0].tracks.count(DIRECTORY_TRACK) != 0; ++s) {
        const auto begin = directory.begin() + s * SECTOR_BYTES;
        setSectorData(copy[0], DIRECTORY_TRACK, DIRECTORY_SECTOR + s,
                      std::vector<uint8_t>(begin, begin + SECTOR_BYTES));
    }
    return buildImage(copy);
}

std::vector<uint8_t> damagedDump(std::vector<DiskPlan> disks,
                                 const std::vector<SectorDamage>& damages) {
    for (const SectorDamage& d : damages) {
        std::vector<SectorPlan>& sectors =
            disks[static_cast<size_t>(d.disk)].tracks[d.track].sectors;
        const auto sector = sectors.begin() + (d.r - 1);
        if (d.removed) {
            sectors.erase(sector);
            continue;
        }
        sector->status = d.status;
        sector->data[100] ^= d.flip;
    }
    return buildImage(disks);
}

std::vector<uint8_t> patternBytes(int sectors, int seed) {
    std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * SECTOR_BYTES);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 1024 * 13 + static_cast<size_t>(seed) * 31);
    }
    return bytes;
}

std::vector<uint8_t> zeroTail(std::vector<uint8_t> bytes, size_t keep) {
    std::fill(bytes.begin() + static_cast<long>(keep), bytes.end(), 0);
    return bytes;
}
