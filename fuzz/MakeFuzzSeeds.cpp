// Writes the fuzz seed corpus: the sample disk set in both layouts (compact: only the tracks
// that hold data) and every image of the damaged-image catalogue that is small enough.
#include "DamagedImages.h"
#include "SampleDiskSet.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make_fuzz_seeds FOLDER MAX_BYTES\n");
        return 1;
    }
    const std::string folder = argv[1];
    const size_t maxBytes = static_cast<size_t>(atol(argv[2]));
    int written = 0;
    const auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        if (bytes.size() <= maxBytes && d88::writeBytes(folder + "/" + name, bytes)) {
            ++written;
        }
    };
    for (const DirectoryLayout* layout : {&LAYOUT_A, &LAYOUT_B}) {
        const std::string tag = layout == &LAYOUT_A ? "a" : "b";
        d88::SampleSet set = d88::smallSampleSet(*layout);
        set.compact = true;
        set.files.back().bytes.resize(4 * 1024); // keep the seed small
        std::vector<d88::DiskPlan> disks;
        if (!d88::buildSampleDisks(set, disks)) {
            return 1;
        }
        write("sample-" + tag, d88::buildImage(disks));
        int index = 0;
        for (const DamagedCase& c : damagedCases(*layout)) {
            write("damaged-" + tag + "-" + std::to_string(index++), c.image);
        }
    }
    printf("%d seeds in %s\n", written, folder.c_str());
    return written > 0 ? 0 : 1;
}
