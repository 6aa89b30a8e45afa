// The page's Web Worker, after emscripten's runtime in the same script
// (worker.js of the built page): it mounts the files the page was given,
// runs the conversion (web/wasm/session.cpp) and answers the page.
// Emscripten's JavaScript optimizer (3.1.6) reads this file too and trips
// over object spread and destructuring: neither is used here.
//
// Requests (postMessage from app.js), each answered in order:
//   {op: 'open', run, entries: [{path, file}], folder, thumbnail}
//       mounts the files at their relative paths and opens the disc among
//       them, told from their bytes (a cue sheet with its files, or an
//       image), else the one file given, else `folder`, which holds them
//       all. Answers 'opened' (with
//       the disc's path, or `several` discs that were given, and the
//       module's memory in bytes), then
//       'pictures' as rows are decoded (items 'picture', with a thumbnail
//       at most `thumbnail` a side: an ImageBitmap `bitmap`, or RGBA
//       pixels `rgba` where the worker cannot make one; or 'failure'),
//       then 'checked', and 'done' at the end.
//   {op: 'view', row}               'view': the picture's RGBA pixels
//   {op: 'file', row, format}       'file': the picture's BMP or PNG bytes
//   {op: 'zip', format}             'zip': every decoded picture in a .zip
//   {op: 'bench', samples, passes}  'bench': decoding from memory, timed
// A crash of the module answers 'crashed' and ends the worker's use. The
// page makes a fresh worker for each disc, and ends the last one's.
/* global Module, FS, WORKERFS, HEAPU8, UTF8ToString, stringToUTF8, lengthBytesUTF8,
   _malloc, _free, _tv_rows, _tv_flags, _tv_category, _tv_open, _tv_close, _tv_decode,
   _tv_decoded, _tv_width, _tv_height, _tv_rgba, _tv_file, _tv_check, _tv_bench, _tv_data, _tv_size,
   _tv_text, _tv_source_ranges, _tv_find_discs, _tv_touch, streams, warmUpAsked */

const MOUNT = '/in';
let mounted = false;

// The bytes the last call left in the session, copied out of the module's
// memory (a buffer of its own, which can be transferred).
function sessionBytes() {
  const start = _tv_data();
  return HEAPU8.slice(start, start + _tv_size());
}

function withString(text, call) {
  const size = lengthBytesUTF8(text) + 1;
  const pointer = _malloc(size);
  if (pointer === 0) throw new Error('out of memory');
  stringToUTF8(text, pointer, size);
  try {
    return call(pointer);
  } finally {
    _free(pointer);
  }
}

// Runs `call` with the module's standard output and error collected.
function collecting(call) {
  streams.out = [];
  streams.err = [];
  const result = call();
  return { result, out: streams.out, err: streams.err };
}

// --- Reading the page's files --------------------------------------------

// WORKERFS reads a file's slice with FileReaderSync at every read; here
// reads go through a cache of 256 KiB blocks (32 MiB at most, the least
// recently used dropped first), so that a block is read once however
// often the disc reader comes back to it. The blocks a run needs are
// fetched ahead, all at once and asynchronously (a synchronous read costs
// Chromium about 1 ms, whatever its size): first the head of every file
// given, from which the discs are told and opened; then the blocks that
// each picture's reads touch, found by a dry run of those reads in which
// a block not yet fetched reads as zeros and is only noted. A block still
// missing after that is read when the library asks for it. A file that
// can no longer be read (changed or removed since it was picked) fails
// its read with EIO.
const BLOCK = 1 << 18;
const CACHE_BYTES = 32 << 20;
const EIO = 29; // emscripten's errno value
const blocks = new Map(); // "node:index" -> bytes, least recently used first
let sourceRanges = null; // "row<TAB>name<TAB>offset<TAB>size" of every range read
let cachedBytes = 0;
let noting = null; // during a dry run: "node:index" -> [node, index] of the blocks touched
let zeros = null; // what a block not yet fetched reads as during a dry run

function remember(key, bytes) {
  if (blocks.has(key)) cachedBytes -= blocks.get(key).length;
  blocks.delete(key);
  blocks.set(key, bytes);
  cachedBytes += bytes.length;
  while (cachedBytes > CACHE_BYTES) {
    const oldest = blocks.keys().next().value;
    cachedBytes -= blocks.get(oldest).length;
    blocks.delete(oldest);
  }
}

// A block of a file's bytes; a file of one block is read as it is (a
// slice is a Blob of its own, which costs Chromium more than the read).
function blockSlice(node, index) {
  const start = index * BLOCK;
  if (start === 0 && node.size <= BLOCK) return node.contents;
  return node.contents.slice(start, Math.min(start + BLOCK, node.size));
}

function block(node, index) {
  const key = `${node.id}:${index}`;
  let bytes = blocks.get(key);
  if (bytes) {
    blocks.delete(key);
    blocks.set(key, bytes);
    return bytes;
  }
  if (noting) {
    noting.set(key, [node, index]);
    if (zeros === null) zeros = new Uint8Array(BLOCK);
    return zeros.subarray(0, Math.max(Math.min(BLOCK, node.size - index * BLOCK), 0));
  }
  try {
    bytes = new Uint8Array(WORKERFS.reader.readAsArrayBuffer(blockSlice(node, index)));
  } catch (error) {
    throw new FS.ErrnoError(EIO);
  }
  remember(key, bytes);
  return bytes;
}

function readThroughCache(stream, buffer, offset, length, position) {
  const node = stream.node;
  const end = Math.min(position + length, node.size);
  for (let at = position; at < end;) {
    const index = Math.floor(at / BLOCK);
    const bytes = block(node, index);
    const from = at - index * BLOCK;
    const count = Math.min(bytes.length - from, end - at);
    if (count <= 0) throw new FS.ErrnoError(EIO); // the file became shorter
    buffer.set(bytes.subarray(from, from + count), offset + (at - position));
    at += count;
  }
  return Math.max(end - position, 0);
}

// Fetches blocks ([node, index] each) at once, as many as the cache holds
// (`budget` bytes), neighbours in one read of up to 4 MiB; `reads` maps
// each block's key to the promise of its read. A few reads are made
// synchronously (each costs Chromium about 1 ms whatever its size, and an
// asynchronous one costs Firefox more); many, as a folder's files give,
// asynchronously, all at once. Returns the bytes asked for. A block that
// cannot be read now is read (and fails) when the library asks for it.
const RUN_BLOCKS = 16;
const FEW_READS = 4;
function fetchAhead(wanted, reads, budget) {
  const missing = wanted.filter((one) => {
    const key = `${one[0].id}:${one[1]}`;
    return !reads.has(key) && !blocks.has(key);
  }).sort((a, b) => a[0].id - b[0].id || a[1] - b[1]);
  const runs = [];
  let bytes = 0;
  for (let i = 0; i < missing.length;) {
    const node = missing[i][0];
    const first = missing[i][1];
    let last = first;
    let next = i + 1;
    for (; next < missing.length && missing[next][0] === node && last - first + 1 < RUN_BLOCKS;
      next++) {
      if (missing[next][1] === last) continue; // the same block twice
      if (missing[next][1] !== last + 1) break;
      last += 1;
    }
    const end = Math.min((last + 1) * BLOCK, node.size);
    if (bytes + end - first * BLOCK > budget) break;
    bytes += end - first * BLOCK;
    runs.push({ node, first, last, end });
    i = next;
  }
  const keep = (run, buffer) => {
    for (let index = run.first; index <= run.last; index++) {
      const from = (index - run.first) * BLOCK;
      const size = Math.min(BLOCK, buffer.byteLength - from);
      if (size > 0) remember(`${run.node.id}:${index}`, new Uint8Array(buffer, from, size));
    }
  };
  for (const run of runs) {
    const start = run.first * BLOCK;
    const slice = start === 0 && run.end === run.node.size ? run.node.contents
      : run.node.contents.slice(start, run.end);
    let read;
    if (runs.length <= FEW_READS) {
      try {
        keep(run, WORKERFS.reader.readAsArrayBuffer(slice));
      } catch (error) {
        // read again, and failed, when the library asks for it
      }
      read = Promise.resolve();
    } else {
      read = slice.arrayBuffer().then((buffer) => keep(run, buffer), () => {});
    }
    for (let index = run.first; index <= run.last; index++) {
      reads.set(`${run.node.id}:${index}`, read);
    }
  }
  return bytes;
}

// The first block of every file given: the discs are told and opened from
// these (and a folder's small files are read whole).
function fetchHeads() {
  const wanted = [];
  const walk = (node) => {
    for (const child of Object.values(node.contents)) {
      if (FS.isDir(child.mode)) walk(child);
      else if (child.size > 0) wanted.push([child, 0]);
    }
  };
  walk(FS.lookupPath(MOUNT).node);
  const reads = new Map();
  fetchAhead(wanted, reads, CACHE_BYTES / 2);
  return Promise.all(reads.values());
}

// The dry run of every picture's reads on the open disc, then the blocks
// they touch fetched at once. Returns for each row a promise of its blocks,
// so that each picture is decoded as soon as its own bytes are in.
function fetchRows(rows) {
  const touched = [];
  const all = new Map();
  noting = new Map();
  try {
    for (let row = 0; row < rows; row++) {
      noting.clear();
      _tv_touch(row);
      touched.push(Array.from(noting.values()));
      noting.forEach((one, key) => all.set(key, one));
    }
  } finally {
    noting = null;
  }
  const reads = new Map();
  fetchAhead(Array.from(all.values()), reads, CACHE_BYTES - cachedBytes);
  return touched.map((wanted) =>
    Promise.all(wanted.map((one) => reads.get(`${one[0].id}:${one[1]}`))));
}

// Closes the disc and unmounts its files, with their cached blocks.
function unmount() {
  if (mounted) {
    _tv_close();
    FS.chdir('/');
    FS.unmount(MOUNT);
    mounted = false;
  }
  blocks.clear();
  cachedBytes = 0;
}

function mount(entries) {
  unmount();
  try {
    FS.mkdir(MOUNT);
  } catch (error) {
    // made by an earlier disc
  }
  FS.mount(WORKERFS, { blobs: entries.map((entry) => ({ name: entry.path, data: entry.file })) },
    MOUNT);
  mounted = true;
  FS.chdir(MOUNT);
}

function catalogue() {
  const rows = [];
  for (let row = 0; row < _tv_rows(); row++) {
    _tv_category(row);
    rows.push({ flags: _tv_flags(row), category: sessionBytes() });
  }
  return rows;
}

// A decoded picture's RGBA pixels, at most `longest` a side (0: its own
// size).
function pixels(row, longest) {
  if (_tv_rgba(row, longest) !== 0) return null;
  return { width: _tv_width(), height: _tv_height(), rgba: sessionBytes().buffer };
}

// A decoded picture's thumbnail for the grid, at most `longest` a side: the
// promise of an ImageBitmap, which the page's canvas takes over as it is
// (drawing RGBA pixels with putImageData cost Firefox's page thread 60 ms
// for the 161 thumbnails, behind the last picture decoded). The bitmap is
// made from the pixels where the module left them, not from a copy (a
// fresh copy of every thumbnail, 7 MB in all, cost Firefox as much again,
// and its garbage more): createImageBitmap takes its own copy of an
// ImageData before it returns. Null where the worker has no
// createImageBitmap, or the picture cannot be made smaller.
function thumbnail(row, longest) {
  if (typeof createImageBitmap !== 'function' || _tv_rgba(row, longest) !== 0) return null;
  const width = _tv_width();
  const height = _tv_height();
  const rgba = new Uint8ClampedArray(HEAPU8.buffer, _tv_data(), width * height * 4);
  try {
    return createImageBitmap(new ImageData(rgba, width, height));
  } catch (error) {
    return null;
  }
}

// Sends a batch of rows: their thumbnails as ImageBitmaps, handed over
// whole; a row whose bitmap could not be made, as RGBA pixels.
async function sendRows(post, run, batch) {
  const bitmaps = await Promise.all(batch.map((item) =>
    (item.bitmap ? item.bitmap.catch(() => null) : null)));
  const moving = [];
  batch.forEach((item, index) => {
    if (item.op !== 'picture') return;
    if (bitmaps[index]) {
      item.bitmap = bitmaps[index];
      item.width = item.bitmap.width;
      item.height = item.bitmap.height;
      moving.push(item.bitmap);
    } else {
      delete item.bitmap;
      Object.assign(item, pixels(item.row, item.longest));
      moving.push(item.rgba);
    }
    delete item.longest;
  });
  post({ op: 'pictures', run, items: batch }, moving);
}

// The discs among the mounted files, told from their bytes by the library:
// their paths (none: the files are a folder's).
function findDiscs(entries) {
  const count = withString(entries.map((entry) => entry.path).join('\n'), _tv_find_discs);
  return UTF8ToString(_tv_text()).split('\n').slice(0, count);
}

// The answers to an open carry its `run`, so that the page can tell them
// from those of an earlier disc; `post` sends them.
async function open(request, post = postMessage) {
  const run = request.run;
  mount(request.entries);
  await fetchHeads();
  const discs = findDiscs(request.entries);
  if (discs.length > 1) {
    post({ op: 'opened', run, ok: false, several: discs, lines: [], memory: HEAPU8.length });
    post({ op: 'done', run });
    return;
  }
  // One file that is no disc is still the disc given: opening it says why
  // it cannot be read, as the program does.
  const single = request.entries.length === 1 ? request.entries[0].path : null;
  const disc = discs.length === 1 ? discs[0] : single || request.folder;
  let opened = collecting(() => withString(disc, _tv_open));
  let ahead = null;
  if (opened.result === 0) {
    // The dry run leaves zeros in the disc reader's own cache of sectors:
    // the disc is opened again, from the blocks fetched.
    ahead = fetchRows(_tv_rows());
    const again = collecting(() => withString(disc, _tv_open));
    if (again.result !== 0) opened = again;
  }
  post({ op: 'opened', run, ok: opened.result === 0, lines: opened.err, disc,
    memory: HEAPU8.length });
  if (opened.result === 0) {
    // The rows go to the page in batches: at most 16, and whatever is
    // done when the next row has to wait for its bytes.
    const rows = _tv_rows();
    const ready = [];
    if (ahead) {
      ahead.forEach((promise, row) => promise.then(() => {
        ready[row] = true;
      }));
    }
    // A batch goes when its bitmaps are made, after the batch before it;
    // the decoding does not wait for them.
    let batch = [];
    let sent = Promise.resolve();
    const flush = () => {
      const rowsSent = batch;
      if (rowsSent.length) sent = sent.then(() => sendRows(post, run, rowsSent));
      batch = [];
    };
    for (let row = 0; row < rows; row++) {
      if (ahead && ahead[row] && !ready[row]) {
        flush();
        await ahead[row];
      }
      if (_tv_decode(row) === 0) {
        batch.push({ op: 'picture', run, row, longest: request.thumbnail,
          bitmap: thumbnail(row, request.thumbnail) });
      } else {
        batch.push({ op: 'failure', run, row, text: UTF8ToString(_tv_text()) });
      }
      if (batch.length >= 16) flush();
    }
    flush();
    await sent;
    const checked = collecting(() => _tv_check());
    post({ op: 'checked', run, status: checked.result, out: checked.out, err: checked.err });
  }
  post({ op: 'done', run });
}

// --- Zip files: stored (not compressed) entries, with their CRC-32 ---------

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

// A zip archive of stored files with ASCII names, made as a Blob. Offsets
// and sizes are 32-bit (the pictures of a disc come to a few megabytes).
class ZipWriter {
  constructor(date) {
    // MS-DOS time and date of the entries, local time, 2-second steps.
    this.time = (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1);
    this.date = (Math.max(date.getFullYear() - 1980, 0) << 9) | ((date.getMonth() + 1) << 5) |
      date.getDate();
    this.parts = [];
    this.directory = [];
    this.offset = 0;
    this.count = 0;
  }

  // The fields that the local header and the directory entry share, from
  // "version needed" to the name's length.
  common(crc, size, nameLength) {
    const fields = new DataView(new ArrayBuffer(26));
    fields.setUint16(0, 10, true); // version 1.0 is enough for stored files
    fields.setUint16(2, 0, true); // flags
    fields.setUint16(4, 0, true); // method: stored
    fields.setUint16(6, this.time, true);
    fields.setUint16(8, this.date, true);
    fields.setUint32(10, crc, true);
    fields.setUint32(14, size, true); // compressed
    fields.setUint32(18, size, true); // uncompressed
    fields.setUint16(22, nameLength, true);
    fields.setUint16(24, 0, true); // extra field
    return new Uint8Array(fields.buffer);
  }

  add(name, bytes) {
    const nameBytes = new TextEncoder().encode(name);
    const fields = this.common(crc32(bytes), bytes.length, nameBytes.length);
    const local = new Uint8Array(30 + nameBytes.length);
    new DataView(local.buffer).setUint32(0, 0x04034b50, true);
    local.set(fields, 4);
    local.set(nameBytes, 30);
    const entry = new Uint8Array(46 + nameBytes.length);
    const view = new DataView(entry.buffer);
    view.setUint32(0, 0x02014b50, true);
    view.setUint16(4, 10, true); // made by: MS-DOS, version 1.0
    entry.set(fields, 6);
    // comment length, disk, internal and external attributes: 0
    view.setUint32(42, this.offset, true);
    entry.set(nameBytes, 46);
    this.parts.push(local, bytes);
    this.directory.push(entry);
    this.offset += local.length + bytes.length;
    this.count += 1;
  }

  finish() {
    const size = this.directory.reduce((sum, entry) => sum + entry.length, 0);
    const end = new DataView(new ArrayBuffer(22));
    end.setUint32(0, 0x06054b50, true);
    end.setUint16(8, this.count, true);
    end.setUint16(10, this.count, true);
    end.setUint32(12, size, true);
    end.setUint32(16, this.offset, true);
    return new Blob([...this.parts, ...this.directory, end], { type: 'application/zip' });
  }
}

function outputName(row, format) {
  return `tvrcg${String(row).padStart(3, '0')}.${format}`;
}

function file(row, format) {
  if (_tv_file(row, format === 'png' ? 1 : 0) !== 0) {
    return { error: UTF8ToString(_tv_text()) };
  }
  return { name: outputName(row, format), bytes: sessionBytes() };
}

function zip(format) {
  const writer = new ZipWriter(new Date());
  const failed = [];
  for (let row = 0; row < _tv_rows(); row++) {
    if (!_tv_decoded(row)) continue;
    const made = file(row, format);
    if (made.error) failed.push(`${outputName(row, format)}: ${made.error}`);
    else writer.add(made.name, made.bytes);
  }
  return { blob: writer.finish(), count: writer.count, failed };
}

// --- Requests ----------------------------------------------------------

const handlers = {
  open,
  view(request) {
    const picture = pixels(request.row, 0);
    if (picture) postMessage(Object.assign({ op: 'view', row: request.row }, picture), [picture.rgba]);
    else postMessage({ op: 'view', row: request.row });
  },
  file(request) {
    const made = file(request.row, request.format);
    postMessage(Object.assign({ op: 'file', row: request.row, format: request.format }, made),
      made.bytes ? [made.bytes.buffer] : []);
  },
  zip(request) {
    postMessage(Object.assign({ op: 'zip', format: request.format }, zip(request.format)));
  },
  bench(request) {
    if (_tv_bench(request.samples, request.passes) !== 0) {
      postMessage({ op: 'bench', error: 'no disc open' });
      return;
    }
    const figures = UTF8ToString(_tv_text()).split(' ').map(Number);
    postMessage({ op: 'bench', median: figures[0], min: figures[1], failed: figures[2] });
  },
};

let crashed = false;
Module.onAbort = (what) => {
  crashed = true;
  postMessage({ op: 'crashed', text: String(what) });
};

async function handle(request) {
  if (crashed) {
    postMessage({ op: 'crashed', text: 'the module stopped earlier' });
    return;
  }
  try {
    await handlers[request.op](request);
  } catch (error) {
    if (!crashed) postMessage({ op: 'crashed', text: String(error) });
    crashed = true;
  }
}

// What the warm-up does with its answers: nothing, but give back its
// thumbnails' bitmaps.
function closeBitmaps(message) {
  if (message.op !== 'pictures') return;
  message.items.forEach((item) => item.bitmap && item.bitmap.close());
}

// Converts, without a word to the page, a disc of zeros as large as the
// pictures' source files, given as the page gives a folder: the first real
// disc then runs on code that the browser has compiled and optimized
// already, twice as fast as it would run cold. The page asks it of its
// first worker only: the workers after it share the compiled module.
async function warmUp() {
  const sizes = new Map();
  for (const line of sourceRanges) {
    const fields = line.split('\t');
    if (fields.length < 4) continue;
    const end = Number(fields[2]) + Number(fields[3]);
    sizes.set(fields[1], Math.max(sizes.get(fields[1]) || 0, end));
  }
  const entries = Array.from(sizes.keys(), (name) =>
    ({ path: `zeros/${name}`, file: new Blob([new Uint8Array(sizes.get(name))]) }));
  await open({ run: -1, entries, folder: 'zeros', thumbnail: 160 }, closeBitmaps);
  unmount();
}

// Requests are handled one after the other, each to its end.
let queue = new Promise((resolve) => {
  Module.onRuntimeInitialized = () => {
    WORKERFS.stream_ops.read = readThroughCache;
    // Decoding every picture from zeros finds the ranges they read.
    sourceRanges = _tv_source_ranges() === 0 ? UTF8ToString(_tv_text()).split('\n') : null;
    resolve();
  };
}).then(() => (sourceRanges && warmUpAsked ? warmUp() : null)).catch(() => {}).then(() => {
  postMessage({ op: 'ready', catalogue: catalogue(), memory: HEAPU8.length });
});
self.onmessage = (event) => {
  if (event.data.op !== 'module') queue = queue.then(() => handle(event.data));
};
