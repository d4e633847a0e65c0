#include "ListText.h"

#include "Host.h"
#include "Outcomes.h"
#include "RunText.h"
#include "SetCounts.h"
#include "ShownName.h"

#include <string>
#include <vector>

namespace {

// A column before the name: its heading, how a file's cell reads, and whether it is aligned
// to the right (numbers) or the left. A column that --list -v adds is one more row here.
struct ListColumn {
    const char* heading;
    bool right;
    std::string (*cell)(const PlannedEntry& entry, const std::string& crc);
};

std::string sizeCell(const PlannedEntry& entry, const std::string&) {
    return std::to_string(entry.entry.size);
}

std::string crcCell(const PlannedEntry&, const std::string& crc) {
    return crc.empty() ? "-" : crc;
}

// The disk as the set names it: A to Z, or its number beyond.
std::string diskCell(const PlannedEntry& entry, const std::string&) {
    return diskLetter(entrySetNumber(entry.entry));
}

// The file's sectors, counted from 0, stored with a read-error status: "1,3", or "-".
std::string errorSectorsCell(const PlannedEntry& entry, const std::string&) {
    const std::string sectors = sectorRuns(entry.errorSectors);
    return sectors.empty() ? "-" : sectors;
}

const ListColumn SIZE_COLUMN = {"Size", true, sizeCell};
const ListColumn DISK_COLUMN = {"Disk", false, diskCell};
const ListColumn CRC_COLUMN = {"CRC-32", false, crcCell};
const ListColumn ERRORS_COLUMN = {"Error sectors", false, errorSectorsCell};

std::string padded(const std::string& text, size_t width, bool right) {
    const std::string fill(text.size() < width ? width - text.size() : 0, ' ');
    return right ? fill + text : text + fill;
}

// One row: the cells in their columns, two spaces apart, and the name after them.
void printRow(const std::vector<ListColumn>& columns, const std::vector<size_t>& widths,
              const std::vector<std::string>& cells, const char* name, FILE* out) {
    std::string line;
    for (size_t i = 0; i < columns.size(); ++i) {
        line += padded(cells[i], widths[i], columns[i].right) + "  ";
    }
    hostPrintf(out, "%s%s\n", line.c_str(), name);
}

// "; 2 entries not written (1 no-disk, 1 missing); 5 entries passed over (4 not-chosen, 1
// empty)", the entries that are no file to write counted by their outcome words, and the
// entries that cannot be read.
std::string notFilesText(const SetPlan& plan, const SetCounts& counts) {
    std::string text;
    const struct {
        int count;
        const char* words;
        OutcomeKind first;
        OutcomeKind second;
    } groups[] = {
        {counts.notWritten, " not written", OutcomeKind::NotWritten, OutcomeKind::Refused},
        {counts.passedOver, " passed over", OutcomeKind::PassedOver, OutcomeKind::PassedOver}};
    for (const auto& group : groups) {
        if (group.count == 0) {
            continue;
        }
        std::string words;
        for (const OutcomeWording& wording : OUTCOME_WORDINGS) {
            int with = 0;
            for (const PlannedEntry& entry : plan.entries) {
                with += entry.outcome == wording.outcome ? 1 : 0;
            }
            if (with > 0 && (wording.kind == group.first || wording.kind == group.second)) {
                words += (words.empty() ? "" : ", ") + std::to_string(with) + " " + wording.word;
            }
        }
        text += "; " + std::to_string(group.count) + (group.count == 1 ? " entry" : " entries") +
                group.words + " (" + words + ")";
    }
    if (counts.unreadable > 0) {
        text += "; " + std::to_string(counts.unreadable) +
                (counts.unreadable == 1 ? " entry" : " entries") + " cannot be read";
    }
    return text;
}

// " (1 incomplete, 2 with read errors, 1 contested)": what is wrong with the files to write,
// or nothing.
std::string doubtText(const SetCounts& counts) {
    std::string text;
    const struct {
        int count;
        const char* words;
    } parts[] = {{counts.incomplete, "incomplete"},
                 {counts.withReadErrors, "with read errors"},
                 {counts.contested, "contested"}};
    for (const auto& part : parts) {
        if (part.count > 0) {
            text += (text.empty() ? " (" : ", ") + std::to_string(part.count) + " " + part.words;
        }
    }
    return text.empty() ? text : text + ")";
}

} // namespace

void printFileList(const SetPlan& plan, const std::vector<std::string>* crcs, FILE* out) {
    std::vector<ListColumn> columns = {SIZE_COLUMN, DISK_COLUMN};
    if (crcs != nullptr) {
        columns.push_back(CRC_COLUMN);
        columns.push_back(ERRORS_COLUMN);
    }
    std::vector<std::vector<std::string>> rows;
    std::vector<const PlannedEntry*> files;
    const std::string none;
    for (size_t position = 0; position < plan.entries.size(); ++position) {
        const PlannedEntry& entry = plan.entries[position];
        if (!isWritten(entry.outcome)) {
            continue;
        }
        const std::string& crc =
            crcs != nullptr && position < crcs->size() ? (*crcs)[position] : none;
        std::vector<std::string> cells;
        for (const ListColumn& column : columns) {
            cells.push_back(column.cell(entry, crc));
        }
        rows.push_back(std::move(cells));
        files.push_back(&entry);
    }
    std::vector<std::string> headings;
    std::vector<std::string> rules;
    std::vector<std::string> totals(columns.size());
    const SetCounts counts = countSet(plan);
    totals[0] = std::to_string(counts.bytes);
    std::vector<size_t> widths;
    for (size_t i = 0; i < columns.size(); ++i) {
        size_t width = std::string(columns[i].heading).size();
        width = totals[i].size() > width ? totals[i].size() : width;
        for (const std::vector<std::string>& cells : rows) {
            width = cells[i].size() > width ? cells[i].size() : width;
        }
        widths.push_back(i == 0 && width < 9 ? 9 : width); // as wide as unzip's sizes
        headings.push_back(columns[i].heading);
        rules.push_back(std::string(widths[i], '-'));
    }
    printRow(columns, widths, headings, "Name", out);
    printRow(columns, widths, rules, "----", out);
    for (size_t f = 0; f < files.size(); ++f) {
        printRow(columns, widths, rows[f], shownName(files[f]->saved.name.c_str(), out).text(),
                 out);
    }
    std::vector<std::string> totalRule(columns.size());
    totalRule[0] = rules[0];
    printRow(columns, widths, totalRule, "----", out);
    const std::string total = std::to_string(counts.files) +
                              (counts.files == 1 ? " file" : " files") + doubtText(counts) +
                              notFilesText(plan, counts);
    printRow(columns, widths, totals, total.c_str(), out);
}
