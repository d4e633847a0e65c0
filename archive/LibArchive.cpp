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
    const char* failed = library == nullptr ? dlerror() : nullptr;
    functions.ready =
        library != nullptr && lookUp(library, "archive_read_new", functions.readNew) &&
        lookUp(library, "archive_read_free", functions.readFree) &&
        lookUp(library, "archive_read_support_format_zip_seekable", functions.supportZipSeekable) &&
        lookUp(library, "archive_read_set_options", functions.setOptions) &&
        lookUp(library, "archive_read_open_fd", functions.openFd) &&
        lookUp(library, "archive_read_next_header", functions.nextHeader) &&
        lookUp(library, "archive_read_data", functions.readData) &&
        lookUp(library, "archive_error_string", functions.errorString) &&
        lookUp(library, "archive_entry_pathname", functions.entryPathname);
    if (!functions.ready) {
        functions.problem = std::string(D88_LIBARCHIVE) + ", which reads zips, cannot be loaded" +
                            (failed != nullptr ? std::string(": ") + failed
                                               : std::string(": it lacks a function that is used"));
    }
    return functions;
}

} // namespace

const LibArchive& libArchive() {
    static const LibArchive loaded = load();
    return loaded;
}
