// The page's worker: unpacks zips as the C++ zip policy decides, has the project's C++
// (compiled to WebAssembly) read the files as one image and plan the set, and makes the zip of
// its files, so that the page stays responsive while it works. The files are never read whole:
// the C++ reads them in slices through the module's WORKERFS, and every file of the zip is made
// of the bytes of the given files that the plan's pieces name. It hashes each file that the
// page saves, from those same bytes, and hands the changed files dropped beside the image to
// the C++, which puts them back into new files that it reads back before the page offers them.
// The page builds it from this text and the module's. Every answer names the image and the
// layout that it belongs to, as the request did, so that the page can tell answers to an
// earlier request apart.
/* global createListingModule, LISTING_WASM_BASE64, fflate, zip */
'use strict';

const INPUT_FOLDER = '/input'; // the files to join, mounted as /input/0, /input/1, ...
const CHANGED_FOLDER = '/changed'; // the changed files dropped beside them
const OUTPUT_FOLDER = '/output'; // the new files of a putting back, read back
const MAX_FILES = 64; // the reader joins at most 64 files into one image

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
let receivedOutput = null; // the new files of a putting back, by part: { blobs, chunks, pending }
const ready = createListingModule({
  wasmBinary: fflate.inflateSync(decodeBase64(LISTING_WASM_BASE64)),
  listing: {
    document(document) { received = document; },
    pieces(numbers) { receivedPieces = numbers; },
    inline(bytes) { receivedInline = bytes; },
    output(part, bytes) { receiveOutput(part, bytes); },
  },
  print() {},
  printErr() {},
}).then((module) => {
  [INPUT_FOLDER, CHANGED_FOLDER, OUTPUT_FOLDER].forEach((folder) => module.FS.mkdir(folder));
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

// Calls `use` with a pointer to `text`, which may be megabytes of JSON (a zip's directory, the
// names of thousands of files): in the module's heap, where ccall would put a string on its
// small stack.
function withText(module, text, use) {
  const length = module.lengthBytesUTF8(text) + 1;
  const pointer = module._malloc(length);
  module.stringToUTF8(text, pointer, length);
  try {
    return use(pointer);
  } finally {
    module._free(pointer);
  }
}

// Calls `name` with `text` as its one argument; returns the document it sent.
const callWithText = (module, name, text) => withText(module, text, (pointer) =>
  call(module, name, null, ['number'], [pointer]).document);

// ---- zips, read through zip.js as the C++ zip policy decides ----

// zip.js reads a zip from its Blob in slices, inflates with the browser's DecompressionStream
// and checks each member's CRC-32. Its own checks are left tolerant: what it reads is handed to
// the policy (d88web_zip), which decides as d88extract decides.
zip.configure({ useWebWorkers: false });
const ZIP_OPTIONS = { strictness: 'tolerant', useWebWorkers: false };
const hexOf = (bytes) => Array.from(bytes, (byte) => byte.toString(16).padStart(2, '0')).join('');
const nameHex = (name) => hexOf(new TextEncoder().encode(name));
const sentenceOf = (text) => text[0].toUpperCase() + text.slice(1) + '.';

// What the zip's directory declares of a member, as the policy reads it.
function entryFacts(entry) {
  return { name: hexOf(entry.rawFilename), utf8: (entry.rawBitFlag & 0x800) !== 0,
           made_by: entry.versionMadeBy >> 8, attributes: entry.externalFileAttributes,
           method: entry.compressionMethod, encrypted: entry.encrypted, crc32: entry.signature,
           size: entry.uncompressedSize, compressed: entry.compressedSize, offset: entry.offset };
}

// What the member's local header declares, with its data descriptor when the header leaves
// its sizes to one: zip.js reads both without inflating anything.
async function localFacts(entry) {
  try {
    await entry.getData(undefined, Object.assign({ checkOverlappingEntryOnly: true }, ZIP_OPTIONS));
  } catch (error) {
    // What zip.js read stands in entry.localDirectory; the policy decides what it means.
  }
  const local = entry.localDirectory;
  if (!local || local.dataOffset === undefined) {
    return { found: false };
  }
  const facts = { found: true, data_start: local.dataOffset, crc32: local.crc32,
                  size: local.uncompressedSize, compressed: local.compressedSize };
  let descriptorLength = 0;
  if (local.bitFlag.dataDescriptor) {
    const descriptor = local.dataDescriptor;
    Object.assign(facts, descriptor
      ? { crc32: descriptor.crc32, size: Number(descriptor.uncompressedSize),
          compressed: Number(descriptor.compressedSize) }
      : { size: -1, compressed: -1 });
    descriptorLength = descriptor ? (descriptor.zip64 ? 20 : 12) + (descriptor.signature ? 4 : 0)
      : 0;
  }
  facts.data_end = local.dataOffset + entry.compressedSize + descriptorLength;
  return facts;
}

// The member inflated into Blobs of about 64 MiB, so that little of it stays in the heap, and
// never past the size it declares; zip.js checks its CRC-32 unless `crcUnchecked`.
// { blob, bytes, crcMatches } or { bytes, failure }.
async function unpackMember(entry, crcUnchecked = false) {
  const size = entry.uncompressedSize;
  const blobs = [];
  let chunks = [];
  let pending = 0;
  let bytes = 0;
  let ended = false; // the inflated stream came to its end
  const writable = new WritableStream({
    close() {
      ended = true;
    },
    write(chunk) {
      bytes += chunk.length;
      if (bytes > size) {
        throw new Error('past its size'); // stopped here: the policy refuses it
      }
      chunks.push(chunk);
      pending += chunk.length;
      if (pending >= 64 * 1024 * 1024) {
        blobs.push(new Blob(chunks));
        chunks = [];
        pending = 0;
      }
    },
  });
  try {
    await entry.getData(writable, Object.assign({ checkCrc32: !crcUnchecked }, ZIP_OPTIONS));
  } catch (error) {
    if (bytes > size) {
      return { bytes, crcMatches: true };
    }
    if (error.message === zip.ERR_INVALID_UNCOMPRESSED_SIZE) {
      // zip.js stops a member that inflates past its size before those bytes reach the page;
      // one that inflates to fewer comes to its end first.
      return { bytes: ended ? bytes : size + 1, crcMatches: true };
    }
    if (error.message === zip.ERR_INVALID_CRC32) {
      // zip.js says so before its last bytes are written: they are counted once more, for the
      // policy, which tells a length other than the declared one before a CRC-32 that differs.
      return Object.assign(await unpackMember(entry, true), { crcMatches: false });
    }
    return { bytes, failure: error.message };
  }
  blobs.push(new Blob(chunks));
  return { blob: new Blob(blobs), bytes, crcMatches: true };
}

// The files of the zip `file` that the policy reads, named with the zip's name as d88extract
// names them ("set.zip/A.d88"): { parts, notes, unpackedBytes } or { refused }. `others` and
// `before` are the files and what the zips before it took in this pick.
async function unpackZip(module, file, others, before) {
  const request = { zip: file.name, zip_size: file.blob.size, others, before, entries: [] };
  const decide = () => callWithText(module, 'd88web_zip', JSON.stringify(request));
  let entries = [];
  try {
    entries = await new zip.ZipReader(new zip.BlobReader(file.blob), ZIP_OPTIONS).getEntries();
  } catch (error) {
    request.unreadable = error.message;
  }
  request.entries = entries.map(entryFacts);
  let decision = decide();
  if (decision.refused) {
    return { refused: sentenceOf(decision.refused) };
  }
  const { files, names } = decision;
  request.locals = [];
  for (const index of files) {
    request.locals.push(await localFacts(entries[index]));
  }
  decision = decide();
  const parts = [];
  for (const index of decision.refused ? [] : files) {
    const unpacked = await unpackMember(entries[index]);
    request.unpacked = unpacked.failure ? { member: index, failure: unpacked.failure }
      : { member: index, bytes: unpacked.bytes, crc_matches: unpacked.crcMatches };
    decision = decide();
    if (decision.refused) {
      break;
    }
    parts.push({ name: `${file.name}/${names[index]}`, stored: request.entries[index].name,
                 blob: unpacked.blob });
  }
  if (decision.refused) {
    return { refused: sentenceOf(decision.refused) };
  }
  const notes = decision.not_files.map((index) => `${file.name}/${names[index]} is neither a ` +
                                                  'file nor a folder');
  return { parts, notes, unpackedBytes: decision.unpacked_bytes };
}

// `files` ({ name, stored, ... }) in the order that the C++ decides: by their names' bytes, as
// d88extract joins a zip's members, every tie broken by the name's bytes and the whole path.
function ordered(module, files) {
  const document = callWithText(module, 'd88web_order', JSON.stringify(
    files.map((file) => ({ stored: file.stored, path: file.name }))));
  return document.order.map((index) => files[index]);
}

// The files to join: the given ones, each zip replaced by its members, all in the C++'s order.
// Which files are zips is the C++'s to say, as for d88extract (a disk, or a piece of one, whose
// first bytes are a zip's is no zip);
// the zips are read in the order of their names, so that what the pick's limits say never
// hangs on the order in which the files were picked. { parts, notes } or { refused }.
async function unpack(module, files) {
  mount(module, files);
  const isZip = files.map((file, i) => module.ccall('d88web_is_zip', 'boolean', ['string'],
                                                    [`${INPUT_FOLDER}/${i}`]));
  const named = files.map((file) => Object.assign({ stored: nameHex(file.name) }, file));
  let parts = named.filter((file, i) => !isZip[i]);
  const notes = [];
  let before = 0;
  let zipFiles = 0;
  const zips = ordered(module, named.filter((file, i) => isZip[i]));
  for (const [k, file] of zips.entries()) {
    const unpacked = await unpackZip(module, file, files.length - 1 - k + zipFiles, before);
    if (unpacked.refused) {
      return { refused: unpacked.refused };
    }
    parts = parts.concat(unpacked.parts);
    notes.push(...unpacked.notes);
    before += unpacked.unpackedBytes;
    zipFiles += unpacked.parts.length;
  }
  return { parts: ordered(module, parts), notes };
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
  const { document } = call(module, 'd88web_list_set', 'boolean', ['number', 'string'],
                            [current.session, layout]);
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
  lastSet = { image, layout, set: document.set, inline: receivedInline, saved: document.saved };
  // The page is sent the entries without their pieces, which only the worker reads: tens of
  // thousands of them would cost its thread time to receive.
  const set = Object.assign({}, document.set, {
    entries: document.set.entries.map((entry) => Object.assign({}, entry, { pieces: undefined })),
  });
  return { layout, set, saved: document.saved, summary: document.summary,
           setNotes: document.set_notes, directoryCopies: document.directory_copies,
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

// What unpacking the zips last given said of their members, and the names of the files given.
let zipNotes = [];
let givenNames = [];

// Reads the files as one image and lists the layout that d88extract reads, if any. With
// `unpack`, zips are unpacked and the files sorted by name first; otherwise they are joined in
// the order given.
async function openImage(module, request) {
  lastSet = null;
  if (current) {
    module.ccall('d88web_close', null, ['number'], [current.session]);
  }
  current = null;
  openImageId = null;
  let parts = request.parts;
  let notes = [];
  if (request.unpack) {
    const unpacked = await unpack(module, parts);
    if (unpacked.refused) {
      return { refused: unpacked.refused };
    }
    ({ parts, notes } = unpacked);
    zipNotes = notes;
    givenNames = request.parts.map((part) => part.name);
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
  const { result: session, document: listing } = call(module, 'd88web_open', 'number',
                                                      ['number', 'string'],
                                                      [parts.length,
                                                       JSON.stringify(parts.map((p) => p.name))]);
  if (!session) {
    throw new Error(`the ${parts.length} files cannot be read as one image`);
  }
  current = { parts, listing, session };
  openImageId = request.image;
  result.listing = listing;
  result.zipName = call(module, 'd88web_zip_name', null, ['number', 'string'],
                        [session, JSON.stringify(givenNames)]).document.zip_name;
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

// The files of the set of `layout` that a folder keeps (the C++'s list of saved entries), each
// under the name that the plan gives it in a zip, marked as made on Unix with its name in UTF-8
// (the flag that fflate sets on a name that is not ASCII): unzip reads a name marked UTF-8 from
// MS-DOS, fflate's default, as code page 437. So unzip, bsdtar, Python's zipfile and 7-Zip read
// the names as they are.
function makeZip(module, image, layout) {
  setOf(module, image, layout);
  const chunks = [];
  const archive = new fflate.Zip((error, chunk) => {
    if (error) {
      throw error;
    }
    chunks.push(chunk);
  });
  const saved = new Set(lastSet.saved);
  for (const entry of lastSet.set.entries) {
    if (saved.has(entry.index)) {
      const member = new fflate.ZipDeflate(entry.saved_as.text, { level: 6 });
      member.os = 3; // fflate reads a member's system and attributes from these properties
      member.attrs = (0o100644 << 16) >>> 0; // a regular file, rw-r--r--
      archive.add(member);
      member.push(entryBytes(entry, lastSet.inline), true);
    }
  }
  archive.end();
  return new Blob(chunks, { type: 'application/zip' });
}

// ---- putting changed files back, as d88update decides ----

// Mounts `blobs` as FOLDER/0, FOLDER/1, ... in place of what was mounted there.
const mountedFolders = new Set();
function mountFiles(module, folder, blobs) {
  unmountFiles(module, folder);
  module.FS.mount(module.FS.filesystems.WORKERFS,
                  { blobs: blobs.map((blob, i) => ({ name: String(i), data: blob })) }, folder);
  mountedFolders.add(folder);
}

function unmountFiles(module, folder) {
  if (mountedFolders.delete(folder)) {
    module.FS.unmount(folder);
  }
}

// Keeps what the C++ sends of a new file in Blobs of about 64 MiB, so that little of it stays
// in the worker's heap.
function receiveOutput(part, bytes) {
  const file = receivedOutput[part] || (receivedOutput[part] = { blobs: [], chunks: [],
                                                                 pending: 0 });
  file.chunks.push(bytes);
  file.pending += bytes.length;
  if (file.pending >= 64 * 1024 * 1024) {
    file.blobs.push(new Blob(file.chunks));
    file.chunks = [];
    file.pending = 0;
  }
}

// A zip of the new files, each under its name, as the page's other zip marks its members.
function zipOfNewFiles(names, files) {
  const chunks = [];
  const archive = new fflate.Zip((error, chunk) => {
    if (error) {
      throw error;
    }
    chunks.push(chunk);
  });
  names.forEach((name, i) => {
    const member = new fflate.ZipDeflate(name, { level: 6 });
    member.os = 3;
    member.attrs = (0o100644 << 16) >>> 0;
    archive.add(member);
    for (let at = 0; at < files[i].size; at += WINDOW_BYTES) {
      member.push(readSlice(files[i], at, at + WINDOW_BYTES), false);
    }
    member.push(new Uint8Array(0), true);
  });
  archive.end();
  return new Blob(chunks, { type: 'application/zip' });
}

// The changed files `request.files` put back into the open image in `request.layout`: what the
// C++ decides and says (`plan`), and unless it refuses, the new files that it makes, read back
// and checked by it (`check`); `file`, the download, only once they are checked.
function putBack(module, request) {
  const session = current.session;
  module.ccall('d88web_update_close', null, ['number'], [session]); // closes the files dropped
  mountFiles(module, CHANGED_FOLDER, request.files.map((file) => file.blob));
  const plan = withText(module, JSON.stringify(request.files.map((file) => file.name)),
                        (names) => call(module, 'd88web_update_plan', 'boolean',
                                        ['number', 'string', 'number'],
                                        [session, request.layout, names]).document);
  if (!plan) {
    throw new Error('the changed files cannot be put back into this image');
  }
  if (!plan.writes) {
    return { plan };
  }
  receivedOutput = [];
  const { result: made, document: stopped } = call(module, 'd88web_update_write', 'boolean',
                                                   ['number'], [session]);
  const files = plan.output.files.map((name, part) => {
    const file = receivedOutput[part] || { blobs: [], chunks: [] };
    return new Blob([...file.blobs, new Blob(file.chunks)]);
  });
  receivedOutput = null;
  if (!made) {
    return { plan, check: stopped || { checked: false, messages: ['the new image was not made'] } };
  }
  mountFiles(module, OUTPUT_FOLDER, files);
  const { document: check } = call(module, 'd88web_update_check', 'boolean', ['number', 'number'],
                                   [session, files.length]);
  unmountFiles(module, OUTPUT_FOLDER);
  windows = windows.filter((window) => !files.includes(window.blob));
  const result = { plan, check };
  if (check && check.checked) {
    result.file = files.length === 1 ? files[0] : zipOfNewFiles(plan.output.files, files);
  }
  return result;
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
      self.postMessage(Object.assign({ type: 'listing' }, about, await openImage(module, request)));
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
    } else if (request.type === 'update') {
      self.postMessage(Object.assign({ type: 'update', update: request.update }, about,
                                     putBack(module, request)));
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
