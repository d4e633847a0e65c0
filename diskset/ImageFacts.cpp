#include "ImageFacts.h"

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

} // namespace

const char* mediaName(int media) {
    switch (media) {
    case d88::MEDIA_2D:
        return "2D";
    case d88::MEDIA_2DD:
        return "2DD";
    case d88::MEDIA_2HD:
        return "2HD";
    case d88::MEDIA_1D:
        return "1D";
    case d88::MEDIA_1DD:
        return "1DD";
    default:
        return nullptr;
    }
}

DiskFacts describeDisk(d88::D88Image& image, int index, bool withTracks, bool countReadErrors) {
    DiskFacts facts{};
    facts.index = index;
    facts.setId = -1;
    d88::DiskHeader header;
    facts.headerRead = image.diskHeader(index, header) && image.selectDisk(index);
    if (!facts.headerRead) {
        return facts;
    }
    facts.offset = image.diskOffset();
    facts.size = image.diskSize();
    facts.media = image.mediaType();
    facts.writeProtect = header.writeProtect == d88::WRITE_PROTECTED;
    facts.isDisk = image.looksLikeDiskAt(facts.offset);
    facts.name = image.diskName();
    facts.setId = readSetId(image, index);
    facts.part = image.partAt(facts.offset);
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

LayoutFit decideLayoutFit(d88::D88Image& image, const DiskChoice& disks, const SaveTarget& target,
                          WalkBuffers& buffers, int files[2], bool exactCounts) {
    files[0] = files[1] = 0;
    if (!disks.enoughDisks) {
        return LayoutFit::Neither;
    }
    const auto count = [&](int stopAt) {
        for (int i = 0; i < 2; ++i) {
            files[i] = countFiles(image, disks, *SET_LAYOUTS[i], target, buffers, stopAt);
        }
    };
    count(exactCounts ? 0 : 1);
    if (!exactCounts && files[0] > 0 && files[1] > 0) {
        count(0); // both fit: their counts are shown
    }
    const bool a = files[0] > 0;
    const bool b = files[1] > 0;
    return a && b ? LayoutFit::Both : a ? LayoutFit::A : b ? LayoutFit::B : LayoutFit::Neither;
}

ImagePlan planImage(d88::D88Image& image, const DiskChoice& disks, const SaveTarget& target,
                    WalkBuffers& buffers, bool countReadErrors) {
    ImagePlan plan{};
    plan.fileSize = image.fileSize();
    plan.diskCount = image.diskCount();
    plan.diskAElsewhere = -1;
    for (int index = 0; index < plan.diskCount; ++index) {
        plan.disks.push_back(describeDisk(image, index, false, countReadErrors));
    }
    plan.enoughDisks = disks.enoughDisks;
    plan.fit = decideLayoutFit(image, disks, target, buffers, plan.files);
    // When no layout yields files, a Disk A elsewhere than where the directory was read is the
    // likely reason.
    const int directory = disks.directoryCopies.empty() ? -1 : disks.directoryCopies[0];
    if (disks.enoughDisks && plan.fit == LayoutFit::Neither && directory >= 0 &&
        directory < plan.diskCount && plan.disks[static_cast<size_t>(directory)].setId != 1) {
        for (const DiskFacts& disk : plan.disks) {
            if (disk.index > directory && disk.setId == DISK_A_ID) {
                plan.diskAElsewhere = disk.index;
                break;
            }
        }
    }
    return plan;
}

LayoutDecision decideLayout(d88::D88Image& image, const DiskChoice& disks, const SaveTarget& target,
                            WalkBuffers& buffers, const DirectoryLayout* given) {
    LayoutDecision decision{nullptr, LayoutProblem::None, given, {0, 0}};
    if (given != nullptr) {
        const int mine = given == &LAYOUT_B ? 1 : 0;
        decision.files[mine] = countFiles(image, disks, *given, target, buffers, 1);
        if (decision.files[mine] > 0) {
            decision.layout = given;
            return decision;
        }
        decision.files[1 - mine] =
            countFiles(image, disks, *SET_LAYOUTS[1 - mine], target, buffers);
        decision.problem = decision.files[1 - mine] > 0 ? LayoutProblem::GivenYieldsNothing
                                                        : LayoutProblem::Neither;
        return decision;
    }
    switch (decideLayoutFit(image, disks, target, buffers, decision.files, false)) {
    case LayoutFit::A:
        decision.layout = &LAYOUT_A;
        break;
    case LayoutFit::B:
        decision.layout = &LAYOUT_B;
        break;
    case LayoutFit::Both:
        decision.problem = LayoutProblem::Both;
        break;
    case LayoutFit::Neither:
        decision.problem = LayoutProblem::Neither;
        break;
    }
    return decision;
}
