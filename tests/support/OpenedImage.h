// An image opened in process, as the programs open the files given: each part written to a file
// of its own in a temporary folder, and the files opened as one image in their order.
#pragma once

#include "TempDir.h"

#include "D88Image.h"

#include <cstdint>
#include <vector>

struct OpenedImage {
    explicit OpenedImage(const std::vector<std::vector<uint8_t>>& parts);

    TempDir dir;
    d88::D88Image image;
    bool opened;
};
