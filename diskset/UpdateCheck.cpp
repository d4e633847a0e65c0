#include "UpdateCheck.h"

#include "DiskSet.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Odd constants with bits spread evenly: one per lane, and those of the end.
constexpr uint64_t LANE_KEYS[FINGERPRINT_LANES] = {
    0xa0761d6478bd642fULL, 0xe7037ed1a0b428dbULL, 0x8ebc6af09c88c6e3ULL, 0x589965cc75374cc3ULL,
    0x1d8e4e27c47d124fULL, 0x2d358dccaa6c78a5ULL, 0x8bb84b93962eacc9ULL, 0x4b33a62ed433d4a3ULL};
// The keys of the second words: other odd constants.
constexpr uint64_t OTHER_KEYS[FINGERPRINT_LANES] = {
    0xd6e8feb86659fd93ULL, 0xa9c1b6f2e5d7c3b1ULL, 0x94d049bb133111ebULL, 0xbf58476d1ce4e5b9ULL,
    0xb25629846ef17d8fULL, 0x85ebca77c2b2ae63ULL, 0xc4ceb9fe1a85ec53ULL, 0xff51afd7ed558ccdULL};
constexpr uint64_t PRIME1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t PRIME2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t PRIME3 = 0x165667B19E3779F9ULL;

uint64_t wordAt(const uint8_t* bytes) {
    uint64_t word;
    memcpy(&word, bytes, sizeof word);
    return word;
}

// The 128-bit product of two words folded to 64 bits: its halves XORed.
uint64_t foldedProduct(uint64_t a, uint64_t b) {
#ifndef __SIZEOF_INT128__
#error "the fingerprint needs a 128-bit integer type"
#endif
    __extension__ typedef unsigned __int128 Wide;
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t rotateLeft(uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

// Takes the whole groups of `bytes` (`length` of them) into the lanes; returns the bytes taken.
// Each lane takes two words of a group: their keyed product, folded, and the words themselves are
// added to the lane turned, so that no bytes make a lane forget what it held or what the other
// word holds, and every group's place in the order counts.
size_t addGroups(Fingerprint& print, const uint8_t* bytes, size_t length) {
    size_t at = 0;
    for (; at + FINGERPRINT_GROUP <= length; at += FINGERPRINT_GROUP) {
        for (size_t k = 0; k < FINGERPRINT_LANES; ++k) {
            const uint8_t* words = bytes + at + 16 * k;
            const uint64_t first = wordAt(words);
            const uint64_t second = wordAt(words + 8);
            print.lanes[k] = rotateLeft(print.lanes[k], 31) +
                             foldedProduct(first ^ LANE_KEYS[k], second ^ OTHER_KEYS[k]) +
                             (first ^ rotateLeft(second, 29));
        }
    }
    return at;
}

// Zero bytes, for runs of them.
const uint8_t ZEROS[1024] = {};

} // namespace

void startFingerprint(Fingerprint& print) {
    print = Fingerprint{{}, {}, 0, 0};
    for (size_t k = 0; k < FINGERPRINT_LANES; ++k) {
        print.lanes[k] = LANE_KEYS[k] ^ PRIME3;
    }
}

void addToFingerprint(Fingerprint& print, const uint8_t* bytes, size_t length) {
    print.length += length;
    if (print.pendingBytes > 0) {
        const size_t taken = std::min(length, FINGERPRINT_GROUP - print.pendingBytes);
        memcpy(print.pending + print.pendingBytes, bytes, taken);
        print.pendingBytes += taken;
        bytes += taken;
        length -= taken;
        if (print.pendingBytes < FINGERPRINT_GROUP) {
            return;
        }
        addGroups(print, print.pending, FINGERPRINT_GROUP);
        print.pendingBytes = 0;
    }
    const size_t taken = addGroups(print, bytes, length);
    memcpy(print.pending, bytes + taken, length - taken);
    print.pendingBytes = length - taken;
}

void addZerosToFingerprint(Fingerprint& print, size_t count) {
    while (count > 0) {
        const size_t step = std::min(count, sizeof ZEROS);
        addToFingerprint(print, ZEROS, step);
        count -= step;
    }
}

uint64_t finishFingerprint(const Fingerprint& print) {
    // The lanes in turn, then the words and bytes left and the length, mixed into one value.
    uint64_t value = print.length ^ PRIME3;
    for (size_t k = 0; k < FINGERPRINT_LANES; ++k) {
        value = foldedProduct(value ^ print.lanes[k], PRIME1) + k;
    }
    size_t at = 0;
    for (; at + 8 <= print.pendingBytes; at += 8) {
        value = foldedProduct(value ^ wordAt(print.pending + at), PRIME2);
    }
    for (; at < print.pendingBytes; ++at) {
        value = rotateLeft(value ^ (print.pending[at] * PRIME3), 11) * PRIME1;
    }
    value ^= value >> 33;
    value *= PRIME2;
    value ^= value >> 29;
    value *= PRIME3;
    return value ^ (value >> 32);
}

uint64_t bytesFingerprint(const uint8_t* bytes, size_t length) {
    Fingerprint print;
    startFingerprint(print);
    addToFingerprint(print, bytes, length);
    return finishFingerprint(print);
}

uint64_t entryFingerprint(d88::D88Image& image, const UpdateEntry& entry) {
    // Each sector where it lies, as readEntryBytes would copy it: zeros where none gives bytes.
    Fingerprint print;
    startFingerprint(print);
    const size_t size = static_cast<size_t>(entry.entry.size);
    uint8_t scratch[SECTOR_BYTES];
    for (const StoredSector& sector : entry.sectors) {
        const size_t start = static_cast<size_t>(print.length);
        if (start >= size) {
            break;
        }
        const int length = static_cast<int>(std::min<size_t>(sector.length, size - start));
        const uint8_t* bytes = image.viewBytes(sector.position, length, scratch);
        const size_t held = bytes != nullptr
                                ? static_cast<size_t>(length)
                                : static_cast<size_t>(std::max<int64_t>(
                                      0, image.readBytes(sector.position, scratch, length)));
        addToFingerprint(print, bytes != nullptr ? bytes : scratch, held);
        addZerosToFingerprint(print, std::min<size_t>(SECTOR_BYTES - held, size - start - held));
    }
    addZerosToFingerprint(print, size - std::min<size_t>(size, static_cast<size_t>(print.length)));
    return finishFingerprint(print);
}

bool sameEntries(const UpdateSet& planned, const std::vector<UpdateEntry>& written) {
    if (planned.entries.size() != written.size()) {
        return false;
    }
    for (size_t i = 0; i < planned.entries.size(); ++i) {
        const UpdateEntry& before = planned.entries[i];
        const UpdateEntry& after = written[i];
        if (before.index != after.index || before.disk != after.disk ||
            memcmp(before.bytes, after.bytes, DIR_ENTRY_SIZE) != 0) {
            return false;
        }
    }
    return true;
}

std::vector<int64_t> putSectorPositions(const UpdateSet& set, const UpdatePlan& plan) {
    std::vector<int64_t> positions;
    for (size_t i = 0; i < set.entries.size() && i < plan.files.size(); ++i) {
        for (const StoredSector& sector : set.entries[i].sectors) {
            if (plan.files[i].outcome == UpdateOutcome::PutBack) {
                positions.push_back(sector.position);
            }
        }
    }
    if (!std::is_sorted(positions.begin(), positions.end())) {
        std::sort(positions.begin(), positions.end());
    }
    return positions;
}

bool samePlaces(const UpdateEntry& planned, const UpdateEntry& written,
                const std::vector<int64_t>& putSectors, bool putBack) {
    if (planned.bytesHeld != written.bytesHeld ||
        planned.sectors.size() != written.sectors.size()) {
        return false;
    }
    for (size_t k = 0; k < planned.sectors.size(); ++k) {
        const StoredSector& was = planned.sectors[k];
        const StoredSector& is = written.sectors[k];
        // A sector put back reads without error, whichever entry put it back.
        const bool put =
            putBack || std::binary_search(putSectors.begin(), putSectors.end(), was.position);
        if (was.position != is.position || was.length != is.length ||
            is.status != (put ? d88::STATUS_NORMAL : was.status)) {
            return false;
        }
    }
    return true;
}

void expectedEntryBytes(d88::D88Image& input, const UpdateSet& set, size_t position,
                        NewBytes& source, uint8_t* expected) {
    // Only the bytes that no sector gives are zeroed, as readEntryBytes does.
    const UpdateEntry& entry = set.entries[position];
    const size_t size = static_cast<size_t>(entry.entry.size);
    size_t filled = 0;
    size_t at = 0;
    for (const StoredSector& sector : entry.sectors) {
        if (filled < at) {
            memset(expected + filled, 0, at - filled);
        }
        filled = at + static_cast<size_t>(readUpdatedBytes(input, source, sector.position,
                                                           expected + at, sector.length));
        at += SECTOR_BYTES;
    }
    if (filled < size) {
        memset(expected + filled, 0, size - filled);
    }
}

void completeKnownBytes(d88::D88Image& input, const UpdateSet& set, const UpdatePlan& plan,
                        NewBytes& source, std::vector<KnownBytes>& known, uint8_t* scratch) {
    known.resize(set.entries.size(), KnownBytes{false, 0});
    for (const FileUpdate& file : plan.files) {
        for (int index : file.changesWith) {
            for (size_t i = 0; i < set.entries.size(); ++i) {
                known[i].known = known[i].known && set.entries[i].index != index;
            }
        }
    }
    for (size_t i = 0; i < set.entries.size(); ++i) {
        if (!known[i].known) {
            expectedEntryBytes(input, set, i, source, scratch);
            known[i] = KnownBytes{
                true, bytesFingerprint(scratch, static_cast<size_t>(set.entries[i].entry.size))};
        }
    }
}

ReadBack checkReadBack(d88::D88Image& written, const UpdateSet& set, const UpdatePlan& plan,
                       const std::vector<KnownBytes>& known) {
    ReadBack back{ReadBackProblem::None, 0, {}};
    {
        const std::unique_ptr<WalkBuffers> buffers(new WalkBuffers);
        back.entries = readEntriesBack(
            written, identityDiskChoice(decideDiskSet(written, readIdSectors(written))),
            *set.layout, *buffers);
    }
    if (!sameEntries(set, back.entries)) {
        back.problem = ReadBackProblem::OtherPlaces;
        return back;
    }
    const std::vector<int64_t> putSectors = putSectorPositions(set, plan);
    for (size_t i = 0; i < set.entries.size(); ++i) {
        // Each entry located and read at once, while the reader holds its tracks.
        UpdateEntry& entry = back.entries[i];
        locateEntrySectors(written, entry);
        if (!samePlaces(set.entries[i], entry, putSectors,
                        i < plan.files.size() && plan.files[i].outcome == UpdateOutcome::PutBack)) {
            back.problem = ReadBackProblem::OtherPlaces;
            return back;
        }
        if (i >= known.size() || !known[i].known ||
            entryFingerprint(written, entry) != known[i].fingerprint) {
            back.problem = ReadBackProblem::OtherBytes;
            back.entry = i;
            return back;
        }
    }
    return back;
}
