// The functions that the page's C++ calls (PageSession.h): each copies what it is handed out of
// the module's memory and passes it to the worker's handlers in Module.listing.
mergeInto(LibraryManager.library, {
  d88web_document: function (json, length) {
    Module['listing'].document(JSON.parse(UTF8ToString(json, length)));
  },
  d88web_pieces: function (numbers, count) {
    Module['listing'].pieces(HEAPF64.slice(numbers >> 3, (numbers >> 3) + count));
  },
  d88web_inline: function (bytes, length) {
    Module['listing'].inline(HEAPU8.slice(bytes, bytes + length));
  },
  d88web_output: function (part, bytes, length) {
    Module['listing'].output(part, HEAPU8.slice(bytes, bytes + length));
  },
});
