#include "ExtractFixture.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

std::string extractProgram(const DirectoryLayout& layout) {
    const bool b = layout.firstEntryOffset == LAYOUT_B.firstEntryOffset;
    const char* override = getenv(b ? "D88_EXTRACT_B" : "D88_EXTRACT_A");
    if (override != nullptr && *override != '\0') {
        return override;
    }
    return b ? D88EXTRACT_B_PATH : D88EXTRACT_A_PATH;
}

std::string consoleText(const std::string& text) {
    if (!usesLauncher()) {
        return text;
    }
    std::string converted;
    for (char ch : text) {
        if (ch == '\n') {
            converted += '\r';
        }
        converted += ch;
    }
    return converted;
}

ExtractFixture::ExtractFixture() : work(root.file("work")), imagePath(root.file("image.d88")) {
    mkdir(work.c_str(), 0700);
}

RunResult ExtractFixture::extract(const DirectoryLayout& layout, const std::vector<uint8_t>& image,
                                  RunOptions options) {
    root.write("image.d88", image);
    return runWords(layout, {layout.programName, imagePath}, options);
}

RunResult ExtractFixture::runWords(const DirectoryLayout& layout,
                                   const std::vector<std::string>& words, RunOptions options) {
    options.cwd = work;
    return runProgram(extractProgram(layout), words, options);
}

void ExtractFixture::expectFiles(const std::map<std::string, std::vector<uint8_t>>& files) const {
    std::vector<std::string> names;
    for (const auto& entry : files) {
        names.push_back(entry.first);
    }
    ASSERT_EQ(listDirectory(work), names);
    for (const auto& [name, bytes] : files) {
        EXPECT_TRUE(readFileBytes(work + "/" + name) == bytes) << "contents of " << name;
    }
    std::vector<std::string> beside = listDirectory(root.path());
    beside.erase(std::remove(beside.begin(), beside.end(), "image.d88"), beside.end());
    EXPECT_EQ(beside, std::vector<std::string>{"work"})
        << "nothing is written beside the working directory";
}
