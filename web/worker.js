// The page's worker: unpacks zips, has the project's C++ (compiled to WebAssembly) read the
// files as one image and plan the set, and makes the zip of its files, so that the page stays
// responsive while it works. The files are never read whole: the C++ reads them in slices
// through the module's WORKERFS, and every file of the zip is made of the bytes of the given
// files that the plan's pieces name. It hashes each file that the page saves, from those same
// bytes. The page builds it from this text and the module's. Every answer names the image and
// the layout that it belongs to, as the request did, so that the page can tell answers to an
// earlier request apart.
/* global createListingModule, LISTING_WASM_BASE64, fflate */
'use strict';

const INPUT_FOLDER = '/input'; // the files to join, mounted as /input/0, /input/1, ...
const MAX_FILES = 64; // the reader joins at most 64 files into one image
// A zip's deflated members are unpacked into memory: at most this much in all, so that a zip
// that declares huge members is refused before anything is inflated.
const MAX_UNPACKED_BYTES = 512 * 1024 * 1024;
const MAX_ZIP_DIRECTORY_BYTES = 64 * 1024 * 1024;
const COMPRESSED_SLICE = 1024 * 1024; // read from the zip at a time
const INFLATE_STEP = 32 * 1024; // inflated at a time: at most about 33 MB out of one step

const reader = new FileReaderSync();
const readSlice = (blob, start, end) =>
  new Uint8Array(reader.readAsArrayBuffer(blob.slice(start, end)));

// Each read of a slice costs a few milliseconds, whatever its length, and the C++ reads the
// image 64 KiB at a time, some parts more than once: reads go through windows of 16 MiB
// instead, the 4 last used kept (64 MiB at most), so that an image is read in large slices,
// mostly once, and a large one is never held whole.
const WINDOW_BYTES = 16 * 1024 * 1024;
const WINDOWS_KEPT = 4;
let windows = []; // { blob, start, bytes }, the most recently used last

function windowAt(blob, position) {
  const start = position - (position % WINDOW_BYTES);
  const found = windows.findIndex((window) => window.blob === blob && window.start === start);
  const window = found >= 0 ? windows.splice(found, 1)[0]
    : { blob, start, bytes: readSlice(blob, start, Math.min(blob.size, start + WINDOW_BYTES)) };
  windows.push(window);
  if (windows.length > WINDOWS_KEPT) {
    windows.shift();
  }
  return window;
}

// Copies at most `length` bytes of `blob` from `position` into `target` at `offset`; returns
// the number copied, short where the blob ends.
function readBlob(blob, target, offset, length, position) {
  let done = 0;
  while (done < length && position + done < blob.size) {
    const window = windowAt(blob, position + done);
    const from = position + done - window.start;
    const count = Math.min(length - done, window.bytes.length - from);
    target.set(window.bytes.subarray(from, from + count), offset + done);
    done += count;
  }
  return done;
}

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) {
    bytes[i] = binary.charCodeAt(i);
  }
  return bytes;
}

// What the C++ side hands over during one call (see listing-imports.js): a document, and the
// pieces of a set's entries with their inline bytes.
let received = null;
let receivedPieces = null;
let receivedInline = null;
const ready = createListingModule({
  wasmBinary: fflate.inflateSync(decodeBase64(LISTING_WASM_BASE64)),
  listing: {
    document(document) { received = document; },
    pieces(numbers) { receivedPieces = numbers; },
    inline(bytes) { receivedInline = bytes; },
  },
  print() {},
  printErr() {},
}).then((module) => {
  module.FS.mkdir(INPUT_FOLDER);
  // The files mounted with WORKERFS are read through the windows.
  module.FS.filesystems.WORKERFS.stream_ops.read = (stream, buffer, offset, length, position) =>
    readBlob(stream.node.contents, buffer, offset, length, position);
  return module;
});

// The open image: its files as given (parts), the listing that the C++ made of them, and the
// layout listed last with its files' bytes.
let openImageId = null;
let mounted = false;
let current = null; // { parts, listing }
let lastSet = null; // { image, layout, set, inline }

function call(module, name, returns, types, args) {
  received = null;
  const result = module.ccall(name, returns, types, args);
  return { result, document: received };
}

// ---- zips, read in slices ----

const u16 = (bytes, at) => bytes[at] | (bytes[at + 1] << 8);
const u32 = (bytes, at) => (bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16)) +
  bytes[at + 3] * 0x1000000;
const u64 = (bytes, at) => u32(bytes, at) + u32(bytes, at + 4) * 0x100000000;
const LOCAL_HEADER = 0x04034b50;
const DIRECTORY_HEADER = 0x02014b50;
const END_RECORD = 0x06054b50;
const ZIP64_END_RECORD = 0x06064b50;
const ZIP64_LOCATOR = 0x07064b50;

// A zip starts with a member's local header, or, when it holds nothing, with its end record.
function isZip(blob) {
  const head = readSlice(blob, 0, 4);
  return head.length === 4 && (u32(head, 0) === LOCAL_HEADER || u32(head, 0) === END_RECORD);
}

function memberName(bytes, utf8) {
  for (const encoding of utf8 ? ['utf-8'] : ['utf-8', 'shift_jis']) {
    try {
      return new TextDecoder(encoding, { fatal: true }).decode(bytes);
    } catch (error) {
      // try the next encoding
    }
  }
  return new TextDecoder('latin1').decode(bytes);
}

// The members of the zip `blob` as its central directory lists them: { name, flags, method,
// compressed, size, offset }, or { problem }.
function zipDirectory(blob) {
  const tailStart = Math.max(0, blob.size - (65535 + 22));
  const tail = readSlice(blob, tailStart, blob.size);
  let end = -1;
  for (let at = tail.length - 22; at >= 0 && end < 0; --at) {
    if (u32(tail, at) === END_RECORD) {
      end = at;
    }
  }
  if (end < 0) {
    return { problem: 'it has no zip directory' };
  }
  let size = u32(tail, end + 12);
  let offset = u32(tail, end + 16);
  if (end >= 20 && u32(tail, end - 20) === ZIP64_LOCATOR) {
    const recordAt = u64(tail, end - 20 + 8);
    const record = readSlice(blob, recordAt, recordAt + 56);
    if (record.length === 56 && u32(record, 0) === ZIP64_END_RECORD) {
      size = u64(record, 40);
      offset = u64(record, 48);
    }
  }
  if (offset + size > blob.size) {
    return { problem: 'its directory lies past its end' };
  }
  if (size > MAX_ZIP_DIRECTORY_BYTES) {
    return { problem: `its directory takes ${size} bytes, more than the page reads` };
  }
  const directory = readSlice(blob, offset, offset + size);
  const members = [];
  for (let at = 0; at + 46 <= directory.length && u32(directory, at) === DIRECTORY_HEADER;) {
    const nameLength = u16(directory, at + 28);
    const extraLength = u16(directory, at + 30);
    const flags = u16(directory, at + 8);
    const member = {
      name: memberName(directory.subarray(at + 46, at + 46 + nameLength), flags & 0x800),
      flags,
      method: u16(directory, at + 10),
      compressed: u32(directory, at + 20),
      size: u32(directory, at + 24),
      offset: u32(directory, at + 42),
    };
    // Sizes and offsets that do not fit 32 bits are in the zip64 extra field, in this order.
    const extra = directory.subarray(at + 46 + nameLength, at + 46 + nameLength + extraLength);
    for (let e = 0; e + 4 <= extra.length; e += 4 + u16(extra, e + 2)) {
      if (u16(extra, e) === 1) {
        let field = e + 4;
        for (const key of ['size', 'compressed', 'offset']) {
          if (member[key] === 0xffffffff && field + 8 <= extra.length) {
            member[key] = u64(extra, field);
            field += 8;
          }
        }
      }
    }
    members.push(member);
    at += 46 + nameLength + extraLength + u16(directory, at + 32);
  }
  return { members };
}

// Where member's data starts, after its local header; -1 when the header is not there.
function dataStart(blob, member) {
  const header = readSlice(blob, member.offset, member.offset + 30);
  if (header.length < 30 || u32(header, 0) !== LOCAL_HEADER) {
    return -1;
  }
  return member.offset + 30 + u16(header, 26) + u16(header, 28);
}

// The member's bytes as a Blob: a slice of the zip when stored, inflated a step at a time when
// deflated, never past the size it declares. { blob } or { problem }.
function unpackMember(blob, member) {
  const start = dataStart(blob, member);
  if (start < 0 || start + member.compressed > blob.size) {
    return { problem: 'its data lies outside the zip' };
  }
  if (member.method === 0) {
    return member.compressed === member.size ? { blob: blob.slice(start, start + member.size) }
      : { problem: 'it is stored with two different sizes' };
  }
  // What is inflated goes into Blobs of about 64 MiB, so that little of it stays in the heap.
  const blobs = [];
  let chunks = [];
  let pending = 0;
  let out = 0;
  let tooLong = false;
  const inflater = new fflate.Inflate((chunk) => {
    out += chunk.length;
    tooLong = tooLong || out > member.size;
    if (!tooLong) {
      chunks.push(chunk);
      pending += chunk.length;
    }
    if (pending >= 64 * 1024 * 1024) {
      blobs.push(new Blob(chunks));
      chunks = [];
      pending = 0;
    }
  });
  try {
    for (let at = 0; at < member.compressed && !tooLong; at += COMPRESSED_SLICE) {
      const end = Math.min(member.compressed, at + COMPRESSED_SLICE);
      const slice = readSlice(blob, start + at, start + end);
      for (let step = 0; step < slice.length && !tooLong; step += INFLATE_STEP) {
        const last = at + step + INFLATE_STEP >= member.compressed;
        inflater.push(slice.subarray(step, step + INFLATE_STEP), last);
      }
    }
  } catch (error) {
    return { problem: `it cannot be inflated (${error.message})` };
  }
  if (tooLong) {
    return { problem: `it inflates to more than the ${member.size.toLocaleString('en')} bytes ` +
                      'it declares' };
  }
  if (out !== member.size) {
    return { problem: `it inflates to ${out.toLocaleString('en')} bytes, not the ` +
                      `${member.size.toLocaleString('en')} it declares` };
  }
  blobs.push(new Blob(chunks));
  return { blob: new Blob(blobs) };
}

// The files to join: the given ones, each zip replaced by its members. A zip or
// a member that cannot be unpacked is named with the reason in `notes`; what the unpacked files
// hold is for the C++ to decide. { parts, notes }, or { refused } for more than 64 files.
function unpack(files) {
  const parts = [];
  const notes = [];
  for (const file of files) {
    if (!isZip(file.blob)) {
      parts.push(file);
      continue;
    }
    const { members, problem } = zipDirectory(file.blob);
    if (problem) {
      notes.push(`${file.name} is a zip that cannot be unpacked: ${problem}`);
      continue;
    }
    const wanted = [];
    let declared = 0;
    for (const member of members) {
      const named = `${file.name}: ${member.name}`;
      if (member.name.endsWith('/')) {
        continue; // a folder
      } else if (member.flags & 1) {
        notes.push(`${named} is encrypted`);
      } else if (member.method !== 0 && member.method !== 8) {
        notes.push(`${named} is compressed with method ${member.method}, which the page ` +
                   'cannot unpack');
      } else if (member.method === 8 && member.size > MAX_UNPACKED_BYTES) {
        notes.push(`${named} declares ${member.size.toLocaleString('en')} bytes, more than the ` +
                   `page unpacks (${MAX_UNPACKED_BYTES.toLocaleString('en')})`);
      } else {
        wanted.push(member);
        declared += member.method === 8 ? member.size : 0;
      }
    }
    // Counted and summed before anything is inflated.
    if (parts.length + wanted.length > MAX_FILES) {
      return { refused: tooManyFiles(parts.length + wanted.length) };
    }
    if (declared > MAX_UNPACKED_BYTES) {
      notes.push(`${file.name}: its members declare ${declared.toLocaleString('en')} bytes in ` +
                 `all, more than the page unpacks (${MAX_UNPACKED_BYTES.toLocaleString('en')})`);
      continue;
    }
    for (const member of wanted) {
      const unpacked = unpackMember(file.blob, member);
      if (unpacked.problem) {
        notes.push(`${file.name}: ${member.name}: ${unpacked.problem}`);
      } else {
        parts.push({ name: member.name.replace(/^.*\//, ''), blob: unpacked.blob,
                     from: `${file.name}: ${member.name}` });
      }
    }
  }
  return { parts, notes };
}

const tooManyFiles = (count) => `These are ${count.toLocaleString('en')} files: the page joins ` +
  `at most ${MAX_FILES} ` +
  'files into one image. Pick fewer, or join some of them first.';

// ---- the plan ----

// The bytes of a listed entry's file: the bytes of the given files that its pieces name (or,
// for a sector voted from several copies, of the set's inline bytes), then its zeros.
function entryBytes(entry, inlineBytes) {
  const length = entry.pieces.reduce((sum, piece) => sum + piece.length, entry.zeros);
  const bytes = new Uint8Array(length);
  let at = 0;
  for (const piece of entry.pieces) {
    if (piece.file < 0) {
      bytes.set(inlineBytes.subarray(piece.offset, piece.offset + piece.length), at);
      at += piece.length;
    } else {
      const blob = current.parts[current.listing.files[piece.file]].blob;
      at += readBlob(blob, bytes, at, piece.length, piece.offset);
    }
  }
  return bytes;
}

// The set's plan in `layout`, every entry with its pieces; or, where d88extract would list
// nothing in that layout, the decision that says why.
function listSet(module, image, layout) {
  const { document } = call(module, 'd88web_list_set', 'boolean', ['string'], [layout]);
  if (document.layout_decision) {
    lastSet = null;
    return { layout, decision: document.layout_decision };
  }
  let at = 0;
  for (const entry of document.set.entries) {
    const count = receivedPieces[at++];
    for (let i = 0; i < count; ++i, at += 3) {
      entry.pieces.push({ file: receivedPieces[at], offset: receivedPieces[at + 1],
                          length: receivedPieces[at + 2] });
    }
  }
  lastSet = { image, layout, set: document.set, inline: receivedInline };
  // The page is sent the entries without their pieces, which only the worker reads: tens of
  // thousands of them would cost its thread time to receive.
  const set = Object.assign({}, document.set, {
    entries: document.set.entries.map((entry) => Object.assign({}, entry, { pieces: undefined })),
  });
  return { layout, set, summary: document.summary, directoryErrors: document.directory_errors,
           missingDisks: document.missing_disks, directoryCopies: document.directory_copies,
           entryCopies: document.entry_copies };
}

function mount(module, parts) {
  windows = [];
  if (mounted) {
    module.FS.unmount(INPUT_FOLDER);
  }
  module.FS.mount(module.FS.filesystems.WORKERFS,
                  { blobs: parts.map((part, i) => ({ name: String(i), data: part.blob })) },
                  INPUT_FOLDER);
  mounted = true;
}

// What unpacking the zips last given said of their members.
let zipNotes = [];

// Reads the files as one image and lists the layout that d88extract reads, if any. With
// `unpack`, zips are unpacked and the files sorted by name first; otherwise they are joined in
// the order given.
function openImage(module, request) {
  lastSet = null;
  current = null;
  openImageId = null;
  let parts = request.parts;
  let notes = [];
  if (request.unpack) {
    const unpacked = unpack(parts);
    if (unpacked.refused) {
      return { refused: unpacked.refused };
    }
    ({ parts, notes } = unpacked);
    // In the order that d88extract gives a zip's members, decided by the C++.
    const before = (x, y) => module.ccall('d88web_member_before', 'boolean', ['string', 'string'],
                                          [x.name, y.name]);
    parts.sort((x, y) => (before(x, y) ? -1 : before(y, x) ? 1 : 0));
    zipNotes = notes;
  } else {
    notes = zipNotes; // the same files, in another order: what was left out of them stands
  }
  if (parts.length > MAX_FILES) {
    return { refused: tooManyFiles(parts.length) };
  }
  const result = { parts, notes };
  if (parts.length === 0) {
    return result;
  }
  mount(module, parts);
  const { result: disks, document: listing } = call(module, 'd88web_open', 'number',
                                                    ['number', 'string'],
                                                    [parts.length,
                                                     JSON.stringify(parts.map((p) => p.name))]);
  if (disks < 0) {
    throw new Error(`the ${parts.length} files cannot be read as one image`);
  }
  current = { parts, listing };
  openImageId = request.image;
  result.listing = listing;
  const decision = listing.layout_decision;
  if (decision && decision.listed) {
    Object.assign(result, listSet(module, request.image, decision.listed));
  }
  return result;
}

// The set of `layout` of the open image, listed again when another layout was listed since.
function setOf(module, image, layout) {
  if (!lastSet || lastSet.image !== image || lastSet.layout !== layout) {
    listSet(module, image, layout);
  }
  return lastSet.set;
}

// The file of entry `index` of the set of `layout`.
function entryFile(module, image, layout, index) {
  const entry = setOf(module, image, layout).entries.find((each) => each.index === index);
  return new Blob([entryBytes(entry, lastSet.inline)]);
}

// The files of the set of `layout` that a folder keeps, each under the name that the plan
// gives it in a zip; an entry that a later one replaces has none of its own.
function makeZip(module, image, layout) {
  setOf(module, image, layout);
  const chunks = [];
  const zip = new fflate.Zip((error, chunk) => {
    if (error) {
      throw error;
    }
    chunks.push(chunk);
  });
  for (const entry of lastSet.set.entries) {
    if (entry.saved_as && entry.replaced_by === null) {
      const member = new fflate.ZipDeflate(entry.saved_as.text, { level: 6 });
      zip.add(member);
      member.push(entryBytes(entry, lastSet.inline), true);
    }
  }
  zip.end();
  return new Blob(chunks, { type: 'application/zip' });
}

// ---- hashes ----

const hex = (buffer) => Array.from(new Uint8Array(buffer),
                                   (byte) => byte.toString(16).padStart(2, '0')).join('');

// fflate exports no crc32 function: its ZipPassThrough computes the CRC-32 of what it is given,
// as a zip member's, and keeps it in its public `crc`.
function crc32(bytes) {
  const stream = new fflate.ZipPassThrough('');
  stream.ondata = () => {};
  stream.push(bytes, true);
  return (stream.crc >>> 0).toString(16).padStart(8, '0');
}

// { crc32, sha1, sha256 } of `bytes`, in lower-case hex, as crc32, sha1sum and sha256sum print.
async function fileHashes(bytes) {
  const [sha1, sha256] = await Promise.all([crypto.subtle.digest('SHA-1', bytes),
                                            crypto.subtle.digest('SHA-256', bytes)]);
  return { crc32: crc32(bytes), sha1: hex(sha1), sha256: hex(sha256) };
}

// The set that the page shows, hashed once it is shown, file by file in slices of about 50 ms,
// each queued 50 ms after the one before: behind the requests that arrived meanwhile, so that
// saving a file or changing the layout never waits for the whole set, and using at most half a
// core, so that on a busy machine the page's own thread still gets its share. A later request
// for hashes or a later image stops it.
const HASH_SLICE_MS = 50;
let hashing = null; // { image, layout, set, inline, at }
// One request at a time, in the order sent: each listing replaces the image of the one before.
let queue = Promise.resolve();

function startHashing(module, image, layout) {
  setOf(module, image, layout);
  hashing = Object.assign({ at: 0 }, lastSet);
  return hashSlice(hashing);
}

async function hashSlice(job) {
  if (job !== hashing || job.image !== openImageId) {
    return; // a later listing replaced it
  }
  const about = { image: job.image, layout: job.layout };
  if (!self.crypto || !crypto.subtle) {
    self.postMessage(Object.assign({ type: 'hashes', hashes: [], done: true,
                                     unavailable: 'the browser offers no SHA-1 or SHA-256 ' +
                                       'here: open the page from disk or over https' }, about));
    return;
  }
  try {
    const hashes = [];
    const started = performance.now();
    const entries = job.set.entries;
    while (job.at < entries.length && performance.now() - started < HASH_SLICE_MS) {
      const entry = entries[job.at++];
      if (entry.saved_as) {
        hashes.push(Object.assign({ index: entry.index },
                                  await fileHashes(entryBytes(entry, job.inline))));
      }
    }
    const done = job.at >= entries.length;
    self.postMessage(Object.assign({ type: 'hashes', hashes, done }, about));
    if (!done) {
      setTimeout(() => { queue = queue.then(() => hashSlice(job)); }, HASH_SLICE_MS);
    }
  } catch (error) {
    self.postMessage(Object.assign({ type: 'failure', message: String(error) }, about));
  }
}

async function answer(request) {
  const about = { image: request.image, layout: request.layout };
  try {
    const module = await ready;
    if (request.type === 'open') {
      self.postMessage(Object.assign({ type: 'listing' }, about, openImage(module, request)));
    } else if (request.image !== openImageId) {
      // a request about an image that a later one replaced: its answer would be ignored
    } else if (request.type === 'layout') {
      self.postMessage(Object.assign({ type: 'set' }, about,
                                     listSet(module, request.image, request.layout)));
    } else if (request.type === 'file') {
      self.postMessage(Object.assign({ type: 'file', index: request.index,
                                       file: entryFile(module, request.image, request.layout,
                                                       request.index) }, about));
    } else if (request.type === 'hashes') {
      await startHashing(module, request.image, request.layout);
    } else if (request.type === 'zip') {
      self.postMessage(Object.assign({ type: 'zip',
                                       zip: makeZip(module, request.image, request.layout) },
                                     about));
    }
  } catch (error) {
    self.postMessage(Object.assign({ type: 'failure', message: String(error) }, about));
  }
}

self.onmessage = (event) => {
  queue = queue.then(() => answer(event.data));
};
