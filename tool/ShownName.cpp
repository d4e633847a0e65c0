#include "ShownName.h"

#include "Host.h"

ShownName shownName(const char* name, FILE* stream) {
    ShownName shown{name, false, {}};
    if (!hostIsTerminal(stream)) {
        return shown;
    }
    // On a UTF-8 terminal C2 80 to C2 9F are the C1 controls (CSI among them).
    const bool utf8 = hostTerminalIsUtf8();
    static const char HEX[] = "0123456789abcdef";
    char* out = shown.buffer;
    char* const end = shown.buffer + sizeof shown.buffer - 1;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        const bool c1 = utf8 && p[0] == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F;
        const int escaped = c1 ? 2 : *p < 0x20 || *p == 0x7F ? 1 : 0;
        if (out + (escaped > 0 ? 4 * escaped : 1) > end) {
            break; // longer than any name of a disk or a directory entry
        }
        for (int i = 0; i < escaped; ++i) {
            *out++ = '\\';
            *out++ = 'x';
            *out++ = HEX[p[i] >> 4];
            *out++ = HEX[p[i] & 0xF];
        }
        if (escaped == 0) {
            *out++ = static_cast<char>(*p);
        }
        p += escaped > 1 ? escaped - 1 : 0;
    }
    *out = '\0';
    shown.copied = true;
    return shown;
}
