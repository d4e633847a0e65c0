#include "PartOrder.h"

#include "Plan.h"

namespace {

constexpr int DISK_A = 1;

bool holdsDiskA(const PartContents& part) {
    for (int id : part.setIds) {
        if (id == DISK_A) {
            return true;
        }
    }
    return false;
}

PartOrder problem(PartOrder order, PartProblem what, int first, int second) {
    order.problem = what;
    order.problemParts[0] = first;
    order.problemParts[1] = second;
    return order;
}

} // namespace

PartOrder decidePartOrder(const std::vector<PartContents>& parts) {
    PartOrder result{{}, false, PartProblem::None, {-1, -1}, 0};
    const int count = static_cast<int>(parts.size());
    int firstId = NO_SET_ID;
    for (int i = 0; i < count; ++i) {
        result.order.push_back(i);
        if (result.diskCount == 0 && !parts[i].setIds.empty()) {
            firstId = parts[i].setIds[0];
        }
        result.diskCount += static_cast<int>(parts[i].setIds.size());
    }
    for (int i = 0; i < count; ++i) {
        // One file that holds too few disks may still be an image; of several, each must be one.
        if (!parts[i].holdsImageBytes && (count > 1 || result.diskCount < MIN_SET_DISKS)) {
            return problem(result, PartProblem::NotImage, i, -1);
        }
    }
    int diskA = -1;
    for (int i = 0; i < count; ++i) {
        if (holdsDiskA(parts[i])) {
            if (diskA >= 0) {
                return problem(result, PartProblem::TwoDiskA, diskA, i);
            }
            diskA = i;
        }
    }
    if (result.diskCount < MIN_SET_DISKS) {
        return problem(result, PartProblem::TooFewDisks, -1, -1);
    }
    if (firstId != DISK_A && diskA > 0) {
        result.order.erase(result.order.begin() + diskA);
        result.order.insert(result.order.begin(), diskA);
        result.changed = true;
    }
    return result;
}

std::vector<PartContents> readPartContents(d88::D88Image& image) {
    std::vector<PartContents> parts(static_cast<size_t>(image.partCount()),
                                    PartContents{{}, false});
    const int64_t imageEnd = image.fileSize();
    const auto partEnd = [&](int part) {
        return part + 1 < image.partCount() ? image.partStart(part + 1) : imageEnd;
    };
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        image.selectDisk(disk);
        const int64_t start = image.diskOffset();
        const int64_t end = start + image.diskSize();
        const int id = readSetId(image);
        const bool fits = image.diskSize() >= d88::DISK_HEADER_SIZE && end <= imageEnd;
        for (int part = 0; part < image.partCount(); ++part) {
            const int64_t partBegin = image.partStart(part);
            if (start >= partBegin && start < partEnd(part)) {
                parts[part].setIds.push_back(id);
            }
            if (fits && start < partEnd(part) && end > partBegin) {
                parts[part].holdsImageBytes = true;
            }
        }
    }
    return parts;
}
