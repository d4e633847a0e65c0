// The host interface on Windows. A directory entry's name is Shift_JIS (code page 932) whatever
// code page the system runs with, so it is converted to UTF-16 and every file call is made
// through the wide API; a console is written with WriteConsoleW after the same conversion.
#include "Host.h"

#include "SafeName.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <sys/stat.h>
#include <windows.h>

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
    const UINT codePage = source == NameSource::DiskSet ? SHIFT_JIS : CP_ACP;
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

// Creates a new temporary file in `folder` (empty, or ending in a separator) that no other
// file has the name of. Returns its descriptor, or -1 with errno set.
int createTemporary(const std::wstring& folder, std::wstring& name) {
    static unsigned counter = 0;
    for (;;) {
        name = folder + L".d88extract-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(counter++) + L".tmp";
        const int fd =
            _wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
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

bool hostRefusesName(const char* name) {
    std::wstring wide;
    if (!wideName(name, NameSource::DiskSet, wide)) {
        return true; // not Shift_JIS: no file name that Windows would write stands for it
    }
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows strings are UTF-16");
    return isUnsafeWindowsName(reinterpret_cast<const char16_t*>(wide.c_str()));
}

std::string hostSameFileKey(const char* name) {
    std::wstring wide;
    if (!wideName(name, NameSource::DiskSet, wide)) {
        return name; // refused as unsafe: it is never written
    }
    // Windows compares names in an upper case that does not depend on the user's language.
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

bool hostNamesImage(const d88::D88Image& image, const char* name) {
    std::wstring wide;
    if (!wideName(name, NameSource::DiskSet, wide)) {
        return false;
    }
    const HANDLE other =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool same = GetFileInformationByHandle(other, &info) &&
                      image.readsFile(d88::FileIdentity{
                          info.dwVolumeSerialNumber,
                          (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow});
    CloseHandle(other);
    return same;
}

ReplaceResult hostReplaceFile(const char* path, NameSource source, const uint8_t* data,
                              size_t length) {
    std::wstring wide;
    if (!wideName(path, source, wide)) {
        return refusal(ReplaceOutcome::CannotCreate, EILSEQ);
    }
    if (wide.empty()) {
        return refusal(ReplaceOutcome::CannotCreate, ENOENT);
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return refusal(ReplaceOutcome::SymbolicLink, 0);
        }
        // The C library refuses to open a folder or a read-only file for writing in this way.
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
            return refusal(ReplaceOutcome::CannotCreate, EACCES);
        }
    }

    const size_t separator = wide.find_last_of(L"\\/:");
    const std::wstring folder =
        separator == std::wstring::npos ? L"" : wide.substr(0, separator + 1);
    std::wstring temporary;
    const int fd = createTemporary(folder, temporary);
    if (fd < 0) {
        return ReplaceResult{ReplaceOutcome::CannotCreate, errno, existed};
    }
    int error = 0;
    const bool written = writeAll(fd, data, length, error);
    if (_close(fd) != 0 && written) {
        error = errno != 0 ? errno : EIO;
    }
    if (error != 0) {
        _wremove(temporary.c_str());
        return ReplaceResult{ReplaceOutcome::CannotWrite, error, existed};
    }
    if (!MoveFileExW(temporary.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = errnoOf(GetLastError());
        _wremove(temporary.c_str());
        return ReplaceResult{ReplaceOutcome::CannotCreate, error, existed};
    }
    return ReplaceResult{ReplaceOutcome::Replaced, 0, existed};
}

bool hostIsTerminal(FILE* stream) {
    return consoleOf(stream) != nullptr;
}

namespace {

// Writes formatted text to `stream`; on a console, as the characters that its bytes stand for in
// code page `codePage`.
void printIn(UINT codePage, FILE* stream, const char* format, va_list arguments) {
    const HANDLE console = consoleOf(stream);
    if (console == nullptr) {
        vfprintf(stream, format, arguments); // redirected: the bytes as they are
        return;
    }
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        vsnprintf(&text[0], text.size() + 1, format, again);
    }
    va_end(again);
    std::wstring wide;
    toWide(text.data(), text.size(), codePage, 0, wide);
    fflush(stream); // whatever the C library still holds goes first
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

} // namespace

void hostPrintf(FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    printIn(SHIFT_JIS, stream, format, arguments);
    va_end(arguments);
}

void hostPrintfLocal(FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    printIn(CP_ACP, stream, format, arguments);
    va_end(arguments);
}

bool hostLocaleIsUtf8() {
    return false; // a console is written as UTF-16, converted from Shift_JIS
}

bool hostNamesAreUnicode() {
    return true;
}
