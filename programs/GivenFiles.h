// The files that d88extract and d88info read: the paths given, in the order given, each zip
// replaced by its members that hold D88 disks, in the order in which the page joins them. The
// other members are left out and named; a zip that cannot be unpacked safely is refused.
#pragma once

#include "DiskSet.h"
#include "Host.h"
#include "UnpackedZip.h"

#include "D88Image.h"

#include <string>
#include <vector>

// What the image reads: the files given and the members unpacked, with the names they are shown
// under ("set.zip/A.d88" for a member). Kept open while the image is read.
struct GivenFiles {
    std::vector<std::string> names;
    std::vector<OwnedFile> files;
    std::vector<OwnedFile> zips; // the zips given, never written over though not read again
    std::vector<FileIdentity> identities; // of every file given, zips included
    SameFiles sameFiles; // for each file read, the earlier one that is the same file, or -1
};

// Opens the files `paths` into `given` and, unless `openImage` is false, has `image` read them
// joined (openGivenImage); `image` serves to tell zips from images meanwhile. On success `paths`
// holds their shown names (pointing into `given`). False after a message on standard error, in
// the words of `program`.
bool openGivenFiles(const char* program, std::vector<const char*>& paths, GivenFiles& given,
                    d88::D88Image& image, bool openImage = true);

// Has `image` read the files of `given` joined, from the files. False after a message.
bool openGivenImage(const char* program, const GivenFiles& given, d88::D88Image& image);
