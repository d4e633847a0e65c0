// The page's worker: unpacks zips, joins the picked files as `cat` would, lists the image with
// the project's C++ (the reader and the directory walk, compiled to WebAssembly) and makes the
// zip, so that the page stays responsive while it works. The page builds it from this text and
// the module's. Every answer names the image and the layout that it belongs to, as the request
// did, so that the page can tell answers to an earlier request apart.
/* global createListingModule, LISTING_WASM_BASE64, fflate */
'use strict';

const IMAGE_FOLDER = '/input';
const IMAGE_PATH = IMAGE_FOLDER + '/image.d88';
const MEMBER_PATH = IMAGE_FOLDER + '/member.d88';
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

// The image in the module's file system, and the set listing made from it last, whose files
// the zip holds.
let openImageId = null;
let lastSet = null; // { image, layout, entries }

function removeFile(module, path) {
  if (module.FS.analyzePath(path).exists) {
    module.FS.unlink(path);
  }
}

function writeFile(module, path, bytes) {
  removeFile(module, path);
  module.FS.writeFile(path, bytes);
}

function listSet(module, image, layout) {
  received = { disks: [], entries: [], summary: '' };
  module.ccall('d88web_list_set', 'boolean', ['string'], [layout]);
  lastSet = { image, layout, entries: received.entries };
  const entries = received.entries.map((entry) => {
    const row = Object.assign({}, entry);
    row.data = null;
    row.file = entry.data ? new Blob([entry.data]) : null;
    return row;
  });
  return { layout, entries, summary: received.summary,
           directoryErrors: received.directoryErrors };
}

// A zip starts with a member's local header, or, when it holds nothing, with its end record.
const isZip = (bytes) => bytes.length >= 4 && bytes[0] === 0x50 && bytes[1] === 0x4b &&
                         ((bytes[2] === 3 && bytes[3] === 4) || (bytes[2] === 5 && bytes[3] === 6));

// The files to join: the picked ones, each zip replaced by its members that hold D88 disks.
// Returns { parts: [{ name, blob }], refused }: `refused` says why a zip gave nothing.
async function unpack(module, files) {
  const parts = [];
  for (const file of files) {
    if (!isZip(new Uint8Array(await file.blob.slice(0, 4).arrayBuffer()))) {
      parts.push(file);
      continue;
    }
    let members;
    try {
      members = fflate.unzipSync(new Uint8Array(await file.blob.arrayBuffer()));
    } catch (error) {
      return { refused: `${file.name} is a zip that cannot be unpacked (${error.message}).` };
    }
    const others = [];
    let found = 0;
    for (const [name, member] of Object.entries(members)) {
      if (name.endsWith('/')) {
        continue; // a folder
      }
      writeFile(module, MEMBER_PATH, member);
      if (module.ccall('d88web_disk_count', 'number', ['string'], [MEMBER_PATH]) > 0) {
        parts.push({ name: name.replace(/^.*\//, ''), blob: new Blob([member]) });
        found += 1;
      } else {
        others.push(name);
      }
    }
    removeFile(module, MEMBER_PATH);
    if (found === 0) {
      const held = others.length ? `it holds ${others.join(', ')}` : 'it is empty';
      return { refused: `${file.name} holds no D88 disk image: ${held}.` };
    }
  }
  return { parts };
}

async function joinAndOpen(module, parts) {
  const bytes = new Uint8Array(await new Blob(parts.map((part) => part.blob)).arrayBuffer());
  writeFile(module, IMAGE_PATH, bytes);
  received = { disks: [], entries: [], summary: '' };
  const diskCount = module.ccall('d88web_open', 'number', ['string'], [IMAGE_PATH]);
  return { imageBytes: bytes.length, diskCount, disks: received.disks };
}

// Opens the files as one image and lists it in the layout that fits. With `arrange`, zips are
// unpacked, the files sorted by name and the one holding Disk A put first, as d88extract
// orders them; otherwise they are joined in the order given.
async function openImage(module, request) {
  lastSet = null;
  openImageId = null;
  let parts = request.parts;
  if (request.arrange) {
    const unpacked = await unpack(module, parts);
    if (unpacked.refused) {
      return { refused: unpacked.refused };
    }
    parts = unpacked.parts.sort((x, y) => x.name.localeCompare(y.name, 'en', { numeric: true }));
  }
  let result = await joinAndOpen(module, parts);
  if (request.arrange && parts.length > 1) {
    const ends = new Int32Array(parts.length); // where each file ends in the joined image
    parts.reduce((end, part, i) => (ends[i] = end + part.blob.size), 0);
    const first = module.ccall('d88web_part_to_put_first', 'number', ['array', 'number'],
                               [new Uint8Array(ends.buffer), parts.length]);
    if (first > 0) {
      parts = [parts[first], ...parts.slice(0, first), ...parts.slice(first + 1)];
      result = await joinAndOpen(module, parts);
      result.movedFirst = parts[0].name;
    }
  }
  openImageId = request.image;
  result.parts = parts;
  if (result.diskCount < MIN_DISKS) {
    return result;
  }
  result.counts = {
    a: module.ccall('d88web_count_files', 'number', ['string'], ['a']),
    b: module.ccall('d88web_count_files', 'number', ['string'], ['b']),
  };
  // As d88info's layout line decides: the first layout whose directory yields files.
  const letter = result.counts.a > 0 || result.counts.b === 0 ? 'a' : 'b';
  return Object.assign(result, listSet(module, request.image, letter));
}

// The files of the listing of `layout` of the open image, each under the name of its entry; a
// later entry of the same name replaces an earlier one, as it does in the folder.
function makeZip(module, image, layout, names) {
  if (!lastSet || lastSet.image !== image || lastSet.layout !== layout) {
    listSet(module, image, layout);
  }
  const files = Object.create(null);
  lastSet.entries.forEach((entry) => {
    if (entry.data) {
      const name = names[entry.index];
      delete files[name]; // keeps the order in which the folder's files were last written
      files[name] = entry.data;
    }
  });
  return new Blob([fflate.zipSync(files, { level: 6 })], { type: 'application/zip' });
}

async function answer(request) {
  const about = { image: request.image, layout: request.layout };
  try {
    const module = await ready;
    if (request.type === 'open') {
      self.postMessage(Object.assign({ type: 'listing' }, about,
                                     await openImage(module, request)));
    } else if (request.image !== openImageId) {
      // a request about an image that a later one replaced: its answer would be ignored
    } else if (request.type === 'layout') {
      self.postMessage(Object.assign({ type: 'set' }, about,
                                     listSet(module, request.image, request.layout)));
    } else if (request.type === 'zip') {
      self.postMessage(Object.assign({ type: 'zip', zip: makeZip(module, request.image,
                                                                 request.layout, request.names) },
                                     about));
    }
  } catch (error) {
    self.postMessage(Object.assign({ type: 'failure', message: String(error) }, about));
  }
}

// One request at a time, in the order sent: each listing replaces the image of the one before.
let queue = Promise.resolve();
self.onmessage = (event) => {
  queue = queue.then(() => answer(event.data));
};
