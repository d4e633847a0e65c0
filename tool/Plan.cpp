#include "Plan.h"

#include "DiskSet.h"

#include <cstring>
#include <map>

namespace {

// A track is present when its table entry is not 0 and not past the disk's size.
bool isPresent(const d88::D88Image& image, int track) {
    const uint32_t offset = image.trackOffset(track);
    return offset != 0 && offset <= image.diskSize();
}

// The position past the last byte the walk read: its records, and the header that ended it.
int64_t walkReach(const d88::TrackWalk& walk) {
    const bool readNextHeader =
        walk.end == d88::WalkEnd::ZeroCount || walk.end == d88::WalkEnd::EndOfFile;
    return walk.next + (readNextHeader ? d88::SECTOR_RECORD_HEADER_SIZE : 0);
}

TrackFacts describeTrack(const d88::TrackWalk& walk, int track, int64_t diskEnd) {
    TrackFacts facts;
    facts.index = track;
    facts.recordCount = walk.recordCount;
    const int listed =
        walk.recordCount < MAX_LISTED_RECORDS ? walk.recordCount : MAX_LISTED_RECORDS;
    facts.records.reserve(static_cast<size_t>(listed));
    for (int i = 0; i < listed; ++i) {
        const d88::WalkedRecord& record = walk.records[i];
        facts.records.push_back(RecordFacts{record.id, record.marks, record.dataLength});
    }
    facts.end = walk.end;
    facts.pastDiskEnd = walkReach(walk) > diskEnd;
    return facts;
}

bool allZero(const uint8_t* bytes) {
    for (int i = 0; i < DIR_ENTRY_SIZE; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

struct FileCount {
    int files;
    bool stopAtFirst; // whether the layout yields any file is enough
};

bool countWritten(const EntryPlan& walked, void* context) {
    FileCount& count = *static_cast<FileCount*>(context);
    count.files += isWritten(walked.outcome) ? 1 : 0;
    return !count.stopAtFirst || count.files == 0;
}

struct SetPlanning {
    SetPlan* plan;
    PlannedFileVisitor visit;
    void* context;
    std::map<std::string, int> writtenUnder; // saved name key -> the last entry written there
};

bool decideEntry(const EntryPlan& walked, void* context) {
    SetPlanning& planning = *static_cast<SetPlanning*>(context);
    if (allZero(walked.bytes)) {
        return true; // an unused slot of the table: size 0, nothing to list
    }
    SetPlan& plan = *planning.plan;
    PlannedEntry entry;
    entry.index = walked.index;
    memcpy(entry.bytes, walked.bytes, DIR_ENTRY_SIZE);
    entry.entry = walked.entry;
    entry.outcome = walked.outcome;
    entry.bytesRead = walked.bytesRead;
    entry.readErrors = walked.readErrors;
    entry.saved = walked.saved;
    entry.replaces = -1;
    entry.replacedBy = -1;
    const bool written = isWritten(walked.outcome);
    SetSummary& summary = plan.summary;
    if (written) {
        ++summary.files;
        summary.bytes += walked.entry.size;
        summary.withReadErrors += walked.readErrors.errorSectors > 0 ? 1 : 0;
        auto found = planning.writtenUnder.find(entry.saved.key);
        if (found != planning.writtenUnder.end()) {
            entry.replaces = found->second;
            for (PlannedEntry& earlier : plan.entries) {
                if (earlier.index == found->second) {
                    earlier.replacedBy = entry.index;
                }
            }
            found->second = entry.index;
        } else {
            planning.writtenUnder.emplace(entry.saved.key, entry.index);
        }
    } else {
        ++summary.passedOver;
    }
    plan.entries.push_back(entry);
    if (planning.visit != nullptr) {
        planning.visit(plan, plan.entries.back(), written ? workBuffer : nullptr, planning.context);
    }
    return true;
}

} // namespace

int readSetId(d88::D88Image& image) {
    uint8_t id = 0;
    return image.readSector(ID_TRACK, ID_TRACK >> 1, ID_TRACK & 1, ID_SECTOR, SECTOR_SIZE_CODE, &id,
                            1) == 1
               ? id
               : -1;
}

DiskFacts describeDisk(d88::D88Image& image, int index, bool withTracks, bool countReadErrors) {
    DiskFacts facts{};
    facts.index = index;
    facts.setId = -1;
    facts.headerRead = image.selectDisk(index);
    if (!facts.headerRead) {
        return facts;
    }
    facts.offset = image.diskOffset();
    facts.size = image.diskSize();
    facts.media = image.mediaType();
    facts.name = image.diskName();
    facts.setId = readSetId(image);
    const int64_t end = static_cast<int64_t>(facts.offset) + facts.size;
    const int64_t fileSize = image.fileSize();
    facts.pastFileEnd = end > fileSize ? end - fileSize : 0;
    facts.sizeZero = facts.size == 0;
    if (!facts.sizeZero && index == image.diskCount() - 1 && end < fileSize) {
        (image.diskCount() == d88::MAX_DISKS ? facts.unreadAfter : facts.leftoverAfter) =
            fileSize - end;
    }
    facts.tracksListed = withTracks;
    facts.readErrorsCounted = withTracks || countReadErrors;
    for (int track = 0; facts.readErrorsCounted && track < d88::MAX_TRACKS; ++track) {
        const d88::TrackWalk* walk = isPresent(image, track) ? image.walkTrack(track) : nullptr;
        if (walk == nullptr) {
            continue;
        }
        for (int i = 0; i < walk->recordCount; ++i) {
            facts.readErrorRecords += d88::isReadErrorStatus(walk->records[i].marks.status) ? 1 : 0;
        }
        if (withTracks) {
            facts.tracks.push_back(describeTrack(*walk, track, end));
        }
    }
    return facts;
}

const char* layoutLetter(const DirectoryLayout& layout) {
    return &layout == &LAYOUT_B ? "b" : "a";
}

ImagePlan planImage(d88::D88Image& image, NameTarget target, bool countReadErrors) {
    ImagePlan plan{};
    plan.fileSize = image.fileSize();
    plan.diskCount = image.diskCount();
    plan.diskAElsewhere = -1;
    for (int index = 0; index < plan.diskCount; ++index) {
        plan.disks.push_back(describeDisk(image, index, false, countReadErrors));
    }
    plan.enoughDisks = plan.diskCount >= MIN_SET_DISKS;
    plan.fit = decideLayoutFit(image, target, plan.files);
    // The directory is read from disk 0: when no layout yields files, a Disk A elsewhere is
    // the likely reason.
    if (plan.enoughDisks && plan.fit == LayoutFit::Neither && plan.disks[0].setId != 1) {
        for (const DiskFacts& disk : plan.disks) {
            if (disk.index > 0 && disk.setId == 1) {
                plan.diskAElsewhere = disk.index;
                break;
            }
        }
    }
    return plan;
}

LayoutFit decideLayoutFit(d88::D88Image& image, NameTarget target, int files[2],
                          const HostFolder& folder, bool exactCounts) {
    files[0] = files[1] = 0;
    if (image.diskCount() < MIN_SET_DISKS) {
        return LayoutFit::Neither;
    }
    // Whether an entry is written at all needs only its first sector: the rest of a file
    // decides whether it is whole, which does not change the count.
    const auto count = [&](bool stopAtFirst) {
        for (int i = 0; i < 2; ++i) {
            FileCount counted{0, stopAtFirst};
            readDirectory(image);
            planEntries(image, *SET_LAYOUTS[i], target, countWritten, &counted, folder, true);
            files[i] = counted.files;
        }
    };
    count(!exactCounts);
    if (!exactCounts && files[0] > 0 && files[1] > 0) {
        count(false); // both fit: their counts are shown
    }
    const bool a = files[0] > 0;
    const bool b = files[1] > 0;
    return a && b ? LayoutFit::Both : a ? LayoutFit::A : b ? LayoutFit::B : LayoutFit::Neither;
}

SetPlan planSet(d88::D88Image& image, const DirectoryLayout& layout, NameTarget target,
                PlannedFileVisitor visit, void* context, const HostFolder& folder) {
    SetPlan plan{};
    plan.layout = &layout;
    plan.target = target;
    plan.enoughDisks = image.diskCount() >= MIN_SET_DISKS;
    if (!plan.enoughDisks) {
        return plan;
    }
    plan.entries.reserve(static_cast<size_t>(layout.entryCount));
    SetPlanning planning{&plan, visit, context, {}};
    plan.directoryErrors = readDirectory(image);
    planEntries(image, layout, target, decideEntry, &planning, folder);
    return plan;
}
