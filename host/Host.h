// What differs between the hosts that the programs run on: how the command line arrives, whether
// a directory entry's name can be a file of its own, how a file is replaced, what ends the
// program, and how text reaches a console. One implementation per host: HostPosix.cpp and
// HostWindows.cpp.
#pragma once

#include "Plan.h"
#include "SavedName.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The first call of every program's main. Makes `argv` the command line as the user typed it
// (on Windows read as UTF-16 and passed on as UTF-8, so that no path goes through the system's
// code page), ignores SIGPIPE and SIGXFSZ (a failed write is reported instead), and on Windows
// makes the console events that end the program remove the temporary file being written (on
// POSIX hosts hostReplaceFile watches the signals once it first names a temporary file).
void hostStartProgram(int& argc, char**& argv);

// Where a name's bytes come from, which decides how Windows reads them.
enum class NameSource {
    DiskSet,     // a directory entry's name: Shift_JIS (code page 932) bytes
    CommandLine, // a path that the user gave, as hostStartProgram passes it on
};

// What the host says of directory entry names: it refuses a name that could reach outside the
// folder or that it would take for something else (on Windows a device, a drive, or bytes that
// are not Shift_JIS), and two names are one file when their keys are equal (the bytes on POSIX;
// on Windows the Unicode name in upper case, as Windows compares names).
const NameRules& hostNameRules();

// A folder that files are written into. On POSIX hosts a descriptor of the open folder
// (AT_FDCWD for the current one); on Windows the folder's path ending in a separator (empty for
// the current one).
struct HostFolder {
    int descriptor;
    std::wstring prefix;
    bool notMadeYet = false; // a folder still to be made: nothing stands in it
    bool made = false;       // hostOpenFolder made it: it did not stand before
};

// The current folder, which every path given relative to it names as it would without one.
HostFolder hostCurrentFolder();
// Opens the folder `path` (NameSource::CommandLine), first making it and the folders above it
// that are missing when `createParents` is set. False with `error` (an errno value) set when
// that fails or `path` is no folder.
bool hostOpenFolder(const char* path, bool createParents, HostFolder& folder, int& error);
// Closes `folder`, which hostOpenFolder made for `path`, and removes it when it is still empty;
// a folder that stood before, or that holds anything, stays. True when it was removed.
bool hostRemoveMadeFolder(HostFolder& folder, const char* path);
// Closes a folder from hostOpenFolder; the current folder stays.
void hostCloseFolder(HostFolder& folder);
// True when this process may make files in `folder`; otherwise false with `error` (an errno
// value) saying why: a folder without write permission, a read-only file system.
bool hostFolderWritable(const HostFolder& folder, int& error);

// Tells files apart: every name of one file (links included) gives the same identity.
struct FileIdentity {
    uint64_t volume;
    uint64_t file;
};

inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.file == b.file;
}

// The identity of the file open as `stream`. False when the host cannot tell it.
bool hostFileIdentity(FILE* stream, FileIdentity& identity);

// The names in `folder` under which one of `files` stands, through any link (a hard link, a
// symbolic link, on Windows a short name too), as keys of hostNameRules().sameFileKey: the
// folder is listed once. None in a folder still to be made, nor when it cannot be listed.
std::vector<std::string> hostNamesOfFiles(const HostFolder& folder,
                                          const std::vector<FileIdentity>& files);

// Where the plan's files land when they are written into `folder` by this host: names for
// `names` (checked by the host's rules), and the names under which one of `givenFiles` stands
// there refused as the image itself. A value: it holds nothing of `folder` or `givenFiles`.
SaveTarget hostSaveTarget(NameTarget names, const HostFolder& folder,
                          const std::vector<FileIdentity>& givenFiles);

enum class ReplaceOutcome {
    Replaced,       // `path` now holds the new bytes, whole
    SymbolicLink,   // a symbolic link stands under `path`; it is left alone
    NotRegularFile, // a device, pipe or socket stands under `path`; it is left alone
    ShortName,      // `path` is the short (8.3) name of a file with another long name (Windows)
    Appeared,       // nothing stood under `path` at first, but a file did when the new one was
                    // to take the name; it is left alone
    CannotCreate,   // the new file could not be made, or could not take the name
    CannotWrite,    // writing, syncing or closing the new file failed
    Kept,           // a regular file stands under `path` and is kept (Existing::Keep)
};

// What becomes of a regular file that stands under the name.
enum class Existing {
    Replace, // replaced by the new file
    Keep,    // left as it is, and nothing is written
};

struct ReplaceResult {
    ReplaceOutcome outcome;
    int error;    // errno for CannotCreate and CannotWrite
    bool existed; // a file stood under the name before (told when it was replaced)
};

// Writes `data` to a new file in `folder` and, only when it is written whole, gives it the
// name `path` (relative to `folder`, or absolute). On any failure nothing new is left and
// whatever stood under `path` is as it was.
// - When nothing stands under `path`, the new file takes the name only if it is still free;
//   otherwise the outcome tells what appeared there (SymbolicLink, NotRegularFile, Appeared).
// - When a regular file stands there, the new one replaces it by a rename: it first gets the
//   old file's permission bits (and its owner and group where the process may set them) and
//   its bytes reach the disk, so that after a power loss the name holds one file or the other.
//   With Existing::Keep it is left as it is instead, and nothing is written (Kept).
// - A folder, a symbolic link, a device, pipe or socket, or a file that may not be written is
//   refused and left alone.
ReplaceResult hostReplaceFile(const HostFolder& folder, const char* path, NameSource source,
                              const uint8_t* data, size_t length,
                              Existing existing = Existing::Replace);
// The same in the current folder.
ReplaceResult hostReplaceFile(const char* path, NameSource source, const uint8_t* data,
                              size_t length);

// True when a write to `stream` failed (with errno `error`, 0 when not known) because its
// reader closed it early, as `| head` does.
bool hostReaderLeft(FILE* stream, int error);
// True when a reader that left is to end the program as quietly as a closed pipe ends any
// program: on POSIX hosts only when SIGPIPE was left to its default action by whoever started
// the program (as a shell leaves it); where that was ignored, the failure is to be said, as ls
// and seq say it then. Always on Windows.
bool hostClosedPipeEndsQuietly();
// Ends the program as a closed pipe ends a program that writes into it: by SIGPIPE on POSIX
// hosts. Returns on Windows, which has no such signal.
void hostEndByClosedPipe();

// True when `stream` is a terminal (on Windows, a console).
bool hostIsTerminal(FILE* stream);
// True when a terminal shows text as UTF-8 (the locale's character set), where the bytes C2 80
// to C2 9F are control characters too.
bool hostTerminalIsUtf8();

// True when the host names files in Unicode whatever the names' bytes (Windows).
bool hostNamesAreUnicode();

// Formats and writes to `stream`. On a Windows console the text, Shift_JIS bytes included, is
// shown as the characters they stand for; everywhere else the bytes go out unchanged.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void hostPrintf(FILE* stream, const char* format, ...);
// The same for text of the command line, such as a path that the user gave. On Windows it is
// shown as typed on a console, and elsewhere written in the system's code page when that holds
// every character of it (UTF-8 otherwise).
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void hostPrintfLocal(FILE* stream, const char* format, ...);

// Memory for `size` bytes that a program fills and holds whole (an image read into memory), not
// zeroed. On Linux it is made present at once, in 2 MiB pages as far as it fills them (where
// the system gives such pages), so that filling it costs few page faults instead of one per
// 4 KiB. Null when no memory can be had. Given back by hostFreeHeldMemory with the same size.
uint8_t* hostHeldMemory(size_t size);
void hostFreeHeldMemory(uint8_t* bytes, size_t size);
