#include "UpdateCheck.h"

#include "DiskSet.h"

#include <algorithm>
#include <cstring>
#include <memory>

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
