// Seeking with 64-bit offsets: a track position (disk offset + track offset) can pass 2 GiB.
#pragma once

#include <cstdint>
#include <cstdio>

namespace d88 {

inline bool seekFile(FILE* file, int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(file, offset, whence) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

} // namespace d88
