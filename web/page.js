// The page: takes the image files (or zips of them), has the worker plan them with the project's
// C++ and prints that plan: the files left out, the disks known by their ID bytes, the layout
// that d88extract reads and the directory as d88extract -n lists it, with a link for every file
// that the extraction writes, its hashes, and a zip of them all; then takes the changed files
// dropped beside the image and shows what d88update would put back, and the new image once the
// C++ has made and checked it. Which files are read, what is refused, what is said of them,
// which layout is listed, what is written under which name, what replaces what, which sectors
// came from which copy and what becomes of a changed file is the C++'s, in its words, never
// decided here.
'use strict';
(function () {
  const $ = (selector) => document.querySelector(selector);

  const workerText = $('#worker-source').textContent;
  const worker = new Worker(URL.createObjectURL(new Blob([workerText],
                                                         { type: 'text/javascript' })));

  // A name of the plan, { bytes: hex, text: UTF-8 or null }: its text, or when the bytes do not
  // decode, the bytes, those outside printable ASCII as \xNN; control characters as \xNN too.
  const hex2 = (byte) => byte.toString(16).padStart(2, '0');
  const isControl = (code) => code < 0x20 || (code >= 0x7f && code <= 0x9f);
  function nameElement(name) {
    const span = document.createElement('span');
    span.className = 'name';
    const raw = (code, title) => {
      const piece = document.createElement('span');
      piece.className = 'raw';
      piece.title = title;
      piece.textContent = '\\x' + hex2(code);
      span.append(piece);
    };
    if (name.text !== null) {
      for (const character of name.text) {
        const code = character.codePointAt(0);
        if (isControl(code)) {
          raw(code, 'a control character');
        } else {
          span.append(character);
        }
      }
    } else {
      for (const pair of name.bytes.match(/../g) || []) {
        const byte = parseInt(pair, 16);
        if (byte >= 0x20 && byte < 0x7f) {
          span.append(String.fromCharCode(byte));
        } else {
          raw(byte, 'a byte of a name that is not Shift_JIS text');
        }
      }
    }
    return span;
  }

  let parts = []; // the files to join, { name, blob }, in the order in which they are joined
  let imageId = 0; // the image of the last 'open' request: answers about others are ignored
  let listing = null; // the image and layout of the listing shown
  let layoutQuestion = false; // the alert asks for a layout
  let objectUrls = [];
  let startedAt = 0;
  let entries = []; // the entries of the listing shown
  let hashes = new Map(); // by entry index: { crc32, sha1, sha256 } of the file it saves
  let saved = []; // the entries whose files "Download all" saves, as the C++ decides them
  let zipName = 'd88extract'; // the name of that zip, without .zip, as the C++ decides it
  let listedText = ''; // what #progress said when the listing was shown
  let updateId = 0; // the last putting back asked for: answers to earlier ones are ignored
  let newImage = null; // { file, name }: the new image, once the C++ has checked it

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
  // A note of d88extract's (without its program name) as a sentence.
  const sentence = (text) => text[0].toUpperCase() + text.slice(1) + '.';

  function say(selector, lines) {
    const list = $(selector);
    list.replaceChildren(...lines.map((line) => {
      const item = document.createElement('li');
      item.append(...[].concat(line));
      return item;
    }));
  }

  // Nothing of a putting back is shown or offered until the C++ has decided it anew.
  function clearUpdate() {
    newImage = null;
    $('#update').dataset.state = '';
    $('#update-rows').replaceChildren();
    $('#update-table').hidden = true;
    $('#update-lines').textContent = '';
    $('#update-lines').hidden = true;
    $('#update-messages').replaceChildren();
    $('#update-summary').textContent = '';
    const button = $('[data-action="download-update"]');
    button.disabled = true;
    button.textContent = 'Download the new image';
  }

  // Between a change of layout and its listing nothing of the listing before is shown or saved.
  function clearEntries() {
    objectUrls.forEach((url) => URL.revokeObjectURL(url));
    objectUrls = [];
    listing = null;
    entries = [];
    saved = [];
    hashes = new Map();
    $('#entry-rows').replaceChildren();
    $('#set-notes').replaceChildren();
    $('#copy-notes').replaceChildren();
    $('#summary').textContent = '';
    $('[data-action="download-all"]').disabled = true;
    $('[data-action="download-sums"]').disabled = true;
    clearUpdate();
    $('#update').hidden = true;
  }

  function clearListing() {
    clearEntries();
    layoutQuestion = false;
    $('#alert').textContent = '';
    $('#image-notes').replaceChildren();
    $('#layout-note').textContent = '';
    $('#disk-rows').replaceChildren();
    $('#disks').hidden = true;
    $('#set').hidden = true;
  }

  function showParts(leftOut = []) {
    const list = $('#part-list');
    list.replaceChildren();
    parts.forEach((file, i) => {
      const item = document.createElement('li');
      item.append(`${file.name} (${formatBytes(file.blob.size)}) `);
      if (leftOut.includes(i)) {
        item.className = 'left-out';
        item.dataset.leftOut = '';
        item.append('left out ');
      }
      // Only the files read are put in another order: one left out stays out wherever it goes.
      const movable = parts.length > 1 && !leftOut.includes(i);
      for (const [label, step] of movable ? [['↑', -1], ['↓', 1]] : []) {
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

  // Has the worker join `parts` and list them; with `unpack` it unpacks zips and sorts the
  // files by name first.
  function openParts(unpack) {
    showParts();
    clearListing();
    $('#parts-order').textContent = '';
    if (!parts.length) {
      return;
    }
    startedAt = performance.now();
    const total = parts.reduce((sum, file) => sum + file.blob.size, 0);
    $('#progress').textContent = `Reading ${formatBytes(total)}…`;
    worker.postMessage({ type: 'open', image: ++imageId, parts, unpack });
  }

  // The disks that the files hold, as the image's plan describes them.
  function showDisks(plan) {
    const rows = $('#disk-rows');
    for (const disk of plan.disks.slice(0, plan.set.disks)) {
      const row = rows.insertRow();
      cell(row, String(disk.index), 'number');
      cell(row, disk.name ? nameElement(disk.name) : '—');
      cell(row, disk.set_id === null ? 'none' : hex2(disk.set_id), 'number');
    }
    $('#disks').hidden = plan.set.disks === 0;
  }

  // What d88extract says of the files before it writes: the refusal in the alert, the rest
  // above the table, each marked with its kind (damage or note).
  function showNotes(notes) {
    const shown = notes.filter((note) => note.kind !== 'refusal');
    say('#image-notes', shown.map((note) => sentence(note.text)));
    $('#image-notes').querySelectorAll('li').forEach((item, i) => {
      item.dataset.kind = shown[i].kind;
    });
    const refusal = notes.find((note) => note.kind === 'refusal');
    $('#alert').textContent = refusal ? sentence(refusal.text) : '';
  }

  // The C++'s lines on the layout (d88info's layout line, or why d88extract lists no layout) as
  // sentences; where no layout is listed, the page's hint to choose one of those that yield
  // files in the list, where d88extract names its --layout option.
  function layoutText(decision) {
    const [first, second] = decision.choose;
    const hint = second ? '; choose one' : first ? `: choose layout ${first}` : '';
    const lines = decision.note.map((line) => line.trim());
    lines[lines.length - 1] += hint;
    return lines.map(sentence).join(' ');
  }

  // The layout chosen yields no files: as d88extract, the page lists nothing and says why.
  function showLayoutProblem(decision) {
    clearEntries();
    $('#progress').textContent = '';
    $('#alert').textContent = layoutText(decision);
    layoutQuestion = true;
  }

  // A mark after the outcome, as d88extract -n prints it.
  function mark(outcomeCell, className, text, title) {
    const span = document.createElement('span');
    span.className = className;
    span.title = title;
    span.textContent = text;
    outcomeCell.append('  ', span);
  }

  // The hashes of entry `index`'s file, on its row: its hooks and a cell that opens to show them.
  function showHashes(index, fileHashes) {
    hashes.set(index, fileHashes);
    const row = $(`tr[data-index="${index}"]`);
    if (!row) {
      return;
    }
    const details = document.createElement('details');
    const summary = document.createElement('summary');
    summary.textContent = fileHashes.crc32;
    summary.title = 'CRC-32; open for SHA-1 and SHA-256';
    details.append(summary);
    for (const [label, key] of [['CRC-32', 'crc32'], ['SHA-1', 'sha1'], ['SHA-256', 'sha256']]) {
      row.dataset[key] = fileHashes[key];
      const line = document.createElement('div');
      line.textContent = `${label} ${fileHashes[key]}`;
      details.append(line);
    }
    row.querySelector('.hashes').replaceChildren(details);
  }

  // The lines that `sha256sum -c` checks in the folder where the zip is unpacked: one per file
  // of the zip, under its name there. Zip names hold no backslash, line feed or other control
  // character (the plan writes those as %NN), so no line needs sha256sum's escapes.
  function sha256Sums() {
    return entries.filter((entry) => saved.includes(entry.index))
      .map((entry) => `${hashes.get(entry.index).sha256}  ${entry.saved_as.text}\n`).join('');
  }

  // The marks after an entry's outcome, as d88extract -n prints them: its read errors, the
  // sectors taken from other copies of its disk (the C++'s runs of sector numbers; the line
  // that d88extract prints under the file's report line says from where), the entry whose file
  // replaces it.
  function markOutcome(outcomeCell, row, entry, merged) {
    const errors = entry.read_errors;
    if (entry.saved_as && errors.error_sectors > 0) {
      const shown = `${errors.error_sectors}/${errors.sectors}`;
      mark(outcomeCell, 'read-errors', `read-errors ${shown}`,
           `${shown} of its sectors are stored as read with an error: their bytes may be wrong`);
      row.dataset.readErrors = shown;
    }
    for (const taken of entry.saved_as ? ['repaired', 'contested', 'voted'] : []) {
      if (entry[taken].length > 0) {
        mark(outcomeCell, taken, `${taken} ${merged.runs[taken]}`, merged.merge);
        row.dataset[taken] = entry[taken].join(',');
      }
    }
    if (entry.replaced_by !== null) {
      mark(outcomeCell, 'replaced-by', `replaced-by ${entry.replaced_by}`,
           `entry ${entry.replaced_by} is saved under the same name: the folder and the zip ` +
           'keep its file, not this one');
      row.dataset.replacedBy = String(entry.replaced_by);
    }
  }

  // The last cell of an entry's row: a link that saves its file (the worker makes it when it is
  // saved, from the pieces of the given files), or why it has none, as the C++ groups outcomes.
  function saveCell(row, entry) {
    if (!entry.saved_as) {
      cell(row, entry.kind === 'refused' ? 'refused' : '—');
      return;
    }
    const link = document.createElement('a');
    link.href = '#';
    link.download = entry.saved_as.text;
    link.textContent = 'save';
    link.addEventListener('click', (event) => {
      event.preventDefault();
      $('#progress').textContent = `Making ${entry.saved_as.text}…`;
      worker.postMessage({ type: 'file', image: listing.image, layout: listing.layout,
                           index: entry.index });
    });
    cell(row, link);
  }

  // One entry's row, and under it the line on the sectors taken from copies when it has one.
  function entryRow(rows, entry, meanings, merged) {
    const row = rows.insertRow();
    row.dataset.outcome = entry.outcome;
    row.dataset.index = String(entry.index);
    cell(row, String(entry.index), 'number');
    cell(row, nameElement(entry.name));
    cell(row, hex2(entry.disk), 'number');
    cell(row, hex2(entry.track), 'number');
    cell(row, hex2(entry.sector), 'number');
    cell(row, hex2(entry.size), 'number');
    const outcome = entry.outcome === 'incomplete'
      ? `incomplete ${entry.bytes_read}/${entry.size}` : entry.outcome;
    const outcomeCell = cell(row, outcome, 'outcome');
    outcomeCell.title = meanings[entry.outcome] || '';
    markOutcome(outcomeCell, row, entry, merged);
    cell(row, entry.saved_as ? '…' : '', 'hashes');
    saveCell(row, entry);
    if (merged) {
      const line = rows.insertRow();
      line.className = 'copies';
      cell(line, merged.merge).colSpan = row.cells.length;
    }
  }

  // What d88extract -n says beside the entries: the disks that entries need and the directory's
  // sectors not read whole above them, the sectors from copies, and the summary below.
  function showSetLines(message) {
    say('#set-notes', message.setNotes.map((note) => note.text));
    const directory = message.directoryCopies;
    say('#copy-notes', [directory.merge,
                        ...message.entryCopies.flatMap((lines) => lines.contested)]
      .filter(Boolean));
    const button = $('[data-action="download-all"]');
    button.disabled = message.set.summary.files === 0;
    button.textContent = `Download all as ${zipName}.zip`;
    $('#summary').textContent = message.summary;
  }

  // The set's plan (the document of d88extract -n --json, with the zip's names).
  function showEntries(message) {
    clearEntries();
    entries = message.set.entries;
    saved = message.saved;
    const copies = new Map(message.entryCopies.map((lines) => [lines.index, lines]));
    const rows = $('#entry-rows');
    for (const entry of entries) {
      entryRow(rows, entry, message.set.meanings, copies.get(entry.index));
    }
    showSetLines(message);
    listing = { image: message.image, layout: message.layout };
    $('select[name=layout]').value = message.layout;
    if (layoutQuestion) {
      $('#alert').textContent = ''; // the layout is chosen
      layoutQuestion = false;
    }
    $('#set').hidden = false;
    $('#update').hidden = false;
    const seconds = ((performance.now() - startedAt) / 1000).toFixed(2);
    listedText = `Listed in ${seconds} s; hashing the files…`;
    $('#progress').textContent = listedText;
    // Hashed once the listing is on screen: the worker then never slows showing it.
    worker.postMessage({ type: 'hashes', image: listing.image, layout: listing.layout });
  }

  // The hashes of some of the listing's files; with `done`, of all of them.
  function takeHashes(message) {
    message.hashes.forEach((fileHashes) => showHashes(fileHashes.index, fileHashes));
    if (!message.done) {
      return;
    }
    const seconds = ((performance.now() - startedAt) / 1000).toFixed(2);
    if ($('#progress').textContent === listedText) {
      $('#progress').textContent = message.unavailable ? `No hashes: ${message.unavailable}.`
        : listedText.replace(/hashing the files…$/, `hashed in ${seconds} s.`);
    }
    $('[data-action="download-sums"]').disabled = !!message.unavailable || saved.length === 0;
  }

  function showListing(message) {
    parts = message.parts;
    zipName = message.zipName || 'd88extract';
    const { listing: planned, notes } = message;
    const leftOut = planned ? planned.left_out : [];
    showParts(leftOut);
    $('#parts-order').textContent = [
      leftOut.length && `Left out, as they are not D88 images: ` +
        `${leftOut.map((i) => parts[i].name).join(', ')}.`,
      notes.length && `Left out of the zips: ${notes.slice(0, 20).join('; ')}` +
        (notes.length > 20 ? `; and ${notes.length - 20} more.` : '.'),
    ].filter(Boolean).join(' ');
    $('#progress').textContent = '';
    if (!planned) {
      $('#alert').textContent = 'No file to read.';
      return;
    }
    const plan = planned.image;
    if (plan) {
      showDisks(plan);
    }
    showNotes(planned.notes);
    if (planned.refused) {
      return;
    }
    $('#layout-note').textContent = layoutText(planned.layout_decision);
    if (message.set) {
      showEntries(message);
      return;
    }
    // Both layouts yield files, or neither: d88extract lists neither, and the user chooses.
    $('#alert').textContent = $('#layout-note').textContent;
    layoutQuestion = true;
    $('select[name=layout]').value = '';
    $('#set').hidden = false;
  }

  // Has the worker put `fileList`, the changed files, back into the listed image.
  function putBack(fileList) {
    if (!listing || fileList.length === 0) {
      return;
    }
    clearUpdate();
    $('#update').dataset.state = 'working';
    $('#update-summary').textContent = 'Putting the files back…';
    const files = Array.from(fileList, (file) => ({ name: file.name, blob: file }));
    worker.postMessage({ type: 'update', image: listing.image, layout: listing.layout,
                         update: ++updateId, files });
  }

  // What the C++ decided of the changed files, in d88update's words: each file's entry and
  // outcome, the report lines, the messages, and the summary with the new image once checked.
  function showUpdate({ plan, check, file }) {
    clearUpdate();
    const rows = $('#update-rows');
    for (const changed of plan.files) {
      const row = rows.insertRow();
      row.dataset.updateOutcome = changed.outcome;
      cell(row, changed.name, 'name');
      cell(row, changed.entry === null ? '—' : String(changed.entry), 'number');
      cell(row, changed.outcome, 'outcome');
    }
    $('#update-table').hidden = plan.files.length === 0;
    $('#update-lines').textContent = plan.lines.join('\n');
    $('#update-lines').hidden = plan.lines.length === 0;
    say('#update-messages', [...plan.messages, ...(check ? check.messages : [])].map(sentence));
    $('#update-summary').textContent = check && check.checked ? sentence(check.summary) : '';
    if (file) {
      newImage = { file, name: plan.output.name };
      const button = $('[data-action="download-update"]');
      button.disabled = false;
      button.textContent = `Download ${plan.output.name}`;
    }
    $('#update').dataset.state = 'done';
  }

  function save(blob, name) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    objectUrls.push(link.href);
    link.download = name;
    $('#progress').textContent = `Made ${name}, ${formatBytes(blob.size)}.`;
    link.click();
  }

  worker.onmessage = (event) => {
    const message = event.data;
    if (message.image !== imageId) {
      return; // an answer about an image that a later one replaced
    }
    if (message.type === 'failure') {
      $('#progress').textContent = '';
      if ($('#update').dataset.state === 'working') {
        $('#update-summary').textContent = '';
        $('#update').dataset.state = 'failed';
      }
      $('#alert').textContent = `The page failed: ${message.message}`;
    } else if (message.type === 'listing') {
      if (message.refused) {
        $('#progress').textContent = '';
        $('#alert').textContent = message.refused;
        return;
      }
      showListing(message);
    } else if (message.type === 'set') {
      // Otherwise a later change of layout has its own request.
      if (message.layout === $('select[name=layout]').value) {
        if (message.decision) {
          showLayoutProblem(message.decision);
        } else {
          showEntries(message);
        }
      }
    } else if (message.type === 'update' && listing && message.layout === listing.layout &&
               message.update === updateId) {
      showUpdate(message);
    } else if (message.type === 'zip' && listing && message.layout === listing.layout) {
      save(message.zip, zipName + '.zip');
    } else if (message.type === 'hashes' && listing && message.layout === listing.layout) {
      takeHashes(message);
    } else if (message.type === 'file' && listing && message.layout === listing.layout) {
      save(message.file, $(`tr[data-index="${message.index}"] a`).download);
    }
  };

  $('select[name=layout]').addEventListener('change', (event) => {
    clearEntries();
    startedAt = performance.now();
    $('#progress').textContent = 'Reading the directory…';
    worker.postMessage({ type: 'layout', image: imageId, layout: event.target.value });
  });

  $('[data-action="download-sums"]').addEventListener('click', () => {
    if (listing) {
      // As bytes: a browser adds .txt to the name of a file that is (or looks like) text/plain.
      save(new Blob([sha256Sums()], { type: 'application/octet-stream' }), 'SHA256SUMS');
    }
  });

  $('[data-action="download-update"]').addEventListener('click', () => {
    if (newImage) {
      save(newImage.file, newImage.name);
    }
  });

  $('[data-action="download-all"]').addEventListener('click', () => {
    if (!listing) {
      return;
    }
    $('#progress').textContent = 'Making the zip…';
    worker.postMessage({ type: 'zip', image: listing.image, layout: listing.layout });
  });

  function takeFiles(fileList) {
    parts = Array.from(fileList, (file) => ({ name: file.name, blob: file }));
    openParts(true);
  }
  // The image files on #pick, the changed files on #changed-drop: picked or dropped.
  for (const [zone, take] of [['#pick', takeFiles], ['#changed-drop', putBack]]) {
    const input = $(`${zone} input[type=file]`);
    input.addEventListener('change', () => {
      take(input.files);
      input.value = ''; // so that picking the same files again reads them again
    });
    const drop = $(zone);
    drop.addEventListener('dragover', (event) => {
      event.preventDefault();
      drop.classList.add('over');
    });
    drop.addEventListener('dragleave', () => drop.classList.remove('over'));
    drop.addEventListener('drop', (event) => {
      event.preventDefault();
      drop.classList.remove('over');
      take(event.dataTransfer.files);
    });
  }
})();
