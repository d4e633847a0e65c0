// Shift_JIS as code page 932 reads it, decoded to Unicode: the names of a disk set's files and
// disks are stored this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int CP932_LEADS = 60;
constexpr int CP932_TRAILS = 0xFD - 0x40;
extern const uint16_t CP932_DOUBLE[CP932_LEADS][CP932_TRAILS];

// The character that the code at `bytes` (`length` bytes left) stands for, and the bytes it
// takes (1 or 2). Returns false, taking one byte, when the bytes stand for no character: a lead
// byte at the end or before a byte that cannot follow it, or one of 0x80, 0xA0, 0xFD-0xFF.
bool decodeShiftJisChar(const uint8_t* bytes, size_t length, char32_t& character, size_t& used);

// Appends `character` to `out` as UTF-8.
void appendUtf8(char32_t character, std::string& out);

// The UTF-8 text of `length` Shift_JIS bytes; false when a byte stands for no character.
bool shiftJisToUtf8(const char* bytes, size_t length, std::string& text);
