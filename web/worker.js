// The page's worker: unpacks zips, joins the picked files as `cat` would, lists the image with
// the project's C++ (the reader and the directory walk, compiled to WebAssembly) and makes the
// zip, so that the page stays responsive while it works. The page builds it from this text and
// the module's. Every answer names the image and the layout that it belongs to, as the request
// did, so that the page can tell answers to an earlier request apart.
/* global createListingModule, LISTING_WASM_BASE64, fflate */
'use strict';

const IMAGE_FOLDER = '/input';
const PART_PATH = IMAGE_FOLDER + '/part-'; // the files to join, part-0, part-1, ...
const MEMBER_PATH = IMAGE_FOLDER + '/member.d88';
// The walk runs here, apart from the image, as a native run does in an output folder.
const WORK_FOLDER = '/out';

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) {
    bytes[i] = binary.charCodeAt(i);
  }
  return bytes;
}

// What the C++ side hands over during one call (see listing-imports.js): the plan's document,
// the files' bytes by entry index, the set's summary line.
let received = null;
const receive = () => (received = { order: null, document: null, files: new Map(), summary: '',
                                    directoryErrors: '' });
const listing = {
  partOrder(decided) {
    received.order = decided;
  },
  document(document) {
    received.document = document;
  },
  file(index, bytes) {
    received.files.set(index, bytes);
  },
  summary(line, directoryErrors) {
    received.summary = line;
    received.directoryErrors = directoryErrors;
  },
};

const ready = createListingModule({
  wasmBinary: fflate.inflateSync(decodeBase64(LISTING_WASM_BASE64)),
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
let partsWritten = 0; // the files part-N in the module's file system
let lastSet = null; // { image, layout, set: the set's document, files: bytes by entry index }

function removeFile(module, path) {
  if (module.FS.analyzePath(path).exists) {
    module.FS.unlink(path);
  }
}

function writeFile(module, path, bytes) {
  removeFile(module, path);
  module.FS.writeFile(path, bytes);
}

// The set's plan in `layout`, with each written file as a Blob under its entry index.
function listSet(module, image, layout) {
  receive();
  module.ccall('d88web_list_set', 'boolean', ['string'], [layout]);
  lastSet = { image, layout, set: received.document, files: received.files };
  const files = {};
  received.files.forEach((bytes, index) => { files[index] = new Blob([bytes]); });
  return { layout, set: received.document, files, summary: received.summary,
           directoryErrors: received.directoryErrors };
}

// A zip starts with a member's local header, or, when it holds nothing, with its end record.
const isZip = (bytes) => bytes.length >= 4 && bytes[0] === 0x50 && bytes[1] === 0x4b &&
                         ((bytes[2] === 3 && bytes[3] === 4) || (bytes[2] === 5 && bytes[3] === 6));

// The files to join: the picked ones, each zip replaced by its members that hold D88 disks.
// Returns { parts: [{ name, blob }], leftOut }, leftOut naming the members that hold no disk,
// or { refused }, saying why a zip gave nothing.
async function unpack(module, files) {
  const parts = [];
  const leftOut = [];
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
    leftOut.push(...others.map((name) => `${file.name}: ${name}`));
  }
  return { parts, leftOut };
}

// Opens the files as one image and lists it in the layout that fits. With `arrange`, zips are
// unpacked, the files sorted by name and joined in the order that d88extract joins them, the
// one that holds Disk A first; otherwise they are joined in the order given.
async function openImage(module, request) {
  lastSet = null;
  openImageId = null;
  let parts = request.parts;
  let leftOut = [];
  if (request.arrange) {
    const unpacked = await unpack(module, parts);
    if (unpacked.refused) {
      return { refused: unpacked.refused };
    }
    parts = unpacked.parts.sort((x, y) => x.name.localeCompare(y.name, 'en', { numeric: true }));
    leftOut = unpacked.leftOut;
  }
  for (let i = 0; i < Math.max(parts.length, partsWritten); ++i) {
    removeFile(module, PART_PATH + i);
  }
  for (let i = 0; i < parts.length; ++i) {
    writeFile(module, PART_PATH + i, new Uint8Array(await parts[i].blob.arrayBuffer()));
  }
  partsWritten = parts.length;
  receive();
  if (module.ccall('d88web_open', 'number', ['number', 'boolean'],
                   [parts.length, request.arrange]) < 0) {
    throw new Error(`the ${parts.length} files cannot be read as one image`);
  }
  const { order, problem, named } = received.order;
  const result = { imagePlan: received.document, leftOut, problem,
                   named: named.map((index) => parts[index].name) };
  if (order[0] !== 0) {
    result.movedFirst = parts[order[0]].name;
  }
  result.parts = order.map((index) => parts[index]);
  openImageId = request.image;
  if (problem === 'not-image') {
    return result; // as d88extract, nothing to list
  }
  if (result.imagePlan.hints.fewer_than_four_disks) {
    return result; // no set to list
  }
  // The layout that fits, or a when both or neither do, as d88info's layout line names them.
  const letter = result.imagePlan.fits === 'b' ? 'b' : 'a';
  return Object.assign(result, listSet(module, request.image, letter));
}

// The files of the set of `layout` of the open image that a folder keeps, each under the name
// that the plan gives it in a zip; an entry that a later one replaces has none of its own.
function makeZip(module, image, layout) {
  if (!lastSet || lastSet.image !== image || lastSet.layout !== layout) {
    listSet(module, image, layout);
  }
  const files = Object.create(null);
  for (const entry of lastSet.set.entries) {
    if (entry.saved_as && entry.replaced_by === null) {
      files[entry.saved_as.text] = lastSet.files.get(entry.index);
    }
  }
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
      self.postMessage(Object.assign({ type: 'zip',
                                       zip: makeZip(module, request.image, request.layout) },
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
