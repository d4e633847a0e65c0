#include "ShownName.h"

#include "Host.h"

namespace {

// Appends `text` to `put` with the bytes that a terminal would act on as \xNN; stops when
// `put` refuses a piece. On a UTF-8 terminal C2 80 to C2 9F are the C1 controls (CSI among
// them).
template <typename Put> void escape(const char* text, bool utf8, Put put) {
    static const char HEX[] = "0123456789abcdef";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        const bool c1 = utf8 && p[0] == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F;
        const int escaped = c1 ? 2 : *p < 0x20 || *p == 0x7F ? 1 : 0;
        char piece[9];
        int length = 0;
        for (int i = 0; i < escaped; ++i) {
            piece[length++] = '\\';
            piece[length++] = 'x';
            piece[length++] = HEX[p[i] >> 4];
            piece[length++] = HEX[p[i] & 0xF];
        }
        if (escaped == 0) {
            piece[length++] = static_cast<char>(*p);
        }
        if (!put(piece, length)) {
            return;
        }
        p += escaped > 1 ? escaped - 1 : 0;
    }
}

} // namespace

ShownName shownName(const char* name, FILE* stream) {
    ShownName shown{name, false, {}};
    if (!hostIsTerminal(stream)) {
        return shown;
    }
    char* out = shown.buffer;
    char* const end = shown.buffer + sizeof shown.buffer - 1;
    escape(name, hostTerminalIsUtf8(), [&](const char* piece, int length) {
        if (out + length > end) {
            return false; // longer than any name of a disk or a directory entry
        }
        for (int i = 0; i < length; ++i) {
            *out++ = piece[i];
        }
        return true;
    });
    *out = '\0';
    shown.copied = true;
    return shown;
}

std::string shownPath(const char* path, FILE* stream) {
    if (!hostIsTerminal(stream)) {
        return path;
    }
    std::string shown;
    escape(path, hostTerminalIsUtf8(), [&](const char* piece, int length) {
        shown.append(piece, static_cast<size_t>(length));
        return true;
    });
    return shown;
}
