// The page: takes a disc from the user (a folder, an image, a cue sheet
// with its files), hands the files to the worker, which converts the
// pictures, and shows them as they come: progress, a grid of thumbnails,
// failures with the program's wording, the disc check; saves the pictures
// as BMP or PNG files, one by one, as a .zip, or into a folder.
//
// For the tests and benchmarks, window.tvrcgcv holds the state of the
// last run: {run, total, done, failed, checked, checkStatus, startedAt,
// openedAt, shownAt, savedToFolder, memory: the worker's module memory in
// bytes when it was ready and after the last disc was opened}.

// --- Texts ---------------------------------------------------------------

const TEXTS = {
  en: {
    title: 'tvrcgcv: the pictures of the CD-ROM in your browser',
    intro: 'Converts the 161 computer-graphics pictures of the game CD-ROM (152 tiled ' +
      'backgrounds and 9 portraits) right here in the page: nothing is uploaded anywhere, ' +
      'and it works offline once loaded.',
    pickHeading: 'The disc',
    pickHint: 'Choose the folder of the mounted or copied disc, or a disc image: an .iso, ' +
      'a .cue sheet together with its .bin files, or a bare .bin. You can also drop them here.',
    pickFolder: 'Choose a folder…',
    pickFiles: 'Choose image files…',
    progressLabel: 'Pictures converted',
    reading: (disc) => `Reading ${disc}…`,
    finished: (written, total) => `Finished: ${written} of ${total} pictures.`,
    finishedFailed: (written, total, failed) =>
      `Finished: ${written} of ${total} pictures; ${failed} failed.`,
    cannotOpen: 'The disc cannot be read:',
    crashed: 'The converter stopped:',
    noFiles: 'No files were given.',
    severalDiscs: (discs) => `Several discs were given (${discs.join(', ')}): choose one disc at a time.`,
    summaryHeading: 'Disc check',
    verdict: (complete, bad, files, line) => line, // the program's own
    checkFiles: 'Files read (as --check lists them)',
    saveHeading: 'Save',
    zipBmp: 'All as .zip (BMP)',
    zipPng: 'All as .zip (PNG)',
    folderBmp: 'All into a folder (BMP)',
    folderPng: 'All into a folder (PNG)',
    zipping: 'Making the .zip…',
    zipped: (name, count) => `${name}: ${count} pictures.`,
    savingFolder: 'Saving into the folder…',
    savedFolder: (count) => `${count} files saved into the folder.`,
    saveFailed: 'Saving failed:',
    gridHeading: 'Pictures',
    gridHelp: 'Arrow keys move between pictures; Enter shows one at full size.',
    failed: 'failed',
    waiting: 'waiting',
    kinds: ['plain', 'tiled', 'kind 2', 'composite'],  // as --list says
    depths: ['16 colours', '128 colours', '256 colours', '15-bit colour'],
    kind: (category, kind, depth) => `${kind}, ${depth}`,
    cellLabel: (number, kind, state) => `Picture ${number}, ${kind}${state ? `, ${state}` : ''}`,
    saveBmp: 'Save as BMP',
    savePng: 'Save as PNG',
    close: 'Close',
    footer: 'tvrcgcv, free software under the MIT licence. The page carries libspng and zlib.',
    licences: 'Licences of the libraries',
  },
  ja: {
    title: 'tvrcgcv: CD-ROM の CG をブラウザで',
    intro: 'ゲーム CD-ROM の CG 161 枚 (タイル背景 152 枚と立ち絵 9 枚) をこのページの中で変換します。' +
      'ファイルはどこにも送られず、読み込んだ後はオフラインでも動きます。',
    pickHeading: 'ディスク',
    pickHint: 'マウントまたはコピーしたディスクのフォルダー、またはディスクイメージ (.iso、' +
      '.cue とその .bin ファイル、.bin のみ) を選んでください。ここにドロップもできます。',
    pickFolder: 'フォルダーを選ぶ…',
    pickFiles: 'イメージファイルを選ぶ…',
    progressLabel: '変換した CG',
    reading: (disc) => `${disc} を読み込み中…`,
    finished: (written, total) => `終了。 ${written} / ${total} 枚`,
    finishedFailed: (written, total, failed) => `終了。 ${written} / ${total} 枚 (${failed} 枚失敗)`,
    cannotOpen: 'ディスクを読めません:',
    crashed: 'エラーが発生しました。処理中断します。(^^;',
    noFiles: 'ファイルがありません。',
    severalDiscs: (discs) => `ディスクが複数あります (${discs.join('、')})。ディスクは一枚ずつ選んでください。`,
    summaryHeading: 'ディスクの検査',
    verdict: (complete, bad, files) => (complete ? `ディスクは完全です (${files} 個のファイル)。`
      : `ディスクは不完全です: ${files} 個のファイルのうち ${bad} 個が欠けているか、短いか、読めません。`),
    checkFiles: '読んだファイル (--check の一覧)',
    saveHeading: '保存',
    zipBmp: 'すべて .zip で (BMP)',
    zipPng: 'すべて .zip で (PNG)',
    folderBmp: 'すべてフォルダーへ (BMP)',
    folderPng: 'すべてフォルダーへ (PNG)',
    zipping: '.zip を作成中…',
    zipped: (name, count) => `${name}: ${count} 枚`,
    savingFolder: 'フォルダーへ保存中…',
    savedFolder: (count) => `${count} 個のファイルをフォルダーへ保存しました。`,
    saveFailed: 'ファイルの生成に失敗しました。',
    gridHeading: 'CG',
    gridHelp: '矢印キーで CG を選び、Enter キーで原寸表示します。',
    failed: '失敗。',
    waiting: '待機中',
    kinds: ['ベタ', 'タイル', '種類 2', '合成'],
    depths: ['16色', '128色', '256色', '15ビットカラー'],
    kind: (category, kind, depth) => `${category}・${kind}・${depth}`,
    cellLabel: (number, kind, state) => `CG ${number}、${kind}${state ? `、${state}` : ''}`,
    saveBmp: 'BMP で保存',
    savePng: 'PNG で保存',
    close: '閉じる',
    footer: 'tvrcgcv は MIT ライセンスのフリーソフトウェアです。このページは libspng と zlib を含みます。',
    licences: 'ライブラリのライセンス',
  },
};

// Japanese where the browser asks for it before English (?lang=ja or
// ?lang=en overrides).
function chooseLanguage() {
  const asked = new URLSearchParams(location.search).get('lang');
  if (asked === 'ja' || asked === 'en') return asked;
  for (const language of navigator.languages || [navigator.language]) {
    if (/^ja\b/i.test(language)) return 'ja';
    if (/^en\b/i.test(language)) return 'en';
  }
  return 'en';
}
const language = chooseLanguage();
const text = TEXTS[language];
document.documentElement.lang = language;
for (const element of document.querySelectorAll('[data-text]')) {
  element.textContent = text[element.dataset.text];
}
document.title = text.title;

const $ = (id) => document.getElementById(id);
const statusLine = $('status');
const grid = $('grid');

function say(message, isError = false) {
  statusLine.textContent = message;
  statusLine.classList.toggle('error', isError);
}

// --- The worker ------------------------------------------------------------

const state = { run: 0, total: 161, done: 0, failed: 0, checked: false, startedAt: 0, shownAt: 0 };
window.tvrcgcv = state;
let catalogue = [];

// The worker's script and its compiled WebAssembly module, fetched once
// with the page: each disc gets a fresh worker made of them (a large run's
// memory is given back with its worker), and no worker of this page runs
// another version's code, whatever the server or the service worker holds
// later.
async function fetched(name) {
  const response = await fetch(name);
  if (!response.ok) throw new Error(`${name}: ${response.status} ${response.statusText}`);
  return response;
}
const code = Promise.all([
  fetched('worker.js').then((response) => response.blob()),
  fetched('worker.wasm').then((response) => response.arrayBuffer()).then(WebAssembly.compile),
]).then(([script, module]) =>
  ({ url: URL.createObjectURL(new Blob([script], { type: 'text/javascript' })), module }));

// A worker, ready when it has answered 'ready'; `asked` holds the answers
// awaited to requests other than 'open', in the order they were asked for.
function makeWorker(warm) {
  const made = { worker: null, memory: 0, asked: { view: [], file: [], zip: [], bench: [] } };
  made.ready = code.then(({ url, module }) => new Promise((resolve, reject) => {
    const worker = new Worker(url);
    made.worker = worker;
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.op === 'ready') {
        catalogue = message.catalogue;
        made.memory = message.memory;
        resolve(made);
      } else if (message.op === 'crashed' && !made.memory) {
        reject(new Error(message.text));
      } else if (made === current) {
        if (message.op in made.asked) made.asked[message.op].shift()(message);
        else onRunMessage(message);
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      if (!made.memory) reject(new Error(event.message || 'worker error'));
      else if (made === current) crashed(event.message || 'worker error');
    };
    worker.postMessage({ op: 'module', module, warm });
  }));
  return made;
}

// The worker of the disc shown (null before the first), and one made ready
// for the next disc.
let current = null;
let spare = makeWorker(true);

// Ends a worker; its unanswered requests are answered with an error.
function end(made, why) {
  if (made.worker) made.worker.terminate();
  for (const queue of Object.values(made.asked)) {
    for (const resolve of queue.splice(0)) resolve({ error: why });
  }
}

function makeSpare() {
  if (!spare) spare = makeWorker(false);
}

function crashed(why) {
  say(`${text.crashed} ${why}`, true);
  end(current, why);
  current = null;
  makeSpare();
}

function ask(op, request) {
  if (!current) return Promise.resolve({ error: 'no disc' });
  const made = current;
  return new Promise((resolve) => {
    made.asked[op].push(resolve);
    made.worker.postMessage(Object.assign({ op }, request));
  });
}

spare.ready.then(() => {
  document.body.dataset.ready = 'yes';
}, (error) => say(`${text.crashed} ${error.message}`, true));

// --- Choosing the disc from the files given --------------------------------

// entries: [{path, file}], paths relative and '/'-separated. The worker
// tells the disc among them from their bytes (a cue sheet with its files,
// or an image); if there is none, the disc is the folder that holds them
// all, which this finds.
function folderOf(entries) {
  const folders = entries.map((entry) => entry.path.split('/').slice(0, -1));
  let common = folders[0];
  for (const folder of folders) {
    let same = 0;
    while (same < common.length && same < folder.length && common[same] === folder[same]) same++;
    common = common.slice(0, same);
  }
  return common.length ? common.join('/') : '.';
}

async function start(entries) {
  if (entries.length === 0) {
    say(text.noFiles, true);
    return;
  }
  const startedAt = performance.now();
  const folder = folderOf(entries);
  // The disc before this one is given up at once: its worker ends, its
  // cells are gone, and nothing it still sends is shown.
  if (current) end(current, 'another disc was chosen');
  const made = spare || makeWorker(false);
  current = made;
  spare = null;
  state.run += 1;
  const run = state.run;
  Object.assign(state, { done: 0, failed: 0, checked: false, startedAt, shownAt: 0,
    spareWhenShown: false });
  state.disc = folder;
  try {
    await made.ready;
  } catch (error) {
    if (current === made) crashed(error.message);
    return;
  }
  if (run !== state.run) return;
  state.memory = { ready: made.memory, opened: made.memory };
  // Thumbnails as large as a cell shows them on this screen. The worker
  // starts first; the grid is laid out while it reads.
  const thumbnail = Math.ceil(160 * (window.devicePixelRatio || 1));
  made.worker.postMessage({ op: 'open', run, entries, folder, thumbnail });
  prepareGrid();
  say(text.reading(entries.length === 1 || folder === '.' ? entries[0].path : folder));
}

// --- The grid ------------------------------------------------------------

const cells = [];

// What the catalogue says of a row: its label (Shift-JIS) and the kind and
// depth of its flags.
const kinds = [];
function kindOf(row) {
  if (kinds[row] === undefined) {
    const { flags, category } = catalogue[row];
    const label = new TextDecoder('shift_jis').decode(category);
    const kind = flags & 0x1f;
    kinds[row] = text.kind(label, kind < text.kinds.length ? text.kinds[kind] : `${kind}`,
      text.depths[(flags >> 5) & 3]);
  }
  return kinds[row];
}

const pad = (row) => String(row).padStart(3, '0');

function prepareGrid() {
  grid.replaceChildren();
  cells.length = 0;
  for (let row = 0; row < state.total; row++) {
    const item = document.createElement('li');
    item.dataset.state = 'waiting';
    item.dataset.row = row;
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'cell';
    button.tabIndex = row === 0 ? 0 : -1;
    const canvas = document.createElement('canvas');
    canvas.width = 1;
    canvas.height = 1;
    canvas.setAttribute('aria-hidden', 'true');
    const label = document.createElement('span');
    label.className = 'label';
    const number = document.createElement('span');
    number.className = 'number';
    number.textContent = pad(row);
    const kind = document.createElement('span');
    kind.className = 'kind';
    kind.textContent = kindOf(row);
    label.append(number, kind);
    button.append(canvas, label);
    button.setAttribute('aria-label', text.cellLabel(row, kindOf(row), text.waiting));
    item.append(button);
    grid.append(item);
    cells.push({ item, button, canvas });
  }
  $('progress').value = 0;
  $('progress-text').textContent = `0 / ${state.total}`;
  $('progress-row').hidden = false;
  $('grid-heading').hidden = false;
  $('grid-help').hidden = false;
  $('summary').hidden = true;
  $('save').hidden = true;
}

// Pixels into a canvas: a thumbnail's ImageBitmap is taken over by the
// canvas as it is; RGBA pixels are put into its 2-D context.
function drawInto(canvas, message) {
  canvas.width = message.width;
  canvas.height = message.height;
  if (message.bitmap) {
    const renderer = canvas.getContext('bitmaprenderer');
    if (renderer) renderer.transferFromImageBitmap(message.bitmap);
    else canvas.getContext('2d').drawImage(message.bitmap, 0, 0);
    return;
  }
  const image = new ImageData(new Uint8ClampedArray(message.rgba), message.width, message.height);
  canvas.getContext('2d').putImageData(image, 0, 0);
}

function onRunMessage(message) {
  if (message.op === 'crashed') {
    crashed(message.text);
    return;
  }
  if (message.run !== state.run) { // an earlier disc's
    if (message.op === 'pictures') message.items.forEach((item) => item.bitmap && item.bitmap.close());
    return;
  }
  switch (message.op) {
    case 'opened':
      state.memory.opened = message.memory;
      state.openedAt = performance.now();
      if (message.several) {
        say(text.severalDiscs(message.several), true);
      } else if (!message.ok) {
        say(`${text.cannotOpen} ${message.lines.join(' ')}`, true);
      } else if (message.disc !== state.disc) {
        state.disc = message.disc; // an image among the files
        say(text.reading(message.disc));
      }
      if (!message.ok) {
        $('progress-row').hidden = true;
        grid.replaceChildren();
        $('grid-heading').hidden = true;
        $('grid-help').hidden = true;
      }
      break;
    case 'pictures':
      message.items.forEach(showCell);
      break;
    case 'checked':
      showCheck(message);
      break;
    case 'done':
      // The next disc's worker gets ready while this one's results are
      // looked at, once its pictures are on the screen: made sooner, it
      // slows their painting.
      if (state.shownAt || state.done < state.total) makeSpare();
      else state.spareWhenShown = true;
      break;
    default:
      break;
  }
}

// The progress bar and its text, once a frame however many pictures came.
let progressFrame = 0;
function showProgress() {
  if (progressFrame) return;
  progressFrame = requestAnimationFrame(() => {
    progressFrame = 0;
    $('progress').value = state.done;
    $('progress-text').textContent = `${state.done} / ${state.total}`;
  });
}

function showCell(message) {
  const cell = cells[message.row];
  if (message.op === 'picture') {
    drawInto(cell.canvas, message);
    cell.item.dataset.state = 'done';
    cell.button.setAttribute('aria-label', text.cellLabel(message.row, kindOf(message.row), ''));
  } else {
    state.failed += 1;
    cell.item.dataset.state = 'failed';
    cell.item.dataset.reason = message.text;
    const reason = document.createElement('span');
    reason.className = 'reason';
    reason.textContent = `${text.failed} ${message.text}`;
    cell.button.append(reason);
    cell.button.setAttribute('aria-label',
      text.cellLabel(message.row, kindOf(message.row), `${text.failed} ${message.text}`));
  }
  state.done += 1;
  showProgress();
  if (state.done === state.total) {
    const run = state.run;
    // Shown: the frame that holds the last thumbnail has been painted.
    requestAnimationFrame(() => setTimeout(() => {
      if (state.run !== run) return;
      state.shownAt = performance.now();
      if (state.spareWhenShown) makeSpare();
    }));
    const written = state.total - state.failed;
    say(state.failed === 0 ? text.finished(written, state.total)
      : text.finishedFailed(written, state.total, state.failed), state.failed !== 0);
    $('save').hidden = written === 0;
  }
}

function showCheck(message) {
  state.checked = true;
  state.checkStatus = message.status;
  const complete = message.status === 0;
  // The lines of --check: one a file, then the verdict.
  const files = message.out.slice(0, -1);
  const bad = files.filter((line) => line.startsWith('incomplete')).length;
  const verdict = $('verdict');
  verdict.textContent = text.verdict(complete, bad, files.length, message.out.at(-1) || '');
  verdict.className = complete ? 'complete' : 'incomplete';
  $('check-lines').textContent = message.out.join('\n');
  // What is wrong, in the words of the check's standard-error lines.
  $('check-problems').replaceChildren(...message.err.map((line) => {
    const item = document.createElement('li');
    item.textContent = line;
    return item;
  }));
  $('summary').hidden = false;
}

// Arrow keys, Home and End move the focus through the grid; one cell at a
// time is in the tab order.
grid.addEventListener('keydown', (event) => {
  const item = event.target.closest('li');
  if (!item) return;
  const row = Number(item.dataset.row);
  const columns = Math.max(1, Math.round(grid.clientWidth / item.offsetWidth));
  const moves = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -columns, ArrowDown: columns };
  let next = row;
  if (event.key in moves) next = row + moves[event.key];
  else if (event.key === 'Home') next = 0;
  else if (event.key === 'End') next = cells.length - 1;
  else return;
  event.preventDefault();
  next = Math.min(Math.max(next, 0), cells.length - 1);
  cells[row].button.tabIndex = -1;
  cells[next].button.tabIndex = 0;
  cells[next].button.focus();
});

grid.addEventListener('click', (event) => {
  const item = event.target.closest('li');
  if (item) view(Number(item.dataset.row));
});

// --- The viewer ------------------------------------------------------------

const viewer = $('viewer');
let viewing = -1;

async function view(row) {
  viewing = row;
  cells.forEach((cell, index) => { cell.button.tabIndex = index === row ? 0 : -1; });
  $('viewer-title').textContent = `${pad(row)}: tvrcg${pad(row)}.bmp`;
  $('viewer-kind').textContent = kindOf(row);
  const reason = cells[row].item.dataset.reason;
  $('viewer-reason').hidden = !reason;
  $('viewer-reason').textContent = reason ? `${text.failed} ${reason}` : '';
  $('viewer-views').hidden = Boolean(reason);
  $('viewer-bmp').hidden = Boolean(reason);
  $('viewer-png').hidden = Boolean(reason);
  if (!reason) {
    const message = await ask('view', { row });
    if (!message.rgba || viewing !== row) return;
    const one = $('view-1x');
    const two = $('view-2x');
    drawInto(one, message);
    drawInto(two, message);
    two.style.width = `${message.width * 2}px`;
    two.style.height = `${message.height * 2}px`;
    one.setAttribute('role', 'img');
    one.setAttribute('aria-label', `tvrcg${pad(row)}, ${message.width} × ${message.height}`);
    two.setAttribute('role', 'img');
    two.setAttribute('aria-label', `tvrcg${pad(row)}, 2x`);
  }
  if (!viewer.open) viewer.showModal();
}

viewer.addEventListener('close', () => {
  if (viewing >= 0) cells[viewing].button.focus();
});
$('viewer-close').addEventListener('click', () => viewer.close());
$('viewer-bmp').addEventListener('click', () => saveOne(viewing, 'bmp'));
$('viewer-png').addEventListener('click', () => saveOne(viewing, 'png'));

// --- Saving ----------------------------------------------------------------

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

async function saveOne(row, format) {
  const made = await ask('file', { row, format });
  if (made.error) say(`${text.saveFailed} ${made.error}`, true);
  else download(new Blob([made.bytes]), made.name);
}

async function saveZip(format) {
  say(text.zipping);
  const made = await ask('zip', { format });
  if (made.error) {
    say(`${text.saveFailed} ${made.error}`, true);
    return;
  }
  const name = `tvrcgcv-${format}.zip`;
  download(made.blob, name);
  say(made.failed.length ? `${text.saveFailed} ${made.failed.join('; ')}`
    : text.zipped(name, made.count), made.failed.length !== 0);
}

// Each file is written whole or not at all: a writable file stream puts
// its bytes in place when it is closed.
async function saveFolder(format) {
  let folder;
  try {
    folder = await window.showDirectoryPicker({ id: 'tvrcgcv', mode: 'readwrite' });
  } catch (error) {
    return; // the picker was cancelled
  }
  say(text.savingFolder);
  delete state.savedToFolder;
  let count = 0;
  try {
    for (let row = 0; row < cells.length; row++) {
      if (cells[row].item.dataset.state !== 'done') continue;
      const made = await ask('file', { row, format });
      if (made.error) throw new Error(`${pad(row)}: ${made.error}`);
      const handle = await folder.getFileHandle(made.name, { create: true });
      const stream = await handle.createWritable();
      await stream.write(made.bytes);
      await stream.close();
      count += 1;
    }
    say(text.savedFolder(count));
  } catch (error) {
    say(`${text.saveFailed} ${error.message || error}`, true);
  }
  state.savedToFolder = count;
}

for (const button of document.querySelectorAll('[data-save]')) {
  if (button.dataset.save === 'folder') {
    button.hidden = !('showDirectoryPicker' in window);
    button.addEventListener('click', () => saveFolder(button.dataset.format));
  } else {
    button.addEventListener('click', () => saveZip(button.dataset.format));
  }
}

// --- Files in: pickers and drops -------------------------------------------

function fromInput(input) {
  return Array.from(input.files, (file) => ({ path: file.webkitRelativePath || file.name, file }));
}

for (const [button, input] of [['pick-folder', 'folder-input'], ['pick-files', 'files-input']]) {
  $(button).addEventListener('click', () => $(input).click());
  $(input).addEventListener('change', () => {
    const entries = fromInput($(input));
    $(input).value = '';
    start(entries);
  });
}

// A dropped folder is read through its entries, its files keeping their
// paths below it.
function readFolder(entry) {
  return new Promise((resolve, reject) => {
    const reader = entry.createReader();
    const children = [];
    const more = () => reader.readEntries((batch) => {
      if (batch.length === 0) resolve(children);
      else {
        children.push(...batch);
        more();
      }
    }, reject);
    more();
  });
}

async function entriesOf(entry, out) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    out.push({ path: entry.fullPath.replace(/^\//, ''), file });
  } else if (entry.isDirectory) {
    for (const child of await readFolder(entry)) await entriesOf(child, out);
  }
}

const drop = $('drop');
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', async (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  const items = Array.from(event.dataTransfer.items || [])
    .map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
  const entries = [];
  if (items.length && items.every(Boolean)) {
    for (const item of items) await entriesOf(item, entries);
  } else {
    for (const file of event.dataTransfer.files) entries.push({ path: file.name, file });
  }
  start(entries);
});

// For the benchmarks: decoding every picture of the open disc from memory.
window.tvrcgcvBench = (samples, passes) => ask('bench', { samples, passes });

// --- Offline: the service worker -------------------------------------------

// The service worker keeps this version's files, so that the page opens
// and converts with no network after one visit. A newer version found on
// the server installs beside it and takes over at a later start of the
// page: a page that opens while a newer version waits hands over to it
// and reloads, before anything is chosen (and reloads too when the newer
// version takes over by itself then, as the browser may do when the last
// page of the old one closes). Without service workers (a private window,
// say) the page works as it is, online.
if ('serviceWorker' in navigator) {
  const controlled = Boolean(navigator.serviceWorker.controller);
  navigator.serviceWorker.addEventListener('controllerchange', () => {
    if (controlled && state.run === 0) window.location.reload();
  });
  navigator.serviceWorker.register('sw.js').then((registration) => {
    if (registration.waiting && controlled && state.run === 0) {
      registration.waiting.postMessage('take over');
    }
  }, () => {});
}
