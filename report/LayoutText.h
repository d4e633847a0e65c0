// Which directory layout yields files from an image, in the words of d88info's line under the
// disks; the page shows the same lines.
#pragma once

#include "ImageFacts.h"

#include <string>

// How to make one image of a set kept as separate disk files: indented lines, each ending in a
// line feed.
std::string joinHintText();

// "disk set: layout a (d88extract-a), 7 files" (both layouts when both yield files, "no files
// in either layout" when neither does), with a line feed, then a hint when Disk A lies after
// the disk the directory was read from. With `programs` the image is read as the set's own
// programs read one file: with fewer than four disks that is said instead, with the join hint.
std::string layoutLinesText(const ImagePlan& plan, bool programs);
