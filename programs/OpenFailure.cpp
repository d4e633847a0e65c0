#include "OpenFailure.h"

#include "Host.h"
#include "ShownName.h"

#include <cerrno>
#include <cstring>
#include <string>

void printFileOpenFailure(const char* program, const char* path, int error) {
    const std::string shown = shownPath(path, stderr);
    if (error == ESPIPE) {
        hostPrintfLocal(stderr,
                        "%s: cannot read '%s': it is a pipe or a terminal, and an image is read "
                        "by seeking; save it to a file first\n",
                        program, shown.c_str());
    } else if (error == ENODEV) {
        hostPrintfLocal(stderr,
                        "%s: cannot read '%s': it is a device, not an image file; save the image "
                        "to a file first\n",
                        program, shown.c_str());
    } else {
        hostPrintfLocal(stderr, "%s: cannot open '%s': %s\n", program, shown.c_str(),
                        strerror(error));
    }
}
