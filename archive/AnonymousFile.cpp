#include "AnonymousFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

int openAnonymousFile(std::string& folder) {
    const char* tmpdir = getenv("TMPDIR");
    folder = tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
#ifdef O_TMPFILE
    const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
#endif
    std::string path = folder + "/d88extract-XXXXXX";
    const int named = mkostemp(&path[0], O_CLOEXEC);
    if (named >= 0) {
        unlink(path.c_str());
    }
    return named;
}
