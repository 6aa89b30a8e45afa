// The web page's figures, measured side by side in one run:
//
//   node tests/web/bench.mjs --page build-web/page --build build --out DIR
//        [--runs 7] [--browsers chromium,firefox] [--big yes] [--compare DIR]
//
//   decode     every picture decoded from memory in the page's worker
//              (WebAssembly) against the native library, the same code on
//              the same bytes (bench/decode_all.cpp; --build holds
//              bench/decode_all_bench): median of 21 samples of 20 passes
//   shown      from the demo disc given to the page (its folder's files,
//              an .iso image, a cue sheet with its .bin) to 161 thumbnails
//              shown, against the browser's floor: a bare page
//              (floor/floor.html) shown the native program's 161 BMP files,
//              given the same way; runs alternate, medians. --compare
//              DIR: another build of the page (before a change, say),
//              timed in the same rounds from an origin of its own
//   transfer   the page's files compressed as a static server sends them
//              (gzip -9), summed
//   memory     (--big yes) the peak resident memory of Chromium's renderer
//              (the page and its worker) while it converts a 700 MB disc
//              image (the demo disc behind a sparse file), and what
//              performance.measureUserAgentSpecificMemory() counts after it
//
// The pages are served by a small server of this script that makes them
// cross-origin isolated (finer timers, and the memory measurement).
// Nothing is asserted: the figures are printed and written to
// DIR/figures.json.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';
import {
  ROWS, files, finished, give, launch, mustRun, openPage, options,
} from './support.mjs';

const o = options({ page: '', build: '', out: '', runs: '7', browsers: 'chromium,firefox',
  big: 'no', compare: '' });
if (!o.page || !o.build || !o.out) {
  console.error('usage: bench.mjs --page DIR --build DIR --out DIR [--runs N] [--browsers LIST]' +
    ' [--big yes] [--compare DIR]');
  process.exit(2);
}
const here = path.dirname(fileURLToPath(import.meta.url));
const out = path.resolve(o.out);
fs.rmSync(out, { recursive: true, force: true });
fs.mkdirSync(out, { recursive: true });
const runs = Number(o.runs);
const figures = {};
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const ms = (value) => `${value.toFixed(2)} ms`;

// --- Inputs ------------------------------------------------------------------

const disc = path.join(out, 'disc');
mustRun(path.resolve(o.build, 'make_demo_disc'), [disc]);
const iso = path.join(out, 'demo.iso');
mustRun('xorriso', ['-as', 'mkisofs', '-R', '-J', '-V', 'TVRCGCV_DEMO', '-o', iso, disc]);
const cue = path.join(out, 'cue');
mustRun('python3', [path.join(here, '../../tools/make_cue_set.py'), iso, cue, 'demo', '--single']);
// The forms of the disc that the page is given, each as the user gives it.
const forms = { folder: () => files(disc), iso: () => [iso], 'cue/bin': () => files(cue) };
const bmps = path.join(out, 'bmp');
mustRun(path.resolve(o.build, 'tvrcgcv'), ['--image', disc, '--out', bmps, '--quiet']);

// --- A static server with cross-origin isolation ----------------------------

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript',
  '.wasm': 'application/wasm', '.txt': 'text/plain; charset=utf-8', '.json': 'application/json',
  '.svg': 'image/svg+xml', '.png': 'image/png' };
function serveIsolated(folders) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://host').pathname).slice(1) ||
      'index.html';
    const file = folders.map((folder) => path.join(folder, name))
      .find((candidate) => !name.includes('..') && fs.existsSync(candidate) &&
        fs.statSync(candidate).isFile());
    if (!file) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, {
      'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
      'Cross-Origin-Opener-Policy': 'same-origin',
      'Cross-Origin-Embedder-Policy': 'require-corp',
    });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({
      url: `http://127.0.0.1:${server.address().port}/`,
      stop: () => server.close(),
    }));
  });
}
const server = await serveIsolated([path.resolve(o.page), path.join(here, 'floor')]);
const compared = o.compare ? await serveIsolated([path.resolve(o.compare)]) : null;

// --- Transfer size -----------------------------------------------------------

let transfer = 0;
for (const file of files(path.resolve(o.page))) {
  const bytes = fs.readFileSync(file);
  const sent = zlib.gzipSync(bytes, { level: 9 }).length;
  figures[`transfer ${path.basename(file)}`] = { bytes: bytes.length, gzip: sent };
  transfer += sent;
}
figures.transfer = transfer;
console.log(`transfer: ${(transfer / 1024).toFixed(1)} KiB gzip -9 for all page files ` +
  `(limit 1536 KiB)`);

// --- Decoding from memory, native ----------------------------------------

const nativeRun = spawnSync(path.resolve(o.build, 'bench/decode_all_bench'), [disc, '21', '20'],
  { encoding: 'utf8' });
const nativeMedian = Number(/median=([\d.]+)/.exec(nativeRun.stdout)?.[1]);
if (!(nativeMedian > 0)) {
  throw new Error(`decode_all_bench: ${nativeRun.error || ''}${nativeRun.stdout}${nativeRun.stderr}`);
}
figures.decodeNative = nativeMedian;
console.log(`decode, native: ${ms(nativeMedian)} for all ${ROWS} pictures`);

// --- In each browser ---------------------------------------------------------

// Each run starts with the browser quiet: a page closed just before may
// still be ending its workers (or, the page, making its next disc's worker
// once its pictures were shown), which would be timed with the next run.
const settle = () => new Promise((resolve) => { setTimeout(resolve, 300); });

async function oneRun(browser, url, given) {
  const page = await openPage(browser, url);
  await give(page, given);
  const state = await finished(page);
  await page.close();
  await settle();
  return state.shownAt - state.startedAt;
}

async function floorRun(browser, url) {
  const page = await openPage(browser, `${url}floor.html`);
  await give(page, files(bmps));
  await page.waitForFunction(() => window.tvrcgcv.shownAt > 0, { timeout: 60000, polling: 20 });
  const state = await page.evaluate(() => ({ ...window.tvrcgcv }));
  await page.close();
  await settle();
  if (state.done !== ROWS) throw new Error(`the floor page showed ${state.done} images`);
  return state.shownAt - state.startedAt;
}

async function inBrowser(name) {
  const browser = await launch(name, out);
  try {
    // Decoding from memory in the worker.
    const page = await openPage(browser, server.url);
    await give(page, files(disc));
    await finished(page);
    const isolated = await page.evaluate(() => window.crossOriginIsolated);
    const decode = await page.evaluate(() => window.tvrcgcvBench(21, 20));
    await page.close();
    if (decode.failed !== 0) throw new Error(`${name}: ${decode.failed} decodes failed`);
    // Files to thumbnails, each form of the disc alternating with the
    // floor in every round; the first round warms up.
    // With --compare, the other page's runs follow each form's.
    const sides = compared ? { '': server.url, 'compared ': compared.url } : { '': server.url };
    const timed = Object.keys(sides).flatMap((side) => Object.keys(forms).map((form) => side + form));
    const shown = Object.fromEntries(timed.map((key) => [key, []]));
    const floor = [];
    for (let i = 0; i <= runs; i++) {
      const round = { floor: await floorRun(browser, server.url) };
      for (const [form, given] of Object.entries(forms)) {
        for (const [side, url] of Object.entries(sides)) {
          round[side + form] = await oneRun(browser, url, given());
        }
      }
      if (i > 0) {
        floor.push(round.floor);
        for (const key of timed) shown[key].push(round[key]);
      }
    }
    const result = {
      crossOriginIsolated: isolated,
      decode: decode.median,
      decodeRatio: decode.median / nativeMedian,
      floor: median(floor),
      floorRuns: floor,
    };
    const ratios = [];
    for (const key of timed) {
      result[`shown ${key}`] = median(shown[key]);
      result[`ratio ${key}`] = median(shown[key]) / result.floor;
      result[`runs ${key}`] = shown[key];
      ratios.push(`${key} ${ms(median(shown[key]))} ${result[`ratio ${key}`].toFixed(2)}x`);
    }
    figures[name] = result;
    console.log(`${name}: decode ${ms(result.decode)} = ${result.decodeRatio.toFixed(2)}x native ` +
      `(limit 2x); files to ${ROWS} thumbnails: floor ${ms(result.floor)}, ` +
      `${ratios.join(', ')} (limit 1.2x; medians of ${runs})`);
  } finally {
    await browser.close();
  }
}

// The renderer processes of a Chromium: their peak resident memory (VmHWM).
function rendererPeaks(browserPid) {
  const peaks = [];
  const children = (pid) => {
    let found = [];
    for (const entry of fs.readdirSync('/proc')) {
      if (!/^\d+$/.test(entry)) continue;
      try {
        const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
        if (Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]) === pid) {
          found.push(Number(entry));
          found = found.concat(children(Number(entry)));
        }
      } catch (error) {
        // gone meanwhile
      }
    }
    return found;
  };
  for (const pid of children(browserPid)) {
    try {
      const cmdline = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      if (!cmdline.includes('--type=renderer')) continue;
      const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
      peaks.push(Number(/VmHWM:\s+(\d+) kB/.exec(status)[1]) * 1024);
    } catch (error) {
      // gone meanwhile
    }
  }
  return peaks;
}

async function bigImage() {
  const tree = path.join(out, 'big');
  fs.cpSync(disc, tree, { recursive: true });
  // Sorted first, so that the pictures' files lie behind 690 MB of it.
  fs.writeFileSync(path.join(tree, 'AAAA.PAD'), '');
  fs.truncateSync(path.join(tree, 'AAAA.PAD'), 690 * 1024 * 1024);
  const image = path.join(out, 'big.iso');
  mustRun('xorriso', ['-as', 'mkisofs', '-R', '-J', '-o', image, tree]);
  spawnSync('fallocate', ['--dig-holes', image]); // sparse on disk where it can be
  // The renderer's own: a bare page shown the native BMP files.
  const bare = await launch('chromium', out);
  let floorPeak;
  try {
    const page = await openPage(bare, `${server.url}floor.html`);
    await give(page, files(bmps));
    await page.waitForFunction(() => window.tvrcgcv.shownAt > 0, { timeout: 60000 });
    floorPeak = Math.max(...rendererPeaks(bare.process().pid));
  } finally {
    await bare.close();
  }
  const browser = await launch('chromium', out,
    ['--enable-blink-features=ForceEagerMeasureMemory']);
  try {
    const page = await openPage(browser, server.url);
    const before = Math.max(...rendererPeaks(browser.process().pid));
    await give(page, [image]);
    const state = await finished(page, 120000);
    const measured = await page.evaluate(async () =>
      (await performance.measureUserAgentSpecificMemory()).bytes);
    const peak = Math.max(...rendererPeaks(browser.process().pid));
    figures.memory = { image: fs.statSync(image).size, failed: state.failed, before, peak, measured,
      floorPeak };
    const mib = (bytes) => `${(bytes / 1048576).toFixed(1)} MiB`;
    console.log(`memory, ${mib(fs.statSync(image).size)} image (${state.failed} failed): renderer ` +
      `peak ${mib(peak)} (${mib(before)} with the page loaded; the bare page showing the BMP ` +
      `files: ${mib(floorPeak)}), beyond the bare page ${mib(peak - floorPeak)} (limit 128 MiB); ` +
      `measureUserAgentSpecificMemory ${mib(measured)}`);
  } finally {
    await browser.close();
  }
}

try {
  for (const name of o.browsers.split(',')) await inBrowser(name);
  if (o.big === 'yes') await bigImage();
} finally {
  server.stop();
  compared?.stop();
}
fs.writeFileSync(path.join(out, 'figures.json'), `${JSON.stringify(figures, null, 2)}\n`);
