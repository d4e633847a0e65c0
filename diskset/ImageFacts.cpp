#include "ImageFacts.h"

namespace {

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

DiskFacts describeDisk(d88::D88Image& image, int index, const IdRead& id, bool withTracks,
                       bool countReadErrors) {
    DiskFacts facts{};
    facts.index = index;
    facts.id = id;
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
        const d88::TrackWalk* walk = image.walkTrack(track);
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

int filesWritten(const SetPlan& plan) {
    int files = 0;
    for (const PlannedEntry& entry : plan.entries) {
        files += isWritten(entry.outcome) ? 1 : 0;
    }
    return files;
}

int layoutIndex(const DirectoryLayout& layout) {
    return &layout == SET_LAYOUTS[1] ? 1 : 0;
}

const DirectoryLayout& otherLayout(const DirectoryLayout& layout) {
    return *SET_LAYOUTS[1 - layoutIndex(layout)];
}

const SetPlan& layoutPlan(const PlanSource& source, const DirectoryLayout& layout,
                          LayoutPlans& plans) {
    const int i = layoutIndex(layout);
    if (!plans.planned[i]) {
        plans.plans[i] = planSet(source.image, source.disks, source.directory, layout,
                                 source.target, source.buffers);
        plans.planned[i] = true;
    }
    return plans.plans[i];
}

LayoutFit decideLayoutFit(const PlanSource& source, LayoutPlans& plans, int files[2]) {
    files[0] = files[1] = 0;
    if (!source.disks.enoughDisks) {
        return LayoutFit::Neither;
    }
    for (int i = 0; i < 2; ++i) {
        files[i] = filesWritten(layoutPlan(source, *SET_LAYOUTS[i], plans));
    }
    const bool a = files[0] > 0;
    const bool b = files[1] > 0;
    return a && b ? LayoutFit::Both : a ? LayoutFit::A : b ? LayoutFit::B : LayoutFit::Neither;
}

ImagePlan planImage(const PlanSource& source, const std::vector<IdRead>& ids, LayoutPlans& plans,
                    bool countReadErrors) {
    d88::D88Image& image = source.image;
    ImagePlan plan{};
    plan.fileSize = image.fileSize();
    plan.diskCount = image.diskCount();
    plan.diskAElsewhere = -1;
    for (int index = 0; index < plan.diskCount; ++index) {
        const IdRead id = static_cast<size_t>(index) < ids.size()
                              ? ids[static_cast<size_t>(index)]
                              : IdRead{-1, IdSector::Missing, 0};
        plan.disks.push_back(describeDisk(image, index, id, false, countReadErrors));
    }
    plan.enoughDisks = source.disks.enoughDisks;
    plan.fit = decideLayoutFit(source, plans, plan.files);
    // When no layout yields files, a Disk A elsewhere than where the directory was read is the
    // likely reason.
    const int directory = source.directory.disk;
    if (source.disks.enoughDisks && plan.fit == LayoutFit::Neither && directory >= 0 &&
        directory < plan.diskCount &&
        plan.disks[static_cast<size_t>(directory)].id.byte != DISK_A_ID) {
        for (const DiskFacts& disk : plan.disks) {
            if (disk.index > directory && disk.id.byte == DISK_A_ID) {
                plan.diskAElsewhere = disk.index;
                break;
            }
        }
    }
    return plan;
}

LayoutDecision decideLayout(const PlanSource& source, const DirectoryLayout* given,
                            LayoutPlans& plans) {
    LayoutDecision decision{nullptr, LayoutProblem::None, given, {0, 0}};
    if (given != nullptr) {
        const int mine = layoutIndex(*given);
        decision.files[mine] = filesWritten(layoutPlan(source, *given, plans));
        if (decision.files[mine] > 0) {
            decision.layout = given;
            return decision;
        }
        decision.files[1 - mine] = filesWritten(layoutPlan(source, otherLayout(*given), plans));
        decision.problem = decision.files[1 - mine] > 0 ? LayoutProblem::GivenYieldsNothing
                                                        : LayoutProblem::Neither;
        return decision;
    }
    switch (decideLayoutFit(source, plans, decision.files)) {
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
