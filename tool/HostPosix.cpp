// The host interface on Linux and other POSIX systems: names are bytes, a '/' is the only
// separator, and files are replaced by rename(2).
#include "Host.h"

#include "SafeName.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary file being written, removed when a signal ends the program meanwhile.
char pendingTemporary[4096];
volatile sig_atomic_t temporaryPending = 0;

void removePendingTemporary(int signalNumber) {
    if (temporaryPending != 0) {
        unlink(pendingTemporary);
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Interrupting the program (Ctrl-C, a hang-up, kill) leaves no temporary file behind. A signal
// that is ignored (as under nohup) stays ignored.
void watchSignals() {
    static bool watching = false;
    if (watching) {
        return;
    }
    watching = true;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(signalNumber, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = removePendingTemporary;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

bool writeAll(int fd, const uint8_t* data, size_t length, int& error) {
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Creates a new temporary file in `folder` (empty, or ending in '/') that no other file has
// the name of. Returns its descriptor, or -1 with errno set.
int createTemporary(const std::string& folder, std::string& name) {
    static unsigned counter = 0;
    for (;;) {
        name = folder + ".d88extract-" + std::to_string(getpid()) + "-" +
               std::to_string(counter++) + ".tmp";
        if (name.size() >= sizeof pendingTemporary) {
            errno = ENAMETOOLONG;
            return -1;
        }
        memcpy(pendingTemporary, name.c_str(), name.size() + 1);
        const int fd =
            open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temporaryPending = 1; // ours from now on: only then may a signal remove it
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
}

void removeTemporary(const std::string& name) {
    unlink(name.c_str());
    temporaryPending = 0;
}

ReplaceResult refusal(ReplaceOutcome outcome, int error) {
    return ReplaceResult{outcome, error, false};
}

} // namespace

bool hostRefusesName(const char* name) {
    return isUnsafeName(name);
}

std::string hostSameFileKey(const char* name) {
    return name;
}

bool hostNamesImage(const d88::D88Image& image, const char* name) {
    struct stat info;
    return stat(name, &info) == 0 &&
           image.readsFile(d88::FileIdentity{static_cast<uint64_t>(info.st_dev),
                                             static_cast<uint64_t>(info.st_ino)});
}

ReplaceResult hostReplaceFile(const char* path, NameSource, const uint8_t* data, size_t length) {
    if (path[0] == '\0') {
        return refusal(ReplaceOutcome::CannotCreate, ENOENT);
    }
    struct stat info;
    const bool existed = lstat(path, &info) == 0;
    if (existed) {
        if (S_ISLNK(info.st_mode)) {
            return refusal(ReplaceOutcome::SymbolicLink, 0);
        }
        if (S_ISDIR(info.st_mode)) {
            return refusal(ReplaceOutcome::CannotCreate, EISDIR);
        }
        if (!S_ISREG(info.st_mode)) {
            return refusal(ReplaceOutcome::NotRegularFile, 0);
        }
        // A file that the user may not write (read-only, in use as a program) stays as it is.
        const int fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return refusal(ReplaceOutcome::CannotCreate, errno);
        }
        close(fd);
    } else if (errno != ENOENT) {
        return refusal(ReplaceOutcome::CannotCreate, errno);
    }

    watchSignals();
    const char* slash = strrchr(path, '/');
    const std::string folder = slash != nullptr ? std::string(path, slash + 1) : std::string();
    std::string temporary;
    const int fd = createTemporary(folder, temporary);
    if (fd < 0) {
        return ReplaceResult{ReplaceOutcome::CannotCreate, errno, existed};
    }
    int error = 0;
    const bool written = writeAll(fd, data, length, error);
    if (close(fd) != 0 && written) {
        error = errno;
    }
    if (error != 0) {
        removeTemporary(temporary);
        return ReplaceResult{ReplaceOutcome::CannotWrite, error, existed};
    }
    if (rename(temporary.c_str(), path) != 0) {
        error = errno;
        removeTemporary(temporary);
        return ReplaceResult{ReplaceOutcome::CannotCreate, error, existed};
    }
    temporaryPending = 0;
    return ReplaceResult{ReplaceOutcome::Replaced, 0, existed};
}

bool hostIsTerminal(FILE* stream) {
    // Asked once for each standard stream: the walk asks for every line it prints.
    static int known[3] = {-1, -1, -1};
    const int fd = fileno(stream);
    if (fd < 0) {
        return false; // a stream in memory
    }
    if (fd > 2) {
        return isatty(fd) == 1;
    }
    if (known[fd] < 0) {
        known[fd] = isatty(fd) == 1 ? 1 : 0;
    }
    return known[fd] == 1;
}

void hostPrintf(FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stream, format, arguments);
    va_end(arguments);
}

void hostPrintfLocal(FILE* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stream, format, arguments);
    va_end(arguments);
}

bool hostLocaleIsUtf8() {
    // The environment's locale, read without making it the program's own.
    const locale_t environment = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (environment == static_cast<locale_t>(0)) {
        return false;
    }
    const char* set = nl_langinfo_l(CODESET, environment);
    const bool utf8 =
        set != nullptr && (strcasecmp(set, "UTF-8") == 0 || strcasecmp(set, "UTF8") == 0);
    freelocale(environment);
    return utf8;
}

bool hostNamesAreUnicode() {
    return false;
}
