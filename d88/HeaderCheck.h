// Whether bytes are a D88 disk: a header's fields must agree with each other, with the files
// that hold them and with the tracks they point at, as emulators check a file before they trust
// it. A damaged disk whose header still agrees is a disk (its damage is reported elsewhere); a
// text, a picture, an archive, or bytes from the middle of a disk are not.
#pragma once

#include "D88Format.h"

#include <cstdint>

namespace d88 {

// Copies `length` bytes of the image from `position` into `out`; false when the image ends
// before them.
using ImageBytes = bool (*)(const void* context, int64_t position, uint8_t* out, int length);

struct HeaderCheck {
    bool mediaKnown;       // the media byte is one the format knows (2D, 2DD, 2HD, 1D, 1DD)
    bool protectKnown;     // the write-protect byte is 0x00 or 0x10
    bool sizeCoversHeader; // the disk size is at least the header's 688 bytes
    bool pastEnd;          // the disk reaches past the end of the files
    int presentTracks;     // track table entries that are not 0
    int tracksInside;      // of them, those after the header and inside the disk
    bool firstTrackStored; // the lowest of those starts inside the files
    bool trackLooksRight;  // one of the lowest four of those starts with a sector record whose
                           // header is one a disk holds there: a count, a size code up to 8, a
                           // data length up to 16 KiB, and the cylinder of that track
};

// Checks the header of a disk whose header starts at image position `start`, in an image of
// `imageEnd` bytes, reading the records its tracks start with through `bytes`.
HeaderCheck checkDiskHeader(const DiskHeader& header, int64_t start, int64_t imageEnd,
                            ImageBytes bytes, const void* context);

// The vote: the media and write-protect bytes are known, the size covers the header, most
// present tracks lie inside the disk, the first of them is stored and one of the first starts
// as a track does; a disk without tracks must be a whole header of its own.
bool looksLikeDisk(const HeaderCheck& check);

} // namespace d88
