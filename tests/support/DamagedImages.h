// A catalogue of damaged and hand-made disk-set images, each with what the extraction
// programs must do with it. The tests run every case; the fuzz seeds start from them.
#pragma once

#include "DirectoryLayout.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct DamagedCase {
    std::string name;
    std::vector<uint8_t> image;
    int status;
    std::string out; // report lines, with LF line ends
    std::string err; // messages, with LF line ends
    std::map<std::string, std::vector<uint8_t>> files;
};

// The exact Shift_JIS bytes of the too-few-disks message.
extern const std::string TOO_FEW_DISKS_MESSAGE;

std::vector<DamagedCase> damagedCases(const DirectoryLayout& layout);
