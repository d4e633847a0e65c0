// Makes the single page: puts the styles, the page's script and the worker's text (the
// compiled listing module, its WebAssembly deflated as base64, the zip libraries and worker.js)
// into page.html, and the hashes of its one script and one style element into its policy,
// which allows no other inline script or style. Usage:
//   node assemble-page.js SOURCE_DIR MODULE.js FFLATE_UMD.js ZIPJS_UMD.js OUTPUT.html
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');

const [sourceDir, moduleJs, fflateJs, zipJs, output] = process.argv.slice(2);
const read = (file) => fs.readFileSync(file, 'utf8');

// The module's WebAssembly, deflated (the worker inflates it with the zip library) and base64.
const wasm = zlib.deflateRawSync(fs.readFileSync(moduleJs.replace(/\.js$/, '.wasm')),
                                 { level: 9 });
const worker = [
  read(moduleJs),
  read(fflateJs),
  read(zipJs),
  `var LISTING_WASM_BASE64 = '${wasm.toString('base64')}';`,
  read(path.join(sourceDir, 'worker.js')),
].join('\n');
const parts = {
  'page.css': read(path.join(sourceDir, 'page.css')),
  'page.js': read(path.join(sourceDir, 'page.js')),
  worker,
};
// Script text ends at the first "</script"; "<!--" changes how the parser reads it.
for (const name of ['page.js', 'worker']) {
  if (/<\/script|<!--/i.test(parts[name])) {
    console.error(`assemble-page: ${name} holds text that would end its script element`);
    process.exit(1);
  }
}
let page = read(path.join(sourceDir, 'page.html'));
for (const [name, text] of Object.entries(parts)) {
  const marker = `/*@${name}@*/`;
  if (!page.includes(marker)) {
    console.error(`assemble-page: page.html lacks ${marker}`);
    process.exit(1);
  }
  page = page.replace(marker, () => text);
}
// The policy names the text of each element exactly as the browser reads it.
for (const [name, element] of [['page.js', 'script'], ['page.css', 'style']]) {
  const texts = [...page.matchAll(new RegExp(`<${element}>([^]*?)</${element}>`, 'g'))];
  const marker = `'@${name} hash@'`;
  if (texts.length !== 1 || !page.includes(marker)) {
    console.error(`assemble-page: page.html needs one <${element}> element and ${marker}`);
    process.exit(1);
  }
  const hash = crypto.createHash('sha256').update(texts[0][1], 'utf8').digest('base64');
  page = page.replace(marker, () => `'sha256-${hash}'`);
}
fs.writeFileSync(output, page);
console.log(`${output}: ${Buffer.byteLength(page)} bytes`);
