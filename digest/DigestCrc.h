// CRC-32 (the zip and PNG polynomial): libdeflate on Linux, zlib on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC of the bytes so far (0 before any) with `length` more bytes added.
uint32_t addToCrc32(uint32_t crc, const void* bytes, size_t length);
