#include "TempDir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    chmod(path, 0700); // a test may have made a folder read-only
    return remove(path);
}

} // namespace

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/d88test.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        abort();
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    chmod(path_.c_str(), 0700);
    nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string full = file(name);
    FILE* out = fopen(full.c_str(), "wb");
    if (out == nullptr) {
        abort();
    }
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);
    return full;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* in = fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return bytes;
    }
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    fclose(in);
    return bytes;
}

bool fileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
