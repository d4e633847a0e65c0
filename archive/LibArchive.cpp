#include "LibArchive.h"

#include <dlfcn.h>

#ifndef D88_LIBARCHIVE
#error "D88_LIBARCHIVE names the shared libarchive to load"
#endif

namespace {

template <typename Function> bool lookUp(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

LibArchive load() {
    LibArchive functions{};
    void* library = dlopen(D88_LIBARCHIVE, RTLD_NOW | RTLD_LOCAL);
    functions.ready =
        library != nullptr && lookUp(library, "archive_read_new", functions.readNew) &&
        lookUp(library, "archive_read_free", functions.readFree) &&
        lookUp(library, "archive_read_support_format_zip_seekable", functions.supportZipSeekable) &&
        lookUp(library, "archive_read_open_fd", functions.openFd) &&
        lookUp(library, "archive_read_next_header", functions.nextHeader) &&
        lookUp(library, "archive_read_data", functions.readData) &&
        lookUp(library, "archive_error_string", functions.errorString) &&
        lookUp(library, "archive_entry_filetype", functions.entryFiletype) &&
        lookUp(library, "archive_entry_size_is_set", functions.entrySizeIsSet) &&
        lookUp(library, "archive_entry_size", functions.entrySize) &&
        lookUp(library, "archive_entry_pathname_utf8", functions.entryPathnameUtf8) &&
        lookUp(library, "archive_entry_pathname", functions.entryPathname) &&
        lookUp(library, "archive_entry_is_encrypted", functions.entryIsEncrypted);
    return functions;
}

} // namespace

const LibArchive& libArchive() {
    static const LibArchive loaded = load();
    return loaded;
}
