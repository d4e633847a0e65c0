// The page: takes the image files, has the worker list them with the project's C++ and shows
// the disks, the layout that fits and the directory as d88info --set lists it, with a link for
// every file that the extraction writes and a zip of them all.
'use strict';
(function () {
  const $ = (selector) => document.querySelector(selector);
  const MIN_DISKS = 4;
  const OUTCOME_MEANING = {
    extract: 'written whole',
    incomplete: 'written with its full size, zeros past the bytes that could be read',
    empty: 'passed over: size 0',
    'no-disk': 'passed over: no disk carries its number',
    missing: 'passed over: its first sector cannot be read',
    unsafe: 'refused: the name could reach outside the folder or can never be created',
  };

  const workerText = $('#worker-source').textContent;
  const worker = new Worker(URL.createObjectURL(new Blob([workerText],
                                                         { type: 'text/javascript' })));

  // Names are Shift_JIS bytes. A byte that does not decode, or decodes to a control
  // character, is kept apart so that it can be shown as \xNN.
  const strictShiftJis = new TextDecoder('shift_jis', { fatal: true });
  const isLeadByte = (b) => (b >= 0x81 && b <= 0x9f) || (b >= 0xe0 && b <= 0xfc);
  const isControl = (text) => /[\u0000-\u001f\u007f-\u009f]/.test(text);
  function decodeName(bytes) {
    const pieces = [];
    for (let i = 0; i < bytes.length;) {
      const length = isLeadByte(bytes[i]) && i + 1 < bytes.length ? 2 : 1;
      let text = null;
      try {
        text = strictShiftJis.decode(bytes.subarray(i, i + length));
      } catch (error) {
        text = null;
      }
      if (text === null || isControl(text)) {
        pieces.push({ byte: bytes[i] });
        i += 1;
      } else {
        pieces.push({ text });
        i += length;
      }
    }
    return pieces;
  }
  const hex2 = (byte) => byte.toString(16).padStart(2, '0');
  // The name to save a file under: undecodable bytes as %NN, which no file system refuses.
  const saveName = (pieces) =>
    pieces.map((p) => (p.text !== undefined ? p.text : '%' + hex2(p.byte))).join('');
  function nameElement(pieces) {
    const span = document.createElement('span');
    span.className = 'name';
    for (const piece of pieces) {
      if (piece.text !== undefined) {
        span.append(piece.text);
      } else {
        const raw = document.createElement('span');
        raw.className = 'raw';
        raw.title = 'a byte that is not Shift_JIS text';
        raw.textContent = '\\x' + hex2(piece.byte);
        span.append(raw);
      }
    }
    return span;
  }
  const bytesKey = (bytes) => Array.from(bytes, hex2).join('');

  let parts = []; // the files to join, { name, blob }, in the order in which they are joined
  let imageId = 0; // the image of the last 'open' request: answers about others are ignored
  let listing = null; // the shown listing: its layout and entries with their decoded names
  let objectUrls = [];
  let startedAt = 0;

  function cell(row, content, className) {
    const td = row.insertCell();
    if (content instanceof Node) {
      td.append(content);
    } else {
      td.textContent = content;
    }
    if (className) {
      td.className = className;
    }
    return td;
  }

  function formatBytes(count) {
    return count >= 1e6 ? (count / 1e6).toFixed(1) + ' MB' : count.toLocaleString('en') + ' bytes';
  }

  function imageName() {
    return parts.length ? parts[0].name.replace(/\.[^.]*$/, '') || parts[0].name : 'image';
  }

  function clearListing() {
    objectUrls.forEach((url) => URL.revokeObjectURL(url));
    objectUrls = [];
    listing = null;
    $('#alert').textContent = '';
    $('#summary').textContent = '';
    $('#disk-rows').replaceChildren();
    $('#entry-rows').replaceChildren();
    $('#disks').hidden = true;
    $('#set').hidden = true;
    $('[data-action="download-all"]').disabled = true;
  }

  // Between a change of layout and its listing nothing of the listing before is shown or saved.
  function clearEntries() {
    objectUrls.forEach((url) => URL.revokeObjectURL(url));
    objectUrls = [];
    listing = null;
    $('#entry-rows').replaceChildren();
    $('#summary').textContent = '';
    $('#directory-errors').textContent = '';
    $('[data-action="download-all"]').disabled = true;
  }

  function showParts() {
    const list = $('#part-list');
    list.replaceChildren();
    parts.forEach((file, i) => {
      const item = document.createElement('li');
      item.append(`${file.name} (${formatBytes(file.blob.size)}) `);
      for (const [label, step] of parts.length > 1 ? [['↑', -1], ['↓', 1]] : []) {
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = label;
        button.setAttribute('aria-label', `move ${file.name} ${step < 0 ? 'up' : 'down'}`);
        button.disabled = i + step < 0 || i + step >= parts.length;
        button.addEventListener('click', () => {
          [parts[i], parts[i + step]] = [parts[i + step], parts[i]];
          openParts(false);
        });
        item.append(button);
      }
      list.append(item);
    });
    $('#parts').hidden = parts.length === 0;
    $('#parts-title').textContent = parts.length > 1 ? 'Files, joined in this order' : 'Image file';
    $('#parts-hint').hidden = parts.length < 2;
  }

  // Has the worker join `parts` and list them; with `arrange` it unpacks zips and orders the
  // files first.
  function openParts(arrange) {
    showParts();
    clearListing();
    if (!parts.length) {
      return;
    }
    startedAt = performance.now();
    const total = parts.reduce((sum, file) => sum + file.blob.size, 0);
    $('#progress').textContent = `Reading ${formatBytes(total)}…`;
    worker.postMessage({ type: 'open', image: ++imageId, parts, arrange });
  }

  function showDisks(disks) {
    const rows = $('#disk-rows');
    for (const disk of disks) {
      const row = rows.insertRow();
      cell(row, String(disk.index), 'number');
      cell(row, nameElement(decodeName(disk.name)));
      cell(row, disk.setId < 0 ? 'none' : hex2(disk.setId), 'number');
    }
    $('#disks').hidden = false;
  }

  function showTooFewDisks(message) {
    const found = message.diskCount === 1 ? '1 disk' : `${message.diskCount} disks`;
    const joined = parts.length > 1 ? `, joined from ${parts.length} files` : '';
    $('#alert').textContent =
      `Found ${found} in ${formatBytes(message.imageBytes)}${joined}` +
      (message.diskCount === 0 ? ': this is not a D88 image. ' : '. ') +
      'The extraction needs Disk A to Disk D: one file that holds the four disks joined, ' +
      'or the four disk files picked together, Disk A first.';
  }

  // When no layout yields files: a Disk A that is not the first disk, where the directory is.
  function diskANote(disks) {
    const diskA = disks.find((disk) => disk.setId === 1);
    return diskA && diskA.index !== 0 ? ` Disk ${diskA.index} carries ID byte 01 (Disk A), ` +
      'but the directory is read from disk 0: put Disk A first.' : '';
  }

  function layoutNote(counts, disks) {
    const files = (n) => (n === 1 ? '1 file' : `${n} files`);
    if (counts.a > 0 && counts.b > 0) {
      return `Both layouts yield files: a ${files(counts.a)}, b ${files(counts.b)}. Choose one.`;
    }
    if (counts.a > 0 || counts.b > 0) {
      const [fits, other] = counts.a > 0 ? ['a', 'b'] : ['b', 'a'];
      return `Layout ${fits} fits: ${files(counts[fits])}; layout ${other} yields none.`;
    }
    return 'No files in either layout.' + diskANote(disks);
  }

  function showEntries(message) {
    $('#entry-rows').replaceChildren();
    $('#summary').textContent = '';
    objectUrls.forEach((url) => URL.revokeObjectURL(url));
    objectUrls = [];
    const entries = message.entries.map((entry) =>
      Object.assign({ pieces: decodeName(entry.name), key: bytesKey(entry.name) }, entry));
    // The folder keeps the file of the last entry of a name.
    const lastOfName = new Map();
    entries.forEach((entry) => entry.file && lastOfName.set(entry.key, entry));
    const rows = $('#entry-rows');
    for (const entry of entries) {
      const row = rows.insertRow();
      row.dataset.outcome = entry.outcome;
      row.dataset.index = String(entry.index);
      cell(row, String(entry.index), 'number');
      cell(row, nameElement(entry.pieces));
      cell(row, hex2(entry.diskNumber), 'number');
      cell(row, hex2(entry.track), 'number');
      cell(row, hex2(entry.sector), 'number');
      cell(row, hex2(entry.size), 'number');
      const outcome = entry.outcome === 'incomplete'
        ? `incomplete ${entry.bytesRead}/${entry.size}` : entry.outcome;
      const outcomeCell = cell(row, outcome, 'outcome');
      outcomeCell.title = OUTCOME_MEANING[entry.outcome] || '';
      if (entry.file && entry.errorSectors > 0) { // marked as d88info marks it
        const errors = `${entry.errorSectors}/${entry.sectors}`;
        const mark = document.createElement('span');
        mark.className = 'read-errors';
        mark.title = `${errors} of its sectors are stored as read with an error: ` +
                     'their bytes may be wrong';
        mark.textContent = `read-errors ${errors}`;
        outcomeCell.append('  ', mark);
        row.dataset.readErrors = errors;
      }
      if (entry.file) {
        const link = document.createElement('a');
        const url = URL.createObjectURL(entry.file);
        objectUrls.push(url);
        link.href = url;
        link.download = saveName(entry.pieces);
        link.textContent = 'save';
        const td = cell(row, link);
        const last = lastOfName.get(entry.key);
        if (last !== entry) {
          td.append(` (replaced by ${last.index})`);
        }
      } else {
        cell(row, entry.outcome === 'unsafe' ? 'refused' : '—');
      }
    }
    listing = { image: message.image, layout: message.layout, entries };
    $('select[name=layout]').value = message.layout;
    const button = $('[data-action="download-all"]');
    button.disabled = !entries.some((entry) => entry.file);
    button.textContent = `Download all as ${imageName()}.zip`;
    $('#summary').textContent = message.summary;
    $('#directory-errors').textContent = message.directoryErrors;
    $('#set').hidden = false;
    const seconds = ((performance.now() - startedAt) / 1000).toFixed(2);
    $('#progress').textContent = `Listed in ${seconds} s.`;
  }

  worker.onmessage = (event) => {
    const message = event.data;
    if (message.image !== imageId) {
      return; // an answer about an image that a later one replaced
    }
    if (message.type === 'failure') {
      $('#progress').textContent = '';
      $('#alert').textContent = `The page failed: ${message.message}`;
    } else if (message.type === 'listing') {
      if (message.refused) {
        $('#progress').textContent = '';
        $('#alert').textContent = message.refused;
        return;
      }
      parts = message.parts;
      showParts();
      $('#parts-order').textContent = message.movedFirst
        ? `${message.movedFirst} holds Disk A (ID byte 01), so it comes first.` : '';
      showDisks(message.disks);
      if (message.diskCount < MIN_DISKS) {
        $('#progress').textContent = '';
        showTooFewDisks(message);
        return;
      }
      $('#layout-note').textContent = layoutNote(message.counts, message.disks);
      showEntries(message);
    } else if (message.type === 'set') {
      if (message.layout === $('select[name=layout]').value) {
        showEntries(message); // otherwise a later change of layout has its own request
      }
    } else if (message.type === 'zip' && listing && message.layout === listing.layout) {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(message.zip);
      objectUrls.push(link.href);
      link.download = imageName() + '.zip';
      $('#progress').textContent = `Made ${link.download}, ${formatBytes(message.zip.size)}.`;
      link.click();
    }
  };

  $('select[name=layout]').addEventListener('change', (event) => {
    clearEntries();
    startedAt = performance.now();
    $('#progress').textContent = 'Reading the directory…';
    worker.postMessage({ type: 'layout', image: imageId, layout: event.target.value });
  });

  $('[data-action="download-all"]').addEventListener('click', () => {
    if (!listing) {
      return;
    }
    $('#progress').textContent = 'Making the zip…';
    const names = {};
    listing.entries.forEach((entry) => { names[entry.index] = saveName(entry.pieces); });
    worker.postMessage({ type: 'zip', image: listing.image, layout: listing.layout, names });
  });

  function takeFiles(fileList) {
    parts = Array.from(fileList, (file) => ({ name: file.name, blob: file }));
    openParts(true);
  }
  const input = $('input[type=file]');
  input.addEventListener('change', () => {
    takeFiles(input.files);
    input.value = ''; // so that picking the same files again reads them again
  });
  const drop = $('#pick');
  drop.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    takeFiles(event.dataTransfer.files);
  });
})();
