#include "SafeName.h"

#include <string>

namespace {

bool isShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool isAsciiLetter(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

char upper(unsigned char byte) {
    return static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte);
}

// True for the names that Windows opens as a device whatever the folder: CON, PRN, AUX, NUL,
// COM1-COM9 and LPT1-LPT9, in any case, alone or followed by an extension or spaces.
bool isWindowsDeviceName(const unsigned char* name) {
    std::string base;
    for (const unsigned char* p = name; *p != '\0' && *p != '.'; ++p) {
        base += upper(*p);
    }
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") {
        return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

} // namespace

bool isUnsafeName(const char* name, bool windowsPaths) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(name);
    for (const unsigned char* p = bytes; *p != '\0'; ++p) {
        if (*p == '/') {
            return true; // never a second byte in Shift_JIS, so always a separator
        }
    }
    if (!windowsPaths) {
        return false;
    }
    if ((isAsciiLetter(bytes[0]) && bytes[1] == ':') || isWindowsDeviceName(bytes)) {
        return true;
    }
    for (const unsigned char* p = bytes; *p != '\0'; ++p) {
        if (*p == '\\') {
            return true;
        }
        // 0x5C is a valid second byte of a Shift_JIS character (as in "\x95\x5C"): skip it.
        if (isShiftJisLeadByte(*p) && p[1] != '\0') {
            ++p;
        }
    }
    return false;
}
