// The web build (build-web/, made by tools/web.sh) on phones and tablets, in
// headless Chromium's device emulation, played by touch alone through the
// DevTools protocol's touch events (several fingers at once):
//   node tests/web/test_phone.mjs
// A phone plays a whole match alone, turned both ways; a tablet plays a
// match for two, one finger on each half, then one alone; a phone plays
// offline and takes a new build; a phone joins a desktop page's online match.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { appendFileSync, cpSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { KnownDevices } from 'puppeteer-core';
import * as web from './browser.mjs';
import * as online from './online.mjs';

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const SHOWING_MENU = 'Showing menu now';
const EXITING_MENU = 'Exiting menu.';
const { LEFT_PADDLE, RIGHT_PADDLE, FIELD, PADDLE_TOP_Y, PADDLE_START_Y, PADDLE_BOTTOM_Y, paddleTop } = web;
// Entries of the menu: a point on each band, in the game's pixels.
const ONE_PLAYER = { x: 160, y: 85 }, TWO_PLAYERS = { x: 160, y: 118 };
const PADDLE_HALF_HEIGHT = 25;
const TOUCH_DEAD_ZONE_ROWS = 4; // src/platform/input.h
// The picture's least share of the screen's limiting side.
const LEAST_SHARE = 0.9;
// For a tap or a resize to take effect.
const SETTLE_MS = 300;
// Long enough for a paddle to cross the field (11 px per 60 ms, 0.5 s) on
// a machine whose two cores run twenty other processes; a page's start there.
const PADDLE_CROSSING_MS = 10000;
const PAGE_START_MS = 30000;
// A layout rounds sizes to 1/64 of a CSS pixel.
const LAYOUT_UNIT_PX = 1 / 64;
// The computer wins a match alone in 22 s on average; a player whose paddle
// stays near the top loses sooner. Then the game-over picture, 5 s.
const MATCH_LOST_MS = 90000;

// The fingers on a page, placed in the game's pixels (the canvas's place
// and scale read at each touch): put(points) holds exactly those fingers
// (ids by their place in the list), lift() takes every one off.
async function fingersOn(page) {
  const cdp = await page.target().createCDPSession();
  const onScreen = async (points) => {
    const box = await page.$eval('#canvas', (canvas) => {
      const { left, top, width } = canvas.getBoundingClientRect();
      return { left, top, scale: width / 320 };
    });
    return points.map(({ x, y }, id) => ({ x: box.left + (x + 0.5) * box.scale, y: box.top + (y + 0.5) * box.scale, id }));
  };
  let down = 0;
  return {
    async put(...points) {
      const type = points.length > down ? 'touchStart' : 'touchMove';
      await cdp.send('Input.dispatchTouchEvent', { type, touchPoints: await onScreen(points) });
      down = points.length;
    },
    async lift() {
      await cdp.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
      down = 0;
    },
    async tap(point) {
      await this.put(point);
      await web.sleep(web.KEY_HOLD_MS);
      await this.lift();
    },
  };
}

// The rows where the paddles' colours begin, and where they begin for a
// paddle at its start, top and bottom (from the paddles seen at the start:
// a paddle's colour begins below its rectangle's top).
const paddles = async (page) => {
  const rgb = await web.canvasPixels(page);
  return [paddleTop(rgb, LEFT_PADDLE), paddleTop(rgb, RIGHT_PADDLE)];
};
async function paddleRows(page) {
  const starts = await paddles(page);
  const at = (y) => starts.map((start) => start + y - PADDLE_START_Y);
  return { start: at(PADDLE_START_Y), top: at(PADDLE_TOP_Y), bottom: at(PADDLE_BOTTOM_Y), at };
}

// Waits until both paddles' rows are `expected` (null: any).
async function waitForPaddles(page, expected, what) {
  let seen;
  for (const deadline = Date.now() + PADDLE_CROSSING_MS; Date.now() < deadline; await web.sleep(50)) {
    seen = await paddles(page);
    if (expected.every((row, i) => row === null || row === seen[i])) return;
  }
  assert.fail(`${what}: the paddles at ${seen}, not ${expected}`);
}

// The picture's width against the largest that fits the screen, and
// whether anything scrolled or zoomed.
const measure = (page) => page.evaluate(() => ({
  width: document.getElementById('canvas').getBoundingClientRect().width,
  fits: 320 * Math.min(innerWidth / 320, innerHeight / 240),
  scrolled: scrollX + scrollY + document.scrollingElement.scrollTop,
  zoom: visualViewport.scale,
}));

async function expectFillsTheScreen(page, what) {
  await web.sleep(SETTLE_MS);
  const { width, fits, scrolled, zoom } = await measure(page);
  assert.ok(width >= LEAST_SHARE * fits - LAYOUT_UNIT_PX, `${what}: the picture is ${width} px wide of ${fits}`);
  assert.equal(scrolled, 0, `${what}: the page scrolled`);
  assert.equal(zoom, 1, `${what}: the page zoomed`);
}

const tapControl = (page, control) => page.tap(`#touch-${control}`);
// What the game told its page it shows (web/page.js).
const gameState = (page, state) => page.waitForFunction((state) => document.documentElement.dataset.game === state,
                                                        { timeout: PADDLE_CROSSING_MS }, state);

// Waits until the field (the ball's columns) differs from `before`.
async function waitForChange(page, before, what) {
  for (const deadline = Date.now() + 5000; Date.now() < deadline; await web.sleep(50)) {
    const now = await web.canvasPixels(page);
    for (let y = 0; y < web.SCREEN_HEIGHT; y++) {
      for (let x = FIELD.fromX; x < FIELD.toX; x++) {
        if (!web.pixel(now, x, y).equals(web.pixel(before, x, y))) return;
      }
    }
  }
  assert.fail(what);
}

test('a phone: a whole match alone by touch, turned both ways, paused and resumed', async (t) => {
  const { server, url } = await web.serve(join(ROOT, 'build-web'));
  const chrome = await web.launch();
  t.after(() => chrome.close().then(() => server.kill()));
  const { page, lines, errors } = await web.openGame(chrome.browser, url, undefined, KnownDevices['Pixel 5']);
  await web.waitForLine(lines, SHOWING_MENU, 1, PAGE_START_MS);
  const finger = await fingersOn(page);
  // A swipe and a double tap beside the picture move and zoom nothing.
  await finger.put({ x: 160, y: 300 });
  await finger.put({ x: 160, y: 250 });
  await finger.lift();
  await finger.tap({ x: 160, y: 300 });
  await finger.tap({ x: 160, y: 300 });
  await expectFillsTheScreen(page, 'portrait');
  assert.ok(await page.$eval('#touch-hints', (hints) => hints.checkVisibility()), 'no touch hints');

  await finger.tap(ONE_PLAYER);
  await web.waitForLine(lines, EXITING_MENU);
  // The paddle follows the finger: to its bounds, and to rest beside it.
  const rows = await paddleRows(page);
  for (const [y, bound] of [[0, rows.top[0]], [239, rows.bottom[0]]]) {
    await finger.put({ x: 200, y });
    await waitForPaddles(page, [bound, null], `a finger at row ${y}`);
  }
  await finger.put({ x: 200, y: 120 });
  const besideTheFinger = rows.at(120 - PADDLE_HALF_HEIGHT)[0];
  let resting;
  for (const deadline = Date.now() + PADDLE_CROSSING_MS; Date.now() < deadline; await web.sleep(50)) {
    resting = (await paddles(page))[0];
    if (Math.abs(resting - besideTheFinger) <= TOUCH_DEAD_ZONE_ROWS) break;
  }
  assert.ok(Math.abs(resting - besideTheFinger) <= TOUCH_DEAD_ZONE_ROWS, `the paddle at ${resting}, the finger at 120`);
  await web.sleep(SETTLE_MS);
  assert.equal((await paddles(page))[0], resting, 'the paddle swings about the finger');

  // Turned: the picture fills the other way. Hold once the ball moves:
  // nothing moves; resume.
  await page.emulate(KnownDevices['Pixel 5 landscape']);
  await expectFillsTheScreen(page, 'landscape');
  await waitForChange(page, await web.canvasPixels(page), 'the ball is not served');
  await tapControl(page, 'hold');
  await gameState(page, 'hold');
  const held = await web.canvasPixels(page);
  await web.sleep(SETTLE_MS);
  assert.ok(held.equals(await web.canvasPixels(page)), 'the match did not hold');
  await tapControl(page, 'hold');
  await gameState(page, 'match');
  await waitForChange(page, held, 'the match did not resume');

  // Near the top the player loses the match; the finger still down when the
  // menu is back, on 1 PLAYER, chooses nothing when lifted.
  await finger.put(ONE_PLAYER);
  await web.waitForLine(lines, SHOWING_MENU, 2, MATCH_LOST_MS);
  await finger.lift();
  await web.sleep(SETTLE_MS);
  assert.deepEqual(lines.slice(1), [SHOWING_MENU, EXITING_MENU, SHOWING_MENU]);
  await expectFillsTheScreen(page, 'landscape, after the match');
  assert.deepEqual(errors, []);
});

test('a tablet: two players, a finger each on their half, then one alone; leave by touch', async (t) => {
  const { server, url } = await web.serve(join(ROOT, 'build-web'));
  const chrome = await web.launch();
  t.after(() => chrome.close().then(() => server.kill()));
  const { page, lines, errors } = await web.openGame(chrome.browser, url, undefined, KnownDevices['iPad']);
  await web.waitForLine(lines, SHOWING_MENU, 1, PAGE_START_MS);
  await expectFillsTheScreen(page, 'portrait');
  await page.emulate(KnownDevices['iPad landscape']);
  await expectFillsTheScreen(page, 'landscape');
  const fingers = await fingersOn(page);

  // A paddle moves only by its own finger, and both at once.
  await fingers.tap(TWO_PLAYERS);
  await web.waitForLine(lines, EXITING_MENU);
  const rows = await paddleRows(page);
  const steps = [
    [[{ x: 40, y: 0 }], [rows.top[0], rows.start[1]]],
    [[{ x: 40, y: 0 }, { x: 280, y: 239 }], [rows.top[0], rows.bottom[1]]],
    [[{ x: 159, y: 239 }, { x: 160, y: 0 }], [rows.bottom[0], rows.top[1]]],
  ];
  for (const [points, expected] of steps) {
    await fingers.put(...points);
    await waitForPaddles(page, expected, JSON.stringify(points));
    await web.sleep(SETTLE_MS);
    assert.deepEqual(await paddles(page), expected, `${JSON.stringify(points)}: a paddle moved on`);
  }
  await fingers.lift();
  await tapControl(page, 'leave');
  await web.waitForLine(lines, SHOWING_MENU, 2);

  // Alone, a finger on the right half steers the left paddle.
  await fingers.tap(ONE_PLAYER);
  await web.waitForLine(lines, EXITING_MENU, 2);
  await fingers.put({ x: 280, y: 0 });
  await waitForPaddles(page, [rows.top[0], null], 'one player: the right half');
  await fingers.lift();
  await tapControl(page, 'leave');
  await web.waitForLine(lines, SHOWING_MENU, 3);
  assert.deepEqual(errors, []);
});

// The worker of the build whose cache is `cache`, once it has taken over.
// A worker on its way out answers nothing: each is asked for a while only.
async function waitForActiveWorker(browser, cache) {
  const within = (promise) => Promise.race([promise.catch(() => null), web.sleep(SETTLE_MS).then(() => null)]);
  for (const deadline = Date.now() + PAGE_START_MS; Date.now() < deadline; await web.sleep(100)) {
    for (const target of browser.targets().filter((target) => target.type() === 'service_worker')) {
      const worker = await within(target.worker());
      const state = worker && await within(worker.evaluate(() => [CACHE, self.serviceWorker.state]));
      if (state && state[0] === cache && state[1] === 'activated') return;
    }
  }
  assert.fail(`no worker of ${cache} took over`);
}
const buildCache = (folder) => 'korrin-' + /"version": "([0-9a-f]+)"/.exec(readFileSync(join(folder, 'service-worker.js'), 'utf8'))[1];
const servedTouchScript = (page) => page.evaluate(() => fetch('touch.js').then((response) => response.text()));

test('a phone offline: visited, then played without the network; a new build replaces the old', async (t) => {
  const folder = mkdtempSync(join(tmpdir(), 'korrin-offline-'));
  cpSync(join(ROOT, 'build-web'), folder, { recursive: true });
  let { server, url } = await web.serve(folder);
  const port = new URL(url).port;
  const chrome = await web.launch();
  t.after(async () => {
    await chrome.close();
    server.kill();
    rmSync(folder, { recursive: true, force: true });
  });
  // Offline: the server gone, and the page told so (the emulation alone
  // leaves the worker's own requests on the network).
  const goOffline = async (page) => {
    server.kill();
    await page.setOfflineMode(true);
  };
  const phone = KnownDevices['Pixel 5 landscape'];
  const first = await web.openGame(chrome.browser, url, undefined, phone);
  await web.waitForLine(first.lines, SHOWING_MENU, 1, PAGE_START_MS);
  await waitForActiveWorker(chrome.browser, buildCache(folder));

  // Offline, the page comes from the cache, plays, and says online play needs the network.
  await goOffline(first.page);
  await first.page.reload();
  await web.waitForLine(first.lines, SHOWING_MENU, 2, PAGE_START_MS);
  assert.equal(await first.page.$eval('#online-status', (status) => status.textContent), 'Online play needs the network.');
  assert.ok(await first.page.$eval('#online-play', (button) => button.disabled), 'Play online is offered offline');
  const finger = await fingersOn(first.page);
  await finger.tap(ONE_PLAYER);
  await web.waitForLine(first.lines, EXITING_MENU);
  const rows = await paddleRows(first.page);
  await finger.put({ x: 100, y: 0 });
  await waitForPaddles(first.page, [rows.top[0], null], 'offline, the match does not play');
  await finger.lift();

  // A new build on the server: the next visit online takes its files, and
  // once that page is closed, the cache holds the new build's alone.
  const marker = `// build ${Date.now()}`;
  appendFileSync(join(folder, 'touch.js'), marker);
  execFileSync('/usr/bin/python3', [join(ROOT, 'tools', 'offline_files.py'), folder]);
  ({ server } = await web.serve(folder, port));
  await first.page.setOfflineMode(false);
  await first.page.reload();
  await web.waitForLine(first.lines, SHOWING_MENU, 3, PAGE_START_MS);
  assert.ok((await servedTouchScript(first.page)).endsWith(marker), 'the online visit got the old build');
  await first.page.close();
  await waitForActiveWorker(chrome.browser, buildCache(folder));
  const second = await web.openGame(chrome.browser, url, undefined, phone);
  await web.waitForLine(second.lines, SHOWING_MENU, 1, PAGE_START_MS);
  await goOffline(second.page);
  await second.page.reload();
  await web.waitForLine(second.lines, SHOWING_MENU, 2, PAGE_START_MS);
  assert.ok((await servedTouchScript(second.page)).endsWith(marker), 'offline, the old build came back');
  assert.deepEqual(await second.page.evaluate(() => caches.keys()), [buildCache(folder)]);
  const offlineOnly = (error) => !/ERR_INTERNET_DISCONNECTED|ERR_CONNECTION_REFUSED|service-worker\.js/.test(error);
  assert.deepEqual([...first.errors, ...second.errors].filter(offlineOnly), []);
});

test('a phone joins an online match from the link and plays by touch', async () => {
  const { url, signal } = await online.start();
  try {
    const phone = KnownDevices['Pixel 5 landscape'];
    const { host, guest } = await online.pair(url, `${signal}&${online.noIce}`, 4, phone);
    const finger = await fingersOn(guest.page);
    // The phone plays the right paddle; its finger steers it on both pages.
    const rows = await paddleRows(guest.page);
    await finger.put({ x: 40, y: 239 });
    for (const side of [guest, host]) await waitForPaddles(side.page, [null, rows.bottom[1]], 'the phone\'s finger');
    // Nothing of the page covers the picture, either way round.
    for (const device of [phone, KnownDevices['Pixel 5']]) {
      await guest.page.emulate(device);
      await web.sleep(SETTLE_MS);
      assert.ok(await guest.page.evaluate(() => {
        const picture = document.getElementById('canvas').getBoundingClientRect();
        const status = document.getElementById('online-status').getBoundingClientRect();
        return status.bottom <= picture.top || status.top >= picture.bottom ||
               status.right <= picture.left || status.left >= picture.right || status.width === 0;
      }), `the online line covers the picture (${device.viewport.width} wide)`);
    }
    await finger.lift();
    await tapControl(guest.page, 'leave');
    await web.waitForLine(host.lines, 'The other player left the match.', 1, 10000);
    await online.waitFor(/^Final score: /, guest.lines, 10000);
  } finally {
    await online.stopAll();
  }
});
