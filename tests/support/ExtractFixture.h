// Runs d88extract-a or d88extract-b on an image in a fresh working directory.
#pragma once

#include "DirectoryLayout.h"
#include "RunProgram.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// The built program for a layout; D88_EXTRACT_A / D88_EXTRACT_B in the environment override it.
std::string extractProgram(const DirectoryLayout& layout);
// The name under which a file named `name` by the program appears on this host.
std::string hostFileName(const std::string& name);
// The text that the programs print for the system error `error` (an errno value of this
// host), as the C library of the platform that they run on words it.
std::string systemMessage(int error);
// Names the instances of a test over both layouts "A" and "B", by the layout's value: each
// translation unit may see its own copy of a layout.
struct LayoutName {
    template <typename Info> std::string operator()(const Info& info) const {
        return info.param->firstEntryOffset == LAYOUT_A.firstEntryOffset ? "A" : "B";
    }
};
// Shows a layout parameter by its program's name, not by its address.
inline void PrintTo(const DirectoryLayout* layout, std::ostream* out) {
    *out << layout->programName;
}
// Expected console text: line feeds become CR LF where the programs run on Windows.
std::string consoleText(const std::string& text);
// Every line of `text` (a --help text) fits in 80 columns.
void expectWithin80Columns(const std::string& text);

class ExtractFixture : public ::testing::Test {
  public:
    ExtractFixture();

    // Writes `image` outside the working directory and runs the program on it.
    RunResult extract(const DirectoryLayout& layout, const std::vector<uint8_t>& image,
                      RunOptions options = {});
    RunResult runWords(const DirectoryLayout& layout, const std::vector<std::string>& words,
                       RunOptions options = {});
    // The working directory holds exactly these files with these bytes.
    void expectFiles(const std::map<std::string, std::vector<uint8_t>>& files) const;

    TempDir root; // holds the image and the working directory, nothing else
    std::string work;
    std::string imagePath;
};

// An extraction test run once for each layout.
class LayoutTest : public ExtractFixture,
                   public ::testing::WithParamInterface<const DirectoryLayout*> {
  public:
    const DirectoryLayout& layout() const { return *GetParam(); }
    // Offset of directory entry `index` in the 3072 directory bytes.
    int entryOffset(int index) const { return layout().firstEntryOffset + 16 * index; }
};
