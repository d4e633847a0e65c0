// Other dumps of the input's disks, as another reading of the same floppies would give them:
// the input's bytes with some sector records changed. Bytes 22 to 25 of the input (unused
// bytes of the first disk's header, which the reader ignores) say how many dumps (1 to 3), and seed
// their changes. Every record that a track walk of an
// indexed disk finds is, as a small generator seeded from the input picks: given a read-error
// status, cleared of its status, given other data bytes (some the same in every dump, some
// not), or given another sector number (the dump misses that sector); most are left alone.
#pragma once

#include "SetFormat.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace changed_copies {

// xorshift32: the same seed, the same changes.
struct Generator {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

constexpr uint8_t ERROR_STATUSES[] = {0xA0, 0xB0, 0xE0, 0xF0, 0x20};

} // namespace changed_copies

// How many other dumps (1 to 3: byte 25 modulo 3, plus 1) and the seed of their changes.
struct DumpChoice {
    int dumps;
    uint32_t seed;
};

inline DumpChoice dumpChoice(const uint8_t* data, size_t size) {
    const auto byteAt = [&](size_t i) { return static_cast<uint32_t>(i < size ? data[i] : 0); };
    return DumpChoice{1 + static_cast<int>(byteAt(25) % 3),
                      byteAt(22) | byteAt(23) << 8 | byteAt(24) << 16 | (byteAt(25) / 3) << 24};
}

// The input `data` (opened as `image`) with its records changed as `seed` and `dump` (1, 2, ...:
// which dump this is) pick, into `copy`. `changed` is the caller's too: buffers kept from one
// input to the next cost no new memory.
inline void changedCopy(d88::D88Image& image, const uint8_t* data, size_t size, uint32_t seed,
                        int dump, std::vector<uint8_t>& copy, std::vector<bool>& changed) {
    using namespace changed_copies;
    copy.assign(data, data + size);
    changed.assign(size, false);
    Generator pick{(seed ^ (0x9E3779B9u * static_cast<uint32_t>(dump))) | 1};
    Generator shared{seed | 1};  // changes that every dump makes alike
    std::vector<int64_t> walked; // disks of size 0 share one start: their records are changed
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        const int64_t start = image.diskStart(disk);
        if (std::find(walked.begin(), walked.end(), start) != walked.end() ||
            !image.selectDisk(disk)) {
            continue; // every record of a disk walked before is changed already
        }
        walked.push_back(start);
        for (int track = 0; track < d88::MAX_TRACKS; ++track) {
            const d88::TrackWalk* walk = image.walkTrack(track);
            for (int i = 0; walk != nullptr && i < walk->recordCount; ++i) {
                const d88::WalkedRecord& record = walk->records[i];
                const int64_t at = record.headerPosition;
                if (at + d88::SECTOR_RECORD_HEADER_SIZE > static_cast<int64_t>(size) ||
                    changed[static_cast<size_t>(at)]) {
                    continue;
                }
                changed[static_cast<size_t>(at)] = true;
                const uint32_t roll = pick.next();
                const uint32_t common = shared.next();
                const int64_t dataAt = at + d88::SECTOR_RECORD_HEADER_SIZE;
                const int64_t stored =
                    std::min<int64_t>(record.dataLength, static_cast<int64_t>(size) - dataAt);
                uint8_t* header = copy.data() + at;
                switch (roll % 8) {
                case 0: // a read error, and its bytes read otherwise
                case 1: // a read error
                    header[d88::STATUS_OFFSET] = ERROR_STATUSES[(roll >> 8) % 5];
                    break;
                case 2: // read without an error this time
                case 5:
                    header[d88::STATUS_OFFSET] = d88::STATUS_NORMAL;
                    break;
                case 3: // missed: the sector number read wrong (not the ID sector's, so that
                        // the dump stays a copy of its disk)
                    if (track != ID_TRACK || record.id.r != ID_SECTOR) {
                        header[2] ^= static_cast<uint8_t>(1 + (roll >> 8) % 0x7F);
                    }
                    break;
                default:
                    break;
                }
                if ((roll % 8 == 0 || roll % 8 == 4) && stored > 0) {
                    // One byte read otherwise: at a place and to a value that half the time
                    // every dump shares.
                    const bool alike = (roll >> 16) & 1;
                    const uint32_t where = alike ? common : roll >> 17;
                    const uint8_t flip =
                        static_cast<uint8_t>(alike ? 1 + common % 255 : 1 + (roll >> 24) % 255);
                    copy[static_cast<size_t>(dataAt + where % stored)] ^= flip;
                }
            }
        }
    }
}
