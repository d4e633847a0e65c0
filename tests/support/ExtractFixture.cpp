#include "ExtractFixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <sys/stat.h>

std::string extractProgram(const DirectoryLayout& layout) {
    const bool b = layout.firstEntryOffset == LAYOUT_B.firstEntryOffset;
    const char* override = getenv(b ? "D88_EXTRACT_B" : "D88_EXTRACT_A");
    if (override != nullptr && *override != '\0') {
        return override;
    }
    return b ? D88EXTRACT_B_PATH : D88EXTRACT_A_PATH;
}

std::string systemMessage(int error) {
    if (usesLauncher()) {
        // The Windows C library opens a folder with EACCES; under wine it reports a file size
        // limit and a full disk as EINVAL.
        if (error == EISDIR) {
            return "Permission denied";
        }
        if (error == EFBIG || error == ENOSPC) {
            return "Invalid argument";
        }
    }
    return strerror(error);
}

void expectWithin80Columns(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const size_t length = end - start - (end > start && text[end - 1] == '\r' ? 1 : 0);
        EXPECT_LE(length, 80u) << text.substr(start, length);
        start = end + 1;
    }
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

std::string hostFileName(const std::string& name) {
    if (!usesLauncher()) {
        return name;
    }
    // Wine keeps file names in UTF-8 on the host; the program gives them in code page 932.
    iconv_t convert = iconv_open("UTF-8", "CP932");
    if (convert == reinterpret_cast<iconv_t>(-1)) {
        return name;
    }
    std::string in = name;
    std::string out(name.size() * 3 + 1, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    size_t inLeft = in.size();
    size_t outLeft = out.size();
    const size_t converted = iconv(convert, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(convert);
    if (converted == static_cast<size_t>(-1)) {
        return name;
    }
    out.resize(out.size() - outLeft);
    return out;
}

void ExtractFixture::expectFiles(const std::map<std::string, std::vector<uint8_t>>& files) const {
    std::vector<std::string> names;
    for (const auto& entry : files) {
        names.push_back(hostFileName(entry.first));
    }
    std::sort(names.begin(), names.end());
    ASSERT_EQ(listDirectory(work), names);
    for (const auto& [name, bytes] : files) {
        EXPECT_TRUE(readFileBytes(work + "/" + hostFileName(name)) == bytes)
            << "contents of " << name;
    }
    std::vector<std::string> beside = listDirectory(root.path());
    beside.erase(std::remove(beside.begin(), beside.end(), "image.d88"), beside.end());
    EXPECT_EQ(beside, std::vector<std::string>{"work"})
        << "nothing is written beside the working directory";
}
