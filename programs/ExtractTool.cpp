#include "ExtractTool.h"

#include "Extraction.h"
#include "Host.h"
#include "Messages.h"
#include "Plan.h"

#include "ImageFile.h"

#include <cstdio>
#include <vector>

namespace {

// The walk's buffers live as long as the program, as the set's programs have them.
WalkBuffers buffers;

} // namespace

int runExtractTool(d88::D88Image& image, const DirectoryLayout& layout, int argc,
                   const char* const* argv) {
    if (argc != 2) {
        // With no word at all (some systems pass an empty one instead) show our own name.
        const bool typedName = argc >= 1 && argv[0] != nullptr && argv[0][0] != '\0';
        hostPrintfLocal(stderr, MSG_USAGE, typedName ? argv[0] : layout.programName);
        return 1;
    }
    // The file stays open until the program ends, as the image reads it.
    int64_t size = 0;
    FILE* file = d88::openImageFile(argv[1], size);
    if (file == nullptr || !image.openStreams(&file, 1)) {
        hostPrintf(stderr, "%s", MSG_CANNOT_OPEN_IMAGE);
        return 1;
    }
    std::vector<FileIdentity> imageFile(1);
    if (!hostFileIdentity(file, imageFile[0])) {
        imageFile.clear();
    }
    if (!holdsEnoughDisks(image.diskCount())) {
        hostPrintf(stderr, "%s", MSG_TOO_FEW_DISKS);
        return 1; // the image stays open until it is destroyed at exit
    }
    const DiskChoice disks = programsDiskChoice(image.diskCount(), readIdSectors(image));
    const HostFolder here = hostCurrentFolder();
    const DirectoryRead directory = readDirectory(image, disks, buffers);
    const SetPlan plan = planSet(image, disks, directory, layout,
                                 hostSaveTarget(NameTarget::Host, here, imageFile), buffers);
    std::vector<FileResult> results;
    const bool allWritten =
        extractPlan(image, plan, here, buffers, RunText{stdout, stderr, false, nullptr},
                    WriteManner{Existing::Replace, nullptr}, results);
    if (fflush(stdout) != 0 || ferror(stdout)) {
        hostPrintf(stderr, "%s", MSG_CANNOT_WRITE_STDOUT);
        return 1;
    }
    return allWritten ? 0 : 1;
}
