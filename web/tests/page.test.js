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
const { chromium } = require('playwright-core');
const { unzipSync, zipSync } = require('fflate');

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
});

after(async () => {
  await context.close();
  fs.rmSync(work, { recursive: true, force: true });
});

function run(name, args, cwd = work) {
  const result = spawnSync(path.join(build, name === 'd88sample' ? 'sample' : 'tool', name), args,
                           { cwd });
  assert.ok(result.status === 0 || result.status === 1, `${name} ${args}: ${result.stderr}`);
  return result.stdout.toString('latin1'); // names are Shift_JIS bytes
}

function sample(name, ...options) {
  run('d88sample', [...options, path.join(work, name)]);
  return path.join(work, name);
}

// The files that d88extract-LETTER writes, by their name bytes in hex.
function nativeFiles(letter, image) {
  const folder = fs.mkdtempSync(path.join(work, 'native-'));
  run(`d88extract-${letter}`, [image], folder);
  return new Map(fs.readdirSync(folder, { encoding: 'buffer' }).map((name) => [
    name.toString('hex'), fs.readFileSync(Buffer.concat([Buffer.from(folder + '/'), name]))]));
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
  await page.evaluate((s) => { document.querySelector(s).textContent = ''; }, STATUS);
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

// The page lists the entries, outcomes and summary of `d88info --set LETTER`, in its layout.
async function assertListsAsInfo(page, letter, image) {
  const lines = run('d88info', ['--set', letter, image]).trimEnd().split('\n');
  const directoryErrors = /^read errors/.test(lines[1]) ? lines.splice(1, 1)[0] : '';
  assert.equal(await page.textContent('#directory-errors'), directoryErrors);
  const rows = await page.$$eval('tr[data-outcome][data-index]', (trs) => trs.map((tr) =>
    [tr.dataset.index, tr.dataset.outcome, ...Array.from(tr.cells, (td) => td.textContent)]));
  assert.equal(rows.length, lines.length - 2);
  rows.forEach(([index, outcome, , shown, ...cells], i) => {
    const m = /^ *(\d+)  (.*?) *  DISK:(\w+) TRK:(\w+) SEC:(\w+) SIZE:(\w+)  (.*)$/
      .exec(lines[i + 1]);
    // The outcome cell holds the outcome and its marks, as d88info prints them.
    assert.deepEqual([index, outcome, ...cells.slice(0, 5)],
                     [m[1], m[7].split(' ')[0], ...m.slice(3, 8)]);
    const name = decodable(Buffer.from(m[2], 'latin1'));
    assert.ok(name === null ? /\\x[0-9a-f]{2}/.test(shown) : shown === name, `${shown} ${m[2]}`);
  });
  assert.equal(await page.textContent(STATUS), lines[lines.length - 1]);
  assert.equal(await page.inputValue('select[name=layout]'), letter);
}

// The zip holds exactly the native program's files and bytes, under `nameOf(name bytes)`, with
// the UTF-8 flag on every name that is not ASCII.
async function assertZipIsNative(page, letter, image, zipName, nameOf = (b) => shiftJis.decode(b)) {
  const zip = await download(page, '[data-action="download-all"]');
  assert.equal(zip.name, zipName);
  const expected = new Map([...nativeFiles(letter, image)].map(([hex, bytes]) =>
    [nameOf(Buffer.from(hex, 'hex')), bytes]));
  const entries = unzipSync(zip.bytes);
  assert.deepEqual(Object.keys(entries).sort(), [...expected.keys()].sort());
  for (const [name, bytes] of expected) {
    assert.ok(Buffer.from(entries[name]).equals(bytes), `bytes of ${name}`);
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
    const layoutLine = run('d88info', [image]).trimEnd().split('\n').pop();
    assert.deepEqual([...layoutLine.matchAll(/layout ([ab]) \(/g)].map((m) => m[1]), [letter]);
    await assertListsAsInfo(page, letter, image);
    assert.deepEqual(await page.$$eval('#disk-rows tr', (trs) => trs.map((tr) => tr.innerText)),
                     [1, 2, 3, 4].map((n) => `${n - 1}\tSAMPLE DISK ${n}\t0${n}`));
    await assertZipIsNative(page, letter, image, `sample-${letter}.zip`);
    const saved = await download(page, 'tr[data-index="4"] a');
    assert.equal(saved.name, 'データ.DAT');
    assert.ok(saved.bytes.equals(nativeFiles(letter, image).get('8366815b835e2e444154')));

    await relist(page, () => page.selectOption('select[name=layout]', other));
    await assertListsAsInfo(page, other, image);
    await closePage(page);
  }
});

test('separate disk files are joined in the order shown, and can be reordered', async () => {
  const image = path.join(work, 'sample-a.d88');
  const disks = splitDisks(image, ['disk1.d88', 'disk2.d88', 'disk3.d88', 'disk4.d88']);
  const page = await openPage();
  await pick(page, [disks[2], disks[0], disks[3], disks[1]]);
  await assertListsAsInfo(page, 'a', image);
  await assertZipIsNative(page, 'a', image, 'disk1.zip');

  // Disk B first: the directory is then read from Disk B, as from the files joined that way.
  const swapped = path.join(work, 'swapped.d88');
  fs.writeFileSync(swapped, Buffer.concat([1, 0, 2, 3].map((i) => fs.readFileSync(disks[i]))));
  await relist(page, () => page.click('button[aria-label="move disk2.d88 up"]'));
  assert.equal(await page.textContent('#disk-rows tr:first-child'), '0SAMPLE DISK 202');
  await assertListsAsInfo(page, 'a', swapped);
  await closePage(page);
});

test('junk and three disks are refused, saying what was found and what is needed', async () => {
  const junk = path.join(work, 'notes.txt');
  fs.writeFileSync(junk, 'These are not the disks you are looking for.\n');
  const three = splitDisks(path.join(work, 'sample-a.d88'), ['a.d88', 'b.d88', 'c.d88']);
  for (const [files, found] of [[[junk], 'Found 0 disks'], [three, 'Found 3 disks']]) {
    const page = await openPage();
    await pick(page, files);
    const alert = await page.textContent('[role=alert]');
    assert.ok(alert.startsWith(found) && alert.includes('Disk A to Disk D'), alert);
    assert.equal(await page.locator('tr[data-index]').count(), 0);
    assert.equal(await page.locator('[data-action="download-all"]').isVisible(), false);
    assert.equal(await page.textContent(STATUS), '');
    await closePage(page);
  }
});

test('a damaged set shows the outcomes of d88info and downloads what the program writes',
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
  await assertListsAsInfo(page, 'a', image);
  const outcomes = await page.$$eval('tr[data-outcome]', (rows) => rows.map((row) =>
    row.dataset.outcome));
  assert.deepEqual(outcomes,
                   ['unsafe', 'extract', 'extract', 'extract', 'empty', 'no-disk', 'incomplete']);
  assert.equal(await page.textContent('tr[data-index="3"] .name'), '\\xfdBC.DAT');
  assert.equal(await page.getAttribute('tr[data-index="3"]', 'data-read-errors'), '1/3');
  assert.match(await page.textContent('#directory-errors'), /^read errors in the directory: 1 of/);
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
  await assertListsAsInfo(page, 'a', image);
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
  const milliseconds = await pick(page, [image]);
  const pause = await page.evaluate(() => window.longestPause);
  console.log(`64-disk image listed in ${milliseconds} ms; longest pause ${pause.toFixed(0)} ms`);
  assert.ok(milliseconds < 10000 && pause < 500, `${milliseconds} ms, paused ${pause} ms`);
  await assertListsAsInfo(page, 'a', image);
  assert.equal(await page.locator('#disk-rows tr').count(), 64);
  await closePage(page);
});

test('disk files in any order, zipped or not, list as the joined image; what holds none is named',
     async () => {
  const image = path.join(work, 'sample-a.d88');
  // By name Disk A comes last; the page puts it first, as d88extract does.
  const disks = splitDisks(image, ['set-d.d88', 'set-a.d88', 'set-b.d88', 'set-c.d88']);
  const members = Object.fromEntries(disks.map((disk) => [path.basename(disk),
                                                          fs.readFileSync(disk)]));
  const zip = (name, files) => {
    fs.writeFileSync(path.join(work, name), zipSync(files));
    return path.join(work, name);
  };
  const page = await openPage();
  const order = ['set-d.d88', 'set-a.d88', 'set-b.d88', 'set-c.d88'];
  const first = 'set-d.d88 holds Disk A (ID byte 01), so it comes first.';
  for (const [files, note] of [
    [disks.slice().reverse(), first],
    [[zip('disks.zip', { 'set/': new Uint8Array(0), 'set/README': Buffer.from('x'),
                         ...Object.fromEntries(Object.entries(members).map(
                           ([name, bytes]) => ['set/' + name, bytes])) })],
     `${first} Left out, as they hold no D88 disk: disks.zip: set/README.`],
    [[zip('joined.zip', { 'sample-a.d88': fs.readFileSync(image) })], '']]) {
    await pick(page, files);
    const shown = await page.$$eval('#part-list li', (items) => items.map((item) =>
      item.firstChild.textContent.split(' ')[0]));
    assert.deepEqual(shown, note ? order : ['sample-a.d88']);
    assert.equal(await page.textContent('#parts-order'), note);
    await assertListsAsInfo(page, 'a', image);
    await assertZipIsNative(page, 'a', image, `${shown[0].replace(/\.d88$/, '')}.zip`);
  }
  const notes = path.join(work, 'notes.txt');
  fs.writeFileSync(notes, 'no disks here');
  for (const [files, alert] of [
    [[zip('other.zip', { 'notes.txt': Buffer.from('no disks here') })],
     'other.zip holds no D88 disk image: it holds notes.txt.'],
    [[zip('empty.zip', {})], 'empty.zip holds no D88 disk image: it is empty.'],
    [[...disks, notes],
     'notes.txt is not a D88 image: pick only the disk files, or a zip of them.'],
  ]) {
    await pick(page, files);
    assert.equal(await page.textContent('[role=alert]'), alert);
    assert.equal(await page.locator('tr[data-index]').count(), 0);
  }
  // Two files with a Disk A: joined as given (by name), and the page says why.
  await pick(page, [disks[0], disks[1], path.join(work, 'disk1.d88')]);
  assert.equal(await page.textContent('#parts-order'), 'disk1.d88 and set-d.d88 both hold a ' +
               'disk with ID byte 01 (Disk A): they are joined in the order shown.');
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
  await pick(page, [image]);
  assert.match(await page.textContent('#layout-note'), /^Both layouts yield files/);
  await assertListsAsInfo(page, 'a', image);
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
  await assertListsAsInfo(page, 'b', image);
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
  // The zip holds one file per row that is not replaced, with the bytes that d88extract-a
  // writes for that entry's name.
  const zip = unzipSync((await download(page, '[data-action="download-all"]')).bytes);
  assert.deepEqual(Object.keys(zip).sort(), saved.slice().sort());
  const native = nativeFiles('a', image);
  const plan = JSON.parse(run('d88info', ['--set', 'a', '--json', image]));
  const rows = await page.$$eval('tr[data-index]:not([data-replaced-by]) a', (links) =>
    links.map((link) => [Number(link.closest('tr').dataset.index), link.download]));
  for (const [index, name] of rows) {
    const entry = plan.entries.find((each) => each.index === index);
    assert.ok(Buffer.from(zip[name]).equals(native.get(entry.name.bytes)), name);
  }
  const one = await download(page, 'tr[data-index="12"] a');
  assert.equal(one.name, 'C%3a%5cX.TXT');
  await closePage(page);
});
