#include "SavedName.h"

#include "SafeName.h"
#include "ShiftJis.h"

#include <cstdint>
#include <cstring>

namespace {

void appendEscapedByte(uint8_t byte, std::string& out) {
    static const char HEX[] = "0123456789abcdef";
    out += '%';
    out += HEX[byte >> 4];
    out += HEX[byte & 0xF];
}

bool isControl(char32_t character) {
    return character < 0x20 || (character >= 0x7F && character <= 0x9F);
}

// Decodes code page 932 as the page shows names: a byte that stands for no character, a
// private-use stand-in for a single byte (0xA0, 0xFD-0xFF) and, for a zip, a control or path
// character, as %NN.
std::string decodedName(const char* name, bool forZip) {
    std::string out;
    const uint8_t* at = reinterpret_cast<const uint8_t*>(name);
    size_t left = strlen(name);
    while (left > 0) {
        char32_t character = 0;
        size_t used = 0;
        const bool decoded = decodeShiftJisChar(at, left, character, used);
        const bool pathCharacter = character == '\\' || character == '/' || character == ':';
        if (!decoded || (forZip && (isControl(character) || pathCharacter))) {
            appendEscapedByte(at[0], out);
            used = 1;
        } else {
            appendUtf8(character, out);
        }
        at += used;
        left -= used;
    }
    return out;
}

std::string sameBytes(const char* name) {
    return name;
}

} // namespace

const NameRules BYTE_NAME_RULES = {isUnsafeName, sameBytes};

SavedName savedName(const char* entryName, NameTarget target, const NameRules& rules) {
    SavedName saved;
    if (target == NameTarget::Host) {
        saved.name = entryName;
        saved.hasText = shiftJisToUtf8(entryName, strlen(entryName), saved.text);
        saved.key = rules.sameFileKey(entryName);
        return saved;
    }
    saved.name = decodedName(entryName, target == NameTarget::Zip);
    saved.text = saved.name;
    saved.hasText = true;
    saved.key = saved.name;
    return saved;
}

bool refusesSavedName(const char* entryName, const SavedName& saved, NameTarget target,
                      const NameRules& rules) {
    return target == NameTarget::Host ? rules.refuses(saved.name.c_str()) : isUnsafeName(entryName);
}
