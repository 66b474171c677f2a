// The window's first list: from opening the one-time link in Chromium to the
// first row of the start-up list drawn, for `quillmoor --demo serve` (a fresh
// program and tab each run), side by side in the same browser with a
// reference: a trivial local server whose page fetches one small JSON answer
// and draws a one-row list the same way. Medians of N runs; also the page's
// size and the requests the window made before its first list.
// Usage: node bench/window_first_list.mjs [runs, default 15]
// QUILLMOOR_EXE names the program (as for tests/browser); QUILLMOOR_WINE=1
// runs it (a quillmoor.exe) under wine in the prefix WINEPREFIX names.
import http from 'node:http';
import {openBrowser, newPage, openWindow, startServerWith, exePath} from '../tests/browser/harness.mjs';

const runs = Number(process.argv[2] || 15);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor((values.length - 1) / 2)];

const referencePage = '<!doctype html><html><head><meta charset="utf-8"><title>r</title></head><body>' +
  '<table id="startup-table"><tbody></tbody></table><script>' +
  'fetch("/items", {method: "POST", body: "{}"}).then((r) => r.json()).then((items) => {' +
  'for (const it of items) { const tr = document.createElement("tr"); tr.className = "item";' +
  'tr.textContent = it.name; document.querySelector("#startup-table tbody").append(tr); } });' +
  '</script></body></html>';

function startReference() {
  const server = http.createServer((req, res) => {
    if (req.url === '/items') {
      res.writeHead(200, {'content-type': 'application/json'});
      res.end(JSON.stringify([{name: 'one'}]));
      return;
    }
    res.writeHead(200, {'content-type': 'text/html; charset=utf-8'});
    res.end(referencePage);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function startProgram() {
  const args = ['--demo', 'serve', '--no-browser', '--port', '0'];
  if (process.env.QUILLMOOR_WINE === '1') return startServerWith('wine', [exePath, ...args], {timeoutMs: 60000});
  return startServerWith(exePath, args);
}

const browser = await openBrowser();
const reference = await startReference();
const referenceLink = `http://127.0.0.1:${reference.address().port}/`;
const ours = [];
const theirs = [];
let requests = [];
let pageBytes = 0;
try {
  for (let i = 0; i < runs; i++) {
    const server = await startProgram();
    const {page} = await newPage(browser, 'bench');
    const seen = [];
    page.on('request', (r) => seen.push(r.method() + ' ' + new URL(r.url()).pathname));
    ours.push(await openWindow(page, server.link));
    if (i === 0) {
      requests = [...seen];
      pageBytes = Buffer.byteLength(await (await fetch(server.origin + '/')).text());
    }
    await page.close();
    await server.stop();

    const {page: plain} = await newPage(browser, 'reference');
    theirs.push(await openWindow(plain, referenceLink));
    await plain.close();
  }
} finally {
  await browser.close();
  reference.close();
}
const a = median(ours);
const b = median(theirs);
console.log(`window: page ${pageBytes} bytes; requests before the first list: ${requests.join(', ')}`);
console.log(`${'window first list'.padEnd(28)} ${a.toFixed(1).padStart(8)} ms   ${'trivial page, one-row list'.padEnd(36)} ${b.toFixed(1).padStart(8)} ms   ratio ${(a / b).toFixed(2)}`);
