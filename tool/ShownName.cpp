#include "ShownName.h"

#include "Host.h"

ShownName shownName(const char* name, FILE* stream) {
    ShownName shown{name, false, {}};
    if (!hostIsTerminal(stream)) {
        return shown;
    }
    static const char HEX[] = "0123456789abcdef";
    char* out = shown.buffer;
    char* const end = shown.buffer + sizeof shown.buffer - 1;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        const bool control = *p < 0x20 || *p == 0x7F;
        if (out + (control ? 4 : 1) > end) {
            break; // longer than any name of a disk or a directory entry
        }
        if (control) {
            *out++ = '\\';
            *out++ = 'x';
            *out++ = HEX[*p >> 4];
            *out++ = HEX[*p & 0xF];
        } else {
            *out++ = static_cast<char>(*p);
        }
    }
    *out = '\0';
    shown.copied = true;
    return shown;
}
