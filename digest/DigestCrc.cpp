#include "DigestCrc.h"

#include <zlib.h>

uint32_t addToCrc32(uint32_t crc, const void* bytes, size_t length) {
    const auto* p = static_cast<const Bytef*>(bytes);
    uLong value = crc;
    // zlib takes at most a uInt's worth of bytes at a time.
    constexpr size_t MAX_STEP = 1u << 30;
    while (length > 0) {
        const size_t step = length < MAX_STEP ? length : MAX_STEP;
        value = crc32(value, p, static_cast<uInt>(step));
        p += step;
        length -= step;
    }
    return static_cast<uint32_t>(value);
}
