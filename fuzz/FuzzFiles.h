// A private temporary folder for a fuzz target and the image file it rewrites per input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

inline std::string makePrivateFolder() {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/d88fuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        abort();
    }
    return pattern;
}

inline void writeWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
        abort();
    }
}

inline int mkdirFolder(const std::string& path) {
    return mkdir(path.c_str(), 0700);
}
