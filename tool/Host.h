// What differs between the hosts that the programs run on: whether a directory entry's name can
// be a file of its own, how a file is replaced, and how text reaches a console. One
// implementation per host: HostPosix.cpp and HostWindows.cpp.
#pragma once

#include "D88Image.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Where a name's bytes come from, which decides how Windows reads them.
enum class NameSource {
    DiskSet,     // a directory entry's name: Shift_JIS (code page 932) bytes
    CommandLine, // a path that the user gave: the system's own code page
};

// True when the host cannot write a directory entry named `name` as a file of that name in the
// current folder: the name could reach outside it, or the host would take it for something else
// (on Windows a device, a drive, or bytes that are not Shift_JIS).
bool hostRefusesName(const char* name);

// A key that is equal for two directory entry names that are one file in a folder of the host:
// the bytes on POSIX; on Windows the Unicode name in upper case, as Windows compares names.
std::string hostSameFileKey(const char* name);

// True when the directory entry name `name` is a file of the image being read, through any link.
bool hostNamesImage(const d88::D88Image& image, const char* name);

enum class ReplaceOutcome {
    Replaced,       // `path` now holds the new bytes, whole
    SymbolicLink,   // a symbolic link stands under `path`; it is left alone
    NotRegularFile, // a device, pipe or socket stands under `path`; it is left alone
    CannotCreate,   // the new file could not be made, or could not take the name
    CannotWrite,    // writing or closing the new file failed
};

struct ReplaceResult {
    ReplaceOutcome outcome;
    int error;    // errno for CannotCreate and CannotWrite
    bool existed; // a file stood under the name before (told when it was replaced)
};

// Writes `data` to a new temporary file in the folder of `path` and, only when it is written
// whole and closed, renames it over `path`. On any failure the temporary file is removed and
// whatever stood under `path` is left as it was. An existing folder, or a file that may not be
// written, is refused as opening it for writing would refuse it. The new file gets the
// permissions of a newly created file. Temporary names are longer than any directory entry's.
ReplaceResult hostReplaceFile(const char* path, NameSource source, const uint8_t* data,
                              size_t length);

// True when `stream` is a terminal (on Windows, a console).
bool hostIsTerminal(FILE* stream);

// True when the character set of the locale that the environment names is UTF-8.
bool hostLocaleIsUtf8();
// True when the host names files in Unicode whatever the names' bytes (Windows).
bool hostNamesAreUnicode();

// Formats and writes to `stream`. On a Windows console the text, Shift_JIS bytes included, is
// shown as the characters they stand for; everywhere else the bytes go out unchanged.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void hostPrintf(FILE* stream, const char* format, ...);
// The same for text in the system's own code page, such as a path from the command line.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void hostPrintfLocal(FILE* stream, const char* format, ...);
