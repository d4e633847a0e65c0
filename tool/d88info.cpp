// d88info: lists the disks of a D88 image, their headers and the sector IDs of every track.
#include "DiskInfo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

d88::D88Image image;

int usage() {
    fputs("usage: d88info [--disk N] IMAGE\n", stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    int only = -1;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--disk") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long value = strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || value < 0 || value >= d88::MAX_DISKS) {
                return usage();
            }
            only = static_cast<int>(value);
        } else if (path == nullptr && (argv[i][0] != '-' || argv[i][1] == '\0')) {
            path = argv[i];
        } else {
            return usage();
        }
    }
    if (path == nullptr) {
        return usage();
    }
    if (!image.open(path)) {
        fprintf(stderr, "d88info: cannot open %s\n", path);
        return 1;
    }
    if (only >= image.diskCount()) {
        fprintf(stderr, "d88info: no disk %d, the image holds %d\n", only, image.diskCount());
        return 1;
    }
    printf("%s: %d disk%s\n", path, image.diskCount(), image.diskCount() == 1 ? "" : "s");
    bool ok = true;
    for (int disk = 0; disk < image.diskCount(); ++disk) {
        if (only < 0 || disk == only) {
            ok = printDiskInfo(image, disk, stdout) && ok;
        }
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fputs("d88info: cannot write standard output\n", stderr);
        return 1;
    }
    return ok ? 0 : 1;
}
