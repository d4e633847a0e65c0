// Opening a file that the reader reads as (a piece of) an image.
#pragma once

#include <cstdint>
#include <cstdio>

namespace d88 {

// Opens `path` for binary reading, unbuffered (every read goes into the reader's own blocks),
// and finds its length in `size`. Only a regular file (or a block device) is an image: a folder
// fails with EISDIR, a character device (a terminal, /dev/null) with ENODEV, and a pipe or
// socket with ESPIPE, since the reader seeks all over the file; opening one of them never waits
// for a writer. On Windows `path` is UTF-8, opened through the wide API whatever the code page.
// Null when the file cannot be opened, errno saying why.
FILE* openImageFile(const char* path, int64_t& size);

} // namespace d88
