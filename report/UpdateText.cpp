#include "UpdateText.h"

#include "Host.h"
#include "Messages.h"
#include "ShownName.h"

#include <cstring>

namespace {

const UpdateEntry* entryAt(const UpdateSet& set, int index) {
    for (const UpdateEntry& entry : set.entries) {
        if (entry.index == index) {
            return &entry;
        }
    }
    return nullptr;
}

// "entry 7 'B.BIN'", its name as shown on `out`.
std::string entryText(const UpdateSet& set, const UpdatePlan& plan, int index, FILE* out) {
    const UpdateEntry* entry = entryAt(set, index);
    if (entry == nullptr) {
        return "entry " + std::to_string(index);
    }
    const FileUpdate& file = plan.files[static_cast<size_t>(entry - set.entries.data())];
    return "entry " + std::to_string(index) + " '" +
           shownName(updateFileName(*entry, file), out).text() + "'";
}

const char* plural(int count) {
    return count == 1 ? "" : "s";
}

} // namespace

const char* updateFileName(const UpdateEntry& entry, const FileUpdate& file) {
    const bool found = file.file.state != FolderFileState::None && file.file.name >= 0 &&
                       static_cast<size_t>(file.file.name) < entry.names.size() &&
                       !entry.names[static_cast<size_t>(file.file.name)].name.empty();
    const size_t name = found ? static_cast<size_t>(file.file.name) : 0;
    return !entry.names[name].name.empty() ? entry.names[name].name.c_str() : entry.entry.name;
}

void printUpdateLines(const UpdateSet& set, const UpdatePlan& plan, size_t position, FILE* out) {
    const UpdateEntry& entry = set.entries[position];
    const FileUpdate& file = plan.files[position];
    const ShownName shown = shownName(updateFileName(entry, file), out);
    const char* name = shown.text();
    if (file.outcome == UpdateOutcome::OtherEntrys) {
        hostPrintf(out, "entry %d '%s' left as it is: the file of that name is entry %d's\n",
                   entry.index, name, entry.owner);
        return;
    }
    if (file.outcome != UpdateOutcome::PutBack) {
        return;
    }
    const int written = static_cast<int>(entry.sectors.size());
    hostPrintf(out, MSG_REPORT_LINE_TEXT "  %d sector%s written, %d changed", name,
               entry.entry.diskNumber + 1, entry.entry.track, entry.entry.sector, entry.entry.size,
               written, plural(written), file.sectorsChanged);
    if (file.statusesCleared > 0) {
        hostPrintf(out, ", %d status%s cleared", file.statusesCleared,
                   file.statusesCleared == 1 ? "" : "es");
    }
    hostPrintf(out, "\n");
    if (file.file.length < entry.entry.size) {
        hostPrintf(out, "  shorter than its entry: %lld of %d bytes, zeros after\n",
                   static_cast<long long>(file.file.length), entry.entry.size);
    }
    for (int other : file.changesWith) {
        hostPrintf(out, "  %s shares its sectors and changes with it\n",
                   entryText(set, plan, other, out).c_str());
    }
}

bool printUpdateRefusal(const UpdateSet& set, const UpdatePlan& plan, size_t position,
                        const char* lead, const char* folder, FILE* out) {
    const UpdateEntry& entry = set.entries[position];
    const FileUpdate& file = plan.files[position];
    if (!isRefusal(file.outcome)) {
        return false;
    }
    const std::string name = shownName(updateFileName(entry, file), out).text();
    const int held = static_cast<int>(entry.sectors.size());
    const int size = entry.entry.size / SECTOR_BYTES;
    switch (file.outcome) {
    case UpdateOutcome::TooLong:
        hostPrintf(out, "%s'%s' needs %d sector%s; its entry holds %d\n", lead, name.c_str(),
                   file.sectorsNeeded, plural(file.sectorsNeeded), size);
        break;
    case UpdateOutcome::MissingSectors:
        hostPrintf(out,
                   "%s'%s' needs %d sector%s; the image holds %d of its entry's %d, and a "
                   "missing sector cannot be made\n",
                   lead, name.c_str(), file.sectorsNeeded, plural(file.sectorsNeeded), held, size);
        break;
    case UpdateOutcome::SharedSectors:
        if (file.sharedWith == SharedWith::Directory) {
            hostPrintf(out, "%s'%s' shares sectors with the set's directory\n", lead, name.c_str());
        } else if (file.sharedWith == SharedWith::IdSector) {
            hostPrintf(out, "%s'%s' shares sectors with the ID sector of disk %d\n", lead,
                       name.c_str(), file.sharedWithEntry);
        } else if (file.sharedWithEntry == entry.index) {
            hostPrintf(out, "%s'%s' has sectors that overlap one another in the image\n", lead,
                       name.c_str());
        } else {
            hostPrintf(out,
                       "%s'%s' shares sectors with %s, which is put back too: put back one of "
                       "them at a time\n",
                       lead, name.c_str(), entryText(set, plan, file.sharedWithEntry, out).c_str());
        }
        break;
    case UpdateOutcome::TwoFiles: {
        std::string names;
        for (const SavedName& saved : entry.names) {
            if (!saved.name.empty()) {
                names += std::string(names.empty() ? "'" : " and '") +
                         shownName(saved.name.c_str(), out).text() + "'";
            }
        }
        hostPrintfLocal(out, "%s%s in '%s' are both files of entry %d: keep one\n", lead,
                        names.c_str(), shownPath(folder, out).c_str(), entry.index);
        break;
    }
    case UpdateOutcome::Unreadable:
        hostPrintf(out, "%scannot read '%s'", lead, name.c_str());
        hostPrintfLocal(out, " in '%s': %s\n", shownPath(folder, out).c_str(),
                        strerror(file.file.error));
        break;
    default:
        break;
    }
    return true;
}

std::string givenTwiceText(const SetNumber& number) {
    return diskLabel(number.id) + " is given " + std::to_string(number.disks.size()) +
           " times: give one copy of each disk";
}

std::string sameLastNameText(const std::string& name, const std::string& output) {
    return "two files given are named '" + name + "', and '" + output +
           "' can hold only one of them";
}

std::string refusedFilesText(int refused) {
    return "nothing written: " + std::to_string(refused) + " file" + plural(refused) +
           " cannot be put back";
}

std::string givenFilesChangedText() {
    return "nothing written: the files given changed while they were read";
}

std::string cannotReadBackText() {
    return "nothing written: the new files cannot be read back";
}

std::string readBackText(ReadBackProblem problem, int index, const std::string& shownName) {
    if (problem == ReadBackProblem::OtherBytes) {
        return "nothing written: read back, entry " + std::to_string(index) + " '" + shownName +
               "' does not hold what was put there";
    }
    return "nothing written: read back, the set's directory or sectors are not where they were";
}

std::string filesOfNoEntryText(const char* folder, const std::vector<std::string>& shown) {
    std::string text = "left out of '" + std::string(folder) + "', as no entry is saved under ";
    text += shown.size() == 1 ? "its name: " : "their names: ";
    for (size_t i = 0; i < shown.size(); ++i) {
        text += (i == 0 ? "'" : ", '") + shown[i] + "'";
    }
    return text;
}

void printUpdateSummary(const char* program, const UpdateSummary& summary, const char* output,
                        bool dryRun, FILE* out) {
    const std::string where = shownPath(output, out);
    std::string counts = "; " + std::to_string(summary.unchanged) + " unchanged";
    if (summary.noFile > 0) {
        counts += ", " + std::to_string(summary.noFile) + " without a file in the folder";
    }
    if (summary.putBack == 0) {
        hostPrintfLocal(out, "%s: 0 files %s%s; '%s' %s the bytes given\n", program,
                        dryRun ? "would be put back" : "put back", counts.c_str(), where.c_str(),
                        dryRun ? "would hold" : "holds");
        return;
    }
    hostPrintfLocal(out, "%s: %d file%s %s into '%s'%s\n", program, summary.putBack,
                    plural(summary.putBack), dryRun ? "would be put back" : "put back",
                    where.c_str(), counts.c_str());
}
