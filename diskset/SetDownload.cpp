#include "SetDownload.h"

#include "ShiftJis.h"

#include "D88Format.h"

namespace {

const char FIXED_NAME[] = "d88extract";

// `name` with a control character, '/', '\' and ':' as %NN; empty for "." and "..".
std::string zipSafe(const std::string& name) {
    static const char HEX[] = "0123456789abcdef";
    std::string safe;
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\' || c == ':') {
            safe += {'%', HEX[byte >> 4], HEX[byte & 15]};
        } else {
            safe += c;
        }
    }
    return safe == "." || safe == ".." ? std::string() : safe;
}

std::string withoutExtension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

std::vector<int> savedEntries(const SetPlan& plan) {
    std::vector<int> saved;
    for (const PlannedEntry& entry : plan.entries) {
        if (isWritten(entry.outcome) && entry.replacedBy < 0) {
            saved.push_back(entry.index);
        }
    }
    return saved;
}

std::string setZipName(const std::vector<std::string>& given, const uint8_t* diskAName) {
    std::string name;
    if (given.size() == 1) {
        name = zipSafe(withoutExtension(given[0]));
    } else if (diskAName != nullptr) {
        size_t length = 0;
        while (length < static_cast<size_t>(d88::DISK_NAME_LENGTH) && diskAName[length] != 0) {
            ++length;
        }
        while (length > 0 && diskAName[length - 1] == ' ') {
            --length;
        }
        std::string text;
        if (shiftJisToUtf8(reinterpret_cast<const char*>(diskAName), length, text)) {
            name = zipSafe(text);
        }
    }
    return name.empty() ? FIXED_NAME : name;
}
