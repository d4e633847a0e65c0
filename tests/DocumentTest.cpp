// The whole JSON documents of d88info and d88extract on every damaged image and on the sample
// set, each made in both layouts, with their exit statuses, against the data files of
// tests/data/damaged/: one file per image and command, which holds what the two layouts give
// alike once and, under "per_layout", the values they do not share (the hashes of Disk A, whose
// directory differs, the layout that fits, the entries of a directory sector).
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
    std::string file;               // the data file's name without the command and ".json"
    std::vector<uint8_t> images[2]; // of layout a and layout b
    std::vector<std::string> commands;
    std::string disk;
};

// The damaged cases and the sample set, each made in both layouts.
std::vector<Row> rows() {
    std::vector<Row> out;
    std::vector<DamagedCase> cases[2];
    for (int i = 0; i < 2; ++i) {
        cases[i] = damagedCases(*SET_LAYOUTS[i]);
        std::vector<d88::DiskPlan> disks;
        EXPECT_TRUE(d88::buildSampleDisks(d88::smallSampleSet(*SET_LAYOUTS[i]), disks));
        cases[i].push_back(DamagedCase{"sample set", d88::buildImage(disks), 0, "", "", {}});
    }
    EXPECT_EQ(cases[0].size(), cases[1].size());
    size_t found = 0;
    for (size_t c = 0; c < cases[0].size() && c < cases[1].size(); ++c) {
        EXPECT_EQ(cases[0][c].name, cases[1][c].name) << "the layouts' cases in one order";
        Row row{slug(cases[0][c].name),
                {std::move(cases[0][c].image), std::move(cases[1][c].image)},
                {"info", "info-set", "extract"},
                ""};
        if (cases[0][c].name == "sample set") {
            row.commands.push_back("dry-run");
        }
        const auto more = MORE.find(cases[0][c].name);
        if (more != MORE.end()) {
            ++found;
            row.disk = more->second.first;
            if (!row.disk.empty()) {
                row.commands.push_back("info-disk");
            }
            if (more->second.second) {
                row.commands.push_back("dry-run");
            }
        }
        out.push_back(std::move(row));
    }
    EXPECT_EQ(found, MORE.size()) << "a case named in MORE is no damaged case";
    return out;
}

// Stands, in what both layouts give, for a value that they do not share.
const char* const PER_LAYOUT = "(per layout)";

// The JSON pointers (as text) of the places where `a` and `b` differ, each as high up as the
// two still have the same shape: objects with the same keys in the same order, arrays of the
// same length.
void differences(const ordered_json& a, const ordered_json& b, const ordered_json::json_pointer& at,
                 std::vector<std::string>& out) {
    if (a == b) {
        return;
    }
    bool sameShape = a.type() == b.type() && a.is_structured() && a.size() == b.size();
    if (sameShape && a.is_object()) {
        for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
            sameShape = sameShape && x.key() == y.key();
        }
    }
    if (!sameShape) {
        out.push_back(at.to_string());
        return;
    }
    if (a.is_object()) {
        for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
            differences(x.value(), y.value(), at / x.key(), out);
        }
    } else {
        for (size_t i = 0; i < a.size(); ++i) {
            differences(a[i], b[i], at / i, out);
        }
    }
}

// One data file for both layouts: what both give, PER_LAYOUT where they differ, and the values
// of each there ("per_layout": pointer -> {"a": value, "b": value}).
ordered_json merged(const ordered_json got[2]) {
    std::vector<std::string> pointers;
    differences(got[0], got[1], ordered_json::json_pointer(), pointers);
    ordered_json file = got[0];
    if (pointers.empty()) {
        return file;
    }
    ordered_json perLayout = ordered_json::object();
    for (const std::string& pointer : pointers) {
        const ordered_json::json_pointer at(pointer);
        perLayout[pointer] = {{"a", got[0][at]}, {"b", got[1][at]}};
        file[at] = PER_LAYOUT;
    }
    file["per_layout"] = perLayout;
    return file;
}

// What a data file says that the layout `letter` gives.
ordered_json layoutOf(ordered_json file, const std::string& letter) {
    if (file.contains("per_layout")) {
        for (const auto& [pointer, values] : file["per_layout"].items()) {
            file[ordered_json::json_pointer(pointer)] = values.at(letter);
        }
        file.erase("per_layout");
    }
    return file;
}

} // namespace

// Each command's exit status and document (null when standard output is empty, the text when
// it is no JSON), with the temporary folder as TMP, in both layouts, are the data file's: one
// file per case and command, whose values the layouts do not share are given for each. A
// missing data file fails, and so does one that no row reads.
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
        for (const Command& command : COMMANDS) {
            if (std::find(row.commands.begin(), row.commands.end(), command.name) ==
                row.commands.end()) {
                continue;
            }
            const std::string file = row.file + "-" + command.name +
                                     (command.name == "info-disk" ? "-" + row.disk : "") + ".json";
            SCOPED_TRACE(file);
            used.insert(file);
            ordered_json got[2];
            for (int layout = 0; layout < 2; ++layout) {
                TempDir dir;
                const std::string image = dir.write("image.d88", row.images[layout]);
                std::vector<std::string> words = command.words;
                for (std::string& word : words) {
                    word = word == "SET"     ? SET_LAYOUTS[layout]->letter
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
                got[layout] = {{"status", run.status}, {"document", document}};
            }
            if (write) {
                std::ofstream out(folder + file, std::ios::binary);
                out << merged(got).dump(1) << "\n";
                EXPECT_TRUE(out.good()) << "cannot write " << folder << file;
                continue;
            }
            const std::string expected = readText(folder + file);
            if (expected.empty()) {
                ADD_FAILURE() << "no " << folder << file
                              << ": write it with tests/make-expected-documents.sh";
                continue;
            }
            const ordered_json data = ordered_json::parse(expected, nullptr, false);
            for (int layout = 0; layout < 2; ++layout) {
                SCOPED_TRACE(std::string("layout ") + SET_LAYOUTS[layout]->letter);
                const ordered_json want = layoutOf(data, SET_LAYOUTS[layout]->letter);
                // In the programs' order of keys, which the comparison checks too.
                const ordered_json changes = ordered_json::diff(want, got[layout]);
                EXPECT_TRUE(got[layout] == want)
                    << "changes from the data file: "
                    << (changes.empty() ? "keys in another order" : changes.dump());
            }
        }
    }
    for (const std::string& name : listDirectory(folder)) {
        EXPECT_TRUE(used.count(name) == 1) << folder << name << " belongs to no case";
    }
}

// A data file keeps what the layouts share once: the places where they differ are given for
// each, as high up as their documents still have the same shape, and nothing else.
TEST(Documents, OneDataFileHoldsBothLayouts) {
    const ordered_json a = ordered_json::parse(R"json({"status": 0, "document": {"fits": "a",
        "disks": [{"n": 1, "h": "x"}, {"n": 2}], "list": [1, 2], "same": {"k": [true]}}})json");
    const ordered_json b = ordered_json::parse(R"json({"status": 1, "document": {"fits": "b",
        "disks": [{"n": 1, "h": "y"}, {"n": 2}], "list": [1, 2, 3], "same": {"k": [true]}}})json");
    const ordered_json got[2] = {a, b};
    const ordered_json file = merged(got);
    const ordered_json expected = ordered_json::parse(R"json({"status": "(per layout)",
        "document": {"fits": "(per layout)", "disks": [{"n": 1, "h": "(per layout)"}, {"n": 2}],
        "list": "(per layout)", "same": {"k": [true]}}, "per_layout": {
        "/status": {"a": 0, "b": 1}, "/document/fits": {"a": "a", "b": "b"},
        "/document/disks/0/h": {"a": "x", "b": "y"},
        "/document/list": {"a": [1, 2], "b": [1, 2, 3]}}})json");
    EXPECT_EQ(file, expected);
    EXPECT_EQ(layoutOf(file, "a"), a);
    EXPECT_EQ(layoutOf(file, "b"), b);
    const ordered_json alike[2] = {a, a};
    EXPECT_EQ(merged(alike), a);
}
