// Runs the web build (build-web/) in headless Chromium or Firefox ESR, served
// from 127.0.0.1 as any static host would serve it. Shared by the web test
// (tests/web/test_web.mjs) and the benchmark (tools/web_benchmark.mjs).
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import puppeteer from 'puppeteer-core';

export const SCREEN_WIDTH = 320;
export const SCREEN_HEIGHT = 240;
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

// Serves `folder` on a free port of 127.0.0.1; resolves to the server's
// process and its URL.
export function serve(folder) {
  const server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1',
                                   '--directory', folder, '0'],
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
// and warnings. `beforeStart` (a function) runs in the page before the game.
export async function openGame(browser, url, beforeStart, viewport = { width: 800, height: 600 }) {
  const page = await browser.newPage();
  await page.setViewport(viewport);
  const lines = [];
  const errors = [];
  page.on('console', (message) => {
    if (message.type() === 'log') lines.push(message.text());
    else if (['warn', 'warning', 'error'].includes(message.type())) errors.push(message.text());
  });
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('requestfailed', (request) => errors.push(`${request.url()} failed`));
  if (beforeStart) await page.evaluateOnNewDocument(beforeStart);
  await page.goto(url);
  return { page, lines, errors };
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
