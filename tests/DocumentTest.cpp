// The whole JSON documents of d88info and d88extract on every damaged image of both layouts and
// on the sample sets, with their exit statuses, against the data files of tests/data/damaged/.
// tests/make-expected-documents.sh writes those files anew (this test with
// D88_WRITE_EXPECTED_DOCUMENTS=1), for review in the diff.
#include "support/DamagedImages.h"
#include "support/ExtractFixture.h"

#include "ImageBuilder.h"
#include "SampleDiskSet.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <sys/stat.h>

using ordered_json = nlohmann::ordered_json;

namespace {

// A case's name as part of a file name: its letters and digits in lower case, every run of
// anything else as one '-'.
std::string slug(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (isalnum(static_cast<unsigned char>(c))) {
            out += static_cast<char>(tolower(static_cast<unsigned char>(c)));
        } else if (!out.empty() && out.back() != '-') {
            out += '-';
        }
    }
    return !out.empty() && out.back() == '-' ? out.substr(0, out.size() - 1) : out;
}

// Every string of `value` with `from` replaced by `to`.
void replaceEverywhere(ordered_json& value, const std::string& from, const std::string& to) {
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
            text.replace(at, from.size(), to);
            at += to.size();
        }
        value = text;
    } else if (value.is_structured()) {
        for (ordered_json& item : value) {
            replaceEverywhere(item, from, to);
        }
    }
}

std::string programPath(const char* variable, const char* built) {
    const char* override = getenv(variable);
    return override != nullptr && *override != '\0' ? override : built;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return in ? text.str() : "";
}

struct Command {
    std::string name;
    bool extract; // d88extract, else d88info
    // SET stands for the row's layout, DISK for its disk, IMAGE for the image and OUT for a
    // folder to write into.
    std::vector<std::string> words;
};

const Command COMMANDS[] = {
    {"info", false, {"d88info", "--json", "IMAGE"}},
    {"info-disk", false, {"d88info", "--json", "--disk", "DISK", "IMAGE"}},
    {"info-set", false, {"d88info", "--json", "--set", "SET", "--names", "utf-8", "IMAGE"}},
    {"extract", true, {"d88extract", "--json", "--names", "utf-8", "-d", "OUT", "IMAGE"}},
    {"dry-run", true, {"d88extract", "-n", "--json", "--names", "utf-8", "IMAGE"}},
};

// Every damaged case keeps the documents of d88info, d88info --set and d88extract. That of
// d88info --disk N is always the plain one cut to disk N, and that of d88extract -n is always
// the run's without what writing did, so they are kept only where they say something of their
// own: --disk for the disk that the damage leaves unusual, the dry run where its exit status
// is not the run's (read errors and refused names are said only when a file is written) and
// where d88extract plans what the two programs refuse.
const std::map<std::string, std::pair<std::string, bool>> MORE = {
    // --disk N, dry run
    {"healthy", {"0", true}},
    {"cut in the third disk's track table", {"", true}},
    {"cut in sector data", {"3", false}},
    {"a sector read with a CRC error, one with deleted data", {"", true}},
    {"disk size past the end of the file", {"1", false}},
    {"disk size past 2^31 - 1", {"1", false}},
    {"track offset past the disk", {"1", false}},
    {"sectors-in-track too large", {"0", false}},
    {"duplicate sector IDs: the first wins", {"0", false}},
    {"seventy disks: only sixty-four are searched", {"63", false}},
    {"names with '/', a NUL, spaces only", {"", true}},
    {"two disks and garbage", {"2", false}},
};

struct Row {
    std::string file; // the data file's name without the command and ".json"
    std::string set;
    std::vector<uint8_t> image;
    std::vector<std::string> commands;
    std::string disk;
};

// The damaged cases of both layouts, and the sample sets: layout a's with its plain document
// only (its others are those of HashDocuments), layout b's with every document but --disk.
std::vector<Row> rows() {
    std::vector<Row> out;
    for (const DirectoryLayout* layout : {&LAYOUT_A, &LAYOUT_B}) {
        const std::string set = layout->firstEntryOffset == LAYOUT_A.firstEntryOffset ? "a" : "b";
        std::vector<d88::DiskPlan> disks;
        EXPECT_TRUE(d88::buildSampleDisks(d88::smallSampleSet(*layout), disks));
        out.push_back({set + "-sample-set", set, d88::buildImage(disks), {"info"}, ""});
        if (set == "b") {
            out.back().commands = {"info", "info-set", "extract", "dry-run"};
        }
        size_t found = 0;
        for (DamagedCase& c : damagedCases(*layout)) {
            out.push_back({set + "-" + slug(c.name),
                           set,
                           std::move(c.image),
                           {"info", "info-set", "extract"},
                           ""});
            const auto more = MORE.find(c.name);
            if (more != MORE.end()) {
                ++found;
                out.back().disk = more->second.first;
                if (!out.back().disk.empty()) {
                    out.back().commands.push_back("info-disk");
                }
                if (more->second.second) {
                    out.back().commands.push_back("dry-run");
                }
            }
        }
        EXPECT_EQ(found, MORE.size()) << "a case named in MORE is no damaged case";
    }
    return out;
}

} // namespace

// Each command's exit status and document (null when standard output is empty, the text when
// it is no JSON), with the temporary folder as TMP, are the data file's. A missing data file
// fails, and so does one that no row reads.
TEST(Documents, DamagedImagesAndSampleSetsAsExpected) {
    if (usesLauncher()) {
        GTEST_SKIP() << "the data files hold the Linux programs' documents";
    }
    const char* variable = getenv("D88_WRITE_EXPECTED_DOCUMENTS");
    const bool write = variable != nullptr && std::string(variable) == "1";
    const std::string folder = std::string(D88_TEST_DATA) + "/damaged/";
    if (write) {
        mkdir(folder.c_str(), 0777);
    }
    std::set<std::string> used;
    for (const Row& row : rows()) {
        TempDir dir;
        const std::string image = dir.write("image.d88", row.image);
        for (const Command& command : COMMANDS) {
            if (std::find(row.commands.begin(), row.commands.end(), command.name) ==
                row.commands.end()) {
                continue;
            }
            const std::string file = row.file + "-" + command.name +
                                     (command.name == "info-disk" ? "-" + row.disk : "") + ".json";
            SCOPED_TRACE(file);
            used.insert(file);
            std::vector<std::string> words = command.words;
            for (std::string& word : words) {
                word = word == "SET"     ? row.set
                       : word == "DISK"  ? row.disk
                       : word == "IMAGE" ? image
                       : word == "OUT"   ? dir.file("out")
                                         : word;
            }
            RunOptions options;
            options.cwd = dir.path();
            const RunResult run =
                runProgram(command.extract ? programPath("D88_EXTRACT", D88EXTRACT_PATH)
                                           : programPath("D88_INFO", D88INFO_PATH),
                           words, options);
            ordered_json document = ordered_json::parse(run.out, nullptr, false);
            if (document.is_discarded()) {
                document = run.out.empty() ? ordered_json() : ordered_json(run.out);
            }
            replaceEverywhere(document, dir.path(), "TMP");
            const ordered_json got = {{"status", run.status}, {"document", document}};
            if (write) {
                std::ofstream out(folder + file, std::ios::binary);
                out << got.dump(1) << "\n";
                EXPECT_TRUE(out.good()) << "cannot write " << folder << file;
                continue;
            }
            const std::string expected = readText(folder + file);
            if (expected.empty()) {
                ADD_FAILURE() << "no " << folder << file
                              << ": write it with tests/make-expected-documents.sh";
                continue;
            }
            const ordered_json want = ordered_json::parse(expected, nullptr, false);
            // In the programs' order of keys, which the comparison checks too.
            const ordered_json changes = ordered_json::diff(want, got);
            EXPECT_TRUE(got == want)
                << "changes from the data file: "
                << (changes.empty() ? "keys in another order" : changes.dump());
        }
    }
    for (const std::string& name : listDirectory(folder)) {
        EXPECT_TRUE(used.count(name) == 1) << folder << name << " belongs to no case";
    }
}
