// The page: takes the image files (or zips of them), has the worker plan them with the project's
// C++ and prints that plan: the disks, the layout that fits and the directory as d88info --set
// lists it, with a link for every file that the extraction writes and a zip of them all. What
// is written under which name, and what replaces what, is the plan's, never decided here.
'use strict';
(function () {
  const $ = (selector) => document.querySelector(selector);
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

  function clearListing() {
    clearEntries();
    $('#alert').textContent = '';
    $('#disk-rows').replaceChildren();
    $('#disks').hidden = true;
    $('#set').hidden = true;
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

  // The disks of the image's plan (the document of d88info --json).
  function showDisks(disks) {
    const rows = $('#disk-rows');
    for (const disk of disks) {
      const row = rows.insertRow();
      cell(row, String(disk.index), 'number');
      cell(row, disk.name ? nameElement(disk.name) : '—');
      cell(row, disk.set_id === null ? 'none' : hex2(disk.set_id), 'number');
    }
    $('#disks').hidden = false;
  }

  function showTooFewDisks(plan) {
    const found = plan.disk_count === 1 ? '1 disk' : `${plan.disk_count} disks`;
    const joined = parts.length > 1 ? `, joined from ${parts.length} files` : '';
    $('#alert').textContent =
      `Found ${found} in ${formatBytes(plan.file_size)}${joined}` +
      (plan.disk_count === 0 ? ': this is not a D88 image. ' : '. ') +
      'The extraction needs Disk A to Disk D: one file that holds the four disks joined, ' +
      'or the four disk files picked together, Disk A first.';
  }

  // The plan's layouts, the one that fits, and where Disk A is when it is not first.
  function layoutNote(plan) {
    const files = (n) => (n === 1 ? '1 file' : `${n} files`);
    const { a, b } = plan.layouts;
    if (plan.fits === 'both') {
      return `Both layouts yield files: a ${files(a.files)}, b ${files(b.files)}. Choose one.`;
    }
    if (plan.fits !== null) {
      const other = plan.fits === 'a' ? 'b' : 'a';
      return `Layout ${plan.fits} fits: ${files(plan.layouts[plan.fits].files)}; ` +
        `layout ${other} yields none.`;
    }
    const diskAt = plan.hints.disk_a_at;
    return 'No files in either layout.' + (diskAt === null ? ''
      : ` Disk ${diskAt} carries ID byte 01 (Disk A), but the directory is read from disk 0: ` +
        'put Disk A first.');
  }

  // A mark after the outcome, as d88info --set prints it.
  function mark(outcomeCell, className, text, title) {
    const span = document.createElement('span');
    span.className = className;
    span.title = title;
    span.textContent = text;
    outcomeCell.append('  ', span);
  }

  // The set's plan (the document of d88info --set X --json, with the zip's names) and the
  // bytes of its files by entry index.
  function showEntries(message) {
    clearEntries();
    const entries = message.set.entries;
    const rows = $('#entry-rows');
    for (const entry of entries) {
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
      outcomeCell.title = OUTCOME_MEANING[entry.outcome] || '';
      const file = message.files[entry.index];
      const errors = entry.read_errors;
      if (entry.saved_as && errors.error_sectors > 0) {
        const shown = `${errors.error_sectors}/${errors.sectors}`;
        mark(outcomeCell, 'read-errors', `read-errors ${shown}`,
             `${shown} of its sectors are stored as read with an error: their bytes may be wrong`);
        row.dataset.readErrors = shown;
      }
      if (entry.replaced_by !== null) {
        mark(outcomeCell, 'replaced-by', `replaced-by ${entry.replaced_by}`,
             `entry ${entry.replaced_by} is saved under the same name: the folder and the zip ` +
             'keep its file, not this one');
        row.dataset.replacedBy = String(entry.replaced_by);
      }
      if (entry.saved_as && file) {
        const link = document.createElement('a');
        const url = URL.createObjectURL(file);
        objectUrls.push(url);
        link.href = url;
        link.download = entry.saved_as.text;
        link.textContent = 'save';
        cell(row, link);
      } else {
        cell(row, entry.outcome === 'unsafe' ? 'refused' : '—');
      }
    }
    listing = { image: message.image, layout: message.layout };
    $('select[name=layout]').value = message.layout;
    const button = $('[data-action="download-all"]');
    button.disabled = message.set.summary.files === 0;
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
      const { movedFirst, leftOut, problem, named } = message;
      $('#parts-order').textContent = [
        movedFirst && `${movedFirst} holds Disk A (ID byte 01), so it comes first.`,
        problem === 'two-disk-a' && `${named[0]} and ${named[1]} both hold a disk with ID byte ` +
          '01 (Disk A): they are joined in the order shown.',
        leftOut.length && `Left out, as they hold no D88 disk: ${leftOut.join(', ')}.`,
      ].filter(Boolean).join(' ');
      if (problem === 'not-image') {
        $('#progress').textContent = '';
        $('#alert').textContent = `${named[0]} is not a D88 image: pick only the disk files, ` +
          'or a zip of them.';
        return;
      }
      showDisks(message.imagePlan.disks);
      if (message.imagePlan.hints.fewer_than_four_disks) {
        $('#progress').textContent = '';
        showTooFewDisks(message.imagePlan);
        return;
      }
      $('#layout-note').textContent = layoutNote(message.imagePlan);
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
    worker.postMessage({ type: 'zip', image: listing.image, layout: listing.layout });
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
