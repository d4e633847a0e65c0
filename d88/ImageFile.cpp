#include "ImageFile.h"

#include "FileSeek.h"

#include <cerrno>
#ifdef _WIN32
#include <io.h>
#include <string>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {

FILE* openImageFile(const char* path, int64_t& size) {
#ifdef _WIN32
    const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (wideLength <= 0) {
        errno = ENOENT;
        return nullptr;
    }
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &wide[0], wideLength);
    FILE* opened = _wfopen(wide.c_str(), L"rb");
    if (opened == nullptr) {
        return nullptr;
    }
    setvbuf(opened, nullptr, _IONBF, 0);
    const DWORD type = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(opened))));
    if (type != FILE_TYPE_DISK) {
        fclose(opened);
        errno = type == FILE_TYPE_CHAR ? ENODEV : ESPIPE; // a device such as NUL or CON
        return nullptr;
    }
#else
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    int refusal = 0;
    if (fstat(fd, &info) != 0) {
        refusal = errno;
    } else if (S_ISDIR(info.st_mode)) {
        refusal = EISDIR;
    } else if (S_ISCHR(info.st_mode)) {
        refusal = ENODEV;
    } else if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
        refusal = ESPIPE;
    } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        refusal = errno;
    }
    FILE* opened = refusal == 0 ? fdopen(fd, "rb") : nullptr;
    if (opened == nullptr) {
        refusal = refusal != 0 ? refusal : errno;
        ::close(fd);
        errno = refusal;
        return nullptr;
    }
    setvbuf(opened, nullptr, _IONBF, 0);
#endif
    size = seekFile(opened, 0, SEEK_END) ? tellFile(opened) : -1;
    if (size < 0) {
        fclose(opened);
        errno = ESPIPE;
        return nullptr;
    }
    return opened;
}

} // namespace d88
