// Reading a folder's files on Linux and other POSIX systems: through the folder's descriptor, so
// that every name stays inside it.
#include "FolderFiles.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

HostFileId idOf(const struct stat& info) {
    return HostFileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

} // namespace

FILE* hostOpenToRead(const HostFolder& folder, const char* name, NameSource, int64_t& size,
                     HostFileId& id, int& error) {
    // Without waiting: a pipe opened for reading would wait for a writer.
    const int fd = openat(folder.descriptor, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : ENODEV;
        close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, "rb");
    if (stream == nullptr) {
        error = errno;
        close(fd);
        return nullptr;
    }
    setvbuf(stream, nullptr, _IONBF, 0);
    size = static_cast<int64_t>(info.st_size);
    id = idOf(info);
    return stream;
}

bool hostStreamId(FILE* stream, HostFileId& id) {
    struct stat info;
    if (stream == nullptr || fstat(fileno(stream), &info) != 0) {
        return false;
    }
    id = idOf(info);
    return true;
}

bool hostPathId(const HostFolder& folder, const char* path, NameSource, HostFileId& id) {
    struct stat info;
    if (fstatat(folder.descriptor, path, &info, 0) != 0) {
        return false;
    }
    id = idOf(info);
    return true;
}

bool hostListFolder(const HostFolder& folder, std::vector<FolderName>& names, int& error) {
    const int fd = openat(folder.descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd >= 0 ? fdopendir(fd) : nullptr;
    if (listing == nullptr) {
        error = errno;
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    while (const dirent* found = readdir(listing)) {
        struct stat info;
        const bool regular = found->d_type == DT_REG ||
                             ((found->d_type == DT_UNKNOWN || found->d_type == DT_LNK) &&
                              fstatat(fd, found->d_name, &info, 0) == 0 && S_ISREG(info.st_mode));
        if (regular) {
            names.push_back(FolderName{found->d_name, found->d_name});
        }
    }
    closedir(listing);
    return true;
}
