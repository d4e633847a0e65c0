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

// The stream's position, -1 when it has none.
inline int64_t tellFile(FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

} // namespace d88
