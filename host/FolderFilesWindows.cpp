// Reading a folder's files on Windows: through the wide API with the folder's path, a directory
// entry's name read as code page 932 and a path from the command line as UTF-8.
#include "FolderFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

constexpr UINT SHIFT_JIS = 932;

bool toWide(const std::string& text, UINT codePage, std::wstring& wide) {
    wide.clear();
    if (text.empty()) {
        return true;
    }
    const int size = static_cast<int>(text.size());
    const int count =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (count <= 0) {
        return false;
    }
    wide.resize(static_cast<size_t>(count));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0],
                               count) == count;
}

// `wide` in code page `codePage`; false when that cannot hold every character.
bool fromWide(const wchar_t* wide, UINT codePage, std::string& text) {
    BOOL lost = FALSE;
    BOOL* lostPointer = codePage == CP_UTF8 ? nullptr : &lost;
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int count =
        WideCharToMultiByte(codePage, flags, wide, -1, nullptr, 0, nullptr, lostPointer);
    if (count <= 0 || lost) {
        return false;
    }
    text.assign(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(codePage, flags, wide, -1, &text[0], count, nullptr, lostPointer);
    text.resize(static_cast<size_t>(count - 1));
    return !lost;
}

// The full path of `name` in `folder`. False when its bytes are not of its source's code page.
bool pathIn(const HostFolder& folder, const char* name, NameSource source, std::wstring& wide) {
    if (!toWide(name, source == NameSource::DiskSet ? SHIFT_JIS : CP_UTF8, wide)) {
        return false;
    }
    const bool absolute = !wide.empty() && (wide[0] == L'\\' || wide[0] == L'/' ||
                                            (wide.size() >= 2 && wide[1] == L':'));
    if (!absolute) {
        wide.insert(0, folder.prefix);
    }
    return true;
}

bool idOfHandle(HANDLE handle, HostFileId& id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    id = HostFileId{info.dwVolumeSerialNumber,
                    (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

} // namespace

FILE* hostOpenToRead(const HostFolder& folder, const char* name, NameSource source, int64_t& size,
                     HostFileId& id, int& error) {
    std::wstring wide;
    if (!pathIn(folder, name, source, wide)) {
        error = ENOENT; // no file has a name that the code page does not hold
        return nullptr;
    }
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        error =
            code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
                    code == ERROR_INVALID_NAME
                ? ENOENT
            : attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                ? EISDIR
                : EACCES;
        return nullptr;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle); // a device such as the console or NUL
        error = ENODEV;
        return nullptr;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(handle, &length) || !idOfHandle(handle, id)) {
        CloseHandle(handle);
        error = EIO;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        error = EMFILE;
        return nullptr;
    }
    FILE* stream = _fdopen(fd, "rb");
    if (stream == nullptr) {
        error = errno;
        _close(fd);
        return nullptr;
    }
    setvbuf(stream, nullptr, _IONBF, 0);
    size = static_cast<int64_t>(length.QuadPart);
    return stream;
}

bool hostStreamId(FILE* stream, HostFileId& id) {
    if (stream == nullptr) {
        return false;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && idOfHandle(handle, id);
}

bool hostPathId(const HostFolder& folder, const char* path, NameSource source, HostFileId& id) {
    std::wstring wide;
    if (!pathIn(folder, path, source, wide)) {
        return false;
    }
    const HANDLE handle =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = idOfHandle(handle, id);
    CloseHandle(handle);
    return known;
}

bool hostListFolder(const HostFolder& folder, std::vector<FolderName>& names, int& error) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder.prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        error = GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : EACCES;
        return error == 0;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        FolderName name;
        if (!fromWide(found.cFileName, SHIFT_JIS, name.name)) {
            name.name.clear();
        }
        fromWide(found.cFileName, CP_UTF8, name.text);
        names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}
