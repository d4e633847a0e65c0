// The functions that ImageListing.cpp calls: each copies what it is handed out of the module's
// memory and passes it to the worker's handlers in Module.listing.
mergeInto(LibraryManager.library, {
  d88web_part_order: function (order, count, problem, first, second) {
    Module['listing'].partOrder({
      order: Array.from(HEAP32.subarray(order >> 2, (order >> 2) + count)),
      problem: UTF8ToString(problem),
      named: [first, second].filter((part) => part >= 0),
    });
  },
  d88web_document: function (json, length) {
    Module['listing'].document(JSON.parse(UTF8ToString(json, length)));
  },
  d88web_file: function (index, data, size) {
    Module['listing'].file(index, HEAPU8.slice(data, data + size));
  },
  d88web_summary: function (line, directoryErrors) {
    Module['listing'].summary(UTF8ToString(line), UTF8ToString(directoryErrors));
  },
});
