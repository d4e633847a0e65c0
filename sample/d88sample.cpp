// d88sample: writes a synthetic disk-set image that the extraction programs can read.
#include "SampleDiskSet.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int usage(const char* program) {
    fprintf(stderr,
            "Usage: %s [--layout a|b] [--full] [--disks N] OUTPUT.d88\n"
            "  --layout a|b  directory layout of d88extract-a (default) or d88extract-b\n"
            "  --full        one file per directory entry, filling most of the disks\n"
            "  --disks N     number of disks, 4 to 64 (default 4)\n",
            program);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const char* program = argc > 0 && argv[0][0] != '\0' ? argv[0] : "d88sample";
    const DirectoryLayout* layout = &LAYOUT_A;
    bool full = false;
    int disks = 4;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--layout") == 0 && i + 1 < argc) {
            ++i;
            if (strcmp(argv[i], "a") == 0) {
                layout = &LAYOUT_A;
            } else if (strcmp(argv[i], "b") == 0) {
                layout = &LAYOUT_B;
            } else {
                return usage(program);
            }
        } else if (strcmp(argv[i], "--full") == 0) {
            full = true;
        } else if (strcmp(argv[i], "--disks") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long value = strtol(argv[++i], &end, 10);
            if (*end != '\0' || value < 4 || value > 64) {
                return usage(program);
            }
            disks = static_cast<int>(value);
        } else if (argv[i][0] != '-' && output == nullptr) {
            output = argv[i];
        } else {
            return usage(program);
        }
    }
    if (output == nullptr) {
        return usage(program);
    }

    d88::SampleSet set = full ? d88::fullSampleSet(*layout, disks) : d88::smallSampleSet(*layout);
    set.disks = disks;
    std::vector<d88::DiskPlan> plans;
    if (!d88::buildSampleDisks(set, plans)) {
        fprintf(stderr, "%s: the files do not fit on the disks\n", program);
        return 1;
    }
    const std::vector<uint8_t> bytes = d88::buildImage(plans);
    if (!d88::writeBytes(output, bytes)) {
        fprintf(stderr, "%s: cannot write %s\n", program, output);
        return 1;
    }
    printf("%s: %d disks, %zu files, layout of %s, %zu bytes\n", output, disks, set.files.size(),
           layout->programName, bytes.size());
    return 0;
}
