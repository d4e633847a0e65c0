// The host interface on Windows. A directory entry's name is Shift_JIS (code page 932) whatever
// code page the system runs with, so it is converted to UTF-16 and every file call is made
// through the wide API; a console is written with WriteConsoleW after the same conversion. The
// command line is read as UTF-16 and passed on as UTF-8, which every path from it is read as.
#include "Host.h"
#include "PendingFile.h"

#include "SafeName.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <windows.h>

#include <shellapi.h> // after windows.h, which it needs

namespace {

constexpr UINT SHIFT_JIS = 932;

// `length` bytes of `text` in code page `codePage` as UTF-16. False when they are not valid
// there (with MB_ERR_INVALID_CHARS in `flags`).
bool toWide(const char* text, size_t length, UINT codePage, DWORD flags, std::wstring& wide) {
    wide.clear();
    if (length == 0) {
        return true;
    }
    const int count =
        MultiByteToWideChar(codePage, flags, text, static_cast<int>(length), nullptr, 0);
    if (count <= 0) {
        return false;
    }
    wide.resize(static_cast<size_t>(count));
    return MultiByteToWideChar(codePage, flags, text, static_cast<int>(length), &wide[0], count) ==
           count;
}

bool wideName(const char* name, NameSource source, std::wstring& wide) {
    const UINT codePage = source == NameSource::DiskSet ? SHIFT_JIS : CP_UTF8;
    return toWide(name, strlen(name), codePage, MB_ERR_INVALID_CHARS, wide);
}

int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

bool writeAll(int fd, const uint8_t* data, size_t length, int& error) {
    while (length > 0) {
        const unsigned piece = length > 0x40000000 ? 0x40000000u : static_cast<unsigned>(length);
        const int written = _write(fd, data, piece);
        if (written <= 0) {
            error = written < 0 && errno != 0 ? errno : EIO;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// The temporary file being written, removed when the console ends the program meanwhile
// (Ctrl-C, Ctrl-Break, closing the window). It is opened with FILE_SHARE_DELETE, so that the
// removal takes effect when the ending process closes it.
wchar_t pendingTemporary[32768];
volatile LONG temporaryPending = 0;

// The temporary names of the files written piece by piece (PendingFile.h): a slot's name is
// removed with pendingTemporary while its flag is set. The slots are never freed, so that the
// handler's thread never reads a name that the program frees meanwhile.
constexpr size_t PENDING_NAME_CHARS = 4096;
wchar_t pendingNames[MAX_PENDING_FILES][PENDING_NAME_CHARS];
volatile LONG pendingNameSet[MAX_PENDING_FILES];

// Set while new files take their names (hostHoldEndingSignals): a console event then waits.
volatile LONG endingHeld = 0;

BOOL WINAPI removePendingTemporary(DWORD) {
    // The handler runs on a thread of its own: the names are taken meanwhile.
    while (InterlockedCompareExchange(&endingHeld, 0, 0) != 0) {
        Sleep(1);
    }
    if (InterlockedCompareExchange(&temporaryPending, 0, 0) != 0) {
        DeleteFileW(pendingTemporary);
    }
    for (int slot = 0; slot < MAX_PENDING_FILES; ++slot) {
        if (InterlockedCompareExchange(&pendingNameSet[slot], 0, 0) != 0) {
            DeleteFileW(pendingNames[slot]);
        }
    }
    return FALSE; // the next handler, in the end the system's, ends the program
}

// Creates a new temporary file in `folder` (empty, or ending in a separator) that no other
// file has the name of. Returns its descriptor (the C library's, for its error numbers), or -1
// with `error` set.
int createTemporary(const std::wstring& folder, std::wstring& name, int& error) {
    static unsigned counter = 0;
    for (;;) {
        name = folder + L".d88extract-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(counter++) + L".tmp";
        if (name.size() >= sizeof pendingTemporary / sizeof pendingTemporary[0]) {
            error = ENAMETOOLONG;
            return -1;
        }
        memcpy(pendingTemporary, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
        const HANDLE file =
            CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            InterlockedExchange(&temporaryPending, 1);
            const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
            if (fd < 0) {
                error = EMFILE;
                CloseHandle(file);
                DeleteFileW(name.c_str());
                InterlockedExchange(&temporaryPending, 0);
            }
            return fd;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            error = errnoOf(code);
            return -1;
        }
    }
}

void removeTemporary(const std::wstring& name) {
    DeleteFileW(name.c_str());
    InterlockedExchange(&temporaryPending, 0);
}

// The last name of a wide path.
std::wstring lastName(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/:");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

// True when the existing file found under `path` has another long name: `path` is its short
// (8.3) name, and writing there would replace that other file.
bool isShortNameOfAnother(const std::wstring& path) {
    if (path.find_first_of(L"*?") != std::wstring::npos) {
        return false; // no file has such a name
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    const std::wstring requested = lastName(path);
    return CompareStringOrdinal(found.cFileName, -1, requested.c_str(), -1, TRUE) != CSTR_EQUAL;
}

// What stands under `path` now, after the name was found taken when it was free before.
ReplaceResult whatAppeared(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const ReplaceOutcome outcome =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
            ? ReplaceOutcome::SymbolicLink
            : ReplaceOutcome::Appeared;
    return ReplaceResult{outcome, EEXIST, false};
}

ReplaceResult refusal(ReplaceOutcome outcome, int error) {
    return ReplaceResult{outcome, error, false};
}

// The console behind `stream`, or null when the stream goes to a file or a pipe.
HANDLE consoleOf(FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) {
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

} // namespace

namespace {

bool refusesName(const char* name) {
    std::wstring wide;
    if (!wideName(name, NameSource::DiskSet, wide)) {
        return true; // not Shift_JIS: no file name that Windows would write stands for it
    }
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows strings are UTF-16");
    return isUnsafeWindowsName(reinterpret_cast<const char16_t*>(wide.c_str()));
}

// The key of the Unicode name `wide`: Windows compares names in an upper case that does not
// depend on the user's language.
std::string wideKey(const std::wstring& wide) {
    std::wstring upper(wide.size(), L'\0');
    if (!wide.empty() && LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                       static_cast<int>(wide.size()), &upper[0],
                                       static_cast<int>(upper.size()), nullptr, nullptr, 0) == 0) {
        upper = wide;
    }
    std::string key;
    for (wchar_t unit : upper) { // the UTF-16 units as bytes: only equality matters
        key += static_cast<char>(unit & 0xFF);
        key += static_cast<char>(unit >> 8);
    }
    return key;
}

std::string sameFileKey(const char* name) {
    std::wstring wide;
    if (!wideName(name, NameSource::DiskSet, wide)) {
        return name; // refused as unsafe: it is never written
    }
    return wideKey(wide);
}

} // namespace

const NameRules& hostNameRules() {
    static const NameRules rules = {refusesName, sameFileKey};
    return rules;
}

namespace {

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// True when the file that `path` names (through a reparse point) is one of `files`.
bool isOneOf(const std::wstring& path, const std::vector<FileIdentity>& files) {
    const HANDLE other =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool found = false;
    if (GetFileInformationByHandle(other, &info)) {
        for (const FileIdentity& file : files) {
            found = found || file == identityOf(info);
        }
    }
    CloseHandle(other);
    return found;
}

} // namespace

bool hostFileIdentity(FILE* stream, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))),
                                    &info)) {
        return false;
    }
    identity = identityOf(info);
    return true;
}

std::vector<std::string> hostNamesOfFiles(const HostFolder& folder,
                                          const std::vector<FileIdentity>& files) {
    std::vector<std::string> keys;
    if (folder.notMadeYet || files.empty()) {
        return keys;
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW((folder.prefix + L"*").c_str(), FindExInfoStandard,
                                           &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return keys;
    }
    do {
        const DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            continue; // a folder is never a file given ("." and ".." among them)
        }
        if (isOneOf(folder.prefix + found.cFileName, files)) {
            keys.push_back(wideKey(found.cFileName));
            if (found.cAlternateFileName[0] != L'\0') {
                keys.push_back(wideKey(found.cAlternateFileName)); // its 8.3 short name
            }
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return keys;
}

SaveTarget hostSaveTarget(NameTarget names, const HostFolder& folder,
                          const std::vector<FileIdentity>& givenFiles) {
    return SaveTarget{names, hostNameRules(), hostNamesOfFiles(folder, givenFiles)};
}

void hostStartProgram(int& argc, char**& argv) {
    SetConsoleCtrlHandler(removePendingTemporary, TRUE);
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) {
        return; // the words from the C library stay
    }
    // Kept until the program ends, as argv is.
    static std::vector<std::string> utf8;
    static std::vector<char*> pointers;
    utf8.assign(static_cast<size_t>(count), std::string());
    pointers.assign(static_cast<size_t>(count) + 1, nullptr);
    for (int i = 0; i < count; ++i) {
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, words[i], -1, nullptr, 0, nullptr, nullptr);
        std::string& word = utf8[static_cast<size_t>(i)];
        word.assign(length > 0 ? static_cast<size_t>(length) : 1, '\0');
        if (length > 0) {
            WideCharToMultiByte(CP_UTF8, 0, words[i], -1, &word[0], length, nullptr, nullptr);
        }
        pointers[static_cast<size_t>(i)] = &word[0];
    }
    LocalFree(words);
    argc = count;
    argv = pointers.data();
}

HostFolder hostCurrentFolder() {
    return HostFolder{-1, {}};
}

bool hostOpenFolder(const char* path, bool createParents, HostFolder& folder, int& error) {
    std::wstring wide;
    if (!wideName(path, NameSource::CommandLine, wide)) {
        error = EILSEQ;
        return false;
    }
    if (wide.empty()) {
        error = ENOENT;
        return false;
    }
    bool made = false;
    if (createParents) {
        for (size_t separator = wide.find_first_of(L"\\/", 1);;
             separator = wide.find_first_of(L"\\/", separator + 1)) {
            const std::wstring prefix = wide.substr(0, separator);
            const bool drive = prefix.size() == 2 && prefix[1] == L':';
            const bool madeNow =
                !drive && !prefix.empty() && CreateDirectoryW(prefix.c_str(), nullptr);
            if (!madeNow && !drive && !prefix.empty() && GetLastError() != ERROR_ALREADY_EXISTS) {
                error = errnoOf(GetLastError());
                return false;
            }
            if (separator == std::wstring::npos) {
                made = madeNow;
                break;
            }
        }
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = errnoOf(GetLastError());
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = ENOTDIR;
        return false;
    }
    const wchar_t last = wide.back();
    folder = HostFolder{-1, last == L'\\' || last == L'/' || last == L':' ? wide : wide + L'\\'};
    folder.made = made;
    return true;
}

bool hostRemoveMadeFolder(HostFolder& folder, const char* path) {
    const bool made = folder.made;
    hostCloseFolder(folder);
    std::wstring wide;
    return made && wideName(path, NameSource::CommandLine, wide) && RemoveDirectoryW(wide.c_str());
}

void hostCloseFolder(HostFolder& folder) {
    folder = hostCurrentFolder();
}

bool hostFolderWritable(const HostFolder& folder, int& error) {
    if (folder.notMadeYet) {
        return true;
    }
    // A file that is gone again once closed: Windows says no more than whether it can be made.
    const HANDLE file = CreateFileW(
        (folder.prefix + L".d88extract-" + std::to_wstring(GetCurrentProcessId()) + L".probe")
            .c_str(),
        GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
        nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
            return true; // another run's probe: the folder takes files
        }
        error = errnoOf(code);
        return false;
    }
    CloseHandle(file);
    return true;
}

namespace {

// What stands under `path` in `where`, checked before a new file is written for it: Replaced
// when the new file may go on (`wide` then holds the full path, `existed` whether a file stands
// there and `attributes` its attributes), otherwise the refusal.
ReplaceResult checkTarget(const HostFolder& where, const char* path, NameSource source,
                          Existing existing, std::wstring& wide, DWORD& attributes, bool& existed) {
    std::wstring name;
    if (!wideName(path, source, name)) {
        return refusal(ReplaceOutcome::CannotCreate, EILSEQ);
    }
    if (name.empty()) {
        return refusal(ReplaceOutcome::CannotCreate, ENOENT);
    }
    const bool absolute =
        name[0] == L'\\' || name[0] == L'/' || (name.size() >= 2 && name[1] == L':');
    wide = absolute ? name : where.prefix + name;
    attributes = GetFileAttributesW(wide.c_str());
    existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return refusal(ReplaceOutcome::SymbolicLink, 0);
        }
        if (existing == Existing::Keep && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return ReplaceResult{ReplaceOutcome::Kept, 0, true};
        }
        // The C library refuses to open a folder or a read-only file for writing in this way.
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
            return refusal(ReplaceOutcome::CannotCreate, EACCES);
        }
        if (isShortNameOfAnother(wide)) {
            return refusal(ReplaceOutcome::ShortName, 0);
        }
    }
    return ReplaceResult{ReplaceOutcome::Replaced, 0, existed};
}

} // namespace

ReplaceResult hostReplaceFile(const HostFolder& where, const char* path, NameSource source,
                              const uint8_t* data, size_t length, Existing existing) {
    std::wstring wide;
    DWORD attributes = 0;
    bool existed = false;
    const ReplaceResult checked =
        checkTarget(where, path, source, existing, wide, attributes, existed);
    if (checked.outcome != ReplaceOutcome::Replaced) {
        return checked;
    }

    const size_t separator = wide.find_last_of(L"\\/:");
    const std::wstring folder =
        separator == std::wstring::npos ? L"" : wide.substr(0, separator + 1);
    std::wstring temporary;
    int error = 0;
    const int fd = createTemporary(folder, temporary, error);
    if (fd < 0) {
        return ReplaceResult{ReplaceOutcome::CannotCreate, error, existed};
    }
    const bool written = writeAll(fd, data, length, error);
    // A replacement reaches the disk before the rename, so that the name holds one file whole.
    if (written && existed && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd)))) {
        error = errnoOf(GetLastError());
    }
    if (_close(fd) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (error != 0) {
        removeTemporary(temporary);
        return ReplaceResult{ReplaceOutcome::CannotWrite, error, existed};
    }
    if (existed) {
        // The old file's hidden, system and archive attributes go to the new one.
        SetFileAttributesW(temporary.c_str(),
                           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                          FILE_ATTRIBUTE_ARCHIVE)) |
                               FILE_ATTRIBUTE_NORMAL);
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails on a name that was taken meanwhile.
    const DWORD flags =
        MOVEFILE_WRITE_THROUGH | (existed ? MOVEFILE_REPLACE_EXISTING : static_cast<DWORD>(0));
    if (!MoveFileExW(temporary.c_str(), wide.c_str(), flags)) {
        const DWORD code = GetLastError();
        removeTemporary(temporary);
        if (!existed && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)) {
            return whatAppeared(wide);
        }
        return ReplaceResult{ReplaceOutcome::CannotCreate, errnoOf(code), existed};
    }
    InterlockedExchange(&temporaryPending, 0);
    return ReplaceResult{ReplaceOutcome::Replaced, 0, existed};
}

ReplaceResult hostReplaceFile(const char* path, NameSource source, const uint8_t* data,
                              size_t length) {
    return hostReplaceFile(hostCurrentFolder(), path, source, data, length);
}

bool hostReaderLeft(FILE* stream, int error) {
    if (error == EPIPE) {
        return true;
    }
    // A write to a pipe fails when its reader has gone: the C library words that as EINVAL
    // (ERROR_NO_DATA, or ERROR_PIPE_NOT_CONNECTED under wine), or the error was met by an
    // earlier write and the last flush had nothing to write.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return (error == 0 || error == EINVAL) && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) == FILE_TYPE_PIPE;
}

bool hostClosedPipeEndsQuietly() {
    return true;
}

void hostEndByClosedPipe() {}

bool hostIsTerminal(FILE* stream) {
    return consoleOf(stream) != nullptr;
}

bool hostTerminalIsUtf8() {
    return false; // a console is written as UTF-16, converted from Shift_JIS
}

namespace {

std::string formatted(const char* format, va_list arguments) {
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        vsnprintf(&text[0], text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

void writeConsole(HANDLE console, FILE* stream, const std::string& text, UINT codePage) {
    std::wstring wide;
    toWide(text.data(), text.size(), codePage, 0, wide);
    fflush(stream); // whatever the C library still holds goes first
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// UTF-8 `text` in the system's code page, when that holds every character of it.
bool inSystemCodePage(const std::string& text, std::string& local) {
    std::wstring wide;
    if (!toWide(text.data(), text.size(), CP_UTF8, MB_ERR_INVALID_CHARS, wide)) {
        return false;
    }
    local.clear();
    if (wide.empty()) {
        return true;
    }
    BOOL lost = FALSE;
    const int count =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr, &lost);
    if (count <= 0 || lost) {
        return false;
    }
    local.resize(static_cast<size_t>(count));
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                               static_cast<int>(wide.size()), &local[0], count, nullptr,
                               &lost) == count &&
           !lost;
}

} // namespace

void hostPrintf(FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const HANDLE console = consoleOf(stream);
    if (console == nullptr) {
        vfprintf(stream, format, arguments); // redirected: the bytes as they are
    } else {
        writeConsole(console, stream, formatted(format, arguments), SHIFT_JIS);
    }
    va_end(arguments);
}

void hostPrintfLocal(FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    const HANDLE console = consoleOf(stream);
    if (console != nullptr) {
        writeConsole(console, stream, text, CP_UTF8);
        return;
    }
    std::string local;
    const std::string& bytes = inSystemCodePage(text, local) ? local : text;
    fwrite(bytes.data(), 1, bytes.size(), stream);
}

bool hostNamesAreUnicode() {
    return true;
}

// Files written piece by piece (PendingFile.h): under a temporary name from the start, opened
// so that the name can be removed or changed while the file is open, and renamed at the end.
struct PendingFile {
    std::wstring path;
    std::wstring temporary;
    bool existed;
    DWORD attributes; // of the file that stands under `path`
    int fd;           // open for reading and writing
    int slot;         // its place among pendingNames
    FILE* readBack;
};

namespace {

void forgetPendingName(PendingFile& file) {
    if (file.slot >= 0) {
        InterlockedExchange(&pendingNameSet[file.slot], 0);
        file.slot = -1;
    }
}

// Creates the file's temporary name in `folder` (empty, or ending in a separator), recorded for
// the console handler. Returns its descriptor, or -1 with `error` set.
int createPendingTemporary(PendingFile& file, const std::wstring& folder, int& error) {
    int slot = 0;
    while (slot < MAX_PENDING_FILES && InterlockedCompareExchange(&pendingNameSet[slot], 0, 0)) {
        ++slot;
    }
    if (slot == MAX_PENDING_FILES) {
        error = EMFILE;
        return -1;
    }
    static unsigned counter = 0;
    for (;;) {
        file.temporary = folder + L".d88extract-" + std::to_wstring(GetCurrentProcessId()) + L"-p" +
                         std::to_wstring(counter++) + L".tmp";
        if (file.temporary.size() >= PENDING_NAME_CHARS) {
            error = ENAMETOOLONG;
            return -1;
        }
        memcpy(pendingNames[slot], file.temporary.c_str(),
               (file.temporary.size() + 1) * sizeof(wchar_t));
        const HANDLE handle = CreateFileW(file.temporary.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            InterlockedExchange(&pendingNameSet[slot], 1);
            file.slot = slot;
            const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
            if (fd < 0) {
                error = EMFILE;
                CloseHandle(handle);
                DeleteFileW(file.temporary.c_str());
                forgetPendingName(file);
            }
            return fd;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            error = errnoOf(code);
            return -1;
        }
    }
}

void closeReadBack(PendingFile& file) {
    if (file.readBack != nullptr) {
        fclose(file.readBack);
        file.readBack = nullptr;
    }
}

void removePendingFile(PendingFile& file) {
    DeleteFileW(file.temporary.c_str());
    forgetPendingName(file);
}

} // namespace

PendingFile* hostStartFile(const HostFolder& where, const char* path, NameSource source,
                           ReplaceResult& refused) {
    PendingFile* file = new PendingFile{{}, {}, false, 0, -1, -1, nullptr};
    refused = checkTarget(where, path, source, Existing::Replace, file->path, file->attributes,
                          file->existed);
    if (refused.outcome != ReplaceOutcome::Replaced) {
        delete file;
        return nullptr;
    }
    const size_t separator = file->path.find_last_of(L"\\/:");
    const std::wstring folder =
        separator == std::wstring::npos ? L"" : file->path.substr(0, separator + 1);
    int error = 0;
    file->fd = createPendingTemporary(*file, folder, error);
    if (file->fd < 0) {
        refused = ReplaceResult{ReplaceOutcome::CannotCreate, error, file->existed};
        delete file;
        return nullptr;
    }
    return file;
}

bool hostWriteFile(PendingFile* file, const uint8_t* data, size_t length, int& error) {
    return writeAll(file->fd, data, length, error);
}

FILE* hostReadBack(PendingFile* file) {
    if (file->readBack != nullptr) {
        return file->readBack;
    }
    const HANDLE handle = CreateFileW(file->temporary.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    file->readBack = _fdopen(fd, "rb");
    if (file->readBack == nullptr) {
        _close(fd);
    }
    return file->readBack;
}

ReplaceResult hostNameFile(PendingFile* file) {
    closeReadBack(*file);
    int error = 0;
    // A replacement reaches the disk before the rename, so that the name holds one file whole.
    if (file->existed && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file->fd)))) {
        error = errnoOf(GetLastError());
    }
    if (_close(file->fd) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    ReplaceResult result{ReplaceOutcome::Replaced, 0, file->existed};
    if (error != 0) {
        removePendingFile(*file);
        result = ReplaceResult{ReplaceOutcome::CannotWrite, error, file->existed};
    } else {
        if (file->existed) {
            SetFileAttributesW(file->temporary.c_str(),
                               (file->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                    FILE_ATTRIBUTE_ARCHIVE)) |
                                   FILE_ATTRIBUTE_NORMAL);
        }
        const DWORD flags = MOVEFILE_WRITE_THROUGH |
                            (file->existed ? MOVEFILE_REPLACE_EXISTING : static_cast<DWORD>(0));
        if (MoveFileExW(file->temporary.c_str(), file->path.c_str(), flags)) {
            forgetPendingName(*file);
        } else {
            const DWORD code = GetLastError();
            removePendingFile(*file);
            result =
                !file->existed && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
                    ? whatAppeared(file->path)
                    : ReplaceResult{ReplaceOutcome::CannotCreate, errnoOf(code), file->existed};
        }
    }
    delete file;
    return result;
}

void hostDropFile(PendingFile* file) {
    closeReadBack(*file);
    _close(file->fd);
    removePendingFile(*file);
    delete file;
}

// Held memory comes from the heap: large pages need a privilege that programs seldom have.
uint8_t* hostHeldMemory(size_t size) {
    return static_cast<uint8_t*>(malloc(size));
}

void hostFreeHeldMemory(uint8_t* bytes, size_t) {
    free(bytes);
}

void hostHoldEndingSignals(bool hold) {
    InterlockedExchange(&endingHeld, hold ? 1 : 0);
}
