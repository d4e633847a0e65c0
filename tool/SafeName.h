// Decides whether a directory entry's name may be opened as a file in the current directory.
#pragma once

#ifdef _WIN32
constexpr bool HOST_USES_WINDOWS_PATHS = true;
#else
constexpr bool HOST_USES_WINDOWS_PATHS = false;
#endif

// True when `name` could reach outside the current directory: it holds a '/' byte anywhere,
// or, with Windows paths, a '\' byte that is not the second byte of a Shift_JIS character or a
// drive prefix such as "C:".
bool isUnsafeName(const char* name, bool windowsPaths = HOST_USES_WINDOWS_PATHS);
