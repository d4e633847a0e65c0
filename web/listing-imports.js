// The functions that ImageListing.cpp calls: each copies what it is handed out of the module's
// memory and passes it to the worker's handlers in Module.listing.
mergeInto(LibraryManager.library, {
  d88web_disk: function (index, name, nameLength, setId) {
    Module['listing'].disk(index, HEAPU8.slice(name, name + nameLength), setId);
  },
  d88web_entry: function (index, name, nameLength, diskNumber, track, sector, size, outcome,
                          bytesRead, data, sectors, errorSectors) {
    Module['listing'].entry({
      index: index,
      name: HEAPU8.slice(name, name + nameLength),
      diskNumber: diskNumber,
      track: track,
      sector: sector,
      size: size,
      outcome: UTF8ToString(outcome),
      bytesRead: bytesRead,
      data: data ? HEAPU8.slice(data, data + size) : null,
      sectors: sectors,
      errorSectors: errorSectors,
    });
  },
  d88web_summary: function (line, directoryErrors) {
    Module['listing'].summary(UTF8ToString(line).replace(/\n$/, ''),
                              UTF8ToString(directoryErrors).replace(/\n$/, ''));
  },
});
