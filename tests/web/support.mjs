// Shared by the web page's tests and benchmarks: the page served on
// 127.0.0.1, Debian's browsers driven by puppeteer-core, the native
// program's runs, and files that a page downloads.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const ROWS = 161;

// Command-line options: --name value pairs into an object.
export function options(defaults) {
  const result = { ...defaults };
  const argv = process.argv.slice(2);
  for (let i = 0; i < argv.length; i += 2) {
    const name = argv[i].replace(/^--/, '');
    if (!(name in defaults) || i + 1 >= argv.length) {
      throw new Error(`unknown option ${argv[i]} (known: ${Object.keys(defaults).join(', ')})`);
    }
    result[name] = argv[i + 1];
  }
  return result;
}

// Runs a program; its standard output and error as text, its exit status.
export function run(program, args, cwd) {
  const result = spawnSync(program, args, { cwd, encoding: 'latin1' });
  if (result.error) throw result.error;
  return { status: result.status, out: result.stdout, err: result.stderr };
}

export function mustRun(program, args, cwd) {
  const result = run(program, args, cwd);
  if (result.status !== 0) {
    throw new Error(`${program} ${args.join(' ')}: exit ${result.status}\n${result.err}`);
  }
  return result;
}

export const lines = (text) => text.split('\n').map((line) => line.replace(/\r$/, ''))
  .filter((line) => line !== '');

// python3 -m http.server on a free port of 127.0.0.1, serving `folder`.
export async function serve(folder) {
  const server = spawn('python3', ['-m', 'http.server', '--bind', '127.0.0.1', '0'],
    { cwd: folder, stdio: ['ignore', 'pipe', 'pipe'] });
  const port = await new Promise((resolve, reject) => {
    let seen = '';
    const timer = setTimeout(() => reject(new Error(`no server: ${seen}`)), 10000);
    server.stdout.on('data', (data) => {
      seen += data;
      const match = /port (\d+)/.exec(seen);
      if (match) {
        clearTimeout(timer);
        resolve(Number(match[1]));
      }
    });
    server.on('exit', (code) => reject(new Error(`the server ended (${code}): ${seen}`)));
  });
  server.stdout.resume();
  server.stderr.resume();
  return { url: `http://127.0.0.1:${port}/`, stop: () => server.kill() };
}

// Debian's chromium or firefox-esr, headless, downloads going to
// `downloads`. Extra Chromium switches through `args`.
export function launch(browser, downloads, args = []) {
  const downloadBehavior = { policy: 'allow', downloadPath: downloads };
  if (browser === 'firefox') {
    // Firefox is told where downloads go by its preferences.
    return puppeteer.launch({ browser: 'firefox', executablePath: '/usr/bin/firefox-esr',
      headless: true, downloadBehavior, args, extraPrefsFirefox: {
        'browser.download.dir': downloads,
        'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
      } });
  }
  if (browser === 'chromium') {
    // --no-sandbox: the tests may run as root.
    return puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true,
      downloadBehavior, args: ['--no-sandbox', ...args] });
  }
  throw new Error(`unknown browser ${browser}`);
}

// What goes wrong in a page, as the console and the network would show it:
// uncaught errors, console errors, requests that failed or were answered
// with an error status.
export function watch(page) {
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push(`console: ${message.text()}`);
  });
  page.on('requestfailed', (request) => {
    // A download hands its blob: address over to the browser's downloads.
    if (!request.url().startsWith('blob:')) {
      problems.push(`failed: ${request.url()} (${request.failure()?.errorText})`);
    }
  });
  page.on('response', (response) => {
    if (response.status() >= 400) problems.push(`${response.status()}: ${response.url()}`);
  });
  return problems;
}

// Opens the page and waits until its worker is ready.
export async function openPage(browser, url, { languages } = {}) {
  const page = await browser.newPage();
  const problems = watch(page);
  if (languages) {
    await page.evaluateOnNewDocument((list) => {
      Object.defineProperty(navigator, 'languages', { get: () => list });
      Object.defineProperty(navigator, 'language', { get: () => list[0] });
    }, languages);
  }
  await page.goto(url);
  await page.waitForSelector('body[data-ready="yes"]', { timeout: 30000 });
  page.problems = problems;
  return page;
}

// Gives the page files through one of its pickers: a folder (Chromium
// takes the folder itself) or files.
export async function give(page, files, { folder = false } = {}) {
  const input = await page.$(folder ? '#folder-input' : '#files-input');
  await input.uploadFile(...files);
}

// Waits until the run has shown every picture and checked the disc; its
// state.
// A disc that cannot be opened fails at once, with the page's words.
export async function finished(page, timeout = 60000) {
  await page.waitForFunction(() => (window.tvrcgcv.shownAt > 0 && window.tvrcgcv.checked) ||
    (window.tvrcgcv.done === 0 && document.getElementById('status').classList.contains('error')),
  { timeout, polling: 20 });
  const state = await page.evaluate(() => ({ ...window.tvrcgcv }));
  if (!state.shownAt) {
    throw new Error(`the page says: ${await page.$eval('#status', (p) => p.textContent)}`);
  }
  return state;
}

// Waits for a file that the page downloads into `folder`, complete.
export async function downloaded(folder, name, timeout = 30000) {
  const file = path.join(folder, name);
  const end = Date.now() + timeout;
  let size = -1;
  while (Date.now() < end) {
    const busy = fs.readdirSync(folder).some((entry) => /\.(crdownload|part)$/.test(entry));
    if (!busy && fs.existsSync(file)) {
      const now = fs.statSync(file).size;
      if (now === size && now > 0) return file;
      size = now;
    }
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  throw new Error(`${name} was not downloaded into ${folder}`);
}

export function files(folder) {
  return fs.readdirSync(folder).sort().map((name) => path.join(folder, name));
}
