// Runs the web build (build-web/) in headless Chromium or Firefox ESR, served
// from 127.0.0.1 as any static host would serve it. Shared by the web tests
// (tests/web/test_*.mjs) and the benchmarks (tools/web_*benchmark.mjs).
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import puppeteer from 'puppeteer-core';
import { FIELD_HEIGHT, FIELD_WIDTH } from '../../web/numbers.js';

// Phones and tablets to emulate (openGame's view), by name.
export { KnownDevices } from 'puppeteer-core';

export const SCREEN_WIDTH = FIELD_WIDTH;
export const SCREEN_HEIGHT = FIELD_HEIGHT;
// Where the paddles run: their columns, their colour, and their top row's
// bounds and start (as the native end-to-end tests have them).
export const PADDLE_WIDTH = 11;
export const LEFT_PADDLE = { x: 1, hue: ([r, , b]) => b - r > 100 };  // blue
export const RIGHT_PADDLE = { x: 307, hue: ([r, , b]) => r - b > 100 }; // red
export const FIELD = { fromX: LEFT_PADDLE.x + PADDLE_WIDTH, toX: RIGHT_PADDLE.x }; // the ball's columns, no paddle's
export const PADDLE_TOP_Y = 7, PADDLE_START_Y = 95, PADDLE_BOTTOM_Y = 187;
// The game reads held keys once a frame (22 ms): hold each key for longer.
export const KEY_HOLD_MS = 150;

// Debian's browsers: puppeteer-core never downloads one of its own.
const CHROMIUM = '/usr/bin/chromium';
const FIREFOX = '/usr/bin/firefox-esr'; // driven through WebDriver BiDi
const AUTOPLAY_FLAG = '--autoplay-policy=no-user-gesture-required'; // sound without a first key press
const CHROMIUM_FLAGS = [
  '--no-sandbox', // run as root here
  '--disable-gpu',
  // Nothing from the network but the page itself.
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--no-first-run',
];

// Serves `folder` on a free port of 127.0.0.1 (or on `port`): its process and URL.
export function serve(folder, port = 0) {
  const server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1',
                                   '--directory', folder, String(port)],
                       { stdio: ['ignore', 'pipe', 'ignore'] });
  return new Promise((resolve, reject) => {
    server.on('exit', (code) => reject(new Error(`http.server ended with ${code}`)));
    server.stdout.on('data', (data) => {
      const port = /port (\d+)/.exec(data.toString());
      if (port) resolve({ server, url: `http://127.0.0.1:${port[1]}/` });
    });
  });
}

// Chromium with a profile of its own, removed by close(), its sound on
// unless `autoplay` is false, with extraFlags for what a test needs beyond
// the usual ones; or Firefox, silent without a sound output, with extraPrefs.
export async function launch(which = 'chromium', { autoplay = true, extraFlags = [], extraPrefs = {} } = {}) {
  if (which === 'firefox') {
    const browser = await puppeteer.launch({ browser: 'firefox', executablePath: FIREFOX, headless: true,
                                             extraPrefsFirefox: extraPrefs });
    return { browser, close: () => browser.close() };
  }
  const profile = mkdtempSync(join(tmpdir(), 'korrin-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir: profile,
    args: [...CHROMIUM_FLAGS, ...(autoplay ? [AUTOPLAY_FLAG] : []), ...extraFlags],
  });
  return {
    browser,
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Opens the game's page; `lines` collects the game's printed lines (the
// page logs them to the console) as they come, `errors` the page's errors
// and warnings. `beforeStart` (a function, or a list of them) runs in the page
// before the game.
// `view` is a window's size or a device to emulate (puppeteer's KnownDevices).
export async function openGame(browser, url, beforeStart, view = { width: 800, height: 600 }) {
  const page = await browser.newPage();
  if (view.viewport) await page.emulate(view);
  else await page.setViewport(view);
  const lines = [];
  const errors = [];
  page.on('console', (message) => {
    if (message.type() === 'log') lines.push(message.text());
    else if (['warn', 'warning', 'error'].includes(message.type())) errors.push(message.text());
  });
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('requestfailed', (request) => errors.push(`${request.url()} failed`));
  for (const script of [beforeStart ?? []].flat()) await page.evaluateOnNewDocument(script);
  await page.goto(url);
  return { page, lines, errors };
}

// Resolves to check()'s first true result; fails after timeoutMs saying what().
export async function until(check, timeoutMs, what) {
  for (const deadline = Date.now() + timeoutMs; ; await sleep(20)) {
    const found = await check();
    if (found) return found;
    if (Date.now() > deadline) throw new Error(`${typeof what === 'function' ? what() : what} within ${timeoutMs} ms`);
  }
}

// Waits until the game has printed `line` (`count` times in all).
export async function waitForLine(lines, line, count = 1, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  while (lines.filter((l) => l === line).length < count) {
    if (Date.now() > deadline) {
      throw new Error(`no "${line}" (x${count}) within ${timeoutMs} ms; lines: ${JSON.stringify(lines)}`);
    }
    await sleep(20);
  }
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export async function press(page, key, holdMs = KEY_HOLD_MS) {
  await page.keyboard.down(key);
  await sleep(holdMs);
  await page.keyboard.up(key);
  await sleep(holdMs);
}

// The canvas's pixels as the game drew them: 320x240, RGB.
export async function canvasPixels(page) {
  const rgba = Buffer.from(await page.evaluate(() => {
    const canvas = document.getElementById('canvas');
    const scratch = document.createElement('canvas');
    scratch.width = canvas.width;
    scratch.height = canvas.height;
    const context = scratch.getContext('2d');
    context.drawImage(canvas, 0, 0);
    // A character a byte: an array of numbers takes seconds through WebDriver BiDi.
    const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 8192) text += String.fromCharCode(...data.subarray(i, i + 8192));
    return text;
  }), 'latin1');
  const rgb = Buffer.alloc(SCREEN_WIDTH * SCREEN_HEIGHT * 3);
  for (let p = 0, q = 0; p < rgba.length; p += 4, q += 3) {
    rgb[q] = rgba[p];
    rgb[q + 1] = rgba[p + 1];
    rgb[q + 2] = rgba[p + 2];
  }
  return rgb;
}

// The boxes of the elements of these ids in the window, null for one not shown.
export const boxes = (page, ...ids) => page.evaluate((ids) => ids.map((id) => {
  const element = document.getElementById(id), box = element.getBoundingClientRect();
  return element.closest('[hidden]') || box.width === 0 || box.height === 0 ? null : box.toJSON();
}), ids);

export const pixel = (rgb, x, y) => rgb.subarray((y * SCREEN_WIDTH + x) * 3, (y * SCREEN_WIDTH + x) * 3 + 3);

// The first row where a paddle's colour shows in its columns.
export function paddleTop(rgb, paddle) {
  for (let y = 0; y < SCREEN_HEIGHT; y++) {
    for (let x = paddle.x; x < paddle.x + PADDLE_WIDTH; x++) if (paddle.hue(pixel(rgb, x, y))) return y;
  }
  return null;
}

// What `read` returns in the page (a Uint8Array, or a promise of one).
export async function bytesOf(page, read, ...args) {
  const bytes = await page.evaluateHandle(read, ...args);
  // A character a byte: an array of numbers takes seconds through WebDriver BiDi.
  return Buffer.from(await bytes.evaluate((bytes) => {
    let text = '';
    for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode(...bytes.subarray(i, i + 8192));
    return text;
  }), 'latin1');
}

// The recording a link of the page offers, as the player would save it.
export const offeredMatch = (page, selector) => bytesOf(page, async (selector) => {
  const link = document.querySelector(selector);
  if (link.hidden || !link.download.endsWith('.krp')) throw new Error(`${selector} offers no recording`);
  return new Uint8Array(await (await fetch(link.href)).arrayBuffer());
}, selector);

// The native --verify of a file: its status and its lines.
export function verifyNatively(game, file) {
  const run = spawnSync(game, ['--verify', file], { encoding: 'utf8' });
  const lines = (text) => text.split('\n').filter((line) => line !== '');
  return { status: run.status, out: lines(run.stdout), err: lines(run.stderr) };
}
