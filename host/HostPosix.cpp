// The host interface on Linux and other POSIX systems: names are bytes, a '/' is the only
// separator, and files are replaced by renameat(2) relative to a folder descriptor.
#include "Host.h"

#include "NamePause.h"
#include "PendingFile.h"

#include "SafeName.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <string>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The named temporary file of a replacement, removed when a signal ends the program while it
// exists. Written before `temporaryPending` is set, read only by the handler.
char pendingTemporary[4096];
volatile int pendingFolder = AT_FDCWD;
volatile sig_atomic_t temporaryPending = 0;

// The temporary names of the files written piece by piece (PendingFile.h), each set while the
// file has it, removed as pendingTemporary is.
const char* volatile pendingNames[MAX_PENDING_FILES];
volatile int pendingNameFolders[MAX_PENDING_FILES];

void removePendingTemporary(int signalNumber) {
    if (temporaryPending != 0) {
        unlinkat(pendingFolder, pendingTemporary, 0);
    }
    for (int slot = 0; slot < MAX_PENDING_FILES; ++slot) {
        if (pendingNames[slot] != nullptr) {
            unlinkat(pendingNameFolders[slot], pendingNames[slot], 0);
        }
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber); // ends the program once the handler returns and the signal unblocks
}

// Every signal whose default action ends the program and that can be caught, while it is left
// to that action. One that is ignored when the program starts (as under nohup) stays ignored.
// Watched from the first named temporary file on: an unnamed file leaves nothing behind whatever
// ends the program.
void watchSignals() {
    static bool watching = false;
    if (watching) {
        return;
    }
    watching = true;
    static const int ending[] = {
        SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
        SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGPOLL
        SIGPOLL,
#endif
#ifdef SIGSTKFLT
        SIGSTKFLT,
#endif
#ifdef SIGPWR
        SIGPWR,
#endif
#ifdef SIGEMT
        SIGEMT,
#endif
#ifdef SIGLOST
        SIGLOST,
#endif
    };
    struct sigaction action {};
    action.sa_handler = removePendingTemporary;
    sigfillset(&action.sa_mask); // no second handler runs in the middle of the first
    const auto watch = [&action](int signalNumber) {
        struct sigaction old {};
        // Only a signal left to its default action: one that is ignored stays ignored, and a
        // handler that a host of this code installed (a fuzzer's, a sanitizer's) is its own.
        if (sigaction(signalNumber, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 &&
            old.sa_handler == SIG_DFL) {
            sigaction(signalNumber, &action, nullptr);
        }
    };
    for (int signalNumber : ending) {
        watch(signalNumber);
    }
#ifdef SIGRTMIN
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
        watch(signalNumber); // real-time signals end a program by default too
    }
#endif
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

// The folder part of `path` ("." when none) and its last name.
void splitPath(const char* path, std::string& folder, std::string& name) {
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) {
        folder = ".";
        name = path;
    } else {
        folder = slash == path ? std::string("/") : std::string(path, slash);
        name = slash + 1;
    }
}

// A new file in `folderPath` (relative to `folder`) that has no name yet, so that nothing of it
// is left if the program ends before it is named. -1 when the file system has no such files.
int createUnnamed(int folder, const std::string& folderPath) {
#ifdef O_TMPFILE
    return openat(folder, folderPath.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)folder;
    (void)folderPath;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// Gives the unnamed file `fd` the name `path` relative to `folder`; fails with EEXIST when the
// name is taken.
bool nameUnnamed(int fd, int folder, const char* path) {
    char procPath[64];
    snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, procPath, folder, path, AT_SYMLINK_FOLLOW) == 0;
}

// Creates a new named temporary file next to `path` (`folderPath` is its folder) and records it
// for the signal handler. Returns its descriptor, or -1 with errno set.
int createTemporary(int folder, const std::string& folderPath, std::string& name) {
    watchSignals();
    static unsigned counter = 0;
    for (;;) {
        name = folderPath + "/.d88extract-" + std::to_string(getpid()) + "-" +
               std::to_string(counter++) + ".tmp";
        if (name.size() >= sizeof pendingTemporary) {
            errno = ENAMETOOLONG;
            return -1;
        }
        memcpy(pendingTemporary, name.c_str(), name.size() + 1);
        pendingFolder = folder;
        const int fd = openat(folder, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temporaryPending = 1; // ours from now on: only then may a signal remove it
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
}

// Links the unnamed file `fd` under a new temporary name, recorded for the signal handler.
bool nameTemporary(int fd, int folder, const std::string& folderPath, std::string& name) {
    watchSignals();
    static unsigned counter = 0;
    char procPath[64];
    snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    for (;;) {
        name = folderPath + "/.d88extract-" + std::to_string(getpid()) + "-l" +
               std::to_string(counter++) + ".tmp";
        if (name.size() >= sizeof pendingTemporary) {
            errno = ENAMETOOLONG;
            return false;
        }
        memcpy(pendingTemporary, name.c_str(), name.size() + 1);
        pendingFolder = folder;
        temporaryPending = 1; // set first: the link may be made when a signal comes
        if (linkat(AT_FDCWD, procPath, folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        temporaryPending = 0;
        if (errno != EEXIST) {
            return false;
        }
    }
}

void removeTemporary(int folder, const std::string& name) {
    unlinkat(folder, name.c_str(), 0);
    temporaryPending = 0;
}

// Gives the named temporary file the name `path` only while that name is free.
bool renameNoReplace(int folder, const std::string& temporary, const char* path) {
#ifdef RENAME_NOREPLACE
    if (renameat2(folder, temporary.c_str(), folder, path, RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    // Without it: a hard link fails on a name that is taken.
    if (linkat(folder, temporary.c_str(), folder, path, 0) != 0) {
        return false;
    }
    unlinkat(folder, temporary.c_str(), 0);
    return true;
}

ReplaceResult refusal(ReplaceOutcome outcome, int error) {
    return ReplaceResult{outcome, error, false};
}

// What stands under `path` now, after the name was found taken when it was free before.
ReplaceResult whatAppeared(int folder, const char* path) {
    struct stat info;
    ReplaceOutcome outcome = ReplaceOutcome::Appeared;
    if (fstatat(folder, path, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(info.st_mode)) {
            outcome = ReplaceOutcome::SymbolicLink;
        } else if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
            outcome = ReplaceOutcome::NotRegularFile;
        }
    }
    return ReplaceResult{outcome, EEXIST, false};
}

// Gives the new file the old one's owner, group and permission bits, as far as this process
// may; set-user-ID and set-group-ID bits are not carried over to the new contents.
void takeOver(int fd, const struct stat& old) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid); // a group that the user is in
    }
    fchmod(fd, old.st_mode & 01777);
}

// Writes `data` into `fd`; for a replacement also takes over `old` and syncs. Returns 0 or the
// errno of what failed.
int fillNewFile(int fd, const uint8_t* data, size_t length, const struct stat* old) {
    int error = 0;
    if (writeAll(fd, data, length, error) && old != nullptr) {
        takeOver(fd, *old);
        if (fsync(fd) != 0) {
            error = errno;
        }
    }
    return error;
}

// Closes `fd` after its file was named `name`; when the close reports a failed write, the name
// that this program made is removed again. Returns 0 or that errno.
int closeNamed(int fd, int folder, const std::string& name) {
    if (close(fd) == 0) {
        return 0;
    }
    const int error = errno;
    unlinkat(folder, name.c_str(), 0);
    return error;
}

// The replacement when the name was free: the file takes it only while it still is.
ReplaceResult createNew(int folder, const std::string& folderPath, const char* path,
                        const uint8_t* data, size_t length) {
    int fd = createUnnamed(folder, folderPath);
    if (fd >= 0) {
        const int error = fillNewFile(fd, data, length, nullptr);
        if (error != 0) {
            close(fd);
            return ReplaceResult{ReplaceOutcome::CannotWrite, error, false};
        }
        hostPauseBeforeName();
        if (nameUnnamed(fd, folder, path)) {
            const int closeError = closeNamed(fd, folder, path);
            return closeError == 0 ? ReplaceResult{ReplaceOutcome::Replaced, 0, false}
                                   : ReplaceResult{ReplaceOutcome::CannotWrite, closeError, false};
        }
        const int linkError = errno;
        close(fd);
        if (linkError == EEXIST) {
            return whatAppeared(folder, path);
        }
        if (linkError != ENOENT && linkError != EXDEV && linkError != EPERM) {
            return ReplaceResult{ReplaceOutcome::CannotCreate, linkError, false};
        }
        // /proc is not there to name it by: written again under a temporary name.
    }
    std::string temporary;
    fd = createTemporary(folder, folderPath, temporary);
    if (fd < 0) {
        return ReplaceResult{ReplaceOutcome::CannotCreate, errno, false};
    }
    int error = fillNewFile(fd, data, length, nullptr);
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        removeTemporary(folder, temporary);
        return ReplaceResult{ReplaceOutcome::CannotWrite, error, false};
    }
    hostPauseBeforeName();
    if (!renameNoReplace(folder, temporary, path)) {
        const int renameError = errno;
        removeTemporary(folder, temporary);
        return renameError == EEXIST
                   ? whatAppeared(folder, path)
                   : ReplaceResult{ReplaceOutcome::CannotCreate, renameError, false};
    }
    temporaryPending = 0;
    return ReplaceResult{ReplaceOutcome::Replaced, 0, false};
}

// The replacement of the regular file `old` under `path`: a new file, synced, renamed over it.
ReplaceResult replaceExisting(int folder, const std::string& folderPath, const char* path,
                              const struct stat& old, const uint8_t* data, size_t length) {
    std::string temporary;
    int fd = createUnnamed(folder, folderPath);
    const bool unnamed = fd >= 0;
    if (!unnamed) {
        fd = createTemporary(folder, folderPath, temporary);
        if (fd < 0) {
            return ReplaceResult{ReplaceOutcome::CannotCreate, errno, true};
        }
    }
    int error = fillNewFile(fd, data, length, &old);
    if (error == 0 && unnamed && !nameTemporary(fd, folder, folderPath, temporary)) {
        const int linkError = errno;
        close(fd);
        return ReplaceResult{ReplaceOutcome::CannotCreate, linkError, true};
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        if (!temporary.empty()) {
            removeTemporary(folder, temporary);
        }
        return ReplaceResult{ReplaceOutcome::CannotWrite, error, true};
    }
    hostPauseBeforeName();
    if (renameat(folder, temporary.c_str(), folder, path) != 0) {
        error = errno;
        removeTemporary(folder, temporary);
        return ReplaceResult{ReplaceOutcome::CannotCreate, error, true};
    }
    temporaryPending = 0;
    return ReplaceResult{ReplaceOutcome::Replaced, 0, true};
}

} // namespace

namespace {

// SIGPIPE as the program found it: a closed pipe ends the program quietly only when it would
// have ended it had the program not ignored the signal.
bool pipeSignalWasDefault = false;

} // namespace

void hostStartProgram(int&, char**&) {
    // A closed pipe fails the write, which is reported at the end.
    pipeSignalWasDefault = signal(SIGPIPE, SIG_IGN) == SIG_DFL;
#ifdef SIGXFSZ
    // Past a file size limit a write then fails with EFBIG, which is reported and cleaned up,
    // instead of the signal ending the program in the middle of a file.
    signal(SIGXFSZ, SIG_IGN);
#endif
}

namespace {

bool refusesName(const char* name) {
    return isUnsafeName(name);
}

std::string sameFileKey(const char* name) {
    return name;
}

} // namespace

const NameRules& hostNameRules() {
    static const NameRules rules = {refusesName, sameFileKey};
    return rules;
}

namespace {

FileIdentity identityOf(const struct stat& info) {
    return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

bool isOneOf(const FileIdentity& identity, const std::vector<FileIdentity>& files) {
    for (const FileIdentity& file : files) {
        if (file == identity) {
            return true;
        }
    }
    return false;
}

} // namespace

bool hostFileIdentity(FILE* stream, FileIdentity& identity) {
    struct stat info;
    if (fstat(fileno(stream), &info) != 0) {
        return false;
    }
    identity = identityOf(info);
    return true;
}

std::vector<std::string> hostNamesOfFiles(const HostFolder& folder,
                                          const std::vector<FileIdentity>& files) {
    std::vector<std::string> names;
    if (folder.notMadeYet || files.empty()) {
        return names;
    }
    const int descriptor = openat(folder.descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = descriptor >= 0 ? fdopendir(descriptor) : nullptr;
    if (listing == nullptr) {
        if (descriptor >= 0) {
            close(descriptor);
        }
        return names;
    }
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_type == DT_DIR) {
            continue; // a folder is never a file given ("." and ".." among them)
        }
        struct stat info;
        // Through a symbolic link to the file it names.
        if (fstatat(dirfd(listing), entry->d_name, &info, 0) == 0 &&
            isOneOf(identityOf(info), files)) {
            names.push_back(hostNameRules().sameFileKey(entry->d_name));
        }
    }
    closedir(listing);
    return names;
}

SaveTarget hostSaveTarget(NameTarget names, const HostFolder& folder,
                          const std::vector<FileIdentity>& givenFiles) {
    return SaveTarget{names, hostNameRules(), hostNamesOfFiles(folder, givenFiles)};
}

HostFolder hostCurrentFolder() {
    return HostFolder{AT_FDCWD, {}};
}

bool hostOpenFolder(const char* path, bool createParents, HostFolder& folder, int& error) {
    bool made = false;
    if (createParents) {
        std::string part(path);
        while (part.size() > 1 && part.back() == '/') {
            part.pop_back(); // "out/" is made as "out" is
        }
        for (size_t slash = part.find('/', 1);; slash = part.find('/', slash + 1)) {
            const std::string prefix = part.substr(0, slash);
            const bool madeNow = !prefix.empty() && mkdir(prefix.c_str(), 0777) == 0;
            if (!madeNow && !prefix.empty() && errno != EEXIST) {
                error = errno;
                return false;
            }
            if (slash == std::string::npos) {
                made = madeNow;
                break;
            }
        }
    }
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    folder = HostFolder{fd, {}};
    folder.made = made;
    return true;
}

bool hostRemoveMadeFolder(HostFolder& folder, const char* path) {
    const bool made = folder.made;
    hostCloseFolder(folder);
    return made && rmdir(path) == 0;
}

void hostCloseFolder(HostFolder& folder) {
    if (folder.descriptor >= 0) {
        close(folder.descriptor);
    }
    folder = hostCurrentFolder();
}

bool hostFolderWritable(const HostFolder& folder, int& error) {
    if (folder.notMadeYet) {
        return true;
    }
    if (faccessat(folder.descriptor, ".", W_OK | X_OK, 0) != 0) {
        error = errno;
        return false;
    }
    return true;
}

namespace {

// What stands under `path` in `folder`, checked before a new file is written for it: Replaced
// when the new file may go on (`existed` then tells whether it replaces the regular file
// `info`), otherwise the refusal.
ReplaceResult checkTarget(int folder, const char* path, Existing existing, struct stat& info,
                          bool& existed) {
    if (path[0] == '\0') {
        return refusal(ReplaceOutcome::CannotCreate, ENOENT);
    }
    existed = fstatat(folder, path, &info, AT_SYMLINK_NOFOLLOW) == 0;
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
        if (existing == Existing::Keep) {
            return ReplaceResult{ReplaceOutcome::Kept, 0, true};
        }
        // A file that the user may not write (read-only, in use as a program) stays as it is.
        const int fd = openat(folder, path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return refusal(ReplaceOutcome::CannotCreate, errno);
        }
        close(fd);
    } else if (errno != ENOENT) {
        return refusal(ReplaceOutcome::CannotCreate, errno);
    }
    return ReplaceResult{ReplaceOutcome::Replaced, 0, existed};
}

} // namespace

ReplaceResult hostReplaceFile(const HostFolder& where, const char* path, NameSource,
                              const uint8_t* data, size_t length, Existing existing) {
    const int folder = where.descriptor;
    struct stat info;
    bool existed = false;
    const ReplaceResult checked = checkTarget(folder, path, existing, info, existed);
    if (checked.outcome != ReplaceOutcome::Replaced) {
        return checked;
    }
    std::string folderPath;
    std::string name;
    splitPath(path, folderPath, name);
    return existed ? replaceExisting(folder, folderPath, path, info, data, length)
                   : createNew(folder, folderPath, path, data, length);
}

ReplaceResult hostReplaceFile(const char* path, NameSource source, const uint8_t* data,
                              size_t length) {
    return hostReplaceFile(hostCurrentFolder(), path, source, data, length);
}

bool hostClosedPipeEndsQuietly() {
    return pipeSignalWasDefault;
}

bool hostReaderLeft(FILE* stream, int error) {
    if (error == EPIPE) {
        return true;
    }
    // The error may have been met by an earlier write: a pipe or socket without a reader says
    // so when it is polled.
    struct stat info;
    const int fd = fileno(stream);
    if (fd < 0 || fstat(fd, &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))) {
        return false;
    }
    pollfd ready{fd, POLLOUT, 0};
    return poll(&ready, 1, 0) == 1 && (ready.revents & (POLLERR | POLLHUP)) != 0;
}

void hostEndByClosedPipe() {
    signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
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

bool hostTerminalIsUtf8() {
    // The locale that the environment names, read without making it the program's own.
    static int known = -1;
    if (known < 0) {
        known = 0;
        const locale_t environment = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
        if (environment != static_cast<locale_t>(0)) {
            const char* set = nl_langinfo_l(CODESET, environment);
            known =
                set != nullptr && (strcasecmp(set, "UTF-8") == 0 || strcasecmp(set, "UTF8") == 0)
                    ? 1
                    : 0;
            freelocale(environment);
        } else {
            // A locale that is not installed: its name still says what the terminal shows.
            const char* name = nullptr;
            for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
                name = getenv(variable);
                if (name != nullptr && name[0] != '\0') {
                    break;
                }
            }
            const char* dot = name != nullptr ? strchr(name, '.') : nullptr;
            known = dot != nullptr && (strncasecmp(dot + 1, "UTF-8", 5) == 0 ||
                                       strncasecmp(dot + 1, "UTF8", 4) == 0)
                        ? 1
                        : 0;
        }
    }
    return known == 1;
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

bool hostNamesAreUnicode() {
    return false;
}

// Files written piece by piece (PendingFile.h): unnamed (O_TMPFILE) where the file system has
// such files, so that nothing is left whatever ends the program, else under a temporary name
// that the signal handler knows.
struct PendingFile {
    int folder;
    std::string folderPath; // the folder of `path`, relative to `folder`
    std::string path;
    bool existed; // a regular file stands under `path`, described by `old`
    struct stat old;
    int fd;                // open for reading and writing
    std::string temporary; // its name while it has a temporary one
    int slot;              // its place in pendingNames, -1 when none
    FILE* readBack;
};

namespace {

// Gives `file` a new named temporary file beside its name, recorded for the signal handler.
// Returns its descriptor, or -1 with errno set.
int createPendingTemporary(PendingFile& file) {
    watchSignals();
    int slot = 0;
    while (slot < MAX_PENDING_FILES && pendingNames[slot] != nullptr) {
        ++slot;
    }
    if (slot == MAX_PENDING_FILES) {
        errno = EMFILE;
        return -1;
    }
    static unsigned counter = 0;
    for (;;) {
        file.temporary = file.folderPath + "/.d88extract-" + std::to_string(getpid()) + "-p" +
                         std::to_string(counter++) + ".tmp";
        const int fd = openat(file.folder, file.temporary.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Ours from now on: only then may a signal remove it.
            pendingNameFolders[slot] = file.folder;
            pendingNames[slot] = file.temporary.c_str();
            file.slot = slot;
            return fd;
        }
        if (errno != EEXIST) {
            file.temporary.clear();
            return -1;
        }
    }
}

// Removes the file's temporary name, when it has one.
void removePendingName(PendingFile& file) {
    if (file.slot >= 0) {
        unlinkat(file.folder, file.temporary.c_str(), 0);
        pendingNames[file.slot] = nullptr;
        file.slot = -1;
    }
}

void closeReadBack(PendingFile& file) {
    if (file.readBack != nullptr) {
        fclose(file.readBack);
        file.readBack = nullptr;
    }
}

// Copies the unnamed file's bytes into a named temporary file, which it then is. False with
// errno set.
bool copyToTemporary(PendingFile& file) {
    const int from = file.fd;
    const int to = createPendingTemporary(file);
    if (to < 0) {
        return false;
    }
    uint8_t chunk[65536];
    int error = 0;
    for (off_t at = 0;;) {
        const ssize_t got = pread(from, chunk, sizeof chunk, at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        if (!writeAll(to, chunk, static_cast<size_t>(got), error)) {
            break;
        }
        at += got;
    }
    close(from);
    file.fd = to;
    errno = error;
    return error == 0;
}

// Names a file written under a temporary name.
ReplaceResult nameFromTemporary(PendingFile& file) {
    int error = 0;
    if (file.existed) {
        takeOver(file.fd, file.old);
        if (fsync(file.fd) != 0) {
            error = errno;
        }
    }
    if (close(file.fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        removePendingName(file);
        return ReplaceResult{ReplaceOutcome::CannotWrite, error, file.existed};
    }
    hostPauseBeforeName();
    const bool named =
        file.existed
            ? renameat(file.folder, file.temporary.c_str(), file.folder, file.path.c_str()) == 0
            : renameNoReplace(file.folder, file.temporary, file.path.c_str());
    if (!named) {
        error = errno;
        removePendingName(file);
        return error == EEXIST && !file.existed
                   ? whatAppeared(file.folder, file.path.c_str())
                   : ReplaceResult{ReplaceOutcome::CannotCreate, error, file.existed};
    }
    pendingNames[file.slot] = nullptr;
    file.slot = -1;
    return ReplaceResult{ReplaceOutcome::Replaced, 0, file.existed};
}

// Names an unnamed file: linked under a free name, or, over a regular file, linked under a
// temporary name and renamed over it.
ReplaceResult nameUnnamedFile(PendingFile& file) {
    if (!file.existed) {
        hostPauseBeforeName();
        if (nameUnnamed(file.fd, file.folder, file.path.c_str())) {
            const int closeError = closeNamed(file.fd, file.folder, file.path);
            return closeError == 0 ? ReplaceResult{ReplaceOutcome::Replaced, 0, false}
                                   : ReplaceResult{ReplaceOutcome::CannotWrite, closeError, false};
        }
        const int linkError = errno;
        if (linkError == EEXIST ||
            (linkError != ENOENT && linkError != EXDEV && linkError != EPERM)) {
            close(file.fd);
            return linkError == EEXIST
                       ? whatAppeared(file.folder, file.path.c_str())
                       : ReplaceResult{ReplaceOutcome::CannotCreate, linkError, false};
        }
        // /proc is not there to name it by: copied under a temporary name.
        if (!copyToTemporary(file)) {
            const int error = errno;
            close(file.fd);
            removePendingName(file);
            return ReplaceResult{ReplaceOutcome::CannotWrite, error, false};
        }
        return nameFromTemporary(file);
    }
    takeOver(file.fd, file.old);
    int error = fsync(file.fd) != 0 ? errno : 0;
    std::string temporary;
    if (error == 0 && !nameTemporary(file.fd, file.folder, file.folderPath, temporary)) {
        const int linkError = errno;
        close(file.fd);
        return ReplaceResult{ReplaceOutcome::CannotCreate, linkError, true};
    }
    if (close(file.fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        if (!temporary.empty()) {
            removeTemporary(file.folder, temporary);
        }
        return ReplaceResult{ReplaceOutcome::CannotWrite, error, true};
    }
    hostPauseBeforeName();
    if (renameat(file.folder, temporary.c_str(), file.folder, file.path.c_str()) != 0) {
        error = errno;
        removeTemporary(file.folder, temporary);
        return ReplaceResult{ReplaceOutcome::CannotCreate, error, true};
    }
    temporaryPending = 0;
    return ReplaceResult{ReplaceOutcome::Replaced, 0, true};
}

} // namespace

PendingFile* hostStartFile(const HostFolder& where, const char* path, NameSource,
                           ReplaceResult& refused) {
    PendingFile* file = new PendingFile{where.descriptor, {}, path, false, {}, -1, {}, -1, nullptr};
    refused = checkTarget(file->folder, path, Existing::Replace, file->old, file->existed);
    if (refused.outcome != ReplaceOutcome::Replaced) {
        delete file;
        return nullptr;
    }
    std::string name;
    splitPath(path, file->folderPath, name);
#ifdef O_TMPFILE
    file->fd = openat(file->folder, file->folderPath.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
#endif
    if (file->fd < 0) {
        file->fd = createPendingTemporary(*file);
    }
    if (file->fd < 0) {
        refused = ReplaceResult{ReplaceOutcome::CannotCreate, errno, file->existed};
        delete file;
        return nullptr;
    }
    return file;
}

bool hostWriteFile(PendingFile* file, const uint8_t* data, size_t length, int& error) {
    return writeAll(file->fd, data, length, error);
}

FILE* hostReadBack(PendingFile* file) {
    if (file->readBack == nullptr) {
        // The copy shares the file offset: the reader seeks before every read.
        const int copy = fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
        file->readBack = copy >= 0 ? fdopen(copy, "rb") : nullptr;
        if (copy >= 0 && file->readBack == nullptr) {
            close(copy);
        }
    }
    return file->readBack;
}

ReplaceResult hostNameFile(PendingFile* file) {
    closeReadBack(*file);
    const ReplaceResult result =
        file->temporary.empty() ? nameUnnamedFile(*file) : nameFromTemporary(*file);
    delete file;
    return result;
}

void hostDropFile(PendingFile* file) {
    closeReadBack(*file);
    close(file->fd);
    removePendingName(*file);
    delete file;
}

void hostHoldEndingSignals(bool hold) {
    // The signals that come from outside (a terminal, kill, a timer); those that a fault raises
    // cannot wait.
    static const int held[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1,
                               SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : held) {
        sigaddset(&set, signalNumber);
    }
#ifdef SIGRTMIN
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
        sigaddset(&set, signalNumber);
    }
#endif
    // Let through, the mask is as before; one that came meanwhile is delivered then.
    static sigset_t before;
    if (hold) {
        sigprocmask(SIG_BLOCK, &set, &before);
    } else {
        sigprocmask(SIG_SETMASK, &before, nullptr);
    }
}

#if defined(__linux__) && defined(MADV_HUGEPAGE)
namespace {

constexpr uintptr_t LARGE_PAGE_BYTES = uintptr_t{2} << 20;
constexpr uintptr_t PAGE_BYTES = 4096;

size_t roundedUp(size_t size, uintptr_t unit) {
    return (size + unit - 1) & ~(unit - 1);
}

} // namespace

uint8_t* hostHeldMemory(size_t size) {
    // Mapped with room to align its start to a large page; the rest is given back at once. Only
    // the large pages that it fills whole are asked for, so that it takes no more memory than
    // its 4 KiB pages; all of it is then made present at once, which is faster than a page
    // fault for each page as it is first written.
    const size_t length = roundedUp(size, PAGE_BYTES);
    if (size == 0 || length < size || length + LARGE_PAGE_BYTES < length) {
        return nullptr;
    }
    void* mapped = mmap(nullptr, length + LARGE_PAGE_BYTES, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = roundedUp(start, LARGE_PAGE_BYTES);
    if (aligned > start) {
        munmap(mapped, aligned - start);
    }
    const uintptr_t end = start + length + LARGE_PAGE_BYTES;
    if (end > aligned + length) {
        munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    }
    uint8_t* bytes = reinterpret_cast<uint8_t*>(aligned);
    // Hints: the memory is as good without them.
    if (length >= LARGE_PAGE_BYTES) {
        madvise(bytes, length & ~(LARGE_PAGE_BYTES - 1), MADV_HUGEPAGE);
    }
#ifdef MADV_POPULATE_WRITE
    madvise(bytes, length, MADV_POPULATE_WRITE);
#endif
    return bytes;
}

void hostFreeHeldMemory(uint8_t* bytes, size_t size) {
    if (bytes != nullptr) {
        munmap(bytes, roundedUp(size, PAGE_BYTES));
    }
}
#else
uint8_t* hostHeldMemory(size_t size) {
    return static_cast<uint8_t*>(malloc(size));
}

void hostFreeHeldMemory(uint8_t* bytes, size_t) {
    free(bytes);
}
#endif
