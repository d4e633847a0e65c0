// The Windows build reads no zip: Debian has libarchive (and libzip) for Linux only, and its
// MinGW-w64 zlib inflates but reads no zip's directory, which would have to be parsed here by
// hand. Explorer unpacks a zip (Extract All); the disk files are then given as they are.
#include "UnpackedZip.h"

UnpackedZip unpackZip(FILE*, const char*, const ZipRunSoFar&) {
    UnpackedZip zip{};
    zip.verdict.refusal = ZipRefusal::NotUnpacked;
    return zip;
}
