// The page's worker: joins the picked files as `cat` would, lists the image with the project's
// C++ (the reader and the directory walk, compiled to WebAssembly) and makes the zip, so that
// the page stays responsive while it works. The page builds it from this text and the module's.
/* global createListingModule, LISTING_WASM_BASE64, fflate */
'use strict';

const IMAGE_FOLDER = '/input';
const IMAGE_PATH = IMAGE_FOLDER + '/image.d88';
// The walk runs here, apart from the image, as a native run does in an output folder.
const WORK_FOLDER = '/out';
const MIN_DISKS = 4;

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) {
    bytes[i] = binary.charCodeAt(i);
  }
  return bytes;
}

// What the C++ side hands over during one call (see listing-imports.js).
let received = null;
const listing = {
  disk(index, name, setId) {
    received.disks.push({ index, name, setId });
  },
  entry(entry) {
    received.entries.push(entry);
  },
  summary(line, directoryErrors) {
    received.summary = line;
    received.directoryErrors = directoryErrors;
  },
};

const ready = createListingModule({
  wasmBinary: decodeBase64(LISTING_WASM_BASE64),
  listing,
  print() {},
  printErr() {},
}).then((module) => {
  module.FS.mkdir(IMAGE_FOLDER);
  module.FS.mkdir(WORK_FOLDER);
  module.FS.chdir(WORK_FOLDER);
  return module;
});

let entriesOfListing = []; // of the last listing, for the zip

function listLayout(module, letter) {
  received = { disks: [], entries: [], summary: '' };
  module.ccall('d88web_list_set', 'boolean', ['string'], [letter]);
  entriesOfListing = received.entries;
  const entries = received.entries.map((entry) => {
    const row = Object.assign({}, entry);
    row.data = null;
    row.file = entry.data ? new Blob([entry.data]) : null;
    return row;
  });
  return { layout: letter, entries, summary: received.summary,
           directoryErrors: received.directoryErrors };
}

async function openImage(module, files) {
  const bytes = new Uint8Array(await new Blob(files).arrayBuffer());
  if (module.FS.analyzePath(IMAGE_PATH).exists) {
    module.FS.unlink(IMAGE_PATH);
  }
  module.FS.writeFile(IMAGE_PATH, bytes);
  received = { disks: [], entries: [], summary: '' };
  const diskCount = module.ccall('d88web_open', 'number', ['string'], [IMAGE_PATH]);
  const result = { imageBytes: bytes.length, diskCount, disks: received.disks };
  entriesOfListing = [];
  if (diskCount < MIN_DISKS) {
    return result;
  }
  result.counts = {
    a: module.ccall('d88web_count_files', 'number', ['string'], ['a']),
    b: module.ccall('d88web_count_files', 'number', ['string'], ['b']),
  };
  // As d88info's layout line decides: the first layout whose directory yields files.
  const letter = result.counts.a > 0 || result.counts.b === 0 ? 'a' : 'b';
  return Object.assign(result, listLayout(module, letter));
}

// The files that the extraction writes, under their names: a later entry of the same name
// replaces an earlier one, as it does in the folder.
function makeZip(names) {
  const files = Object.create(null);
  entriesOfListing.forEach((entry, i) => {
    if (entry.data) {
      delete files[names[i]]; // keeps the order in which the folder's files were last written
      files[names[i]] = entry.data;
    }
  });
  return new Blob([fflate.zipSync(files, { level: 6 })], { type: 'application/zip' });
}

async function answer(request) {
  try {
    const module = await ready;
    if (request.type === 'open') {
      self.postMessage(Object.assign({ type: 'listing', id: request.id },
                                     await openImage(module, request.files)));
    } else if (request.type === 'layout') {
      self.postMessage(Object.assign({ type: 'layout', id: request.id },
                                     listLayout(module, request.layout)));
    } else if (request.type === 'zip') {
      self.postMessage({ type: 'zip', id: request.id, zip: makeZip(request.names) });
    }
  } catch (error) {
    self.postMessage({ type: 'failure', id: request.id, message: String(error) });
  }
}

// One request at a time, in the order sent: each listing replaces the image of the one before.
let queue = Promise.resolve();
self.onmessage = (event) => {
  queue = queue.then(() => answer(event.data));
};
