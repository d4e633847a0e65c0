// The page in a real browser: Debian's chromium, driven headless by playwright-core, opens
// d88extract.html from disk and is compared with what the native programs print and write for
// the same images. Needs the native build (D88_BUILD, default build/) and the page (D88_PAGE,
// default build-web/web/d88extract.html). Run as
//   NODE_PATH=build-web/web/node_modules node --test web/tests/
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const { chromium } = require('playwright-core');
const { Unzip, UnzipInflate, Zip, ZipDeflate, zipSync } = require('fflate');

const root = path.resolve(__dirname, '../..');
const build = path.resolve(root, process.env.D88_BUILD || 'build');
const pageFile = path.resolve(root, process.env.D88_PAGE || 'build-web/web/d88extract.html');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'd88page-'));
const shiftJis = new TextDecoder('shift_jis', { fatal: true });
const STATUS = '[role=status]';
let context;
const requests = []; // every URL that the browser asked for

before(async () => {
  context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  context.on('request', (request) => requests.push(request.url()));
  sample('sample-a.d88', '--layout', 'a'); // the image that most tests change
});

after(async () => {
  await context.close();
  fs.rmSync(work, { recursive: true, force: true });
});

// Runs a program of the native build in `work`; files are named there as the page names them.
function runs(name, args, cwd = work) {
  const result = spawnSync(path.join(build, name === 'd88sample' ? 'sample' : 'programs', name),
                           args.map((arg) => (path.isAbsolute(arg) ? path.relative(cwd, arg)
                                                                   : arg)), { cwd });
  assert.ok(result.status <= 2, `${name} ${args}: ${result.stderr}`);
  return { stdout: result.stdout.toString('latin1'), // names are Shift_JIS bytes
           stderr: result.stderr.toString('latin1') };
}
const run = (name, args, cwd) => runs(name, args, cwd).stdout;

function sample(name, ...options) {
  run('d88sample', [...options, path.join(work, name)]);
  return path.join(work, name);
}

// What d88extract does with `files` in layout `letter`: the folder it writes, the files there
// by their name bytes in hex, and what it prints.
function nativeRun(letter, files) {
  const folder = fs.mkdtempSync(path.join(work, 'native-'));
  const printed = runs('d88extract', ['-d', folder, '--layout', letter, '--names', 'shift_jis',
                                      ...[].concat(files)]);
  return Object.assign(printed, { folder, files: new Map(
    fs.readdirSync(folder, { encoding: 'buffer' }).map((name) => [
      name.toString('hex'), fs.readFileSync(Buffer.concat([Buffer.from(folder + '/'), name]))])) });
}
const nativeFiles = (letter, files) => nativeRun(letter, files).files;

// The hashes of every file in `folder` by their name bytes in hex, as sha1sum, sha256sum and
// Python's zlib.crc32 give them. sha1sum and sha256sum start a line with \ when they escape
// the name's \ as \\ (表示.TXT holds the byte 5c).
function nativeHashes(folder) {
  const lines = (program, args) => spawnSync(program, args, { cwd: folder }).stdout
    .toString('latin1').trimEnd().split('\n').map((line) => (line[0] === '\\'
      ? line.slice(1).replace(/\\(.)/g, (_, c) => (c === 'n' ? '\n' : c)) : line).split(/ +/));
  const hashes = new Map();
  const python = 'import os, zlib\nfor n in os.listdir(b"."): ' +
    'print("%08x" % zlib.crc32(open(n, "rb").read()), n.hex())';
  for (const [key, program, args] of [['crc32', 'python3', ['-c', python]],
                                      ['sha1', 'sh', ['-c', 'sha1sum -- *']],
                                      ['sha256', 'sh', ['-c', 'sha256sum -- *']]]) {
    for (const [hash, name] of lines(program, args)) {
      const hex = key === 'crc32' ? name : Buffer.from(name, 'latin1').toString('hex');
      hashes.set(hex, Object.assign(hashes.get(hex) || {}, { [key]: hash }));
    }
  }
  return hashes;
}

// A folder that a dry run names and never makes: it holds none of the files given.
const DRY_RUN = path.join(work, 'dry-run');

// A line of the programs' as the page shows it: capitalized, with a full stop.
const asSentence = (text) => text[0].toUpperCase() + text.slice(1) + '.';

// What d88extract says of `files` (and options) before it writes (the set refused or noted, the
// layout to choose), in the page's words, which name the list of layouts for --layout.
function nativeMessages(files) {
  const lines = runs('d88extract', ['-n', '-d', DRY_RUN, ...files]).stderr.split('\n');
  return lines.filter(Boolean).map((line) => asSentence(line.replace(/^d88extract: /, '')
    .replace(/; choose one with --layout.*/, '; choose one')
    .replace(/: use --layout ([ab])$/, ': choose layout $1')));
}

// A line of d88extract's, run in `work` on the files picked there, as the page shows it: its
// bytes as UTF-8, or when they are none (a zip's member named in Shift_JIS), as Shift_JIS.
function asPicked(line) {
  const bytes = Buffer.from(line, 'latin1');
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch (error) {
    return shiftJis.decode(bytes);
  }
}

// The members of a zip by name, in a Map (a name may be "__proto__").
function unzipped(bytes) {
  const members = new Map();
  const unzip = new Unzip((file) => {
    const chunks = [];
    file.ondata = (error, chunk, final) => {
      chunks.push(chunk);
      if (final) {
        members.set(file.name, Buffer.concat(chunks));
      }
    };
    file.start();
  });
  unzip.register(UnzipInflate);
  unzip.push(bytes, true);
  return members;
}

function decodable(bytes) {
  try {
    const text = shiftJis.decode(bytes);
    return /[\u0000-\u001f\u007f-\u009f]/.test(text) ? null : text;
  } catch (error) {
    return null;
  }
}

async function openPage() {
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(String(error)));
  await page.goto('file://' + pageFile);
  return page;
}

// Does `action` and waits for the summary or the error; returns the milliseconds it took.
async function relist(page, action) {
  await page.evaluate((s) => {
    document.querySelector(s).textContent = '';
    document.querySelector('[role=alert]').textContent = '';
  }, STATUS);
  const started = Date.now();
  await action();
  await page.waitForFunction((s) => document.querySelector(s).textContent ||
                                    document.querySelector('[role=alert]').textContent,
                             STATUS, { timeout: 30000 });
  return Date.now() - started;
}
const pick = (page, files) => relist(page, () => page.setInputFiles('input[type=file]', files));

async function download(page, selector) {
  const [file] = await Promise.all([page.waitForEvent('download'), page.click(selector)]);
  return { name: file.suggestedFilename(), bytes: fs.readFileSync(await file.path()) };
}

// The page lists the missing disks, entries, outcomes and summary of `d88extract -n` for
// `files`, in layout `letter`.
async function assertListsAsNative(page, letter, files) {
  const lines = run('d88extract', ['-n', '-d', DRY_RUN, '--layout', letter, '--names', 'shift_jis',
                                   ...[].concat(files)]).trimEnd().split('\n').slice(1);
  // The disks that entries need and no file holds, then the directory's sectors not read whole.
  const notes = [];
  while (/ is in none of the files: |^the directory's sector /.test(lines[0])) {
    notes.push(lines.shift().split(' it: ')[0]);
  }
  assert.deepEqual(await page.$$eval('#set-notes li', (items) => items.map((item) =>
    item.textContent.split(' it: ')[0])), notes);
  const rows = await page.$$eval('tr[data-outcome][data-index]', (trs) => trs.map((tr) =>
    [tr.dataset.index, tr.dataset.outcome, ...Array.from(tr.cells, (td) => td.textContent)]));
  assert.equal(rows.length, lines.length - 1);
  rows.forEach(([index, outcome, , shown, ...cells], i) => {
    const m = /^ *(\d+)  (.*?) *  DISK:(\w+) TRK:(\w+) SEC:(\w+) SIZE:(\w+)  (.*)$/.exec(lines[i]);
    // The outcome cell holds the outcome and its marks, as d88extract -n prints them.
    assert.deepEqual([index, outcome, ...cells.slice(0, 5)],
                     [m[1], m[7].split(' ')[0], ...m.slice(3, 8)]);
    const name = decodable(Buffer.from(m[2], 'latin1'));
    assert.ok(name === null ? /\\x[0-9a-f]{2}/.test(shown) : shown === name, `${shown} ${m[2]}`);
  });
  assert.equal(await page.textContent(STATUS), lines[lines.length - 1]);
  assert.equal(await page.inputValue('select[name=layout]'), letter);
}

// The zip holds exactly the files and bytes that d88extract writes from `files`, under
// `nameOf(name bytes)`, with the UTF-8 flag on every name that is not ASCII.
async function assertZipIsNative(page, letter, files, zipName,
                                 nameOf = (b) => shiftJis.decode(b)) {
  const zip = await download(page, '[data-action="download-all"]');
  assert.equal(zip.name, zipName);
  const expected = new Map([...nativeFiles(letter, files)].map(([hex, bytes]) =>
    [nameOf(Buffer.from(hex, 'hex')), bytes]));
  const members = unzipped(zip.bytes);
  assert.deepEqual([...members.keys()].sort(), [...expected.keys()].sort());
  assertToolsUnpack(zip.bytes, expected);
  for (const [name, bytes] of expected) {
    assert.ok(members.get(name).equals(bytes), `bytes of ${name}`);
  }
  // Central directory headers: flags at +8, name length at +28, name at +46.
  for (let i = 0, at = zip.bytes.readUInt32LE(zip.bytes.length - 6); i < expected.size; ++i) {
    const u16 = (offset) => zip.bytes.readUInt16LE(at + offset);
    if (zip.bytes.subarray(at + 46, at + 46 + u16(28)).some((byte) => byte >= 0x80)) {
      assert.ok(u16(8) & 0x800, 'UTF-8 flag');
    }
    at += 46 + u16(28) + u16(30) + u16(32);
  }
}

// Unpacks the zip `bytes` with `unzip`, `bsdtar` or Python's zipfile into a new folder.
function unpackedBy(tool, bytes) {
  const folder = fs.mkdtempSync(path.join(work, `${tool}-`));
  const zip = path.join(folder, '..', `${path.basename(folder)}.zip`);
  fs.writeFileSync(zip, bytes);
  const [program, args] = {
    unzip: ['unzip', ['-q', zip, '-d', folder]],
    bsdtar: ['bsdtar', ['-xf', zip, '-C', folder]],
    zipfile: ['python3', ['-c', 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(' +
                          'sys.argv[2])', zip, folder]],
  }[tool];
  const result = spawnSync(program, args, { env: { LC_ALL: 'C.UTF-8', PATH: process.env.PATH } });
  assert.equal(result.status, 0, `${tool}: ${result.stderr}`);
  return folder;
}

// unzip, bsdtar and Python's zipfile unpack the zip `bytes` into the files `expected` (by their
// UTF-8 names), with those bytes.
function assertToolsUnpack(bytes, expected) {
  for (const tool of ['unzip', 'bsdtar', 'zipfile']) {
    const folder = unpackedBy(tool, bytes);
    assert.deepEqual(fs.readdirSync(folder).sort(), [...expected.keys()].sort(), tool);
    for (const [name, content] of expected) {
      assert.ok(fs.readFileSync(path.join(folder, name)).equals(content), `${tool}: ${name}`);
    }
  }
}

async function closePage(page) {
  assert.deepEqual(page.errors, []);
  await page.close();
  assert.deepEqual(requests.filter((url) => !/^(file|blob):/.test(url)), [], 'network requests');
}

// Where things lie in the sample's full disks: 160 tracks of five 1040-byte records.
const DISK = 688 + 160 * 5200;
const record = (disk, track, index) => disk * DISK + 688 + track * 5200 + index * 1040;
// Byte `offset` of the directory (disk 0, track 1, sectors 1 to 3).
const directoryByte = (offset) => record(0, 1, offset >> 10) + 16 + (offset & 1023);
// Writes a 16-byte entry at `offset` of the directory: the name, then track, sector, size in
// KB and disk (from 0).
function writeEntry(bytes, offset, name, track, sector, kilobytes, disk) {
  const entry = Buffer.alloc(16, 0x20);
  Buffer.from(name, 'latin1').copy(entry);
  entry.set([track, sector, kilobytes, disk], 12);
  for (let i = 0; i < 16; ++i) { // the entry may cross into the next sector
    bytes[directoryByte(offset + i)] = entry[i];
  }
}

// The disks of an image as separate files, cut at the size field of each disk's header.
function splitDisks(image, names) {
  const bytes = fs.readFileSync(image);
  let offset = 0;
  return names.map((name) => {
    const size = bytes.readUInt32LE(offset + 0x1c);
    fs.writeFileSync(path.join(work, name), bytes.subarray(offset, (offset += size)));
    return path.join(work, name);
  });
}

test('the sample sets of both layouts list and download as the native programs do', async () => {
  for (const [letter, other] of [['a', 'b'], ['b', 'a']]) {
    const image = sample(`sample-${letter}.d88`, '--layout', letter);
    const page = await openPage();
    await pick(page, [image]);
    console.log(`sample, layout ${letter}: ${await page.textContent('#progress')}`);
    const layoutLine = run('d88info', [image]).trimEnd().split('\n').pop();
    assert.deepEqual([...layoutLine.matchAll(/layout ([ab]) \(/g)].map((m) => m[1]), [letter]);
    assert.equal(await page.textContent('#layout-note'), asSentence(layoutLine));
    await assertListsAsNative(page, letter, image);
    assert.deepEqual(await page.$$eval('#disk-rows tr', (trs) => trs.map((tr) => tr.innerText)),
                     [1, 2, 3, 4].map((n) => `${n - 1}\tSAMPLE DISK ${n}\t0${n}`));
    await assertZipIsNative(page, letter, image, `sample-${letter}.zip`);
    const saved = await download(page, 'tr[data-index="4"] a');
    assert.equal(saved.name, 'データ.DAT');
    assert.ok(saved.bytes.equals(nativeFiles(letter, image).get('8366815b835e2e444154')));

    // The other layout yields no files: as d88extract, the page lists nothing and says so.
    await relist(page, () => page.selectOption('select[name=layout]', other));
    assert.equal(run('d88extract', ['-n', '-d', DRY_RUN, '--layout', other, image]), '');
    assert.deepEqual(await said(page), nativeMessages(['--layout', other, image]));
    assert.equal(await page.locator('tr[data-index]').count(), 0);
    assert.equal(await page.textContent(STATUS), '');
    assert.ok(await page.isDisabled('[data-action="download-all"]'));
    await closePage(page);
  }
});

test('a damaged set shows the outcomes of d88extract -n and downloads what it writes',
     async () => {
  const bytes = fs.readFileSync(path.join(work, 'sample-a.d88'));
  const entry = (i) => record(0, 1, 0) + 16 + 434 + 16 * i; // all seven lie in sector 1
  bytes.write('RE/D', entry(0), 'latin1'); // unsafe
  bytes.write('CYLJUMP.BIN ', entry(1), 'latin1'); // written, then replaced by entry 2
  bytes[entry(3)] = 0xfd; // a byte that is no Shift_JIS
  bytes[entry(4) + 14] = 0; // size 0: empty
  bytes[entry(5) + 15] = 9; // disk 10: no-disk
  bytes[record(3, 0x2a, 0) + 2] = 9; // LARGE.BIN's run ends before its third track: incomplete
  bytes[record(1, 0x10, 1) + 8] = 0xb0; // entry 3's second sector and the directory's second
  bytes[record(0, 1, 1) + 8] = 0xb0; // are stored with a data CRC error
  const image = path.join(work, 'damaged.d88');
  fs.writeFileSync(image, bytes);
  const page = await openPage();
  await pick(page, [image]);
  await assertListsAsNative(page, 'a', image);
  const outcomes = await page.$$eval('tr[data-outcome]', (rows) => rows.map((row) =>
    row.dataset.outcome));
  assert.deepEqual(outcomes,
                   ['unsafe', 'extract', 'extract', 'extract', 'empty', 'no-disk', 'incomplete']);
  assert.equal(await page.textContent('tr[data-index="3"] .name'), '\\xfdBC.DAT');
  assert.equal(await page.getAttribute('tr[data-index="3"]', 'data-read-errors'), '1/3');
  assert.match(await page.textContent('#set-notes'),
               /the directory's sector 2 of 3 \(Disk A, track 1\) is stored with a read-error/);
  assert.equal(await page.textContent('tr[data-index="0"] td:last-child'), 'refused');
  assert.equal(await page.getAttribute('tr[data-index="1"]', 'data-replaced-by'), '2');
  assert.equal(await page.textContent('tr[data-index="1"] .outcome'), 'extract  replaced-by 2');
  await assertZipIsNative(page, 'a', image, 'damaged.zip',
                          (name) => (name[0] === 0xfd ? '%fdBC.DAT' : shiftJis.decode(name)));
  const large = await download(page, 'tr[data-index="6"] a');
  const written = nativeFiles('a', image).get(Buffer.from('LARGE.BIN').toString('hex'));
  assert.ok(large.bytes.equals(written), 'LARGE.BIN as written, zeros past the bytes read');

  bytes[record(0, 2, 0) + 2] = 9; // README's first sector gone: missing
  fs.writeFileSync(image, bytes);
  await pick(page, [image]);
  await assertListsAsNative(page, 'a', image);
  assert.equal(await page.getAttribute('tr[data-index="0"]', 'data-outcome'), 'missing');
  await closePage(page);
});

test('the 64-disk image is listed within seconds while the page stays responsive', async () => {
  const image = sample('big.d88', '--disks', '64', '--full');
  const page = await openPage();
  await page.evaluate(() => { // the longest pause of the page's own thread
    let last = performance.now();
    window.longestPause = 0;
    setInterval(() => {
      window.longestPause = Math.max(window.longestPause, performance.now() - last);
      last = performance.now();
    }, 20);
  });
  const full = sample('full.d88', '--full');
  await pick(page, [full]);
  console.log(`full four-disk set: ${await page.textContent('#progress')}`);
  await assertListsAsNative(page, 'a', full);
  // Three dumps of it, each with a sector of every disk stored with an error and other bytes.
  const dumps = [0, 1, 2].map((k) => dump(`full-dump${k}.d88`, [0, 1, 2, 3].map((disk) =>
    [disk, 10 + k, 1, 0xb0, true]), full));
  await pick(page, dumps);
  console.log(`three dumps of the full set: ${await page.textContent('#progress')}`);
  await assertListsAsNative(page, 'a', dumps);
  const milliseconds = await pick(page, [image]);
  const pause = await page.evaluate(() => window.longestPause);
  console.log(`64-disk image: ${await page.textContent('#progress')} (${milliseconds} ms seen ` +
              `by the test); longest pause ${pause.toFixed(0)} ms`);
  assert.ok(milliseconds < 10000 && pause < 500, `${milliseconds} ms, paused ${pause} ms`);
  await assertListsAsNative(page, 'a', image);
  assert.equal(await page.locator('#disk-rows tr').count(), 64);
  await closePage(page);
});

// Files as the page sorts them when they are picked together.
const byName = (files) => files.slice().sort((x, y) => path.basename(x).localeCompare(
  path.basename(y), 'en', { numeric: true }));
const writeFile = (name, ...pieces) => {
  fs.writeFileSync(path.join(work, name), Buffer.concat(pieces));
  return path.join(work, name);
};
// A zip of `members`, [name, bytes] pairs, each deflated.
function zipFile(name, members) {
  const chunks = [];
  const zip = new Zip((error, chunk) => chunks.push(chunk));
  for (const [memberName, bytes] of members) {
    const member = new ZipDeflate(memberName, { level: 1 });
    zip.add(member);
    member.push(bytes, true);
  }
  zip.end();
  return writeFile(name, ...chunks);
}
// Calls `patch` with the place of member `name`'s central directory header in zip `bytes`.
function patchZip(bytes, name, patch) {
  for (let at = bytes.readUInt32LE(bytes.length - 6); bytes.readUInt32LE(at) === 0x02014b50;
       at += 46 + bytes.readUInt16LE(at + 28) + bytes.readUInt16LE(at + 30)) {
    if (bytes.toString('utf8', at + 46, at + 46 + bytes.readUInt16LE(at + 28)) === name) {
      patch(at);
    }
  }
}
const said = async (page) => [...await page.$$eval('#image-notes li', (items) =>
  items.map((item) => item.textContent)), await page.textContent('[role=alert]')].filter(Boolean);

test('the files as given: disks by their ID bytes; files left out, disks missing or given twice ' +
     'are named as d88extract names them', async () => {
  const image = path.join(work, 'sample-a.d88');
  const whole = fs.readFileSync(image);
  const [a, b, c, d] = splitDisks(image, ['set-a.d88', 'set-b.d88', 'set-c.d88', 'set-d.d88']);
  const sameB = writeFile('again-b.d88', fs.readFileSync(b));
  const halfC = writeFile('set-c-cut.d88', fs.readFileSync(c).subarray(0, 400000));
  const halfA = writeFile('set-a-cut.d88', fs.readFileSync(a).subarray(0, 400000));
  const otherB = writeFile('other-b.d88', fs.readFileSync(b).fill(0x55, 20000, 20010));
  const alien = writeFile('alien.d88', fs.readFileSync(a).fill(0xe5, record(0, 79, 4) + 16,
                                                               record(0, 79, 4) + 17));
  // Disk B, the start of Disk A, then the rest of Disk A with Disk C and Disk D: cut across
  // disks, a whole set as given.
  const cut = [writeFile('x1', whole.subarray(DISK, 2 * DISK)),
               writeFile('x2', whole.subarray(0, 500000)),
               writeFile('x3', whole.subarray(500000, DISK), whole.subarray(2 * DISK))];
  const notes = writeFile('notes.txt',
                          Buffer.from('Not the disks you are looking for.\n'.repeat(40)));
  const noDirectory = Buffer.from(whole);
  for (let i = 0; i < 3072; ++i) {
    noDirectory[directoryByte(i)] = 0;
  }
  const none = writeFile('none.d88', noDirectory);
  const disks = zipFile('disks.zip', [
    ['set/', new Uint8Array(0)], ['set/readme.txt', fs.readFileSync(notes)],
    ['set/label.png', Buffer.alloc(4000, 0x89)], ['set/inner.zip', zipSync({ 'a.d88': whole })],
    ...[a, b, c, d].map((disk) => ['set/' + path.basename(disk), fs.readFileSync(disk)])]);
  const sixtyFour = sample('disks64.d88', '--disks', '64'); // sorted before set-a.d88
  // Two dumps of the set in a zip, under a name that is not ASCII (with the zip's UTF-8 flag)
  // and one that is: the copy joined first gives the contested sector's bytes.
  const other = Buffer.from(whole);
  other[record(0, 7, 4) + 16 + 100] ^= 0x5a;
  const dumps = zipFile('dumps.zip', [['b.d88', whole], ['\u3042.d88', other]]);
  // Full-width digits are not numbers to d88extract: ダンプ１０ is joined before ダンプ２.
  const wide = zipFile('wide.zip', [['\u30c0\u30f3\u30d7\uff12.d88', whole],
                                    ['\u30c0\u30f3\u30d7\uff11\uff10.d88', other]]);
  const page = await openPage();
  // files, those d88extract is given, the files left out, what the page says when it is not
  // what d88extract says, the layout listed, the zip's name.
  for (const [files, native, leftOut, says, layout, zipName] of [
    [[c, a, d, b], [a, b, c, d], '', null, 'a', 'SAMPLE DISK 1.zip'],
    [[a, b, c], [a, b, c], '', null, 'a'],
    [[a, b, halfC], [a, b, halfC], '', null, 'a'],
    [[halfA, b, c, d], [halfA, b, c, d], '', null, 'a'], // Disk A cut short where Disk B starts
    [[b, a, d, sameB], [b, a, d, sameB], '', null, 'a'],
    [[b, otherB, a, c, d], [b, otherB, a, c, d], '', null, 'a'],
    [cut, cut, '', null, 'a', 'SAMPLE DISK 1.zip'],
    [[a, notes, b, c, d], [a, b, c, d], 'notes.txt', null, 'a'],
    [[notes], [notes], 'notes.txt', null, null],
    [[sixtyFour, a], [sixtyFour, a], '', null, 'a'],
    [[alien], [alien], '', null, null],
    [[none], [none], '', null, null],
    [[disks], [a, b, c, d], 'disks.zip/set/inner.zip, disks.zip/set/label.png, ' +
     'disks.zip/set/readme.txt', null, 'a', 'disks.zip'],
    [[dumps], [dumps], '', null, 'a', 'dumps.zip'],
    [[wide], [wide], '', null, 'a', null],
  ]) {
    await pick(page, files);
    const message = `${files.map((file) => path.basename(file))}`;
    assert.equal(await page.textContent('#parts-order'),
                 leftOut && `Left out, as they are not D88 images: ${leftOut}.`, message);
    // Both name a zip's member 'set.zip/folder/A.d88', by the bytes that the zip stores.
    assert.deepEqual(await said(page), says || nativeMessages(byName(native)).map(asPicked),
                     message);
    if (layout) {
      await assertListsAsNative(page, layout, byName(native));
    } else {
      assert.equal(await page.locator('tr[data-index]').count(), 0, message);
    }
    if (zipName) {
      await assertZipIsNative(page, layout, byName(native), zipName);
    }
  }
  // A layout chosen where neither yields files lists nothing, as d88extract --layout.
  await pick(page, [none]);
  await relist(page, () => page.selectOption('select[name=layout]', 'a'));
  assert.deepEqual(await said(page), nativeMessages(['--layout', 'a', none]));
  assert.equal(await page.locator('tr[data-index]').count(), 0);
  // Reordered by hand: the disks change places, the set stays as it is.
  await pick(page, [c, a, d, b]);
  await relist(page, () => page.click('button[aria-label="move set-b.d88 up"]'));
  assert.equal(await page.textContent('#disk-rows tr:first-child'), '0SAMPLE DISK 202');
  await assertListsAsNative(page, 'a', [b, a, c, d]);
  await closePage(page);
});

// A zip written byte by byte, as tests/support/ZipBytes writes one, so that it can declare what
// no zip tool writes: `members` are [name, bytes, options], the options { stored, level (of
// deflate), declared (the size both headers declare), central, local (what one alone
// declares), crc, method, encrypted, utf8 (false: the name's bytes unmarked), mode (Unix) }.
function zipBytes(members) {
  const chunks = [];
  const directory = [];
  let offset = 0;
  for (const [name, bytes, options = {}] of members) {
    const nameBytes = Buffer.isBuffer(name) ? name : Buffer.from(name);
    let data = options.stored ? Buffer.from(bytes)
      : zlib.deflateRawSync(bytes, { level: options.level ?? 6 });
    if (options.encrypted) {
      data = Buffer.concat([Buffer.alloc(12, 0xa5), data]);
    }
    const size = options.declared ?? bytes.length;
    const fields = (declared) => {
      const b = Buffer.alloc(26);
      b.writeUInt16LE(20, 0);
      b.writeUInt16LE((options.encrypted ? 1 : 0) | (options.utf8 === false ? 0 : 0x800), 2);
      b.writeUInt16LE(options.method ?? (options.stored ? 0 : 8), 4);
      b.writeUInt32LE(0x5a210000, 6);
      b.writeUInt32LE(options.crc ?? zlib.crc32(bytes), 10);
      b.writeUInt32LE(data.length, 14);
      b.writeUInt32LE(declared ?? size, 18);
      b.writeUInt16LE(nameBytes.length, 22);
      return b;
    };
    const local = Buffer.concat([Buffer.from('PK\x03\x04', 'latin1'), fields(options.local),
                                 nameBytes, data]);
    const central = Buffer.alloc(14); // comment, disk, attributes, offset
    central.writeUInt32LE(((options.mode ?? 0o100644) << 16) >>> 0, 6);
    central.writeUInt32LE(offset, 10);
    directory.push(Buffer.from('PK\x01\x02\x1e\x03', 'latin1'), fields(options.central), central,
                   nameBytes);
    chunks.push(local);
    offset += local.length;
  }
  const directoryBytes = Buffer.concat(directory);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(members.length, 8);
  end.writeUInt16LE(members.length, 10);
  end.writeUInt32LE(directoryBytes.length, 12);
  end.writeUInt32LE(offset, 16);
  return Buffer.concat([...chunks, directoryBytes, end]);
}

// What d88extract says of `files`, as the page says it: its line about a zip it refuses, with
// the page's name in place of the program's, as a sentence; where the zip library's own words
// end it, up to them. Null when d88extract refuses no zip.
function nativeZipRefusal(files) {
  const line = runs('d88extract', ['-n', '-d', DRY_RUN, '--layout', 'a', ...files]).stderr
    .split('\n').find((each) =>
      / is refused: |cannot be read as a zip: |' holds [\d,]+ files;|, nor a zip /.test(each));
  if (!line) {
    return null;
  }
  const text = asSentence(asPicked(line).replace(/^d88extract: /, '')
    .replaceAll('d88extract', 'the page'));
  return text.replace(/(cannot be unpacked: |cannot be read as a zip: ).*/, '$1');
}

test('zips are read or refused as d88extract reads or refuses the same bytes, one policy for ' +
     'both', async () => {
  const image = path.join(work, 'sample-a.d88');
  const whole = fs.readFileSync(image);
  const disks = splitDisks(image, ['p-a.d88', 'p-b.d88', 'p-c.d88', 'p-d.d88'])
    .map((disk, i) => [`${'abcd'[i]}.d88`, fs.readFileSync(disk)]);
  const diskA = disks[0][1];
  const notes = Buffer.alloc(300, 0x78);
  const flipped = Buffer.from(diskA);
  flipped[50000] ^= 0x10;
  // Deflated in stored blocks: one bit flipped in the data still inflates to its length.
  const bitFlipped = zlib.deflateRawSync(diskA, { level: 0 });
  // The sample split where a sector of Disk B starts with "PK\3\4": a piece that goes on with a
  // disk, whatever its first bytes; and Disk A renamed "PK\3\4SET", a disk, given as a file.
  const marked = Buffer.from(whole);
  const cut = record(1, 20, 2) + 16;
  marked.write('PK\x03\x04MARK', cut, 'latin1');
  marked.write('PK\x03\x04SET', 0, 'latin1');
  const pkDisk = writeFile('pk-named.d88', marked);
  const other = Buffer.from(whole);
  other[record(0, 7, 4) + 16 + 100] ^= 0x5a;
  const encryptedFlags = Array.from({ length: 500 }, (_, i) => [`x${i}`, notes, { encrypted: true }]);
  const rows = [
    ['an encrypted member among disks', [...disks, ['secret.d88', notes, { encrypted: true }]]],
    ['500 encrypted-flag members beside 4 disks', [...encryptedFlags, ...disks]],
    ['a member declaring 600 MiB', [['a.d88', diskA, { declared: 600 * 2 ** 20 }]]],
    ['a stored member of 632 MB', [['a.d88', notes, { stored: true, declared: 632e6 }]]],
    ['600 MiB in the directory only', [['a.d88', diskA, { central: 600 * 2 ** 20 }]]],
    ['the directory\'s sizes short', [['a.d88', diskA, { central: 1000 }]]],
    ['the directory\'s sizes long', [['a.d88', diskA, { central: 2000000 }]]],
    ['the local sizes short', [['a.d88', diskA, { local: 100 }]]],
    ['a wrong CRC-32 with intact data', [['b.d88', notes], ['a.d88', diskA, { crc: 1 }]]],
    ['a stored disk with one byte flipped',
     [['a.d88', flipped, { stored: true, crc: zlib.crc32(diskA) }]]],
    ['deflated data with one bit flipped', [['a.d88', diskA, { level: 0 }]], (bytes) => {
      bytes[bytes.indexOf(bitFlipped.subarray(0, 64)) + 40000] ^= 0x08;
    }],
    ['a member declaring 4 GB', [['a.d88', diskA], ['zeros.bin', Buffer.alloc(1000),
                                                     { declared: 0xfffffff0 }]]],
    ['a member inflating past what it declares', [['liar.bin', Buffer.alloc(1e6),
                                                    { declared: 1000 }]]],
    ['another method', [['a.d88', diskA, { stored: true, method: 12 }]]],
    ['no zip at all', null, () => Buffer.concat([Buffer.from('PK\x03\x04'), Buffer.alloc(3000, 90)])],
    ['the image split where a piece starts with PK\\3\\4',
     [['set.d88.1', marked.subarray(0, cut)], ['set.d88.2', marked.subarray(cut)]]],
    ['members named as properties of every object',
     ['__proto__', 'constructor', 'hasOwnProperty', 'toString'].map((name, i) =>
       [name, disks[i][1]])],
    ['Shift_JIS names unmarked, a changed copy named 旧', [
      [Buffer.from([0x90, 0x56, 0x2e, 0x64, 0x38, 0x38]), whole, { utf8: false }],
      [Buffer.from([0x8b, 0x8c, 0x2e, 0x64, 0x38, 0x38]), other, { utf8: false }]]],
  ];
  const page = await openPage();
  for (const [what, members, change] of rows) {
    const bytes = members ? zipBytes(members) : change();
    if (members && change) {
      change(bytes);
    }
    const zip = writeFile('policy.zip', bytes);
    const milliseconds = await pick(page, [zip]);
    assert.ok(milliseconds < 20000, `${what}: ${milliseconds} ms`);
    const refusal = nativeZipRefusal([zip]);
    const alert = await page.textContent('[role=alert]');
    if (refusal) {
      assert.equal(alert.slice(0, refusal.length), refusal, what);
      assert.equal(await page.locator('tr[data-index]').count(), 0, what);
    } else {
      assert.equal(alert, '', what);
      await assertListsAsNative(page, 'a', [zip]);
      assert.deepEqual(await said(page), nativeMessages([zip]).map(asPicked), what);
    }
  }
  // Zips and files that sort as equal are joined in one order, whatever order they were
  // picked in; the limit of a pick's zips holds for all of them together; a disk whose first
  // bytes are a zip's is a disk.
  const [setA, setB] = ['a.zip', 'b.zip'].map((name, i) => writeFile(
    name, zipBytes([['set.d88', i ? other : whole]])));
  const dump1 = writeFile('dump1.d88', other);
  const dump01 = writeFile('dump01.d88', whole);
  const first = writeFile('first.zip', zipBytes([['a.d88', diskA]]));
  const limit = writeFile('limit.zip', zipBytes([['b.d88', notes, { declared: 2 ** 29 }]]));
  for (const [picked, joined] of [[[setB, setA], [setA, setB]], [[dump1, dump01], [dump01, dump1]],
                                  [[limit, first], [first, limit]], [[pkDisk], [pkDisk]]]) {
    await pick(page, picked);
    const refusal = nativeZipRefusal(joined);
    if (refusal) {
      assert.equal(await page.textContent('[role=alert]'), refusal);
    } else {
      await assertListsAsNative(page, 'a', joined);
      assert.deepEqual(await said(page), nativeMessages(joined).map(asPicked));
    }
  }
  // The same image as two files, the second starting with "PK\3\4": pieces of a disk, no zip.
  const pieces = [writeFile('marked.d88.1', marked.subarray(0, cut)),
                  writeFile('marked.d88.2', marked.subarray(cut))];
  await pick(page, [pieces[1], pieces[0]]);
  assert.equal(await page.textContent('[role=alert]'), '');
  await assertListsAsNative(page, 'a', pieces);
  // More than 64 files: in a zip, as d88extract says; given, in the page's words.
  const many = writeFile('many.zip', zipSync(Object.fromEntries(
    Array.from({ length: 100000 }, (_, i) => [`m${i}`, new Uint8Array(0)]))));
  await pick(page, [many]);
  assert.equal(await page.textContent('[role=alert]'), nativeZipRefusal([many]));
  const sixtyFive = Array.from({ length: 65 }, (_, i) => writeFile(`part${i}`, Buffer.from('x')));
  await pick(page, sixtyFive);
  assert.equal(await page.textContent('[role=alert]'), 'These are 65 files: the page joins at ' +
               'most 64 files into one image. Pick fewer, or join some of them first.');
  // A link left out is named, and stays named when the files are put in another order by hand;
  // a file left out has no buttons to move it.
  const linked = writeFile('linked.zip', zipBytes([['a.d88', whole],
                                                   ['link', Buffer.from('a.d88'), { mode: 0o120777 }]]));
  await pick(page, [linked, notesFile(), writeFile('z.d88', whole)]);
  const leftOut = await page.textContent('#parts-order');
  assert.match(leftOut, /linked\.zip\/link is neither a file nor a folder/);
  assert.equal(await page.locator('#part-list li[data-left-out] button').count(), 0);
  await relist(page, () => page.click('button[aria-label="move z.d88 up"]'));
  assert.equal(await page.textContent('#parts-order'), leftOut);
  await closePage(page);
});

const notesFile = () => writeFile('notes.txt', Buffer.from('Not a disk.\n'.repeat(40)));

test('an image of 3 GiB is listed and a file saved from it; what lies past its disks is not read',
     async () => {
  const huge = path.join(work, 'huge.d88');
  fs.copyFileSync(path.join(work, 'sample-a.d88'), huge);
  fs.truncateSync(huge, 3 * 2 ** 30); // sparse: zeros after the set
  const page = await openPage();
  await pick(page, [huge]);
  console.log(`3 GiB image: ${await page.textContent('#progress')}`);
  await assertListsAsNative(page, 'a', huge);
  assert.deepEqual(await said(page), nativeMessages([huge]));
  const large = await download(page, 'tr[data-index="6"] a');
  const written = nativeFiles('a', huge).get(Buffer.from('LARGE.BIN').toString('hex'));
  assert.ok(large.bytes.equals(written));
  await closePage(page);
});

test('the policy runs no script but the page\'s own: no injected handler, element or blob',
     async () => {
  const page = await openPage();
  const ran = await page.evaluate(async () => {
    const violations = [];
    document.addEventListener('securitypolicyviolation',
                              (event) => violations.push(event.effectiveDirective));
    window.ran = [];
    document.body.insertAdjacentHTML('beforeend',
      '<img src="data:image/gif;base64,R0lGODlhAQABAAAAACw=" onload="ran.push(1)" ' +
      'onerror="ran.push(1)"><button id="injected" onclick="ran.push(2)">x</button>');
    document.getElementById('injected').click();
    const inline = document.createElement('script');
    inline.textContent = 'ran.push(3)';
    document.body.append(inline);
    const fromBlob = document.createElement('script');
    fromBlob.src = URL.createObjectURL(new Blob(['ran.push(4)'], { type: 'text/javascript' }));
    document.body.append(fromBlob);
    await new Promise((resolve) => setTimeout(resolve, 500));
    return { ran: window.ran, violations: [...new Set(violations)].sort() };
  });
  assert.deepEqual(ran, { ran: [], violations: ['script-src-attr', 'script-src-elem'] });
  await closePage(page);
});

test('a change of layout shows and zips only the new layout\'s files', async () => {
  // Layout b's entry 150 lies over layout a's entries 149 and 150, which yield no file.
  const bytes = fs.readFileSync(path.join(work, 'sample-a.d88'));
  writeEntry(bytes, 422 + 16 * 150, 'BFILE.TXT', 2, 1, 2, 0);
  const image = path.join(work, 'both.d88');
  fs.writeFileSync(image, bytes);
  const page = await openPage();
  // Both yield files: the page asks as d88extract does, and lists nothing until one is chosen.
  await pick(page, [image]);
  assert.deepEqual(await said(page), nativeMessages([image]));
  assert.equal(await page.textContent('#layout-note'), await page.textContent('[role=alert]'));
  assert.equal(await page.inputValue('select[name=layout]'), '');
  assert.equal(await page.locator('tr[data-index]').count(), 0);
  await relist(page, () => page.selectOption('select[name=layout]', 'a'));
  assert.deepEqual(await said(page), []);
  await assertListsAsNative(page, 'a', image);
  // Changed, changed back and changed again before any listing is shown: nothing of the listing
  // before stays, and what is shown and zipped at the end is layout b's.
  await relist(page, async () => {
    const shownBetween = await page.evaluate(() => ['b', 'a', 'b'].map((letter) => {
      const select = document.querySelector('select[name=layout]');
      select.value = letter;
      select.dispatchEvent(new Event('change'));
      return [document.querySelectorAll('tr[data-index]').length,
              document.querySelector('[data-action="download-all"]').disabled];
    }));
    assert.deepEqual(shownBetween, [[0, true], [0, true], [0, true]]);
  });
  await assertListsAsNative(page, 'b', image);
  await assertZipIsNative(page, 'b', image, 'both.zip');
  await closePage(page);
});

test('names that are one file in a zip are one row saved, and no zip name is a path',
     async () => {
  const bytes = fs.readFileSync(path.join(work, 'sample-a.d88'));
  // Entries 7 to 13, all with README's bytes: '%' and a byte that is no character (saved as
  // %80), the Shift_JIS twins ED 40 and FA 5C (both 纊), and names that are paths on Windows.
  const names = ['A%80.TXT', 'A\x80.TXT', '\xed\x40.TXT', '\xfa\x5c.TXT', '..\\..\\X.BAT',
                 'C:\\X.TXT', '\\ROOT.TXT'];
  names.forEach((name, i) => writeEntry(bytes, 434 + 16 * (7 + i), name, 2, 1, 2, 0));
  const image = path.join(work, 'names.d88');
  fs.writeFileSync(image, bytes);
  const page = await openPage();
  await pick(page, [image]);
  assert.deepEqual(await page.$$eval('tr[data-replaced-by]', (rows) => rows.map((row) =>
    [row.dataset.index, row.dataset.replacedBy])), [['7', '8'], ['9', '10']]);
  const saved = await page.$$eval('tr[data-index]:not([data-replaced-by]) a', (links) =>
    links.map((link) => link.download));
  assert.deepEqual(saved.slice(7), ['A%80.TXT', '纊.TXT', '..%5c..%5cX.BAT', 'C%3a%5cX.TXT',
                                    '%5cROOT.TXT']);
  // The zip holds one file per row that is not replaced, with the bytes that d88extract
  // writes for that entry's name.
  const zip = unzipped((await download(page, '[data-action="download-all"]')).bytes);
  assert.deepEqual([...zip.keys()].sort(), saved.slice().sort());
  const native = nativeFiles('a', image);
  const plan = JSON.parse(run('d88info', ['--set', 'a', '--json', image]));
  const rows = await page.$$eval('tr[data-index]:not([data-replaced-by]) a', (links) =>
    links.map((link) => [Number(link.closest('tr').dataset.index), link.download]));
  for (const [index, name] of rows) {
    const entry = plan.entries.find((each) => each.index === index);
    assert.ok(zip.get(name).equals(native.get(entry.name.bytes)), name);
  }
  const one = await download(page, 'tr[data-index="12"] a');
  assert.equal(one.name, 'C%3a%5cX.TXT');
  await closePage(page);
});

// A copy of the sample set (or of `image`) with `changes`: [disk, track, sector number, status,
// change] stores that sector with `status` and, with `change`, one of its data bytes changed;
// 'header' renames every disk and sets its write-protect flag, which no file's bytes hold.
function dump(name, changes, image = path.join(work, 'sample-a.d88')) {
  const bytes = fs.readFileSync(image);
  for (const change of changes) {
    if (change === 'header') {
      for (let disk = 0; disk < 4; ++disk) {
        bytes.fill(0, disk * DISK, disk * DISK + 17).write('ANOTHER DUMP', disk * DISK, 'latin1');
        bytes[disk * DISK + 0x1a] = 0x10;
      }
    } else {
      const [disk, track, sector, status, changed] = change;
      bytes[record(disk, track, sector - 1) + 8] = status;
      bytes[record(disk, track, sector - 1) + 16 + 100] ^= changed ? 0x5a : 0;
    }
  }
  return writeFile(name, bytes);
}

test('several dumps of the set: the sectors taken from each copy marked and said as d88extract ' +
     'says them, the clean set\'s files saved, and every file\'s hashes', async () => {
  const CRC = 0xb0; // a data CRC error
  const clean = path.join(work, 'sample-a.d88');
  const page = await openPage();
  // The dumps; the line under each file's row (by name) and the lines on the directory and
  // contested sectors that d88extract prints.
  for (const [dumps, lines, copyNotes] of [
    [[[[0, 2, 2, CRC, true], [0, 1, 1, CRC, true], [3, 40, 1, CRC, true]],
      [[0, 4, 4, CRC, true], [0, 1, 2, CRC, true]], [[0, 2, 2, CRC, true], [1, 16, 2, CRC, true]]],
     // Whichever copy holds a sector in error, it is taken from those that hold it without.
     [['README.TXT', "sectors from copies: repaired 1 from 'dump1.d88' (disk 4)"],
      ['HEADJUMP.BIN', "sectors from copies: repaired 0 from 'dump0.d88' (disk 0)"],
      ['ABC.DAT', "sectors from copies: repaired 0 from 'dump0.d88' (disk 1)"],
      ['LARGE.BIN', "sectors from copies: repaired 0 from 'dump1.d88' (disk 7)"]],
     ["the directory's sectors from copies: repaired 0 from 'dump1.d88' (disk 4), 1 from " +
      "'dump0.d88' (disk 0)"]],
    [[[], [[0, 7, 5, 0, true]]],
     [['CYLJUMP.BIN', "sectors from copies: contested 0 from 'dump0.d88' (disk 0) (1 of 2, a tie)"]],
     ["contested sector 0 of file 'CYLJUMP.BIN': its copies read without error hold other bytes; " +
      "taken from 'dump0.d88' (disk 0) (1 of 2, a tie)"]],
    [[[[0, 2, 1, CRC, true]], [[0, 2, 1, CRC, false]], [[0, 2, 1, CRC, false]]],
     [['README.TXT', 'sectors from copies: voted 0 (2 of 3)']], []],
    [[[], ['header']], [], []],
  ]) {
    const files = dumps.map((changes, i) => dump(`dump${i}.d88`, changes));
    await pick(page, files);
    await assertListsAsNative(page, 'a', files);
    // The marks' sectors as d88extract -n --json lists them, the lines as d88extract prints them.
    const plan = JSON.parse(run('d88extract', ['-n', '--json', '-d', DRY_RUN, '--layout', 'a',
                                               '--names', 'shift_jis', ...files]));
    assert.deepEqual(await page.$$eval('tr[data-index]', (rows) => rows.map(({ dataset }) =>
      [dataset.repaired, dataset.contested, dataset.voted].map((sectors) => sectors || ''))),
    plan.entries.map((entry) => [entry.repaired, entry.contested, entry.voted].map(String)));
    const native = nativeRun('a', files);
    const said = native.stdout.split('\n').flatMap((line, i, all) =>
      (/^  sectors from copies: /.test(line) ? [[all[i - 1].split(' ')[0], line.trim()]] : []));
    const shown = await page.$$eval('tr.copies', (rows) => rows.map((row) =>
      [row.previousElementSibling.querySelector('.name').textContent, row.textContent]));
    const messages = native.stderr.replace(/^d88extract: /gm, '').split('\n').filter((line) =>
      /sectors from copies|^contested sector/.test(line));
    assert.deepEqual([shown, said, messages], [lines, lines, copyNotes]);
    assert.deepEqual(await page.$$eval('#copy-notes li', (items) =>
      items.map((item) => item.textContent)), messages);
    // The clean set's files, and the hashes of the files that d88extract writes.
    await assertZipIsNative(page, 'a', clean, 'SAMPLE DISK 1.zip');
    await page.waitForSelector('[data-action="download-sums"]:not([disabled])');
    const hashes = await page.$$eval('tr[data-sha256]:not([data-replaced-by])', (rows) =>
      rows.map(({ dataset: { index, crc32, sha1, sha256 } }) => [+index, { crc32, sha1, sha256 }]));
    const expected = nativeHashes(native.folder);
    assert.equal(hashes.length, expected.size);
    for (const [index, fileHashes] of hashes) {
      const entry = plan.entries.find((each) => each.index === index);
      assert.deepEqual(fileHashes, expected.get(entry.saved_as.bytes), entry.saved_as.bytes);
    }
  }
  // SHA256SUMS checks the zip's files where unzip unpacks it.
  const zipBytesSaved = (await download(page, '[data-action="download-all"]')).bytes;
  const zip = unzipped(zipBytesSaved);
  const folder = unpackedBy('unzip', zipBytesSaved);
  const sums = await download(page, '[data-action="download-sums"]');
  assert.equal(sums.name, 'SHA256SUMS');
  fs.writeFileSync(path.join(folder, 'SHA256SUMS'), sums.bytes);
  const check = spawnSync('sha256sum', ['-c', 'SHA256SUMS'], { cwd: folder, env: { LC_ALL: 'C' } });
  assert.equal(check.status, 0, check.stderr.toString());
  assert.equal(check.stdout.toString().match(/: OK$/gm).length, zip.size);
  await closePage(page);
});

// ---- Putting changed files back: the page against d88update ----

// The files that d88extract writes from `image` in `letter`, under their UTF-8 names: the folder
// that the changed files are taken from.
function extractedFolder(image, letter) {
  const folder = fs.mkdtempSync(path.join(work, 'changed-'));
  run('d88extract', ['-d', folder, '--layout', letter, '--names', 'utf-8', image]);
  return folder;
}

// What d88update does with `images` and the files of `changed`, run in a folder of its own so
// that it names what the page names: the files as 'changed files', the output as `output`.
// { status, stdout, stderr (lines, without "d88update: "), out: the new image's bytes, or the
// new folder's files by name, or null }.
function nativeUpdate(images, changed, output, letter) {
  const cwd = fs.mkdtempSync(path.join(work, 'update-'));
  fs.cpSync(changed, path.join(cwd, 'changed files'), { recursive: true });
  fs.mkdirSync(path.join(cwd, 'given'));
  const given = images.map((image) => {
    fs.copyFileSync(image, path.join(cwd, 'given', path.basename(image)));
    return `given/${path.basename(image)}`;
  });
  const result = spawnSync(path.join(build, 'programs', 'd88update'),
                           ['-o', output, '--from', 'changed files', '--layout', letter, ...given],
                           { cwd, env: Object.assign({}, process.env, { LC_ALL: 'C.UTF-8' }) });
  const lines = (bytes) => bytes.toString().split('\n').filter(Boolean)
    .map((line) => line.replace(/^d88update: /, ''));
  const out = path.join(cwd, output);
  return { status: result.status, stdout: lines(result.stdout), stderr: lines(result.stderr),
           out: !fs.existsSync(out) ? null : fs.statSync(out).isFile() ? fs.readFileSync(out)
             : new Map(fs.readdirSync(out).map((name) => [name, fs.readFileSync(path.join(out,
                                                                                        name))])) };
}

// Drops the files of `changed` on the page (its image listed) and returns what it shows.
async function putBackOnPage(page, changed) {
  await page.evaluate(() => { document.querySelector('#update').dataset.state = ''; });
  await page.setInputFiles('input[name=changed]', fs.readdirSync(changed).map((name) =>
    path.join(changed, name)));
  await page.waitForSelector('#update[data-state=done]', { timeout: 30000 });
  return {
    lines: (await page.textContent('#update-lines')).split('\n').filter(Boolean),
    messages: await page.$$eval('#update-messages li', (items) =>
      items.map((item) => item.textContent)),
    summary: await page.textContent('#update-summary'),
    outcomes: await page.$$eval('tr[data-update-outcome]', (rows) =>
      rows.map((row) => [row.cells[0].textContent, row.dataset.updateOutcome])),
    offered: !await page.isDisabled('[data-action="download-update"]'),
  };
}

// The page says what d88update says of the same files, and offers the new image byte for byte
// as d88update writes it (one image, or a zip of the new disk files), or nothing when it
// writes nothing. Returns what the page showed.
async function assertPutsBackAsNative(page, images, changed, output, letter = 'a') {
  const native = nativeUpdate(images, changed, output, letter);
  const shown = await putBackOnPage(page, changed);
  const written = native.status === 0;
  assert.deepEqual([shown.lines, shown.messages, shown.summary, shown.offered],
                   [native.stdout, native.stderr.slice(0, written ? -1 : undefined).map(asSentence),
                    written ? asSentence(native.stderr[native.stderr.length - 1]) : '', written]);
  if (written) {
    const file = await download(page, '[data-action="download-update"]');
    assert.equal(file.name, output);
    if (Buffer.isBuffer(native.out)) {
      assert.ok(file.bytes.equals(native.out), `${output}: the bytes that d88update writes`);
    } else {
      const members = unzipped(file.bytes);
      assert.deepEqual([...members.keys()].sort(), [...native.out.keys()].sort());
      for (const [name, bytes] of native.out) {
        assert.ok(members.get(name).equals(bytes), `${output}/${name}`);
      }
    }
  } else {
    assert.equal(native.out, null);
  }
  return Object.assign(shown, { native });
}

test('changed files put back into a new image as d88update puts them back', async () => {
  const page = await openPage();
  // The round trip: the files as extracted give the image given, in both layouts.
  for (const letter of ['a', 'b']) {
    const image = sample(`update-${letter}.d88`, '--layout', letter);
    await pick(page, [image]);
    const folder = extractedFolder(image, letter);
    const shown = await assertPutsBackAsNative(page, [image], folder, `update-${letter}.d88`,
                                               letter);
    assert.ok(shown.native.out.equals(fs.readFileSync(image)), 'the bytes given');
    assert.equal(shown.summary, `0 files put back; 7 unchanged; 'update-${letter}.d88' holds ` +
                 'the bytes given.');
  }
  // One file changed, and one that no entry saves under.
  const image = path.join(work, 'update-a.d88');
  await pick(page, [image]);
  const folder = extractedFolder(image, 'a');
  const readme = fs.readFileSync(path.join(folder, 'README.TXT'));
  readme.write('Changed on the page.', 100);
  fs.writeFileSync(path.join(folder, 'README.TXT'), readme);
  fs.writeFileSync(path.join(folder, 'notes.txt'), 'Not a file of the set.\n');
  const changed = await assertPutsBackAsNative(page, [image], folder, 'update-a.d88');
  assert.equal(changed.lines[0],
               'README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800  2 sectors written, 1 changed');
  assert.deepEqual(changed.outcomes.filter(([name]) => /README|notes/.test(name)),
                   [['README.TXT', 'put-back'], ['notes.txt', 'left-out']]);
  // A file longer than its entry: refused, and nothing is offered.
  const large = path.join(folder, 'LARGE.BIN');
  fs.appendFileSync(large, Buffer.alloc(300, 0x41));
  const refused = await assertPutsBackAsNative(page, [image], folder, 'update-a.d88');
  assert.ok(refused.messages.includes("'LARGE.BIN' needs 61 sectors; its entry holds 60."),
            `${refused.messages}`);
  // The set as four disk files, one file shorter: a zip of the four new disks.
  fs.truncateSync(large, 5000);
  const disks = splitDisks(image, ['A.d88', 'B.d88', 'C.d88', 'D.d88']);
  await pick(page, disks);
  const several = await assertPutsBackAsNative(page, disks, folder, 'SAMPLE DISK 1-updated.zip');
  assert.equal(several.native.out.size, 4);
  assert.ok(several.lines.includes('  shorter than its entry: 5000 of 61440 bytes, zeros after'));
  // Two copies of Disk B: refused before any file is decided, as d88update refuses them.
  const twice = [...disks, writeFile('B-again.d88', fs.readFileSync(disks[1]))];
  await pick(page, twice);
  const copies = await assertPutsBackAsNative(page, twice, folder, 'SAMPLE DISK 1-updated.zip');
  assert.deepEqual(copies.messages, ['Disk B is given 2 times: give one copy of each disk.']);
  // Two files dropped under one name: the page cannot tell which one stands for the entry.
  await pick(page, disks);
  const other = fs.mkdtempSync(path.join(work, 'other-'));
  fs.copyFileSync(path.join(folder, 'README.TXT'), path.join(other, 'README.TXT'));
  await page.setInputFiles('input[name=changed]', [path.join(folder, 'README.TXT'),
                                                   path.join(other, 'README.TXT')]);
  await page.waitForSelector('#update[data-state=done]');
  assert.deepEqual(await page.$$eval('#update-messages li', (items) => items.map((item) =>
    item.textContent)), ["Two of the files dropped are named 'README.TXT': drop one of them."]);
  assert.ok(await page.isDisabled('[data-action="download-update"]'));
  await closePage(page);
});

test('changed files put back into a damaged set, over a shared name and from a zip, as ' +
     'd88update puts them back', async () => {
  // Entry 7 is README.TXT again, over entry 0's sectors, the second of them stored with a data
  // CRC error; LARGE.BIN's run ends before its third track.
  const bytes = fs.readFileSync(path.join(work, 'sample-a.d88'));
  writeEntry(bytes, 434 + 16 * 7, 'README.TXT', 2, 1, 2, 0);
  bytes[record(0, 2, 1) + 8] = 0xb0;
  bytes[record(3, 0x2a, 0) + 2] = 9;
  const image = writeFile('update-damaged.d88', bytes);
  const folder = extractedFolder(image, 'a');
  const readme = fs.readFileSync(path.join(folder, 'README.TXT'));
  fs.writeFileSync(path.join(folder, 'README.TXT'), readme.fill(0x2a, 1500, 1600));
  const page = await openPage();
  await pick(page, [image]);
  const shared = await assertPutsBackAsNative(page, [image], folder, 'update-damaged.d88');
  assert.deepEqual(shared.lines.slice(0, 3), [
    "entry 0 'README.TXT' left as it is: the file of that name is entry 7's",
    'README.TXT    DISK:01 TRK:02 SEC:01 SIZE:800  2 sectors written, 1 changed, 1 status ' +
    'cleared', "  entry 0 'README.TXT' shares its sectors and changes with it"]);
  // Bytes other than zero where the image holds no sector: refused.
  fs.writeFileSync(path.join(folder, 'LARGE.BIN'), Buffer.alloc(61440, 0x41));
  const missing = await assertPutsBackAsNative(page, [image], folder, 'update-damaged.d88');
  assert.ok(missing.messages.includes("'LARGE.BIN' needs 60 sectors; the image holds 10 of its " +
                                      "entry's 60, and a missing sector cannot be made."),
            `${missing.messages}`);
  // The set's four disks in a zip: the zip's new disks, named as the zip's members.
  const sample = path.join(work, 'sample-a.d88');
  const disks = zipFile('update-disks.zip', splitDisks(sample, ['A.d88', 'B.d88', 'C.d88',
                                                                'D.d88'])
    .map((disk) => [`set/${path.basename(disk)}`, fs.readFileSync(disk)]));
  const changed = extractedFolder(sample, 'a');
  fs.writeFileSync(path.join(changed, 'ABC.DAT'), 'ABC');
  await pick(page, [disks]);
  const zipped = await assertPutsBackAsNative(page, [disks], changed, 'update-disks-updated.zip');
  assert.deepEqual([...zipped.native.out.keys()].sort(), ['A.d88', 'B.d88', 'C.d88', 'D.d88']);
  await closePage(page);
});
