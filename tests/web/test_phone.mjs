// The web build (build-web/, made by tools/web.sh) on phones and tablets, in
// headless Chromium's device emulation, played by touch alone through the
// DevTools protocol's touch events (several fingers at once):
//   node tests/web/test_phone.mjs
// A phone visits once, then plays a whole match offline, turned both ways,
// and takes a new build on its next visit online; a tablet plays a match for
// two, a finger on each half, then one alone; a phone joins an online match.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { appendFileSync, cpSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import * as web from './browser.mjs';
import * as online from './online.mjs';

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const SHOWING_MENU = 'Showing menu now', EXITING_MENU = 'Exiting menu.';
const [PHONE, PHONE_TURNED, TABLET, TABLET_TURNED] =
  ['Pixel 5', 'Pixel 5 landscape', 'iPad', 'iPad landscape'].map((name) => web.KnownDevices[name]);
const ONE_PLAYER = { x: 160, y: 85 }, TWO_PLAYERS = { x: 160, y: 118 }; // on the menu's bands
const LEAST_SHARE = 0.9; // of the largest picture the screen holds
const LAYOUT_UNIT_PX = 1 / 64; // a layout's rounding
const SETTLE_MS = 300; // for a tap or a resize to take effect
// A paddle crosses the field in 0.5 s, a page starts in 2 s: on two cores
// running twenty other processes, far longer.
const SLOW_MS = 30000;

// The fingers on a page, in the game's pixels: put(...points) holds exactly
// those fingers (ids by their place), lift() takes them all off.
async function fingersOn(page) {
  const cdp = await page.target().createCDPSession();
  let down = 0;
  const send = async (type, points) => {
    const box = await page.$eval('#canvas', (canvas) => canvas.getBoundingClientRect().toJSON());
    const scale = box.width / web.SCREEN_WIDTH;
    const touchPoints = points.map(({ x, y }, id) => ({ x: box.left + (x + 0.5) * scale, y: box.top + (y + 0.5) * scale, id }));
    await cdp.send('Input.dispatchTouchEvent', { type, touchPoints });
    down = points.length;
  };
  const fingers = {
    put: (...points) => send(points.length > down ? 'touchStart' : 'touchMove', points),
    lift: () => send('touchEnd', []),
    tap: (point) => fingers.put(point).then(() => web.sleep(web.KEY_HOLD_MS)).then(fingers.lift),
  };
  return fingers;
}

const paddles = (page) => web.canvasPixels(page).then((rgb) => [web.LEFT_PADDLE, web.RIGHT_PADDLE].map((paddle) => web.paddleTop(rgb, paddle)));
// From the paddles at the start of a match: where their colours begin when
// their rectangles' tops are at `from` to `to` (the colour begins a little
// below), for waitForPaddles.
async function paddleRows(page) {
  const starts = await paddles(page);
  return (from, to = from) => starts.map((start) => [from, to].map((y) => start + y - web.PADDLE_START_Y));
}
// Waits until the paddles' rows are in [from, to] (null: anywhere), and
// checks that they stay there.
async function waitForPaddles(page, expected, what) {
  let seen = await paddles(page);
  const matches = () => expected.every((row, i) => !row || (row[0] <= seen[i] && seen[i] <= row[1]));
  for (const deadline = Date.now() + SLOW_MS; Date.now() < deadline && !matches(); await web.sleep(50)) seen = await paddles(page);
  await web.sleep(SETTLE_MS);
  seen = await paddles(page);
  assert.ok(matches(), `${what}: the paddles at ${seen}, not ${JSON.stringify(expected)}`);
}

// The picture at least LEAST_SHARE of the largest that fits; nothing scrolled or zoomed.
async function expectFillsTheScreen(page, device) {
  await page.emulate(device);
  await web.sleep(SETTLE_MS);
  const seen = await page.evaluate(() => [document.getElementById('canvas').getBoundingClientRect().width,
    320 * Math.min(innerWidth / 320, innerHeight / 240), scrollX + scrollY, visualViewport.scale]);
  assert.ok(seen[0] >= LEAST_SHARE * seen[1] - LAYOUT_UNIT_PX && seen[2] === 0 && seen[3] === 1,
            `${device.viewport.width} wide: [width, fits, scrolled, zoom] ${seen}`);
}
const tapControl = (page, control) => page.tap(`#touch-${control}`);
const gameState = (page, state) => page.waitForFunction((state) => document.documentElement.dataset.game === state, { timeout: SLOW_MS }, state);

const buildCache = (folder) => 'korrin-' + /"version": "(\w+)"/.exec(readFileSync(join(folder, 'service-worker.js'), 'utf8'))[1];
const servedTouchScript = (page) => page.evaluate(() => fetch('touch.js').then((response) => response.text()));

test('a phone: visited once, a whole match offline by touch, turned both ways; a new build on the next visit', async (t) => {
  // The game in a folder of the site, so that a page of the site's root,
  // which no worker serves, can read the caches.
  const site = mkdtempSync(join(tmpdir(), 'korrin-offline-')), folder = join(site, 'game');
  cpSync(join(ROOT, 'build-web'), folder, { recursive: true });
  let { server, url } = await web.serve(site);
  const game = url + 'game/';
  const chrome = await web.launch();
  t.after(() => chrome.close().then(() => server.kill()).then(() => rmSync(site, { recursive: true })));
  // Offline: the server gone (the page's emulation leaves the worker online), and the page told so.
  const offline = async (page, lines, count) => {
    server.kill();
    await page.setOfflineMode(true);
    await page.reload();
    await web.waitForLine(lines, SHOWING_MENU, count, SLOW_MS);
  };
  const { page, lines, errors } = await web.openGame(chrome.browser, game, undefined, PHONE);
  await web.waitForLine(lines, SHOWING_MENU, 1, SLOW_MS);
  await page.evaluate(() => navigator.serviceWorker.ready);
  await offline(page, lines, 2);
  assert.equal(await page.$eval('#online-status', (status) => status.textContent), 'Online play needs the network.');
  assert.ok(await page.$eval('#online-play', (button) => button.disabled) && await page.$eval('#touch-hints', (hints) => hints.checkVisibility()));
  const finger = await fingersOn(page);
  // A swipe and a double tap beside the picture scroll and zoom nothing; a tap on 1 PLAYER plays.
  await finger.put({ x: 160, y: 300 });
  await finger.put({ x: 160, y: 250 });
  for (const point of [{ x: 160, y: 300 }, { x: 160, y: 300 }, ONE_PLAYER]) await finger.tap(point);
  await expectFillsTheScreen(page, PHONE);
  await web.waitForLine(lines, EXITING_MENU);

  // The paddle follows the finger to its bounds, and rests with its centre
  // (25 rows below its top) within the dead zone (4 rows) of the finger.
  const rows = await paddleRows(page);
  for (const [y, from, to] of [[0, web.PADDLE_TOP_Y], [239, web.PADDLE_BOTTOM_Y], [120, 91, 99]]) {
    await finger.put({ x: 200, y });
    await waitForPaddles(page, [rows(from, to)[0], null], `a finger at row ${y}`);
  }
  // Turned: the picture fills the other way; on hold nothing moves, then it resumes.
  await expectFillsTheScreen(page, PHONE_TURNED);
  await tapControl(page, 'hold');
  await gameState(page, 'hold');
  const held = await web.canvasPixels(page);
  await web.sleep(SETTLE_MS);
  assert.ok(held.equals(await web.canvasPixels(page)), 'the match did not hold');
  await tapControl(page, 'hold');
  await gameState(page, 'match');
  // The computer wins, and the menu is back.
  await finger.lift();
  await web.waitForLine(lines, SHOWING_MENU, 3, 4 * SLOW_MS);

  // A new build on the server: the next visit online gets it, and once that
  // page is closed, the worker caches it alone; offline, it is what plays.
  const marker = `// build ${Date.now()}`;
  appendFileSync(join(folder, 'touch.js'), marker);
  execFileSync('/usr/bin/python3', [join(ROOT, 'tools', 'offline_files.py'), folder]);
  ({ server } = await web.serve(site, new URL(url).port));
  await page.setOfflineMode(false);
  await page.reload();
  await web.waitForLine(lines, SHOWING_MENU, 4, SLOW_MS);
  assert.ok((await servedTouchScript(page)).endsWith(marker), 'the online visit got the old build');
  await page.close();
  const root = await chrome.browser.newPage();
  await root.goto(url);
  await root.waitForFunction((cache) => caches.keys().then((names) => names.join() === cache),
                             { timeout: SLOW_MS }, buildCache(folder));
  const again = await web.openGame(chrome.browser, game, undefined, PHONE_TURNED);
  await web.waitForLine(again.lines, SHOWING_MENU, 1, SLOW_MS);
  await offline(again.page, again.lines, 2);
  assert.ok((await servedTouchScript(again.page)).endsWith(marker), 'offline, the old build came back');
  // Offline, what a page loaded online still asks for fails: its worker's
  // update, the manifest's icons for the browser.
  const notOffline = (error) => !/ERR_INTERNET_DISCONNECTED|ERR_CONNECTION_REFUSED|service-worker|icon-\d+\.png/.test(error);
  assert.deepEqual([...errors, ...again.errors].filter(notOffline), []);
});

test('a tablet: two players, a finger each on their half, then one alone; leave by touch', async (t) => {
  const { server, url } = await web.serve(join(ROOT, 'build-web'));
  const chrome = await web.launch();
  t.after(() => chrome.close().then(() => server.kill()));
  const { page, lines, errors } = await web.openGame(chrome.browser, url, undefined, TABLET);
  await web.waitForLine(lines, SHOWING_MENU, 1, SLOW_MS);
  await expectFillsTheScreen(page, TABLET);
  await expectFillsTheScreen(page, TABLET_TURNED);
  const fingers = await fingersOn(page);
  await fingers.tap(TWO_PLAYERS);
  await web.waitForLine(lines, EXITING_MENU);
  // A paddle moves only by its own finger, both at once; columns 159 and 160 part the halves.
  const rows = await paddleRows(page), top = rows(web.PADDLE_TOP_Y), bottom = rows(web.PADDLE_BOTTOM_Y);
  await fingers.put({ x: 40, y: 0 });
  await waitForPaddles(page, [top[0], rows(web.PADDLE_START_Y)[1]], 'the left finger');
  await fingers.put({ x: 40, y: 0 }, { x: 280, y: 239 });
  await waitForPaddles(page, [top[0], bottom[1]], 'both fingers');
  await fingers.put({ x: 159, y: 239 }, { x: 160, y: 0 });
  await waitForPaddles(page, [bottom[0], top[1]], 'both fingers by the middle');
  await fingers.lift();
  await tapControl(page, 'leave');
  // Alone, a finger on the right half steers the left paddle.
  await web.waitForLine(lines, SHOWING_MENU, 2);
  await fingers.tap(ONE_PLAYER);
  await web.waitForLine(lines, EXITING_MENU, 2);
  await fingers.put({ x: 280, y: 0 });
  await waitForPaddles(page, [top[0], null], 'one player: the right half');
  await fingers.lift();
  await tapControl(page, 'leave');
  await web.waitForLine(lines, SHOWING_MENU, 3);
  assert.deepEqual(errors, []);
});

test('a phone joins an online match from the link and plays by touch', async () => {
  const { url, signal } = await online.start();
  try {
    const { host, guest } = await online.pair(url, `${signal}&${online.noIce}`, 'chromium', PHONE_TURNED);
    const finger = await fingersOn(guest.page);
    // The phone plays the right paddle; its finger steers it on both pages.
    const bottom = (await paddleRows(guest.page))(web.PADDLE_BOTTOM_Y);
    await finger.put({ x: 40, y: 239 });
    for (const side of [guest, host]) await waitForPaddles(side.page, [null, bottom[1]], 'the phone\'s finger');
    // Nothing of the page covers the picture, either way round.
    for (const device of [PHONE_TURNED, PHONE]) {
      await guest.page.emulate(device);
      await web.sleep(SETTLE_MS);
      assert.ok(await guest.page.evaluate(() => {
        const [picture, line] = ['canvas', 'online-status'].map((id) => document.getElementById(id).getBoundingClientRect());
        return line.width === 0 || line.bottom <= picture.top || line.top >= picture.bottom ||
               line.right <= picture.left || line.left >= picture.right;
      }), `the online line covers the picture (${device.viewport.width} wide)`);
    }
    await tapControl(guest.page, 'leave');
    await web.waitForLine(host.lines, 'The other player left the match.', 1, SLOW_MS);
    await online.waitFor(/^Final score: /, guest.lines, SLOW_MS);
  } finally {
    await online.stopAll();
  }
});
