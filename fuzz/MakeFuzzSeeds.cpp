// Writes the fuzz seed corpus: the sample disk set in both layouts (compact: only the tracks
// that hold data), the same disks in another order and with Disk A given again (once with the
// same bytes, once with other bytes), with sectors of files and of the directory stored with a
// read-error status (two or three other dumps chosen, so that three or four copies may vote),
// with more disks
// than the reader indexes (cut so that the last file lies past them), with a disk cut short
// where a file starts the next one, and every image of the damaged-image catalogue that is
// small enough.
#include "DamagedImages.h"
#include "ImageBuilder.h"
#include "SampleDiskSet.h"

#include <array>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

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
        // Disk B first: the programs read the directory from it, identity from Disk A.
        std::vector<std::vector<uint8_t>> built;
        for (const d88::DiskPlan& disk : disks) {
            built.push_back(d88::buildDisk(disk));
        }
        const auto join = [&](std::initializer_list<std::vector<uint8_t>> parts) {
            std::vector<uint8_t> image;
            for (const std::vector<uint8_t>& part : parts) {
                image.insert(image.end(), part.begin(), part.end());
            }
            return image;
        };
        write("order-" + tag, join({built[1], built[0], built[2], built[3]}));
        std::vector<uint8_t> otherA = built[0];
        otherA[0] ^= 0x20; // another name: the same set number with other bytes
        write("copies-" + tag, join({built[0], built[1], built[0], otherA, built[2], built[3]}));
        // Read errors in the directory, in README.TXT and in LARGE.BIN; byte 25 asks for two
        // other dumps.
        std::vector<d88::DiskPlan> withErrors = disks;
        for (const auto& [disk, track, r] : {std::array<int, 3>{0, 1, 2}, {0, 2, 1}, {3, 40, 3}}) {
            withErrors[static_cast<size_t>(disk)]
                .tracks[track]
                .sectors[static_cast<size_t>(r - 1)]
                .status = 0xB0;
        }
        std::vector<uint8_t> errors = d88::buildImage(withErrors);
        errors[25] = 1;
        write("errors-" + tag, errors);
        // Three other dumps (four copies), given by identity (byte 15, a byte of the name).
        errors[25] = 2;
        errors[15] = '3';
        write("errors3-" + tag, errors);
        // 64 disks and one more: the sample, then disks without tracks. Bytes 16 to 21 cut the
        // last file after the 64th disk.
        std::vector<d88::DiskPlan> many = disks;
        d88::DiskPlan blank;
        blank.name = "BLANK";
        many.resize(65, blank);
        std::vector<uint8_t> limit = d88::buildImage(many);
        for (int i = 16; i < 22; i += 2) {
            limit[static_cast<size_t>(i)] = 0xFF;
            limit[static_cast<size_t>(i) + 1] = static_cast<uint8_t>(0xD0 + 4 * i);
        }
        write("limit-" + tag, limit);
        // Disk A claiming to run on over Disk B and past it, cut where the second file (as
        // bytes 16 to 21 cut the input for fuzz_plan) starts Disk B, then bytes of no disk cut
        // into two more files.
        d88::DiskPlan longA = disks[0];
        longA.diskSizeOverride = static_cast<int64_t>(built[0].size() + built[1].size()) + 100000;
        const std::vector<uint8_t> aLong = d88::buildDisk(longA);
        for (size_t junk = 2000; junk < 4000; ++junk) {
            std::vector<uint8_t> resync = join({aLong, built[1], std::vector<uint8_t>(junk, 'x')});
            const size_t size = resync.size();
            const size_t targets[3] = {aLong.size(), aLong.size() + built[1].size() + 1000,
                                       aLong.size() + built[1].size() + 1500};
            bool exact = true;
            for (int k = 0; k < 3 && exact; ++k) {
                const uint64_t fraction = (targets[k] * 0xFFFFull + size - 1) / size;
                exact = fraction <= 0xFFFF && size * fraction / 0xFFFF == targets[k];
                resync[16 + 2 * static_cast<size_t>(k)] = static_cast<uint8_t>(fraction >> 8);
                resync[17 + 2 * static_cast<size_t>(k)] = static_cast<uint8_t>(fraction);
            }
            if (exact) {
                write("resync-" + tag, resync);
                break;
            }
        }
        int index = 0;
        for (const DamagedCase& c : damagedCases(*layout)) {
            write("damaged-" + tag + "-" + std::to_string(index++), c.image);
        }
    }
    printf("%d seeds in %s\n", written, folder.c_str());
    return written > 0 ? 0 : 1;
}
