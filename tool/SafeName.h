// Decides whether a directory entry's name may be opened as a file in the current directory.
#pragma once

#ifdef _WIN32
constexpr bool HOST_USES_WINDOWS_PATHS = true;
#else
constexpr bool HOST_USES_WINDOWS_PATHS = false;
#endif

// True when `name` could reach outside the current directory: it holds a '/' byte anywhere,
// or, with Windows paths, a '\' byte that is not the second byte of a Shift_JIS character, a
// drive prefix such as "C:", or a device name such as "NUL" or "CON.TXT" (which would not
// create a file at all).
bool isUnsafeName(const char* name, bool windowsPaths = HOST_USES_WINDOWS_PATHS);
