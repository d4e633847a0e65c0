#include "ExtractTool.h"

#include "DirectoryWalk.h"
#include "Plan.h"
#include "Host.h"
#include "Messages.h"

#include <cstdio>

int runExtractTool(d88::D88Image& image, const DirectoryLayout& layout, int argc,
                   const char* const* argv) {
    if (argc != 2) {
        // With no word at all (some systems pass an empty one instead) show our own name.
        const bool typedName = argc >= 1 && argv[0] != nullptr && argv[0][0] != '\0';
        hostPrintfLocal(stderr, MSG_USAGE, typedName ? argv[0] : layout.programName);
        return 1;
    }
    if (!image.open(argv[1])) {
        hostPrintf(stderr, "%s", MSG_CANNOT_OPEN_IMAGE);
        return 1;
    }
    if (image.diskCount() < MIN_SET_DISKS) {
        hostPrintf(stderr, "%s", MSG_TOO_FEW_DISKS);
        return 1; // the image stays open until it is destroyed at exit
    }
    const bool allWritten = walkDirectory(image, layout, NameTarget::Host, stdout, stderr);
    if (fflush(stdout) != 0 || ferror(stdout)) {
        hostPrintf(stderr, "%s", MSG_CANNOT_WRITE_STDOUT);
        return 1;
    }
    return allWritten ? 0 : 1;
}
