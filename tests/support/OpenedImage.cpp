#include "OpenedImage.h"

#include <string>

OpenedImage::OpenedImage(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < parts.size(); ++i) {
        paths.push_back(dir.write("part" + std::to_string(i) + ".d88", parts[i]));
    }
    std::vector<const char*> names;
    for (const std::string& path : paths) {
        names.push_back(path.c_str());
    }
    opened = image.openParts(names.data(), static_cast<int>(names.size()));
}
