#include "SafeName.h"

namespace {

bool isShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool isAsciiLetter(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
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
    if (isAsciiLetter(bytes[0]) && bytes[1] == ':') {
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
