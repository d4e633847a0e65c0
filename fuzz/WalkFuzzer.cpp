// Fuzzes the directory walk of both programs: the input is an image file. The walk writes into
// a private folder; after each input nothing may exist beside that folder, and every file in it
// must have the size of a directory entry of its name. d88info's plan of the same walk must
// promise exactly as many files as the extraction reports.
#include "FuzzFiles.h"

#include "DirectoryWalk.h"
#include "Plan.h"

#include <dirent.h>
#include <string>
#include <vector>

namespace {

std::string rootPath;
std::string imagePath;
FILE* devNull = nullptr;

std::vector<std::string> entriesOf(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        abort();
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    return names;
}

long fileSize(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        abort();
    }
    fseek(file, 0, SEEK_END);
    const long size = ftell(file);
    fclose(file);
    return size;
}

void checkOutputAndClean(const DirectoryLayout& layout) {
    const std::vector<std::string> beside = entriesOf(rootPath);
    for (const std::string& name : beside) {
        if (name != "image.d88" && name != "out") {
            abort(); // written outside the extraction folder
        }
    }
    for (const std::string& name : entriesOf(".")) {
        bool sizeMatches = false;
        for (int i = 0; i < layout.entryCount; ++i) {
            const DirEntry entry =
                parseDirEntry(directoryBuffer + layout.firstEntryOffset + i * DIR_ENTRY_SIZE);
            sizeMatches = sizeMatches || (name == entry.name && fileSize(name) == entry.size);
        }
        if (!sizeMatches || remove(name.c_str()) != 0) {
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rootPath = makePrivateFolder();
    imagePath = rootPath + "/image.d88";
    const std::string out = rootPath + "/out";
    devNull = fopen("/dev/null", "w");
    if (devNull == nullptr || mkdirFolder(out) != 0 || chdir(out.c_str()) != 0) {
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeWholeFile(imagePath, data, size);
    for (const DirectoryLayout* layout : {&LAYOUT_A, &LAYOUT_B}) {
        d88::D88Image image;
        if (!image.open(imagePath.c_str())) {
            abort();
        }
        if (image.diskCount() >= 4) {
            const int planned =
                planSet(image, *layout, NameTarget::Host, nullptr, nullptr).summary.files;
            char* report = nullptr;
            size_t reportSize = 0;
            FILE* reportStream = open_memstream(&report, &reportSize);
            if (reportStream == nullptr) {
                abort();
            }
            walkDirectory(image, *layout, NameTarget::Host, reportStream, devNull);
            fclose(reportStream);
            int lines = 0;
            for (size_t i = 0; i < reportSize; ++i) {
                lines += report[i] == '\n' ? 1 : 0;
            }
            free(report);
            if (lines != planned) {
                abort(); // the plan and the extraction have drifted apart
            }
        }
        checkOutputAndClean(*layout);
    }
    return 0;
}
