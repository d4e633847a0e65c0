// libarchive's functions that the zip reader uses, from the system's libarchive, loaded the
// first time a zip is met.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <string>

struct LibArchive {
    bool ready;          // false: libarchive cannot be loaded, and no zip is read
    std::string problem; // then: why, in a line that names the library
    decltype(&archive_read_new) readNew;
    decltype(&archive_read_free) readFree;
    decltype(&archive_read_support_format_zip_seekable) supportZipSeekable;
    decltype(&archive_read_set_options) setOptions;
    decltype(&archive_read_open_fd) openFd;
    decltype(&archive_read_next_header) nextHeader;
    decltype(&archive_read_data) readData;
    decltype(&archive_error_string) errorString;
    decltype(&archive_entry_pathname) entryPathname;
};

// The library, loaded once.
const LibArchive& libArchive();
