// The command line of the extraction programs.
#pragma once

#include "DirectoryLayout.h"

#include "D88Image.h"

// Checks the arguments, opens the image named by the one argument, requires four disks and
// walks the directory. Returns the exit status.
int runExtractTool(d88::D88Image& image, const DirectoryLayout& layout, int argc,
                   const char* const* argv);
