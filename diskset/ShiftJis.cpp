#include "ShiftJis.h"

namespace {

int leadRow(uint8_t byte) {
    if (byte >= 0x81 && byte <= 0x9F) {
        return byte - 0x81;
    }
    return byte >= 0xE0 && byte <= 0xFC ? byte - 0xE0 + 31 : -1;
}

} // namespace

bool decodeShiftJisChar(const uint8_t* bytes, size_t length, char32_t& character, size_t& used) {
    const uint8_t first = bytes[0];
    used = 1;
    if (first < 0x80) {
        character = first;
        return true;
    }
    if (first >= 0xA1 && first <= 0xDF) { // half-width katakana
        character = 0xFF61 + (first - 0xA1);
        return true;
    }
    const int row = leadRow(first);
    if (row < 0 || length < 2 || bytes[1] < 0x40 || bytes[1] > 0xFC) {
        return false;
    }
    const uint16_t mapped = CP932_DOUBLE[row][bytes[1] - 0x40];
    if (mapped == 0) {
        return false;
    }
    character = mapped;
    used = 2;
    return true;
}

void appendUtf8(char32_t character, std::string& out) {
    if (character < 0x80) {
        out += static_cast<char>(character);
    } else if (character < 0x800) {
        out += static_cast<char>(0xC0 | (character >> 6));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        out += static_cast<char>(0xE0 | (character >> 12));
        out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (character >> 18));
        out += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (character & 0x3F));
    }
}

bool shiftJisToUtf8(const char* bytes, size_t length, std::string& text) {
    text.clear();
    const uint8_t* at = reinterpret_cast<const uint8_t*>(bytes);
    for (size_t left = length; left > 0;) {
        char32_t character = 0;
        size_t used = 0;
        if (!decodeShiftJisChar(at, left, character, used)) {
            return false;
        }
        appendUtf8(character, text);
        at += used;
        left -= used;
    }
    return true;
}
